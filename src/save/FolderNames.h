#pragma once
// Folder names of a save's output, from the folder names an archive gives. Each archive folder
// gets a folder of its own: a name made safe, cut, or equal to a sibling's in another Unicode
// form (which extracts as the same folder) gets a free name ("name_2"), and a folder nested
// deeper than the path limit allows stands in the deepest folder that has room. Nothing is
// rebuilt per level: the cost of a path is in proportion to its length.

#include "save/SafeNames.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

#include <functional>
#include <vector>

// The folder path below the mail folder that a message's entry name gives, made of safe
// components; "Folder1" when the name gives none. Each part as SafeFolderPart makes it: two
// folders may meet here; MailOutputFolders keeps them apart.
QString MailFolderRelativePath(const QString &entryName);

// The output folders of a tree of archive folders.
class FolderPathMap {
public:
    // partBytes: the longest folder name; pathBytes: the longest folder path.
    FolderPathMap(int partBytes, int pathBytes);
    static constexpr int kRoot = 0;
    // The folder rawPart (as the archive gives it) in parent, named when first asked for.
    int child(int parent, const QByteArray &rawPart);
    // The folder of raw parts [0, count) of parts, from the top.
    int folder(const QList<QByteArray> &parts, int count);
    // Its output path, '/'-joined; empty for the root.
    const QByteArray &path(int node) const { return m_nodes[size_t(node)].out; }
    // Its path as the archive gives it.
    QByteArray rawPath(int node) const;
    // Why its output path differs from the archive's; empty when it does not.
    const QString &why(int node) const { return m_nodes[size_t(node)].why; }
    // The output name a folder gives up to another use (a file of that name in it).
    bool taken(int node, const QByteArray &name) const;
    // Names the writer gives its own files in a folder (folderName: that folder's own output
    // name): a subfolder meeting one is numbered as a clash is, so nothing merges with a file.
    using ReservedNames = std::function<bool(const QByteArray &folderName, const QByteArray &name)>;
    void setReservedNames(ReservedNames reserved) { m_reserved = std::move(reserved); }
    // The output paths become text (QString): names keep only whole UTF-8 characters.
    void setNamesAsText() { m_asText = true; }

private:
    struct Node {
        int parent = -1;
        int holder = 0;  // the folder its too-deep subfolders stand in: itself when it has room
        QByteArray raw;
        QByteArray out;
        QString why;
        QHash<QByteArray, int> children;  // by raw name
        QSet<QString> names;              // the names of the folders in it, each in one form
        QHash<QString, int> nextNumber;   // by a name: the number its next clash starts from
    };
    bool reserved(int holder, const QByteArray &name) const;
    int m_partBytes;
    int m_pathBytes;
    std::vector<Node> m_nodes;
    ReservedNames m_reserved;
    bool m_asText = false;
};

// The output folders of one save's mail, below its mail folder, on the writing thread.
class MailOutputFolders {
public:
    // rootBytes: the length of the path the folders stand under, so no path outgrows the
    // file system's limit; reserved: the names the writer gives its own files in a folder.
    void setRootBytes(int rootBytes, FolderPathMap::ReservedNames reserved = {});
    bool ready() const { return m_ready; }
    // The folder path for a message's entry name, every byte of it as the archive holds it (a
    // NUL too). A folder named otherwise than the archive names it adds one line to *lines,
    // the first time.
    QString relativePath(const QByteArray &rawEntryName, QStringList *lines);

private:
    FolderPathMap m_map{250, 3000};
    QSet<int> m_named;
    QByteArray m_lastDirectory;
    QString m_lastPath;
    bool m_hasLast = false;
    bool m_ready = false;
};
