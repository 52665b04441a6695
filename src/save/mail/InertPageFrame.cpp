// The frame around a message's body on its saved page: the body's colours, style and direction,
// which the page's own style sheet and header lines must neither beat nor take on.

#include "save/mail/InertWalk.h"

#include <cstring>

using inert::appendEscaped;
using inert::keptValue;
using inert::PageWalk;

namespace {

// A dir attribute's value a browser reads, in lower case; empty for none or another.
QByteArray dirValue(const GumboElement &e)
{
    const GumboAttribute *dir = gumbo_get_attribute(&e.attributes, "dir");
    const QByteArray value = dir ? QByteArray(dir->value).trimmed().toLower() : QByteArray();
    return value == "rtl" || value == "ltr" || value == "auto" ? value : QByteArray();
}

// The direction a style attribute sets; *rest: the kept style without it.
QByteArray styleDirection(PageWalk &walk, const GumboElement &e, QByteArray *rest)
{
    const GumboAttribute *style = gumbo_get_attribute(&e.attributes, "style");
    rest->clear();
    return style ? TakeCssDirection(walk.style(*style), rest) : QByteArray();
}

// The message's direction, as the html and body elements set it by their styles and dir
// attributes, the body's before the html element's and a style before a dir attribute.
QByteArray messageDirection(PageWalk &walk, const GumboElement &html, const GumboElement &body)
{
    QByteArray rest;
    for (const GumboElement *e : {&body, &html}) {
        QByteArray direction = styleDirection(walk, *e, &rest);
        if (direction.isEmpty())
            direction = dirValue(*e);
        if (!direction.isEmpty())
            return direction;
    }
    return QByteArray();
}

// The body's attributes that colour the message: they go on the frame around its content.
bool isColourAttribute(const char *name)
{
    return IsOneOf(name, {"bgcolor", "text", "link", "vlink", "alink"});
}

// The message's body tag, which a browser merges into the page's: its background picture,
// margins and classes show on the whole page, with the html element's language when the body has
// none. Its colours and style go on the frame around the message's content instead, where the
// page's own style sheet does not beat them and the page's header lines keep theirs; nor does its
// direction go here: it would turn the page's own header lines too.
QByteArray pageBodyTag(PageWalk &walk, const GumboElement &html, const GumboElement &body)
{
    QByteArray tag = "<body";
    for (unsigned i = 0; i < body.attributes.length; ++i) {
        const auto *a = static_cast<const GumboAttribute *>(body.attributes.data[i]);
        if (std::strcmp(a->name, "dir") == 0 || std::strcmp(a->name, "style") == 0 || isColourAttribute(a->name))
            continue;
        const QByteArray value = keptValue(walk, body, *a);
        if (value.isNull())
            continue;
        tag += QByteArray(" ") + a->name + "=\"";
        appendEscaped(tag, value.constData(), true);
        tag += '"';
    }
    const GumboAttribute *lang = gumbo_get_attribute(&html.attributes, "lang");
    if (lang && !gumbo_get_attribute(&body.attributes, "lang")) {
        tag += " lang=\"";
        appendEscaped(tag, lang->value, true);
        tag += '"';
    }
    return tag + '>';
}

bool isHexDigit(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// A colour attribute's value as a browser reads it (the legacy colour rules), as declarations of
// property: a colour name stays (the hex form first, which CSS keeps only when the word is no
// name it knows), anything else becomes #rrggbb; empty where a browser takes no colour.
QByteArray colourDeclarations(const char *property, const char *value)
{
    QByteArray v = QByteArray(value).trimmed();
    if (v.isEmpty() || v.compare("transparent", Qt::CaseInsensitive) == 0)
        return QByteArray();
    bool word = true;
    for (const char c : v)
        word = word && ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'));
    const QByteArray name = word ? v.toLower() : QByteArray();
    if (v.size() == 4 && v[0] == '#' && isHexDigit(v[1]) && isHexDigit(v[2]) && isHexDigit(v[3]))
        v = QByteArray("#") + v[1] + v[1] + v[2] + v[2] + v[3] + v[3];
    v.truncate(128);
    if (v.startsWith('#'))
        v.remove(0, 1);
    for (char &c : v) {
        if (!isHexDigit(c))
            c = '0';
    }
    while (v.isEmpty() || v.size() % 3 != 0)
        v += '0';
    int length = v.size() / 3;
    QByteArray parts[3] = {v.mid(0, length), v.mid(length, length), v.mid(2 * length, length)};
    if (length > 8) {
        for (QByteArray &part : parts)
            part = part.right(8);
        length = 8;
    }
    while (length > 2 && parts[0][0] == '0' && parts[1][0] == '0' && parts[2][0] == '0') {
        for (QByteArray &part : parts)
            part.remove(0, 1);
        --length;
    }
    QByteArray out = QByteArray(property) + ": #";
    for (const QByteArray &part : parts)
        out += part.left(2).rightJustified(2, '0').toLower();
    out += "; ";
    if (!name.isEmpty())
        out += QByteArray(property) + ": " + name + "; ";
    return out;
}

// Whether a style's declarations set the text's colour.
bool setsTextColour(const QByteArray &style)
{
    const QByteArray lower = style.toLower();
    for (int at = lower.indexOf("color"); at >= 0; at = lower.indexOf("color", at + 5)) {
        const char before = at > 0 ? lower[at - 1] : ';';
        int after = at + 5;
        while (after < lower.size() && (lower[after] == ' ' || lower[after] == '\t' || lower[after] == '\n'))
            ++after;
        if ((before == ';' || before == ' ' || before == '\t' || before == '\n' || before == '{')
            && after < lower.size() && lower[after] == ':')
            return true;
    }
    return false;
}

// The frame around the message's content that shows the body's colours and style: its start tag,
// and the rules that carry its colours into tables and links, which the page's style sheet (or a
// browser's own) would colour otherwise. Both empty when the body sets none. The rules weigh no
// more than a type selector, so the message's own style sheets, which follow them, still win.
struct MessageFrame {
    QByteArray startTag;
    QByteArray rules;
};

MessageFrame messageFrame(PageWalk &walk, const GumboElement &body)
{
    QByteArray css;
    bool textColour = false;
    QByteArray linkRules;
    const auto attributeColour = [&body](const char *name, const char *property) {
        const GumboAttribute *a = gumbo_get_attribute(&body.attributes, name);
        return a ? colourDeclarations(property, a->value) : QByteArray();
    };
    css += attributeColour("bgcolor", "background-color");
    if (const QByteArray text = attributeColour("text", "color"); !text.isEmpty()) {
        css += text;
        textColour = true;
    }
    if (const QByteArray link = attributeColour("link", "color"); !link.isEmpty())
        linkRules += ":where(.message-body) a:link { " + link.trimmed() + " } ";
    if (const QByteArray visited = attributeColour("vlink", "color"); !visited.isEmpty())
        linkRules += ":where(.message-body) a:visited { " + visited.trimmed() + " } ";
    QByteArray style;
    styleDirection(walk, body, &style);
    if (!style.trimmed().isEmpty()) {
        textColour = textColour || setsTextColour(style);
        css += style;
    }
    MessageFrame frame;
    if (css.isEmpty() && linkRules.isEmpty())
        return frame;
    frame.startTag = "<div class=\"message-body\"";
    if (!css.trimmed().isEmpty()) {
        frame.startTag += " style=\"";
        appendEscaped(frame.startTag, css.trimmed().constData(), true);
        frame.startTag += '"';
    }
    frame.startTag += '>';
    if (textColour)
        frame.rules += ":where(.message-body) table { color: inherit } ";
    frame.rules += linkRules;
    if (!frame.rules.isEmpty())
        frame.rules = "<style>" + frame.rules.trimmed() + "</style>";
    return frame;
}

const GumboElement *bodyOf(const GumboElement &html)
{
    for (unsigned i = 0; i < html.children.length; ++i) {
        const auto *part = static_cast<const GumboNode *>(html.children.data[i]);
        if (part->type == GUMBO_NODE_ELEMENT && part->v.element.tag == GUMBO_TAG_BODY)
            return &part->v.element;
    }
    return nullptr;
}

}  // namespace

namespace inert {

// The frame's rules, the head's style sheets, then the body's content. The body's own look goes on
// a body tag before it, which a browser gives to the page's body, as it did when the message's
// markup was copied whole, and its colours and style on a frame around its content; the
// message's direction goes on an element inside that, where "auto" is resolved from the
// message's text.
bool appendDocument(PageWalk &walk, QByteArray &out, const GumboElement &html, int limit, int maxDepth)
{
    const GumboElement *body = bodyOf(html);
    const QByteArray direction = body ? messageDirection(walk, html, *body) : QByteArray();
    const MessageFrame frame = body ? messageFrame(walk, *body) : MessageFrame();
    out += frame.rules;
    for (unsigned i = 0; i < html.children.length; ++i) {
        const auto *part = static_cast<const GumboNode *>(html.children.data[i]);
        if (part->type != GUMBO_NODE_ELEMENT)
            continue;
        const bool isBody = &part->v.element == body;
        if (isBody) {
            const QByteArray tag = pageBodyTag(walk, html, *body);
            if (tag != "<body>")
                out += tag;
            out += frame.startTag;
            if (!direction.isEmpty())
                out += "<div dir=\"" + direction + "\">";
        }
        const bool shown = part->v.element.tag == GUMBO_TAG_HEAD || isBody;
        if (shown && !appendKept(walk, out, part, limit, maxDepth))
            return false;
        if (isBody && !direction.isEmpty())
            out += "</div>";
        if (isBody && !frame.startTag.isEmpty())
            out += "</div>";
    }
    return true;
}

}  // namespace inert
