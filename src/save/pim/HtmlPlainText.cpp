#include "save/pim/HtmlPlainText.h"

#include "save/pim/HtmlEntities.h"

#include <QRegularExpression>
#include <QSet>

namespace {

const QChar kNoBreakSpace(0x00A0);

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

// Where the part of text that can be converted now ends: before a tag that is not closed yet,
// or a reference that may go on in the next piece.
int convertibleEnd(const QString &text)
{
    const int lt = text.lastIndexOf(QLatin1Char('<'));
    if (lt >= 0 && text.indexOf(QLatin1Char('>'), lt) < 0)
        return lt;
    constexpr int kLongestReference = 40;
    const int amp = text.lastIndexOf(QLatin1Char('&'));
    if (amp >= 0 && text.size() - amp < kLongestReference && text.indexOf(QLatin1Char(';'), amp) < 0)
        return amp;
    return text.size();
}

}  // namespace

bool IsMarkupText(const QString &text)
{
    static const QRegularExpression opening(
        QStringLiteral(
            "^\\s*<\\s*(!--|!doctype\\b|\\?xml\\b|(html|head|body|meta|style|p|div|span|font|b|i|u|em|strong|"
            "table|ul|ol|h[1-6]|pre|blockquote|a)(\\s[^<>]*)?/?>)"),
        QRegularExpression::CaseInsensitiveOption);
    return opening.match(text).hasMatch();
}

void HtmlPlainText::flushTail(QString *out)
{
    for (const QChar c : qAsConst(m_tail))
        *out += c == kNoBreakSpace ? QChar(QLatin1Char(' ')) : c;
    m_tail.clear();
}

void HtmlPlainText::appendText(const QString &text, QString *out)
{
    if (m_preDepth > 0) {
        appendPreformatted(text, out);
        return;
    }
    for (const QChar c : text) {
        const QChar last = m_tail.isEmpty() ? QChar() : m_tail.back();
        if (c.isSpace() && c != kNoBreakSpace) {
            // One blank for a run of white space, none after a break, a cell's tab or at the start.
            if ((m_started || !m_tail.isEmpty()) && last != QLatin1Char(' ') && last != QLatin1Char('\n')
                && last != QLatin1Char('\t'))
                m_tail += QLatin1Char(' ');
        } else if (c == kNoBreakSpace) {
            m_tail += c;
        } else {
            flushTail(out);
            *out += c;
            m_started = true;
        }
    }
}

// Inside <pre> every blank and break stands as written; CR LF and CR are one LF, as HTML reads
// them, and a break right after the start tag is dropped.
void HtmlPlainText::appendPreformatted(const QString &text, QString *out)
{
    for (const QChar c : text) {
        const bool opening = m_preOpened;
        m_preOpened = false;
        if (c == QLatin1Char('\n') && m_afterCr) {
            m_afterCr = false;
            continue;
        }
        m_afterCr = c == QLatin1Char('\r');
        if (c == QLatin1Char('\r') || c == QLatin1Char('\n')) {
            if (!opening)
                m_tail += QLatin1Char('\n');
        } else if (c.isSpace()) {
            m_tail += c;
        } else {
            flushTail(out);
            *out += c;
            m_started = true;
        }
    }
}

// A browser's text puts a tab between the cells of a row (none after its last) and each row on
// a line of its own; a table inside a cell has rows of its own.
void HtmlPlainText::takeTableTag(const QString &name, bool closing)
{
    if (name == QLatin1String("table")) {
        if (!closing)
            m_cellSeen.push_back(false);
        else if (!m_cellSeen.empty())
            m_cellSeen.pop_back();
        breakLine();
    } else if (name == QLatin1String("tr")) {
        if (!m_cellSeen.empty())
            m_cellSeen.back() = false;
        breakLine();
    } else if (!closing) {  // td or th
        if (m_cellSeen.empty())
            m_cellSeen.push_back(false);
        if (m_cellSeen.back()) {
            while (m_tail.endsWith(QLatin1Char(' ')))
                m_tail.chop(1);
            m_tail += QLatin1Char('\t');
        }
        m_cellSeen.back() = true;
    }
}

void HtmlPlainText::takeTag(const QString &name, bool closing, bool selfClosing)
{
    m_preOpened = false;
    m_afterCr = false;
    if (!closing && isHiddenElement(name) && !selfClosing) {
        m_hiddenIn = name;
    } else if (name == QLatin1String("br")) {
        m_tail += QLatin1Char('\n');
    } else if (name == QLatin1String("table") || name == QLatin1String("tr") || name == QLatin1String("td")
               || name == QLatin1String("th")) {
        takeTableTag(name, closing);
    } else if (isBlockElement(name)) {
        breakLine();
        if (name == QLatin1String("pre")) {
            m_preDepth = closing ? qMax(0, m_preDepth - 1) : m_preDepth + 1;
            m_preOpened = !closing;
        }
    }
}

// Ends the current line once, however many block edges meet there.
void HtmlPlainText::breakLine()
{
    while (m_tail.endsWith(QLatin1Char(' ')))
        m_tail.chop(1);
    if ((m_started || !m_tail.isEmpty()) && !m_tail.endsWith(QLatin1Char('\n')) && (!m_tail.isEmpty() || m_started))
        m_tail += QLatin1Char('\n');
}

void HtmlPlainText::convert(const QString &html, QString *out)
{
    int at = 0;
    while (at < html.size()) {
        const int tag = html.indexOf(QLatin1Char('<'), at);
        const int textEnd = tag < 0 ? html.size() : tag;
        if (m_hiddenIn.isEmpty())
            appendText(UnescapeHtmlText(html.mid(at, textEnd - at)), out);
        if (tag < 0)
            break;
        const int close = html.indexOf(QLatin1Char('>'), tag);
        bool closing = false;
        const QString name = tagName(html, tag, &closing);
        at = close < 0 ? html.size() : close + 1;
        if (!m_hiddenIn.isEmpty()) {
            if (closing && name == m_hiddenIn)
                m_hiddenIn.clear();
            continue;
        }
        takeTag(name, closing, html.midRef(tag, at - tag).endsWith(QLatin1String("/>")));
    }
}

void HtmlPlainText::feed(const QString &html, QString *out)
{
    m_waiting += html;
    const int end = convertibleEnd(m_waiting);
    if (end == 0)
        return;
    const QString now = m_waiting.left(end);
    m_waiting.remove(0, end);
    convert(now, out);
}

void HtmlPlainText::finish(QString *out)
{
    convert(m_waiting, out);
    m_waiting.clear();
    m_tail.clear();
}

QString PlainTextOfHtml(const QString &html)
{
    HtmlPlainText reader;
    QString out;
    reader.feed(html, &out);
    reader.finish(&out);
    return out;
}
