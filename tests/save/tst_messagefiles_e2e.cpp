// Whole saves as one file per message (.emlx, .eml, .htm) through the real saving thread: the
// sample and generated archives read back by Python's email module and html.parser, a second
// save into the same folder, a stop part-way, and destinations that cannot take the files.

#include "ArchiveFile.h"
#include "OlmXml.h"
#include "SaveTestUtil.h"
#include "ScanTestUtil.h"
#include "TestArchiveBuilder.h"
#include "ThreadResults.h"
#include "scanner/FolderAttributes.h"
#include "scanner/FolderKinds.h"
#include "save/AttachmentIndex.h"
#include "save/MessageFields.h"
#include "save/QMailSavingThread.h"
#include "save/SaveGlobals.h"
#include "scanner/XmlEntities.h"
#include "save/mail/MailMimeParts.h"
#include "save/mail/MailWriter.h"
#include "save/SaveFlow.h"

#include <QCryptographicHash>
#include <QDirIterator>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <memory>
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

namespace {

// argv: expected.json, the output root, the extension (emlx, eml, htm), "all" or "prefix" (a
// stopped save: whatever is there must be complete). Prints {"found": N, "problems": [...]}.
const char kChecker[] = R"PY(
import sys, json, os, re, zlib, html, email, email.utils, time, datetime, urllib.parse
from html.parser import HTMLParser
from email import policy

expected = json.load(open(sys.argv[1], encoding='utf-8'))
root, ext, scope = sys.argv[2], sys.argv[3], sys.argv[4]
problems = []
EMPTY_HTML = b'<html><head></head><body style="word-wrap'

def declared_utf8(text):
    """A body as written in a UTF-8 part: the charset its meta tags declare is UTF-8 (the
    archive's text may hold the markup escaped)."""
    return re.sub(r'(?i)((?:<|&lt;)meta\b(?:(?!&gt;)[^>])*?charset\s*=\s*(?:["\']|&quot;|&apos;)?)([\w.:-]+)',
                  lambda m: m.group(1) + (m.group(2) if m.group(2).lower() == 'utf-8' else 'UTF-8'), text or '')

def norm(text):
    text = (text or '').replace('\r\n', '\n').replace('\r', '\n')
    text = html.unescape(html.unescape(text)).replace('\xa0', ' ')
    return ' '.join(text.split())

class Text(HTMLParser):
    def __init__(self):
        super().__init__(convert_charrefs=True)
        self.tags, self.text, self.hidden = [], [], 0
    def handle_starttag(self, tag, attrs):
        self.tags.append(tag)
        self.hidden += tag in ('style', 'script', 'title')
    def handle_endtag(self, tag):
        self.hidden -= tag in ('style', 'script', 'title') and self.hidden > 0
    def handle_data(self, data):
        if not self.hidden:
            self.text.append(data)

def parse_html(text):
    p = Text()
    p.feed(text)
    p.close()
    return p.tags, ''.join(p.text)

def addresses(msg, field):
    try:
        return [a for _, a in email.utils.getaddresses([str(h) for h in msg.get_all(field, [])]) if a]
    except Exception as e:
        return ['<unparsable %s: %s>' % (field, e)]

def check_message(exp, data, label):
    out = []
    msg = email.message_from_bytes(data, policy=policy.default)
    defects = list(msg.defects) + [d for part in msg.walk() for d in part.defects]
    if defects:
        out.append('%s: defects %s' % (label, defects))
    if norm(str(msg['Subject'] or '')) != norm(exp['subject']):
        out.append('%s: Subject %r' % (label, str(msg['Subject'])))
    if exp['from'] and addresses(msg, 'From')[-1:] != [exp['from']]:
        out.append('%s: From %s, expected %s' % (label, addresses(msg, 'From'), exp['from']))
    if exp['fromName'] and msg['From'] is not None and msg['From'].addresses[-1].display_name != exp['fromName']:
        out.append('%s: sender name %r, expected %r' % (label, msg['From'].addresses[-1].display_name, exp['fromName']))
    if addresses(msg, 'To') != exp['to']:
        out.append('%s: To %s, expected %s' % (label, addresses(msg, 'To')[:3], exp['to'][:3]))
    if exp['times']:
        try:
            when = int(email.utils.parsedate_to_datetime(str(msg['Date'])).timestamp())
        except Exception as e:
            when = '<%s>' % e
        if when not in exp['times']:
            out.append('%s: Date %r is %s, expected one of %s' % (label, msg['Date'], when, exp['times']))
    part = msg.get_body(preferencelist=('html', 'plain'))
    text = part.get_content() if part is not None else ''
    if exp['body'] and norm(text) != norm(declared_utf8(exp['body'])):
        out.append('%s: body %r, expected %r' % (label, norm(text)[:80], norm(declared_utf8(exp['body']))[:80]))
    if not exp['body'] and ext == 'eml' and EMPTY_HTML not in data:
        out.append('%s: no empty HTML text part' % label)
    parts = [p for p in msg.walk() if p.get_content_disposition() == 'attachment']
    if len(parts) != len(exp['attachments']):
        out.append('%s: %d attachment parts, expected %d' % (label, len(parts), len(exp['attachments'])))
    for att in exp['attachments']:
        # Header file names keep only the last path component of the stored name.
        match = next((p for p in parts if p.get_filename() == att['name'].split('/')[-1]), None)
        if match is None:
            out.append('%s: no attachment named %r (have %s)' % (label, att['name'], [p.get_filename() for p in parts]))
            continue
        parts.remove(match)
        if zlib.crc32(match.get_payload(decode=True) or b'') != att['crc']:
            out.append('%s: attachment %r differs from its archive entry' % (label, att['name']))
    return out

PAGE_TAGS = {'body', 'b', 'br'}

def page_lines(page, raw=None):
    head, _, rest = page.partition('<BR>\n\n\n\n')
    lines = {}
    for line in head[head.find('<body><B>From: </B>'):].split('<BR>\n\n'):
        tags, text = parse_html(line)
        label, _, value = text.partition(': ')
        # Only the attachment line links, to the files beside the page.
        if set(tags) - PAGE_TAGS - ({'a'} if label == 'Attachments' else set()):
            problems.append('markup from the message in a page line: %s in %r' % (tags, line[:80]))
        lines[label] = value
        if raw is not None:
            raw[label] = line
    return lines, rest

class Links(HTMLParser):
    def __init__(self):
        super().__init__(convert_charrefs=True)
        self.links, self.href, self.text = [], None, ''
    def handle_starttag(self, tag, attrs):
        if tag == 'a':
            self.href, self.text = dict(attrs).get('href') or '', ''
    def handle_data(self, data):
        if self.href is not None:
            self.text += data
    def handle_endtag(self, tag):
        if tag == 'a' and self.href is not None:
            self.links.append((self.href, self.text))
            self.href = None

linked = set()

def check_page_attachments(exp, line, path, label):
    """Every attachment of the page is a file in the folder beside it, byte for byte, which
    the attachment line links by a relative link."""
    out = []
    p = Links()
    p.feed(line)
    p.close()
    links = p.links
    for att in exp['attachments']:
        match = next((l for l in links if l[1] == att['name']), None)
        if match is None:
            out.append('%s: attachment %r is not linked' % (label, att['name']))
            continue
        links.remove(match)
        href = match[0]
        if re.match(r'^([a-zA-Z][a-zA-Z0-9+.-]*:|/|#)', href) or '..' in href.split('/') or href.count('/') != 1:
            out.append('%s: link %r is not to the folder beside the page' % (label, href))
            continue
        target = os.path.join(os.path.dirname(path), urllib.parse.unquote(href))
        if not href.startswith(urllib.parse.quote(os.path.basename(path)[:-4]) + '_'):
            out.append('%s: link %r does not name the page\'s folder' % (label, href))
        try:
            data = open(target, 'rb').read()
        except OSError as e:
            out.append('%s: attachment %r: %s' % (label, att['name'], e))
            continue
        if zlib.crc32(data) != att['crc']:
            out.append('%s: attachment %r differs from its archive entry' % (label, att['name']))
        linked.add(os.path.realpath(target))
    if links:
        out.append('%s: links to no attachment: %s' % (label, links))
    return out

def check_page(exp, page, label, path):
    out = []
    if not page.startswith('\ufeff<!DOCTYPE html PUBLIC') or not page.endswith('\n\n</body></html>\n\n'):
        out.append('%s: not a whole page' % label)
    raw = {}
    lines, rest = page_lines(page, raw)
    out += check_page_attachments(exp, raw.get('Attachments', ''), path, label)
    if norm(lines.get('Subject')) != norm(exp['subject']):
        out.append('%s: Subject line %r' % (label, lines.get('Subject')))
    if exp['from'] and not lines.get('From', '').endswith('<%s>' % exp['from']):
        out.append('%s: From line %r, expected the address %s' % (label, lines.get('From'), exp['from']))
    if exp['fromName'] and not lines.get('From', '').startswith(exp['fromName'] + ' <'):
        out.append('%s: From line %r, expected the name %r' % (label, lines.get('From'), exp['fromName']))
    if [re.sub(r'^.*<(.*)>$', r'\1', a.strip()) for a in lines.get('To', '').split(',\r\t') if a.strip()] != exp['to']:
        out.append('%s: To line %r' % (label, lines.get('To', '')[:80]))
    if lines.get('Attachments', '') != ''.join(a['name'] + '; ' for a in exp['attachments']):
        out.append('%s: Attachments line %r' % (label, lines.get('Attachments')))
    if exp['times']:
        try:
            shown = datetime.datetime.strptime(lines.get('Date', ''), '%a, %d %b %Y %I:%M:%S %p %z')
            when = int(shown.timestamp())
        except Exception as e:
            when = '<%s>' % e
        if when not in exp['times']:
            out.append('%s: Date %r is %s, expected one of %s' % (label, lines.get('Date'), when, exp['times']))
    body = rest[:-len('\n\n</body></html>\n\n')]
    tags, text = parse_html(body)
    if exp['html']:
        want = parse_html(html.unescape(exp['body']))[1]
    else:
        want = exp['body']
        if body and (tags != ['div'] or not body.startswith('<div style="white-space: pre-wrap">')):
            out.append('%s: plain body turned into markup %s' % (label, tags[:5]))
    if norm(text) != norm(want):
        out.append('%s: body %r, expected %r' % (label, norm(text)[:80], norm(want)[:80]))
    return out

found, unused, attachment_files = 0, list(expected), []
for folder, _, files in os.walk(root):
    for name in sorted(files):
        path = os.path.join(folder, name)
        if ext == 'htm' and os.path.basename(folder).endswith('_attachments'):
            attachment_files.append(os.path.realpath(path))
            continue
        if not name.endswith('.' + ext):
            problems.append('unexpected file %s' % path)
            continue
        found += 1
        data = open(path, 'rb').read()
        if ext == 'emlx':
            first, _, data = data.partition(b'\n')
            if not first.strip().isdigit() or int(first) != len(data):
                problems.append('%s: length line %r for %d bytes' % (path, first, len(data)))
        if ext == 'eml' and (not data.startswith(b'From ???@???') or data.count(b'From ???@???') != 1):
            problems.append('%s: not one message with its separator line' % path)
        if ext == 'htm':
            page = data.decode('utf-8')
            subject = page_lines(page)[0].get('Subject', '')
        else:
            subject = str(email.message_from_bytes(data, policy=policy.default)['Subject'] or '')
        stem = os.path.basename(folder)
        exp = next((e for e in unused if norm(e['subject']) == norm(subject) and e['folder'] == stem), None)
        if exp is None:
            problems.append('unexpected message %r in %s' % (subject, path))
            continue
        unused.remove(exp)
        label = '%s (%s)' % (exp['subject'] or '<no subject>', name)
        problems += check_page(exp, page, label, path) if ext == 'htm' else check_message(exp, data, label)
problems += ['attachment file %s linked by no page' % f for f in attachment_files if f not in linked]
if scope == 'all':
    problems += ['missing: %r in %s' % (e['subject'], e['folder']) for e in unused]
print(json.dumps({'found': found, 'problems': problems[:40]}))
)PY";

const char *ExtensionOf(SaveType type)
{
    return type == SaveTypeEMLX ? "emlx" : type == SaveTypeEML ? "eml" : "htm";
}

// What every message of the scanned archive must look like when read back, in list order.
QJsonArray ExpectedMessages()
{
    const AttachmentIndex index(tmpAtFOStart);
    QJsonArray messages;
    for (const MailMLRC *rec = TmpMlrcPtrStart; rec; rec = rec->pNext) {
        const MailMessageFields fields = ParseMessageXml(ReadMessageXml(rec->llDataOffset, rec->dwDataLength),
                                                         MessageIdForm::AngleBrackets, AddressListLimit::Unlimited);
        const QString relative = MailFolderRelativePath(ReadEntryName(rec->llNameOffset, rec->nNameLength));
        const QString body = QString::fromUtf8(UpToFirstNul(ReadArchiveBytes(rec->llBodyOffset, rec->dwBodyLength)));
        QJsonObject m;
        m[QStringLiteral("folder")] = relative.mid(relative.lastIndexOf(QLatin1Char('/')) + 1);
        m[QStringLiteral("subject")] = QString::fromUtf8(rec->pSubject ? rec->pSubject : "");
        const QStringList from = fields.strFromList.split(QLatin1Char(';'), Qt::SkipEmptyParts);
        m[QStringLiteral("from")] = from.isEmpty() ? QString() : from.last();
        m[QStringLiteral("fromName")] = fields.fromNames.isEmpty() ? QString() : fields.fromNames.last();
        m[QStringLiteral("to")] = QJsonArray::fromStringList(fields.strToList.split(QLatin1Char(';'), Qt::SkipEmptyParts));
        QJsonArray times;
        for (quint32 t : {rec->dwSentTime, rec->dwReceivedTime})
            if (t)
                times.append(qint64(t));
        m[QStringLiteral("times")] = times;
        m[QStringLiteral("body")] = body;
        m[QStringLiteral("html")] = IsHtmlBody(UnescapeXmlEntities(body, EntityForm::Named), kHtmlRowsLineEnds);
        QJsonArray attachments;
        for (const AttachmentInfo &a : fields.attachments) {
            const FileOffsetNode *node = index.find(a.url);
            attachments.append(QJsonObject{{QStringLiteral("name"), a.name},
                                           {QStringLiteral("crc"), node ? qint64(node->dwCrc32) : -1}});
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

CheckResult ReadBack(const QString &root, SaveType type, bool all)
{
    CheckResult result;
    QTemporaryDir work;
    QFile f(work.filePath(QStringLiteral("expected.json")));
    if (!f.open(QIODevice::WriteOnly) || f.write(QJsonDocument(ExpectedMessages()).toJson()) < 0) {
        result.problems << QStringLiteral("cannot write %1").arg(f.fileName());
        return result;
    }
    f.close();
    QProcess python;
    python.start(QStringLiteral("python3"), {QStringLiteral("-c"), QString::fromUtf8(kChecker), f.fileName(), root,
                                             QLatin1String(ExtensionOf(type)),
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

// Messages these formats find hard: two accounts' Inbox folders that share a path; markup,
// quotes, ";" and letters beyond Latin-1 in names and subjects; no Message-ID; no body. Past
// the first seven, plain messages with every tenth an attachment.
QByteArray MessageFileCases(int count = 7)
{
    TestArchiveBuilder b;
    QVector<OlmXml::MailItem> items(count);
    for (int i = 0; i < items.size(); ++i) {
        OlmXml::MailItem &m = items[i];
        m.subject = QStringLiteral("Case %1").arg(i);
        m.sent = QStringLiteral("2019-03-0%1T21:45:%2").arg(i % 7 + 1).arg(i % 60, 2, 10, QLatin1Char('0'));
        m.received = QStringLiteral("2019-03-0%1T21:46:00").arg(i % 7 + 1);
        m.from = {{QStringLiteral("from%1@example.com").arg(i), QStringLiteral("From %1").arg(i)}};
        m.to = {{QStringLiteral("to%1@example.com").arg(i), QStringLiteral("To %1").arg(i)},
                {QStringLiteral("other%1@example.com").arg(i), QString()}};
        m.messageId = QStringLiteral("&lt;case%1@example.com&gt;").arg(i);
        m.body = QStringLiteral("Line one of %1\r\nLine two &lt;addr@host&gt; &amp; more").arg(i);
        if (i >= 7 && i % 10 == 0) {
            const QString url = QStringLiteral("Local/s/Inbox/com.microsoft.__Attachments/att_%1").arg(i);
            b.addEntry(url, QByteArray(5000 + i, char('a' + i % 26)));
            m.attachmentNames = QStringList{QStringLiteral("file%1.bin").arg(i)};
            m.attachmentUrls = QStringList{url};
        }
    }
    items[0].subject = QStringLiteral("&lt;script>alert(1)&lt;/script> &amp; \"quoted\"");
    items[0].from = {{QStringLiteral("evil@example.com"), OlmXml::escape(QStringLiteral("<img src=x onerror=alert(1)>"))}};
    items[1].messageId.clear();
    items[1].from = {{QStringLiteral("zoe@example.com"), OlmXml::escape(QStringLiteral("Zoë \"Q\"; Ångström 東京"))}};
    const QString attachments = QStringLiteral("Accounts/B/store/Inbox/com.microsoft.__Attachments/");
    b.addEntry(attachments + QStringLiteral("a_0"), QByteArray(100000, 'x') + "end");
    b.addEntry(attachments + QStringLiteral("a_1"), QByteArray("gr\xc3\xbc\xc3\x9f"));
    items[2].body.clear();
    items[2].attachmentNames = QStringList{OlmXml::escape(QStringLiteral("<script>x</script>; \"odd\".bin"))};
    items[2].attachmentUrls = QStringList{attachments + QStringLiteral("a_0")};
    b.addEntry(attachments + QStringLiteral("a_2"), QByteArray("\0\x01\xff binary\r\n", 13));
    // Two of one name, and one whose name reads as a path, a query and a place in a page.
    items[3].attachmentNames = QStringList{QStringLiteral("Grüße – 東京.txt"), QStringLiteral("Grüße – 東京.txt"),
                                           QStringLiteral("../100% #1?.txt")};
    items[3].attachmentUrls = QStringList{attachments + QStringLiteral("a_1"), attachments + QStringLiteral("a_0"),
                                          attachments + QStringLiteral("a_2")};
    items[4].body = QStringLiteral("&lt;html&gt;&lt;body&gt;&lt;p&gt;HTML &amp;amp; more&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;");
    items[5].outgoing = QStringLiteral("1E0");
    items[5].received.clear();
    for (int i = 0; i < items.size(); ++i) {
        // Both accounts' Inbox give the folder path "Inbox".
        const QString folder = i >= 7 ? QStringLiteral("Local/s/Inbox/")
                               : i % 2 ? QStringLiteral("Accounts/B/store/Inbox/") : QStringLiteral("Accounts/A/store/Inbox/");
        b.addEntry(folder + QStringLiteral("message_%1.xml").arg(i, 5, 10, QLatin1Char('0')), OlmXml::emails({items[i]}));
    }
    return b.finish();
}

QByteArray SampleBytes()
{
    QFile f(QStringLiteral(OLM_SAMPLE_ARCHIVE));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Path below root -> SHA-1 of the file.
QMap<QString, QByteArray> Files(const QString &root)
{
    QMap<QString, QByteArray> files;
    QDirIterator it(root, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        QFile f(it.next());
        f.open(QIODevice::ReadOnly);
        files.insert(it.filePath().mid(root.size()), QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha1));
    }
    return files;
}

// The message files among them: a page's attachments lie in a folder beside it.
int MessageFileCount(const QMap<QString, QByteArray> &files)
{
    int count = 0;
    for (auto it = files.constBegin(); it != files.constEnd(); ++it)
        count += it.key().contains(QLatin1String("_attachments/")) ? 0 : 1;
    return count;
}

// Writes past this many bytes of a file fail (EFBIG) while it lives, as on a full disk.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        m_oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &m_old);
        struct rlimit limit = m_old;
        limit.rlim_cur = bytes;
        m_set = setrlimit(RLIMIT_FSIZE, &limit) == 0;
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &m_old);
        std::signal(SIGXFSZ, m_oldHandler);
    }
    bool isSet() const { return m_set; }

private:
    struct rlimit m_old {};
    void (*m_oldHandler)(int) = nullptr;
    bool m_set = false;
};

} // namespace

class MessageFilesEndToEndTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void readBack_data();
    void readBack();
    void secondSaveOverwritesNothing_data();
    void secondSaveOverwritesNothing();
    void stopLeavesCompleteFiles_data();
    void stopLeavesCompleteFiles();
    void destinationCannotTakeFiles_data();
    void destinationCannotTakeFiles();
    void pageAttachmentNotWrittenIsNamed();
    void pagePictureTooLargeIsLinked();
    void bidiControlsLeaveNames();

private:
    bool startSave(const QByteArray &archive, SaveType type, const QString &dest);
    // Runs the save started by startSave to its end.
    SaveOutcome runSave(SaveType type, int *finished = nullptr);
    QString outputRoot(SaveType type) const { return OutputRootFor(type, saveDir, strTime); }

    std::unique_ptr<ArchiveFile> m_archive;
    bool m_python = false;
};

void MessageFilesEndToEndTest::initTestCase()
{
    // Dates are checked as instants, but the writers render local time: pin it.
    qputenv("TZ", "Asia/Kolkata");
    tzset();
    m_python = !QStandardPaths::findExecutable(QStringLiteral("python3")).isEmpty();
}

void MessageFilesEndToEndTest::init()
{
    ResetRunFlags();
}

void MessageFilesEndToEndTest::cleanup()
{
    FreeScanState();
    m_archive.reset();
}

bool MessageFilesEndToEndTest::startSave(const QByteArray &archive, SaveType type, const QString &dest)
{
    return ScanAndStartTestSave(m_archive, archive, type, dest);
}

SaveOutcome MessageFilesEndToEndTest::runSave(SaveType type, int *finished)
{
    QMailSavingThread thread;
    QueuedSpy finish(&thread, &QMailSavingThread::OnFinishScanning);
    if (!thread.SetInitialSettings(QString(), IndexFor(type)) || !EndRun(thread, &thread, 120000))
        return SaveOutcome();
    if (finished)
        *finished = finish.count();
    return thread.outcome();
}

void MessageFilesEndToEndTest::readBack_data()
{
    QTest::addColumn<QByteArray>("archive");
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("messages");
    const QByteArray sample = SampleBytes();
    const QByteArray cases = MessageFileCases();
    for (SaveType type : {SaveTypeEMLX, SaveTypeEML, SaveTypeHTML}) {
        QTest::addRow("sample, %s", ExtensionOf(type)) << sample << int(type) << 7;
        QTest::addRow("hard cases, %s", ExtensionOf(type)) << cases << int(type) << 7;
    }
}

void MessageFilesEndToEndTest::readBack()
{
    QFETCH(QByteArray, archive);
    QFETCH(int, type);
    QFETCH(int, messages);
    if (IndexFor(SaveType(type)) < 0)
        QSKIP("this edition has no such save type");
    QTemporaryDir dest;
    QVERIFY(startSave(archive, SaveType(type), dest.path()));
    QCOMPARE(int(MailItemCount), messages);
    int finished = 0;
    const SaveOutcome outcome = runSave(SaveType(type), &finished);
    QVERIFY2(outcome.failures.isEmpty(), qPrintable(outcome.failures.join(QLatin1Char('\n'))));
    QCOMPARE(outcome.written, qint64(messages));
    QCOMPARE(finished, 1);
    if (!m_python)
        QSKIP("python3 is needed to read the files back");
    const CheckResult check = ReadBack(outputRoot(SaveType(type)), SaveType(type), true);
    QVERIFY2(check.problems.isEmpty(), qPrintable(check.problems.join(QLatin1Char('\n'))));
    QCOMPARE(check.found, messages);
}

void MessageFilesEndToEndTest::secondSaveOverwritesNothing_data()
{
    QTest::addColumn<int>("type");
    for (SaveType type : {SaveTypeEMLX, SaveTypeEML, SaveTypeHTML})
        QTest::addRow("%s", ExtensionOf(type)) << int(type);
}

void MessageFilesEndToEndTest::secondSaveOverwritesNothing()
{
    QFETCH(int, type);
    if (IndexFor(SaveType(type)) < 0)
        QSKIP("this edition has no such save type");
    QTemporaryDir dest;
    QVERIFY(startSave(MessageFileCases(), SaveType(type), dest.path()));
    QCOMPARE(runSave(SaveType(type)).written, qint64(7));
    const QMap<QString, QByteArray> first = Files(outputRoot(SaveType(type)));
    QCOMPARE(MessageFileCount(first), 7);   // one file each, the two accounts' Inbox messages apart
    // The same destination and time stamp again: the output root exists already.
    QCOMPARE(runSave(SaveType(type)).written, qint64(7));
    const QMap<QString, QByteArray> both = Files(outputRoot(SaveType(type)));
    QCOMPARE(MessageFileCount(both), 14);
    for (auto it = first.constBegin(); it != first.constEnd(); ++it)
        QVERIFY2(both.value(it.key()) == it.value(), qPrintable(it.key()));
}

void MessageFilesEndToEndTest::stopLeavesCompleteFiles_data()
{
    QTest::addColumn<int>("type");
    for (SaveType type : {SaveTypeEMLX, SaveTypeEML, SaveTypeHTML})
        QTest::addRow("%s", ExtensionOf(type)) << int(type);
}

void MessageFilesEndToEndTest::stopLeavesCompleteFiles()
{
    QFETCH(int, type);
    if (IndexFor(SaveType(type)) < 0)
        QSKIP("this edition has no such save type");
    QTemporaryDir dest;
    QVERIFY(startSave(MessageFileCases(600), SaveType(type), dest.path()));
    QMailSavingThread thread;
    QueuedSpy finish(&thread, &QMailSavingThread::OnFinishScanning);
    int ticks = 0;   // touched by the saving thread only, until wait() returns
    connect(&thread, &QMailSavingThread::OnProgressvalueMainWindow, &thread, [&] {
        if (++ticks == 234) {   // the confirmed stop, as the progress sheet sets it
            bStopFlag = true;
            stopflag = true;
        }
    }, Qt::DirectConnection);
    QVERIFY(thread.SetInitialSettings(QString(), IndexFor(SaveType(type))));
    QVERIFY(EndRun(thread, &thread, 120000));
    const SaveOutcome outcome = thread.outcome();
    QCOMPARE(finish.count(), 0);
    QVERIFY(outcome.stopped);
    QCOMPARE(outcome.failed, qint64(0));
    QVERIFY2(outcome.written >= 233 && outcome.written <= 234, qPrintable(QString::number(outcome.written)));
    QCOMPARE(qint64(MessageFileCount(Files(outputRoot(SaveType(type))))), outcome.written);
    if (!m_python)
        QSKIP("python3 is needed to read the files back");
    const CheckResult check = ReadBack(outputRoot(SaveType(type)), SaveType(type), false);
    QVERIFY2(check.problems.isEmpty(), qPrintable(check.problems.join(QLatin1Char('\n'))));
    QCOMPARE(qint64(check.found), outcome.written);
}

void MessageFilesEndToEndTest::destinationCannotTakeFiles_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<bool>("full");
    for (SaveType type : {SaveTypeEMLX, SaveTypeEML, SaveTypeHTML}) {
        QTest::addRow("%s, the mail folder is a file", ExtensionOf(type)) << int(type) << false;
        QTest::addRow("%s, the disk is full", ExtensionOf(type)) << int(type) << true;
    }
}

void MessageFilesEndToEndTest::destinationCannotTakeFiles()
{
    QFETCH(int, type);
    QFETCH(bool, full);
    if (IndexFor(SaveType(type)) < 0)
        QSKIP("this edition has no such save type");
    QTemporaryDir dest;
    QVERIFY(startSave(MessageFileCases(), SaveType(type), dest.path()));
    const QString mailDir = outputRoot(SaveType(type)) + QStringLiteral("/Mail");
    std::unique_ptr<FileSizeLimit> limit;
    if (full) {
        // Every message is larger than this; the superuser is held to it too.
        limit.reset(new FileSizeLimit(200));
        QVERIFY(limit->isSet());
    } else {
        // A file where the folder must be made: no permission bits, so it holds for root as well.
        QFile blocker(mailDir);
        QVERIFY(blocker.open(QIODevice::WriteOnly));
    }
    int finished = 0;
    const SaveOutcome outcome = runSave(SaveType(type), &finished);
    limit.reset();
    QCOMPARE(finished, 1);
    QCOMPARE(outcome.items, qint64(7));   // every message is tried
    QCOMPARE(outcome.written, qint64(0));
    QCOMPARE(outcome.failed, qint64(7));
    for (int i = 1; i < 7; ++i)   // each failed message is named
        QVERIFY2(outcome.failures.filter(QStringLiteral("\"Case %1\"").arg(i)).size() == 1,
                 qPrintable(outcome.failures.join(QLatin1Char('\n'))));
    QCOMPARE(SaveFailedText(outcome.failed), QStringLiteral("\n7 item(s) could not be saved. Files Saved Partially."));
    // A file cut short is not left behind for a reader to take as a message.
    if (full)
        QCOMPARE(Files(mailDir).size(), 0);
}

// An attachment the archive no longer holds cannot stand beside its page: the page is saved
// incomplete and says so, its name stays unlinked, and the others are still written and linked.
void MessageFilesEndToEndTest::pageAttachmentNotWrittenIsNamed()
{
    if (IndexFor(SaveTypeHTML) < 0)
        QSKIP("this edition has no such save type");
    TestArchiveBuilder b;
    OlmXml::MailItem m;
    m.subject = QStringLiteral("Two files");
    m.sent = QStringLiteral("2019-03-01T21:45:00");
    m.body = QStringLiteral("See the files");
    const QString dir = QStringLiteral("Local/s/Inbox/com.microsoft.__Attachments/");
    b.addEntry(dir + QStringLiteral("here"), QByteArray("kept bytes"));
    m.attachmentNames = QStringList{QStringLiteral("gone.pdf"), QStringLiteral("here.txt")};
    m.attachmentUrls = QStringList{dir + QStringLiteral("gone"), dir + QStringLiteral("here")};
    b.addEntry(QStringLiteral("Local/s/Inbox/message_00000.xml"), OlmXml::emails({m}));
    QTemporaryDir dest;
    QVERIFY(startSave(b.finish(), SaveTypeHTML, dest.path()));
    const SaveOutcome outcome = runSave(SaveTypeHTML);
    QCOMPARE(outcome.written, qint64(1));
    QCOMPARE(outcome.incomplete, qint64(1));
    QCOMPARE(outcome.incompletes.size(), 1);
    QVERIFY2(outcome.incompletes[0].contains(QLatin1String("attachment \"gone.pdf\": not found in the archive")),
             qPrintable(outcome.incompletes[0]));
    const QString inbox = outputRoot(SaveTypeHTML) + QStringLiteral("/Mail/Inbox/");
    QFile page(inbox + QStringLiteral("1.htm"));
    QVERIFY(page.open(QIODevice::ReadOnly));
    QVERIFY(page.readAll().contains(
        "<B>Attachments: </B>gone.pdf; <a href=\"1_attachments/here.txt\">here.txt</a>; <BR>"));
    QFile kept(inbox + QStringLiteral("1_attachments/here.txt"));
    QVERIFY(kept.open(QIODevice::ReadOnly));
    QCOMPARE(kept.readAll(), QByteArray("kept bytes"));
    QCOMPARE(QDir(inbox + QStringLiteral("1_attachments")).entryList(QDir::Files | QDir::Hidden).size(), 1);
}

// A 20 MiB screenshot is a link to the file written beside the page, with a line; a picture
// in a style attribute shows from its data.
void MessageFilesEndToEndTest::pagePictureTooLargeIsLinked()
{
    if (IndexFor(SaveTypeHTML) < 0)
        QSKIP("this edition has no such save type");
    TestArchiveBuilder b;
    OlmXml::MailItem m;
    m.subject = QStringLiteral("Screenshot");
    m.sent = QStringLiteral("2019-03-01T21:45:00");
    m.body = OlmXml::escape(QStringLiteral("<html><body><p>See</p><img src=\"cid:shot@x\" width=\"600\">"
                                           "<div style=\"background-image:url('cid:dot@x')\">x</div></body></html>"));
    const QString dir = QStringLiteral("Local/s/Inbox/com.microsoft.__Attachments/");
    const QByteArray png = QByteArray("\x89PNG\r\n\x1a\n", 8);
    b.addEntry(dir + QStringLiteral("shot"), png + QByteArray((20 << 20) - 8, 'p'));
    b.addEntry(dir + QStringLiteral("dot"), png + "dot");
    m.attachmentNames = QStringList{QStringLiteral("shot.png"), QStringLiteral("dot.png")};
    m.attachmentUrls = QStringList{dir + QStringLiteral("shot"), dir + QStringLiteral("dot")};
    QByteArray xml = OlmXml::emails({m});
    const int first = xml.indexOf("OPFAttachmentName=");
    xml.insert(xml.indexOf("OPFAttachmentName=", first + 1), "OPFAttachmentContentID=\"dot@x\" ");
    xml.insert(first, "OPFAttachmentContentID=\"shot@x\" ");
    b.addEntry(QStringLiteral("Local/s/Inbox/message_00000.xml"), xml);
    QTemporaryDir dest;
    QVERIFY(startSave(b.finish(), SaveTypeHTML, dest.path()));
    const SaveOutcome outcome = runSave(SaveTypeHTML);
    QCOMPARE(outcome.written, qint64(1));
    QCOMPARE(outcome.incompletes.size(), 1);
    QVERIFY2(outcome.incompletes[0].contains(
                 QLatin1String("picture \"shot.png\" is not shown in the page but linked to its file")),
             qPrintable(outcome.incompletes[0]));
    const QString inbox = outputRoot(SaveTypeHTML) + QStringLiteral("/Mail/Inbox/");
    QFile page(inbox + QStringLiteral("1.htm"));
    QVERIFY(page.open(QIODevice::ReadOnly));
    const QByteArray text = page.readAll();
    QVERIFY2(text.contains("<p>See</p><a href=\"1_attachments/shot.png\">shot.png</a>"), text.right(400).constData());
    QVERIFY2(text.contains("url(\"data:image/png;base64," + (png + "dot").toBase64() + "\")")
                 || text.contains("url(&quot;data:image/png;base64," + (png + "dot").toBase64() + "&quot;)"),
             text.right(400).constData());
    QCOMPARE(QFileInfo(inbox + QStringLiteral("1_attachments/shot.png")).size(), qint64(20 << 20));
}

// Names that bidirectional controls would show reordered ("invoice<U+202E>fdp.exe" as
// "invoiceexe.pdf") lose them: on disk beside the page, on the page, and in the saved message.
void MessageFilesEndToEndTest::bidiControlsLeaveNames()
{
    const QString dir = QStringLiteral("Local/s/Inbox/com.microsoft.__Attachments/");
    const QStringList names{QStringLiteral("invoice\u202Efdp.exe"),
                            QStringLiteral("\u200E\u200Fa\u202A\u202B\u202C\u202Db\u2066\u2067\u2068\u2069.txt")};
    const QStringList shown{QStringLiteral("invoicefdp.exe"), QStringLiteral("ab.txt")};
    for (const SaveType type : {SaveTypeHTML, SaveTypeEML}) {
        if (IndexFor(type) < 0)
            continue;
        TestArchiveBuilder b;
        OlmXml::MailItem m;
        m.subject = QStringLiteral("Named");
        m.sent = QStringLiteral("2019-03-01T21:45:00");
        m.body = QStringLiteral("See the files");
        for (int i = 0; i < names.size(); ++i) {
            b.addEntry(dir + QString::number(i), QByteArray("bytes ") + QByteArray::number(i));
            m.attachmentNames << names[i];
            m.attachmentUrls << dir + QString::number(i);
        }
        b.addEntry(QStringLiteral("Local/s/Inbox/message_00000.xml"), OlmXml::emails({m}));
        QTemporaryDir dest;
        QVERIFY(startSave(b.finish(), type, dest.path()));
        QCOMPARE(runSave(type).written, qint64(1));
        QDirIterator it(outputRoot(type), QDir::Files, QDirIterator::Subdirectories);
        QStringList files;
        QByteArray message;
        while (it.hasNext()) {
            const QString path = it.next();
            files << it.fileName();
            if (path.endsWith(QLatin1String(".htm")) || path.endsWith(QLatin1String(".eml"))) {
                QFile f(path);
                QVERIFY(f.open(QIODevice::ReadOnly));
                message = f.readAll();
            }
        }
        for (const QString &name : shown) {
            QVERIFY2(message.contains(name.toUtf8()), message.constData());
            if (type == SaveTypeHTML)
                QVERIFY2(files.contains(name), qPrintable(files.join(QLatin1Char('|'))));
        }
        for (const QString &name : names)
            QVERIFY(!files.contains(name));
        QVERIFY(!message.contains("\xE2\x80\xAE"));
        cleanup();
        init();
    }
}

QTEST_GUILESS_MAIN(MessageFilesEndToEndTest)
#include "tst_messagefiles_e2e.moc"
