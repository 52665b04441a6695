#pragma once
// A mail's markup, a text or an item's preview made ready to show off the window's thread: the
// document built, its pictures decoded and laid out as the view will show it. Markup the window
// could not lay out within a bound shows as the message's text instead. The preview's jobs
// (browse/PreviewJob.h) run these on their workers.

#include "browse/MailPreview.h"
#include "browse/PreviewWriter.h"
#include "browse/SafePreviewDocument.h"

#include <QFont>
#include <QString>
#include <QTextFormat>
#include <QTextOption>

#include <atomic>
#include <memory>
#include <optional>

class PreviewArchive;
class QTextBrowser;

// Markup with each picture that follows a block's end (</p><img>) on a line of its own, as a
// mail body's: the toolkit would add it to that block, the block's text at the picture's foot.
QString PicturesAfterBlocksOnTheirOwnLine(const QString &markup);

// What the preview shows of markup: markup (*html true), or text. Runs on any thread; stop ends
// it early (the result is then empty). width: the view's, for the trial layout.
QString PreparePreviewBody(const QString &body, int width, const std::atomic<bool> &stop, bool *html);

// The text of markup the page filter wrote: tags go, blocks and rows start lines, cells are
// separated by tabs, style sheets go and character references are undone.
QString TextOfInertMarkup(const QByteArray &markup);

namespace previewbody {

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
// The look of view now. Window's thread.
PreviewLook lookOf(QTextBrowser *view);

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

// Each runs on any thread; a stop leaves the result without a document.
// An item's preview written as the view writes (PreviewWriter), starting in the view's character
// format, and laid out.
PreparedBody prepareWritten(const PreviewWrite &write, const QTextCharFormat &format, const PreviewLook &look,
                            const std::atomic<bool> &stop);
// Text, its very long lines broken, laid out.
PreparedBody prepareText(const QString &text, const PreviewLook &look);
// Markup filtered, its pictures (read through archive when not null) decoded and laid out; as its
// text when it passes the preview's bounds.
PreparedBody prepareMarkup(const QString &body, const PreviewLook &look, const InlinePictureEntries &pictures,
                           const PreviewArchive *archive, const std::atomic<bool> &stop);

}  // namespace previewbody
