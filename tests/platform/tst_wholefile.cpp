// A file that takes its name only when whole: whatever already stands at the name (a file, a
// folder, a link, also one pointing elsewhere) is never replaced nor written through, and a file
// that took no name leaves nothing behind.

#include "platform/WholeFile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <unistd.h>

namespace {

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

bool writeAll(int fd, const QByteArray &bytes)
{
    return ::write(fd, bytes.constData(), size_t(bytes.size())) == bytes.size();
}

}  // namespace

class WholeFileTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void cleanup() { WholeFile::setUnnamedFilesAllowed(true); }
    void nameNeverReplaced_data();
    void nameNeverReplaced();
};

void WholeFileTest::nameNeverReplaced_data()
{
    QTest::addColumn<bool>("unnamed");  // made without a name; else under a hidden part name
    QTest::addColumn<QString>("standing");
    for (bool unnamed : {true, false}) {
        const char *how = unnamed ? "unnamed" : "part name";
        for (const char *standing : {"nothing", "file", "folder", "dangling link", "link to a file"})
            QTest::addRow("%s, %s at the name", how, standing) << unnamed << QString::fromLatin1(standing);
        QTest::addRow("%s, never published", how) << unnamed << QStringLiteral("not published");
    }
}

void WholeFileTest::nameNeverReplaced()
{
    QFETCH(bool, unnamed);
    QFETCH(QString, standing);
    WholeFile::setUnnamedFilesAllowed(unnamed);
    QTemporaryDir dir;
    QTemporaryDir elsewhere;
    const QString name = dir.filePath(QStringLiteral("1.eml"));
    const QString target = elsewhere.filePath(QStringLiteral("target"));
    if (standing == QLatin1String("file") || standing == QLatin1String("link to a file")) {
        QFile f(standing == QLatin1String("file") ? name : target);
        QVERIFY(f.open(QIODevice::WriteOnly) && f.write("before") == 6);
    }
    if (standing == QLatin1String("folder"))
        QVERIFY(QDir().mkdir(name));
    if (standing.contains(QLatin1String("link")))
        QVERIFY(QFile::link(target, name));
    const QStringList before = QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    {
        WholeFile file;
        const int fd = file.open(dir.path());
        QVERIFY2(fd >= 0, qPrintable(qt_error_string(-fd)));
        QVERIFY(writeAll(fd, "whole message"));
        if (standing != QLatin1String("not published")) {
            const int error = file.publish(name);
            QCOMPARE(error, standing == QLatin1String("nothing") ? 0 : EEXIST);
        }
    }
    const QStringList after = QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    if (standing == QLatin1String("nothing")) {
        QCOMPARE(after, QStringList{QStringLiteral("1.eml")});
        QCOMPARE(readAll(name), QByteArray("whole message"));
        return;
    }
    QCOMPARE(after, before);
    if (standing == QLatin1String("file"))
        QCOMPARE(readAll(name), QByteArray("before"));
    if (standing == QLatin1String("link to a file"))
        QCOMPARE(readAll(target), QByteArray("before"));
    if (standing == QLatin1String("dangling link"))
        QVERIFY(!QFile::exists(target));
}

QTEST_GUILESS_MAIN(WholeFileTest)
#include "tst_wholefile.moc"
