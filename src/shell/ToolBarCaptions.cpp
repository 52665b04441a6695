#include "shell/ToolBarCaptions.h"

#include <QAbstractButton>
#include <QEvent>
#include <QHash>
#include <QImage>
#include <QLabel>
#include <QTimer>
#include <QToolBar>

namespace {

// Least room between two captions.
constexpr int kCaptionGap = 6;
// Blank pixel rows between an icon's lowest drawn row and the top of its caption's letters.
constexpr int kIconGap = 2;
// Rows below a caption's line: the bar's 2-pixel bottom border and a blank row above it.
constexpr int kBarEdge = 3;

// The lowest row the button draws in bar coordinates; -1 for a button without an icon. A
// checkable button draws its frame when checked; otherwise it is the lowest drawn (not
// transparent) row of its icon as the button centres it: the pictures end in transparent rows of
// different heights, so the button's own edge says little.
int iconInkBottom(const QWidget *widget, const QToolBar *bar)
{
    const auto *button = qobject_cast<const QAbstractButton *>(widget);
    if (!button || button->icon().isNull())
        return -1;
    if (button->isCheckable())
        return button->mapTo(bar, QPoint(0, button->height() - 1)).y();
    const QImage image = button->icon().pixmap(button->iconSize()).toImage();
    int last = -1;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width() && last < y; ++x) {
            if (qAlpha(image.pixel(x, y)) > 0)
                last = y;
        }
    }
    if (last < 0)
        return -1;
    const int top = button->mapTo(bar, QPoint(0, 0)).y() + (button->height() - image.height()) / 2;
    return top + last;
}

// How far below the label's top its caption's letters start, the line centred in the label.
int inkOffset(const QLabel *label)
{
    const QFontMetrics metrics = label->fontMetrics();
    return (label->height() - metrics.height()) / 2 + metrics.ascent() + metrics.tightBoundingRect(label->text()).top();
}

}  // namespace

ToolBarCaptions::ToolBarCaptions(QToolBar *bar, const QVector<Caption> &captions)
    : QObject(bar), m_bar(bar), m_captions(captions)
{
    for (const Caption &caption : captions)
        m_designedTops.append(caption.label->y());
    bar->installEventFilter(this);
    // The bar's layout is applied by the window's, later than the bar's own events: a button that
    // moves or changes size is what says the captions must follow.
    // A caption the window's text fitting resizes later centres its line elsewhere: placed again.
    for (const Caption &caption : captions) {
        caption.button->installEventFilter(this);
        caption.label->installEventFilter(this);
    }
    Place();
}

void ToolBarCaptions::Place()
{
    m_placing = true;
    int previousRight = -kCaptionGap;
    int lowest = 0;
    for (int i = 0; i < m_captions.size(); ++i) {
        const Caption &caption = m_captions.at(i);
        QLabel *label = caption.label;
        const QSize hint = label->sizeHint();
        // As wide as its text, so that centring the box centres the text.
        label->resize(hint.width(), qMax(label->height(), hint.height()));
        const QPoint buttonTopLeft = caption.button->mapTo(m_bar, QPoint(0, 0));
        const int left = buttonTopLeft.x() + (caption.button->width() - label->width()) / 2;
        const int overlap = previousRight + kCaptionGap - left;
        // The bar lays the wider gap (or button: its centre moves by half) out later and places
        // the captions again then; until it has, the places seen here are stale.
        QWidget *widen = caption.gap ? caption.gap : caption.button;
        const bool laidOut = m_bar->isVisible() && widen->width() >= widen->minimumWidth();
        if (overlap > 0 && laidOut && caption.gap)
            caption.gap->setFixedWidth(caption.gap->width() + overlap);
        else if (overlap > 0 && laidOut)
            caption.button->setMinimumWidth(caption.button->width() + 2 * overlap);
        label->move(left, label->y());
        label->raise();
        previousRight = left + label->width();
    }
    // Below their icons' drawn parts at every font resolution (larger letters start higher in
    // their line); captions placed on one line in the form stay on one line.
    QHash<int, int> lineTops;
    for (int i = 0; i < m_captions.size(); ++i) {
        const Caption &caption = m_captions.at(i);
        const int inkBottom = iconInkBottom(caption.button, m_bar);
        const int designed = m_designedTops.at(i);
        const int needed = inkBottom < 0 ? designed : inkBottom + 1 + kIconGap - inkOffset(caption.label);
        lineTops[designed] = qMax(lineTops.value(designed, designed), needed);
    }
    for (int i = 0; i < m_captions.size(); ++i) {
        QLabel *label = m_captions.at(i).label;
        label->move(label->x(), lineTops.value(m_designedTops.at(i)));
        const int lineBottom = label->y() + (label->height() + label->fontMetrics().height()) / 2;
        lowest = qMax(lowest, qMax(label->y() + label->height(), lineBottom + kBarEdge));
    }
    // A caption taller than the bar left for it makes the bar taller, not the text cut or drawn
    // over the bar's border.
    const int barHeight = m_bar->height();
    if (lowest > m_bar->minimumHeight())
        m_bar->setMinimumHeight(lowest);
    m_placing = false;
    // A taller bar centres its buttons lower at once, while the moves were not watched: the
    // captions follow them.
    if (m_bar->height() != barHeight && !m_queued) {
        m_queued = true;
        QTimer::singleShot(0, this, [this] {
            m_queued = false;
            Place();
        });
    }
}

bool ToolBarCaptions::eventFilter(QObject *watched, QEvent *event)
{
    const QEvent::Type type = event->type();
    // The bar lays its widgets out after this filter has seen the event: place the captions
    // once it has.
    const bool barChanged = watched == m_bar && (type == QEvent::LayoutRequest || type == QEvent::Show);
    if ((barChanged || type == QEvent::Move || type == QEvent::Resize) && !m_placing && !m_queued) {
        m_queued = true;
        QTimer::singleShot(0, this, [this] {
            m_queued = false;
            Place();
        });
    }
    return QObject::eventFilter(watched, event);
}
