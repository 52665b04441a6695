#pragma once
// State the browsing side shares with the shell. GUI thread only.

class QPreviewOfItems;

// Set to stop an item-list fill in progress after its current row.
extern bool stoploopFlag;
// The preview controller of the newest open/scan dialog.
extern QPreviewOfItems *m_pPreview;
