#include "browse/ItemElements.h"

#include "browse/MailPreview.h"
#include "save/MessageFields.h"
#include "save/pim/HtmlPlainText.h"
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
    std::string plain;
    raw = PlainElementText(raw, &plain);
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

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

bool endsTagName(char c)
{
    return isBlank(c) || c == '>' || c == '/';
}

// The element names of a table, each row's value found in one walk over a part's tags: one walk
// per row made a part's cost grow with the rows times its tags. Gives what ExtractElementValue
// gives for every row: comments, CDATA and processing instructions hide their tags, a start tag
// ends at its '>' outside quotes, a close tag may hold blanks before its '>'.
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
        m_gtFrom = m_gtAt = std::string_view::npos;
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

    // The table's name that starts at from and ends at a start tag's delimiter (closing: at
    // blanks and '>'); -1 when there is none. Only the name and the blanks after it are looked
    // at, and they hold no '<', so every byte is looked at once by the walk.
    int nameAt(std::string_view part, size_t from, bool closing) const
    {
        const size_t room = qMin(part.size() - from, m_longest + 1);
        for (size_t n = 0; n < room; ++n) {
            const char c = part[from + n];
            if (isNameChar(c))
                continue;
            if (closing) {
                size_t i = from + n;
                while (i < part.size() && isBlank(part[i]))
                    ++i;
                if (i == part.size() || part[i] != '>')
                    return -1;
            } else if (!endsTagName(c)) {
                return -1;
            }
            const auto hit = m_names.find(part.substr(from, n));
            return hit == m_names.end() ? -1 : hit->second;
        }
        return -1;
    }

    // The first '>' at or after from, for start tags cut by a '<' (damage: the first '>' ends
    // them, as it always did). The last answer holds for every query between its start and
    // itself, so a run of cut tags searches the part once.
    size_t nextGt(std::string_view part, size_t from)
    {
        if (m_gtFrom == std::string_view::npos || from < m_gtFrom || from > m_gtAt) {
            m_gtFrom = from;
            m_gtAt = part.find('>', from);
        }
        return m_gtAt;
    }

    // Where the value of the start tag at `at` begins, as the shared reader finds it; npos when
    // the tag has no '>'.
    size_t valueStart(std::string_view part, size_t at, size_t nameEnd)
    {
        // The exporter's own form ends after a fixed text: no need to scan it.
        static constexpr std::string_view kUsual = " xml:space=\"preserve\">";
        if (part.compare(nameEnd, kUsual.size(), kUsual) == 0)
            return nameEnd + kUsual.size();
        size_t gt = StartTagLimit(part, at);
        if (gt < part.size() && part[gt] != '>')
            gt = nextGt(part, gt);
        return gt < part.size() ? gt + 1 : std::string_view::npos;
    }

    void startTag(std::string_view part, size_t at, int k)
    {
        Span &span = m_spans[size_t(k)];
        if (span.started)
            return;
        span.started = true;
        span.valueStart = valueStart(part, at, at + 1 + m_nameLength[size_t(k)]);
        // "<Name/>" and "<Name a='x'/>" hold an empty value.
        if (span.valueStart != std::string_view::npos && part[span.valueStart - 2] == '/')
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
            if (from < part.size() && (base[from] == '!' || base[from] == '?')) {
                const size_t end = MarkupEnd(part, at);
                if (end != std::string_view::npos) {
                    from = end;
                    continue;
                }
            }
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
    size_t m_gtFrom = std::string_view::npos;
    size_t m_gtAt = std::string_view::npos;
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

namespace {

// The length of the character reference ("&#N;", "&#xH;") at text[amp] when the shared decoder
// takes it, its character in *decoded; 0 otherwise. References are short: the ';' is looked for
// close by, so a text full of "&#" costs no more than its length.
int numericReferenceAt(const QString &text, int amp, QString *decoded)
{
    const int limit = qMin(text.size(), amp + 12);
    int semi = amp + 2;
    while (semi < limit && text.at(semi) != QLatin1Char(';')) {
        if (text.at(semi) == QLatin1Char('&'))
            return 0;
        ++semi;
    }
    if (semi >= limit)
        return 0;
    const QString reference = text.mid(amp, semi - amp + 1);
    *decoded = UnescapeXmlEntities(reference, EntityForm::Scanned);
    return *decoded == reference ? 0 : reference.size();
}

}  // namespace

QString PreviewLongText(const QByteArray &stored, EntityForm form)
{
    const QString text = QString::fromUtf8(UpToFirstNul(PlainElementBytes(stored)));
    const QLatin1String numeric("&#");
    int amp = text.indexOf(numeric);
    if (amp < 0)
        return UnescapeXmlEntities(text, form);
    // Named references in the preview's own form between the numeric ones, each of which is
    // undone once where it stands: "&#38;lt;" shows "&lt;", "&amp;#65;" shows "&#65;".
    QString out;
    out.reserve(text.size());
    int from = 0;
    for (; amp >= 0; amp = text.indexOf(numeric, amp + 1)) {
        QString decoded;
        const int used = numericReferenceAt(text, amp, &decoded);
        if (used == 0)
            continue;
        out += UnescapeXmlEntities(text.mid(from, amp - from), form);
        out += decoded;
        from = amp + used;
        amp = from - 1;
    }
    out += UnescapeXmlEntities(text.mid(from), form);
    return out;
}

QString ItemPreviewLongText(const QByteArray &stored)
{
    // The markup test on the text as stored, its references undone once; the mail body's form
    // keeps the opening tag, so the writer finds the same markup in it.
    const QString typed = PreviewLongText(stored, EntityForm::Scanned);
    return IsMarkupText(typed) ? PreviewLongText(stored, EntityForm::Preview) : typed;
}

QString ReadLongText(qint64 length, qint64 offset)
{
    // The literal double decoding of the display texts: "&amp;gt;" becomes ">".
    return PreviewLongText(ReadArchiveBytes(offset, length), EntityForm::Four);
}
