#pragma once
// A pane's reaction to its own resizes, installed once: a pane filled again keeps the follower
// it has instead of gaining another.

#include <QString>

#include <functional>

class QResizeEvent;
class QWidget;

void FollowResize(QWidget *target, const QString &name, std::function<void(const QResizeEvent &)> act);
