#pragma once
// The pieces behind WriteMimeBody and WriteAttachmentParts: boundaries made from the
// Message-ID, the body text's kind test and conversions, the attachment part headers and the
// chunked base64 copy of an archive entry.

#include "platform/LineEndsBack.h"
#include "save/mail/MailWriter.h"

#include <QByteArray>
#include <QString>
#include <QVector>
#include <QtGlobal>
#include <functional>

struct MailMLRC;

// ---- Boundaries

struct MimeBoundaries {
    QByteArray outerParam;  // boundary="TOKEN"
    QByteArray outerToken;  // TOKEN
    QByteArray innerParam;  // boundary="TOKEN with the drawn number after its 8th character"
    QByteArray innerToken;
};

// The Message-ID without its angle brackets, every character that RFC 2046 does not allow in
// a boundary replaced by '_'; empty when nothing is left.
QByteArray BoundaryTokenFromId(const QString &messageId);
// A Message-ID that gives a boundary token; only such an id is written as a header.
bool HasUsableMessageId(const QString &messageId);
// For a message without a usable Message-ID: a token made from where its record lies, so the
// same archive gives the same output.
QByteArray FallbackBoundaryToken(const MailMLRC &record);
// Boundaries may hold 70 characters (RFC 2046; longer ones make mail servers find parts that are
// not there). The inner one adds up to 6 digits and a retry up to 5 characters ("_9999"): a
// token is kept within this.
constexpr int kMaxBoundaryToken = 59;
// The token as it is when it fits, else its start and the CRC-32 of all of it.
QByteArray BoundedBoundaryToken(const QByteArray &token);
// The outer token of the message: from its Message-ID, else the fallback, bounded.
QByteArray MessageBoundaryToken(const MailMLRC &record, const MailMessageFields &fields);
// Both boundaries from one token and the number drawn for the message.
MimeBoundaries MakeMimeBoundaries(const QByteArray &token, unsigned number);
// The number for the inner boundary, derived from the token: the same message gives the same
// output on every run.
unsigned BoundaryNumber(const QByteArray &token);
// Boundaries from token and number that occur nowhere in the body or the attachment names:
// while one does, the token is chosen again from the same token ("_1", "_2", ... appended).
MimeBoundaries ChooseMimeBoundaries(const QByteArray &token, unsigned number, const QByteArray &body,
                                    const QVector<AttachmentInfo> &attachments);

// ---- Body text

constexpr int kHtmlRowsKind = 14;      // the part's type
constexpr int kHtmlRowsLineEnds = 13;  // whether line ends stay; the anchor row left out

// True when, for one of the first rows of the tag-pair table, both texts occur (case-blind).
bool IsHtmlBody(const QString &text, int rows = kHtmlRowsKind);
// Body bytes as text, decided once for the whole body: UTF-8 when they are UTF-8 throughout (a
// byte order mark allowed); UTF-8 with each byte that is no part of a character a replacement
// character when the weight of its well-formed characters (longer ones more; pairs Windows-1252
// prose makes by accident nothing) outweighs such bytes; else Windows-1252. *reading (when given)
// says which.
QString DecodeBodyText(const QByteArray &bytes, BodyReading *reading = nullptr);
// Every charset the markup declares (its XML declaration's encoding, a meta charset, or an
// http-equiv Content-Type's content) made UTF-8, the charset the part is written in; the rest of
// the markup as it was, a "<meta" in a comment, an attribute or raw text such as a title too.
void DeclareUtf8Charset(QByteArray &markup);
// The line a saved item's report gets for a body so read, or an empty one.
QString BodyReadingLine(const BodyReading &reading);
// The body's bytes where the record says, clamped to the archive, without its NULs, decoded
// as DecodeBodyText does.
// Taken from xml (the message's XML read at record.llDataOffset) when the body lies inside it.
QString ReadMessageBody(const MailMLRC &record, const QByteArray *xml = nullptr, BodyReading *reading = nullptr);
// A body line matching ^>*From  gets one more '>' (mboxrd), so a reader does not split there.
QByteArray QuoteMboxFromLines(const QByteArray &text);

struct BodyPart {
    bool html = false;
    QByteArray bytes;     // UTF-8, ready to write
    BodyReading reading;  // how bytes that are not UTF-8 throughout were read
};
// The text part from the body's XML text: entities decoded once; line ends made one LF each
// unless the text is markup (13 rows) without any entity; mboxrd quoting when asked.
BodyPart PrepareBodyPart(const QString &raw, bool mboxrdFromQuoting);
// The same from the body's stored bytes (without their NULs). Valid UTF-8, which converting to
// UTF-16 and back leaves as it is, is worked on as bytes; anything else is decoded as
// DecodeBodyText does and goes the way above.
BodyPart PrepareBodyBytes(const QByteArray &raw, bool mboxrdFromQuoting);
// Every line break (CR LF, a lone CR or a lone LF) made one CR LF.
QByteArray CrlfLineEnds(const QByteArray &text);
// Whether converting the bytes to UTF-16 and back gives them unchanged: well-formed UTF-8 (no
// overlong form, surrogate or code point past U+10FFFF), not starting with a byte order mark.
bool RoundTripsUtf8(const QByteArray &bytes);
// The body's stored bytes without their NULs: from xml as ReadMessageBody takes them (then
// pointing into xml, so used while xml lives), else from the archive.
QByteArray ReadMessageBodyBytes(const MailMLRC &record, const QByteArray *xml);
// The bytes with every NUL left out.
QByteArray WithoutNuls(QByteArray bytes);

// The text part's bytes in quoted-printable (RFC 2045): lines of at most 76 characters, its line
// breaks kept as they are; a line never starts with "From " (an mbox reader would split there).
QByteArray QuotedPrintable(const QByteArray &text, const QByteArray &lineEnd);
// Whether a line of the text (between CR or LF) is longer than mail allows (998 octets).
bool HasOverlongLine(const QByteArray &text);

// Writes the frame with the given number for the inner boundary; false when the style writes
// none for this message. WriteMimeBody derives the number from the token.
bool WriteMimeFrame(const MailMessage &message, unsigned number);

// ---- Attachment parts

// Base64 copies are read and encoded this many bytes at a time; a multiple of 57 (one
// 76-character line), so the chunks' texts join into the text of one pass.
constexpr qint64 kBase64ChunkBytes = 57 * 18396;

enum class EntryCopy {
    Complete,
    Short,        // the archive ends (or a read fails) before the entry's last byte
    WriteFailed,  // the sink refused a chunk
};

// Encodes [offset, offset + size) of the open archive in base64 chunk by chunk and hands each
// chunk's text to write. chunkBytes is rounded down to a multiple of 3. When crc is given it
// receives the CRC-32 of the bytes read, computed as they stream. With a lineEnd the text comes
// in lines of 76 characters, each ended by it (chunkBytes then a multiple of 57).
EntryCopy StreamEntryBase64(qint64 offset, qint64 size, const std::function<bool(const QByteArray &)> &write,
                            qint64 chunkBytes = kBase64ChunkBytes, quint32 *crc = nullptr,
                            const QByteArray &lineEnd = QByteArray());
// The same for the bytes reader gives (an entry's data, its line ends converted back where the
// scan found them converted).
EntryCopy StreamEntryBase64(EntryDataReader reader, const std::function<bool(const QByteArray &)> &write,
                            qint64 chunkBytes = kBase64ChunkBytes, quint32 *crc = nullptr,
                            const QByteArray &lineEnd = QByteArray());

enum class AttachmentEncoding { Base64, SevenBit, EightBit };
// Whether the type (as AttachmentContentType gives it) is an attached message.
bool IsMessageType(const QByteArray &contentType);
// The header block of one attachment part, from its delimiter line to its blank line. An
// attached message in base64 is declared application/octet-stream.
QByteArray AttachmentPartHeader(const AttachmentInfo &attachment, const QByteArray &token, const QByteArray &lineEnd,
                                AttachmentEncoding encoding = AttachmentEncoding::Base64);
// RFC 2045 type/subtype, else application/octet-stream.
QByteArray AttachmentContentType(const QString &type);
// Values from the archive have their controls (CR, LF, TAB, ...) made spaces first.
// name="value" for printable ASCII without "=?" (quotes and backslashes escaped), else RFC 2231
// name*=.
// With a fold (line end and TAB), a long value is split into RFC 2231 continuations
// (name*0=, name*1=, ...) joined by ";" and the fold.
QByteArray MimeParameter(const char *name, const QString &value, const QByteArray &fold = QByteArray());
// The name an attachment is saved under: the last '/' component of its name, line breaks and tabs
// made blanks and other control characters removed; "attachment" when nothing usable is left of a non-empty name.
QString AttachmentFileName(const QString &name);
// The text as is when printable ASCII, not long and without "=?", else RFC 2047 encoded words
// with the fold between them.
QByteArray EncodedHeaderText(const QString &value, const QByteArray &fold = QByteArrayLiteral(" "));

struct AttachmentFailure {
    QString name;
    QString reason;
};
// What the attachment parts of one message wrote; failures name the attachments whose data
// is missing or incomplete in the output.
struct AttachmentOutcome {
    int parts = 0;
    QVector<AttachmentFailure> failures;
};
AttachmentOutcome WriteAttachmentPartsChecked(const MailMessage &message, bool frameWritten);
