#pragma once
// Widgets the shell shares across its dialogs and flows. Created by the main window on the GUI
// thread and never deleted while it lives.

class QAction;
class QZovuvozivMainWindow;
class StopDlg;
class CloseApplicationDlg;
class AboutDlg;
class MyButton;

extern QZovuvozivMainWindow *pMainWindow;
extern StopDlg *stopDlgObj;            // the shared Yes/No question
extern CloseApplicationDlg *closeApp;  // the exit question
extern AboutDlg *m_pAboutDlg;          // the newest About dialog
extern QAction *m_pOpenFile;           // tool bar "Open Mailbox"
extern QAction *m_pActionUpdate;       // Tools menu "Update"
extern MyButton *m_pMyMailButton;      // the Mail view button
extern MyButton *m_pMyMailButton1;     // an invisible zero-width tool bar button
