// A message's markup made inert for the saved page: mail programs never run a message's script nor
// load its remote pictures, and a page opened in a browser must not either, whatever it makes of
// the page's policy line. The markup is read as an HTML5 browser reads it (gumbo), and only the
// elements and attributes that show are written back: text, tables, styles, plain links and the
// pictures the message carries itself (data: and cid:). Nothing that runs or loads stays.

#include "save/mail/BoundedParse.h"
#include "save/mail/InertStyles.h"
#include "save/mail/InertWalk.h"
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

using inert::appendEscaped;
using inert::PageWalk;

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

}  // namespace

// ---- writing the kept tree

namespace inert {

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

}  // namespace inert

namespace {

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
