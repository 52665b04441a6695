// The scan summary and its log report tell of compressed entries the scan could not read, in one
// line, and only when there are any; the summary still shows all it showed.

#include "scanner/ScanGlobals.h"
#include "shell/InformationDlg.h"

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
};

void ScanSummaryTest::compressedLine_data()
{
    QTest::addColumn<qint64>("compressed");
    QTest::addColumn<QString>("line");
    QTest::newRow("none: no line") << qint64(0) << QString();
    QTest::newRow("one") << qint64(1) << QStringLiteral("1 entries are compressed and were not read");
    QTest::newRow("a packed-again sample") << qint64(22) << QStringLiteral("22 entries are compressed and were not read");
}

void ScanSummaryTest::compressedLine()
{
    QFETCH(qint64, compressed);
    QFETCH(QString, line);
    CompressedEntryCount = compressed;
    QCOMPARE(CompressedEntriesLine(), line);

    QTemporaryDir dir;
    QString path;
    QVERIFY(WriteLogReport(dir.path(), QDateTime::currentDateTime(), &path, nullptr));
    QFile log(path);
    QVERIFY(log.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(log.readAll()).split(QLatin1Char('\n'));
    // Right under the five counts, before the rule that closes them.
    const int tasks = lines.indexOf(QRegularExpression(QStringLiteral("^Tasks: \\d+$")));
    QVERIFY(tasks > 0);
    QCOMPARE(lines.at(tasks + 1).startsWith(QLatin1Char('-')), line.isEmpty());
    if (!line.isEmpty())
        QCOMPARE(lines.at(tasks + 1), line);
    QCOMPARE(lines.filter(QStringLiteral("compressed")).size(), line.isEmpty() ? 0 : 1);

    InformationDlg dialog;
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    auto *note = dialog.findChild<QLabel *>(QStringLiteral("label_2"));
    QVERIFY(note);
    QCOMPARE(note->isVisible(), !line.isEmpty());
    if (!line.isEmpty())
        QCOMPARE(note->text(), line);
    // Everything shown lies inside the sheet, apart from the others.
    const QRect sheet = dialog.rect();
    QRect buttons;
    for (QPushButton *button : dialog.findChildren<QPushButton *>()) {
        QVERIFY2(sheet.contains(QRect(button->mapTo(&dialog, QPoint()), button->size())), qPrintable(button->text()));
        buttons |= QRect(button->mapTo(&dialog, QPoint()), button->size());
    }
    if (note->isVisible()) {
        const QRect shown(note->mapTo(&dialog, QPoint()), note->size());
        QVERIFY(sheet.contains(shown));
        QVERIFY(!shown.intersects(buttons));
    }
}

QTEST_MAIN(ScanSummaryTest)
#include "tst_scansummary.moc"
