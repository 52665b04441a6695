#pragma once
// Whether one item of a store is well-formed XML, as a conforming reader would find it, and
// where it stops being so: a broken item is read only as far as it is sound.

#include <QString>

#include <string>
#include <string_view>
#include <vector>

struct ItemFault {
    // Where the item stops being sound (a broken tag's '<', a bad reference's '&', the byte
    // that is no character); npos when the item is whole.
    size_t at = std::string_view::npos;
    const char *what = nullptr;                // what is wrong there, as the report says it
    std::string element;                       // the name of the item's child element it lies in, if any
    size_t closedAt = std::string_view::npos;  // past the item's close tag, when the check came to it
    // The sound pieces of a broken item, in order: text[from, to) and the close tags that end
    // what was open at `to`. Each broken child element of the item is cut at its fault, and the
    // check goes on after its close tag; an item whose own tags are broken ends there.
    struct Kept {
        size_t from;
        size_t to;
        std::string closes;
    };
    std::vector<Kept> kept;
    // How many of the item's child elements are whole.
    int wholeChildren = 0;
    bool whole() const { return at == std::string_view::npos; }
};

// Checks the element whose start tag is the first startTag ("<email") in text, from that start
// tag through its close tag (what stands before or after it is not the item's). Linear in the
// text, whatever it holds. Texts of 4 GiB or more are checked only as far as 4 GiB.
ItemFault CheckItem(std::string_view text, std::string_view startTag);

// A broken message of an entry whose bytes do not verify, in which an element a message holds once
// starts a second time or inside another element, ends at its first fault or there, whichever
// comes first: there the text of a later entry, whose header was lost with the bytes between,
// runs on. Returns
// the text up to that seam, checked again into *fault; text itself when there is none.
std::string_view KeepBeforeMessageSeam(std::string_view text, ItemFault *fault);

// The item's sound pieces joined, so that the element reader takes nothing from a broken
// element: text itself when the item is whole.
std::string SoundPart(std::string_view text, const ItemFault &fault);

// Where the sound part's bytes from at on stand in the item's text, when at lies inside one of
// its sound pieces (not in a close tag added to end one); npos otherwise. *length is cut to
// what of them stands in that piece: a value that ran into the fault keeps its text before it.
size_t SourceOffset(const ItemFault &fault, size_t at, size_t *length);

// What the report says of a broken item: what is wrong and where, and that its broken elements
// were not read, or that none of its elements is whole (nothing of it can be written).
QString NotWellFormedReason(const ItemFault &fault);
