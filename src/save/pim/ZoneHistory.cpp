// The zone a VTIMEZONE block names, and the offsets its history in the system's zone database
// gives. Blocks state one year's rules only; past years of most zones ran on others.

#include "save/pim/CalendarRules.h"

#include "platform/ZoneDatabase.h"
#include "save/pim/PimDates.h"

#include <QDate>
#include <QDateTime>
#include <QHash>
#include <QTimeZone>

#include <limits>
#include <mutex>

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
// Windows zone id ("Samoa Standard Time"); null when the database knows none.
std::shared_ptr<const SystemZone> zoneOfName(const QString &name)
{
    if (name.isEmpty() || name.size() > 64)
        return nullptr;
    const QByteArray id = name.toUtf8();
    // Offset names ("UTC+13:00") carry no history and may contradict the block.
    if (!id.startsWith("UTC") && !id.startsWith("GMT")) {
        if (auto direct = SystemZone::load(id))
            return direct;
        for (const auto &legacy : kLegacyNames) {
            if (id == legacy[0])
                return SystemZone::load(legacy[1]);
        }
    }
    if (id.contains('/'))
        return nullptr;
    return SystemZone::load(QTimeZone::windowsIdToDefaultIanaId(id));
}

qint64 utcSecondsOf(int year, int month, int day)
{
    return QDateTime(QDate(year, month, day), QTime(12, 0), Qt::UTC).toSecsSinceEpoch();
}

int yearOf(qint64 utcSeconds)
{
    return QDateTime::fromSecsSinceEpoch(utcSeconds, Qt::UTC).date().year();
}

// The years a block's agreement is looked for in, and where stated histories end in yearly rules
// (readers' own zone data ends in 2038).
constexpr int kEarliestYear = 1800;
constexpr int kLastYear = 2037;

// Mid-January and mid-July of one year the block speaks of (its own start on): a name whose
// offsets there are never the block's stands for another zone. A block states the rules of the
// year it was exported in, which later changes of its zone's rules need not keep; a block of one
// offset, the offset its zone ended that year with (Samoa's -10 of 2010), which it may have kept
// for months only.
bool agreesWithBlock(const SystemZone &zone, const ZoneRules &block, int firstYear, bool oneOffset)
{
    for (int year = qMax(firstYear, kEarliestYear); year <= kLastYear; ++year) {
        int agreeing = 0;
        for (const int month : {1, 7}) {
            const qint64 at = utcSecondsOf(year, month, 15);
            agreeing += zone.offsetAt(at) == block.offsetAt(at) ? 1 : 0;
        }
        if (agreeing == 2 || (oneOffset && agreeing == 1))
            return true;
    }
    return false;
}

// "+hhmm", or "+hhmmss" for an offset with seconds (local mean times).
QByteArray offsetText(int seconds)
{
    const int value = qAbs(seconds);
    QByteArray text = QByteArray(seconds < 0 ? "-" : "+") + QByteArray::number(value / 3600).rightJustified(2, '0')
        + QByteArray::number(value % 3600 / 60).rightJustified(2, '0');
    return value % 60 ? text + QByteArray::number(value % 60).rightJustified(2, '0') : text;
}

void addObservance(QVector<QByteArray> *lines, bool dst, const QByteArray &start, int from, int to,
                   const QByteArray &rule = QByteArray())
{
    const QByteArray kind = dst ? "DAYLIGHT" : "STANDARD";
    *lines << "BEGIN:" + kind << "DTSTART:" + start;
    if (!rule.isEmpty())
        *lines << "RRULE:" + rule;
    *lines << "TZOFFSETFROM:" + offsetText(from) << "TZOFFSETTO:" + offsetText(to) << "END:" + kind;
}

// Each change as an observance from its onset. Readers take a daylight time's saving from the
// standard time before it and refuse one of a day or more: a change across the date line (Apia's
// of 2011) is stated as a standard time.
void addChanges(QVector<QByteArray> *lines, const QVector<SystemZone::Change> &changes)
{
    int standard = changes.isEmpty() ? 0 : changes.first().from;
    for (const SystemZone::Change &c : changes) {
        const bool dst = c.toDst && qAbs(c.to - standard) <= 3 * 3600;
        if (!dst)
            standard = c.to;
        addObservance(lines, dst, PackedWallTime(c.at + c.from), c.from, c.to);
    }
}

// The closing rule's yearly onsets from the year on, as observances with a yearly RRULE.
void addYearlyRules(QVector<QByteArray> *lines, const SystemZone &zone, int year)
{
    const QVector<SystemZone::YearlyRule> &rules = zone.yearlyRules();
    for (int i = 0; i < rules.size(); ++i) {
        const SystemZone::YearlyRule &r = rules.at(i);
        const int week = r.week == 5 ? -1 : r.week;
        const QByteArray code = kWeekdayCodes[(r.weekday + 6) % 7];
        const QDate first(year, r.month, 1);
        int day = 1 + (r.weekday - first.dayOfWeek() % 7 + 7) % 7 + 7 * (r.week - 1);
        while (day > first.daysInMonth())
            day -= 7;
        const qint64 local = QDateTime(QDate(year, r.month, day), QTime(0, 0), Qt::UTC).toSecsSinceEpoch() + r.time;
        addObservance(lines, r.toDst, PackedWallTime(local), rules.at(1 - i).toOffset, r.toOffset,
                      "FREQ=YEARLY;BYMONTH=" + QByteArray::number(r.month) + ";BYDAY=" + QByteArray::number(week)
                          + code);
    }
}

// Before this the exporter's empty date (1601-01-01, the start of its clock) and its kin: no local
// time of any zone, they keep the block's offsets, and so their days.
qint64 defaultDatesEnd()
{
    static const qint64 end = QDateTime(QDate(1700, 1, 1), QTime(0, 0), Qt::UTC).toSecsSinceEpoch();
    return end;
}

}  // namespace

void ZoneRules::nameZone(const QStringList &names)
{
    qint64 firstLocal = std::numeric_limits<qint64>::max();
    bool oneOffset = true;
    for (const Observance &o : m_observances) {
        firstLocal = qMin(firstLocal, o.startLocal);
        oneOffset = oneOffset && o.fromOffset == o.toOffset && o.toOffset == m_observances.first().toOffset;
    }
    const int firstYear = yearOf(firstLocal);
    // Every item of an archive carries its block again: each block and names are judged once.
    static std::mutex lock;
    static QHash<QByteArray, std::shared_ptr<const SystemZone>> judged;
    QByteArray key = names.join(QLatin1Char('\n')).toUtf8();
    for (const Observance &o : m_observances) {
        for (const qint64 v : {o.startLocal, qint64(o.fromOffset), qint64(o.toOffset), qint64(o.month), qint64(o.week),
                               qint64(o.weekday), o.untilUtc})
            key += ' ' + QByteArray::number(v);
    }
    std::lock_guard<std::mutex> guard(lock);
    const auto found = judged.constFind(key);
    if (found != judged.constEnd()) {
        m_history = found.value();
        return;
    }
    for (const QString &name : names) {
        const auto zone = zoneOfName(name);
        if (zone && agreesWithBlock(*zone, *this, firstYear, oneOffset)) {
            m_history = zone;
            break;
        }
    }
    // Blocks come from the archive: what is kept for them stays bounded.
    if (judged.size() >= 4096)
        judged.clear();
    judged.insert(key, m_history);
}

int ZoneRules::historyOffsetAt(qint64 utcSeconds) const
{
    if (!m_history || (utcSeconds < defaultDatesEnd() && !m_byHistory))
        return offsetAt(utcSeconds);
    return m_history->offsetAt(utcSeconds);
}

QByteArray ZoneRules::historyDate(qint64 utcSeconds) const
{
    return PackedWallDate(utcSeconds + historyOffsetAt(utcSeconds));
}

bool ZoneRules::historyAgrees(qint64 utcSeconds) const
{
    return historyOffsetAt(utcSeconds) == offsetAt(utcSeconds);
}

bool ZoneRules::historyAgreesOver(qint64 fromUtc, qint64 toUtc) const
{
    if (!m_history || m_byHistory)
        return true;
    // Past the years readers' zone data covers, the block's yearly rules stand for the history's.
    toUtc = qMin(toUtc, QDateTime(QDate(kLastYear + 1, 1, 1), QTime(0, 0), Qt::UTC).toSecsSinceEpoch());
    if (!historyAgrees(fromUtc))
        return false;
    QVector<qint64> changes = onsetsIn(fromUtc, toUtc);
    for (const SystemZone::Change &c : m_history->changes(fromUtc, toUtc))
        changes.append(c.at);
    for (const qint64 at : changes) {
        if (at < fromUtc || at > toUtc)
            continue;
        if (!historyAgrees(at) || !historyAgrees(at - 1))
            return false;
    }
    return true;
}

ZoneRules ZoneRules::withHistoryOver(qint64 fromUtc, qint64 toUtc) const
{
    if (!m_history || m_byHistory || fromUtc < defaultDatesEnd())
        return *this;
    ZoneRules block = *this;
    block.m_byHistory = true;
    block.m_lines.clear();
    // The block's own head (BEGIN, TZID and the exporter's name properties) is kept.
    for (const QByteArray &line : m_lines) {
        if (line == "BEGIN:STANDARD" || line == "BEGIN:DAYLIGHT")
            break;
        block.m_lines.append(line);
    }
    const SystemZone &zone = *m_history;
    const int tailYear = qMax(kLastYear + 1, yearOf(fromUtc) + 1);
    const qint64 tailStart = QDateTime(QDate(tailYear, 1, 1), QTime(0, 0), Qt::UTC).toSecsSinceEpoch();
    static const qint64 kDawn = QDateTime(QDate(1601, 1, 1), QTime(0, 0), Qt::UTC).toSecsSinceEpoch();
    // The offset in force at the start, from its own onset (or, before the zone's first change, from
    // the earliest date blocks name); then each change up to the end.
    const QVector<SystemZone::Change> before = zone.changes(kDawn, fromUtc);
    const SystemZone::Change first = before.isEmpty()
        ? SystemZone::Change{0, zone.offsetAt(fromUtc), zone.offsetAt(fromUtc), zone.isDstAt(fromUtc)}
        : before.last();
    QVector<SystemZone::Change> stated = zone.changes(fromUtc, qMin(toUtc, tailStart - 1));
    if (!before.isEmpty())
        stated.prepend(first);
    // Readers take a daylight time's saving from a standard time before it: a block begins with one.
    if (before.isEmpty() || first.toDst)
        stated.prepend(SystemZone::Change{kDawn - first.from, first.from, first.from, false});
    addChanges(&block.m_lines, stated);
    if (toUtc >= tailStart)
        addYearlyRules(&block.m_lines, zone, tailYear);
    block.m_lines.append("END:VTIMEZONE");
    return block;
}

bool ZoneRules::historyTimeIsUnique(qint64 utcSeconds) const
{
    const qint64 local = utcSeconds + historyOffsetAt(utcSeconds);
    QVector<int> offsets;
    for (const qint64 near : {utcSeconds - 86400, utcSeconds, utcSeconds + 86400}) {
        if (!offsets.contains(historyOffsetAt(near)))
            offsets.append(historyOffsetAt(near));
    }
    int readings = 0;
    for (const int offset : offsets) {
        if (historyOffsetAt(local - offset) == offset)
            ++readings;
    }
    return readings == 1;
}
