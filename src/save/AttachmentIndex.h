#pragma once
// From an attachment's URL (its archive entry name) to the entry that holds its bytes. The
// preview tiles and every writer use this one rule: an empty URL never matches, and when
// several entries carry the same name the first in list order serves it.

#include <QByteArray>
#include <QHash>
#include <QString>

struct FileOffsetNode;

class AttachmentIndex {
public:
    AttachmentIndex() = default;
    // Indexes the list from head along pNext (tmpAtFOStart for the scanned archive).
    explicit AttachmentIndex(const FileOffsetNode *head) { build(head); }
    void build(const FileOffsetNode *head);
    // The entry named url, or null.
    const FileOffsetNode *find(const QString &url) const;
    int size() const { return int(m_byName.size()); }

private:
    QHash<QByteArray, const FileOffsetNode *> m_byName;
};
