#pragma once
// Byte-level pieces the element reader's files share; not for use outside src/scanner/.

#include "scanner/ElementValue.h"

#include <cstring>
#include <string_view>

namespace element_syntax {

inline bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

inline bool endsStartTagName(char c)
{
    return c == ' ' || c == '>' || c == '/' || c == '\t' || c == '\r' || c == '\n';
}

inline bool isStartTag(std::string_view startTag)
{
    return startTag.size() >= 2 && startTag.size() <= 200 && startTag[0] == '<';
}

// Whether the text at `at` is the close tag of startTag ("<Name"): "</Name", blanks, '>'.
inline bool closesAt(const char *at, size_t room, std::string_view startTag)
{
    const size_t n = startTag.size() - 1;
    if (room < n + 3 || at[1] != '/' || memcmp(at + 2, startTag.data() + 1, n) != 0)
        return false;
    size_t i = n + 2;
    while (i < room && isBlank(at[i]))
        ++i;
    return i < room && at[i] == '>';
}

// As FindTag, with comments, CDATA sections and processing instructions stepped over whole.
// unclosedHides: a comment, CDATA section or instruction that never closes hides all after it,
// as an XML reader reads it; else its opening is taken for damaged bytes.
size_t findMarkupTag(std::string_view text, std::string_view tag, size_t from, bool unclosedHides = true);

// The value of the element whose start tag begins at s. closeSeen: closeAt is the first close
// tag after s in item (npos: there is none), so the close tag is only searched for again when it
// lies inside the start tag itself.
ElementSpan spanAt(std::string_view item, std::string_view startTag, size_t s, size_t closeAt = std::string_view::npos,
                   bool closeSeen = false);

}  // namespace element_syntax
