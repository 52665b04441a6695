#include "browse/TextFit.h"

#include <QAbstractButton>
#include <QAbstractScrollArea>
#include <QComboBox>
#include <QEvent>
#include <QLabel>
#include <QLayout>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTextDocument>
#include <QTextOption>
#include <QtMath>

namespace {

// Edges within this many pixels of the inserted band stretch with it, so columns stay aligned.
constexpr int kAlignSlack = 2;
// Room kept between a grown text and the next widget, and at most towards the container's edge.
constexpr int kGap = 4;
constexpr int kEdgeMargin = 10;
// Each pass may change what wrapped labels need; a few passes always settle.
constexpr int kMaxPasses = 6;

// Lists, text views and combo boxes place their inner parts themselves.
bool PlacesOwnChildren(const QWidget *widget)
{
    return qobject_cast<const QAbstractScrollArea *>(widget) || qobject_cast<const QComboBox *>(widget);
}

bool IsPlaced(const QWidget *widget)
{
    const QWidget *parent = widget->parentWidget();
    return parent && !widget->isWindow() && !parent->layout() && !PlacesOwnChildren(parent);
}

int Start(const QRect &rect, Qt::Orientation along)
{
    return along == Qt::Horizontal ? rect.x() : rect.y();
}

int Extent(const QSize &size, Qt::Orientation along)
{
    return along == Qt::Horizontal ? size.width() : size.height();
}

int End(const QRect &rect, Qt::Orientation along)
{
    return Start(rect, along) + Extent(rect.size(), along);
}

QSize Grown(const QSize &size, Qt::Orientation along, int by)
{
    return along == Qt::Horizontal ? QSize(size.width() + by, size.height()) : QSize(size.width(), size.height() + by);
}

// A fixed-size widget keeps being fixed, only larger; a maximum below the new size is raised.
void ResizeAllowing(QWidget *widget, const QSize &size)
{
    if (widget->minimumSize() == widget->maximumSize()) {
        widget->setFixedSize(size);
        return;
    }
    widget->setMaximumSize(widget->maximumSize().expandedTo(size));
    widget->resize(size);
}

// Opens a band `by` pixels wide at `line` (the container's coordinates): children starting at or
// beyond it move, children crossing it stretch, and so do their own placed children.
void InsertBand(QWidget *container, Qt::Orientation along, int line, int by)
{
    const auto children = container->findChildren<QWidget *>(QString(), Qt::FindDirectChildrenOnly);
    for (QWidget *child : children) {
        if (!IsPlaced(child))
            continue;
        const QRect rect = child->geometry();
        if (Start(rect, along) >= line) {
            child->move(along == Qt::Horizontal ? rect.topLeft() + QPoint(by, 0) : rect.topLeft() + QPoint(0, by));
        } else if (End(rect, along) >= line - kAlignSlack) {
            ResizeAllowing(child, Grown(rect.size(), along, by));
            if (!PlacesOwnChildren(child))
                InsertBand(child, along, line - Start(rect, along), by);
        }
    }
}

QRect InWindow(const QWidget *window, const QWidget *widget)
{
    return QRect(widget->mapTo(window, QPoint(0, 0)), widget->size());
}

// How far `widget` may grow along `along` without touching a visible widget beyond it (in any
// container of the window: a sheet may lay a bar over its group box) or coming closer to its
// container's edge than it is allowed to.
int FreeRoom(QWidget *window, const QWidget *widget, Qt::Orientation along)
{
    const QWidget *container = widget->parentWidget();
    const QRect own = widget->geometry();
    const QRect rect = InWindow(window, widget);
    const Qt::Orientation across = along == Qt::Horizontal ? Qt::Vertical : Qt::Horizontal;
    const int edge = Extent(container->size(), along) - qMin(Start(own, along), kEdgeMargin);
    int limit = End(rect, along) + qMax(0, edge - End(own, along));
    // A container may reach past the window (a form's frame drawn wider than its sheet): the
    // window's own edge keeps its margin too.
    const int windowEdge = Extent(window->size(), along) - qMin(Start(rect, along), kEdgeMargin);
    if (End(rect, along) <= windowEdge)
        limit = qMin(limit, windowEdge);
    const auto all = window->findChildren<QWidget *>();
    for (const QWidget *other : all) {
        if (other == widget || !IsPlaced(other) || !other->isVisibleTo(window) || other->isAncestorOf(widget)
            || widget->isAncestorOf(other))
            continue;
        const QRect theirs = InWindow(window, other);
        if (theirs.intersects(rect))
            continue;
        const bool alongside = Start(theirs, across) < End(rect, across) && Start(rect, across) < End(theirs, across);
        if (alongside && Start(theirs, along) >= End(rect, along))
            limit = qMin(limit, Start(theirs, along) - kGap);
    }
    return qMax(0, limit - End(rect, along));
}

// Opens a band through the whole window at `line` (window coordinates); the window grows by it
// unless the line lies beyond the window.
void InsertWindowBand(QWidget *window, Qt::Orientation along, int line, int by)
{
    const int windowExtent = Extent(window->size(), along);
    InsertBand(window, along, line, by);
    if (windowExtent >= line - kAlignSlack)
        ResizeAllowing(window, Grown(window->size(), along, by));
}

// Gives `widget` `by` more pixels along `along`: free room first, then (if `band`) a band
// through `window` at its far edge. Returns whether anything changed.
bool Grow(QWidget *window, QWidget *widget, Qt::Orientation along, int by, bool band = true)
{
    if (by <= 0)
        return false;
    const int inPlace = qMin(by, FreeRoom(window, widget, along));
    if (inPlace > 0)
        ResizeAllowing(widget, Grown(widget->size(), along, inPlace));
    const int missing = by - inPlace;
    if (missing > 0 && band) {
        InsertWindowBand(window, along, End(InWindow(window, widget), along), missing);
        // A text grown up to the window's edge keeps the margin a sheet keeps elsewhere.
        const int end = End(InWindow(window, widget), along);
        const int margin = Extent(window->size(), along) - end;
        if (margin >= 0 && margin < kEdgeMargin)
            InsertWindowBand(window, along, end + kAlignSlack + 1, kEdgeMargin - margin);
    }
    return inPlace > 0 || (missing > 0 && band);
}

// A wrapped label's text laid out at `wrapWidth` (-1: on one line); returns the width it needs.
int LaidOutWidth(const QLabel *label, qreal wrapWidth)
{
    QTextDocument document;
    document.setDefaultFont(label->font());
    document.setDocumentMargin(0);
    // A label breaks lines between words only: a longer word runs past its side.
    QTextOption option = document.defaultTextOption();
    option.setWrapMode(QTextOption::WordWrap);
    document.setDefaultTextOption(option);
    if (label->textFormat() == Qt::RichText
        || (label->textFormat() == Qt::AutoText && Qt::mightBeRichText(label->text())))
        document.setHtml(label->text());
    else
        document.setPlainText(label->text());
    document.setTextWidth(wrapWidth);
    const int frame = 2 * (label->frameWidth() + label->margin()) + qMax(0, label->indent());
    return qCeil(document.idealWidth()) + frame + 1;
}

// A text drawn over the start of a later one (forms that let wrapped lines overlap) pushes the
// later one and all beyond it down, the earlier one keeping its height.
bool SeparateFrom(QWidget *window, QWidget *text, const QList<QWidget *> &texts)
{
    const QRect rect = InWindow(window, text);
    for (const QWidget *other : texts) {
        const QRect theirs = InWindow(window, other);
        if (other == text || !theirs.intersects(rect) || theirs.y() <= rect.y())
            continue;
        const QSize size = text->size();
        InsertWindowBand(window, Qt::Vertical, theirs.y(), rect.bottom() + 1 + kGap - theirs.y());
        ResizeAllowing(text, size);
        return true;
    }
    return false;
}

// A window too small for a text placed in it (a form that clips) grows to hold it.
bool Contain(QWidget *window, const QWidget *widget)
{
    const QRect inWindow(widget->mapTo(window, QPoint(0, 0)), widget->size());
    const QSize needed = window->size().expandedTo(QSize(inWindow.right() + 1, inWindow.bottom() + 1));
    if (needed == window->size())
        return false;
    ResizeAllowing(window, needed);
    return true;
}

QList<QWidget *> TextWidgets(QWidget *window)
{
    QList<QWidget *> texts;
    const auto all = window->findChildren<QWidget *>();
    for (QWidget *widget : all) {
        bool inView = false;
        for (const QWidget *up = widget->parentWidget(); up && up != window && !inView; up = up->parentWidget())
            inView = PlacesOwnChildren(up);
        if (!inView && IsPlaced(widget) && widget->isVisibleTo(window) && TextSizeNeeded(widget).isValid())
            texts.append(widget);
    }
    return texts;
}

bool FitPass(QWidget *window)
{
    bool changed = false;
    const QList<QWidget *> texts = TextWidgets(window);
    for (QWidget *text : texts) {
        const auto *label = qobject_cast<const QLabel *>(text);
        // A wrapped label takes free room beside it before it wraps; only a word longer than its
        // line (a path, an address) widens the window.
        if (label && label->wordWrap()) {
            changed |= Grow(window, text, Qt::Horizontal, LaidOutWidth(label, 0) - text->width());
            changed |= Grow(window, text, Qt::Horizontal, LaidOutWidth(label, -1) - text->width(), false);
        } else
            changed |= Grow(window, text, Qt::Horizontal, TextSizeNeeded(text).width() - text->width());
    }
    for (QWidget *text : texts)
        changed |= Grow(window, text, Qt::Vertical, TextSizeNeeded(text).height() - text->height());
    for (QWidget *text : texts)
        changed |= SeparateFrom(window, text, texts);
    for (QWidget *text : texts)
        changed |= Contain(window, text);
    return changed;
}

// The room a push button's caption and icon need inside the style's margins. Not its size hint:
// styles give every captioned button a least width of their own, which would widen a form whose
// small button holds a short caption.
QSize CaptionSize(const QPushButton *button)
{
    QStyleOptionButton option;
    option.initFrom(button);
    option.features = button->isFlat() ? QStyleOptionButton::Flat : QStyleOptionButton::None;
    QSize contents = button->fontMetrics().size(Qt::TextShowMnemonic, button->text());
    if (!button->icon().isNull())
        contents = QSize(contents.width() + button->iconSize().width() + 4,
                         qMax(contents.height(), button->iconSize().height()));
    // No caption in the option: the style then adds its margins only.
    return button->style()->sizeFromContents(QStyle::CT_PushButton, &option, contents, button);
}

constexpr char kKeeperName[] = "textFitKeeper";

// Refits its window when the window or a descendant is shown, or when a child's size hint
// changes while the window is visible (which Qt reports to the parent as a layout request).
class TextFitKeeper : public QObject {
public:
    explicit TextFitKeeper(QWidget *window) : QObject(window), m_window(window)
    {
        setObjectName(QLatin1String(kKeeperName));
    }

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        const bool relevant = event->type() == QEvent::Show
            || (event->type() == QEvent::LayoutRequest && m_window && m_window->isVisible());
        if (relevant && !m_fitting && m_window && watched->isWidgetType()) {
            m_fitting = true;
            FitTexts(m_window);
            m_fitting = false;
        }
        return false;
    }

private:
    QPointer<QWidget> m_window;
    bool m_fitting = false;
};

}  // namespace

QSize TextSizeNeeded(const QWidget *widget)
{
    if (const auto *label = qobject_cast<const QLabel *>(widget)) {
        // A label blanked with a space shows nothing and must not push its neighbours.
        if (label->text().trimmed().isEmpty())
            return QSize();
        if (label->wordWrap())
            return QSize(label->width(), label->heightForWidth(label->width()));
        return label->sizeHint();
    }
    if (const auto *button = qobject_cast<const QPushButton *>(widget))
        return button->text().isEmpty() ? QSize() : CaptionSize(button);
    if (const auto *button = qobject_cast<const QAbstractButton *>(widget))
        return button->text().isEmpty() ? QSize() : button->sizeHint();
    // A bar that shows its percentage needs the height of that text.
    if (const auto *bar = qobject_cast<const QProgressBar *>(widget))
        return bar->isTextVisible() ? QSize(bar->width(), bar->sizeHint().height()) : QSize();
    if (const auto *combo = qobject_cast<const QComboBox *>(widget))
        return combo->count() == 0 ? QSize() : combo->sizeHint();
    return QSize();
}

void FitTexts(QWidget *window)
{
    for (int pass = 0; pass < kMaxPasses && FitPass(window); ++pass) {
    }
}

void KeepTextsFitting(QWidget *window)
{
    QObject *keeper = window->findChild<QObject *>(QLatin1String(kKeeperName), Qt::FindDirectChildrenOnly);
    if (!keeper)
        keeper = new TextFitKeeper(window);
    window->installEventFilter(keeper);
    const auto all = window->findChildren<QWidget *>();
    for (QWidget *widget : all)
        widget->installEventFilter(keeper);
    FitTexts(window);
}
