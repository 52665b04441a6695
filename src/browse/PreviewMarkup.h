#pragma once
// Filtered mail markup made to look in the preview as a browser shows it, where the toolkit's
// reading of it differs. Each walk costs what the markup's length does.

#include <QByteArray>

// A paragraph holding only blanks (Word writes its empty lines as <p><o:p>&nbsp;</o:p></p>, the
// reference already undone to a blank) keeps its line: the toolkit would drop it.
QByteArray WithEmptyParagraphsKept(const QByteArray &markup);
// A quote or block whose style draws a left border (border-left, not none) shows it: its
// content goes in a one-cell table whose cell draws that border, which the toolkit draws where
// it draws none for the block itself.
QByteArray WithQuoteBordersDrawn(const QByteArray &markup);
// Markup that sets a direction anywhere is held in a left-to-right block: the toolkit gives the
// block after an element with a direction that element's direction where no parent sets one, and
// a browser gives it the page's (left to right).
QByteArray WithUnsetDirectionsLeftToRight(const QByteArray &markup);
