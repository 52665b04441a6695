#pragma once
// The update check: fetches the version text from the address in the settings key "UpdateLink_EN"
// and compares it with this program's version. A check the user asked for (bCheckForUpdate set)
// also reports "No update available."; a background check stays silent then.

#include <QDialog>
#include <QNetworkAccessManager>
#include <QTemporaryDir>

#include <memory>

class QFile;
class QNetworkReply;

// The user started the check from the Update action, so "no update" is reported too. GUI thread
// only: set by the main window before it makes a QCheckUpdate, cleared when the check reports.
extern bool bCheckForUpdate;

class QCheckUpdate : public QDialog {
    Q_OBJECT
public:
    // Starts the check at once; hiding the dialog does not stop it.
    explicit QCheckUpdate(QWidget *parent = nullptr);
    ~QCheckUpdate() override;

    // The program's own version, the one the fetched text is compared with.
    static QString CurrentVersion();
    // True when text names a version above current (both dotted numbers; trailing zeros and
    // anything after the leading number are ignored). Text that holds no version is not newer.
    static bool IsNewerVersion(const QString &text, const QString &current = CurrentVersion());

    bool IsChecking() const { return m_reply != nullptr; }
    bool IsUpdateVersionAvailable() const { return UpdateVersionAvailable; }

private Q_SLOTS:
    void downloadReadyReadTxt();
    void downloadFinishedTxt();

private:
    void ConnectingServer();
    void ReportNoUpdate();

    QNetworkAccessManager m_manager;   // owns the reply
    QTemporaryDir m_workDir;   // private per-user folder of the fetched version text
    QString VersionTxtPath;
    std::unique_ptr<QFile> m_versionFile;
    QNetworkReply *m_reply = nullptr;
    bool m_writeFailed = false;
    bool UpdateVersionAvailable = false;
};
