#pragma once
// Where a folder click hands over to the item list. The click slot has by then emptied the
// list and the preview pane, applied any check change and switched the view (contacts,
// calendar, tasks, notes, or mail for every other kind); this fills m_pItemList with the
// folder's items.
//
// The folder's id is column 1 of the item, its kind column 6. Records are matched through
// RecordFolderId (browse/FolderTree.h): a per-kind "Folder1" lists the records of its kind that
// carry the dummy id 4294967294. A null item or id 0 never reaches here.

class QTreeWidgetItem;

void FillItemListForFolder(QTreeWidgetItem *folder);
