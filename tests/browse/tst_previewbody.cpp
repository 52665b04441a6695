// The mail preview's body: markup is read through the page filter and tried out off the window's
// thread; what would hold the window shows as the message's text, a stop drops it, and only the
// body asked last reaches the view.

#include "browse/PreviewBody.h"
#include "browse/SafePreviewDocument.h"
#include "platform/WorkerGlobals.h"

#include <QBuffer>
#include <QTextBrowser>
#include <QtTest>

class PreviewBodyTest : public QObject {
    Q_OBJECT

private slots:
    void markupOrText_data();
    void markupOrText();
    void stopDropsTheBody();
    void onlyTheLastBodyShows();
    void textOfFilteredMarkup_data();
    void textOfFilteredMarkup();
};

void PreviewBodyTest::markupOrText_data()
{
    QTest::addColumn<QString>("body");
    QTest::addColumn<bool>("asMarkup");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<QString>("gone");
    QTest::newRow("a short mail stays markup, without what would load")
        << QStringLiteral("<html><body><p style=\"background:url(http://h.example/t)\">Hello <b>you</b></p>"
                          "<img src=\"http://h.example/p.png\"><script>x()</script></body></html>")
        << true << QStringLiteral("<b>you</b>") << QStringLiteral("h.example");
    // Markup the parser cannot read within its bounds shows as its source.
    QTest::newRow("text under deep nesting shows as text")
        << QString(QStringLiteral("<div>").repeated(19000) + QStringLiteral("<b>") + QString(300000, QLatin1Char('x')))
        << false << QStringLiteral("<div><div>") << QString();
    // Too large to lay out in a fraction of a second: the table's text, a row a line.
    QTest::newRow("a large table shows as its text") << QString(
        QStringLiteral("<table>") + QStringLiteral("<tr><td>a1<td>b2").repeated(60000) + QStringLiteral("</table>"))
                                                     << false << QStringLiteral("\ta1\tb2\n") << QStringLiteral("<td>");
    QTest::newRow("deep nesting is laid out flat, its line breaks kept")
        << QString(QStringLiteral("<span>").repeated(3000) + QStringLiteral("a<br>b")) << true
        << QStringLiteral("a<br>b")
        << QStringLiteral("<span><span><span><span><span><span><span><span><span><span>"
                          "<span><span><span><span><span><span><span><span><span>"
                          "<span><span><span><span><span><span>");
}

void PreviewBodyTest::markupOrText()
{
    QFETCH(QString, body);
    QFETCH(bool, asMarkup);
    QFETCH(QString, shown);
    QFETCH(QString, gone);
    std::atomic<bool> stop{false};
    bool html = !asMarkup;
    const QString out = PreparePreviewBody(body, 800, stop, &html);
    if (asMarkup) {
        QVERIFY(html);
        QVERIFY2(out.contains(shown), qPrintable(out.left(300)));
        if (!gone.isEmpty())
            QVERIFY2(!out.contains(gone), qPrintable(out.left(300)));
        return;
    }
    // Text, or the page filter's markup that shows the source as text: what the reader sees.
    QString seen = out;
    if (html) {
        QTextDocument document;
        document.setHtml(out);
        seen = document.toPlainText();
    }
    QVERIFY2(seen.contains(shown), qPrintable(seen.left(300)));
    if (!gone.isEmpty())
        QVERIFY2(!seen.contains(gone), qPrintable(seen.left(300)));
}

void PreviewBodyTest::stopDropsTheBody()
{
    std::atomic<bool> stop{true};
    bool html = true;
    QVERIFY(PreparePreviewBody(QStringLiteral("<p>a</p>"), 800, stop, &html).isEmpty());
    QVERIFY(!html);
    // A save's stop, which stays asked until the next save, is not the preview's.
    stop = false;
    bStopFlag = true;
    const QString out = PreparePreviewBody(QStringLiteral("<p>a</p>"), 800, stop, &html);
    bStopFlag = false;
    QVERIFY(html);
    QVERIFY(out.contains(QLatin1String("<p>a</p>")));
}

// A body still prepared when the next is asked never replaces it.
void PreviewBodyTest::onlyTheLastBodyShows()
{
    QTextBrowser view;
    UseSafePreviewDocument(&view);
    ShowPreviewBody(&view, QString(QStringLiteral("<table>") + QStringLiteral("<tr><td>slow<td>b").repeated(40000)));
    // A picture the message carries, decoded with the document.
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    QImage(4, 4, QImage::Format_RGB32).save(&buffer, "PNG");
    const QUrl picture(QStringLiteral("data:image/png;base64,") + QString::fromLatin1(png.toBase64()));
    ShowPreviewBody(&view, QStringLiteral("<p>second</p><img src=\"%1\">").arg(picture.toString()));
    QTRY_COMPARE_WITH_TIMEOUT(view.property(kPreviewShownAs).toString(), QStringLiteral("markup"), 20000);
    QCOMPARE(view.toPlainText().trimmed().remove(QChar::ObjectReplacementCharacter), QStringLiteral("second"));
    QVERIFY(!qvariant_cast<QImage>(view.document()->resource(QTextDocument::ImageResource, picture)).isNull());
    // Long enough for the first to have ended: it is dropped.
    QThreadPool::globalInstance()->waitForDone();
    QCoreApplication::processEvents();
    QVERIFY(view.toPlainText().startsWith(QLatin1String("second")));
    ShowPreviewBody(&view, QString(QStringLiteral("<table>") + QStringLiteral("<tr><td>slow<td>b").repeated(40000)));
    CancelPreviewBody();
    QThreadPool::globalInstance()->waitForDone();
    QCoreApplication::processEvents();
    QVERIFY(view.toPlainText().isEmpty());
}

void PreviewBodyTest::textOfFilteredMarkup_data()
{
    QTest::addColumn<QByteArray>("markup");
    QTest::addColumn<QString>("text");
    QTest::newRow("blocks and rows start lines, cells are tabbed")
        << QByteArray("<p>a</p><div>b<br>c</div><table><tr><td>1</td><td>2</td></tr><tr><td>3</td></tr></table>")
        << QStringLiteral("a\nb\nc\n\t1\t2\n\t3\n");
    QTest::newRow("style sheets go, their '>' with them")
        << QByteArray("<style>p > b { color: red }</style><p>x</p>") << QStringLiteral("x\n");
    QTest::newRow("character references are undone once")
        << QByteArray("<div style=\"white-space: pre-wrap\">&lt;b&gt; &amp;lt; &quot;q&quot;</div>")
        << QStringLiteral("<b> &lt; \"q\"\n");
}

void PreviewBodyTest::textOfFilteredMarkup()
{
    QFETCH(QByteArray, markup);
    QFETCH(QString, text);
    QCOMPARE(TextOfInertMarkup(markup), text);
}

QTEST_MAIN(PreviewBodyTest)
#include "tst_previewbody.moc"
