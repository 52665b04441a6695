#pragma once
// The pieces of the mail preview that lie in files of their own: the header's labels, the header's
// scrolling and height, and the body.

#include <QSet>
#include <QString>

#include <memory>

class PreviewArchive;
class QBoxLayout;
class QLabel;
class QScrollArea;
struct MailMLRC;
struct MailMessageFields;

namespace mailpreview {

// The sender's row of the header: the sender and the date beside it.
QBoxLayout *senderRowOf(QLabel *sender);
// Room below the last line, so that scrolled to the end the view's top is a line start too.
void padHeaderBottom();
// Installed once: the view's bar snaps to lines, and the room below the last line follows
// every change of the view's or its area's size.
void keepHeaderScrollOnLines(QScrollArea *area);
void fitHeaderHeight();
// Labels, recipients block and the (hidden) header view with its To, date, Cc, Bcc and
// Attachments lines.
void showHeader(const MailMLRC &mail, const MailMessageFields &f);
// A mail's body as read and made ready off the window's thread.
struct ReadBody {
    bool present = false;
    QString text;  // MailPreviewBody
    bool html = false;
    QSet<QString> contentIds;  // the pictures it names by content id
};
// Reads the body where the mail's record says it lies. Runs on any thread.
ReadBody readBody(const MailMLRC &mail, const PreviewArchive &archive);
// The body in the HTML view, or in the text view when it holds the marker line; its pictures are
// read through archive.
void showBody(const ReadBody &body, const MailMessageFields &f, const std::shared_ptr<const PreviewArchive> &archive);

}  // namespace mailpreview
