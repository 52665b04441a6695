#pragma once
// The pieces of a message's From_ line and header block, for the writer's header step and its
// tests. Every value from the archive goes through here before it reaches a header line.

#include "save/mail/MailFormatStyle.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVector>
#include <QtGlobal>

struct MailMLRC;
class MailOutput;

// Folder words of the entry name that decide which record time a message shows.
enum class MailFolderClass { SentItems, Inbox, DeletedItems, Drafts, Other };

MailFolderClass ClassifyMailFolder(const QString &entryName);

struct MailTime {
    // Undated: the rule picks a record time but the message has none; a From_ line still needs
    // a date, a Date header is left out.
    enum Kind { Record, Now, None, Undated };
    Kind kind = None;
    qint64 seconds = 0;  // for Record
};

// A message's sent and received times; has* false where it gives no readable one.
struct MessageTimes {
    qint64 sent = 0;
    qint64 received = 0;
    bool hasSent = false;
    bool hasReceived = false;
};
// The record's times (0 there means none).
MessageTimes RecordTimes(const MailMLRC &record);
// The same, with a time the record could not hold (before 1970, after 2106) read from the
// message's XML when given.
MessageTimes ReadMessageTimes(const MailMLRC &record, const QByteArray *xml);

// The message's last change (OPFMessageCopyModDate) from its XML, when readable: the date a
// message without sent and received times still holds.
bool MessageModifiedTime(const QByteArray *xml, qint64 *seconds);

MailTime ChooseMailTime(const MailMLRC &record, MailFolderClass folderClass, MailTimeRule rule);
MailTime ChooseMailTime(const MailMLRC &record, MailFolderClass folderClass, MailTimeRule rule,
                        const MessageTimes &times);
// The one date a message shows where it has one date line (the Date header, the page, the item
// list, the preview): the time its entry name's folder words pick, else its other time; 0 when it
// has neither.
quint32 MailDateSeconds(const MailMLRC &record, const QString &entryName);

// RFC 5322 dates hold years from 1900 on, and readers take no more than four digits: a time
// outside is shown at the nearest second inside, in the local date of the machine's zone.
qint64 ClampMailSeconds(qint64 seconds);
// The Date header's value in the style's zone form, English names whatever the locale.
QByteArray FormatMailDate(qint64 seconds, const MailFormatStyle &style);
// The From_ line, its line end included: "From ???@??? " + date (+ zone) for a record time,
// or the current time in text date form.
QByteArray FromLineText(const MailTime &time, const MailFormatStyle &style);

// "=?UTF-8?B?" + base64 of the stored subject bytes + "?=": one word of at most 45 bytes each,
// never splitting a character, the fold between words (a long subject stays within the line limit).
QByteArray EncodeSubjectWord(const char *subject, const QByteArray &fold = QByteArrayLiteral("\n "));

// The entries of a ";"-terminated list. A ";" that ends an entity ("&apos;") belongs to it, so
// an address holding one stays one entry.
QStringList ListEntries(const QString &list);
// The last entry of a list; the whole text when it holds no separator.
QString LastListEntry(const QString &list);

// One mailbox: display name (quoted when it holds specials, RFC 2047 words when it is not
// ASCII), a space and the address in angle brackets; the address in angle brackets alone when
// the name is empty. The Append forms add to out.
// A name holding "=?" is encoded too (a reader would decode it as a word of its own), and so
// is a long one, so it can be folded between its words. The address's local part is quoted
// when it is no dot-atom, a domain outside ASCII written in its ASCII (IDNA) form.
QByteArray FormatMailbox(const QString &name, const QString &address);
// spill (when given) takes out's bytes whenever a long name has made it large, so a name of any
// length is never held whole as encoded words.
void AppendMailbox(QByteArray &out, const QString &name, const QString &address,
                   const QByteArray &fold = QByteArrayLiteral(" "), MailOutput *spill = nullptr);
// The address as a header writes it.
QByteArray HeaderAddress(const QString &address);
// The entries of a To (entityCount 3) or Cc/Bcc (4) list with their entities decoded.
QStringList RecipientEntries(const QString &list, int entityCount);
// The recipients a header line names: those parsed with their names, else the list's entries
// as addresses alone. Entries without an address are left out.
QVector<MailRecipient> HeaderRecipients(const QString &list, const QVector<MailRecipient> &parsed, int entityCount);
// The value of a To (entityCount 3) or Cc/Bcc (4) line: each recipient as its name and
// address, the style's separator between entries.
QByteArray FormatAddressList(const QString &list, int entityCount, const MailFormatStyle &style,
                             const QVector<MailRecipient> &parsed = {});
void AppendAddressList(QByteArray &out, const QVector<MailRecipient> &recipients, const MailFormatStyle &style,
                       MailOutput *spill = nullptr);
// The display name of the sender the From line shows: as the archive writes it (commas kept);
// the record's name when the XML names no sender; empty when that sender has none.
QString SenderDisplayName(const MailMLRC &record, const MailMessageFields &fields);

// Header text with CR, LF, TAB and every other control character (and DEL) as a space, so a
// value from the archive stays on its one header line. The one scrubber of header values.
QByteArray HeaderSafe(QByteArray value);
QString HeaderSafe(QString value);

// RFC 2047 encoded words of at most 45 UTF-8 bytes each (so each word stays within 75
// characters), never splitting a character; separated by the separator (a blank, or a fold).
// Base64 words but the last end in no padding; where none can, a short word is Q-encoded.
QByteArray EncodedWords(const QString &text, const QByteArray &separator = QByteArrayLiteral(" "));
// EncodedWords(text, separator) appended to out, the text converted a piece at a time: a long
// name is never held whole as UTF-8 beside its text. spill as for AppendMailbox.
void AppendEncodedWords(QByteArray &out, const QString &text, const QByteArray &separator, MailOutput *spill = nullptr);
// The id without the brackets around it (stored ids may carry doubled ones). Its references were
// undone when it was read: undoing them again would change an id that holds "&amp;".
QString BareIdentifier(const QString &id);
// The header line of a Message-ID ("Message-ID") or Content-ID, line end included: the id
// in angle brackets when, entities undone and its brackets dropped, it is a valid msg-id
// (RFC 5322: dot-atom-text "@" dot-atom-text or domain literal; without "@" when !needsDomain);
// else a line "X-Original-<name>" that keeps its text, since readers cut an invalid id short.
QByteArray IdentifierLine(const char *name, const QString &id, bool needsDomain, const QByteArray &lineEnd);

// Lines of a header field are kept within this many octets (RFC 5322 allows 998).
constexpr int kMaxHeaderLine = 998;
