// Where the text of one item runs into another's: bytes lost across entries join the start of one
// entry's text to the rest of a later one whose header went with them.

#include "scanner/ElementValue.h"
#include "scanner/WellFormed.h"

namespace {

const char *const kOnce[] = {"<OPFMessageCopyMessageID",    "<OPFMessageCopyFromAddresses", "<OPFMessageCopySubject",
                             "<OPFMessageCopySentTime",     "<OPFMessageCopyReceivedTime",  "<OPFMessageCopyBody"};

bool repeatsBehind(std::string_view text, size_t seam)
{
    const std::string_view before = text.substr(0, seam);
    for (std::string_view tag : kOnce) {
        if (FindStartTag(before, tag, 0) != std::string_view::npos
            && FindStartTag(text, tag, seam) != std::string_view::npos)
            return true;
    }
    return false;
}

}  // namespace

std::string_view KeepBeforeMessageSeam(std::string_view text, ItemFault *fault)
{
    if (fault->whole() || fault->at >= text.size() || !repeatsBehind(text, fault->at))
        return text;
    text = text.substr(0, fault->at);
    *fault = CheckItem(text, "<email");
    return text;
}
