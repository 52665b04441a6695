#include "shell/QZovuvozivMainWindow.h"

#include "platform/Edition.h"
#include "scanner/ScanGlobals.h"
#include "shell/AboutDlg.h"
#include "shell/CloseApplicationDlg.h"
#include "shell/QParseDatabase.h"
#include "shell/SaveAsWindow.h"
#include "shell/ShellGlobals.h"
#include "shell/ShellWidgets.h"
#include "shell/StopDlg.h"
#include "shell/ToolBarCaptions.h"

#include <QAction>
#include <QApplication>
#include <QDesktopWidget>
#include <QKeyEvent>
#include <QLabel>
#include <QMenuBar>
#include <QPushButton>
#include <QTimer>
#include <QToolBar>
#include <QTreeWidget>

QZovuvozivMainWindow *pMainWindow = nullptr;
StopDlg *stopDlgObj = nullptr;
CloseApplicationDlg *closeApp = nullptr;
AboutDlg *m_pAboutDlg = nullptr;
QAction *m_pOpenFile = nullptr;
QAction *m_pActionUpdate = nullptr;
MyButton *m_pMyMailButton = nullptr;
MyButton *m_pMyMailButton1 = nullptr;

MyButton::MyButton(QWidget *parent) : QToolButton(parent)
{
    setMouseTracking(true);
    setCheckable(true);
    setIconSize(QSize(32, 32));
}

void MyButton::mouseMoveEvent(QMouseEvent *event)
{
    event->accept();
}

void MyButton::enterEvent(QEvent *event)
{
    QToolButton::enterEvent(event);
    Q_EMIT MusicScan(QStringLiteral("Hi"));
    Q_EMIT ChangePixmap();
}

void MyButton::leaveEvent(QEvent *event)
{
    QToolButton::leaveEvent(event);
    Q_EMIT OnUpdatePixmap();
}

bool SpaceKeyBlocker::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease) {
        if (static_cast<QKeyEvent *>(event)->key() == Qt::Key_Space)
            return true;
    }
    return QObject::eventFilter(watched, event);
}

QZovuvozivMainWindow::QZovuvozivMainWindow(QWidget *parent) : QMainWindow(parent)
{
    setObjectName(QStringLiteral("QZovuvozivMainWindow"));
    pMainWindow = this;
    OnInit();
    setContextMenuPolicy(Qt::NoContextMenu);
}

QZovuvozivMainWindow::~QZovuvozivMainWindow()
{
    // Workers must not outlive the lists and widgets they use.
    bStopFlag = true;
    stopflag = true;
    m_SavingThread.wait();
    if (&Panes() == &m_panes)
        SetBrowsePanes(nullptr);
    if (pMainWindow == this)
        pMainWindow = nullptr;
}

void QZovuvozivMainWindow::OnInit()
{
    m_pAboutDlg = new AboutDlg(this);
    stopDlgObj = new StopDlg(this);
    closeApp = new CloseApplicationDlg(this);
    setWindowTitle(EditionName());
    // Start with empty lists; freeing (not just forgetting) anything an earlier window left.
    QParseDatabase::CleanListAndHash();
    CreateActions();
    CreateMyToolBar();
    CreateMenuBar();
    // Centred a little up and left, then kept on the screen.
    const QRect desk = QApplication::desktop()->availableGeometry(this);
    QPoint at((desk.width() - width()) / 2 - 130, (desk.height() - height()) / 2 - 100);
    at.setX(qMax(desk.left(), qMin(at.x(), desk.right() - width())));
    at.setY(qMax(desk.top(), qMin(at.y(), desk.bottom() - height())));
    move(at);
    CreateLeftDockWindows();
    SetBrowsePanes(&m_panes);
    m_pParseDatabase = new QParseDatabase(this);
    ConnectSignals();
    setUnifiedTitleAndToolBarOnMac(true);
    m_pActionUpdate->setEnabled(true);
    m_pParseDatabase->StartButton->setEnabled(false);
}

namespace {

using WindowSlot = void (QZovuvozivMainWindow::*)();

QAction *makeAction(QZovuvozivMainWindow *w, const QString &text, WindowSlot slot, const QString &shortcut = QString())
{
    auto *a = new QAction(text, w);
    if (!shortcut.isEmpty())
        a->setShortcut(QKeySequence(shortcut));
    QObject::connect(a, &QAction::triggered, w, slot);
    return a;
}

}  // namespace

void QZovuvozivMainWindow::CreateActions()
{
    m_pActionUpdate = makeAction(this, tr("Update"), &QZovuvozivMainWindow::onUpdateWizard);
    m_pActionAbout =
        makeAction(this, tr("&About  %1...").arg(EditionName()), &QZovuvozivMainWindow::aboutQarvionMurtlak);
    m_pActionMail = makeAction(this, tr("Mail"), &QZovuvozivMainWindow::OnMailView, tr("Ctrl+1"));
    m_pActionMail->setToolTip(tr("View Mail"));
    m_pActionPeople = makeAction(this, tr("People"), &QZovuvozivMainWindow::OnAddressView, tr("Ctrl+2"));
    m_pActionPeople->setToolTip(tr("View People"));
    m_pActionCalendar = makeAction(this, tr("Calendar"), &QZovuvozivMainWindow::OnCalenderView, tr("Ctrl+3"));
    m_pActionCalendar->setToolTip(tr("View Calendar"));
    m_pActionNotes = makeAction(this, tr("Notes"), &QZovuvozivMainWindow::OnNotesView, tr("Ctrl+4"));
    m_pActionNotes->setToolTip(tr("View  "));
    m_pActionTasks = makeAction(this, tr("Tasks"), &QZovuvozivMainWindow::OnTasksView, tr("Ctrl+5"));
    m_pActionTasks->setToolTip(tr("View Tasks"));
    // One Ctrl+S for the two Save actions: the tool bar one owns it, so one press saves once.
    m_pActionSaveRepaired =
        makeAction(this, tr("Save Repaired Mailbox"), &QZovuvozivMainWindow::OnSaveAs, tr("Ctrl+S"));
    m_pActionSaveRepaired->setIcon(QIcon(QStringLiteral(":/images/img_savedisable.png")));
    m_pOpenFile = makeAction(this, tr("Open Mailbox"), &QZovuvozivMainWindow::OnOpenFile);
    m_pOpenFile->setIcon(QIcon(QStringLiteral(":/images/img_openenable.png")));
    m_pActionOpen = makeAction(this, tr("Open"), &QZovuvozivMainWindow::OnOpenFile, tr("Ctrl+N"));
    m_pActionSave = makeAction(this, tr("Save"), &QZovuvozivMainWindow::OnSaveAs);
    m_pActionFindFile = makeAction(this, tr("Find File"), &QZovuvozivMainWindow::OnFindFiles, tr("Ctrl+F"));
    m_pActionHelpTopics = makeAction(this, tr("&Help Topics..."), &QZovuvozivMainWindow::OpenHelp, tr("Ctrl+?"));
    m_pActionEmailSupport = makeAction(this, tr("&Email to Qarvion Support"), &QZovuvozivMainWindow::OnEmailSupport);
    m_pActionViewSupport = makeAction(this, tr("&View Support Section"), &QZovuvozivMainWindow::OnViewSupport);
    m_pActionSubmitEnquiry = makeAction(this, tr("&Submit Enquiry"), &QZovuvozivMainWindow::OnGenerateTicket);
    m_pActionKnowledgeBase =
        makeAction(this, tr("&View Knowledgebase Articles"), &QZovuvozivMainWindow::OnKnowledgeBase);
    SetSaveEnabled(false);
    const QList<QAction *> named = {m_pActionUpdate,   m_pActionAbout, m_pActionMail,  m_pActionPeople,
                                    m_pActionCalendar, m_pActionNotes, m_pActionTasks, m_pActionSaveRepaired,
                                    m_pOpenFile,       m_pActionOpen,  m_pActionSave,  m_pActionFindFile};
    const char *names[] = {"actionUpdate",      "actionAbout", "actionMail",  "actionPeople",
                           "actionCalendar",    "actionNotes", "actionTasks", "actionSaveRepaired",
                           "actionOpenMailbox", "actionOpen",  "actionSave",  "actionFindFile"};
    for (int i = 0; i < named.size(); ++i)
        named[i]->setObjectName(QLatin1String(names[i]));
}

void QZovuvozivMainWindow::SetSaveEnabled(bool enabled)
{
    m_pActionSaveRepaired->setEnabled(enabled);
    m_pActionSave->setEnabled(enabled);
    m_pActionSaveRepaired->setIcon(QIcon(enabled ? QStringLiteral(":/images/img_saveenable.png")
                                                 : QStringLiteral(":/images/img_savedisable.png")));
}

namespace {

MyButton *viewButton(QWidget *parent, const QString &picture, const QString &tip, const char *name)
{
    auto *b = new MyButton(parent);
    b->setObjectName(QLatin1String(name));
    b->setCheckable(true);
    b->setFixedSize(30, 28);
    b->setToolButtonStyle(Qt::ToolButtonIconOnly);
    b->setCursor(Qt::PointingHandCursor);
    b->setIcon(QIcon(picture));
    b->setToolTip(tip);
    return b;
}

MyButton *spacerButton(QWidget *parent, int width)
{
    auto *b = new MyButton(parent);
    b->setCheckable(false);
    b->setFixedSize(width, 28);
    return b;
}

QLabel *caption(QWidget *toolBar, const QString &text, const QRect &rect, int points)
{
    auto *l = new QLabel(text, toolBar);
    l->setGeometry(rect);
    l->setFont(QFont(QStringLiteral("Lucida Grande"), points));
    return l;
}

}  // namespace

void QZovuvozivMainWindow::CreateMyToolBar()
{
    m_pMyMailButton = viewButton(this, QStringLiteral(":/images/mailopen.png"), tr("Mail"), "mailButton");
    m_pMyMailButton->setAutoRaise(true);
    m_pMyPeopleButton = viewButton(this, QStringLiteral(":/images/contactclose.png"), tr("People"), "peopleButton");
    m_pMyCalendarButton = viewButton(this, QStringLiteral(":/images/calenclose.png"), tr("Calendar"), "calendarButton");
    m_pMyNotesButton = viewButton(this, QStringLiteral(":/images/notesclose.png"), tr("Notes"), "notesButton");
    m_pMyTasksButton = viewButton(this, QStringLiteral(":/images/taskclose.png"), tr("Tasks"), "tasksButton");
    m_pMyMailButton1 = spacerButton(this, 0);
    MyButton *gaps[4];
    for (MyButton *&g : gaps)
        g = spacerButton(this, 9);

    m_pToolBar = addToolBar(tr("ToolBar"));
    m_pToolBar->setObjectName(QStringLiteral("mainToolBar"));
    m_pToolBar->setStyleSheet(
        QStringLiteral("QToolBar { background-color: white; border: none;border-bottom: 2px solid grey; }"));
    m_pToolBar->setOrientation(Qt::Horizontal);
    m_pToolBar->setMovable(false);
    m_pToolBar->setFloatable(false);
    m_pToolBar->setIconSize(QSize(35, 35));

    m_pMailCaption = caption(m_pToolBar, tr("Mail"), QRect(130, 36, 75, 25), 11);
    m_pCalendarCaption = caption(m_pToolBar, tr("Calendar"), QRect(164, 36, 75, 25), 11);
    m_pPeopleCaption = caption(m_pToolBar, tr("People"), QRect(218, 36, 75, 25), 11);
    m_pTasksCaption = caption(m_pToolBar, tr("Tasks"), QRect(267, 36, 75, 25), 11);
    m_pNotesCaption = caption(m_pToolBar, tr("Notes"), QRect(313, 36, 75, 25), 11);
    // Below the drawn part of their 35-pixel icons, whose lowest rows are transparent.
    m_pOpenCaption = caption(m_pToolBar, tr("Open"), QRect(22, 44, 50, 20), 11);
    m_pSaveCaption = caption(m_pToolBar, tr("Save"), QRect(72, 44, 50, 20), 11);
    m_pHoverLabel = new QLabel(m_pToolBar);
    m_pHoverLabel->hide();

    m_pHeadSpacer = new QLabel(this);
    m_pHeadSpacer->setFixedSize(10, 15);
    m_pTailSpacer = new QLabel(this);
    m_pTailSpacer->setFixedHeight(58);
    m_pToolBar->addWidget(m_pHeadSpacer);
    m_pToolBar->addAction(m_pOpenFile);
    m_pToolBar->addAction(m_pActionSaveRepaired);
    m_pToolBar->addSeparator();
    m_pToolBar->addWidget(m_pMyMailButton1);
    m_pToolBar->addWidget(m_pMyMailButton);
    m_pToolBar->addWidget(gaps[0]);
    m_pToolBar->addWidget(m_pMyCalendarButton);
    m_pToolBar->addWidget(gaps[1]);
    m_pToolBar->addWidget(m_pMyPeopleButton);
    m_pToolBar->addWidget(gaps[2]);
    m_pToolBar->addWidget(m_pMyTasksButton);
    m_pToolBar->addWidget(gaps[3]);
    m_pToolBar->addWidget(m_pMyNotesButton);
    m_pToolBar->addWidget(m_pTailSpacer);
    new ToolBarCaptions(m_pToolBar,
                        {{m_pOpenCaption, m_pToolBar->widgetForAction(m_pOpenFile), nullptr},
                         {m_pSaveCaption, m_pToolBar->widgetForAction(m_pActionSaveRepaired), nullptr},
                         {m_pMailCaption, m_pMyMailButton, m_pMyMailButton1},
                         {m_pCalendarCaption, m_pMyCalendarButton, gaps[0]},
                         {m_pPeopleCaption, m_pMyPeopleButton, gaps[1]},
                         {m_pTasksCaption, m_pMyTasksButton, gaps[2]},
                         {m_pNotesCaption, m_pMyNotesButton, gaps[3]}});

    const struct {
        MyButton *button;
        WindowSlot enter, leave, view;
    } wiring[] = {
        {m_pMyMailButton, &QZovuvozivMainWindow::OnMailEnter, &QZovuvozivMainWindow::OnMailLeave,
         &QZovuvozivMainWindow::OnMailView},
        {m_pMyPeopleButton, &QZovuvozivMainWindow::OnContactEnter, &QZovuvozivMainWindow::OnContactLeave,
         &QZovuvozivMainWindow::OnAddressView},
        {m_pMyCalendarButton, &QZovuvozivMainWindow::OnCalendarEnter, &QZovuvozivMainWindow::OnCalendarLeave,
         &QZovuvozivMainWindow::OnCalenderView},
        {m_pMyNotesButton, &QZovuvozivMainWindow::OnNotesEnter, &QZovuvozivMainWindow::OnNotesLeave,
         &QZovuvozivMainWindow::OnNotesView},
        {m_pMyTasksButton, &QZovuvozivMainWindow::OnTasksEnter, &QZovuvozivMainWindow::OnTasksLeave,
         &QZovuvozivMainWindow::OnTasksView},
    };
    for (const auto &w : wiring) {
        connect(w.button, &MyButton::ChangePixmap, this, w.enter);
        connect(w.button, &MyButton::OnUpdatePixmap, this, w.leave);
        connect(w.button, &MyButton::clicked, this, w.view);
    }
}

void QZovuvozivMainWindow::CreateMenuBar()
{
    m_pActionQuit = new QAction(QIcon(), tr("Quit"), this);
    m_pActionQuit->setObjectName(QStringLiteral("actionQuit"));
    m_pActionQuit->setShortcuts(QKeySequence::Quit);
    m_pActionQuit->setMenuRole(QAction::QuitRole);
    m_pActionQuit->setShortcutContext(Qt::ApplicationShortcut);
    connect(m_pActionQuit, &QAction::triggered, this, [this](bool) { close(); });

    m_pAppMenu = menuBar()->addMenu(tr("&%1").arg(EditionName()));
    m_pAppMenu->addAction(m_pActionAbout);
    m_pAppMenu->addAction(m_pActionQuit);
    m_pCurrentMenu = menuBar()->addMenu(tr("&File"));
    m_pCurrentMenu->addActions({m_pActionOpen, m_pActionSave, m_pActionFindFile});
    m_pCurrentMenu = menuBar()->addMenu(tr("&View"));
    m_pCurrentMenu->addActions({m_pActionMail, m_pActionPeople, m_pActionCalendar, m_pActionNotes, m_pActionTasks});
    if (!bForappstore) {
        m_pCurrentMenu = menuBar()->addMenu(tr("&Tools"));
        m_pCurrentMenu->addAction(m_pActionUpdate);
    }
    m_pCurrentMenu = menuBar()->addMenu(tr("&Help"));
    m_pCurrentMenu->addAction(m_pActionHelpTopics);
    m_pCurrentMenu->addSeparator();
    m_pCurrentMenu->addActions(
        {m_pActionEmailSupport, m_pActionViewSupport, m_pActionSubmitEnquiry, m_pActionKnowledgeBase});
}

void QZovuvozivMainWindow::ConnectSignals()
{
    bLastState = true;
    m_pMailEnterTimer = new QTimer(this);
    m_pMailLeaveTimer = new QTimer(this);
    m_pTasksEnterTimer = new QTimer(this);
    m_pTasksLeaveTimer = new QTimer(this);
    m_pNotesEnterTimer = new QTimer(this);
    m_pNotesLeaveTimer = new QTimer(this);
    m_pPeopleEnterTimer = new QTimer(this);
    m_pPeopleLeaveTimer = new QTimer(this);
    m_pCalendarEnterTimer = new QTimer(this);
    m_pCalendarLeaveTimer = new QTimer(this);
    m_pSaveAsWindow = new SaveAsWindow(this);

    connect(&m_SavingThread, &QMailSavingThread::OnInitialSettingsMainWindow, this,
            &QZovuvozivMainWindow::SetInitialSettingsForMail);
    connect(&m_SavingThread, &QMailSavingThread::OnProgressvalueMainWindow, this,
            &QZovuvozivMainWindow::SetProgressValueForMail);
    connect(&m_SavingThread, &QMailSavingThread::moreSteps, this, &QZovuvozivMainWindow::AddSaveSteps);
    connect(&m_SavingThread, &QMailSavingThread::OnFinishScanningMainWindow, this,
            &QZovuvozivMainWindow::SetFinishSettingsForMail);
    const struct {
        QTimer *timer;
        WindowSlot slot;
    } timers[] = {{m_pMailEnterTimer, &QZovuvozivMainWindow::TimerStart},
                  {m_pMailLeaveTimer, &QZovuvozivMainWindow::TimerLeave},
                  {m_pTasksEnterTimer, &QZovuvozivMainWindow::TimerStartTask},
                  {m_pTasksLeaveTimer, &QZovuvozivMainWindow::TimerLeaveTask},
                  {m_pNotesEnterTimer, &QZovuvozivMainWindow::TimerStartNote},
                  {m_pNotesLeaveTimer, &QZovuvozivMainWindow::TimerLeaveNote},
                  {m_pPeopleEnterTimer, &QZovuvozivMainWindow::TimerStartContact},
                  {m_pPeopleLeaveTimer, &QZovuvozivMainWindow::TimerLeaveContact},
                  {m_pCalendarEnterTimer, &QZovuvozivMainWindow::TimerStartCalender},
                  {m_pCalendarLeaveTimer, &QZovuvozivMainWindow::TimerLeaveCalender}};
    for (const auto &t : timers) {
        connect(t.timer, &QTimer::timeout, this, t.slot);
        t.timer->setInterval(30);
    }
    // The thread's own end, stopped or not: the one place that tells how the save went.
    connect(&m_SavingThread, &QThread::finished, this, &QZovuvozivMainWindow::SetFinishSettings);
    connect(&m_SavingThread, &QMailSavingThread::strInfo, this, &QZovuvozivMainWindow::OnStrInfo);
    connect(m_pSaveAsWindow, &SaveAsWindow::SaveOk, this, &QZovuvozivMainWindow::OnSavingFiles);
    connect(stopDlgObj->yesButton(), &QPushButton::clicked, this, &QZovuvozivMainWindow::OnStopProcess);
    connect(stopDlgObj->noButton(), &QPushButton::clicked, this, &QZovuvozivMainWindow::OnRunProcess);
    m_nMailStep = m_nNotesStep = m_nTasksStep = m_nPeopleStep = m_nCalendarStep = 0;
}

void QZovuvozivMainWindow::aboutQarvionMurtlak()
{
    m_pAboutDlg = new AboutDlg(this);
    m_pAboutDlg->exec();
}

void QZovuvozivMainWindow::moveEvent(QMoveEvent *event)
{
    QMainWindow::moveEvent(event);
}
