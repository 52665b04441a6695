#pragma once
// One GET of an update file: refused unless the address may serve updates, given up after a stall,
// and following a redirect only to an address of the same scheme that may serve updates too.

#include <QString>
#include <QUrl>

class QNetworkAccessManager;
class QNetworkReply;

// The reply of the GET, or nullptr when url may not serve updates.
QNetworkReply *GetUpdateFile(QNetworkAccessManager &manager, const QUrl &url);
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
