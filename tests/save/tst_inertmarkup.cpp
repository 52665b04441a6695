// The saved page's markup filter, judged by the DOM a browser builds from its output: no trick a
// message may play leaves anything that runs or loads, its text and own pictures still show, and
// the output reads back to itself, so a second reading cannot turn it into something else.

#include "save/mail/MessageFiles.h"

#include <gumbo.h>

#include <QtTest>

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
            && !QRegularExpression(QStringLiteral("http|//|@import|image-set|url\\(\\s*+(?!['\"]?(data|cid):)"),
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
            if (css.contains(QRegularExpression(QStringLiteral("http|//|@import|image-set|url\\(\\s*+(?!['\"]?(data|cid):)"),
                                                QRegularExpression::CaseInsensitiveOption)))
                found << QStringLiteral("style sheet %1").arg(css);
        }
    }
    gumbo_destroy_output(&options, parsed);
    return found;
}

const char kPicture[] = "data:image/png;base64,iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAYAAAAfFcSJAAAADUlEQVR42mP8z8BQDwAEhQ"
                        "GAhKmMIQAAAABJRU5ErkJggg==";

}  // namespace

class InertMarkupTest : public QObject {
    Q_OBJECT

private slots:
    void nothingActive_data();
    void nothingActive();
    void unreadableMarkup_data();
    void unreadableMarkup();
};

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
    QTest::newRow("remote styles")
        << QByteArray("<style>@import url(http://e.example/a.css); @import 'http://e.example/b.css';"
                      "@\\69mport 'http://e.example/c.css';"
                      "p { background: url( \"http://e.example/p.png\" ) no-repeat; color: red }"
                      "b { background: u\\72l(http://e.example/b.png) } i { background: URL(//e.example/i) }"
                      "u { background: image-set(\"http://e.example/u.png\" 1x) }"
                      "@font-face { font-family: f; src: url(http://e.example/f.woff) }</style>"
                      "<p style=\"background:url(&quot;http://e.example/q.png&quot;);color:blue\">styled</p>"
                      "<div style=\"background-image: url('data:image/png;base64,AA==')\">own</div>")
        << QByteArrayList{"color: red", "color:blue\">styled</p>", "url('data:image/png;base64,AA==')"};
    QTest::newRow("the body's look stays, its remote background goes")
        << QByteArray("<html><head><title>t</title><style>p { color: red }</style></head>"
                      "<body bgcolor=\"#eeeeee\" text=navy background=\"http://e.example/b.png\" "
                      "style=\"margin: 0; background: url(http://e.example/s.png)\" onload=x()><p>b</p></body></html>")
        << QByteArrayList{"<style>p { color: red }</style><body bgcolor=\"#eeeeee\" text=\"navy\" "
                          "style=\"margin: 0; background: none\"><p>b</p>"};
    QTest::newRow("a word processor's style sheet in comment markers")
        << QByteArray("<style><!--\np.MsoNormal { margin: 0in }\n--></style><p class=MsoNormal>w</p>")
        << QByteArrayList{"<style> \np.MsoNormal { margin: 0in }\n--></style>", "<p class=\"MsoNormal\">w</p>"};
    QTest::newRow("a style text cannot become markup")
        << QByteArray("<style>p::after { content: \"</style><img src=x onerror=y>\" }</style>")
        << QByteArrayList{};
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
// and markup the parser gives up on does not end the program: their source shows as text. A large
// but flat message is still read as markup.
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
}

void InertMarkupTest::unreadableMarkup()
{
    QFETCH(QByteArray, markup);
    QFETCH(bool, asMarkup);
    const QByteArray out = InertMarkup(markup);
    QCOMPARE(out.startsWith("<div style=\"white-space: pre-wrap\">&lt;"), !asMarkup);
}

QTEST_GUILESS_MAIN(InertMarkupTest)
#include "tst_inertmarkup.moc"
