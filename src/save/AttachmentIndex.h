#pragma once
// From an attachment's URL (its archive entry name) to the entry that holds its bytes. The
// preview tiles and every writer use this one rule: an empty URL never matches, and when
// several entries carry the same name the first in list order serves it. Names are compared as
// folder names are: a zip tool that packed the archive again may have written "./Local/..." or
// doubled a slash, and the messages still name "Local/...".

#include <QByteArray>
#include <QHash>
#include <QSet>
#include <QString>
#include <QVector>

#include <memory>

struct AttachmentInfo;
struct FileOffsetNode;

// The form two entry names that extract to one file share: without a leading "/" or "./", with
// no empty or "." level.
QByteArray EntryNameKey(const QByteArray &name);

class AttachmentIndex {
public:
    AttachmentIndex() = default;
    // Indexes the list from head along pNext (tmpAtFOStart for the scanned archive).
    explicit AttachmentIndex(const FileOffsetNode *head) { build(head); }
    void build(const FileOffsetNode *head);
    // The entry named url, or null.
    const FileOffsetNode *find(const QString &url) const;
    // The entry a message's attachment was tied to, else the one its URL names.
    const FileOffsetNode *find(const AttachmentInfo &attachment) const;
    // The entries the exporter named after a message: "<its folder>com.microsoft.__Attachments/
    // <its id>_NNNN", in their numbers' order. messageEntry: the message's entry name.
    QVector<const FileOffsetNode *> namedAfter(const QByteArray &messageEntry, const QByteArray &messageId) const;
    // Where no entry is named url: the one entry whose name differs from it in a single byte (a
    // bit flipped in its local header or in its record), of about the size a message lists
    // (listedSize, when it gives one), and not one of the names listed (as EntryNameKey gives
    // them: the message's other attachments, often one digit apart); else the one whose name is
    // url cut short (a byte turned NUL ends a name). Null when no entry, or more than one, is
    // that near.
    const FileOffsetNode *nearName(const QString &url, const QString &listedSize = QString(),
                                   const QSet<QByteArray> &listed = QSet<QByteArray>()) const;
    // Where no entry is named url: the one entry whose name lost its head with its header's
    // damage (it names none of the archive's folders) and ends with url's own part, the
    // message's id and number ("/<id>_NNNN", or that part alone). The list's size is no test:
    // the exporter's often differs from the entry's.
    const FileOffsetNode *nameTail(const QString &url, const QSet<QByteArray> &listed = QSet<QByteArray>()) const;
    // Where no entry is named url: the one attachment entry with url's own part (the message's id
    // and number) whose name differs from url's only in a few bytes of its folder's part (bits
    // flipped in the header's name, or a few bytes lost or put in). The list's size is no test:
    // the own part is the message's.
    const FileOffsetNode *folderDamaged(const QString &url, const QSet<QByteArray> &listed = QSet<QByteArray>()) const;
    // Where no entry is named url: the one entry whose name names no message's attachment (bits
    // flipped in a separator or the folder's name) and differs from url in a few bytes, its own
    // part included. Only its CRC-32 can tell it is the message's: the caller checks it.
    const FileOffsetNode *scatteredFlips(const QString &url, const QSet<QByteArray> &listed = QSet<QByteArray>()) const;
    int size() const { return int(m_byName.size()); }

private:
    struct NearNames;
    NearNames &nearNames() const;
    QHash<QByteArray, const FileOffsetNode *> m_byName;
    // By name less its "_NNNN": the message's folder and id.
    QHash<QByteArray, QVector<const FileOffsetNode *>> m_byOwner;
    // Entries whose names lost their heads, by their last part.
    QHash<QByteArray, QVector<const FileOffsetNode *>> m_byTail;
    // Made on the first nearName: only damaged names ask it. Shared by copies of the index.
    std::shared_ptr<NearNames> m_near;
};

// The folder and message id an attachment entry's name gives ("<folder>com.microsoft.
// __Attachments/<id>_NNNN"), as the key namedAfter looks up; empty when the name gives none.
QByteArray AttachmentOwnerKey(const QByteArray &entryName);
