#include "browse/ThreadOLMPreview.h"

#include "platform/DesktopOpener.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QMutexLocker>
#include <QPointer>
#include <QUrl>

ThreadOLMPreview::ThreadOLMPreview(QObject *parent) : QThread(parent)
{
    // A start() made while the last run was returning does nothing; the request it stood for is
    // still pending and is taken up here, on the GUI thread, once the run has finished.
    connect(this, &QThread::finished, this, &ThreadOLMPreview::startIfPending, Qt::QueuedConnection);
}

ThreadOLMPreview::~ThreadOLMPreview()
{
    wait();
}

void ThreadOLMPreview::SetInitialSettings(QString app, QString file)
{
    QMutexLocker lock(&m_mutex);
    m_strAppPath = std::move(app);
    m_strFilePath = std::move(file);
    m_bPending = true;
}

void ThreadOLMPreview::startIfPending()
{
    bool pending;
    {
        QMutexLocker lock(&m_mutex);
        pending = m_bPending;
    }
    if (pending)
        start();
}

void ThreadOLMPreview::run()
{
    for (;;) {
        QString app;
        QString file;
        {
            QMutexLocker lock(&m_mutex);
            if (!m_bPending)
                return;
            m_bPending = false;
            app = m_strAppPath;
            file = m_strFilePath;
        }
        launchOne(app, file);
    }
}

void ThreadOLMPreview::launchOne(const QString &app, const QString &file)
{
    const QFileInfo info(file);
    if (!info.isFile() || !info.exists()) {
        Q_EMIT openFailed(file);
        return;
    }
    if (app.isEmpty()) {
        // The desktop's services belong to the GUI thread.
        const QUrl url = QUrl::fromLocalFile(info.absoluteFilePath());
        const QPointer<ThreadOLMPreview> self(this);
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [self, url, file] {
                const auto notOpened = [self, file] {
                    if (self)
                        Q_EMIT self->openFailed(file);
                };
                if (!OpenUrl(url, notOpened))
                    notOpened();
            },
            Qt::QueuedConnection);
        return;
    }
    // A previewer that cannot be ended is left alone, and no second one is started beside it.
    if (m_process.isRunning() && !m_process.terminate())
        return;
    // This object lives on the GUI thread, which sees the previewer's end.
    if (!m_process.launch(app, file, this, [this, file] { Q_EMIT openFailed(file); }))
        Q_EMIT openFailed(file);
}
