#include "browse/PreviewJob.h"

#include "browse/ItemListFill.h"
#include "browse/PreviewArchive.h"
#include "browse/PreviewBody.h"
#include "browse/PreviewWriter.h"
#include "browse/SafePreviewDocument.h"
#include "platform/HandOver.h"

#include <QCoreApplication>
#include <QEvent>
#include <QPointer>
#include <QRunnable>
#include <QTextBrowser>
#include <QTextCursor>
#include <QTextDocument>
#include <QThread>
#include <QThreadPool>
#include <QTimer>

#include <memory>
#include <optional>
#include <utility>

using previewbody::lookOf;
using previewbody::PreparedBody;
using previewbody::prepareMarkup;
using previewbody::prepareText;
using previewbody::prepareWritten;
using previewbody::PreviewLook;

namespace {

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
// Takes finished jobs on the window's thread (FinishedJobs); made with the first job.
QObject *gFinishedJobs = nullptr;

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
            gFinishedJobs = nullptr;
        });
    }
    return gPreviewPools[worker];
}

// The preview being prepared; owned by the window's thread.
struct PendingJob {
    std::atomic<bool> stop{false};
    int worker = 0;               // the worker it runs on
    bool handsOver = false;       // its finish gives a pane a document laid out on that worker
    QPointer<QTextBrowser> view;  // the pane that tells it is being prepared, if any
};
std::shared_ptr<PendingJob> gPendingJob;
// What stands for the queues a job goes through (a pool's, to its worker; the application's,
// back to the window's thread) where the checker looks for hand-overs (platform/HandOver.h).
char gToWorker;
char gToWindow;

// A finished job's last step on its way to the window's thread, posted as an event of its own:
// built whole before its hand-over is marked and read only after the window's thread marked it
// taken, so the checker sees the hand-over (a queued call would be built inside the toolkit, after
// any mark the job could make).
class FinishedJob : public QEvent {
public:
    static QEvent::Type kind()
    {
        static const int type = QEvent::registerEventType();
        return QEvent::Type(type);
    }
    explicit FinishedJob(PreviewFinish step) : QEvent(kind()), m_step(std::move(step)) {}
    void run() const
    {
        MarkTaken(&gToWindow);
        m_step();
    }

private:
    PreviewFinish m_step;
};

// Takes finished jobs on the window's thread; it goes with the application, and with it the jobs
// that never ran.
class FinishedJobs : public QObject {
public:
    using QObject::QObject;
    bool event(QEvent *e) override
    {
        if (e->type() != FinishedJob::kind())
            return QObject::event(e);
        static_cast<FinishedJob *>(e)->run();
        return true;
    }
};

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
    const std::shared_ptr<PendingJob> pending = gPendingJob;
    if (!pending)
        return;
    pending->view = view;
    QTimer::singleShot(kPreparingNoticeMs, view, [view, pending, notice] {
        if (gPendingJob == pending)
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

void endPreparing(const std::shared_ptr<PendingJob> &pending)
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
    CancelPreviewJob();
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
    CancelPreviewJob();
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
    CancelPreviewJob();
    auto pending = std::make_shared<PendingJob>();
    pending->worker = gShowingWorker == 0 ? 1 : 0;
    pending->handsOver = handsOverLayout;
    gPendingJob = pending;
    QThreadPool *pool = previewPool(pending->worker);
    FinishedJob::kind();
    if (!gFinishedJobs)
        gFinishedJobs = new FinishedJobs(QCoreApplication::instance());
    QRunnable *job = QRunnable::create([pending, work = std::move(work), receiver = gFinishedJobs] {
        MarkTaken(&gToWorker);
        PreviewFinish finish = work(pending->stop);
        if (!finish)
            return;
        // Back on the window's thread; dropped when another job was asked since. The finishing
        // step goes with the call: freed where it ran, or with the calls never run as the
        // application ends.
        auto *done = new FinishedJob([pending, finish = std::move(finish)] {
            if (gPendingJob != pending)
                return;
            gPendingJob.reset();
            endPreparing(pending);
            if (pending->handsOver)
                gShowingWorker = pending->worker;
            finish();
        });
        MarkHandedOver(&gToWindow);
        QCoreApplication::postEvent(receiver, done);
    });
    MarkHandedOver(&gToWorker);
    pool->start(job);
}

bool PreviewJobPending()
{
    return gPendingJob != nullptr;
}

void CancelPreviewJob()
{
    if (gPendingJob)
        gPendingJob->stop = true;
    endPreparing(std::exchange(gPendingJob, nullptr));
}

void WaitForPreviewWorkers()
{
    for (QThreadPool *pool : gPreviewPools) {
        if (pool)
            pool->waitForDone();
    }
}
