// Attachment parts of a message: one base64 part per attachment, its bytes copied from the
// archive entry its URL names, in chunks, and the close delimiter of the outer multipart.

#include "save/mail/MailMimeParts.h"

#include "platform/ArchiveSource.h"
#include "platform/Crc32.h"
#include "platform/WorkerGlobals.h"
#include "save/AttachmentIndex.h"
#include "save/Base64.h"
#include "save/BidiControls.h"
#include "save/mail/MailHeaders.h"
#include "scanner/EntryData.h"
#include "scanner/ScanGlobals.h"

#include <algorithm>
#include <cstring>

namespace {

// Longest encoded value of one parameter section before it is continued on a folded line.
constexpr int kParameterSection = 60;
// Longer header texts are folded (a description) or not taken (a type).
constexpr int kLongHeaderText = 200;

bool isPrintableAscii(const QString &text)
{
    for (const QChar c : text) {
        if (c.unicode() < 0x20 || c.unicode() > 0x7E)
            return false;
    }
    return true;
}

// RFC 2045 token characters: printable ASCII but space and tspecials.
bool isTokenText(const QString &text)
{
    if (text.isEmpty() || !isPrintableAscii(text))
        return false;
    for (const QChar c : text) {
        if (c == QLatin1Char(' ') || std::strchr("()<>@,;:\\\"/[]?=", char(c.unicode())))
            return false;
    }
    return true;
}

// RFC 5987 attr-char; everything else is percent-encoded.
bool isAttrChar(char c)
{
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))
        return true;
    return c != 0 && std::strchr("!#$&+-.^_`|~", c) != nullptr;
}

QByteArray percentEncoded(const QByteArray &utf8)
{
    static const char hex[] = "0123456789ABCDEF";
    QByteArray out;
    out.reserve(utf8.size() * 3);
    for (const char c : utf8) {
        if (isAttrChar(c)) {
            out.append(c);
        } else {
            const uchar u = uchar(c);
            out.append('%').append(hex[u >> 4]).append(hex[u & 0x0F]);
        }
    }
    return out;
}

// Whether the %XX at encoded[at] is a UTF-8 continuation byte (0x80 to 0xBF).
bool startsContinuationByte(const QByteArray &encoded, int at)
{
    if (at + 2 >= encoded.size() || encoded.at(at) != '%')
        return false;
    const char high = encoded.at(at + 1);
    return high == '8' || high == '9' || high == 'A' || high == 'B';
}

QByteArray quotedString(const QString &ascii)
{
    QByteArray out = ascii.toLatin1();
    out.replace('\\', "\\\\");
    out.replace('"', "\\\"");
    return '"' + out + '"';
}

// Whether an attached message can go as it is, as RFC 2046 asks of message/rfc822 (7bit or 8bit
// only): a header block first, lines within the mail limit ended by LF or CR LF, no NUL, and no
// line a reader would take for the delimiter around it. Looked at line by line as it streams.
class EmbeddedMessageCheck {
public:
    explicit EmbeddedMessageCheck(const QByteArray &delimiter) : m_delimiter(delimiter) {}

    void feed(const char *bytes, qint64 size)
    {
        for (qint64 i = 0; i < size && m_fits; ++i)
            step(uchar(bytes[i]));
    }
    // Whether the whole text fits; eightBit tells whether any byte was past ASCII.
    bool fits() const { return m_fits && !m_afterCr && m_lines > 0 && !m_inName && m_start != m_delimiter; }
    bool eightBit() const { return m_eightBit; }

private:
    void step(uchar c)
    {
        if (m_afterCr && c != '\n') {
            m_fits = false;
            return;
        }
        if (c == '\r') {
            m_afterCr = true;
            return;
        }
        if (c == '\n') {
            endLine();
            return;
        }
        if (c == 0 || ++m_column > kMaxHeaderLine) {
            m_fits = false;
            return;
        }
        m_eightBit = m_eightBit || c >= 0x80;
        if (m_start.size() < m_delimiter.size())
            m_start.append(char(c));
        if (m_inHeader)
            headerStep(c);
    }

    // A header line starts with its field name and a colon; one that starts with a blank goes on
    // the field before it.
    void headerStep(uchar c)
    {
        if (m_column == 1) {
            if ((c == ' ' || c == '\t') && m_lines > 0)
                return;
            m_inName = true;
        }
        if (!m_inName)
            return;
        if (c == ':' && m_nameLength > 0) {
            m_inName = false;
            m_nameLength = 0;
        } else if (c > 32 && c < 127 && c != ':') {
            ++m_nameLength;
        } else {
            m_fits = false;
        }
    }

    void endLine()
    {
        m_afterCr = false;
        if (m_start == m_delimiter)
            m_fits = false;
        if (m_inHeader) {
            // A field name without its colon; an empty line ends the header block, but the block
            // must hold a field.
            if (m_inName || (m_column == 0 && m_lines == 0))
                m_fits = false;
            if (m_column == 0)
                m_inHeader = false;
        }
        ++m_lines;
        m_column = 0;
        m_start.clear();
    }

    QByteArray m_delimiter;
    QByteArray m_start;  // the line's first bytes, as many as the delimiter has
    qint64 m_lines = 0;
    int m_column = 0;
    int m_nameLength = 0;
    bool m_fits = true, m_eightBit = false, m_afterCr = false, m_inHeader = true, m_inName = false;
};

// How an attached message is written: as it is in 7bit or 8bit, else in base64.
struct EmbeddedMessageForm {
    bool asIs = false;
    bool eightBit = false;
};

EmbeddedMessageForm embeddedMessageForm(const FileOffsetNode *node, const QByteArray &token)
{
    EmbeddedMessageForm form;
    if (!node || node->bCompressed || node->llSize <= 0 || node->llDataOffset < 0
        || node->llDataOffset > lSize - node->llSize)
        return form;
    EmbeddedMessageCheck check("--" + token);
    EntryDataReader reader = EntryData(*node);
    QByteArray buffer(int(qMin<qint64>(kBase64ChunkBytes, node->llSize)), Qt::Uninitialized);
    for (qint64 got; (got = reader.read(buffer.data(), buffer.size())) > 0;)
        check.feed(buffer.constData(), got);
    if (!reader.whole())
        return form;
    form.asIs = check.fits();
    form.eightBit = check.eightBit();
    return form;
}

// Lines ended by LF or CR LF (as a checked message has them) ended by lineEnd instead; given back
// uncopied when they already are.
QByteArray withLineEnds(const QByteArray &lines, const QByteArray &lineEnd)
{
    const bool crlf = lineEnd == "\r\n";
    int others = 0;
    for (int i = 0; i < lines.size(); ++i) {
        if (lines.at(i) != '\n')
            continue;
        const bool afterCr = i > 0 && lines.at(i - 1) == '\r';
        if (afterCr != crlf || (lineEnd != "\n" && !crlf))
            ++others;
    }
    if (others == 0)
        return lines;
    QByteArray out;
    out.reserve(lines.size() + others);
    int run = 0;
    for (int i = 0; i < lines.size(); ++i) {
        if (lines.at(i) != '\n')
            continue;
        const int end = i > 0 && lines.at(i - 1) == '\r' ? i - 1 : i;
        out.append(lines.constData() + run, end - run);
        out += lineEnd;
        run = i + 1;
    }
    out.append(lines.constData() + run, lines.size() - run);
    return out;
}

// Writes a checked message entry chunk by chunk, its lines ended as the file's own (a reader
// splits the whole file at one kind of line end, and an inner header block in another kind runs
// into the outer one); each chunk ends after a line end so the quoting sees every line start.
EntryCopy streamEntryAsIs(const MailMessage &message, const FileOffsetNode &node, quint32 *crc,
                          const std::function<bool(const QByteArray &)> &write)
{
    *crc = 0;
    EntryDataReader reader = EntryData(node);
    QByteArray buffer;
    for (;;) {
        const int carried = buffer.size();
        buffer.resize(carried + int(kBase64ChunkBytes));
        const qint64 got = reader.read(buffer.data() + carried, kBase64ChunkBytes);
        buffer.resize(carried + int(qMax<qint64>(0, got)));
        *crc = Crc32Update(*crc, buffer.constData() + carried, buffer.size() - carried);
        const bool last = got < kBase64ChunkBytes;
        if (last && !reader.whole())
            return EntryCopy::Short;
        const int cut = last ? buffer.size() : buffer.lastIndexOf('\n') + 1;
        const QByteArray piece = withLineEnds(buffer.left(cut), message.style.lineEnd);
        if (!piece.isEmpty() && !write(message.style.mboxrdFromQuoting ? QuoteMboxFromLines(piece) : piece))
            return EntryCopy::WriteFailed;
        buffer.remove(0, cut);
        if (last)
            return EntryCopy::Complete;
    }
}

// Writes the entry's data, in base64 lines or as it is; the reason when it could not be written
// whole.
QString writeAttachmentData(const MailMessage &message, const FileOffsetNode *node, bool asIs)
{
    if (!node)
        return QStringLiteral("not found in the archive");
    // A deflated entry is not the attachment's bytes; writing it would corrupt the file.
    if (node->bCompressed)
        return QStringLiteral("stored compressed in the archive");
    quint32 crc = 0;
    const auto writeChunk = [&](const QByteArray &text) {
        if (message.stopRequested && *message.stopRequested && (*message.stopRequested)()) {
            message.out.cancel(QStringLiteral("the save was stopped while it was written"));
            return false;
        }
        return message.out.write(text);
    };
    const QByteArray &le = message.style.lineEnd;
    const EntryCopy copy = asIs ? streamEntryAsIs(message, *node, &crc, writeChunk)
                                : StreamEntryBase64(EntryData(*node), writeChunk, kBase64ChunkBytes, &crc, le);
    // Base64 lines have their ends already: one more makes the blank line before the next
    // delimiter. After a message copied as it is, this line end belongs to the delimiter.
    message.out.write(le);
    switch (copy) {
    case EntryCopy::Complete:
        // The bytes are written either way; a mismatch says they are not what was stored.
        if (crc == node->dwCrc32)
            return QString();
        if (node->bSizeCut)
            return QStringLiteral("damaged: its size ran into the next entry, cut there");
        // No witness kept its CRC: there is nothing to check the bytes against.
        if (node->dwCrc32 == 0)
            return QString();
        return QStringLiteral("damaged: CRC-32 %1, the archive says %2")
            .arg(crc, 8, 16, QLatin1Char('0'))
            .arg(node->dwCrc32, 8, 16, QLatin1Char('0'));
    case EntryCopy::Short:
        return QStringLiteral("cut short in the archive");
    case EntryCopy::WriteFailed:
        break;
    }
    return QStringLiteral("could not be written");
}

}  // namespace

QByteArray AttachmentContentType(const QString &type)
{
    const QString t = HeaderSafe(type).trimmed();
    const int slash = t.indexOf(QLatin1Char('/'));
    // No real type is anywhere near this long; one that is would break the line limit.
    if (slash > 0 && t.size() <= kLongHeaderText && isTokenText(t.left(slash)) && isTokenText(t.mid(slash + 1)))
        return t.toLatin1();
    return QByteArrayLiteral("application/octet-stream");
}

QByteArray MimeParameter(const char *name, const QString &value, const QByteArray &fold)
{
    const QString v = HeaderSafe(value);
    // Readers decode "=?" words even inside quotes: such a value goes percent-encoded.
    const bool ascii = isPrintableAscii(v) && !v.contains(QLatin1String("=?"));
    const QByteArray encoded = ascii ? v.toLatin1() : percentEncoded(v.toUtf8());
    if (fold.isEmpty() || encoded.size() <= kParameterSection)
        return ascii ? QByteArray(name) + '=' + quotedString(v) : QByteArray(name) + "*=UTF-8''" + encoded;
    // RFC 2231 continuations: name*0, name*1, ... each on its own folded line; an encoded
    // section never splits a %XX triplet.
    QByteArray out;
    int from = 0;
    for (int section = 0; from < encoded.size(); ++section) {
        int end = qMin(from + kParameterSection, int(encoded.size()));
        if (!ascii) {
            while (end < encoded.size() && end - from > 2 && (encoded.at(end - 1) == '%' || encoded.at(end - 2) == '%'))
                --end;
            // Nor a character: each section decodes on its own in some readers.
            while (end < encoded.size() && end - from > 3 && startsContinuationByte(encoded, end))
                end -= 3;
        }
        const QByteArray piece = encoded.mid(from, end - from);
        if (section > 0)
            out += ';' + fold;
        out += QByteArray(name) + '*' + QByteArray::number(section);
        if (ascii)
            out += '=' + quotedString(QString::fromLatin1(piece));
        else
            out += (section == 0 ? "*=UTF-8''" : "*=") + piece;
        from = end;
    }
    return out;
}

QString AttachmentFileName(const QString &name)
{
    // A receiving program saves the part under this name: never a path, never a control, no
    // control that makes it read otherwise. A backslash is a character of the name (mail readers
    // keep it); a line break or tab is a blank, as in a subject.
    QString last = name.section(QLatin1Char('/'), -1);
    last.replace(QLatin1String("\r\n"), QLatin1String(" "));
    for (QChar &c : last) {
        if (c == QLatin1Char('\r') || c == QLatin1Char('\n') || c == QLatin1Char('\t'))
            c = QLatin1Char(' ');
    }
    last.truncate(int(
        std::remove_if(last.begin(), last.end(),
                       [](QChar c) { return c.unicode() < 0x20 || c.unicode() == 0x7F || IsBidiControl(c.unicode()); })
        - last.begin()));
    if (last.isEmpty() || last == QLatin1String(".") || last == QLatin1String(".."))
        return name.isEmpty() ? QString() : QStringLiteral("attachment");
    return last;
}

QByteArray EncodedHeaderText(const QString &value, const QByteArray &fold)
{
    const QString v = HeaderSafe(value);
    // A long text goes as words, which can be folded between them; so does one a reader would
    // decode as words of its own.
    if (isPrintableAscii(v) && v.size() <= kLongHeaderText && !v.contains(QLatin1String("=?")))
        return v.toLatin1();
    return EncodedWords(v, fold);
}

bool IsMessageType(const QByteArray &contentType)
{
    return contentType.compare("message/rfc822", Qt::CaseInsensitive) == 0;
}

QByteArray AttachmentPartHeader(const AttachmentInfo &attachment, const QByteArray &token, const QByteArray &lineEnd,
                                AttachmentEncoding encoding)
{
    const QByteArray &le = lineEnd;
    QByteArray h = "--" + token + le;
    const QString fileName = AttachmentFileName(attachment.name);
    const QByteArray fold = le + '\t';
    QByteArray type = AttachmentContentType(attachment.contentType);
    // RFC 2046 allows an attached message no base64: one that cannot go as it is goes as bytes.
    if (IsMessageType(type))
        type = encoding == AttachmentEncoding::Base64 ? "application/octet-stream" : "message/rfc822";
    h += "Content-type: " + type + "; " + MimeParameter("name", fileName, fold) + le;
    h += "Content-Description: " + EncodedHeaderText(WithoutBidiControls(attachment.name), le + ' ') + le;
    h += "Content-Disposition: attachment; " + MimeParameter("filename", fileName, fold) + ';' + le;
    static const char *const kEncodings[] = {"base64", "7bit", "8bit"};
    h += QByteArray("Content-Transfer-Encoding: ") + kEncodings[int(encoding)] + le;
    // The parse gives "no" for an attachment without a content ID. Pages name inline images by
    // ids without a domain too: those stay.
    if (attachment.contentId != QLatin1String("no"))
        h += IdentifierLine("Content-ID", attachment.contentId, false, le);
    return h + le;
}

EntryCopy StreamEntryBase64(qint64 offset, qint64 size, const std::function<bool(const QByteArray &)> &write,
                            qint64 chunkBytes, quint32 *crc, const QByteArray &lineEnd)
{
    if (crc)
        *crc = 0;
    if (size == 0)
        return EntryCopy::Complete;
    if (size < 0 || offset < 0 || offset >= lSize)
        return EntryCopy::Short;
    return StreamEntryBase64(EntryDataReader(fileDescriptor, offset, size, 0), write, chunkBytes, crc, lineEnd);
}

EntryCopy StreamEntryBase64(EntryDataReader reader, const std::function<bool(const QByteArray &)> &write,
                            qint64 chunkBytes, quint32 *crc, const QByteArray &lineEnd)
{
    if (crc)
        *crc = 0;
    // Every chunk but the last a multiple of 3 (of a line's 57 with line ends): the texts then
    // join without padding or a short line inside.
    const qint64 unit = lineEnd.isEmpty() ? 3 : 57;
    qint64 chunk = qBound<qint64>(unit, chunkBytes, qint64(64) << 20);
    chunk -= chunk % unit;
    QByteArray buffer(int(qBound<qint64>(1, reader.storedSize(), chunk)), Qt::Uninitialized);
    QByteArray encoded(int(Base64LinesLength(buffer.size(), lineEnd.size())), Qt::Uninitialized);
    for (;;) {
        // A read gives all that is asked but at the data's end: only the last chunk is short.
        const qint64 got = reader.read(buffer.data(), buffer.size());
        if (got <= 0)
            break;
        if (crc)
            *crc = Crc32Update(*crc, buffer.constData(), got);
        const qint64 text = lineEnd.isEmpty()
            ? EncodeBase64(buffer.constData(), got, encoded.data())
            : EncodeBase64Lines(buffer.constData(), got, encoded.data(), lineEnd.constData(), lineEnd.size());
        if (!write(QByteArray::fromRawData(encoded.constData(), int(text))))
            return EntryCopy::WriteFailed;
        if (got < chunk)
            break;
    }
    return reader.whole() ? EntryCopy::Complete : EntryCopy::Short;
}

AttachmentOutcome WriteAttachmentPartsChecked(const MailMessage &message, bool frameWritten)
{
    AttachmentOutcome outcome;
    const QByteArray &le = message.style.lineEnd;
    const QVector<AttachmentInfo> &list = message.fields.attachments;
    // The frame's own token when the body opened it; else one that no attachment name holds.
    QByteArray token = message.outerToken;
    if (!frameWritten || token.isEmpty()) {
        const QByteArray base = MessageBoundaryToken(message.record, message.fields);
        token = ChooseMimeBoundaries(base, BoundaryNumber(base), QByteArray(), list).outerToken;
    }
    bool open = frameWritten;
    if (message.style.writesMimeFrame && !list.isEmpty()) {
        if (!open) {
            // No body part was written: the attachments open the frame themselves.
            message.out.write("Content-type: multipart/mixed;" + message.style.headerFold
                              + MakeMimeBoundaries(token, 0).outerParam + le + le);
            open = true;
        }
        for (const AttachmentInfo &a : list) {
            const FileOffsetNode *node = message.attachments.find(a);
            const EmbeddedMessageForm form = IsMessageType(AttachmentContentType(a.contentType))
                ? embeddedMessageForm(node, token)
                : EmbeddedMessageForm();
            const AttachmentEncoding encoding = !form.asIs ? AttachmentEncoding::Base64
                : form.eightBit                            ? AttachmentEncoding::EightBit
                                                           : AttachmentEncoding::SevenBit;
            message.out.write(AttachmentPartHeader(a, token, le, encoding));
            const QString reason = writeAttachmentData(message, node, form.asIs);
            if (!reason.isEmpty())
                outcome.failures.append({a.name, reason});
            ++outcome.parts;
        }
    }
    // The outer multipart is closed also when no attachment follows the text part.
    if (open)
        message.out.write("--" + token + "--" + le);
    // A blank line before the next From_ line, so the last line of this message stays its own.
    if (message.style.writesFromLine && message.style.oneFilePerFolder)
        message.out.write(le);
    return outcome;
}

void WriteAttachmentParts(const MailMessage &message, bool frameWritten)
{
    WriteAttachmentPartsChecked(message, frameWritten);
}
