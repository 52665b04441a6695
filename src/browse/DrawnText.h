#pragma once
// Text measured as it is drawn. A font's own metrics describe that font only; a Korean,
// Chinese or Japanese name in a Latin font is drawn in a fallback font whose lines are taller,
// so heights that must hold such text are taken from the text itself, at the resolution of the
// widget it is drawn on.

#include <QString>

class QFont;
class QLabel;
class QPaintDevice;

// The height of text laid out as a label lays it out (one line per line of text) on device,
// with every fallback font it needs; never less than the font's own line height.
int DrawnTextHeight(const QFont &font, const QString &text, const QPaintDevice *device);

// The width a one-line label needs to show text whole: the text as drawn with its fallback
// fonts, and the label's frame and margins. Not the label's size hint, which is never less than
// a fixed width and is not measured again for the text the label already shows.
int LabelLineWidth(const QLabel *label, const QString &text);
