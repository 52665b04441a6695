#include "scanner/DateConverter.h"

#include <QStringList>

#include <cstdio>
#include <cstring>
#include <ctime>

namespace {

// Piece i as a base-10 integer; missing, empty or not a plain number gives 0.
int pieceValue(const QStringList &pieces, int i)
{
    if (i >= pieces.size())
        return 0;
    bool ok = false;
    const int v = pieces.at(i).toInt(&ok, 10);
    return ok ? v : 0;
}

bool isLeapYear(qint64 y)
{
    return y % 4 == 0 && (y % 100 != 0 || y % 400 == 0);
}

int daysInMonth(qint64 y, int m)
{
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && isLeapYear(y) ? 29 : days[m - 1];
}

// Days since 1970-01-01 in the proleptic Gregorian calendar; 0 for an invalid date.
qint64 daysSinceEpoch(qint64 y, int m, int d)
{
    if (y == 0 || m < 1 || m > 12 || d < 1 || d > daysInMonth(y, m))
        return 0;
    y -= m <= 2;
    const qint64 era = (y >= 0 ? y : y - 399) / 400;
    const qint64 yoe = y - era * 400;
    const qint64 doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const qint64 doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

qint64 secondsOfDay(int h, int mi, int s)
{
    if (h < 0 || h > 23 || mi < 0 || mi > 59 || s < 0 || s > 59)
        return 0;
    return h * 3600 + mi * 60 + s;
}

// The instant the text names, read as UTC.
qint64 utcSeconds(const QString &text)
{
    const QStringList halves = text.split(QLatin1Char('T'));
    const QStringList date = halves.at(0).split(QLatin1Char('-'));
    const QStringList time = halves.size() > 1 ? halves.at(1).split(QLatin1Char(':')) : QStringList();
    const qint64 days = daysSinceEpoch(pieceValue(date, 0), pieceValue(date, 1), pieceValue(date, 2));
    return days * 86400 + secondsOfDay(pieceValue(time, 0), pieceValue(time, 1), pieceValue(time, 2));
}

// C-locale abbreviations, so the task form keeps its 21 characters under any user locale.
const char *const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

char *intoBuffer(char *buffer, size_t size, const QByteArray &text)
{
    const size_t n = size_t(text.size()) < size ? size_t(text.size()) : 0;
    memcpy(buffer, text.constData(), n);
    buffer[n] = '\0';
    return buffer;
}

}  // namespace

QByteArray ConvertArchiveDate(const QString &text, DateForm form)
{
    const time_t instant = time_t(utcSeconds(text));
    struct tm local;
    const bool utc = form == DateForm::PackedUtc;
    if (!(utc ? gmtime_r(&instant, &local) : localtime_r(&instant, &local)))
        return QByteArray();
    const long long year = 1900LL + local.tm_year;
    if (year < 0 || year > 9999 || local.tm_mon < 0 || local.tm_mon > 11)
        return QByteArray();
    char out[32];
    int n = 0;
    switch (form) {
    case DateForm::Packed:
    case DateForm::PackedUtc:
        n = snprintf(out, sizeof out, "%04lld%02d%02dT%02d%02d%02d", year, local.tm_mon + 1, local.tm_mday,
                     local.tm_hour, local.tm_min, local.tm_sec);
        if (utc && n > 0 && size_t(n) + 1 < sizeof out)
            out[n++] = 'Z';
        break;
    case DateForm::TaskText:
        n = snprintf(out, sizeof out, "%04lld,%s,%02d, %02d:%02d:%02d", year, kMonths[local.tm_mon], local.tm_mday,
                     local.tm_hour, local.tm_min, local.tm_sec);
        break;
    case DateForm::ContactDate:
        n = snprintf(out, sizeof out, "%04lld-%02d-%02d", year, local.tm_mon + 1, local.tm_mday);
        break;
    }
    if (n <= 0 || size_t(n) >= sizeof out)
        return QByteArray();
    return QByteArray(out, n);
}

char *timeconvertert1(QString text)
{
    static char buffer[16];
    return intoBuffer(buffer, sizeof buffer, ConvertArchiveDate(text, DateForm::Packed));
}

char *timeconverterDUetask1(QString text)
{
    static char buffer[16];
    return intoBuffer(buffer, sizeof buffer, ConvertArchiveDate(text, DateForm::Packed));
}

char *timeconverterpre1(QString text)
{
    static char buffer[22];
    return intoBuffer(buffer, sizeof buffer, ConvertArchiveDate(text, DateForm::TaskText));
}

char *timeconverterCont(QString text)
{
    static char buffer[22];
    return intoBuffer(buffer, sizeof buffer, ConvertArchiveDate(text, DateForm::ContactDate));
}
