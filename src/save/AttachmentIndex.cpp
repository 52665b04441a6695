#include "save/AttachmentIndex.h"

#include "scanner/ScanGlobals.h"

#include <algorithm>

namespace {

const QByteArray kAttachmentsDir("com.microsoft.__Attachments/");

bool numbered(const QByteArray &name, int underscore)
{
    if (underscore < 0 || underscore + 1 >= name.size())
        return false;
    for (int i = underscore + 1; i < name.size(); ++i) {
        if (name[i] < '0' || name[i] > '9')
            return false;
    }
    return true;
}

}  // namespace

QByteArray EntryNameKey(const QByteArray &name)
{
    // Nearly every name is already in this form: it is returned shared, not built again.
    if (!name.startsWith('/') && !name.startsWith("./") && !name.contains("//") && !name.contains("/./"))
        return name;
    QByteArray key;
    key.reserve(name.size());
    for (const QByteArray &part : name.split('/')) {
        if (part.isEmpty() || part == ".")
            continue;
        key += (key.isEmpty() ? "" : "/") + part;
    }
    // A folder entry keeps its closing slash.
    return name.endsWith('/') && !key.isEmpty() ? key + '/' : key;
}

QByteArray AttachmentOwnerKey(const QByteArray &entryName)
{
    const QByteArray key = EntryNameKey(entryName);
    const int dir = key.lastIndexOf(kAttachmentsDir);
    const int underscore = key.lastIndexOf('_');
    if (dir < 0 || key.indexOf('/', dir + kAttachmentsDir.size()) >= 0 || underscore <= dir + kAttachmentsDir.size()
        || !numbered(key, underscore))
        return QByteArray();
    return key.left(underscore);
}

void AttachmentIndex::build(const FileOffsetNode *head)
{
    m_byName.clear();
    m_byOwner.clear();
    for (const FileOffsetNode *node = head; node; node = node->pNext) {
        if (!node->pEntryName || !*node->pEntryName)
            continue;
        const QByteArray name = EntryNameKey(QByteArray(node->pEntryName));
        // A copy cut at the next entry (stray bytes that hold an earlier copy of the entry) gives
        // way to one of its whole size.
        const FileOffsetNode *&kept = m_byName[name];
        if (kept && !(kept->bSizeCut && !node->bSizeCut))
            continue;
        const QByteArray owner = AttachmentOwnerKey(name);
        if (!owner.isEmpty()) {
            QVector<const FileOffsetNode *> &nodes = m_byOwner[owner];
            const int at = kept ? nodes.indexOf(kept) : -1;
            if (at >= 0)
                nodes[at] = node;
            else
                nodes.append(node);
        }
        kept = node;
    }
    // "_0000" before "_0001": the order the message listed them in. Names of one owner differ
    // only in their numbers, compared as text of one length.
    for (QVector<const FileOffsetNode *> &nodes : m_byOwner) {
        std::stable_sort(nodes.begin(), nodes.end(), [](const FileOffsetNode *a, const FileOffsetNode *b) {
            const QByteArray x = EntryNameKey(a->pEntryName), y = EntryNameKey(b->pEntryName);
            return x.size() != y.size() ? x.size() < y.size() : x < y;
        });
    }
}

const FileOffsetNode *AttachmentIndex::find(const QString &url) const
{
    if (url.isEmpty())
        return nullptr;
    return m_byName.value(EntryNameKey(url.toUtf8()), nullptr);
}

QVector<const FileOffsetNode *> AttachmentIndex::namedAfter(const QByteArray &messageEntry,
                                                            const QByteArray &messageId) const
{
    const QByteArray key = EntryNameKey(messageEntry);
    const int slash = key.lastIndexOf('/');
    if (slash < 0 || messageId.isEmpty() || messageId.contains('/'))
        return {};
    return m_byOwner.value(key.left(slash + 1) + kAttachmentsDir + messageId);
}
