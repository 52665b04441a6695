// MIME boundaries: made from the Message-ID, else from where the record lies, and chosen again
// while one occurs in the text it delimits.

#include "save/mail/MailMimeParts.h"

#include "platform/Crc32.h"
#include "save/MessageFields.h"
#include "scanner/ScanGlobals.h"

#include <cstring>

namespace {

// RFC 2046 bcharsnospace; the space that bchars also allows is left out, since a boundary
// must not end with one and folding could eat it.
bool isBoundaryChar(QChar c)
{
    // Looked up, not searched for: every character of the id is tested, three times a message.
    static const struct Allowed {
        bool ascii[128] = {};
        Allowed()
        {
            for (int u = 1; u < 128; ++u)
                ascii[u] = (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9')
                    || std::strchr("'()+_,-./:=?", u) != nullptr;
        }
    } allowed;
    const ushort u = c.unicode();
    return u < 128 && allowed.ascii[u];
}

}  // namespace

QByteArray BoundaryTokenFromId(const QString &messageId)
{
    QByteArray token(messageId.size(), Qt::Uninitialized);
    char *to = token.data();
    for (const QChar c : messageId) {
        if (c == QLatin1Char('<') || c == QLatin1Char('>'))
            continue;
        *to++ = isBoundaryChar(c) ? char(c.unicode()) : '_';
    }
    token.truncate(int(to - token.constData()));
    return token;
}

bool HasUsableMessageId(const QString &messageId)
{
    return !BoundaryTokenFromId(messageId).isEmpty();
}

QByteArray FallbackBoundaryToken(const MailMLRC &record)
{
    return "olm-part-" + QByteArray::number(record.llDataOffset, 16) + '-' + QByteArray::number(record.llBodyOffset, 16)
        + '-' + QByteArray::number(record.dwBodyLength, 16);
}

QByteArray BoundedBoundaryToken(const QByteArray &token)
{
    if (token.size() <= kMaxBoundaryToken)
        return token;
    // Hosted mail's ids run past 80 characters. The CRC-32 of the whole id keeps two ids that
    // share their start apart; '_' is no base64 digit, so no encoded part can hold the token.
    const QByteArray crc =
        QByteArray::number(Crc32Update(0, token.constData(), token.size()), 16).rightJustified(8, '0');
    return token.left(kMaxBoundaryToken - 9) + '_' + crc;
}

QByteArray MessageBoundaryToken(const MailMLRC &record, const MailMessageFields &fields)
{
    const QByteArray token = BoundaryTokenFromId(fields.strMessageId);
    return BoundedBoundaryToken(token.isEmpty() ? FallbackBoundaryToken(record) : token);
}

MimeBoundaries MakeMimeBoundaries(const QByteArray &token, unsigned number)
{
    // The number stands after the identifier's eighth character, as in "boundary=" plus the
    // bracketed id with the number at index 18; a shorter token gets it at its end.
    const int at = qMin(8, token.size());
    const QByteArray digits = QByteArray::number(number);
    MimeBoundaries b;
    b.outerToken = token;
    b.innerToken.reserve(token.size() + digits.size());
    b.innerToken.append(token.constData(), at).append(digits).append(token.constData() + at, token.size() - at);
    b.outerParam.reserve(b.outerToken.size() + 11);
    AppendPieces(b.outerParam, "boundary=\"", b.outerToken, '"');
    b.innerParam.reserve(b.innerToken.size() + 11);
    AppendPieces(b.innerParam, "boundary=\"", b.innerToken, '"');
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
