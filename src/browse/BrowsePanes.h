#pragma once
// The panes of the main window that the browsing code fills: the folder tree, the item lists and
// the preview column. The window makes and owns them and hands them over here; browsing reaches
// them only through Panes(), never through the window.

class QFrame;
class QGridLayout;
class QLabel;
class QScrollArea;
class QSplitter;
class QTextBrowser;
class QTreeWidget;
class QWidget;

struct BrowsePanes {
    QTreeWidget *folderTree = nullptr;
    QTreeWidget *emptyItemList = nullptr;  // the placeholder shown before a scan
    QTreeWidget *itemList = nullptr;
    QTextBrowser *mailHeaderText = nullptr;
    QTextBrowser *textPreview = nullptr;
    QFrame *previewFrame = nullptr;
    QTextBrowser *htmlPreview = nullptr;
    QLabel *subjectLabel = nullptr;
    QLabel *recipientsLabel = nullptr;
    QLabel *senderLabel = nullptr;
    QLabel *dateLabel = nullptr;
    QWidget *mailHeaderArea = nullptr;
    QScrollArea *mailHeaderScroll = nullptr;  // inside mailHeaderArea: sender, recipients, tiles
    QGridLayout *attachmentGrid = nullptr;
    QSplitter *mainSplitter = nullptr;
};

// The window hands over its panes once made, and null when it goes. The struct is not copied: the
// window keeps it filled.
void SetBrowsePanes(const BrowsePanes *panes);
// The panes handed over; all null when there are none, so a caller tests the pane it uses.
const BrowsePanes &Panes();
