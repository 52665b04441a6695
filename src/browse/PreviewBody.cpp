#include "browse/PreviewBody.h"

#include "browse/ItemListFill.h"
#include "browse/MailPreview.h"
#include "browse/PreviewWriter.h"
#include "browse/SafePreviewDocument.h"
#include "platform/HandOver.h"
#include "save/mail/MessageFiles.h"

#include <QAbstractTextDocumentLayout>
#include <QCoreApplication>
#include <QPointer>
#include <QRunnable>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextDocumentFragment>
#include <QTextFormat>
#include <QTextFrame>
#include <QThread>
#include <QThreadPool>
#include <QTimer>

#include <memory>
#include <optional>
#include <utility>

namespace {

// Nesting deeper than this is shown flat: the toolkit's layout slows down steeply with depth, and
// mail's own nesting stays well within it.
constexpr int kPreviewDepth = 24;
// Markup larger than this (its pictures not counted), or with more tags, shows as text: the
// toolkit would take seconds to read it into a document, and reading it is not interrupted.
constexpr int kMaxPreviewMarkup = 2 * 1024 * 1024;
constexpr int kMaxPreviewTags = 60000;
// The document's layout may take this much work (frameWork): the bench's 1.2 MB newsletter stays
// within it and shows as markup after about 2.3 s on a machine at rest, built, decoded and laid
// out on the worker (bench/README.md). The view shows it as laid out here, but lays it out again
// on its own thread when its width changes (the user resizes the pane): a document of more work
// shows as its text. Counted on the mail, never timed, so one mail shows the same way on every
// click and machine.
constexpr qint64 kMaxLayoutWork = 5000000;
// Text lines longer than this are broken: one very long line takes the toolkit seconds to lay
// out, whatever its length on screen.
constexpr int kMaxLineChars = 4096;
// What a block weighs in frameWork beside its characters.
constexpr int kBlockWork = 40;
// A body not ready by then has the pane say that it is being prepared; a quicker one shows at
// once, without the notice flashing first.
constexpr int kPreparingNoticeMs = 150;

// The preview's own workers, owned by the window's thread: two threads, kept, each in a pool of
// its own. Each thread that lays text out keeps fonts of its own (several MiB with the fallback
// faces of other scripts), and a document handed to a pane is drawn with the fonts of the thread
// that laid it out; they live as long as that thread. So the threads are kept (on a shared pool
// every thread that had ever laid a body out kept its fonts, and each archive opened left more
// held), and a job runs on the thread that did not lay out what a pane shows: no thread lays text
// out with fonts the window is drawing with.
QThreadPool *gPreviewPools[2] = {nullptr, nullptr};
// The worker whose laid-out document was handed to a pane last; -1 before the first.
int gShowingWorker = -1;

QThreadPool *previewPool(int worker)
{
    if (!gPreviewPools[0]) {
        for (QThreadPool *&pool : gPreviewPools) {
            pool = new QThreadPool;
            pool->setMaxThreadCount(1);
            pool->setExpiryTimeout(-1);
        }
        // Their threads end while the application, which their layouts use, still stands.
        qAddPostRoutine([] {
            for (QThreadPool *&pool : gPreviewPools)
                delete std::exchange(pool, nullptr);
        });
    }
    return gPreviewPools[worker];
}

// The preview being prepared; owned by the window's thread.
struct PendingBody {
    std::atomic<bool> stop{false};
    int worker = 0;               // the worker it runs on
    bool handsOver = false;       // its finish gives a pane a document laid out on that worker
    QPointer<QTextBrowser> view;  // the pane that tells it is being prepared, if any
};
std::shared_ptr<PendingBody> gPending;
// What stands for the queues a job goes through (a pool's, to its worker; the application's,
// back to the window's thread) where the checker looks for hand-overs (platform/HandOver.h).
char gToWorker;
char gToWindow;

bool isBlockTag(const QByteArray &name)
{
    static const QByteArrayList blocks = {"p",  "div", "br", "tr", "li", "h1", "h2",    "h3",         "h4",     "h5",
                                          "h6", "pre", "hr", "dt", "dd", "ul", "table", "blockquote", "caption"};
    return blocks.contains(name);
}

QString withShortLines(const QString &text)
{
    QString out;
    out.reserve(text.size() + text.size() / kMaxLineChars + 1);
    int run = 0;
    for (const QChar c : text) {
        run = c == QLatin1Char('\n') ? 0 : run + 1;
        if (run > kMaxLineChars) {
            out += QLatin1Char('\n');
            run = 1;
        }
        out += c;
    }
    return out;
}

// The markup without the pictures it carries in data: urls.
QByteArray withoutPictureData(const QByteArray &markup)
{
    QByteArray out;
    int from = 0;
    for (int at = markup.indexOf("=\"data:"); at >= 0; at = markup.indexOf("=\"data:", from)) {
        const int close = markup.indexOf('"', at + 2);
        if (close < 0)
            break;
        out.append(markup.constData() + from, at - from);
        out += "=\"data:,";
        from = close;
    }
    return from == 0 ? markup : out + markup.mid(from);
}

// The markup with each picture that follows the end of a block (</p><img>) starting a line of its
// own, as in a browser: the toolkit would add it to the end of that block, its text then standing
// at the picture's foot. A zero-width space before it makes the toolkit open a block there.
QByteArray withPicturesAfterBlocksOnTheirOwnLine(const QByteArray &markup)
{
    static const QByteArrayList blockEnds = {"</p>",  "</div>", "</h1>",    "</h2>",         "</h3>",
                                             "</h4>", "</h5>",  "</h6>",    "</ul>",         "</ol>",
                                             "</li>", "</pre>", "</table>", "</blockquote>", "</center>"};
    QByteArray out;
    int from = 0;
    for (int at = markup.indexOf("<img"); at >= 0; at = markup.indexOf("<img", at + 4)) {
        int end = at;
        while (end > 0 && QChar::isSpace(uchar(markup.at(end - 1))))
            --end;
        const int open = end > 0 && markup.at(end - 1) == '>' ? markup.lastIndexOf('<', end - 1) : -1;
        if (open < 0 || !blockEnds.contains(markup.mid(open, end - open).toLower()))
            continue;
        out.append(markup.constData() + from, at - from);
        out += "&#8203;";
        from = at;
    }
    return from == 0 ? markup : out + markup.mid(from);
}

// How the view shows its documents: the document built for it looks the same.
struct PreviewLook {
    QFont font;
    QTextOption option;
    qreal margin = 4;
    QString styleSheet;
    int width = 0;   // the view's, without its scroll bar
    int height = 0;  // the view's
    int barWidth = 0;
};

PreviewLook lookOf(QTextBrowser *view)
{
    const QTextDocument *shown = view->document();
    const QScrollBar *bar = view->verticalScrollBar();
    const int barWidth = bar->isVisible() ? bar->width() : 0;
    // A font of the job's own: a copy shares the view's, whose cached faces the window's thread
    // swaps while the worker would use them. Any setter makes it a font of its own.
    QFont font = shown->defaultFont();
    font.setKerning(font.kerning());
    return {font,
            shown->defaultTextOption(),
            shown->documentMargin(),
            shown->defaultStyleSheet(),
            view->viewport()->width() + barWidth,
            view->viewport()->height(),
            bar->sizeHint().width()};
}

std::unique_ptr<SafePreviewDocument> newDocument(const PreviewLook &look)
{
    auto document = std::make_unique<SafePreviewDocument>();
    document->setUndoRedoEnabled(false);
    document->setDefaultFont(look.font);
    document->setDefaultTextOption(look.option);
    document->setDocumentMargin(look.margin);
    document->setDefaultStyleSheet(look.styleSheet);
    return document;
}

// Lays the whole document out at the width the view will give it: its whole width, or less its
// scroll bar when it is taller than the view. Returns whether the scroll bar took its room.
bool layOut(QTextDocument *document, const PreviewLook &look)
{
    document->setTextWidth(qMax(look.width, 100));
    if (document->documentLayout()->documentSize().height() > look.height && look.width - look.barWidth >= 100) {
        document->setTextWidth(look.width - look.barWidth);
        document->documentLayout()->documentSize();
        return true;
    }
    return false;
}

// The document the view shows: the same content as laid, shown through it, so that the window's
// thread never lays it out.
std::unique_ptr<SafePreviewDocument> shownDocument(std::unique_ptr<SafePreviewDocument> laid, const PreviewLook &look)
{
    auto shown = newDocument(look);
    shown->rootFrame()->setFrameFormat(laid->rootFrame()->frameFormat());
    QTextCursor(shown.get()).insertFragment(QTextDocumentFragment(laid.get()));
    for (QTextBlock block = shown->begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextCharFormat format = it.fragment().charFormat();
            if (!format.isImageFormat())
                continue;
            const QUrl name(format.toImageFormat().name());
            shown->addResource(QTextDocument::ImageResource, name, laid->resource(QTextDocument::ImageResource, name));
        }
    }
    HandOverLaidOut(shown.get(), laid.release());
    return shown;
}

// The work laying the document out takes, counted on its content: each character and block once
// per table around it and again for each table around that one (a table lays its cells out to
// measure them, then to place them).
qint64 frameWork(QTextFrame *frame, int depth)
{
    qint64 work = 0;
    for (auto it = frame->begin(); !it.atEnd(); ++it) {
        if (QTextFrame *child = it.currentFrame())
            work += frameWork(child, depth + 1);
        else
            work += qint64(it.currentBlock().length() + kBlockWork) << qMin(depth, 30);
    }
    return work;
}

// Decodes the data: pictures the document shows now, so that laying it out weighs the layout only.
void loadPictures(QTextDocument *document, const std::atomic<bool> &stop)
{
    for (QTextBlock block = document->begin(); block.isValid() && !stop; block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextCharFormat format = it.fragment().charFormat();
            if (format.isImageFormat())
                document->resource(QTextDocument::ImageResource, QUrl(format.toImageFormat().name()));
        }
    }
}

// A body made ready off the window's thread: the document the view is to show, built and laid
// out, and what it shows (the filtered markup, or text).
struct PreparedBody {
    std::unique_ptr<SafePreviewDocument> document;
    QString shown;
    bool html = false;
    // The character format the view writes in next, when the document was written as the view
    // writes (PreviewWriter).
    std::optional<QTextCharFormat> format;
    // Laid out for the width left beside the vertical scroll bar.
    bool besideBar = false;
};

// An item's preview written as the view writes (PreviewWriter), starting in the view's character
// format, and laid out.
PreparedBody prepareWritten(const PreviewWrite &write, const QTextCharFormat &format, const PreviewLook &look,
                            const std::atomic<bool> &stop)
{
    auto laid = newDocument(look);
    QTextCursor cursor(laid.get());
    cursor.setCharFormat(format);
    PreviewWriter writer(cursor);
    write(writer, stop);
    if (stop)
        return PreparedBody();
    PreparedBody prepared;
    prepared.format = writer.cursor().charFormat();
    prepared.besideBar = layOut(laid.get(), look);
    prepared.document = shownDocument(std::move(laid), look);
    return prepared;
}

PreparedBody prepareText(const QString &text, const PreviewLook &look)
{
    PreparedBody prepared;
    prepared.shown = withShortLines(text);
    auto laid = newDocument(look);
    laid->setPlainText(prepared.shown);
    prepared.besideBar = layOut(laid.get(), look);
    prepared.document = shownDocument(std::move(laid), look);
    return prepared;
}

// The longest run of text in the filtered markup with no place to wrap: blanks and characters
// past ASCII (the toolkit breaks between ideographs) end a run; tags do not, and style sheets are
// no text. A word of megabytes takes the toolkit minutes to lay out, however little of it shows.
int longestUnbrokenRun(const QByteArray &markup)
{
    int longest = 0;
    int run = 0;
    for (int at = 0; at < markup.size(); ++at) {
        const char c = markup.at(at);
        if (c == '<') {
            const bool style = markup.mid(at, 6).toLower() == "<style";
            const int end = style ? markup.indexOf("</style", at) : markup.indexOf('>', at);
            if (end < 0)
                break;
            at = end;
            continue;
        }
        const bool breaks = c == ' ' || c == '\t' || c == '\n' || c == '\r' || (static_cast<unsigned char>(c) & 0x80);
        run = breaks ? 0 : run + 1;
        longest = qMax(longest, run);
    }
    return longest;
}

PreparedBody prepareMarkup(const QString &body, const PreviewLook &look, const InlinePictureEntries &pictures,
                           const PreviewArchive *archive, const std::atomic<bool> &stop)
{
    const QByteArray markup = InertMarkup(body.toUtf8(), nullptr, &stop, kPreviewDepth);
    if (stop)
        return PreparedBody();
    // The pictures data: addresses carry are not what the layout's cost grows with.
    const QByteArray weighed = withoutPictureData(markup);
    if (weighed.size() > kMaxPreviewMarkup || weighed.count('<') > kMaxPreviewTags
        || longestUnbrokenRun(weighed) > kMaxLineChars)
        return prepareText(TextOfInertMarkup(markup), look);
    PreparedBody prepared;
    auto laid = newDocument(look);
    if (archive)
        AddInlinePictures(laid.get(), pictures, *archive, &stop);
    prepared.shown = QString::fromUtf8(withPicturesAfterBlocksOnTheirOwnLine(markup));
    laid->setHtml(prepared.shown);
    loadPictures(laid.get(), stop);
    if (stop)
        return PreparedBody();
    if (frameWork(laid->rootFrame(), 0) > kMaxLayoutWork)
        return prepareText(laid->toPlainText().remove(QChar::ObjectReplacementCharacter), look);
    prepared.besideBar = layOut(laid.get(), look);
    prepared.html = true;
    prepared.document = shownDocument(std::move(laid), look);
    return prepared;
}

// A finished document on its way to the window's thread; deleted there unless a view takes it.
// Only the call that carries it holds it, so it goes on the window's thread: when the call has
// run, or when the application drops calls it never ran as it ends (no event may be posted then).
class HandedDocument {
public:
    explicit HandedDocument(QTextDocument *document) : m_document(document) {}
    ~HandedDocument()
    {
        if (m_document && m_document->thread() == QThread::currentThread())
            delete m_document;
    }
    QTextDocument *take() { return std::exchange(m_document, nullptr); }

private:
    QTextDocument *m_document;
};

// Has view tell that the pending body is being prepared, once it has taken a while; the notice
// goes when the body is shown or dropped.
void tellPreparing(QTextBrowser *view, const QString &notice)
{
    const std::shared_ptr<PendingBody> pending = gPending;
    if (!pending)
        return;
    pending->view = view;
    QTimer::singleShot(kPreparingNoticeMs, view, [view, pending, notice] {
        if (gPending == pending)
            view->setPlaceholderText(notice);
    });
}

QString messageNotice()
{
    return QCoreApplication::translate("PreviewBody", "Preparing the message\u2026");
}

// Gives view the prepared document; the window's thread only sets it.
void handOver(QTextBrowser *target, QTextDocument *document, const PreparedBody &prepared)
{
    const bool html = prepared.html;
    const std::optional<QTextCharFormat> &format = prepared.format;
    // Tells tests and benches which it came to.
    target->setProperty(kPreviewShownAs, html ? "markup" : "text");
    // A document laid out beside the vertical bar keeps the bar, scrolling or not: without it the
    // view would lay it out wider, a picture fitted to the pane would grow taller than the pane,
    // the bar come back and the picture stand a few pixels past the narrower pane.
    target->setVerticalScrollBarPolicy(prepared.besideBar ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAsNeeded);
    QTextDocument *earlier = target->document();
    document->setParent(target);
    target->setDocument(document);
    // What the view writes in next, as had the document been written in the view.
    if (format)
        target->setCurrentCharFormat(*format);
    // The view lays out and repaints on its own only for a layout of the toolkit's; one laid out
    // already announces nothing, and the pane would keep its earlier pixels.
    target->viewport()->update();
    // The view's earlier document was its child: nothing else would free it.
    if (earlier && earlier != document && earlier->parent() == target)
        earlier->deleteLater();
}

void endPreparing(const std::shared_ptr<PendingBody> &pending)
{
    if (pending && pending->view)
        pending->view->setPlaceholderText(QString());
}

// Prepares a body on a worker and gives the view the finished document: the window's thread
// only sets it. A later call, or a cancel, drops what an earlier one still prepares, and so does
// another fill of the item list.
template <typename Prepare>
void showPrepared(QTextBrowser *view, Prepare prepare, const QString &notice = messageNotice())
{
    CancelPreviewBody();
    UseSafePreviewDocument(view);
    view->clear();
    view->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    view->setProperty(kPreviewShownAs, QVariant());
    const PreviewLook look = lookOf(view);
    QThread *windowThread = view->thread();
    QPointer<QTextBrowser> target(view);
    const quint64 serial = g_itemListFillSerial;
    StartPreviewJob(
        [prepare, look, windowThread, target, serial](const std::atomic<bool> &stop) -> PreviewFinish {
            PreparedBody prepared = prepare(look, stop);
            if (stop || !prepared.document)
                return nullptr;
            prepared.document->moveToThread(windowThread);
            prepared.shown.clear();
            auto handed = std::make_shared<HandedDocument>(prepared.document.release());
            return [handed, prepared = std::make_shared<PreparedBody>(std::move(prepared)), target, serial] {
                if (target && serial == g_itemListFillSerial)
                    handOver(target, handed->take(), *prepared);
            };
        },
        true);
    tellPreparing(view, notice);
}

}  // namespace

QString TextOfInertMarkup(const QByteArray &markup)
{
    QByteArray text;
    text.reserve(markup.size());
    int i = 0;
    while (i < markup.size()) {
        const char c = markup[i];
        if (c != '<') {
            text += c;
            ++i;
            continue;
        }
        const int close = markup.indexOf('>', i);
        if (close < 0)
            break;
        const bool end = markup[i + 1] == '/';
        QByteArray name = markup.mid(i + (end ? 2 : 1), close - i - (end ? 2 : 1));
        const int blank = name.indexOf(' ');
        name = (blank < 0 ? name : name.left(blank)).toLower();
        i = close + 1;
        if (name == "style" && !end) {
            const int after = markup.indexOf("</style>", i);
            i = after < 0 ? markup.size() : after + 8;
        } else if (name == "td" || name == "th") {
            if (!end)
                text += '\t';
        } else if (isBlockTag(name) && !text.endsWith('\n') && !text.isEmpty()) {
            text += '\n';
        }
    }
    return QString::fromUtf8(text)
        .replace(QLatin1String("&lt;"), QLatin1String("<"))
        .replace(QLatin1String("&gt;"), QLatin1String(">"))
        .replace(QLatin1String("&quot;"), QLatin1String("\""))
        .replace(QLatin1String("&amp;"), QLatin1String("&"));
}

QString PicturesAfterBlocksOnTheirOwnLine(const QString &markup)
{
    if (!markup.contains(QLatin1String("<img")))
        return markup;
    return QString::fromUtf8(withPicturesAfterBlocksOnTheirOwnLine(markup.toUtf8()));
}

QString PreparePreviewBody(const QString &body, int width, const std::atomic<bool> &stop, bool *html)
{
    PreviewLook look;
    look.width = width;
    const PreparedBody prepared = prepareMarkup(body, look, {}, nullptr, stop);
    *html = prepared.html;
    return prepared.shown;
}

void ShowPreviewBody(QTextBrowser *view, const QString &body, const InlinePictureEntries &pictures,
                     std::shared_ptr<const PreviewArchive> archive)
{
    if (!pictures.isEmpty() && !archive)
        archive = PreviewArchive::OfOpenArchive();
    showPrepared(view, [body, pictures, archive](const PreviewLook &look, const std::atomic<bool> &stop) {
        return prepareMarkup(body, look, pictures, archive.get(), stop);
    });
}

void ShowPreviewText(QTextBrowser *view, const QString &text)
{
    showPrepared(view, [text](const PreviewLook &look, const std::atomic<bool> &) { return prepareText(text, look); });
}

void ShowPreviewWritten(QTextBrowser *view, PreviewWrite write, qint64 reads)
{
    if (reads > kInPlacePreviewReads) {
        const QTextCharFormat format = view->currentCharFormat();
        showPrepared(
            view,
            [write = std::move(write), format](const PreviewLook &look, const std::atomic<bool> &stop) {
                return prepareWritten(write, format, look, stop);
            },
            QCoreApplication::translate("PreviewBody", "Preparing the item\u2026"));
        return;
    }
    CancelPreviewBody();
    UseSafePreviewDocument(view);
    view->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    view->setProperty(kPreviewShownAs, QVariant());
    const std::atomic<bool> going{false};
    PreviewWriter writer(view->textCursor());
    write(writer, going);
    view->setCurrentCharFormat(writer.cursor().charFormat());
}

void StartPreviewJob(std::function<PreviewFinish(const std::atomic<bool> &stop)> work, bool handsOverLayout)
{
    CancelPreviewBody();
    auto pending = std::make_shared<PendingBody>();
    pending->worker = gShowingWorker == 0 ? 1 : 0;
    pending->handsOver = handsOverLayout;
    gPending = pending;
    QThreadPool *pool = previewPool(pending->worker);
    MarkHandedOver(&gToWorker);
    pool->start(QRunnable::create([pending, work = std::move(work)] {
        MarkTaken(&gToWorker);
        PreviewFinish finish = work(pending->stop);
        if (!finish)
            return;
        // Back on the window's thread; dropped when another job was asked since. The finishing
        // step goes with the call: freed where it ran, or with the calls never run as the
        // application ends.
        MarkHandedOver(&gToWindow);
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [pending, finish = std::move(finish)] {
                MarkTaken(&gToWindow);
                if (gPending != pending)
                    return;
                gPending.reset();
                endPreparing(pending);
                if (pending->handsOver)
                    gShowingWorker = pending->worker;
                finish();
            },
            Qt::QueuedConnection);
    }));
}

bool PreviewBodyPending()
{
    return gPending != nullptr;
}

void CancelPreviewBody()
{
    if (gPending)
        gPending->stop = true;
    endPreparing(std::exchange(gPending, nullptr));
}

void WaitForPreviewWorkers()
{
    for (QThreadPool *pool : gPreviewPools) {
        if (pool)
            pool->waitForDone();
    }
}
