// The task preview: name, start and due dates, priority and description of one task.

#include "browse/ItemElements.h"
#include "browse/ItemTexts.h"
#include "browse/PreviewArchive.h"
#include "browse/PreviewJob.h"
#include "browse/PreviewWriter.h"
#include "browse/QPreviewOfItems.h"
#include "save/MessageFields.h"
#include "scanner/ScanGlobals.h"
#include "scanner/XmlEntities.h"

#include <QTextBrowser>

#include <string_view>

namespace {

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

// What the task's element holds that the scan does not record: the dates as local time, and the
// note kept as text only. A later task part replaces an earlier value.
struct TaskElementTexts {
    QByteArray start;
    QByteArray due;
    QString notePlain;
};

TaskElementTexts readTaskElement(const PreviewArchive &archive, const TasksInformation &task)
{
    static const ElementTagTable table{"<OPFTaskCopyStartDateTime", "<OPFTaskCopyDueDateTime", "<OPFTaskCopyNotePlain"};
    TaskElementTexts texts;
    const QByteArray item = archive.read(task.llItemOffset, task.dwItemLength, kMaxArchiveTextRead);
    ExtractItemElements(std::string_view(item.constData(), size_t(item.size())), "</task>", table,
                        [&texts](int row, std::string_view raw) {
                            if (row == 2) {
                                texts.notePlain =
                                    PreviewLongText(QByteArray(raw.data(), int(raw.size())), EntityForm::Scanned);
                                return;
                            }
                            const QString value = DecodeElementText(raw);
                            if (!value.isEmpty())
                                (row == 0 ? texts.start : texts.due) = LocalTimeText(value).toUtf8();
                        });
    return texts;
}

// The stored note is shown as the note writer shows it; without one, the plain note as typed.
void appendTaskDescription(PreviewWriter &writer, const PreviewArchive &archive, const TasksInformation &task,
                           const QString &notePlain)
{
    if (task.dwNoteLength != 0) {
        const QByteArray note = archive.read(task.dwNoteOffset, task.dwNoteLength, kMaxArchiveTextRead);
        writer.appendHeadedLongText(QStringLiteral("Description: "), ItemPreviewLongText(note));
    } else if (!notePlain.trimmed().isEmpty()) {
        writer.appendLine(QStringLiteral("Description: "), QString());
        writer.setTextColor(PreviewTextColour());
        writer.appendPlain(notePlain);
    }
}

}  // namespace

void QPreviewOfItems::writePreviewItemsForTask(TasksInformation *record)
{
    QTextBrowser *view = ResetItemPreviewPane();
    if (!view || !record)
        return;
    const TasksInformation task = DetachedRecord(*record, &TasksInformation::pName);
    const KeptName name(record->pName);
    const std::shared_ptr<const PreviewArchive> archive = PreviewArchive::OfOpenArchive();
    auto write = [task, name, archive](PreviewWriter &writer, const std::atomic<bool> &stop) {
        const TaskElementTexts texts = readTaskElement(*archive, task);
        if (stop)
            return;
        const QString title = PreviewItemName(name, archive, task.llItemOffset, task.dwItemLength, "<OPFTaskCopyName");
        if (!title.isEmpty())
            writer.appendLine(QStringLiteral("Task : "), title);
        if (!texts.start.isEmpty())
            writer.appendLine(QStringLiteral("Start Date : "), QString::fromUtf8(texts.start));
        if (!texts.due.isEmpty())
            writer.appendLine(QStringLiteral("Due Date : "), QString::fromUtf8(texts.due));
        // Only the scanner's three codes have a word; any other value shows no line.
        const QString priority = priorityWord(task.cPriority);
        if (!priority.isEmpty())
            writer.appendLine(QStringLiteral("Priority : "), priority);
        appendTaskDescription(writer, *archive, task, texts.notePlain);
    };
    const qint64 itemReads = ArchiveReadSize(task.llItemOffset, task.dwItemLength);
    ShowPreviewWritten(view, write,
                       itemReads * (name.kept ? 1 : 2) + ArchiveReadSize(task.dwNoteOffset, task.dwNoteLength));
    FinishItemPreview();
}
