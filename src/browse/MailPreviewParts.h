#pragma once
// The pieces of the mail preview that lie in files of their own: the header's labels, the header's
// scrolling and height, and the body.

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
// The body in the HTML view, or in the text view when it holds the marker line.
void showBody(const MailMLRC &mail, const MailMessageFields &f);

}  // namespace mailpreview
