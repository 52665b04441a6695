// The style filter judged by an independent, browser-conformant CSS tokenizer (tinycss2): in
// nothing it writes, for the known tricks and for tens of thousands of generated styles, does a
// url, an @import or a loading function name anything outside the message.

#include "save/mail/InertStyles.h"

#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

namespace {

// Pieces a generated style is made of: line breaks of every kind, quotes, escapes, comments,
// brackets and urls, half-finished ones among them.
const char *const kPieces[] = {
    "color:red",
    "background:url(http://h.example/a)",
    "url('data:image/png;base64,AA==')",
    "x:'a",
    "y:\"b",
    "url(a\"b)",
    "url(",
    "url( ",
    "URL(\"",
    "u\\72l(",
    "\\75 rl(",
    "image-set(",
    "src(",
    "@import ",
    "@\\69mport ",
    "http://h.example/x",
    "//h.example/y",
    "data:",
    "cid:",
    "#f",
    "/*",
    "*/",
    "/* c */",
    "\\",
    "\\\n",
    "\\\r\n",
    "\\'",
    "\\\"",
    "\\)",
    "\\(",
    "(",
    ")",
    ";",
    ":",
    "{",
    "}",
    "[",
    "]",
    "\r",
    "\f",
    "\r\n",
    "\n",
    "'",
    "\"",
    " ",
    "<!--",
    "-->",
    "</style>",
    "\\3c ",
    "\\<",
    "-",
    "--x",
    "5",
    "+.5e3",
    "\x01",
    "\x7f",
    "\xC3\xA9",
    "background-image:",
    "cross-fade(",
    "url(#m)",
    "U+",
    "u+0",
    "U+0-7F",
    "u+?",
};

QByteArray piece(QRandomGenerator &random)
{
    return kPieces[random.bounded(int(sizeof kPieces / sizeof *kPieces))];
}

// Real-looking declarations and rules with pieces dropped in at random places.
QByteArray generatedStyle(QRandomGenerator &random, bool sheet)
{
    QByteArray css = sheet ? "p.a { color: red; background: url(data:image/gif;base64,R0lG) } b { x: 'y' }"
                           : "color: red; font-family: 'A B', serif; background: url(cid:p1) no-repeat";
    const int count = 1 + random.bounded(10);
    for (int i = 0; i < count; ++i) {
        // Between characters, never inside one: the filter is given whole UTF-8.
        int at = random.bounded(css.size() + 1);
        while (at < css.size() && (uchar(css[at]) & 0xC0) == 0x80)
            ++at;
        css.insert(at, piece(random));
    }
    if (random.bounded(3) == 0)
        css = piece(random) + piece(random) + piece(random) + piece(random);
    return css;
}

QString oraclePython()
{
    // The system's interpreter: the Debian package installs the tokenizer for it.
    if (QFile::exists(QStringLiteral("/usr/bin/python3")))
        return QStringLiteral("/usr/bin/python3");
    return QStandardPaths::findExecutable(QStringLiteral("python3"));
}

}  // namespace

class InertStylesTest : public QObject {
    Q_OBJECT

private slots:
    void browserTokenizerFindsNothingToLoad();
    void stylesReadAsBefore_data();
    void stylesReadAsBefore();
};

// Every style is written to one file and read by the oracle in one run.
void InertStylesTest::browserTokenizerFindsNothingToLoad()
{
    const QString python = oraclePython();
    if (python.isEmpty() || QProcess::execute(python, {QStringLiteral("-c"), QStringLiteral("import tinycss2")}) != 0)
        QSKIP("python3-tinycss2 is not installed");
    const QByteArrayList tricks = {
        // A form feed, CR or CR LF ends a string where a browser reads them as line breaks.
        "color:red;x:'a\f;background-image:url(http://h.example/ff);y:'",
        "color:red;x:'a\r;background-image:url(http://h.example/cr);y:'",
        "color:red;x:\"a\r\n;background-image:url(http://h.example/crlf);y:\"",
        // A bad url ends at its ')': a quote inside starts no string.
        "background:url(\"data:image/png;base64,AA==\");x:url(a\"b);background-image:url(http://h.example/b)",
        "x:url(a'b\\)c);background-image:url(http://h.example/e)",
        "x:url(a b);background-image:url(http://h.example/s)",
        // Escaped function names, comments and nesting.
        "background:\\75 rl(http://h.example/esc)",
        "background:u\\rl(http://h.example/esc2)",
        "background:url/**/(http://h.example/c)",
        "background:image-set(\"http://h.example/i\" 1x)",
        "background:url(url(http://h.example/n))",
        "background:url( \"data:x\" \"http://h.example/two\")",
        "@import 'http://h.example/s.css'; p{}",
        "@\\69mport url(http://h.example/s2.css);",
        "a{b:'\\\n;background:url(http://h.example/cont)'}",
        // Older readers take "u+" and hex digits for a unicode range, which ends inside a name.
        "background:U+0url(http://h.example/ur)",
        "background:u+0-7Furl(http://h.example/ur2)",
        "background:U+1?url(http://h.example/ur3)",
        "x:U+abcdef0url(http://h.example/ur4)",
    };
    QTemporaryDir dir;
    QFile file(dir.filePath(QStringLiteral("styles")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    QRandomGenerator random(40);
    int written = 0;
    const auto write = [&](const QByteArray &css, bool sheet) {
        file.write((sheet ? "s" : "a") + InertCss(std::string_view(css.constData(), size_t(css.size()))) + '\0');
        ++written;
    };
    for (const QByteArray &css : tricks) {
        write(css, false);
        write(css, true);
    }
    for (int i = 0; i < 40000; ++i)
        write(generatedStyle(random, i % 2 == 0), i % 2 == 0);
    file.close();
    QProcess oracle;
    oracle.setProcessChannelMode(QProcess::MergedChannels);
    // The oracle's script lies beside the sample archive.
    const QString script =
        QFileInfo(QStringLiteral(OLM_SAMPLE_ARCHIVE)).absolutePath() + QStringLiteral("/css_oracle.py");
    oracle.start(python, {script, file.fileName()});
    QVERIFY(oracle.waitForFinished(60000));
    const QByteArray report = oracle.readAll();
    QVERIFY2(oracle.exitStatus() == QProcess::NormalExit && oracle.exitCode() == 0, report.left(4000).constData());
    QVERIFY2(report.contains(QByteArray::number(written) + " styles read, 0 could load"), report.constData());
}

void InertStylesTest::stylesReadAsBefore_data()
{
    QTest::addColumn<QByteArray>("css");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("ordinary declarations stay as written")
        << QByteArray("color: #f00; font: 10pt/1.2 'Segoe UI', sans-serif; margin: -1.5e1px 0 !important")
        << QByteArray("color: #f00; font: 10pt/1.2 \"Segoe UI\", sans-serif; margin: -1.5e1px 0 !important");
    QTest::newRow("a word processor's sheet in comment markers")
        << QByteArray("<!--\n/* Font Definitions */\np.MsoNormal {margin:0cm;}\n-->")
        << QByteArray(" \n/**/\np.MsoNormal {margin:0cm;}\n-->");
    QTest::newRow("line breaks of every kind read as line feeds")
        << QByteArray("a:1;\r\nb:2;\rc:3;\fd:'x") << QByteArray("a:1;\nb:2;\nc:3;\nd:\"x\"");
    QTest::newRow("a string's bare line break makes a bad string; the text after is read")
        << QByteArray("x:'a\f;background:url(http://h.example/z);y:'b'")
        << QByteArray("x:'a\n;background:none;y:\"b\"");
    QTest::newRow("a dropped url's none does not run on into the next name")
        << QByteArray("background:url(http://h.example/a)no-repeat url(x)(")
        << QByteArray("background:none no-repeat none (");
    QTest::newRow("the message's pictures and places in the page stay")
        << QByteArray("a:url( cid:p1 );b:url('data:image/gif;base64,R0');c:url(#m)")
        << QByteArray("a:url( cid:p1 );b:url(\"data:image/gif;base64,R0\");c:url(#m)");
    QTest::newRow("no '<' is left for a style element to end at")
        << QByteArray("a:'</style>';b\\<c:1;d:<") << QByteArray("a:\"\\3c /style>\";b\\3C c:1;d:\\3C ");
    QTest::newRow("a unicode range stays as written")
        << QByteArray("unicode-range: U+0-7F, u+4??;") << QByteArray("unicode-range: U+0-7F, u+4??;");
    QTest::newRow("a range that would run into a name is kept apart")
        << QByteArray("a:U+0url(x)") << QByteArray("a:U/**/+0url(x)");
    QTest::newRow("an escape keeps its character")
        << QByteArray("font-family:\\66 oo, b\\\"r") << QByteArray("font-family:\\66 oo, b\\\"r");
}

// What stays is read by a browser as the message wrote it: declarations, names and strings.
void InertStylesTest::stylesReadAsBefore()
{
    QFETCH(QByteArray, css);
    QFETCH(QByteArray, expected);
    QCOMPARE(InertCss(std::string_view(css.constData(), size_t(css.size()))), expected);
}

QTEST_GUILESS_MAIN(InertStylesTest)
#include "tst_inertstyles.moc"
