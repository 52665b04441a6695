// What makes a saved calendar item repeat and ring as the archive's does: the RRULE of each
// repeat pattern (or the reason none can be written), the offsets of the archive's own zone
// blocks, and an event written in its zone with its reminder and categories.

#include "PimSamples.h"
#include "save/pim/CalendarRules.h"
#include "save/pim/PimDates.h"
#include "save/pim/PimItems.h"
#include "scanner/ScanGlobals.h"

#include <QDateTime>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <cstring>
#include <time.h>

namespace {

QByteArray el(const char *name, const QByteArray &value)
{
    return QByteArray("<") + name + " xml:space=\"preserve\">" + value + "</" + name + '>';
}

QString recurrence(const QByteArray &pattern, const QByteArray &ends)
{
    return QString::fromUtf8(ends + el("OPFRecurrencePattern", pattern));
}

QByteArray days(std::initializer_list<const char *> set)
{
    QByteArray out;
    for (const char *d : set)
        out += el(d, "1");
    return el("OPFRecurrencePatternDaysOfWeek", out);
}

QByteArray type(const char *name)
{
    return el("OPFRecurrencePatternType", QByteArray("OPFRecurrencePattern") + name);
}

const QByteArray kCount27 = el("OPFRecurrenceGetOccurenceCount", "2.7E1") + el("OPFRecurrenceIsNumbered", "1");

// The archive's Mountain Time block, as the sample holds it (folded, entities escaped once).
const char kMountain[] = "BEGIN:VCALENDAR\nVERSION:2.0\nBEGIN:VTIMEZONE\nTZID:Mountain Time (US &amp; Canada)\n"
                         "BEGIN:STANDARD\nRRULE:FREQ=YEARLY;INTERVAL=1;BYSECOND=0;BYMINUTE=0;BYHOUR=2;BYDAY=1SU;BYMO\n"
                         " NTH=11\nTZOFFSETFROM:-0600\nTZOFFSETTO:-0700\nDTSTART:20071104T020000\nEND:STANDARD\n"
                         "BEGIN:DAYLIGHT\nRRULE:FREQ=YEARLY;INTERVAL=1;BYSECOND=0;BYMINUTE=0;BYHOUR=2;BYDAY=2SU;BYMO\n"
                         " NTH=3\nTZOFFSETFROM:-0700\nTZOFFSETTO:-0600\nDTSTART:20070311T020000\nEND:DAYLIGHT\n"
                         "END:VTIMEZONE\nEND:VCALENDAR\n";

// Central Europe's rules under a name whose offsets are never theirs.
const char kBerlinNamedDenver[] =
    "BEGIN:VCALENDAR\nBEGIN:VTIMEZONE\nTZID:America/Denver\nBEGIN:STANDARD\nRRULE:FREQ=YEARLY;BYDAY=-1SU;BYMONTH=10\n"
    "TZOFFSETFROM:+0200\nTZOFFSETTO:+0100\nDTSTART:16010101T030000\nEND:STANDARD\nBEGIN:DAYLIGHT\n"
    "RRULE:FREQ=YEARLY;BYDAY=-1SU;BYMONTH=3\nTZOFFSETFROM:+0100\nTZOFFSETTO:+0200\nDTSTART:16010101T020000\n"
    "END:DAYLIGHT\nEND:VTIMEZONE\nEND:VCALENDAR\n";

qint64 utc(const char *text)
{
    qint64 s = 0;
    ArchiveSeconds(QString::fromLatin1(text), &s);
    return s;
}

}  // namespace

class CalendarRulesTest : public QObject {
    Q_OBJECT

private slots:
    void repeatRule_data();
    void repeatRule();
    void weekdayOfMonthAndEnds_data();
    void weekdayOfMonthAndEnds();
    void fittedToStart_data();
    void fittedToStart();
    void zoneOffsets_data();
    void zoneOffsets();
    void eventInItsZone();
    void categoriesReadAsXml_data();
    void categoriesReadAsXml();
    void timesReadersCannotMistake_data();
    void timesReadersCannotMistake();
    void meetingsWhereTheZoneMoved_data();
    void meetingsWhereTheZoneMoved();
    void wallTimesWhateverTheMachine_data();
    void wallTimesWhateverTheMachine();
    void zoneStatedFromTheStart();
    void repeatOnTheItemsOwnDay_data();
    void repeatOnTheItemsOwnDay();
    void zoneNamedByAnOlderExport_data();
    void zoneNamedByAnOlderExport();
    void repeatsAcrossRuleChanges();
    void cleanup()
    {
        qputenv("TZ", "UTC");
        tzset();
    }
};

void CalendarRulesTest::repeatRule_data()
{
    QTest::addColumn<QString>("recurrence");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QByteArray>("rule");  // for a rule; else a word of the reason
    const QByteArray once = el("OPFRecurrencePatternInterval", "1");
    QTest::newRow("weekly on Monday, counted") << recurrence(days({"monday"}) + once + type("Weekly"), kCount27)
                                               << int(RepeatRule::Rule) << QByteArray("FREQ=WEEKLY;INTERVAL=1;BYDAY=MO;COUNT=27");
    QTest::newRow("every other week on weekdays")
        << recurrence(days({"weekdays"}) + el("OPFRecurrencePatternInterval", "2") + type("Weekly"), kCount27)
        << int(RepeatRule::Rule) << QByteArray("FREQ=WEEKLY;INTERVAL=2;BYDAY=MO,TU,WE,TH,FR;WKST=SU;COUNT=27");
    QTest::newRow("daily without an end")
        << recurrence(once + type("Daily"), el("OPFRecurrenceIsNoEnd", "1")) << int(RepeatRule::Rule)
        << QByteArray("FREQ=DAILY;INTERVAL=1");
    QTest::newRow("monthly on the 19th, until a date")
        << recurrence(el("OPFRecurrencePatternDayOfMonth", "19") + once + type("AbsoluteMonthly"),
                      el("OPFRecurrenceCopyEndDate", "2018-12-19T18:30:00") + el("OPFRecurrenceHasEndDate", "1"))
        << int(RepeatRule::Rule) << QByteArray("FREQ=MONTHLY;INTERVAL=1;BYMONTHDAY=19;UNTIL=20181219T183000Z");
    QTest::newRow("yearly on 17 July")
        << recurrence(el("OPFRecurrencePatternDayOfMonth", "17") + once + el("OPFRecurrencePatternMonth", "7")
                          + type("AbsoluteYearly"),
                      el("OPFRecurrenceGetOccurenceCount", "1E0") + el("OPFRecurrenceIsNumbered", "1"))
        << int(RepeatRule::Rule) << QByteArray("FREQ=YEARLY;INTERVAL=1;BYMONTH=7;BYMONTHDAY=17;COUNT=1");
    QTest::newRow("no recurrence") << QString() << int(RepeatRule::None) << QByteArray();
    QTest::newRow("a weekday of the month without day or start is said in words")
        << recurrence(once + type("RelativeMonthly"), kCount27) << int(RepeatRule::Unsupported)
        << QByteArray("the weekday, week or month it repeats on is missing");
    QTest::newRow("an unknown kind") << recurrence(once + type("Hourly"), kCount27) << int(RepeatRule::Unsupported)
                                     << QByteArray("of a kind");
    QTest::newRow("no interval") << recurrence(type("Daily"), kCount27) << int(RepeatRule::Unsupported)
                                 << QByteArray("interval");
    QTest::newRow("a broken day of the month") << recurrence(el("OPFRecurrencePatternDayOfMonth", "40") + once
                                                                 + type("AbsoluteMonthly"), kCount27)
                                               << int(RepeatRule::Unsupported) << QByteArray("day of the month");
    QTest::newRow("no end at all") << recurrence(once + type("Daily"), QByteArray()) << int(RepeatRule::Unsupported)
                                   << QByteArray("end");
    QTest::newRow("day 31: the last day of every month")
        << recurrence(el("OPFRecurrencePatternDayOfMonth", "31") + once + type("AbsoluteMonthly"), kCount27)
        << int(RepeatRule::Rule) << QByteArray("FREQ=MONTHLY;INTERVAL=1;BYMONTHDAY=-1;COUNT=27");
    QTest::newRow("day 30: February's last")
        << recurrence(el("OPFRecurrencePatternDayOfMonth", "30") + once + type("AbsoluteMonthly"), kCount27)
        << int(RepeatRule::Rule) << QByteArray("FREQ=MONTHLY;INTERVAL=1;BYMONTHDAY=28,29,30;BYSETPOS=-1;COUNT=27");
    QTest::newRow("a count that is no whole number")
        << recurrence(once + type("Daily"), el("OPFRecurrenceGetOccurenceCount", "2.5") + el("OPFRecurrenceIsNumbered", "1"))
        << int(RepeatRule::Unsupported) << QByteArray("end");
}

void CalendarRulesTest::repeatRule()
{
    QFETCH(QString, recurrence);
    QFETCH(int, kind);
    QFETCH(QByteArray, rule);
    const RepeatRule r = RepeatRuleOf(recurrence, ArchiveDateUtc);
    QCOMPARE(int(r.kind), kind);
    if (kind == RepeatRule::Unsupported)
        QVERIFY2(r.reason.contains(QString::fromLatin1(rule)), qPrintable(r.reason));
    else
        QCOMPARE(r.rrule, rule);
}

// Weekday-of-the-month patterns take what they leave out from the start's day; a count beyond
// any calendar's use means no end, unless an end date bounds it.
void CalendarRulesTest::weekdayOfMonthAndEnds_data()
{
    QTest::addColumn<QString>("recurrence");
    QTest::addColumn<QByteArray>("start");
    QTest::addColumn<QByteArray>("rule");  // empty: no rule
    const QByteArray once = el("OPFRecurrencePatternInterval", "1");
    const QByteArray six = el("OPFRecurrenceGetOccurenceCount", "6E0") + el("OPFRecurrenceIsNumbered", "1");
    const QByteArray monthly = type("RelativeMonthly");
    QTest::newRow("second Tuesday, from the start")
        << recurrence(days({"tuesday"}) + once + monthly, six) << QByteArray("20180612T160000Z")
        << QByteArray("FREQ=MONTHLY;INTERVAL=1;BYDAY=2TU;COUNT=6");
    QTest::newRow("second Tuesday, as the pattern says")
        << recurrence(days({"tuesday"}) + once + monthly + el("OPFRecurrencePatternWeek", "2"), six) << QByteArray()
        << QByteArray("FREQ=MONTHLY;INTERVAL=1;BYDAY=2TU;COUNT=6");
    QTest::newRow("week 5 is the last") << recurrence(
        days({"monday"}) + once + el("OPFRecurrencePatternMonth", "5") + type("RelativeYearly")
            + el("OPFRecurrencePatternWeek", "5"),
        six) << QByteArray("20180528") << QByteArray("FREQ=YEARLY;INTERVAL=1;BYMONTH=5;BYDAY=-1MO;COUNT=6");
    QTest::newRow("last Monday of May, from the start")
        << recurrence(days({"monday"}) + once + type("RelativeYearly"), six) << QByteArray("20180528")
        << QByteArray("FREQ=YEARLY;INTERVAL=1;BYMONTH=5;BYDAY=-1MO;COUNT=6");
    QTest::newRow("first weekday of every other month")
        << recurrence(days({"weekdays"}) + el("OPFRecurrencePatternInterval", "2") + monthly, six)
        << QByteArray("20180601") << QByteArray("FREQ=MONTHLY;INTERVAL=2;BYDAY=MO,TU,WE,TH,FR;BYSETPOS=1;COUNT=6");
    QTest::newRow("a week no month has") << recurrence(
        days({"monday"}) + once + monthly + el("OPFRecurrencePatternWeek", "7"), six)
                                         << QByteArray("20180604") << QByteArray();
    QTest::newRow("a billion times as stored") << recurrence(
        once + type("Daily"), el("OPFRecurrenceGetOccurenceCount", "1E9") + el("OPFRecurrenceIsNumbered", "1"))
                                               << QByteArray("20180604") << QByteArray("FREQ=DAILY;INTERVAL=1;COUNT=1000000000");
    QTest::newRow("a billion times, also until a date, by its count")
        << recurrence(once + type("Daily"),
                      el("OPFRecurrenceGetOccurenceCount", "1E9") + el("OPFRecurrenceIsNumbered", "1")
                          + el("OPFRecurrenceCopyEndDate", "2018-07-01T10:00:00") + el("OPFRecurrenceHasEndDate", "1"))
        << QByteArray("20180604") << QByteArray("FREQ=DAILY;INTERVAL=1;COUNT=1000000000");
}

void CalendarRulesTest::weekdayOfMonthAndEnds()
{
    QFETCH(QString, recurrence);
    QFETCH(QByteArray, start);
    QFETCH(QByteArray, rule);
    const RepeatRule r = RepeatRuleOf(recurrence, ArchiveDateUtc, start);
    QCOMPARE(r.rrule, rule);
    QCOMPARE(r.kind, rule.isEmpty() ? RepeatRule::Unsupported : RepeatRule::Rule);
}

// A rule whose days the start is not on would move every occurrence: a Tokyo task due at local
// midnight on a Wednesday starts on Tuesday in UTC.
void CalendarRulesTest::fittedToStart_data()
{
    QTest::addColumn<QByteArray>("rule");
    QTest::addColumn<QByteArray>("start");
    QTest::addColumn<bool>("kept");
    QTest::newRow("Wednesday start, Wednesdays") << QByteArray("FREQ=WEEKLY;BYDAY=WE;COUNT=3") << QByteArray("20180620T060000Z") << true;
    QTest::newRow("one of the named days") << QByteArray("FREQ=WEEKLY;BYDAY=MO,WE,FR") << QByteArray("20180622") << true;
    QTest::newRow("Tuesday in UTC, Wednesdays") << QByteArray("FREQ=WEEKLY;BYDAY=WE") << QByteArray("20180619T150000Z") << false;
    QTest::newRow("the 19th, monthly on the 19th") << QByteArray("FREQ=MONTHLY;BYMONTHDAY=19") << QByteArray("20180719T113000") << true;
    QTest::newRow("the 18th, monthly on the 19th") << QByteArray("FREQ=MONTHLY;BYMONTHDAY=19") << QByteArray("20180718T233000Z") << false;
    QTest::newRow("another month, yearly") << QByteArray("FREQ=YEARLY;BYMONTH=7;BYMONTHDAY=17") << QByteArray("20180617") << false;
    QTest::newRow("daily needs no day") << QByteArray("FREQ=DAILY;INTERVAL=2") << QByteArray("20180617T000000Z") << true;
    QTest::newRow("no start") << QByteArray("FREQ=DAILY") << QByteArray() << false;
    QTest::newRow("the second Tuesday") << QByteArray("FREQ=MONTHLY;BYDAY=2TU") << QByteArray("20180612") << true;
    QTest::newRow("the third Tuesday") << QByteArray("FREQ=MONTHLY;BYDAY=2TU") << QByteArray("20180619") << false;
    QTest::newRow("the last Monday of May") << QByteArray("FREQ=YEARLY;BYMONTH=5;BYDAY=-1MO") << QByteArray("20180528") << true;
    QTest::newRow("a Monday of May, not the last") << QByteArray("FREQ=YEARLY;BYMONTH=5;BYDAY=-1MO") << QByteArray("20180521") << false;
    QTest::newRow("the first weekday") << QByteArray("FREQ=MONTHLY;BYDAY=MO,TU,WE,TH,FR;BYSETPOS=1") << QByteArray("20180701T") << false;
    QTest::newRow("the first weekday of July") << QByteArray("FREQ=MONTHLY;BYDAY=MO,TU,WE,TH,FR;BYSETPOS=1") << QByteArray("20180702") << true;
    QTest::newRow("the 30th, or February's last") << QByteArray("FREQ=MONTHLY;BYMONTHDAY=28,29,30;BYSETPOS=-1") << QByteArray("20180228") << true;
    QTest::newRow("the 28th of January is not the 30th") << QByteArray("FREQ=MONTHLY;BYMONTHDAY=28,29,30;BYSETPOS=-1") << QByteArray("20180128") << false;
    QTest::newRow("the month's last day") << QByteArray("FREQ=MONTHLY;BYMONTHDAY=-1") << QByteArray("20180430") << true;
}

void CalendarRulesTest::fittedToStart()
{
    QFETCH(QByteArray, rule);
    QFETCH(QByteArray, start);
    QFETCH(bool, kept);
    const RepeatRule fitted = FittedToStart(RepeatRule{RepeatRule::Rule, rule, QString()}, start);
    QCOMPARE(fitted.kind == RepeatRule::Rule, kept);
    QVERIFY(kept ? fitted.rrule == rule : !fitted.reason.isEmpty());
}

void CalendarRulesTest::zoneOffsets_data()
{
    QTest::addColumn<QString>("block");
    QTest::addColumn<QString>("instant");
    QTest::addColumn<QByteArray>("local");  // empty: the block is not used
    const QString mountain = QString::fromLatin1(kMountain).replace(QLatin1String("&amp;"), QLatin1String("&"));
    QTest::newRow("summer") << mountain << "2018-06-18T17:30:00" << QByteArray("20180618T113000");
    QTest::newRow("winter") << mountain << "2018-12-17T18:30:00" << QByteArray("20181217T113000");
    QTest::newRow("a second before the November change") << mountain << "2018-11-04T07:59:59"
                                                         << QByteArray("20181104T015959");
    QTest::newRow("at the November change") << mountain << "2018-11-04T08:00:00" << QByteArray("20181104T010000");
    QTest::newRow("at the March change") << mountain << "2019-03-10T09:00:00" << QByteArray("20190310T030000");
    QTest::newRow("new year keeps winter time") << mountain << "2019-01-01T07:00:00" << QByteArray("20190101T000000");
    QTest::newRow("last Sunday rules, Europe")
        << QStringLiteral("BEGIN:VTIMEZONE\nTZID:W. Europe\nBEGIN:STANDARD\nRRULE:FREQ=YEARLY;BYDAY=-1SU;BYMONTH=10\n"
                          "TZOFFSETFROM:+0200\nTZOFFSETTO:+0100\nDTSTART:16010101T030000\nEND:STANDARD\nBEGIN:DAYLIGHT\n"
                          "RRULE:FREQ=YEARLY;BYDAY=-1SU;BYMONTH=3\nTZOFFSETFROM:+0100\nTZOFFSETTO:+0200\n"
                          "DTSTART:16010101T020000\nEND:DAYLIGHT\nEND:VTIMEZONE")
        << "2020-03-29T01:00:00" << QByteArray("20200329T030000");
    QTest::newRow("a zone without changes")
        << QStringLiteral("BEGIN:VTIMEZONE\nTZID:India\nBEGIN:STANDARD\nTZOFFSETFROM:+0530\nTZOFFSETTO:+0530\n"
                          "DTSTART:16010101T000000\nEND:STANDARD\nEND:VTIMEZONE")
        << "2020-01-01T00:00:00" << QByteArray("20200101T053000");
    QTest::newRow("a rule readers may read otherwise is not used")
        << QString(mountain).replace(QLatin1String("BYDAY=1SU"), QLatin1String("BYMONTHDAY=4"))
        << "2018-06-18T17:30:00" << QByteArray();
    QTest::newRow("no TZID") << QString(mountain).remove(QStringLiteral("TZID:Mountain Time (US & Canada)\n"))
                             << "2018-06-18T17:30:00" << QByteArray();
    QTest::newRow("an observance without its offsets")
        << QString(mountain).remove(QStringLiteral("TZOFFSETTO:-0700\n")) << "2018-06-18T17:30:00" << QByteArray();
    QTest::newRow("a line that is no content line")
        << QString(mountain).replace(QLatin1String("END:DAYLIGHT"), QLatin1String("garbage\nEND:DAYLIGHT"))
        << "2018-06-18T17:30:00" << QByteArray();
    QTest::newRow("a component the block may not hold")
        << QString(mountain).replace(QLatin1String("END:DAYLIGHT"), QLatin1String("BEGIN:VALARM\nEND:DAYLIGHT"))
        << "2018-06-18T17:30:00" << QByteArray();
    QTest::newRow("no block") << QStringLiteral("BEGIN:VCALENDAR\nEND:VCALENDAR") << "2018-06-18T17:30:00"
                              << QByteArray();
}

void CalendarRulesTest::zoneOffsets()
{
    QFETCH(QString, block);
    QFETCH(QString, instant);
    QFETCH(QByteArray, local);
    const ZoneRules zone(block);
    QCOMPARE(zone.isValid(), !local.isEmpty());
    if (zone.isValid())
        QCOMPARE(zone.localTime(utc(instant.toLatin1().constData())), local);
}

void CalendarRulesTest::categoriesReadAsXml_data()
{
    QTest::addColumn<QByteArray>("list");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("single quotes, self-closing, other attributes first")
        << QByteArray("<category OPFCategoryCopyBackgroundColor=\"#fff\" OPFCategoryCopyName='Work'/>") << QByteArray("Work");
    QTest::newRow("quote by reference, literal line break a blank")
        << QByteArray("<category OPFCategoryCopyName=\"Say &quot;hi&quot;\r\nnow\"></category>") << QByteArray("Say \"hi\" now");
    QTest::newRow("reference undone once, numeric too")
        << QByteArray("<category OPFCategoryCopyName=\"&amp;lt;R&#38;D&gt;\"/>") << QByteArray("&lt\\;R&D>");
    QTest::newRow("comment and CDATA hold no category, repeats kept once")
        << QByteArray("<!-- <category OPFCategoryCopyName=\"Ghost\"/> --><category OPFCategoryCopyName=\"A\"/>"
                      "<![CDATA[<category OPFCategoryCopyName=\"Ghost\"/>]]><category OPFCategoryCopyName=\" A \"/>")
        << QByteArray("A");
}

void CalendarRulesTest::categoriesReadAsXml()
{
    QFETCH(QByteArray, list);
    QFETCH(QByteArray, expected);
    const QByteArray item = "<task>" + el("OPFTaskCopyCategoryList", list) + "</task>";
    const QStringList names = ItemCategoryNames(std::string_view(item.constData(), size_t(item.size())), "</task>",
                                                "<OPFTaskCopyCategoryList");
    QCOMPARE(CategoriesValue(names, QStringLiteral("Primary")), expected);
}

// The sample's weekly meeting: its zone's block before the event, its start and end in that
// zone, its rule, reminder and category; an all-day event's dates are its zone's days, whatever
// the saving machine's zone.
void CalendarRulesTest::eventInItsZone()
{
    qputenv("TZ", "Asia/Tokyo");
    tzset();
    const QByteArray weekly = el("OPFRecurrencePattern", days({"monday"}) + el("OPFRecurrencePatternInterval", "1")
                                                             + type("Weekly"));
    const QByteArray element = "<appointment>"
        + el("OPFCalendarEventCopyCategoryList",
             "<category xml:space=\"preserve\" OPFCategoryCopyName=\"Friends &amp; co\"></category>"
             "<category xml:space=\"preserve\" OPFCategoryCopyName=\"Work\"></category>")
        + el("OPFCalendarEventCopyEndTime", "2018-06-18T18:00:00")
        + el("OPFCalendarEventCopyRecurrence", kCount27 + weekly)
        + el("OPFCalendarEventCopyReminderDelta", "900") + el("OPFCalendarEventCopyStartTime", "2018-06-18T17:30:00")
        + el("OPFCalendarEventGetHasReminder", "1") + el("OPFCalendarEventGetStartTimeZoneICSData", kMountain)
        + "</appointment>";
    CalenderInformation rec;
    memset(&rec, 0, sizeof rec);
    QString unwritten;
    const QByteArray file = CalendarEventFile(rec, QStringLiteral("U"), std::string_view(element.constData(), size_t(element.size())),
                                              QByteArray(), "20240305T101112Z", &unwritten);
    QVERIFY(unwritten.isEmpty());
    const QByteArray unfolded = QByteArray(file).replace("\r\n ", "");
    const int zoneAt = file.indexOf("BEGIN:VTIMEZONE\r\nTZID:Mountain Time (US & Canada)\r\n");
    QVERIFY2(zoneAt > 0 && zoneAt < file.indexOf("BEGIN:VEVENT"), file.constData());
    QVERIFY(unfolded.contains("RRULE:FREQ=YEARLY;INTERVAL=1;BYSECOND=0;BYMINUTE=0;BYHOUR=2;BYDAY=1SU;BYMONTH=11\r\n"));
    for (const char *line : {"DTSTART;TZID=Mountain Time (US & Canada):20180618T113000\r\n",
                             "DTEND;TZID=Mountain Time (US & Canada):20180618T120000\r\n",
                             "RRULE:FREQ=WEEKLY;INTERVAL=1;BYDAY=MO;COUNT=27\r\n", "CATEGORIES:Friends & co,Work\r\n",
                             "BEGIN:VALARM\r\nACTION:DISPLAY\r\nDESCRIPTION:Reminder\r\nTRIGGER:-PT15M\r\nEND:VALARM\r\n"})
        QVERIFY2(file.contains(line), line);

    // All day in Mountain time: the 19th there, though Tokyo has the 19th's afternoon.
    QByteArray allDay = element;
    allDay.replace("2018-06-18T17:30:00", "2018-06-19T06:00:00").replace("2018-06-18T18:00:00", "2018-06-20T06:00:00");
    allDay.replace("</appointment>", el("OPFCalendarEventGetIsAllDayEvent", "1") + "</appointment>");
    allDay.replace(el("OPFRecurrencePatternType", "OPFRecurrencePatternWeekly"),
                   el("OPFRecurrencePatternType", "OPFRecurrencePatternRelativeYearly"));
    const QByteArray day = CalendarEventFile(rec, QStringLiteral("U"), std::string_view(allDay.constData(), size_t(allDay.size())),
                                             QByteArray(), "20240305T101112Z", &unwritten);
    QVERIFY2(day.contains("DTSTART;VALUE=DATE:20180619\r\nDTEND;VALUE=DATE:20180620\r\n"), day.constData());
    // Mondays yearly from a Tuesday: a single item, and the true reason for the log.
    QVERIFY(!day.contains("RRULE:") && !day.contains("BEGIN:VTIMEZONE"));
    QVERIFY2(unwritten.contains(QLatin1String("is not on a day its repeat pattern names"))
                 && !unwritten.contains(QLatin1String("OPF")),
             qPrintable(unwritten));

    // An empty title is a title; one whose element never closes is named as lost.
    for (const bool closed : {true, false}) {
        QByteArray titled = element;
        titled.replace("</appointment>", closed ? el("OPFCalendarEventCopySummary", "") + "</appointment>"
                                                : "<OPFCalendarEventCopySummary xml:space=\"preserve\">Lost</appointment>");
        CalendarEventFile(rec, QStringLiteral("U"), std::string_view(titled.constData(), size_t(titled.size())),
                          QByteArray(), "20240305T101112Z", &unwritten);
        QCOMPARE(unwritten.contains(QLatin1String("its title could not be read")), !closed);
    }
}

// A local time in the hour that repeats when clocks go back names two instants: such a start or
// end is written in UTC. An end before the start is left out, and said.
void CalendarRulesTest::timesReadersCannotMistake_data()
{
    QTest::addColumn<QByteArray>("start");
    QTest::addColumn<QByteArray>("end");
    QTest::addColumn<QByteArray>("lines");
    QTest::addColumn<QString>("lost");
    const QByteArray zone = "DTSTART;TZID=Mountain Time (US & Canada):";
    QTest::newRow("first 01:30 of the night clocks go back")
        << QByteArray("2018-11-04T07:30:00") << QByteArray("2018-11-04T07:45:00")
        << QByteArray("DTSTART:20181104T073000Z\r\nDTEND:20181104T074500Z\r\n") << QString();
    QTest::newRow("second 01:30, ending after the hour")
        << QByteArray("2018-11-04T08:30:00") << QByteArray("2018-11-04T09:30:00")
        << QByteArray("DTSTART:20181104T083000Z\r\nDTEND;TZID=Mountain Time (US & Canada):20181104T023000\r\n")
        << QString();
    QTest::newRow("the hour before") << QByteArray("2018-11-04T06:30:00") << QByteArray()
                                     << zone + "20181104T003000\r\n"
                                     << QString();
    QTest::newRow("a single time before the zone data: UTC")
        << QByteArray("2005-07-04T16:00:00") << QByteArray("2005-07-04T17:00:00")
        << QByteArray("DTSTART:20050704T160000Z\r\nDTEND:20050704T170000Z\r\n") << QString();
    QTest::newRow("an unreadable end is named") << QByteArray("2018-06-18T17:30:00") << QByteArray("2018-13-45T10:00:00")
                                                << zone + "20180618T113000\r\nEND:VEVENT"
                                                << QStringLiteral("its end time (2018-13-45T10:00:00) is no real date");
    QTest::newRow("an end before the start") << QByteArray("2018-06-18T17:30:00") << QByteArray("2018-06-18T16:00:00")
                                             << zone + "20180618T113000\r\nEND:VEVENT"
                                             << QStringLiteral("its end (2018-06-18T16:00:00) is before its start");
}

void CalendarRulesTest::meetingsWhereTheZoneMoved_data()
{
    QTest::addColumn<QByteArray>("zone");
    QTest::addColumn<QByteArray>("start");
    QTest::addColumn<QByteArray>("line");
    // Samoa ran at -10 in January 2011 and at +13 since 2021; its block gives +13 only: the time
    // is written with the zone's history as its block.
    QTest::newRow("Apia 2011, by its Windows id: its history")
        << QByteArray(kApiaZone) << QByteArray("2011-01-15T19:00:00")
        << QByteArray("TZOFFSETFROM:-1100\r\nTZOFFSETTO:-1000\r\nEND:DAYLIGHT\r\nEND:VTIMEZONE\r\n"
                      "BEGIN:VEVENT\r\nUID:U\r\nDTSTAMP:20240305T101112Z\r\n"
                      "DTSTART;TZID=Samoa Standard Time:20110115T090000\r\n");
    QTest::newRow("Apia 2023: its local time") << QByteArray(kApiaZone) << QByteArray("2023-01-14T20:00:00")
                                               << QByteArray("DTSTART;TZID=Samoa Standard Time:20230115T090000\r\n");
    QTest::newRow("Denver 2008, by the exporter's legacy name: its local time")
        << QByteArray(kDenverNamedZone) << QByteArray("2008-07-04T16:00:00")
        << QByteArray("DTSTART;TZID=Mountain Time (US & Canada):20080704T100000\r\n");
}

// A meeting is written at its local time, with its block where the zone's history and the block
// agree, else with that history: readers that take the zone by its name and those that take the
// block then read one instant.
void CalendarRulesTest::meetingsWhereTheZoneMoved()
{
    QFETCH(QByteArray, zone);
    QFETCH(QByteArray, start);
    QFETCH(QByteArray, line);
    const QByteArray element = "<appointment>" + el("OPFCalendarEventCopyStartTime", start)
        + el("OPFCalendarEventGetStartTimeZoneICSData", zone) + "</appointment>";
    CalenderInformation rec;
    memset(&rec, 0, sizeof rec);
    const QByteArray file =
        CalendarEventFile(rec, QStringLiteral("U"), std::string_view(element.constData(), size_t(element.size())),
                          QByteArray(), "20240305T101112Z");
    QVERIFY2(file.contains(line), file.constData());
}

void CalendarRulesTest::timesReadersCannotMistake()
{
    QFETCH(QByteArray, start);
    QFETCH(QByteArray, end);
    QFETCH(QByteArray, lines);
    QFETCH(QString, lost);
    QByteArray element = "<appointment>";
    if (!end.isEmpty())
        element += el("OPFCalendarEventCopyEndTime", end);
    element += el("OPFCalendarEventCopyStartTime", start) + el("OPFCalendarEventGetStartTimeZoneICSData", kMountain)
        + "</appointment>";
    CalenderInformation rec;
    memset(&rec, 0, sizeof rec);
    QString unwritten;
    const QByteArray file =
        CalendarEventFile(rec, QStringLiteral("U"), std::string_view(element.constData(), size_t(element.size())),
                          QByteArray(), "20240305T101112Z", &unwritten);
    QVERIFY2(file.contains(lines), file.constData());
    QVERIFY2(lost.isEmpty() ? unwritten.isEmpty() : unwritten.contains(lost), qPrintable(unwritten));
}

// Archive times are wall times: a time in the machine's own clock change, or with seconds before
// a zone letter, is read as written in any zone.
void CalendarRulesTest::wallTimesWhateverTheMachine_data()
{
    QTest::addColumn<QByteArray>("machine");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("wall");  // empty: no real date
    QTest::newRow("New York's spring gap") << QByteArray("America/New_York") << "2018-03-11T02:30:00"
                                           << QByteArray("20180311T023000");
    QTest::newRow("Berlin's spring gap") << QByteArray("Europe/Berlin") << "2018-03-25T02:30:00"
                                         << QByteArray("20180325T023000");
    QTest::newRow("Lord Howe's half hour") << QByteArray("Australia/Lord_Howe") << "2018-10-07T02:15:00"
                                           << QByteArray("20181007T021500");
    QTest::newRow("seconds before a zone letter") << QByteArray("America/Denver") << "2010-05-06T10:20:30Z"
                                                  << QByteArray("20100506T102030");
    QTest::newRow("no such month") << QByteArray("America/Denver") << "2018-13-45" << QByteArray();
}

void CalendarRulesTest::wallTimesWhateverTheMachine()
{
    QFETCH(QByteArray, machine);
    QFETCH(QString, text);
    QFETCH(QByteArray, wall);
    qputenv("TZ", machine);
    tzset();
    qint64 seconds = 0;
    QCOMPARE(ArchiveSeconds(text, &seconds), !wall.isEmpty());
    if (!wall.isEmpty())
        QCOMPARE(PackedWallTime(seconds), wall);
    QCOMPARE(ArchiveDateUtc(text), wall.isEmpty() ? QByteArray() : wall + 'Z');
    // The zone block's own onsets are wall times too: a US machine has no 02:00 on their night.
    const ZoneRules zone(QString::fromLatin1(kMountain));
    QVERIFY(zone.isValid());
    QCOMPARE(zone.localTime(utc("2018-12-17T18:30:00")), QByteArray("20181217T113000"));
}

// A repeat from before the block's first onset: the block's rules are stated from the year
// before its start, so readers agree on its local time.
void CalendarRulesTest::zoneStatedFromTheStart()
{
    const ZoneRules zone(QString::fromLatin1(kMountain));
    const qint64 start = utc("2005-07-04T16:00:00");
    QVERIFY(!zone.covers(start) && zone.covers(utc("2007-03-11T09:00:00")));
    const ZoneRules stated = zone.extendedTo(start);
    QVERIFY(stated.covers(start));
    QCOMPARE(stated.localTime(start), QByteArray("20050704T100000"));
    QVERIFY(stated.lines().contains("DTSTART:20041107T020000") && stated.lines().contains("DTSTART:20040314T020000"));
    QCOMPARE(stated.localTime(utc("2018-12-17T18:30:00")), QByteArray("20181217T113000"));
    // A block whose onsets end cannot be stated further back.
    const ZoneRules bounded(QString::fromLatin1(kMountain).replace(QLatin1String("BYHOUR=2;BYDAY=2SU"),
                                                                   QLatin1String("BYHOUR=2;UNTIL=20200308T090000Z;BYDAY=2SU")));
    QVERIFY(bounded.isValid());
    QVERIFY(!bounded.extendedTo(start).covers(start));
}

// Items without zone data in an archive that shows no zone are written in UTC: a pattern that
// names the item's own day (the day after UTC's east of it, the day before west of it) is moved
// to the UTC day.
void CalendarRulesTest::repeatOnTheItemsOwnDay_data()
{
    QTest::addColumn<QString>("recurrence");
    QTest::addColumn<QByteArray>("start");
    QTest::addColumn<QByteArray>("rule");  // empty: a single item
    const QByteArray once = el("OPFRecurrencePatternInterval", "1");
    const QByteArray ten = el("OPFRecurrenceGetOccurenceCount", "1E1") + el("OPFRecurrenceIsNumbered", "1");
    QTest::newRow("Berlin's Wednesday midnight") << recurrence(days({"wednesday"}) + once + type("Weekly"), ten)
                                                 << QByteArray("20180619T220000Z")
                                                 << QByteArray("FREQ=WEEKLY;INTERVAL=1;BYDAY=TU;COUNT=10");
    QTest::newRow("Tokyo's 20th") << recurrence(el("OPFRecurrencePatternDayOfMonth", "20") + once
                                                    + type("AbsoluteMonthly"), ten)
                                  << QByteArray("20180619T150000Z")
                                  << QByteArray("FREQ=MONTHLY;INTERVAL=1;BYMONTHDAY=19;COUNT=10");
    QTest::newRow("a Monday evening in Los Angeles") << recurrence(days({"monday"}) + once + type("Weekly"), ten)
                                                     << QByteArray("20180619T030000Z")
                                                     << QByteArray("FREQ=WEEKLY;INTERVAL=1;BYDAY=TU;COUNT=10");
    QTest::newRow("1 March east of UTC is February's last")
        << recurrence(el("OPFRecurrencePatternDayOfMonth", "1") + once + el("OPFRecurrencePatternMonth", "3")
                          + type("AbsoluteYearly"), ten)
        << QByteArray("20180228T230000Z") << QByteArray("FREQ=YEARLY;INTERVAL=1;BYMONTH=2;BYMONTHDAY=-1;COUNT=10");
    // East of UTC+12 an early morning is the next day although UTC's clock is before noon.
    QTest::newRow("Kiritimati's 1st at 01:00") << recurrence(el("OPFRecurrencePatternDayOfMonth", "1") + once
                                                                 + type("AbsoluteMonthly"), ten)
                                               << QByteArray("20190131T110000Z")
                                               << QByteArray("FREQ=MONTHLY;INTERVAL=1;BYMONTHDAY=-1;COUNT=10");
    QTest::newRow("Auckland's Wednesday at 09:00 in summer")
        << recurrence(days({"wednesday"}) + once + type("Weekly"), ten) << QByteArray("20190115T200000Z")
        << QByteArray("FREQ=WEEKLY;INTERVAL=1;BYDAY=TU;COUNT=10");
    QTest::newRow("Auckland's Wednesday at 11:30 in summer")
        << recurrence(days({"wednesday"}) + once + type("Weekly"), ten) << QByteArray("20190115T223000Z")
        << QByteArray("FREQ=WEEKLY;INTERVAL=1;BYDAY=TU;COUNT=10");
    QTest::newRow("Kiritimati's Wednesday at 01:00")
        << recurrence(days({"wednesday"}) + once + type("Weekly"), ten) << QByteArray("20190115T110000Z")
        << QByteArray("FREQ=WEEKLY;INTERVAL=1;BYDAY=TU;COUNT=10");
    QTest::newRow("on the UTC day already") << recurrence(days({"tuesday"}) + once + type("Weekly"), ten)
                                            << QByteArray("20180619T220000Z")
                                            << QByteArray("FREQ=WEEKLY;INTERVAL=1;BYDAY=TU;COUNT=10");
    QTest::newRow("a weekday of the month does not move day by day")
        << recurrence(days({"wednesday"}) + once + type("RelativeMonthly") + el("OPFRecurrencePatternWeek", "3"), ten)
        << QByteArray("20180619T220000Z") << QByteArray();
}

void CalendarRulesTest::repeatOnTheItemsOwnDay()
{
    QFETCH(QString, recurrence);
    QFETCH(QByteArray, start);
    QFETCH(QByteArray, rule);
    const RepeatRule r = ZonelessRepeatRule(recurrence, [](const QString &) { return QByteArray(); }, start);
    QCOMPARE(r.kind, rule.isEmpty() ? RepeatRule::Unsupported : RepeatRule::Rule);
    QCOMPARE(r.rrule, rule);
}

// A block names its zone whatever year it was exported in: its name gives the day its history
// gives, local mean time included; a name whose offsets are never the block's is refused.
void CalendarRulesTest::zoneNamedByAnOlderExport_data()
{
    QTest::addColumn<QByteArray>("zone");
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QByteArray>("day");
    const QString apiaMidnight = QStringLiteral("2005-06-15T11:00:00");  // Apia ran at -11 then
    QTest::newRow("Apia by a block of 2015's summer rules") << QByteArray(kApia2015Zone) << apiaMidnight
                                                            << QByteArray("20050615");
    QTest::newRow("Apia by 2010's -10 block") << QByteArray(kApia2010Zone) << apiaMidnight << QByteArray("20050615");
    QTest::newRow("Apia by today's +13 block") << QByteArray(kApiaZone) << apiaMidnight << QByteArray("20050615");
    QTest::newRow("Riyadh's local mean time of 1930") << QByteArray(kRiyadhZone) << "1930-05-09T20:53:08"
                                                      << QByteArray("19300510");
    QTest::newRow("Kathmandu's local mean time of 1900") << QByteArray(kKathmanduZone) << "1900-02-28T18:18:44"
                                                         << QByteArray("19000301");
    QTest::newRow("Denver before 18 Nov 1883") << QByteArray(kDenverNamedZone) << "1883-06-01T06:59:56"
                                               << QByteArray("18830601");
    QTest::newRow("Berlin's rules under Denver's name: the block") << QByteArray(kBerlinNamedDenver)
                                                                   << "2005-06-14T22:00:00" << QByteArray("20050615");
}

void CalendarRulesTest::zoneNamedByAnOlderExport()
{
    QFETCH(QByteArray, zone);
    QFETCH(QString, stored);
    QFETCH(QByteArray, day);
    const ZoneRules rules(QString::fromLatin1(zone).replace(QLatin1String("&amp;"), QLatin1String("&")));
    QVERIFY(rules.isValid());
    QCOMPARE(ArchiveDateLocalDay(stored, &rules), day);
}

namespace {

// Python 3 on one of the test's helper modes; its output.
QByteArray readBack(const QStringList &args, const QByteArray &input = QByteArray())
{
    QProcess python;
    python.start(QStringLiteral("/usr/bin/python3"),
                 QStringList{QStringLiteral(OLM_SOURCE_DIR "/tests/save/zone_readback.py")} + args);
    python.write(input);
    python.closeWriteChannel();
    if (!python.waitForFinished(300000) || python.exitCode() != 0)
        return "PROBLEM the check did not run: " + python.readAllStandardError();
    return python.readAllStandardOutput();
}

QByteArray archiveText(qint64 seconds)
{
    return QDateTime::fromSecsSinceEpoch(seconds, Qt::UTC).toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")).toLatin1();
}

struct SeriesRow {
    const char *name;
    const char *zone;  // the zone its user meant
    const char *block;
    const char *kind;  // weekly, monthly, yearly
    int count;
    const char *firstWall;
};

// Series across every change of rules of their zones, each in a block of another year's rules.
const SeriesRow kSeries[] = {
    {"Denver weekly across 1986-1987", "America/Denver", kDenverNamedZone, "weekly", 60, "1986-03-03T10:00"},
    {"Denver monthly across 1987", "America/Denver", kDenverNamedZone, "monthly", 30, "1986-01-15T10:00"},
    {"Denver yearly 1980-2010", "America/Denver", kDenverNamedZone, "yearly", 31, "1980-04-10T10:00"},
    {"Denver yearly across 2007", "America/Denver", kDenverNamedZone, "yearly", 15, "2000-03-20T10:00"},
    {"Denver weekly from 2005-03-14", "America/Denver", kDenverNamedZone, "weekly", 60, "2005-03-14T10:00"},
    {"Denver monthly from 2005-03-15", "America/Denver", kDenverNamedZone, "monthly", 60, "2005-03-15T10:00"},
    {"Denver weekly from 2006-10-30", "America/Denver", kDenverNamedZone, "weekly", 60, "2006-10-30T10:00"},
    {"Moscow weekly across 2011", "Europe/Moscow", kMoscowZone, "weekly", 60, "2010-06-07T09:00"},
    {"Moscow weekly across 2014", "Europe/Moscow", kMoscowZone, "weekly", 60, "2014-06-02T09:00"},
    {"Moscow monthly 2010-2015", "Europe/Moscow", kMoscowZone, "monthly", 72, "2010-01-20T09:00"},
    {"Moscow yearly 2008-2017", "Europe/Moscow", kMoscowZone, "yearly", 10, "2008-11-20T09:00"},
    {"Apia weekly across the date line", "Pacific/Apia", kApiaZone, "weekly", 60, "2010-06-07T10:00"},
    {"Apia monthly across the date line", "Pacific/Apia", kApiaZone, "monthly", 50, "2010-06-10T10:00"},
    {"Apia weekly across 2021", "Pacific/Apia", kApiaZone, "weekly", 60, "2020-06-01T10:00"},
    {"Apia yearly 2009-2024", "Pacific/Apia", kApiaZone, "yearly", 16, "2009-01-20T10:00"},
    {"Apia weekly from 2004 by 2010's -10 block", "Pacific/Apia", kApia2010Zone, "weekly", 39, "2004-03-16T11:00"},
    {"Apia monthly across 2021 by 2015's block", "Pacific/Apia", kApia2015Zone, "monthly", 40, "2019-06-10T10:00"},
    {"Sao Paulo weekly across 2019", "America/Sao_Paulo", kSaoPauloZone, "weekly", 60, "2018-09-03T10:00"},
    {"Sao Paulo monthly across 2019", "America/Sao_Paulo", kSaoPaulo2018Zone, "monthly", 24, "2018-06-15T10:00"},
    {"Sao Paulo yearly 2015-2024", "America/Sao_Paulo", kSaoPaulo2018Zone, "yearly", 10, "2015-01-20T10:00"},
    {"Dawson Creek's 28th from 1971", "America/Dawson_Creek", kDawsonCreekZone, "monthly", 37, "1971-03-28T17:15"},
};

// The archive's recurrence of a row: on the weekday, day of the month or day of the year of its
// first wall time, ended by its count.
QString seriesRecurrence(const SeriesRow &row)
{
    static const char *const names[] = {"monday", "tuesday", "wednesday", "thursday", "friday", "saturday", "sunday"};
    const QDate first = QDate::fromString(QString::fromLatin1(row.firstWall).left(10), Qt::ISODate);
    const QByteArray once = el("OPFRecurrencePatternInterval", "1");
    const QByteArray day = el("OPFRecurrencePatternDayOfMonth", QByteArray::number(first.day()));
    const QByteArray count = el("OPFRecurrenceGetOccurenceCount", QByteArray::number(row.count))
        + el("OPFRecurrenceIsNumbered", "1");
    if (qstrcmp(row.kind, "weekly") == 0)
        return recurrence(el("OPFRecurrencePatternDaysOfWeek", el(names[first.dayOfWeek() - 1], "1")) + once
                              + type("Weekly"),
                          count);
    if (qstrcmp(row.kind, "monthly") == 0)
        return recurrence(day + once + type("AbsoluteMonthly"), count);
    return recurrence(day + once + el("OPFRecurrencePatternMonth", QByteArray::number(first.month()))
                          + type("AbsoluteYearly"),
                      count);
}

}  // namespace

// Weekly, monthly and yearly meetings stored as an exporter stores them (UTC instants of the wall
// time the user set) keep that wall time in every occurrence, in readers that take the zone by its
// name and in those that take the file's block: the same bytes on any machine.
void CalendarRulesTest::repeatsAcrossRuleChanges()
{
    QByteArray walls;
    for (const SeriesRow &row : kSeries)
        walls += QByteArray(row.zone) + '|' + row.firstWall + '\n';
    const QList<QByteArray> starts = readBack({QStringLiteral("stored")}, walls).split('\n');
    QVERIFY2(starts.size() > int(std::size(kSeries)), starts.first().constData());
    QTemporaryDir dir;
    QByteArray manifest;
    for (size_t i = 0; i < std::size(kSeries); ++i) {
        const SeriesRow &row = kSeries[i];
        qint64 start = 0;
        QVERIFY2(ArchiveSeconds(QString::fromLatin1(starts.at(int(i))), &start), row.name);
        const QByteArray element = "<appointment>" + el("OPFCalendarEventCopyEndTime", archiveText(start + 3600))
            + el("OPFCalendarEventCopyRecurrence", seriesRecurrence(row).toUtf8())
            + el("OPFCalendarEventCopyStartTime", starts.at(int(i)))
            + el("OPFCalendarEventGetStartTimeZoneICSData", row.block) + "</appointment>";
        CalenderInformation rec;
        memset(&rec, 0, sizeof rec);
        QByteArray first;
        for (const char *machine : {"America/Denver", "UTC", "Pacific/Apia"}) {
            qputenv("TZ", machine);
            tzset();
            QString unwritten;
            const QByteArray file =
                CalendarEventFile(rec, QStringLiteral("U"), std::string_view(element.constData(), size_t(element.size())),
                                  QByteArray(), "20240305T101112Z", &unwritten);
            QVERIFY2(unwritten.isEmpty(), qPrintable(QString::fromLatin1(row.name) + ": " + unwritten));
            QVERIFY2(first.isEmpty() || file == first, row.name);
            first = file;
        }
        QFile out(dir.filePath(QStringLiteral("series%1.ics").arg(i)));
        QVERIFY(out.open(QIODevice::WriteOnly) && out.write(first) == first.size());
        manifest += QStringLiteral("series%1.ics|").arg(i).toLatin1() + row.zone + '|' + row.kind + '|'
            + QByteArray::number(row.count) + '|' + row.firstWall + '\n';
    }
    QFile rows(dir.filePath(QStringLiteral("rows.txt")));
    QVERIFY(rows.open(QIODevice::WriteOnly) && rows.write(manifest) == manifest.size());
    rows.close();
    const QByteArray checked = readBack({QStringLiteral("check"), dir.path()});
    QVERIFY2(!checked.contains("PROBLEM") && checked.contains("checked"), checked.constData());
}

QTEST_GUILESS_MAIN(CalendarRulesTest)
#include "tst_calendarrules.moc"
