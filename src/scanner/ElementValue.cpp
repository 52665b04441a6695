#include "scanner/ElementSyntax.h"
#include "scanner/XmlEntities.h"

#include <QCryptographicHash>
#include <QUuid>

#include <cstdlib>
#include <cstring>

using namespace element_syntax;

size_t FindBytes(std::string_view haystack, std::string_view needle, size_t from)
{
    if (from > haystack.size() || needle.empty() || haystack.size() - from < needle.size())
        return std::string_view::npos;
    const void *hit = memmem(haystack.data() + from, haystack.size() - from, needle.data(), needle.size());
    return hit ? size_t(static_cast<const char *>(hit) - haystack.data()) : std::string_view::npos;
}

size_t FindTag(std::string_view item, std::string_view tag, size_t from)
{
    const char *base = item.data();
    const size_t size = item.size();
    while (from + tag.size() <= size) {
        const void *lt = memchr(base + from, '<', size - from);
        if (!lt)
            return std::string_view::npos;
        const size_t at = size_t(static_cast<const char *>(lt) - base);
        if (at + tag.size() > size)
            return std::string_view::npos;
        // Tags of one document mostly share their first letters; their last ones tell them apart.
        if (base[at + 1] == tag[1] && base[at + tag.size() - 1] == tag.back()
            && memcmp(base + at, tag.data(), tag.size()) == 0)
            return at;
        from = at + 1;
    }
    return std::string_view::npos;
}

size_t MarkupEnd(std::string_view text, size_t lt)
{
    static constexpr std::string_view kForms[][2] = {{"<!--", "-->"}, {"<![CDATA[", "]]>"}, {"<?", "?>"}};
    for (const auto &form : kForms) {
        if (text.compare(lt, form[0].size(), form[0]) != 0)
            continue;
        const size_t close = FindBytes(text, form[1], lt + form[0].size());
        return close == std::string_view::npos ? text.size() : close + form[1].size();
    }
    return std::string_view::npos;
}

// A tag inside a comment, CDATA section or instruction is text, not a tag.
size_t element_syntax::findMarkupTag(std::string_view text, std::string_view tag, size_t from, bool unclosedHides)
{
    const char *base = text.data();
    const size_t size = text.size();
    while (from < size) {
        const void *lt = memchr(base + from, '<', size - from);
        if (!lt)
            return std::string_view::npos;
        const size_t at = size_t(static_cast<const char *>(lt) - base);
        if (at + 1 < size && (base[at + 1] == '!' || base[at + 1] == '?')) {
            const size_t end = MarkupEnd(text, at);
            if (end != std::string_view::npos && (unclosedHides || end < size)) {
                from = end;
                continue;
            }
        }
        if (size - at >= tag.size() && memcmp(base + at, tag.data(), tag.size()) == 0)
            return at;
        from = at + 1;
    }
    return std::string_view::npos;
}

namespace {

// The first close tag of startTag at or after from, outside comments and CDATA; npos if none.
size_t findCloseTag(std::string_view text, std::string_view startTag, size_t from)
{
    char close[204];
    close[0] = '<';
    close[1] = '/';
    memcpy(close + 2, startTag.data() + 1, startTag.size() - 1);
    const std::string_view prefix(close, startTag.size() + 1);
    for (size_t at = findMarkupTag(text, prefix, from); at != std::string_view::npos;
         at = findMarkupTag(text, prefix, at + 1)) {
        if (closesAt(text.data() + at, text.size() - at, startTag))
            return at;
    }
    return std::string_view::npos;
}

}  // namespace

ItemPiece OwnItemStart(const ItemPiece &piece, std::string_view closeTag)
{
    if (closeTag.size() < 4 || piece.bytes.empty())
        return piece;
    std::string itemTag("<");
    itemTag.append(closeTag.substr(2, closeTag.size() - 3));
    const size_t at = FindStartTag(piece.bytes, itemTag, 0);
    if (at == 0 || at == std::string_view::npos)
        return piece;
    // The store's root is its items' name made plural: "<tasks".
    const std::string_view before = piece.bytes.substr(0, at);
    if (before.find('\0') == std::string_view::npos && FindStartTag(before, itemTag + 's', 0) != std::string_view::npos)
        return piece;
    return ItemPiece{piece.bytes.substr(at), piece.start + qint64(at), piece.length - qint64(at)};
}

std::string_view ElementWithLostStart(std::string_view item, std::string_view itemTag, std::string_view startTag)
{
    size_t head = 0;
    while (head < item.size() && element_syntax::isBlank(item[head]))
        ++head;
    if (startTag.size() < 2 || item.compare(head, itemTag.size(), itemTag) == 0
        || FindStartTag(item, startTag, 0) != std::string_view::npos)
        return {};
    std::string close("</");
    close.append(startTag.substr(1));
    const size_t at = FindBytes(item, close, 0);
    return at == std::string_view::npos ? std::string_view() : item.substr(0, at);
}

size_t NextItemStart(const ItemPiece &piece, std::string_view closeTag)
{
    if (closeTag.size() < 4)
        return std::string_view::npos;
    std::string itemTag("<");
    itemTag.append(closeTag.substr(2, closeTag.size() - 3));
    const size_t own = FindStartTag(piece.bytes, itemTag, 0);
    if (own == std::string_view::npos)
        return own;
    // The walk that ended this item read its close tag past markup that never closes (damaged
    // bytes: "<?" with no "?>"): that opening hides no later item's start either.
    for (size_t from = own + 1;;) {
        const size_t at = findMarkupTag(piece.bytes, itemTag, from, false);
        if (at == std::string_view::npos
            || (at + itemTag.size() < piece.bytes.size() && endsStartTagName(piece.bytes[at + itemTag.size()])))
            return at;
        from = at + 1;
    }
}

size_t FindStartTag(std::string_view item, std::string_view startTag, size_t from)
{
    while (true) {
        const size_t at = findMarkupTag(item, startTag, from);
        if (at == std::string_view::npos)
            return at;
        const size_t after = at + startTag.size();
        if (after < item.size() && endsStartTagName(item[after]))
            return at;
        from = at + 1;
    }
}

ElementSpan element_syntax::spanAt(std::string_view item, std::string_view startTag, size_t s, size_t closeAt,
                                   bool closeSeen)
{
    ElementSpan span;
    if (s == std::string_view::npos)
        return span;
    // The exporter's own form ends after a fixed text: no need to scan it.
    static constexpr std::string_view kUsual = " xml:space=\"preserve\">";
    size_t gt = item.compare(s + startTag.size(), kUsual.size(), kUsual) == 0 ? s + startTag.size() + kUsual.size() - 1
                                                                              : StartTagLimit(item, s);
    // A start tag cut by a '<' (damage): its first '>' ends it, as it always did.
    if (gt < item.size() && item[gt] != '>')
        gt = item.find('>', gt);
    if (gt >= item.size())
        return span;
    const size_t valueStart = gt + 1;
    span.start = qint64(valueStart);
    if (item[gt - 1] == '/') {
        span.found = true;
        return span;
    }
    if (closeSeen && (closeAt == std::string_view::npos || closeAt >= valueStart)) {
        if (closeAt == std::string_view::npos)
            return span;
        span.found = true;
        span.length = qint64(closeAt - valueStart);
        return span;
    }
    const size_t c = findCloseTag(item, startTag, valueStart);
    if (c == std::string_view::npos)
        return span;
    span.found = true;
    span.length = qint64(c - valueStart);
    return span;
}

ElementSpan GetElementValue(std::string_view item, std::string_view startTag)
{
    if (!isStartTag(startTag))
        return ElementSpan();
    return spanAt(item, startTag, FindStartTag(item, startTag, 0));
}

namespace {

// The bytes that end a start tag or open a quoted value in it.
struct TagStops {
    bool stop[256] = {};
    constexpr TagStops() : stop() { stop[uchar('<')] = stop[uchar('>')] = stop[uchar('"')] = stop[uchar('\'')] = true; }
};
constexpr TagStops kTagStops;

}  // namespace

size_t StartTagLimit(std::string_view text, size_t lt)
{
    // A '<' outside quotes starts the next tag, so every tag's scan ends there whatever a damaged
    // tag holds. A quote that never closes is damage: it is read as a plain character.
    const char *base = text.data();
    const size_t size = text.size();
    for (size_t i = lt + 1; i < size; ++i) {
        const char c = base[i];
        if (!kTagStops.stop[uchar(c)])
            continue;
        if (c == '<' || c == '>')
            return i;
        size_t close = i + 1;
        while (close < size && base[close] != c)
            ++close;
        if (close < size)
            i = close;
    }
    return size;
}

size_t StartTagEnd(std::string_view text, size_t lt)
{
    const size_t end = StartTagLimit(text, lt);
    return end < text.size() && text[end] == '>' ? end : std::string_view::npos;
}

std::string_view ElementBytes(std::string_view item, const ElementSpan &span)
{
    if (!span.found)
        return {};
    return item.substr(size_t(span.start), size_t(span.length));
}

QString DecodeTrimmed(std::string_view raw)
{
    if (raw.empty())
        return QString();
    const void *nul = memchr(raw.data(), 0, raw.size());
    const size_t len = nul ? size_t(static_cast<const char *>(nul) - raw.data()) : raw.size();
    return QString::fromUtf8(raw.data(), int(len)).trimmed();
}

bool IsBlankValue(std::string_view raw)
{
    for (size_t i = 0; i < raw.size(); ++i) {
        const uchar b = uchar(raw[i]);
        if (b == 0)
            return true;
        if (b >= 0x80)
            return DecodeTrimmed(raw.substr(i)).isEmpty();
        if (b != ' ' && (b < '\t' || b > '\r'))
            return false;
    }
    return true;
}

char *MakeCString(const QByteArray &bytes)
{
    char *s = static_cast<char *>(calloc(size_t(bytes.size()) + 1, 1));
    if (s)
        memcpy(s, bytes.constData(), size_t(bytes.size()));
    return s;
}

namespace {

char *shortText(std::string_view item, const ElementSpan &span, int maxUnits)
{
    if (!span.found)
        return nullptr;
    std::string plain;
    const QString value = DecodeTrimmed(PlainElementText(ElementBytes(item, span), &plain));
    if (value.isEmpty() || (maxUnits > 0 && value.size() > maxUnits))
        return nullptr;
    return MakeCString(UnescapeXmlEntities(value, EntityForm::Scanned).toUtf8());
}

bool longText(std::string_view item, const ElementSpan &span, qint64 itemStart, quint32 *length, qint64 *offset)
{
    if (!span.found || IsBlankValue(ElementBytes(item, span)))
        return false;
    *length = quint32(qMin<qint64>(span.length, 0xFFFFFFFFLL));
    *offset = itemStart + span.start;
    return true;
}

}  // namespace

char *MakeShortText(std::string_view item, std::string_view name, int maxUnits)
{
    return shortText(item, GetElementValue(item, name), maxUnits);
}

char *MakeShortText(const ItemElements &item, std::string_view name, int maxUnits)
{
    return shortText(item.item(), item.value(name), maxUnits);
}

bool MakeLongText(std::string_view item, std::string_view name, qint64 itemStart, quint32 *length, qint64 *offset)
{
    return longText(item, GetElementValue(item, name), itemStart, length, offset);
}

bool MakeLongText(const ItemElements &item, std::string_view name, qint64 itemStart, quint32 *length, qint64 *offset)
{
    return longText(item.item(), item.value(name), itemStart, length, offset);
}

QByteArray ItemUuidHex(qint64 offset, std::initializer_list<std::string_view> parts)
{
    static const QUuid space(0x5c3b9e4au, 0x2f61, 0x4d8e, 0x9a, 0x27, 0x61, 0x0e, 0xc4, 0x3d, 0x8b, 0x52);
    QCryptographicHash sha1(QCryptographicHash::Sha1);
    sha1.addData(space.toRfc4122());
    sha1.addData(QByteArray::number(offset) + ':');
    for (std::string_view part : parts) {
        for (size_t at = 0; at < part.size();) {
            const size_t n = qMin<size_t>(part.size() - at, size_t(1) << 30);
            sha1.addData(part.data() + at, int(n));
            at += n;
        }
    }
    QByteArray id = sha1.result().left(16);
    id[6] = char((id[6] & 0x0F) | 0x50);  // version 5
    id[8] = char((id[8] & 0x3F) | 0x80);  // the standard variant
    return id.toHex().toUpper();
}

void MakeRecordUuid(char *dst, const ItemPiece &item)
{
    // The close tag follows the bytes in the text they were cut from.
    const std::string_view close(item.bytes.data() + item.bytes.size(), size_t(item.length) - item.bytes.size());
    const QByteArray hex = ItemUuidHex(item.start, {item.bytes, close});
    memcpy(dst, hex.constData(), 32);
    dst[32] = '\0';
}
