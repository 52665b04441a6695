#pragma once
// The formats that write one numbered file per message (.emlx, .eml, the .htm page): opening
// the next free file of a folder, the per-format writing steps, and the pieces of the page.

#include "save/mail/MailWriter.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <atomic>

struct MailMLRC;

// The text part of a message without a stored body, in the formats that write one.
QByteArray EmptyBodyHtml();

// Makes the folder (once per save) and a file in it that out.close() names with the next free
// number: the one after the last this save used there, skipping names that exist. *path names
// the folder; out.path() names the file once it stands whole, and only then may it take Finder
// codes.
bool OpenMessageFile(MailOutput &out, const MailFormatStyle &style, MailSaveContext &context, const QString &folder,
                     QString *path, QString *error);

// Writes the message in the style's format; the attachments whose data could not be copied,
// each as a log line.
QStringList WriteMessageFile(const MailMessage &message);

// ---- the page

// Byte-order mark and the fixed head, the same for every page.
QByteArray HtmlPageHead();
// Text from the archive as page text: markup characters escaped.
QByteArray HtmlText(const QString &text);
// The date line's text of a record time; empty when the message has none.
QByteArray HtmlPageDate(const MailMLRC &record, const QString &entryName, const QByteArray *xml = nullptr);
// The body's XML text as page content: markup stays markup; plain text is escaped and keeps
// its line breaks. *stopped: the save's stop interrupted it.
QByteArray HtmlPageBody(const QString &raw, bool *stopped = nullptr);
// How a page shows a picture its markup names by content id.
struct PagePicture {
    QByteArray url;   // its data: address; empty when it is too large for a page to carry
    QByteArray link;  // the address of its file beside the page, written by the same save
    QString name;     // its attachment's name
};
// The markup with each picture address "cid:ID" (src, background, url() in style attributes and
// style sheets) replaced by the data: address pictureOf gives, while the page carries at most
// 64 MiB of them. A picture past that, or too large, shown by an img tag becomes a link to its
// file; each picture not shown gets a line in *lines.
QByteArray ShowInlinePictures(const QByteArray &markup, const std::function<PagePicture(const QString &)> &pictureOf,
                              QStringList *lines = nullptr);
// The picture attachment of the message whose content id is contentId, when the page's save wrote
// it (links: its file's address, by attachment; empty when not written): its data: address when
// of a sane size; else an empty one.
PagePicture InlinePicture(const MailMessage &message, const QVector<QByteArray> &links, const QString &contentId);
// Writes the page, and the attachments in a folder beside it that its attachment line links; the
// attachments not written whole, each as a log line.
QStringList WriteHtmlPage(const MailMessage &message);
// Markup that shows as before but runs and loads nothing, read as a browser reads it: only the
// elements and attributes that show are written back; links stay only to the web, mail or the
// page itself, pictures only when the message carries them (data:, cid:), styles without
// anything they would fetch. Comments go. Markup that would cost the parser far more time or
// memory than its size warrants (nested thousands deep, or built to make the tree explode) shows
// as text; so does the markup a save's stop (stop instead, when set) interrupted, and *stopped then
// tells. A message whose text does not fit in memory either throws std::bad_alloc.
// Elements nested more than maxDepth deep (0: no limit) are written as their content only.
QByteArray InertMarkup(const QByteArray &markup, bool *stopped = nullptr, const std::atomic<bool> *stop = nullptr,
                       int maxDepth = 0);
