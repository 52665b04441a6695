// The mail preview's body: markup is read through the page filter and tried out off the window's
// thread; what would hold the window shows as the message's text, a stop drops it, and only the
// body asked last reaches the view.

#include "TestFiles.h"
#include "browse/MailPreview.h"
#include "browse/PreviewArchive.h"
#include "browse/PreviewBody.h"
#include "browse/PreviewJob.h"
#include "browse/SafePreviewDocument.h"
#include "platform/WorkerGlobals.h"
#include "save/AttachmentIndex.h"
#include "save/MessageFields.h"
#include "save/mail/BoundedParse.h"
#include "scanner/ScanGlobals.h"

#include <QAbstractTextDocumentLayout>
#include <QTextBlock>
#include <QtEndian>
#include <QTextBrowser>
#include <QScrollBar>
#include <QtTest>

#include <fcntl.h>
#include <unistd.h>

class PreviewBodyTest : public QObject {
    Q_OBJECT

private slots:
    void markupOrText_data();
    void markupOrText();
    void stopDropsTheBody();
    void onlyTheLastBodyShows();
    void textOfFilteredMarkup_data();
    void textOfFilteredMarkup();
    void handedOverDocumentFollowsTheView();
    void handedOverPicturesAreDrawn();
    void picturesWithinTheirBounds_data();
    void picturesWithinTheirBounds();
    void eachPictureEntryOnce();
    void jobReadsTheArchiveItWasGiven();
    void largePictureUnderItsText_data();
    void largePictureUnderItsText();
    void laysOutOffTheThreadOfTheShownDocument();
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
    // One word of megabytes has nowhere to wrap: as text its line is broken, as markup it would
    // take minutes to lay out. Style sheets, ideographs and long words within bounds stay markup.
    QTest::newRow("a word of 1.4 MB shows as text")
        << QString(QStringLiteral("<article>").repeated(30) + QString(1400000, QLatin1Char('x'))) << false
        << QString(4096, QLatin1Char('x')) << QString(4097, QLatin1Char('x'));
    QTest::newRow("minified style and long words stay markup")
        << QString(QStringLiteral("<style>") + QStringLiteral("p{color:red}").repeated(2000) + QStringLiteral("</style><p>")
                   + QString(3000, QLatin1Char('w')) + QStringLiteral(" <b>") + QString(6000, QChar(0x6587))
                   + QStringLiteral("</b></p>"))
        << true << QStringLiteral("<b>") << QString();
    // Whether markup is laid out is counted on the mail (its characters, once per table around
    // them and again per table around that), never timed: one mail shows one way on every click.
    const auto nested = [](int depth) {
        return QString(QStringLiteral("<table><tr><td>").repeated(depth) + QStringLiteral("some words ").repeated(18000)
                       + QStringLiteral("</td></tr></table>").repeated(depth));
    };
    QTest::newRow("text in one table stays markup") << nested(1) << true << QStringLiteral("some words") << QString();
    QTest::newRow("the same text six tables deep shows as text")
        << nested(6) << false << QStringLiteral("some words") << QStringLiteral("<td");
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
    // Only the deep nesting is to run out of the parse's time; the others are checked against the
    // bounds a busy machine does not move.
    const PageCpuBudgetScale generous(QByteArray(QTest::currentDataTag()).startsWith("text under deep nesting") ? 1 : 20);
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
    const QByteArray png = PngOf(4, Qt::green);
    const QUrl picture(QStringLiteral("data:image/png;base64,") + QString::fromLatin1(png.toBase64()));
    ShowPreviewBody(&view, QStringLiteral("<p>second</p><img src=\"%1\">").arg(picture.toString()));
    QTRY_COMPARE_WITH_TIMEOUT(view.property(kPreviewShownAs).toString(), QStringLiteral("markup"), 20000);
    // The picture has a line of its own, opened by an invisible space.
    QCOMPARE(view.toPlainText().remove(QChar::ObjectReplacementCharacter).remove(QChar(0x200B)).trimmed(),
             QStringLiteral("second"));
    QVERIFY(!qvariant_cast<QImage>(view.document()->resource(QTextDocument::ImageResource, picture)).isNull());
    // Long enough for the first to have ended: it is dropped.
    WaitForPreviewWorkers();
    QCoreApplication::processEvents();
    QVERIFY(view.toPlainText().startsWith(QLatin1String("second")));
    ShowPreviewBody(&view, QString(QStringLiteral("<table>") + QStringLiteral("<tr><td>slow<td>b").repeated(40000)));
    CancelPreviewJob();
    WaitForPreviewWorkers();
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

// The view shows the document laid out on the worker: it measures and hits through it, follows
// a new width, and once emptied lays its own content out again.
void PreviewBodyTest::handedOverDocumentFollowsTheView()
{
    QTextBrowser view;
    view.resize(600, 400);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    ShowPreviewBody(&view, QStringLiteral("<table width=\"100%\"><tr><td><p>first cell</p></td><td>second</td></tr>"
                                          "</table><p>") + QStringLiteral("words ").repeated(2000) + "</p>");
    QTRY_COMPARE_WITH_TIMEOUT(view.property(kPreviewShownAs).toString(), QStringLiteral("markup"), 20000);
    QTextDocument *document = view.document();
    QVERIFY(qobject_cast<SafePreviewDocument *>(document));
    QVERIFY(view.toPlainText().contains(QLatin1String("first cell")));
    const QSizeF size = document->documentLayout()->documentSize();
    QVERIFY(size.height() > view.viewport()->height());
    // A point on the first cell's text names a place inside that text.
    const int at = document->documentLayout()->hitTest(QPointF(20, 12), Qt::FuzzyHit);
    QVERIFY2(at >= 0 && at < document->characterCount(), qPrintable(QString::number(at)));
    QCOMPARE(document->documentLayout()->blockBoundingRect(document->findBlock(at)).isValid(), true);
    // Half as wide: the text takes about twice as many lines.
    view.resize(300, 400);
    QTRY_VERIFY(document->documentLayout()->documentSize().height() > 1.5 * size.height());
    // Emptied and written again as other previews write it: laid out as written.
    view.clear();
    view.append(QStringLiteral("contact line"));
    QCOMPARE(view.toPlainText(), QStringLiteral("contact line"));
    QVERIFY(document->documentLayout()->documentSize().height() > 0);
    QVERIFY(document->documentLayout()->documentSize().height() < view.viewport()->height());
}

// A picture the body carries is drawn where the document placed it.
void PreviewBodyTest::handedOverPicturesAreDrawn()
{
    QTextBrowser view;
    view.resize(400, 300);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    QImage red(100, 100, QImage::Format_RGB32);
    red.fill(Qt::red);
    ShowPreviewBody(&view, QStringLiteral("<html><body><img src=\"data:image/png;base64,%1\"></body></html>")
                               .arg(QString::fromLatin1(PngOf(red).toBase64())));
    QTRY_COMPARE_WITH_TIMEOUT(view.property(kPreviewShownAs).toString(), QStringLiteral("markup"), 20000);
    QTRY_COMPARE(view.viewport()->grab().toImage().pixelColor(50, 50), QColor(Qt::red));
}

void PreviewBodyTest::picturesWithinTheirBounds_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<qint64>("room");
    QTest::addColumn<bool>("shown");
    QImage small(40, 30, QImage::Format_RGB32);
    small.fill(Qt::red);
    const QByteArray smallPng = PngOf(small);
    QTest::newRow("a small picture as it is") << smallPng << kMaxPreviewPicturesBytes << true;
    QTest::newRow("no room left for it") << smallPng << qint64(40 * 30 * 4 - 1) << false;
    QTest::newRow("not a picture") << QByteArray("GIF89a not really") << kMaxPreviewPicturesBytes << false;
    // The header of a small file claims 60000 x 60000: never decoded at that size.
    QByteArray claims = smallPng;
    const quint32 side = qToBigEndian<quint32>(60000);
    claims.replace(16, 4, reinterpret_cast<const char *>(&side), 4);
    claims.replace(20, 4, reinterpret_cast<const char *>(&side), 4);
    QTest::newRow("a huge claimed size") << claims << kMaxPreviewPicturesBytes << false;
    QImage large(4400, 4400, QImage::Format_RGB32);
    large.fill(Qt::blue);
    QTest::newRow("larger than the pixel bound: scaled") << PngOf(large) << kMaxPreviewPicturesBytes << true;
}

void PreviewBodyTest::picturesWithinTheirBounds()
{
    QFETCH(QByteArray, bytes);
    QFETCH(qint64, room);
    QFETCH(bool, shown);
    const QImage picture = DecodePreviewPicture(bytes, room);
    QCOMPARE(!picture.isNull(), shown);
    QVERIFY(qint64(picture.width()) * picture.height() <= kMaxPreviewPicturePixels);
    QVERIFY(picture.sizeInBytes() <= room);
}

// Every content id that names one entry, and every attachment under one content id, come to
// that entry once: it is read and decoded once however the mail names it.
void PreviewBodyTest::eachPictureEntryOnce()
{
    QByteArray names[3] = {"a/one", "a/two", "a/three"};
    FileOffsetNode nodes[3] = {};
    for (int i = 0; i < 3; ++i) {
        nodes[i].llSize = 100 + i;
        nodes[i].llDataOffset = 1000 * (i + 1);
        nodes[i].pEntryName = names[i].data();
        nodes[i].pNext = i < 2 ? &nodes[i + 1] : nullptr;
    }
    nodes[2].bCompressed = 1;
    const AttachmentIndex index(nodes);
    MailMessageFields fields;
    const auto attach = [&fields](const char *id, const char *url) {
        AttachmentInfo a;
        a.contentId = QLatin1String(id);
        a.url = QLatin1String(url);
        fields.attachments.append(a);
    };
    for (int i = 0; i < 300; ++i)
        attach("same@x", "a/one");
    attach("x1@x", "a/two");
    attach("x2@x", "a/two");
    attach("x3@x", "a/two");
    attach("packed@x", "a/three");
    attach("packed@x", "a/one");
    attach("unnamed@x", "a/two");
    const QString body = QStringLiteral("<img src=\"cid:same@x\"><img src=\"cid:x1@x\"><img src='cid:x2@x'>"
                                        "<img src=cid:x3@x><img src=\"cid:packed@x\"><img src=\"cid:same@x\">");
    const InlinePictureEntries entries = InlinePicturesOf(body, fields, index);
    QCOMPARE(entries.size(), 2);
    QCOMPARE(entries.at(0).offset, qint64(1000));
    // A compressed entry is passed over for the next attachment of its content id.
    QCOMPARE(entries.at(0).contentIds, (QStringList{QStringLiteral("same@x"), QStringLiteral("packed@x")}));
    QCOMPARE(entries.at(1).offset, qint64(2000));
    QCOMPARE(entries.at(1).contentIds,
             (QStringList{QStringLiteral("x1@x"), QStringLiteral("x2@x"), QStringLiteral("x3@x")}));
}

// A preview job reads the archive that was open when it began, with its pictures, though the
// window closes that archive and opens another (which may get the same descriptor number).
void PreviewBodyTest::jobReadsTheArchiveItWasGiven()
{
    QTemporaryDir dir;
    const QByteArray picture = PngOf(40, Qt::red);
    const QString first = dir.filePath(QStringLiteral("first.olm"));
    const QString second = dir.filePath(QStringLiteral("second.olm"));
    QVERIFY(WriteTestFile(first, QByteArray("head") + picture));
    QVERIFY(WriteTestFile(second, QByteArray(picture.size() + 4, 'x')));
    const int savedFd = fileDescriptor;
    const qint64 savedSize = lSize;
    fileDescriptor = ::open(QFile::encodeName(first).constData(), O_RDONLY);
    QVERIFY(fileDescriptor >= 0);
    lSize = picture.size() + 4;
    const std::shared_ptr<const PreviewArchive> archive = PreviewArchive::OfOpenArchive();
    ::close(fileDescriptor);
    fileDescriptor = ::open(QFile::encodeName(second).constData(), O_RDONLY);
    QCOMPARE(archive->read(4, picture.size(), picture.size()), picture);

    QTextBrowser view;
    view.resize(300, 300);
    InlinePictureEntry entry;
    entry.contentIds = QStringList{QStringLiteral("p")};
    entry.offset = 4;
    entry.size = picture.size();
    ShowPreviewBody(&view, QStringLiteral("<html><body><img src=\"cid:p\"></body></html>"), {entry}, archive);
    QTRY_VERIFY_WITH_TIMEOUT(!PreviewJobPending(), 20000);
    QCOMPARE(view.property(kPreviewShownAs).toString(), QStringLiteral("markup"));
    const QImage shown = qvariant_cast<QImage>(view.document()->resource(QTextDocument::ImageResource, QUrl("cid:p")));
    QCOMPARE(shown.size(), QSize(40, 40));
    ::close(fileDescriptor);
    fileDescriptor = savedFd;
    lSize = savedSize;
}

namespace {

QImage picture(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(Qt::blue);
    return image;
}

}  // namespace

void PreviewBodyTest::largePictureUnderItsText_data()
{
    QTest::addColumn<int>("side");
    QTest::addColumn<int>("height");
    QTest::addColumn<QString>("width");
    QTest::newRow("3,000 px") << 3000 << 3000 << QString();
    QTest::newRow("5,000 px, decoded scaled") << 5000 << 5000 << QString();
    QTest::newRow("3,000 px shown 300 wide") << 3000 << 3000 << QStringLiteral(" width=300");
    // Fitted to the whole pane it is taller than the pane, fitted beside the vertical bar it is not.
    QTest::newRow("taller than the pane only without the bar") << 3000 << 2040 << QString();
}

// A picture after a paragraph starts a line of its own under that paragraph's text, and one wider
// than the pane is shown at the pane's width: the text and the picture's top are in view.
void PreviewBodyTest::largePictureUnderItsText()
{
    QFETCH(int, side);
    QFETCH(int, height);
    QFETCH(QString, width);
    QTextBrowser view;
    view.resize(500, 400);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    ShowPreviewBody(&view, QStringLiteral("<html><body><p>BEFORE text</p><img%1 src=\"data:image/png;base64,%2\">"
                                          "<p>AFTER text</p></body></html>")
                               .arg(width, QString::fromLatin1(PngOf(picture(side, height)).toBase64())));
    QTRY_VERIFY_WITH_TIMEOUT(!PreviewJobPending(), 20000);
    QTextDocument *document = view.document();
    const QTextBlock before = document->findBlock(0);
    QCOMPARE(before.text(), QStringLiteral("BEFORE text"));
    QTextBlock picture = before.next();
    QVERIFY(picture.text().endsWith(QChar::ObjectReplacementCharacter));
    const QRectF textBox = document->documentLayout()->blockBoundingRect(before);
    const QRectF pictureBox = document->documentLayout()->blockBoundingRect(picture);
    QVERIFY(textBox.bottom() <= pictureBox.top());
    QVERIFY2(pictureBox.top() < 100, qPrintable(QString::number(pictureBox.top())));
    QVERIFY(pictureBox.width() <= view.viewport()->width());
    // A picture fitted to the pane never needs sideways scrolling, also once the vertical bar has
    // taken its room, and the view settles on one width instead of laying it out again and again.
    for (int turn = 0; turn < 20; ++turn) {
        QTest::qWait(10);
        QCOMPARE(view.horizontalScrollBar()->maximum(), 0);
        QVERIFY(view.document()->documentLayout()->documentSize().width() <= view.viewport()->width());
    }
}

// A handed-over document is drawn with the fonts of the thread that laid it out: the next job,
// whatever it is, runs on another thread, so no two threads use those fonts at once.
void PreviewBodyTest::laysOutOffTheThreadOfTheShownDocument()
{
    QThread *shown = nullptr;
    for (int round = 0; round < 4; ++round) {
        QThread *ran = nullptr;
        bool done = false;
        StartPreviewJob(
            [&ran, &done](const std::atomic<bool> &) -> PreviewFinish {
                ran = QThread::currentThread();
                return [&done] { done = true; };
            },
            true);
        QTRY_VERIFY_WITH_TIMEOUT(done, 20000);
        QVERIFY(ran && ran != QThread::currentThread());
        QVERIFY(ran != shown);
        shown = ran;
    }
}

QTEST_MAIN(PreviewBodyTest)
#include "tst_previewbody.moc"
