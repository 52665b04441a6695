#include "scanner/DateTimeConvert.h"

#include <QDateTime>

namespace {

// Text without "Z" or an offset after its time is UTC.
bool hasZoneDesignator(const QString &text)
{
    const int t = text.indexOf(QLatin1Char('T'));
    if (t < 0)
        return false;
    for (int i = t + 1; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c == QLatin1Char('Z') || c == QLatin1Char('+') || c == QLatin1Char('-'))
            return true;
    }
    return false;
}

// Days since 1970-01-01 of a proleptic Gregorian date.
qint64 daysFromCivil(int y, int m, int d)
{
    y -= m <= 2;
    const qint64 era = (y >= 0 ? y : y - 399) / 400;
    const int yoe = int(y - era * 400);
    const int doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

bool digits(const QString &t, int at, int n, int *out)
{
    int v = 0;
    for (int i = at; i < at + n; ++i) {
        const ushort c = t[i].unicode();
        if (c < '0' || c > '9')
            return false;
        v = v * 10 + (c - '0');
    }
    *out = v;
    return true;
}

// The exporter's form "YYYY-MM-DDTHH:MM:SS[.fff][Z|+HH:MM|-HH:MM|+HHMM]", parsed without
// QDateTime, which made date conversion most of a large scan's time. Anything else returns
// false and goes through Qt's own parser.
bool parseFast(const QString &t, qint64 *secs)
{
    int y, mo, d, h, mi, se;
    if (t.size() < 19 || t[4] != QLatin1Char('-') || t[7] != QLatin1Char('-') || t[10] != QLatin1Char('T')
        || t[13] != QLatin1Char(':') || t[16] != QLatin1Char(':') || !digits(t, 0, 4, &y) || !digits(t, 5, 2, &mo)
        || !digits(t, 8, 2, &d) || !digits(t, 11, 2, &h) || !digits(t, 14, 2, &mi) || !digits(t, 17, 2, &se))
        return false;
    if (mo < 1 || mo > 12 || d < 1 || d > QDate(y, mo, 1).daysInMonth() || h > 23 || mi > 59 || se > 60)
        return false;
    // A leap second is a valid time: it is kept as the second before it, on the same day.
    se = qMin(se, 59);
    int i = 19;
    if (i < t.size() && (t[i] == QLatin1Char('.') || t[i] == QLatin1Char(','))) {
        ++i;
        const int from = i;
        while (i < t.size() && t[i].isDigit())
            ++i;
        if (i == from)
            return false;
    }
    const qint64 wall = daysFromCivil(y, mo, d) * 86400 + h * 3600 + mi * 60 + se;
    // The exporter writes its times without a designator, in UTC.
    if (i == t.size()) {
        *secs = wall;
        return true;
    }
    if (t[i] == QLatin1Char('Z') && i + 1 == t.size()) {
        *secs = wall;
        return true;
    }
    if (t[i] != QLatin1Char('+') && t[i] != QLatin1Char('-'))
        return false;
    const int sign = t[i] == QLatin1Char('-') ? -1 : 1;
    int oh, om;
    const int rest = t.size() - i - 1;
    if (rest == 5 && t[i + 3] == QLatin1Char(':') && digits(t, i + 1, 2, &oh) && digits(t, i + 4, 2, &om)) {
    } else if (rest == 4 && digits(t, i + 1, 2, &oh) && digits(t, i + 3, 2, &om)) {
    } else {
        return false;
    }
    if (oh > 23 || om > 59)
        return false;
    *secs = wall - sign * (oh * 3600 + om * 60);
    return true;
}

QDateTime parseIso(const QString &text)
{
    QDateTime dt = QDateTime::fromString(text, Qt::ISODate);
    if (dt.isValid() && !hasZoneDesignator(text))
        dt = QDateTime(dt.date(), dt.time(), Qt::UTC);
    return dt;
}

}  // namespace

bool ArchiveTimeSeconds(const QString &text, qint64 *seconds)
{
    if (parseFast(text, seconds))
        return true;
    const QDateTime dt = parseIso(text);
    if (!dt.isValid())
        return false;
    *seconds = dt.toSecsSinceEpoch();
    return true;
}

quint32 integertimeconverter(const QString &text)
{
    qint64 secs = 0;
    // Damaged archives hold many such texts: the item keeps no time, and nothing is logged.
    if (!ArchiveTimeSeconds(text, &secs))
        return 0;
    if (secs < 0 || secs > qint64(0xFFFFFFFFLL))
        return 0;
    return quint32(secs);
}
