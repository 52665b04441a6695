// The mail header's view: its height follows its lines, and its scrolling stops on line starts.

#include "browse/MailPreview.h"
#include "browse/MailPreviewParts.h"

#include "browse/AttachmentTiles.h"
#include "browse/BrowseGlobals.h"
#include "browse/BrowsePanes.h"
#include "browse/DrawnText.h"
#include "browse/ItemListFill.h"
#include "browse/PreviewBody.h"
#include "browse/QPreviewOfItems.h"
#include "browse/ResizeFollower.h"
#include "browse/SafePreviewDocument.h"
#include "save/AttachmentIndex.h"
#include "save/MessageFields.h"
#include "save/mail/MailHeaders.h"
#include "scanner/ScanGlobals.h"
#include "scanner/XmlEntities.h"

#include <QAbstractTextDocumentLayout>
#include <QBoxLayout>
#include <QBuffer>
#include <QDateTime>
#include <QEvent>
#include <QFontMetrics>
#include <QGridLayout>
#include <QImage>
#include <QImageReader>
#include <QLabel>
#include <QLayout>
#include <QLocale>
#include <QResizeEvent>
#include <QScrollArea>
#include <QScrollBar>
#include <QSet>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextLayout>
#include <QTimer>
#include <QTreeWidget>
#include <QVector>
#include <QtMath>

#include <algorithm>
#include <iterator>
#include <memory>

namespace mailpreview {
namespace {

// The header holds its sender row, its recipients and the first row of tiles whole: its height
// follows them, up to half the preview, where its bar then shows. The bar steps a row of tiles at
// a time, so from the top or the bottom a step never stops inside a tile.
constexpr int kLeastHeaderHeight = 110;

int firstTileRowHeight(const QGridLayout *grid)
{
    QLayoutItem *first = grid->itemAtPosition(0, 0);
    if (!first || !first->widget())
        return 0;
    const QWidget *tile = first->widget();
    const int tileHeight = qBound(tile->minimumHeight(), tile->sizeHint().height(), tile->maximumHeight());
    return grid->contentsMargins().top() + tileHeight + grid->verticalSpacing();
}

// The recipients' lines, from the label's top, as the label lays them out at width.
struct LineSpan {
    int top;
    int bottom;
};

QVector<LineSpan> recipientLines(const QLabel *label, int width)
{
    const QRect inner = label->contentsRect();
    QTextDocument document;
    document.setDefaultFont(label->font());
    // Laid out at the label's resolution, as the label lays it out.
    document.documentLayout()->setPaintDevice(const_cast<QLabel *>(label));
    document.setHtml(label->text());
    document.setTextWidth(width - (label->width() - inner.width()));
    // A line starts where the line above ends: lines of fallback fonts reach a pixel into the
    // next one, and a start rounded down would show that much of the line above.
    QVector<LineSpan> lines;
    qreal above = 0;
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        const qreal top = document.documentLayout()->blockBoundingRect(block).top();
        const QTextLayout *layout = block.layout();
        for (int i = 0; layout && i < layout->lineCount(); ++i) {
            const QTextLine line = layout->lineAt(i);
            const qreal start = lines.isEmpty() ? top + line.y() : qMax(top + line.y(), above);
            above = top + line.y() + line.height();
            lines.append({inner.top() + qCeil(start), inner.top() + qCeil(above)});
        }
    }
    return lines;
}

// Where each line of the header starts inside its view's area: the sender, the date when it has
// a line of its own, every recipients line and every row of tiles. Scrolling stops only there,
// so the top line shows whole at every font resolution.
QVector<int> headerLineTops()
{
    const BrowsePanes &p = Panes();
    QVector<int> tops{0};
    if (!p.senderLabel || !p.dateLabel || !p.recipientsLabel || !p.attachmentGrid)
        return tops;
    if (p.dateLabel->y() >= p.senderLabel->y() + p.senderLabel->height())
        tops << p.dateLabel->y();
    for (const LineSpan &line : recipientLines(p.recipientsLabel, p.recipientsLabel->width()))
        tops << p.recipientsLabel->y() + line.top;
    const QGridLayout *grid = p.attachmentGrid;
    for (int i = 0; i < grid->count(); ++i) {
        const QWidget *tile = grid->itemAt(i)->widget();
        if (tile && !tile->isHidden())
            tops << qMax(0, tile->y() - grid->verticalSpacing());
    }
    std::sort(tops.begin(), tops.end());
    tops.erase(std::unique(tops.begin(), tops.end()), tops.end());
    return tops;
}

// A scroll (wheel, keys, bar) ends on the nearest line start in its direction: as far as it
// went when it passed one, else the next one.
void snapToLine(QScrollBar *bar)
{
    const int from = bar->value();
    const int to = bar->sliderPosition();
    if (to == from)
        return;
    const QVector<int> tops = headerLineTops();
    int target = to;
    if (to > from) {
        auto passed = std::upper_bound(tops.begin(), tops.end(), to);
        const auto next = std::upper_bound(tops.begin(), tops.end(), from);
        target = passed != tops.begin() && *(passed - 1) > from ? *(passed - 1) : (next != tops.end() ? *next : to);
    } else {
        const auto passed = std::lower_bound(tops.begin(), tops.end(), to);
        const auto previous = std::lower_bound(tops.begin(), tops.end(), from);
        target = passed != tops.end() && *passed < from ? *passed : (previous != tops.begin() ? *(previous - 1) : to);
    }
    bar->setSliderPosition(qBound(bar->minimum(), target, bar->maximum()));
}
}  // namespace

// The sender's row of the header: the sender and the date beside it.
QBoxLayout *senderRowOf(QLabel *sender)
{
    QLayout *area = sender->parentWidget() ? sender->parentWidget()->layout() : nullptr;
    if (!area)
        return nullptr;
    for (QBoxLayout *row : area->findChildren<QBoxLayout *>()) {
        if (row->indexOf(sender) >= 0)
            return row;
    }
    return nullptr;
}

void padHeaderBottom()
{
    QScrollArea *area = Panes().mailHeaderScroll;
    QLayout *layout = area && area->widget() ? area->widget()->layout() : nullptr;
    if (!layout)
        return;
    const int width = area->widget()->width();
    QMargins margins = layout->contentsMargins();
    const int total =
        layout->hasHeightForWidth() ? layout->totalHeightForWidth(width) : layout->totalSizeHint().height();
    const int end = total - margins.bottom() - area->viewport()->height();
    int pad = 0;
    if (end > 0) {
        const QVector<int> tops = headerLineTops();
        const auto top = std::lower_bound(tops.begin(), tops.end(), end);
        pad = top != tops.end() ? *top - end : 0;
    }
    if (margins.bottom() != pad) {
        margins.setBottom(pad);
        layout->setContentsMargins(margins);
    }
}

// Installed once: the view's bar snaps to lines, and the room below the last line follows
// every change of the view's or its area's size.
void keepHeaderScrollOnLines(QScrollArea *area)
{
    const char installed[] = "scrollsByLines";
    if (!area || area->property(installed).toBool())
        return;
    area->setProperty(installed, true);
    QScrollBar *bar = area->verticalScrollBar();
    QObject::connect(bar, &QAbstractSlider::actionTriggered, bar, [bar](int) { snapToLine(bar); });
    auto pending = std::make_shared<bool>(false);
    const auto settle = [area, pending](const QResizeEvent &) {
        if (*pending)
            return;
        *pending = true;
        QTimer::singleShot(0, area, [pending] {
            *pending = false;
            padHeaderBottom();
        });
    };
    FollowResize(area->viewport(), QStringLiteral("linePadViewport"), settle);
    FollowResize(area->widget(), QStringLiteral("linePadArea"), settle);
}

void fitHeaderHeight()
{
    const BrowsePanes &p = Panes();
    QScrollArea *area = p.mailHeaderScroll;
    if (!area || !p.mailHeaderArea || !p.attachmentGrid || !p.senderLabel || !p.recipientsLabel)
        return;
    QBoxLayout *senderRow = senderRowOf(p.senderLabel);
    if (senderRow)
        senderRow->invalidate();  // its labels' heights and its direction may be new
    const int width = area->viewport()->width();
    const int senderHeight = senderRow ? senderRow->sizeHint().height() : 0;
    const int linesHeight = senderHeight + p.recipientsLabel->heightForWidth(width);
    const int tiles = firstTileRowHeight(p.attachmentGrid);
    const int frame = area->height() - area->viewport()->height();
    const int most = qMax(kLeastHeaderHeight, p.previewFrame ? p.previewFrame->height() / 2 : 0);
    int height = qMax(kLeastHeaderHeight, linesHeight + tiles + frame);
    int step = tiles - p.attachmentGrid->contentsMargins().top();
    if (height > most) {
        // Too many recipients: the view ends after the last of their lines that fits, and steps
        // by lines.
        const QVector<LineSpan> lines = recipientLines(p.recipientsLabel, width);
        height = senderHeight + frame + (lines.isEmpty() ? 0 : lines.first().bottom);
        for (const LineSpan &line : lines) {
            if (senderHeight + frame + line.bottom <= most)
                height = senderHeight + frame + line.bottom;
        }
        step = lines.isEmpty() ? step : lines.first().bottom - lines.first().top;
    }
    if (p.mailHeaderArea->height() != height || p.mailHeaderArea->minimumHeight() != height)
        p.mailHeaderArea->setFixedHeight(height);
    if (step > 0)
        area->verticalScrollBar()->setSingleStep(step);
}

}  // namespace mailpreview
