// The main window's side of a scan's and a save's progress: the progress sheet, the end of a
// scan, the summary, the save start, and the end of a save.

#include "browse/BrowseGlobals.h"
#include "browse/FolderTree.h"
#include "platform/Edition.h"
#include "platform/FreedMemory.h"
#include "save/SaveFlow.h"
#include "save/SavePause.h"
#include "scanner/FolderAttributes.h"
#include "scanner/ScanGlobals.h"
#include "shell/InformationDlg.h"
#include "shell/QParseDatabase.h"
#include "shell/QProgressInfo.h"
#include "shell/QZovuvozivMainWindow.h"
#include "shell/SaveAsWindow.h"
#include "shell/ShellGlobals.h"
#include "shell/ShellHooks.h"
#include "shell/ShellWidgets.h"
#include "shell/StopDlg.h"

#include <QAction>
#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QGridLayout>
#include <QLabel>
#include <QProgressBar>
#include <QScreen>
#include <QTextBrowser>
#include <QTreeWidget>

namespace {

// What a stopped save left on disk, from the counts its report keeps: the user knows what to
// save again. Items lost before the stop are named too, with the report.
QString StoppedSaveText(const SaveOutcome &outcome)
{
    const QString written = outcome.written > 0
        ? SaveWrittenText(outcome, QCoreApplication::translate("QZovuvozivMainWindow", kItemsSavedText))
        : QCoreApplication::translate("QZovuvozivMainWindow", kNothingSavedBeforeStopText);
    const QString problem = SaveProblemText(outcome);
    return written + (problem.isEmpty() ? SaveReportNamedText(outcome) : problem);
}

// One progress sheet at a time: the last run's goes when the next run's is made, so the sheets of
// many scans and saves do not pile up in memory.
QProgressInfo *replaceProgressSheet(QProgressInfo *&sheet, QWidget *parent, ProgressKind kind)
{
    if (sheet)
        sheet->deleteLater();
    sheet = new QProgressInfo(parent, kind);
    return sheet;
}

void emptyPreview(QZovuvozivMainWindow *w)
{
    while (QLayoutItem *item = w->panes().attachmentGrid->takeAt(0)) {
        if (QWidget *widget = item->widget())
            widget->deleteLater();
        delete item;
    }
    for (QLabel *l :
         {w->panes().subjectLabel, w->panes().recipientsLabel, w->panes().senderLabel, w->panes().dateLabel})
        l->clear();
    w->panes().itemList->clear();
    w->panes().mailHeaderText->clear();
    w->panes().textPreview->clear();
    w->panes().htmlPreview->clear();
}

bool anyRecords()
{
    return TmpMlrcPtrStart || TmpCTRCPtrStart || TmpCLRCPtrStart || TmpTSRCPtrStart || TmpNTRCPtrStart;
}

}  // namespace

void ClearMarksOfSavedFolders(QTreeWidget *tree, const QSet<qint64> &keep)
{
    if (!tree)
        return;
    // A folder that keeps its mark keeps its whole subtree (its own row included); every other
    // row was saved and leaves the selection. Folders above follow their rows afterwards.
    const auto kept = [&keep](const QTreeWidgetItem *item) {
        for (; item; item = item->parent())
            if (keep.contains(FolderIdOf(item)))
                return true;
        return false;
    };
    for (QTreeWidgetItemIterator it(tree); *it; ++it) {
        QTreeWidgetItem *item = *it;
        if (kept(item))
            continue;
        if (item->childCount() == 0 && item->checkState(FolderColumnName) == Qt::Checked)
            item->setCheckState(FolderColumnName, Qt::Unchecked);
    }
}

void QZovuvozivMainWindow::restoreControlsAfterRun(bool enableSave, bool keepScanQuestion)
{
    // A save's stop question still open belongs to the run that just ended: an answer given
    // later could not be honoured. A scan's is answered (onScanStopAnsweredYes, showHeldSummary).
    if (stopDlgObj3 && !(keepScanQuestion && scanQuestionOpen()))
        stopDlgObj3->hide();
    setViewsEnabled(true);
    if (m_pProgressInfo)
        m_pProgressInfo->hide();
    if (enableSave)
        SetSaveEnabled(true);
    m_pOpenFile->setEnabled(true);
    m_pOpenFile->setIcon(QIcon(QStringLiteral(":/images/img_openenable.png")));
    m_pActionOpen->setEnabled(true);
    m_pActionFindFile->setEnabled(true);
    m_pActionUpdate->setEnabled(true);
}

void QZovuvozivMainWindow::SetInitialSettings(long long maximum)
{
    emptyPreview(this);
    setViewsEnabled(false);
    SetSaveEnabled(false);
    m_pOpenFile->setEnabled(false);
    m_pOpenFile->setIcon(QIcon(QStringLiteral(":/images/img_opendisable.png")));
    m_pActionOpen->setEnabled(false);
    m_pActionFindFile->setEnabled(false);
    g_scanStartedAt = QDateTime::currentDateTime();
    g_scanEndedAt = QDateTime();
    m_scanFinishSeen = false;
    m_scanEndSeen = false;
    m_summaryHeld = false;
    replaceProgressSheet(m_pProgressInfo, this, ProgressKind::Scan);
    connect(m_pProgressInfo, &QProgressInfo::StopConfirmed, this, &QZovuvozivMainWindow::onScanStopAnsweredYes);
    connect(m_pProgressInfo, &QProgressInfo::StopDeclined, this, &QZovuvozivMainWindow::showHeldSummary);
    m_pProgressBar = m_pProgressInfo->progressBar();
    m_pProgressInfo->setStatusText(tr("Scanning OLM File..."));
    m_pProgressBar->reset();
    m_pProgressBar->setMaximum(int(qBound<long long>(0, maximum, INT_MAX)));
    m_pProgressBar->setValue(0);
    m_pProgressInfo->show();
    m_pActionUpdate->setEnabled(false);
}

void QZovuvozivMainWindow::SetProgressValue(long long value)
{
    if (m_pProgressBar)
        m_pProgressBar->setValue(int(qBound<long long>(0, value, m_pProgressBar->maximum())));
}

void QZovuvozivMainWindow::OnStrInfo(QString text)
{
    if (m_pProgressInfo)
        m_pProgressInfo->setStatusText(text);
}

void QZovuvozivMainWindow::SetFinishSettingsForMail()
{
    TakeScanResults();
    m_scanFinishSeen = true;
    g_scanEndedAt = QDateTime::currentDateTime();
    OnMailButtonClicked();
    restoreControlsAfterRun(true, true);
    // A stop confirmed after the walk's last test came too late: the scan is whole and stays
    // (OnScanEnded says so). Any other stop (a re-open) drops it.
    if (bStopFlag && !scanStopConfirmed()) {
        for (QTreeWidget *t : {m_panes.folderTree, m_panes.itemList})
            t->clear();
        m_panes.mailHeaderText->clear();
        m_panes.textPreview->clear();
        m_panes.htmlPreview->clear();
        return;
    }
    // An archive packed again by a zip tool holds only compressed entries: its summary says so,
    // and calling it invalid or damaged would be untrue.
    if (!anyRecords() && CompressedEntryCount == 0)
        ShowMessageBox(nullptr, tr("\nThe scanned file is either an invalid file or heavily damaged."));
}

bool QZovuvozivMainWindow::scanStopConfirmed() const
{
    return m_pProgressInfo && m_pProgressInfo->stopConfirmed();
}

bool QZovuvozivMainWindow::scanQuestionOpen() const
{
    return m_pProgressInfo && stopDlgObj3 && stopDlgObj3->parent() == m_pProgressInfo && stopDlgObj3->isVisible();
}

void QZovuvozivMainWindow::onScanStopAnsweredYes()
{
    // While the thread runs, its end answers the stop (OnScanEnded).
    if (!m_scanEndSeen)
        return;
    // The scan had ended under the question: nothing was stopped and everything it found stays.
    bStopFlag = false;
    ShowMessageBox(nullptr, tr(kScanAlreadyFinishedText));
    showHeldSummary();
}

void QZovuvozivMainWindow::showHeldSummary()
{
    if (!m_summaryHeld)
        return;
    m_summaryHeld = false;
    OnInformationDlg();
}

void QZovuvozivMainWindow::OnScanEnded()
{
    TakeScanResults();
    m_scanEndSeen = true;
    // The walk's working buffers went with its thread, and the archive shown before was freed
    // when it started: what both took goes back to the system.
    ReturnFreedMemory();
    // The scan's thread has ended: only now may another run start, so a confirmed stop is
    // answered here, never at the Yes itself.
    if (!scanStopConfirmed())
        return;
    if (!m_scanFinishSeen) {
        m_pOpenFile->setEnabled(true);
        m_pOpenFile->setIcon(QIcon(QStringLiteral(":/images/img_openenable.png")));
        m_pActionUpdate->setEnabled(true);
        ShowMessageBox(nullptr, tr(kScanAbortedText));
        return;
    }
    // The walk ended before it saw the stop: the stop belongs to no run, and the whole scan is
    // shown with its summary, which the scanner leaves out when it sees the stop at its end.
    bStopFlag = false;
    ShowMessageBox(nullptr, tr(kScanAlreadyFinishedText));
    m_summaryHeld = !m_pInformationDlg && (m_summaryHeld || anyRecords());
    showHeldSummary();
}

void QZovuvozivMainWindow::OnInformationDlg()
{
    TakeScanResults();
    // Never on top of the scan's stop question: the summary waits for its answer.
    if (scanQuestionOpen()) {
        m_summaryHeld = true;
        return;
    }
    if (stopDlgObj3)
        stopDlgObj3->hide();
    // Modal, but opened without a nested event loop: this runs from a queued signal.
    m_pInformationDlg = new InformationDlg(nullptr);
    m_pInformationDlg->setAttribute(Qt::WA_DeleteOnClose);
    connect(m_pInformationDlg, &QObject::destroyed, this, [this](QObject *gone) {
        if (m_pInformationDlg == gone)
            m_pInformationDlg = nullptr;
    });
    m_pInformationDlg->setWindowModality(Qt::ApplicationModal);
    m_pInformationDlg->show();
    // Without a parent it would be centred on the screen, wherever this window is: centred on
    // what the screen shows of this window instead, and inside it where it fits.
    QRect shown = frameGeometry();
    if (screen() && shown.intersects(screen()->availableGeometry()))
        shown &= screen()->availableGeometry();
    QRect summary = m_pInformationDlg->frameGeometry();
    summary.moveCenter(shown.center());
    summary.moveLeft(qMax(shown.left(), qMin(summary.left(), shown.right() - summary.width() + 1)));
    summary.moveTop(qMax(shown.top(), qMin(summary.top(), shown.bottom() - summary.height() + 1)));
    m_pInformationDlg->move(summary.topLeft());  // a window's position is its frame's
}

void QZovuvozivMainWindow::OnScanMessage(QString text)
{
    // The scan could not run: end its progress state before telling the user.
    restoreControlsAfterRun(false);
    ShowMessageBox(nullptr, text);
}

void QZovuvozivMainWindow::OnSaveAs()
{
    m_pSaveAsWindow->fillList();
    m_pSaveAsWindow->show();
}

void QZovuvozivMainWindow::OnSavingFiles()
{
    if (bStopFlag)
        return;
    // One save at a time: a second one would change what the running writers read.
    if (m_SavingThread.isRunning())
        return;
    stopflag = false;
    strTime = MakeSaveTimeStamp(QDateTime::currentDateTime());
    if (!SelectionHasCheckedFolder(StartFldrAtrib)) {
        ShowMessageBox(nullptr, tr(kSelectFolderText));
        return;
    }
    // A save that would write nothing of what is checked says so before a destination is asked.
    const SaveType type = SaveTypeForIndex(m_pSaveAsWindow->currentIndex());
    const SaveItemCounts chosen = CountChosenItems(StartFldrAtrib, CurrentSaveItemLists());
    const QString nothing = NothingToSaveText(type, StartFldrAtrib, chosen, AttachmentNodeCount);
    if (!nothing.isEmpty()) {
        ShowMessageBox(nullptr, nothing);
        return;
    }
    m_saveLeftOutText = TypeLeftOutText(type, chosen);
    ulCount = 0;
    // The bar counts the items this type writes: one step each.
    SizeOfAllMails = unsigned(qBound<qint64>(0, SaveProgressSteps(type, chosen), UINT_MAX));
    saveDir = GetExistingDirectoryHooked(this, tr("Open Directory"), QDir::homePath());
    const SaveStartPlan plan = PlanSaveStart(m_pSaveAsWindow->currentIndex(), saveDir, strTime, lSize, fileDescriptor);
    switch (plan.step) {
    case SaveStartStep::Cancelled:
    case SaveStartStep::InvalidType:
        return;
    case SaveStartStep::InsufficientSpace:
        ShowMessageBox(nullptr, tr(kInsufficientSpaceText));
        // Closing the message starts over, after this slot has returned.
        QMetaObject::invokeMethod(this, &QZovuvozivMainWindow::OnSavingFiles, Qt::QueuedConnection);
        return;
    case SaveStartStep::OverwritesArchive:
        ShowMessageBox(nullptr, tr(kSameAsArchiveText));
        return;
    case SaveStartStep::AskReplace:
        IdentityExistsCheckG = plan.root;
        senderObjName = QStringLiteral("OnSavingFiles");
        stopDlgObj->setTitle(tr(kReplaceTitle));
        stopDlgObj->setQuestion(tr(kReplaceQuestion));
        stopDlgObj->setDetail(ReplaceDetailText(plan.root));
        stopDlgObj->show();
        return;
    case SaveStartStep::Create:
        if (CreateMailFolder())
            m_SavingThread.SetInitialSettings(m_strDatabasePath, m_pSaveAsWindow->currentIndex());
        return;
    }
}

bool QZovuvozivMainWindow::CreateMailFolder()
{
    QString error;
    const SaveType type = SaveAsWindow::saveTypeForIndex(m_pSaveAsWindow->currentIndex());
    if (::CreateMailFolder(type, saveDir, &strTime, &error))
        return true;
    ShowMessageBox(nullptr, error);
    return false;
}

bool QZovuvozivMainWindow::CreateFilesInMainIdentity(const QString &root)
{
    QString error;
    if (::CreateFilesInMainIdentity(root, &error))
        return true;
    ShowMessageBox(nullptr, error);
    return false;
}

void QZovuvozivMainWindow::SetInitialSettingsForMail(unsigned int total)
{
    Q_UNUSED(total);
    emptyPreview(this);
    stoploopFlag = true;
    setViewsEnabled(false);
    m_pOpenFile->setEnabled(false);
    m_pOpenFile->setIcon(QIcon(QStringLiteral(":/images/img_opendisable.png")));
    m_pActionOpen->setEnabled(false);
    m_pActionFindFile->setEnabled(false);
    // The save actions stay off while the save runs: a second save is refused anyway.
    SetSaveEnabled(false);
    replaceProgressSheet(m_pProgressInfo, this, ProgressKind::Save);
    m_pProgressBar = m_pProgressInfo->progressBar();
    connect(m_pProgressInfo, &QProgressInfo::OnAbort, this, &QZovuvozivMainWindow::OnAbortSettings);
    // While the question is open the save waits at its next item; No lets it go on.
    connect(m_pProgressInfo, &QProgressInfo::StopAsked, this, [] { PauseSave(); });
    connect(m_pProgressInfo, &QProgressInfo::StopDeclined, this, [] { ResumeSave(); });
    m_pProgressInfo->setStatusText(QString::fromLatin1(kSavingStatusText));
    m_pProgressBar->reset();
    m_pProgressBar->setMaximum(int(qMin<unsigned>(SizeOfAllMails, INT_MAX)));
    m_pProgressBar->setValue(0);
    m_pProgressInfo->setHeadingText(
        QString::fromLatin1(bforQRepairFO ? kSavingHeadingRepair : kSavingHeadingConverter));
    m_pProgressInfo->show();
    m_pActionUpdate->setEnabled(false);
}

void QZovuvozivMainWindow::AddSaveSteps(qint64 count)
{
    if (m_pProgressBar && count > 0)
        m_pProgressBar->setMaximum(int(qMin<qint64>(qint64(m_pProgressBar->maximum()) + count, INT_MAX)));
}

void QZovuvozivMainWindow::SetProgressValueForMail()
{
    if (m_pProgressBar && m_pProgressBar->value() < m_pProgressBar->maximum())
        m_pProgressBar->setValue(m_pProgressBar->value() + 1);
}

void QZovuvozivMainWindow::SetFinishSettings()
{
    // Reached through QThread::finished: run() has returned, so this wait ends at once.
    m_SavingThread.wait();
    // A stop question still open belongs to the save that ended: it closes, and the next save
    // starts unpaused.
    ResumeSave();
    restoreControlsAfterRun(true);
    // A stop confirmed after the last item belongs to no run.
    bStopFlag = false;
    stopflag = false;
    const SaveOutcome outcome = m_SavingThread.outcome();
    if (outcome.stopped) {
        ShowMessageBox(nullptr, tr(kSaveAbortedText) + StoppedSaveText(outcome));
        return;
    }
    const QString problem = SaveProblemText(outcome);
    if (!problem.isEmpty()) {
        // Never success when something was not saved; its folders keep their marks for another try.
        // What did get written comes first; the problem lines and the report follow.
        ShowMessageBox(nullptr,
                       (outcome.written > 0 ? SaveWrittenText(outcome) : QString()) + problem + m_saveLeftOutText);
        keepMarksOfFoldersNotSaved(outcome);
        return;
    }
    // A full success can still have a report: the attachments saved in recovered messages.
    // Nothing on disk is no success, but the save did finish: its marks go all the same.
    const QString written = SaveWrittenText(outcome) + m_saveLeftOutText + SaveReportNamedText(outcome);
    if (outcome.written > 0)
        ShowMessageBox(nullptr, SaveSuccessText() + written, SuccessIconStyle());
    else
        ShowMessageBox(nullptr, written);
    if (QTreeWidgetItem *root = m_panes.folderTree->topLevelItem(0)) {
        root->setCheckState(0, Qt::Unchecked);
        m_pParseDatabase->LeftTreeWidgetItem(root);
    }
}

void QZovuvozivMainWindow::keepMarksOfFoldersNotSaved(const SaveOutcome &outcome)
{
    // Items not saved that no folder is named for: every mark stays.
    const bool unplaced = outcome.unreadEntries > 0 || !outcome.notWritten.isEmpty()
        || (outcome.failed > 0 && outcome.foldersNotSaved.isEmpty());
    if (unplaced)
        return;
    ClearMarksOfSavedFolders(m_panes.folderTree, outcome.foldersNotSaved);
    m_pParseDatabase->SetRecoverSelectedState();
}

void QZovuvozivMainWindow::OnAbortSettings()
{
    // Yes: the stop flags are set; the paused save goes on to its stop test and ends there. Its
    // thread's end (SetFinishSettings) shows what was saved and gives the actions back: the
    // window never waits for it here.
    ResumeSave();
}
