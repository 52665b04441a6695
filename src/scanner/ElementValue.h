#pragma once
// Locating items and element values inside entry XML by plain byte search. All positions are
// byte positions in the raw entry text: nothing is decoded before it is kept, so invalid UTF-8 or
// NUL bytes never shift an offset.

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>

// memmem-based search: far faster than a first-character scan on XML where every element name
// starts alike. npos when absent.
size_t FindBytes(std::string_view haystack, std::string_view needle, size_t from = 0);

// First position at or after from where tag (which starts with '<') begins, or npos. Escaped XML
// text holds no '<', so hopping from '<' to '<' skips long bodies far faster than memmem.
size_t FindTag(std::string_view haystack, std::string_view tag, size_t from = 0);

// Where an element's text lies inside an item: value start and length in bytes; found false when
// the start tag, its '>' or its close tag is missing.
struct ElementSpan {
    bool found = false;
    qint64 start = 0;
    qint64 length = 0;
};

// startTag is "<Name" without '>'. The start tag must be followed by a blank, '>' or '/';
// the value begins after the '>' that ends the start tag (empty for "/>"); the close tag is
// searched from the value start.
ElementSpan GetElementValue(std::string_view item, std::string_view startTag);

// Where startTag ("<Name") stands followed by a blank, '>' or '/', at or after from; npos if nowhere.
size_t FindStartTag(std::string_view item, std::string_view startTag, size_t from);

// Where the start tag whose '<' stands at lt stops: its '>', quoted attribute values skipped (XML
// allows '>' inside them), or where it is cut: the next '<' outside quotes or the text's end.
size_t StartTagLimit(std::string_view text, size_t lt);

// The position of the '>' that ends the start tag at lt, as StartTagLimit finds it; npos when the
// tag is cut.
size_t StartTagEnd(std::string_view text, size_t lt);

// Where the comment, CDATA section or processing instruction whose '<' stands at lt ends (past its
// closing text, or the text's end when it has none); npos when lt starts none of them.
size_t MarkupEnd(std::string_view text, size_t lt);

// An element's raw text as plain escaped text: comments and processing instructions dropped,
// each CDATA section's text with '&' and '<' written as references, so that undoing references
// once gives what an XML reader gives. raw itself (no copy) when it holds no '<'.
std::string_view PlainElementText(std::string_view raw, std::string *storage);

// A long text read back from the archive (a body, a note) as PlainElementText gives it; a text
// that holds markup stored unescaped (a '<' that starts a tag) stays as it is, its comments kept
// for the HTML reading of it.
QByteArray PlainElementBytes(const QByteArray &raw);

// A long text as PlainElementBytes gives it, with its character references and quotes written
// as references undone as an XML reader undoes them; a reference to '<', '>' or '&' becomes
// "&lt;", "&gt;" or "&amp;", so that the text's readers, which undo those, read what XML reads.
QByteArray ReadableElementBytes(const QByteArray &raw);

// An element's short text as an XML reader gives it, trimmed, up to its first NUL.
QString ElementText(std::string_view raw);

// The value of the attribute `name` in one start tag, the tag's text from its '<' on, as XML
// reads it before references are undone: each literal tab, line feed and carriage return is a
// blank (a CR LF pair one blank), while references such as "&#10;" are kept for the caller to
// undo. Attributes are read by name in any order, their values in double or single quotes, as
// XML allows. *value points into the tag, or into *storage when a blank was made. False when the
// tag has none, or its value's closing quote is missing.
bool FindAttribute(std::string_view tag, std::string_view name, std::string_view *value, std::string *storage);

// Calls f(tag) for every start tag of startTag ("<Name") in text outside comments and CDATA, in
// order, tag being its text from '<' to its '>' (to where it is cut, as StartTagLimit finds it),
// for the paired and the self-closing form alike. f returns false to stop. Each search goes on
// from where the last tag ended, so the cost stays linear in the text.
template <typename F>
void ForEachStartTag(std::string_view text, std::string_view startTag, F f)
{
    for (size_t at = FindStartTag(text, startTag, 0); at != std::string_view::npos;) {
        const size_t end = StartTagLimit(text, at);
        if (!f(text.substr(at, end - at)))
            return;
        at = FindStartTag(text, startTag, end < text.size() && text[end] == '>' ? end + 1 : end);
    }
}

// The length of the close tag closeTag ("</Name>") standing at text[at], with the blanks XML
// allows before its '>'; 0 when none stands there.
size_t CloseTagLengthAt(std::string_view text, size_t at, std::string_view closeTag);

// Whether closeTag ("</email>") stands anywhere in text, blanks before its '>' allowed.
bool HasItemClose(std::string_view text, std::string_view closeTag);

// Where comments, CDATA sections and instructions of one text end, searched so that one that
// never ends is searched for once, not once per item after it.
class MarkupMemo {
public:
    // Past the closing text of the markup whose '<' stands at lt; npos when it has none, or lt
    // starts no markup.
    size_t end(std::string_view text, size_t lt);

private:
    const char *m_noEndFrom[3] = {nullptr, nullptr, nullptr};
    const char *m_textEnd = nullptr;
};

// Whether what stands at from, after blanks, comments and instructions, is a close tag: after
// an item, the close tag of the store's root. Nothing after it is an item of the store.
bool RootClosesAt(std::string_view text, size_t from, MarkupMemo *memo = nullptr);

// Whether a store's text ends with the close tag of its root element root ("emails"), blanks
// before its '>' allowed, and only blanks, comments and instructions after it.
bool EndsWithRootClose(std::string_view text, std::string_view root);

// The first start tag of each of a builder's elements in one item, all found in one walk over the
// item's tags: searching every element from the item's start again made the scan's cost grow
// with the elements times the text. value() gives exactly what GetElementValue gives.
class ItemElements {
public:
    static constexpr int kMaxTags = 12;
    // startTags as for GetElementValue; at most kMaxTags of them.
    ItemElements(std::string_view item, std::initializer_list<std::string_view> startTags);
    // The item is text up to the first itemClose tag, found in the same walk as the elements and
    // their close tags, so one item costs one walk over its tags (SplitItems plus the element
    // searches made three). end() is where itemClose starts, npos when text holds none.
    // strayCloses: how many itemClose tags at the start of the walk stand inside the item's fields
    // (StrayItemCloses), passed over.
    ItemElements(std::string_view text, std::string_view itemClose, std::initializer_list<std::string_view> startTags,
                 MarkupMemo *memo = nullptr, int strayCloses = 0);
    std::string_view item() const { return m_item; }
    size_t end() const { return m_end; }
    // The length of the close tag at end() (blanks before its '>' included).
    size_t closeLength() const { return m_closeLength; }
    ElementSpan value(std::string_view startTag) const;

private:
    void setTags(std::initializer_list<std::string_view> startTags);
    // Visits every '<' of the text in order, as FindTag does, until itemClose (when given).
    void walk(std::string_view text, std::string_view itemClose, MarkupMemo *memo, int strayCloses = 0);

    std::string_view m_item;
    size_t m_end = std::string_view::npos;
    size_t m_closeLength = 0;
    std::string_view m_tags[kMaxTags];
    size_t m_at[kMaxTags];
    // The first close tag after each start tag, when the walk saw it; npos: search as before.
    size_t m_closeAt[kMaxTags];
    bool m_closesKnown = false;
    int m_count = 0;
};

// How many of the item's close tags (closeTag) from the one that ends at closeEnd on stand inside
// one of its fields, as markup written unescaped into a field holds them: text (from the item's
// start) goes on as its item to the close tag after them, as the check of its XML reads it. 0
// unless the item is broken; the cost of a check of the item only where no item starts after it.
int StrayItemCloses(std::string_view text, size_t closeEnd, std::string_view closeTag, MarkupMemo *memo);

// Calls f(elements, offset) for every item of text closed by closeTag ("</email>"), in order,
// offset being where it starts in text, each item's elements found in the walk that finds its
// close tag. Items end where an XML reader ends them: at a close tag outside comments and CDATA,
// blanks before its '>' allowed; the walk stops where the store's root closes, so nothing after
// the root is taken for an item. f returns false to stop. Returns where the walk stopped: past
// the last item's close tag; *rootClosed tells whether the root's close tag stands there.
template <typename F>
size_t SplitItemElements(std::string_view text, std::string_view closeTag,
                         std::initializer_list<std::string_view> startTags, F f, bool *rootClosed = nullptr)
{
    MarkupMemo memo;
    size_t from = 0;
    bool closed = false;
    while (from <= text.size()) {
        const std::string_view rest = text.substr(from);
        const ItemElements first(rest, closeTag, startTags, &memo);
        const int strays = first.end() == std::string_view::npos
            ? 0
            : StrayItemCloses(rest, first.end() + first.closeLength(), closeTag, &memo);
        std::optional<ItemElements> merged;
        if (strays)
            merged.emplace(rest, closeTag, startTags, &memo, strays);
        const ItemElements &item = merged ? *merged : first;
        if (item.end() == std::string_view::npos || !f(item, from))
            break;
        from += item.end() + item.closeLength();
        if ((closed = RootClosesAt(text, from, &memo)))
            break;
    }
    if (rootClosed)
        *rootClosed = closed;
    return from;
}

// One item of a collection: its bytes up to (not including) the item close tag, and where they
// start in the archive.
struct ItemPiece {
    std::string_view bytes;
    qint64 start;   // absolute archive offset of bytes[0]
    qint64 length;  // bytes.size() + close tag length: the item's whole span
};

// Calls f(piece) for every item of text closed by closeTag, as SplitItemElements finds them,
// with starts counted forward from textStart. f returns false to stop. Returns the number of
// items visited.
template <typename F>
qint64 SplitItems(std::string_view text, std::string_view closeTag, qint64 textStart, F f)
{
    qint64 count = 0;
    SplitItemElements(text, closeTag, {}, [&](const ItemElements &item, size_t from) {
        ++count;
        return f(ItemPiece{item.item(), textStart + qint64(from), qint64(item.end() + item.closeLength())});
    });
    return count;
}

// A store's item as SplitItems gives it, starting at its own start tag (closeTag "</task>" gives
// "<task") where what stands before that tag is damage: bytes holding a NUL or no root start tag.
// An item behind its store's root start tag keeps it (its key and file name are made of its
// bytes).
ItemPiece OwnItemStart(const ItemPiece &piece, std::string_view closeTag);

// Where the next item's start tag stands inside piece, past its own: its close tag was lost, and
// the item that starts there is one of its own. npos when none does.
size_t NextItemStart(const ItemPiece &piece, std::string_view closeTag);

// SplitItems over a store's text, each item as OwnItemStart gives it. An item that lost its close
// tag ends where the next item's start tag stands: it is no item any reader could take (its
// store counts it lost by its start tag), and the next one is given apart.
template <typename F>
qint64 SplitStoreItems(std::string_view text, std::string_view closeTag, qint64 textStart, F f)
{
    return SplitItems(text, closeTag, textStart, [&](const ItemPiece &item) {
        ItemPiece rest = OwnItemStart(item, closeTag);
        for (size_t at = NextItemStart(rest, closeTag); at != std::string_view::npos;
             at = NextItemStart(rest, closeTag))
            rest = ItemPiece{rest.bytes.substr(at), rest.start + qint64(at), rest.length - qint64(at)};
        return f(rest);
    });
}

// The raw bytes of a found element (empty when not found).
std::string_view ElementBytes(std::string_view item, const ElementSpan &span);

// Where an element's start tag was lost with the item's head (zeroed or cut bytes: the item does
// not start with its own start tag, itemTag) but its close tag stands: the item's bytes before
// that close tag, which hold what is left of its children. Empty otherwise; a whole item costs
// no search.
std::string_view ElementWithLostStart(std::string_view item, std::string_view itemTag, std::string_view startTag);

// Raw value bytes decoded as UTF-8 up to the first NUL, then trimmed.
QString DecodeTrimmed(std::string_view raw);
// Whether DecodeTrimmed(raw) would be empty, without decoding long texts.
bool IsBlankValue(std::string_view raw);

// A zeroed heap copy of the bytes with a terminating NUL; the caller owns it (free()).
char *MakeCString(const QByteArray &bytes);

// Kept short text: the trimmed value, when it has 1..maxUnits UTF-16 units (maxUnits <= 0: any
// length), entities undone; null otherwise.
char *MakeShortText(std::string_view item, std::string_view startTag, int maxUnits);

char *MakeShortText(const ItemElements &item, std::string_view startTag, int maxUnits);

// Long text: the raw value's (length, absolute offset) when its trimmed text is not empty.
// Length is clamped to 32 bits. Returns false when nothing was recorded.
bool MakeLongText(std::string_view item, std::string_view startTag, qint64 itemStart, quint32 *length, qint64 *offset);
bool MakeLongText(const ItemElements &item, std::string_view startTag, qint64 itemStart, quint32 *length,
                  qint64 *offset);

// A name-based (version 5) UUID of an item's archive offset and its bytes (the parts in order),
// as 32 upper-case hex digits: the same item of the same archive gets the same one on every scan
// and machine, and two equal items at two places get two.
QByteArray ItemUuidHex(qint64 offset, std::initializer_list<std::string_view> parts);

// The record's key and the source of its file names: ItemUuidHex of the item's whole span (its
// bytes and close tag, as SplitItems gives them), 32 digits and a NUL into dst[33].
void MakeRecordUuid(char *dst, const ItemPiece &item);
