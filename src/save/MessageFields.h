#pragma once
// The fields a message's XML adds to its record: sender and recipient lists, attachments and
// (for the writers) the Message-ID. The preview and every mail writer parse with these same
// functions, so what the preview shows is what a save writes.

#include "scanner/XmlEntities.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVector>
#include <QtGlobal>

struct FileOffsetNode;

// One attachment as its messageAttachment element describes it.
struct AttachmentInfo {
    QString size;       // OPFAttachmentContentFileSize text, as written ("5.0614E4")
    QString contentId;  // "no" when the attachment has none
    QString contentType;
    QString name;  // entities decoded
    QString url;   // archive entry that holds the bytes; quotes removed, entities decoded
    // The entry that holds the bytes when no entry is named url (its name was damaged); null
    // else. Raw: a damaged name need not be UTF-8.
    const FileOffsetNode *entry = nullptr;
};

// One recipient as its emailAddress entry gives it, for the writers' header lines.
struct MailRecipient {
    QString name;     // entities decoded once; empty when the entry has none
    QString address;  // fully decoded, without enclosing angle brackets; never empty
};

struct MailMessageFields {
    // Address lists: every entry followed by ";", the last one too.
    QString strFromList;
    QString strToList;
    QString strCcList;
    QString strBccList;
    // The same entries with their names; an entry without an address is left out.
    QVector<MailRecipient> toRecipients;
    QVector<MailRecipient> ccRecipients;
    QVector<MailRecipient> bccRecipients;
    // Display names of the named senders in order, entities decoded (the writers' From line).
    QStringList fromNames;
    // The last sender's display name as written (entities decoded, commas kept); empty when that
    // sender has none. It belongs to the address the header shows.
    QString lastSenderName;
    // One entry per attachment, each followed by ";". Built from attachments, which is what
    // code that pairs the values should use: a ";" inside a name cannot shift it.
    QString strAttachmentSizes;
    QString strAttachmentContentIds;
    QString strAttachmentContentTypes;
    QString strAttachmentNames;
    QString strAttachmentUrls;
    QVector<AttachmentInfo> attachments;
    // Address entries whose address could not be read, as the log names them ("To entry
    // \"Alice\": no address could be read"): the message is written without them.
    QStringList unreadAddresses;
    QString strMessageId;  // writers only; empty in the preview
    QString strEntryName;  // set by ReadEntryName
};

// How the writers want the Message-ID; None leaves it out (the preview).
enum class MessageIdForm {
    None,
    AngleBrackets,   // "<" + identifier without any "<" + ">"
    ClosingBracket,  // identifier + ">", with a leading "<" supplied when missing
};

// The preview drops lists longer than these whole, never cuts them. The writers keep every list
// whole (AddressListLimit::Unlimited): a message with thousands of recipients keeps them all.
constexpr int kMaxFromListChars = 99;
constexpr int kMaxRecipientListChars = 2049;
enum class AddressListLimit { Limited, Unlimited };
// One XML text is never read past this, whatever its record says.
constexpr qint64 kMaxArchiveTextRead = qint64(1) << 30;

// Bytes of the open archive at [offset, offset + length), clamped to the file (lSize) and to
// maxLength before anything is allocated; the bytes actually read (empty on any failure).
QByteArray ReadArchiveBytes(qint64 offset, qint64 length, qint64 maxLength = kMaxArchiveTextRead);
// The same on descriptor fd of a file of fileSize bytes.
QByteArray ReadArchiveBytes(int fd, qint64 fileSize, qint64 offset, qint64 length, qint64 maxLength);
// The bytes up to the first NUL.
QByteArray UpToFirstNul(const QByteArray &bytes);

// The message XML where the record says it lies (llDataOffset, dwDataLength). NUL bytes are
// kept: each value is cut at its own first NUL, so a zeroed stretch in a damaged body does not
// hide the lists after it.
QByteArray ReadMessageXml(qint64 llDataOffset, qint64 dwDataLength);
// Whether xml, read at save time for a record at llDataOffset, is still what the scan found:
// every byte there (the archive was not cut since) and an item close tag among them (a scanned
// item always has one; an emptied or overwritten stretch has none). A message the scan found cut
// short has no close tag to expect: its opening tag must still be there.
bool MessageXmlIntact(qint64 llDataOffset, qint64 dwDataLength, const QByteArray &xml, bool closeTagExpected = true);
// The message's archive entry name, UTF-8 up to its first NUL; empty unless 0 < length <= 65535
// and offset > 0.
QString ReadEntryName(qint64 llNameOffset, qint64 nNameLength);

// Parses every <email> closed by "</email>"; a later email replaces what an earlier one set.
// Element values are decoded as UTF-8 up to their first NUL. strEntryName is left empty.
MailMessageFields ParseMessageXml(const QByteArray &xml, MessageIdForm idForm = MessageIdForm::None,
                                  AddressListLimit limit = AddressListLimit::Limited);

// An address as a header writes it: references left over from a doubly escaped attribute
// decoded, blanks and one pair of enclosing angle brackets removed.
QString CleanRecipientAddress(QString address);

// The named To entry's address after "CN=RECIPIENTS_CN=", less every "+2E"; others unchanged.
QString ShortenRecipientAddress(const QString &address);
