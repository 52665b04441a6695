// The folder-tree side of QParseDatabase: building the tree and its attribute list from the
// scan's folder maps, the three-state check propagation, and what a click on a folder does to the
// panes and the view before the item list is filled.

#include "browse/BrowseGlobals.h"
#include "browse/FolderTree.h"
#include "browse/ItemListFill.h"
#include "browse/QPreviewOfItems.h"
#include "platform/WorkerGlobals.h"
#include "scanner/FolderAttributes.h"
#include "scanner/ScanGlobals.h"
#include "shell/QParseDatabase.h"
#include "shell/QZovuvozivMainWindow.h"
#include "shell/ShellGlobals.h"

#include <QGridLayout>
#include <QHash>
#include <QHeaderView>
#include <QLabel>
#include <QSet>
#include <QTextBrowser>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>

namespace {

// The same check state lives in the box, in column 7 ("1", "2", "3") and in the node (1, 2, 3).
quint8 stateCode(Qt::CheckState s)
{
    return s == Qt::Checked ? 1 : s == Qt::PartiallyChecked ? 2 : 3;
}

QString checkCode(Qt::CheckState s)
{
    return QString::number(stateCode(s));
}

Qt::CheckState boxFor(quint8 state)
{
    return state == 1 ? Qt::Checked : state == 2 ? Qt::PartiallyChecked : Qt::Unchecked;
}

QTreeWidget *folderTree()
{
    return pZovuvozivWin ? Panes(pZovuvozivWin).folderTree : nullptr;
}

qint64 idOf(const QTreeWidgetItem *item)
{
    return qint64(item->text(FolderColumnId).toULongLong());
}

bool isRootItem(const QTreeWidgetItem *item)
{
    QTreeWidget *tree = item->treeWidget();
    const QTreeWidgetItem *first = tree ? tree->topLevelItem(0) : nullptr;
    const quint64 rootParent = first ? first->text(FolderColumnParent).toULongLong() : 0;
    return item->text(FolderColumnParent).toULongLong() == rootParent;
}

// Font, size, icon and a checked box with its code. The code agrees with the box from the start:
// a code of "3" under a checked box would make a first click that unchecks a folder look like no
// change, leaving the folder unchecked on screen but saved.
void decorate(QTreeWidgetItem *item, const QString &name, const QString &icon)
{
    item->setText(FolderColumnName, name);
    item->setFont(FolderColumnName, QFont(QStringLiteral("Lucida Grande"), 11));
    item->setSizeHint(FolderColumnName, QSize(20, 20));
    item->setIcon(FolderColumnName, QIcon(icon));
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

// Checked when every child is, unchecked when none is (partly or fully), else partly checked.
Qt::CheckState stateFromChildren(const QTreeWidgetItem *parent)
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

// The click made the box differ from its code: never for a partly checked box.
bool clickChangedBox(const QTreeWidgetItem *item)
{
    const Qt::CheckState box = item->checkState(FolderColumnName);
    const uint code = item->text(FolderColumnCheck).toUInt();
    return (box == Qt::Checked && code != 1) || (box == Qt::Unchecked && code != 3);
}

void emptyAttachmentGrid(QGridLayout *grid)
{
    while (QLayoutItem *entry = grid->takeAt(0)) {
        // A tile may be the sender of the event being handled: delete it later.
        if (QWidget *w = entry->widget())
            w->deleteLater();
        delete entry;
    }
}

void clearPanesForClick(const BrowsePanes &p)
{
    emptyAttachmentGrid(p.attachmentGrid);
    stoploopFlag = true;
    p.mailHeaderText->clear();
    p.textPreview->clear();
    p.textPreview->show();
    p.htmlPreview->close();
    p.itemList->clear();
    p.subjectLabel->close();
    p.mailHeaderArea->close();
    for (QLabel *l : {p.subjectLabel, p.recipientsLabel, p.dateLabel, p.senderLabel})
        l->clear();
}

void showMailPanes(const BrowsePanes &p)
{
    p.textPreview->close();
    p.itemList->clear();
    p.subjectLabel->show();
    p.mailHeaderArea->show();
    p.htmlPreview->clear();
    p.htmlPreview->show();
}

}  // namespace

void QParseDatabase::CleanListAndHash()
{
    stoploopFlag = true;
    ++g_itemListFillSerial;
    FreeFolderAttributes();
    CleanScanResults();
    objMapFileIdTreeItem.clear();
}

void QParseDatabase::GenerateTree()
{
    QTreeWidget *tree = folderTree();
    if (!tree)
        return;
    FreeFolderAttributes();
    objMapFileIdTreeItem.clear();
    // Items left from an earlier build would have no node and shadow the new items' ids.
    tree->clear();
    tree->setIconSize(QSize(20, 20));

    auto *root = new QTreeWidgetItem(tree);
    decorate(root, m_selectedFile, FolderIconForKind(FolderKindMail));
    root->setText(FolderColumnId, QString::number(llRootId));
    root->setText(FolderColumnParent, QStringLiteral("500"));
    root->setExpanded(true);
    objMapFileIdTreeItem.insert(llRootId, root);
    AppendFolderAttribute(1, 0, llRootId, FolderKindMail);

    // Parents get smaller ids than their children, so ascending order finds each parent made.
    for (auto it = objMapFID_PID.cbegin(); it != objMapFID_PID.cend(); ++it)
        AddItemToTree(it.key());

    addFolder1(root, FolderKindMail);
    for (quint32 kind : KindsRecoveredWithoutFolder())
        addFolder1(root, kind);
}

void QParseDatabase::AddItemToTree(qint64 llFolderId)
{
    // A folder whose ancestors up to id 0 have no item, or whose chain loops, is left out.
    QTreeWidgetItem *parent = NearestPlacedAncestor(llFolderId, objMapFID_PID, objMapFileIdTreeItem);
    if (!parent)
        return;
    const qint64 parentId = objMapFID_PID.value(llFolderId);
    const FolderLook look = FolderLookFor(objMapFID_Name.value(llFolderId), parentId);

    auto *item = new QTreeWidgetItem(parent);
    decorate(item, look.shownName, look.icon);
    if (look.kind != FolderKindMail)
        item->setText(FolderColumnKind, QString::number(look.kind));
    item->setText(FolderColumnId, QString::number(llFolderId));
    item->setText(FolderColumnParent, QString::number(quint64(parentId)));
    AppendFolderAttribute(1, parentId, llFolderId, look.kind);
    objMapFileIdTreeItem.insert(llFolderId, item);
    item->setExpanded(true);
}

void QParseDatabase::LeftTreeWidgetItem(QTreeWidgetItem *item)
{
    if (!item)
        return;
    const Qt::CheckState box = item->checkState(FolderColumnName);
    if (isRootItem(item)) {
        if (box != Qt::PartiallyChecked)
            MarkDirToRootCheckedOrUnchecked(stateCode(box), quint64(idOf(item)));
    } else {
        const quint8 code = stateCode(box);
        if (FldrAtribNode *node = FindFolderAttribute(idOf(item)))
            node->bState = code;
        if (code != 2)
            MarkChildAccordingToParent(item, code);
        MarkParentAccordingToChild(item);
    }
    SetRecoverSelectedState();
}

void QParseDatabase::MarkDirToRootCheckedOrUnchecked(unsigned char state, unsigned long long id)
{
    Q_UNUSED(id);
    const quint8 code = state == 1 ? 1 : 3;
    for (FldrAtribNode *node = StartFldrAtrib; node; node = node->pNext)
        node->bState = code;
    if (QTreeWidget *tree = folderTree()) {
        for (QTreeWidgetItemIterator it(tree); *it; ++it)
            (*it)->setCheckState(FolderColumnName, boxFor(code));
    }
}

void QParseDatabase::MarkChildAccordingToParent(QTreeWidgetItem *item, unsigned char state)
{
    QTreeWidget *tree = folderTree();
    if (!item || !tree)
        return;
    // The first item per id in tree order, and the nodes per parent id in list order.
    QHash<qint64, QTreeWidgetItem *> items;
    for (QTreeWidgetItemIterator it(tree); *it; ++it) {
        const qint64 id = idOf(*it);
        if (!items.contains(id))
            items.insert(id, *it);
    }
    QHash<qint64, QVector<FldrAtribNode *>> children;
    for (FldrAtribNode *node = StartFldrAtrib; node; node = node->pNext)
        children[node->llParentId].append(node);

    // Breadth first; an id is queued once, so a loop in the parent ids ends.
    QVector<qint64> queue{idOf(item)};
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
}

void QParseDatabase::MarkParentAccordingToChild(QTreeWidgetItem *item)
{
    while (item && item->parent() && !isRootItem(item)) {
        QTreeWidgetItem *parent = item->parent();
        const Qt::CheckState s = stateFromChildren(parent);
        parent->setCheckState(FolderColumnName, s);
        parent->setText(FolderColumnCheck, checkCode(s));
        if (FldrAtribNode *node = FindFolderAttribute(idOf(parent)))
            node->bState = stateCode(s);
        item = parent;
    }
}

void QParseDatabase::SetRecoverSelectedState()
{
    QTreeWidget *tree = folderTree();
    if (!tree)
        return;
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
            const Qt::CheckState s = stateFromChildren(item);
            if (item->checkState(FolderColumnName) != s)
                item->setCheckState(FolderColumnName, s);
        }
        const Qt::CheckState box = item->checkState(FolderColumnName);
        item->setText(FolderColumnCheck, checkCode(box));
        if (FldrAtribNode *node = nodes.value(idOf(item)))
            node->bState = stateCode(box);
    }
}

void QParseDatabase::ShowindivisualMailItemsInfo(QTreeWidgetItem *item, int column)
{
    Q_UNUSED(column);
    QZovuvozivMainWindow *w = pZovuvozivWin;
    if (!w)
        return;
    clearPanesForClick(Panes(w));
    if (!item)
        return;
    if (bProcessRunning) {
        // The saving thread reads the node states: a box changed now goes back to what it saves.
        if (const FldrAtribNode *node = FindFolderAttribute(idOf(item)))
            item->setCheckState(FolderColumnName, boxFor(node->bState));
    } else if (clickChangedBox(item)) {
        LeftTreeWidgetItem(item);
    } else {
        // Nothing to propagate, but a kind view may have set boxes alone: what is shown is saved.
        SetRecoverSelectedState();
    }
    if (idOf(item) == 0)
        return;
    switch (item->text(FolderColumnKind).toUInt()) {
    case FolderKindContacts:
        w->OnClickedContButton();
        break;
    case FolderKindCalendar:
        w->OnClickedCalButton();
        break;
    case FolderKindTasks:
        w->OnClickedTaskButton();
        break;
    case FolderKindNotes:
        w->OnClickedNoteButton();
        break;
    default:
        showMailPanes(Panes(w));
        w->OnClickedMailButton();
        break;
    }
    FillItemListForFolder(item);
}

void QParseDatabase::OnmailClicked()
{
    if (pZovuvozivWin)
        pZovuvozivWin->OnClickedMailButton();
}

void QParseDatabase::OnMessageSubjectChanged()
{
    if (!pZovuvozivWin || !m_pPreview)
        return;
    // Only the first selected row in tree order is shown.
    QTreeWidgetItemIterator it(Panes(pZovuvozivWin).itemList, QTreeWidgetItemIterator::Selected);
    if (*it)
        m_pPreview->OnMessageSubjectClicked(*it);
}
