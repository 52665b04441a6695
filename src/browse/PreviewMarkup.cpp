#include "browse/PreviewMarkup.h"

#include <QVector>

namespace {

bool isNameChar(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == ':' || c == '-';
}

// The lower-case name of the tag at at ('<' there), its closing mark and where the tag ends
// (its '>'); end -1 when the markup ends first.
struct Tag {
    QByteArray name;
    bool closing = false;
    int end = -1;
};

Tag tagAt(const QByteArray &markup, int at)
{
    Tag tag;
    int i = at + 1;
    if (i < markup.size() && markup.at(i) == '/') {
        tag.closing = true;
        ++i;
    }
    const int start = i;
    while (i < markup.size() && isNameChar(markup.at(i)))
        ++i;
    tag.name = markup.mid(start, i - start).toLower();
    tag.end = markup.indexOf('>', i);
    return tag;
}

// Blanks as the filter leaves them, a no-break space included.
int blanksAt(const QByteArray &markup, int at)
{
    int i = at;
    while (i < markup.size()) {
        const char c = markup.at(i);
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r')
            ++i;
        else if (c == '\xc2' && i + 1 < markup.size() && markup.at(i + 1) == '\xa0')
            i += 2;
        else
            break;
    }
    return i - at;
}

// The value of the style's border-left declaration, kept to the characters a border's width,
// style and colour are written with; empty when there is none or it draws nothing.
QByteArray leftBorderOf(const QByteArray &tag)
{
    const QByteArray lower = tag.toLower();
    const int style = lower.indexOf("style=");
    if (style < 0)
        return QByteArray();
    const int at = lower.indexOf("border-left:", style);
    if (at < 0)
        return QByteArray();
    int end = at + 12;
    while (end < lower.size() && lower.at(end) != ';' && lower.at(end) != '"' && lower.at(end) != '\''
           && lower.at(end) != '&' && lower.at(end) != '>')
        ++end;
    QByteArray value;
    for (int i = at + 12; i < end; ++i) {
        const char c = lower.at(i);
        if (isNameChar(c) || c == '#' || c == '.' || c == '%' || c == ' ' || c == ',' || c == '(' || c == ')')
            value += c;
    }
    value = value.trimmed();
    if (value.isEmpty() || value.contains("none") || value.contains("hidden") || value.startsWith("0 ") || value == "0")
        return QByteArray();
    return value;
}

}  // namespace

QByteArray WithEmptyParagraphsKept(const QByteArray &markup)
{
    QByteArray out;
    int from = 0;
    for (int at = markup.indexOf('<'); at >= 0; at = markup.indexOf('<', at + 1)) {
        const char next = at + 1 < markup.size() ? markup.at(at + 1) : 0;
        if (next != 'p' && next != 'P')
            continue;
        const Tag tag = tagAt(markup, at);
        if (tag.name != "p" || tag.end < 0)
            continue;
        const int blanks = blanksAt(markup, tag.end + 1);
        const int after = tag.end + 1 + blanks;
        if (blanks == 0 || markup.mid(after, 4).toLower() != "</p>")
            continue;
        if (out.isEmpty())
            out.reserve(markup.size() + 64);
        out.append(markup.constData() + from, tag.end + 1 - from);
        out += "&nbsp;";
        from = after;
        at = after;
    }
    if (from == 0)
        return markup;
    out.append(markup.constData() + from, markup.size() - from);
    return out;
}

QByteArray WithQuoteBordersDrawn(const QByteArray &markup)
{
    static const char kOpen[] = "<table cellspacing=\"0\" cellpadding=\"0\" style=\"border-collapse:collapse\"><tr>"
                                "<td style=\"padding-left:6px; border-left:";
    static const char kClose[] = "</td></tr></table>";
    QByteArray out;
    int from = 0;
    // Per element name, whether each open one drew its border in a table.
    QVector<bool> quotes, divs;
    for (int at = markup.indexOf('<'); at >= 0; at = markup.indexOf('<', at + 1)) {
        const Tag tag = tagAt(markup, at);
        if (tag.end < 0)
            break;
        QVector<bool> *open = tag.name == "blockquote" ? &quotes : tag.name == "div" ? &divs : nullptr;
        if (!open)
            continue;
        if (tag.closing) {
            if (open->isEmpty())
                continue;
            if (open->takeLast()) {
                out.append(markup.constData() + from, at - from);
                out += kClose;
                from = at;
            }
            continue;
        }
        const QByteArray border = leftBorderOf(markup.mid(at, tag.end + 1 - at));
        open->append(!border.isEmpty());
        if (border.isEmpty())
            continue;
        out.append(markup.constData() + from, tag.end + 1 - from);
        out += kOpen + border + "\">";
        from = tag.end + 1;
        at = tag.end;
    }
    if (out.isEmpty() && from == 0)
        return markup;
    out.append(markup.constData() + from, markup.size() - from);
    for (const QVector<bool> *open : {&quotes, &divs}) {
        for (bool drawn : *open) {
            if (drawn)
                out += kClose;
        }
    }
    return out;
}

QByteArray WithUnsetDirectionsLeftToRight(const QByteArray &markup)
{
    // The filter writes every kept attribute with double quotes.
    if (!markup.contains(" dir=\""))
        return markup;
    return "<div dir=\"ltr\">" + markup + "</div>";
}
