#pragma once
// The one set of colours for selected rows in the folder tree and the item lists. The selected
// row is pale so that the texts drawn on it in their own colours (the mail rows' names, dates
// and grey snippets) stay readable, and the text the views draw themselves turns dark, not white.

#include <QColor>
#include <QString>

class QAbstractItemView;

QColor SelectionBackground();
QColor SelectionText();
// The grey of a mail row's snippet line, readable on white and on the selection.
QColor SnippetTextColour();

// "selection-background-color: …; selection-color: …;" for a view's style sheet.
QString SelectionStyle();
// Highlight and HighlightedText of every colour group (a view without focus shows its
// selection in the inactive colours).
void ApplySelectionPalette(QAbstractItemView *view);

// The contrast ratio of two opaque colours as the accessibility guidelines define it (1 to 21).
double ContrastRatio(const QColor &a, const QColor &b);
