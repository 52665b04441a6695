// The folder-tree side of QParseDatabase: building the tree from the scan's folder maps, check
// propagation, and what a click on a folder switches to.

#include "browse/BrowseGlobals.h"
#include "browse/FolderAttributes.h"
#include "browse/QPreviewOfItems.h"
#include "scanner/ScanGlobals.h"
#include "shell/QParseDatabase.h"
#include "shell/QZovuvozivMainWindow.h"
#include "shell/ShellGlobals.h"

#include <QHash>
#include <QHeaderView>
#include <QTreeWidget>

namespace {

struct FolderName {
    QString name;
    quint32 kind;
};

// A folder key is its name plus, for non-mail folders, a kind marker.
FolderName splitFolderKey(const QString &key)
{
    static const struct {
        const char *marker;
        quint32 kind;
    } markers[] = {{"notmailcontact", 41}, {"notmailcalender", 42}, {"notmailtask", 43}, {"notmailnotes", 44}};
    for (const auto &m : markers) {
        if (key.endsWith(QLatin1String(m.marker)))
            return {key.left(key.size() - int(strlen(m.marker))), m.kind};
    }
    return {key, 0};
}

QString checkCode(Qt::CheckState s)
{
    return s == Qt::Checked ? QStringLiteral("1") : s == Qt::PartiallyChecked ? QStringLiteral("2") : QStringLiteral("3");
}

quint8 stateCode(Qt::CheckState s)
{
    return s == Qt::Checked ? 1 : s == Qt::PartiallyChecked ? 2 : 3;
}

QTreeWidgetItem *newFolderItem(const QString &name, qint64 id, qint64 parent, quint32 kind)
{
    auto *item = new QTreeWidgetItem;
    item->setText(0, name);
    item->setText(1, QString::number(id));
    item->setText(2, QString::number(parent));
    item->setText(6, QString::number(kind));
    item->setText(7, QStringLiteral("1"));
    item->setCheckState(0, Qt::Checked);
    item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
    AppendFolderAttribute(1, id, kind);
    return item;
}

template <typename T>
bool anyInFolder(const T *head, qint64 folderId)
{
    for (const T *r = head; r; r = r->pNext) {
        if (r->llFolderId == folderId)
            return true;
    }
    return false;
}

// Items recovered without a folder live in the dummy "Folder1".
bool folder1Used()
{
    return anyInFolder(TmpMlrcPtrStart, llFolder1Id) || anyInFolder(TmpCTRCPtrStart, llFolder1Id)
           || anyInFolder(TmpCLRCPtrStart, llFolder1Id) || anyInFolder(TmpTSRCPtrStart, llFolder1Id)
           || anyInFolder(TmpNTRCPtrStart, llFolder1Id);
}

FldrAtribNode *nodeFor(qint64 id)
{
    for (FldrAtribNode *n = StartFldrAtrib; n; n = n->pNext)
        if (n->llFolderId == id)
            return n;
    return nullptr;
}

void storeState(QTreeWidgetItem *item)
{
    const Qt::CheckState s = item->checkState(0);
    item->setText(7, checkCode(s));
    if (FldrAtribNode *n = nodeFor(item->text(1).toLongLong()))
        n->bState = stateCode(s);
}

void setSubtree(QTreeWidgetItem *item, Qt::CheckState s)
{
    item->setCheckState(0, s);
    storeState(item);
    for (int i = 0; i < item->childCount(); ++i)
        setSubtree(item->child(i), s);
}

} // namespace

void QParseDatabase::CleanListAndHash()
{
    stoploopFlag = true;
    FreeFolderAttributes();
    CleanScanResults();
}

void QParseDatabase::GenerateTree()
{
    if (!pZovuvozivWin)
        return;
    QTreeWidget *tree = pZovuvozivWin->m_pFolderTree;
    FreeFolderAttributes();
    QHash<qint64, QTreeWidgetItem *> items;
    auto *root = newFolderItem(QString::fromLatin1(CurrentPath), llRootId, 500, 0);
    tree->addTopLevelItem(root);
    items.insert(llRootId, root);
    // Ids grow with depth, so every parent exists before its children.
    for (auto it = objMapFID_PID.cbegin(); it != objMapFID_PID.cend(); ++it) {
        QTreeWidgetItem *parent = items.value(it.value(), root);
        const FolderName f = splitFolderKey(objMapFID_Name.value(it.key()));
        QTreeWidgetItem *item = newFolderItem(f.name, it.key(), it.value(), f.kind);
        parent->addChild(item);
        items.insert(it.key(), item);
    }
    if (folder1Used()) {
        QTreeWidgetItem *item = newFolderItem(QStringLiteral("Folder1"), llFolder1Id, llRootId, 0);
        item->setText(3, QStringLiteral("Folder1"));
        root->addChild(item);
    }
    root->setExpanded(true);
}

void QParseDatabase::LeftTreeWidgetItem(QTreeWidgetItem *item)
{
    if (!item)
        return;
    const Qt::CheckState s = item->checkState(0) == Qt::PartiallyChecked ? Qt::Checked : item->checkState(0);
    setSubtree(item, s);
    // Parents show checked, unchecked or partly checked after their children.
    for (QTreeWidgetItem *p = item->parent(); p; p = p->parent()) {
        int checked = 0, unchecked = 0;
        for (int i = 0; i < p->childCount(); ++i) {
            const Qt::CheckState c = p->child(i)->checkState(0);
            checked += c == Qt::Checked;
            unchecked += c == Qt::Unchecked;
        }
        p->setCheckState(0, checked == p->childCount() ? Qt::Checked
                            : unchecked == p->childCount() ? Qt::Unchecked
                                                            : Qt::PartiallyChecked);
        storeState(p);
    }
}

void QParseDatabase::ShowindivisualMailItemsInfo(QTreeWidgetItem *item, int column)
{
    Q_UNUSED(column);
    stoploopFlag = true;
    if (!item || !pZovuvozivWin)
        return;
    // A check box the user changed differs from the stored code: apply it.
    if (item->text(7) != checkCode(item->checkState(0)))
        LeftTreeWidgetItem(item);
    switch (item->text(6).toUInt()) {
    case 41: pZovuvozivWin->OnClickedContButton(); break;
    case 42: pZovuvozivWin->OnClickedCalButton(); break;
    case 43: pZovuvozivWin->OnClickedTaskButton(); break;
    case 44: pZovuvozivWin->OnClickedNoteButton(); break;
    default: pZovuvozivWin->OnClickedMailButton(); break;
    }
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
    const QList<QTreeWidgetItem *> selected = pZovuvozivWin->m_pItemList->selectedItems();
    if (!selected.isEmpty())
        m_pPreview->OnMessageSubjectClicked(selected.first());
}

void QParseDatabase::DisconnectItemListHeader()
{
    for (const QMetaObject::Connection &c : qAsConst(m_headerConnections))
        disconnect(c);
    m_headerConnections.clear();
}
