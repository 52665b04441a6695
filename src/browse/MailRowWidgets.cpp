// The widgets of the mail rows in view, laid over their rows and handed on as rows scroll by.

#include "browse/DrawnText.h"
#include "browse/ItemListFill.h"
#include "browse/ItemListMailRow.h"
#include "browse/ItemListMailRowParts.h"
#include "browse/MailPreview.h"
#include "browse/SelectionPalette.h"
#include "platform/ArchiveSource.h"
#include "save/MessageFields.h"
#include "save/mail/MailHeaders.h"
#include "scanner/ScanGlobals.h"
#include "scanner/XmlEntities.h"

#include <QApplication>
#include <QDateTime>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QHash>
#include <QHeaderView>
#include <QLabel>
#include <QPixmapCache>
#include <QTextDocument>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <QVector>

using namespace mailrow;

namespace {

// The row a widget was made for, as its place in the list: rows are only appended until the list
// is cleared, and a place is looked up again before its row is touched.
//
// The widgets lie on the list's viewport over their rows' text column rather than being the view's
// index widgets: the view lays out every row again for each index widget set, which a page step
// through a folder of many mails cannot afford. The viewport's scrolling moves them along; they are
// placed again whenever rows come into view.
const char kRowPlaceProperty[] = "mailRowPlace";
const char kWatchedProperty[] = "mailRowWidgetsWatched";

bool isMailRow(const QTreeWidgetItem *row)
{
    return row && row->data(ItemColumnKey, ItemKindRole) == QVariant(int(FolderKindMail))
        && row->data(ItemColumnText, SubjectRole).isValid();
}

QList<QWidget *> rowWidgets(const QWidget *viewport)
{
    return viewport->findChildren<QWidget *>(QLatin1String(kRowWidgetName), Qt::FindDirectChildrenOnly);
}

QList<QWidget *> rowWidgets(const QTreeWidget *list)
{
    return rowWidgets(list->viewport());
}

QWidget *rowWidgetAt(const QTreeWidget *list, int place)
{
    for (QWidget *widget : rowWidgets(list)) {
        if (widget->property(kRowPlaceProperty) == QVariant(place))
            return widget;
    }
    return nullptr;
}

// Row widgets out of use wait, hidden, to show the next rows that come into view: making a
// widget costs far more than showing other texts on it.
const char kSpareRowWidgetName[] = "mailRowSpare";

// Gone from the lookups at once; kept for another row.
void releaseRowWidget(QWidget *widget)
{
    widget->hide();
    widget->setObjectName(QLatin1String(kSpareRowWidgetName));
    widget->setProperty(kRowPlaceProperty, QVariant());
}

QWidget *spareRowWidget(const QTreeWidget *list)
{
    return list->viewport()->findChild<QWidget *>(QLatin1String(kSpareRowWidgetName), Qt::FindDirectChildrenOnly);
}

// Rows that go take their widgets along. The viewport is the handlers' context: it goes before
// the model when the list is destroyed, and the model's last signals find nothing to do.
void watchRowRemoval(QTreeWidget *list)
{
    QWidget *viewport = list->viewport();
    if (viewport->property(kWatchedProperty).toBool())
        return;
    viewport->setProperty(kWatchedProperty, true);
    const auto releaseAll = [viewport] {
        for (QWidget *widget : rowWidgets(viewport))
            releaseRowWidget(widget);
    };
    QAbstractItemModel *model = list->model();
    QObject::connect(model, &QAbstractItemModel::modelAboutToBeReset, viewport, releaseAll);
    QObject::connect(model, &QAbstractItemModel::rowsAboutToBeRemoved, viewport, releaseAll);
    QObject::connect(model, &QAbstractItemModel::rowsAboutToBeInserted, viewport,
                     [model, releaseAll](const QModelIndex &, int first) {
                         // Places after an insertion point no longer name their rows.
                         if (first < model->rowCount())
                             releaseAll();
                     });
}

void placeRowWidget(QTreeWidget *list, QWidget *widget, int place)
{
    const QRect cell = list->visualRect(list->model()->index(place, ItemColumnText));
    widget->move(cell.topLeft());
    widget->setFixedHeight(cell.height());
}

QWidget *ensureRowWidget(QTreeWidget *list, QTreeWidgetItem *row, int place)
{
    QWidget *widget = rowWidgetAt(list, place);
    if (!widget) {
        widget = spareRowWidget(list);
        if (!widget) {
            widget = newRowWidget(list);
            widget->setParent(list->viewport());
            watchRowRemoval(list);
        }
        widget->setObjectName(QLatin1String(kRowWidgetName));
        widget->setProperty(kRowPlaceProperty, place);
        showRowTexts(widget, row, list);
        widget->show();
    }
    placeRowWidget(list, widget, place);
    return widget;
}

// Releases the widgets of rows further than margin rows from [first, last], and puts the others
// over their rows. A folder of many mails keeps widgets for about three screens of rows however
// far it is scrolled. A jump of more than a screen (Home, End) repaints the view instead of
// scrolling it, which leaves the widgets where they were: a kept widget out of view would then
// be drawn over the rows now there.
void settleRowWidgets(QTreeWidget *list, int first, int last, int margin)
{
    for (QWidget *widget : rowWidgets(list)) {
        const QVariant place = widget->property(kRowPlaceProperty);
        if (!place.isValid())
            continue;
        const int at = place.toInt();
        if (at < first - margin || at > last + margin || at >= list->topLevelItemCount())
            releaseRowWidget(widget);
        else if (at < first || at > last)
            placeRowWidget(list, widget, at);
    }
}

}  // namespace

QWidget *EnsureMailRowWidget(QTreeWidget *list, QTreeWidgetItem *row)
{
    if (!isMailRow(row))
        return nullptr;
    return ensureRowWidget(list, row, list->indexOfTopLevelItem(row));
}

QWidget *MailRowWidget(const QTreeWidget *list, QTreeWidgetItem *row)
{
    if (!isMailRow(row) || rowWidgets(list).isEmpty())
        return nullptr;
    return rowWidgetAt(list, list->indexOfTopLevelItem(row));
}

void MakeVisibleMailRowWidgets(QTreeWidget *list)
{
    const QRect area = list->viewport()->rect();
    // Found by place, not by walking the rows: a folder of many mails costs what one screen does.
    const int first = list->indexAt(QPoint(0, area.top())).row();
    if (first < 0)
        return;
    // The rows in view are found before any widget is made: a widget set asks the view for a
    // new layout, which the next step down would otherwise run over the whole list.
    QVector<QTreeWidgetItem *> inView;
    // Rows are at least 20 pixels high: a bound that a strange geometry cannot stretch.
    const int count = list->topLevelItemCount();
    for (int i = first; i < count && i < first + area.height() / 20 + 2; ++i) {
        QTreeWidgetItem *row = list->topLevelItem(i);
        if (!list->visualItemRect(row).intersects(area))
            break;
        inView.append(row);
    }
    for (int i = 0; i < inView.size(); ++i) {
        if (isMailRow(inView.at(i)))
            ensureRowWidget(list, inView.at(i), first + i);
    }
    const int last = first + inView.size() - 1;
    settleRowWidgets(list, first, last, qMax(10, int(inView.size())));
}
