#include "save/pim/PimDates.h"

#include "scanner/DateConverter.h"

#include <QDate>
#include <QDateTime>
#include <QLocale>
#include <QStringList>

namespace {

int number(const QString &piece, bool *ok)
{
    bool good = false;
    const int v = piece.toInt(&good, 10);
    *ok = *ok && good;
    return v;
}

bool hasRealDate(const QString &text)
{
    const QStringList date = text.section(QLatin1Char('T'), 0, 0).trimmed().split(QLatin1Char('-'));
    if (date.size() != 3)
        return false;
    bool ok = true;
    const int y = number(date.at(0), &ok), m = number(date.at(1), &ok), d = number(date.at(2), &ok);
    return ok && QDate(y, m, d).isValid();
}

QByteArray converted(const QString &text, DateForm form)
{
    return hasRealDate(text) ? ConvertArchiveDate(text.trimmed(), form) : QByteArray();
}

// The day a stored midnight of an unknown zone stands for; empty for no real date.
QDate dateOnlyDay(const QString &text)
{
    if (!hasRealDate(text))
        return QDate();
    const QString t = text.trimmed();
    QDateTime at(QDate::fromString(t.left(10), QStringLiteral("yyyy-MM-dd")), QTime(0, 0), Qt::UTC);
    const QTime clock = QTime::fromString(t.mid(11, 8), QStringLiteral("HH:mm:ss"));
    if (t.size() >= 19 && clock.isValid())
        at.setTime(clock);
    const QDate day = at.addSecs(12 * 3600).date();
    return day.year() <= 9999 ? day : at.date();
}

}  // namespace

QByteArray timeconvertert2(const QString &text)
{
    return converted(text, DateForm::Packed);
}

QByteArray timeconverterDUetask2(const QString &text)
{
    return converted(text, DateForm::Packed);
}

QByteArray ArchiveDateUtc(const QString &text)
{
    return converted(text, DateForm::PackedUtc);
}

QByteArray SaveTimeUtc(const QString &saveStamp)
{
    // A stamp may carry a number after its time ("(...)_2"): the save's root was taken.
    QDateTime when = QLocale::c().toDateTime(saveStamp.mid(1, saveStamp.lastIndexOf(QLatin1Char(')')) - 1),
                                             QStringLiteral("d MMM yyyy,hh-mm-ss"));
    if (!when.isValid())
        when = QDateTime::currentDateTime();
    return when.toUTC().toString(QStringLiteral("yyyyMMdd'T'HHmmss'Z'")).toLatin1();
}

QByteArray ArchiveDateLocalDay(const QString &text)
{
    return dateOnlyDay(text).toString(QStringLiteral("yyyyMMdd")).toLatin1();
}

QByteArray ArchiveDateLocalIsoDay(const QString &text)
{
    return dateOnlyDay(text).toString(QStringLiteral("yyyy-MM-dd")).toLatin1();
}
