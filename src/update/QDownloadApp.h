#pragma once
// The download window: fetches the program package from the update server into the private work
// folder with a progress display, installs it (UpdateInstaller), and on OK records the update and
// ends the program so that the user starts the new version. Every failure ends in a message and
// an OK that only closes the window.

#include "browse/FramelessDialog.h"

#include <QElapsedTimer>
#include <QTimer>

#include <memory>

class QFile;
class QNetworkReply;

namespace Ui {
class DownloadUpdate;
}

class QDownloadApp : public FramelessDialog {
    Q_OBJECT
public:
    enum class State { Downloading, Installed, Failed };

    // Starts the download at once; the window shows itself only when the caller shows it.
    explicit QDownloadApp(QWidget *parent = nullptr);
    ~QDownloadApp() override;

    // Stores the installed update (kind, version, label) in the user's "apple"/"DRUQ.db" settings.
    bool ApplicationSettings();

    State state() const { return m_state; }
    QString PackagePath() const { return m_strPackagePath; }
    QString InstalledAppPath() const { return m_strInstalledAppPath; }
    QString InstallFolder() const { return m_strInstallFolder; }

private Q_SLOTS:
    void downloadFinished();
    void downloadReadyRead();
    void OnDownloadProgress(qint64 bytesReceived, qint64 bytesTotal);
    void OnOk();
    void OnMetaData();
    void OnProgressCheck();

protected:
    void FillChildRects() override;
    void RestoreTexts() override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void changeEvent(QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void downloadExe();
    void StopDownload(const QString &reason);
    void Install();
    void Fail(const QString &message);
    // "Update could not be downloaded." and why, in a sentence of its own.
    void FailDownload(const QString &cause);
    static QString TooLargeText();
    static QString NotAPackageText();
    static QString ReplyFailureText(const QNetworkReply *reply);

    std::unique_ptr<Ui::DownloadUpdate> ui;
    QElapsedTimer m_time;
    QTimer *m_progressCheck = nullptr;
    qint64 m_nReceivedAtCheck = 0;  // what had come at the last progress check
    QNetworkReply *m_pReply = nullptr;
    std::unique_ptr<QFile> m_pFile;
    QString m_strInstalledAppPath;
    QString m_strInstallFolder;
    QString m_strPackagePath;
    QString m_strWorkDir;
    QString m_strFailure;  // why the download or install failed, in words
    QString m_strMessage;  // the failure text shown
    qint64 m_nReceived = 0;
    QPoint m_dragPosition;
    State m_state = State::Downloading;
};
