#pragma once
// What makes a saved calendar item behave as the archive's does in a calendar program: its time
// zone (the archive's own VTIMEZONE block), its repeat pattern as an RRULE, its reminder and its
// categories.

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVector>
#include <QtGlobal>

#include <functional>
#include <memory>

class SystemZone;

// iCalendar's weekday codes, Monday first; the weekday (1 Monday .. 7 Sunday) of a code, 0 for
// none.
extern const char *const kWeekdayCodes[7];
int WeekdayOfCode(const QByteArray &code);

// Archive time text ("2018-06-18T17:30:00", UTC) as seconds since the epoch; false when it
// names no real date and time.
bool ArchiveSeconds(const QString &text, qint64 *seconds);

// One VTIMEZONE block as the archive gives it, and the offset it sets at any instant. Only the
// rules readers agree on are taken (yearly onsets on the n-th or last weekday of a month);
// a block with any other is not used.
class ZoneRules {
public:
    // icsData: the item's zone text, a VCALENDAR holding one VTIMEZONE.
    explicit ZoneRules(const QString &icsData);
    bool isValid() const { return m_valid; }
    QString tzid() const { return m_tzid; }
    // The block's content lines, unfolded, ready to be written.
    const QVector<QByteArray> &lines() const { return m_lines; }
    // Whether every reader takes the same offset at the instant from this block: from its first
    // onset on, or at any time when it has one offset only. Readers disagree before that onset.
    bool covers(qint64 utcSeconds) const;
    // This zone with its yearly rules stated from the year before the instant on, so that readers
    // agree on it there; unchanged when the instant is covered or the block has other onsets.
    ZoneRules extendedTo(qint64 utcSeconds) const;
    // Seconds east of UTC at the instant.
    int offsetAt(qint64 utcSeconds) const;
    // Whether the instant's local time names it alone: false in the hour that repeats when the
    // clocks go back, which readers may take for the other instant.
    bool localTimeIsUnique(qint64 utcSeconds) const;
    // "YYYYMMDDThhmmss" of the instant in this zone, and its date "YYYYMMDD".
    QByteArray localTime(qint64 utcSeconds) const;
    QByteArray localDate(qint64 utcSeconds) const;
    // The TZID parameter for a property: quoted when the name holds a separator.
    QByteArray tzidParameter() const;

    // The zone the block names (its TZID or the exporter's own name property: a zone database
    // name, a legacy alias or a Windows zone id), when the system's zone database knows it and its
    // offsets are the block's in some year the block speaks of (its start on): a block exported
    // under older rules names its zone as well. Its history gives every year its real offsets.
    bool hasHistory() const { return bool(m_history); }
    // Seconds east of UTC at the instant by that history, local mean time included; the block's
    // offset where no name is known.
    int historyOffsetAt(qint64 utcSeconds) const;
    // "YYYYMMDD" of the instant by that history: the day every date-only value takes.
    QByteArray historyDate(qint64 utcSeconds) const;
    // Whether the block and the history give the instant one local time: a wall time written with
    // the block reads back alike in readers that take the block and in those that take the name.
    bool historyAgrees(qint64 utcSeconds) const;
    // Whether they agree at every instant from one to the other (to included).
    bool historyAgreesOver(qint64 fromUtc, qint64 toUtc) const;
    // This zone with a block stating its history from before fromUtc to toUtc (the zone's closing
    // yearly rules after that), under the block's own TZID: readers by name and by block then
    // read its wall times alike. Unchanged without a history.
    ZoneRules withHistoryOver(qint64 fromUtc, qint64 toUtc) const;

    struct Observance {
        qint64 startLocal = 0;  // DTSTART, local seconds
        int fromOffset = 0;
        int toOffset = 0;
        int month = 0;        // 0: no yearly rule
        int week = 0;         // 1..5, or -1..-5 from the month's end
        int weekday = 0;      // 1 Monday .. 7 Sunday
        qint64 untilUtc = 0;  // 0: no end
    };

private:
    bool parseBlock(const QVector<QByteArray> &block);
    void nameZone(const QStringList &names);
    qint64 latestOnsetBefore(const Observance &o, qint64 utcSeconds) const;
    // The instants the block changes its offset at, from one to the other.
    QVector<qint64> onsetsIn(qint64 fromUtc, qint64 toUtc) const;
    bool historyTimeIsUnique(qint64 utcSeconds) const;

    bool m_valid = false;
    QString m_tzid;
    QVector<QByteArray> m_lines;
    QVector<Observance> m_observances;
    std::shared_ptr<const SystemZone> m_history;
    bool m_byHistory = false;  // the block was made from the history: its offsets are the history's
};

// How an item repeats, as the archive's recurrence element gives it.
struct RepeatRule {
    enum Kind { None, Rule, Unsupported };
    Kind kind = None;
    QByteArray rrule;  // the RRULE value, for Rule
    QString reason;    // why the pattern cannot be written, for Unsupported
};

// The UNTIL value of the archive's end date text (a real date) in the form DTSTART has; empty
// when it cannot.
using UntilValue = std::function<QByteArray(const QString &endText)>;

// recurrence: the text of the item's OPF...CopyRecurrence element. until gives the UNTIL value
// of its end date. startValue: the item's DTSTART value ("YYYYMMDD..."), whose day gives a
// weekday-of-the-month pattern the weekday, week or month it leaves out.
RepeatRule RepeatRuleOf(const QString &recurrence, const UntilValue &until,
                        const QByteArray &startValue = QByteArray());

// Whether the repeat ends by its end date (not by a count, not endless) before the start's
// instant: its rule would give no occurrence. *endText: the stored end date.
bool RepeatEndsBefore(const QString &recurrence, qint64 startSeconds, QString *endText);
// The same for a start that is a date alone ("YYYYMMDD"): the day until gives the end (the UNTIL
// value the rule would carry) is before it.
bool RepeatEndsBeforeDay(const QString &recurrence, const QByteArray &startDay, const UntilValue &until,
                         QString *endText);

// The rule kept when the first occurrence it gives is the item's own start (its DTSTART value,
// "YYYYMMDD..."): a day the pattern names that the start is not on would move every occurrence
// (a start in UTC whose zone is unknown can fall on another day). Else Unsupported, with why.
RepeatRule FittedToStart(const RepeatRule &rule, const QByteArray &startValue);

// The rule of an item whose start is written as a UTC instant ("YYYYMMDDThhmmssZ") because the
// archive gives no zone for it: fitted to the start's UTC day, or where the pattern names the
// start's day in the item's own zone instead (the day after or the day before), the same rule
// with its days moved to the UTC days. A date alone is its own day.
RepeatRule ZonelessRepeatRule(const QString &recurrence, const UntilValue &until, const QByteArray &utcStart);

// The last instant the repeat can reach from its start (its end date's day, or its count of the
// longest periods its pattern may take); the largest qint64 when it has no end.
qint64 RepeatSpanEnd(const QString &recurrence, qint64 startSeconds);

// The TRIGGER value of a reminder the given seconds before the start ("-PT15M").
QByteArray ReminderTrigger(qint64 secondsBefore);

// The CATEGORIES value: each category name of the list's entries (ItemCategoryNames) once (or,
// without one, the primary category's name), escaped and joined by commas; empty when there is none.
QByteArray CategoriesValue(const QStringList &listNames, const QString &primaryName);
