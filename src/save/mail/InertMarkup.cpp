// A message's markup made inert for the saved page: mail programs never run a message's script nor
// load its remote pictures, and a page opened in a browser must not either, whatever it makes of
// the page's policy line. The markup is read as an HTML5 browser reads it (gumbo), and only the
// elements and attributes that show are written back: text, tables, styles, plain links and the
// pictures the message carries itself (data: and cid:). Nothing that runs or loads stays.

#include "save/mail/BoundedParse.h"
#include "save/mail/InertStyles.h"
#include "save/mail/MessageFiles.h"

#include <gumbo.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <initializer_list>
#include <new>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace {

// About a second of the parser's time: far above any real message's markup.
const qint64 kMaxNestingWork = 200 * 1000 * 1000;
// A style element's text is read whole: it counts as this many steps of the walk.
const qint64 kStyleTextSteps = 64;
// The page written from a message's markup: a few times the markup's size, at least enough for
// any short message, and never near the 2 GiB a byte array holds.
const qint64 kMinPageLimit = qint64(1) << 20;
const qint64 kMaxPageBytes = qint64(1) << 30;

enum class Keep {
    Element,   // written with its allowed attributes
    Children,  // the element goes, its content stays
    Nothing,   // the element goes with its content
};

// Elements written back: text, layout, tables, lists, pictures, links, form controls, styles.
const GumboTag kKeptTags[] = {
    GUMBO_TAG_A,        GUMBO_TAG_ABBR,       GUMBO_TAG_ACRONYM, GUMBO_TAG_ADDRESS, GUMBO_TAG_AREA,
    GUMBO_TAG_ARTICLE,  GUMBO_TAG_ASIDE,      GUMBO_TAG_B,       GUMBO_TAG_BDI,     GUMBO_TAG_BDO,
    GUMBO_TAG_BIG,      GUMBO_TAG_BLOCKQUOTE, GUMBO_TAG_BR,      GUMBO_TAG_BUTTON,  GUMBO_TAG_CAPTION,
    GUMBO_TAG_CENTER,   GUMBO_TAG_CITE,       GUMBO_TAG_CODE,    GUMBO_TAG_COL,     GUMBO_TAG_COLGROUP,
    GUMBO_TAG_DATA,     GUMBO_TAG_DD,         GUMBO_TAG_DEL,     GUMBO_TAG_DETAILS, GUMBO_TAG_DFN,
    GUMBO_TAG_DIR,      GUMBO_TAG_DIV,        GUMBO_TAG_DL,      GUMBO_TAG_DT,      GUMBO_TAG_EM,
    GUMBO_TAG_FIELDSET, GUMBO_TAG_FIGCAPTION, GUMBO_TAG_FIGURE,  GUMBO_TAG_FONT,    GUMBO_TAG_FOOTER,
    GUMBO_TAG_FORM,     GUMBO_TAG_H1,         GUMBO_TAG_H2,      GUMBO_TAG_H3,      GUMBO_TAG_H4,
    GUMBO_TAG_H5,       GUMBO_TAG_H6,         GUMBO_TAG_HEADER,  GUMBO_TAG_HGROUP,  GUMBO_TAG_HR,
    GUMBO_TAG_I,        GUMBO_TAG_IMG,        GUMBO_TAG_INPUT,   GUMBO_TAG_INS,     GUMBO_TAG_KBD,
    GUMBO_TAG_LABEL,    GUMBO_TAG_LEGEND,     GUMBO_TAG_LI,      GUMBO_TAG_MAIN,    GUMBO_TAG_MAP,
    GUMBO_TAG_MARK,     GUMBO_TAG_MENU,       GUMBO_TAG_NAV,     GUMBO_TAG_NOBR,    GUMBO_TAG_OL,
    GUMBO_TAG_OPTGROUP, GUMBO_TAG_OPTION,     GUMBO_TAG_P,       GUMBO_TAG_PRE,     GUMBO_TAG_Q,
    GUMBO_TAG_RB,       GUMBO_TAG_RP,         GUMBO_TAG_RT,      GUMBO_TAG_RTC,     GUMBO_TAG_RUBY,
    GUMBO_TAG_S,        GUMBO_TAG_SAMP,       GUMBO_TAG_SECTION, GUMBO_TAG_SELECT,  GUMBO_TAG_SMALL,
    GUMBO_TAG_SPAN,     GUMBO_TAG_STRIKE,     GUMBO_TAG_STRONG,  GUMBO_TAG_STYLE,   GUMBO_TAG_SUB,
    GUMBO_TAG_SUMMARY,  GUMBO_TAG_SUP,        GUMBO_TAG_TABLE,   GUMBO_TAG_TBODY,   GUMBO_TAG_TD,
    GUMBO_TAG_TEXTAREA, GUMBO_TAG_TFOOT,      GUMBO_TAG_TH,      GUMBO_TAG_THEAD,   GUMBO_TAG_TIME,
    GUMBO_TAG_TR,       GUMBO_TAG_TT,         GUMBO_TAG_U,       GUMBO_TAG_UL,      GUMBO_TAG_VAR,
    GUMBO_TAG_WBR,      GUMBO_TAG_XMP,        GUMBO_TAG_LISTING};
// Elements that go with their content: what runs or loads, and what shows only where plugins or
// frames do not run. A noscript's content shows, as in mail programs, which run no script.
const GumboTag kDroppedTags[] = {
    GUMBO_TAG_APPLET,   GUMBO_TAG_AUDIO,    GUMBO_TAG_BASE,   GUMBO_TAG_BGSOUND,  GUMBO_TAG_CANVAS,
    GUMBO_TAG_DATALIST, GUMBO_TAG_EMBED,    GUMBO_TAG_FRAME,  GUMBO_TAG_FRAMESET, GUMBO_TAG_HEAD,
    GUMBO_TAG_IFRAME,   GUMBO_TAG_KEYGEN,   GUMBO_TAG_LINK,   GUMBO_TAG_MENUITEM, GUMBO_TAG_META,
    GUMBO_TAG_NOEMBED,  GUMBO_TAG_NOFRAMES, GUMBO_TAG_OBJECT, GUMBO_TAG_PARAM,    GUMBO_TAG_SCRIPT,
    GUMBO_TAG_SOURCE,   GUMBO_TAG_TEMPLATE, GUMBO_TAG_TITLE,  GUMBO_TAG_TRACK,    GUMBO_TAG_VIDEO};

Keep keepOf(const GumboElement &e)
{
    // Markup in svg and math is read by other rules, where text can turn back into markup.
    if (e.tag_namespace != GUMBO_NAMESPACE_HTML)
        return Keep::Nothing;
    static const std::vector<Keep> keep = [] {
        // Unknown and word-processor elements (o:p and the like) go, their text shows.
        std::vector<Keep> k(GUMBO_TAG_LAST + 1, Keep::Children);
        for (const GumboTag tag : kKeptTags)
            k[tag] = Keep::Element;
        for (const GumboTag tag : kDroppedTags)
            k[tag] = Keep::Nothing;
        return k;
    }();
    return e.tag <= GUMBO_TAG_LAST ? keep[e.tag] : Keep::Children;
}

// Attributes that only shape how the content shows.
bool isLayoutAttribute(const char *name)
{
    return IsOneOf(name,
                   {"abbr",        "align",     "alt",         "axis",        "bgcolor",  "border",   "cellpadding",
                    "cellspacing", "char",      "charoff",     "checked",     "class",    "clear",    "color",
                    "cols",        "colspan",   "compact",     "coords",      "datetime", "dir",      "disabled",
                    "face",        "frame",     "headers",     "height",      "hidden",   "hspace",   "id",
                    "label",       "lang",      "maxlength",   "method",      "multiple", "name",     "noshade",
                    "nowrap",      "open",      "placeholder", "readonly",    "rel",      "reversed", "rows",
                    "rowspan",     "rules",     "scope",       "selected",    "shape",    "size",     "span",
                    "start",       "summary",   "target",      "title",       "type",     "usemap",   "valign",
                    "value",       "vspace",    "width",       "text",        "link",     "vlink",    "alink",
                    "leftmargin",  "topmargin", "marginwidth", "marginheight"});
}

// A link the reader may follow by hand: to the web, to mail, or within the page.
bool isLinkUrl(const QByteArray &url)
{
    if (url.startsWith('#'))
        return true;
    return IsOneOf(SchemeOf(url).constData(), {"http", "https", "mailto", "ftp", "tel", "news"});
}

// ---- writing the kept tree

// The walk over the parsed tree, under the bound the parse had: the same CPU deadline and stop.
// The parser copies a formatting element, with its attributes, into every paragraph that follows
// it: a style is read once, and its copies take what that reading gave.
class PageWalk {
public:
    PageWalk(const std::atomic<bool> *stop, qint64 cpuDeadline) : stop_(stop), deadline_(cpuDeadline) {}

    // False once the walk is to end (ended() says why); looks at the clock every few hundred
    // steps, and after a long style.
    bool goOn(qint64 work = 1)
    {
        if (end_ != PageWorkEnd::None)
            return false;
        work_ += work;
        if (work_ < kStepsBetweenLooks)
            return true;
        work_ = 0;
        end_ = PageWorkShouldEnd(stop_, deadline_);
        return end_ == PageWorkEnd::None;
    }
    PageWorkEnd ended() const { return end_; }

    // A style attribute's value as it stays.
    QByteArray style(const GumboAttribute &a)
    {
        // Copies of one attribute point at the same markup; one the parser made has none.
        const char *source = a.original_value.data;
        if (!source)
            return InertCss(a.value);
        const auto found = styles_.find(source);
        if (found != styles_.end())
            return found->second;
        const QByteArray css = InertCss(a.value);
        goOn(qint64(a.original_value.length) / kBytesPerStep);
        styles_.emplace(source, css);
        return css;
    }

private:
    static constexpr qint64 kStepsBetweenLooks = 256;
    static constexpr qint64 kBytesPerStep = 256;

    const std::atomic<bool> *stop_;
    qint64 deadline_;
    qint64 work_ = 0;
    PageWorkEnd end_ = PageWorkEnd::None;
    std::unordered_map<const char *, QByteArray> styles_;
};

void appendEscaped(QByteArray &out, const char *text, bool attribute)
{
    for (const char *p = text; *p; ++p) {
        switch (*p) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += attribute ? "&quot;" : "\"";
            break;
        default:
            out += *p;
        }
    }
}

// The value an attribute keeps on the element, or null when it goes.
QByteArray keptValue(PageWalk &walk, const GumboElement &e, const GumboAttribute &a)
{
    const char *name = a.name;
    if (isLayoutAttribute(name))
        return QByteArray(a.value);
    if (std::strcmp(name, "style") == 0)
        return walk.style(a);
    if (std::strcmp(name, "href") == 0 && (e.tag == GUMBO_TAG_A || e.tag == GUMBO_TAG_AREA)) {
        const QByteArray url = UrlOfValue(a.value);
        return isLinkUrl(url) ? url : QByteArray();
    }
    const bool picture = (std::strcmp(name, "src") == 0 && (e.tag == GUMBO_TAG_IMG || e.tag == GUMBO_TAG_INPUT))
        || std::strcmp(name, "background") == 0;
    if (picture) {
        const QByteArray url = UrlOfValue(a.value);
        return IsInsideUrl(url) ? url : QByteArray();
    }
    return QByteArray();
}

// The name an element is written with. Old preformatted elements are written as pre, which
// browsers show the same and whose content reads back as it was.
const char *writtenName(GumboTag tag)
{
    return tag == GUMBO_TAG_XMP || tag == GUMBO_TAG_LISTING ? "pre" : gumbo_normalized_tagname(tag);
}

void appendStartTag(PageWalk &walk, QByteArray &out, const GumboElement &e)
{
    out += '<';
    out += writtenName(e.tag);
    for (unsigned i = 0; i < e.attributes.length; ++i) {
        const auto *a = static_cast<const GumboAttribute *>(e.attributes.data[i]);
        const QByteArray value = keptValue(walk, e, *a);
        if (value.isNull())
            continue;
        out += ' ';
        out += a->name;
        out += "=\"";
        appendEscaped(out, value.constData(), true);
        out += '"';
    }
    out += '>';
}

bool isVoid(GumboTag tag)
{
    return tag == GUMBO_TAG_AREA || tag == GUMBO_TAG_BR || tag == GUMBO_TAG_COL || tag == GUMBO_TAG_HR
        || tag == GUMBO_TAG_IMG || tag == GUMBO_TAG_INPUT || tag == GUMBO_TAG_WBR;
}

QByteArray styleText(const GumboElement &e)
{
    QByteArray css;
    for (unsigned i = 0; i < e.children.length; ++i) {
        const auto *child = static_cast<const GumboNode *>(e.children.data[i]);
        if (child->type == GUMBO_NODE_TEXT || child->type == GUMBO_NODE_WHITESPACE)
            css += child->v.text.text;
    }
    return InertCss(std::string_view(css.constData(), size_t(css.size())));
}

// The parser drops a line break right after these start tags: one in the content is doubled.
bool firstTextStartsLine(const GumboElement &e)
{
    if (std::strcmp(writtenName(e.tag), "pre") != 0 && e.tag != GUMBO_TAG_TEXTAREA)
        return false;
    if (e.children.length == 0)
        return false;
    const auto *first = static_cast<const GumboNode *>(e.children.data[0]);
    return (first->type == GUMBO_NODE_TEXT || first->type == GUMBO_NODE_WHITESPACE) && first->v.text.text[0] == '\n';
}

// Writes the kept part of the tree below root; false once out holds more than limit bytes or the
// walk is to end. A loop, not recursion: a message may nest its elements deeper than any stack.
// Elements more than maxDepth deep (0: no limit) are written as their content only.
bool appendKept(PageWalk &walk, QByteArray &out, const GumboNode *root, int limit, int maxDepth)
{
    struct Open {
        const GumboNode *node;
        unsigned next;  // the next child to write
        bool written;   // its tags are written
    };
    std::vector<Open> open{{root, 0, false}};
    while (!open.empty()) {
        if (out.size() > limit || !walk.goOn())
            return false;
        Open &top = open.back();
        const GumboElement &parent = top.node->v.element;
        if (top.next == parent.children.length) {
            if (top.written && !isVoid(parent.tag))
                out += QByteArray("</") + writtenName(parent.tag) + '>';
            open.pop_back();
            continue;
        }
        const auto *child = static_cast<const GumboNode *>(parent.children.data[top.next++]);
        switch (child->type) {
        case GUMBO_NODE_TEXT:
        case GUMBO_NODE_WHITESPACE:
            appendEscaped(out, child->v.text.text, false);
            break;
        case GUMBO_NODE_ELEMENT: {
            const GumboElement &e = child->v.element;
            Keep keep = keepOf(e);
            // Void elements and style sheets nest nothing: they stay at any depth.
            const bool nests = !isVoid(e.tag) && e.tag != GUMBO_TAG_STYLE;
            if (keep == Keep::Element && nests && maxDepth > 0 && int(open.size()) > maxDepth)
                keep = Keep::Children;
            if (keep == Keep::Element) {
                appendStartTag(walk, out, e);
                if (e.tag == GUMBO_TAG_STYLE) {
                    out += styleText(e) + "</style>";
                    walk.goOn(kStyleTextSteps);
                    break;
                }
                if (firstTextStartsLine(e))
                    out += '\n';
            }
            if (keep != Keep::Nothing)
                open.push_back({child, 0u, keep == Keep::Element});
            break;
        }
        default:
            // Comments, CDATA and template contents show nothing.
            break;
        }
    }
    return out.size() <= limit;
}

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

// ---- reading

bool isTagStart(std::string_view text, size_t at)
{
    const auto letter = [&](size_t i) {
        return i < text.size() && ((text[i] >= 'a' && text[i] <= 'z') || (text[i] >= 'A' && text[i] <= 'Z'));
    };
    return letter(at + 1) || (at + 1 < text.size() && text[at + 1] == '/' && letter(at + 2));
}

// Past the '>' of the tag at text[at]; quoted values may hold '>'.
size_t tagEnd(std::string_view text, size_t at, QByteArray *name)
{
    size_t i = at + (text[at + 1] == '/' ? 2 : 1);
    while (i < text.size() && text[i] != '>' && text[i] != '/' && uchar(text[i]) > ' ')
        *name += text[i++];
    for (char quote = 0; i < text.size() && (quote || text[i] != '>'); ++i) {
        if (quote ? text[i] == quote : (text[i] == '"' || text[i] == '\''))
            quote = quote ? 0 : text[i];
    }
    return qMin(i + 1, text.size());
}

// The parser's work grows with how deep elements nest at each start tag: a guess of its sum, from
// a quick reading of the markup in lower case that opens elements at start tags and closes them
// at their end tags.
qint64 nestingWork(std::string_view text)
{
    std::vector<QByteArray> open;
    qint64 work = 0;
    for (size_t at = text.find('<'); at != std::string_view::npos; at = text.find('<', at)) {
        if (text.compare(at, 4, "<!--") == 0) {
            at = qMin(text.find("-->", at + 4), text.size());
            continue;
        }
        if (!isTagStart(text, at)) {
            ++at;
            continue;
        }
        const bool closing = text[at + 1] == '/';
        QByteArray name;
        at = tagEnd(text, at, &name);
        // An end tag closes its element when open near the top; these start tags close the one of
        // their name just opened, unless a table lies between. Looked for near the top only, so
        // the reading stays quick: a miss leaves the guess high.
        const bool closesSame = IsOneOf(name.constData(), {"p", "li", "td", "th", "tr", "option", "dt", "dd"});
        const auto top = open.rbegin() + qMin(ptrdiff_t(open.size()), ptrdiff_t(closing ? 64 : 3));
        const auto same = std::find(open.rbegin(), top, name);
        if ((closing || closesSame) && same != top && (closing || std::find(open.rbegin(), same, "table") == same))
            open.erase(same.base() - 1, open.end());
        if (closing
            || IsOneOf(name.constData(),
                       {"br", "img", "hr", "input", "meta", "link", "wbr", "col", "area", "base", "embed", "param",
                        "source", "track"}))
            continue;
        open.push_back(name);
        work += qint64(open.size());
        if (work > kMaxNestingWork)
            break;
        if (IsOneOf(name.constData(),
                    {"script", "style", "textarea", "title", "xmp", "iframe", "noembed", "noframes", "noscript",
                     "plaintext"})) {
            at = qMin(text.find(std::string_view(("</" + name).constData()), at), text.size());
        }
    }
    return work;
}

// The markup's source as page text; its bytes are escaped as they are, with no copy of the
// whole message in another form.
QByteArray shownAsText(const QByteArray &markup)
{
    QByteArray out;
    out.reserve(markup.size() + markup.size() / 8 + 64);
    out += "<div style=\"white-space: pre-wrap\">";
    appendEscaped(out, markup.constData(), false);
    return out + "</div>";
}

// The kept markup, or its source as text where it cannot be read within bounds. The parse and
// the walk after it share one CPU deadline and answer the stop alike.
QByteArray inertOrText(const QByteArray &markup, bool *stopped, const std::atomic<bool> *stop, int maxDepth)
{
    const qint64 deadline = PageCpuDeadline(markup.size());
    // Nesting thousands deep is no mail: rather than keep the parser busy until its budget ends,
    // its source shows as text at once.
    {
        const QByteArray lower = markup.toLower();
        if (nestingWork(std::string_view(lower.constData(), size_t(lower.size()))) > kMaxNestingWork)
            return shownAsText(markup);
    }
    const BoundedParse parse(markup, stop, deadline);
    const GumboOutput *tree = parse.tree();
    if (!tree) {
        if (stopped)
            *stopped = parse.stopped();
        return shownAsText(markup);
    }
    // The page grows with the message, whatever its tree came to.
    const int limit = int(qMin<qint64>(kMaxPageBytes, qMax<qint64>(kMinPageLimit, qint64(markup.size()) * 16)));
    QByteArray out;
    out.reserve(markup.size());
    PageWalk walk(stop, deadline);
    if (tree->root && tree->root->type == GUMBO_NODE_ELEMENT
        && !appendDocument(walk, out, tree->root->v.element, limit, maxDepth)) {
        if (stopped)
            *stopped = walk.ended() == PageWorkEnd::Stopped;
        out = QByteArray();
        return shownAsText(markup);
    }
    return out;
}

}  // namespace

QByteArray InertMarkup(const QByteArray &markup, bool *stopped, const std::atomic<bool> *stop, int maxDepth)
{
    if (stopped)
        *stopped = false;
    try {
        return inertOrText(markup, stopped, stop, maxDepth);
    } catch (const std::bad_alloc &) {
        // The tree and the page so far are freed by now: the text may fit where they did not.
        // When it does not either, the caller counts the message as not saved.
        return shownAsText(markup);
    }
}
