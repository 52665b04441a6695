// The calendar preview: summary, location and description of one calendar item, no dates.

#include "browse/BrowseGlobals.h"
#include "browse/BrowsePanes.h"
#include "browse/ItemElements.h"
#include "browse/MailPreview.h"
#include "browse/PreviewDispatch.h"
#include "browse/QPreviewOfItems.h"
#include "save/MessageFields.h"
#include "scanner/ScanGlobals.h"
#include "scanner/XmlEntities.h"

#include <QTextBrowser>
#include <QTreeWidget>

namespace {

// Every paragraph of the preview in the preview's grey at 11 points; the summary and location
// are typed text, the description text or markup.
void appendCalendarParagraph(QTextBrowser *view, const QString &text)
{
    view->setTextColor(PreviewTextColour());
    view->setFontPointSize(11);
    AppendPreviewLongText(view, text);
}

QString utf8Field(const char *text)
{
    return QString::fromUtf8(text);
}

}  // namespace

void QPreviewOfItems::OnCalendarItemClicked(QTreeWidgetItem *pItemSelected, int nCol)
{
    Q_UNUSED(nCol);
    if (CalenderInformation *record = CalendarRecordOfRow(pItemSelected))
        writePreviewItemsForCalendar(record);
}

void QPreviewOfItems::writePreviewItemsForCalendar(CalenderInformation *record)
{
    ResetItemPreviewPane();
    QTextBrowser *view = Panes().textPreview;
    if (!view || !record)
        return;
    if (record->pSummary)
        appendCalendarParagraph(view, QStringLiteral("Summary : ") + utf8Field(record->pSummary) + QLatin1Char('\n'));
    if (record->pLocation)
        appendCalendarParagraph(view, QStringLiteral("Location : ") + utf8Field(record->pLocation) + QLatin1Char('\n'));
    if (record->dwDescriptionLength != 0) {
        appendCalendarParagraph(view, QStringLiteral("Description: \n"));
        // Only the bytes the archive still holds are shown: a cut archive gives a shorter text.
        const QByteArray stored = ReadArchiveBytes(record->dwDescriptionOffset, record->dwDescriptionLength);
        appendCalendarParagraph(view, PreviewLongText(stored, EntityForm::Preview));
    }
    FinishItemPreview();
}
