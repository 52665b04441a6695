// The message writer's MIME frame, body text and attachment parts: boundaries, kind test,
// body conversions, chunked base64, part headers, and messages read back by Python's email.

#include "save/AttachmentIndex.h"
#include "save/BidiControls.h"
#include "save/mail/MailMimeParts.h"
#include "platform/Crc32.h"
#include "save/mail/MessageFiles.h"

#include "ArchiveFile.h"
#include "ScanTestUtil.h"
#include "WesternProse.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTextCodec>
#include <QtTest>

#include <memory>

Q_DECLARE_METATYPE(AttachmentInfo)

namespace {

const qint64 kBodyAt = 16;

MailMLRC mailRecord(quint32 bodyLength, qint64 dataOffset = 0x100)
{
    MailMLRC r{};
    r.llBodyOffset = kBodyAt;
    r.dwBodyLength = bodyLength;
    r.llDataOffset = dataOffset;
    return r;
}

// An archive whose body lies at kBodyAt, followed by the given entries' data.
QByteArray archiveWith(const QByteArray &body, const QByteArray &entries = QByteArray())
{
    return QByteArray(int(kBodyAt), 'x') + body + entries;
}

AttachmentInfo info(const QString &name, const QString &url, const QString &cid = QStringLiteral("no"),
                    const QString &type = QStringLiteral("application/pdf"))
{
    AttachmentInfo a;
    a.name = name;
    a.url = url;
    a.contentId = cid;
    a.contentType = type;
    return a;
}

// Archive entries for the attachment index; the names live as long as the list.
struct EntryList {
    std::vector<std::unique_ptr<FileOffsetNode>> nodes;
    std::vector<QByteArray> names;
    void add(const QByteArray &name, qint64 offset, qint64 size, bool compressed = false, quint32 crc = 0,
             bool sizeCut = false)
    {
        names.push_back(name);
        auto node = std::make_unique<FileOffsetNode>();
        *node = FileOffsetNode{};
        node->llDataOffset = offset;
        node->llSize = size;
        node->bCompressed = compressed;
        node->dwCrc32 = crc;
        node->bSizeCut = sizeCut;
        node->pEntryName = names.back().data();
        if (!nodes.empty())
            nodes.back()->pNext = node.get();
        nodes.push_back(std::move(node));
    }
    const FileOffsetNode *head() const { return nodes.empty() ? nullptr : nodes.front().get(); }
};

// Runs the body and attachment steps of one message into a file and returns its bytes.
QByteArray writeParts(const MailFormatStyle &style, const MailMLRC &record, const MailMessageFields &fields,
                      const AttachmentIndex &index, unsigned number, AttachmentOutcome *outcome = nullptr)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("out"));
    MailOutput out;
    if (!out.openAppend(path))
        return "<no output>";
    const MailMessage message{record, fields, style, out, index};
    const bool frame = WriteMimeFrame(message, number);
    const AttachmentOutcome o = WriteAttachmentPartsChecked(message, frame);
    if (outcome)
        *outcome = o;
    out.close();
    QFile f(path);
    f.open(QIODevice::ReadOnly);
    return f.readAll();
}

const char kReader[] = R"(
import sys, json, mailbox, email, zlib, hashlib
from email.header import decode_header, make_header
def text(v):
    return None if v is None else str(make_header(decode_header(v)))
def describe(msg):
    m = {'parts': [], 'body': None, 'bodyType': None, 'defects': []}
    for p in msg.walk():
        m['defects'] += [type(d).__name__ for d in p.defects]
        if p.is_multipart():
            continue
        data = p.get_payload(decode=True) or b''
        if (p.get('Content-Disposition') or '').startswith('attachment'):
            m['parts'].append({'name': p.get_filename(), 'description': text(p.get('Content-Description')),
                               'crc': zlib.crc32(data), 'md5': hashlib.md5(data).hexdigest()})
        else:
            m['body'] = data.decode('utf-8', 'replace'); m['bodyType'] = p.get_content_type()
    return m
if sys.argv[1] == 'mbox':
    out = [describe(m) for m in mailbox.mbox(sys.argv[2])]
else:
    out = [describe(email.message_from_bytes(open(sys.argv[2], 'rb').read()))]
print(json.dumps(out))
)";

// Python's own reading of a mailbox ("mbox") or one message file ("message").
QJsonArray readWithPython(const QString &mode, const QByteArray &bytes)
{
    const QString python = QStandardPaths::findExecutable(QStringLiteral("python3"));
    if (python.isEmpty())
        return QJsonArray();
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("box"));
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
        return QJsonArray();
    f.close();
    QProcess p;
    p.start(python, {QStringLiteral("-c"), QString::fromLatin1(kReader), mode, path});
    p.waitForFinished(60000);
    return QJsonDocument::fromJson(p.readAllStandardOutput()).array();
}

bool havePython() { return !QStandardPaths::findExecutable(QStringLiteral("python3")).isEmpty(); }

} // namespace

class MailMimeTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void boundaries_data();
    void boundaries();
    void missingIdFallback();
    void longIdsGiveShortBoundaries();
    void boundaryChoice_data();
    void boundaryChoice();
    void bodyKind_data();
    void bodyKind();
    void bodyText_data();
    void bodyText();
    void bodyBytesAsText_data();
    void bodyBytesAsText();
    void windows1252Body_data();
    void windows1252Body();
    void damagedUtf8Body_data();
    void damagedUtf8Body();
    void declaredCharset_data();
    void declaredCharset();
    void inlinePictures();
    void pagePictures_data();
    void pagePictures();
    void pagePictureShare();
    void utf8RoundTrip();
    void crlfLines_data();
    void crlfLines();
    void bodyRead_data();
    void bodyRead();
    void frame_data();
    void frame();
    void streaming_data();
    void streaming();
    void quotedPrintable_data();
    void quotedPrintable();
    void parameterSections();
    void bidiControls();
    void partHeader_data();
    void partHeader();
    void attachmentData();
    void attachmentChecked_data();
    void attachmentChecked();
    void attachedMessage_data();
    void attachedMessage();
    void readBack_data();
    void readBack();
    void sampleArchive();
};

void MailMimeTest::boundaries_data()
{
    QTest::addColumn<QString>("id");
    QTest::addColumn<unsigned>("number");
    QTest::addColumn<QByteArray>("outer");
    QTest::addColumn<QByteArray>("inner");

    QTest::newRow("example id") << "<ABCDEFGHIJKL>" << 12345u << QByteArray("ABCDEFGHIJKL")
                                << QByteArray("ABCDEFGH12345IJKL");
    QTest::newRow("sixteen characters") << "<ABCDEFGH12345678>" << 931u << QByteArray("ABCDEFGH12345678")
                                        << QByteArray("ABCDEFGH93112345678");
    QTest::newRow("id without brackets") << "43C49507.8090702@gmail.com" << 7u
                                         << QByteArray("43C49507.8090702_gmail.com")
                                         << QByteArray("43C495077.8090702_gmail.com");
    QTest::newRow("'>' inside the identifier") << "<ab>cdefghij>" << 1u << QByteArray("abcdefghij")
                                               << QByteArray("abcdefgh1ij");
    QTest::newRow("quote, semicolon, backslash, blank")
        << "<a\"b;c\\d e\r\nf>" << 2u << QByteArray("a_b_c_d_e__f") << QByteArray("a_b_c_d_2e__f");
    QTest::newRow("letters outside ASCII") << QString::fromUtf8("<\xc3\xa9t\xc3\xa9\xe4\xb8\xad@x>") << 3u
                                           << QByteArray("_t___x") << QByteArray("_t___x3");
    QTest::newRow("every allowed special kept, other ASCII replaced") << QStringLiteral("<A'()+_,-./:=?!#$%&*;[]^`{|}~\x7f" " z>") << 5u
        << QByteArray("A'()+_,-./:=?_________________z") << QByteArray("A'()+_,-5./:=?_________________z");
    QTest::newRow("short id gets the number at its end") << "<a1>" << 77u << QByteArray("a1")
                                                         << QByteArray("a177");
}

void MailMimeTest::boundaries()
{
    QFETCH(QString, id);
    QFETCH(unsigned, number);
    QFETCH(QByteArray, outer);
    QFETCH(QByteArray, inner);
    MailMessageFields fields;
    fields.strMessageId = id;
    const MimeBoundaries b = MakeMimeBoundaries(MessageBoundaryToken(mailRecord(0), fields), number);
    QCOMPARE(b.outerToken, outer);
    QCOMPARE(b.innerToken, inner);
    QCOMPARE(b.outerParam, "boundary=\"" + outer + '"');
    QCOMPARE(b.innerParam, "boundary=\"" + inner + '"');
    QVERIFY(HasUsableMessageId(id));
}

void MailMimeTest::missingIdFallback()
{
    for (const QString &id : {QString(), QStringLiteral("<>"), QStringLiteral("<<>>")}) {
        QVERIFY2(!HasUsableMessageId(id), qPrintable(id));
        MailMessageFields fields;
        fields.strMessageId = id;
        const QByteArray a = MessageBoundaryToken(mailRecord(5, 0x1234), fields);
        QCOMPARE(a, QByteArray("olm-part-1234-10-5"));
        QVERIFY(MessageBoundaryToken(mailRecord(5, 0x1235), fields) != a);
    }
}

// RFC 2046 allows 70 characters; mail servers read longer ones as parts that are not there.
void MailMimeTest::longIdsGiveShortBoundaries()
{
    const QString hosted = QStringLiteral("<BY5PR11MB4290F1E6C8F2A0B4D5E6F7A8B9C0D1E2@BY5PR11MB4290.namprd11.prod.example.com>");
    const QString ses = QStringLiteral("<0100017a2b3c4d5e-6f7a8b9c-0d1e-2f3a-4b5c-6d7e8f9a0b1c-000000@email.amazonses.com>");
    QByteArray previous;
    for (const QString &id : {hosted, ses, QString(hosted).replace(QLatin1String(".com"), QLatin1String(".org"))}) {
        MailMessageFields fields;
        fields.strMessageId = id;
        const QByteArray token = MessageBoundaryToken(mailRecord(0), fields);
        QVERIFY2(token != previous, token.constData());
        previous = token;
        // Even the last retry of a body that holds every choice before it stays within 70.
        QByteArray body;
        for (int k = 0; k < 40; ++k)
            body += "--" + token + (k ? "_" + QByteArray::number(k) : QByteArray()) + "\n";
        for (const MimeBoundaries &b : {MakeMimeBoundaries(token + "_9999", 999999u),
                                        ChooseMimeBoundaries(token, BoundaryNumber(token), body, {})}) {
            QVERIFY2(b.outerToken.size() <= 70 && b.innerToken.size() <= 70, b.innerToken.constData());
            QVERIFY(!body.contains(b.outerToken + '\n'));
        }
    }
}

void MailMimeTest::boundaryChoice_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("attachmentName");
    QTest::addColumn<QByteArray>("outer");

    QTest::newRow("nothing in the way keeps the token") << QByteArray("hello") << "a.txt" << QByteArray("ABCDEFGHIJKL");
    QTest::newRow("body holds the outer delimiter")
        << QByteArray("text\n--ABCDEFGHIJKL\nmore") << "a.txt" << QByteArray("ABCDEFGHIJKL_1");
    QTest::newRow("body holds the inner token")
        << "x " + MakeMimeBoundaries("ABCDEFGHIJKL", BoundaryNumber("ABCDEFGHIJKL")).innerToken << "a.txt"
        << QByteArray("ABCDEFGHIJKL_1");
    QTest::newRow("body holds the first two choices")
        << QByteArray("--ABCDEFGHIJKL --ABCDEFGHIJKL_1") << "a.txt" << QByteArray("ABCDEFGHIJKL_2");
    QTest::newRow("attachment name holds the token") << QByteArray("hello") << "ABCDEFGHIJKL.txt"
                                                     << QByteArray("ABCDEFGHIJKL_1");
}

void MailMimeTest::boundaryChoice()
{
    // Boundaries never occur in the message they delimit, and the same message always gets the same.
    QFETCH(QByteArray, body);
    QFETCH(QString, attachmentName);
    QFETCH(QByteArray, outer);
    const QVector<AttachmentInfo> list{info(attachmentName, "u")};
    const unsigned number = BoundaryNumber("ABCDEFGHIJKL");
    QCOMPARE(number, BoundaryNumber("ABCDEFGHIJKL"));
    const MimeBoundaries b = ChooseMimeBoundaries("ABCDEFGHIJKL", number, body, list);
    QCOMPARE(b.outerToken, outer);
    QVERIFY(!body.contains(b.outerToken) && !body.contains(b.innerToken));
    QVERIFY(!attachmentName.contains(QString::fromLatin1(b.outerToken)));
    const MimeBoundaries again = ChooseMimeBoundaries("ABCDEFGHIJKL", number, body, list);
    QCOMPARE(again.innerToken, b.innerToken);
}

void MailMimeTest::bodyKind_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("kind");       // 14 rows
    QTest::addColumn<bool>("markup13");   // 13 rows

    QTest::newRow("page") << "<HTML><body>x</BODY></html>" << true << true;
    QTest::newRow("anchor only") << "see <a href=x>here</a>" << true << false;
    QTest::newRow("anchor with a line break after its name") << "<a\nhref=x>y</a>" << false << false;
    QTest::newRow("line breaks without </br>") << "a<br>b<br/>" << false << false;
    QTest::newRow("close before open counts") << "</div> then <div>" << true << true;
    QTest::newRow("longer tag name matches <td") << "<tdx></td>" << true << true;
    QTest::newRow("plain text") << "a < b and c > d" << false << false;
    QTest::newRow("empty") << "" << false << false;
}

void MailMimeTest::bodyKind()
{
    QFETCH(QString, text);
    QFETCH(bool, kind);
    QFETCH(bool, markup13);
    QCOMPARE(IsHtmlBody(text, kHtmlRowsKind), kind);
    QCOMPARE(IsHtmlBody(text, kHtmlRowsLineEnds), markup13);
}

void MailMimeTest::bodyText_data()
{
    QTest::addColumn<QString>("raw");
    QTest::addColumn<bool>("mboxrd");
    QTest::addColumn<bool>("html");
    QTest::addColumn<QByteArray>("bytes");

    QTest::newRow("escaped page becomes markup with LF line ends")
        << "&lt;html&gt;\r\n&lt;b&gt;x&lt;/b&gt;\r\n&lt;/html&gt;" << false << true
        << QByteArray("<html>\n<b>x</b>\n</html>");
    QTest::newRow("doubly escaped markup is decoded once") << "&amp;lt;b&amp;gt; &amp;nbsp; &amp;amp;" << false
                                                           << false << QByteArray("&lt;b&gt; &nbsp; &amp;");
    QTest::newRow("quote, apostrophe, nbsp and numeric references")
        << "&quot;a&apos;&nbsp;b&#39;" << false << false << QByteArray("\"a' b'");
    QTest::newRow("character references as UTF-8, bad ones kept")
        << "caf&#233; &#x1F600; &#xD800; &#0; &#; &#+65; &#38;lt;" << false << false
        << QByteArray("caf\xc3\xa9 \xf0\x9f\x98\x80 &#xD800; &#0; &#; &#+65; &lt;");
    QTest::newRow("page in CDATA becomes markup") << "<![CDATA[<html><p>Tom & Jerry &amp;</p></html>]]>" << false << true
                                                  << QByteArray("<html><p>Tom & Jerry &amp;</p></html>");
    QTest::newRow("comment dropped") << "Hello<!-- hidden -->World" << false << false << QByteArray("HelloWorld");
    QTest::newRow("capital entity stays, CR LF becomes one LF") << "a &AMP; b\r\nc\rd" << false << false
                                                                << QByteArray("a &AMP; b\nc\nd");
    QTest::newRow("plain text CR LF becomes one LF") << "one\r\ntwo\r\n" << false << false
                                                     << QByteArray("one\ntwo\n");
    QTest::newRow("markup without entities keeps CR LF") << "<TABLE>\r\n</table>" << false << true
                                                         << QByteArray("<TABLE>\r\n</table>");
    QTest::newRow("anchor-only markup still gets LF") << "<a href=x>y</a>\r\nz" << false << true
                                                      << QByteArray("<a href=x>y</a>\nz");
    QTest::newRow("From lines quoted in the mboxrd form")
        << "From me\r\n>From you\n>>From them\nxFrom no\n From no" << true << false
        << QByteArray(">From me\n>>From you\n>>>From them\nxFrom no\n From no");
    QTest::newRow("From quoted once per line, at a line start only, also at the end")
        << "From From a>From \nFrom " << true << false << QByteArray(">From From a>From \n>From ");
    QTest::newRow("markup keeps lone CR line ends, which still start lines")
        << "<table>\r>From x\rFrom y</table>" << true << true << QByteArray("<table>\r>>From x\r>From y</table>");
    QTest::newRow("From lines unquoted in the package form") << "From me\nFrom you" << false << false
                                                             << QByteArray("From me\nFrom you");
    QTest::newRow("UTF-8 text") << QString::fromUtf8("\xc3\xa9t\xc3\xa9 &amp; \xe4\xb8\xad") << true << false
                                << QByteArray("\xc3\xa9t\xc3\xa9 & \xe4\xb8\xad");
}

void MailMimeTest::bodyText()
{
    QFETCH(QString, raw);
    QFETCH(bool, mboxrd);
    QFETCH(bool, html);
    QFETCH(QByteArray, bytes);
    const BodyPart part = PrepareBodyPart(raw, mboxrd);
    QCOMPARE(part.html, html);
    QCOMPARE(part.bytes, bytes);
    const BodyPart fromBytes = PrepareBodyBytes(raw.toUtf8(), mboxrd);
    QCOMPARE(fromBytes.html, html);
    QCOMPARE(fromBytes.bytes, bytes);
}

void MailMimeTest::bodyBytesAsText_data()
{
    QTest::addColumn<QByteArray>("raw");
    QTest::newRow("escaped markup, mixed line ends") << QByteArray("&lt;TABLE&gt;\r\nx\ry&lt;/table&gt;\n");
    QTest::newRow("markup with CR LF kept") << QByteArray("<Html><BODY>a\r\nb</body></html>");
    QTest::newRow("entity cases and doubles") << QByteArray("&AMP; &Lt; &amp;lt; &nbsp;&NBSP; &quot;&apos;&#38; &");
    QTest::newRow("anchor only") << QByteArray("<a href=x>y</a>\r\nz");
    QTest::newRow("scripts, noncharacter, inner byte order mark")
        << QByteArray("\xc3\xa9 \xe4\xb8\xad \xf0\x9f\x98\x80 \xef\xbf\xbe x\xef\xbb\xbfy");
    QTest::newRow("leading byte order mark") << QByteArray("\xef\xbb\xbf<html>a</html>");
    QTest::newRow("lone continuation byte") << QByteArray("a\x80" "b &amp;");
    QTest::newRow("overlong NUL") << QByteArray("a\xc0\x80" "b");
    QTest::newRow("surrogate") << QByteArray("a\xed\xa0\x80" "b");
    QTest::newRow("past U+10FFFF") << QByteArray("a\xf4\x90\x80\x80" "b\xf5");
    QTest::newRow("cut at the end") << QByteArray("abc\xe4\xb8");
    QTest::newRow("From lines") << QByteArray("From a\r\n>From b\rxFrom c");
    QTest::newRow("surrogate after a long ASCII run") << QByteArray(40, 'x') + "\xed\xa0\x80" + "y";
    QTest::newRow("valid, then cut after long runs")
        << QByteArray(20, 'x') + "\xc3\xa9" + QByteArray(20, 'y') + "\xe4\xb8";
    QTest::newRow("valid after long runs") << QByteArray(17, 'x') + "\xf0\x9f\x98\x80" + QByteArray(30, 'z') + "&amp;";
    QTest::newRow("Windows-1252") << QByteArray("caf\xe9 na\xefve \x93quoted\x94 &amp; \x80");
}

void MailMimeTest::windows1252Body_data()
{
    QTest::addColumn<QByteArray>("stored");
    QTest::addColumn<QString>("text");
    QTextCodec *const windows1252 = QTextCodec::codecForName("Windows-1252");
    QVERIFY(windows1252);
    for (const WesternProse &p : WesternProseTable()) {
        const QString accidental = p.text + p.accident;
        QTest::addRow("%s, Windows-1252", p.language) << windows1252->fromUnicode(p.text) << p.text;
        QTest::addRow("%s, UTF-8", p.language) << accidental.toUtf8() << accidental;
        QTest::addRow("%s, Windows-1252 holding one UTF-8 pair", p.language)
            << windows1252->fromUnicode(accidental) << accidental;
    }
    QTest::addRow("a byte order mark before UTF-8") << QByteArray("\xEF\xBB\xBF\xC3\xA9t\xC3\xA9")
                                                   << QStringLiteral("\u00E9t\u00E9");
    QTest::addRow("one UTF-8 pair and as many other bytes is Windows-1252")
        << QByteArray("\xC3\xA9t\xE9") << QStringLiteral("\u00C3\u00A9t\u00E9");
    // DF 96, C9 A0 and DF 93 are UTF-8 (NKo, a phonetic letter, NKo) beside one byte that is not.
    QTest::addRow("three accidental pairs and one other byte is Windows-1252")
        << windows1252->fromUnicode(QStringLiteral("Fu\u00DF\u2013Weg CAF\u00C9\u00A0! \u201ESpa\u00DF\u201C"))
        << QStringLiteral("Fu\u00DF\u2013Weg CAF\u00C9\u00A0! \u201ESpa\u00DF\u201C");
}

// The charset is decided once for the whole body: UTF-8 throughout, else Windows-1252.
void MailMimeTest::windows1252Body()
{
    QFETCH(QByteArray, stored);
    QFETCH(QString, text);
    QCOMPARE(DecodeBodyText(stored), text);
    QCOMPARE(QString::fromUtf8(PrepareBodyBytes(stored, false).bytes), text);
}

void MailMimeTest::damagedUtf8Body_data()
{
    QTest::addColumn<QByteArray>("stored");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("replaced");
    const QString ff(QChar::ReplacementCharacter);
    const QStringList prose{QStringLiteral("Уважаемый Иван Петрович, спасибо за письмо."),
                            QStringLiteral("会议改到星期五上午十点，请准时参加。"),
                            QStringLiteral("Αγαπητέ Αλέξανδρε, ευχαριστώ για το μήνυμα."),
                            QStringLiteral("مرحبا، الاجتماع يوم الجمعة."),
                            QStringLiteral("שלום, הפגישה ביום שישי."),
                            QStringLiteral("Příliš žluťoučký kůň úpěl ďábelské ódy.")};
    for (const QString &text : prose) {
        const QByteArray utf8 = text.toUtf8();
        const int cut = utf8.indexOf(' ') + 1;
        const QString before = QString::fromUtf8(utf8.left(cut)), after = QString::fromUtf8(utf8.mid(cut));
        QTest::addRow("%s: one FF byte", qPrintable(text.left(6)))
            << utf8.left(cut) + "\xFF" + utf8.mid(cut) << before + ff + after << 1;
    }
    // A bit flip in a lead byte leaves its continuation bytes without one: each is replaced.
    QByteArray flipped = prose.at(0).toUtf8();
    flipped[0] = char(flipped[0] ^ 0x40);  // D0 -> 90
    QTest::newRow("a flipped lead byte") << flipped << ff + ff + prose.at(0).mid(1) << 2;
    QByteArray cut = prose.at(1).toUtf8();
    cut.chop(1);
    QTest::newRow("cut inside the last character") << cut << prose.at(1).chopped(1) + ff + ff << 2;
    QTest::newRow("byte order mark, then damage")
        << "\xEF\xBB\xBF" + prose.at(2).toUtf8() + "\x80" << prose.at(2) + ff << 1;
}

// UTF-8 with a few damaged bytes stays UTF-8, one replacement character per byte, counted.
void MailMimeTest::damagedUtf8Body()
{
    QFETCH(QByteArray, stored);
    QFETCH(QString, text);
    QFETCH(int, replaced);
    BodyReading reading;
    QCOMPARE(DecodeBodyText(stored, &reading), text);
    QCOMPARE(reading.replacedBytes, replaced);
    const BodyPart part = PrepareBodyBytes(stored, false);
    QCOMPARE(QString::fromUtf8(part.bytes), text);
    QCOMPARE(part.reading.replacedBytes, replaced);
}

void MailMimeTest::declaredCharset_data()
{
    QTest::addColumn<QByteArray>("markup");
    QTest::addColumn<QByteArray>("written");
    const QByteArray tail = "<body>Gr\xc3\xbc\xc3\x9f"
                            "e</body></html>";
    QTest::newRow("meta charset, Windows-1252")
        << "<html><head><meta charset=windows-1252></head>" + tail << "<html><head><meta charset=UTF-8></head>" + tail;
    QTest::newRow("http-equiv, ISO-8859-1, quoted, capitals")
        << "<HTML><HEAD><META HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; CHARSET=iso-8859-1\"></HEAD>" + tail
        << "<HTML><HEAD><META HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; CHARSET=UTF-8\"></HEAD>" + tail;
    QTest::newRow("UTF-8 already, other metas and text untouched")
        << "<html><head><meta name=\"Generator\" content=\"Word charset=x\"><meta charset='utf-8'>"
           "<title>charset=latin1</title></head>"
            + tail
        << "<html><head><meta name=\"Generator\" content=\"Word charset=x\"><meta charset='utf-8'>"
           "<title>charset=latin1</title></head>"
            + tail;
    QTest::newRow("a quoted '>' inside the tag")
        << "<html><meta http-equiv=content-type content=\"a>b; charset=cp1252\">" + tail
        << "<html><meta http-equiv=content-type content=\"a>b; charset=UTF-8\">" + tail;
    QTest::newRow("an XML declaration before the markup")
        << "<?xml version=\"1.0\" encoding=\"iso-8859-1\"?>\r\n<html>" + tail
        << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<html>" + tail;
    QTest::newRow("an XML declaration, blanks about '=' and single quotes")
        << " <?xml version='1.0' encoding = 'windows-1252' ?><html>" + tail
        << " <?xml version='1.0' encoding = 'UTF-8' ?><html>" + tail;
    QTest::newRow("a tab and a line break before the name")
        << "<html><meta charset=\t\"windows-1252\"><META\nHTTP-EQUIV=Content-Type\nCONTENT=\"text/html;\ncharset=\nlatin1\">"
            + tail
        << "<html><meta charset=\t\"UTF-8\"><META\nHTTP-EQUIV=Content-Type\nCONTENT=\"text/html;\ncharset=\nUTF-8\">"
            + tail;
    const QByteArray text = "<title><meta charset=latin1></title><textarea><meta charset=latin1></textarea>"
                            "<img alt=\"<meta charset=latin1>\"><!-- <meta charset=latin1> -->"
                            "<p>encoding=\"latin1\" <?xml version=\"1.0\" encoding=\"latin1\"?></p>";
    QTest::newRow("a meta in a title, a text area, an attribute or a comment stays")
        << "<html><head>" + text + "<meta charset=latin1></head>" + tail
        << "<html><head>" + text + "<meta charset=UTF-8></head>" + tail;
    QTest::newRow("a quote that never closes") << "<html><meta charset=\"latin1>" + tail
                                               << "<html><meta charset=\"latin1>" + tail;
    QTest::newRow("an unclosed meta") << QByteArray("<html><body>x</body></html><meta charset=koi8-r")
                                      << QByteArray("<html><body>x</body></html><meta charset=koi8-r");
}

// A part is written in UTF-8: the charset its markup declares says so, the rest stays.
void MailMimeTest::declaredCharset()
{
    QFETCH(QByteArray, markup);
    QFETCH(QByteArray, written);
    const BodyPart part = PrepareBodyBytes(markup, false);
    QVERIFY(part.html);
    QCOMPARE(part.bytes, written);
}

// Picture addresses by content id become what the page's writer gives for them; any other
// address, attribute or unknown id stays.
void MailMimeTest::inlinePictures()
{
    const auto give = [](const QString &id) {
        PagePicture p;
        if (id == QLatin1String("logo1@x") || id == QLatin1String("a&b"))
            p.url = "data:image/png;base64,QUJD" + id.toUtf8();
        return p;
    };
    const QByteArray markup = "<p>BEFORE</p><img src=\"cid:logo1@x\" alt=\"cid:logo1@x\"><img src=\"CID:logo1%40x\">"
                              "<td background=\"cid:a&amp;b\"></td><img src=\"cid:other@x\"><img src=\"cid:logo1@x";
    QCOMPARE(
        ShowInlinePictures(markup, give),
        QByteArray("<p>BEFORE</p><img src=\"data:image/png;base64,QUJDlogo1@x\" alt=\"cid:logo1@x\">"
                   "<img src=\"data:image/png;base64,QUJDlogo1@x\"><td background=\"data:image/png;base64,QUJDa&b\">"
                   "</td><img src=\"cid:other@x\"><img src=\"cid:logo1@x"));
    QCOMPARE(ShowInlinePictures("<p>no pictures</p>", give), QByteArray("<p>no pictures</p>"));
    // A picture named again and again is read once, and the page carries at most 64 MiB of them.
    int asked = 0;
    const QByteArray big = "data:image/png;base64," + QByteArray(20 << 20, 'A');
    const QByteArray many = QByteArray("<img src=\"cid:big\">").repeated(5);
    const QByteArray shown = ShowInlinePictures(many, [&](const QString &) {
        ++asked;
        return PagePicture{big, QByteArray(), QString()};
    });
    QCOMPARE(asked, 1);
    QCOMPARE(shown.count("src=\"data:image/png;base64,AAAA"), 3);
    QCOMPARE(shown.size(), 3 * big.size() + many.size() - 3 * 7);
    QCOMPARE(shown.count("cid:big"), 2);
}

void MailMimeTest::pagePictures_data()
{
    QTest::addColumn<QByteArray>("markup");
    QTest::addColumn<QByteArray>("shown");
    QTest::addColumn<int>("lines");
    const QByteArray pic = "data:image/png;base64,UE5H";
    QTest::newRow("style attribute") << QByteArray("<div style=\"background-image:url(cid:p1)\">x</div>")
                                     << "<div style=\"background-image:url(" + pic + ")\">x</div>" << 0;
    QTest::newRow("style attribute, quoted url, upper case")
        << QByteArray("<td style=\"background: URL( &quot;CID:p1&quot; ) no-repeat\">")
        << "<td style=\"background: URL( &quot;" + pic + "&quot; ) no-repeat\">" << 0;
    QTest::newRow("style sheet") << QByteArray("<style>.a { background: url(\"cid:p1\") } .b { x: url('cid:p1') }</style>")
                                 << "<style>.a { background: url(\"" + pic + "\") } .b { x: url('" + pic + "') }</style>"
                                 << 0;
    QTest::newRow("text and other attributes stay")
        << QByteArray("<p title=\"url(cid:p1)\">url(cid:p1) myurl(cid:p1)</p><style>.a{b:myurl(cid:p1)}</style>")
        << QByteArray("<p title=\"url(cid:p1)\">url(cid:p1) myurl(cid:p1)</p><style>.a{b:myurl(cid:p1)}</style>") << 0;
    QTest::newRow("too large: the img is a link to its file, once said")
        << QByteArray("<p>a</p><img src=\"cid:big\" width=\"9\"><img src=\"cid:big\"><td background=\"cid:big\">")
        << QByteArray("<p>a</p><a href=\"1_attachments/shot%201.png\">shot 1&lt;.png</a><a "
                      "href=\"1_attachments/shot%201.png\">shot 1&lt;.png</a><td background=\"cid:big\">")
        << 1;
    QTest::newRow("not the save's: left") << QByteArray("<img src=\"cid:other\">") << QByteArray("<img src=\"cid:other\">")
                                          << 0;
}

// Pictures by content id show in attributes and styles; one the page cannot carry is a link to
// its file with a line.
void MailMimeTest::pagePictures()
{
    QFETCH(QByteArray, markup);
    QFETCH(QByteArray, shown);
    QFETCH(int, lines);
    QStringList said;
    const auto pictureOf = [](const QString &id) {
        if (id == QLatin1String("p1"))
            return PagePicture{"data:image/png;base64,UE5H", "1_attachments/p1.png", QStringLiteral("p1.png")};
        if (id == QLatin1String("big"))
            return PagePicture{QByteArray(), "1_attachments/shot%201.png", QStringLiteral("shot 1<.png")};
        return PagePicture();
    };
    QCOMPARE(ShowInlinePictures(markup, pictureOf, &said), shown);
    QCOMPARE(said.size(), lines);
}

// A page carries at most 64 MiB of pictures: five of 14 MiB show three, one of 2 MiB named fifty
// times shows 23 times; the others are links to their files, each picture said once.
void MailMimeTest::pagePictureShare()
{
    for (const auto &c : {qMakePair(14, 5), qMakePair(2, 50)}) {
        QByteArray markup;
        for (int i = 0; i < c.second; ++i)
            markup += "<img src=\"cid:p" + QByteArray::number(c.first == 14 ? i : 0) + "\">";
        const QByteArray url = "data:image/png;base64," + QByteArray((c.first << 20) / 3 * 4, 'A');
        QStringList said;
        const QByteArray shown = ShowInlinePictures(
            markup, [&](const QString &id) { return PagePicture{url, "f/" + id.toUtf8(), id}; }, &said);
        const int inlined = c.first == 14 ? 3 : 23;
        QCOMPARE(shown.count("<img src=\"data:image/png;base64,AAAA"), inlined);
        QCOMPARE(shown.count("<a href=\"f/p"), c.second - inlined);
        QCOMPARE(said.size(), c.first == 14 ? 2 : 1);
    }
}

void MailMimeTest::bodyBytesAsText()
{
    // The byte path gives what converting to text and back gives, for any bytes.
    QFETCH(QByteArray, raw);
    for (const bool mboxrd : {false, true}) {
        const BodyPart want = PrepareBodyPart(DecodeBodyText(raw), mboxrd);
        const BodyPart got = PrepareBodyBytes(raw, mboxrd);
        QCOMPARE(got.html, want.html);
        QCOMPARE(got.bytes, want.bytes);
    }
}

void MailMimeTest::crlfLines_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("crlf");
    QTest::newRow("lone LF, lone CR and CR LF each one CR LF") << QByteArray("a\nb\rc\r\nd") << QByteArray("a\r\nb\r\nc\r\nd");
    QTest::newRow("CR CR LF is two line ends") << QByteArray("a\r\r\nb") << QByteArray("a\r\n\r\nb");
    QTest::newRow("LF CR is two line ends") << QByteArray("a\n\rb") << QByteArray("a\r\n\r\nb");
    QTest::newRow("ends at the edges") << QByteArray("\rx\n") << QByteArray("\r\nx\r\n");
    QTest::newRow("already CR LF, unchanged") << QByteArray("a\r\nb\r\n") << QByteArray("a\r\nb\r\n");
    QTest::newRow("no line end, UTF-8 kept") << QByteArray("\xea\xb9\x80") << QByteArray("\xea\xb9\x80");
    QTest::newRow("empty") << QByteArray() << QByteArray();
}

void MailMimeTest::crlfLines()
{
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, crlf);
    QCOMPARE(CrlfLineEnds(text), crlf);
}

void MailMimeTest::utf8RoundTrip()
{
    // Random bytes around every rule of UTF-8, at every place in a sixteen-byte block and
    // across two: the check agrees with converting to text and back, both ways.
    static const uchar kBytes[] = {'a',  '<',  0x7F, 0x80, 0x8F, 0x90, 0x9F, 0xA0, 0xBB, 0xBF, 0xC0, 0xC1,
                                   0xC2, 0xDF, 0xE0, 0xE1, 0xED, 0xEE, 0xEF, 0xF0, 0xF1, 0xF4, 0xF5, 0xFF};
    static const char *const kValid[] = {"\xc3\xa9", "\xe2\x82\xac", "\xf0\x9f\x98\x80", "\xed\x9f\xbf",
                                         "\xf4\x8f\xbf\xbf", "\xef\xbf\xbe"};
    QRandomGenerator random(20261207);
    int valid = 0, invalid = 0;
    for (int round = 0; round < 40000; ++round) {
        QByteArray bytes(int(random.bounded(40)), 'x');
        const int pieces = int(random.bounded(6));
        for (int k = 0; k < pieces; ++k) {
            if (random.bounded(2))
                bytes += kValid[random.bounded(int(sizeof kValid / sizeof *kValid))];
            else
                bytes += char(kBytes[random.bounded(int(sizeof kBytes))]);
            bytes += QByteArray(int(random.bounded(4)), 'y');
        }
        const bool expected = QString::fromUtf8(bytes).toUtf8() == bytes;
        QVERIFY2(RoundTripsUtf8(bytes) == expected, bytes.toHex().constData());
        ++(expected ? valid : invalid);
    }
    QVERIFY(valid > 1000 && invalid > 1000);
    QVERIFY(!RoundTripsUtf8("\xef\xbb\xbf" "text"));  // the byte order mark is dropped by the conversion
}

void MailMimeTest::bodyRead_data()
{
    QTest::addColumn<QByteArray>("stored");
    QTest::addColumn<quint32>("length");
    QTest::addColumn<QString>("expected");

    QTest::newRow("whole body") << QByteArray("hello") << 5u << "hello";
    QTest::newRow("NULs dropped, the text after them kept") << QByteArray("0123456789\0abc\0", 15) << 15u << "0123456789abc";
    QTest::newRow("length past the archive end is clamped") << QByteArray("tail") << 0xFFFFFFFFu << "tail";
    QTest::newRow("no UTF-8 character: Windows-1252") << QByteArray("a\xff" "b") << 3u << QStringLiteral("a\u00ffb");
    QTest::newRow("UTF-8 with a damaged byte: Windows-1252 throughout") << QByteArray("\xc3\xa9\xff") << 3u
                                                                        << QStringLiteral("\u00c3\u00a9\u00ff");
}

void MailMimeTest::bodyRead()
{
    QFETCH(QByteArray, stored);
    QFETCH(quint32, length);
    QFETCH(QString, expected);
    ArchiveFile archive(archiveWith(stored));
    QCOMPARE(ReadMessageBody(mailRecord(length)), expected);
    MailMLRC beyond = mailRecord(length);
    beyond.llBodyOffset = lSize + 10;
    QCOMPARE(ReadMessageBody(beyond), QString());
}

void MailMimeTest::frame_data()
{
    QTest::addColumn<bool>("rge");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("id");
    QTest::addColumn<QByteArray>("expected");

    const QByteArray frame = "Content-type: multipart/mixed;\r\tboundary=\"ABCDEFGHIJKL\"\n\n--ABCDEFGHIJKL\n"
                             "Content-type: multipart/alternative;\r\tboundary=\"ABCDEFGH12345IJKL\"\n\n"
                             "--ABCDEFGH12345IJKL\n";
    QTest::newRow("plain body, no attachment: both multiparts closed, one blank line after")
        << false << QByteArray("Hello\r\nworld") << "<ABCDEFGHIJKL>"
        << frame + "Content-type: text/plain;charset=\"UTF-8\"\nContent-transfer-encoding: 8bit\n\n"
                   "Hello\nworld\n--ABCDEFGH12345IJKL--\n\n--ABCDEFGHIJKL--\n\n";
    QTest::newRow("no body: empty text part") << false << QByteArray() << "<ABCDEFGHIJKL>"
        << frame + "Content-type: text/plain;charset=\"UTF-8\"\nContent-transfer-encoding: 8bit\n\n"
                   "\n\n--ABCDEFGH12345IJKL--\n\n--ABCDEFGHIJKL--\n\n";
    QTest::newRow("no Message-ID: body kept, boundary from the record")
        << false << QByteArray("&lt;div&gt;x&lt;/div&gt;") << ""
        << QByteArray("Content-type: multipart/mixed;\r\tboundary=\"olm-part-100-10-18\"\n\n--olm-part-100-10-18\n"
                      "Content-type: multipart/alternative;\r\tboundary=\"olm-part12345-100-10-18\"\n\n"
                      "--olm-part12345-100-10-18\nContent-type: text/html;charset=\"UTF-8\"\n"
                      "Content-transfer-encoding: 8bit\n\n<div>x</div>\n--olm-part12345-100-10-18--\n\n"
                      "--olm-part-100-10-18--\n\n");
    QTest::newRow("package: CR line ends, markup keeps its CR LF")
        << true << QByteArray("<p><br>\r\n</br>") << "<ABCDEFGHIJKL>"
        << QByteArray(frame).replace('\n', '\r')
               + "Content-type: text/html;charset=\"UTF-8\"\rContent-transfer-encoding: 8bit\r\r"
                 "<p><br>\r\n</br>\r--ABCDEFGH12345IJKL--\r\r--ABCDEFGHIJKL--\r\r";
    QTest::newRow("package without body or attachment: only the separating line end")
        << true << QByteArray() << "<ABCDEFGHIJKL>" << QByteArray("\r");
}

void MailMimeTest::frame()
{
    QFETCH(bool, rge);
    QFETCH(QByteArray, body);
    QFETCH(QString, id);
    QFETCH(QByteArray, expected);
    ArchiveFile archive(archiveWith(body));
    MailMessageFields fields;
    fields.strMessageId = id;
    const MailFormatStyle &style = rge ? RgePackageStyle() : AppleMailStyle();
    QCOMPARE(writeParts(style, mailRecord(quint32(body.size())), fields, AttachmentIndex(), 12345), expected);
}

void MailMimeTest::streaming_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<qint64>("chunk");
    for (const int size : {0, 1, 2, 3, 56, 57, 58}) {
        for (const qint64 chunk : {qint64(3), qint64(57), kBase64ChunkBytes})
            QTest::addRow("%d bytes, chunks of %lld", size, chunk) << size << chunk;
    }
    QTest::newRow("several MiB, default chunks") << (5 << 20) + 7 << kBase64ChunkBytes;
    QTest::newRow("several MiB, chunk size not a multiple of 3") << (3 << 20) + 1 << qint64(100000);
}

void MailMimeTest::streaming()
{
    QFETCH(int, size);
    QFETCH(qint64, chunk);
    QByteArray data(size, Qt::Uninitialized);
    QRandomGenerator gen{quint32(size)};
    for (char &c : data)
        c = char(gen.generate());
    ArchiveFile archive(archiveWith(QByteArray(), data));
    QByteArray text;
    int calls = 0;
    const auto sink = [&](const QByteArray &t) { ++calls; text += t; return true; };
    QCOMPARE(StreamEntryBase64(kBodyAt, size, sink, chunk), EntryCopy::Complete);
    QCOMPARE(text, data.toBase64());
    QVERIFY(size == 0 || calls == int((size + chunk - chunk % 3 - 1) / (chunk - chunk % 3)));

    // An entry said to run past the archive's end: what is there, reported short.
    text.clear();
    QCOMPARE(StreamEntryBase64(kBodyAt, size + 10, sink, chunk), EntryCopy::Short);
    QCOMPARE(text, data.toBase64());
    QCOMPARE(StreamEntryBase64(-1, 3, sink, chunk), EntryCopy::Short);

    // In lines: every 76 characters and the last line ended, whatever the chunk size asked.
    text.clear();
    QCOMPARE(StreamEntryBase64(kBodyAt, size, sink, chunk, nullptr, "\r\n"), EntryCopy::Complete);
    QByteArray lines;
    const QByteArray oneLine = data.toBase64();
    for (int at = 0; at < oneLine.size(); at += 76)
        lines += oneLine.mid(at, 76) + "\r\n";
    QCOMPARE(text, lines);
    QCOMPARE(StreamEntryBase64(kBodyAt, 3, [](const QByteArray &) { return false; }, chunk),
             size ? EntryCopy::WriteFailed : EntryCopy::Short);
}

void MailMimeTest::quotedPrintable_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("lineEnd");
    QTest::newRow("5,001-character line") << QByteArray(5001, 'w') << QByteArray("\n");
    QTest::newRow("equals signs, tabs and blanks before line ends")
        << QByteArray("a=b\t \nc \r\nd\t").repeated(200) + QByteArray(1000, 'x') << QByteArray("\r\n");
    QTest::newRow("\"From \" where a soft break falls and at line starts")
        << QByteArray(75, 'a') + "From here\nFrom there " + QByteArray(999, 'b') << QByteArray("\n");
    QTest::newRow("multi-byte characters, lone CR line ends")
        << QString(1500, QChar(0x4E2D)).toUtf8() + "\rz" << QByteArray("\r");
}

// Decoded as RFC 2045 says: soft breaks removed, each =XX one byte.
QByteArray decodeQuotedPrintable(QByteArray text, const QByteArray &lineEnd)
{
    text.replace("=" + lineEnd, QByteArray());
    QByteArray out;
    for (int i = 0; i < text.size(); ++i) {
        if (text.at(i) == '=' && i + 2 < text.size()) {
            out += char(text.mid(i + 1, 2).toInt(nullptr, 16));
            i += 2;
        } else {
            out += text.at(i);
        }
    }
    return out;
}

void MailMimeTest::quotedPrintable()
{
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, lineEnd);
    QVERIFY(HasOverlongLine(text));
    const QByteArray encoded = QuotedPrintable(text, lineEnd);
    QCOMPARE(decodeQuotedPrintable(encoded, lineEnd), text);
    QVERIFY(!HasOverlongLine(encoded));
    for (const QByteArray &line : QByteArray(encoded).replace('\r', '\n').split('\n')) {
        QVERIFY2(line.size() <= 76, line.constData());
        QVERIFY2(!line.startsWith("From "), line.constData());
        QVERIFY2(!line.endsWith(' ') && !line.endsWith('\t'), line.constData());
        for (const char c : line)
            QVERIFY(c == '\t' || (uchar(c) >= 0x20 && uchar(c) < 0x7F));
    }
    QVERIFY(!HasOverlongLine(QByteArray(998, 'x') + "\n" + QByteArray(998, 'y')));
}

// Continuations of a long name each hold whole characters: readers that decode each section on
// its own see no broken one.
void MailMimeTest::parameterSections()
{
    for (int lead = 0; lead < 6; ++lead) {
        const QString name = QString(lead, QLatin1Char('x')) + QString(30, QChar(0x0439)) + QString(12, QChar(0x4E2D))
                             + QString::fromUtf8("\xf0\x9f\x98\x80").repeated(10);
        const QByteArray value = MimeParameter("name", name, "\n\t");
        QByteArray joined;
        for (const QByteArray &section : value.split('\n')) {
            const QByteArray encoded = section.mid(section.indexOf('=') + 1).replace("UTF-8''", "").replace(";", "").trimmed();
            const QByteArray bytes = QByteArray::fromPercentEncoding(encoded);
            QCOMPARE(QString::fromUtf8(bytes).toUtf8(), bytes);
            QVERIFY(!QString::fromUtf8(bytes).contains(QChar::ReplacementCharacter));
            joined += bytes;
        }
        QCOMPARE(QString::fromUtf8(joined), name);
    }
}

void MailMimeTest::partHeader_data()
{
    QTest::addColumn<AttachmentInfo>("attachment");
    QTest::addColumn<QByteArray>("expected");

    const QByteArray tail = "Content-Transfer-Encoding: base64\n\n";
    QTest::newRow("plain name, no content ID")
        << info("a.pdf", "u") << "--T\nContent-type: application/pdf; name=\"a.pdf\"\nContent-Description: a.pdf\n"
                                 "Content-Disposition: attachment; filename=\"a.pdf\";\n" + tail;
    QTest::newRow("content ID")
        << info("a.pdf", "u", "c1@x")
        << QByteArray("--T\nContent-type: application/pdf; name=\"a.pdf\"\nContent-Description: a.pdf\n"
                      "Content-Disposition: attachment; filename=\"a.pdf\";\n"
                      "Content-Transfer-Encoding: base64\nContent-ID: <c1@x>\n\n");
    QTest::newRow("capital No is a content ID")
        << info("a", "u", "No", "text/plain")
        << QByteArray("--T\nContent-type: text/plain; name=\"a\"\nContent-Description: a\n"
                      "Content-Disposition: attachment; filename=\"a\";\n"
                      "Content-Transfer-Encoding: base64\nContent-ID: <No>\n\n");
    QTest::newRow("semicolon and quote are escaped")
        << info("a;b\"c", "u") << "--T\nContent-type: application/pdf; name=\"a;b\\\"c\"\n"
                                     "Content-Description: a;b\"c\n"
                                     "Content-Disposition: attachment; filename=\"a;b\\\"c\";\n" + tail;
    QTest::newRow("encoded-word look-alike in the name is encoded")
        << info("=?x?=", "u") << "--T\nContent-type: application/pdf; name*=UTF-8''%3D%3Fx%3F%3D\n"
                                  "Content-Description: =?UTF-8?B?PT94Pz0=?=\n"
                                  "Content-Disposition: attachment; filename*=UTF-8''%3D%3Fx%3F%3D;\n" + tail;
    QTest::newRow("backslash is a character of the name")
        << info("a/b\\c.txt", "u") << "--T\nContent-type: application/pdf; name=\"b\\\\c.txt\"\n"
                                     "Content-Description: a/b\\c.txt\n"
                                     "Content-Disposition: attachment; filename=\"b\\\\c.txt\";\n" + tail;
    QTest::newRow("quotes and a backslash")
        << info("a \"q\" \\ b.txt", "u") << "--T\nContent-type: application/pdf; name=\"a \\\"q\\\" \\\\ b.txt\"\n"
                                          "Content-Description: a \"q\" \\ b.txt\n"
                                          "Content-Disposition: attachment; filename=\"a \\\"q\\\" \\\\ b.txt\";\n" + tail;
    QTest::newRow("a line break in the name is a blank")
        << info("line\nbreak.txt", "u") << "--T\nContent-type: application/pdf; name=\"line break.txt\"\n"
                                         "Content-Description: line break.txt\n"
                                         "Content-Disposition: attachment; filename=\"line break.txt\";\n" + tail;
    QTest::newRow("non-ASCII name in RFC 2231 and RFC 2047 form")
        << info(QString::fromUtf8("r\xc3\xa9sum\xc3\xa9 \xe4\xb8\xad.txt"), "u")
        << "--T\nContent-type: application/pdf; name*=UTF-8''r%C3%A9sum%C3%A9%20%E4%B8%AD.txt\n"
           "Content-Description: =?UTF-8?B?csOpc3Vtw6kg5LitLnR4dA==?=\n"
           "Content-Disposition: attachment; filename*=UTF-8''r%C3%A9sum%C3%A9%20%E4%B8%AD.txt;\n" + tail;
    // 30 two-byte letters: 60 UTF-8 bytes make two words, each within the 75-character limit;
    // the 180 percent-encoded characters of the file name go into RFC 2231 continuations.
    const QByteArray e10 = QByteArray("%C3%A9").repeated(10);
    const auto sections = [&](const char *name) {
        return QByteArray(name) + "*0*=UTF-8''" + e10 + ";\n\t" + name + "*1*=" + e10 + ";\n\t" + name + "*2*=" + e10;
    };
    QTest::newRow("long non-ASCII name in several encoded words")
        << info(QString(30, QChar(0xE9)), "u")
        << "--T\nContent-type: application/pdf; " + sections("name")
               + "\nContent-Description: =?UTF-8?B?" + QByteArray("\xc3\xa9").repeated(21).toBase64()
               + "?=\n =?UTF-8?B?" + QByteArray("\xc3\xa9").repeated(9).toBase64()
               + "?=\nContent-Disposition: attachment; " + sections("filename") + ";\n" + tail;
    QTest::newRow("long ASCII name in continuations")
        << info(QString(70, QLatin1Char('n')), "u")
        << "--T\nContent-type: application/pdf; name*0=\"" + QByteArray(60, 'n') + "\";\n\tname*1=\""
               + QByteArray(10, 'n') + "\"\nContent-Description: " + QByteArray(70, 'n')
               + "\nContent-Disposition: attachment; filename*0=\"" + QByteArray(60, 'n') + "\";\n\tfilename*1=\""
               + QByteArray(10, 'n') + "\";\n" + tail;
    QTest::newRow("path in the name: only its last component")
        << info("../../etc/x", "u") << "--T\nContent-type: application/pdf; name=\"x\"\nContent-Description: ../../etc/x\n"
                                       "Content-Disposition: attachment; filename=\"x\";\n" + tail;
    QTest::newRow("bidirectional controls leave the name")
        << info(QStringLiteral("invoice\u202Efdp.exe"), "u")
        << "--T\nContent-type: application/pdf; name=\"invoicefdp.exe\"\nContent-Description: invoicefdp.exe\n"
           "Content-Disposition: attachment; filename=\"invoicefdp.exe\";\n" + tail;
    QTest::newRow("absolute path") << info("/etc/passwd", "u")
                                   << "--T\nContent-type: application/pdf; name=\"passwd\"\nContent-Description: /etc/passwd\n"
                                      "Content-Disposition: attachment; filename=\"passwd\";\n" + tail;
    QTest::newRow("nothing left of a path") << info("a/..", "u")
                                            << "--T\nContent-type: application/pdf; name=\"attachment\"\nContent-Description: a/..\n"
                                               "Content-Disposition: attachment; filename=\"attachment\";\n" + tail;
    QTest::newRow("a CR LF in the file name one blank, other controls removed; bad type replaced")
        << info("a\r\nFrom:\x07 x", "u", "c\r\nX: y", "text/plain\r\nX-Evil: 1")
        << QByteArray("--T\nContent-type: application/octet-stream; name=\"a From: x\"\n"
                      "Content-Description: a  From:  x\nContent-Disposition: attachment; filename=\"a From: x\";\n"
                      "Content-Transfer-Encoding: base64\nX-Original-Content-ID: c  X: y\n\n");
}

// Every bidirectional control goes, in text and in UTF-8 bytes; their neighbours in the same
// block, and bytes that are no UTF-8, stay.
void MailMimeTest::bidiControls()
{
    QString controls;
    for (const uint c : {0x200Eu, 0x200Fu, 0x202Au, 0x202Bu, 0x202Cu, 0x202Du, 0x202Eu, 0x2066u, 0x2067u, 0x2068u, 0x2069u})
        controls += QLatin1Char('x') + QChar(c);
    QCOMPARE(WithoutBidiControls(controls), QString(11, QLatin1Char('x')));
    QCOMPARE(WithoutBidiControls(controls.toUtf8()), QByteArray(11, 'x'));
    const QString kept = QStringLiteral("\u200D\u2010\u2029\u202F\u2065\u206A");
    QCOMPARE(WithoutBidiControls(kept), kept);
    QCOMPARE(WithoutBidiControls(kept.toUtf8()), kept.toUtf8());
    QCOMPARE(WithoutBidiControls(QByteArray("a\xE2\x80\xAE" "b\xE2\x80")), QByteArray("ab\xE2\x80"));
    QCOMPARE(WithoutBidiControls(QByteArray("\xE2\xE2\x80\xAE\xAE")), QByteArray("\xE2\xAE"));
}

void MailMimeTest::partHeader()
{
    QFETCH(AttachmentInfo, attachment);
    QFETCH(QByteArray, expected);
    QCOMPARE(AttachmentPartHeader(attachment, "T", "\n"), expected);
}

void MailMimeTest::attachmentData()
{
    // Entries: "one" twice (the first serves), "zipped" deflated, "cut" running past the end.
    ArchiveFile archive(archiveWith("B", "abcdefXYZ!"));
    EntryList entries;
    entries.add("one", kBodyAt + 1, 3, false, Crc32Update(0, "abc", 3));
    entries.add("one", kBodyAt + 7, 3);
    entries.add("zipped", kBodyAt + 4, 3, true);
    entries.add("cut", kBodyAt + 8, 50);
    const AttachmentIndex index(entries.head());
    MailMessageFields fields;
    fields.strMessageId = QStringLiteral("<ABCDEFGHIJKL>");
    fields.attachments = {info("1", "one"), info("2", "missing"), info("3", "zipped"), info("4", "cut"),
                          info("5", "")};
    AttachmentOutcome outcome;
    const QByteArray out = writeParts(RgePackageStyle(), mailRecord(0), fields, index, 1, &outcome);

    const auto part = [](const char *name) {
        return "--ABCDEFGHIJKL\rContent-type: application/pdf; name=\"" + QByteArray(name)
               + "\"\rContent-Description: " + name + "\rContent-Disposition: attachment; filename=\"" + name
               + "\";\rContent-Transfer-Encoding: base64\r\r";
    };
    QCOMPARE(out, "Content-type: multipart/mixed;\r\tboundary=\"ABCDEFGHIJKL\"\r\r" + part("1") + "YWJj\r\r"
                      + part("2") + part("3") + part("4") + "WVoh\r\r" + part("5") + "--ABCDEFGHIJKL--\r\r");
    QCOMPARE(outcome.parts, 5);
    QStringList failed;
    for (const AttachmentFailure &f : outcome.failures)
        failed << f.name + ": " + f.reason;
    QCOMPARE(failed, QStringList({"2: not found in the archive", "3: stored compressed in the archive",
                                  "4: cut short in the archive", "5: not found in the archive"}));
}

void MailMimeTest::attachmentChecked_data()
{
    // The entry's bytes are "abcdef" at kBodyAt; each row says what its node claims.
    QTest::addColumn<quint32>("crc");
    QTest::addColumn<qint64>("size");
    QTest::addColumn<bool>("sizeCut");
    QTest::addColumn<QString>("reason");

    const quint32 good = Crc32Update(0, "abcdef", 6);
    QTest::newRow("bytes match their CRC") << good << qint64(6) << false << QString();
    QTest::newRow("one flipped bit") << (good ^ 1u) << qint64(6) << false
                                     << QStringLiteral("damaged: CRC-32 %1, the archive says %2")
                                            .arg(good, 8, 16, QLatin1Char('0'))
                                            .arg(good ^ 1u, 8, 16, QLatin1Char('0'));
    QTest::newRow("no CRC known: nothing to check against") << 0u << qint64(6) << false << QString();
    QTest::newRow("no CRC known, size cut") << 0u << qint64(6) << true
                                            << QStringLiteral("damaged: its size ran into the next entry, cut there");
    QTest::newRow("size cut at the next entry") << (good ^ 1u) << qint64(6) << true
                                                << QStringLiteral("damaged: its size ran into the next entry, cut there");
    QTest::newRow("size cut, but the bytes match their CRC") << good << qint64(6) << true << QString();
    QTest::newRow("empty entry") << 0u << qint64(0) << false << QString();
}

void MailMimeTest::attachmentChecked()
{
    // A damaged attachment is still written whole, but named with the reason.
    QFETCH(quint32, crc);
    QFETCH(qint64, size);
    QFETCH(bool, sizeCut);
    QFETCH(QString, reason);
    ArchiveFile archive(archiveWith("abcdef"));
    EntryList entries;
    entries.add("e", kBodyAt, size, false, crc, sizeCut);
    const AttachmentIndex index(entries.head());
    MailMessageFields fields;
    fields.strMessageId = QStringLiteral("<ABCDEFGHIJKL>");
    fields.attachments = {info("a.bin", "e")};
    AttachmentOutcome outcome;
    const QByteArray out = writeParts(RgePackageStyle(), mailRecord(0), fields, index, 1, &outcome);
    QCOMPARE(out.contains(size ? "YWJjZGVm\r" : "base64\r\r\r"), true);
    QCOMPARE(outcome.failures.size(), reason.isEmpty() ? 0 : 1);
    if (!reason.isEmpty()) {
        QCOMPARE(outcome.failures.first().name, QStringLiteral("a.bin"));
        QCOMPARE(outcome.failures.first().reason, reason);
    }
}

void MailMimeTest::attachedMessage_data()
{
    QTest::addColumn<QByteArray>("entry");
    QTest::addColumn<int>("file");             // 0: Apple Mail mailbox (LF), 1: package (CR), 2: .eml (CR LF)
    QTest::addColumn<QByteArray>("encoding");  // empty: written as bytes in base64
    QTest::addColumn<QByteArray>("written");   // what the part holds, when written as it is

    // An attached message takes the file's line ends: a reader splits the whole file at one kind.
    const QByteArray crlf = "From: a@example.org\r\nSubject: fwd\r\n\r\nbody\r\nFrom here on\r\n";
    QTest::newRow("CR LF lines in an LF mailbox, 7bit; a From line quoted")
        << crlf << 0 << QByteArray("7bit") << QByteArray("From: a@example.org\nSubject: fwd\n\nbody\n>From here on\n");
    QTest::newRow("LF lines in the package's CR mailbox")
        << QByteArray("Subject: fwd\n\tfolded\n\nline\n") << 1 << QByteArray("7bit")
        << QByteArray("Subject: fwd\r\tfolded\r\rline\r");
    QTest::newRow("CR LF lines in the package's CR mailbox")
        << crlf << 1 << QByteArray("7bit") << QByteArray("From: a@example.org\rSubject: fwd\r\rbody\r>From here on\r");
    QTest::newRow("LF lines in a CR LF .eml") << QByteArray("Subject: fwd\n\nline\n") << 2 << QByteArray("7bit")
                                             << QByteArray("Subject: fwd\r\n\r\nline\r\n");
    QTest::newRow("mixed line ends in a CR LF .eml")
        << QByteArray("Subject: fwd\r\nTo: b@example.org\n\r\none\ntwo\r\n") << 2 << QByteArray("7bit")
        << QByteArray("Subject: fwd\r\nTo: b@example.org\r\n\r\none\r\ntwo\r\n");
    QTest::newRow("CR LF lines in a CR LF .eml, unchanged") << crlf << 2 << QByteArray("7bit") << crlf;
    QTest::newRow("UTF-8 text, 8bit, no line end at the end")
        << QByteArray("Subject: caf\xc3\xa9\n\nna\xc3\xafve") << 0 << QByteArray("8bit")
        << QByteArray("Subject: caf\xc3\xa9\n\nna\xc3\xafve");
    QTest::newRow("headers only") << QByteArray("Subject: x\r\n") << 0 << QByteArray("7bit")
                                  << QByteArray("Subject: x\n");
    const QByteArray head = "Subject: x\r\n\r\n";
    QTest::newRow("a line over 998 octets") << head + QByteArray(999, 'a') << 0 << QByteArray() << QByteArray();
    QTest::newRow("a bare CR") << head + "a\rb\r\n" << 0 << QByteArray() << QByteArray();
    QTest::newRow("a NUL") << head + QByteArray("a\0b", 3) << 0 << QByteArray() << QByteArray();
    QTest::newRow("no header block") << QByteArray("%PDF-1.4\n1 0 obj\n") << 0 << QByteArray() << QByteArray();
    QTest::newRow("a header name without its colon") << QByteArray("Subject x\n\nb\n") << 0 << QByteArray()
                                                      << QByteArray();
    QTest::newRow("a blank first line") << QByteArray("\r\nSubject: x\r\n") << 0 << QByteArray() << QByteArray();
    QTest::newRow("the outer delimiter inside") << head + "--ABCDEFGHIJKL\r\n" << 0 << QByteArray() << QByteArray();
    QTest::newRow("empty entry") << QByteArray() << 0 << QByteArray() << QByteArray();
}

// An attached message goes as RFC 2046 allows: as it is in 7bit or 8bit, else as bytes in
// base64 under application/octet-stream, never a message/rfc822 part in base64.
void MailMimeTest::attachedMessage()
{
    QFETCH(QByteArray, entry);
    QFETCH(int, file);
    QFETCH(QByteArray, encoding);
    QFETCH(QByteArray, written);
    ArchiveFile archive(archiveWith("B", entry));
    EntryList entries;
    entries.add("m", kBodyAt + 1, entry.size(), false, Crc32Update(0, entry.constData(), entry.size()));
    const AttachmentIndex index(entries.head());
    MailMessageFields fields;
    fields.strMessageId = QStringLiteral("<ABCDEFGHIJKL>");
    fields.attachments = {info("fwd.eml", "m", "no", "Message/RFC822")};
    AttachmentOutcome outcome;
    const MailFormatStyle &style = file == 1 ? RgePackageStyle() : file == 2 ? EmlStyle() : AppleMailStyle();
    const QByteArray out = writeParts(style, mailRecord(0), fields, index, 1, &outcome);
    QCOMPARE(outcome.failures.size(), 0);
    const QByteArray le = style.lineEnd;
    const QByteArray type = encoding.isEmpty() ? "application/octet-stream" : "message/rfc822";
    QVERIFY2(out.contains("Content-type: " + type + "; name=\"fwd.eml\"" + le), out.constData());
    const QByteArray cte = "Content-Transfer-Encoding: " + (encoding.isEmpty() ? "base64" : encoding) + le + le;
    const int from = out.indexOf(cte) + cte.size();
    QVERIFY2(from >= cte.size(), out.constData());
    const QByteArray part = out.mid(from, out.indexOf(le + "--ABCDEFGHIJKL--", from) - from);
    if (encoding.isEmpty())
        QCOMPARE(QByteArray::fromBase64(part), entry);
    else
        QCOMPARE(part, written);
}

void MailMimeTest::readBack_data()
{
    QTest::addColumn<bool>("rge");
    QTest::newRow("Apple Mail mailbox") << false;
    QTest::newRow("package mailbox, CR line ends") << true;
}

void MailMimeTest::readBack()
{
    QFETCH(bool, rge);
    if (!havePython())
        QSKIP("python3 is not installed");
    const MailFormatStyle &style = rge ? RgePackageStyle() : AppleMailStyle();
    const QByteArray body = "From the start\r\nline &amp;amp; more\r\n--boundary-like line";
    QByteArray blob(int(2 << 20) + 5, Qt::Uninitialized);
    QRandomGenerator gen(7);
    for (char &c : blob)
        c = char(gen.generate());
    ArchiveFile archive(archiveWith(body, blob));
    EntryList entries;
    entries.add("big", kBodyAt + body.size(), blob.size());
    entries.add("small", kBodyAt + body.size() + 10, 58);
    const AttachmentIndex index(entries.head());

    const QStringList names = {"plain.bin", "we;ird \"name\".txt",
                               QString::fromUtf8("\xe4\xb8\xad\xe6\x96\x87 r\xc3\xa9sum\xc3\xa9.pdf")};
    MailMessageFields withId, withoutId;
    withId.strMessageId = QStringLiteral("<43C49507.8090702@gmail.com>");
    withId.attachments = {info(names[0], "big", "cid1"), info(names[1], "small"), info(names[2], "big")};
    withoutId.attachments = {info(names[1], "small")};
    const QByteArray le = style.lineEnd;
    QByteArray box;
    for (const MailMessageFields *f : {&withId, &withoutId, &withId}) {
        // Stand-in for the header step: enough for a reader to find the message.
        const QByteArray head = rge ? QByteArray() : "From ???@??? Mon Jan  1 00:00:00 2024" + le;
        box += head + "Subject: s" + le + "Mime-version: 1.1" + le
               + writeParts(style, mailRecord(quint32(body.size())), *f, index, 99);
        if (rge)
            break;  // the package's mailbox is checked as one message with a CR-aware parse
    }
    const QJsonArray messages = readWithPython(rge ? "message" : "mbox", box);
    QCOMPARE(messages.size(), rge ? 1 : 3);
    const auto md5 = [](const QByteArray &d) {
        return QString::fromLatin1(QCryptographicHash::hash(d, QCryptographicHash::Md5).toHex());
    };
    const QString bigMd5 = md5(blob), smallMd5 = md5(blob.mid(10, 58));
    for (int i = 0; i < messages.size(); ++i) {
        const QJsonObject m = messages.at(i).toObject();
        QCOMPARE(m.value("defects").toArray().size(), 0);
        QCOMPARE(m.value("bodyType").toString(), QStringLiteral("text/plain"));
        // The line end before the inner delimiter is the delimiter's: the text comes back as it
        // was, without a line end added. Both mailboxes quote "From " lines, so no reader splits
        // the message there.
        QCOMPARE(m.value("body").toString(), QStringLiteral(">From the start\nline &amp; more\n--boundary-like line"));
        const QJsonArray parts = m.value("parts").toArray();
        using Want = QVector<QPair<QString, QString>>;
        const Want want = i == 1 ? Want{{names[1], smallMd5}}
                                 : Want{{names[0], bigMd5}, {names[1], smallMd5}, {names[2], bigMd5}};
        QCOMPARE(parts.size(), want.size());
        for (int k = 0; k < parts.size(); ++k) {
            const QJsonObject p = parts.at(k).toObject();
            QCOMPARE(p.value("name").toString(), want[k].first);
            QCOMPARE(p.value("description").toString(), want[k].first);
            QCOMPARE(p.value("md5").toString(), want[k].second);
        }
    }
}

void MailMimeTest::sampleArchive()
{
    if (!havePython())
        QSKIP("python3 is not installed");
    QFile f(QStringLiteral(OLM_SAMPLE_ARCHIVE));
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QByteArray bytes = f.readAll();
    scanBytes(bytes);
    ArchiveFile archive(bytes);
    const AttachmentIndex index(tmpAtFOStart);
    QByteArray box;
    QVector<QVector<quint32>> crcs;
    for (const MailMLRC *m : mails()) {
        const MailMessageFields fields =
            ParseMessageXml(ReadMessageXml(m->llDataOffset, m->dwDataLength), MessageIdForm::AngleBrackets);
        QVector<quint32> own;
        for (const AttachmentInfo &a : fields.attachments)
            own << (index.find(a.url) ? index.find(a.url)->dwCrc32 : 0u);
        crcs << own;
        AttachmentOutcome outcome;
        box += "From ???@??? Mon Jan  1 00:00:00 2024\nSubject: s\nMime-version: 1.1\n"
               + writeParts(AppleMailStyle(), *m, fields, index, 1, &outcome);
        QCOMPARE(outcome.failures.size(), 0);
    }
    const QJsonArray messages = readWithPython("mbox", box);
    QCOMPARE(messages.size(), crcs.size());
    for (int i = 0; i < messages.size(); ++i) {
        const QJsonObject m = messages.at(i).toObject();
        QCOMPARE(m.value("defects").toArray().size(), 0);
        QCOMPARE(m.value("bodyType").toString(), QStringLiteral("text/html"));
        QVERIFY(!m.value("body").toString().contains(QLatin1String("&lt;html")));
        const QJsonArray parts = m.value("parts").toArray();
        QCOMPARE(parts.size(), crcs[i].size());
        for (int k = 0; k < parts.size(); ++k)
            QCOMPARE(quint32(parts.at(k).toObject().value("crc").toDouble()), crcs[i][k]);
    }
    CleanScanResults();
}

QTEST_GUILESS_MAIN(MailMimeTest)
#include "tst_mailmime.moc"
