#include "browse/ResizeFollower.h"

#include <QEvent>
#include <QResizeEvent>
#include <QWidget>

#include <utility>

namespace {

class ResizeFollower : public QObject {
public:
    ResizeFollower(QObject *parent, std::function<void(const QResizeEvent &)> act)
        : QObject(parent), m_act(std::move(act))
    {
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Resize)
            m_act(*static_cast<QResizeEvent *>(event));
        return QObject::eventFilter(watched, event);
    }

private:
    std::function<void(const QResizeEvent &)> m_act;
};

}  // namespace

void FollowResize(QWidget *target, const QString &name, std::function<void(const QResizeEvent &)> act)
{
    if (!target || target->findChild<QObject *>(name, Qt::FindDirectChildrenOnly))
        return;
    auto *follower = new ResizeFollower(target, std::move(act));
    follower->setObjectName(name);
    target->installEventFilter(follower);
}
