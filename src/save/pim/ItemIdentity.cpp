#include "save/pim/ItemIdentity.h"

#include "save/MessageFields.h"
#include "save/pim/PimItems.h"
#include "scanner/ElementValue.h"

#include <QCryptographicHash>

namespace {

constexpr qint64 kChunk = 1 << 20;

void add(QCryptographicHash &hash, std::string_view bytes)
{
    for (size_t at = 0; at < bytes.size();) {
        const size_t n = qMin<size_t>(bytes.size() - at, size_t(kChunk));
        hash.addData(bytes.data() + at, int(n));
        at += n;
    }
}

// A name-based (version 5) UUID of what was hashed, as 32 upper-case hex digits.
QByteArray uuidHex(QCryptographicHash &hash)
{
    QByteArray id = hash.result().left(16);
    id[6] = char((id[6] & 0x0F) | 0x50);
    id[8] = char((id[8] & 0x3F) | 0x80);
    return id.toHex().toUpper();
}

void start(QCryptographicHash &hash, std::string_view itemTag, const char *what)
{
    add(hash, "olm-item-identity:");
    add(hash, itemTag);
    add(hash, what);
}

// Where the item's own start tag begins: what lies before it (the list's start tag, blanks
// between items) changes when other items do.
size_t contentStart(std::string_view bytes, std::string_view itemTag)
{
    const size_t start = FindStartTag(bytes, itemTag, 0);
    return start == std::string_view::npos ? 0 : start;
}

}  // namespace

ItemIdentity ItemIdentities::next(std::string_view element, std::string_view itemTag, std::string_view closeTag,
                                  const char *idTag)
{
    const QString ownId = idTag ? ItemElementText(element, closeTag, idTag) : QString();
    QCryptographicHash hash(QCryptographicHash::Sha1);
    start(hash, itemTag, ownId.isEmpty() ? "#content:" : "#id:");
    if (ownId.isEmpty())
        add(hash, element.substr(contentStart(element, itemTag)));
    else
        add(hash, ownId.toStdString());
    return counted(uuidHex(hash), ownId);
}

ItemIdentity ItemIdentities::nextStored(qint64 offset, qint64 length, std::string_view itemTag)
{
    QCryptographicHash hash(QCryptographicHash::Sha1);
    start(hash, itemTag, "#content:");
    for (qint64 at = 0; at < length; at += kChunk) {
        const QByteArray chunk = ReadArchiveBytes(offset + at, qMin(kChunk, length - at));
        std::string_view bytes(chunk.constData(), size_t(chunk.size()));
        // The start tag lies near the first chunk's start: a list's start tag before it is short.
        add(hash, at == 0 ? bytes.substr(contentStart(bytes, itemTag)) : bytes);
        if (chunk.size() < qMin(kChunk, length - at))
            break;
    }
    return counted(uuidHex(hash), QString());
}

ItemIdentity ItemIdentities::counted(const QByteArray &first, const QString &ownId)
{
    ItemIdentity id;
    id.ownId = ownId;
    id.occurrence = ++m_seen[first];
    if (id.occurrence == 1) {
        id.hex = first;
    } else {
        QCryptographicHash hash(QCryptographicHash::Sha1);
        hash.addData(first + '#' + QByteArray::number(id.occurrence));
        id.hex = uuidHex(hash);
    }
    return id;
}
