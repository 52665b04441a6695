#pragma once
// State the browsing side shares with the shell. GUI thread only.

class QZovuvozivMainWindow;
class QPreviewOfItems;

// Set to stop an item-list fill in progress after its current row.
extern bool stoploopFlag;
// The main window as the browsing and preview code reach it.
extern QZovuvozivMainWindow *pZovuvozivWin;
extern QZovuvozivMainWindow *pZovuvozivWinTemp;
// The preview controller of the newest open/scan dialog.
extern QPreviewOfItems *m_pPreview;
