// The entries of the new archive that no walk took: attachments no saved message names and the
// compressed entries the scan could not read, each copied as it is or named in the report.

#include "save/olm/OlmArchiveWriter.h"

#include "scanner/ScanGlobals.h"

namespace {

const QByteArray kAttachmentsDir("com.microsoft.__Attachments/");

}  // namespace

bool OlmArchiveWriter::unnamedAttachmentWanted(const QByteArray &name) const
{
    const int attachments = name.indexOf(kAttachmentsDir);
    // As for compressed entries, a kind the scan found nothing of keeps its files.
    if (name.startsWith("Local/Calendar/") || (name.startsWith("Accounts/") && name.contains("/Calendar/")))
        return m_selection.cal || !(TmpCLRCPtrStart || tmpCaFOStart);
    if (name.startsWith("Local/Address Book/"))
        return m_selection.cont || !(TmpCTRCPtrStart || tmpCoFOStart);
    // A folder the user left unchecked keeps its attachments out, as it keeps its messages.
    return m_selection.mail && (attachments < 0 || !m_uncheckedDirs.contains(name.left(attachments)));
}

void OlmArchiveWriter::writeUnnamedAttachments()
{
    for (FileOffsetNode *node = tmpAtFOStart; node && !stopNow(); node = node->pNext) {
        const QByteArray name = node->pEntryName ? QByteArray(node->pEntryName) : QByteArray();
        if (!node->bLocalPending || node->bCompressed || name.endsWith('/') || !unnamedAttachmentWanted(name))
            continue;
        node->bLocalPending = node->bCentralPending = 0;
        beginItem(name.isEmpty()
                      ? QStringLiteral("Attachment at archive offset %1, which no saved message names")
                            .arg(node->llDataOffset)
                      : QStringLiteral("Attachment \"%1\", which no saved message names").arg(QString::fromUtf8(name)));
        // Only whole entries: one cut short by the archive's end, or whose bytes changed, is
        // no file any more.
        const QString damage = unnamedAttachmentDamage(node);
        if (damage.isEmpty())
            writeAttachment(node);
        else
            m_book.leftOut(m_item, damage);
        // One the save counts (written under a name of its own, or incomplete) is a step the
        // bar did not know of: it learns of it with its tick.
        if (m_book.countsAsWritten(m_item)) {
            if (m_hooks.addSteps)
                m_hooks.addSteps(1);
            if (m_hooks.reportItem)
                m_hooks.reportItem();
        }
        m_item = -1;
    }
}

QString OlmArchiveWriter::unnamedAttachmentDamage(const FileOffsetNode *node) const
{
    if (!node->pEntryName || !*node->pEntryName)
        return QStringLiteral("its name in the archive is lost");
    if (node->bSizeCut || node->llDataOffset <= 0 || node->llSize < 0
        || node->llSize > m_sourceSize - node->llDataOffset)
        return QStringLiteral("cut short in the archive");
    // Read with its line ends converted back, the scan found its bytes whole.
    if (node->dwCrc32 != 0 && !node->bLineEndsBack && sourceCrc(node->llDataOffset, node->llSize) != node->dwCrc32)
        return QStringLiteral("its bytes in the archive are damaged (CRC-32 mismatch)");
    return QString();
}

void OlmArchiveWriter::writeCompressedEntry(FileOffsetNode *node, const QString &label)
{
    node->bLocalPending = node->bCentralPending = 0;
    // Only data whose extent and method are known can keep its method and checksum.
    const bool known = OlmKnownMethod(node->wMethod);
    if (!known || node->bSizeCut || node->llDataOffset <= 0 || node->llStoredSize < 0 || node->llSize < 0
        || node->llStoredSize > m_sourceSize - node->llDataOffset) {
        m_fileLabel = label;
        noteFileProblem(
            known
                ? QStringLiteral("compressed, and its size in the archive is damaged: not copied")
                : QStringLiteral("compressed by a method no reader knows (%1), damaged: not copied").arg(node->wMethod),
            false);
        m_fileLabel.clear();
        return;
    }
    m_fileLabel = label;
    m_fileSource = node->llDataOffset;
    const OlmEntryForm form{node->wMethod, quint64(node->llSize), quint64(node->llStoredSize)};
    claimStoreName(QByteArray(node->pEntryName ? node->pEntryName : ""), node->llDataOffset);
    if (beginFile(QByteArray(node->pEntryName ? node->pEntryName : ""), node->dwCrc32, form)) {
        copySource(node->llDataOffset, node->llStoredSize, false);
        endFile(false);
    }
    m_fileLabel.clear();
}

bool OlmArchiveWriter::compressedEntryNamed(const QByteArray &name)
{
    for (const FileOffsetNode *node = tmpAtFOStart; node; node = node->pNext) {
        if (node->bCompressed && node->pEntryName && name == node->pEntryName)
            return true;
    }
    return false;
}

bool OlmArchiveWriter::compressedEntryWanted(const QByteArray &name) const
{
    // A kind the scan found nothing of could not be checked: its compressed entries go along.
    const bool calendar =
        name.startsWith("Local/Calendar/") || (name.startsWith("Accounts/") && name.contains("/Calendar/"));
    if (calendar)
        return m_selection.cal || !(TmpCLRCPtrStart || tmpCaFOStart);
    if (name.startsWith("Local/Address Book/"))
        return m_selection.cont || !(TmpCTRCPtrStart || tmpCoFOStart);
    if (name.startsWith("Local/Tasks/"))
        return m_selection.task || !(TmpTSRCPtrStart || tmpTaFOStart);
    if (name.startsWith("Local/Notes/"))
        return m_selection.note || !(TmpNTRCPtrStart || tmpNoFOStart);
    if (name == "Categories.xml")
        return true;
    if (!m_selection.mail && TmpMlrcPtrStart)
        return false;
    const int attachments = name.indexOf(kAttachmentsDir);
    const QByteArray dir = attachments >= 0 ? name.left(attachments) : name.left(name.lastIndexOf('/') + 1);
    return !m_uncheckedDirs.contains(dir);
}

void OlmArchiveWriter::writeCompressedEntries()
{
    for (FileOffsetNode *node = tmpAtFOStart; node && !stopNow(); node = node->pNext) {
        const QByteArray name = node->pEntryName ? QByteArray(node->pEntryName) : QByteArray();
        if (!node->bCompressed || !node->bLocalPending || (name.endsWith('/') && node->llSize == 0)
            || !compressedEntryWanted(name))
            continue;
        beginItem(QStringLiteral("Entry \"%1\"").arg(QString::fromUtf8(name)));
        writeCompressedEntry(node, QString());
        m_item = -1;
    }
}
