// The desktop's opener and the attachment previewer started so that their end is known: a
// program that ends with an error status is reported once, one that opens, is ended by a signal
// or outlives its asker is not, and one that cannot start is known at once.

#include "platform/DesktopOpener.h"
#include "platform/PreviewerLauncher.h"

#include <QTemporaryDir>
#include <QtTest>

#include <memory>

class OpenersTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void cleanup();
    void openerEnd_data();
    void openerEnd();
    void previewerEnd_data();
    void previewerEnd();

private:
    // A stand-in program that writes its arguments, one a line, and then its process id to its
    // log, and ends as `ending` says: an exit status, or "TERM" for its own signal.
    QString standIn(const QString &ending);
    QStringList logged() const;
    // Waits until the stand-in has ended and we have reaped it: its end has been seen then.
    void waitForItsEnd() const;
    QTemporaryDir m_dir;
};

QString OpenersTest::standIn(const QString &ending)
{
    const QString script = m_dir.filePath(QStringLiteral("opener-%1").arg(ending));
    const QString end = ending == QLatin1String("TERM") ? QStringLiteral("kill -TERM $$") : QStringLiteral("exit ") + ending;
    QFile file(script);
    if (!file.open(QIODevice::WriteOnly))
        return QString();
    file.write(QStringLiteral("#!/bin/sh\nfor a in \"$@\"; do echo \"$a\" >> '%1'; done\necho \"pid $$\" >> '%1'\n%2\n")
                   .arg(m_dir.filePath(QStringLiteral("log")), end)
                   .toUtf8());
    file.close();
    file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return script;
}

QStringList OpenersTest::logged() const
{
    QFile file(m_dir.filePath(QStringLiteral("log")));
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts)
                                          : QStringList();
}

void OpenersTest::waitForItsEnd() const
{
    QTRY_VERIFY_WITH_TIMEOUT(logged().size() == 2, 10000);
    const QString proc = QStringLiteral("/proc/") + logged().last().section(QLatin1Char(' '), 1);
    // A process that has ended stays in /proc until it is reaped, which our event loop does.
    QTRY_VERIFY_WITH_TIMEOUT(!QFileInfo::exists(proc), 10000);
}

void OpenersTest::initTestCase()
{
    if (!QFileInfo(QStringLiteral("/bin/sh")).isExecutable())
        QSKIP("needs /bin/sh for the stand-in programs");
}

void OpenersTest::cleanup()
{
    DesktopOpener::program.clear();
    QFile::remove(m_dir.filePath(QStringLiteral("log")));
}

void OpenersTest::openerEnd_data()
{
    QTest::addColumn<QString>("ending");  // the stand-in's end; empty: no such program
    QTest::addColumn<QString>("url");
    QTest::addColumn<QString>("argument");  // what the opener is given; empty: never started
    QTest::addColumn<bool>("started");
    QTest::addColumn<int>("reported");
    const QString file = QStringLiteral("/tmp/a file with blanks.pdf");
    const QString web = QStringLiteral("https://help.corvask.invalid/repair/index.html");
    QTest::newRow("opened") << "0" << web << web << true << 0;
    QTest::newRow("no program for this type (xdg-open 3)") << "3" << web << web << true << 1;
    QTest::newRow("the viewer failed (xdg-open 4), a file as a path") << "4" << QUrl::fromLocalFile(file).toString()
                                                                      << file << true << 1;
    QTest::newRow("ended by a signal") << "TERM" << web << web << true << 0;
    QTest::newRow("no opener installed") << "" << web << "" << false << 0;
    QTest::newRow("no scheme: never handed over") << "3" << "--help" << "" << false << 0;
}

void OpenersTest::openerEnd()
{
    QFETCH(QString, ending);
    QFETCH(QString, url);
    QFETCH(QString, argument);
    QFETCH(bool, started);
    QFETCH(int, reported);
    DesktopOpener::program = ending.isEmpty() ? m_dir.filePath(QStringLiteral("missing")) : standIn(ending);
    int told = 0;
    QCOMPARE(OpenUrl(QUrl(url), [&told] { ++told; }), started);
    if (!started) {
        QTest::qWait(50);
        QVERIFY(logged().isEmpty());
        QCOMPARE(told, 0);
        return;
    }
    waitForItsEnd();
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(logged().first(), argument);
    QTest::qWait(0);  // the report is queued to the application's thread
    QCOMPARE(told, reported);
}

void OpenersTest::previewerEnd_data()
{
    QTest::addColumn<QString>("ending");
    QTest::addColumn<bool>("askerGone");  // the asker is destroyed before the previewer ends
    QTest::addColumn<int>("reported");
    QTest::newRow("shown") << "0" << false << 0;
    QTest::newRow("could not show the file") << "1" << false << 1;
    QTest::newRow("asker gone first") << "1" << true << 0;
}

void OpenersTest::previewerEnd()
{
    QFETCH(QString, ending);
    QFETCH(bool, askerGone);
    QFETCH(int, reported);
    const QString file = m_dir.filePath(QStringLiteral("copy.txt"));
    int told = 0;
    auto asker = std::make_unique<QObject>();
    PreviewerProcess previewer;
    QVERIFY(previewer.launch(standIn(ending), file, asker.get(), [&told] { ++told; }));
    QVERIFY(previewer.processId() > 0);
    if (askerGone)
        asker.reset();
    waitForItsEnd();
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(logged().first(), file);
    QTest::qWait(0);
    QCOMPARE(told, reported);
    QVERIFY(!PreviewerProcess().launch(m_dir.filePath(QStringLiteral("missing")), file));
}

QTEST_GUILESS_MAIN(OpenersTest)
#include "tst_openers.moc"
