#include "scanner/ElementValue.h"

#include "scanner/XmlEntities.h"

#include <QCryptographicHash>
#include <QUuid>

#include <cstdlib>
#include <cstring>

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

namespace {

bool endsStartTagName(char c)
{
    return c == ' ' || c == '>' || c == '/' || c == '\t' || c == '\r' || c == '\n';
}

}  // namespace

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

namespace {

// As FindTag, with comments, CDATA sections and processing instructions stepped over whole: a
// tag inside one of them is text, not a tag.
size_t findMarkupTag(std::string_view text, std::string_view tag, size_t from)
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
            if (end != std::string_view::npos) {
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

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// Whether the text at `at` is the close tag of startTag ("<Name"): "</Name", blanks, '>'.
bool closesAt(const char *at, size_t room, std::string_view startTag)
{
    const size_t n = startTag.size() - 1;
    if (room < n + 3 || at[1] != '/' || memcmp(at + 2, startTag.data() + 1, n) != 0)
        return false;
    size_t i = n + 2;
    while (i < room && isBlank(at[i]))
        ++i;
    return i < room && at[i] == '>';
}

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

namespace {

bool isStartTag(std::string_view startTag)
{
    return startTag.size() >= 2 && startTag.size() <= 200 && startTag[0] == '<';
}

// The value of the element whose start tag begins at s. closeSeen: closeAt is the first close
// tag after s in item (npos: there is none), so the close tag is only searched for again when it
// lies inside the start tag itself.
ElementSpan spanAt(std::string_view item, std::string_view startTag, size_t s, size_t closeAt = std::string_view::npos,
                   bool closeSeen = false)
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

}  // namespace

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

namespace {

// An attribute value with its literal tabs and line breaks made blanks; raw itself when it holds
// none, so ordinary values are not copied.
std::string_view normalisedValue(std::string_view raw, std::string *storage)
{
    size_t at = 0;
    while (at < raw.size() && raw[at] != '\t' && raw[at] != '\n' && raw[at] != '\r')
        ++at;
    if (at == raw.size())
        return raw;
    storage->assign(raw.data(), at);
    for (; at < raw.size(); ++at) {
        const char c = raw[at];
        if (c == '\r' && at + 1 < raw.size() && raw[at + 1] == '\n')
            continue;  // the pair is one line break: its '\n' gives the blank
        storage->push_back(c == '\t' || c == '\n' || c == '\r' ? ' ' : c);
    }
    return *storage;
}

}  // namespace

bool FindAttribute(std::string_view tag, std::string_view name, std::string_view *value, std::string *storage)
{
    size_t i = 1;
    while (i < tag.size() && !endsStartTagName(tag[i]))
        ++i;
    while (i < tag.size()) {
        while (i < tag.size() && (isBlank(tag[i]) || tag[i] == '/'))
            ++i;
        const size_t nameStart = i;
        while (i < tag.size() && !isBlank(tag[i]) && tag[i] != '=' && tag[i] != '>' && tag[i] != '/')
            ++i;
        const std::string_view attribute = tag.substr(nameStart, i - nameStart);
        if (attribute.empty())
            return false;  // '>' or the end of the tag
        while (i < tag.size() && isBlank(tag[i]))
            ++i;
        if (i == tag.size() || tag[i] != '=')
            continue;  // no value: not XML, but the attributes after it still count
        ++i;
        while (i < tag.size() && isBlank(tag[i]))
            ++i;
        if (i == tag.size() || (tag[i] != '"' && tag[i] != '\''))
            continue;
        const size_t close = tag.find(tag[i], i + 1);
        if (close == std::string_view::npos)
            return false;
        if (attribute == name) {
            *value = normalisedValue(tag.substr(i + 1, close - i - 1), storage);
            return true;
        }
        i = close + 1;
    }
    return false;
}

void ItemElements::setTags(std::initializer_list<std::string_view> startTags)
{
    for (const std::string_view tag : startTags) {
        if (m_count == kMaxTags)
            break;
        m_tags[m_count] = tag;
        m_at[m_count] = std::string_view::npos;
        m_closeAt[m_count] = std::string_view::npos;
        ++m_count;
    }
}

ItemElements::ItemElements(std::string_view item, std::initializer_list<std::string_view> startTags) : m_item(item)
{
    setTags(startTags);
    walk(item, std::string_view());
}

ItemElements::ItemElements(std::string_view text, std::string_view itemClose,
                           std::initializer_list<std::string_view> startTags)
{
    setTags(startTags);
    walk(text, itemClose);
    m_closesKnown = m_end != std::string_view::npos;
    m_item = m_closesKnown ? text.substr(0, m_end) : text;
}

void ItemElements::walk(std::string_view text, std::string_view itemClose)
{
    // Every '<' is visited once, as FindTag would visit it, and each one is tried against
    // the tags not found yet; without an item close tag the walk ends when all are found.
    const char *base = text.data();
    const size_t size = text.size();
    const bool toClose = !itemClose.empty();
    int left = m_count;
    size_t from = 0;
    size_t nextClose = 0;  // 0: not searched yet
    while ((left > 0 || toClose) && from < size) {
        const void *lt = memchr(base + from, '<', size - from);
        if (!lt)
            break;
        const size_t at = size_t(static_cast<const char *>(lt) - base);
        from = at + 1;
        if (from < size && (base[from] == '!' || base[from] == '?')) {
            // Tags inside comments and CDATA are text. The item's close tag still ends the item,
            // so a comment cut short or running past it hides no later item; its end is only
            // looked for up to that close tag, or every item holding an unclosed one would search
            // the rest of the text.
            std::string_view scope = text;
            if (toClose) {
                if (nextClose == 0 || nextClose < at)
                    nextClose = FindBytes(text, itemClose, at);
                if (nextClose != std::string_view::npos)
                    scope = text.substr(0, nextClose);
            }
            const size_t end = MarkupEnd(scope, at);
            if (end != std::string_view::npos)
                from = end;
            continue;
        }
        if (from < size && base[from] == '/') {
            // Half of all tags are close tags: none of them is a start tag.
            if (!toClose)
                continue;
            if (size - at >= itemClose.size() && memcmp(base + at, itemClose.data(), itemClose.size()) == 0) {
                m_end = at;
                return;
            }
            for (int i = 0; i < m_count; ++i) {
                if (m_at[i] != std::string_view::npos && m_closeAt[i] == std::string_view::npos
                    && closesAt(base + at, size - at, m_tags[i]))
                    m_closeAt[i] = at;
            }
            continue;
        }
        for (int i = 0; i < m_count; ++i) {
            const std::string_view tag = m_tags[i];
            if (m_at[i] != std::string_view::npos || !isStartTag(tag) || at + tag.size() >= size)
                continue;
            // The name's end is the cheapest test: names of other lengths fail it.
            if (endsStartTagName(base[at + tag.size()]) && base[at + tag.size() - 1] == tag.back()
                && memcmp(base + at, tag.data(), tag.size()) == 0) {
                m_at[i] = at;
                --left;
            }
        }
    }
}

ElementSpan ItemElements::value(std::string_view startTag) const
{
    for (int i = 0; i < m_count; ++i) {
        if (m_tags[i] == startTag) {
            if (!isStartTag(startTag))
                return ElementSpan();
            return spanAt(m_item, startTag, m_at[i], m_closesKnown ? m_closeAt[i] : std::string_view::npos,
                          m_closesKnown);
        }
    }
    return GetElementValue(m_item, startTag);
}

std::string_view PlainElementText(std::string_view raw, std::string *storage)
{
    size_t lt = raw.find('<');
    if (lt == std::string_view::npos)
        return raw;
    storage->clear();
    storage->reserve(raw.size());
    size_t from = 0;
    for (; lt != std::string_view::npos; lt = raw.find('<', from)) {
        storage->append(raw.data() + from, lt - from);
        const size_t end = MarkupEnd(raw, lt);
        if (end == std::string_view::npos) {
            // Not markup (damage): kept as it stands.
            storage->push_back('<');
            from = lt + 1;
            continue;
        }
        from = end;
        if (raw.compare(lt, 9, "<![CDATA[") != 0)
            continue;
        const size_t textEnd = end - (raw.compare(end - 3, 3, "]]>") == 0 && end >= lt + 12 ? 3 : 0);
        for (size_t i = lt + 9; i < textEnd; ++i) {
            if (raw[i] == '&')
                storage->append("&amp;");
            else if (raw[i] == '<')
                storage->append("&lt;");
            else
                storage->push_back(raw[i]);
        }
    }
    storage->append(raw.data() + from, raw.size() - from);
    return *storage;
}

namespace {

// Whether a '<' of the text starts something other than a comment, CDATA section or processing
// instruction.
bool holdsTags(std::string_view text)
{
    for (size_t lt = text.find('<'); lt != std::string_view::npos;) {
        const size_t end = MarkupEnd(text, lt);
        if (end == std::string_view::npos)
            return true;
        lt = text.find('<', end);
    }
    return false;
}

}  // namespace

QByteArray PlainElementBytes(const QByteArray &raw)
{
    const std::string_view text(raw.constData(), size_t(raw.size()));
    if (holdsTags(text))
        return raw;
    std::string storage;
    const std::string_view plain = PlainElementText(text, &storage);
    return plain.data() == raw.constData() ? raw : QByteArray(plain.data(), int(plain.size()));
}

QString ElementText(std::string_view raw)
{
    std::string storage;
    return UnescapeXmlEntities(DecodeTrimmed(PlainElementText(raw, &storage)), EntityForm::Scanned);
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

void MakeRecordUuid(char *dst, const ItemPiece &item, std::string_view closeTag)
{
    const QByteArray hex = ItemUuidHex(item.start, {item.bytes, closeTag});
    memcpy(dst, hex.constData(), 32);
    dst[32] = '\0';
}
