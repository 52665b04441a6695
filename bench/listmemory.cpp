// Memory benchmark of the item list: opens ARCHIVE in the main window (headless), shows one mail
// folder, scrolls its list end to end a page at a time and prints the resident memory after the
// scan, after the folder was opened and after the scroll, with the average page step and the bytes
// the open list holds a row (resident, and allocated on the heap), as one JSON object.
//   olmlistbench ARCHIVE [FOLDER]      FOLDER: the folder's name as the tree shows it (default Inbox)
// Run it with QT_QPA_PLATFORM=offscreen where there is no display.

#include "browse/FolderTree.h"
#include "browse/ItemListFill.h"
#include "platform/WorkerGlobals.h"
#include "shell/QParseDatabase.h"
#include "shell/QZovuvozivMainWindow.h"
#include "shell/ShellHooks.h"
#include "shell/ShellResources.h"

#include "WindowBenchUtil.h"

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QEvent>
#include <QFile>
#include <QPushButton>
#include <QScrollBar>
#include <QTreeWidget>

#include <cstdio>
#include <malloc.h>

namespace {

QTreeWidgetItem *folderNamed(QTreeWidget *tree, const QString &name)
{
    for (QTreeWidgetItemIterator it(tree); *it; ++it) {
        if ((*it)->text(FolderColumnName) == name)
            return *it;
    }
    return nullptr;
}

}  // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    const QString path = benchArchive(args, "olmlistbench ARCHIVE [FOLDER]");
    if (path.isEmpty())
        return 2;
    const QString folderName = args.value(2, QStringLiteral("Inbox"));
    ShellHooks::messageBox = [](const QString &, const QString &) {};

    QZovuvozivMainWindow window;
    window.resize(1050, 640);
    window.show();
    QParseDatabase *open = window.parseDatabase();
    open->browseZovuvozivButton->click();
    open->StartButton->click();
    QTreeWidget *tree = window.panes().folderTree;
    if (!waitFor([&] { return !bProcessRunning && folderNamed(tree, folderName); }, 600)) {
        fprintf(stderr, "olmlistbench: no folder %s after the scan\n", qPrintable(folderName));
        return 1;
    }
    waitFor([] { return false; }, 1);
    closeDialogs();
    const long afterScan = residentKb();
    const size_t heapScan = mallinfo2().uordblks;

    QElapsedTimer fillClock;
    fillClock.start();
    window.parseDatabase()->ShowindivisualMailItemsInfo(folderNamed(tree, folderName), 0);
    waitFor([] { return !ItemListFillRunning(); }, 600);
    const double fillMs = fillClock.nsecsElapsed() / 1e6;
    waitFor([] { return false; }, 1);
    QTreeWidget *list = window.panes().itemList;
    const long afterOpen = residentKb();
    const size_t heapOpen = mallinfo2().uordblks;

    QElapsedTimer clock;
    clock.start();
    QScrollBar *bar = list->verticalScrollBar();
    int pages = 0;
    for (int value = 0; value <= bar->maximum(); value += bar->pageStep(), ++pages) {
        bar->setValue(value);
        turn();
    }
    const double scrollMs = clock.nsecsElapsed() / 1e6;
    bar->setValue(bar->maximum());
    waitFor([] { return false; }, 1);
    const long afterScroll = residentKb();
    const int widgets = list->viewport()->findChildren<QWidget *>(QStringLiteral("mailRow")).size();
    const int rows = list->topLevelItemCount();
    printf("{\"archive\": \"%s\", \"folder\": \"%s\", \"rows\": %d, \"pages\": %d, \"scroll_seconds\": %.2f, "
           "\"page_step_ms\": %.2f, \"fill_seconds\": %.2f, \"row_bytes\": %.0f, \"row_heap_bytes\": %.0f, "
           "\"row_widgets_after_scroll\": %d, \"rss_kb_after_scan\": %ld, \"rss_kb_after_open\": %ld, "
           "\"rss_kb_after_scroll\": %ld, \"scroll_growth_percent\": %.1f}\n",
           qPrintable(path), qPrintable(folderName), rows, pages, scrollMs / 1000.0, pages ? scrollMs / pages : 0.0,
           fillMs / 1000.0, rows ? 1024.0 * double(afterOpen - afterScan) / rows : 0.0,
           rows ? double(heapOpen - heapScan) / rows : 0.0, widgets, afterScan, afterOpen, afterScroll,
           100.0 * double(afterScroll - afterOpen) / double(afterOpen));
    return 0;
}
