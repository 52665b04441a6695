#include "browse/FolderTree.h"

#include "save/SaveFlow.h"
#include "scanner/FolderAttributes.h"
#include "scanner/ScanGlobals.h"

#include <QCoreApplication>
#include <QHash>
#include <QSet>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>

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

quint8 FolderStateCode(Qt::CheckState s)
{
    return s == Qt::Checked ? 1 : s == Qt::PartiallyChecked ? 2 : 3;
}

Qt::CheckState FolderBoxFor(quint8 state)
{
    return state == 1 ? Qt::Checked : state == 2 ? Qt::PartiallyChecked : Qt::Unchecked;
}

qint64 FolderIdOf(const QTreeWidgetItem *item)
{
    return qint64(item->text(FolderColumnId).toULongLong());
}

namespace {

QString checkCode(Qt::CheckState s)
{
    return QString::number(FolderStateCode(s));
}

// Each box set alone makes the view find the item's place by adding up the rows above it, so a
// change to every folder would cost the square of their number: the model stays quiet while the
// boxes change, then the view repaints once.
class QuietBoxes {
public:
    explicit QuietBoxes(QTreeWidget *tree)
        : m_tree(tree), m_model(tree ? tree->model() : nullptr),
          m_wasQuiet(m_model ? m_model->blockSignals(true) : true)
    {
    }
    ~QuietBoxes()
    {
        if (m_wasQuiet)
            return;
        m_model->blockSignals(false);
        const int rows = m_model->rowCount();
        if (rows > 0)
            emit m_model->dataChanged(m_model->index(0, 0), m_model->index(rows - 1, m_model->columnCount() - 1));
        m_tree->viewport()->update();
    }
    QuietBoxes(const QuietBoxes &) = delete;
    QuietBoxes &operator=(const QuietBoxes &) = delete;

private:
    QTreeWidget *m_tree;
    QAbstractItemModel *m_model;
    bool m_wasQuiet;
};

bool isRootItem(const QTreeWidgetItem *item)
{
    QTreeWidget *tree = item->treeWidget();
    const QTreeWidgetItem *first = tree ? tree->topLevelItem(0) : nullptr;
    const quint64 rootParent = first ? first->text(FolderColumnParent).toULongLong() : 0;
    return item->text(FolderColumnParent).toULongLong() == rootParent;
}

// One icon per picture, shared by every folder that shows it: an icon made per folder holds its
// own copy of the picture, which made a tree of many folders cost kilobytes a folder.
QIcon sharedFolderIcon(const QString &path)
{
    // Kept for the program's life: icons must not outlive the application object at exit.
    static auto *icons = new QHash<QString, QIcon>;
    auto it = icons->find(path);
    if (it == icons->end())
        it = icons->insert(path, QIcon(path));
    return it.value();
}

// Font, size, icon and a checked box with its code. The code agrees with the box from the start:
// a code of "3" under a checked box would make a first click that unchecks a folder look like no
// change, leaving the folder unchecked on screen but saved.
void decorate(QTreeWidgetItem *item, const QString &name, const QString &icon)
{
    static const auto *font = new QFont(QStringLiteral("Lucida Grande"), 11);
    item->setText(FolderColumnName, name);
    item->setFont(FolderColumnName, *font);
    item->setSizeHint(FolderColumnName, QSize(20, 20));
    item->setIcon(FolderColumnName, sharedFolderIcon(icon));
    item->setData(FolderColumnName, kFolderIconRole, icon);
    item->setCheckState(FolderColumnName, Qt::Checked);
    item->setText(FolderColumnCheck, QStringLiteral("1"));
}

// A "Folder1" child of the root: the mail one with the dummy id, or one per recovered kind.
void addFolder1(QTreeWidgetItem *root, quint32 kind)
{
    const qint64 id = Folder1IdForKind(kind);
    auto *item = new QTreeWidgetItem(root);
    decorate(item, QStringLiteral("Folder1"), FolderIconForKind(kind));
    item->setText(FolderColumnId, QString::number(id));
    item->setText(FolderColumnParent, QString::number(llRootId));
    if (kind == FolderKindMail)
        item->setText(FolderColumnPath, QStringLiteral("/Main Identity.rge/Folder1"));
    else
        item->setText(FolderColumnKind, QString::number(kind));
    item->setExpanded(true);
    AppendFolderAttribute(1, llRootId, id, kind);
}

// The row of a folder's own items, first among its children: its box says whether they are
// saved, so a partly checked folder shows which. It starts as the folder's box shows: a folder
// checked whole holds its own items.
void addOwnRow(QTreeWidgetItem *folder)
{
    auto *row = new QTreeWidgetItem;
    folder->insertChild(0, row);
    decorate(row, OwnRowName(folder->text(FolderColumnName)),
             folder->data(FolderColumnName, kFolderIconRole).toString());
    QFont italic = row->font(FolderColumnName);
    italic.setItalic(true);
    row->setFont(FolderColumnName, italic);
    row->setData(FolderColumnName, kFolderOwnRowRole, true);
    row->setText(FolderColumnId, folder->text(FolderColumnId));
    row->setText(FolderColumnParent, folder->text(FolderColumnId));
    row->setText(FolderColumnKind, folder->text(FolderColumnKind));
    const Qt::CheckState box = folder->checkState(FolderColumnName) == Qt::Checked ? Qt::Checked : Qt::Unchecked;
    row->setCheckState(FolderColumnName, box);
    row->setText(FolderColumnCheck, checkCode(box));
}

// Sets every row below item to the box, own rows included.
void markSubtree(QTreeWidgetItem *item, Qt::CheckState box)
{
    for (int i = 0; i < item->childCount(); ++i) {
        QTreeWidgetItem *child = item->child(i);
        child->setCheckState(FolderColumnName, box);
        child->setText(FolderColumnCheck, checkCode(box));
        markSubtree(child, box);
    }
}

}  // namespace

QString OwnRowName(const QString &folderName)
{
    // Translated as the window's other texts are: the order of name and word is the language's.
    return QCoreApplication::translate("FolderTree", "%1 itself").arg(folderName);
}

bool HasOwnRow(const QTreeWidgetItem *folder)
{
    return folder && folder->childCount() > 0 && IsOwnRow(folder->child(0));
}

Qt::CheckState StateFromChildren(const QTreeWidgetItem *parent)
{
    int checked = 0, unchecked = 0;
    for (int i = 0; i < parent->childCount(); ++i) {
        const Qt::CheckState c = parent->child(i)->checkState(FolderColumnName);
        checked += c == Qt::Checked;
        unchecked += c == Qt::Unchecked;
    }
    return checked == parent->childCount()  ? Qt::Checked
        : unchecked == parent->childCount() ? Qt::Unchecked
                                            : Qt::PartiallyChecked;
}

void GenerateFolderTree(QTreeWidget *tree, const QString &rootName, const FolderMaps &maps)
{
    if (!tree)
        return;
    FreeFolderAttributes();
    FoldersKeepingOwnItems.clear();
    FoldersLeavingOwnItems.clear();
    objMapFileIdTreeItem.clear();
    // Items left from an earlier build would have no node and shadow the new items' ids.
    tree->clear();
    tree->setIconSize(QSize(20, 20));

    auto *root = new QTreeWidgetItem(tree);
    decorate(root, rootName, FolderIconForKind(FolderKindMail));
    root->setText(FolderColumnId, QString::number(llRootId));
    root->setText(FolderColumnParent, QStringLiteral("500"));
    root->setExpanded(true);
    objMapFileIdTreeItem.insert(llRootId, root);
    AppendFolderAttribute(1, 0, llRootId, FolderKindMail);

    // Parents get smaller ids than their children, so ascending order finds each parent made.
    for (auto it = maps.parents.cbegin(); it != maps.parents.cend(); ++it)
        AddFolderToTree(it.key(), maps);

    addFolder1(root, FolderKindMail);
    for (quint32 kind : KindsRecoveredWithoutFolder())
        addFolder1(root, kind);
}

void AddFolderToTree(qint64 folderId, const FolderMaps &maps)
{
    // A folder whose ancestors up to id 0 have no item, or whose chain loops, is left out.
    QTreeWidgetItem *parent = NearestPlacedAncestor(folderId, maps.parents, objMapFileIdTreeItem);
    if (!parent)
        return;
    const qint64 parentId = maps.parents.value(folderId);
    const FolderLook look = FolderLookFor(maps.names.value(folderId), parentId);

    auto *item = new QTreeWidgetItem(parent);
    decorate(item, look.shownName, look.icon);
    if (look.kind != FolderKindMail)
        item->setText(FolderColumnKind, QString::number(look.kind));
    item->setText(FolderColumnId, QString::number(folderId));
    item->setText(FolderColumnParent, QString::number(quint64(parentId)));
    AppendFolderAttribute(1, parentId, folderId, look.kind);
    objMapFileIdTreeItem.insert(folderId, item);
    item->setExpanded(true);
    if (parent->parent() && !HasOwnRow(parent))
        addOwnRow(parent);
}

void ApplyFolderBoxChange(QTreeWidgetItem *item)
{
    if (!item || !item->treeWidget())
        return;
    const QuietBoxes quiet(item->treeWidget());
    const Qt::CheckState box = item->checkState(FolderColumnName);
    if (isRootItem(item)) {
        if (box != Qt::PartiallyChecked)
            MarkAllFolders(item->treeWidget(), FolderStateCode(box));
    } else if (IsOwnRow(item)) {
        item->setText(FolderColumnCheck, checkCode(box));
        MarkParentsFromChildren(item);
    } else {
        const quint8 code = FolderStateCode(box);
        if (FldrAtribNode *node = FindFolderAttribute(FolderIdOf(item)))
            node->bState = code;
        if (code != 2)
            MarkChildrenLikeParent(item, code);
        MarkParentsFromChildren(item);
    }
    SetRecoverSelectedState(item->treeWidget());
}

void MarkAllFolders(QTreeWidget *tree, quint8 state)
{
    const quint8 code = state == 1 ? 1 : 3;
    for (FldrAtribNode *node = StartFldrAtrib; node; node = node->pNext)
        node->bState = code;
    if (tree) {
        const QuietBoxes quiet(tree);
        for (QTreeWidgetItemIterator it(tree); *it; ++it) {
            (*it)->setCheckState(FolderColumnName, FolderBoxFor(code));
            (*it)->setText(FolderColumnCheck, checkCode(FolderBoxFor(code)));
        }
    }
}

void MarkChildrenLikeParent(QTreeWidgetItem *item, quint8 state)
{
    QTreeWidget *tree = item ? item->treeWidget() : nullptr;
    if (!tree)
        return;
    const QuietBoxes quiet(tree);
    // The first item per id in tree order, and the nodes per parent id in list order.
    QHash<qint64, QTreeWidgetItem *> items;
    for (QTreeWidgetItemIterator it(tree); *it; ++it) {
        const qint64 id = FolderIdOf(*it);
        if (!items.contains(id))
            items.insert(id, *it);
    }
    QHash<qint64, QVector<FldrAtribNode *>> children;
    for (FldrAtribNode *node = StartFldrAtrib; node; node = node->pNext)
        children[node->llParentId].append(node);

    // Breadth first; an id is queued once, so a loop in the parent ids ends.
    QVector<qint64> queue{FolderIdOf(item)};
    QSet<qint64> seen{queue.first()};
    for (int i = 0; i < queue.size(); ++i) {
        for (FldrAtribNode *node : children.value(queue.at(i))) {
            if (QTreeWidgetItem *child = items.value(node->llFolderId))
                child->setCheckState(FolderColumnName, state == 1 ? Qt::Checked : Qt::Unchecked);
            node->bState = state;
            if (!seen.contains(node->llFolderId)) {
                seen.insert(node->llFolderId);
                queue.append(node->llFolderId);
            }
        }
    }
    // The rows of the folders' own items are no nodes: they follow through the tree.
    markSubtree(item, state == 1 ? Qt::Checked : Qt::Unchecked);
}

void MarkParentsFromChildren(QTreeWidgetItem *item)
{
    while (item && item->parent() && !isRootItem(item)) {
        QTreeWidgetItem *parent = item->parent();
        const Qt::CheckState s = StateFromChildren(parent);
        parent->setCheckState(FolderColumnName, s);
        parent->setText(FolderColumnCheck, checkCode(s));
        if (FldrAtribNode *node = FindFolderAttribute(FolderIdOf(parent)))
            node->bState = FolderStateCode(s);
        item = parent;
    }
}

void SetRecoverSelectedState(QTreeWidget *tree)
{
    if (!tree)
        return;
    const QuietBoxes quiet(tree);
    // Boxes may have been set without propagation (the kind views do that): children come
    // before their parents in reverse tree order, so every parent follows its children, and the
    // save then uses what the boxes show.
    QVector<QTreeWidgetItem *> order;
    for (QTreeWidgetItemIterator it(tree); *it; ++it)
        order.append(*it);
    QHash<qint64, FldrAtribNode *> nodes;
    for (FldrAtribNode *node = StartFldrAtrib; node; node = node->pNext) {
        if (!nodes.contains(node->llFolderId))
            nodes.insert(node->llFolderId, node);
    }
    for (int i = order.size() - 1; i >= 0; --i) {
        QTreeWidgetItem *item = order.at(i);
        if (item->childCount() > 0) {
            const Qt::CheckState s = StateFromChildren(item);
            if (item->checkState(FolderColumnName) != s)
                item->setCheckState(FolderColumnName, s);
        }
        const Qt::CheckState box = item->checkState(FolderColumnName);
        item->setText(FolderColumnCheck, checkCode(box));
        if (IsOwnRow(item))
            continue;
        if (FldrAtribNode *node = nodes.value(FolderIdOf(item)))
            node->bState = FolderStateCode(box);
    }
    // A box follows its own row and its subfolders, so only a partly checked folder can keep its
    // own items outside its state code, and none leaves them out under a full tick.
    FoldersKeepingOwnItems.clear();
    FoldersLeavingOwnItems.clear();
    for (QTreeWidgetItem *item : qAsConst(order)) {
        if (IsOwnRow(item) && item->checkState(FolderColumnName) == Qt::Checked
            && item->parent()->checkState(FolderColumnName) != Qt::Checked)
            FoldersKeepingOwnItems.insert(FolderIdOf(item));
    }
}

bool IsOwnRow(const QTreeWidgetItem *item)
{
    return item && item->data(FolderColumnName, kFolderOwnRowRole).toBool();
}

void TakeFolderBoxesAsChosen(QTreeWidget *tree)
{
    if (!tree)
        return;
    // A folder set whole sets its own row; the parents then follow their rows.
    const QuietBoxes quiet(tree);
    for (QTreeWidgetItemIterator it(tree); *it; ++it) {
        if (HasOwnRow(*it) && (*it)->checkState(FolderColumnName) != Qt::PartiallyChecked)
            (*it)->child(0)->setCheckState(FolderColumnName, (*it)->checkState(FolderColumnName));
    }
}
