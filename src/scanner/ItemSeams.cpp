// Where the text of one item runs into another's: bytes lost across entries join the start of one
// entry's text to the rest of a later one whose header went with them.

#include "scanner/ElementValue.h"
#include "scanner/WellFormed.h"

#include <QtGlobal>

namespace {

const char *const kOnce[] = {"<OPFMessageCopyMessageID", "<OPFMessageCopyFromAddresses", "<OPFMessageCopySubject",
                             "<OPFMessageCopySentTime",  "<OPFMessageCopyReceivedTime",  "<OPFMessageCopyBody"};

// Where an element a message holds once starts a second time, the earliest of them; npos when
// none does. Escaped text holds no '<': only a tag matches.
size_t secondStart(std::string_view text)
{
    size_t at = std::string_view::npos;
    for (std::string_view tag : kOnce) {
        const size_t first = FindStartTag(text, tag, 0);
        const size_t second = first == std::string_view::npos ? first : FindStartTag(text, tag, first + 1);
        at = qMin(at, second);
    }
    return at;
}

bool isOnceTag(std::string_view text, size_t lt)
{
    for (std::string_view tag : kOnce) {
        if (FindStartTag(text, tag, lt) == lt)
            return true;
    }
    return false;
}

// Where an element a message holds once starts inside another of the message's elements: the
// message holds them only as its own children. npos when none does.
size_t nestedStart(std::string_view text)
{
    const size_t email = FindStartTag(text, "<email", 0);
    int depth = 0;
    for (size_t lt = email; lt != std::string_view::npos && lt + 1 < text.size(); lt = text.find('<', lt + 1)) {
        const char next = text[lt + 1];
        if (next == '/') {
            --depth;
            continue;
        }
        if (next == '!' || next == '?')
            continue;
        if (depth > 1 && isOnceTag(text, lt))
            return lt;
        const size_t gt = StartTagEnd(text, lt);
        if (gt == std::string_view::npos)
            return std::string_view::npos;
        depth += text[gt - 1] == '/' ? 0 : 1;
    }
    return std::string_view::npos;
}

}  // namespace

std::string_view KeepBeforeMessageSeam(std::string_view text, ItemFault *fault)
{
    if (fault->whole())
        return text;
    const size_t seam = qMin(secondStart(text), nestedStart(text));
    if (seam == std::string_view::npos)
        return text;
    text = text.substr(0, qMin(seam, fault->at));
    *fault = CheckItem(text, "<email");
    return text;
}
