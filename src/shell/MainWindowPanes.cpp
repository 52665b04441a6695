// The working area of the main window: folder tree, item list, placeholder list and the preview
// column, inside one splitter.

#include "browse/ItemRoles.h"
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

const char *kListStyle = "QTreeView {    selection-background-color: rgba(56,117,215,20);    "
                         "alternate-background-color: white;    show-decoration-selected: 1;}";

} // namespace

void QZovuvozivMainWindow::CreateLeftDockWindows()
{
    m_pItemList = new QTreeWidget;
    m_pItemList->setObjectName(QStringLiteral("itemList"));
    m_pFolderTree = new QTreeWidget;
    m_pFolderTree->setObjectName(QStringLiteral("folderTree"));
    m_pEmptyItemList = new QTreeWidget;
    m_pEmptyItemList->setObjectName(QStringLiteral("emptyItemList"));
    m_pMailHeaderText = new QTextBrowser;
    m_pMailHeaderText->setObjectName(QStringLiteral("mailHeaderText"));
    m_pTextPreview = new QTextBrowser;
    m_pTextPreview->setObjectName(QStringLiteral("textPreview"));
    m_pPreviewFrame = new QFrame;
    m_pPreviewFrame->setObjectName(QStringLiteral("previewFrame"));
    m_pHtmlPreview = new QTextBrowser;
    m_pHtmlPreview->setObjectName(QStringLiteral("htmlPreview"));
    m_pEmptyItemList->hide();

    m_pHtmlPreview->setHtml(QString());
    m_pHtmlPreview->setOpenExternalLinks(true);
    m_pHtmlPreview->setContextMenuPolicy(Qt::NoContextMenu);
    m_pHtmlPreview->setTextInteractionFlags(Qt::NoTextInteraction);

    m_pFolderTree->setFrameShape(QFrame::StyledPanel);
    m_pFolderTree->setFrameShadow(QFrame::Plain);
    m_pFolderTree->setHeaderLabels({QString()});
    m_pFolderTree->header()->resizeSection(0, 200);
    m_pFolderTree->header()->hide();
    m_pFolderTree->setBackgroundRole(QPalette::Window);
    m_pFolderTree->setAutoFillBackground(true);
    m_pFolderTree->setColumnCount(8);
    for (int c = 1; c < 8; ++c)
        m_pFolderTree->setColumnHidden(c, true);
    // Owned by the tree, so it goes with the window.
    auto *spaceBlocker = new SpaceKeyBlocker;
    spaceBlocker->setParent(m_pFolderTree);
    m_pFolderTree->installEventFilter(spaceBlocker);

    m_pItemList->setHeaderLabels({QString()});
    m_pItemList->setColumnCount(ItemColumnCount);
    for (int c : {ItemColumnKey, ItemColumnPriority, ItemColumnAttachment, ItemColumnUuid, ItemColumnBodyLength,
                  ItemColumnKind})
        m_pItemList->setColumnHidden(c, true);
    m_pItemList->header()->setSectionResizeMode(ItemColumnKindIcon, QHeaderView::Fixed);
    m_pItemList->setHeaderLabels({QString(), QString(), QString(), QString(), QString()});
    m_pItemList->setColumnWidth(ItemColumnText, 100);
    m_pItemList->header()->setSectionResizeMode(ItemColumnText, QHeaderView::Interactive);
    QTreeWidgetItem *head = m_pItemList->headerItem();
    head->setData(ItemColumnPriority, Qt::DecorationRole, QIcon(QStringLiteral(":/images/img_Priority.png")));
    head->setData(ItemColumnKindIcon, Qt::DecorationRole, QIcon(QStringLiteral(":/images/img_FileType.png")));
    head->setData(ItemColumnAttachment, Qt::DecorationRole, QIcon(QStringLiteral(":/images/img_Attachment.png")));
    head->setSizeHint(ItemColumnKey, QSize(20, 20));
    for (int c : {ItemColumnPriority, ItemColumnKindIcon, ItemColumnAttachment})
        m_pItemList->setColumnWidth(c, 24);
    m_pItemList->setAlternatingRowColors(false);

    m_pSubjectLabel = paneLabel("subjectLabel", 16, true,
                                "QLabel {background-color: white; padding-left: 15px; padding-right: 15px;border: none;padding-top: 3px; }");
    m_pSubjectLabel->setMaximumHeight(86);
    m_pSubjectLabel->setWordWrap(true);
    m_pSenderLabel = paneLabel("senderLabel", 12, true, "QLabel {background-color: white; padding-left: 15px;border: none;padding-top: 10px; }");
    m_pSenderLabel->setMaximumHeight(30);
    m_pSenderLabel->setFixedWidth(250);
    m_pDateLabel = paneLabel("dateLabel", 10, false,
                             "QLabel {background-color: white; padding-left: 15px; padding-right: 15px;border: none;padding-top: 10px; }");
    m_pDateLabel->setMaximumHeight(25);
    m_pRecipientsLabel = paneLabel("recipientsLabel", 11, false,
                                   "QLabel {background-color: white; padding-left: 15px; padding-right: 15px;border: none; }");
    m_pRecipientsLabel->setWordWrap(true);
    m_pRecipientsLabel->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    auto *senderRow = new QHBoxLayout;
    senderRow->addWidget(m_pSenderLabel);
    senderRow->addWidget(m_pDateLabel);
    senderRow->setSpacing(0);
    senderRow->setContentsMargins(0, 0, 0, 0);
    m_pMailHeaderArea = new QWidget(this);
    m_pMailHeaderArea->setObjectName(QStringLiteral("mailHeaderArea"));
    m_pMailHeaderArea->setMinimumHeight(110);
    m_pMailHeaderArea->setMaximumHeight(110);
    m_pAttachmentGrid = new QGridLayout;
    m_pAttachmentGrid->setContentsMargins(18, 3, 50, 5);
    m_pAttachmentGrid->setVerticalSpacing(5);
    m_pAttachmentGrid->setHorizontalSpacing(10);
    m_pAttachmentGrid->setColumnStretch(1, 1);
    m_pAttachmentGrid->setRowStretch(1, 1);
    auto *inner = new QWidget(this);
    inner->setStyleSheet(QStringLiteral("QWidget {background-color: white; border: none; }"));
    auto *scroll = new QScrollArea(this);
    scroll->setWidget(inner);
    scroll->setWidgetResizable(true);
    scroll->setStyleSheet(QStringLiteral("QScrollArea {background-color: white; border: none; border-bottom: 1px solid grey; }"));
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->verticalScrollBar()->hide();
    auto *innerLayout = new QVBoxLayout(inner);
    innerLayout->addLayout(senderRow);
    innerLayout->addWidget(m_pRecipientsLabel);
    innerLayout->addLayout(m_pAttachmentGrid);
    innerLayout->setSpacing(0);
    innerLayout->setContentsMargins(0, 0, 0, 0);
    auto *areaLayout = new QVBoxLayout(m_pMailHeaderArea);
    areaLayout->addWidget(scroll);
    areaLayout->setSpacing(0);
    areaLayout->setContentsMargins(0, 0, 0, 0);

    m_pMailHeaderText->setAutoFormatting(QTextEdit::AutoAll);
    m_pMailHeaderText->setAcceptRichText(false);
    m_pMailHeaderText->setFont(uiFont(11));
    m_pMailHeaderText->setTextInteractionFlags(Qt::NoTextInteraction);
    m_pMailHeaderText->setReadOnly(true);
    m_pMailHeaderText->setStyleSheet(QStringLiteral("QTextBrowser {background-color: white; padding-left: 15px; padding-right: 15px;border: none; }"));
    m_pMailHeaderText->setMinimumHeight(110);
    m_pMailHeaderText->setMaximumHeight(110);
    m_pMailHeaderText->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);

    m_pItemList->setMinimumWidth(330);
    m_pMailHeaderText->setMinimumWidth(330);
    m_pHtmlPreview->setMinimumWidth(370);
    m_pFolderTree->setMinimumWidth(200);
    m_pEmptyItemList->setMinimumWidth(330);

    auto *preview = new QVBoxLayout;
    for (QWidget *w : {static_cast<QWidget *>(m_pSubjectLabel), m_pMailHeaderArea, static_cast<QWidget *>(m_pMailHeaderText),
                       static_cast<QWidget *>(m_pHtmlPreview), static_cast<QWidget *>(m_pTextPreview)})
        preview->addWidget(w);
    preview->setSpacing(0);
    preview->setContentsMargins(0, 0, 0, 0);
    m_pMailHeaderText->hide();
    m_pTextPreview->hide();
    m_pPreviewFrame->setLayout(preview);

    m_pMainSplitter = new QSplitter(Qt::Horizontal, this);
    m_pMainSplitter->setObjectName(QStringLiteral("mainSplitter"));
    m_pMainSplitter->addWidget(m_pFolderTree);
    m_pMainSplitter->addWidget(m_pItemList);
    m_pMainSplitter->addWidget(m_pEmptyItemList);
    m_pMainSplitter->addWidget(m_pPreviewFrame);
    m_pMainSplitter->setChildrenCollapsible(false);
    m_pMainSplitter->setStyleSheet(QStringLiteral(
        "QSplitter::handle:vertical   {height: 1px; image: url(:images/img_Vsplitter.png);}QSplitter::handle:horizontal "
        "{width:  1px; image: url(:images/img_Hsplitter.png);}QSplitter::handle {border: solid #ABABAB; background: #ABABAB;}"));

    m_pFolderTree->setStyleSheet(QStringLiteral(
        "QTreeView::indicator:checked {image: url(:/images/TreeCheck_blue.png);}QTreeView::indicator:unchecked {image: "
        "url(:/images/TreeCheck_N.png);}QTreeView::indicator:indeterminate {image: url(:/images/TreeCheck_p.png);}"));
    m_pItemList->setStyleSheet(QLatin1String(kListStyle));
    m_pEmptyItemList->setStyleSheet(QLatin1String(kListStyle));
    m_pItemList->setFocusPolicy(Qt::NoFocus);
    m_pEmptyItemList->setHeaderLabels({QString(), QString()});
    setCentralWidget(m_pMainSplitter);
}
