#include "save/pim/PimText.h"

#include "save/pim/HtmlEntities.h"
#include "scanner/XmlEntities.h"

#include <QSet>

#include <climits>

namespace {

constexpr int kMaxLineOctets = 75;

bool isBreak(QChar c)
{
    return c == QLatin1Char('\r') || c == QLatin1Char('\n');
}

// Text values may hold no control character but the tab (and breaks, which are escaped):
// a BEL or ESC makes the whole file invalid to strict readers.
bool isForbiddenControl(QChar c)
{
    return (c.unicode() < 0x20 && c != QLatin1Char('\t') && !isBreak(c)) || c.unicode() == 0x7F;
}

QString escapeText(const QString &text, bool pairIsOneBreak)
{
    QString out;
    out.reserve(text.size() + text.size() / 8);
    for (int i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c == QLatin1Char('\\') || c == QLatin1Char(';') || c == QLatin1Char(',')) {
            out += QLatin1Char('\\');
            out += c;
        } else if (isBreak(c)) {
            if (pairIsOneBreak && c == QLatin1Char('\r') && i + 1 < text.size() && text.at(i + 1) == QLatin1Char('\n'))
                ++i;
            out += QLatin1String("\\n");
        } else if (!isForbiddenControl(c)) {
            out += c;
        }
    }
    return out;
}

}  // namespace

QString EscapeText(const QString &text)
{
    return escapeText(text, true);
}

QString EscapeTextEachBreak(const QString &text)
{
    return escapeText(text, false);
}

QString JoinLines(const QString &text)
{
    QString out;
    out.reserve(text.size());
    for (int i = 0; i < text.size();) {
        if (!isBreak(text.at(i))) {
            out += text.at(i++);
            continue;
        }
        int end = i;
        while (end < text.size() && isBreak(text.at(end)))
            ++end;
        if (i > 0 && end < text.size() && !text.at(i - 1).isSpace() && !text.at(end).isSpace())
            out += QLatin1Char(' ');
        i = end;
    }
    return out;
}

QByteArray FoldContentLine(const QByteArray &line)
{
    ContentLines lines;
    lines.beginLine(QByteArray());
    lines.appendValue(line.constData(), line.size());
    lines.endLine();
    return lines.bytes();
}

void ContentLines::beginLine(const QByteArray &name)
{
    m_column = 0;
    m_room = kMaxLineOctets;
    appendValue(name.constData(), name.size());
}

// Parts end on whole UTF-8 sequences, so a fold never needs to reach back into an earlier part.
void ContentLines::appendValue(const char *data, int size)
{
    int start = 0;
    while (size - start > m_room - m_column) {
        int cut = start + (m_room - m_column);
        // Back up to the first byte of a UTF-8 sequence.
        const int floor = m_column == 0 ? start + 1 : start;
        while (cut > floor && (quint8(data[cut]) & 0xC0) == 0x80)
            --cut;
        m_bytes.append(data + start, cut - start);
        m_bytes += "\r\n ";
        start = cut;
        m_column = 0;
        m_room = kMaxLineOctets - 1;  // the leading space counts
    }
    m_bytes.append(data + start, size - start);
    m_column += size - start;
}

void ContentLines::endLine()
{
    m_bytes += "\r\n";
}

void ContentLines::add(const QByteArray &name, const QByteArray &value)
{
    beginLine(name + ':');
    appendValue(value.constData(), value.size());
    endLine();
}

namespace {

// Stored text is read this many bytes at a time.
constexpr size_t kStoredChunk = 1 << 20;

// Where a chunk of stored text that would end at at may end: not inside a UTF-8 sequence, not
// before a byte order mark (a chunk's leading one would be dropped when it is decoded), nor inside
// an entity reference or "&amp;nbsp;" (none is longer than kLongestEntity, and none holds a
// second '&', so a cut just before a '&' splits none).
size_t chunkEnd(std::string_view text, size_t from, size_t at)
{
    if (at >= text.size())
        return text.size();
    size_t cut = at;
    for (int i = 0; i < 3 && cut > from + 1 && (quint8(text[cut]) & 0xC0) == 0x80; ++i)
        --cut;
    while (text.substr(cut, 3) == "\xEF\xBB\xBF")
        cut += 3;
    if (cut >= text.size())
        return text.size();
    constexpr size_t kLongestEntity = 32;
    const size_t amp = text.rfind('&', cut - 1);
    if (amp != std::string_view::npos && amp > from && cut - amp < kLongestEntity)
        cut = amp;
    return cut;
}

QString decodedChunk(std::string_view chunk, ContentLines::StoredForm form)
{
    const QString text = QString::fromUtf8(chunk.data(), int(chunk.size()));
    return UnescapeXmlEntities(text,
                               form == ContentLines::StoredForm::Scanned ? EntityForm::Scanned : EntityForm::Notes);
}

}  // namespace

void ContentLines::addStoredText(const QByteArray &name, std::string_view stored, StoredForm form)
{
    QByteArray withoutNuls;
    const size_t nul = stored.find('\0');
    if (nul != std::string_view::npos && form != StoredForm::TaskNote) {
        stored = stored.substr(0, nul);
    } else if (nul != std::string_view::npos) {
        withoutNuls = QByteArray(stored.data(), int(qMin<size_t>(stored.size(), INT_MAX))).replace('\0', QByteArray());
        stored = std::string_view(withoutNuls.constData(), size_t(withoutNuls.size()));
    }
    // Room for the whole line at once: growing it would hold two copies for a moment.
    m_bytes.reserve(m_bytes.size() + int(qMin<size_t>(stored.size() + stored.size() / 16 + 256, INT_MAX / 2)));
    bool begun = false;
    if (form != StoredForm::Scanned) {
        beginLine(name + ':');
        begun = true;
    }
    QString carry;
    HtmlPlainText html;
    bool asHtml = false;
    for (size_t from = 0; from < stored.size();) {
        const size_t to = chunkEnd(stored, from, from + kStoredChunk);
        QString text = carry + decodedChunk(stored.substr(from, to - from), form);
        // A task's note is written as its plain text: HTML read as a document shows it.
        if (from == 0 && form == StoredForm::TaskNote)
            asHtml = IsMarkupText(text);
        from = to;
        carry.clear();
        if (asHtml) {
            QString plain;
            html.feed(text, &plain);
            if (from >= stored.size())
                html.finish(&plain);
            text = plain;
        } else if (from < stored.size() && text.endsWith(QLatin1Char('\r'))) {
            // A CR whose LF may open the next chunk: the pair is one line break.
            carry = QStringLiteral("\r");
            text.chop(1);
        }
        if (!begun && text.isEmpty() && carry.isEmpty())
            continue;
        const QByteArray escaped = EscapeText(text).toUtf8();
        if (!begun) {
            beginLine(name + ':');
            begun = true;
        }
        appendValue(escaped.constData(), escaped.size());
    }
    if (begun)
        endLine();
}

void ContentLines::add(const QByteArray &name, const QString &value)
{
    add(name, value.toUtf8());
}

void ContentLines::addText(const QByteArray &name, const QString &value)
{
    if (!value.isEmpty())
        add(name, EscapeText(value));
}

void AddCalendarHead(ContentLines &lines, const char *prodId)
{
    lines.add("BEGIN", QByteArray("VCALENDAR"));
    lines.add("VERSION", QByteArray("2.0"));
    lines.add("PRODID", QByteArray(prodId));
    lines.add("METHOD", QByteArray("PUBLISH"));
}

void ForEachPlainChunk(std::string_view stored, bool html, const std::function<void(const QString &)> &take)
{
    HtmlPlainText reader;
    QString carry;
    for (size_t from = 0; from < stored.size();) {
        const size_t to = chunkEnd(stored, from, from + kStoredChunk);
        QString text = carry
            + decodedChunk(stored.substr(from, to - from),
                           html ? ContentLines::StoredForm::Note : ContentLines::StoredForm::Scanned);
        from = to;
        carry.clear();
        if (html) {
            QString plain;
            reader.feed(text, &plain);
            if (from >= stored.size())
                reader.finish(&plain);
            take(plain);
            continue;
        }
        // A CR whose LF may open the next chunk: the pair is one line break.
        if (from < stored.size() && text.endsWith(QLatin1Char('\r'))) {
            carry = QStringLiteral("\r");
            text.chop(1);
        }
        text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
        text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
        take(text);
    }
}

QByteArray StoredPlainText(std::string_view stored, bool html)
{
    QByteArray out;
    out.reserve(int(qMin<size_t>(stored.size() + 16, INT_MAX / 2)));
    ForEachPlainChunk(stored, html, [&out](const QString &text) { out += text.toUtf8(); });
    return out;
}

std::string_view TextBeforeNul(const QByteArray &bytes)
{
    return TextBeforeNul(std::string_view(bytes.constData(), size_t(bytes.size())));
}

std::string_view TextBeforeNul(std::string_view text)
{
    return text.substr(0, qMin(text.find('\0'), text.size()));
}

namespace {

// Whether the UTF-8 sequence text[at, at + length) is one blank character; a broken sequence,
// which decodes to U+FFFD, is none.
bool isBlankSequence(std::string_view text, size_t at, size_t length)
{
    const quint8 lead = quint8(text[at]);
    const size_t expected = lead < 0x80 ? 1 : lead >= 0xC2 && lead <= 0xDF ? 2 : lead >= 0xE0 && lead <= 0xEF ? 3 : 4;
    if (length != expected || (expected == 4 && lead > 0xF4))
        return false;
    uint code = expected == 1 ? lead : lead & (0x7F >> expected);
    for (size_t i = 1; i < length; ++i) {
        if ((quint8(text[at + i]) & 0xC0) != 0x80)
            return false;
        code = (code << 6) | (quint8(text[at + i]) & 0x3F);
    }
    static const uint kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};  // shorter forms are broken
    return code >= kSmallest[length] && QChar::isSpace(code);
}

size_t sequenceLength(quint8 lead)
{
    return lead < 0xC0 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
}

}  // namespace

std::string_view TrimmedUtf8(std::string_view text)
{
    size_t from = 0;
    while (from < text.size()) {
        const size_t length = qMin(sequenceLength(quint8(text[from])), text.size() - from);
        if (!isBlankSequence(text, from, length))
            break;
        from += length;
    }
    size_t to = text.size();
    while (to > from) {
        size_t start = to - 1;
        while (start > from && to - start < 4 && (quint8(text[start]) & 0xC0) == 0x80)
            --start;
        if (!isBlankSequence(text, start, to - start))
            break;
        to = start;
    }
    return text.substr(from, to - from);
}
