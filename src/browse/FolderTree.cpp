#include "browse/FolderTree.h"

QMap<qint64, QTreeWidgetItem *> objMapFileIdTreeItem;

QTreeWidgetItem *NearestPlacedAncestor(qint64 id, const QMap<qint64, qint64> &parents,
                                       const QMap<qint64, QTreeWidgetItem *> &placed)
{
    // A chain of distinct ids visits at most every key once, then one id that is no key.
    qint64 steps = qint64(parents.size()) + 1;
    qint64 p = id;
    while (steps-- > 0) {
        p = parents.value(p);
        if (QTreeWidgetItem *item = placed.value(p))
            return item;
        if (p == 0)
            return nullptr;
    }
    return nullptr;
}
