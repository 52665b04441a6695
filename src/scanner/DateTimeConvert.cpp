#include "scanner/DateTimeConvert.h"

#include <QDateTime>
#include <QDebug>
#include <QTimeZone>

namespace {

// Text without "Z" or an offset after its time is local time.
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

// The machine's zone, looked up again only when TZ changes: the C library's local-time
// conversion re-reads the zone file on every call, which dominated scans of large archives.
QTimeZone localZone()
{
    thread_local QByteArray cachedTz;
    thread_local QTimeZone cachedZone;
    thread_local bool cached = false;
    const QByteArray tz = qgetenv("TZ");
    if (!cached || tz != cachedTz) {
        cachedTz = tz;
        cachedZone = QTimeZone::systemTimeZone();
        cached = true;
    }
    return cachedZone;
}

QDateTime parseIso(const QString &text)
{
    if (hasZoneDesignator(text))
        return QDateTime::fromString(text, Qt::ISODate);
    const QDateTime wall = QDateTime::fromString(text + QLatin1Char('Z'), Qt::ISODate);
    const QTimeZone zone = localZone();
    if (!wall.isValid() || !zone.isValid())
        return QDateTime::fromString(text, Qt::ISODate);
    return QDateTime(wall.date(), wall.time(), zone);
}

} // namespace

quint32 integertimeconverter(const QString &text)
{
    const QDateTime dt = parseIso(text);
    if (!dt.isValid()) {
        qDebug() << "Invalid date-time string";
        return 0;
    }
    const qint64 secs = dt.toSecsSinceEpoch();
    if (secs < 0 || secs > qint64(0xFFFFFFFFLL))
        return 0;
    return quint32(secs);
}
