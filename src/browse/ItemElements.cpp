#include "browse/ItemElements.h"

#include "save/MessageFields.h"
#include "scanner/ElementValue.h"
#include "scanner/XmlEntities.h"

#include <cstring>

QByteArray ReadItemXml(qint64 llItemOffset, qint64 dwItemLength)
{
    return ReadArchiveBytes(llItemOffset, dwItemLength);
}

bool ExtractElementValue(std::string_view part, const QByteArray &openTag, std::string_view *raw)
{
    const ElementSpan span = GetElementValue(part, std::string_view(openTag.constData(), size_t(openTag.size())));
    if (!span.found)
        return false;
    *raw = ElementBytes(part, span);
    return true;
}

QString DecodeElementText(std::string_view raw, bool trim)
{
    if (trim)
        return DecodeTrimmed(raw);
    const void *nul = memchr(raw.data(), 0, raw.size());
    const size_t len = nul ? size_t(static_cast<const char *>(nul) - raw.data()) : raw.size();
    return QString::fromUtf8(raw.data(), int(len));
}

void ExtractItemElements(std::string_view item, std::string_view closeTag, const ElementTagTable &table,
                         const ElementHandler &handler)
{
    SplitItems(item, closeTag, 0, [&](const ItemPiece &piece) {
        for (int row = 0; row < table.size(); ++row) {
            std::string_view raw;
            if (ExtractElementValue(piece.bytes, table.at(row), &raw))
                handler(row, raw);
        }
        return true;
    });
}

QString ReadLongText(qint64 length, qint64 offset)
{
    // The literal double decoding of the display texts: "&amp;gt;" becomes ">".
    return UnescapeXmlEntities(QString::fromUtf8(UpToFirstNul(ReadArchiveBytes(offset, length))), EntityForm::Four);
}
