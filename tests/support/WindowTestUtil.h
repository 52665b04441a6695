#pragma once
// Opens an archive through the main window's "Select OLM File" dialog, as a user would with
// Browse and Start. GUI tests only (needs the shell library).

#include "MainWindowTestPeer.h"
#include "browse/FolderTree.h"
#include "platform/WorkerGlobals.h"
#include "shell/InformationDlg.h"
#include "shell/QParseDatabase.h"
#include "shell/QZovuvozivMainWindow.h"
#include "shell/ShellHooks.h"

#include <QPushButton>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>
#include <QtTest>

// Chooses path with Browse and presses Start; the scan then runs on its thread.
inline void startScanInWindow(QZovuvozivMainWindow &w, const QString &path)
{
    bStopFlag = false;
    stopflag = false;
    ShellHooks::openFileName = [path](QWidget *, const QString &, const QString &) { return path; };
    QParseDatabase *dialog = w.parseDatabase();
    dialog->browseZovuvozivButton->click();
    QVERIFY(dialog->StartButton->isEnabled());
    dialog->StartButton->click();
}

// Opens path as startScanInWindow does, waits for the scan to end and closes its summary.
inline void scanInWindow(QZovuvozivMainWindow &w, const QString &path)
{
    startScanInWindow(w, path);
    if (QTest::currentTestFailed())
        return;
    QTRY_VERIFY_WITH_TIMEOUT(peer(w).m_pInformationDlg != nullptr, 60000);
    peer(w).m_pInformationDlg->close();
}

// The first folder of the tree shown with this name, or null.
inline QTreeWidgetItem *folderNamed(QTreeWidget *tree, const QString &name)
{
    for (QTreeWidgetItemIterator it(tree); *it; ++it) {
        if ((*it)->text(FolderColumnName) == name)
            return *it;
    }
    return nullptr;
}

// Sets the row count past which the window replaces its item list, for the guard's life.
class ItemListRenewRows {
public:
    explicit ItemListRenewRows(int rows) : m_saved(QZovuvozivMainWindow::s_itemListRenewRows)
    {
        QZovuvozivMainWindow::s_itemListRenewRows = rows;
    }
    ~ItemListRenewRows() { QZovuvozivMainWindow::s_itemListRenewRows = m_saved; }
    ItemListRenewRows(const ItemListRenewRows &) = delete;
    ItemListRenewRows &operator=(const ItemListRenewRows &) = delete;

private:
    int m_saved;
};
