// What every contact, calendar, task and note file shares: its name from the record UUID, the
// date forms, text escaping and line folding, and the exclusive, checked file creation.

#include "platform/FinderInfo.h"
#include "platform/WholeFile.h"
#include "save/mail/MailWriter.h"
#include "save/pim/ItemFileName.h"
#include "save/pim/PimDates.h"
#include "save/pim/PimFiles.h"
#include "save/pim/PimText.h"
#include "scanner/XmlEntities.h"

#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <sys/resource.h>
#include <unistd.h>

namespace {

QByteArray ReadFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

} // namespace

class PimFilesTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void itemFileNames_data();
    void itemFileNames();
    void dtohAppends_data();
    void dtohAppends();
    void dates_data();
    void dates();
    void plainTextOfHtml_data();
    void plainTextOfHtml();
    void escaping_data();
    void escaping();
    void trimmedAsQtTrims_data();
    void trimmedAsQtTrims();
    void storedTextInChunks_data();
    void storedTextInChunks();
    void folding_data();
    void folding();
    void exclusiveNumberedFiles_data();
    void exclusiveNumberedFiles();
    void failedFilesAreNamed();

private:
    QByteArray m_oldTz;
};

void PimFilesTest::initTestCase()
{
    m_oldTz = qgetenv("TZ");
    FinderInfoHooks::record = nullptr;
}

void PimFilesTest::cleanupTestCase()
{
    qputenv("TZ", m_oldTz);
    tzset();
}

void PimFilesTest::itemFileNames_data()
{
    QTest::addColumn<QByteArray>("uuid");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("dashed");
    QTest::newRow("mixed digits") << QByteArray("A1B2C3D4E5F60718293A4B5C6D7E8F90")
                                  << "BVMHMKX2W5BQBJROWDOVN41EBJ" << "A1B2C3D4-E5F6-0718-293A-4B5C6D7E8F90";
    QTest::newRow("all zero") << QByteArray(32, '0') << QString(26, QLatin1Char('A'))
                              << "00000000-0000-0000-0000-000000000000";
    QTest::newRow("all F") << QByteArray(32, 'F') << "555555555555P555555555555P"
                           << "FFFFFFFF-FFFF-FFFF-FFFF-FFFFFFFFFFFF";
    QTest::newRow("byte order") << QByteArray("0100000000000000FF00000000000000") << "BAAAAAAAAAAAA5HAAAAAAAAAAA"
                                << "01000000-0000-0000-FF00-000000000000";
    QTest::newRow("lower case reads as upper") << QByteArray("a1b2c3d4e5f60718293a4b5c6d7e8f90")
                                               << "BVMHMKX2W5BQBJROWDOVN41EBJ" << "A1B2C3D4-E5F6-0718-293A-4B5C6D7E8F90";
    QTest::newRow("empty record") << QByteArray() << QString() << QString();
    QTest::newRow("31 digits") << QByteArray(31, 'A') << QString() << QString();
    QTest::newRow("not hex") << QByteArray("G1B2C3D4E5F60718293A4B5C6D7E8F90") << QString() << QString();
    QTest::newRow("path characters") << QByteArray("../../etc/passwd0000000000000000") << QString() << QString();
}

void PimFilesTest::itemFileNames()
{
    QFETCH(QByteArray, uuid);
    QFETCH(QString, name);
    QFETCH(QString, dashed);
    char szUuid[33] = {};
    memcpy(szUuid, uuid.constData(), size_t(qMin(uuid.size(), 32)));
    QCOMPARE(ItemFileName(szUuid), name);
    QCOMPARE(DashedUuid(szUuid), dashed);
    QCOMPARE(ItemFileName(nullptr), QString());
}

void PimFilesTest::dtohAppends_data()
{
    QTest::addColumn<QString>("before");
    QTest::addColumn<qulonglong>("value");
    QTest::addColumn<QString>("after");
    QTest::newRow("0") << QString() << 0ULL << "AAAAAAAAAAAAA";
    QTest::newRow("3 and 4 swapped") << QString() << 3ULL * 32 + 4 << "AAAAAAAAAAAED";
    QTest::newRow("31") << QString() << 31ULL << "AAAAAAAAAAAA5";
    QTest::newRow("32") << QString() << 32ULL << "AAAAAAAAAAABA";
    QTest::newRow("largest") << QString() << ~0ULL << "P555555555555";
    QTest::newRow("keeps what is there") << "xy" << 1ULL << "xyAAAAAAAAAAAAB";
}

void PimFilesTest::dtohAppends()
{
    QFETCH(QString, before);
    QFETCH(qulonglong, value);
    QFETCH(QString, after);
    dtoh(value, &before);
    QCOMPARE(before, after);
}

void PimFilesTest::dates_data()
{
    QTest::addColumn<QByteArray>("zone");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("local");
    QTest::addColumn<QByteArray>("utc");
    QTest::addColumn<QByteArray>("day");
    const QByteArray plus2 = "XXX-2", newYork = "EST5EDT,M3.2.0,M11.1.0";
    // The day of a date-only value is that of the stored time plus 12 hours, whatever the zone.
    QTest::newRow("two hours ahead") << plus2 << "2010-05-01T14:30:00" << QByteArray("20100501T163000")
                                     << QByteArray("20100501T143000Z") << QByteArray("20100502");
    QTest::newRow("west: not the machine's day") << newYork << "2018-06-20T02:00:00" << QByteArray("20180619T220000")
                                                 << QByteArray("20180620T020000Z") << QByteArray("20180620");
    QTest::newRow("seconds with a suffix") << plus2 << "2010-05-01T10:20:45Z" << QByteArray("20100501T122000")
                                           << QByteArray("20100501T102045Z") << QByteArray("20100501");
    QTest::newRow("time without seconds") << plus2 << "2010-05-01T14:30" << QByteArray("20100501T163000")
                                          << QByteArray("20100501T143000Z") << QByteArray("20100502");
    QTest::newRow("date without time") << plus2 << "2010-05-01" << QByteArray("20100501T020000")
                                       << QByteArray("20100501T000000Z") << QByteArray("20100501");
    QTest::newRow("blanks around") << plus2 << " 2010-05-01T14:30:00\n" << QByteArray("20100501T163000")
                                   << QByteArray("20100501T143000Z") << QByteArray("20100502");
    QTest::newRow("no such month") << plus2 << "2010-13-40T10:00:00" << QByteArray() << QByteArray() << QByteArray();
    QTest::newRow("29 February of a common year") << plus2 << "2011-02-29T10:00:00" << QByteArray() << QByteArray()
                                                   << QByteArray();
    QTest::newRow("garbage") << plus2 << "garbage" << QByteArray() << QByteArray() << QByteArray();
    QTest::newRow("empty") << plus2 << "" << QByteArray() << QByteArray() << QByteArray();
    QTest::newRow("two dates") << plus2 << "2010-05-01-02T10:00:00" << QByteArray() << QByteArray() << QByteArray();
}

void PimFilesTest::dates()
{
    QFETCH(QByteArray, zone);
    QFETCH(QString, text);
    QFETCH(QByteArray, local);
    QFETCH(QByteArray, utc);
    QFETCH(QByteArray, day);
    qputenv("TZ", zone);
    tzset();
    QCOMPARE(timeconvertert2(text), local);
    QCOMPARE(timeconverterDUetask2(text), local);
    QCOMPARE(ArchiveDateUtc(text), utc);
    QCOMPARE(ArchiveDateLocalDay(text), day);
}

void PimFilesTest::escaping_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("escaped");
    QTest::addColumn<QString>("eachBreak");
    QTest::addColumn<QString>("joined");
    QTest::newRow("plain") << "Lunch" << "Lunch" << "Lunch" << "Lunch";
    QTest::newRow("separators") << "a,b;c\\d" << "a\\,b\\;c\\\\d" << "a\\,b\\;c\\\\d" << "a,b;c\\d";
    QTest::newRow("CR LF is one break") << "a\r\nb" << "a\\nb" << "a\\n\\nb" << "a b";
    QTest::newRow("bare CR and LF") << "a\rb\nc" << "a\\nb\\nc" << "a\\nb\\nc" << "a b c";
    QTest::newRow("a backslash n stays text") << "C:\\new" << "C:\\\\new" << "C:\\\\new" << "C:\\new";
    QTest::newRow("break beside a blank") << "a \r\nb\n" << "a \\nb\\n" << "a \\n\\nb\\n" << "a b";
    QTest::newRow("leading breaks") << "\n\nx" << "\\n\\nx" << "\\n\\nx" << "x";
}

void PimFilesTest::escaping()
{
    QFETCH(QString, text);
    QFETCH(QString, escaped);
    QFETCH(QString, eachBreak);
    QFETCH(QString, joined);
    QCOMPARE(EscapeText(text), escaped);
    QCOMPARE(EscapeTextEachBreak(text), eachBreak);
    QCOMPARE(JoinLines(text), joined);
}

void PimFilesTest::folding_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QByteArray>("folded");
    QTest::newRow("short") << QByteArray("UID:x") << QByteArray("UID:x\r\n");
    QTest::newRow("exactly 75") << QByteArray(75, 'a') << QByteArray(75, 'a') + "\r\n";
    QTest::newRow("76") << QByteArray(76, 'a') << QByteArray(75, 'a') + "\r\n a\r\n";
    QTest::newRow("three lines") << QByteArray(75 + 74 + 3, 'b')
                                 << QByteArray(75, 'b') + "\r\n " + QByteArray(74, 'b') + "\r\n bbb\r\n";
    // "é" is two octets: the cut backs up rather than split it.
    QTest::newRow("no split inside a character") << QByteArray(74, 'c') + "\xc3\xa9" + "d"
                                                 << QByteArray(74, 'c') + "\r\n \xc3\xa9" + "d\r\n";
}

void PimFilesTest::folding()
{
    QFETCH(QByteArray, line);
    QFETCH(QByteArray, folded);
    const QByteArray out = FoldContentLine(line);
    QCOMPARE(out, folded);
    for (const QByteArray &physical : out.split('\n'))
        QVERIFY(physical.size() <= 76);   // 75 octets and the CR
    QCOMPARE(QString::fromUtf8(QByteArray(out).replace("\r\n ", "").replace("\r\n", "")), QString::fromUtf8(line));
}

// A long stored text is written chunk by chunk with the bytes it has written whole: entities,
// characters, line breaks and the fold that straddle a chunk's end included.
void PimFilesTest::storedTextInChunks_data()
{
    QTest::addColumn<int>("form");
    QTest::addColumn<QByteArray>("stored");
    const int chunk = 1 << 20;
    const auto around = [&](int before, const QByteArray &piece) {
        return QByteArray(chunk - before, 'x') + piece + QByteArray(100, 'y');
    };
    const QList<QPair<const char *, ContentLines::StoredForm>> forms = {
        {"description", ContentLines::StoredForm::Scanned},
        {"note", ContentLines::StoredForm::Note},
        {"task note", ContentLines::StoredForm::TaskNote}};
    for (const auto &form : forms) {
        const auto row = [&](const QString &what, const QByteArray &stored) {
            QTest::newRow(qPrintable(QLatin1String(form.first) + QLatin1String(": ") + what)) << int(form.second) << stored;
        };
        row("empty", QByteArray());
        row("short, with a NUL", QByteArray("a &amp; b\0lost &amp;nbsp;", 26));
        row("control characters only", QByteArray("\x07\x1b"));
        for (int before = 0; before <= 10; ++before) {
            const QString n = QString::number(before);
            row("an entity across the end, " + n, around(before, "&amp;lt;&#x1F600;"));
            row("an escaped blank across the end, " + n, around(before, "&amp;nbsp;&amp;gt;"));
            row("characters across the end, " + n, around(before, "\xc3\xa9\xf0\x9f\x98\x80;,"));
            row("line breaks across the end, " + n, around(before, "\r\n\r&#13;\n"));
            row("a NUL in an entity across the end, " + n, around(before, QByteArray("&am\0p;nb\0sp;\r\0\n", 16)));
        }
        for (int before = 0; before <= 3; ++before)
            row("a byte order mark at the end, " + QString::number(before), around(before, "\xEF\xBB\xBF\xEF\xBB\xBF"));
        row("an unclosed & before the end", around(20, "& no entity") + "&lt;");
        row("several chunks", QByteArray("a,b;c\\d &lt;e&gt;&amp;nbsp;\r\n\xc3\xa9 ").repeated(chunk / 8));
    }
}

// Written in chunks, a stored text gives the bytes its whole text gave, as each writer made it.
void PimFilesTest::storedTextInChunks()
{
    QFETCH(int, form);
    QFETCH(QByteArray, stored);
    const auto noteEntities = [](QString text) {
        text.replace(QLatin1String("&lt;"), QLatin1String("<"));
        text.replace(QLatin1String("&gt;"), QLatin1String(">"));
        text.replace(QLatin1String("&amp;"), QLatin1String("&"));
        text.replace(QLatin1String("&nbsp;"), QLatin1String(" "));
        return text;
    };
    const QByteArray upToNul = stored.left(stored.indexOf('\0') < 0 ? stored.size() : stored.indexOf('\0'));
    ContentLines whole, chunked;
    switch (ContentLines::StoredForm(form)) {
    case ContentLines::StoredForm::Scanned:
        whole.addText("DESCRIPTION", UnescapeXmlEntities(QString::fromUtf8(upToNul), EntityForm::Scanned));
        break;
    case ContentLines::StoredForm::Note:
        whole.add("DESCRIPTION", EscapeText(noteEntities(QString::fromUtf8(upToNul))));
        break;
    case ContentLines::StoredForm::TaskNote:
        whole.add("DESCRIPTION", EscapeText(noteEntities(QString::fromUtf8(QByteArray(stored).replace('\0', "")))));
        break;
    }
    chunked.addStoredText("DESCRIPTION", std::string_view(stored.constData(), size_t(stored.size())),
                          ContentLines::StoredForm(form));
    QVERIFY(whole.bytes() == chunked.bytes());
}

void PimFilesTest::exclusiveNumberedFiles_data()
{
    QTest::addColumn<bool>("unnamed");
    QTest::newRow("made without a name") << true;
    QTest::newRow("made under a hidden part name") << false;
}

void PimFilesTest::exclusiveNumberedFiles()
{
    // Each file takes its name only once whole, on file systems with and without unnamed files.
    QFETCH(bool, unnamed);
    WholeFile::setUnnamedFilesAllowed(unnamed);
    QTemporaryDir dir;
    QList<QString> finder;
    FinderInfoHooks::record = [&](const QString &path, quint32, quint32) {
        finder << QFileInfo(path).fileName();
        return true;
    };
    const QString taken = dir.filePath(QStringLiteral("NAME.ics"));
    QFile existing(taken);
    QVERIFY(existing.open(QIODevice::WriteOnly) && existing.write("keep") == 4);
    existing.close();
    // A link at the next name must not be followed either.
    QVERIFY(QFile::link(dir.filePath(QStringLiteral("elsewhere")), dir.filePath(QStringLiteral("NAME_1.ics"))));
    const struct {
        QString name;
        QString expected;
    } rows[] = {{QStringLiteral("NAME"), QStringLiteral("NAME_2.ics")},
                {QStringLiteral("NAME"), QStringLiteral("NAME_3.ics")},
                {QString(), QStringLiteral("Item.ics")},
                {QStringLiteral(".."), QStringLiteral("Item_1.ics")},
                {QStringLiteral("."), QStringLiteral("Item_2.ics")}};
    for (const auto &row : rows) {
        QString path, error;
        QVERIFY2(WritePimFile(PimFile{dir.path(), row.name, QStringLiteral(".ics"), FourCharCode("Ics "),
                                      FourCharCode("OPIM")},
                              "BODY", &path, &error),
                 qPrintable(error));
        QCOMPARE(QFileInfo(path).fileName(), row.expected);
        QCOMPARE(ReadFile(path), QByteArray("BODY"));
    }
    QCOMPARE(ReadFile(taken), QByteArray("keep"));
    QVERIFY(!QFileInfo::exists(dir.filePath(QStringLiteral("elsewhere"))));
    QCOMPARE(finder.size(), 5);
    // No Finder codes asked, none set.
    QString path, error;
    QVERIFY(WritePimFile(PimFile{dir.path(), QStringLiteral("card"), QStringLiteral(".vcf"), 0, 0}, "x", &path, &error));
    QCOMPARE(finder.size(), 5);
    // A name with a path of its own is refused, not followed.
    QVERIFY(!WritePimFile(PimFile{dir.path(), QStringLiteral("../up"), QString(), 0, 0}, "x", &path, &error));
    QVERIFY(!QFileInfo::exists(QFileInfo(dir.path()).absolutePath() + QStringLiteral("/up")));
    FinderInfoHooks::record = nullptr;
    // No hidden part is left behind.
    QCOMPARE(QDir(dir.path()).entryList({QStringLiteral(".*")}, QDir::Files | QDir::Hidden), QStringList());
    WholeFile::setUnnamedFilesAllowed(true);
}

void PimFilesTest::failedFilesAreNamed()
{
    QTemporaryDir dir;
    MailSaveContext context;
    context.saveDir = dir.path();
    context.strTime = QStringLiteral("(5 Mar 2024,10-11-12)");
    QCOMPARE(PimItemFolder(context, false, QStringLiteral("Tasks")),
             dir.path() + QStringLiteral("/Main Identity(5 Mar 2024,10-11-12).rge/Tasks"));
    QCOMPARE(PimItemFolder(context, true, QStringLiteral("Notes")),
             dir.path() + QStringLiteral("/Converted Data(5 Mar 2024,10-11-12)/Notes"));
    // The folder is missing: nothing is made, the item is counted and named.
    QString path, error;
    const PimFile file{PimItemFolder(context, false, QStringLiteral("Contacts")), QStringLiteral("ABC"),
                       QStringLiteral(".vcf"), 0, 0};
    QVERIFY(!WritePimFile(file, "x", &path, &error));
    QVERIFY(!error.isEmpty());
    NotePimResult(context, false, QStringLiteral("Contact \"Ann Lee\""), path, error);
    NotePimResult(context, true, QStringLiteral("Contact \"Bo\""), path, QString());
    QCOMPARE(context.failed, qint64(1));
    QCOMPARE(context.written, qint64(1));
    QCOMPARE(context.failures.size(), 1);
    QVERIFY(context.failures.first().startsWith(QStringLiteral("Contact \"Ann Lee\" not written to ")));
    QVERIFY(context.failures.first().contains(QStringLiteral("ABC.vcf")));
    // A record whose UUID is unusable is still saved, under its position.
    QString uid;
    const PimFile target{dir.path(), QString(), QStringLiteral(".ics"), 0, 0};
    QCOMPARE(ItemFile(target, "not a uuid", "Task", 3, &uid).name, QStringLiteral("Task 3"));
    QCOMPARE(uid, QStringLiteral("Task 3"));
    QCOMPARE(ItemFile(target, "A1B2C3D4E5F60718293A4B5C6D7E8F90", "Task", 3, &uid).name,
             QStringLiteral("BVMHMKX2W5BQBJROWDOVN41EBJ"));
    QCOMPARE(uid, QStringLiteral("A1B2C3D4-E5F6-0718-293A-4B5C6D7E8F90"));
    // No room for the whole file (a file size limit stands in for a full disk): the write
    // fails and no partial file is left behind.
    struct rlimit old;
    QVERIFY(getrlimit(RLIMIT_FSIZE, &old) == 0);
    const struct rlimit small = {4096, old.rlim_max};
    const sighandler_t oldHandler = signal(SIGXFSZ, SIG_IGN);
    QVERIFY(setrlimit(RLIMIT_FSIZE, &small) == 0);
    const bool written = WritePimFile(PimFile{dir.path(), QStringLiteral("big"), QString(), 0, 0},
                                      QByteArray(100000, 'x'), &path, &error);
    setrlimit(RLIMIT_FSIZE, &old);
    signal(SIGXFSZ, oldHandler);
    QVERIFY(!written);
    QVERIFY(!error.isEmpty());
    QVERIFY(!QFileInfo::exists(dir.filePath(QStringLiteral("big"))));
}

// A plain note is trimmed on its bytes, so it need not be decoded whole: the text must be what
// decoding and trimming it gives.
void PimFilesTest::trimmedAsQtTrims_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("ASCII blanks and breaks") << QByteArray(" \t\r\n a b \r\n\f");
    QTest::newRow("no-break, ideographic and line separator spaces")
        << QByteArray("\xC2\xA0\xE3\x80\x80x\xE2\x80\xA8\xC2\x85");
    QTest::newRow("a sequence cut at the end stays") << QByteArray("x \xE3\x80");
    QTest::newRow("overlong forms of a blank stay") << QByteArray("\xC0\xA0x\xE0\x80\xA0");
    QTest::newRow("a lone continuation byte stays") << QByteArray("\xA0 x \x80");
    QTest::newRow("blanks alone") << QByteArray(" \xE2\x80\x83\n");
    QTest::newRow("a letter of four bytes") << QByteArray(" \xF0\x9F\x98\x80 ");
}

void PimFilesTest::trimmedAsQtTrims()
{
    QFETCH(QByteArray, bytes);
    const std::string_view trimmed = TrimmedUtf8(std::string_view(bytes.constData(), size_t(bytes.size())));
    QCOMPARE(QString::fromUtf8(trimmed.data(), int(trimmed.size())), QString::fromUtf8(bytes).trimmed());
}

void PimFilesTest::plainTextOfHtml_data()
{
    QTest::addColumn<QString>("html");
    QTest::addColumn<QString>("text");
    QTest::newRow("paragraphs are lines") << "<p>one</p><p>two</p>" << "one\ntwo";
    QTest::newRow("head and style hidden, nbsp a space")
        << "<html><head><style>p{color:red}</style></head><body><p>Hi&nbsp;there</p></body></html>" << "Hi there";
    QTest::newRow("br breaks, blank runs collapse") << "  a \r\n b<br>c  " << "a b\nc";
    QTest::newRow("references decoded once") << "&#x41;&amp;lt;&lt;" << "A&lt;<";
    QTest::newRow("nested blocks give one break") << "<div><p>x</p></div><div>y</div>" << "x\ny";
    QTest::newRow("unclosed tag ends the text") << "kept<p" << "kept";
    QTest::newRow("every named reference of HTML")
        << "<p>caf&eacute; &amp; cr&#232;me&nbsp;br&ucirc;l&eacute;e &euro;5 &rsquo;&mdash;&NotNestedLessLess;</p>"
        << QString::fromUtf8("café & crème brûlée €5 ’—⪡̸");
    QTest::newRow("legacy names without ';', unknown ones kept")
        << "&copy 2020 &notit; &nosuch; AT&T" << QString::fromUtf8("© 2020 ¬it; &nosuch; AT&T");
    QTest::newRow("cells of a row apart, rows on their own lines")
        << "<table><tr><td>a </td>\n<td> b</td></tr><tr><th>c</th><td></td><td>d</td></tr></table>after"
        << "a\tb\nc\t\td\nafter";
    QTest::newRow("an empty first cell keeps its tab, a table in a cell its rows")
        << "<table><tr><td></td><td>x<table><tr><td>y</td><td>z</td></tr></table></td><td>w</td></tr></table>"
        << "\tx\ny\tz\n\tw";
    QTest::newRow("pre keeps blanks and breaks, drops the break after its tag")
        << "<p>a   b</p><pre>\r\n  c  d\r\n\te\rf\n\ng</pre> h  i" << "a b\n  c  d\n\te\nf\n\ng\nh i";
    QTest::newRow("numeric references as HTML reads them")
        << "&#150;&#146;&#147;&#148;&#x80;&#x9f;&#129; &#0;&#x110000;&#xD800;&#99999999999;&#65 &#x42x&#;&#x;"
        << QString::fromUtf8("\u2013\u2019\u201c\u201d\u20ac\u0178\u0081 \ufffd\ufffd\ufffd\ufffdA Bx&#;&#x;");
    QTest::newRow("hidden text across pieces, breaks and blanks at the end dropped")
        << "<title>no</title>x&nbsp; <br><p> </p>&nbsp;"
        << "x";
}

void PimFilesTest::plainTextOfHtml()
{
    QFETCH(QString, html);
    QFETCH(QString, text);
    QCOMPARE(PlainTextOfHtml(html), text);
    // Fed a character at a time, as a long note is fed chunk by chunk: the same text.
    HtmlPlainText reader;
    QString pieces;
    for (const QChar c : html)
        reader.feed(QString(c), &pieces);
    reader.finish(&pieces);
    QCOMPARE(pieces, text);
}

QTEST_GUILESS_MAIN(PimFilesTest)
#include "tst_pimfiles.moc"
