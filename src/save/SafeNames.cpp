#include "save/SafeNames.h"

#include "save/BidiControls.h"

#include <algorithm>

QByteArray Utf8Left(const QByteArray &text, int bytes)
{
    if (text.size() <= bytes)
        return text;
    bytes = qMax(0, bytes);
    while (bytes > 0 && (uchar(text.at(bytes)) & 0xC0) == 0x80)
        --bytes;
    return text.left(bytes);
}

int Utf8CharLength(const QByteArray &text, int at)
{
    const uchar c = uchar(text.at(at));
    if (c < 0x80)
        return 1;
    int more;
    uint least, value;
    if (c >= 0xC2 && c <= 0xDF)
        more = 1, least = 0x80, value = c & 0x1F;
    else if (c >= 0xE0 && c <= 0xEF)
        more = 2, least = 0x800, value = c & 0x0F;
    else if (c >= 0xF0 && c <= 0xF4)
        more = 3, least = 0x10000, value = c & 0x07;
    else
        return 0;
    if (at + more >= text.size())
        return 0;
    for (int k = 1; k <= more; ++k) {
        const uchar next = uchar(text.at(at + k));
        if ((next & 0xC0) != 0x80)
            return 0;
        value = (value << 6) | (next & 0x3F);
    }
    if (value < least || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
        return 0;
    return 1 + more;
}

bool IsC1ControlAt(const QByteArray &text, int at)
{
    return uchar(text.at(at)) == 0xC2 && at + 1 < text.size() && uchar(text.at(at + 1)) >= 0x80
        && uchar(text.at(at + 1)) <= 0x9F;
}

bool HasC1Control(const QByteArray &text)
{
    for (int at = text.indexOf('\xC2'); at >= 0; at = text.indexOf('\xC2', at + 1)) {
        if (IsC1ControlAt(text, at))
            return true;
    }
    return false;
}

namespace {

template <typename Text, typename Dot>
int extensionStart(const Text &name, Dot dot, int maxLength)
{
    const int at = name.lastIndexOf(dot);
    return at > 0 && name.size() - at <= maxLength ? at : -1;
}

}  // namespace

QByteArray FileExtension(const QByteArray &name, int maxLength, bool lettersAndDigits)
{
    const int at = extensionStart(name, '.', maxLength);
    if (at < 0 || (lettersAndDigits && !std::all_of(name.begin() + at + 1, name.end(), [](char ch) {
                       return QChar::isLetterOrNumber(uchar(ch));
                   })))
        return {};
    return name.mid(at);
}

QString FileExtension(const QString &name, int maxLength)
{
    const int at = extensionStart(name, QLatin1Char('.'), maxLength);
    return at < 0 ? QString() : name.mid(at);
}

QByteArray NumberedWithin(const QByteArray &stem, const QByteArray &number, const QByteArray &suffix, int maxBytes)
{
    return Utf8Left(stem, maxBytes - number.size() - suffix.size()) + number + suffix;
}

QString NameForLine(const QByteArray &name)
{
    QString out;
    for (const QChar ch : QString::fromUtf8(name.constData(), name.size())) {
        if (ch.unicode() < 0x20 || ch.unicode() == 0x7F || (ch.unicode() >= 0x80 && ch.unicode() <= 0x9F))
            out += QStringLiteral("\\x%1").arg(ch.unicode(), 2, 16, QLatin1Char('0'));
        else
            out += ch;
    }
    return out;
}

QByteArray SafeFolderPart(const QByteArray &rawPart, int maxBytes, bool asText)
{
    // A folder named "invoice<U+202E>fdp.exe" would show as another name in every file manager.
    const QByteArray part = WithoutBidiControls(rawPart);
    QByteArray out;
    out.reserve(part.size());
    for (int i = 0; i < part.size();) {
        const uchar c = uchar(part.at(i));
        const int length = asText ? Utf8CharLength(part, i) : 1;
        if (c < 0x20 || c == 0x7F || c == '\\' || length == 0) {
            // Bytes that are no character would all read as U+FFFD: two names that differ only
            // there meet as a clash and are numbered rather than merge.
            out += '_';
            ++i;
        } else if (IsC1ControlAt(part, i)) {
            out += '_';
            i += 2;
        } else {
            out += part.mid(i, length);
            i += length;
        }
    }
    out = Utf8Left(out, maxBytes);
    if (out.count('.') == out.size())
        out = QByteArray(qMax(1, out.size()), '_');
    return out;
}
