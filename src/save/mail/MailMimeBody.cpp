// The MIME frame of a message: boundaries from its Message-ID, the multipart/alternative part
// and its one text part, whose kind and line ends follow from the body text.

#include "save/mail/MailMimeParts.h"
#include "save/mail/MessageFiles.h"

#include "platform/Crc32.h"
#include "save/MessageFields.h"
#include "scanner/ElementValue.h"
#include "scanner/ScanGlobals.h"
#include "scanner/XmlEntities.h"

#include <cstring>

namespace {

// RFC 2046 bcharsnospace; the space that bchars also allows is left out, since a boundary
// must not end with one and folding could eat it.
bool isBoundaryChar(QChar c)
{
    const ushort u = c.unicode();
    if ((u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9'))
        return true;
    return u != 0 && u < 0x80 && std::strchr("'()+_,-./:=?", char(u)) != nullptr;
}

struct TagPair {
    const char *open;
    const char *close;
};

// The anchor row must stay last: the line-end test leaves it out.
const TagPair kTagPairs[kHtmlRowsKind] = {
    {"<html", "</html>"},   {"<table", "</table>"},   {"<body", "</body>"}, {"<tbody", "</tbody>"},
    {"<td", "</td>"},       {"<tr", "</tr>"},         {"<div", "</div>"},   {"<br", "</br>"},
    {"<small", "</small>"}, {"<strong", "</strong>"}, {"<map", "</map>"},   {"<head", "</head>"},
    {"<title", "</title>"}, {"<a ", "</a>"},
};

// Any of these in the raw text means it came as escaped markup or text: its line ends are
// then made plain LF whatever the kind test says.
const char *const kEntityGate[] = {"&gt;", "&lt;", "&amp;", "&nbsp;"};

// The searches below visit only the '&' or '<' positions: a body is scanned once, not once per
// entity or tag (the tag test alone was a tenth of a save).
bool hasGateEntity(const QString &text)
{
    for (int at = text.indexOf(QLatin1Char('&')); at >= 0; at = text.indexOf(QLatin1Char('&'), at + 1)) {
        for (const char *g : kEntityGate) {
            if (HasCaselessLiteralAt(text, at, g))
                return true;
        }
    }
    return false;
}

// CR LF and a lone CR each become one LF.
void makeLineEndsLf(QString &text)
{
    if (!text.contains(QLatin1Char('\r')))
        return;
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
}

bool frameWanted(const MailMessage &message)
{
    return message.style.writesMimeFrame
           && (message.record.dwBodyLength != 0 || message.style.writeEmptyTextPart);
}

} // namespace

QByteArray BoundaryTokenFromId(const QString &messageId)
{
    QByteArray token;
    token.reserve(messageId.size());
    for (const QChar c : messageId) {
        if (c == QLatin1Char('<') || c == QLatin1Char('>'))
            continue;
        token.append(isBoundaryChar(c) ? char(c.unicode()) : '_');
    }
    return token;
}

bool HasUsableMessageId(const QString &messageId)
{
    return !BoundaryTokenFromId(messageId).isEmpty();
}

QByteArray FallbackBoundaryToken(const MailMLRC &record)
{
    return "olm-part-" + QByteArray::number(record.llDataOffset, 16) + '-'
           + QByteArray::number(record.llBodyOffset, 16) + '-'
           + QByteArray::number(record.dwBodyLength, 16);
}

QByteArray MessageBoundaryToken(const MailMLRC &record, const MailMessageFields &fields)
{
    const QByteArray token = BoundaryTokenFromId(fields.strMessageId);
    return token.isEmpty() ? FallbackBoundaryToken(record) : token;
}

MimeBoundaries MakeMimeBoundaries(const QByteArray &token, unsigned number)
{
    // The number stands after the identifier's eighth character, as in "boundary=" plus the
    // bracketed id with the number at index 18; a shorter token gets it at its end.
    const int at = qMin(8, token.size());
    MimeBoundaries b;
    b.outerToken = token;
    b.outerParam = "boundary=\"" + token + '"';
    b.innerToken = token.left(at) + QByteArray::number(number) + token.mid(at);
    b.innerParam = "boundary=\"" + b.innerToken + '"';
    return b;
}

unsigned BoundaryNumber(const QByteArray &token)
{
    return Crc32Update(0, token.constData(), token.size()) % 1000000u;
}

namespace {

bool occursIn(const MimeBoundaries &b, const QByteArray &body, const QVector<AttachmentInfo> &attachments)
{
    if (body.contains(b.outerToken) || body.contains(b.innerToken))
        return true;
    for (const AttachmentInfo &a : attachments) {
        if (a.name.contains(QLatin1String(b.outerToken)) || a.name.contains(QLatin1String(b.innerToken)))
            return true;
    }
    return false;
}

}  // namespace

MimeBoundaries ChooseMimeBoundaries(const QByteArray &token, unsigned number, const QByteArray &body,
                                    const QVector<AttachmentInfo> &attachments)
{
    MimeBoundaries b = MakeMimeBoundaries(token, number);
    // Each new suffix makes the token longer than any text that held the one before, so the
    // search ends; the cap only guards against a pathological body.
    for (int attempt = 1; attempt < 10000 && occursIn(b, body, attachments); ++attempt)
        b = MakeMimeBoundaries(token + '_' + QByteArray::number(attempt), number);
    return b;
}

bool IsHtmlBody(const QString &text, int rows)
{
    const int n = qBound(0, rows, kHtmlRowsKind);
    quint32 opened = 0, closed = 0;
    for (int at = text.indexOf(QLatin1Char('<')); at >= 0; at = text.indexOf(QLatin1Char('<'), at + 1)) {
        for (int i = 0; i < n; ++i) {
            const quint32 bit = 1u << i;
            if (!(opened & bit) && HasCaselessLiteralAt(text, at, kTagPairs[i].open))
                opened |= bit;
            if (!(closed & bit) && HasCaselessLiteralAt(text, at, kTagPairs[i].close))
                closed |= bit;
        }
        if (opened & closed)
            return true;
    }
    return false;
}

QString ReadMessageBody(const MailMLRC &record)
{
    if (record.dwBodyLength == 0)
        return QString();
    return QString::fromUtf8(UpToFirstNul(ReadArchiveBytes(record.llBodyOffset, record.dwBodyLength)));
}

QByteArray QuoteMboxFromLines(const QByteArray &text)
{
    // Only lines that start with "From " after any '>' get one more '>'; such lines are rare, so
    // the text is searched for "From " and each hit is checked for standing at a line start.
    const std::string_view view(text.constData(), size_t(text.size()));
    static constexpr std::string_view from = "From ";
    size_t at = FindBytes(view, from);
    if (at == std::string_view::npos)
        return text;
    QByteArray out;
    size_t copied = 0;
    for (; at != std::string_view::npos; at = FindBytes(view, from, at + from.size())) {
        size_t lineStart = at;
        while (lineStart > 0 && view[lineStart - 1] == '>')
            --lineStart;
        // A lone CR ends a line too: the package's mailboxes are read CR-aware.
        if (lineStart > 0 && view[lineStart - 1] != '\n' && view[lineStart - 1] != '\r')
            continue;
        if (out.isEmpty())
            out.reserve(text.size() + 64);
        out.append(text.constData() + copied, int(lineStart - copied));
        out.append('>');
        copied = lineStart;
    }
    if (out.isEmpty())
        return text;
    out.append(text.constData() + copied, int(view.size() - copied));
    return out;
}

BodyPart PrepareBodyPart(const QString &raw, bool mboxrdFromQuoting)
{
    const bool escaped = hasGateEntity(raw);
    QString text = UnescapeXmlEntities(raw, EntityForm::Named);
    BodyPart part;
    part.html = IsHtmlBody(text, kHtmlRowsKind);
    // Markup keeps its own line ends; text (and anything that came escaped) gets LF.
    if (escaped || !IsHtmlBody(text, kHtmlRowsLineEnds))
        makeLineEndsLf(text);
    part.bytes = text.toUtf8();
    if (mboxrdFromQuoting)
        part.bytes = QuoteMboxFromLines(part.bytes);
    return part;
}

bool WriteMimeFrame(const MailMessage &message, unsigned number)
{
    if (!frameWanted(message))
        return false;
    BodyPart body;
    if (message.record.dwBodyLength != 0)
        body = PrepareBodyPart(ReadMessageBody(message.record), message.style.mboxrdFromQuoting);
    else if (message.style.emptyBodyAsHtml)
        body = BodyPart{true, EmptyBodyHtml()};
    const MimeBoundaries b = ChooseMimeBoundaries(MessageBoundaryToken(message.record, message.fields), number,
                                                  body.bytes, message.fields.attachments);
    message.outerToken = b.outerToken;
    const QByteArray &le = message.style.lineEnd;

    const QByteArray &fold = message.style.headerFold;
    QByteArray head = "Content-type: multipart/mixed;" + fold + b.outerParam + le + le;
    head += "--" + b.outerToken + le;
    head += "Content-type: multipart/alternative;" + fold + b.innerParam + le + le;
    head += "--" + b.innerToken + le;
    head += body.html ? "Content-type: text/html;" : "Content-type: text/plain;";
    head += "charset=\"UTF-8\"" + le;
    head += "Content-transfer-encoding: 8bit" + le + le;
    message.out.write(head);
    if (!body.bytes.isEmpty())
        message.out.write(body.bytes);
    message.out.write(le + le + "--" + b.innerToken + "--" + le + le);
    return true;
}

bool WriteMimeBody(const MailMessage &message)
{
    if (!frameWanted(message))
        return false;
    return WriteMimeFrame(message, BoundaryNumber(MessageBoundaryToken(message.record, message.fields)));
}
