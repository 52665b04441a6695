// The walk over a store's items: where each item ends (its close tag, blanks before '>' as XML
// allows), where the store's root ends, and each item's elements found in the same walk.

#include "scanner/ElementSyntax.h"
#include "scanner/WellFormed.h"

using namespace element_syntax;

size_t CloseTagLengthAt(std::string_view text, size_t at, std::string_view closeTag)
{
    // closeTag is "</Name>": its name is matched whole, then blanks, then the '>'.
    const size_t n = closeTag.size() - 1;
    if (closeTag.size() < 4 || at > text.size() || text.size() - at < closeTag.size()
        || memcmp(text.data() + at, closeTag.data(), n) != 0)
        return 0;
    size_t i = at + n;
    while (i < text.size() && isBlank(text[i]))
        ++i;
    return i < text.size() && text[i] == '>' ? i + 1 - at : 0;
}

bool HasItemClose(std::string_view text, std::string_view closeTag)
{
    // Close tags stand at an item's end: look there first.
    const std::string_view name = closeTag.substr(0, closeTag.size() - 1);
    size_t at = text.rfind(name);
    while (at != std::string_view::npos) {
        if (CloseTagLengthAt(text, at, closeTag))
            return true;
        if (at == 0)
            return false;
        at = text.rfind(name, at - 1);
    }
    return false;
}

size_t MarkupMemo::end(std::string_view text, size_t lt)
{
    static constexpr std::string_view kForms[][2] = {{"<!--", "-->"}, {"<![CDATA[", "]]>"}, {"<?", "?>"}};
    for (int k = 0; k < 3; ++k) {
        const auto &form = kForms[k];
        if (text.compare(lt, form[0].size(), form[0]) != 0)
            continue;
        const char *from = text.data() + lt + form[0].size();
        // Once a form's closing text was missing from some point on, it is missing from every
        // later point: the search is not made again (that made unclosed ones quadratic).
        if (m_noEndFrom[k] && from >= m_noEndFrom[k] && m_textEnd == text.data() + text.size())
            return std::string_view::npos;
        // A comment holds no "--" but its end: one that does is broken where it stands.
        const std::string_view closing = k == 0 ? std::string_view("--") : form[1];
        const size_t close = FindBytes(text, closing, lt + form[0].size());
        if (close != std::string_view::npos && k == 0)
            return text.compare(close, 3, "-->") == 0 ? close + 3 : std::string_view::npos;
        if (close != std::string_view::npos)
            return close + form[1].size();
        m_noEndFrom[k] = from;
        m_textEnd = text.data() + text.size();
        return std::string_view::npos;
    }
    return std::string_view::npos;
}

bool RootClosesAt(std::string_view text, size_t from, MarkupMemo *memo)
{
    MarkupMemo own;
    MarkupMemo &m = memo ? *memo : own;
    while (from < text.size()) {
        if (isBlank(text[from])) {
            ++from;
            continue;
        }
        if (text[from] != '<' || from + 1 >= text.size())
            return false;
        if (text[from + 1] == '/')
            return true;
        if (text[from + 1] != '!' && text[from + 1] != '?')
            return false;
        const size_t end = m.end(text, from);
        if (end == std::string_view::npos)
            return false;
        from = end;
    }
    return false;
}

namespace {

// Whether startTag ("<email") stands at from, after blanks, comments and instructions.
bool itemStartsAt(std::string_view text, size_t from, std::string_view startTag, MarkupMemo &memo)
{
    while (from < text.size() && isBlank(text[from]))
        ++from;
    while (from + 1 < text.size() && text[from] == '<' && (text[from + 1] == '!' || text[from + 1] == '?')) {
        from = memo.end(text, from);
        if (from == std::string_view::npos)
            return false;
        while (from < text.size() && isBlank(text[from]))
            ++from;
    }
    return text.size() - from > startTag.size() && memcmp(text.data() + from, startTag.data(), startTag.size()) == 0
        && endsStartTagName(text[from + startTag.size()]);
}

}  // namespace

int StrayItemCloses(std::string_view text, size_t closeEnd, std::string_view closeTag, MarkupMemo *memo)
{
    // Each stray close tag costs a check of the item so far: a few are passed over, no more.
    constexpr int kMostStrays = 16;
    if (closeTag.size() < 4)
        return 0;
    const std::string startTag = "<" + std::string(closeTag.substr(2, closeTag.size() - 3));
    int strays = 0;
    for (size_t end = closeEnd; strays < kMostStrays && !itemStartsAt(text, end, startTag, *memo); ++strays) {
        const ItemElements next(text.substr(end), closeTag, {}, memo);
        if (next.end() == std::string_view::npos
            || FindStartTag(text.substr(end, next.end()), startTag, 0) != std::string_view::npos)
            break;
        const size_t nextEnd = end + next.end() + next.closeLength();
        if (CheckItem(text.substr(0, nextEnd), startTag).closedAt != nextEnd)
            break;
        end = nextEnd;
    }
    return strays;
}

bool EndsWithRootClose(std::string_view text, std::string_view root)
{
    // Blanks, comments and instructions may follow the root: step back over them.
    size_t end = text.size();
    while (true) {
        while (end > 0 && isBlank(text[end - 1]))
            --end;
        const std::string_view head = text.substr(0, end);
        size_t open = std::string_view::npos;
        if (head.size() >= 3 && head.compare(head.size() - 3, 3, "-->") == 0)
            open = head.rfind("<!--");
        else if (head.size() >= 2 && head.compare(head.size() - 2, 2, "?>") == 0)
            open = head.rfind("<?");
        if (open == std::string_view::npos)
            break;
        end = open;
    }
    if (end == 0 || text[end - 1] != '>')
        return false;
    size_t lt = end - 1;
    while (lt > 0 && text[lt] != '<')
        --lt;
    if (text[lt] != '<' || text.compare(lt, 2, "</") != 0 || text.compare(lt + 2, root.size(), root) != 0)
        return false;
    for (size_t i = lt + 2 + root.size(); i + 1 < end; ++i) {
        if (!isBlank(text[i]))
            return false;
    }
    return true;
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
    MarkupMemo memo;
    walk(item, std::string_view(), &memo);
}

ItemElements::ItemElements(std::string_view text, std::string_view itemClose,
                           std::initializer_list<std::string_view> startTags, MarkupMemo *memo, int strayCloses)
{
    setTags(startTags);
    MarkupMemo own;
    walk(text, itemClose, memo ? memo : &own, strayCloses);
    m_closesKnown = m_end != std::string_view::npos;
    m_item = m_closesKnown ? text.substr(0, m_end) : text;
}

void ItemElements::walk(std::string_view text, std::string_view itemClose, MarkupMemo *memo, int strayCloses)
{
    // Every '<' is visited once, as FindTag would visit it, and each one is tried against
    // the tags not found yet; without an item close tag the walk ends when all are found.
    const char *base = text.data();
    const size_t size = text.size();
    const bool toClose = !itemClose.empty();
    int left = m_count;
    bool hidden = false;
    size_t from = 0;
    while ((left > 0 || toClose) && from < size) {
        const void *lt = memchr(base + from, '<', size - from);
        if (!lt)
            break;
        const size_t at = size_t(static_cast<const char *>(lt) - base);
        from = at + 1;
        if (from < size && (base[from] == '!' || base[from] == '?')) {
            // Tags inside comments, CDATA and instructions are text, as an XML reader reads
            // them. One that never ends is damage: all after it is its text, so no element is
            // taken from there, but the item's close tag still ends the item and hides no later
            // item.
            const size_t end = memo->end(text, at);
            if (end != std::string_view::npos) {
                from = end;
            } else if (!toClose) {
                return;
            } else {
                left = 0;
                hidden = true;
            }
            continue;
        }
        if (from < size && base[from] == '/') {
            // Half of all tags are close tags: none of them is a start tag.
            if (!toClose)
                continue;
            if (const size_t length = CloseTagLengthAt(text, at, itemClose)) {
                if (strayCloses-- > 0)
                    continue;
                m_end = at;
                m_closeLength = length;
                return;
            }
            for (int i = 0; i < m_count && !hidden; ++i) {
                if (m_at[i] != std::string_view::npos && m_closeAt[i] == std::string_view::npos
                    && closesAt(base + at, size - at, m_tags[i]))
                    m_closeAt[i] = at;
            }
            continue;
        }
        for (int i = 0; i < m_count && !hidden; ++i) {
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
