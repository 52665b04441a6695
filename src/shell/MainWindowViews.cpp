// The five view buttons: hover tint, the view switch, and what each view does to the panes.

#include "browse/BrowseGlobals.h"
#include "browse/FolderTree.h"
#include "scanner/ScanGlobals.h"
#include "shell/QParseDatabase.h"
#include "shell/QZovuvozivMainWindow.h"
#include "shell/ShellWidgets.h"

#include <QHeaderView>
#include <QLabel>
#include <QPainter>
#include <QTextBrowser>
#include <QTimer>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>

namespace {

enum View { Mail, People, Calendar, Notes, Tasks, ViewCount };

struct ViewInfo {
    const char *open;
    const char *close;
    const char *hoverName;
    int hoverX;
    quint32 kind;  // FolderKind of the view's folders
};

const ViewInfo kViews[ViewCount] = {
    {":/images/mailopen.png", ":/images/mailclose.png", "Mail", 130, FolderKindMail},
    {":/images/contactopen.png", ":/images/contactclose.png", "Address Book", 140, FolderKindContacts},
    {":/images/calenopen.png", ":/images/calenclose.png", "Calendar", 185, FolderKindCalendar},
    {":/images/notesopen.png", ":/images/notesclose.png", "Notes", 228, FolderKindNotes},
    {":/images/taskopen.png", ":/images/taskclose.png", "Tasks", 262, FolderKindTasks},
};

constexpr int kTintSteps = 13;

bool anyRecords()
{
    return TmpMlrcPtrStart || TmpCTRCPtrStart || TmpCLRCPtrStart || TmpTSRCPtrStart || TmpNTRCPtrStart;
}

bool viewHasRecords(int view)
{
    switch (view) {
    case People:
        return TmpCTRCPtrStart;
    case Calendar:
        return TmpCLRCPtrStart;
    case Notes:
        return TmpNTRCPtrStart;
    case Tasks:
        return TmpTSRCPtrStart;
    default:
        return anyRecords();
    }
}

QIcon tinted(const char *picture)
{
    QPixmap pix(QString::fromLatin1(picture));
    QPainter p(&pix);
    p.setCompositionMode(QPainter::CompositionMode_SourceAtop);
    p.fillRect(pix.rect(), QColor(0, 0, 200, 150));
    p.end();
    return QIcon(pix);
}

}  // namespace

QZovuvozivMainWindow::ViewButton QZovuvozivMainWindow::viewParts(int view)
{
    switch (view) {
    case People:
        return {m_pMyPeopleButton, m_pPeopleEnterTimer, m_pPeopleLeaveTimer, &m_nPeopleStep};
    case Calendar:
        return {m_pMyCalendarButton, m_pCalendarEnterTimer, m_pCalendarLeaveTimer, &m_nCalendarStep};
    case Notes:
        return {m_pMyNotesButton, m_pNotesEnterTimer, m_pNotesLeaveTimer, &m_nNotesStep};
    case Tasks:
        return {m_pMyTasksButton, m_pTasksEnterTimer, m_pTasksLeaveTimer, &m_nTasksStep};
    default:
        return {m_pMyMailButton, m_pMailEnterTimer, m_pMailLeaveTimer, &m_nMailStep};
    }
}

void QZovuvozivMainWindow::hoverEnter(int view)
{
    const ViewButton v = viewParts(view);
    m_pHoverLabel->setText(QLatin1String(kViews[view].hoverName));
    m_pHoverLabel->setGeometry(kViews[view].hoverX, 37, 75, 25);
    if (v.button->isChecked()) {
        v.button->setIcon(QIcon(QLatin1String(kViews[view].open)));
        return;
    }
    *v.step = 0;
    v.tint->start();
}

void QZovuvozivMainWindow::hoverLeave(int view)
{
    const ViewButton v = viewParts(view);
    if (v.button->isChecked()) {
        v.button->setIcon(QIcon(QLatin1String(kViews[view].open)));
        return;
    }
    *v.step = kTintSteps;
    v.leave->start();
    LeaveEventofAllButton();
}

void QZovuvozivMainWindow::tintTick(int view)
{
    const ViewButton v = viewParts(view);
    v.button->setIcon(*v.step != 0 ? tinted(kViews[view].close) : QIcon(QLatin1String(kViews[view].close)));
    if ((*v.step)++ >= kTintSteps) {
        v.tint->stop();
        *v.step = 0;
    }
}

void QZovuvozivMainWindow::leaveTick(int view)
{
    const ViewButton v = viewParts(view);
    if (*v.step == 0)
        v.button->setIcon(QIcon(QLatin1String(kViews[view].close)));
    if ((*v.step)-- < 2) {
        v.leave->stop();
        *v.step = 0;
        v.button->setIcon(QIcon(QLatin1String(kViews[view].close)));
    }
}

void QZovuvozivMainWindow::LeaveEventofAllButton()
{
    for (int view = 0; view < ViewCount; ++view) {
        if (viewParts(view).button->isChecked()) {
            m_pHoverLabel->setText(QLatin1String(kViews[view].hoverName));
            m_pHoverLabel->setGeometry(kViews[view].hoverX, 37, 75, 25);
        }
    }
}

void QZovuvozivMainWindow::switchView(int view, bool buildTree)
{
    for (int other = 0; other < ViewCount; ++other) {
        MyButton *b = viewParts(other).button;
        b->setChecked(other == view);
        b->setIcon(QIcon(QLatin1String(other == view ? kViews[other].open : kViews[other].close)));
    }
    LeaveEventofAllButton();
    if (buildTree && anyRecords())
        m_pParseDatabase->GenerateTree();
}

void QZovuvozivMainWindow::clearListsAndPanes()
{
    stoploopFlag = true;
    m_panes.itemList->clear();
    m_panes.mailHeaderText->clear();
    m_panes.textPreview->clear();
}

void QZovuvozivMainWindow::OnMailView()
{
    OnClickedMailButton();
    stoploopFlag = true;
    m_panes.folderTree->clear();
    clearListsAndPanes();
    m_panes.htmlPreview->clear();
    m_panes.subjectLabel->clear();
    m_panes.recipientsLabel->clear();
    m_panes.dateLabel->clear();
    m_panes.senderLabel->clear();
    if (anyRecords())
        m_pParseDatabase->GenerateTree();
}

void QZovuvozivMainWindow::showKindView(int view)
{
    switchView(view, false);
    clearListsAndPanes();
    m_panes.subjectLabel->hide();
    m_panes.mailHeaderArea->hide();
    m_panes.textPreview->show();
    m_panes.htmlPreview->close();
    if (!viewHasRecords(view)) {
        if (m_panes.folderTree->currentItem()) {
            m_panes.folderTree->currentItem()->setSelected(false);
            if (view == Notes)
                m_panes.folderTree->setFocusPolicy(Qt::NoFocus);
            if (QTreeWidgetItem *root = m_panes.folderTree->topLevelItem(0))
                root->setExpanded(true);
        }
        return;
    }
    for (QTreeWidgetItemIterator it(m_panes.folderTree); *it; ++it) {
        QTreeWidgetItem *item = *it;
        item->setExpanded(false);
        item->setSelected(false);
        item->setCheckState(0, Qt::Unchecked);
        if (item->text(FolderColumnKind).toUInt() == kViews[view].kind) {
            if (QTreeWidgetItem *root = m_panes.folderTree->topLevelItem(0))
                root->setExpanded(true);
            item->setCheckState(0, Qt::Checked);
            item->setExpanded(true);
            item->setSelected(true);
        }
    }
    // What the tree shows checked is what a save uses: the folders unchecked here leave out their
    // own items too.
    TakeFolderBoxesAsChosen(m_panes.folderTree);
    m_pParseDatabase->SetRecoverSelectedState();
}

void QZovuvozivMainWindow::OnAddressView()
{
    showKindView(People);
}
void QZovuvozivMainWindow::OnCalenderView()
{
    showKindView(Calendar);
}
void QZovuvozivMainWindow::OnNotesView()
{
    showKindView(Notes);
}
void QZovuvozivMainWindow::OnTasksView()
{
    showKindView(Tasks);
}

void QZovuvozivMainWindow::OnMailButtonClicked()
{
    switchView(Mail, true);
}
void QZovuvozivMainWindow::OnContactButtonClicked()
{
    switchView(People, false);
}
void QZovuvozivMainWindow::OnCalendarButtonClicked()
{
    switchView(Calendar, false);
}
void QZovuvozivMainWindow::OnNotesButtonClicked()
{
    switchView(Notes, false);
}
void QZovuvozivMainWindow::OnTasksButtonClicked()
{
    switchView(Tasks, false);
}
void QZovuvozivMainWindow::OnClickedMailButton()
{
    switchView(Mail, false);
}
void QZovuvozivMainWindow::OnClickedContButton()
{
    OnContactButtonClicked();
}
void QZovuvozivMainWindow::OnClickedCalButton()
{
    OnCalendarButtonClicked();
}
void QZovuvozivMainWindow::OnClickedTaskButton()
{
    OnTasksButtonClicked();
}
void QZovuvozivMainWindow::OnClickedNoteButton()
{
    OnNotesButtonClicked();
}
void QZovuvozivMainWindow::ShowKindView(quint32 kind)
{
    switch (kind) {
    case FolderKindContacts:
        OnClickedContButton();
        break;
    case FolderKindCalendar:
        OnClickedCalButton();
        break;
    case FolderKindTasks:
        OnClickedTaskButton();
        break;
    case FolderKindNotes:
        OnClickedNoteButton();
        break;
    default:
        OnClickedMailButton();
        break;
    }
}

void QZovuvozivMainWindow::OnMailEnter()
{
    hoverEnter(Mail);
}
void QZovuvozivMainWindow::OnMailLeave()
{
    hoverLeave(Mail);
}
void QZovuvozivMainWindow::OnContactEnter()
{
    hoverEnter(People);
}
void QZovuvozivMainWindow::OnContactLeave()
{
    hoverLeave(People);
}
void QZovuvozivMainWindow::OnCalendarEnter()
{
    hoverEnter(Calendar);
}
void QZovuvozivMainWindow::OnCalendarLeave()
{
    hoverLeave(Calendar);
}
void QZovuvozivMainWindow::OnNotesEnter()
{
    hoverEnter(Notes);
}
void QZovuvozivMainWindow::OnNotesLeave()
{
    hoverLeave(Notes);
}
void QZovuvozivMainWindow::OnTasksEnter()
{
    hoverEnter(Tasks);
}
void QZovuvozivMainWindow::OnTasksLeave()
{
    hoverLeave(Tasks);
}
void QZovuvozivMainWindow::TimerStart()
{
    tintTick(Mail);
}
void QZovuvozivMainWindow::TimerLeave()
{
    leaveTick(Mail);
}
void QZovuvozivMainWindow::TimerStartTask()
{
    tintTick(Tasks);
}
void QZovuvozivMainWindow::TimerLeaveTask()
{
    leaveTick(Tasks);
}
void QZovuvozivMainWindow::TimerStartNote()
{
    tintTick(Notes);
}
void QZovuvozivMainWindow::TimerLeaveNote()
{
    leaveTick(Notes);
}
void QZovuvozivMainWindow::TimerStartContact()
{
    tintTick(People);
}
void QZovuvozivMainWindow::TimerLeaveContact()
{
    leaveTick(People);
}
void QZovuvozivMainWindow::TimerStartCalender()
{
    tintTick(Calendar);
}
void QZovuvozivMainWindow::TimerLeaveCalender()
{
    leaveTick(Calendar);
}
