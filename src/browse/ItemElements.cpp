#include "browse/ItemElements.h"

#include "save/MessageFields.h"
#include "scanner/ElementValue.h"
#include "scanner/XmlEntities.h"

#include <algorithm>
#include <cstring>
#include <unordered_map>
#include <vector>

QByteArray ReadItemXml(qint64 llItemOffset, qint64 dwItemLength)
{
    return ReadArchiveBytes(llItemOffset, dwItemLength);
}

bool ExtractElementValue(std::string_view part, const QByteArray &openTag, std::string_view *raw)
{
    const ElementSpan span = GetElementValue(part, std::string_view(openTag.constData(), size_t(openTag.size())));
    if (!span.found)
        return false;
    *raw = ElementBytes(part, span);
    return true;
}

QString DecodeElementText(std::string_view raw, bool trim)
{
    if (trim)
        return DecodeTrimmed(raw);
    const void *nul = memchr(raw.data(), 0, raw.size());
    const size_t len = nul ? size_t(static_cast<const char *>(nul) - raw.data()) : raw.size();
    return QString::fromUtf8(raw.data(), int(len));
}

namespace {

bool isNameChar(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-'
        || c == '.' || c == ':';
}

bool endsTagName(char c)
{
    return c == ' ' || c == '>' || c == '/' || c == '\t' || c == '\r' || c == '\n';
}

// The element names of a table, each row's value found in one walk over a part's tags: one walk
// per row made a part's cost grow with the rows times its tags. Gives exactly what
// ExtractElementValue gives for every row.
class PartWalk {
public:
    explicit PartWalk(const ElementTagTable &table) : m_rowName(table.size(), -1)
    {
        for (int row = 0; row < table.size(); ++row) {
            const QByteArray &tag = table.at(row);
            const std::string_view name(tag.constData() + 1, size_t(qMax(0, tag.size() - 1)));
            if (tag.size() < 2 || tag.size() > 200 || tag.at(0) != '<'
                || !std::all_of(name.begin(), name.end(), isNameChar))
                continue;  // never a start tag: the row is never found
            const auto known = m_names.emplace(name, int(m_names.size()));
            if (known.second)
                m_nameLength.push_back(name.size());
            m_rowName[row] = known.first->second;
            m_longest = qMax(m_longest, name.size());
        }
    }

    // Calls handler(row, raw) for each row found in part, in table order.
    void run(std::string_view part, const ElementHandler &handler)
    {
        m_spans.assign(m_names.size(), Span());
        m_gtAt = std::string_view::npos;
        m_gtKnown = false;
        walk(part);
        for (int row = 0; row < m_rowName.size(); ++row) {
            if (m_rowName[row] < 0)
                continue;
            const Span &span = m_spans[size_t(m_rowName[row])];
            if (span.valueStart != std::string_view::npos && span.end != std::string_view::npos)
                handler(row, part.substr(span.valueStart, span.end - span.valueStart));
        }
    }

private:
    struct Span {
        bool started = false;                        // the first start tag was seen
        size_t valueStart = std::string_view::npos;  // npos: that start tag has no '>'
        size_t end = std::string_view::npos;         // the value's end once its close tag is seen
    };

    // The table's name that starts at from and ends at a start tag's delimiter (closing: at '>');
    // -1 when there is none. Only name characters are looked at, so a run of '<' costs one each.
    int nameAt(std::string_view part, size_t from, bool closing) const
    {
        const size_t room = qMin(part.size() - from, m_longest + 1);
        for (size_t n = 0; n < room; ++n) {
            const char c = part[from + n];
            if (isNameChar(c))
                continue;
            if (closing ? c != '>' : !endsTagName(c))
                return -1;
            const auto hit = m_names.find(part.substr(from, n));
            return hit == m_names.end() ? -1 : hit->second;
        }
        return -1;
    }

    // The first '>' at or after from. Start tags come in rising order and the last answer holds
    // until a query passes it, so the part is searched for '>' once.
    size_t nextGt(std::string_view part, size_t from)
    {
        if (!m_gtKnown || (m_gtAt != std::string_view::npos && m_gtAt < from)) {
            m_gtAt = part.find('>', from);
            m_gtKnown = true;
        }
        return m_gtAt;
    }

    void startTag(std::string_view part, size_t at, int k)
    {
        Span &span = m_spans[size_t(k)];
        if (span.started)
            return;
        span.started = true;
        const size_t nameEnd = at + 1 + m_nameLength[size_t(k)];
        const size_t gt = nextGt(part, nameEnd);
        if (gt == std::string_view::npos)
            return;
        span.valueStart = gt + 1;
        // "<Name/>" and "<Name a='x'/>" hold an empty value.
        if (part[gt - 1] == '/')
            span.end = span.valueStart;
    }

    void walk(std::string_view part)
    {
        const char *base = part.data();
        for (size_t from = 0; from < part.size();) {
            const void *lt = memchr(base + from, '<', part.size() - from);
            if (!lt)
                return;
            const size_t at = size_t(static_cast<const char *>(lt) - base);
            from = at + 1;
            const bool closing = from < part.size() && base[from] == '/';
            const int k = nameAt(part, closing ? from + 1 : from, closing);
            if (k < 0)
                continue;
            Span &span = m_spans[size_t(k)];
            if (!closing)
                startTag(part, at, k);
            else if (span.valueStart != std::string_view::npos && span.end == std::string_view::npos
                     && at >= span.valueStart)
                span.end = at;
        }
    }

    std::unordered_map<std::string_view, int> m_names;
    std::vector<size_t> m_nameLength;
    QVector<int> m_rowName;
    size_t m_longest = 0;
    std::vector<Span> m_spans;
    size_t m_gtAt = std::string_view::npos;
    bool m_gtKnown = false;
};

}  // namespace

void ExtractItemElements(std::string_view item, std::string_view closeTag, const ElementTagTable &table,
                         const ElementHandler &handler)
{
    PartWalk walk(table);
    SplitItems(item, closeTag, 0, [&](const ItemPiece &piece) {
        walk.run(piece.bytes, handler);
        return true;
    });
}

QString ReadLongText(qint64 length, qint64 offset)
{
    // The literal double decoding of the display texts: "&amp;gt;" becomes ">".
    return UnescapeXmlEntities(QString::fromUtf8(UpToFirstNul(ReadArchiveBytes(offset, length))), EntityForm::Four);
}
