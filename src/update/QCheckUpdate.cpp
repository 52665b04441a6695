#include "update/QCheckUpdate.h"

#include "platform/PlistSettings.h"
#include "shell/ShellGlobals.h"
#include "shell/ShellHooks.h"

#include <QFile>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QVersionNumber>

bool bCheckForUpdate = false;

namespace {
// A version text is a line or two; anything bigger is not one and is not kept.
constexpr qint64 kMaxVersionTextBytes = 64 * 1024;
// A server that accepts the connection but never answers must not keep the check open forever.
constexpr int kTransferTimeoutMs = 30000;
} // namespace

QCheckUpdate::QCheckUpdate(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("CheckUpdate"));
    setModal(true);
    m_manager.setTransferTimeout(kTransferTimeoutMs);
    ConnectingServer();
}

QCheckUpdate::~QCheckUpdate() = default;

QString QCheckUpdate::CurrentVersion()
{
    return QStringLiteral("3.0.0.0");
}

bool QCheckUpdate::IsNewerVersion(const QString &text, const QString &current)
{
    const QVersionNumber offered = QVersionNumber::fromString(text.trimmed()).normalized();
    if (offered.isNull())
        return false;
    return QVersionNumber::compare(offered, QVersionNumber::fromString(current).normalized()) > 0;
}

void QCheckUpdate::ConnectingServer()
{
    if (!m_workDir.isValid())
        return;   // nowhere to keep the answer: no request, and nothing is shown
    VersionTxtPath = m_workDir.filePath(QStringLiteral("Corvask.txt"));
    m_versionFile = std::make_unique<QFile>(VersionTxtPath);
    if (!m_versionFile->open(QIODevice::ReadWrite | QIODevice::Truncate))
        return;
    const QString base = ReadPlistString(strPlistPath, QStringLiteral("UpdateLink_EN"));
    QNetworkRequest request(QUrl(base + QStringLiteral("Corvask.txt")));
    m_reply = m_manager.get(request);
    connect(m_reply, &QNetworkReply::readyRead, this, &QCheckUpdate::downloadReadyReadTxt);
    connect(m_reply, &QNetworkReply::finished, this, &QCheckUpdate::downloadFinishedTxt);
}

void QCheckUpdate::downloadReadyReadTxt()
{
    if (!m_reply)
        return;
    const QByteArray data = m_reply->readAll();
    if (m_writeFailed)
        return;
    if (m_versionFile->size() + data.size() > kMaxVersionTextBytes
        || m_versionFile->write(data) != data.size()) {
        m_writeFailed = true;
        m_reply->abort();   // finishes with an error, which reads as "no update"
    }
}

void QCheckUpdate::downloadFinishedTxt()
{
    if (!m_reply)
        return;   // already handled: an abort may report its end more than once
    if (m_reply->error() == QNetworkReply::NoError && m_reply->bytesAvailable() > 0) {
        downloadReadyReadTxt();   // whatever arrived after the last readyRead
        if (!m_reply)
            return;
    }
    QNetworkReply *reply = m_reply;
    m_reply = nullptr;
    reply->deleteLater();
    if (reply->error() != QNetworkReply::NoError || m_writeFailed || !m_versionFile->flush()) {
        m_versionFile->close();
        QFile::remove(VersionTxtPath);
        hide();
        UpdateVersionAvailable = false;
        ReportNoUpdate();
        return;
    }
    m_versionFile->seek(0);
    const QString offered = QString::fromUtf8(m_versionFile->readLine(kMaxVersionTextBytes));
    m_versionFile->close();
    if (IsNewerVersion(offered)) {
        // The offer of the new version belongs to the full update dialog; the check only notes it.
        UpdateVersionAvailable = true;
        bCheckForUpdate = false;
        return;
    }
    ReportNoUpdate();
}

void QCheckUpdate::ReportNoUpdate()
{
    if (!bCheckForUpdate)
        return;
    ShowMessageBox(parentWidget(), tr("\nNo update available."),
                   QStringLiteral("border-image:url(:/images/Info.png);"));
    bCheckForUpdate = false;
}
