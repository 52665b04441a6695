#pragma once
// Window dragging and keys shared by the offer and the download window: a left press in the top
// strip (the band below) starts a drag that moves the window until any button is released;
// Escape is swallowed so that only the window's own buttons end it, and no key reaches
// QDialog's handling (Return must not press a default button).

#include <QPoint>
#include <QRect>

class QKeyEvent;
class QMouseEvent;
class QWidget;

namespace UpdateDrag {
// The strip of the window's content where a press starts a drag.
inline QRect Band()
{
    return QRect(0, 0, 920, 30);
}
// Call before the base handler; sets or clears dragged and remembers the grab point.
void Press(QWidget *window, QMouseEvent *event, QPoint &dragPosition);
// Call after the base handler.
void Move(QWidget *window, QMouseEvent *event, const QPoint &dragPosition);
void Release();
void Key(QKeyEvent *event);
}  // namespace UpdateDrag
