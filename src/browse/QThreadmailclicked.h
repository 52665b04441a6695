#pragma once
// The item-list thread: tells the browsing side when a mail folder's rows may be shown.

#include <QThread>

class QThreadmailclicked : public QThread {
    Q_OBJECT
public:
    explicit QThreadmailclicked(QObject *parent = nullptr) : QThread(parent) {}
    ~QThreadmailclicked() override { wait(); }

Q_SIGNALS:
    void StartShowingMemoryResult();

protected:
    void run() override { Q_EMIT StartShowingMemoryResult(); }
};
