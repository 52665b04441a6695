// The MIME frame of a message: the multipart/alternative part and its one text part, whose kind
// and line ends follow from the body text, in quoted-printable where its lines are too long.

#include "save/mail/MailHeaders.h"
#include "save/mail/MailMimeParts.h"
#include "save/mail/MessageFiles.h"

#include "scanner/ScanGlobals.h"

#include <cstring>

namespace {

bool frameWanted(const MailMessage &message)
{
    return message.style.writesMimeFrame && (message.record.dwBodyLength != 0 || message.style.writeEmptyTextPart);
}

}  // namespace

bool HasOverlongLine(const QByteArray &text)
{
    if (text.size() <= kMaxHeaderLine)
        return false;
    // Lines end in LF but in markup that keeps lone CRs: only a long stretch without LF is
    // looked at for CRs.
    const char *p = text.constData();
    const char *const end = p + text.size();
    while (p < end) {
        const char *lf = static_cast<const char *>(memchr(p, '\n', size_t(end - p)));
        const char *stop = lf ? lf : end;
        if (stop - p > kMaxHeaderLine) {
            int run = 0;
            for (const char *c = p; c < stop; ++c) {
                run = *c == '\r' ? 0 : run + 1;
                if (run > kMaxHeaderLine)
                    return true;
            }
        }
        p = stop + 1;
    }
    return false;
}

namespace {

// Encoded lines stay within 76 characters, the soft break's '=' included.
constexpr int kQuotedLine = 75;

bool isLineBreak(char c)
{
    return c == '\n' || c == '\r';
}

// A byte that quoted-printable must encode where it stands.
bool mustQuote(const QByteArray &text, int i)
{
    const uchar c = uchar(text.at(i));
    if (c == '=' || c >= 0x7F || (c < 0x20 && c != '\t'))
        return true;
    // A blank before a line break would be dropped by the reader.
    return (c == ' ' || c == '\t') && (i + 1 == text.size() || isLineBreak(text.at(i + 1)));
}

bool startsFromWord(const QByteArray &text, int i)
{
    return i + 5 <= text.size() && memcmp(text.constData() + i, "From ", 5) == 0;
}

}  // namespace

QByteArray QuotedPrintable(const QByteArray &text, const QByteArray &lineEnd)
{
    static const char hex[] = "0123456789ABCDEF";
    QByteArray out;
    out.reserve(text.size() + text.size() / 8 + 64);
    int column = 0;
    for (int i = 0; i < text.size(); ++i) {
        const char c = text.at(i);
        if (isLineBreak(c)) {
            // The text's own line breaks stay as they are.
            out += c;
            column = 0;
            continue;
        }
        // "From " at a line start would start a new message in an mbox: its F is encoded.
        const bool quote = mustQuote(text, i) || (column == 0 && c == 'F' && startsFromWord(text, i));
        const int width = quote ? 3 : 1;
        if (column + width > kQuotedLine) {
            AppendPieces(out, '=', lineEnd);
            column = 0;
            if (c == 'F' && startsFromWord(text, i)) {
                AppendPieces(out, "=46");
                column = 3;
                continue;
            }
        }
        if (quote)
            AppendPieces(out, '=', hex[uchar(c) >> 4], hex[uchar(c) & 0x0F]);
        else
            out += c;
        column += width;
    }
    return out;
}

namespace {

// The frame from the message's boundary token, made once by the caller.
bool writeMimeFrame(const MailMessage &message, const QByteArray &token, unsigned number)
{
    if (!frameWanted(message))
        return false;
    BodyPart body;
    if (message.record.dwBodyLength != 0)
        body = PrepareBodyBytes(ReadMessageBodyBytes(message.record, message.xml), message.style.mboxrdFromQuoting);
    else if (message.style.emptyBodyAsHtml)
        body = BodyPart{true, EmptyBodyHtml(), BodyReading()};
    message.bodyReading = body.reading;
    if (message.style.crlfBodyLines)
        body.bytes = CrlfLineEnds(body.bytes);
    const QByteArray &le = message.style.lineEnd;
    // Mail servers refuse longer lines; quoted-printable keeps the text as it is within them.
    const bool quoted = HasOverlongLine(body.bytes);
    if (quoted)
        body.bytes = QuotedPrintable(body.bytes, le);
    const MimeBoundaries b = ChooseMimeBoundaries(token, number, body.bytes, message.fields.attachments);
    message.outerToken = b.outerToken;

    const QByteArray &fold = message.style.headerFold;
    QByteArray head;
    head.reserve(512);
    AppendPieces(head, "Content-type: multipart/mixed;", fold, b.outerParam, le, le, "--", b.outerToken, le,
                 "Content-type: multipart/alternative;", fold, b.innerParam, le, le, "--", b.innerToken, le,
                 body.html ? "Content-type: text/html;" : "Content-type: text/plain;", "charset=\"UTF-8\"", le,
                 quoted ? "Content-transfer-encoding: quoted-printable" : "Content-transfer-encoding: 8bit", le, le);
    message.out.write(head);
    if (!body.bytes.isEmpty())
        message.out.write(body.bytes);
    head.truncate(0);
    // The line end before a delimiter belongs to it: one more would add a line to the text. An
    // empty part keeps its blank line, so the delimiter never meets the part's header block.
    if (body.bytes.isEmpty())
        head += le;
    AppendPieces(head, le, "--", b.innerToken, "--", le, le);
    message.out.write(head);
    return true;
}

}  // namespace

bool WriteMimeFrame(const MailMessage &message, unsigned number)
{
    return writeMimeFrame(message, MessageBoundaryToken(message.record, message.fields), number);
}

bool WriteMimeBody(const MailMessage &message)
{
    if (!frameWanted(message))
        return false;
    const QByteArray token = MessageBoundaryToken(message.record, message.fields);
    return writeMimeFrame(message, token, BoundaryNumber(token));
}
