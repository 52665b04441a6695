#pragma once
// The preview's jobs: what a pane shows that costs reading or laying out is made ready on one of
// the preview's two workers without holding the window, and shown on the window's thread unless
// a later job, a cancel or another fill of the item list came first. One job is pending at a time.

#include "browse/MailPreview.h"
#include "browse/PreviewWriter.h"

#include <QString>

#include <atomic>
#include <functional>
#include <memory>

class PreviewArchive;
class QTextBrowser;

// Shows the markup body in view once it is ready; until then the view is empty. The document is
// built, its pictures decoded and laid out on a worker; the view is then given that document. A
// later call, or a cancel, drops what an earlier call still prepares.
// The pictures are read through archive (the open archive when null).
void ShowPreviewBody(QTextBrowser *view, const QString &body, const InlinePictureEntries &pictures = {},
                     std::shared_ptr<const PreviewArchive> archive = nullptr);
// Shows text in view the same way: made ready on a worker, whatever its length.
void ShowPreviewText(QTextBrowser *view, const QString &text);
// Up to this many bytes read from the archive, an item's preview is written on the window's
// thread at once: the pane is filled within the click, at a cost no item can raise.
constexpr qint64 kInPlacePreviewReads = 128 * 1024;
// Shows in view (emptied, in its look) what write writes, as the view's own calls would have
// written it. An item that reads more than kInPlacePreviewReads bytes is read, written and laid
// out on the preview's worker, as a body is: a later job, a cancel or another fill of the item
// list drops it, and the pane tells when it takes a while.
void ShowPreviewWritten(QTextBrowser *view, PreviewWrite write, qint64 reads);
// The view's property that tells what a shown body came to: "markup" or "text".
constexpr char kPreviewShownAs[] = "previewShownAs";
// Drops whatever the preview still prepares (a body, an item or a mail being read).
void CancelPreviewJob();
// What a preview job hands back; it runs on the window's thread.
using PreviewFinish = std::function<void()>;
// Runs work on the preview's worker, with the job's own stop flag, and what it returns on the
// window's thread, unless a later job or a cancel came first. One job is pending at a time.
// handsOverLayout: its finish gives a pane a document the job laid out.
void StartPreviewJob(std::function<PreviewFinish(const std::atomic<bool> &stop)> work, bool handsOverLayout = false);
// Returns once no job is running any more, dropped ones included.
void WaitForPreviewWorkers();
// A job is pending: its result is still to be shown.
bool PreviewJobPending();
