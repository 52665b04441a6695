#pragma once
// The program's only top-level window: actions, tool bar with the five view buttons, menus,
// panes, and the flow from opening an archive to saving it.

#include "browse/BrowsePanes.h"
#include "save/QMailSavingThread.h"
#include "scanner/QFolderInformationThread.h"

#include <QMainWindow>
#include <QToolButton>

class AboutDlg;
class InformationDlg;
class QFrame;
class QGridLayout;
class QLabel;
class QParseDatabase;
class QProgressBar;
class QProgressInfo;
class QSplitter;
class QTextBrowser;
class QTimer;
class QToolBar;
class QTreeWidget;
class SaveAsWindow;

// A view button: checkable, hover signals for the tint animation.
class MyButton : public QToolButton {
    Q_OBJECT
public:
    explicit MyButton(QWidget *parent = nullptr);

Q_SIGNALS:
    void ChangePixmap();
    void OnUpdatePixmap();
    void MusicScan(QString text);

protected:
    void mouseMoveEvent(QMouseEvent *event) override;
    void enterEvent(QEvent *event) override;
    void leaveEvent(QEvent *event) override;
};

// Swallows the Space key so it can never toggle a folder's check box.
class SpaceKeyBlocker : public QObject {
public:
    ~SpaceKeyBlocker() override = default;
    bool eventFilter(QObject *watched, QEvent *event) override;
};

// Unchecks every checked folder of tree except those in keep (folder-list ids), their subfolders
// and, through their children, the folders above them; boxes only, the caller brings the nodes
// in line (SetRecoverSelectedState).
void ClearMarksOfSavedFolders(QTreeWidget *tree, const QSet<qint64> &keep);

class QZovuvozivMainWindow : public QMainWindow {
    Q_OBJECT
public:
    explicit QZovuvozivMainWindow(QWidget *parent = nullptr);
    ~QZovuvozivMainWindow() override;

    QParseDatabase *parseDatabase() const { return m_pParseDatabase; }
    const BrowsePanes &panes() const { return m_panes; }
    // A view keeps the layout table of the most rows it ever held until it is destroyed: a list
    // that has held this many is replaced by a fresh one when it is emptied for another folder or
    // archive. Tests lower it.
    static int s_itemListRenewRows;
    void RenewLargeItemList();

public Q_SLOTS:
    void aboutQarvionMurtlak();
    // Open, stop and exit.
    void OnOpenFile();
    void OnFindFiles();
    void OnStopProcess();
    void OnRunProcess();
    // Save start.
    void OnSaveAs();
    void OnSavingFiles();
    // Views and hover.
    void OnMailView();
    void OnAddressView();
    void OnCalenderView();
    void OnNotesView();
    void OnTasksView();
    void OnMailEnter();
    void OnMailLeave();
    void OnContactEnter();
    void OnContactLeave();
    void OnCalendarEnter();
    void OnCalendarLeave();
    void OnNotesEnter();
    void OnNotesLeave();
    void OnTasksEnter();
    void OnTasksLeave();
    void TimerStart();
    void TimerLeave();
    void TimerStartTask();
    void TimerLeaveTask();
    void TimerStartNote();
    void TimerLeaveNote();
    void TimerStartContact();
    void TimerLeaveContact();
    void TimerStartCalender();
    void TimerLeaveCalender();
    void LeaveEventofAllButton();
    void OnMailButtonClicked();
    void OnContactButtonClicked();
    void OnCalendarButtonClicked();
    void OnNotesButtonClicked();
    void OnTasksButtonClicked();
    void OnClickedMailButton();
    void OnClickedContButton();
    void OnClickedCalButton();
    void OnClickedTaskButton();
    void OnClickedNoteButton();
    // The view of a folder of the given FolderKind, as a click on that folder shows it.
    void ShowKindView(quint32 kind);
    // Scan progress and summary.
    void SetInitialSettings(long long maximum);
    void SetProgressValue(long long value);
    void OnStrInfo(QString text);
    void SetFinishSettingsForMail();
    void OnInformationDlg();
    void OnScanMessage(QString text);
    // The scan's thread has ended: the answer to a stop confirmed during the scan.
    void OnScanEnded();
    // Save progress and finish.
    void SetInitialSettingsForMail(unsigned int total);
    void SetProgressValueForMail();
    // Items the save found on its way: the bar's maximum grows by count.
    void AddSaveSteps(qint64 count);
    void SetFinishSettings();
    void OnAbortSettings();
    // Help, support and update.
    void onUpdateWizard();
    void OpenHelp();
    void OnEmailSupport();
    void OnViewSupport();
    void OnGenerateTicket();
    void OnKnowledgeBase();

protected:
    void moveEvent(QMoveEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    // One view's button, its two hover timers and its step counter.
    struct ViewButton {
        MyButton *button;
        QTimer *tint;
        QTimer *leave;
        int *step;
    };

    void OnInit();
    void CreateActions();
    void CreateMyToolBar();
    void CreateMenuBar();
    void ConnectSignals();
    void CreateLeftDockWindows();
    // Makes, places and wires the item list; an existing one is replaced and deleted.
    void installItemList();
    // Output root and package files of the chosen save type; false (after a message) on failure.
    bool CreateMailFolder();
    bool CreateFilesInMainIdentity(const QString &root);
    // Both Save actions change together.
    void SetSaveEnabled(bool enabled);
    // Yes was given to the stop question of the running (or last) scan.
    bool scanStopConfirmed() const;
    // After a save that is not a full success: only folders with items not saved stay checked.
    void keepMarksOfFoldersNotSaved(const SaveOutcome &outcome);

    // Tests look inside through this peer (tests/support/MainWindowTestPeer.h).
    friend struct MainWindowTestPeer;

    SaveAsWindow *m_pSaveAsWindow = nullptr;
    QMailSavingThread m_SavingThread;
    QFolderInformationThread m_FolderThread;
    QParseDatabase *m_pParseDatabase = nullptr;
    bool m_scanFinishSeen = false;  // the running (or last) scan sent its finish signal
    // The checked items the running save's type cannot hold, for its finish message; else "".
    QString m_saveLeftOutText;
    bool m_scanEndSeen = false;  // its thread's end has been answered (OnScanEnded)
    bool m_summaryHeld = false;  // its summary waits for the answer to its stop question

    // Actions, menus, tool bar.
    QAction *m_pActionOpen = nullptr;
    QAction *m_pActionAbout = nullptr;
    QAction *m_pActionMail = nullptr;
    QAction *m_pActionPeople = nullptr;
    QAction *m_pActionNotes = nullptr;
    QAction *m_pActionTasks = nullptr;
    QAction *m_pActionCalendar = nullptr;
    QAction *m_pActionSaveRepaired = nullptr;
    QAction *m_pActionFindFile = nullptr;
    QAction *m_pActionSave = nullptr;
    InformationDlg *m_pInformationDlg = nullptr;
    QAction *m_pActionHelpTopics = nullptr;
    QAction *m_pActionEmailSupport = nullptr;
    QAction *m_pActionViewSupport = nullptr;
    QAction *m_pActionSubmitEnquiry = nullptr;
    QAction *m_pActionKnowledgeBase = nullptr;
    QMenu *m_pAppMenu = nullptr;
    QMenu *m_pCurrentMenu = nullptr;
    QToolBar *m_pToolBar = nullptr;
    QProgressInfo *m_pProgressInfo = nullptr;
    QProgressBar *m_pProgressBar = nullptr;
    MyButton *m_pMyPeopleButton = nullptr;
    MyButton *m_pMyCalendarButton = nullptr;
    MyButton *m_pMyNotesButton = nullptr;
    MyButton *m_pMyTasksButton = nullptr;
    QLabel *m_pSaveCaption = nullptr;
    QLabel *m_pHoverLabel = nullptr;
    QLabel *m_pMailCaption = nullptr;
    QLabel *m_pTasksCaption = nullptr;
    QLabel *m_pNotesCaption = nullptr;
    QLabel *m_pPeopleCaption = nullptr;
    QLabel *m_pCalendarCaption = nullptr;
    QLabel *m_pOpenCaption = nullptr;
    QLabel *m_pTailSpacer = nullptr;
    QLabel *m_pHeadSpacer = nullptr;
    QTimer *m_pMailEnterTimer = nullptr;
    QTimer *m_pMailLeaveTimer = nullptr;
    QTimer *m_pNotesEnterTimer = nullptr;
    QTimer *m_pNotesLeaveTimer = nullptr;
    QTimer *m_pTasksEnterTimer = nullptr;
    QTimer *m_pTasksLeaveTimer = nullptr;
    QTimer *m_pPeopleEnterTimer = nullptr;
    QTimer *m_pPeopleLeaveTimer = nullptr;
    QTimer *m_pCalendarEnterTimer = nullptr;
    QTimer *m_pCalendarLeaveTimer = nullptr;
    int m_nMailStep = 0;
    int m_nNotesStep = 0;
    int m_nTasksStep = 0;
    int m_nPeopleStep = 0;
    int m_nCalendarStep = 0;
    QAction *m_pActionQuit = nullptr;
    BrowsePanes m_panes;

    // The five views share one algorithm; these run it for one of them.
    ViewButton viewParts(int view);
    void hoverEnter(int view);
    void hoverLeave(int view);
    void tintTick(int view);
    void leaveTick(int view);
    void switchView(int view, bool buildTree);
    void showKindView(int view);
    void clearListsAndPanes();
    void shortReset();
    void fullReset();
    void askAboutLoadedScan();
    bool scanResultsInMemory() const;
    void setViewsEnabled(bool enabled);
    // keepScanQuestion: a scan's stop question still open stays for its answer.
    void restoreControlsAfterRun(bool enableSave, bool keepScanQuestion = false);
    // The scan's stop question is open on its sheet.
    bool scanQuestionOpen() const;
    // The answers to a scan's stop question that come after the scan has ended.
    void onScanStopAnsweredYes();
    void showHeldSummary();
    void closeScanQuestion();
};
