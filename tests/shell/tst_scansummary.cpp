// The scan summary and its log report tell of compressed entries the scan could not read, in one
// line, and only when there are any; the summary still shows all it showed.

#include "scanner/ScanGlobals.h"
#include "shell/InformationDlg.h"
#include "shell/ShellGlobals.h"

#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

class ScanSummaryTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void cleanup() { CleanScanResults(); }
    void compressedLine_data();
    void compressedLine();
    void reportTimesAreTheScans();
};

void ScanSummaryTest::compressedLine_data()
{
    QTest::addColumn<qint64>("compressed");
    QTest::addColumn<QString>("line");
    QTest::newRow("none: no line") << qint64(0) << QString();
    QTest::newRow("a packed-again sample") << qint64(22) << QStringLiteral("22 entries are compressed and were not read");
}

void ScanSummaryTest::compressedLine()
{
    QFETCH(qint64, compressed);
    QFETCH(QString, line);
    CompressedEntryCount = compressed;

    QTemporaryDir dir;
    QString path;
    QVERIFY(WriteLogReport(dir.path(), QDateTime::currentDateTime(), &path, nullptr));
    QFile log(path);
    QVERIFY(log.open(QIODevice::ReadOnly));
    // Right under the five counts, before the rule that closes them.
    const QStringList lines = QString::fromUtf8(log.readAll()).split(QLatin1Char('\n'));
    const int tasks = lines.indexOf(QRegularExpression(QStringLiteral("^Tasks: \\d+$")));
    QCOMPARE(lines.value(tasks + 1), line.isEmpty() ? QString(44, QLatin1Char('-')) : line);

    InformationDlg dialog;
    dialog.show();
    auto *note = dialog.findChild<QLabel *>(QStringLiteral("label_2"));
    QCOMPARE(note->isVisible(), !line.isEmpty());
    QCOMPARE(note->text() == line, !line.isEmpty());
    // Between the counts and the buttons, which the sheet still holds.
    auto *close = dialog.findChild<QPushButton *>(QStringLiteral("closebutton"));
    QVERIFY(dialog.rect().contains(close->geometry()) && (!note->isVisible() || note->y() + note->height() <= close->y()));
}

// The report names when the scan started and ended, not twice the time it was written.
void ScanSummaryTest::reportTimesAreTheScans()
{
    g_scanStartedAt = QDateTime(QDate(2026, 3, 5), QTime(10, 11, 12));
    g_scanEndedAt = g_scanStartedAt.addSecs(83);
    QTemporaryDir dir;
    QString path;
    QVERIFY(WriteLogReport(dir.path(), QDateTime::currentDateTime(), &path, nullptr));
    g_scanStartedAt = g_scanEndedAt = QDateTime();
    QFile log(path);
    QVERIFY(log.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(log.readAll()).split(QLatin1Char('\n'));
    QVERIFY(lines.contains(QStringLiteral("Start date & time: 2026-03-05 10:11:12")));
    QVERIFY(lines.contains(QStringLiteral("End date & time: 2026-03-05 10:12:35")));
}

QTEST_MAIN(ScanSummaryTest)
#include "tst_scansummary.moc"
