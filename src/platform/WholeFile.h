#pragma once
// A file that takes its name only when whole. It is made in its folder without a name (or, where
// the file system cannot make such files, under a hidden part name), written through its
// descriptor, and then linked to a name that must not exist yet. A hard stop leaves no file, or
// only a hidden part file, never a name that holds part of the bytes.

#include <QByteArray>
#include <QString>

// Moves the file at from to to unless something stands at to: 0, EEXIST, or another error number.
// Atomic where the file system has a no-replace move, else a second link and the old name's removal.
int MoveWithoutReplacing(const QByteArray &from, const QByteArray &to);

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
    QByteArray m_partPath;  // the hidden name while the file has one; empty for an unnamed file
    bool m_published = false;
};
