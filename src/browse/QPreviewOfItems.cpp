#include "browse/QPreviewOfItems.h"

#include "browse/AttachmentTiles.h"
#include "browse/BrowseGlobals.h"
#include "browse/BrowsePanes.h"
#include "browse/ItemElements.h"
#include "browse/ItemListFill.h"
#include "browse/ItemTexts.h"
#include "browse/MailPreview.h"
#include "browse/PreviewArchive.h"
#include "browse/PreviewDispatch.h"
#include "browse/PreviewJob.h"
#include "browse/PreviewWriter.h"
#include "browse/SafePreviewDocument.h"
#include "platform/WorkerGlobals.h"
#include "save/MessageFields.h"
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

// A long text (task or note) as one paragraph of its own, after its heading.
void appendLongText(PreviewWriter &writer, const QString &heading, const QString &text)
{
    writer.appendLine(heading, QString());
    writer.setTextColor(PreviewTextColour());
    writer.appendLongText(text);
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

void AppendPreviewLine(const QString &label, const QString &value)
{
    QTextBrowser *view = textPreview();
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

void QPreviewOfItems::writePreviewItemsForTask(TasksInformation *record)
{
    ResetItemPreviewPane();
    QTextBrowser *view = textPreview();
    if (!view)
        return;
    // The job keeps what it needs of the record: the record list may be freed while it runs.
    TasksInformation task = *record;
    task.pNext = nullptr;
    task.pName = nullptr;
    const bool named = record->pName != nullptr;
    const QByteArray name = named ? QByteArray(record->pName) : QByteArray();
    const qint64 itemReads = ArchiveReadSize(task.llItemOffset, task.dwItemLength);
    const std::shared_ptr<const PreviewArchive> archive = PreviewArchive::OfOpenArchive();
    auto write = [task, named, name, archive](PreviewWriter &writer, const std::atomic<bool> &stop) {
        // Dates come from the task's element; a later task part replaces an earlier value.
        // Dates and the note kept as text only, which the scan does not record.
        QByteArray dates[2];
        QString notePlain;
        static const ElementTagTable table{"<OPFTaskCopyStartDateTime", "<OPFTaskCopyDueDateTime",
                                           "<OPFTaskCopyNotePlain"};
        const QByteArray item = archive->read(task.llItemOffset, task.dwItemLength, kMaxArchiveTextRead);
        ExtractItemElements(viewOf(item), "</task>", table, [&dates, &notePlain](int row, std::string_view raw) {
            if (row == 2) {
                notePlain = PreviewLongText(QByteArray(raw.data(), int(raw.size())), EntityForm::Scanned);
                return;
            }
            const QString value = DecodeElementText(raw);
            if (!value.isEmpty())
                dates[row] = LocalTimeText(value).toUtf8();
        });
        if (stop)
            return;
        // The scan keeps no name over 255 characters: the element holds it whole.
        const QString title = named ? QString::fromUtf8(name)
                                    : ItemElementName(ReaderOf(archive), task.llItemOffset, task.dwItemLength,
                                                      "<OPFTaskCopyName", kPreviewNameReadBound);
        if (!title.isEmpty())
            writer.appendLine(QStringLiteral("Task : "), title);
        if (!dates[0].isEmpty())
            writer.appendLine(QStringLiteral("Start Date : "), QString::fromUtf8(dates[0]));
        if (!dates[1].isEmpty())
            writer.appendLine(QStringLiteral("Due Date : "), QString::fromUtf8(dates[1]));
        // Only the scanner's three codes have a word; any other value shows no line.
        const QString priority = priorityWord(task.cPriority);
        if (!priority.isEmpty())
            writer.appendLine(QStringLiteral("Priority : "), priority);
        if (task.dwNoteLength != 0) {
            const QByteArray note = archive->read(task.dwNoteOffset, task.dwNoteLength, kMaxArchiveTextRead);
            appendLongText(writer, QStringLiteral("Description: "), ItemPreviewLongText(note));
        } else if (!notePlain.trimmed().isEmpty()) {
            writer.appendLine(QStringLiteral("Description: "), QString());
            writer.setTextColor(PreviewTextColour());
            writer.appendPlain(notePlain);
        }
    };
    ShowPreviewWritten(view, write,
                       itemReads * (named ? 1 : 2) + ArchiveReadSize(task.dwNoteOffset, task.dwNoteLength));
    FinishItemPreview();
}

void QPreviewOfItems::writePreviewItemsForNotes(NotesInformation *record)
{
    ResetItemPreviewPane();
    QTextBrowser *view = textPreview();
    if (!view)
        return;
    NotesInformation note = *record;
    note.pNext = nullptr;
    note.pTitle = nullptr;
    const bool titled = record->pTitle != nullptr;
    const QByteArray title = titled ? QByteArray(record->pTitle) : QByteArray();
    const std::shared_ptr<const PreviewArchive> archive = PreviewArchive::OfOpenArchive();
    auto write = [note, titled, title, archive](PreviewWriter &writer, const std::atomic<bool> &) {
        const QString summary = titled ? QString::fromUtf8(title)
                                       : ItemElementName(ReaderOf(archive), note.llItemOffset, note.dwItemLength,
                                                         "<OPFNoteCopyTitle", kPreviewNameReadBound);
        if (!summary.isEmpty())
            writer.appendLine(QStringLiteral("Summary : "), summary);
        if (note.dwTextLength != 0) {
            const QByteArray text = archive->read(note.dwTextOffset, note.dwTextLength, kMaxArchiveTextRead);
            appendLongText(writer, QStringLiteral("Description : "), ItemPreviewLongText(text));
        }
    };
    const qint64 titleReads = titled ? 0 : ArchiveReadSize(note.llItemOffset, note.dwItemLength);
    ShowPreviewWritten(view, write, titleReads + ArchiveReadSize(note.dwTextOffset, note.dwTextLength));
    FinishItemPreview();
}
