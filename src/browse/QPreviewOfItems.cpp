#include "browse/QPreviewOfItems.h"

#include "browse/AttachmentTiles.h"
#include "browse/BrowseGlobals.h"
#include "browse/BrowsePanes.h"
#include "browse/ItemElements.h"
#include "browse/ItemListFill.h"
#include "browse/ItemTexts.h"
#include "browse/MailPreview.h"
#include "browse/PreviewDispatch.h"
#include "browse/SafePreviewDocument.h"
#include "scanner/ScanGlobals.h"
#include "scanner/XmlEntities.h"

#include <QScrollBar>
#include <QTextBrowser>
#include <QTextCursor>
#include <QTreeWidget>

#include <string_view>

bool stoploopFlag = false;
QPreviewOfItems *m_pPreview = nullptr;

namespace {

QTextBrowser *textPreview()
{
    return Panes().textPreview;
}

// A labelled value as written: append() would take a value that looks like markup for markup.
void appendPlain(QTextBrowser *view, const QString &text)
{
    QTextCursor cursor(view->document());
    cursor.movePosition(QTextCursor::End);
    if (!view->document()->isEmpty())
        cursor.insertBlock();
    // In the colour the view writes in now, as append() would.
    cursor.insertText(text, view->currentCharFormat());
}

// A long text (task or note) as one paragraph of its own, after its heading.
void appendLongText(const QString &heading, qint64 length, qint64 offset)
{
    AppendPreviewLine(heading, QString());
    if (QTextBrowser *view = textPreview()) {
        view->setTextColor(PreviewTextColour());
        AppendPreviewLongText(view, ReadLongText(length, offset));
    }
}

QString priorityWord(char priority)
{
    switch (priority) {
    case '2':
        return QStringLiteral("High");
    case '3':
        return QStringLiteral("Normal");
    case '4':
        return QStringLiteral("Low");
    default:
        return QString();
    }
}

std::string_view viewOf(const QByteArray &bytes)
{
    return std::string_view(bytes.constData(), size_t(bytes.size()));
}

}  // namespace

void ResetItemPreviewPane()
{
    if (!Panes().textPreview)
        return;
    Panes().mailHeaderText->clear();
    Panes().mailHeaderText->hide();
    Panes().htmlPreview->close();
    QTextBrowser *view = Panes().textPreview;
    UseSafePreviewDocument(view);
    view->show();
    view->clear();
    view->setFont(QFont(QStringLiteral("Lucida Grande"), 12));
    view->setTextInteractionFlags(Qt::NoTextInteraction);
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

void AppendPreviewLongText(QTextBrowser *view, const QString &text)
{
    if (IsPreviewHtmlBody(text))
        view->append(text);
    else
        appendPlain(view, text);
}

void AppendPreviewLine(const QString &label, const QString &value)
{
    QTextBrowser *view = textPreview();
    if (!view)
        return;
    view->setTextColor(PreviewTextColour());
    appendPlain(view, label + value + QLatin1Char('\n'));
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
    // Rows of an earlier fill may point into freed lists: they show nothing at all.
    const int kind = CurrentRowKind(pItemSelected);
    if (kind < 0 || !Panes().htmlPreview)
        return;
    if (kind == FolderKindMail) {
        if (MailMLRC *mail = MailRecordOfRow(pItemSelected))
            PreviewMailRecord(mail);
        return;
    }
    Panes().htmlPreview->close();
    switch (kind) {
    case FolderKindContacts:
        OnContactItemClicked(pItemSelected, nCol);
        break;
    case FolderKindCalendar:
        if (CalenderInformation *event = CalendarRecordOfRow(pItemSelected))
            PreviewCalendarRecord(event);
        break;
    case FolderKindTasks:
        OnTaskItemClicked(pItemSelected, nCol);
        break;
    case FolderKindNotes:
        OnNoteItemClicked(pItemSelected, nCol);
        break;
    default:
        break;
    }
}

void QPreviewOfItems::OnContactItemClicked(QTreeWidgetItem *pItemSelected, int nCol)
{
    Q_UNUSED(nCol);
    if (ContactInformation *record = ContactRecordOfRow(pItemSelected))
        writePreviewItemsForContact(record);
}

void QPreviewOfItems::OnTaskItemClicked(QTreeWidgetItem *pItemSelected, int nCol)
{
    Q_UNUSED(nCol);
    if (TasksInformation *record = TaskRecordOfRow(pItemSelected))
        writePreviewItemsForTask(record);
}

void QPreviewOfItems::OnNoteItemClicked(QTreeWidgetItem *pItemSelected, int nCol)
{
    Q_UNUSED(nCol);
    if (NotesInformation *record = NoteRecordOfRow(pItemSelected))
        writePreviewItemsForNotes(record);
}

void QPreviewOfItems::writePreviewItemsForTask(TasksInformation *record)
{
    // Dates come from the task's element; a later task part replaces an earlier value.
    // Dates and the note kept as text only, which the scan does not record.
    QByteArray dates[2];
    QString notePlain;
    static const ElementTagTable table{"<OPFTaskCopyStartDateTime", "<OPFTaskCopyDueDateTime", "<OPFTaskCopyNotePlain"};
    const QByteArray item = ReadItemXml(record->llItemOffset, record->dwItemLength);
    ExtractItemElements(viewOf(item), "</task>", table, [&dates, &notePlain](int row, std::string_view raw) {
        if (row == 2) {
            notePlain = PreviewLongText(QByteArray(raw.data(), int(raw.size())), EntityForm::Four);
            return;
        }
        const QString value = DecodeElementText(raw);
        if (!value.isEmpty())
            dates[row] = LocalTimeText(value).toUtf8();
    });

    ResetItemPreviewPane();
    // The scan keeps no name over 255 characters: the element holds it whole.
    const QString name = record->pName
        ? QString::fromUtf8(record->pName)
        : ItemElementName(record->llItemOffset, record->dwItemLength, "<OPFTaskCopyName", kPreviewNameReadBound);
    if (!name.isEmpty())
        AppendPreviewLine(QStringLiteral("Task : "), name);
    if (!dates[0].isEmpty())
        AppendPreviewLine(QStringLiteral("Start Date : "), QString::fromUtf8(dates[0]));
    if (!dates[1].isEmpty())
        AppendPreviewLine(QStringLiteral("Due Date : "), QString::fromUtf8(dates[1]));
    // Only the scanner's three codes have a word; any other value shows no line.
    const QString priority = priorityWord(record->cPriority);
    if (!priority.isEmpty())
        AppendPreviewLine(QStringLiteral("Priority : "), priority);
    if (record->dwNoteLength != 0) {
        appendLongText(QStringLiteral("Description: "), record->dwNoteLength, record->dwNoteOffset);
    } else if (!notePlain.trimmed().isEmpty()) {
        AppendPreviewLine(QStringLiteral("Description: "), QString());
        textPreview()->setTextColor(PreviewTextColour());
        appendPlain(textPreview(), notePlain);
    }
    FinishItemPreview();
}

void QPreviewOfItems::writePreviewItemsForNotes(NotesInformation *record)
{
    ResetItemPreviewPane();
    const QString title = record->pTitle
        ? QString::fromUtf8(record->pTitle)
        : ItemElementName(record->llItemOffset, record->dwItemLength, "<OPFNoteCopyTitle", kPreviewNameReadBound);
    if (!title.isEmpty())
        AppendPreviewLine(QStringLiteral("Summary : "), title);
    if (record->dwTextLength != 0)
        appendLongText(QStringLiteral("Description : "), record->dwTextLength, record->dwTextOffset);
    FinishItemPreview();
}
