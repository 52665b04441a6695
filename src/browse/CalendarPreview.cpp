// The calendar preview: summary, location and description of one calendar item, no dates.

#include "browse/BrowseGlobals.h"
#include "browse/BrowsePanes.h"
#include "browse/ItemElements.h"
#include "browse/PreviewArchive.h"
#include "browse/PreviewJob.h"
#include "browse/PreviewWriter.h"
#include "browse/QPreviewOfItems.h"
#include "save/MessageFields.h"
#include "scanner/ScanGlobals.h"
#include "scanner/XmlEntities.h"

#include <QTextBrowser>

namespace {

// Every paragraph of the preview in the preview's grey at 11 points, as typed: summary, location
// and the plain description are typed text whatever they hold.
void appendCalendarParagraph(PreviewWriter &writer, const QString &text)
{
    writer.setTextColor(PreviewTextColour());
    writer.setFontPointSize(11);
    writer.appendPlain(text);
}

}  // namespace

void QPreviewOfItems::writePreviewItemsForCalendar(CalenderInformation *record)
{
    ResetItemPreviewPane();
    QTextBrowser *view = Panes().textPreview;
    if (!view || !record)
        return;
    // The scan keeps summary and location short; the description is read by the job.
    const bool summarised = record->pSummary != nullptr;
    const bool located = record->pLocation != nullptr;
    const QByteArray summary = summarised ? QByteArray(record->pSummary) : QByteArray();
    const QByteArray location = located ? QByteArray(record->pLocation) : QByteArray();
    const qint64 offset = record->dwDescriptionOffset;
    const qint64 length = record->dwDescriptionLength;
    const std::shared_ptr<const PreviewArchive> archive = PreviewArchive::OfOpenArchive();
    auto write = [=](PreviewWriter &writer, const std::atomic<bool> &) {
        if (summarised)
            appendCalendarParagraph(writer,
                                    QStringLiteral("Summary : ") + QString::fromUtf8(summary) + QLatin1Char('\n'));
        if (located)
            appendCalendarParagraph(writer,
                                    QStringLiteral("Location : ") + QString::fromUtf8(location) + QLatin1Char('\n'));
        if (length != 0) {
            appendCalendarParagraph(writer, QStringLiteral("Description: \n"));
            // Only the bytes the archive still holds are shown: a cut archive gives a shorter text.
            const QByteArray stored = archive->read(offset, length, kMaxArchiveTextRead);
            appendCalendarParagraph(writer, PreviewLongText(stored, EntityForm::Scanned));
        }
    };
    ShowPreviewWritten(view, write, ArchiveReadSize(offset, length));
    FinishItemPreview();
}
