#include "scanner/WellFormed.h"

#include "scanner/ByteScan.h"
#include "scanner/ElementSyntax.h"

#include <cstdint>
#include <cstring>

using namespace element_syntax;

namespace {

constexpr size_t npos = std::string_view::npos;

// What each byte is to the check: 0 plain, 1 '<', 2 '&'; and whether it ends a name.
struct ByteKinds {
    unsigned char kind[256] = {};
    bool nameEnd[256] = {};
    constexpr ByteKinds() : kind(), nameEnd()
    {
        // Bytes that are no character are not looked at: the exporter itself writes NUL bytes
        // and texts in other encodings, which every reader decodes as it always did (each
        // value up to its first NUL, a stray byte as a replacement character); no structure
        // of the item is taken from them.
        kind[uchar('<')] = 1;
        kind[uchar('&')] = 2;
        for (const char c : {' ', '\t', '\r', '\n', '>', '/', '=', '<', '"', '\'', '&'})
            nameEnd[uchar(c)] = true;
    }
};
constexpr ByteKinds kBytes;

bool allowedCode(unsigned long c)
{
    return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) || (c >= 0xE000 && c <= 0xFFFD)
        || (c >= 0x10000 && c <= 0x10FFFF);
}

// The length of the reference at text[i] ('&'): one of the five named ones or a character
// reference to a character XML allows; 0 when it is none. Only a few bytes are looked at.
size_t referenceLength(std::string_view text, size_t i)
{
    if (i + 1 >= text.size() || text[i + 1] != '#') {
        // A named one: the five of XML, or one of HTML's the exporter writes ("&nbsp;"), which
        // the readers undo or keep as they always did.
        size_t k = i + 1;
        while (k < text.size() && k - i <= 32
               && (((text[k] | 0x20) >= 'a' && (text[k] | 0x20) <= 'z')
                   || (k > i + 1 && text[k] >= '0' && text[k] <= '9')))
            ++k;
        return k > i + 1 && k < text.size() && text[k] == ';' ? k + 1 - i : 0;
    }
    const bool hex = i + 2 < text.size() && text[i + 2] == 'x';
    size_t k = i + (hex ? 3 : 2);
    unsigned long code = 0;
    const size_t digitsFrom = k;
    for (; k < text.size() && k - digitsFrom < 8; ++k) {
        const char c = text[k];
        int digit = -1;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (hex && c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (hex && c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        if (digit < 0)
            break;
        code = code * (hex ? 16 : 10) + unsigned(digit);
    }
    if (k == digitsFrom || k >= text.size() || text[k] != ';' || !allowedCode(code))
        return 0;
    return k + 1 - i;
}

// As referenceLength, the three an exporter writes most told by their bytes alone.
inline size_t referenceLengthAt(std::string_view text, size_t i)
{
    const char *r = text.data() + i + 1;
    const size_t room = text.size() - i - 1;
    if (room >= 3 && r[1] == 't' && r[2] == ';' && (r[0] == 'l' || r[0] == 'g'))
        return 4;
    if (room >= 4 && r[0] == 'a' && r[1] == 'm' && r[2] == 'p' && r[3] == ';')
        return 5;
    return referenceLength(text, i);
}

// A lambda, not a function, so the searches it is handed to inline it.
constexpr auto isNameEnd = [](char c) { return kBytes.nameEnd[uchar(c)]; };

// The checker's lists, kept by each thread from item to item: a scan checks hundreds of thousands
// of items, and each allocated them anew.
struct CheckerLists {
    std::vector<uint32_t> open;
    std::vector<std::string_view> names;
    // Empties them, and gives back what one deep item made them hold.
    void clear()
    {
        open.clear();
        names.clear();
        if (open.capacity() > 4096)
            std::vector<uint32_t>().swap(open);
    }
};

class Checker {
public:
    Checker(std::string_view text, CheckerLists &lists)
        : m_text(text.substr(0, qMin<size_t>(text.size(), 0xFFFFFFFFu))), m_open(lists.open), m_names(lists.names)
    {
    }

    ItemFault run(size_t start)
    {
        // From mark to mark: the text between them is only searched, its references checked.
        for (size_t i = pastText(start); i < m_text.size() && !m_stopped; i = pastText(i)) {
            m_broke = false;
            if (m_text[i] == '<') {
                i = markup(i);
                if (!m_broke && m_open.empty()) {
                    // The item's close tag.
                    m_fault.closedAt = i;
                    if (!m_fault.whole())
                        m_fault.kept.push_back({m_keptFrom, i, std::string()});
                    return m_fault;
                }
            } else {
                i = fail(i, "a '&' that starts no reference");
            }
        }
        if (!m_stopped)
            fail(m_text.size(), "its text ends before its close tag");
        return m_fault;
    }

private:
    // Names the item's first fault, keeps what stands before it, and goes on after the broken
    // child element of the item when its close tag can be found: one broken element loses no
    // whole one after it. brokenName: the name of a child whose own start tag is broken.
    // Returns where the check goes on (the text's end when it stops).
    // resumeAt: where the broken child is known to end (npos: after its close tag).
    size_t fail(size_t at, const char *what, std::string_view brokenName = {}, size_t resumeAt = npos)
    {
        m_broke = true;
        if (m_fault.whole()) {
            m_fault.at = at;
            m_fault.what = what;
            if (!m_open.empty())
                m_fault.element = std::string((m_open.size() >= 2 ? nameAt(m_open[1]) : brokenName).substr(0, 64));
        }
        if (m_open.empty() && !brokenName.empty()) {
            // The item's own start tag: its attributes carry nothing read, so the item goes on
            // after the tag's '>' as if it had none.
            const size_t gt = m_text.find('>', at);
            if (gt != npos && m_text[gt - 1] != '/') {
                m_fault.kept.push_back({m_keptFrom, at, "<" + std::string(brokenName) + ">"});
                m_keptFrom = gt + 1;
                m_open.push_back(uint32_t(at + 1));
                return gt + 1;
            }
        }
        std::string_view child = brokenName;
        if (m_open.size() >= 2)
            child = nameAt(m_open[1]);
        else if (m_open.size() != 1)
            child = {};
        if (child.empty() && m_open.size() == 1 && resumeAt != npos) {
            // A tag between the item's elements: only it is dropped.
            m_fault.kept.push_back({m_keptFrom, at, std::string()});
            m_keptFrom = resumeAt;
            return resumeAt;
        }
        std::string closes;
        for (size_t k = m_open.size(); k > (child.empty() ? 0 : 1); --k)
            closes.append("</").append(nameAt(m_open[k - 1])).append(">");
        const size_t resume = child.empty() ? npos : resumeAt != npos ? resumeAt : closeAfter(child, at);
        if (resume == npos) {
            for (size_t k = child.empty() ? 0 : 1; k > 0; --k)
                closes.append("</").append(nameAt(m_open[k - 1])).append(">");
            m_fault.kept.push_back({m_keptFrom, at, closes});
            m_stopped = true;
            return m_text.size();
        }
        m_fault.kept.push_back({m_keptFrom, at, closes});
        m_keptFrom = resume;
        m_open.resize(1);
        return resume;
    }

    // The first '<', or '&' that starts no reference, at or after from; the text's end if none.
    size_t pastText(size_t from) const
    {
        from = byte_scan::PastCommonReferences(m_text.data(), from, m_text.size());
        return byte_scan::FirstStopOver(m_text.data(), from, m_text.size(), '<', '&',
                                        [this](size_t at) { return referenceLengthAt(m_text, at); });
    }

    std::string_view nameAt(size_t from) const { return m_text.substr(from, nameEnd(from) - from); }

    // Past the first close tag of name at or after from; npos when there is none.
    size_t closeAfter(std::string_view name, size_t from) const
    {
        std::string close = "</" + std::string(name) + ">";
        const std::string_view prefix(close.data(), close.size() - 1);
        for (size_t at = FindBytes(m_text, prefix, from); at != npos; at = FindBytes(m_text, prefix, at + 1)) {
            if (const size_t length = CloseTagLengthAt(m_text, at, close))
                return at + length;
        }
        return npos;
    }

    // Comments, CDATA sections and instructions: up to their closing text.
    size_t skipped(size_t lt, std::string_view open, std::string_view close, const char *unclosed)
    {
        const size_t end = FindBytes(m_text, close, lt + open.size());
        return end == npos ? fail(lt, unclosed) : end + close.size();
    }

    size_t markup(size_t lt)
    {
        // Most marks are tags: the byte after '<' tells them from the rest.
        const char next = lt + 1 < m_text.size() ? m_text[lt + 1] : '\0';
        if (next == '!' && m_text.compare(lt, 4, "<!--") == 0) {
            // A comment holds no "--" but its end.
            const size_t dashes = FindBytes(m_text, "--", lt + 4);
            if (dashes == npos)
                return fail(lt, "a comment that is never closed");
            if (dashes + 2 >= m_text.size() || m_text[dashes + 2] != '>')
                return fail(lt, "a comment holding \"--\"");
            return dashes + 3;
        }
        if (next == '!' && m_text.compare(lt, 9, "<![CDATA[") == 0)
            return skipped(lt, "<![CDATA[", "]]>", "a CDATA section that is never closed");
        if (next == '?')
            return skipped(lt, "<?", "?>", "an instruction that is never closed");
        if (next == '/')
            return closeTag(lt);
        return startTag(lt);
    }

    // Names are looked at for every tag and attribute: sixteen bytes at a time.
    size_t nameEnd(size_t from) const { return byte_scan::FirstNameEnd(m_text.data(), from, m_text.size(), isNameEnd); }

    // Where the name at b ends when it is the name at a (which stands before it), else npos.
    size_t sameNameEnd(size_t a, size_t b) const
    {
        return byte_scan::SameNameEnd(m_text.data(), m_text.size(), a, b, isNameEnd);
    }

    size_t closeTag(size_t lt)
    {
        if (m_open.empty())
            return fail(lt, "a close tag with no element open");
        const size_t same = sameNameEnd(m_open.back(), lt + 2);
        size_t i = same != npos ? same : nameEnd(lt + 2);
        while (i < m_text.size() && isBlank(m_text[i]))
            ++i;
        if (same == npos) {
            const size_t tagEnd = i < m_text.size() && m_text[i] == '>' ? i + 1 : npos;
            return fail(lt, "a close tag that does not match its start tag", {}, strayResume(lt, tagEnd));
        }
        if (i >= m_text.size() || m_text[i] != '>')
            return fail(lt, "a close tag that is never closed");
        m_open.pop_back();
        if (m_open.size() == 1)
            ++m_fault.wholeChildren;
        return i + 1;
    }

    // Where the check goes on after the close tag at lt, which closes nothing open (tagEnd: past
    // its '>'; npos when it has none); npos: after the close tag of the item's child it is in.
    // Markup written unescaped into a field ("<p>hello</p></div>") holds close tags of other
    // names, the item's own among them: each breaks only the field, and the item goes on after
    // the field's own close tag, or after the tag alone where it stands between fields. A field
    // with no close tag of its own after it takes this one for it (damage changed a name).
    size_t strayResume(size_t lt, size_t tagEnd)
    {
        if (m_open.size() != 2 || tagEnd == npos)
            return m_open.size() == 1 ? tagEnd : npos;
        // Searches that find nothing cost the rest of the text: bounded, so many renamed fields
        // stay linear.
        if (m_missedSearch <= 4 * m_text.size()) {
            const size_t close = closeAfter(nameAt(m_open[1]), lt);
            if (close != npos)
                return close;
            m_missedSearch += m_text.size() - lt;
        }
        return tagEnd;
    }

    size_t startTag(size_t lt)
    {
        const size_t nameFrom = lt + 1;
        size_t i = nameEnd(nameFrom);
        if (i == nameFrom || m_text[nameFrom] == '!')
            return fail(lt, "a '<' that starts no tag");
        const std::string_view name = m_text.substr(nameFrom, i - nameFrom);
        m_names.clear();
        if (!m_table.empty()) {
            m_table.clear();
            m_table.shrink_to_fit();
            m_tableCount = 0;
        }
        while (true) {
            const size_t blanksFrom = i;
            while (i < m_text.size() && isBlank(m_text[i]))
                ++i;
            if (i >= m_text.size() || m_text[i] == '<')
                return fail(lt, "a start tag that is never closed", name);
            if (m_text[i] == '>' || m_text.compare(i, 2, "/>") == 0) {
                const bool empty = m_text[i] == '/';
                if (!empty)
                    m_open.push_back(uint32_t(nameFrom));
                else if (m_open.size() == 1)
                    ++m_fault.wholeChildren;
                return i + (empty ? 2 : 1);
            }
            if (i == blanksFrom)
                return fail(lt, "attributes not parted by a blank", name);
            const size_t attributeEnd = attribute(lt, i, name);
            if (m_broke)
                return attributeEnd;
            i = attributeEnd;
        }
    }

    // One name="value" at i of the start tag at lt; past its closing quote.
    size_t attribute(size_t lt, size_t i, std::string_view tag)
    {
        const size_t nameFrom = i;
        i = nameEnd(i);
        if (i == nameFrom)
            return fail(lt, "a start tag that is never closed", tag);
        const std::string_view name = m_text.substr(nameFrom, i - nameFrom);
        if (!newName(name))
            return fail(lt, "an attribute given twice", tag);
        while (i < m_text.size() && isBlank(m_text[i]))
            ++i;
        if (i >= m_text.size() || m_text[i] != '=')
            return fail(lt, "an attribute without a value", tag);
        ++i;
        while (i < m_text.size() && isBlank(m_text[i]))
            ++i;
        if (i >= m_text.size() || (m_text[i] != '"' && m_text[i] != '\''))
            return fail(lt, "an attribute value without quotes", tag);
        const char quote = m_text[i];
        for (++i; i < m_text.size() && m_text[i] != quote;) {
            const unsigned kind = kBytes.kind[uchar(m_text[i])];
            if (kind == 0) {
                ++i;
            } else if (kind == 1) {
                return fail(lt, "a '<' inside an attribute value (its quote may never close)", tag);
            } else {
                const size_t n = referenceLengthAt(m_text, i);
                if (!n)
                    return fail(lt, "a '&' that starts no reference", tag);
                i += n;
            }
        }
        if (i >= m_text.size())
            return fail(lt, "an attribute value whose quote never closes", tag);
        return i + 1;
    }

    // Whether the tag's attribute name is not one of those before it. A tag of many attributes
    // is checked through an open-addressing table of where their names start (4 bytes each, at
    // most half full), so its cost stays linear and its memory below the tag's own size.
    bool newName(std::string_view name)
    {
        if (m_names.size() < 16 && m_table.empty()) {
            for (const std::string_view seen : m_names) {
                if (seen == name)
                    return false;
            }
            m_names.push_back(name);
            return true;
        }
        if (m_table.empty()) {
            m_table.assign(64, kEmpty);
            for (const std::string_view seen : m_names)
                insert(seen);
        }
        if (!insert(name))
            return false;
        if (++m_tableCount * 2 > m_table.size()) {
            std::vector<uint32_t> old;
            old.swap(m_table);
            m_table.assign(old.size() * 2, kEmpty);
            for (const uint32_t at : old) {
                if (at != kEmpty)
                    insert(nameAt(at));
            }
        }
        return true;
    }

    // Adds name to the table; false when it stands there already.
    bool insert(std::string_view name)
    {
        uint64_t hash = 14695981039346656037ull;
        for (const char c : name)
            hash = (hash ^ uchar(c)) * 1099511628211ull;
        const size_t mask = m_table.size() - 1;
        for (size_t slot = size_t(hash) & mask;; slot = (slot + 1) & mask) {
            if (m_table[slot] == kEmpty) {
                m_table[slot] = uint32_t(name.data() - m_text.data());
                return true;
            }
            if (nameAt(m_table[slot]) == name)
                return false;
        }
    }

    static constexpr uint32_t kEmpty = 0xFFFFFFFFu;
    std::string_view m_text;
    ItemFault m_fault;
    std::vector<uint32_t> &m_open;  // where the open elements' names start: 4 bytes each, however deep
    std::vector<std::string_view> &m_names;
    size_t m_keptFrom = 0;
    size_t m_missedSearch = 0;
    bool m_broke = false;
    bool m_stopped = false;
    std::vector<uint32_t> m_table;
    size_t m_tableCount = 0;
};

}  // namespace

ItemFault CheckItem(std::string_view text, std::string_view startTag)
{
    const size_t start = FindStartTag(text, startTag, 0);
    if (start == npos) {
        // Damage changed the item's own start tag: nothing tells its elements apart from
        // text, so it is read as it stands, as before, and named.
        ItemFault fault;
        fault.at = 0;
        fault.what = "its start tag is damaged";
        fault.kept.push_back({0, text.size(), std::string()});
        fault.wholeChildren = 1;
        return fault;
    }
    thread_local CheckerLists lists;
    lists.clear();
    Checker checker(text, lists);
    ItemFault fault = checker.run(start);
    lists.clear();
    return fault;
}

std::string SoundPart(std::string_view text, const ItemFault &fault)
{
    if (fault.whole())
        return std::string(text);
    std::string sound;
    for (const ItemFault::Kept &piece : fault.kept)
        sound.append(text.substr(piece.from, piece.to - piece.from)).append(piece.closes);
    return sound;
}

size_t SourceOffset(const ItemFault &fault, size_t at, size_t *length)
{
    if (fault.whole())
        return at;
    size_t soundAt = 0;
    for (const ItemFault::Kept &piece : fault.kept) {
        const size_t size = piece.to - piece.from;
        if (at >= soundAt && at - soundAt < size) {
            *length = qMin(*length, size - (at - soundAt));
            return piece.from + (at - soundAt);
        }
        soundAt += size + piece.closes.size();
        if (at < soundAt)
            return std::string_view::npos;
    }
    return std::string_view::npos;
}

QString NotWellFormedReason(const ItemFault &fault)
{
    QString what = QStringLiteral("its XML is not well-formed (%1 at byte %2")
                       .arg(QLatin1String(fault.what ? fault.what : "damage"), QString::number(fault.at));
    if (!fault.element.empty()) {
        // A name is the archive's bytes: no control character goes into the line.
        QString name = QString::fromUtf8(fault.element.data(), int(fault.element.size()));
        for (QChar &c : name) {
            if (c.category() == QChar::Other_Control)
                c = QChar::ReplacementCharacter;
        }
        what += QStringLiteral(", in its element %1").arg(name);
    }
    what += QLatin1Char(')');
    return fault.wholeChildren == 0 ? what + QStringLiteral(" and none of its elements is whole")
                                    : what + QStringLiteral(": its broken elements were not read");
}
