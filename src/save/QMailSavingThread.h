#pragma once
// The saving thread as the shell drives it: started with the archive path and the Save As list
// position, it announces the item total, ticks once per item and reports the end. The writers
// are not here yet: each item is a tick and a test of the stop flags.

#include "save/SaveType.h"

#include <QString>
#include <QThread>
#include <QWaitCondition>

class QMailSavingThread : public QThread {
    Q_OBJECT
public:
    explicit QMailSavingThread(QObject *parent = nullptr);
    // Stops a running save and waits for it.
    ~QMailSavingThread() override;

    // Starts a save of the given type (SaveTypeForIndex of index) at low priority. Refused
    // (false, nothing changes) while a save runs or for a position without a save type.
    bool SetInitialSettings(QString path, int index);

    SaveType saveType() const { return m_saveType; }
    QString databasePath() const { return m_strDatabasePath; }

Q_SIGNALS:
    void OnInitialSettingsMainWindow(unsigned int count);
    void OnProgressvalueMainWindow();
    void OnFinishScanning();
    void strInfo(QString text);
    // Declared for the window's connection; a save never sends it.
    void OnFinishScanningMainWindow();

protected:
    void run() override;

private:
    QString m_strDatabasePath;
    QWaitCondition m_wait;   // nothing waits on it; kept for the writers that will
    SaveType m_saveType = SaveTypeInvalid;
};
