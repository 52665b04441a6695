#include "browse/QPreviewOfItems.h"

#include "browse/AttachmentTiles.h"
#include "browse/BrowseGlobals.h"
#include "browse/BrowsePanes.h"
#include "browse/PreviewDispatch.h"
#include "browse/PreviewWriter.h"
#include "browse/SafePreviewDocument.h"
#include "scanner/FolderKinds.h"

#include <QScrollBar>
#include <QTextBrowser>
#include <QTextCursor>
#include <QTreeWidget>

bool stoploopFlag = false;
QPreviewOfItems *m_pPreview = nullptr;

QTextBrowser *ResetItemPreviewPane()
{
    if (!Panes().textPreview)
        return nullptr;
    Panes().mailHeaderText->clear();
    Panes().mailHeaderText->hide();
    Panes().htmlPreview->close();
    QTextBrowser *view = Panes().textPreview;
    UseSafePreviewDocument(view);
    view->show();
    view->clear();
    view->setFont(QFont(QStringLiteral("Lucida Grande"), 12));
    view->setTextInteractionFlags(Qt::NoTextInteraction);
    return view;
}

void FinishItemPreview()
{
    for (QTextBrowser *view : {Panes().textPreview, Panes().htmlPreview}) {
        if (view)
            view->verticalScrollBar()->setValue(0);
    }
    if (Panes().folderTree && !(Panes().itemList && Panes().itemList->hasFocus()))
        Panes().folderTree->setFocus(Qt::OtherFocusReason);
}

void AppendPreviewLine(const QString &label, const QString &value)
{
    QTextBrowser *view = Panes().textPreview;
    if (!view)
        return;
    PreviewWriter writer(view->textCursor());
    writer.appendLine(label, value);
    view->setCurrentCharFormat(writer.cursor().charFormat());
}

QPreviewOfItems::QPreviewOfItems(QObject *parent) : QObject(parent)
{
    connect(&m_previewThread, &ThreadOLMPreview::openFailed, this, &TellAttachmentNotOpened, Qt::QueuedConnection);
}

QPreviewOfItems::~QPreviewOfItems()
{
    if (m_pPreview == this)
        m_pPreview = nullptr;
}

void QPreviewOfItems::OnMessageSubjectClicked(QTreeWidgetItem *pItemSelected, int nCol)
{
    Q_UNUSED(nCol);
    // Rows of an earlier fill may point into freed lists: they show nothing at all.
    const int kind = CurrentRowKind(pItemSelected);
    if (kind < 0 || !Panes().htmlPreview)
        return;
    // Every kind but mail shows in the text preview: the mail's markup view goes at once.
    if (kind != FolderKindMail)
        Panes().htmlPreview->close();
    PreviewRowItem(pItemSelected);
}
