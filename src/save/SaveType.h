#pragma once
// Save types and the one mapping from the Save As list position to a type. The save start, the
// output folders and the saving thread all use this mapping, so they never disagree.

#include "platform/Edition.h"

enum SaveType {
    SaveTypeInvalid = -1,  // no entry chosen, or a position the list never has
    SaveTypeOLM = 0,
    SaveTypeRGE = 1,
    SaveTypeMBOX = 2,
    SaveTypeEMLX = 3,
    SaveTypeEML = 4,
    SaveTypeHTML = 5,
};

// Repair edition: the type is the index (0 to 5). Converter edition: the index plus 2 (0 to 3),
// so it never yields an .rge package or an OLM file. Anything else is SaveTypeInvalid.
inline SaveType SaveTypeForIndex(int index, bool converter = bforQConverterFO)
{
    if (converter)
        return index >= 0 && index <= 3 ? SaveType(index + 2) : SaveTypeInvalid;
    return index >= 0 && index <= 5 ? SaveType(index) : SaveTypeInvalid;
}
