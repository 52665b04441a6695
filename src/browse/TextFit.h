#pragma once
// Windows whose children sit at fixed rectangles (taken from forms drawn with other fonts) grow
// until every text fits: the rectangles are the minimum, never shrunk. A label or button that
// needs more room first takes free room beside or below it; what is still missing is inserted
// as a band through the window at its edge, so everything beyond the edge moves along and
// everything crossing it (frames, title strips, backgrounds) stretches. Widgets managed by a
// layout are left to their layout.

class QWidget;

// Grows `window` and its placed descendants once, for the texts and fonts they hold now.
void FitTexts(QWidget *window);

// Fits now and again whenever the window or one of its descendants is shown or a child's text
// changes while the window is visible. Safe to call more than once.
void KeepTextsFitting(QWidget *window);

// The size a text widget needs at its current width (word-wrapped labels wrap at that width), or
// an invalid size for a widget that holds no text to fit.
class QSize;
QSize TextSizeNeeded(const QWidget *widget);
