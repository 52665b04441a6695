#pragma once
// What every save test does around a save: clear the run flags before it, free the scan's lists
// after it, and start it as the window would (every scanned folder checked, the save globals set
// with one fixed time stamp so outputs compare byte for byte, the output folders made).

#include "platform/WorkerGlobals.h"
#include "save/SaveFlow.h"
#include "save/SaveGlobals.h"
#include "scanner/FolderAttributes.h"
#include "scanner/FolderKinds.h"
#include "scanner/ScanGlobals.h"

#include "ArchiveFile.h"
#include "ScanTestUtil.h"

#include <QDateTime>
#include <QDebug>

#include <memory>

// The Save As list position of a save type in this edition; -1 when the list has none.
inline int IndexFor(SaveType type)
{
    for (int index = 0; index < 6; ++index)
        if (SaveTypeForIndex(index) == type)
            return index;
    return -1;
}

inline void ResetRunFlags()
{
    bStopFlag = false;
    stopflag = false;
    bProcessRunning = false;
}

inline void FreeScanState()
{
    FreeFolderAttributes();
    CleanScanResults();
}

// Call after the archive is scanned and open for the writers.
inline bool StartTestSave(SaveType type, const QString &dest, QString *error = nullptr)
{
    CheckEveryScannedFolder();
    saveDir = dest;
    strTime = MakeSaveTimeStamp(QDateTime(QDate(2024, 3, 5), QTime(10, 11, 12)));
    SizeOfAllMails = unsigned(CountCheckedItems(StartFldrAtrib, CurrentSaveItemLists()));
    return CreateMailFolder(type, saveDir, &strTime, error);
}

// Opens archive for the writers, scans it and starts a save of type into dest as the window
// would; false (with a warning) when either step fails.
inline bool ScanAndStartTestSave(std::unique_ptr<ArchiveFile> &opened, const QByteArray &archive, SaveType type,
                                 const QString &dest)
{
    opened.reset(new ArchiveFile(archive));
    scanBytes(archive);
    QString error;
    if (!opened->isOpen() || !StartTestSave(type, dest, &error)) {
        qWarning() << "save start failed" << error;
        return false;
    }
    return true;
}
