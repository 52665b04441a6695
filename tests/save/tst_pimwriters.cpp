// The contact, calendar, task and note writers: file contents byte for byte, the reminder
// script, and whole saves through the saving thread (names, ticks, stop, failures).

#include "ArchiveFile.h"
#include "OlmXml.h"
#include "PimSamples.h"
#include "ProcessMemory.h"
#include "SaveTestUtil.h"
#include "ScanTestUtil.h"
#include "TestArchiveBuilder.h"
#include "ThreadResults.h"
#include "platform/FinderInfo.h"
#include "platform/ReminderSink.h"
#include "save/QMailSavingThread.h"
#include "save/SaveFlow.h"
#include "save/SaveGlobals.h"
#include "save/pim/ArchiveZone.h"
#include "save/pim/ContactPhoto.h"
#include "save/pim/ItemFileName.h"
#include "save/pim/ItemIdentity.h"
#include "save/pim/PimDates.h"
#include "save/pim/PimItems.h"
#include "save/pim/PimText.h"
#include "scanner/FolderAttributes.h"
#include "scanner/FolderKinds.h"

#include <QCryptographicHash>
#include <QDirIterator>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>
#include <time.h>

namespace {

QByteArray Crlf(const QStringList &lines)
{
    return (lines.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n")).toUtf8();
}

std::string_view View(const QByteArray &bytes)
{
    return std::string_view(bytes.constData(), size_t(bytes.size()));
}

// <task> with the given (already escaped) element texts, children sorted as the exporter does.
QByteArray TaskXml(const QList<QPair<QString, QString>> &fields)
{
    QByteArray children;
    for (const auto &f : fields)
        children += OlmXml::element(f.first, f.second);
    return OlmXml::item(QStringLiteral("task"), children);
}

TasksInformation TaskRecord(const char *name, char priority, quint32 noteLength)
{
    TasksInformation rec;
    memset(&rec, 0, sizeof rec);
    rec.pName = const_cast<char *>(name);
    rec.cPriority = priority;
    rec.dwNoteLength = noteLength;
    return rec;
}

QStringList FilesBelow(const QString &dir)
{
    QStringList names;
    QDirIterator it(dir, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        names << it.fileName();
    }
    names.sort();
    return names;
}

QByteArray ReadFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

const char kHead[] = "BEGIN:VCALENDAR\r\nVERSION:2.0\r\n"
                     "PRODID:-//Microsoft Corporation//Zovuvoziv Mac 11.0 MIMEDIR//EN\r\nMETHOD:PUBLISH\r\n";

} // namespace

class PimWritersTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void taskFile_data();
    void taskFile();
    void taskStamp_data();
    void taskStamp();
    void taskRepeats_data();
    void taskRepeats();
    void dateOnlyRepeatEnds_data();
    void dateOnlyRepeatEnds();
    void reminderFields_data();
    void reminderFields();
    void reminderScript();
    void longPlainNoteCost();
    void taskSaves_data();
    void taskSaves();
    void stopAtFirstFile();
    void noteFiles_data();
    void noteFiles();
    void noteSaves_data();
    void noteSaves();
    void contactCard_data();
    void contactCard();
    void contactFieldsBeyondTheCard();
    void dateOnlyDays_data();
    void dateOnlyDays();
    void contactPhotos_data();
    void contactPhotos();
    void itemIdentity();
    void contactLosses_data();
    void contactLosses();
    void archiveZone();
    void eventTimesAndEnds_data();
    void eventTimesAndEnds();
    void calendarEvent_data();
    void calendarEvent();

private:
    // Scans the archive, checks every folder, makes the output folders and runs the save.
    bool runSave(const QByteArray &archive, SaveType type, const QString &dest);

    std::unique_ptr<ArchiveFile> m_archive;
    SaveOutcome m_outcome;
    QStringList m_texts;
    int m_ticks = 0;
};

void PimWritersTest::initTestCase()
{
    // Two hours ahead of UTC all year: a date written in UTC shows.
    qputenv("TZ", "XXX-2");
    tzset();
}

void PimWritersTest::init()
{
    ResetRunFlags();
    FinderInfoHooks::record = [](const QString &, quint32, quint32) { return true; };
    ReminderHooks::record = nullptr;
}

void PimWritersTest::cleanup()
{
    FinderInfoHooks::record = nullptr;
    ReminderHooks::record = nullptr;
    FreeScanState();
    m_archive.reset();
}

bool PimWritersTest::runSave(const QByteArray &archive, SaveType type, const QString &dest)
{
    m_archive.reset(new ArchiveFile(archive));
    scanBytes(archive);
    if (!m_archive->isOpen() || !StartTestSave(type, dest))
        return false;
    QMailSavingThread thread;
    QueuedSpy texts(&thread, &QMailSavingThread::strInfo);
    QueuedSpy ticks(&thread, &QMailSavingThread::OnProgressvalueMainWindow);
    if (!thread.SetInitialSettings(QString(), IndexFor(type)) || !EndRun(thread, &thread, 120000))
        return false;
    m_outcome = thread.outcome();
    m_ticks = ticks.count();
    m_texts.clear();
    for (const QList<QVariant> &args : qAsConst(texts))
        m_texts << args.first().toString();
    return true;
}

void PimWritersTest::taskFile_data()
{
    QTest::addColumn<QByteArray>("element");
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<char>("priority");
    QTest::addColumn<QByteArray>("note");
    QTest::addColumn<QByteArray>("body");   // the lines between UID and END:VTODO

    const QByteArray dated = TaskXml({{"OPFTaskCopyDueDateTime", "2010-05-03T08:00:00"},
                                      {"OPFTaskCopyReminderTime", "2010-05-02T07:15:00"},
                                      {"OPFTaskCopyStartDateTime", "2010-05-01T14:30:00"}});
    QTest::newRow("all dates, high priority, a note")
        << dated << QByteArray("Call Bob, then Ann; done") << '2'
        << QByteArray("a\r\nb &amp;lt; c\\d &lt;p&gt;x&nbsp;y")
        << Crlf({"DTSTAMP:20100501T143000Z", "SUMMARY:Call Bob\\, then Ann\\; done",
                 "DESCRIPTION:a\\nb &lt\\; c\\\\d <p>x y", "DTSTART:20100501T143000Z", "DUE:20100503T080000Z",
                 "Priority:3", "BEGIN:VALARM", "ACTION:DISPLAY", "DESCRIPTION:Reminder",
                 "TRIGGER;VALUE=DATE-TIME:20100502T071500Z", "END:VALARM"});
    QTest::newRow("no dates") << TaskXml({{"OPFTaskCopyName", "x"}}) << QByteArray("x") << '4' << QByteArray()
                              << Crlf({"SUMMARY:x", "Priority:7"});
    QTest::newRow("no name, the usual priority: nothing to save")
        << TaskXml({}) << QByteArray() << '3' << QByteArray() << QByteArray();
    // A task's note is its plain text: the plain note the archive holds, else the HTML note's text.
    const QByteArray htmlNote =
        "&lt;html&gt;&lt;head&gt;&lt;style&gt;p{}&lt;/style&gt;&lt;/head&gt;&lt;body&gt;&lt;p&gt;"
        "caf&amp;eacute;\r\n&amp;amp; more&lt;/p&gt;&lt;p&gt;two&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;";
    QTest::newRow("an HTML note as its plain text")
        << TaskXml({}) << QByteArray("x") << '3' << htmlNote
        << Crlf({"SUMMARY:x", "DESCRIPTION:caf\xc3\xa9 & more\\ntwo", "Priority:5"});
    QTest::newRow("the plain note before the HTML one")
        << TaskXml({{"OPFTaskCopyNotePlain", "plain\r\nnote"}}) << QByteArray("x") << '3' << htmlNote
        << Crlf({"SUMMARY:x", "DESCRIPTION:plain\\nnote", "Priority:5"});
    QTest::newRow("only a plain-text note")
        << TaskXml({{"OPFTaskCopyNotePlain", "first\nsecond, third"}}) << QByteArray() << '3' << QByteArray()
        << Crlf({"DESCRIPTION:first\\nsecond\\, third", "Priority:5"});
    QTest::newRow("a plain note read as XML reads it: CDATA, comments, blanks at its ends, a NUL")
        << TaskXml({{"OPFTaskCopyNotePlain", QString::fromUtf8(" \r\n\u00a0<![CDATA[a&b<c]]><!-- x -->;x\ry\u3000 ")
                                                 + QChar(0) + QStringLiteral("lost")}})
        << QByteArray("x") << '3' << QByteArray() << Crlf({"SUMMARY:x", "DESCRIPTION:a&b<c\\;x\\ny", "Priority:5"});
    QTest::newRow("a plain note of blanks alone is none")
        << TaskXml({{"OPFTaskCopyNotePlain", " \r\n\t"}}) << QByteArray("x") << '3' << QByteArray()
        << Crlf({"SUMMARY:x", "Priority:5"});
    QTest::newRow("a name over two lines, a time to the second")
        << TaskXml({{"OPFTaskCopyName", "one\ntwo"}, {"OPFTaskCopyDueDateTime", "2010-05-06T10:20:30Z"}})
        << QByteArray("one two") << char(0) << QByteArray() << Crlf({"SUMMARY:one\\ntwo", "DUE:20100506T102030Z"});
    QTest::newRow("later part wins")
        << TaskXml({{"OPFTaskCopyDueDateTime", "2010-01-01T00:00:00"}}) +
               TaskXml({{"OPFTaskCopyDueDateTime", "2011-02-03T04:05:06"}})
        << QByteArray() << char(0) << QByteArray() << Crlf({"DUE:20110203T040506Z"});
    QTest::newRow("unusable dates leave their lines out")
        << TaskXml({{"OPFTaskCopyDueDateTime", "garbage"}, {"OPFTaskCopyReminderTime", ""},
                    {"OPFTaskCopyStartDateTime", "2010-13-45T10:00:00"}})
        << QByteArray() << char(0) << QByteArray() << QByteArray();
    QTest::newRow("an unreadable due time beside a name")
        << TaskXml({{"OPFTaskCopyDueDateTime", "2010-13-45"}, {"OPFTaskCopyName", "x"}}) << QByteArray() << char(0)
        << QByteArray() << Crlf({"SUMMARY:x"});
    QTest::newRow("a close tag before the value")
        << QByteArray("<task><OPFTaskCopyDueDateTime</OPFTaskCopyDueDateTime></task>") << QByteArray() << char(0)
        << QByteArray() << QByteArray();
    QTest::newRow("24:00 due: the next day's midnight")
        << TaskXml({{"OPFTaskCopyDueDateTime", "2010-05-03T24:00:00"}}) << QByteArray("x") << char(0) << QByteArray()
        << Crlf({"SUMMARY:x", "DUE:20100504T000000Z"});
    QTest::newRow("25:00 due: the day's last second, named")
        << TaskXml({{"OPFTaskCopyDueDateTime", "2010-05-03T25:00:00"}}) << QByteArray("x") << char(0) << QByteArray()
        << Crlf({"SUMMARY:x", "DUE:20100503T235959Z"});
    QTest::newRow("a repeat ending before its due time: the first one alone, named")
        << TaskXml({{"OPFTaskCopyDueDateTime", "2010-05-03T08:00:00"},
                    {"OPFTaskCopyRecurrence",
                     "<OPFRecurrenceCopyEndDate>2010-04-01T08:00:00</OPFRecurrenceCopyEndDate>"
                     "<OPFRecurrenceHasEndDate>1</OPFRecurrenceHasEndDate><OPFRecurrencePattern>"
                     "<OPFRecurrencePatternInterval>1</OPFRecurrencePatternInterval>"
                     "<OPFRecurrencePatternType>OPFRecurrencePatternDaily</OPFRecurrencePatternType>"
                     "</OPFRecurrencePattern>"}})
        << QByteArray("x") << char(0) << QByteArray() << Crlf({"SUMMARY:x", "DUE:20100503T080000Z"});
    QTest::newRow("a date without its time: a DATE value")
        << TaskXml({{"OPFTaskCopyDueDateTime", "2010-05-03"}}) << QByteArray() << char(0) << QByteArray()
        << Crlf({"DUE;VALUE=DATE:20100503"});
    QTest::newRow("no close tag: no dates") << QByteArray(dated).replace("</task>", "") << QByteArray() << char(0)
                                            << QByteArray() << QByteArray();
    QTest::newRow("NUL bytes in the note are dropped")
        << TaskXml({}) << QByteArray() << char(0) << QByteArray("one\0two", 7) << Crlf({"DESCRIPTION:onetwo"});
    QTest::newRow("done: its state and time")
        << TaskXml({{"OPFTaskCopyCompletedDateTime", "2018-06-21T03:17:02"}}) << QByteArray("x") << char(0)
        << QByteArray() << Crlf({"SUMMARY:x", "STATUS:COMPLETED", "COMPLETED:20180621T031702Z"});
    const QString longName = QStringLiteral("Q&amp;A ") + QString(300, QLatin1Char('n'));
    QTest::newRow("a name the record cannot keep, from the element")
        << TaskXml({{"OPFTaskCopyName", longName}}) << QByteArray() << char(0) << QByteArray()
        << FoldContentLine("SUMMARY:Q&A " + QByteArray(300, 'n'));
    QTest::newRow("a long summary is folded")
        << TaskXml({}) << QByteArray(100, 'n') << char(0) << QByteArray()
        << "SUMMARY:" + QByteArray(67, 'n') + "\r\n " + QByteArray(33, 'n') + "\r\n";
}

void PimWritersTest::taskFile()
{
    QFETCH(QByteArray, element);
    QFETCH(QByteArray, name);
    QFETCH(char, priority);
    QFETCH(QByteArray, note);
    QFETCH(QByteArray, body);
    const TasksInformation rec = TaskRecord(name.isNull() ? nullptr : name.constData(), priority, quint32(note.size()));
    QString unwritten;
    const QByteArray file = TaskCalendarFile(rec, QStringLiteral("A1B2C3D4-E5F6-0718-293A-4B5C6D7E8F90"),
                                             TaskDatesOf(View(element)), note, QByteArray(), &unwritten);
    if (body.isNull()) {
        // Nothing of the task could be read: no file, and why.
        QVERIFY(file.isEmpty());
        QVERIFY(unwritten.contains(QLatin1String("holds no name")));
        return;
    }
    // A time that names no real date is named, never dropped silently.
    QCOMPARE(unwritten.contains(QLatin1String("is no real date")), element.contains("2010-13-45"));
    QCOMPARE(unwritten.contains(QLatin1String("its due time (2010-05-03T25:00:00) names no real time of day")),
             element.contains("T25:00"));
    QCOMPARE(unwritten.contains(QLatin1String("its repeat ends (2010-04-01T08:00:00) before its first occurrence")),
             element.contains("2010-04-01T08:00:00"));
    QCOMPARE(file, QByteArray(kHead) + "BEGIN:VTODO\r\nUID:A1B2C3D4-E5F6-0718-293A-4B5C6D7E8F90\r\n" + body +
                       "END:VTODO\r\nEND:VCALENDAR\r\n");
}

// Calendar readers refuse a to-do without DTSTAMP: one without a start takes the save's time
// when a stamp is asked for (the mail type), and stays as it was in the package.
void PimWritersTest::taskStamp_data()
{
    QTest::addColumn<QByteArray>("element");
    QTest::addColumn<QByteArray>("now");
    QTest::addColumn<QByteArray>("stamp");  // the DTSTAMP line, empty for none
    const QByteArray now = "20260101T120000Z";
    const QByteArray started = TaskXml({{"OPFTaskCopyStartDateTime", "2010-05-01T14:30:00"}});
    const QByteArray dueOnly = TaskXml({{"OPFTaskCopyDueDateTime", "2010-05-03T08:00:00"}});
    const QByteArray badStart = TaskXml({{"OPFTaskCopyStartDateTime", "2010-13-45T10:00:00"}});
    QTest::newRow("start: its time, asked or not") << started << now << QByteArray("DTSTAMP:20100501T143000Z\r\n");
    QTest::newRow("start, package") << started << QByteArray() << QByteArray("DTSTAMP:20100501T143000Z\r\n");
    QTest::newRow("due only: the save's time") << dueOnly << now << "DTSTAMP:" + now + "\r\n";
    QTest::newRow("unusable start: the save's time") << badStart << now << "DTSTAMP:" + now + "\r\n";
    QTest::newRow("no dates: the save's time") << TaskXml({}) << now << "DTSTAMP:" + now + "\r\n";
    QTest::newRow("due only, package: none") << dueOnly << QByteArray() << QByteArray();
}

void PimWritersTest::taskStamp()
{
    QFETCH(QByteArray, element);
    QFETCH(QByteArray, now);
    QFETCH(QByteArray, stamp);
    const TasksInformation rec = TaskRecord("x", char(0), 0);
    const QByteArray file = TaskCalendarFile(rec, QStringLiteral("U"), TaskDatesOf(View(element)), QByteArray(), now);
    QCOMPARE(file.count("DTSTAMP"), stamp.isEmpty() ? 0 : 1);
    if (!stamp.isEmpty())
        QVERIFY2(file.contains("\r\nUID:U\r\n" + stamp), file.constData());
    // The save's time is the one its folder names, the same in every file of the save.
    const QDateTime when(QDate(2024, 3, 5), QTime(10, 11, 12));
    QCOMPARE(SaveTimeUtc(MakeSaveTimeStamp(when)),
             when.toUTC().toString(QStringLiteral("yyyyMMdd'T'HHmmss'Z'")).toLatin1());
}

// A task carries no zone: a timed repeat is written in the zone the archive shows where its
// pattern names the start's day there, else in UTC on the UTC days; a repeat that ends before
// its first occurrence, timed or on a date alone, is that occurrence, named.
void PimWritersTest::taskRepeats_data()
{
    QTest::addColumn<QByteArray>("element");
    QTest::addColumn<QByteArray>("zone");          // the archive's zone data; empty: none shown
    QTest::addColumn<QByteArrayList>("lines");     // lines the to-do holds
    QTest::addColumn<QByteArray>("absent");        // a text it must not hold
    QTest::addColumn<QString>("lost");             // what the report names; empty: nothing
    const auto task = [](const QString &time, const QString &pattern, const QString &ends) {
        return TaskXml({{"OPFTaskCopyDueDateTime", time},
                        {"OPFTaskCopyRecurrence",
                         ends + "<OPFRecurrencePattern>" + pattern + "</OPFRecurrencePattern>"},
                        {"OPFTaskCopyStartDateTime", time}});
    };
    const QString wednesday = "<OPFRecurrencePatternDaysOfWeek><wednesday>1</wednesday>"
                              "</OPFRecurrencePatternDaysOfWeek><OPFRecurrencePatternInterval>1"
                              "</OPFRecurrencePatternInterval><OPFRecurrencePatternType>OPFRecurrencePatternWeekly"
                              "</OPFRecurrencePatternType>";
    const QString daily = "<OPFRecurrencePatternInterval>1</OPFRecurrencePatternInterval>"
                          "<OPFRecurrencePatternType>OPFRecurrencePatternDaily</OPFRecurrencePatternType>";
    const QString the20th = "<OPFRecurrencePatternDayOfMonth>20</OPFRecurrencePatternDayOfMonth>"
                            "<OPFRecurrencePatternInterval>1</OPFRecurrencePatternInterval><OPFRecurrencePatternType>"
                            "OPFRecurrencePatternAbsoluteMonthly</OPFRecurrencePatternType>";
    const QString thirty = "<OPFRecurrenceGetOccurenceCount>30</OPFRecurrenceGetOccurenceCount>"
                           "<OPFRecurrenceIsNumbered>1</OPFRecurrenceIsNumbered>";
    const auto until = [](const char *date) {
        return QStringLiteral("<OPFRecurrenceCopyEndDate>%1</OPFRecurrenceCopyEndDate>"
                              "<OPFRecurrenceHasEndDate>1</OPFRecurrenceHasEndDate>")
            .arg(QLatin1String(date));
    };
    const QByteArray nz = "TZID=New Zealand Standard Time:";
    QTest::newRow("Wednesday 08:00 in Auckland: its local time there")
        << task("2019-01-15T19:00:00", wednesday, thirty) << QByteArray(kAucklandZone)
        << QByteArrayList{"BEGIN:VTIMEZONE", "DTSTART;" + nz + "20190116T080000", "DUE;" + nz + "20190116T080000",
                          "RRULE:FREQ=WEEKLY;INTERVAL=1;BYDAY=WE;COUNT=30"}
        << QByteArray("DTSTART:2019") << QString();
    // Moscow's block of today's +3 ran at +4 in 2012: the task keeps 09:00 by the zone's history.
    const QString monday = QString(wednesday).replace(QLatin1String("wednesday"), QLatin1String("monday"));
    QTest::newRow("Monday 09:00 in Moscow from 2012: its history as its block")
        << task("2012-01-09T05:00:00", monday, thirty) << QByteArray(kMoscowZone)
        << QByteArrayList{"DTSTART;TZID=Russian Standard Time:20120109T090000", "TZOFFSETTO:+0400",
                          "RRULE:FREQ=WEEKLY;INTERVAL=1;BYDAY=MO;COUNT=30"}
        << QByteArray("DTSTART:2012") << QString();
    QTest::newRow("no zone shown: Kiritimati's 01:00 Wednesday on its UTC Tuesday")
        << task("2019-01-15T11:00:00", wednesday, thirty) << QByteArray()
        << QByteArrayList{"DTSTART:20190115T110000Z", "RRULE:FREQ=WEEKLY;INTERVAL=1;BYDAY=TU;COUNT=30"}
        << QByteArray("VTIMEZONE") << QString();
    QTest::newRow("a day its pattern does not name in the zone: UTC days")
        << task("2018-06-19T15:00:00", the20th, thirty) << QByteArray(kPagoPagoZone)
        << QByteArrayList{"DTSTART:20180619T150000Z", "RRULE:FREQ=MONTHLY;INTERVAL=1;BYMONTHDAY=19;COUNT=30"}
        << QByteArray("VTIMEZONE") << QString();
    QTest::newRow("a timed repeat ending before it starts: the first, in UTC")
        << task("2019-01-15T19:00:00", daily, until("2019-01-10T19:00:00")) << QByteArray(kAucklandZone)
        << QByteArrayList{"DTSTART:20190115T190000Z"} << QByteArray("RRULE")
        << "its repeat ends (2019-01-10T19:00:00) before its first occurrence";
}

void PimWritersTest::taskRepeats()
{
    QFETCH(QByteArray, element);
    QFETCH(QByteArray, zone);
    QFETCH(QByteArrayList, lines);
    QFETCH(QByteArray, absent);
    QFETCH(QString, lost);
    const ZoneRules archiveZone{QString::fromLatin1(zone)};
    QString unwritten;
    const QByteArray file = TaskCalendarFile(TaskRecord("x", char(0), 0), QStringLiteral("U"),
                                             TaskDatesOf(View(element)), QByteArray(), QByteArray(), &unwritten,
                                             zone.isEmpty() ? nullptr : &archiveZone);
    for (const QByteArray &line : lines)
        QVERIFY2(file.contains("\r\n" + line + "\r\n"), file.constData());
    QVERIFY2(!file.contains(absent), file.constData());
    QVERIFY2(lost.isEmpty() ? unwritten.isEmpty() : unwritten.contains(lost), qPrintable(unwritten));
}

// A task due on a date alone whose daily repeat ends at a stored midnight: the end's day is read
// as every date-only value is (in the archive's zone, else by the fallback), UNTIL is that date,
// and a repeat ending before the due date is its first occurrence alone, named.
void PimWritersTest::dateOnlyRepeatEnds_data()
{
    QTest::addColumn<QByteArray>("machine");
    QTest::addColumn<QByteArray>("zone");   // the archive's zone data; empty: none shown
    QTest::addColumn<QString>("end");       // the stored end of the repeat
    QTest::addColumn<QByteArray>("until");  // empty: written without its rule, named
    const QList<QList<QByteArray>> rows = {
        {kAucklandZone, "2019-01-19T11:00:00", "20190120"},    // Auckland's summer midnight of the 20th
        {kAucklandZone, "2019-01-14T11:00:00", "20190115"},    // the due date's own midnight
        {kAucklandZone, "2019-01-13T11:00:00", ""},            // the day before
        {kKiritimatiZone, "2019-01-14T10:00:00", "20190115"},  // UTC+14
        {kTongaZone, "2019-01-19T11:00:00", "20190120"},
        {kPagoPagoZone, "2019-01-20T11:00:00", "20190120"},    // UTC-11
        {kPagoPagoZone, "2019-01-14T11:00:00", ""},
        {kPagoPagoZone, "2019-01-20", "20190120"},             // a date alone is its day
        {"", "2019-01-14T11:00:00", "20190115"},               // no zone shown: the +13 hour rule
        {"", "2019-01-13T11:00:00", ""},
    };
    for (const char *machine : {"UTC", "America/Denver", "Europe/Berlin", "Australia/Lord_Howe", "Pacific/Auckland",
                                "Pacific/Kiritimati"}) {
        for (const auto &row : rows)
            QTest::newRow(qPrintable(QStringLiteral("%1 of %2 on %3")
                                         .arg(QString::fromLatin1(row.at(1)),
                                              row.at(0).isEmpty() ? QStringLiteral("no zone")
                                                                  : ZoneRules(QString::fromLatin1(row.at(0))).tzid(),
                                              QLatin1String(machine))))
                << QByteArray(machine) << row.at(0) << QString::fromLatin1(row.at(1)) << row.at(2);
    }
}

void PimWritersTest::dateOnlyRepeatEnds()
{
    QFETCH(QByteArray, machine);
    QFETCH(QByteArray, zone);
    QFETCH(QString, end);
    QFETCH(QByteArray, until);
    qputenv("TZ", machine);
    tzset();
    const QByteArray element =
        TaskXml({{"OPFTaskCopyDueDateTime", "2019-01-15"},
                 {"OPFTaskCopyRecurrence",
                  "<OPFRecurrenceCopyEndDate>" + end + "</OPFRecurrenceCopyEndDate><OPFRecurrenceHasEndDate>1"
                      "</OPFRecurrenceHasEndDate><OPFRecurrencePattern><OPFRecurrencePatternInterval>1"
                      "</OPFRecurrencePatternInterval><OPFRecurrencePatternType>OPFRecurrencePatternDaily"
                      "</OPFRecurrencePatternType></OPFRecurrencePattern>"}});
    const ZoneRules archiveZone{QString::fromLatin1(zone)};
    QString unwritten;
    const QByteArray file = TaskCalendarFile(TaskRecord("x", char(0), 0), QStringLiteral("U"),
                                             TaskDatesOf(View(element)), QByteArray(), QByteArray(), &unwritten,
                                             zone.isEmpty() ? nullptr : &archiveZone);
    qputenv("TZ", "XXX-2");
    tzset();
    // A rule counts from the due date; a single to-do is due that day.
    QVERIFY2(file.contains(until.isEmpty() ? "\r\nDUE;VALUE=DATE:20190115\r\n"
                                           : "\r\nDTSTART;VALUE=DATE:20190115\r\nDUE;VALUE=DATE:20190115\r\n"),
             file.constData());
    if (until.isEmpty()) {
        QVERIFY2(!file.contains("RRULE"), file.constData());
        QCOMPARE(unwritten, "written as a single item, its repeat ends (" + end + ") before its first occurrence");
    } else {
        QVERIFY2(file.contains("\r\nRRULE:FREQ=DAILY;INTERVAL=1;UNTIL=" + until + "\r\n"), file.constData());
        QCOMPARE(unwritten, QString());
    }
}

void PimWritersTest::reminderFields_data()
{
    QTest::addColumn<QByteArray>("element");
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<char>("priority");
    QTest::addColumn<QByteArray>("note");
    QTest::addColumn<QStringList>("fields");   // name, date-time, note, priority word
    const QByteArray due = TaskXml({{"OPFTaskCopyDueDateTime", "2010-05-03T08:00:00"}});
    const QByteArray both = TaskXml({{"OPFTaskCopyDueDateTime", "2010-05-03T08:00:00"},
                                     {"OPFTaskCopyReminderTime", "2010-05-02T07:15:00"}});
    QTest::newRow("reminder before due") << both << QByteArray("x") << '2' << QByteArray()
                                         << QStringList{"x", "20100502T091500", "", "HIGH"};
    QTest::newRow("due alone") << due << QByteArray("x") << '4' << QByteArray()
                               << QStringList{"x", "20100503T100000", "", "LOW"};
    QTest::newRow("no dates, normal priority") << TaskXml({}) << QByteArray() << '3' << QByteArray()
                                               << QStringList{"", "", "", ""};
    QTest::newRow("quotes, backslashes and breaks in the name")
        << TaskXml({}) << QByteArray("say \"hi\" \\ %2\ndo shell script") << char(0) << QByteArray()
        << QStringList{"say \\\"hi\\\" \\\\ %2\\ndo shell script", "", "", ""};
    QTest::newRow("HTML note as plain text")
        << TaskXml({}) << QByteArray() << char(0)
        << QByteArray("&lt;p&gt;one \"q\"&lt;/p&gt;&lt;p&gt;two \\ &amp;lt;&lt;/p&gt;\r\n")
        << QStringList{"", "", "one \\\"q\\\"\\ntwo \\\\ <", ""};
    QTest::newRow("note cut at NUL") << TaskXml({}) << QByteArray() << char(0) << QByteArray("kept\0lost", 9)
                                     << QStringList{"", "", "kept", ""};
    QTest::newRow("a plain note: CR LF, CR and LF each one break")
        << TaskXml({{"OPFTaskCopyNotePlain", " a\r\nb\rc\n\"d\" &amp;lt; "}}) << QByteArray() << char(0)
        << QByteArray("not this") << QStringList{"", "", "a\\nb\\nc\\n\\\"d\\\" &lt;", ""};
}

void PimWritersTest::reminderFields()
{
    QFETCH(QByteArray, element);
    QFETCH(QByteArray, name);
    QFETCH(char, priority);
    QFETCH(QByteArray, note);
    QFETCH(QStringList, fields);
    const TasksInformation rec = TaskRecord(name.isNull() ? nullptr : name.constData(), priority, quint32(note.size()));
    const ReminderFields f = ReminderFieldsOf(rec, TaskDatesOf(View(element)), note);
    QCOMPARE((QStringList{f.name, f.dateTime, f.note, f.priority}), fields);
    // The saving writes the note into the script piece by piece: the same script.
    QCOMPARE(ReminderScriptOf(rec, TaskDatesOf(View(element)), note), ReminderScript(f));
}

void PimWritersTest::reminderScript()
{
    const QString script = ReminderScript(ReminderFields{QStringLiteral("%2 \\\"x\\\""), QStringLiteral("20100502T091500"),
                                                         QStringLiteral("n"), QStringLiteral("HIGH")});
    const QStringList lines = script.split(QLatin1Char('\n'));
    QCOMPARE(lines.size(), 65);
    QVERIFY(!script.endsWith(QLatin1Char('\n')));
    QCOMPARE(lines.mid(0, 4), (QStringList{"set reminderName to \"%2 \\\"x\\\"\"",
                                           "set reminderDateTime to \"20100502T091500\"",
                                           "set reminderNote to \"n\"", "set reminderPriority to \"HIGH\""}));
    // The day goes to 1 first, so setting the month never rolls the date over.
    QCOMPARE(lines.mid(26, 4), (QStringList{"    set dateObj to current date", "    set day of dateObj to 1",
                                            "    set year of dateObj to yearNum",
                                            "    set month of dateObj to monthNum"}));
    QCOMPARE(lines.at(37), QStringLiteral("tell application \"Reminders\""));
    QCOMPARE(lines.last(), QStringLiteral("end tell"));
    // 2021 characters of template and the added line, placeholders filled.
    QCOMPARE(script.size(), 2021 + 28 - 8 + 8 + 15 + 1 + 4);
    // Byte for byte: the digest of the same script built from the template's text elsewhere.
    QCOMPARE(QCryptographicHash::hash(script.toUtf8(), QCryptographicHash::Sha256).toHex(),
             QByteArray("21758834f1a4b3d016cf0b7f1e4d9d5f9977bab3ab54f20bd6c325f55a91efb0"));
}

// A long plain note is written piece by piece: the to-do and the script each take about what
// they hold, not the note again in other forms (memory, not time: the bench times it).
void PimWritersTest::longPlainNoteCost()
{
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    // The sanitizers keep freed memory: peaks are judged in a plain build only.
    constexpr bool kPeaksTell = false;
#else
    constexpr bool kPeaksTell = true;
#endif
    // 7-byte lines: each break is an escape, the costliest form; CR LF pairs across the pieces.
    const int lines = (12 << 20) / 7;
    QByteArray element = "<task><OPFTaskCopyNotePlain>";
    element += QByteArray("abcde\r\n").repeated(lines) + "</OPFTaskCopyNotePlain></task>";
    const TaskDates dates = TaskDatesOf(View(element));
    const TasksInformation rec = TaskRecord("x", '3', 0);
    const long noteKb = element.size() / 1024;

    long before = MemoryKb("VmRSS:");
    const bool measured = kPeaksTell && before >= 0 && ResetPeakMemory();
    QByteArray file = TaskCalendarFile(rec, QStringLiteral("U"), dates, QByteArray(), QByteArray());
    const long fileGrowth = MemoryKb("VmHWM:") - before;
    QVERIFY2(!measured || fileGrowth < 2 * noteKb, qPrintable(QStringLiteral("%1 kB for %2 kB").arg(fileGrowth).arg(noteKb)));
    const QByteArray unfolded = file.replace("\r\n ", "");
    QCOMPARE(unfolded.count("abcde\\n"), lines - 1);
    QVERIFY(!unfolded.contains("\\n\\n"));  // a CR LF that straddles two pieces is one break
    QVERIFY(unfolded.contains("DESCRIPTION:abcde\\nabcde") && unfolded.contains("\\nabcde\r\nPriority:5"));
    file.clear();
    file.squeeze();

    before = MemoryKb("VmRSS:");
    ResetPeakMemory();
    const QString script = ReminderScriptOf(rec, dates, QByteArray());
    const long scriptGrowth = MemoryKb("VmHWM:") - before;
    QVERIFY2(!measured || scriptGrowth < 3 * noteKb, qPrintable(QStringLiteral("%1 kB for %2 kB").arg(scriptGrowth).arg(noteKb)));
    QCOMPARE(script.count(QLatin1String("abcde\\n")), lines - 1);
    QVERIFY(!script.contains(QLatin1String("\\n\\n")));
}

void PimWritersTest::taskSaves_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<bool>("recordReminders");
    QTest::newRow("package") << int(SaveTypeRGE) << false;
    QTest::newRow("Apple Mail, reminders recorded") << int(SaveTypeMBOX) << true;
    QTest::newRow("Apple Mail, no reminders application") << int(SaveTypeMBOX) << false;
}

void PimWritersTest::taskSaves()
{
    QFETCH(int, type);
    QFETCH(bool, recordReminders);
    if (IndexFor(SaveType(type)) < 0)
        QSKIP("this edition has no such save type");
    TestArchiveBuilder b;
    QVector<QByteArray> items;
    for (int i = 0; i < 3; ++i)
        items << TaskXml({{"OPFTaskCopyDueDateTime", QStringLiteral("2010-05-0%1T08:00:00").arg(i + 1)},
                          {"OPFTaskCopyName", QStringLiteral("Task %1").arg(i)},
                          {"OPFTaskCopyNote", QStringLiteral("note %1").arg(i)}});
    b.addEntry(QStringLiteral("Local/Tasks/Tasks.xml"), OlmXml::list(QStringLiteral("tasks"), 3, items.toList().join()));
    QStringList scripts;
    if (recordReminders) {
        ReminderHooks::record = [&](const ReminderRequest &r, QString *) {
            scripts << r.script();
            return true;
        };
    }
    QTemporaryDir dest;
    QVERIFY(runSave(b.finish(), SaveType(type), dest.path()));
    QCOMPARE(m_ticks, 3);
    QCOMPARE(m_texts, QStringList{"Saving Tasks Folders..."});
    QCOMPARE(m_outcome.written, qint64(3));
    QCOMPARE(m_outcome.failed, qint64(0));
    const QString tasksDir = OutputRootFor(SaveType(type), saveDir, strTime) + QStringLiteral("/Tasks");
    // Each named from its own bytes.
    QStringList expected;
    ItemIdentities ids;
    for (const QByteArray &item : items)
        expected << ItemFileName(ids.next(View(item), "<task", "</task>").hex.constData())
                + (type == SaveTypeMBOX ? QStringLiteral(".ics") : QString());
    expected.sort();
    QCOMPARE(FilesBelow(tasksDir), recordReminders ? QStringList() : expected);
    QCOMPARE(scripts.size(), recordReminders ? 3 : 0);
    if (recordReminders)
        QVERIFY(scripts.at(1).startsWith(QStringLiteral("set reminderName to \"Task 1\"\nset reminderDateTime to "
                                                        "\"20100502T100000\"\nset reminderNote to \"note 1\"\n")));
    else
        QVERIFY(ReadFile(tasksDir + QLatin1Char('/') + expected.at(0)).contains("\r\nDUE:201005"));
}

void PimWritersTest::stopAtFirstFile()
{
    if (IndexFor(SaveTypeRGE) < 0)
        QSKIP("no package save in this edition");
    TestArchiveBuilder b;
    QVector<QByteArray> items;
    for (int i = 0; i < 5; ++i)
        items << TaskXml({{"OPFTaskCopyName", QStringLiteral("Task %1").arg(i)}});
    b.addEntry(QStringLiteral("Local/Tasks/Tasks.xml"), OlmXml::list(QStringLiteral("tasks"), 5, items.toList().join()));
    int files = 0;
    // The confirmed stop arrives while the first file is being made.
    FinderInfoHooks::record = [&](const QString &, quint32, quint32) {
        if (++files == 1)
            stopflag = bStopFlag = true;
        return true;
    };
    QTemporaryDir dest;
    QVERIFY(runSave(b.finish(), SaveTypeRGE, dest.path()));
    QVERIFY(m_outcome.stopped);
    QCOMPARE(files, 1);
    QCOMPARE(m_ticks, 1);
    QCOMPARE(m_outcome.written, qint64(1));
    QCOMPARE(FilesBelow(OutputRootFor(SaveTypeRGE, saveDir, strTime) + QStringLiteral("/Tasks")).size(), 1);
}

void PimWritersTest::noteFiles_data()
{
    QTest::addColumn<QByteArray>("title");
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("body");   // package lines between UID and END:VJOURNAL
    QTest::addColumn<QByteArray>("plain");  // the Apple Mail .txt file
    QTest::newRow("neither title nor text is an empty note") << QByteArray() << QByteArray() << QByteArray("")
                                                             << QByteArray("");
    QTest::newRow("line breaks never glue words")
        << QByteArray("Shop\nlist\r\nnow") << QByteArray("a\nb\r\n\r\nc \nd")
        << Crlf({"SUMMARY:Shop list now", "DESCRIPTION:a\\nb\\n\\nc \\nd"})
        << QByteArray("Shop list now\r\na\nb\n\nc \nd\r\n");
    QTest::newRow("paragraph markup") << QByteArray("T") << QByteArray("&lt;p&gt;one&lt;/p&gt;&lt;p&gt;two&lt;/p&gt;")
                                      << Crlf({"SUMMARY:T", "DESCRIPTION:<p>one</p><p>two</p>"})
                                      << QByteArray("T\r\none\ntwo\r\n");
    QTest::newRow("a typed entity stays as typed") << QByteArray() << QByteArray("1 &amp;lt; 2")
                                                   << Crlf({"DESCRIPTION:1 &lt\\; 2"}) << QByteArray("1 &lt; 2\r\n");
    QTest::newRow("typed angle brackets are no markup")
        << QByteArray() << QByteArray("Mail John &lt;john@example.org&gt;\n  if a&lt;b and c&gt;d then x &lt; y")
        << Crlf({"DESCRIPTION:Mail John <john@example.org>\\n  if a<b and c>d then x < y"})
        << QByteArray("Mail John <john@example.org>\n  if a<b and c>d then x < y\r\n");
    QTest::newRow("a typed <br>, address and entity stay as typed")
        << QByteArray() << QByteArray("Call &lt;br&gt; &lt;anna@example.com&gt; &amp;amp; done")
        << Crlf({"DESCRIPTION:Call <br> <anna@example.com> &amp\\; done"})
        << QByteArray("Call <br> <anna@example.com> &amp; done\r\n");
    QTest::newRow("upper-case entities stay") << QByteArray() << QByteArray("x &LT; y")
                                              << Crlf({"DESCRIPTION:x &LT\\; y"}) << QByteArray();
    QTest::newRow("text ends at a NUL") << QByteArray() << QByteArray("kept\0lost", 9) << Crlf({"DESCRIPTION:kept"})
                                        << QByteArray("kept\r\n");
    QTest::newRow("typed plain text keeps its lines in the text file")
        << QByteArray("T") << QByteArray("one\r\ntwo\n\nthree &amp; four\n")
        << Crlf({"SUMMARY:T", "DESCRIPTION:one\\ntwo\\n\\nthree & four\\n"})
        << QByteArray("T\r\none\ntwo\n\nthree & four\n\r\n");
    QTest::newRow("no control characters in calendar text")
        << QByteArray("bell\x07") << QByteArray("a\x1b[1mb\x7f\tc") << Crlf({"SUMMARY:bell", "DESCRIPTION:a[1mb\tc"})
        << QByteArray("bell\x07\r\na\x1b[1mb\x7f\tc\r\n");
    QTest::newRow("separators escaped in the package only")
        << QByteArray("a,b;c") << QByteArray("x\\y, z") << Crlf({"SUMMARY:a\\,b\\;c", "DESCRIPTION:x\\\\y\\, z"})
        << QByteArray("a,b;c\r\nx\\y, z\r\n");
}

void PimWritersTest::noteFiles()
{
    QFETCH(QByteArray, title);
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, body);
    QFETCH(QByteArray, plain);
    NotesInformation rec;
    memset(&rec, 0, sizeof rec);
    rec.pTitle = title.isEmpty() ? nullptr : title.data();
    rec.dwTextLength = quint32(text.size());
    QCOMPARE(NoteCalendarFile(rec, QStringLiteral("U-1"), text),
             QByteArray("BEGIN:VCALENDAR\r\nVERSION:2.0\r\n"
                        "PRODID:-//Microsoft Corporation//Zovuvoziv Mac 11.1 MIMEDIR//EN\r\nMETHOD:PUBLISH\r\n"
                        "BEGIN:VJOURNAL\r\nUID:U-1\r\n") +
                 body + "END:VJOURNAL\r\nEND:VCALENDAR\r\n");
    if (!plain.isNull() || text.isEmpty())
        QCOMPARE(NoteTextFile(rec, text), plain);
}

void PimWritersTest::noteSaves_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("extension");
    QTest::addColumn<quint32>("finderType");
    QTest::newRow("package") << int(SaveTypeRGE) << QString() << FourCharCode("Ics ");
    QTest::newRow("Apple Mail") << int(SaveTypeMBOX) << QStringLiteral(".txt") << FourCharCode("Txt ");
}

void PimWritersTest::noteSaves()
{
    QFETCH(int, type);
    QFETCH(QString, extension);
    QFETCH(quint32, finderType);
    if (IndexFor(SaveType(type)) < 0)
        QSKIP("this edition has no such save type");
    TestArchiveBuilder b;
    QVector<OlmXml::NoteItem> items;
    for (int i = 0; i < 4; ++i)
        items.append({QStringLiteral("Note %1").arg(i), QStringLiteral("Text %1").arg(i)});
    b.addEntry(QStringLiteral("Local/Notes/Notes.xml"), OlmXml::notes(items));
    QList<QPair<QString, quint32>> finder;
    FinderInfoHooks::record = [&](const QString &path, quint32 t, quint32 creator) {
        finder << qMakePair(QFileInfo(path).fileName(), t);
        return creator == FourCharCode("OPIM");
    };
    QTemporaryDir dest;
    QVERIFY(runSave(b.finish(), SaveType(type), dest.path()));
    QCOMPARE(m_ticks, 4);
    QCOMPARE(m_texts, QStringList{"Saving Notes Folders..."});
    QCOMPARE(m_outcome.written, qint64(4));
    const QString notesDir = OutputRootFor(SaveType(type), saveDir, strTime) + QStringLiteral("/Notes");
    QStringList expected;
    ItemIdentities ids;
    for (const NotesInformation *rec : notes())
        expected << ItemFileName(ids.nextStored(rec->llItemOffset, rec->dwItemLength, "<note").hex.constData())
                + extension;
    QCOMPARE(finder.size(), 4);
    for (int i = 0; i < 4; ++i)
        QCOMPARE(finder.at(i), qMakePair(expected.at(i), finderType));
    const QByteArray second = ReadFile(notesDir + QLatin1Char('/') + expected.at(1));
    if (type == SaveTypeRGE)
        QVERIFY2(second.contains("\r\nSUMMARY:Note 1\r\nDESCRIPTION:Text 1\r\n"), second.constData());
    else
        QCOMPARE(second, QByteArray("Note 1\r\nText 1\r\n"));
    expected.sort();
    QCOMPARE(FilesBelow(notesDir), expected);
}

void PimWritersTest::contactCard_data()
{
    QTest::addColumn<QByteArray>("element");
    QTest::addColumn<QByteArray>("notes");
    QTest::addColumn<QByteArray>("body");   // the lines between VERSION and UID
    const QByteArray addresses =
        "<OPFContactCopyEmailAddressList xml:space=\"preserve\">"
        "<contactEmailAddress xml:space=\"preserve\" OPFContactEmailAddressAddress=\"jane@not.mail\" "
        "OPFContactEmailAddressIsDefault=\"1\" OPFContactEmailAddressType=\"0\"></contactEmailAddress>"
        "<contactEmailAddress xml:space=\"preserve\" OPFContactEmailAddressAddress=\"a&amp;b@x.org\" "
        "OPFContactEmailAddressIsDefault=\"0\" OPFContactEmailAddressType=\"1\"></contactEmailAddress>"
        "</OPFContactCopyEmailAddressList>";
    QByteArray full;
    for (const auto &f : QList<QPair<QString, QString>>{
             {"OPFContactCopyBirthday", "2018-06-20T06:00:00"},
             {"OPFContactCopyBusinessCity", "Calgary"},
             {"OPFContactCopyBusinessCompany", "Burns &amp; Sons, Ltd"},
             {"OPFContactCopyBusinessDepartment", "Nuclear"},
             {"OPFContactCopyBusinessPhone", "321-111-2222"},
             {"OPFContactCopyBusinessStreetAddress", "777 Main St\nSuite 4"},
             {"OPFContactCopyBusinessTitle", "Engineer"},
             {"OPFContactCopyCellPhone", "123"},
             {"OPFContactCopyDisplayName", "Jane Q. Doe"},
             {"OPFContactCopyFirstName", "Jane"},
             {"OPFContactCopyHomeWebPage", "http://x.example/a;b"},
             {"OPFContactCopyLastName", "Doe"},
             {"OPFContactCopyMiddleName", "Q."}})
        full += OlmXml::element(f.first, f.second);
    full = OlmXml::item(QStringLiteral("contact"), full.replace("<OPFContactCopyFirstName", addresses + "<OPFContactCopyFirstName"));
    QTest::newRow("full contact")
        << full << QByteArray("Met at &lt;the&gt; fair\r\nSecond line")
        << Crlf({"N:Doe;Jane;Q.;;", "FN:Jane Q. Doe", "ORG:Burns & Sons\\, Ltd;Nuclear", "TITLE:Engineer",
                 "EMAIL;TYPE=INTERNET,PREF:jane@not.mail", "EMAIL;TYPE=INTERNET:a&b@x.org",
                 "TEL;TYPE=WORK,VOICE:321-111-2222", "TEL;TYPE=CELL,VOICE:123",
                 "ADR;TYPE=WORK:;;777 Main St\\nSuite 4;Calgary;;;", "URL:http://x.example/a\\;b",
                 "BDAY:2018-06-20", "NOTE:Met at <the> fair\\nSecond line"});
    QTest::newRow("first name only") << OlmXml::item(QStringLiteral("contact"), OlmXml::element("OPFContactCopyFirstName", "tom"))
                                     << QByteArray() << Crlf({"N:;tom;;;", "FN:tom"});
    QTest::newRow("nothing but an address")
        << OlmXml::item(QStringLiteral("contact"), addresses) << QByteArray()
        << Crlf({"N:;;;;", "FN:jane@not.mail", "EMAIL;TYPE=INTERNET,PREF:jane@not.mail",
                 "EMAIL;TYPE=INTERNET:a&b@x.org"});
    QTest::newRow("addresses in other orders and quotes, self-closing")
        << OlmXml::item(QStringLiteral("contact"),
                        "<OPFContactCopyEmailAddressList><contactEmailAddress OPFContactEmailAddressType=\"0\" "
                        "OPFContactEmailAddressAddress='first@x.org'/><contactEmailAddress "
                        "OPFContactEmailAddressIsDefault=\"0\" OPFContactEmailAddressAddress=\"second@x.org\">"
                        "</contactEmailAddress></OPFContactCopyEmailAddressList>")
        << QByteArray()
        << Crlf({"N:;;;;", "FN:first@x.org", "EMAIL;TYPE=INTERNET,PREF:first@x.org", "EMAIL;TYPE=INTERNET:second@x.org"});
    QTest::newRow("cut-off element: nothing to save") << QByteArray("<contact><OPFContactCopyFirstName>tom")
                                                      << QByteArray() << QByteArray();
}

void PimWritersTest::contactCard()
{
    QFETCH(QByteArray, element);
    QFETCH(QByteArray, notes);
    QFETCH(QByteArray, body);
    ContactInformation rec;
    memset(&rec, 0, sizeof rec);
    rec.dwNotesLength = quint32(notes.size());
    if (body.isNull()) {
        QVERIFY(ContactCard(rec, QStringLiteral("U-2"), View(element), notes).isEmpty());
        return;
    }
    QCOMPARE(ContactCard(rec, QStringLiteral("U-2"), View(element), notes),
             "BEGIN:VCARD\r\nVERSION:3.0\r\n" + body + "UID:U-2\r\nEND:VCARD\r\n");
}

// The sample's Jane Doe holds more than the basic card: what vCard readers know is written, the
// rest is named for the log.
void PimWritersTest::contactFieldsBeyondTheCard()
{
    QByteArray children;
    for (const char *f : {"Bart", "Lisa, Jr."})
        children += OlmXml::element(QStringLiteral("string"), QString::fromLatin1(f));
    QByteArray fields =
        OlmXml::elementRaw("OPFContactCopyChildren", children)
        + OlmXml::elementRaw(
            "OPFContactCopyIMAddressList",
            "<contactEmailAddress xml:space=\"preserve\" OPFContactEmailAddressAddress=\"jane@nosuch.mail\" "
            "OPFContactEmailAddressIsDefault=\"1\"></contactEmailAddress>"
            "<contactEmailAddress OPFContactEmailAddressAddress=\"xmpp:j@x.org\"></contactEmailAddress>");
    for (const auto &f : QList<QPair<QString, QString>>{{"OPFContactCopyAnniversary", "2018-06-20T06:00:00"},
                                                        {"OPFContactCopyBusinessOffice", "B-12"},
                                                        {"OPFContactCopyCustom1Data", "dfdf"},
                                                        {"OPFContactCopyCustomDate2", "2018-06-20T06:00:00"},
                                                        {"OPFContactCopyInterests", "TV"},
                                                        {"OPFContactCopySpousesName", "Marge"},
                                                        {"OPFContactCustomData8", "8889"}})
        fields += OlmXml::element(f.first, f.second);
    const QByteArray element = OlmXml::item(QStringLiteral("contact"), fields);
    ContactInformation rec;
    memset(&rec, 0, sizeof rec);
    QStringList leftOut;
    const QByteArray card = ContactCard(rec, QStringLiteral("U"), View(element), QByteArray(), &leftOut);
    QVERIFY2(card.contains(Crlf({"IMPP:im:jane@nosuch.mail", "IMPP:xmpp:j@x.org", "X-ANNIVERSARY:2018-06-20",
                                 "X-SPOUSE:Marge", "X-CHILD:Bart", "X-CHILD:Lisa\\, Jr.", "UID:U"})),
             card.constData());
    QCOMPARE(leftOut, QStringList({"Custom 1", "Custom 8", "Custom date 2", "business office", "interests"}));
}

// A day without a time of its own (birthday, all-day event without zone data) is the day of the
// stored midnight in the zone the archive shows; without one, of a midnight anywhere from UTC-10
// to UTC+13. Whatever zone the saving machine is in.
void PimWritersTest::dateOnlyDays_data()
{
    QTest::addColumn<QByteArray>("zone");
    QTest::addColumn<QString>("archiveZone");
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QByteArray>("day");
    const QList<QPair<QString, QByteArray>> cases = {
        {"1980-05-17T06:00:00", "1980-05-17"},                                         // midnight at UTC-6
        {"1960-02-29T07:00:00", "1960-02-29"},                                         // a leap day at UTC-7
        {"1985-03-09T23:00:00", "1985-03-10"},                                         // Berlin's midnight
        {"2018-06-20T10:00:00", "2018-06-20"},                                         // Honolulu's
        {"2019-01-14T11:00:00", "2019-01-15"},                                         // Auckland's summer
        {"1601-01-01T00:00:00", "1601-01-01"}, {"9999-12-31T15:00:00", "9999-12-31"},  // no year 10000
    };
    // Midnights of the 15th of January and of July in each zone the archive shows.
    const QList<QList<QString>> zoned = {
        {kAucklandZone, "2019-01-14T11:00:00", "2019-01-15"}, {kAucklandZone, "2019-07-14T12:00:00", "2019-07-15"},
        {kKiritimatiZone, "2019-01-14T10:00:00", "2019-01-15"}, {kPagoPagoZone, "2019-01-15T11:00:00", "2019-01-15"},
        {kKiritimatiZone, "1601-01-01T00:00:00", "1601-01-01"}, {kAucklandZone, "1990-01-14T11:00:00", "1990-01-15"},
        // Tonga kept summer time (+14) in 2000; its zone data now shows +13 all year.
        {kTongaZone, "2000-01-14T10:00:00", "2000-01-15"}, {kTongaZone, "2019-01-14T11:00:00", "2019-01-15"},
        // Midnights three hours west of the zone's rules are still their own day.
        {kTongaZone, "2019-01-14T14:00:00", "2019-01-15"},
        // A date stored alone is that day, west of UTC too.
        {kPagoPagoZone, "2019-01-15", "2019-01-15"}, {kAucklandZone, "2019-01-15", "2019-01-15"},
    };
    for (const char *zone : {"UTC", "Pacific/Honolulu", "Asia/Tokyo", "Pacific/Kiritimati", "Pacific/Pago_Pago"}) {
        for (const auto &c : cases)
            QTest::newRow(qPrintable(QStringLiteral("%1 in %2").arg(c.first, QLatin1String(zone))))
                << QByteArray(zone) << QString() << c.first << c.second;
        for (const auto &c : zoned)
            QTest::newRow(qPrintable(QStringLiteral("%1 of %2 in %3")
                                         .arg(c.at(1), ZoneRules(c.at(0)).tzid(), QLatin1String(zone))))
                << QByteArray(zone) << c.at(0) << c.at(1) << c.at(2).toLatin1();
    }
}

void PimWritersTest::dateOnlyDays()
{
    QFETCH(QByteArray, zone);
    QFETCH(QString, archiveZone);
    QFETCH(QString, stored);
    QFETCH(QByteArray, day);
    qputenv("TZ", zone);
    tzset();
    const ZoneRules rules(archiveZone);
    QCOMPARE(rules.isValid(), !archiveZone.isEmpty());
    QCOMPARE(ArchiveDateLocalIsoDay(stored, &rules), day);
    QCOMPARE(ArchiveDateLocalDay(stored, &rules), QByteArray(day).replace("-", ""));
    const QByteArray element =
        OlmXml::item(QStringLiteral("contact"), OlmXml::element(QStringLiteral("OPFContactCopyBirthday"), stored));
    ContactInformation rec;
    memset(&rec, 0, sizeof rec);
    QVERIFY(ContactCard(rec, QStringLiteral("U"), View(element), QByteArray(), nullptr, nullptr, &rules)
                .contains("\r\nBDAY:" + day + "\r\n"));
    const QByteArray event = OlmXml::item(
        QStringLiteral("appointment"),
        OlmXml::element(QStringLiteral("OPFCalendarEventCopyStartTime"), stored)
            + OlmXml::element(QStringLiteral("OPFCalendarEventGetIsAllDayEvent"), QStringLiteral("1")));
    CalenderInformation item;
    memset(&item, 0, sizeof item);
    const QByteArray file = CalendarEventFile(item, QStringLiteral("U"), View(event), QByteArray(),
                                              "20200101T000000Z", nullptr, &rules);
    QVERIFY2(file.contains("\r\nDTSTART;VALUE=DATE:" + QByteArray(day).replace("-", "") + "\r\n"), file.constData());
}

// A contact's picture, stored as base64 text, comes back as the same bytes in the card's PHOTO,
// whatever its folding and however the archive's reads are cut; a picture that cannot be read is
// named and left out.
void PimWritersTest::contactPhotos_data()
{
    QTest::addColumn<QByteArray>("stored");
    QTest::addColumn<int>("chunk");
    QTest::addColumn<QByteArray>("type");  // empty: left out with a problem
    const QByteArray png(kPngBase64), jpeg(kJpegBase64);
    QByteArray folded;
    for (int i = 0; i < jpeg.size(); i += 76)
        folded += jpeg.mid(i, 76) + "\r\n  ";
    for (const int chunk : {1, 7, 31, 1 << 20}) {
        const QString n = QString::number(chunk);
        QTest::newRow(qPrintable("PNG, reads of " + n)) << png << chunk << QByteArray("PNG");
        QTest::newRow(qPrintable("JPEG folded with blanks, reads of " + n)) << folded << chunk << QByteArray("JPEG");
    }
    QTest::newRow("unknown kind of picture") << QByteArray("AAECAwQF") << 4 << QByteArray("?");
    QTest::newRow("a character outside base64") << QByteArray("iVBOR*0KGgo=") << 5 << QByteArray();
    QTest::newRow("padding before the end") << QByteArray("iV==Rw0KGgo=") << 5 << QByteArray();
    QTest::newRow("a group cut short") << png.left(png.size() - 3) << 64 << QByteArray();
    QTest::newRow("cut off in the archive") << png + "#cut" << 16 << QByteArray();
}

void PimWritersTest::contactPhotos()
{
    QFETCH(QByteArray, stored);
    QFETCH(int, chunk);
    QFETCH(QByteArray, type);
    // "#cut" stands for bytes the archive no longer gives.
    const QByteArray archive = QByteArray("xx") + stored;
    const int readable = archive.indexOf("#cut") < 0 ? archive.size() : archive.indexOf("#cut");
    int reads = 0;
    const auto read = [&](qint64 at, qint64 n) {
        ++reads;
        return archive.mid(int(at), int(qMax<qint64>(0, qMin<qint64>(n, readable - at))));
    };
    const ContactPhoto photo = ReadContactPhoto(2, stored.size(), read, chunk);
    ContactInformation rec;
    memset(&rec, 0, sizeof rec);
    const QByteArray element = OlmXml::item(QStringLiteral("contact"), QByteArray());
    const QByteArray card = ContactCard(rec, QStringLiteral("U"), View(element), QByteArray(), nullptr, &photo);
    if (type.isEmpty()) {
        QVERIFY(photo.base64.isEmpty());
        QVERIFY(photo.problem.startsWith(QLatin1String("its picture ")));
        QVERIFY(card.isEmpty());
        return;
    }
    QVERIFY2(photo.problem.isEmpty(), qPrintable(photo.problem));
    QCOMPARE(reads, (stored.size() + chunk - 1) / chunk);
    QByteArray unfolded = card;
    unfolded.replace("\r\n ", "");
    const QByteArray property = type == "?" ? QByteArray("PHOTO;ENCODING=b:") : "PHOTO;ENCODING=b;TYPE=" + type + ':';
    const int at = unfolded.indexOf("\r\n" + property);
    QVERIFY2(at > 0, card.constData());
    const int from = at + 2 + property.size();
    const QByteArray value = unfolded.mid(from, unfolded.indexOf("\r\n", from) - from);
    QByteArray clean = stored;
    clean.replace("\r\n", "").replace(" ", "");
    QCOMPARE(QByteArray::fromBase64(value), QByteArray::fromBase64(clean));
    QCOMPARE(value, clean);
}

void PimWritersTest::contactLosses_data()
{
    QTest::addColumn<QByteArray>("fields");
    QTest::addColumn<QStringList>("lost");
    const auto el = [](const char *name, const char *value) {
        return OlmXml::element(QString::fromLatin1(name), QString::fromLatin1(value));
    };
    QTest::newRow("a real birthday and one picture") << el("OPFContactCopyBirthday", "1999-02-28T07:00:00")
            + el("OPFContactAddPicture", kPngBase64) << QStringList();
    QTest::newRow("no such birthday nor anniversary")
        << el("OPFContactCopyBirthday", "1999-02-30") + el("OPFContactCopyAnniversary", "2001-13-01T00:00:00")
        << QStringList{"its birthday (1999-02-30) is no real date",
                       "its anniversary (2001-13-01T00:00:00) is no real date"};
    QTest::newRow("a second picture") << el("OPFContactAddPicture", kPngBase64) + el("OPFContactAddPicture", kPngBase64)
                                      << QStringList{"it holds 2 pictures, of which only the first is written"};
}

// What a card cannot hold of its contact is named, never dropped without a line.
void PimWritersTest::contactLosses()
{
    QFETCH(QByteArray, fields);
    QFETCH(QStringList, lost);
    const QByteArray element = OlmXml::item(QStringLiteral("contact"), fields);
    QCOMPARE(ContactLosses(View(element)), lost);
}

// An item's identity is its own: what stands before it in its store, its place and the items
// around it do not change it; its own id outweighs its content; equal items held twice stay two.
void PimWritersTest::itemIdentity()
{
    const auto card = [](const char *name) {
        return OlmXml::item(QStringLiteral("contact"),
                            OlmXml::element(QStringLiteral("OPFContactCopyDisplayName"), QString::fromLatin1(name)));
    };
    const auto event = [](const char *id, const char *title) {
        return OlmXml::item(QStringLiteral("appointment"),
                            OlmXml::element(QStringLiteral("OPFCalendarEventCopySummary"), QString::fromLatin1(title))
                                + OlmXml::element(QStringLiteral("OPFCalendarEventCopyUUID"), QString::fromLatin1(id)));
    };
    const auto hexOf = [](ItemIdentities &ids, const QByteArray &item, const char *tag, const char *close,
                          const char *idTag = nullptr) { return ids.next(View(item), tag, close, idTag).hex; };
    ItemIdentities first, later;
    const QByteArray a = hexOf(first, card("A"), "<contact", "</contact>");
    QCOMPARE(a.size(), 32);
    // Later: another card before it, and the list's start tag with another count.
    QVERIFY(hexOf(later, card("B"), "<contact", "</contact>") != a);
    QCOMPARE(hexOf(later, "<contacts count=\"9\">\n " + card("A"), "<contact", "</contact>"), a);
    // The same card again in the same save: another identity, the first keeps its own.
    const ItemIdentity twice = later.next(View(card("A")), "<contact", "</contact>");
    QVERIFY(twice.hex != a);
    QCOMPARE(twice.occurrence, 2);
    // An event by its own id: an edited title keeps it.
    const QByteArray meeting =
        hexOf(first, event("E-1", "Meeting"), "<appointment", "</appointment>", "<OPFCalendarEventCopyUUID");
    ItemIdentities edited;
    QCOMPARE(
        hexOf(edited, event("E-1", "Meeting moved"), "<appointment", "</appointment>", "<OPFCalendarEventCopyUUID"),
        meeting);
    QVERIFY(meeting
            != hexOf(edited, event("E-2", "Meeting"), "<appointment", "</appointment>", "<OPFCalendarEventCopyUUID"));
}

// The zone an archive shows is the one most of its items carry; texts no reader can use count for
// none.
void PimWritersTest::archiveZone()
{
    const QString broken = QStringLiteral("BEGIN:VTIMEZONE\nTZID:Broken\nEND:VTIMEZONE\n");
    QCOMPARE(MostCommonZone({}).isValid(), false);
    QCOMPARE(MostCommonZone({QString(), broken, broken}).isValid(), false);
    QCOMPARE(MostCommonZone({kPagoPagoZone, kAucklandZone, QString(), kAucklandZone, broken, broken, broken}).tzid(),
             ZoneRules(kAucklandZone).tzid());
    // A tie goes to the zone seen first.
    QCOMPARE(MostCommonZone({kKiritimatiZone, kAucklandZone}).tzid(), ZoneRules(kKiritimatiZone).tzid());
}

// Times no clock shows and repeats whose end cannot be written as such: the event keeps its
// nearest real time and its first occurrence, and the report says what changed; a count is
// written as stored.
void PimWritersTest::eventTimesAndEnds_data()
{
    QTest::addColumn<QString>("start");
    QTest::addColumn<QByteArray>("allDay");
    QTest::addColumn<QByteArray>("ends");  // the recurrence's end elements; empty: no repeat
    QTest::addColumn<QByteArray>("lines"); // lines the event holds, CR LF between them
    QTest::addColumn<QString>("lost");     // what the report names; empty: nothing
    const auto until = [](const char *date) {
        return OlmXml::elementRaw("OPFRecurrenceCopyEndDate", date) + OlmXml::elementRaw("OPFRecurrenceHasEndDate", "1");
    };
    const auto count = [](const char *n) {
        return OlmXml::elementRaw("OPFRecurrenceGetOccurenceCount", n) + OlmXml::elementRaw("OPFRecurrenceIsNumbered", "1");
    };
    QTest::newRow("24:00 is the next day's midnight") << "2018-06-04T24:00:00" << QByteArray("0") << QByteArray()
                                                      << QByteArray("DTSTART:20180605T000000Z") << QString();
    QTest::newRow("a leap second is the second before") << "2018-06-30T23:59:60" << QByteArray("0") << QByteArray()
                                                         << QByteArray("DTSTART:20180630T235959Z") << QString();
    QTest::newRow("25:00 is the day's last second, named") << "2018-06-04T25:00:00" << QByteArray("0") << QByteArray()
        << QByteArray("DTSTART:20180604T235959Z") << "its start time (2018-06-04T25:00:00) names no real time of day";
    QTest::newRow("minute 61 is the hour's last second, named") << "2018-06-04T10:61:00" << QByteArray("0")
        << QByteArray() << QByteArray("DTSTART:20180604T105959Z") << "its start time (2018-06-04T10:61:00)";
    QTest::newRow("a repeat ending before it starts: its first occurrence")
        << "2018-06-04T10:00:00" << QByteArray("0") << until("2018-06-01T10:00:00")
        << QByteArray("DTSTART:20180604T100000Z") << "its repeat ends (2018-06-01T10:00:00) before its first occurrence";
    QTest::newRow("an all-day repeat ending the day before")
        << "2018-06-03T22:00:00" << QByteArray("1") << until("2018-06-02T22:00:00")
        << QByteArray("DTSTART;VALUE=DATE:20180604") << "before its first occurrence";
    QTest::newRow("a repeat ending at its start keeps its rule")
        << "2018-06-04T10:00:00" << QByteArray("0") << until("2018-06-04T10:00:00")
        << QByteArray("RRULE:FREQ=DAILY;INTERVAL=1;UNTIL=20180604T100000Z") << QString();
    QTest::newRow("250,000 times as stored") << "2018-06-04T10:00:00" << QByteArray("0") << count("2.5E5")
                                              << QByteArray("RRULE:FREQ=DAILY;INTERVAL=1;COUNT=250000") << QString();
    QTest::newRow("a billion times as stored") << "2018-06-04T10:00:00" << QByteArray("0") << count("1E9")
                                                << QByteArray("RRULE:FREQ=DAILY;INTERVAL=1;COUNT=1000000000") << QString();
}

void PimWritersTest::eventTimesAndEnds()
{
    QFETCH(QString, start);
    QFETCH(QByteArray, allDay);
    QFETCH(QByteArray, ends);
    QFETCH(QByteArray, lines);
    QFETCH(QString, lost);
    QByteArray children = OlmXml::elementRaw("OPFCalendarEventCopyStartTime", start.toLatin1())
        + OlmXml::elementRaw("OPFCalendarEventGetIsAllDayEvent", allDay);
    if (!ends.isEmpty())
        children += OlmXml::elementRaw(
            "OPFCalendarEventCopyRecurrence",
            ends
                + OlmXml::elementRaw("OPFRecurrencePattern",
                                     OlmXml::elementRaw("OPFRecurrencePatternInterval", "1")
                                         + OlmXml::elementRaw("OPFRecurrencePatternType", "OPFRecurrencePatternDaily")));
    const QByteArray element = OlmXml::item(QStringLiteral("appointment"), children);
    CalenderInformation rec;
    memset(&rec, 0, sizeof rec);
    QString unwritten;
    const QByteArray file =
        CalendarEventFile(rec, QStringLiteral("U"), View(element), QByteArray(), "20200101T000000Z", &unwritten);
    QVERIFY2(file.contains("\r\n" + lines + "\r\n"), file.constData());
    QCOMPARE(file.contains("RRULE"), lines.startsWith("RRULE"));
    QVERIFY2(lost.isEmpty() ? unwritten.isEmpty() : unwritten.contains(lost), qPrintable(unwritten));
}

void PimWritersTest::calendarEvent_data()
{
    QTest::addColumn<QByteArray>("element");
    QTest::addColumn<QByteArray>("summary");
    QTest::addColumn<QByteArray>("description");
    QTest::addColumn<QByteArray>("body");   // the lines between BEGIN:VEVENT and END:VEVENT
    const auto event = [](const QList<QPair<QString, QString>> &fields) {
        QByteArray children;
        for (const auto &f : fields)
            children += OlmXml::element(f.first, f.second);
        return OlmXml::item(QStringLiteral("appointment"), children);
    };
    QTest::newRow("timed event in UTC")
        << event({{"OPFCalendarEventCopyEndTime", "2018-06-18T17:00:00"},
                  {"OPFCalendarEventCopyLocation", "Over there"},
                  {"OPFCalendarEventCopyModDate", "2018-06-21T01:43:27"},
                  {"OPFCalendarEventCopyStartTime", "2018-06-18T16:30:00"},
                  {"OPFCalendarEventCopyUUID", "FC8C8E87-C9E8-42F7-AD76-457CCFB55DFB"},
                  {"OPFCalendarEventGetIsAllDayEvent", "0"}})
        << QByteArray("Lunch, then talk") << QByteArray("Bring &lt;notes&gt; &amp;amp; pens\r\nOK")
        << Crlf({"UID:FC8C8E87-C9E8-42F7-AD76-457CCFB55DFB", "DTSTAMP:20180621T014327Z",
                 "SUMMARY:Lunch\\, then talk", "LOCATION:Over there", "DESCRIPTION:Bring <notes> &amp\\; pens\\nOK",
                 "DTSTART:20180618T163000Z", "DTEND:20180618T170000Z"});
    // All-day items run from local midnight to local midnight.
    QTest::newRow("all-day event as dates")
        << event({{"OPFCalendarEventCopyEndTime", "2018-06-20T22:00:00"},
                  {"OPFCalendarEventCopyStartTime", "2018-06-19T22:00:00"},
                  {"OPFCalendarEventGetIsAllDayEvent", "1"}})
        << QByteArray("Holiday") << QByteArray()
        << Crlf({"UID:U-3", "DTSTAMP:20240305T101112Z", "SUMMARY:Holiday", "DTSTART;VALUE=DATE:20180620",
                 "DTEND;VALUE=DATE:20180621"});
    QTest::newRow("no start: no event")
        << event({{"OPFCalendarEventCopyModDate", "yesterday"}, {"OPFCalendarEventCopySummary", "From XML"}})
        << QByteArray() << QByteArray() << QByteArray();
    QTest::newRow("no such day: no event") << event({{"OPFCalendarEventCopyStartTime", "2018-02-30T10:00:00"}})
                                           << QByteArray("x") << QByteArray() << QByteArray();
}

void PimWritersTest::calendarEvent()
{
    QFETCH(QByteArray, element);
    QFETCH(QByteArray, summary);
    QFETCH(QByteArray, description);
    QFETCH(QByteArray, body);
    CalenderInformation rec;
    memset(&rec, 0, sizeof rec);
    rec.pSummary = summary.isEmpty() ? nullptr : summary.data();
    rec.dwDescriptionLength = quint32(description.size());
    QString unwritten;
    const QByteArray file =
        CalendarEventFile(rec, QStringLiteral("U-3"), View(element), description, "20240305T101112Z", &unwritten);
    if (body.isNull()) {
        // An event needs a start: none is written, and the log says why.
        QVERIFY(file.isEmpty());
        QVERIFY2(unwritten.contains(QLatin1String("start")), qPrintable(unwritten));
        return;
    }
    QCOMPARE(file, QByteArray(kHead) + "BEGIN:VEVENT\r\n" + body + "END:VEVENT\r\nEND:VCALENDAR\r\n");
}

QTEST_MAIN(PimWritersTest)
#include "tst_pimwriters.moc"
