// The working area of the main window: folder tree, item list, placeholder list and the preview
// column, inside one splitter.

#include "browse/BrowsePanes.h"
#include "browse/ItemListFill.h"
#include "browse/ItemRoles.h"
#include "browse/MyButton1.h"
#include "browse/SafePreviewDocument.h"
#include "browse/SelectionPalette.h"
#include "platform/FreedMemory.h"
#include "shell/QParseDatabase.h"
#include "shell/QZovuvozivMainWindow.h"

#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QScrollArea>
#include <QScrollBar>
#include <QSplitter>
#include <QTextBrowser>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

QFont uiFont(int points, bool bold = false)
{
    QFont f(QStringLiteral("Lucida Grande"), points);
    if (bold)
        f.setWeight(75);
    return f;
}

QLabel *paneLabel(const char *name, int points, bool bold, const char *style)
{
    auto *l = new QLabel;
    l->setObjectName(QLatin1String(name));
    l->setFont(uiFont(points, bold));
    l->setStyleSheet(QLatin1String(style));
    // Archive text is shown as text, never interpreted as markup.
    l->setTextFormat(Qt::PlainText);
    return l;
}

QString ListStyle()
{
    return QStringLiteral("QTreeView { %1 alternate-background-color: white; show-decoration-selected: 1;}")
        .arg(SelectionStyle());
}

// The item list as every instance of it is set up; placing and wiring it is the window's.
QTreeWidget *makeItemList()
{
    auto *list = new QTreeWidget;
    list->setObjectName(QStringLiteral("itemList"));
    list->setHeaderLabels({QString()});
    list->setColumnCount(ItemColumnCount);
    for (int c : {ItemColumnKey, ItemColumnPriority, ItemColumnAttachment, ItemColumnUuid, ItemColumnBodyLength,
                  ItemColumnKind})
        list->setColumnHidden(c, true);
    list->header()->setSectionResizeMode(ItemColumnKindIcon, QHeaderView::Fixed);
    list->setHeaderLabels({QString(), QString(), QString(), QString(), QString()});
    list->setColumnWidth(ItemColumnText, 100);
    list->header()->setSectionResizeMode(ItemColumnText, QHeaderView::Interactive);
    QTreeWidgetItem *head = list->headerItem();
    head->setData(ItemColumnPriority, Qt::DecorationRole, QIcon(QStringLiteral(":/images/img_Priority.png")));
    head->setData(ItemColumnKindIcon, Qt::DecorationRole, QIcon(QStringLiteral(":/images/img_FileType.png")));
    head->setData(ItemColumnAttachment, Qt::DecorationRole, QIcon(QStringLiteral(":/images/img_Attachment.png")));
    head->setSizeHint(ItemColumnKey, QSize(20, 20));
    for (int c : {ItemColumnPriority, ItemColumnKindIcon, ItemColumnAttachment})
        list->setColumnWidth(c, 24);
    list->setAlternatingRowColors(false);
    // Every row of a fill is one height (browse/ItemListMailRow): paging costs one row's layout,
    // not the whole folder's.
    list->setUniformRowHeights(true);

    list->setMinimumWidth(330);
    list->setStyleSheet(ListStyle());
    ApplySelectionPalette(list);
    // A click on a row puts the keyboard on the list.
    list->setFocusPolicy(Qt::StrongFocus);
    return list;
}

}  // namespace

void QZovuvozivMainWindow::CreateLeftDockWindows()
{
    m_panes.folderTree = new QTreeWidget;
    m_panes.folderTree->setObjectName(QStringLiteral("folderTree"));
    m_panes.emptyItemList = new QTreeWidget;
    m_panes.emptyItemList->setObjectName(QStringLiteral("emptyItemList"));
    m_panes.mailHeaderText = new QTextBrowser;
    m_panes.mailHeaderText->setObjectName(QStringLiteral("mailHeaderText"));
    m_panes.textPreview = new QTextBrowser;
    m_panes.textPreview->setObjectName(QStringLiteral("textPreview"));
    m_panes.previewFrame = new QFrame;
    m_panes.previewFrame->setObjectName(QStringLiteral("previewFrame"));
    m_panes.htmlPreview = new QTextBrowser;
    m_panes.htmlPreview->setObjectName(QStringLiteral("htmlPreview"));
    m_panes.emptyItemList->hide();

    m_panes.htmlPreview->setHtml(QString());
    // A body's text without a style of its own is drawn at the size of the window's other texts,
    // not at the toolkit's small default: every body is built in this document's default font.
    m_panes.htmlPreview->setFont(uiFont(11));
    UseSafePreviewDocument(m_panes.htmlPreview)->setDefaultFont(m_panes.htmlPreview->font());
    m_panes.htmlPreview->setOpenExternalLinks(true);
    m_panes.htmlPreview->setContextMenuPolicy(Qt::NoContextMenu);
    m_panes.htmlPreview->setTextInteractionFlags(Qt::NoTextInteraction);

    m_panes.folderTree->setFrameShape(QFrame::StyledPanel);
    m_panes.folderTree->setFrameShadow(QFrame::Plain);
    m_panes.folderTree->setHeaderLabels({QString()});
    m_panes.folderTree->header()->resizeSection(0, 200);
    m_panes.folderTree->header()->hide();
    m_panes.folderTree->setBackgroundRole(QPalette::Window);
    m_panes.folderTree->setAutoFillBackground(true);
    m_panes.folderTree->setColumnCount(8);
    for (int c = 1; c < 8; ++c)
        m_panes.folderTree->setColumnHidden(c, true);
    // Owned by the tree, so it goes with the window.
    auto *spaceBlocker = new SpaceKeyBlocker;
    spaceBlocker->setParent(m_panes.folderTree);
    m_panes.folderTree->installEventFilter(spaceBlocker);

    m_panes.subjectLabel = paneLabel(
        "subjectLabel", 16, true,
        "QLabel {background-color: white; padding-left: 15px; padding-right: 15px;border: none;padding-top: 3px; }");
    m_panes.subjectLabel->setMaximumHeight(86);
    m_panes.subjectLabel->setWordWrap(true);
    m_panes.senderLabel =
        paneLabel("senderLabel", 12, true,
                  "QLabel {background-color: white; padding-left: 15px;border: none;padding-top: 10px; }");
    m_panes.senderLabel->setMaximumHeight(30);
    // As wide as its name or the room the date leaves it (browse/MailPreview): the sender gives way
    // (its text is cut to fit when shown) so the date beside it is never cut. Until the pane is laid
    // out it has the room of a usual name.
    m_panes.senderLabel->resize(250, m_panes.senderLabel->height());
    m_panes.senderLabel->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Preferred);
    m_panes.dateLabel = paneLabel(
        "dateLabel", 10, false,
        "QLabel {background-color: white; padding-left: 15px; padding-right: 15px;border: none;padding-top: 10px; }");
    m_panes.dateLabel->setMaximumHeight(25);
    m_panes.recipientsLabel =
        paneLabel("recipientsLabel", 11, false,
                  "QLabel {background-color: white; padding-left: 15px; padding-right: 15px;border: none; }");
    m_panes.recipientsLabel->setWordWrap(true);
    m_panes.recipientsLabel->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    auto *senderRow = new QHBoxLayout;
    senderRow->addWidget(m_panes.senderLabel);
    senderRow->addWidget(m_panes.dateLabel);
    senderRow->setSpacing(0);
    senderRow->setContentsMargins(0, 0, 0, 0);
    m_panes.mailHeaderArea = new QWidget(this);
    m_panes.mailHeaderArea->setObjectName(QStringLiteral("mailHeaderArea"));
    // The shown mail's header lines and first row of tiles set its height (browse/MailPreview).
    m_panes.mailHeaderArea->setFixedHeight(110);
    m_panes.attachmentGrid = new QGridLayout;
    m_panes.attachmentGrid->setContentsMargins(18, 3, 50, 5);
    m_panes.attachmentGrid->setVerticalSpacing(5);
    m_panes.attachmentGrid->setHorizontalSpacing(10);
    m_panes.attachmentGrid->setColumnStretch(1, 1);
    m_panes.attachmentGrid->setRowStretch(1, 1);
    auto *inner = new QWidget(this);
    inner->setStyleSheet(QStringLiteral("QWidget {background-color: white; border: none; }"));
    auto *scroll = new QScrollArea(this);
    scroll->setObjectName(QStringLiteral("mailHeaderScroll"));
    m_panes.mailHeaderScroll = scroll;
    scroll->setWidget(inner);
    scroll->setWidgetResizable(true);
    scroll->setStyleSheet(
        QStringLiteral("QScrollArea {background-color: white; border: none; border-bottom: 1px solid grey; }"));
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // Recipients and attachment tiles can need more than the area's height: the bar shows then.
    scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    auto *innerLayout = new QVBoxLayout(inner);
    innerLayout->addLayout(senderRow);
    innerLayout->addWidget(m_panes.recipientsLabel);
    innerLayout->addLayout(m_panes.attachmentGrid);
    innerLayout->setSpacing(0);
    innerLayout->setContentsMargins(0, 0, 0, 0);
    // The splitter never makes the pane narrower than one column of tiles and the bar; a pane too
    // narrow for two columns gets one (browse/AttachmentTiles), so the window's default width
    // shows the whole pane, its bar and the date.
    const QMargins tileMargins = m_panes.attachmentGrid->contentsMargins();
    m_panes.mailHeaderArea->setMinimumWidth(tileMargins.left() + kAttachmentTileWidth + tileMargins.right()
                                            + scroll->verticalScrollBar()->sizeHint().width());
    auto *areaLayout = new QVBoxLayout(m_panes.mailHeaderArea);
    areaLayout->addWidget(scroll);
    areaLayout->setSpacing(0);
    areaLayout->setContentsMargins(0, 0, 0, 0);

    m_panes.mailHeaderText->setAutoFormatting(QTextEdit::AutoAll);
    m_panes.mailHeaderText->setAcceptRichText(false);
    m_panes.mailHeaderText->setFont(uiFont(11));
    m_panes.mailHeaderText->setTextInteractionFlags(Qt::NoTextInteraction);
    m_panes.mailHeaderText->setReadOnly(true);
    m_panes.mailHeaderText->setStyleSheet(QStringLiteral(
        "QTextBrowser {background-color: white; padding-left: 15px; padding-right: 15px;border: none; }"));
    m_panes.mailHeaderText->setMinimumHeight(110);
    m_panes.mailHeaderText->setMaximumHeight(110);
    m_panes.mailHeaderText->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);

    m_panes.mailHeaderText->setMinimumWidth(330);
    m_panes.htmlPreview->setMinimumWidth(370);
    m_panes.folderTree->setMinimumWidth(200);
    m_panes.emptyItemList->setMinimumWidth(330);

    auto *preview = new QVBoxLayout;
    for (QWidget *w : {static_cast<QWidget *>(m_panes.subjectLabel), m_panes.mailHeaderArea,
                       static_cast<QWidget *>(m_panes.mailHeaderText), static_cast<QWidget *>(m_panes.htmlPreview),
                       static_cast<QWidget *>(m_panes.textPreview)})
        preview->addWidget(w);
    preview->setSpacing(0);
    preview->setContentsMargins(0, 0, 0, 0);
    m_panes.mailHeaderText->hide();
    m_panes.textPreview->hide();
    m_panes.previewFrame->setLayout(preview);

    m_panes.mainSplitter = new QSplitter(Qt::Horizontal, this);
    m_panes.mainSplitter->setObjectName(QStringLiteral("mainSplitter"));
    m_panes.mainSplitter->addWidget(m_panes.folderTree);
    m_panes.mainSplitter->addWidget(m_panes.emptyItemList);
    m_panes.mainSplitter->addWidget(m_panes.previewFrame);
    m_panes.mainSplitter->setChildrenCollapsible(false);
    m_panes.mainSplitter->setStyleSheet(
        QStringLiteral("QSplitter::handle:vertical   {height: 1px; image: "
                       "url(:images/img_Vsplitter.png);}QSplitter::handle:horizontal "
                       "{width:  1px; image: url(:images/img_Hsplitter.png);}QSplitter::handle {border: solid #ABABAB; "
                       "background: #ABABAB;}"));

    m_panes.folderTree->setStyleSheet(
        QStringLiteral(
            "QTreeView::indicator:checked {image: url(:/images/TreeCheck_blue.png);}QTreeView::indicator:unchecked "
            "{image: "
            "url(:/images/TreeCheck_N.png);}QTreeView::indicator:indeterminate {image: url(:/images/TreeCheck_p.png);}"
            "QTreeView { %1 }")
            .arg(SelectionStyle()));
    m_panes.emptyItemList->setStyleSheet(ListStyle());
    for (QTreeWidget *view : {m_panes.folderTree, m_panes.emptyItemList})
        ApplySelectionPalette(view);
    installItemList();
    m_panes.emptyItemList->setHeaderLabels({QString(), QString()});
    setCentralWidget(m_panes.mainSplitter);
}

int QZovuvozivMainWindow::s_itemListRenewRows = 20000;

void QZovuvozivMainWindow::installItemList()
{
    QTreeWidget *list = makeItemList();
    QTreeWidget *old = m_panes.itemList;
    if (old) {
        // A fill under way stops before it touches the old list again.
        ++g_itemListFillSerial;
        disconnect(old, nullptr, this, nullptr);
        const bool focused = old->hasFocus();
        // The new list takes the old one's place, size and visibility.
        m_panes.mainSplitter->replaceWidget(m_panes.mainSplitter->indexOf(old), list);
        // Column widths the user set stay.
        list->header()->restoreState(old->header()->saveState());
        if (focused)
            list->setFocus(Qt::OtherFocusReason);
        // Hidden, and the window's until it goes, so it goes with the window at the latest. Later:
        // the old list may be the sender of the event being handled.
        old->setParent(this);
        old->deleteLater();
        // Its rows were many small blocks: once they are gone, what they took goes back to the
        // system (queued, after the list's own deletion has finished).
        connect(old, &QObject::destroyed, this, [this] { QTimer::singleShot(0, this, ReturnFreedMemory); });
    } else {
        m_panes.mainSplitter->insertWidget(m_panes.mainSplitter->indexOf(m_panes.folderTree) + 1, list);
    }
    m_panes.itemList = list;
    // Tab goes tree, list, preview.
    setTabOrder(m_panes.folderTree, list);
    setTabOrder(list, m_panes.htmlPreview);
    setTabOrder(m_panes.htmlPreview, m_panes.textPreview);
    connect(list, &QTreeWidget::currentItemChanged, this, [this] {
        if (m_pParseDatabase)
            m_pParseDatabase->OnMessageSubjectChanged();
    });
}

void QZovuvozivMainWindow::RenewLargeItemList()
{
    // What the rows of the folder left took goes back to the system: a replaced list's once it
    // is deleted, a kept list's after it has been emptied for the next folder (queued).
    if (ItemListPeakRows(m_panes.itemList) >= s_itemListRenewRows)
        installItemList();
    else
        QTimer::singleShot(0, this, ReturnFreedMemory);
}
