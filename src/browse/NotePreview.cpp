// The note preview: title and text of one note.

#include "browse/ItemElements.h"
#include "browse/PreviewArchive.h"
#include "browse/PreviewJob.h"
#include "browse/PreviewWriter.h"
#include "browse/QPreviewOfItems.h"
#include "save/MessageFields.h"
#include "scanner/ScanGlobals.h"

#include <QTextBrowser>

void QPreviewOfItems::writePreviewItemsForNotes(NotesInformation *record)
{
    QTextBrowser *view = ResetItemPreviewPane();
    if (!view || !record)
        return;
    const NotesInformation note = DetachedRecord(*record, &NotesInformation::pTitle);
    const KeptName title(record->pTitle);
    const std::shared_ptr<const PreviewArchive> archive = PreviewArchive::OfOpenArchive();
    auto write = [note, title, archive](PreviewWriter &writer, const std::atomic<bool> &) {
        const QString summary =
            PreviewItemName(title, archive, note.llItemOffset, note.dwItemLength, "<OPFNoteCopyTitle");
        if (!summary.isEmpty())
            writer.appendLine(QStringLiteral("Summary : "), summary);
        if (note.dwTextLength != 0) {
            const QByteArray text = archive->read(note.dwTextOffset, note.dwTextLength, kMaxArchiveTextRead);
            writer.appendHeadedLongText(QStringLiteral("Description : "), ItemPreviewLongText(text));
        }
    };
    const qint64 titleReads = title.kept ? 0 : ArchiveReadSize(note.llItemOffset, note.dwItemLength);
    ShowPreviewWritten(view, write, titleReads + ArchiveReadSize(note.dwTextOffset, note.dwTextLength));
    FinishItemPreview();
}
