#pragma once
// Shows an attachment's private copy in the previewer: a running previewer we started is ended
// (by its process id) and the previewer is started anew with the copy, or, when no previewer
// program is installed, the copy goes to the desktop's default viewer. One object per preview
// controller serves every launch; nothing it does waits on another process, so a new request
// never has to wait for an old one, and a request made while a launch runs is launched after it.

#include "platform/PreviewerLauncher.h"

#include <QMutex>
#include <QString>
#include <QThread>

class ThreadOLMPreview : public QThread {
    Q_OBJECT
public:
    explicit ThreadOLMPreview(QObject *parent = nullptr);
    // Waits for a launch in progress, which never waits on anything itself.
    ~ThreadOLMPreview() override;

    // Stores the previewer program (empty: the desktop's viewer) and the file for the next
    // start(); the newest request replaces one not yet taken. Starts nothing.
    void SetInitialSettings(QString app, QString file);

Q_SIGNALS:
    // The file could not be shown: it is gone, the previewer or the desktop's opener did not
    // start, or it ended with a non-zero status. Sent from the launcher's thread or the GUI thread.
    void openFailed(QString file);

protected:
    void run() override;

private:
    void launchOne(const QString &app, const QString &file);
    void startIfPending();

    QMutex m_mutex;  // guards the three request fields, held only to copy them
    QString m_strAppPath;
    QString m_strFilePath;
    bool m_bPending = false;
    PreviewerProcess m_process;  // the previewer started last; run() alone touches it
};
