// Only regular files are opened as archives: a FIFO must not block the open, and a FIFO,
// device or directory is refused.

#include "platform/ArchiveSource.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

class OpenArchiveTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void kinds_data();
    void kinds();
};

void OpenArchiveTest::kinds_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<int>("expected");  // 1: a descriptor
    QTest::newRow("regular file") << "file" << 1;
    QTest::newRow("FIFO named like an archive") << "fifo" << kNotRegularFile;
    QTest::newRow("directory") << "dir" << kNotRegularFile;
    QTest::newRow("character device") << "device" << kNotRegularFile;
    QTest::newRow("missing") << "missing" << -1;
}

void OpenArchiveTest::kinds()
{
    QFETCH(QString, kind);
    QFETCH(int, expected);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QByteArray path = QFile::encodeName(dir.filePath(QStringLiteral("archive.olm")));
    if (kind == QLatin1String("file")) {
        QFile f(QFile::decodeName(path));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("PK\x03\x04-");
    } else if (kind == QLatin1String("fifo")) {
        QCOMPARE(::mkfifo(path.constData(), 0600), 0);
    } else if (kind == QLatin1String("dir")) {
        QVERIFY(QDir().mkdir(QFile::decodeName(path)));
    } else if (kind == QLatin1String("device")) {
        path = "/dev/null";
    }
    const int fd = OpenArchiveFile(path);
    if (fd >= 0) {
        char head[5];
        QCOMPARE(readAt(fd, 0, head, 5), qint64(5));
        ::close(fd);
    }
    QCOMPARE(fd >= 0 ? 1 : fd, expected);
}

QTEST_GUILESS_MAIN(OpenArchiveTest)
#include "tst_openarchive.moc"
