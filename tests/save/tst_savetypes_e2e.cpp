// Whole saves through the real saving thread: the package (.rge) and Apple Mail mailboxes of the
// real sample and of generated archives, read back by Python's mailbox and email modules; a
// destination that cannot be written; a stop part-way through a large archive.

#include "ArchiveFile.h"
#include "OlmXml.h"
#include "SaveTestUtil.h"
#include "ScanTestUtil.h"
#include "TestArchiveBuilder.h"
#include "ThreadResults.h"
#include "platform/WorkerGlobals.h"
#include "save/AttachmentIndex.h"
#include "save/MessageFields.h"
#include "save/QMailSavingThread.h"
#include "save/SaveFlow.h"
#include "save/SavePause.h"
#include "save/SaveGlobals.h"
#include "save/mail/MailWriter.h"
#include "scanner/FolderAttributes.h"
#include "scanner/FolderKinds.h"

#include <QDirIterator>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QRegularExpression>
#include <QtTest>

#include <atomic>
#include <csignal>
#include <sys/resource.h>
#include <memory>
#include <time.h>
#include <unistd.h>

namespace {

// Reads every mailbox below argv[2] and checks it against the expected messages in argv[1].
// argv[3]: "mbox" (Python's mailbox module) or "cr" (CR line ends: split at our From_ lines);
// argv[4]: "all" (every expected message must be there) or "prefix" (a stopped save: whatever
// is there must be complete). Prints one JSON object {"found": N, "problems": [...]}.
const char kChecker[] = R"PY(
import sys, json, os, re, zlib, html, mailbox, email, email.utils
from email import policy

expected = json.load(open(sys.argv[1], encoding='utf-8'))
root, mode, scope = sys.argv[2], sys.argv[3], sys.argv[4]
problems = []

def declared_utf8(text):
    """A body as written in a UTF-8 part: the charset its meta tags declare is UTF-8 (the
    archive's text may hold the markup escaped)."""
    return re.sub(r'(?i)((?:<|&lt;)meta\b(?:(?!&gt;)[^>])*?charset\s*=\s*(?:["\']|&quot;|&apos;)?)([\w.:-]+)',
                  lambda m: m.group(1) + (m.group(2) if m.group(2).lower() == 'utf-8' else 'UTF-8'), text or '')

def norm(text):
    text = (text or '').replace('\r\n', '\n').replace('\r', '\n')
    text = html.unescape(html.unescape(text)).replace('\xa0', ' ')
    return ' '.join(text.split())

def read_box(path):
    if mode == 'mbox':
        box = mailbox.mbox(path, create=False)
        return [box.get_bytes(key) for key in box.keys()]
    data = open(path, 'rb').read().replace(b'\r\n', b'\n').replace(b'\r', b'\n')
    starts = [m.start() for m in re.finditer(rb'(?m)^From \?\?\?@\?\?\?', data)]
    if data and (not starts or starts[0] != 0):
        problems.append('%s does not start with a From_ line' % path)
    starts.append(len(data))
    return [data[a:b].split(b'\n', 1)[1] if b'\n' in data[a:b] else b'' for a, b in zip(starts, starts[1:])]

found = []
for folder, _, files in os.walk(root):
    for name in sorted(files):
        if name.endswith('.mbox'):
            for raw in read_box(os.path.join(folder, name)):
                found.append((name[:-5], email.message_from_bytes(raw, policy=policy.default)))

def addresses(msg, field):
    try:
        return [a for _, a in email.utils.getaddresses([str(h) for h in msg.get_all(field, [])]) if a]
    except Exception as e:
        return ['<unparsable %s: %s>' % (field, e)]

def body_text(msg):
    part = msg.get_body(preferencelist=('html', 'plain'))
    if part is None:
        return ''
    text = part.get_content()
    # Both kinds of mailbox quote body lines that start "From " (mboxrd); undo it.
    text = re.sub(r'(?m)^>(>*From )', r'\1', text)
    return text

def check(exp, stem, msg):
    out = []
    label = exp['subject'] or '<no subject>'
    if stem != exp['folder']:
        out.append('%s: in mailbox %s, expected %s' % (label, stem, exp['folder']))
    if exp['from'] and addresses(msg, 'From')[-1:] != [exp['from']]:
        out.append('%s: From %s, expected %s' % (label, addresses(msg, 'From'), exp['from']))
    if addresses(msg, 'To') != exp['to']:
        got = addresses(msg, 'To')
        out.append('%s: %d To addresses, expected %d (first difference %s)' % (label, len(got), len(exp['to']),
                   next(((g, e) for g, e in zip(got, exp['to']) if g != e), None)))
    if exp['times']:
        try:
            when = int(email.utils.parsedate_to_datetime(str(msg['Date'])).timestamp())
        except Exception as e:
            when = '<%s>' % e
        if when not in exp['times']:
            out.append('%s: Date %r is %s, expected one of %s' % (label, msg['Date'], when, exp['times']))
    if exp['body'] and norm(body_text(msg)) != norm(declared_utf8(exp['body'])):
        a, b = norm(body_text(msg)), norm(declared_utf8(exp['body']))
        at = next((i for i, (x, y) in enumerate(zip(a, b)) if x != y), min(len(a), len(b)))
        out.append('%s: body differs at %d: %r vs expected %r' % (label, at, a[max(0, at - 30):at + 30],
                   b[max(0, at - 30):at + 30]))
    parts = [p for p in msg.walk() if p.get_content_disposition() == 'attachment']
    if len(parts) != len(exp['attachments']):
        out.append('%s: %d attachment parts, expected %d' % (label, len(parts), len(exp['attachments'])))
    for att in exp['attachments']:
        match = next((p for p in parts if p.get_filename() == att['name']), None)
        if match is None:
            out.append('%s: no attachment named %r (have %s)' % (label, att['name'], [p.get_filename() for p in parts]))
            continue
        parts.remove(match)
        data = match.get_payload(decode=True) or b''
        if att['crc'] is not None and zlib.crc32(data) != att['crc']:
            out.append('%s: attachment %r: %d bytes, CRC-32 %d, expected %d' % (label, att['name'], len(data),
                       zlib.crc32(data), att['crc']))
    return out

unused = list(expected)
for stem, msg in found:
    subject = norm(str(msg['Subject'] or ''))
    exp = next((e for e in unused if norm(e['subject']) == subject and e['folder'] == stem), None)
    exp = exp or next((e for e in unused if norm(e['subject']) == subject), None)
    if exp is None:
        problems.append('unexpected message %r in %s' % (subject, stem))
        continue
    unused.remove(exp)
    problems += check(exp, stem, msg)
if scope == 'all':
    problems += ['missing: %r in %s' % (e['subject'], e['folder']) for e in unused]
print(json.dumps({'found': len(found), 'problems': problems[:40]}))
)PY";

QString MailboxStem(const QString &entryName)
{
    const QString relative = MailFolderRelativePath(entryName);
    return relative.mid(relative.lastIndexOf(QLatin1Char('/')) + 1);
}

// What every message of the scanned archive must look like when read back, in list order.
QJsonArray ExpectedMessages()
{
    const AttachmentIndex index(tmpAtFOStart);
    QJsonArray messages;
    for (const MailMLRC *rec = TmpMlrcPtrStart; rec; rec = rec->pNext) {
        const MailMessageFields fields =
            ParseMessageXml(ReadMessageXml(rec->llDataOffset, rec->dwDataLength), MessageIdForm::AngleBrackets,
                            AddressListLimit::Unlimited);
        const QString entry = ReadEntryName(rec->llNameOffset, rec->nNameLength);
        QJsonObject m;
        m[QStringLiteral("folder")] = MailboxStem(entry);
        m[QStringLiteral("subject")] = QString::fromUtf8(rec->pSubject ? rec->pSubject : "");
        const QStringList from = fields.strFromList.split(QLatin1Char(';'), Qt::SkipEmptyParts);
        m[QStringLiteral("from")] = from.isEmpty() ? QString() : from.last();
        m[QStringLiteral("to")] = QJsonArray::fromStringList(fields.strToList.split(QLatin1Char(';'), Qt::SkipEmptyParts));
        QJsonArray times;
        for (quint32 t : {rec->dwSentTime, rec->dwReceivedTime})
            if (t)
                times.append(qint64(t));
        m[QStringLiteral("times")] = times;
        m[QStringLiteral("body")] = QString::fromUtf8(UpToFirstNul(ReadArchiveBytes(rec->llBodyOffset, rec->dwBodyLength)));
        QJsonArray attachments;
        for (const AttachmentInfo &a : fields.attachments) {
            const FileOffsetNode *node = index.find(a.url);
            QJsonObject att;
            att[QStringLiteral("name")] = a.name;
            att[QStringLiteral("crc")] = node ? QJsonValue(qint64(node->dwCrc32)) : QJsonValue();
            attachments.append(att);
        }
        m[QStringLiteral("attachments")] = attachments;
        messages.append(m);
    }
    return messages;
}

struct CheckResult {
    int found = -1;
    QStringList problems;
};

CheckResult ReadBack(const QJsonArray &expected, const QString &root, bool crLineEnds, bool all)
{
    CheckResult result;
    QTemporaryDir work;
    const QString expectedPath = work.filePath(QStringLiteral("expected.json"));
    QFile f(expectedPath);
    if (!f.open(QIODevice::WriteOnly) || f.write(QJsonDocument(expected).toJson()) < 0) {
        result.problems << QStringLiteral("cannot write %1").arg(expectedPath);
        return result;
    }
    f.close();
    QProcess python;
    python.start(QStringLiteral("python3"), {QStringLiteral("-c"), QString::fromUtf8(kChecker), expectedPath, root,
                                             crLineEnds ? QStringLiteral("cr") : QStringLiteral("mbox"),
                                             all ? QStringLiteral("all") : QStringLiteral("prefix")});
    if (!python.waitForFinished(300000) || python.exitCode() != 0) {
        result.problems << QStringLiteral("python3 failed: ") + QString::fromUtf8(python.readAllStandardError());
        return result;
    }
    const QJsonObject report = QJsonDocument::fromJson(python.readAllStandardOutput()).object();
    result.found = report.value(QStringLiteral("found")).toInt(-1);
    for (const QJsonValue &p : report.value(QStringLiteral("problems")).toArray())
        result.problems << p.toString();
    return result;
}

// Messages a mailbox writer finds hard: no Message-ID, ";" and quotes in attachment names,
// non-ASCII names, body lines starting "From ", thousands of recipients.
QByteArray HardCasesArchive()
{
    TestArchiveBuilder b;
    const QString folder = QStringLiteral("Local/com.microsoft.__Messages/Inbox/");
    QVector<OlmXml::MailItem> items(5);
    for (int i = 0; i < items.size(); ++i) {
        OlmXml::MailItem &m = items[i];
        m.subject = QStringLiteral("Hard case %1").arg(i);
        m.sent = QStringLiteral("2015-06-0%1T08:30:00").arg(i + 1);
        m.from = {{QStringLiteral("sender%1@example.com").arg(i), QStringLiteral("Sender %1").arg(i)}};
        m.to = {{QStringLiteral("to%1@example.com").arg(i), QStringLiteral("To %1").arg(i)}};
        m.messageId = QStringLiteral("&lt;hard%1@example.com&gt;").arg(i);
        m.body = QStringLiteral("Plain body %1\nsecond line").arg(i);
    }
    items[0].messageId.clear();
    items[0].body = QStringLiteral("No id here\nFrom the start of a line\n>From quoted already\nend");
    const QByteArray blob(70000, 'q');
    const QString odd = QStringLiteral("semi;colon \"quoted\" name.txt");
    b.addEntry(folder + QStringLiteral("com.microsoft.__Attachments/odd_0000"), blob);
    items[1].attachmentNames = QStringList{OlmXml::escape(odd)};
    items[1].attachmentUrls = QStringList{folder + QStringLiteral("com.microsoft.__Attachments/odd_0000")};
    b.addEntry(folder + QStringLiteral("com.microsoft.__Attachments/uml_0000"), QByteArray("gr\xc3\xbc\xc3\x9f"));
    items[2].attachmentNames = QStringList{QStringLiteral("Grüße – 東京.txt")};
    items[2].attachmentUrls = QStringList{folder + QStringLiteral("com.microsoft.__Attachments/uml_0000")};
    items[2].from = {{QStringLiteral("zoe@example.com"), QStringLiteral("Zoë Ångström")}};
    items[3].to.clear();
    for (int r = 0; r < 3000; ++r)
        items[3].to.append({QStringLiteral("member%1@example.com").arg(r), QStringLiteral("Member %1").arg(r)});
    items[4].htmlBody = QStringLiteral("&lt;html&gt;&lt;body&gt;&lt;p&gt;HTML &amp;amp; more&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;");
    for (int i = 0; i < items.size(); ++i)
        b.addEntry(folder + QStringLiteral("message_%1.xml").arg(i, 5, 10, QLatin1Char('0')), OlmXml::emails({items[i]}));
    return b.finish();
}

// count messages in two folders, each with a body and every tenth with an attachment.
QByteArray LargeArchive(int count)
{
    TestArchiveBuilder b;
    for (int i = 0; i < count; ++i) {
        const QString folder = QStringLiteral("Local/com.microsoft.__Messages/%1/").arg(i % 2 ? "Inbox" : "Archive");
        OlmXml::MailItem m;
        m.subject = QStringLiteral("Message %1").arg(i);
        m.sent = QStringLiteral("2016-01-01T00:00:%1").arg(i % 60, 2, 10, QLatin1Char('0'));
        m.from = {{QStringLiteral("a%1@example.com").arg(i), QStringLiteral("A %1").arg(i)}};
        m.to = {{QStringLiteral("b%1@example.com").arg(i), QStringLiteral("B %1").arg(i)}};
        m.messageId = QStringLiteral("&lt;m%1@example.com&gt;").arg(i);
        m.body = QStringLiteral("Body of message %1\n").arg(i).repeated(20);
        if (i % 10 == 0) {
            const QString url = folder + QStringLiteral("com.microsoft.__Attachments/att_%1").arg(i);
            b.addEntry(url, QByteArray(5000 + i, char('a' + i % 26)));
            m.attachmentNames = QStringList{QStringLiteral("file%1.bin").arg(i)};
            m.attachmentUrls = QStringList{url};
        }
        b.addEntry(folder + QStringLiteral("message_%1.xml").arg(i, 5, 10, QLatin1Char('0')), OlmXml::emails({m}));
    }
    return b.finish();
}

QByteArray SampleBytes()
{
    QFile f(QStringLiteral(OLM_SAMPLE_ARCHIVE));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

class SaveTypesEndToEndTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void readBack_data();
    void readBack();
    void unwritableDestination();
    void stopLeavesCompleteMessages();
    void pauseHoldsEverySaveType_data();
    void pauseHoldsEverySaveType();
    void archiveChangedAfterScan_data();
    void archiveChangedAfterScan();
    void hostileArchiveEveryType_data();
    void hostileArchiveEveryType();
    void fileSizeLimit_data();
    void fileSizeLimit();
    void mailboxLinkNotFollowed();
    void truncatedSampleKeepsAttachments_data();
    void truncatedSampleKeepsAttachments();

private:
    // Scans bytes from a file the writers read, checks every folder, makes the output folders
    // and runs the save to the end.
    bool startSave(const QByteArray &archive, SaveType type, const QString &dest);
    QString outputRoot(SaveType type) const;

    std::unique_ptr<ArchiveFile> m_archive;
    bool m_python = false;
};

void SaveTypesEndToEndTest::initTestCase()
{
    // Dates are checked as instants, but the writers render local time: pin it.
    qputenv("TZ", "Asia/Kolkata");
    tzset();
    m_python = !QStandardPaths::findExecutable(QStringLiteral("python3")).isEmpty();
}

void SaveTypesEndToEndTest::init()
{
    ResetRunFlags();
}

void SaveTypesEndToEndTest::cleanup()
{
    FreeScanState();
    m_archive.reset();
}

bool SaveTypesEndToEndTest::startSave(const QByteArray &archive, SaveType type, const QString &dest)
{
    return ScanAndStartTestSave(m_archive, archive, type, dest);
}

QString SaveTypesEndToEndTest::outputRoot(SaveType type) const
{
    return OutputRootFor(type, saveDir, strTime);
}

void SaveTypesEndToEndTest::readBack_data()
{
    QTest::addColumn<QByteArray>("archive");
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("messages");
    const QByteArray sample = SampleBytes();
    const QByteArray hard = HardCasesArchive();
    QTest::newRow("sample, package mailboxes") << sample << int(SaveTypeRGE) << 7;
    QTest::newRow("sample, Apple Mail mailboxes") << sample << int(SaveTypeMBOX) << 7;
    QTest::newRow("hard cases, package mailboxes") << hard << int(SaveTypeRGE) << 5;
    QTest::newRow("hard cases, Apple Mail mailboxes") << hard << int(SaveTypeMBOX) << 5;
}

void SaveTypesEndToEndTest::readBack()
{
    QFETCH(QByteArray, archive);
    QFETCH(int, type);
    QFETCH(int, messages);
    if (IndexFor(SaveType(type)) < 0)
        QSKIP("this edition has no such save type");
    QVERIFY(!archive.isEmpty());
    QTemporaryDir dest;
    QVERIFY(startSave(archive, SaveType(type), dest.path()));
    QCOMPARE(int(MailItemCount), messages);
    QMailSavingThread thread;
    QueuedSpy finish(&thread, &QMailSavingThread::OnFinishScanning);
    QVERIFY(thread.SetInitialSettings(QString(), IndexFor(SaveType(type))));
    QVERIFY(EndRun(thread, &thread, 120000));
    const SaveOutcome outcome = thread.outcome();
    QVERIFY2(outcome.failures.isEmpty(), qPrintable(outcome.failures.join(QLatin1Char('\n'))));
    QCOMPARE(outcome.failed, qint64(0));
    QCOMPARE(outcome.written, qint64(messages) + ContactItemCount + CalendarItemCount + TaskItemCount + NotesItemCount);
    QCOMPARE(finish.count(), 1);
    if (!m_python)
        QSKIP("python3 is needed to read the mailboxes back");
    const CheckResult check = ReadBack(ExpectedMessages(), outputRoot(SaveType(type)), type == SaveTypeRGE, true);
    QVERIFY2(check.problems.isEmpty(), qPrintable(check.problems.join(QLatin1Char('\n'))));
    QCOMPARE(check.found, messages);
}

void SaveTypesEndToEndTest::unwritableDestination()
{
    if (IndexFor(SaveTypeMBOX) < 0)
        QSKIP("no Apple Mail save in this edition");
    QTemporaryDir dest;
    QVERIFY(startSave(HardCasesArchive(), SaveTypeMBOX, dest.path()));
    const QString mailDir = outputRoot(SaveTypeMBOX) + QStringLiteral("/Mail");
    // The output folder turned read-only after the save start made it. Permissions do not stop
    // the superuser: there a file takes the folder's place, which no one can write into.
    if (geteuid() == 0) {
        QVERIFY(QDir(mailDir).removeRecursively());
        QFile blocker(mailDir);
        QVERIFY(blocker.open(QIODevice::WriteOnly));
    } else {
        QVERIFY(QDir().mkpath(mailDir));
        QVERIFY(QFile::setPermissions(mailDir, QFile::ReadOwner | QFile::ExeOwner));
    }
    QMailSavingThread thread;
    QueuedSpy finish(&thread, &QMailSavingThread::OnFinishScanning);
    QueuedSpy ticks(&thread, &QMailSavingThread::OnProgressvalueMainWindow);
    thread.SetSaveThreads(8);
    QVERIFY(thread.SetInitialSettings(QString(), IndexFor(SaveTypeMBOX)));
    QVERIFY(EndRun(thread, &thread, 120000));
    QFile::setPermissions(mailDir, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    const SaveOutcome outcome = thread.outcome();
    QCOMPARE(finish.count(), 1);
    QCOMPARE(ticks.count(), 5);   // every message is tried
    QCOMPARE(outcome.written, qint64(0));
    QCOMPARE(outcome.failed, qint64(5));
    QCOMPARE(outcome.failures.size(), 5);
    for (int i = 0; i < 5; ++i)   // each failed message is named
        QVERIFY2(outcome.failures.filter(QStringLiteral("Hard case %1").arg(i)).size() == 1,
                 qPrintable(outcome.failures.join(QLatin1Char('\n'))));
    QCOMPARE(SaveFailedText(outcome.failed), QStringLiteral("\n5 item(s) could not be saved. Files Saved Partially."));
}

void SaveTypesEndToEndTest::pauseHoldsEverySaveType_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<bool>("stop");  // stopped while held, as on exit, where nobody resumes
    for (SaveType type : {SaveTypeOLM, SaveTypeRGE, SaveTypeMBOX, SaveTypeEMLX, SaveTypeEML, SaveTypeHTML})
        QTest::addRow("type %d", int(type)) << int(type) << false;
    QTest::newRow("archive, stopped while held") << int(SaveTypeOLM) << true;
    QTest::newRow("mailboxes, stopped while held") << int(SaveTypeMBOX) << true;
}

// The sample holds every kind, so every writer of a save type is reached; held at the first tick.
void SaveTypesEndToEndTest::pauseHoldsEverySaveType()
{
    QFETCH(int, type);
    QFETCH(bool, stop);
    if (IndexFor(SaveType(type)) < 0)
        QSKIP("this edition has no such save type");
    QTemporaryDir dest;
    QVERIFY(startSave(SampleBytes(), SaveType(type), dest.path()));
    QMailSavingThread thread;
    std::atomic<int> ticks{0};
    connect(&thread, &QMailSavingThread::OnProgressvalueMainWindow, &thread, [&] {
        if (++ticks == 1)
            PauseSave();
    }, Qt::DirectConnection);
    thread.SetSaveThreads(4);
    QVERIFY(thread.SetInitialSettings(QString(), IndexFor(SaveType(type))));
    QTRY_COMPARE(ThreadsWaitingAtPause(SavePauseRole::Writer), 1);
    QTest::qWait(100);
    QCOMPARE(int(ticks), 1);
    if (stop)
        bStopFlag = stopflag = true;
    else
        ResumeSave();
    QVERIFY(EndRun(thread, &thread, 60000));
    ResumeSave();
    // Stopped: only the item ticked before the hold was written (the archive writer also copies
    // its store's list file and the category list, which have no tick of their own).
    const SaveOutcome outcome = thread.outcome();
    QCOMPARE(outcome.stopped, stop);
    QCOMPARE(outcome.failed, qint64(0));
    QVERIFY2(stop ? outcome.written <= (type == SaveTypeOLM ? 3 : 1) : outcome.written > 2,
             qPrintable(QString::number(outcome.written)));
}

void SaveTypesEndToEndTest::stopLeavesCompleteMessages()
{
    if (IndexFor(SaveTypeMBOX) < 0)
        QSKIP("no Apple Mail save in this edition");
    QTemporaryDir dest;
    QVERIFY(startSave(LargeArchive(3000), SaveTypeMBOX, dest.path()));
    QCOMPARE(int(MailItemCount), 3000);
    QMailSavingThread thread;
    QueuedSpy finish(&thread, &QMailSavingThread::OnFinishScanning);
    int ticks = 0;   // touched by the saving thread only, until wait() returns
    connect(&thread, &QMailSavingThread::OnProgressvalueMainWindow, &thread, [&] {
        if (++ticks == 1234) {   // the confirmed stop, as the progress sheet sets it
            bStopFlag = true;
            stopflag = true;
        }
    }, Qt::DirectConnection);
    thread.SetSaveThreads(8);
    QVERIFY(thread.SetInitialSettings(QString(), IndexFor(SaveTypeMBOX)));
    QVERIFY(EndRun(thread, &thread, 300000));
    const SaveOutcome outcome = thread.outcome();
    QCOMPARE(finish.count(), 0);
    QVERIFY(outcome.stopped);
    QCOMPARE(ticks, 1234);
    QCOMPARE(outcome.failed, qint64(0));
    // The message whose tick carried the stop was already under way; none after it is begun.
    QVERIFY2(outcome.written >= 1233 && outcome.written <= 1234, qPrintable(QString::number(outcome.written)));
    if (!m_python)
        QSKIP("python3 is needed to read the mailboxes back");
    const CheckResult check = ReadBack(ExpectedMessages(), outputRoot(SaveTypeMBOX), false, false);
    QVERIFY2(check.problems.isEmpty(), qPrintable(check.problems.join(QLatin1Char('\n'))));
    QCOMPARE(qint64(check.found), outcome.written);
}

void SaveTypesEndToEndTest::archiveChangedAfterScan_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("change");
    QTest::addColumn<int>("minFailed");
    // The user cut, emptied or overwrote the archive while its scan was on screen.
    // The sample holds 7 mails and 19 contacts, calendar items, tasks and notes.
    QTest::newRow("emptied, Apple Mail") << int(SaveTypeMBOX) << "empty" << 26;
    QTest::newRow("emptied, package") << int(SaveTypeRGE) << "empty" << 26;
    QTest::newRow("cut to a third, Apple Mail") << int(SaveTypeMBOX) << "third" << 1;
    QTest::newRow("overwritten with zeros, package") << int(SaveTypeRGE) << "zeros" << 26;
    // Every other type: the archive type names its messages, store files and categories.
    for (SaveType t : {SaveTypeOLM, SaveTypeEMLX, SaveTypeEML, SaveTypeHTML}) {
        const QString name = QStringLiteral(" (type %1)").arg(int(t));
        QTest::newRow(qPrintable(QStringLiteral("emptied") + name)) << int(t) << "empty" << 7;
        QTest::newRow(qPrintable(QStringLiteral("cut to a third") + name)) << int(t) << "third" << 1;
        QTest::newRow(qPrintable(QStringLiteral("overwritten with zeros") + name)) << int(t) << "zeros" << 7;
    }
}

void SaveTypesEndToEndTest::archiveChangedAfterScan()
{
    QFETCH(int, type);
    QFETCH(QString, change);
    QFETCH(int, minFailed);
    if (IndexFor(SaveType(type)) < 0)
        QSKIP("this edition has no such save type");
    const QByteArray sample = SampleBytes();
    QTemporaryDir dest;
    QVERIFY(startSave(sample, SaveType(type), dest.path()));
    QCOMPARE(int(MailItemCount), 7);
    QFile file(m_archive->path());
    if (change == QLatin1String("zeros")) {
        QVERIFY(file.open(QIODevice::ReadWrite));
        QCOMPARE(file.write(QByteArray(sample.size(), '\0')), qint64(sample.size()));
        file.close();
    } else {
        QVERIFY(file.resize(change == QLatin1String("empty") ? 0 : sample.size() / 3));
    }
    QMailSavingThread thread;
    QVERIFY(thread.SetInitialSettings(QString(), IndexFor(SaveType(type))));
    QVERIFY(EndRun(thread, &thread, 120000));
    const SaveOutcome outcome = thread.outcome();
    QVERIFY2(outcome.failed >= minFailed, qPrintable(outcome.failures.join(QLatin1Char('\n'))));
    QCOMPARE(qint64(outcome.failures.size()), outcome.failed);
    static const QRegularExpression named(
        QStringLiteral("^(Mail|Contact|Calendar item|Task|Note|Item store|Categories|Attachment) (\"|at archive offset)"));
    // Each one named, with the reason; an attachment no message names is no text, and its
    // bytes are cut or changed.
    static const QRegularExpression reason(
        QStringLiteral("can no longer be read|^Attachment .*: (cut short in the archive|its bytes in the archive are damaged)"));
    for (const QString &line : outcome.failures)
        QVERIFY2(named.match(line).hasMatch() && reason.match(line).hasMatch(), qPrintable(line));
    QVERIFY(SaveProblemText(outcome).startsWith(SaveFailedText(outcome.failed)));
    const qint64 failedMails = std::count_if(outcome.failures.cbegin(), outcome.failures.cend(),
                                             [](const QString &l) { return l.startsWith(QLatin1String("Mail ")); });
    if (type == SaveTypeOLM) {
        // The new archive holds exactly the messages counted as written: no empty shells.
        const QString path = outputRoot(SaveTypeOLM);
        QFile out(QFileInfo(path).isDir() ? path + QStringLiteral("/RepairedOLMfile.olm") : path);
        QVERIFY(out.open(QIODevice::ReadOnly));
        const QByteArray written = out.readAll();
        m_archive.reset();
        scanBytes(written);
        QCOMPARE(MailItemCount, 7 - failedMails);
        return;
    }
    // Attachments still whole whose message can no longer be read come back in messages of
    // their own, counted as written.
    qint64 recovered = 0;
    if (type != SaveTypeMBOX && type != SaveTypeRGE) {
        // One file per message: as many as were counted written.
        qint64 files = 0;
        QDirIterator it(outputRoot(SaveType(type)), {QStringLiteral("*.eml"), QStringLiteral("*.emlx"), QStringLiteral("*.htm")},
                        QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            QFile file(it.next());
            QVERIFY(file.open(QIODevice::ReadOnly));
            recovered += file.readAll().contains("Recovered attachment");
            ++files;
        }
        QCOMPARE(files - recovered, 7 - failedMails);
        QCOMPARE(outcome.recovered.size(), recovered);  // each one named in the log
        return;
    }
    // Only the messages counted as written are in the mailboxes: no empty shells.
    qint64 messages = 0;
    QDirIterator it(outputRoot(SaveType(type)), {QStringLiteral("*.mbox")}, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        QFile box(it.next());
        QVERIFY(box.open(QIODevice::ReadOnly));
        const QByteArray data = box.readAll();
        messages += data.count("\nFrom ???@???") + (data.startsWith("From ???@???") ? 1 : 0);
        messages += data.count("\rFrom ???@???");
        recovered += data.count("Thread-Topic: Recovered attachment");
    }
    QCOMPARE(outcome.written + outcome.failed, 26 + recovered);
    QCOMPARE(messages - recovered, 7 - failedMails);
    QCOMPARE(outcome.recovered.size(), recovered);
    // Likewise no empty item files: every file in the kinds' folders stands for a written item.
    qint64 itemFiles = 0;
    for (const char *kind : {"Contacts", "Calendar", "Tasks", "Notes"}) {
        QDirIterator files(outputRoot(SaveType(type)) + QLatin1Char('/') + QLatin1String(kind), QDir::Files,
                           QDirIterator::Subdirectories);
        for (; files.hasNext(); files.next())
            ++itemFiles;
    }
    QCOMPARE(itemFiles, outcome.written - messages);
    if (change == QLatin1String("third"))
        QVERIFY(recovered > 0);
}

void SaveTypesEndToEndTest::hostileArchiveEveryType_data()
{
    QTest::addColumn<int>("type");
    for (int t = SaveTypeOLM; t <= SaveTypeHTML; ++t)
        QTest::newRow(qPrintable(QStringLiteral("type %1").arg(t))) << t;
}

void SaveTypesEndToEndTest::hostileArchiveEveryType()
{
    // A central record claiming INT64_MAX bytes: no overflow (the sanitizer build checks), and
    // the message and its attachment are still saved.
    QFETCH(int, type);
    if (IndexFor(SaveType(type)) < 0)
        QSKIP("this edition has no such save type");
    QFile f(QFileInfo(QStringLiteral(OLM_SAMPLE_ARCHIVE)).dir().filePath(QStringLiteral("zip64-int64max.olm")));
    QVERIFY(f.open(QIODevice::ReadOnly));
    QTemporaryDir dest;
    QVERIFY(startSave(f.readAll(), SaveType(type), dest.path()));
    QCOMPARE(int(MailItemCount), 1);
    QMailSavingThread thread;
    QueuedSpy finish(&thread, &QMailSavingThread::OnFinishScanning);
    QVERIFY(thread.SetInitialSettings(QString(), IndexFor(SaveType(type))));
    QVERIFY(EndRun(thread, &thread, 120000));
    const SaveOutcome outcome = thread.outcome();
    QVERIFY2(outcome.failures.isEmpty(), qPrintable(outcome.failures.join(QLatin1Char('\n'))));
    // The new archive holds the category list as well.
    QCOMPARE(outcome.written, qint64(type == SaveTypeOLM ? 2 : 1));
    QCOMPARE(finish.count(), 1);
}

void SaveTypesEndToEndTest::fileSizeLimit_data()
{
    QTest::addColumn<int>("type");
    for (SaveType t : {SaveTypeOLM, SaveTypeRGE, SaveTypeMBOX, SaveTypeEML})
        QTest::newRow(qPrintable(QStringLiteral("type %1").arg(int(t)))) << int(t);
}

void SaveTypesEndToEndTest::fileSizeLimit()
{
    // Under a small file-size limit the write fails (EFBIG) and the save says so: the process
    // is not killed by the signal the limit raises.
    QFETCH(int, type);
    if (IndexFor(SaveType(type)) < 0)
        QSKIP("this edition has no such save type");
    QTemporaryDir dest;
    QVERIFY(startSave(SampleBytes(), SaveType(type), dest.path()));
    const sighandler_t before = signal(SIGXFSZ, SIG_DFL);
    struct rlimit old;
    getrlimit(RLIMIT_FSIZE, &old);
    struct rlimit small = old;
    small.rlim_cur = 64 * 1024;
    setrlimit(RLIMIT_FSIZE, &small);
    QMailSavingThread thread;
    const bool started = thread.SetInitialSettings(QString(), IndexFor(SaveType(type)));
    const bool ended = started && EndRun(thread, &thread, 120000);
    setrlimit(RLIMIT_FSIZE, &old);
    signal(SIGXFSZ, before);
    QVERIFY(ended);
    const SaveOutcome outcome = thread.outcome();
    QVERIFY(outcome.failed >= 1);
    QVERIFY(SaveProblemText(outcome).startsWith(QLatin1Char('\n')));
    QVERIFY2(outcome.failures.join(QLatin1Char('\n')).contains(qt_error_string(EFBIG)),
             qPrintable(outcome.failures.join(QLatin1Char('\n'))));
}

void SaveTypesEndToEndTest::mailboxLinkNotFollowed()
{
    if (IndexFor(SaveTypeMBOX) < 0)
        QSKIP("this edition has no such save type");
    QTemporaryDir dest;
    QTemporaryDir elsewhere;
    const QString target = elsewhere.filePath(QStringLiteral("target"));
    {
        QFile t(target);
        QVERIFY(t.open(QIODevice::WriteOnly) && t.write("untouched\n") == 10);
    }
    QVERIFY(startSave(SampleBytes(), SaveTypeMBOX, dest.path()));
    // A link planted where a mailbox will be written.
    const QString inbox = outputRoot(SaveTypeMBOX) + QStringLiteral("/Mail/Outlook PST/Inbox");
    QVERIFY(QDir().mkpath(inbox));
    QVERIFY(QFile::link(target, inbox + QStringLiteral("/Inbox.mbox")));
    QMailSavingThread thread;
    QVERIFY(thread.SetInitialSettings(QString(), IndexFor(SaveTypeMBOX)));
    QVERIFY(EndRun(thread, &thread, 120000));
    const SaveOutcome outcome = thread.outcome();
    QFile t(target);
    QVERIFY(t.open(QIODevice::ReadOnly));
    QCOMPARE(t.readAll(), QByteArray("untouched\n"));
    QVERIFY2(outcome.failures.join(QLatin1Char('\n')).contains(QLatin1String("Inbox.mbox")),
             qPrintable(outcome.failures.join(QLatin1Char('\n'))));
    QVERIFY(outcome.failed >= 1);
}

namespace {

// How many of the archive's attachment entries (argv[2]) come back byte for byte from the .mbox
// and .eml files under argv[1], read by Python's mailbox and email modules.
const char kAttachmentsBack[] = R"PY(
import sys, os, zipfile, mailbox, email, email.policy
wanted = set()
with zipfile.ZipFile(sys.argv[2]) as z:
    for i in z.infolist():
        if '__Attachments/' in i.filename and not i.is_dir():
            wanted.add(z.read(i))
found = set()
def walk(msg):
    for part in msg.walk():
        if part.get_content_disposition() == 'attachment':
            data = part.get_payload(decode=True)
            if data in wanted:
                found.add(data)
for root, dirs, files in os.walk(sys.argv[1]):
    for f in files:
        path = os.path.join(root, f)
        if f.endswith('.mbox'):
            for m in mailbox.mbox(path):
                walk(m)
        elif f.endswith('.eml'):
            with open(path, 'rb') as fh:
                walk(email.message_from_binary_file(fh, policy=email.policy.compat32))
print(len(found))
)PY";

} // namespace

void SaveTypesEndToEndTest::truncatedSampleKeepsAttachments_data()
{
    QTest::addColumn<int>("type");
    QTest::newRow("Apple Mail mailboxes") << int(SaveTypeMBOX);
    QTest::newRow("message files") << int(SaveTypeEML);
}

void SaveTypesEndToEndTest::truncatedSampleKeepsAttachments()
{
    // Cut inside the last attachment of a message: the message is gone, two of its three
    // attachments are whole. Each is saved in a recovered message of its own.
    QFETCH(int, type);
    if (IndexFor(SaveType(type)) < 0 || !m_python)
        QSKIP("this edition has no such save type, or no python3");
    const QByteArray cut = SampleBytes().left(1000000);
    QTemporaryDir dest;
    QVERIFY(startSave(cut, SaveType(type), dest.path()));
    QMailSavingThread thread;
    QVERIFY(thread.SetInitialSettings(QString(), IndexFor(SaveType(type))));
    QVERIFY(EndRun(thread, &thread, 120000));
    QProcess py;
    py.start(QStringLiteral("python3"), {QStringLiteral("-c"), QString::fromLatin1(kAttachmentsBack),
                                         outputRoot(SaveType(type)), QStringLiteral(OLM_SAMPLE_ARCHIVE)});
    QVERIFY(py.waitForFinished(120000));
    const int kept = py.readAllStandardOutput().trimmed().toInt();
    QVERIFY2(kept >= 8, qPrintable(QString::number(kept) + QString::fromUtf8(py.readAllStandardError())));
}

QTEST_GUILESS_MAIN(SaveTypesEndToEndTest)
#include "tst_savetypes_e2e.moc"
