// Contacts, calendar items, tasks and notes saved through the real saving thread (package and
// Apple Mail), read back by independent vCard and iCalendar parsers: the sample archive, a large
// generated one, items past 4 GiB, items recovered from smashed headers, and a Contacts folder
// that cannot be written.

#include "ArchiveFile.h"
#include "OlmXml.h"
#include "SaveTestUtil.h"
#include "ScanTestUtil.h"
#include "TestArchiveBuilder.h"
#include "scanner/FolderAttributes.h"
#include "scanner/FolderKinds.h"
#include "save/MessageFields.h"
#include "save/QMailSavingThread.h"
#include "save/SaveGlobals.h"
#include "scanner/ElementValue.h"
#include "save/SaveFlow.h"

#include <QDirIterator>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <memory>
#include <time.h>
#include <unistd.h>

namespace {

// Reads every item file below argv[1] with vobject (vCards, validated) and icalendar (with a
// vobject parse as a second reader), checks CR LF ends and 75-octet lines, and prints what it
// found as one JSON object.
const char kReader[] = R"PY(
import sys, os, json, datetime
import vobject, icalendar

root = sys.argv[1]
out = {'contacts': [], 'events': [], 'todos': [], 'journals': [], 'texts': [], 'problems': []}

def when(value):
    if value is None:
        return None
    v = value.dt
    if isinstance(v, datetime.datetime):
        if v.tzinfo is not None:
            return int(v.timestamp())
        return v.isoformat()
    return 'date:' + v.isoformat()

def s(value):
    return None if value is None else str(value)

def check_lines(path, data):
    if not data.endswith(b'\r\n'):
        out['problems'].append('%s: no CR LF at the end' % path)
    for line in data[:-2].split(b'\r\n'):
        if b'\n' in line or b'\r' in line:
            out['problems'].append('%s: bare line break' % path)
        if len(line) > 75:
            out['problems'].append('%s: line of %d octets' % (path, len(line)))

for folder, _, files in os.walk(root):
    kind = os.path.basename(folder)
    if kind not in ('Contacts', 'Calendar', 'Tasks', 'Notes'):
        continue
    for name in sorted(files):
        path = os.path.join(folder, name)
        data = open(path, 'rb').read()
        try:
            if name.endswith('.txt'):
                out['texts'].append({'file': name, 'text': data.decode('utf-8')})
                continue
            check_lines(path, data)
            text = data.decode('utf-8')
            if kind == 'Contacts':
                card = vobject.readOne(text, validate=True)
                n = card.n.value
                out['contacts'].append({'file': name, 'fn': card.fn.value, 'given': n.given, 'family': n.family,
                    'emails': [e.value for e in card.contents.get('email', [])],
                    'note': card.note.value if hasattr(card, 'note') else None})
                continue
            vobject.readOne(text)
            cal = icalendar.Calendar.from_ical(data)
            for c in cal.walk():
                if c.name == 'VEVENT':
                    out['events'].append({'file': name, 'summary': s(c.get('summary')), 'location': s(c.get('location')),
                        'description': s(c.get('description')), 'start': when(c.get('dtstart')),
                        'end': when(c.get('dtend')), 'uid': s(c.get('uid'))})
                elif c.name == 'VTODO':
                    out['todos'].append({'file': name, 'summary': s(c.get('summary')),
                        'description': s(c.get('description')), 'due': when(c.get('due')),
                        'start': when(c.get('dtstart'))})
                elif c.name == 'VJOURNAL':
                    out['journals'].append({'file': name, 'summary': s(c.get('summary')),
                        'description': s(c.get('description'))})
        except Exception as e:
            out['problems'].append('%s: %s: %s' % (path, type(e).__name__, e))
print(json.dumps(out))
)PY";

QString PythonWithReaders()
{
    for (const QString &candidate : {QStringLiteral("/usr/bin/python3"), QStringLiteral("python3")}) {
        QProcess p;
        p.start(candidate, {QStringLiteral("-c"), QStringLiteral("import vobject, icalendar")});
        if (p.waitForFinished(30000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0)
            return candidate;
    }
    return QString();
}

QString Utf8(const char *text)
{
    return QString::fromUtf8(text ? text : "");
}

// The element's text as the archive holds it, found by a plain pattern (not the writers' parser).
QString XmlValue(const QByteArray &item, const char *element)
{
    const QRegularExpression re(QStringLiteral("<%1[^>]*>([^<]*)</%1>").arg(QLatin1String(element)));
    return re.match(QString::fromUtf8(item)).captured(1).trimmed();
}

QString LocalIso(const QString &utcText)
{
    QDateTime t = QDateTime::fromString(utcText, Qt::ISODate);
    t.setTimeSpec(Qt::UTC);
    return t.toLocalTime().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss"));
}

qint64 Epoch(const QString &utcText)
{
    QDateTime t = QDateTime::fromString(utcText, Qt::ISODate);
    t.setTimeSpec(Qt::UTC);
    return t.toSecsSinceEpoch();
}

QStringList Sorted(QStringList list)
{
    list.sort();
    return list;
}

QByteArray TaskWithDue(int i)
{
    return OlmXml::item(QStringLiteral("task"),
                        OlmXml::element(QStringLiteral("OPFTaskCopyDueDateTime"),
                                        QStringLiteral("2012-03-%1T09:00:00").arg(i % 28 + 1, 2, 10, QLatin1Char('0'))) +
                            OlmXml::element(QStringLiteral("OPFTaskCopyName"), QStringLiteral("Task %1").arg(i)) +
                            OlmXml::element(QStringLiteral("OPFTaskCopyNote"), QStringLiteral("Do it, %1; now").arg(i)));
}

// count items of each kind, texts numbered so each file can be matched to its item.
QByteArray ManyItemsArchive(int count, QVector<qint64> *headers = nullptr, bool centralDirectory = true)
{
    TestArchiveBuilder b;
    QVector<OlmXml::ContactItem> contacts;
    QVector<OlmXml::EventItem> events;
    QVector<OlmXml::NoteItem> notes;
    QByteArray tasks;
    for (int i = 0; i < count; ++i) {
        contacts.append({QStringLiteral("First%1").arg(i), QStringLiteral("Last%1").arg(i), QString(),
                         QStringLiteral("Contact note %1 &amp; more").arg(i), QString()});
        events.append({QStringLiteral("Event %1").arg(i), QStringLiteral("Room %1").arg(i),
                       QStringLiteral("Agenda %1, line one\nline two").arg(i),
                       QStringLiteral("2014-07-%1T10:00:00").arg(i % 28 + 1, 2, 10, QLatin1Char('0')),
                       QStringLiteral("2014-07-%1T11:30:00").arg(i % 28 + 1, 2, 10, QLatin1Char('0'))});
        notes.append({QStringLiteral("Note %1").arg(i), QStringLiteral("Text of note %1").arg(i)});
        tasks += TaskWithDue(i);
    }
    const qint64 h1 = b.addEntry(QStringLiteral("Local/Address Book/Contacts.xml"), OlmXml::contacts(contacts));
    const qint64 h2 = b.addEntry(QStringLiteral("Local/Calendar/Calendar.xml"), OlmXml::appointments(events));
    const qint64 h3 = b.addEntry(QStringLiteral("Local/Tasks/Tasks.xml"), OlmXml::list(QStringLiteral("tasks"), count, tasks));
    const qint64 h4 = b.addEntry(QStringLiteral("Local/Notes/Notes.xml"), OlmXml::notes(notes));
    if (headers)
        *headers = {h1, h2, h3, h4};
    return b.finish(centralDirectory);
}

QByteArray SampleBytes()
{
    QFile f(QStringLiteral(OLM_SAMPLE_ARCHIVE));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QByteArray ReadFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QStringList ValuesOf(const QJsonArray &items, const char *key)
{
    QStringList values;
    for (const QJsonValue &v : items)
        values << v.toObject().value(QLatin1String(key)).toVariant().toString();
    return values;
}

} // namespace

class PimSaveEndToEndTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void sample_data();
    void sample();
    void manyItems_data();
    void manyItems();
    void recoveredFromSmashedHeaders();
    void brokenItemsNamed_data();
    void brokenItemsNamed();
    void notesReadAsXml_data();
    void notesReadAsXml();
    void itemsBeyond4GiB();
    void contactsFolderCannotBeMade();

private:
    bool prepare(const QByteArray &archive, SaveType type, const QString &dest);
    bool save(SaveType type);
    QJsonObject readBack(SaveType type);
    QString root(SaveType type) const { return OutputRootFor(type, saveDir, strTime); }

    std::unique_ptr<ArchiveFile> m_archive;
    SaveOutcome m_outcome;
    QString m_python;
};

void PimSaveEndToEndTest::initTestCase()
{
    qputenv("TZ", "Asia/Kolkata");
    tzset();
    m_python = PythonWithReaders();
}

void PimSaveEndToEndTest::init()
{
    ResetRunFlags();
}

void PimSaveEndToEndTest::cleanup()
{
    FreeScanState();
    m_archive.reset();
}

bool PimSaveEndToEndTest::prepare(const QByteArray &archive, SaveType type, const QString &dest)
{
    m_archive.reset(new ArchiveFile(archive));
    scanBytes(archive);
    return m_archive->isOpen() && StartTestSave(type, dest);
}

bool PimSaveEndToEndTest::save(SaveType type)
{
    SizeOfAllMails = unsigned(CountCheckedItems(StartFldrAtrib, CurrentSaveItemLists()));
    QMailSavingThread thread;
    if (!thread.SetInitialSettings(QString(), IndexFor(type)) || !thread.wait(300000))
        return false;
    m_outcome = thread.outcome();
    return true;
}

QJsonObject PimSaveEndToEndTest::readBack(SaveType type)
{
    QProcess python;
    python.start(m_python, {QStringLiteral("-c"), QString::fromUtf8(kReader), root(type)});
    if (!python.waitForFinished(300000) || python.exitCode() != 0) {
        QJsonObject failed;
        failed[QStringLiteral("problems")] = QJsonArray{QString::fromUtf8(python.readAllStandardError())};
        return failed;
    }
    return QJsonDocument::fromJson(python.readAllStandardOutput()).object();
}

void PimSaveEndToEndTest::sample_data()
{
    QTest::addColumn<int>("type");
    QTest::newRow("package") << int(SaveTypeRGE);
    QTest::newRow("Apple Mail") << int(SaveTypeMBOX);
}

void PimSaveEndToEndTest::sample()
{
    QFETCH(int, type);
    if (IndexFor(SaveType(type)) < 0)
        QSKIP("this edition has no such save type");
    QTemporaryDir dest;
    QVERIFY(prepare(SampleBytes(), SaveType(type), dest.path()));
    QCOMPARE(int(ContactItemCount), 5);
    QCOMPARE(int(CalendarItemCount), 8);
    QCOMPARE(int(TaskItemCount), 5);
    QCOMPARE(int(NotesItemCount), 1);
    QVERIFY(save(SaveType(type)));
    QVERIFY2(m_outcome.failures.isEmpty(), qPrintable(m_outcome.failures.join(QLatin1Char('\n'))));
    QCOMPARE(m_outcome.written, qint64(7 + 5 + 8 + 5 + 1));
    if (m_python.isEmpty())
        QSKIP("python3 with vobject and icalendar is needed to read the files back");
    const QJsonObject got = readBack(SaveType(type));
    QVERIFY2(got.value(QStringLiteral("problems")).toArray().isEmpty(),
             QJsonDocument(got.value(QStringLiteral("problems")).toArray()).toJson().constData());

    // Contacts: names and every e-mail address of the archive.
    QStringList names, emails;
    for (const ContactInformation *c : contacts()) {
        names << Utf8(c->pFirstName) + QLatin1Char('|') + Utf8(c->pLastName);
        const QString xml = QString::fromUtf8(ReadArchiveBytes(c->llItemOffset, c->dwItemLength));
        const QRegularExpression re(QStringLiteral("<OPFContactCopyEmailAddressList [^>]*>(.*?)</OPFContactCopyEmailAddressList>"));
        const QString list = re.match(xml).captured(1);
        QRegularExpressionMatchIterator it =
            QRegularExpression(QStringLiteral("OPFContactEmailAddressAddress=\"([^\"]*)\"")).globalMatch(list);
        while (it.hasNext())
            emails << it.next().captured(1);
    }
    const QJsonArray cards = got.value(QStringLiteral("contacts")).toArray();
    QCOMPARE(cards.size(), 5);
    QStringList gotNames, gotEmails;
    for (const QJsonValue &v : cards) {
        const QJsonObject o = v.toObject();
        gotNames << o.value(QStringLiteral("given")).toString() + QLatin1Char('|') + o.value(QStringLiteral("family")).toString();
        for (const QJsonValue &e : o.value(QStringLiteral("emails")).toArray())
            gotEmails << e.toString();
        QVERIFY(!o.value(QStringLiteral("fn")).toString().isEmpty());
    }
    QCOMPARE(Sorted(gotNames), Sorted(names));
    QVERIFY(!emails.isEmpty());
    QCOMPARE(Sorted(gotEmails), Sorted(emails));

    // Calendar: summaries, places and the start instants (dates for all-day items).
    QStringList events;
    for (const CalenderInformation *e : ::events()) {
        const QByteArray xml = ReadArchiveBytes(e->llItemOffset, e->dwItemLength);
        const QString start = XmlValue(xml, "OPFCalendarEventCopyStartTime");
        const bool allDay = XmlValue(xml, "OPFCalendarEventGetIsAllDayEvent") == QLatin1String("1");
        events << QStringLiteral("%1|%2|%3").arg(Utf8(e->pSummary), Utf8(e->pLocation),
                                                 allDay ? QStringLiteral("date:") + LocalIso(start).left(10)
                                                        : QString::number(Epoch(start)));
    }
    QStringList gotEvents;
    for (const QJsonValue &v : got.value(QStringLiteral("events")).toArray()) {
        const QJsonObject o = v.toObject();
        gotEvents << QStringLiteral("%1|%2|%3").arg(o.value(QStringLiteral("summary")).toString(),
                                                    o.value(QStringLiteral("location")).toString(),
                                                    o.value(QStringLiteral("start")).toVariant().toString());
    }
    QCOMPARE(Sorted(gotEvents), Sorted(events));

    // Tasks: names and due instants.
    QStringList tasks;
    for (const TasksInformation *t : ::tasks()) {
        const QString due = XmlValue(ReadArchiveBytes(t->llItemOffset, t->dwItemLength), "OPFTaskCopyDueDateTime");
        tasks << Utf8(t->pName) + QLatin1Char('|') + (due.isEmpty() ? QString() : QString::number(Epoch(due)));
    }
    QStringList gotTasks;
    for (const QJsonValue &v : got.value(QStringLiteral("todos")).toArray())
        gotTasks << v.toObject().value(QStringLiteral("summary")).toString() + QLatin1Char('|') +
                        v.toObject().value(QStringLiteral("due")).toVariant().toString();
    QCOMPARE(Sorted(gotTasks), Sorted(tasks));

    // The note: its title, and its text (markup in the package, rendered for Apple Mail).
    const NotesInformation *n = notes().first();
    if (type == SaveTypeRGE) {
        const QJsonArray journals = got.value(QStringLiteral("journals")).toArray();
        QCOMPARE(journals.size(), 1);
        QCOMPARE(journals.first().toObject().value(QStringLiteral("summary")).toString(), Utf8(n->pTitle));
        const QString description = journals.first().toObject().value(QStringLiteral("description")).toString();
        QVERIFY(description.startsWith(QStringLiteral("<html ")));
        QVERIFY(description.contains(QStringLiteral("This is my note<o:p></o:p>")));
    } else {
        const QJsonArray texts = got.value(QStringLiteral("texts")).toArray();
        QCOMPARE(texts.size(), 1);
        const QString text = texts.first().toObject().value(QStringLiteral("text")).toString();
        QVERIFY(text.startsWith(Utf8(n->pTitle) + "\r\n"));
        QVERIFY2(text.contains(QStringLiteral("\nThis is my note")), qPrintable(text));
        QVERIFY(!text.contains(QLatin1Char('<')));
    }
}

void PimSaveEndToEndTest::manyItems_data()
{
    sample_data();
}

void PimSaveEndToEndTest::manyItems()
{
    QFETCH(int, type);
    if (IndexFor(SaveType(type)) < 0)
        QSKIP("this edition has no such save type");
    const int count = 1000;
    QTemporaryDir dest;
    QVERIFY(prepare(ManyItemsArchive(count), SaveType(type), dest.path()));
    QVERIFY(save(SaveType(type)));
    QVERIFY2(m_outcome.failures.isEmpty(), qPrintable(m_outcome.failures.mid(0, 5).join(QLatin1Char('\n'))));
    QCOMPARE(m_outcome.written, qint64(4 * count));
    if (m_python.isEmpty())
        QSKIP("python3 with vobject and icalendar is needed to read the files back");
    const QJsonObject got = readBack(SaveType(type));
    QVERIFY2(got.value(QStringLiteral("problems")).toArray().isEmpty(),
             QJsonDocument(got.value(QStringLiteral("problems")).toArray()).toJson().constData());
    QStringList notesExpected, descriptions, contactNotes, taskNotes;
    for (int i = 0; i < count; ++i) {
        notesExpected << QStringLiteral("Text of note %1").arg(i);
        descriptions << QStringLiteral("Agenda %1, line one\nline two").arg(i);
        contactNotes << QStringLiteral("Contact note %1 & more").arg(i);
        taskNotes << QStringLiteral("Do it, %1; now").arg(i);
    }
    QCOMPARE(Sorted(ValuesOf(got.value(QStringLiteral("events")).toArray(), "description")), Sorted(descriptions));
    QCOMPARE(Sorted(ValuesOf(got.value(QStringLiteral("contacts")).toArray(), "note")), Sorted(contactNotes));
    QCOMPARE(Sorted(ValuesOf(got.value(QStringLiteral("todos")).toArray(), "description")), Sorted(taskNotes));
    if (type == SaveTypeRGE) {
        QCOMPARE(Sorted(ValuesOf(got.value(QStringLiteral("journals")).toArray(), "description")), Sorted(notesExpected));
    } else {
        QStringList texts;
        for (const QString &t : ValuesOf(got.value(QStringLiteral("texts")).toArray(), "text"))
            texts << t.section(QStringLiteral("\r\n"), 1, 1);
        QCOMPARE(Sorted(texts), Sorted(notesExpected));
    }
}

// Every file below root, read whole.
QByteArray AllOutput(const QString &root)
{
    QByteArray all;
    QDirIterator it(root, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext())
        all += ReadFile(it.next());
    return all;
}

void PimSaveEndToEndTest::brokenItemsNamed_data()
{
    QTest::addColumn<QString>("entry");
    QTest::addColumn<QByteArray>("store");
    QTest::addColumn<int>("incomplete");
    QTest::addColumn<int>("failed");
    QTest::addColumn<QByteArray>("kept");  // what the broken item's output holds after the fault
    const auto el = [](const char *name, const QByteArray &value) { return OlmXml::elementRaw(name, value); };
    const auto store = [](const char *root, const char *item, const QByteArray &good, const QByteArray &broken) {
        const QString itemName = QString::fromLatin1(item);
        return OlmXml::list(QString::fromLatin1(root), 2,
                            OlmXml::item(itemName, good) + OlmXml::item(itemName, broken));
    };
    const QByteArray start = el("OPFCalendarEventCopyStartTime", "2014-07-01T10:00:00")
        + el("OPFCalendarEventCopyEndTime", "2014-07-01T11:00:00");
    const QString messages = QStringLiteral("Local/com.microsoft.__Messages/Inbox/message_00001.xml");
    // Each store: a whole item, then one whose XML breaks in one element ("Ghost" stands only
    // after the fault, so no file may hold it).
    struct Kind {
        const char *name;
        QString entry;
        const char *root;
        const char *item;
        QByteArray good;
        QByteArray partly;   // a whole element and a broken one
        QByteArray nothing;  // no whole element
        QByteArray stray;    // the item's own close tag inside a field, a whole element after it
    };
    const Kind kinds[] = {
        {"message", messages, "emails", "email", el("OPFMessageCopySubject", "Good") + el("OPFMessageCopyBody", "b"),
         el("OPFMessageCopySubject", "Bea") + el("OPFMessageCopyBody", "a & Ghost"),
         el("OPFMessageCopyBody", "a & Ghost"),
         el("OPFMessageCopyBody", "a</email>Ghost</p>") + el("OPFMessageCopySubject", "After")},
        {"contact", QStringLiteral("Local/Address Book/Contacts.xml"), "contacts", "contact",
         el("OPFContactCopyFirstName", "Good"),
         el("OPFContactCopyFirstName", "Bea") + el("OPFContactCopyLastName", "a & Ghost"),
         el("OPFContactCopyFirstName", "a & Ghost"),
         el("OPFContactCopyLastName", "a</contact>Ghost") + el("OPFContactCopyFirstName", "After")},
        {"event", QStringLiteral("Local/Calendar/Calendar.xml"), "appointments", "appointment",
         el("OPFCalendarEventCopySummary", "Good") + start,
         el("OPFCalendarEventCopySummary", "Bea") + el("OPFCalendarEventCopyLocation", "a <!-- Ghost") + start,
         el("OPFCalendarEventCopySummary", "a & Ghost"),
         el("OPFCalendarEventCopyLocation", "a</appointment>Ghost") + el("OPFCalendarEventCopySummary", "After") + start},
        {"task", QStringLiteral("Local/Tasks/Tasks.xml"), "tasks", "task", el("OPFTaskCopyName", "Good"),
         el("OPFTaskCopyName", "Bea") + el("OPFTaskCopyNote", "a & Ghost"), el("OPFTaskCopyName", "a & Ghost"),
         el("OPFTaskCopyNote", "a</task>Ghost") + el("OPFTaskCopyName", "After")},
        {"note", QStringLiteral("Local/Notes/Notes.xml"), "notes", "note", el("OPFNoteCopyTitle", "Good"),
         el("OPFNoteCopyTitle", "Bea") + el("OPFNoteCopyText", "a <b c=\"1\" Ghost"),
         el("OPFNoteCopyText", "a & Ghost"), el("OPFNoteCopyText", "a</p></note>Ghost") + el("OPFNoteCopyTitle", "After")},
    };
    for (const Kind &k : kinds) {
        QTest::newRow(qPrintable(QStringLiteral("%1: a broken element").arg(QLatin1String(k.name))))
            << k.entry << store(k.root, k.item, k.good, k.partly) << 1 << 0 << QByteArray("Bea");
        QTest::newRow(qPrintable(QStringLiteral("%1: no whole element").arg(QLatin1String(k.name))))
            << k.entry << store(k.root, k.item, k.good, k.nothing) << 0 << 1 << QByteArray();
        QTest::newRow(qPrintable(QStringLiteral("%1: its own close tag in a field").arg(QLatin1String(k.name))))
            << k.entry << store(k.root, k.item, k.good, k.stray) << 1 << 0 << QByteArray("After");
    }
}

// An item that is no well-formed XML is saved as far as it is sound and named with what was
// wrong; one with nothing whole is named and not counted written; nothing after a fault is saved.
void PimSaveEndToEndTest::brokenItemsNamed()
{
    QFETCH(QString, entry);
    QFETCH(QByteArray, store);
    QFETCH(int, incomplete);
    QFETCH(int, failed);
    QFETCH(QByteArray, kept);
    if (IndexFor(SaveTypeRGE) < 0)
        QSKIP("no package save in this edition");
    TestArchiveBuilder b;
    b.addEntry(entry, store);
    QTemporaryDir dest;
    QVERIFY(prepare(b.finish(true), SaveTypeRGE, dest.path()));
    QVERIFY(save(SaveTypeRGE));
    QCOMPARE(m_outcome.written, qint64(2 - failed));
    QCOMPARE(m_outcome.incomplete, qint64(incomplete));
    QCOMPARE(m_outcome.failed, qint64(failed));
    const QStringList lines = failed ? m_outcome.failures : m_outcome.incompletes;
    QCOMPARE(lines.size(), 1);
    const QString said = failed ? QStringLiteral(") and none of its elements is whole")
                                : QStringLiteral("): its broken elements were not read");
    QVERIFY2(lines.first().contains(QStringLiteral("its XML is not well-formed (")) && lines.first().contains(said),
             qPrintable(lines.first()));
    const QByteArray output = AllOutput(root(SaveTypeRGE));
    QVERIFY(output.contains("Good"));
    QVERIFY(output.contains(kept));
    QVERIFY(!output.contains("Ghost"));
}

void PimSaveEndToEndTest::notesReadAsXml_data()
{
    QTest::addColumn<QString>("entry");
    QTest::addColumn<QByteArray>("store");
    QTest::addColumn<QByteArray>("line");
    // A comment holding markup, an instruction, a CDATA section and character references.
    const QByteArray text = "a<!-- x <y/> z -->b<?pi q?><![CDATA[<c>]]>&#65;&#x42;&#38;lt;";
    const QByteArray read = "ab<c>AB&lt\\;";  // ";" escaped as both formats escape it
    QTest::newRow("contact note") << QStringLiteral("Local/Address Book/Contacts.xml")
                                  << OlmXml::list(
                                         QStringLiteral("contacts"), 1,
                                         OlmXml::item(QStringLiteral("contact"),
                                                      OlmXml::elementRaw("OPFContactCopyFirstName", "Ann")
                                                          + OlmXml::elementRaw("OPFContactCopyNotesPlain", text)))
                                  << "NOTE:" + read;
    QTest::newRow("task note") << QStringLiteral("Local/Tasks/Tasks.xml")
                               << OlmXml::list(QStringLiteral("tasks"), 1,
                                               OlmXml::item(QStringLiteral("task"),
                                                            OlmXml::elementRaw("OPFTaskCopyName", "T")
                                                                + OlmXml::elementRaw("OPFTaskCopyNote", text)))
                               << "DESCRIPTION:" + read;
}

// Contact and task notes reach their files as XML reads them.
void PimSaveEndToEndTest::notesReadAsXml()
{
    QFETCH(QString, entry);
    QFETCH(QByteArray, store);
    QFETCH(QByteArray, line);
    if (IndexFor(SaveTypeRGE) < 0)
        QSKIP("no package save in this edition");
    TestArchiveBuilder b;
    b.addEntry(entry, store);
    QTemporaryDir dest;
    QVERIFY(prepare(b.finish(true), SaveTypeRGE, dest.path()));
    QVERIFY(save(SaveTypeRGE));
    QCOMPARE(m_outcome.written, qint64(1));
    const QByteArray output = AllOutput(root(SaveTypeRGE));
    QVERIFY2(output.contains(line + "\r\n"), output.constData());
}

void PimSaveEndToEndTest::recoveredFromSmashedHeaders()
{
    if (IndexFor(SaveTypeRGE) < 0)
        QSKIP("no package save in this edition");
    QVector<qint64> headers;
    // Without a central directory to name them, the items are found by their XML, and their
    // folders by the names behind the smashed fields; with those names gone too, by XML alone.
    for (const bool names : {true, false}) {
        cleanup();
        init();
        QByteArray archive = ManyItemsArchive(20, &headers, false);
        for (qint64 h : headers) {
            Damage::smashHeader(archive, h);
            if (!names)
                Damage::zeroStretch(archive, h + 30, 6);
        }
        headers.clear();
        QTemporaryDir dest;
        QVERIFY(prepare(archive, SaveTypeRGE, dest.path()));
        QCOMPARE(int(ContactItemCount + CalendarItemCount + TaskItemCount + NotesItemCount), 80);
        for (const ContactInformation *c : contacts())
            QCOMPARE(c->llFolderId == llFolder1Id, !names);
        QVERIFY(save(SaveTypeRGE));
        QVERIFY2(m_outcome.failures.isEmpty(), qPrintable(m_outcome.failures.mid(0, 5).join(QLatin1Char('\n'))));
        QCOMPARE(m_outcome.written, qint64(80));
        for (const char *kind : {"Contacts", "Calendar", "Tasks", "Notes"})
            QCOMPARE(QDir(root(SaveTypeRGE) + QLatin1Char('/') + QLatin1String(kind)).entryList(QDir::Files).size(), 20);
    }
}

void PimSaveEndToEndTest::itemsBeyond4GiB()
{
    if (IndexFor(SaveTypeRGE) < 0)
        QSKIP("no package save in this edition");
    // A sparse archive: the items lie past 5 GiB, where a 32-bit offset would wrap.
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("far.olm"));
    const qint64 far = (qint64(5) << 30) + 12345;
    const QByteArray contact = OlmXml::contact({QStringLiteral("Far"), QStringLiteral("Away"), QString(),
                                                QStringLiteral("far contact note"), QString()});
    const QByteArray event = OlmXml::appointment({QStringLiteral("Far event"), QString(), QStringLiteral("far description"),
                                                  QStringLiteral("2014-07-01T10:00:00"), QStringLiteral("2014-07-01T11:00:00")});
    const QByteArray task = TaskWithDue(3);
    const QByteArray note = OlmXml::note({QStringLiteral("Far note"), QStringLiteral("far note text")});
    {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        // Low bytes that a wrapped offset would read instead.
        QVERIFY(f.write(QByteArray(4096, 'w')) == 4096);
        if (!f.seek(far) || f.write(contact + event + task + note) < 0)
            QSKIP("this file system does not take a sparse file past 4 GiB");
    }
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY);
    QVERIFY(fd >= 0);
    const int oldFd = fileDescriptor;
    const qint64 oldSize = lSize;
    fileDescriptor = fd;
    lSize = QFileInfo(path).size();
    const auto span = [&](const QByteArray &whole, qint64 at, const char *tag, quint32 *length, qint64 *offset) {
        QVERIFY(MakeLongText(std::string_view(whole.constData(), size_t(whole.size())), tag, at, length, offset));
        QVERIFY(*offset > (qint64(1) << 32));
    };
    const auto recordKey = [](char *szUuid, const QByteArray &item, qint64 start) {
        MakeRecordUuid(szUuid, ItemPiece{std::string_view(item.constData(), size_t(item.size())), start, item.size()});
    };
    qint64 at = far;
    ContactInformation *c = appendRecord(TmpCTRCPtrStart, TmpCTRCPtrEnd, ContactItemCount);
    c->llFolderId = 502, c->llItemOffset = at, c->dwItemLength = quint32(contact.size());
    recordKey(c->szUuid, contact, at);
    span(contact, at, "<OPFContactCopyNotesPlain", &c->dwNotesLength, &c->dwNotesOffset);
    at += contact.size();
    CalenderInformation *e = appendRecord(TmpCLRCPtrStart, TmpCLRCPtrEnd, CalendarItemCount);
    e->llFolderId = 503, e->llItemOffset = at, e->dwItemLength = quint32(event.size());
    recordKey(e->szUuid, event, at);
    span(event, at, "<OPFCalendarEventCopyDescriptionPlain", &e->dwDescriptionLength, &e->dwDescriptionOffset);
    at += event.size();
    TasksInformation *t = appendRecord(TmpTSRCPtrStart, TmpTSRCPtrEnd, TaskItemCount);
    t->llFolderId = 504, t->llItemOffset = at, t->dwItemLength = quint32(task.size());
    recordKey(t->szUuid, task, at);
    span(task, at, "<OPFTaskCopyNote", &t->dwNoteLength, &t->dwNoteOffset);
    at += task.size();
    NotesInformation *n = appendRecord(TmpNTRCPtrStart, TmpNTRCPtrEnd, NotesItemCount);
    n->llFolderId = 505;
    recordKey(n->szUuid, note, at);
    span(note, at, "<OPFNoteCopyText", &n->dwTextLength, &n->dwTextOffset);
    AppendFolderAttribute(2, llRootId, 0);
    for (quint32 kind = 41; kind <= 44; ++kind)
        AppendFolderAttribute(1, 502 + kind - 41, kind);
    saveDir = dir.path();
    strTime = MakeSaveTimeStamp(QDateTime(QDate(2024, 3, 5), QTime(10, 11, 12)));
    QVERIFY(CreateMailFolder(SaveTypeRGE, saveDir, &strTime, nullptr));
    const bool saved = save(SaveTypeRGE);
    ::close(fd);
    fileDescriptor = oldFd;
    lSize = oldSize;
    QVERIFY(saved);
    QVERIFY2(m_outcome.failures.isEmpty(), qPrintable(m_outcome.failures.join(QLatin1Char('\n'))));
    QCOMPARE(m_outcome.written, qint64(4));
    QByteArray all;
    QDirIterator it(root(SaveTypeRGE), QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext())
        all += ReadFile(it.next());
    for (const char *text : {"NOTE:far contact note", "DESCRIPTION:far description", "DESCRIPTION:Do it\\, 3\\; now",
                             "DUE:20120304T090000Z", "DESCRIPTION:far note text", "N:Away;Far;;;"})
        QVERIFY2(all.contains(text), text);
    QVERIFY(!all.contains("wwwwwwww"));
}

void PimSaveEndToEndTest::contactsFolderCannotBeMade()
{
    if (IndexFor(SaveTypeRGE) < 0)
        QSKIP("no package save in this edition");
    QTemporaryDir dest;
    QVERIFY(prepare(SampleBytes(), SaveTypeRGE, dest.path()));
    // Something else took the Contacts folder's place after the save start made it.
    const QString contactsDir = root(SaveTypeRGE) + QStringLiteral("/Contacts");
    QVERIFY(QDir(contactsDir).removeRecursively());
    QFile blocker(contactsDir);
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    QVERIFY(save(SaveTypeRGE));
    QVERIFY(!m_outcome.stopped);
    QCOMPARE(m_outcome.failed, qint64(5));
    QCOMPARE(m_outcome.written, qint64(7 + 8 + 5 + 1));
    QCOMPARE(m_outcome.failures.size(), 5);
    for (const ContactInformation *c : contacts()) {
        const QString name = QStringLiteral("Contact \"%1\"")
                                 .arg((Utf8(c->pFirstName) + QLatin1Char(' ') + Utf8(c->pLastName)).trimmed());
        QVERIFY2(m_outcome.failures.filter(name).size() >= 1, qPrintable(name + '\n' + m_outcome.failures.join('\n')));
    }
    QCOMPARE(SaveFailedText(m_outcome.failed), QStringLiteral("\n5 item(s) could not be saved. Files Saved Partially."));
}

QTEST_MAIN(PimSaveEndToEndTest)
#include "tst_pimsave_e2e.moc"
