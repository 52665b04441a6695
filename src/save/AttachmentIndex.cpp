#include "save/AttachmentIndex.h"

#include "scanner/ScanGlobals.h"

void AttachmentIndex::build(const FileOffsetNode *head)
{
    m_byName.clear();
    for (const FileOffsetNode *node = head; node; node = node->pNext) {
        if (!node->pEntryName || !*node->pEntryName)
            continue;
        const QByteArray name(node->pEntryName);
        if (!m_byName.contains(name))
            m_byName.insert(name, node);
    }
}

const FileOffsetNode *AttachmentIndex::find(const QString &url) const
{
    if (url.isEmpty())
        return nullptr;
    return m_byName.value(url.toUtf8(), nullptr);
}
