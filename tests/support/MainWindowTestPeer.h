#pragma once
// What the window tests look at inside the main window: its actions, view buttons, hover
// animation, dialogs and saving thread. The window keeps these private; this peer is its friend.

#include "shell/QZovuvozivMainWindow.h"

struct MainWindowTestPeer {
    explicit MainWindowTestPeer(QZovuvozivMainWindow &w) : window(w) {}

    QZovuvozivMainWindow &window;
    QAction *&m_pActionOpen = window.m_pActionOpen;
    QAction *&m_pActionFindFile = window.m_pActionFindFile;
    QAction *&m_pActionMail = window.m_pActionMail;
    QAction *&m_pActionPeople = window.m_pActionPeople;
    QAction *&m_pActionSave = window.m_pActionSave;
    QAction *&m_pActionSaveRepaired = window.m_pActionSaveRepaired;
    MyButton *&m_pMyPeopleButton = window.m_pMyPeopleButton;
    MyButton *&m_pMyCalendarButton = window.m_pMyCalendarButton;
    MyButton *&m_pMyTasksButton = window.m_pMyTasksButton;
    MyButton *&m_pMyNotesButton = window.m_pMyNotesButton;
    QTimer *&m_pPeopleEnterTimer = window.m_pPeopleEnterTimer;
    QTimer *&m_pPeopleLeaveTimer = window.m_pPeopleLeaveTimer;
    int &m_nPeopleStep = window.m_nPeopleStep;
    InformationDlg *&m_pInformationDlg = window.m_pInformationDlg;
    QProgressInfo *&m_pProgressInfo = window.m_pProgressInfo;
    SaveAsWindow *&m_pSaveAsWindow = window.m_pSaveAsWindow;
    QMailSavingThread &m_SavingThread = window.m_SavingThread;
    void keepMarksOfFoldersNotSaved(const SaveOutcome &outcome) { window.keepMarksOfFoldersNotSaved(outcome); }
};

inline MainWindowTestPeer peer(QZovuvozivMainWindow &w)
{
    return MainWindowTestPeer(w);
}
