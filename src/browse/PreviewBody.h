#pragma once
// A mail's markup shown in the preview without holding the window: it is read within the saved
// page's bounds and tried out on a worker thread. What the window could not lay out within a
// fraction of a second shows as the message's text instead.

#include "browse/MailPreview.h"

#include <QString>

#include <atomic>
#include <functional>
#include <memory>

class PreviewWriter;
class QTextBrowser;

// Shows the markup body in view once it is ready; until then the view is empty. The document is
// built, its pictures decoded and laid out on a worker; the view is then given that document. A
// later call, or a cancel, drops what an earlier call still prepares.
// The pictures are read through archive (the open archive when null).
void ShowPreviewBody(QTextBrowser *view, const QString &body, const InlinePictureEntries &pictures = {},
                     std::shared_ptr<const PreviewArchive> archive = nullptr);
// Shows text in view the same way: made ready on a worker, whatever its length.
void ShowPreviewText(QTextBrowser *view, const QString &text);
// An item's preview (a note, task, event or contact): what it reads from the archive, decodes and
// writes into the document. Runs on any thread; stop asks it to end early.
using PreviewWrite = std::function<void(PreviewWriter &writer, const std::atomic<bool> &stop)>;
// Up to this many bytes read from the archive, an item's preview is written on the window's
// thread at once: the pane is filled within the click, at a cost no item can raise.
constexpr qint64 kInPlacePreviewReads = 128 * 1024;
// Shows in view (emptied, in its look) what write writes, as the view's own calls would have
// written it. An item that reads more than kInPlacePreviewReads bytes is read, written and laid
// out on the preview's worker, as a body is: a later job, a cancel or another fill of the item
// list drops it, and the pane tells when it takes a while.
void ShowPreviewWritten(QTextBrowser *view, PreviewWrite write, qint64 reads);
// Markup with each picture that follows a block's end (</p><img>) on a line of its own, as a
// mail body's: the toolkit would add it to that block, the block's text at the picture's foot.
QString PicturesAfterBlocksOnTheirOwnLine(const QString &markup);
// The view's property that tells what a shown body came to: "markup" or "text".
constexpr char kPreviewShownAs[] = "previewShownAs";
// Drops whatever the preview still prepares (a body or a mail being read).
void CancelPreviewBody();
// What a preview job hands back; it runs on the window's thread.
using PreviewFinish = std::function<void()>;
// Runs work on the preview's worker, with the job's own stop flag, and what it returns on the
// window's thread, unless a later job or a cancel came first. One job is pending at a time.
// handsOverLayout: its finish gives a pane a document the job laid out.
void StartPreviewJob(std::function<PreviewFinish(const std::atomic<bool> &stop)> work, bool handsOverLayout = false);
// Returns once no body is being prepared any more, dropped ones included.
void WaitForPreviewWorkers();
// A body is being prepared for the view.
bool PreviewBodyPending();

// What the preview shows of markup: markup (*html true), or text. Runs on any thread; stop ends
// it early (the result is then empty). width: the view's, for the trial layout.
QString PreparePreviewBody(const QString &body, int width, const std::atomic<bool> &stop, bool *html);

// The text of markup the page filter wrote: tags go, blocks and rows start lines, cells are
// separated by tabs, style sheets go and character references are undone.
QString TextOfInertMarkup(const QByteArray &markup);
