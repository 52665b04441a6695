#include "update/UpdateNetwork.h"

#include "update/UpdateGlobals.h"
#include "update/UpdateLogic.h"

#include <QCoreApplication>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>

namespace {
constexpr int kMaxRedirects = 5;
// What a reply may hold before its reader takes it: the network thread stops reading the socket
// until then, so a server faster than the disk costs no memory.
constexpr qint64 kReadBufferBytes = 256 * 1024;
constexpr char kRefused[] = "updateRedirectRefused";

QNetworkAccessManager *g_manager = nullptr;

// Deleted as the application object ends, while Qt can still take the network thread down.
void DeleteManager()
{
    delete g_manager;
    g_manager = nullptr;
}

QNetworkAccessManager &SharedManager()
{
    if (!g_manager) {
        g_manager = new QNetworkAccessManager;
        qAddPostRoutine(DeleteManager);
    }
    return *g_manager;
}

void RefuseRedirect(QNetworkReply *reply)
{
    reply->setProperty(kRefused, true);
    reply->abort();
}
}  // namespace

QNetworkReply *GetUpdateFile(const QUrl &url)
{
    if (!IsAllowedUpdateUrl(url))
        return nullptr;
    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::UserVerifiedRedirectPolicy);
    request.setMaximumRedirectsAllowed(kMaxRedirects);
    request.setTransferTimeout(UpdateHooks::stallTimeoutMs);
    // A compressed transfer would change the sizes the download is checked against.
    request.setRawHeader("Accept-Encoding", "identity");
    QNetworkReply *reply = SharedManager().get(request);
    reply->setReadBufferSize(kReadBufferBytes);
    // Given again once the request runs: only then does the network thread stop reading the socket
    // while the buffer is full, instead of only handing over less at a time.
    QObject::connect(reply, &QNetworkReply::metaDataChanged, reply,
                     [reply] { reply->setReadBufferSize(kReadBufferBytes); });
    const QString scheme = url.scheme().toLower();
    QObject::connect(reply, &QNetworkReply::redirected, reply, [reply, scheme](const QUrl &target) {
        if (target.scheme().toLower() == scheme && IsAllowedUpdateUrl(target))
            Q_EMIT reply->redirectAllowed();
        else
            RefuseRedirect(reply);
    });
    return reply;
}

void DropUpdateReply(QNetworkReply *reply, const QObject *owner)
{
    reply->disconnect(owner);  // only the owner's: the reply's own carry the abort to the network
    reply->abort();
    reply->deleteLater();
}

bool IsCompleteAnswer(const QNetworkReply *reply)
{
    return reply->error() == QNetworkReply::NoError
        && reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt() == 200;
}

bool IsStalled(const QNetworkReply *reply)
{
    // The transfer timeout ends a reply as cancelled; so does a refused redirect, which is marked.
    return reply->error() == QNetworkReply::OperationCanceledError && !reply->property(kRefused).toBool();
}

ReplyFailure DescribeFailure(const QNetworkReply *reply)
{
    if (reply->property(kRefused).toBool())
        return {true, QStringLiteral("it redirected the request to an address that is refused")};
    if (IsStalled(reply))
        return {false, QStringLiteral("it stopped answering")};
    // The status, not the server's own words: those are not ours to show.
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (status >= 400)
        return {true, QStringLiteral("HTTP status %1").arg(status)};
    if (reply->error() != QNetworkReply::NoError)
        return {false, reply->errorString()};
    // A chain of redirections given up on ends without an error, and without the file.
    return {true, QStringLiteral("it did not send the file")};
}
