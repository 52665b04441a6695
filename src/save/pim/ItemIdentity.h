#pragma once
// The names and UIDs of contact, calendar, task and note files, made from what identifies the
// item itself: its own id where the archive holds one, else its content. A later export of the
// same mailbox, with other items added, changed or moved, gives an unchanged item the same ones.

#include <QByteArray>
#include <QHash>
#include <QString>

#include <string_view>

struct ItemIdentity {
    QByteArray hex;      // 32 hex digits of a name-based UUID
    QString ownId;       // the item's own id, when its element holds one
    int occurrence = 1;  // 1 for the first item of the save with this source, 2 for the next, ...
};

// One save's items: equal items held twice get two identities.
class ItemIdentities {
public:
    // element: the item's bytes as read from the archive, up to its close tag; itemTag its start
    // tag ("<appointment"); idTag the element of its own id, or null when the kind has none.
    ItemIdentity next(std::string_view element, std::string_view itemTag, std::string_view closeTag,
                      const char *idTag = nullptr);
    // The same from the archive's bytes at offset, read in chunks: an item whose text may be large
    // (a note) and is not read whole.
    ItemIdentity nextStored(qint64 offset, qint64 length, std::string_view itemTag);

private:
    ItemIdentity counted(const QByteArray &first, const QString &ownId);
    QHash<QByteArray, int> m_seen;
};
