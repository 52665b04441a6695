#pragma once
// The file names of a new archive: each unique, none the name of one of its folders, none that
// leads outside the folder it is extracted into. Every name the archive will hold is known
// before the first entry is written, so a renamed entry never takes a name a later one keeps.

#include "save/FolderNames.h"

#include <QByteArray>
#include <QSet>
#include <QString>
#include <QVector>

class OlmEntryNames {
public:
    // A name the archive will hold (a folder's ends in '/'); its folders come with it.
    void reserve(const QByteArray &name);
    // The name the file entry name gets. When that differs from name, why says what was wrong
    // with it and what it became; else why is cleared.
    // A held name goes only to the entry that claims it (keepsHeld), never to another.
    QByteArray fileName(const QByteArray &name, QString *why, bool keepsHeld = false);
    // name goes only to the file entry that claims it: one of several copies of a store file.
    void hold(const QByteArray &name) { m_held.insert(name); }
    // Whether a file entry already stands under name.
    bool written(const QByteArray &name) const { return m_written.contains(name); }
    // Whether name is free for a file of the writer's own (a recovered item).
    bool free(const QByteArray &name) const;
    // name as it stands in the new archive: its folders each kept apart from every other
    // (made safe, or named apart from a sibling that would extract as the same folder, with a
    // free name), too deep ones in the deepest folder with room, its own name made safe. A
    // leading "/" or "./" is left out. *why (when given) says why it differs; else it is cleared.
    QByteArray safeName(const QByteArray &name, QString *why = nullptr);
    // A message's name made safe as safeName makes it, once every name is reserved; its entry
    // is then begun under it as it is.
    QByteArray messageName(const QByteArray &name, QString *why);

private:
    void addFolders(const QByteArray &name);
    QByteArray numbered(const QByteArray &stem) const;
    // The unsafe names reserved so far get their folders, after every safe name kept its own.
    void settle();

    QSet<QByteArray> m_reserved;  // file names as the source holds them, made safe
    QSet<QByteArray> m_folders;   // every folder, without its '/'
    QSet<QByteArray> m_written;
    QSet<QByteArray> m_held;
    // Folders: an entry's name, its attachments folder and a file of at most 255 bytes fit in
    // the longest name.
    FolderPathMap m_folderMap{255, 1024 - 1 - 28 - 255};
    QVector<QByteArray> m_unsafe;
    QSet<QByteArray> m_messageNames;
};

// What is wrong with name as a file name in an archive, in words; empty when nothing is.
QString OlmUnsafeNameReason(const QByteArray &name);
// name for a report line: control characters (a NUL, a line feed, an escape) as \xHH.
QString OlmNameForLine(const QByteArray &name);
