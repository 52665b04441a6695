#pragma once
// Small helpers the five record builders share.

#include "scanner/ElementValue.h"
#include "scanner/ScanGlobals.h"

#include <string_view>

// The entry text the walk left in pBuff, NUL bytes included.
inline std::string_view currentText()
{
    if (!pBuff || pBuffLength <= 0)
        return {};
    return std::string_view(pBuff, size_t(pBuffLength));
}

// Lengths stay 32-bit: clamp, never wrap.
inline quint32 clamp32(qint64 v)
{
    return v <= 0 ? 0 : v >= 0xFFFFFFFFLL ? 0xFFFFFFFFu : quint32(v);
}

// The folder id the builder's records get: the path's folder, or the dummy "Folder1".
inline qint64 recordFolderId(const QString &path)
{
    return path.isEmpty() ? llFolder1Id : llParentIdRunning;
}

// "2" and "4" are kept, any other non-empty value is normal priority '3'; 0 when absent.
inline char priorityCode(const QString &value)
{
    if (value.isEmpty())
        return 0;
    if (value == QLatin1String("2"))
        return '2';
    if (value == QLatin1String("4"))
        return '4';
    return '3';
}

// Trimmed text of an element, empty when absent.
inline QString trimmedValue(std::string_view item, std::string_view startTag)
{
    std::string plain;
    return DecodeTrimmed(PlainElementText(ElementBytes(item, GetElementValue(item, startTag)), &plain));
}

inline QString trimmedValue(const ItemElements &item, std::string_view startTag)
{
    std::string plain;
    return DecodeTrimmed(PlainElementText(ElementBytes(item.item(), item.value(startTag)), &plain));
}
