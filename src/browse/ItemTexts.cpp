#include "browse/ItemTexts.h"

#include "browse/ItemElements.h"
#include "save/MessageFields.h"
#include "save/pim/PimDates.h"
#include "save/pim/PimText.h"
#include "scanner/ElementValue.h"
#include "scanner/XmlEntities.h"

#include <QDateTime>
#include <QLocale>

QString ElementNameIn(std::string_view bytes, const char *startTag)
{
    std::string_view raw;
    if (!ExtractElementValue(bytes, QByteArray(startTag), &raw))
        return QString();
    return JoinLines(UnescapeXmlEntities(DecodeTrimmed(raw), EntityForm::Scanned));
}

namespace {

QString nameIn(const QByteArray &bytes, const char *startTag)
{
    return ElementNameIn(std::string_view(bytes.constData(), size_t(bytes.size())), startTag);
}

}  // namespace

QString ItemElementName(qint64 offset, qint64 length, const char *startTag, qint64 readBound, qint64 longOffset,
                        qint64 longLength)
{
    return ItemElementName([](qint64 at, qint64 size, qint64 bound) { return ReadArchiveBytes(at, size, bound); },
                           offset, length, startTag, readBound, longOffset, longLength);
}

QString ItemElementName(const ArchiveRead &read, qint64 offset, qint64 length, const char *startTag, qint64 readBound,
                        qint64 longOffset, qint64 longLength)
{
    if (length <= 0 || readBound <= 0)
        return QString();
    QString name = nameIn(read(offset, qMin(length, readBound), readBound), startTag);
    const qint64 afterLong = longOffset + longLength;
    if (name.isEmpty() && longLength > 0 && longOffset > offset && afterLong < offset + length)
        name = nameIn(read(afterLong, qMin(offset + length - afterLong, readBound), readBound), startTag);
    return name;
}

QString LocalTimeText(const QString &archive)
{
    qint64 seconds = 0;
    if (!ArchiveWallSeconds(archive, &seconds))
        return QString();
    const QDateTime local = QDateTime::fromSecsSinceEpoch(seconds, Qt::LocalTime);
    if (!local.isValid() || local.date().year() < 0 || local.date().year() > 9999)
        return QString();
    return QLocale::c().toString(local, QStringLiteral("yyyy,MMM,dd, hh:mm:ss"));
}

QString ArchiveDayText(const QString &archive)
{
    return QString::fromLatin1(ArchiveDateLocalIsoDay(archive));
}
