#pragma once
// Small helpers the five record builders share.

#include "scanner/ElementValue.h"
#include "scanner/ScanGlobals.h"
#include "scanner/WellFormed.h"
#include "scanner/XmlEntities.h"

#include <string>
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

// "2" and "4" are kept, any other non-empty value is normal priority '3'; 0 when absent. The
// value is read as XML reads it: "&#50;" is "2".
inline char priorityCode(const QString &raw)
{
    const QString value =
        raw.contains(QLatin1Char('&')) ? UnescapeXmlEntities(raw, EntityForm::Scanned).trimmed() : raw;
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

// An item's elements as a conforming reader may take them: of the item itself when it is
// well-formed, else of its sound part only, so nothing is taken from a broken element. The
// save checks the item again and names what is wrong.
class SoundElements {
public:
    SoundElements(const ItemPiece &item, std::string_view startTag, std::initializer_list<std::string_view> tags)
        : m_fault(CheckItem(std::string_view(item.bytes.data(), size_t(item.length)), startTag)),
          m_sound(m_fault.whole() ? std::string()
                                  : SoundPart(std::string_view(item.bytes.data(), size_t(item.length)), m_fault)),
          m_elements(m_fault.whole() ? item.bytes : std::string_view(m_sound), tags)
    {
    }
    SoundElements(const SoundElements &) = delete;
    SoundElements &operator=(const SoundElements &) = delete;

    const ItemElements &elements() const { return m_elements; }

    // MakeLongText of the sound part: recorded only where the value stands whole in the archive.
    bool longText(std::string_view startTag, qint64 itemStart, quint32 *length, qint64 *offset) const
    {
        if (m_fault.whole())
            return MakeLongText(m_elements, startTag, itemStart, length, offset);
        qint64 at = 0;
        quint32 found = 0;
        if (!MakeLongText(m_elements, startTag, 0, &found, &at))
            return false;
        size_t kept = found;
        const size_t from = SourceOffset(m_fault, size_t(at), &kept);
        if (from == std::string_view::npos || IsBlankValue(m_elements.item().substr(size_t(at), kept)))
            return false;
        *length = quint32(kept);
        *offset = itemStart + qint64(from);
        return true;
    }

private:
    const ItemFault m_fault;
    const std::string m_sound;
    const ItemElements m_elements;
};
