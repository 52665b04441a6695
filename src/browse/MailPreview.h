#pragma once
// The text rules of the mail preview, apart from the panes it fills
// (QPreviewOfItems::MessageFieldsForThePreview), and the emptying of every preview pane.

#include <QSet>
#include <QString>
#include <QStringList>
#include <QVector>
#include <QtGlobal>

#include <atomic>
#include <memory>

class AttachmentIndex;
class PreviewArchive;
struct MailMLRC;
struct MailMessageFields;
class QTextDocument;

// Inline pictures larger than this stay "cid:" references: a picture is read whole and decoded
// for the page, which must not stall the window or exhaust memory.
constexpr qint64 kMaxInlinePictureBytes = qint64(10) * 1024 * 1024;
// What one mail's decoded pictures may take in all; pictures past it stay unresolved.
constexpr qint64 kMaxInlinePicturesBytes = qint64(256) * 1024 * 1024;

// A body holding this line is shown in the text preview, with its pictures unresolved. Empty
// (the default) turns the rule off.
extern QString g_mailPreviewMarkerLine;

// The sender line: of a list "a;" the address, of "a;b;" the last one; "" for an empty list.
QString MailSenderLine(const QString &fromList);
// The sender as the preview header shows it: the last sender's name as written, or its bare
// address when it has no name; "" without an address.
QString MailSenderHeader(const MailMessageFields &fields);
// "<no subject>" for a mail without one; otherwise the subject less one trailing ';'.
QString MailSubjectLine(const char *subject);
// A ';'-terminated list as shown: the last ';' dropped, the others followed by two blanks.
QString MailListForm(const QString &list);
// The recipients block as rich text: the To line always, Cc and Bcc lines when present. The
// addresses are escaped, so an address that looks like markup is shown as written.
QString MailRecipientsHtml(const MailMessageFields &fields);
// The date line in local time, day and month names in English whatever the locale; "" when the
// mail has no date, so the label never keeps another mail's date.
QString MailPreviewDate(const MailMLRC &mail, const QString &entryName);

// Empties every preview pane (header labels, tiles, bodies, texts) and shows nothing in their
// place: the preview shows no item when the item list has no current row.
void ClearItemPreview();

// Whether the body counts as HTML: one of the tag pairs (lower or upper case) has both its
// opening and its closing text somewhere in it.
bool IsPreviewHtmlBody(const QString &body);
// The body as stored (bytes up to the first NUL) made ready to show: entities replaced, every
// CR turned into LF, and a body that is not HTML without its final line end.
QString MailPreviewBody(const QByteArray &stored, bool *html);
// A picture's entry in the archive and the content ids the body names it by.
struct InlinePictureEntry {
    QStringList contentIds;
    qint64 offset = 0;
    qint64 size = 0;
    int lineEndsBack = 0;  // its bytes are read with their line ends converted back
};
using InlinePictureEntries = QVector<InlinePictureEntry>;
// The entries of the pictures the body names as "cid:<id>": of each content id the first
// attachment with an entry within the size limit, each entry once however many ids name it.
// Costs what the body and the mail's attachments do, nothing it reads from the archive.
InlinePictureEntries InlinePicturesOf(const QString &body, const MailMessageFields &fields,
                                      const AttachmentIndex &index);
// The same for the content ids a body names (ReferencedContentIds), found earlier off the window's
// thread: costs what the mail's attachments do.
InlinePictureEntries InlinePicturesOf(QSet<QString> wanted, const MailMessageFields &fields,
                                      const AttachmentIndex &index);
// The addresses the body names after "cid:".
QSet<QString> ReferencedContentIds(const QString &body);
// Reads and decodes each entry once, within the pixel bound and what the document's pictures
// may still take, and gives the document the picture under each of its names. Runs on any
// thread, on a document of that thread; stop ends it early. Returns how many names were added.
int AddInlinePictures(QTextDocument *document, const InlinePictureEntries &entries, const PreviewArchive &archive,
                      const std::atomic<bool> *stop = nullptr);
