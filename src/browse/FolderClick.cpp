#include "browse/FolderClick.h"

#include "browse/BrowseGlobals.h"
#include "browse/BrowsePanes.h"
#include "browse/FolderTree.h"
#include "browse/ItemListFill.h"
#include "browse/MailPreview.h"
#include "browse/QPreviewOfItems.h"
#include "platform/FreedMemory.h"
#include "platform/WorkerGlobals.h"
#include "save/SaveFlow.h"
#include "scanner/FolderAttributes.h"
#include "scanner/ScanGlobals.h"

#include <QGridLayout>
#include <QLabel>
#include <QTextBrowser>
#include <QTreeWidget>

namespace {

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
    ClearItemPreview();
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

void ShowClickedFolder(QTreeWidgetItem *item, const ShowKindView &showView)
{
    const BrowsePanes &panes = Panes();
    if (!panes.itemList)
        return;
    clearPanesForClick(panes);
    if (!item)
        return;
    if (bProcessRunning) {
        // The saving thread reads the node states: a box changed now goes back to what it saves.
        if (const FldrAtribNode *node = FindFolderAttribute(FolderIdOf(item))) {
            const bool own = FolderOwnItemsChosen(node);
            item->setCheckState(FolderColumnName,
                                IsOwnRow(item) ? (own ? Qt::Checked : Qt::Unchecked) : FolderBoxFor(node->bState));
        }
    } else if (clickChangedBox(item)) {
        ApplyFolderBoxChange(item);
    } else {
        // Nothing to propagate, but a kind view may have set boxes alone: what is shown is saved.
        SetRecoverSelectedState(item->treeWidget());
    }
    if (FolderIdOf(item) == 0)
        return;
    const quint32 kind = item->text(FolderColumnKind).toUInt();
    const bool mail =
        kind != FolderKindContacts && kind != FolderKindCalendar && kind != FolderKindTasks && kind != FolderKindNotes;
    if (mail)
        showMailPanes(panes);
    if (showView)
        showView(mail ? quint32(FolderKindMail) : kind);
    FillItemListForFolder(item);
}

void CleanBrowseResults()
{
    stoploopFlag = true;
    ++g_itemListFillSerial;
    // Its rows name the records freed here; emptied, it empties the preview too.
    if (Panes().itemList)
        Panes().itemList->clear();
    FreeFolderAttributes();
    FoldersKeepingOwnItems.clear();
    FoldersLeavingOwnItems.clear();
    CleanScanResults();
    objMapFileIdTreeItem.clear();
    // An archive's records are many small blocks: what they took goes back to the system.
    ReturnFreedMemory();
}

void PreviewFirstSelectedItem()
{
    if (!Panes().itemList || !m_pPreview)
        return;
    if (QTreeWidgetItem *current = Panes().itemList->currentItem())
        m_pPreview->OnMessageSubjectClicked(current);
    else
        ClearItemPreview();
}
