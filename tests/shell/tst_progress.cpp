// The progress sheet and its abort question, the Save As sheet and its format lists, and the
// scan summary with Save Log.

#include "platform/WorkerGlobals.h"
#include "save/SaveFlow.h"
#include "save/SaveType.h"
#include "scanner/ScanGlobals.h"
#include "platform/Edition.h"
#include "shell/InformationDlg.h"
#include "shell/QProgressInfo.h"
#include "shell/SaveAsWindow.h"
#include "shell/ShellHooks.h"
#include "shell/StopDlg.h"

#include <QComboBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

Q_DECLARE_METATYPE(ProgressKind)

class ProgressTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();

    void stopYes_data();
    void stopYes();
    void stopNo();
    void escapeIsSwallowed();

    void formatLists_data();
    void formatLists();
    void saveAsSheet();

    void saveLog_data();
    void saveLog();
    void windowTitles();

private:
    QStringList m_messages;
    QStringList m_icons;
};

void ProgressTest::init()
{
    bStopFlag = false;
    stopflag = false;
    bProcessRunning = true;
    m_messages.clear();
    m_icons.clear();
    ShellHooks::messageBox = [this](const QString &text, const QString &icon) {
        m_messages << text;
        m_icons << icon;
    };
}

void ProgressTest::cleanup()
{
    ShellHooks::messageBox = nullptr;
    ShellHooks::existingDirectory = nullptr;
    bProcessRunning = false;
}

void ProgressTest::stopYes_data()
{
    QTest::addColumn<ProgressKind>("kind");
    QTest::addColumn<QString>("detail");  // what the stop leaves, as it is
    QTest::newRow("save: what was saved stays")
        << ProgressKind::Save
        << "You can't resume the process from this point. The items saved so far stay in the destination.";
    QTest::newRow("scan: nothing is kept")
        << ProgressKind::Scan << "You can't resume the process from this point. All the changes will be discarded.";
}

void ProgressTest::stopYes()
{
    QFETCH(ProgressKind, kind);
    QFETCH(QString, detail);
    QWidget window;
    auto *sheet = new QProgressInfo(&window, kind);
    sheet->show();
    QStringList order;
    connect(sheet, &QProgressInfo::StopConfirmed, this, [&] { order << QStringLiteral("confirmed"); });
    connect(sheet, &QProgressInfo::OnAbort, this, [&] { order << QStringLiteral("abort"); });
    auto *stop = sheet->findChild<QPushButton *>(QStringLiteral("stopButton"));
    QVERIFY(stop);

    // Two presses ask twice, each with a new question; the answer to the newest counts once.
    QTest::mouseClick(stop, Qt::LeftButton);
    StopDlg *firstQuestion = stopDlgObj3;
    QTest::mouseClick(stop, Qt::LeftButton);
    QVERIFY(stopDlgObj3 && stopDlgObj3 != firstQuestion);
    QCOMPARE(stopDlgObj3->parent(), sheet);
    QVERIFY(stopDlgObj3->isVisible());
    QCOMPARE(stopDlgObj3->title(), QStringLiteral("Abort"));
    QCOMPARE(stopDlgObj3->question(), QStringLiteral("Do you want to abort the current process?"));
    QCOMPARE(stopDlgObj3->detail(), detail);
    QVERIFY(!bStopFlag && !stopflag && bProcessRunning && !sheet->stopConfirmed());

    QTest::mouseClick(stopDlgObj3->yesButton(), Qt::LeftButton);
    QVERIFY(bStopFlag);
    QVERIFY(stopflag);
    QVERIFY(!bProcessRunning);
    QVERIFY(!sheet->isVisible());
    QVERIFY(!stopDlgObj3->isVisible());
    QVERIFY(sheet->stopConfirmed());
    QCOMPARE(order, (QStringList{QStringLiteral("confirmed"), QStringLiteral("abort")}));
}

void ProgressTest::stopNo()
{
    QProgressInfo sheet;
    sheet.show();
    QSignalSpy abort(&sheet, &QProgressInfo::OnAbort);
    QSignalSpy asked(&sheet, &QProgressInfo::StopAsked);
    QSignalSpy declined(&sheet, &QProgressInfo::StopDeclined);
    QTest::mouseClick(sheet.findChild<QPushButton *>(QStringLiteral("stopButton")), Qt::LeftButton);
    QVERIFY(stopDlgObj3 && stopDlgObj3->isVisible());
    // The window holds a save while the question is open, and lets it go on after No.
    QCOMPARE(asked.count(), 1);
    QCOMPARE(declined.count(), 0);
    QTest::mouseClick(stopDlgObj3->noButton(), Qt::LeftButton);
    QCOMPARE(declined.count(), 1);
    QVERIFY(!stopDlgObj3->isVisible());
    QVERIFY(sheet.isVisible());
    QVERIFY(!bStopFlag && !stopflag && bProcessRunning);
    QCOMPARE(abort.count(), 0);
}

void ProgressTest::escapeIsSwallowed()
{
    QProgressInfo sheet;
    SaveAsWindow saveAs;
    InformationDlg summary;
    for (QDialog *dialog : std::initializer_list<QDialog *>{&sheet, &saveAs, &summary}) {
        dialog->show();
        QTest::keyClick(dialog, Qt::Key_Escape);
        QVERIFY2(dialog->isVisible(), dialog->metaObject()->className());
        QCOMPARE(dialog->result(), int(QDialog::Rejected));
    }
}

void ProgressTest::formatLists_data()
{
    QTest::addColumn<bool>("converter");
    QTest::addColumn<bool>("store");
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QList<int>>("types");
    QTest::newRow("repair edition")
        << false << false
        << QStringList{QStringLiteral("Outlook for Mac Data File(.olm)"), QStringLiteral("Zovuvoziv Archive (.rge)"),
                       QStringLiteral("Apple Mail (mbox)"), QStringLiteral(".emlx"), QStringLiteral(".eml"),
                       QStringLiteral(".html")}
        << QList<int>{SaveTypeOLM, SaveTypeRGE, SaveTypeMBOX, SaveTypeEMLX, SaveTypeEML, SaveTypeHTML};
    QTest::newRow("converter edition")
        << true << false
        << QStringList{QStringLiteral("Apple Mail (mbox)"), QStringLiteral(".emlx"), QStringLiteral(".eml")}
        << QList<int>{SaveTypeMBOX, SaveTypeEMLX, SaveTypeEML};
    QTest::newRow("store variant, repair edition")
        << false << true
        << QStringList{QStringLiteral("Outlook Data File(.olm)"), QStringLiteral("Zovuvoziv Archive (.rge)")}
        << QList<int>{SaveTypeOLM, SaveTypeRGE};
    QTest::newRow("store variant, converter edition")
        << true << true << QStringList{QStringLiteral(".mbox"), QStringLiteral(".emlx"), QStringLiteral(".eml")}
        << QList<int>{SaveTypeMBOX, SaveTypeEMLX, SaveTypeEML};
}

void ProgressTest::formatLists()
{
    QFETCH(bool, converter);
    QFETCH(bool, store);
    QFETCH(QStringList, names);
    QFETCH(QList<int>, types);
    QCOMPARE(SaveAsWindow::formatList(converter, store), names);
    for (int index = 0; index < names.size(); ++index)
        QCOMPARE(int(SaveTypeForIndex(index, converter)), types.at(index));
    // The converter edition never makes a package or an OLM file, whatever the position.
    for (int index = -1; index < 8; ++index) {
        const SaveType type = SaveTypeForIndex(index, converter);
        if (converter)
            QVERIFY(type != SaveTypeRGE && type != SaveTypeOLM);
    }
    QCOMPARE(SaveTypeForIndex(6, converter), SaveTypeInvalid);
}

void ProgressTest::saveAsSheet()
{
    SaveAsWindow sheet;
    QVERIFY(sheet.width() >= 417 && sheet.height() >= 117);   // the form's size is the least
    auto *combo = sheet.findChild<QComboBox *>(QStringLiteral("comboBox"));
    QVERIFY(combo);
    const QStringList expected = SaveAsWindow::formatList(bforQConverterFO, bForappstore);
    for (int round = 0; round < 2; ++round) {
        sheet.fillList();
        QStringList shown;
        for (int i = 0; i < combo->count(); ++i)
            shown << combo->itemText(i);
        QCOMPARE(shown, expected);   // refilled, not appended
        QCOMPARE(sheet.currentIndex(), 0);
        combo->setCurrentIndex(combo->count() - 1);
    }
    QCOMPARE(SaveAsWindow::saveTypeForIndex(1), bforQConverterFO ? SaveTypeEMLX : SaveTypeRGE);

    QSignalSpy ok(&sheet, &SaveAsWindow::SaveOk);
    sheet.show();
    QTest::mouseClick(sheet.findChild<QPushButton *>(QStringLiteral("OKButton")), Qt::LeftButton);
    QCOMPARE(ok.count(), 1);
    QVERIFY(!sheet.isVisible());
}

void ProgressTest::saveLog_data()
{
    QTest::addColumn<QString>("choice");   // "" cancel, "ok" the temp folder, "bad" a missing folder
    QTest::addColumn<QStringList>("messages");   // a failure's message goes on to name the file
    QTest::addColumn<QStringList>("icons");
    QTest::newRow("saved") << QStringLiteral("ok") << QStringList{QStringLiteral("\nLog Report Saved Successfully.")}
                           << QStringList{SuccessIconStyle()};
    QTest::newRow("cancelled") << QString() << QStringList() << QStringList();
    QTest::newRow("unwritable") << QStringLiteral("bad") << QStringList{QString::fromUtf8(kLogFailedText)}
                                << QStringList{MarkIconStyle()};
}

void ProgressTest::saveLog()
{
    QFETCH(QString, choice);
    QFETCH(QStringList, messages);
    QFETCH(QStringList, icons);
    QTemporaryDir dir;
    QString chosen;
    if (choice == QLatin1String("ok"))
        chosen = dir.path();
    else if (choice == QLatin1String("bad"))
        chosen = dir.filePath(QStringLiteral("missing"));
    QString caption;
    ShellHooks::existingDirectory = [&](QWidget *, const QString &text, const QString &) {
        caption = text;
        return chosen;
    };
    InformationDlg summary;
    summary.show();
    QTest::mouseClick(summary.findChild<QPushButton *>(QStringLiteral("savelog")), Qt::LeftButton);
    QCOMPARE(caption, QStringLiteral("Open Directory"));
    QCOMPARE(m_messages.size(), messages.size());
    for (int i = 0; i < messages.size(); ++i) {
        const QString named = QDir::toNativeSeparators(chosen) + QStringLiteral("/logfile(");
        QVERIFY2(choice == QLatin1String("bad") ? m_messages.at(i).startsWith(messages.at(i) + QLatin1Char('\n') + named)
                                                : m_messages.at(i) == messages.at(i),
                 qPrintable(m_messages.at(i)));
    }
    QCOMPARE(m_icons, icons);
    const QStringList logs = QDir(dir.path()).entryList({QStringLiteral("logfile(*).txt")}, QDir::Files);
    QCOMPARE(logs.size(), choice == QLatin1String("ok") ? 1 : 0);
    QVERIFY(summary.isVisible());   // the summary stays open
}

void ProgressTest::windowTitles()
{
    // No window shows the forms' placeholder title: each names the product.
    QProgressInfo scan(nullptr, ProgressKind::Scan);
    QProgressInfo save(nullptr, ProgressKind::Save);
    SaveAsWindow saveAs;
    InformationDlg summary;
    for (QWidget *window : std::initializer_list<QWidget *>{&scan, &save, &saveAs, &summary}) {
        QVERIFY2(window->windowTitle() != QLatin1String("Dialog"), window->metaObject()->className());
        QCOMPARE(window->windowTitle(), EditionName());
    }
}

QTEST_MAIN(ProgressTest)
#include "tst_progress.moc"
