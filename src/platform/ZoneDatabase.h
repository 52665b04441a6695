#pragma once
// A zone of the system's zone database (/usr/share/zoneinfo), read from its TZif file as it
// stands: local mean time before the first change included, and the file's closing rule for the
// years after its table. Qt's reading gives the later standard offset before the first change.

#include <QByteArray>
#include <QVector>
#include <QtGlobal>

#include <limits>
#include <memory>

class SystemZone {
public:
    struct Change {
        qint64 at = 0;  // UTC seconds
        int from = 0;   // seconds east of UTC before and after
        int to = 0;
        bool toDst = false;
    };
    // The yearly change of the closing rule: month, week (1..4, 5 the last) and weekday (0
    // Sunday) of the local day, the local time of day in seconds, and the offset it starts.
    struct YearlyRule {
        int month = 0;
        int week = 0;
        int weekday = 0;
        int time = 0;
        int toOffset = 0;
        bool toDst = false;
    };

    // The zone of a database name ("America/Denver"); null when the database has no such file or
    // the file is unreadable. Loaded once per name.
    static std::shared_ptr<const SystemZone> load(const QByteArray &name);
    // Parses the bytes of a TZif file; null when they are none.
    static std::shared_ptr<const SystemZone> parse(const QByteArray &bytes);

    int offsetAt(qint64 utcSeconds) const;
    bool isDstAt(qint64 utcSeconds) const;
    // The changes after from and up to to, in order.
    QVector<Change> changes(qint64 from, qint64 to) const;
    // The closing rule's two yearly changes (daylight time on, then off); empty when the zone
    // keeps one offset after its table or its rule is not of month, week and weekday.
    const QVector<YearlyRule> &yearlyRules() const { return m_rules; }
    // The instant the table ends at: from it on the closing rule holds.
    qint64 tableEnd() const { return m_times.isEmpty() ? std::numeric_limits<qint64>::min() : m_times.last(); }

private:
    struct Type {
        int offset = 0;
        bool dst = false;
    };
    bool parseFooter(const QByteArray &footer);
    QVector<Change> ruleChangesIn(int year) const;
    Type typeAt(qint64 utcSeconds) const;

    QVector<qint64> m_times;
    QVector<int> m_typeOf;  // type index of each change
    QVector<Type> m_types;
    Type m_footerStd;
    bool m_hasFooter = false;
    QVector<YearlyRule> m_rules;  // [0] daylight on, [1] off
};
