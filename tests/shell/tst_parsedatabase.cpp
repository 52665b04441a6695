// Opening an archive from the window: the head check, a full scan, and re-opening mid-scan.

#include "scanner/QFolderInformationThread.h"
#include "scanner/ScanGlobals.h"
#include "shell/QParseDatabase.h"
#include "shell/QZovuvozivMainWindow.h"
#include "shell/ShellGlobals.h"
#include "shell/ShellHooks.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

class ParseDatabaseTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void refusesForeignFiles();
    void scansSampleAndReopens();
};

void ParseDatabaseTest::refusesForeignFiles()
{
    QStringList shown;
    ShellHooks::messageBox = [&](const QString &text, const QString &) { shown << text; };
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("plain.zip"));
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(QByteArray("PK\x03\x04\x14\x00", 6) + QByteArray(100, 'x'));   // a ZIP, but not version 45
    f.close();
    QParseDatabase parse;
    QSignalSpy message(&parse, &QParseDatabase::ShowMessage);
    QVERIFY(!parse.OnStartScan(path));
    QVERIFY(!parse.OnStartScan(dir.filePath(QStringLiteral("missing.olm"))));
    QCOMPARE(message.count(), 2);
    QCOMPARE(message.first().first().toString(),
             QStringLiteral("\nThe scanned file is either an invalid file or heavily damaged."));
    QCOMPARE(fileDescriptor, -1);
}

void ParseDatabaseTest::scansSampleAndReopens()
{
    QZovuvozivMainWindow window;
    QParseDatabase *parse = window.parseDatabase();
    // Re-opening while a scan runs stops and waits for it before anything is freed.
    QVERIFY(parse->OnStartScan(QStringLiteral(OLM_SAMPLE_ARCHIVE)));
    QVERIFY(parse->OnStartScan(QStringLiteral(OLM_SAMPLE_ARCHIVE)));
    QVERIFY(parse->scanner()->wait(30000));
    QTRY_VERIFY(window.summaryText().contains(QStringLiteral("Mails: 7")));
    QCOMPARE(window.summaryText(),
             QStringLiteral("Mails: 7   Contacts: 5   Calendar: 8   Tasks: 5   Notes: 1"));
    parse->StopAndWait();
    QParseDatabase::CleanListAndHash();
    QCOMPARE(TmpMlrcPtrStart, nullptr);
    QVERIFY(objMapFID_PID.isEmpty());
}

QTEST_MAIN(ParseDatabaseTest)
#include "tst_parsedatabase.moc"
