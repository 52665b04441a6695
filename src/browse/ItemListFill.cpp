#include "browse/ItemListFill.h"

#include <QtGlobal>

// The item lists are not built yet: a click shows the folder and leaves the list empty.
void FillItemListForFolder(QTreeWidgetItem *folder)
{
    Q_UNUSED(folder);
}
