#pragma once
// A file that takes its name only when whole. It is made in its folder without a name (or, where
// the file system cannot make such files, under a hidden part name), written through its
// descriptor, and then linked to a name that must not exist yet. A hard stop leaves no file, or
// only a hidden part file, never a name that holds part of the bytes.

#include <QByteArray>
#include <QRegularExpression>
#include <QString>
#include <QStringList>

#include <cerrno>

// Moves the file at from to to unless something stands at to: 0, EEXIST, or another error number.
// Atomic where the file system has a no-replace move, else a second link and the old name's removal.
int MoveWithoutReplacing(const QByteArray &from, const QByteArray &to);

// Moves the file at from to to in one step, replacing only the file (device, inode) that stands
// at to, so that to never goes missing: 0, EEXIST when another file stands there, or another
// error number. With nothing at to it is MoveWithoutReplacing.
int MoveReplacing(const QByteArray &from, const QByteArray &to, quint64 device, quint64 inode);

// A hidden part file is held by the save writing it through a lock on its descriptor; the lock
// goes with the last descriptor of it, also when the process is killed. LockPart takes it and
// checks that path still names fd (a sweep may have removed a part file not yet locked): 0 when
// both hold, EWOULDBLOCK when another holds it, ENOENT when path is gone or names another file,
// another error number where the file system takes no locks.
int LockPart(int fd, const QByteArray &path);
// Whether a part file just made is the caller's to write: locked or, where nothing can be
// locked, at least still under its name.
inline bool PartIsOwn(int lockResult)
{
    return lockResult != EWOULDBLOCK && lockResult != ENOENT;
}
// Removes the part files in folder named prefix...".part" (and matching only, when given) that no
// live save holds, and returns their names, each with its size in bytes.
QStringList RemoveUnheldParts(const QString &folder, const QString &prefix,
                              const QRegularExpression &only = QRegularExpression());
// The pattern of the part files WholeFile makes.
QRegularExpression WholeFilePartPattern();

class WholeFile {
public:
    WholeFile() = default;
    ~WholeFile();
    WholeFile(const WholeFile &) = delete;
    WholeFile &operator=(const WholeFile &) = delete;

    // Opens a new file for writing in folder. Returns the descriptor (owned here), or minus the error.
    int open(const QString &folder);
    int fd() const { return m_fd; }
    // Gives the file path as its name, never replacing what stands there: 0, EEXIST when the name
    // is taken (try the next one), or another error number. Write and flush everything first.
    int publish(const QString &path);
    // Closes the descriptor; a file that took no name goes with it (its part file is removed).
    // The bytes were written through a descriptor of the caller's, closed and checked before.
    void close();

    // Tests turn the unnamed files off to run the part-name path on any file system.
    static void setUnnamedFilesAllowed(bool allowed);

private:
    int m_fd = -1;
    QByteArray m_partPath;  // the hidden name while the file has one (locked); empty for an unnamed file
    bool m_published = false;
};
