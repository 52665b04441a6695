// The report's lines about records the walk did not use as they describe their entries.

#include "scanner/ArchiveWalk.h"

#include "scanner/CentralDirectory.h"
#include "scanner/ScanGlobals.h"

#include <functional>
#include <string_view>

namespace olm {

void ArchiveWalker::noteUnusedRecords()
{
    if (!m_central->found())
        return;
    for (const CentralEntry &e : m_central->entries()) {
        if (e.used || e.name.isEmpty() || (e.name.endsWith('/') && e.csize == 0))
            continue;
        QByteArray name = e.name;
        const int nul = name.indexOf('\0');
        if (nul >= 0)
            name.truncate(nul);
        const auto found = m_localOnly.constFind(name);
        if (found != m_localOnly.constEnd()) {
            EntriesReadElsewhere << QStringLiteral(
                                        "Entry \"%1\": the central directory places its header at archive offset "
                                        "%2, where none of that name stands; read from its local header at %3")
                                        .arg(QString::fromUtf8(name))
                                        .arg(e.headerOffset)
                                        .arg(found.value());
        } else {
            EntriesNotRead << QStringLiteral(
                                  "Entry \"%1\" at archive offset %2 (central directory): no local header of that "
                                  "name was found, and the bytes there do not verify as its data")
                                  .arg(QString::fromUtf8(name))
                                  .arg(e.headerOffset);
        }
    }
}

void ArchiveWalker::noteRepeatedName(const LocalHeader &h)
{
    const quint64 key = std::hash<std::string_view>()(std::string_view(h.name.constData(), size_t(h.name.size())));
    const auto it = m_itemNames.constFind(key);
    if (it == m_itemNames.constEnd()) {
        m_itemNames.insert(key, {h.pos, h.usize, h.crc});
        return;
    }
    if (it->size == h.usize && it->crc == h.crc)
        return;
    EntriesReadElsewhere << QStringLiteral(
                                "Entry \"%1\" at archive offset %2 and again at %3: two entries of one name with "
                                "different contents; both read")
                                .arg(QString::fromUtf8(h.name))
                                .arg(it->pos)
                                .arg(h.pos);
}

}  // namespace olm
