#pragma once
// The folder tree as the tests look at it: hand-made folder maps, items found by path, the check
// codes of every box, and the test that box, column-7 code and attribute node agree.

#include "browse/FolderTree.h"
#include "save/SaveFlow.h"
#include "scanner/FolderAttributes.h"
#include "scanner/ScanGlobals.h"

#include <QSet>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>

#include <tuple>

namespace FolderTreeTestUtil {

using Folder = std::tuple<qint64, qint64, QString>;   // id, parent id, key
using Folders = QList<Folder>;

// Replaces the scan's folder maps with hand-made ones.
inline void setMaps(const Folders &folders)
{
    CleanScanResults();
    for (const Folder &f : folders) {
        objMapFID_PID.insert(std::get<0>(f), std::get<1>(f));
        objMapFID_Name.insert(std::get<0>(f), std::get<2>(f));
    }
}

inline QTreeWidgetItem *findItem(QTreeWidget *tree, const QString &path)
{
    QTreeWidgetItem *item = tree->topLevelItem(0);
    if (path == QLatin1String("root"))
        return item;
    for (const QString &name : path.split(QLatin1Char('/'))) {
        QTreeWidgetItem *next = nullptr;
        for (int i = 0; item && i < item->childCount() && !next; ++i) {
            if (item->child(i)->text(0) == name)
                next = item->child(i);
        }
        item = next;
    }
    return item;
}

inline int code(Qt::CheckState s)
{
    return s == Qt::Checked ? 1 : s == Qt::PartiallyChecked ? 2 : 3;
}

// The box of every folder in tree order, as check codes; withOwnRows adds the rows of the
// folders' own items, each as "(" code ")".
inline QString boxes(QTreeWidget *tree, bool withOwnRows = false)
{
    QString out;
    for (QTreeWidgetItemIterator it(tree); *it; ++it) {
        const QString box = QString::number(code((*it)->checkState(0)));
        if (!IsOwnRow(*it))
            out += box;
        else if (withOwnRows)
            out += QLatin1Char('(') + box + QLatin1Char(')');
    }
    return out;
}

// Empty when box, column 7 and node agree on every item and every parent follows its children.
inline QString stepFault(QTreeWidget *tree)
{
    int nodes = 0;
    for (FldrAtribNode *n = StartFldrAtrib; n; n = n->pNext)
        ++nodes;
    int items = 0;
    for (QTreeWidgetItemIterator it(tree); *it; ++it, ++items) {
        QTreeWidgetItem *item = *it;
        const int box = code(item->checkState(0));
        if (IsOwnRow(item)) {
            --items;
            if (item->text(7).toInt() != box || item->childCount() || item->parent()->child(0) != item)
                return QStringLiteral("%1: own row box %2, column 7 %3").arg(item->text(0)).arg(box).arg(item->text(7));
            continue;
        }
        const FldrAtribNode *node = FindFolderAttribute(item->text(1).toLongLong());
        if (!node || node->bState != box || item->text(7).toInt() != box)
            return QStringLiteral("%1: box %2, column 7 %3, node %4")
                .arg(item->text(0)).arg(box).arg(item->text(7)).arg(node ? node->bState : -1);
        if (item->childCount()) {
            QSet<int> kids;
            for (int i = 0; i < item->childCount(); ++i)
                kids.insert(code(item->child(i)->checkState(0)));
            const int expected = kids.size() == 1 && !kids.contains(2) ? *kids.begin() : 2;
            if (box != expected)
                return QStringLiteral("%1: %2 over children %3").arg(item->text(0)).arg(box).arg(expected);
        }
    }
    return items == nodes ? QString() : QStringLiteral("%1 items, %2 nodes").arg(items).arg(nodes);
}

inline qint64 itemsToSave()
{
    return CountCheckedItems(StartFldrAtrib, CurrentSaveItemLists());
}

// root: A(A1, A2(A2x)), B, Folder1 - tree order root A A1 A2 A2x B Folder1.
inline const Folders kSmallTree{{502, 501, QStringLiteral("A")},
                               {503, 502, QStringLiteral("A1")},
                               {504, 502, QStringLiteral("A2")},
                               {505, 504, QStringLiteral("A2x")},
                               {506, 501, QStringLiteral("B")}};

}  // namespace FolderTreeTestUtil
