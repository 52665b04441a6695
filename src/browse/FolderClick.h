#pragma once
// What a click on a folder of the tree does to the panes and the check boxes before the item
// list is filled; the window is told which kind of folder to show, never called.

#include <QtGlobal>

#include <functional>

class QTreeWidgetItem;

// Shows the view of a FolderKind (the window's contacts, calendar, tasks, notes or mail view).
using ShowKindView = std::function<void(quint32 kind)>;

// Empties the preview panes and brings the boxes in line with the click (while a save runs, the
// clicked box goes back to what the save reads); then, for any folder but id 0, has showView show
// the folder's kind and fills the item list.
void ShowClickedFolder(QTreeWidgetItem *item, const ShowKindView &showView);

// Stops any item-list fill, empties the item list and frees the scan's results, the folder
// attributes and the tree map.
void CleanBrowseResults();

// Previews the item list's current row, the row a click or a key moved to (the selection need
// not follow a key); without a current row the preview is emptied.
void PreviewFirstSelectedItem();
