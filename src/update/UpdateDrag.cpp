#include "update/UpdateDrag.h"

#include "update/UpdateGlobals.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QWidget>

namespace UpdateDrag {

void Press(QWidget *window, QMouseEvent *event, QPoint &dragPosition)
{
    if (event->button() != Qt::LeftButton)
        return;
    dragged = Band().contains(event->pos());
    if (dragged)
        dragPosition = event->globalPos() - window->frameGeometry().topLeft();
}

void Move(QWidget *window, QMouseEvent *event, const QPoint &dragPosition)
{
    if (!dragged || !(event->buttons() & Qt::LeftButton))
        return;
    window->move(event->globalPos() - dragPosition);
    event->accept();
}

void Release()
{
    dragged = false;
}

void Key(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Escape)
        event->ignore();
    else
        event->accept();
}

}  // namespace UpdateDrag
