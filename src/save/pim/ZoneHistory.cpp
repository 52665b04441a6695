// The zone a VTIMEZONE block names, and the offsets its history in the system's zone database
// gives. Blocks state one year's rules only; past years of most zones ran on others.

#include "save/pim/CalendarRules.h"

#include "save/pim/PimDates.h"

#include <QDate>
#include <QDateTime>

namespace {

// Legacy names exporters still write, for zone databases installed without them.
const char *const kLegacyNames[][2] = {
    {"US/Alaska", "America/Anchorage"},
    {"US/Aleutian", "America/Adak"},
    {"US/Arizona", "America/Phoenix"},
    {"US/Central", "America/Chicago"},
    {"US/East-Indiana", "America/Indiana/Indianapolis"},
    {"US/Eastern", "America/New_York"},
    {"US/Hawaii", "Pacific/Honolulu"},
    {"US/Michigan", "America/Detroit"},
    {"US/Mountain", "America/Denver"},
    {"US/Pacific", "America/Los_Angeles"},
    {"US/Samoa", "Pacific/Pago_Pago"},
    {"Canada/Atlantic", "America/Halifax"},
    {"Canada/Central", "America/Winnipeg"},
    {"Canada/Eastern", "America/Toronto"},
    {"Canada/Mountain", "America/Edmonton"},
    {"Canada/Newfoundland", "America/St_Johns"},
    {"Canada/Pacific", "America/Vancouver"},
};

// The zone a name stands for: a zone database name or legacy alias ("US/Mountain"), or a
// Windows zone id ("Samoa Standard Time"); invalid when the database knows none.
QTimeZone zoneOfName(const QString &name)
{
    if (name.isEmpty() || name.size() > 64)
        return QTimeZone();
    const QByteArray id = name.toUtf8();
    // Only names of zones: nothing that walks outside the database's folder, nor the machine's own.
    if (id.contains("..") || id.startsWith('/') || id == "localtime" || id == "posixrules" || id == "Factory")
        return QTimeZone();
    // Offset names ("UTC+13:00") carry no history and may contradict the block.
    if (!id.startsWith("UTC") && !id.startsWith("GMT")) {
        const QTimeZone direct(id);
        if (direct.isValid())
            return direct;
        for (const auto &legacy : kLegacyNames) {
            if (id == legacy[0])
                return QTimeZone(legacy[1]);
        }
    }
    const QByteArray iana = QTimeZone::windowsIdToDefaultIanaId(id);
    return iana.isEmpty() ? QTimeZone() : QTimeZone(iana);
}

// Mid-January and mid-July of a fixed recent year: a name whose offsets there are not the
// block's stands for another zone (or rules the block's exporter did not know).
bool agreesWithBlock(const QTimeZone &zone, const ZoneRules &block)
{
    for (const int month : {1, 7}) {
        const qint64 at = QDateTime(QDate(2025, month, 15), QTime(12, 0), Qt::UTC).toSecsSinceEpoch();
        if (zone.offsetFromUtc(QDateTime::fromSecsSinceEpoch(at, Qt::UTC)) != block.offsetAt(at))
            return false;
    }
    return true;
}

}  // namespace

void ZoneRules::nameZone(const QStringList &names)
{
    for (const QString &name : names) {
        const QTimeZone zone = zoneOfName(name);
        if (zone.isValid() && agreesWithBlock(zone, *this)) {
            m_named = zone;
            return;
        }
    }
}

int ZoneRules::historyOffsetAt(qint64 utcSeconds) const
{
    // Before 1900 the database gives local mean times, which no exporter stores by: a 1601 default
    // date keeps the block's offset.
    static const qint64 kHistoryStart = QDateTime(QDate(1900, 1, 1), QTime(0, 0), Qt::UTC).toSecsSinceEpoch();
    if (!m_named.isValid() || utcSeconds < kHistoryStart)
        return offsetAt(utcSeconds);
    return m_named.offsetFromUtc(QDateTime::fromSecsSinceEpoch(utcSeconds, Qt::UTC));
}

QByteArray ZoneRules::historyDate(qint64 utcSeconds) const
{
    return PackedWallDate(utcSeconds + historyOffsetAt(utcSeconds));
}

bool ZoneRules::historyAgrees(qint64 utcSeconds) const
{
    return historyOffsetAt(utcSeconds) == offsetAt(utcSeconds);
}
