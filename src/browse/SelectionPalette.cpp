#include "browse/SelectionPalette.h"

#include <QAbstractItemView>
#include <QtMath>

namespace {

double Linear(double channel)
{
    return channel <= 0.03928 ? channel / 12.92 : qPow((channel + 0.055) / 1.055, 2.4);
}

double RelativeLuminance(const QColor &colour)
{
    return 0.2126 * Linear(colour.redF()) + 0.7152 * Linear(colour.greenF()) + 0.0722 * Linear(colour.blueF());
}

}  // namespace

QColor SelectionBackground()
{
    return QColor(222, 234, 252);
}

QColor SelectionText()
{
    return QColor(Qt::black);
}

QColor SnippetTextColour()
{
    return QColor(105, 105, 105);
}

QString SelectionStyle()
{
    return QStringLiteral("selection-background-color: %1; selection-color: %2;")
        .arg(SelectionBackground().name(), SelectionText().name());
}

void ApplySelectionPalette(QAbstractItemView *view)
{
    QPalette palette = view->palette();
    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
        palette.setColor(group, QPalette::Highlight, SelectionBackground());
        palette.setColor(group, QPalette::HighlightedText, SelectionText());
    }
    view->setPalette(palette);
}

double ContrastRatio(const QColor &a, const QColor &b)
{
    const double la = RelativeLuminance(a);
    const double lb = RelativeLuminance(b);
    return (qMax(la, lb) + 0.05) / (qMin(la, lb) + 0.05);
}
