#pragma once
// Points the archive globals (fileDescriptor, lSize) at a temporary file holding the given bytes,
// so code that reads through readAt can be tested; puts the old values back when it ends.

#include "platform/WorkerGlobals.h"

#include <QByteArray>
#include <QFile>
#include <QTemporaryDir>

#include <fcntl.h>
#include <unistd.h>

class ArchiveFile {
public:
    explicit ArchiveFile(const QByteArray &bytes) : m_oldFd(fileDescriptor), m_oldSize(lSize)
    {
        m_path = m_dir.filePath(QStringLiteral("archive.olm"));
        const QString &path = m_path;
        QFile f(path);
        if (f.open(QIODevice::WriteOnly))
            f.write(bytes);
        f.close();
        m_fd = ::open(QFile::encodeName(path).constData(), O_RDONLY);
        fileDescriptor = m_fd;
        lSize = bytes.size();
    }
    ~ArchiveFile()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        fileDescriptor = m_oldFd;
        lSize = m_oldSize;
    }
    ArchiveFile(const ArchiveFile &) = delete;
    ArchiveFile &operator=(const ArchiveFile &) = delete;
    bool isOpen() const { return m_fd >= 0; }
    // The file behind the descriptor, for tests that change it after the scan.
    QString path() const { return m_path; }

private:
    QTemporaryDir m_dir;
    QString m_path;
    int m_fd = -1;
    int m_oldFd;
    qint64 m_oldSize;
};
