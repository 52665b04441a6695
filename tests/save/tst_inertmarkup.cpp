// The saved page's markup filter, judged by the DOM a browser builds from its output: no trick a
// message may play leaves anything that runs or loads, its text and own pictures still show, and
// the output reads back to itself, so a second reading cannot turn it into something else. Markup
// built to make the parser work far beyond its size costs a bounded time and memory, a save's
// stop ends it, and the parser's escape leaves every other failed assert ending the program.

// The escape's test needs assert() whatever the build type.
#undef NDEBUG
#include <cassert>

#include "platform/WorkerGlobals.h"
#include "save/AttachmentIndex.h"
#include "save/mail/BoundedParse.h"
#include "save/mail/MailFormatStyle.h"
#include "save/mail/MessageFiles.h"

#include "ArchiveFile.h"
#include "OlmXml.h"
#include "ScanTestUtil.h"
#include "TestArchiveBuilder.h"

#include <gumbo.h>

#include <QDirIterator>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

bool hasScheme(const QByteArray &url, std::initializer_list<const char *> schemes)
{
    QByteArray compact;
    for (const char c : url) {
        if (uchar(c) > ' ' && c != '\x7f')
            compact += char(c >= 'A' && c <= 'Z' ? c + 32 : c);
    }
    for (const char *scheme : schemes) {
        if (compact.startsWith(scheme))
            return true;
    }
    return false;
}

// What in one element would run or load: its description, empty when nothing.
QStringList activeIn(const GumboElement &e)
{
    QStringList found;
    const QByteArray tag = gumbo_normalized_tagname(e.tag);
    if (e.tag_namespace != GUMBO_NAMESPACE_HTML || e.tag == GUMBO_TAG_UNKNOWN)
        found << QStringLiteral("foreign or unknown element %1").arg(QString::fromLatin1(tag));
    for (const char *t : {"script", "frameset", "iframe", "object", "embed", "noscript", "template", "link", "meta", "base",
                          "frame", "frameset", "video", "audio", "source", "applet", "svg", "math"}) {
        if (tag == t)
            found << QStringLiteral("element %1").arg(QString::fromLatin1(t));
    }
    for (unsigned i = 0; i < e.attributes.length; ++i) {
        const auto *a = static_cast<const GumboAttribute *>(e.attributes.data[i]);
        const QByteArray name = a->name, value = a->value;
        const bool link = name == "href" && hasScheme(value, {"http:", "https:", "mailto:", "#"});
        const bool inside = (name == "src" || name == "background") && hasScheme(value, {"data:", "cid:"});
        const bool css = name == "style"
            && !QRegularExpression(QStringLiteral("http|//|@import|image-set|url\\(\\s*+(?!['\"]?((data|cid):|#))"),
                                   QRegularExpression::CaseInsensitiveOption)
                    .match(QString::fromUtf8(value))
                    .hasMatch();
        const bool shape = !name.startsWith("on") && !QByteArrayList({"href", "src", "background", "style", "srcset",
                                                                      "poster", "action", "formaction", "srcdoc",
                                                                      "http-equiv", "xlink:href", "data"})
                                                         .contains(name);
        if (!(link || inside || css || shape))
            found << QStringLiteral("%1=\"%2\" on %3")
                         .arg(QString::fromLatin1(name), QString::fromUtf8(value), QString::fromLatin1(tag));
    }
    return found;
}

// Everything active in the DOM a browser builds from the markup.
QStringList activeParts(const QByteArray &markup)
{
    GumboOptions options = kGumboDefaultOptions;
    GumboOutput *parsed = gumbo_parse_with_options(&options, markup.constData(), size_t(markup.size()));
    QStringList found;
    QVector<const GumboNode *> todo{parsed->root};
    while (!todo.isEmpty()) {
        const GumboNode *node = todo.takeLast();
        if (node->type != GUMBO_NODE_ELEMENT && node->type != GUMBO_NODE_TEMPLATE)
            continue;
        if (node != parsed->root)
            found << activeIn(node->v.element);
        const GumboVector &children = node->v.element.children;
        for (unsigned i = 0; i < children.length; ++i)
            todo << static_cast<const GumboNode *>(children.data[i]);
        if (node->v.element.tag == GUMBO_TAG_STYLE && children.length > 0) {
            const QString css = QString::fromUtf8(static_cast<const GumboNode *>(children.data[0])->v.text.text);
            if (css.contains(QRegularExpression(QStringLiteral("http|//|@import|image-set|url\\(\\s*+(?!['\"]?((data|cid):|#))"),
                                                QRegularExpression::CaseInsensitiveOption)))
                found << QStringLiteral("style sheet %1").arg(css);
        }
    }
    gumbo_destroy_output(&options, parsed);
    return found;
}

// One element re-opened in every paragraph: `bolds` formatting elements, then `paragraphs`
// paragraphs, each of which the parser gives a copy of all of them.
QByteArray reopenedFormatting(int bolds, int paragraphs)
{
    QByteArray markup = "<p>";
    for (int i = 0; i < bolds; ++i)
        markup += "<b id=" + QByteArray::number(i) + '>';
    return markup + "</p>" + QByteArray("<p>x</p>").repeated(paragraphs);
}

QByteArray manyAttributes(int count)
{
    QByteArray markup = "<p";
    for (int i = 0; i < count; ++i)
        markup += " a" + QByteArray::number(i) + "=1";
    return markup + ">x</p>";
}

// An svg element's stack walked by every end tag.
QByteArray foreignStack(int depth)
{
    return "<svg>" + QByteArray("<link>").repeated(depth) + QByteArray("</x>").repeated(depth);
}

QByteArray tableWithoutEndTags(int size)
{
    QByteArray row = "<tr>";
    for (int i = 0; i < 10; ++i)
        row += "<td>" + QByteArray::number(i * 7 % 1000);
    return "<table>" + row.repeated(size / row.size()) + "</table>";
}

const char kAsText[] = "<div style=\"white-space: pre-wrap\">&lt;";

const char kPicture[] = "data:image/png;base64,iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAYAAAAfFcSJAAAADUlEQVR42mP8z8BQDwAEhQ"
                        "GAhKmMIQAAAABJRU5ErkJggg==";

}  // namespace

class InertMarkupTest : public QObject {
    Q_OBJECT

private slots:
    void assertOutsideParseEndsTheProgram();
    void nothingActive_data();
    void nothingActive();
    void unreadableMarkup_data();
    void unreadableMarkup();
    void stopEndsTheParse();
    void stopInsideMessageKeepsNoPage();
    void stopReachesParseBetweenAllocations();
    void bodyColoursFrameTheMessage_data();
    void bodyColoursFrameTheMessage();
    void boundHoldsWithoutTimer();
    void copiedStyleKeptInEveryCopy();
    void noMemoryEndsNoSave();
    void cleanup();
};

void InertMarkupTest::cleanup()
{
    bStopFlag = false;
}

// The parser's escape replaces the C library's assert failure for the whole process: outside a
// parse, and after one that escaped, a failed assert still ends the program.
void InertMarkupTest::assertOutsideParseEndsTheProgram()
{
    const pid_t child = fork();
    QVERIFY(child >= 0);
    if (child == 0) {
        const int null = ::open("/dev/null", O_WRONLY);
        dup2(null, STDERR_FILENO);
        const QByteArray escaped = InertMarkup("<table><svg><select><title><select><td>");
        assert(escaped.isEmpty());
        _exit(0);
    }
    int status = 0;
    QCOMPARE(waitpid(child, &status, 0), child);
    QVERIFY2(WIFSIGNALED(status), qPrintable(QStringLiteral("exit status %1").arg(status)));
    QCOMPARE(WTERMSIG(status), SIGABRT);
}

void InertMarkupTest::nothingActive_data()
{
    QTest::addColumn<QByteArray>("markup");
    QTest::addColumn<QByteArrayList>("shown");  // texts the output still holds
    const QByteArray pic = kPicture;
    QTest::newRow("noscript whose attribute closes it")
        << QByteArray("<p>before</p><noscript><p title=\"</noscript><img src=x onerror=alert(1)>\"></noscript>"
                      "<p>after</p>")
        << QByteArrayList{"<p>before</p>", "<p>after</p>",
                          "<p title=\"&lt;/noscript&gt;&lt;img src=x onerror=alert(1)&gt;\">"};
    QTest::newRow("schemes hidden by entities, blanks and controls")
        << QByteArray("<a href=\"&#106;avascript:alert(1)\">a</a><a href=\"java&#x09;script:alert(1)\">b</a>"
                      "<a href=\"&#x6A;ava&#115;cript&colon;x\">c</a><a href=\" &#14; javascript:x\">d</a>"
                      "<a href=\"jav&NewLine;ascript:x\">e</a><a href=\"vbscript:x\">f</a>"
                      "<a href=\"data:text/html,<script>x</script>\">g</a>")
        << QByteArrayList{"<a>a</a>", "<a>b</a>", "<a>c</a>", "<a>d</a>", "<a>e</a>", "<a>f</a>", "<a>g</a>"};
    QTest::newRow("nested and split script")
        << QByteArray("<scr<script>x</script>ipt>alert(1)</script><script><script>y</script>z</script>"
                      "<SCRIPT SRC=//e.example/x.js></SCRIPT>t")
        << QByteArrayList{"xipt&gt;alert(1)zt"};
    QTest::newRow("svg and math")
        << QByteArray("<svg><script>alert(1)</script><a xlink:href=\"javascript:x\"><text>s</text></a></svg>"
                      "<svg><foreignObject><img src=x onerror=y></foreignObject></svg>"
                      "<math><mtext><table><mglyph><style><img src=x onerror=alert(1)>"
                      "<svg><style><img src=x onerror=y></style></svg><math href=\"javascript:x\">m</math>")
        << QByteArrayList{};
    QTest::newRow("comments")
        << QByteArray("<!--><img src=x onerror=a>--><!-- --!><img src=x onerror=b> --><!--[if gte mso 9]>"
                      "<img src=x onerror=c><![endif]--><? <img src=x onerror=d> ?>k<!-- <img src=x onerror=e>")
        << QByteArrayList{"k"};
    QTest::newRow("handlers, frames, plugins, forms, refresh and base")
        << QByteArray("<img src=\"" + pic
                      + "\" onerror=x() onload=y><iframe srcdoc=\"<script>x</script>\"></iframe><object data=o>"
                        "</object><embed src=e><base href=//e.example/><meta http-equiv=refresh content=0;url=h>"
                        "<form action=https://e.example/><button formaction=h>b</button></form>"
                        "<textarea><!--</textarea><img src=x onerror=y>--></textarea>")
        << QByteArrayList{"<img src=\"" + pic + "\">", "<button>b</button>", "<textarea>&lt;!--</textarea>"};
    QTest::newRow("remote pictures, media and prefetches")
        << QByteArray("<img src=\"https://e.example/p.png\" alt=p><img srcset=\"https://e.example/2x.png 2x\">"
                      "<img src=\"//e.example/p.png\"><image src=http://e.example/i.png>"
                      "<video poster=http://e.example/v.png><source src=http://e.example/v.mp4></video>"
                      "<audio src=http://e.example/a.mp3></audio><link rel=prefetch href=http://e.example/f>"
                      "<link rel=stylesheet href=http://e.example/s.css><input type=image src=http://e.example/b>"
                      "<table background=\"http://e.example/t.png\"><tr><td background=x.png>cell</td></tr></table>"
                      "<picture><source srcset=http://e.example/s.png><img src=\"" + pic + "\"></picture>")
        << QByteArrayList{"<img alt=\"p\">", "<td>cell</td>", "<img src=\"" + pic + "\">"};
    // A browser reads a form feed, CR or CR LF as a line break, which ends a string early.
    QTest::newRow("a string ended early by a line break in a character reference")
        << QByteArray("<div style=\"color:red;x:'a&#12;;background-image:url(http://e.example/ff);y:'\">f</div>"
                      "<p style=\"x:'a&#13;&#10;;background:url(http://e.example/crlf);y:'\">c</p>"
                      "<style>b{x:'a\x0c;background:url(http://e.example/s)}</style>")
        << QByteArrayList{"background-image:none", "background:none"};
    QTest::newRow("remote styles")
        << QByteArray("<style>@import url(http://e.example/a.css); @import 'http://e.example/b.css';"
                      "@\\69mport 'http://e.example/c.css';"
                      "p { background: url( \"http://e.example/p.png\" ) no-repeat; color: red }"
                      "b { background: u\\72l(http://e.example/b.png) } i { background: URL(//e.example/i) }"
                      "u { background: image-set(\"http://e.example/u.png\" 1x) }"
                      "@font-face { font-family: f; src: url(http://e.example/f.woff) }</style>"
                      "<p style=\"background:url(&quot;http://e.example/q.png&quot;);color:blue\">styled</p>"
                      "<div style=\"background-image: url('data:image/png;base64,AA==')\">own</div>")
        << QByteArrayList{"color: red", "color:blue\">styled</p>", "url(&quot;data:image/png;base64,AA==&quot;)"};
    QTest::newRow("the body's look stays, its remote background goes")
        << QByteArray("<html><head><title>t</title><style>p { color: red }</style></head>"
                      "<body bgcolor=\"#eeeeee\" text=navy background=\"http://e.example/b.png\" "
                      "style=\"margin: 0; background: url(http://e.example/s.png)\" onload=x()><p>b</p></body></html>")
        << QByteArrayList{"<style>p { color: red }</style><div class=\"message-body\" style=\"background-color: "
                          "#eeeeee; color: #0a0000; color: navy; margin: 0; background: none\"><p>b</p></div>"};
    QTest::newRow("a word processor's style sheet in comment markers")
        << QByteArray("<style><!--\np.MsoNormal { margin: 0in }\n--></style><p class=MsoNormal>w</p>")
        << QByteArrayList{"<style> \np.MsoNormal { margin: 0in }\n--></style>", "<p class=\"MsoNormal\">w</p>"};
    QTest::newRow("a style text cannot become markup")
        << QByteArray("<style>p::after { content: \"</style><img src=x onerror=y>\" }</style>")
        << QByteArrayList{};
    // The message's direction holds for its text, never for the page's own header lines.
    QTest::newRow("the html element's direction goes around the message, its language on the body")
        << QByteArray("<html dir=\"rtl\" lang=\"he\"><body><p>\u05e9\u05dc\u05d5\u05dd</p></body></html>")
        << QByteArrayList{"<body lang=\"he\"><div dir=\"rtl\"><p>\u05e9\u05dc\u05d5\u05dd</p></div>"};
    QTest::newRow("the body's own direction wins over the html element's")
        << QByteArray("<html dir=rtl lang=ar><body dir=ltr bgcolor=white><p dir=auto>a</p></body></html>")
        << QByteArrayList{"<body lang=\"ar\"><div class=\"message-body\" style=\"background-color: #0000e0; background-color: white;\">"
                          "<div dir=\"ltr\"><p dir=\"auto\">a</p></div></div>"};
    QTest::newRow("a direction in the html element's style")
        << QByteArray("<html style=\"direction: RTL; color: red\"><body><p>x</p></body></html>")
        << QByteArrayList{"<div dir=\"rtl\"><p>x</p></div>"};
    QTest::newRow("a style's direction wins over the dir attribute, and leaves the body's style")
        << QByteArray("<body dir=ltr style=\"margin:0;direction:rtl\"><p>x</p></body>")
        << QByteArrayList{"<div class=\"message-body\" style=\"margin:0;\"><div dir=\"rtl\"><p>x</p></div></div>"};
    QTest::newRow("auto is resolved from the message's text alone")
        << QByteArray("<html dir=\"auto\"><body><p>\u05e9\u05dc\u05d5\u05dd</p></body></html>")
        << QByteArrayList{"<div dir=\"auto\"><p>\u05e9\u05dc\u05d5\u05dd</p></div>"};
    QTest::newRow("hidden text stays hidden")
        << QByteArray("<p hidden>secret</p><div hidden=hidden>also</div>")
        << QByteArrayList{"<p hidden=\"\">secret</p>", "<div hidden=\"hidden\">also</div>"};
    QTest::newRow("old preformatted elements show as pre")
        << QByteArray("<xmp>\n<b>a</b>  b</xmp><listing>\n\nc  d</listing>")
        << QByteArrayList{"<pre>\n\n&lt;b&gt;a&lt;/b&gt;  b</pre>", "<pre>\n\nc  d</pre>"};
    QTest::newRow("a style's reference to a place in the page stays")
        << QByteArray("<p style=\"filter: url(#blur); mask: url( '#m' ); background: url(http://e.example/#x)\">f</p>")
        << QByteArrayList{"filter: url(#blur); mask: url(&quot;#m&quot;); background: none"};
    QTest::newRow("text, tables, styles, links and the message's pictures stay")
        << QByteArray("<table border=1 cellpadding=\"2\" style=\"border-collapse: collapse\"><tr>"
                      "<td style=\"color: #123456; font-weight: bold\">A &amp; B &lt;x&gt;</td>"
                      "<td><a href=\"https://example.com/a?b=1&amp;c=2\" target=_blank>link</a>"
                      "<a href=\"mailto:ann@example.com\">mail</a></td></tr></table><img src=\"cid:part1@x\" "
                      "width=10><font face=Arial color=red>Grüße</font><o:p>word</o:p><br>end")
        << QByteArrayList{"<table border=\"1\" cellpadding=\"2\" style=\"border-collapse: collapse\"><tbody><tr>",
                          "<td style=\"color: #123456; font-weight: bold\">A &amp; B &lt;x&gt;</td>",
                          "<a href=\"https://example.com/a?b=1&amp;c=2\" target=\"_blank\">link</a>",
                          "<a href=\"mailto:ann@example.com\">mail</a>", "<img src=\"cid:part1@x\" width=\"10\">",
                          "<font face=\"Arial\" color=\"red\">Grüße</font>word<br>end"};
}

void InertMarkupTest::nothingActive()
{
    QFETCH(QByteArray, markup);
    QFETCH(QByteArrayList, shown);
    const QByteArray out = InertMarkup(markup);
    const QStringList active = activeParts(out);
    QVERIFY2(active.isEmpty(), qPrintable(active.join(QLatin1Char('\n')) + QLatin1String("\nin ") + out));
    for (const QByteArray &text : shown)
        QVERIFY2(out.contains(text), qPrintable(QLatin1String(text) + QLatin1String(" not in ") + out));
    QCOMPARE(InertMarkup(out), out);
}

// Markup nested thousands deep neither overflows the stack nor keeps the parser busy for minutes,
// markup that makes the parser work or build far beyond its size is cut off by the parse's
// budget, and markup the parser gives up on does not end the program: their source shows as text.
// A large but flat message is still read as markup.
void InertMarkupTest::unreadableMarkup_data()
{
    QTest::addColumn<QByteArray>("markup");
    QTest::addColumn<bool>("asMarkup");
    QTest::newRow("a parser check fails") << QByteArray("<table><svg><select><title><select><td>") << false;
    QTest::newRow("200,000 nested divs") << QByteArray("<div>").repeated(200000) << false;
    QTest::newRow("100,000 nested tables") << QByteArray("<table><tr><td>").repeated(100000) << false;
    QTest::newRow("nesting hidden behind end tags in comments")
        << QByteArray("<b><!--</b>-->").repeated(100000) << false;
    QTest::newRow("40,000 table rows") << "<table>" + QByteArray("<tr><td>a</td><td>b</td></tr>").repeated(40000)
                                                  + "</table>"
                                       << true;
    QTest::newRow("30,000 unclosed paragraphs") << QByteArray("<p>x").repeated(30000) << true;
    QTest::newRow("formatting re-opened in every paragraph: memory") << reopenedFormatting(1000, 2000) << false;
    QTest::newRow("formatting re-opened: a page many times the markup") << reopenedFormatting(20, 4000) << false;
    QTest::newRow("formatting re-opened: a page within bounds") << reopenedFormatting(20, 2000) << true;
    QTest::newRow("40,000 attributes on one tag: time") << manyAttributes(40000) << false;
    QTest::newRow("an svg stack of 40,000 walked by 40,000 end tags: time") << foreignStack(40000) << false;
    QTest::newRow("15,000 nested spans, then 200,000 end tags: time")
        << QByteArray("<span>").repeated(15000) + QByteArray("</x>").repeated(200000) << false;
    // The parser walks its open elements at every character, allocating nothing.
    QTest::newRow("text under 19,000 nested divs: time")
        << QByteArray("<div>").repeated(19000) + "<b>" + QByteArray(1500000, 'x') << false;
    QTest::newRow("text under 35,000 options and spans: time")
        << QByteArray("<option><span>").repeated(35000) + "<b>" + QByteArray(1300000, 'x') << false;
    // Cells need no end tags: a 2 MB data table written so is ordinary markup.
    QTest::newRow("a 2 MB table without the cells' end tags") << tableWithoutEndTags(2000000) << true;
}

void InertMarkupTest::unreadableMarkup()
{
    QFETCH(QByteArray, markup);
    QFETCH(bool, asMarkup);
    // Markup within bounds is checked against the bounds a busy machine does not move: whether
    // its CPU time suffices is the page filter bench's to measure.
    const PageCpuBudgetScale generous(asMarkup ? 20 : 1);
    const QByteArray out = InertMarkup(markup);
    QCOMPARE(out.startsWith(kAsText), !asMarkup);
}

// The parse itself looks at the save's stop flag as it goes: nothing else tells it.
void InertMarkupTest::stopEndsTheParse()
{
    bool stopped = true;
    QVERIFY(InertMarkup("<p>a</p>", &stopped) == "<p>a</p>");
    QVERIFY(!stopped);
    // Over its budget, not stopped.
    InertMarkup(foreignStack(40000), &stopped);
    QVERIFY(!stopped);
    bStopFlag = true;
    QVERIFY(InertMarkup(foreignStack(40000), &stopped).startsWith(kAsText));
    QVERIFY(stopped);
}

// Stop pressed once a message has passed the writer's own test, while its page is made: the page,
// which would not show the message as it is, is not kept, and the save goes no further.
void InertMarkupTest::stopInsideMessageKeepsNoPage()
{
    QVector<OlmXml::MailItem> items(2);
    for (int n = 0; n < 2; ++n) {
        items[n].subject = QStringLiteral("Message %1").arg(n);
        items[n].received = QStringLiteral("2026-12-06T13:26:23Z");
        items[n].from = {{QStringLiteral("sender@example.org"), QStringLiteral("Sender")}};
    }
    items[0].body = QString::fromLatin1("<html><body>" + foreignStack(40000) + "</body></html>");
    items[1].body = QStringLiteral("<html><body><p>after</p></body></html>");
    TestArchiveBuilder b;
    for (int n = 0; n < 2; ++n)
        b.addEntry(QStringLiteral("Local/com.microsoft.__Messages/Inbox/message_%1.xml").arg(n, 5, 10, QLatin1Char('0')),
                   OlmXml::emails({items[n]}));
    const QByteArray archive = b.finish();
    scanBytes(archive);
    ArchiveFile file(archive);
    QVERIFY(file.isOpen());
    QTemporaryDir out;
    MailSaveContext context;
    context.saveDir = out.path();
    context.strTime = QStringLiteral("(7 Dec 2026,10-00-00)");
    // The stop arrives once the first message has passed the writer's own test.
    context.stopRequested = [] {
        const bool before = bStopFlag;
        bStopFlag = true;
        return before;
    };
    QVERIFY(!SaveMailFolder(quint64(mails().first()->llFolderId), HtmlStyle(), context));
    QCOMPARE(context.written, qint64(0));
    QCOMPARE(context.failed, qint64(1));
    QVERIFY2(context.failures.first().contains(QLatin1String("stopped")), qPrintable(context.failures.first()));
    QDirIterator pages(out.path(), QDir::Files, QDirIterator::Subdirectories);
    QVERIFY2(!pages.hasNext(), qPrintable(pages.hasNext() ? pages.next() : QString()));
    CleanScanResults();
}

// A stop reaches a parse that allocates nothing for long, and a stop of its own (the preview's)
// ends it as the save's does.
void InertMarkupTest::stopReachesParseBetweenAllocations()
{
    std::atomic<bool> stop{false};
    std::thread stopper([&stop] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        stop = true;
    });
    bool stopped = false;
    const QByteArray out =
        InertMarkup(QByteArray("<option><span>").repeated(35000) + "<b>" + QByteArray(4000000, 'x'), &stopped, &stop);
    stopper.join();
    QVERIFY(out.startsWith(kAsText));
    QVERIFY(stopped);
}

void InertMarkupTest::bodyColoursFrameTheMessage_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<QByteArray>("rules");
    QTest::newRow("a dark background under light text of its own")
        << QByteArray("<body bgcolor=\"#000000\"><font color=\"#ffffff\">x</font>")
        << QByteArray("<div class=\"message-body\" style=\"background-color: #000000;\"><font color=\"#ffffff\">x</font></div>")
        << QByteArray();
    QTest::newRow("text colour, carried into tables")
        << QByteArray("<body bgcolor=\"#003300\" text=\"#ffff99\"><p>x</p>")
        << QByteArray("<div class=\"message-body\" style=\"background-color: #003300; color: #ffff99;\"><p>x</p></div>")
        << QByteArray("<style>:where(.message-body) table { color: inherit }</style>");
    // As a browser reads a colour attribute: hex without '#', three digits, any word.
    QTest::newRow("colour values read the old way")
        << QByteArray("<body bgcolor=000080 text=#fc0 link=chucknorris vlink=navy>x")
        << QByteArray("<div class=\"message-body\" style=\"background-color: #000080; color: #ffcc00;\">x</div>")
        << QByteArray("<style>:where(.message-body) table { color: inherit } :where(.message-body) a:link { color: "
                      "#c00000; color: chucknorris; } :where(.message-body) a:visited { color: #0a0000; color: navy; }"
                      "</style>");
    QTest::newRow("the body's style, after its attributes, as a browser weighs them")
        << QByteArray("<body bgcolor=white style=\"Color: red; background: url(http://e.example/b)\">x")
        << QByteArray("<div class=\"message-body\" style=\"background-color: #0000e0; background-color: white; Color: red; background: none\">x</div>")
        << QByteArray("<style>:where(.message-body) table { color: inherit }</style>");
    QTest::newRow("no colours, no frame") << QByteArray("<body class=c><p>x</p>") << QByteArray("<body class=\"c\"><p>x</p>")
                                          << QByteArray();
}

// The body's colours show around the message's text: on a frame of their own, where the page's
// fixed style sheet does not beat them, and the page's header lines keep theirs.
void InertMarkupTest::bodyColoursFrameTheMessage()
{
    QFETCH(QByteArray, body);
    QFETCH(QByteArray, frame);
    QFETCH(QByteArray, rules);
    QCOMPARE(InertMarkup("<html>" + body + "</html>"), rules + frame);
}

// Where no timer can be made (no signal may be queued), a parse that allocates nothing for long
// still ends at its CPU bound and at a stop.
void InertMarkupTest::boundHoldsWithoutTimer()
{
    rlimit old{};
    QCOMPARE(getrlimit(RLIMIT_SIGPENDING, &old), 0);
    const rlimit none{0, old.rlim_max};
    QCOMPARE(setrlimit(RLIMIT_SIGPENDING, &none), 0);
    const QByteArray costly = QByteArray("<option><span>").repeated(35000) + "<b>" + QByteArray(1300000, 'x');
    bool stopped = true;
    const QByteArray overBudget = InertMarkup(costly, &stopped);
    std::atomic<bool> stop{false};
    std::thread stopper([&stop] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        stop = true;
    });
    bool stoppedByFlag = false;
    const QByteArray interrupted = InertMarkup(costly, &stoppedByFlag, &stop);
    stopper.join();
    setrlimit(RLIMIT_SIGPENDING, &old);
    QVERIFY(overBudget.startsWith(kAsText));
    QVERIFY(!stopped);
    QVERIFY(interrupted.startsWith(kAsText));
    QVERIFY(stoppedByFlag);
}

// The parser copies a formatting element into every paragraph after it: each copy keeps the
// style as filtered, what loads gone from every one.
void InertMarkupTest::copiedStyleKeptInEveryCopy()
{
    const QByteArray markup = "<!--" + QByteArray(200000, 'p') + "--><p><b style=\"color:red;"
        + QByteArray("@import 'http://h.example/a.css';").repeated(2000)
        + "background:url(http://h.example/x)\">" + QByteArray("<p>x").repeated(300);
    const QByteArray out = InertMarkup(markup);
    QVERIFY(!out.startsWith(kAsText));
    QVERIFY(!out.contains("h.example"));
    QCOMPARE(out.count("<b style=\"color:red;background:none\">x</b>"), 300);
}

// With the address space nearly used up, a message too large to format is counted not saved or
// shown as text; the save neither aborts nor stops.
void InertMarkupTest::noMemoryEndsNoSave()
{
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    QSKIP("the sanitizers' shadow memory takes the address space a limit would leave");
#endif
    QVector<OlmXml::MailItem> items(2);
    for (int n = 0; n < 2; ++n) {
        items[n].subject = QStringLiteral("Message %1").arg(n);
        items[n].received = QStringLiteral("2026-12-06T13:26:23Z");
        items[n].from = {{QStringLiteral("sender@example.org"), QStringLiteral("Sender")}};
    }
    items[0].body = QString::fromLatin1("<html><body>" + tableWithoutEndTags(24000000) + "</body></html>");
    items[1].body = QStringLiteral("<html><body><p>after</p></body></html>");
    TestArchiveBuilder b;
    for (int n = 0; n < 2; ++n)
        b.addEntry(
            QStringLiteral("Local/com.microsoft.__Messages/Inbox/message_%1.xml").arg(n, 5, 10, QLatin1Char('0')),
            OlmXml::emails({items[n]}));
    const QByteArray archive = b.finish();
    items.clear();
    scanBytes(archive);
    ArchiveFile file(archive);
    QVERIFY(file.isOpen());
    QTemporaryDir out;
    const pid_t child = fork();
    QVERIFY(child >= 0);
    if (child == 0) {
        // What the process holds now, and 150 MiB more: too little for the large message, even as text.
        QFile statm(QStringLiteral("/proc/self/statm"));
        statm.open(QIODevice::ReadOnly);
        const rlim_t pages = statm.readAll().split(' ').first().toULongLong();
        const rlimit limit{pages * rlim_t(sysconf(_SC_PAGESIZE)) + (rlim_t(150) << 20), RLIM_INFINITY};
        setrlimit(RLIMIT_AS, &limit);
        MailSaveContext context;
        context.saveDir = out.path();
        context.strTime = QStringLiteral("(7 Dec 2026,10-00-00)");
        const bool finished = SaveMailFolder(quint64(mails().first()->llFolderId), HtmlStyle(), context);
        _exit(finished && context.written + context.failed == 2 && context.written >= 1 ? 0 : 3);
    }
    int status = 0;
    QCOMPARE(waitpid(child, &status, 0), child);
    QVERIFY2(WIFEXITED(status), qPrintable(QStringLiteral("signal %1").arg(WTERMSIG(status))));
    QCOMPARE(WEXITSTATUS(status), 0);
    CleanScanResults();
}

QTEST_GUILESS_MAIN(InertMarkupTest)
#include "tst_inertmarkup.moc"
