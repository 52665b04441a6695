#include "shell/ToolBarCaptions.h"

#include <QEvent>
#include <QLabel>
#include <QToolBar>

namespace {

// Least room between two captions.
constexpr int kCaptionGap = 6;

} // namespace

ToolBarCaptions::ToolBarCaptions(QToolBar *bar, const QVector<Caption> &captions)
    : QObject(bar), m_bar(bar), m_captions(captions)
{
    bar->installEventFilter(this);
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
        label->resize(qMax(label->width(), hint.width()), qMax(label->height(), hint.height()));
        const QPoint buttonTopLeft = caption.button->mapTo(m_bar, QPoint(0, 0));
        const int left = buttonTopLeft.x() + (caption.button->width() - label->width()) / 2;
        const int overlap = previousRight + kCaptionGap - left;
        // The bar lays the wider gap (or button: its centre moves by half) out later and places
        // the captions again then.
        if (overlap > 0 && caption.gap)
            caption.gap->setFixedWidth(caption.gap->width() + overlap);
        else if (overlap > 0)
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
    if (watched == m_bar && !m_placing
        && (type == QEvent::LayoutRequest || type == QEvent::Resize || type == QEvent::Show))
        Place();
    return QObject::eventFilter(watched, event);
}
