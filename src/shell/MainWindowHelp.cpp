// The Help menu and the Update action.

#include "shell/QZovuvozivMainWindow.h"
#include "shell/SupportLinks.h"
#include "update/QCheckUpdate.h"

void QZovuvozivMainWindow::onUpdateWizard()
{
    bCheckForUpdate = true;
    if (QCheckUpdate::IsRunning()) {
        QCheckUpdate::ShowRunningCheck();  // the pending check reports to the user now
        return;
    }
    auto *check = new QCheckUpdate(this);
    check->hide();
}

void QZovuvozivMainWindow::OpenHelp()
{
    ::OpenHelp();
}
void QZovuvozivMainWindow::OnEmailSupport()
{
    ::OnEmailSupport();
}
void QZovuvozivMainWindow::OnViewSupport()
{
    ::OnViewSupport();
}
void QZovuvozivMainWindow::OnGenerateTicket()
{
    ::OnGenerateTicket();
}
void QZovuvozivMainWindow::OnKnowledgeBase()
{
    ::OnKnowledgeBase();
}
