#pragma once
// The edition the program was built as. Fixed at build time, never written at run time.

#include <QString>

#if defined(OLM_EDITION_CONVERTER)
constexpr bool bforQConverterFO = true;
constexpr bool bforQRepairFO = false;
#else
constexpr bool bforQConverterFO = false;
constexpr bool bforQRepairFO = true;
#endif
#if defined(OLM_STORE_VARIANT)
constexpr bool bForappstore = true;
#else
constexpr bool bForappstore = false;
#endif

// "Corvask" (repair edition) or "Tillomar" (converter edition).
inline QString EditionName()
{
    return bforQRepairFO ? QStringLiteral("Corvask") : QStringLiteral("Tillomar");
}
