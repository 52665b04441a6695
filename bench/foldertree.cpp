// Folder tree benchmark: opens ARCHIVE in the main window (headless) the way the Start button
// does, then builds its folder tree again as the end of a scan does, and prints as one JSON
// object the folders, the time from the build's start to the tree painted, the longest turn of
// the event loop meanwhile, and the heap the tree holds (in use with it, less in use without it).
//   olmtreebench ARCHIVE      e.g. an archive of 40,000 folders from make_olm.py --subfolder
// Run it with QT_QPA_PLATFORM=offscreen where there is no display.

#include "browse/FolderTree.h"
#include "platform/WorkerGlobals.h"
#include "scanner/FolderAttributes.h"
#include "scanner/ScanGlobals.h"
#include "shell/QParseDatabase.h"
#include "shell/QZovuvozivMainWindow.h"

#include "WindowBenchUtil.h"

#include <QTreeWidget>

#include <malloc.h>

namespace {

// Opens the archive as the Start button does; returns the longest turn of the event loop from
// Start to the tree shown (the scan runs on its own thread, the tree is built on the window's),
// -1 on failure.
qint64 open(QZovuvozivMainWindow &window)
{
    QParseDatabase *dialog = window.parseDatabase();
    dialog->browseZovuvozivButton->click();
    dialog->StartButton->click();
    QTreeWidget *tree = window.panes().folderTree;
    qint64 longest = 0;
    QElapsedTimer total;
    total.start();
    while (bProcessRunning || tree->topLevelItemCount() == 0) {
        if (total.elapsed() > 900 * 1000LL)
            return -1;
        QElapsedTimer one;
        one.start();
        turn();
        longest = qMax(longest, one.elapsed());
    }
    waitFor([] { return false; }, 1);
    closeDialogs();
    return longest;
}

// Runs the loop for a while and returns its longest turn in ms.
qint64 longestTurn(int ms)
{
    qint64 longest = 0;
    QElapsedTimer total;
    total.start();
    while (total.elapsed() < ms) {
        QElapsedTimer one;
        one.start();
        turn();
        longest = qMax(longest, one.elapsed());
    }
    return longest;
}

}  // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    if (benchArchive(app.arguments(), "olmtreebench ARCHIVE").isEmpty())
        return 2;
    ShellHooks::messageBox = [](const QString &, const QString &) {};
    QZovuvozivMainWindow window;
    window.resize(1050, 640);
    window.show();
    const qint64 openTurn = open(window);
    if (openTurn < 0) {
        fprintf(stderr, "olmtreebench: could not open the archive\n");
        return 1;
    }
    QTreeWidget *tree = window.panes().folderTree;
    tree->clear();
    FreeFolderAttributes();
    longestTurn(300);
    malloc_trim(0);
    const size_t without = mallinfo2().uordblks;

    QElapsedTimer clock;
    clock.start();
    window.parseDatabase()->GenerateTree();
    const qint64 built = clock.elapsed();
    tree->repaint();
    const qint64 painted = clock.elapsed();
    const qint64 longest = longestTurn(500);
    const size_t with = mallinfo2().uordblks;
    const qint64 folders = objMapFID_PID.size();

    // The top box unchecked, then checked again, as a click on it does.
    QTreeWidgetItem *top = tree->topLevelItem(0);
    clock.restart();
    top->setCheckState(FolderColumnName, Qt::Unchecked);
    ApplyFolderBoxChange(top);
    const qint64 uncheckAll = clock.elapsed();
    clock.restart();
    top->setCheckState(FolderColumnName, Qt::Checked);
    ApplyFolderBoxChange(top);
    const qint64 checkAll = clock.elapsed();
    printf("{\"folders\": %lld, \"build_ms\": %lld, \"shown_ms\": %lld, \"longest_turn_after_ms\": %lld, "
           "\"longest_turn_opening_ms\": %lld, \"uncheck_all_ms\": %lld, \"check_all_ms\": %lld, \"tree_heap_bytes\": "
           "%zu, \"bytes_per_folder\": %.0f, \"rss_kb\": %ld}\n",
           folders, built, painted, longest, openTurn, uncheckAll, checkAll, with - without,
           double(with - without) / qMax<qint64>(1, folders), residentKb());
    return 0;
}
