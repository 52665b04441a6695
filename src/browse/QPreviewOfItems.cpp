#include "browse/QPreviewOfItems.h"

#include "browse/BrowseGlobals.h"

bool stoploopFlag = false;
QZovuvozivMainWindow *pZovuvozivWin = nullptr;
QZovuvozivMainWindow *pZovuvozivWinTemp = nullptr;
QPreviewOfItems *m_pPreview = nullptr;

QPreviewOfItems::QPreviewOfItems(QObject *parent) : QObject(parent)
{
    pZovuvozivWinTemp = pZovuvozivWin;
}

void QPreviewOfItems::OnMessageSubjectClicked(QTreeWidgetItem *item)
{
    // The panes are filled by the preview; until it exists a selection shows nothing.
    Q_UNUSED(item);
}
