#pragma once
// The update check: a hidden dialog that fetches the version text from the address in the
// settings key "UpdateLink_EN", decides whether it names a newer version, and then offers it
// (QMinorUpdate) or, for a check the user asked for (bCheckForUpdate), says "No update available."
// when the server has nothing newer, or why the check could not be made.

#include "update/UpdateGlobals.h"

#include <QDialog>
#include <QTimer>

#include <memory>

class QFile;
class QNetworkReply;

namespace Ui {
class CheckUpdate;
}

class QCheckUpdate : public QDialog {
    Q_OBJECT
public:
    // Starts the check at once; hiding the dialog does not stop it. Without an offer the dialog
    // removes itself once it has reported.
    explicit QCheckUpdate(QWidget *parent = nullptr);
    ~QCheckUpdate() override;

    // A check is waiting for its server; a second one would share its files and its message.
    static bool IsRunning();
    // The user asked for a check while one runs: its sheet with Cancel and the busy cursor show.
    static void ShowRunningCheck();

    // The stored installed version ("apple"/"MEXO.db" "VNo") already names the one in text.
    bool CheckIfCurrentVersionLatest(const QString &text) const;
    // Where this check keeps the fetched version text.
    QString VersionFilePath() const { return m_strFilePath; }
    bool IsChecking() const { return m_pReply != nullptr; }

private Q_SLOTS:
    void downloadReadyReadTxt();
    void downloadFinishedTxt();
    // Ends the check at once, saying nothing.
    void Cancel();
    // The check's time bound (UpdateHooks::checkBoundMs) is up: it ends as not reached.
    void GiveUp();

private:
    void ConnectingServer();
    void FailWithoutRequest(const QString &reason);
    void EndWithoutOffer();
    // Says why the check failed, when the user asked for it, and removes the dialog.
    void EndWithFailure(const QString &message);
    QString FailureText(const QNetworkReply *reply) const;
    void ReportNoUpdate();
    QString ReadVersionLine();
    // A check the user asked for shows a busy cursor, and this dialog with its Cancel, while its
    // server has not answered.
    void ShowWaiting(bool waiting);

    std::unique_ptr<Ui::CheckUpdate> ui;
    QString m_strFilePath;
    bool m_bFileOpened = false;
    std::unique_ptr<QFile> m_pFile;
    QNetworkReply *m_pReply = nullptr;
    bool m_bWriteFailed = false;
    bool m_bTooLarge = false;  // the answer outgrew a version text
    bool m_bWaitingShown = false;
    bool m_bTimedOut = false;
    QTimer m_bound;
};
