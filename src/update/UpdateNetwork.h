#pragma once
// One GET of an update file: refused unless the address may serve updates, given up after a stall,
// and following a redirect only to an address of the same scheme that may serve updates too. A
// reply holds at most a small read buffer, however fast the server sends.
// Every GET goes through one manager that lives until the application ends: a manager ended
// just after its reply finished can stop its network thread before that thread has released the
// reply, and what the thread still held is then never freed.

#include <QString>
#include <QUrl>

class QNetworkReply;
class QObject;

// The reply of the GET, or nullptr when url may not serve updates. The caller deletes the reply
// (DropUpdateReply while it runs); the shared manager only deletes what is left at the end.
QNetworkReply *GetUpdateFile(const QUrl &url);
// Stops a reply still running, without its signals reaching owner any more, and deletes it.
void DropUpdateReply(QNetworkReply *reply, const QObject *owner);
// The finished reply brought the file itself: no error and HTTP status 200.
bool IsCompleteAnswer(const QNetworkReply *reply);
// The reply ended because no data came for too long.
bool IsStalled(const QNetworkReply *reply);

struct ReplyFailure {
    bool reached = false;  // the server answered, but not with the file
    QString reason;        // in words, for the user
};
// Why a finished reply that is no complete answer brought no file.
ReplyFailure DescribeFailure(const QNetworkReply *reply);
