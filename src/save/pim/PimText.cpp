#include "save/pim/PimText.h"

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
    for (size_t from = 0; from < stored.size();) {
        const size_t to = chunkEnd(stored, from, from + kStoredChunk);
        QString text = carry + decodedChunk(stored.substr(from, to - from), form);
        from = to;
        carry.clear();
        // A CR whose LF may open the next chunk: the pair is one line break.
        if (from < stored.size() && text.endsWith(QLatin1Char('\r'))) {
            carry = QStringLiteral("\r");
            text.chop(1);
        }
        if (!begun && text.isEmpty() && carry.isEmpty())
            continue;
        const QByteArray escaped =
            (form == StoredForm::TaskNote ? EscapeTextEachBreak(text) : EscapeText(text)).toUtf8();
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

namespace {

// Elements that start a new line of the plain text, as a rich-text view lays them out.
bool isBlockElement(const QString &name)
{
    static const QSet<QString> blocks = {QStringLiteral("p"),     QStringLiteral("div"),        QStringLiteral("li"),
                                         QStringLiteral("tr"),    QStringLiteral("h1"),         QStringLiteral("h2"),
                                         QStringLiteral("h3"),    QStringLiteral("h4"),         QStringLiteral("h5"),
                                         QStringLiteral("h6"),    QStringLiteral("ul"),         QStringLiteral("ol"),
                                         QStringLiteral("table"), QStringLiteral("blockquote"), QStringLiteral("pre")};
    return blocks.contains(name);
}

// Elements whose content is never shown.
bool isHiddenElement(const QString &name)
{
    return name == QLatin1String("head") || name == QLatin1String("style") || name == QLatin1String("script")
        || name == QLatin1String("title");
}

QString tagName(const QString &html, int from, bool *closing)
{
    int at = from + 1;
    *closing = at < html.size() && html.at(at) == QLatin1Char('/');
    if (*closing)
        ++at;
    int end = at;
    while (end < html.size() && html.at(end).isLetterOrNumber())
        ++end;
    return html.mid(at, end - at).toLower();
}

// Ends the current line once, however many block edges meet there.
void breakLine(QString &out)
{
    while (out.endsWith(QLatin1Char(' ')))
        out.chop(1);
    if (!out.isEmpty() && !out.endsWith(QLatin1Char('\n')))
        out += QLatin1Char('\n');
}

void appendText(QString &out, const QString &text)
{
    for (const QChar c : text) {
        if (c.isSpace() && c != QChar(0x00A0)) {
            if (!out.isEmpty() && !out.endsWith(QLatin1Char(' ')) && !out.endsWith(QLatin1Char('\n')))
                out += QLatin1Char(' ');
        } else {
            out += c;
        }
    }
}

}  // namespace

QString PlainTextOfHtml(const QString &html)
{
    // The text a rich-text view shows: white space collapsed, block elements and <br> as line
    // breaks, hidden elements dropped, entities decoded, no-break spaces as spaces. Done here
    // rather than with a text document so the writers need no GUI library or font database.
    QString out;
    QString hiddenIn;
    int at = 0;
    while (at < html.size()) {
        const int tag = html.indexOf(QLatin1Char('<'), at);
        const int textEnd = tag < 0 ? html.size() : tag;
        if (hiddenIn.isEmpty())
            appendText(out, UnescapeXmlEntities(html.mid(at, textEnd - at), EntityForm::Scanned));
        if (tag < 0)
            break;
        const int close = html.indexOf(QLatin1Char('>'), tag);
        bool closing = false;
        const QString name = tagName(html, tag, &closing);
        at = close < 0 ? html.size() : close + 1;
        if (!hiddenIn.isEmpty()) {
            if (closing && name == hiddenIn)
                hiddenIn.clear();
            continue;
        }
        if (!closing && isHiddenElement(name) && !html.midRef(tag, at - tag).endsWith(QLatin1String("/>")))
            hiddenIn = name;
        else if (name == QLatin1String("br"))
            out += QLatin1Char('\n');
        else if (isBlockElement(name))
            breakLine(out);
    }
    out.replace(QChar(0x00A0), QLatin1Char(' '));
    while (out.endsWith(QLatin1Char('\n')) || out.endsWith(QLatin1Char(' ')))
        out.chop(1);
    return out;
}
