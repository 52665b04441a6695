// Calendar items, tasks, contacts and notes as calendar and address-book readers take them back
// (python icalendar, recurring-ical-events, vobject): weekday-of-the-month and endless repeats,
// the hour repeated when clocks go back, days without a time, names the record cannot keep,
// done tasks and the contact fields beyond the basic card; saved as the package and for Apple
// Mail on a machine in UTC and one in Honolulu. Items that give no valid event are named, not
// written.

#include "ArchiveFile.h"
#include "OlmXml.h"
#include "SaveTestUtil.h"
#include "ScanTestUtil.h"
#include "TestArchiveBuilder.h"
#include "platform/ReminderSink.h"
#include "save/OutputLayout.h"
#include "save/QMailSavingThread.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>
#include <time.h>

namespace {

QByteArray el(const char *name, const QByteArray &value)
{
    return OlmXml::elementRaw(name, value);
}

const char kMountain[] = "BEGIN:VCALENDAR\nBEGIN:VTIMEZONE\nTZID:Mountain Time (US &amp; Canada)\nBEGIN:STANDARD\n"
                         "RRULE:FREQ=YEARLY;INTERVAL=1;BYDAY=1SU;BYMONTH=11\nTZOFFSETFROM:-0600\nTZOFFSETTO:-0700\n"
                         "DTSTART:20071104T020000\nEND:STANDARD\nBEGIN:DAYLIGHT\n"
                         "RRULE:FREQ=YEARLY;INTERVAL=1;BYDAY=2SU;BYMONTH=3\nTZOFFSETFROM:-0700\nTZOFFSETTO:-0600\n"
                         "DTSTART:20070311T020000\nEND:DAYLIGHT\nEND:VTIMEZONE\nEND:VCALENDAR\n";

QByteArray repeat(const QByteArray &pattern, const QByteArray &ends)
{
    return el("OPFCalendarEventCopyRecurrence", ends + el("OPFRecurrencePattern", pattern));
}

QByteArray counted(const QByteArray &count)
{
    return el("OPFRecurrenceGetOccurenceCount", count) + el("OPFRecurrenceIsNumbered", "1");
}

QByteArray appointment(const QByteArray &summary, const QByteArray &start, const QByteArray &end,
                       const QByteArray &more = QByteArray())
{
    QByteArray children = more;
    if (!end.isEmpty())
        children += el("OPFCalendarEventCopyEndTime", end);
    if (!start.isEmpty())
        children += el("OPFCalendarEventCopyStartTime", start);
    return OlmXml::item(QStringLiteral("appointment"), children + el("OPFCalendarEventCopySummary", summary));
}

QByteArray calendar()
{
    const QByteArray once = el("OPFRecurrencePatternInterval", "1");
    const QByteArray tuesday = el("OPFRecurrencePatternDaysOfWeek", el("tuesday", "1"));
    const QByteArray monday = el("OPFRecurrencePatternDaysOfWeek", el("monday", "1"));
    const QByteArray allDay = el("OPFCalendarEventGetIsAllDayEvent", "1");
    QVector<QByteArray> items = {
        appointment("Second Tuesday", "2018-06-12T16:00:00", "2018-06-12T17:00:00",
                    repeat(tuesday + once + el("OPFRecurrencePatternType", "OPFRecurrencePatternRelativeMonthly"),
                           counted("6E0"))),
        appointment("Last Monday of May", "2018-05-28T15:00:00", "2018-05-28T16:00:00",
                    repeat(monday + once + el("OPFRecurrencePatternMonth", "5")
                               + el("OPFRecurrencePatternType", "OPFRecurrencePatternRelativeYearly")
                               + el("OPFRecurrencePatternWeek", "5"),
                           counted("3E0"))),
        appointment("Endless daily", "2018-06-01T09:00:00", "2018-06-01T09:30:00",
                    repeat(once + el("OPFRecurrencePatternType", "OPFRecurrencePatternDaily"), counted("1E9"))),
        appointment("Repeated hour", "2018-11-04T07:30:00", "2018-11-04T07:45:00",
                    el("OPFCalendarEventGetStartTimeZoneICSData", kMountain)),
        appointment("All day", "2018-06-20T06:00:00", "2018-06-21T06:00:00", allDay),
        appointment("All day in Tokyo", "2018-06-19T15:00:00", "2018-06-20T15:00:00", allDay),
        appointment("Broken", QByteArray(), QByteArray()),
        appointment("No such day", "2018-02-30T10:00:00", "2018-02-30T11:00:00"),
    };
    QByteArray all;
    for (const QByteArray &item : items)
        all += item;
    return OlmXml::list(QStringLiteral("appointments"), items.size(), all);
}

QByteArray contact(const QByteArray &display, const QByteArray &fields)
{
    return OlmXml::item(QStringLiteral("contact"), fields + el("OPFContactCopyDisplayName", display));
}

QByteArray contacts()
{
    const QByteArray jane = el("OPFContactCopyAnniversary", "2018-06-20T06:00:00")
        + el("OPFContactCopyBusinessOffice", "Engineer")
        + el("OPFContactCopyChildren", el("string", "Bart") + el("string", "Lisa"))
        + el("OPFContactCopyCustom1Data", "dfdf") + el("OPFContactCopyCustomDate1", "2018-06-20T06:00:00")
        + el("OPFContactCopyFirstName", "Jane")
        + el("OPFContactCopyIMAddressList",
             "<contactEmailAddress xml:space=\"preserve\" "
             "OPFContactEmailAddressAddress=\"jane@nosuch.mail\"></contactEmailAddress>")
        + el("OPFContactCopyInterests", "TV") + el("OPFContactCopyLastName", "Doe")
        + el("OPFContactCopySpousesName", "Marge");
    const QByteArray all = contact("Jane Doe", jane)
        + contact("Born 1980", el("OPFContactCopyBirthday", "1980-05-17T06:00:00"))
        + contact("Leap Day", el("OPFContactCopyBirthday", "1960-02-29T07:00:00"))
        + contact("Berlin Midnight", el("OPFContactCopyBirthday", "1985-03-09T23:00:00"));
    return OlmXml::list(QStringLiteral("contacts"), 4, all);
}

QByteArray tasks()
{
    const QByteArray longName =
        OlmXml::item(QStringLiteral("task"),
                     el("OPFTaskCopyName", QByteArray(300, 'T') + " &amp; end") + el("OPFTaskGetPriority", "3"));
    const QByteArray done =
        OlmXml::item(QStringLiteral("task"),
                     el("OPFTaskCopyCompletedDateTime", "2018-06-21T03:17:02")
                         + el("OPFTaskCopyDueDateTime", "2018-06-20T06:00:00") + el("OPFTaskCopyName", "Done task"));
    return OlmXml::list(QStringLiteral("tasks"), 2, longName + done);
}

QByteArray notes()
{
    const QByteArray longTitle = OlmXml::item(QStringLiteral("note"),
                                              el("OPFNoteCopyText", "&lt;p&gt;text&lt;/p&gt;")
                                                  + el("OPFNoteCopyTitle", QByteArray(300, 'N') + " &amp; title"));
    const QByteArray lines = OlmXml::item(
        QStringLiteral("note"), el("OPFNoteCopyText", "one\ntwo\n\nthree\x07") + el("OPFNoteCopyTitle", "Lines"));
    return OlmXml::list(QStringLiteral("notes"), 2, longTitle + lines);
}

QByteArray archive()
{
    TestArchiveBuilder b;
    b.addEntry(QStringLiteral("Local/Calendar/Calendar.xml"), calendar());
    b.addEntry(QStringLiteral("Local/Address Book/Contacts.xml"), contacts());
    b.addEntry(QStringLiteral("Local/Tasks/Tasks.xml"), tasks());
    b.addEntry(QStringLiteral("Local/Notes/Notes.xml"), notes());
    return b.finish();
}

}  // namespace

class PimReadBackTest : public QObject {
    Q_OBJECT

private slots:
    void init() { ResetRunFlags(); }
    void cleanup()
    {
        FreeScanState();
        m_archive.reset();
        ReminderHooks::record = nullptr;
    }
    void readersAgree_data();
    void readersAgree();

private:
    std::unique_ptr<ArchiveFile> m_archive;
};

void PimReadBackTest::readersAgree_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QByteArray>("zone");
    for (const char *zone : {"UTC", "Pacific/Honolulu"}) {
        QTest::newRow(qPrintable(QStringLiteral("package, %1").arg(zone))) << int(SaveTypeRGE) << QByteArray(zone);
        QTest::newRow(qPrintable(QStringLiteral("Apple Mail, %1").arg(zone))) << int(SaveTypeMBOX) << QByteArray(zone);
    }
}

void PimReadBackTest::readersAgree()
{
    QFETCH(int, type);
    QFETCH(QByteArray, zone);
    if (IndexFor(SaveType(type)) < 0)
        QSKIP("this edition has no such save type");
    qputenv("TZ", zone);
    tzset();
    QTemporaryDir dest;
    QVERIFY(ScanAndStartTestSave(m_archive, archive(), SaveType(type), dest.path()));
    QMailSavingThread thread;
    QVERIFY(thread.SetInitialSettings(QString(), IndexFor(SaveType(type))) && thread.wait(120000));
    const SaveOutcome outcome = thread.outcome();

    // The two events without a real start are counted not saved, each named with why.
    QCOMPARE(outcome.failed, qint64(2));
    const QString failures = outcome.failures.join(QLatin1Char('\n'));
    QVERIFY2(failures.contains(QLatin1String("\"Broken\"")) && failures.contains(QLatin1String("no start time"))
                 && failures.contains(QLatin1String("\"No such day\""))
                 && failures.contains(QLatin1String("(2018-02-30T10:00:00) is no real date")),
             qPrintable(failures));
    // Jane's fields that no vCard field holds are named.
    const QString incomplete = outcome.incompletes.join(QLatin1Char('\n'));
    QCOMPARE(outcome.incomplete, qint64(1));
    QVERIFY2(incomplete.contains(QLatin1String("Jane Doe"))
                 && incomplete.contains(QLatin1String("Custom 1, Custom date 1, business office, interests")),
             qPrintable(incomplete));

    QProcess check;
    check.start(QStringLiteral("/usr/bin/python3"),
                {QStringLiteral(OLM_SOURCE_DIR "/tests/save/pim_readback.py"),
                 OutputRootFor(SaveType(type), saveDir, strTime)});
    QVERIFY(check.waitForFinished(120000));
    const QString output = QString::fromUtf8(check.readAllStandardOutput());
    QVERIFY2(check.exitCode() == 0, check.readAllStandardError().constData());
    const QStringList problems = output.split(QLatin1Char('\n')).filter(QLatin1String("PROBLEM"));
    QVERIFY2(problems.isEmpty(), qPrintable(problems.join(QLatin1Char('\n')) + QLatin1Char('\n') + output));
}

QTEST_GUILESS_MAIN(PimReadBackTest)
#include "tst_pimreadback.moc"
