// Memory benchmark of opening archives in turn: opens each ARCHIVE in the main window (headless)
// the way the Start button does, shows its largest mail folder, then shows another folder, and
// prints the heap in use (malloc's allocated bytes) and the resident memory after each step, as
// one JSON object. Heap in use after the later archives and after leaving a large folder should
// come back to about its level after the first: what an archive or a folder no longer shown held
// is given back.
//   olmreopenbench ARCHIVE...      e.g. three small archives, one with a 200,000-mail folder, then
//                                  the first again (an archive may be named more than once)
// Run it with QT_QPA_PLATFORM=offscreen where there is no display.

#include "browse/FolderTree.h"
#include "browse/ItemListFill.h"
#include "platform/WorkerGlobals.h"
#include "scanner/ScanGlobals.h"
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
#include <QTreeWidget>

#include <cstdio>
#include <malloc.h>

namespace {

void settle()
{
    waitFor([] { return false; }, 1);
}

// The mail folder with the most mails, and another folder to leave it for.
struct Folders {
    QTreeWidgetItem *largest = nullptr;
    QTreeWidgetItem *other = nullptr;
};

Folders foldersOf(QTreeWidget *tree)
{
    QHash<qint64, qint64> counts;
    for (const MailMLRC *m = TmpMlrcPtrStart; m; m = m->pNext)
        ++counts[m->llFolderId];
    Folders f;
    qint64 most = -1;
    for (QTreeWidgetItemIterator it(tree); *it; ++it) {
        const qint64 id = (*it)->text(FolderColumnId).toLongLong();
        if (id == 0)
            continue;
        if (counts.value(id, 0) > most) {
            if (f.largest)
                f.other = f.largest;
            most = counts.value(id, 0);
            f.largest = *it;
        } else if (!f.other) {
            f.other = *it;
        }
    }
    return f;
}

struct Step {
    QString name;
    size_t heap;
    long rss;
};

Step measure(const QString &name)
{
    settle();
    return {name, mallinfo2().uordblks, residentKb()};
}

bool open(QZovuvozivMainWindow &window, const QString &path)
{
    answerOpenWith(path);
    QParseDatabase *dialog = window.parseDatabase();
    dialog->browseZovuvozivButton->click();
    dialog->StartButton->click();
    QTreeWidget *tree = window.panes().folderTree;
    if (!waitFor([&] { return !bProcessRunning && tree->topLevelItemCount() > 0; }, 900))
        return false;
    settle();
    closeDialogs();
    return true;
}

void show(QZovuvozivMainWindow &window, QTreeWidgetItem *folder)
{
    if (!folder)
        return;
    window.parseDatabase()->ShowindivisualMailItemsInfo(folder, 0);
    waitFor([] { return !ItemListFillRunning(); }, 900);
}

}  // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const QStringList paths = app.arguments().mid(1);
    if (paths.isEmpty()) {
        fprintf(stderr, "usage: olmreopenbench ARCHIVE...\n");
        return 2;
    }
    InitShellResources();
    ShellHooks::messageBox = [](const QString &, const QString &) {};
    QZovuvozivMainWindow window;
    window.resize(1050, 640);
    window.show();
    QVector<Step> steps{measure(QStringLiteral("start"))};
    for (const QString &path : paths) {
        if (!QFile::exists(path) || !open(window, path)) {
            fprintf(stderr, "olmreopenbench: could not open %s\n", qPrintable(path));
            return 1;
        }
        const Folders folders = foldersOf(window.panes().folderTree);
        show(window, folders.largest);
        steps << measure(QStringLiteral("shown ") + path);
        show(window, folders.other);
        steps << measure(QStringLiteral("left ") + path);
    }
    const size_t first = steps.at(1).heap;
    const long firstRss = steps.at(1).rss;
    printf("{\"steps\": [");
    for (int i = 0; i < steps.size(); ++i) {
        const Step &s = steps.at(i);
        printf("%s{\"step\": \"%s\", \"heap_bytes\": %zu, \"rss_kb\": %ld, \"heap_vs_first_open_percent\": %.1f}",
               i ? ", " : "", qPrintable(s.name), s.heap, s.rss,
               100.0 * (double(s.heap) - double(first)) / double(first));
    }
    // Resident memory at the end against its level with the first archive shown: near 1 when
    // what the later archives and folders took went back to the system.
    printf("], \"rss_end_vs_first_open\": %.2f}\n", firstRss > 0 ? double(steps.last().rss) / double(firstRss) : 0.0);
    return 0;
}
