#include "shell/ToolBarCaptions.h"

#include <QEvent>
#include <QLabel>
#include <QTimer>
#include <QToolBar>

namespace {

// Least room between two captions.
constexpr int kCaptionGap = 6;

}  // namespace

ToolBarCaptions::ToolBarCaptions(QToolBar *bar, const QVector<Caption> &captions)
    : QObject(bar), m_bar(bar), m_captions(captions)
{
    bar->installEventFilter(this);
    // The bar's layout is applied by the window's, later than the bar's own events: a button that
    // moves or changes size is what says the captions must follow.
    for (const Caption &caption : captions)
        caption.button->installEventFilter(this);
    Place();
}

void ToolBarCaptions::Place()
{
    m_placing = true;
    int previousRight = -kCaptionGap;
    int lowest = 0;
    for (const Caption &caption : qAsConst(m_captions)) {
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
        lowest = qMax(lowest, label->y() + label->height());
        previousRight = left + label->width();
    }
    // A caption taller than the bar left for it makes the bar taller, not the text cut.
    if (lowest > m_bar->minimumHeight())
        m_bar->setMinimumHeight(lowest);
    m_placing = false;
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
