#include "update/QDownloadApp.h"

#include "platform/Edition.h"
#include "platform/PlistSettings.h"
#include "shell/ShellGlobals.h"
#include "update/UpdateDrag.h"
#include "update/UpdateForms.h"
#include "update/UpdateGlobals.h"
#include "update/UpdateInstaller.h"
#include "update/UpdateLogic.h"
#include "update/UpdateNetwork.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QNetworkReply>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QSettings>

#include <cerrno>
#include <cstring>
#include <fcntl.h>

namespace {
// No program package comes near this; a bigger answer is not one.
constexpr qint64 kMaxPackageBytes = qint64(1) << 30;

bool isPackageType(const QString &contentType)
{
    const QString type = contentType.section(QLatin1Char(';'), 0, 0).trimmed().toLower();
    return type.isEmpty() || type == QLatin1String("application/zip")
        || type == QLatin1String("application/x-zip-compressed") || type == QLatin1String("application/x-zip")
        || type == QLatin1String("application/octet-stream");
}
// Why a write to the package failed: the file's own words, or the system's for the errno the
// failed call left where the file has none ("Unknown error" says nothing of a full disk).
QString writeFailure(const QFile &file, int error)
{
    if (file.error() != QFileDevice::NoError && file.errorString() != QLatin1String("Unknown error"))
        return file.errorString();
    return error != 0 ? QString::fromLocal8Bit(std::strerror(error)) : file.errorString();
}

}  // namespace

QDownloadApp::QDownloadApp(QWidget *parent) : FramelessDialog(parent), ui(new Ui::DownloadUpdate)
{
    ui->setupUi(this);
    // Hidden before the texts are fitted: the success text and the OK button share their places
    // with the download's texts and would push them aside.
    ui->RestartLabel->hide();
    ui->OkButton->hide();
    SetFixedSizeWidget();
    connect(ui->OkButton, &QPushButton::clicked, this, &QDownloadApp::OnOk);
    connect(ui->CancelButton, &QPushButton::clicked, this, [this] {
        if (m_pReply)
            StopDownload(tr("The download was cancelled."));  // the partial package is removed at its end
    });
    downloadExe();
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::CustomizeWindowHint);
    setWindowTitle(EditionName());
    ui->label_2->setStyleSheet(QStringLiteral("QLabel#label_2{ \nimage: url(:/images/%1);\nborder: none;\n}")
                                   .arg(bforQConverterFO ? QStringLiteral("img_SoftwareUpdateConverter.png")
                                                         : QStringLiteral("img_SoftwareUpdate.png")));
    ui->OkButton->setStyleSheet(
        QStringLiteral("QPushButton{border-image: url(:/images/img_ActiveSmall.png);}"
                       "QPushButton:hover{border-image: url(:/images/img_ActiveSmall.png);}"
                       "QPushButton:pressed{border-image: url(:/images/img_ActiveSmall.png);}"));
    // A failure found before the window was built shows its OK already.
    ui->OkButton->setVisible(m_state != State::Downloading);
    ui->CancelButton->setVisible(m_state == State::Downloading);
    ui->ExeDownLoadProgressBar->setTextVisible(false);
    ui->CancelButton->setStyleSheet(QStringLiteral("QPushButton:enabled {border-image: url(:/images/Normal.png);}"));
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        move(KeptOnScreen(screen->availableGeometry(), CentredAbove(screen->geometry().size(), size()), size()));
}

QDownloadApp::~QDownloadApp()
{
    if (m_pReply) {
        DropUpdateReply(m_pReply, this);
        m_pFile->close();
        QFile::remove(m_strPackagePath);
    }
}

void QDownloadApp::downloadExe()
{
    ui->InfoLabel->setText(tr("Please wait as this process will take several ") + tr("seconds to few minutes "));
    m_strWorkDir = UpdateWorkDir();
    if (m_strWorkDir.isEmpty()) {
        FailDownload(tr("The private work folder cannot be used."));
        return;
    }
    QFile::remove(VersionTxtPath);
    const QString base = ReadPlistString(strPlistPath, QStringLiteral("UpdateLink_EN"));
    const QUrl url(base + QStringLiteral("Corvask.zip"), QUrl::TolerantMode);
    const QString name = QFileInfo(url.path(QUrl::FullyDecoded)).fileName();
    m_strPackagePath = m_strWorkDir + name;
    m_pFile = std::make_unique<QFile>(m_strPackagePath);
    if (base.isEmpty() || name.isEmpty()) {
        FailDownload(base.isEmpty() ? tr("No update address is set.")
                                    : tr("The update address may not serve updates."));
        return;
    }
    if (!OpenUnlinked(*m_pFile, m_strPackagePath, O_WRONLY | O_CREAT | O_TRUNC)) {
        FailDownload(tr("The package cannot be kept in the private work folder."));
        return;
    }
    m_time.start();
    m_pReply = GetUpdateFile(url);
    if (!m_pReply) {
        m_pFile->close();
        QFile::remove(m_strPackagePath);
        FailDownload(tr("The update address may not serve updates."));
        return;
    }
    // The reply holds at most this much unread: on a busy machine the window reads it less often,
    // and the toolkit would otherwise keep reading the socket into memory meanwhile.
    m_pReply->setReadBufferSize(4 * 1024 * 1024);
    connect(m_pReply, &QNetworkReply::finished, this, &QDownloadApp::downloadFinished);
    connect(m_pReply, &QNetworkReply::readyRead, this, &QDownloadApp::downloadReadyRead);
    connect(m_pReply, &QNetworkReply::downloadProgress, this, &QDownloadApp::OnDownloadProgress);
    connect(m_pReply, &QNetworkReply::metaDataChanged, this, &QDownloadApp::OnMetaData);
    m_progressCheck = new QTimer(this);
    connect(m_progressCheck, &QTimer::timeout, this, &QDownloadApp::OnProgressCheck);
    m_progressCheck->start(UpdateHooks::progressWindowMs);
}

void QDownloadApp::OnProgressCheck()
{
    if (!m_pReply)
        return;
    const qint64 came = m_nReceived - m_nReceivedAtCheck;
    m_nReceivedAtCheck = m_nReceived;
    if (came < UpdateHooks::minProgressBytes)
        StopDownload(tr("The update server sent too slowly: %1 bytes in the last %2 seconds.")
                         .arg(came)
                         .arg((UpdateHooks::progressWindowMs + 999) / 1000));
}

void QDownloadApp::OnMetaData()
{
    if (!m_pReply || m_pReply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt() != 200)
        return;  // a redirect on the way, or an error the end reports
    if (!isPackageType(m_pReply->header(QNetworkRequest::ContentTypeHeader).toString()))
        StopDownload(NotAPackageText());
    else if (m_pReply->header(QNetworkRequest::ContentLengthHeader).toLongLong() > kMaxPackageBytes)
        StopDownload(TooLargeText());
}

void QDownloadApp::StopDownload(const QString &reason)
{
    if (m_strFailure.isEmpty())
        m_strFailure = reason;
    m_pReply->abort();
}

void QDownloadApp::downloadReadyRead()
{
    if (!m_pReply || !m_strFailure.isEmpty())
        return;
    const QByteArray data = m_pReply->readAll();
    m_nReceived += data.size();
    if (m_nReceived > kMaxPackageBytes) {
        StopDownload(TooLargeText());
        return;
    }
    errno = 0;
    if (m_pFile->write(data) != data.size())
        StopDownload(tr("The package could not be written: %1.").arg(writeFailure(*m_pFile, errno)));
}

void QDownloadApp::OnDownloadProgress(qint64 bytesReceived, qint64 bytesTotal)
{
    if (m_state != State::Downloading)
        return;
    const ProgressBarState bar = ProgressBarFor(bytesReceived, bytesTotal);
    ui->ExeDownLoadProgressBar->setRange(0, bar.maximum);
    ui->ExeDownLoadProgressBar->setValue(bar.value);
    const DownloadProgressTexts texts = ProgressTexts(bytesReceived, bytesTotal, m_time.elapsed());
    ui->TimeElapsedLabel->setText(texts.elapsed);
    if (!texts.rate.isEmpty())
        ui->TransferRateLabel->setText(texts.rate);
}

void QDownloadApp::downloadFinished()
{
    if (!m_pReply)
        return;
    if (m_strFailure.isEmpty() && m_pReply->bytesAvailable() > 0)
        downloadReadyRead();
    QNetworkReply *reply = m_pReply;
    m_pReply = nullptr;
    reply->deleteLater();
    if (m_progressCheck)
        m_progressCheck->stop();
    errno = 0;
    const bool written = m_pFile->flush();
    // Taken before close(), which forgets it: a full disk is named as such.
    const QString writeError = written ? QString() : writeFailure(*m_pFile, errno);
    m_pFile->close();
    const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
    if (m_strFailure.isEmpty() && !IsCompleteAnswer(reply))
        m_strFailure = ReplyFailureText(reply);
    if (m_strFailure.isEmpty() && !written)
        m_strFailure = tr("The package could not be written: %1.").arg(writeError);
    if (m_strFailure.isEmpty() && !isPackageType(reply->header(QNetworkRequest::ContentTypeHeader).toString()))
        m_strFailure = NotAPackageText();
    if (m_strFailure.isEmpty() && length.isValid() && length.toLongLong() != m_nReceived)
        m_strFailure = tr("The package arrived incomplete.");
    if (!m_strFailure.isEmpty()) {
        QFile::remove(m_strPackagePath);
        for (QLabel *label : {ui->InfoLabel, ui->DownLoadLabel, ui->TimeElapsedLabel, ui->TransferRateLabel})
            label->setText(QStringLiteral(" "));
        ui->ExeDownLoadProgressBar->hide();
        FailDownload(m_strFailure);
        return;
    }
    Install();
}

void QDownloadApp::Install()
{
    for (QWidget *w : {static_cast<QWidget *>(ui->DownLoadLabel), static_cast<QWidget *>(ui->DownLoadProgressLabel),
                       static_cast<QWidget *>(ui->ExeDownLoadProgressBar), static_cast<QWidget *>(ui->InfoLabel),
                       static_cast<QWidget *>(ui->TimeElapsedLabel), static_cast<QWidget *>(ui->TransferRateLabel),
                       static_cast<QWidget *>(ui->CancelButton)})
        w->hide();
    const QString application = UpdateApplicationFile();
    const InstalledBundle installed = InstalledBundlePaths(application);
    m_strInstalledAppPath = installed.bundle;
    m_strInstallFolder = installed.folder;
    const InstallResult result = InstallPackage(m_strPackagePath, m_strWorkDir, application);
    if (result.status == InstallStatus::Ok) {
        m_state = State::Installed;
        ui->OkButton->setVisible(true);
        ui->RestartLabel->show();
        return;
    }
    m_strFailure = result.detail;
    const QString saved = QDir::toNativeSeparators(m_strPackagePath);
    if (result.status == InstallStatus::NotABundleLayout)
        Fail(tr("This copy of %1 cannot be updated in place. The new version was saved as %2")
                 .arg(EditionName(), saved));
    else if (result.status == InstallStatus::CopyFailed)
        Fail(tr("Update could not be installed. %1 was left unchanged. The new version was saved as %2")
                 .arg(EditionName(), saved));
    else
        Fail(tr("Update could not be installed. %1 was left unchanged.").arg(EditionName()) + QLatin1Char(' ')
             + tr("The package was refused: %1.").arg(result.detail));
}

void QDownloadApp::FailDownload(const QString &cause)
{
    Fail(tr("Update could not be downloaded.") + QLatin1Char(' ') + cause);
}

QString QDownloadApp::TooLargeText()
{
    return tr("The update server sent more than %1 MB, too much for a program package.")
        .arg(kMaxPackageBytes / (1024 * 1024));
}

QString QDownloadApp::NotAPackageText()
{
    return tr("The update server did not send a program package.");
}

QString QDownloadApp::ReplyFailureText(const QNetworkReply *reply)
{
    if (IsStalled(reply))
        return tr("The update server stopped answering.");
    // The server began sending the file: an error now means the transfer broke off.
    if (reply->error() != QNetworkReply::NoError
        && reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt() == 200)
        return tr("The transfer broke off: %1.").arg(reply->errorString());
    const ReplyFailure failure = DescribeFailure(reply);
    return (failure.reached ? tr("The update server answered wrongly: %1.")
                            : tr("The update server could not be reached: %1."))
        .arg(failure.reason);
}

void QDownloadApp::Fail(const QString &message)
{
    m_state = State::Failed;
    m_strMessage = message;
    qWarning("Update: %s", qPrintable(message));
    ui->DownLoadProgressLabel->hide();
    ui->ExeDownLoadProgressBar->hide();
    ui->CancelButton->hide();
    ui->InfoLabel->setTextFormat(Qt::PlainText);  // it may name entries of the package
    ui->InfoLabel->setText(ShownMessage(message));
    ui->InfoLabel->setGeometry(150, 96, 331, 120);  // room for a folder path
    ui->InfoLabel->show();
    ui->OkButton->show();
}

bool QDownloadApp::ApplicationSettings()
{
    QSettings record(QStringLiteral("apple"), QStringLiteral("DRUQ.db"));
    record.setValue(QStringLiteral("VInfoType"), UpdateRowText(softwareUpdate[0]));
    record.setValue(QStringLiteral("VNo"), UpdateRowText(softwareUpdate[1]));
    record.setValue(QStringLiteral("VUpdate"), UpdateRowText(softwareUpdate[2]));
    record.sync();
    return record.status() == QSettings::NoError;
}

void QDownloadApp::OnOk()
{
    if (m_state == State::Installed) {
        ApplicationSettings();
        if (UpdateHooks::endProgram)
            UpdateHooks::endProgram();
        else
            QCoreApplication::quit();
        return;
    }
    close();
}

void QDownloadApp::closeEvent(QCloseEvent *event)
{
    if (m_pReply)
        StopDownload(tr("The download was cancelled."));  // the partial package is removed at its end
    QDialog::closeEvent(event);
}

void QDownloadApp::FillChildRects()
{
    m_nWidth = 491;
    m_nHeight = 367;
    m_childRects = {
        {ui->DownLoadLabel, QRect(150, 40, 311, 25)},
        {ui->DownLoadProgressLabel, QRect(150, 330, 211, 20)},
        {ui->ExeDownLoadProgressBar, QRect(150, 144, 331, 23)},
        {ui->InfoLabel, QRect(150, 96, 331, 37)},
        {ui->OkButton, QRect(410, 310, 60, 26)},
        {ui->CancelButton, QRect(396, 310, 74, 26)},
        {ui->RestartLabel, QRect(150, 10, 331, 261)},
        {ui->ThirdPageImageLabel, QRect(10, 10, 161, 380)},
        {ui->TimeElapsedLabel, QRect(150, 180, 361, 17)},
        {ui->TransferRateLabel, QRect(150, 210, 361, 17)},
        {ui->label, QRect(0, 0, 491, 371)},
        {ui->label_2, QRect(0, 30, 481, 351)},
    };
}

void QDownloadApp::RestoreTexts()
{
    ui->retranslateUi(this);
    setWindowTitle(EditionName());
}

void QDownloadApp::mousePressEvent(QMouseEvent *event)
{
    UpdateDrag::Press(this, event, m_dragPosition);
    QDialog::mousePressEvent(event);
}

void QDownloadApp::mouseMoveEvent(QMouseEvent *event)
{
    QDialog::mouseMoveEvent(event);
    UpdateDrag::Move(this, event, m_dragPosition);
}

void QDownloadApp::mouseReleaseEvent(QMouseEvent *event)
{
    QDialog::mouseReleaseEvent(event);
    UpdateDrag::Release();
}

void QDownloadApp::keyPressEvent(QKeyEvent *event)
{
    UpdateDrag::Key(event);
}

void QDownloadApp::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::LanguageChange) {
        RestoreTexts();
        SetFixedSizeWidget();
        if (m_state == State::Failed)
            Fail(m_strMessage);  // the only explanation the window gives
    }
    QDialog::changeEvent(event);
}
