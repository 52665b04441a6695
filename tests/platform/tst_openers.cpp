// The desktop's opener started so that its end is known: an error status is reported once, an
// opened link or an end by a signal is not, and an opener that cannot start is known at once.
// (The previewer goes the same way: the attachment tiles' tests start a failing one.)

#include "platform/DesktopOpener.h"

#include <QTemporaryDir>
#include <QtTest>

class OpenersTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void openerEnd_data();
    void openerEnd();

private:
    QTemporaryDir m_dir;
};

void OpenersTest::openerEnd_data()
{
    QTest::addColumn<QString>("ending");    // the stand-in's last line; empty: no opener there
    QTest::addColumn<QString>("url");
    QTest::addColumn<QString>("argument");  // what the opener is given; empty: never started
    QTest::addColumn<int>("reported");
    const QString file = QStringLiteral("/tmp/a file with blanks.pdf");
    const QString web = QStringLiteral("https://help.corvask.invalid/repair/index.html");
    QTest::newRow("opened") << "exit 0" << web << web << 0;
    QTest::newRow("no program for this type (xdg-open 3)") << "exit 3" << web << web << 1;
    QTest::newRow("the viewer failed (4), a file as a path")
        << "exit 4" << QUrl::fromLocalFile(file).toString() << file << 1;
    QTest::newRow("ended by a signal") << "kill -TERM $$" << web << web << 0;
    QTest::newRow("no opener installed") << "" << web << "" << 0;
    QTest::newRow("no scheme: never handed over") << "exit 3" << "--help" << "" << 0;
}

void OpenersTest::openerEnd()
{
    QFETCH(QString, ending);
    QFETCH(QString, url);
    QFETCH(QString, argument);
    QFETCH(int, reported);
    if (!QFileInfo(QStringLiteral("/bin/sh")).isExecutable())
        QSKIP("needs /bin/sh for the stand-in opener");
    // The stand-in logs its argument and its process id, then ends as the row says.
    const QString log = m_dir.filePath(QStringLiteral("log"));
    QFile::remove(log);
    DesktopOpener::program = m_dir.filePath(QStringLiteral("opener"));
    QFile::remove(DesktopOpener::program);
    QFile script(DesktopOpener::program);
    if (!ending.isEmpty()) {
        QVERIFY(script.open(QIODevice::WriteOnly));
        script.write(QStringLiteral("#!/bin/sh\necho \"$1\" >> '%1'\necho $$ >> '%1'\n%2\n").arg(log, ending).toUtf8());
        script.close();
        QVERIFY(script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    }
    const auto logged = [&log] {
        QFile f(log);
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()).split('\n', Qt::SkipEmptyParts) : QStringList();
    };
    int told = 0;
    QCOMPARE(OpenUrl(QUrl(url), [&told] { ++told; }), !argument.isEmpty());
    DesktopOpener::program.clear();
    if (argument.isEmpty()) {
        QVERIFY(logged().isEmpty());
        return;
    }
    QTRY_COMPARE(logged().size(), 2);
    QCOMPARE(logged().first(), argument);
    // An ended process stays in /proc until our event loop reaps it, which is when its end is
    // seen; the report is queued behind that.
    QTRY_VERIFY(!QFileInfo::exists(QStringLiteral("/proc/") + logged().last()));
    QTest::qWait(0);
    QCOMPARE(told, reported);
}

QTEST_GUILESS_MAIN(OpenersTest)
#include "tst_openers.moc"
