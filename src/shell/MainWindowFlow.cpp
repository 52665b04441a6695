// Starting over with another archive, the answers to the shared question, and closing.

#include "browse/BrowseGlobals.h"
#include "save/SaveFlow.h"
#include "scanner/ScanGlobals.h"
#include "shell/CloseApplicationDlg.h"
#include "shell/QParseDatabase.h"
#include "shell/QProgressInfo.h"
#include "shell/QZovuvozivMainWindow.h"
#include "shell/SaveAsWindow.h"
#include "shell/ShellGlobals.h"
#include "shell/ShellHooks.h"
#include "shell/ShellWidgets.h"
#include "shell/StopDlg.h"

#include <QAction>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QTextBrowser>
#include <QTreeWidget>

bool QZovuvozivMainWindow::scanResultsInMemory() const
{
    return TmpMlrcPtrStart || TmpCLRCPtrStart || TmpNTRCPtrStart || TmpTSRCPtrStart || TmpCTRCPtrStart;
}

void QZovuvozivMainWindow::setViewsEnabled(bool enabled)
{
    for (QAction *a : {m_pActionPeople, m_pActionCalendar, m_pActionNotes, m_pActionTasks, m_pActionMail})
        a->setEnabled(enabled);
    for (QWidget *b : {static_cast<QWidget *>(m_pMyCalendarButton), static_cast<QWidget *>(m_pMyPeopleButton),
                       static_cast<QWidget *>(m_pMyMailButton), static_cast<QWidget *>(m_pMyNotesButton),
                       static_cast<QWidget *>(m_pMyTasksButton)})
        b->setEnabled(enabled);
}

void QZovuvozivMainWindow::closeScanQuestion()
{
    // A scan's stop question left open belongs to the results that go now.
    if (scanQuestionOpen())
        stopDlgObj3->hide();
    m_summaryHeld = false;
}

void QZovuvozivMainWindow::shortReset()
{
    closeScanQuestion();
    m_panes.folderTree->clear();
    m_panes.itemList->clear();
    RenewLargeItemList();
    m_panes.mailHeaderText->clear();
    m_panes.htmlPreview->clear();
    m_panes.textPreview->clear();
    m_pOpenFile->setEnabled(true);
    m_pOpenFile->setIcon(QIcon(QStringLiteral(":/images/img_openenable.png")));
    SetSaveEnabled(false);
    m_pActionOpen->setEnabled(true);
    m_pActionFindFile->setEnabled(true);
    setViewsEnabled(true);
}

void QZovuvozivMainWindow::fullReset()
{
    closeScanQuestion();
    while (QLayoutItem *item = m_panes.attachmentGrid->takeAt(0)) {
        if (QWidget *w = item->widget())
            w->deleteLater();
        delete item;
    }
    for (QLabel *l : {m_panes.subjectLabel, m_panes.recipientsLabel, m_panes.dateLabel, m_panes.senderLabel})
        l->clear();
    m_panes.folderTree->clear();
    m_panes.itemList->hide();
    m_panes.emptyItemList->show();
    m_panes.mailHeaderText->clear();
    m_panes.htmlPreview->clear();
    m_panes.textPreview->clear();
    setViewsEnabled(false);
    SetSaveEnabled(false);
    m_pActionFindFile->setEnabled(true);
    m_pOpenFile->setEnabled(true);
    m_pOpenFile->setIcon(QIcon(QStringLiteral(":/images/img_openenable.png")));
    m_pActionOpen->setEnabled(true);
}

void QZovuvozivMainWindow::askAboutLoadedScan()
{
    stopDlgObj->setTitle(tr("Choose OLM Mailbox"));
    stopDlgObj->setQuestion(tr("Do you want to choose another file?"));
    stopDlgObj->setDetail(
        tr("Choosing another file for scanning will discard the scan information of already selected file."));
    stopDlgObj->show();
}

void QZovuvozivMainWindow::OnOpenFile()
{
    bLastState = true;
    senderObjName = QStringLiteral("OnOpenFile");
    if (scanResultsInMemory() && !bStopFlag) {
        askAboutLoadedScan();
        return;
    }
    shortReset();
    m_pParseDatabase->StopAndWait();
    m_pParseDatabase->ShowForNewFile();
}

void QZovuvozivMainWindow::OnFindFiles()
{
    bLastState = false;
    senderObjName = QStringLiteral("OnFindFiles");
    if (scanResultsInMemory() && !bStopFlag) {
        askAboutLoadedScan();
        return;
    }
    shortReset();
    m_pParseDatabase->SearchFile();
}

void QZovuvozivMainWindow::OnStopProcess()
{
    if (senderObjName == QLatin1String("OnOpenFile")) {
        fullReset();
        m_pParseDatabase->StopAndWait();
        m_pParseDatabase->ShowForNewFile();
        QParseDatabase::CleanListAndHash();
    } else if (senderObjName == QLatin1String("OnSavingFiles")) {
        SetSaveEnabled(false);
        QString error;
        const SaveType type = SaveAsWindow::saveTypeForIndex(m_pSaveAsWindow->currentIndex());
        if (!ClearForReplace(type, IdentityExistsCheckG, &error)) {
            // The old output could not be removed: saving over it would mix two saves.
            SetSaveEnabled(true);
            stopDlgObj->hide();
            ShowMessageBox(this, error);
            return;
        }
        if (CreateMailFolder())
            m_SavingThread.SetInitialSettings(m_strDatabasePath, m_pSaveAsWindow->currentIndex());
        else
            SetSaveEnabled(true);
    } else if (senderObjName == QLatin1String("OnFindFiles")) {
        fullReset();
        m_pParseDatabase->SearchFile();
        QParseDatabase::CleanListAndHash();
    }
    stopDlgObj->hide();
}

void QZovuvozivMainWindow::OnRunProcess()
{
    stopDlgObj->hide();
    if (senderObjName == QLatin1String("OnSavingFiles"))
        OnSavingFiles();
}

void QZovuvozivMainWindow::closeEvent(QCloseEvent *event)
{
    if (bProcessRunning) {
        if (m_pProgressInfo)
            m_pProgressInfo->show();
        ShowMessageBox(nullptr, tr("\nApplication Running !!\nPlease halt the current process to Exit."));
        event->ignore();
        return;
    }
    // Anything but an explicit Yes (the window manager may close the question) keeps the window.
    senderObjName.clear();
    closeApp->exec();
    if (senderObjName == QLatin1String("YesBtn")) {
        event->accept();
        QCoreApplication::quit();
    } else {
        event->ignore();
    }
}
