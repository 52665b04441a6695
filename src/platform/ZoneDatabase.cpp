// The system's zone database read as it stands: TZif files (version 1 to 4) and the POSIX rule
// that closes them.

#include "platform/ZoneDatabase.h"

#include <QDate>
#include <QFile>

#include <map>
#include <mutex>

namespace {

constexpr qint64 kLargestFile = 256 * 1024;
const char kZoneFolder[] = "/usr/share/zoneinfo/";

qint64 bigEndian(const uchar *p, int size)
{
    quint64 v = 0;
    for (int i = 0; i < size; ++i)
        v = (v << 8) | p[i];
    if (size == 4)
        return qint64(qint32(quint32(v)));
    return qint64(v);
}

// The six counts of a TZif header, and the size of the data block after it.
struct Header {
    qint64 isUt = 0, isStd = 0, leaps = 0, times = 0, types = 0, chars = 0;
    qint64 dataSize(int timeSize) const
    {
        return times * timeSize + times + types * 6 + chars + leaps * (timeSize + 4) + isStd + isUt;
    }
};

bool readHeader(const QByteArray &bytes, qint64 at, Header *h, char *version)
{
    if (at < 0 || at + 44 > bytes.size() || bytes.mid(int(at), 4) != "TZif")
        return false;
    const uchar *p = reinterpret_cast<const uchar *>(bytes.constData()) + at;
    *version = char(p[4]);
    qint64 *fields[] = {&h->isUt, &h->isStd, &h->leaps, &h->times, &h->types, &h->chars};
    for (int i = 0; i < 6; ++i) {
        *fields[i] = bigEndian(p + 20 + 4 * i, 4);
        if (*fields[i] < 0 || *fields[i] > kLargestFile)
            return false;
    }
    return h->types >= 1;
}

// A POSIX TZ string, read from its start: names, offsets and rules.
struct PosixReader {
    const QByteArray &text;
    int pos = 0;

    bool name()
    {
        if (pos < text.size() && text.at(pos) == '<') {
            const int close = text.indexOf('>', pos);
            if (close < 0)
                return false;
            pos = close + 1;
            return true;
        }
        const int start = pos;
        while (pos < text.size() && QChar::isLetter(uchar(text.at(pos))))
            ++pos;
        return pos - start >= 3;
    }
    // [+-]hh[:mm[:ss]] as seconds.
    bool clock(int *seconds)
    {
        int sign = 1;
        if (pos < text.size() && (text.at(pos) == '+' || text.at(pos) == '-'))
            sign = text.at(pos++) == '-' ? -1 : 1;
        int parts[3] = {0, 0, 0};
        for (int i = 0; i < 3; ++i) {
            if (i > 0 && (pos >= text.size() || text.at(pos) != ':'))
                break;
            if (i > 0)
                ++pos;
            const int start = pos;
            while (pos < text.size() && pos - start < 3 && text.at(pos) >= '0' && text.at(pos) <= '9')
                parts[i] = parts[i] * 10 + (text.at(pos++) - '0');
            if (pos == start)
                return false;
        }
        *seconds = sign * (parts[0] * 3600 + parts[1] * 60 + parts[2]);
        return true;
    }
    bool number(int *value)
    {
        const int start = pos;
        *value = 0;
        while (pos < text.size() && pos - start < 4 && text.at(pos) >= '0' && text.at(pos) <= '9')
            *value = *value * 10 + (text.at(pos++) - '0');
        return pos > start;
    }
    bool take(char c)
    {
        if (pos < text.size() && text.at(pos) == c) {
            ++pos;
            return true;
        }
        return false;
    }
    // ",Mm.w.d[/time]": the only form current zone files use.
    bool rule(SystemZone::YearlyRule *r)
    {
        if (!take(',') || !take('M') || !number(&r->month) || !take('.') || !number(&r->week) || !take('.')
            || !number(&r->weekday))
            return false;
        r->time = 2 * 3600;
        if (take('/') && !clock(&r->time))
            return false;
        return r->month >= 1 && r->month <= 12 && r->week >= 1 && r->week <= 5 && r->weekday <= 6;
    }
};

qint64 daysFromEpoch(int year, int month, int day)
{
    return QDate(year, month, day).toJulianDay() - QDate(1970, 1, 1).toJulianDay();
}

// The day of the month of the week-th weekday (5: the last).
int ruleDay(int year, const SystemZone::YearlyRule &r)
{
    const QDate first(year, r.month, 1);
    int day = 1 + (r.weekday - first.dayOfWeek() % 7 + 7) % 7 + 7 * (r.week - 1);
    while (day > first.daysInMonth())
        day -= 7;
    return day;
}

int yearOf(qint64 utcSeconds)
{
    qint64 days = utcSeconds / 86400;
    if (utcSeconds % 86400 < 0)
        --days;
    return QDate::fromJulianDay(days + QDate(1970, 1, 1).toJulianDay()).year();
}

}  // namespace

std::shared_ptr<const SystemZone> SystemZone::load(const QByteArray &name)
{
    static std::mutex lock;
    static std::map<QByteArray, std::shared_ptr<const SystemZone>> loaded;
    // Only names of the database's zones: nothing outside its folder, nor the machine's own zone.
    if (name.isEmpty() || name.size() > 64 || name.contains("..") || name.startsWith('/') || name == "localtime"
        || name == "posixrules" || name == "Factory")
        return nullptr;
    for (const char c : name) {
        if (!(QChar::isLetterOrNumber(uchar(c)) || c == '/' || c == '_' || c == '-' || c == '+'))
            return nullptr;
    }
    std::lock_guard<std::mutex> guard(lock);
    const auto found = loaded.find(name);
    if (found != loaded.end())
        return found->second;
    QFile file(QString::fromLatin1(kZoneFolder + name));
    std::shared_ptr<const SystemZone> zone;
    if (file.open(QIODevice::ReadOnly) && file.size() <= kLargestFile)
        zone = parse(file.read(kLargestFile));
    loaded[name] = zone;
    return zone;
}

std::shared_ptr<const SystemZone> SystemZone::parse(const QByteArray &bytes)
{
    Header h;
    char version = 0;
    if (!readHeader(bytes, 0, &h, &version))
        return nullptr;
    qint64 at = 44;
    int timeSize = 4;
    // Version 2 on repeats the data with 64-bit times, then the closing rule.
    if (version >= '2') {
        at += h.dataSize(4);
        if (!readHeader(bytes, at, &h, &version))
            return nullptr;
        at += 44;
        timeSize = 8;
    }
    if (at + h.dataSize(timeSize) > bytes.size())
        return nullptr;
    const uchar *p = reinterpret_cast<const uchar *>(bytes.constData()) + at;
    auto zone = std::make_shared<SystemZone>();
    for (qint64 i = 0; i < h.times; ++i)
        zone->m_times.append(bigEndian(p + i * timeSize, timeSize));
    const uchar *typeIndex = p + h.times * timeSize;
    for (qint64 i = 0; i < h.times; ++i) {
        if (typeIndex[i] >= h.types)
            return nullptr;
        zone->m_typeOf.append(typeIndex[i]);
    }
    const uchar *types = typeIndex + h.times;
    for (qint64 i = 0; i < h.types; ++i) {
        const qint64 offset = bigEndian(types + 6 * i, 4);
        if (offset <= -26 * 3600 || offset >= 26 * 3600)
            return nullptr;
        zone->m_types.append(Type{int(offset), types[6 * i + 4] != 0});
    }
    for (int i = 1; i < zone->m_times.size(); ++i) {
        if (zone->m_times.at(i) <= zone->m_times.at(i - 1))
            return nullptr;
    }
    if (timeSize == 8) {
        const qint64 footerAt = at + h.dataSize(timeSize);
        const int end = bytes.indexOf('\n', int(footerAt) + 1);
        if (footerAt < bytes.size() && bytes.at(int(footerAt)) == '\n' && end > footerAt)
            zone->parseFooter(bytes.mid(int(footerAt) + 1, int(end - footerAt - 1)));
    }
    return zone;
}

bool SystemZone::parseFooter(const QByteArray &footer)
{
    PosixReader r{footer};
    int stdOffset = 0;
    if (footer.isEmpty() || !r.name() || !r.clock(&stdOffset))
        return false;
    // POSIX offsets are west of UTC.
    m_footerStd = Type{-stdOffset, false};
    m_hasFooter = true;
    if (r.pos == footer.size())
        return true;
    int dstOffset = -stdOffset + 3600;
    if (!r.name())
        return m_hasFooter = false;
    if (r.pos < footer.size() && footer.at(r.pos) != ',') {
        int west = 0;
        if (!r.clock(&west))
            return m_hasFooter = false;
        dstOffset = -west;
    }
    YearlyRule on, off;
    if (!r.rule(&on) || !r.rule(&off) || r.pos != footer.size())
        return m_hasFooter = false;
    on.toOffset = dstOffset;
    on.toDst = true;
    off.toOffset = -stdOffset;
    m_rules = {on, off};
    return true;
}

QVector<SystemZone::Change> SystemZone::ruleChangesIn(int year) const
{
    QVector<Change> out;
    if (m_rules.size() != 2 || year < 1 || year > 9999)
        return out;
    for (int i = 0; i < 2; ++i) {
        const YearlyRule &r = m_rules.at(i);
        const int from = m_rules.at(1 - i).toOffset;
        const qint64 local = daysFromEpoch(year, r.month, ruleDay(year, r)) * 86400 + r.time;
        out.append(Change{local - from, from, r.toOffset, r.toDst});
    }
    if (out.at(1).at < out.at(0).at)
        std::swap(out[0], out[1]);
    return out;
}

SystemZone::Type SystemZone::typeAt(qint64 utcSeconds) const
{
    // Before the first change: the first type, local mean time in most zones.
    if (m_times.isEmpty() || utcSeconds < m_times.first())
        return m_times.isEmpty() && m_hasFooter ? m_footerStd : m_types.first();
    if (utcSeconds >= m_times.last() && m_hasFooter) {
        Type type = m_rules.isEmpty() ? m_footerStd : Type{m_rules.at(1).toOffset, false};
        const int year = yearOf(utcSeconds);
        for (int y = year - 1; y <= year; ++y) {
            for (const Change &c : ruleChangesIn(y)) {
                if (c.at <= utcSeconds)
                    type = Type{c.to, c.toDst};
            }
        }
        return type;
    }
    const auto next = std::upper_bound(m_times.cbegin(), m_times.cend(), utcSeconds);
    return m_types.at(m_typeOf.at(int(next - m_times.cbegin()) - 1));
}

int SystemZone::offsetAt(qint64 utcSeconds) const
{
    return typeAt(utcSeconds).offset;
}

bool SystemZone::isDstAt(qint64 utcSeconds) const
{
    return typeAt(utcSeconds).dst;
}

QVector<SystemZone::Change> SystemZone::changes(qint64 from, qint64 to) const
{
    // Years past 9999 have no dates to write.
    to = qMin<qint64>(to, 253402300799LL);
    QVector<Change> out;
    for (int i = 0; i < m_times.size(); ++i) {
        const qint64 at = m_times.at(i);
        if (at <= from || at > to)
            continue;
        const Type before = typeAt(at - 1), after = m_types.at(m_typeOf.at(i));
        if (before.offset != after.offset || before.dst != after.dst)
            out.append(Change{at, before.offset, after.offset, after.dst});
    }
    if (m_rules.isEmpty() || to < tableEnd())
        return out;
    const qint64 start = qMax(from, tableEnd());
    for (int y = yearOf(start); y <= yearOf(to); ++y) {
        for (const Change &c : ruleChangesIn(y)) {
            if (c.at > start && c.at <= to && c.at > tableEnd())
                out.append(c);
        }
    }
    return out;
}
