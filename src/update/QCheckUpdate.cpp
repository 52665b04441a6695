#include "update/QCheckUpdate.h"

#include "browse/TextFit.h"
#include "platform/PlistSettings.h"
#include "shell/ShellGlobals.h"
#include "shell/ShellHooks.h"
#include "update/QMinorUpdate.h"
#include "update/UpdateForms.h"
#include "update/UpdateLogic.h"
#include "update/UpdateNetwork.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QNetworkReply>
#include <QPushButton>
#include <QSettings>
#include <QTextStream>
#include <QTimer>

#include <fcntl.h>

namespace {
// A version text is a line or two; anything bigger is not one and is not kept.
constexpr qint64 kMaxVersionTextBytes = 64 * 1024;
int g_running = 0;
// The check running, whose sheet a user's Update brings up.
QCheckUpdate *g_current = nullptr;

QString storedInstalledVersion()
{
    return QSettings(QStringLiteral("apple"), QStringLiteral("MEXO.db")).value(QStringLiteral("VNo")).toString();
}
}  // namespace

QCheckUpdate::QCheckUpdate(QWidget *parent) : QDialog(parent), ui(new Ui::CheckUpdate)
{
    ui->setupUi(this);
    setModal(true);
    KeepTextsFitting(this);
    connect(ui->cancelButton, &QPushButton::clicked, this, &QCheckUpdate::Cancel);
    m_bound.setSingleShot(true);
    connect(&m_bound, &QTimer::timeout, this, &QCheckUpdate::GiveUp);
    ConnectingServer();
}

QCheckUpdate::~QCheckUpdate()
{
    ShowWaiting(false);
    if (g_current == this)
        g_current = nullptr;
    if (m_pReply) {
        --g_running;
        DropUpdateReply(m_pReply, this);
    }
}

void QCheckUpdate::ShowRunningCheck()
{
    if (g_current && g_current->m_pReply)
        g_current->ShowWaiting(true);
}

void QCheckUpdate::Cancel()
{
    if (!m_pReply)
        return;
    // The user ended it: nothing more is said, and the next check starts afresh.
    QNetworkReply *reply = m_pReply;
    m_pReply = nullptr;
    --g_running;
    DropUpdateReply(reply, this);
    m_bound.stop();
    ShowWaiting(false);
    m_pFile->close();
    QFile::remove(m_strFilePath);
    bCheckForUpdate = false;
    deleteLater();
}

void QCheckUpdate::GiveUp()
{
    if (!m_pReply)
        return;
    m_bTimedOut = true;
    m_pReply->abort();  // finishes with an error, reported as this failure
}

bool QCheckUpdate::IsRunning()
{
    return g_running > 0;
}

void QCheckUpdate::ConnectingServer()
{
    setVisible(false);
    m_bFileOpened = true;
    const QString workDir = UpdateWorkDir();
    if (workDir.isEmpty()) {
        FailWithoutRequest(tr("the private work folder cannot be used"));
        return;
    }
    if (QFileInfo::exists(VersionTxtPath) || QFileInfo(VersionTxtPath).isSymLink())
        QFile::remove(VersionTxtPath);
    const QString base = ReadPlistString(strPlistPath, QStringLiteral("UpdateLink_EN"));
    const QUrl url(base + QStringLiteral("Corvask.txt"), QUrl::TolerantMode);
    const QString name = QFileInfo(url.path(QUrl::FullyDecoded)).fileName();
    m_strFilePath = workDir + name;
    m_pFile = std::make_unique<QFile>(m_strFilePath);
    // Truncated, so a short answer never leaves the tail of an older text behind.
    if (name.isEmpty() || !OpenUnlinked(*m_pFile, m_strFilePath, O_WRONLY | O_CREAT | O_TRUNC)) {
        FailWithoutRequest(base.isEmpty() ? tr("no update address is set")
                                          : tr("the version text cannot be kept in the private work folder"));
        return;
    }
    m_pReply = GetUpdateFile(url);
    if (!m_pReply) {
        m_pFile->close();
        QFile::remove(m_strFilePath);
        FailWithoutRequest(base.isEmpty() ? tr("no update address is set")
                                          : tr("the update address may not serve updates"));
        return;
    }
    ++g_running;
    g_current = this;
    // One bound on the whole check, however slowly the server sends.
    m_bound.start(UpdateHooks::checkBoundMs);
    if (bCheckForUpdate)
        ShowWaiting(true);
    connect(m_pReply, &QNetworkReply::finished, this, &QCheckUpdate::downloadFinishedTxt);
    connect(m_pReply, &QNetworkReply::readyRead, this, &QCheckUpdate::downloadReadyReadTxt);
}

void QCheckUpdate::ShowWaiting(bool waiting)
{
    if (waiting == m_bWaitingShown)
        return;
    m_bWaitingShown = waiting;
    if (waiting) {
        QApplication::setOverrideCursor(Qt::BusyCursor);
        // After the caller's hide(): the sheet with its Cancel stays up while the server is awaited.
        QTimer::singleShot(0, this, [this] {
            if (m_bWaitingShown)
                show();
        });
    } else {
        QApplication::restoreOverrideCursor();
        hide();
    }
}

void QCheckUpdate::FailWithoutRequest(const QString &reason)
{
    m_bFileOpened = false;
    // After the constructor: the caller hides the dialog and the message needs an event loop.
    QTimer::singleShot(0, this, [this, reason] {
        UpdateVersionAvailable = false;
        EndWithFailure(tr("\nThe update check could not be made: %1.").arg(reason));
    });
}

void QCheckUpdate::downloadReadyReadTxt()
{
    if (!m_pReply)
        return;
    const QByteArray data = m_pReply->readAll();
    if (m_bWriteFailed)
        return;
    if (m_pFile->size() + data.size() > kMaxVersionTextBytes || m_pFile->write(data) != data.size()) {
        m_bWriteFailed = true;
        m_bTooLarge = m_pFile->size() + data.size() > kMaxVersionTextBytes;
        m_pReply->abort();  // finishes with an error, reported as this failure
    }
}

void QCheckUpdate::downloadFinishedTxt()
{
    if (!m_pReply)
        return;  // already handled: an abort may report its end more than once
    ShowWaiting(false);
    m_bound.stop();
    if (m_pReply->bytesAvailable() > 0)
        downloadReadyReadTxt();
    QNetworkReply *reply = m_pReply;
    m_pReply = nullptr;
    --g_running;
    reply->deleteLater();
    // A stale offer from an earlier check must not silence this one's answer.
    UpdateVersionAvailable = false;
    const bool written = !m_bWriteFailed && m_pFile->flush();
    m_pFile->close();
    if (!IsCompleteAnswer(reply) || !written) {
        QFile::remove(m_strFilePath);
        hide();
        EndWithFailure(FailureText(reply));
        return;
    }
    const QString line = ReadVersionLine();
    const UpdateOutcome outcome = DecideUpdate(line, storedInstalledVersion());
    hide();
    if (outcome == UpdateOutcome::NotAVersion) {
        // A login page or an empty answer read no version: never "No update available."
        QFile::remove(m_strFilePath);
        EndWithFailure(tr("\nThe update server answered wrongly: %1.").arg(tr("the answer is not a version")));
        return;
    }
    if (outcome != UpdateOutcome::OfferMajor && outcome != UpdateOutcome::OfferMinor) {
        EndWithoutOffer();
        return;
    }
    UpdateVersionAvailable = true;
    FillUpdateRows(softwareUpdate, outcome == UpdateOutcome::OfferMajor, line);
    bCheckForUpdate = false;
    auto *offer = new QMinorUpdate(this, m_strFilePath);
    offer->show();
}

QString QCheckUpdate::ReadVersionLine()
{
    // Reopened read-write as always: a missing file comes back empty, and reads as no version.
    QFile file(m_strFilePath);
    if (!OpenUnlinked(file, m_strFilePath, O_RDWR | O_CREAT))
        return QString();
    QTextStream stream(&file);
    return stream.readLine(kMaxVersionTextBytes).trimmed();
}

void QCheckUpdate::EndWithoutOffer()
{
    ReportNoUpdate();
    deleteLater();
}

QString QCheckUpdate::FailureText(const QNetworkReply *reply) const
{
    if (m_bTimedOut) {
        const int seconds = qMax(1, (UpdateHooks::checkBoundMs + 999) / 1000);
        return tr("\nThe update server could not be reached: it did not answer within %1 %2.")
            .arg(seconds)
            .arg(seconds == 1 ? tr("second") : tr("seconds"));
    }
    if (m_bTooLarge)
        return tr("\nThe update server answered wrongly: %1.").arg(tr("the answer is too large for a version text"));
    if (m_bWriteFailed)
        return tr("\nThe update check could not be made: %1.").arg(tr("the version text could not be written"));
    const ReplyFailure failure = DescribeFailure(reply);
    return (failure.reached ? tr("\nThe update server answered wrongly: %1.")
                            : tr("\nThe update server could not be reached: %1."))
        .arg(failure.reason);
}

void QCheckUpdate::EndWithFailure(const QString &message)
{
    // Only a check the user asked for says so; the automatic one stays silent.
    if (bCheckForUpdate) {
        bCheckForUpdate = false;
        ShowMessageBox(nullptr, message);  // with the mark of a failure, not the information sign
    }
    deleteLater();
}

void QCheckUpdate::ReportNoUpdate()
{
    if (!bCheckForUpdate)
        return;
    bCheckForUpdate = false;
    ShowMessageBox(nullptr, tr("\nNo update available."), QStringLiteral("border-image:url(:/images/Info.png);"));
}

bool QCheckUpdate::CheckIfCurrentVersionLatest(const QString &text) const
{
    return StoredVersionCovers(text, storedInstalledVersion());
}
