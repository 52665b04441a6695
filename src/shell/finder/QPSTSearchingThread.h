#pragma once
// The finder's worker: walks one folder tree in-process and collects every archive (".olm") in it.

#include <QDateTime>
#include <QMutex>
#include <QString>
#include <QThread>
#include <QVector>

#include <atomic>

// A search runs. Set when a search starts (by the GUI, and by the worker as its run begins),
// cleared by the worker before its finish signal and by a confirmed stop. While it is set the
// finder refuses to close.
extern std::atomic<bool> bProcessRunningSearching;
// A stop was confirmed for the current search. Set by the GUI thread; cleared only when the next
// search is set up, so a stop can never be lost to a worker that has not begun yet.
extern std::atomic<bool> bStopFlagSearching;

// One archive found, described on the worker thread so the GUI never stats files.
struct FoundArchive {
    QString path;
    qint64 size = 0;
    QDateTime created;
    QDateTime accessed;
    QDateTime modified;
};

class QPSTSearchingThread : public QThread {
    Q_OBJECT
public:
    explicit QPSTSearchingThread(QObject *parent = nullptr);
    ~QPSTSearchingThread() override;

    // The folder to search; written by the GUI before SetInitialSettings.
    QString strSearchPath;

    // Clears the stop request and starts the search at low priority (no-op while running).
    void SetInitialSettings();
    // The walk itself; runs on the worker thread from run().
    void StartSearch();
    // Asks this search, and only this one, to end at its next directory entry.
    void RequestStop();
    bool StopRequested() const;
    // What the last walk found, in the order met. Safe to call from any thread; complete once
    // FinshScanningProcess() has been emitted.
    QVector<FoundArchive> Results() const;

Q_SIGNALS:
    // The walk has ended (finished or stopped); bProcessRunningSearching is already clear.
    void FinshScanningProcess();

protected:
    void run() override;

private:
    std::atomic<bool> m_cancel{false};
    mutable QMutex m_resultsLock;
    QVector<FoundArchive> m_results;
};
