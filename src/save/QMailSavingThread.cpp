#include "save/QMailSavingThread.h"

#include "browse/FolderAttributes.h"
#include "shell/ShellGlobals.h"

QMailSavingThread::QMailSavingThread(QObject *parent) : QThread(parent)
{
    bStopFlag = false;
}

QMailSavingThread::~QMailSavingThread()
{
    if (isRunning()) {
        bStopFlag = true;
        wait();
    }
}

bool QMailSavingThread::SetInitialSettings(QString path, int index)
{
    // A second save while one runs would change the running save's type and output under it.
    if (isRunning())
        return false;
    const SaveType type = SaveTypeForIndex(index);
    if (type == SaveTypeInvalid)
        return false;
    bStopFlag = false;
    m_strDatabasePath = path;
    m_saveType = type;
    start(QThread::LowPriority);
    return true;
}

void QMailSavingThread::run()
{
    bProcessRunning = true;
    // A stop confirmed during this run sets both flags; bStopFlag stays set until the run ends,
    // so the stop holds even after the window has cleared stopflag behind its abort message.
    bool stopped = bStopFlag;
    if (!stopped && StartFldrAtrib) {
        const unsigned int total = SizeOfAllMails;
        Q_EMIT OnInitialSettingsMainWindow(total);
        for (unsigned int item = 0; item < total; ++item) {
            if (stopflag || bStopFlag) {
                stopped = true;
                break;
            }
            Q_EMIT OnProgressvalueMainWindow();
        }
    }
    stopped = stopped || stopflag || bStopFlag;
    // Flags first: the window treats the finish signal as the end of the run.
    bStopFlag = false;
    bProcessRunning = false;
    if (!stopped)
        Q_EMIT OnFinishScanning();
}
