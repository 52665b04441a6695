#pragma once
// The archive scanner: walks the open archive on a low-priority worker thread, records where list
// files, attachments and the categories file lie, and hands each XML entry (or XML block found in
// a damaged stretch) to its record builder.

#include <QElapsedTimer>
#include <QString>
#include <QThread>

#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

class ArchiveSource;
class BufferedArchiveReader;
struct ItemPiece;
class PreparedMail;

// The scan's lists go to the window's thread through a queued signal, which the thread checker
// cannot see (platform/HandOver.h). The scan hands them over before its finish signal and at its
// end; a slot that reads them takes them first.
void HandOverScanResults();
void TakeScanResults();

class QFolderInformationThread : public QThread {
    Q_OBJECT
public:
    explicit QFolderInformationThread(QObject *parent = nullptr);
    ~QFolderInformationThread() override;

    // Starts a scan unless one runs. Reads fileDescriptor and lSize unless a source was set.
    void SetInitialSettings();
    // Reads this source instead of the global descriptor (tests, benchmarks, fuzzing).
    void setSource(std::shared_ptr<ArchiveSource> source);
    // 1: one thread does it all; 2: the record builders run on a second thread behind the walk;
    // more: the messages' texts are read on workers while one walks (BuildQueue::workersFor: at most
    // threads - 1, fewer where the machine has few processors), and their records join the lists
    // in archive order. Default: the cores, at most 8. Returns the count the next
    // scan uses.
    int SetScanThreads(int threads);
    int scanThreads() const { return m_scanThreads; }
    static int DefaultScanThreads();

    // The walk; run() is its caller, tests may call it directly.
    void CreateFile();
    // How the last scan ended, once the thread has finished: true when it did not run to its end
    // (a confirmed stop cut it short, or ShowMessage said there was nothing to read; its results
    // are partial and OnFinishScanning was not sent), false when it ran to the end, also when a
    // stop was confirmed after its last stop test.
    bool stopped() const { return m_stopped.load(); }

    // Record builders. The entry text is pBuff (pBuffLength bytes); end is the archive offset just
    // past the text and size its length, so end - size is where the text starts.
    void InitializeCTRC(const QString &path, qint64 end, qint64 size);
    void InitializeCLRC(const QString &path, qint64 end, qint64 size);
    void InitializeTSRC(const QString &path, qint64 end, qint64 size);
    void InitializeNTRC(const QString &path, qint64 end, qint64 size);
    // nameOffset/nameLength/entrySize/crc are 0 for mail recovered from a damaged stretch.
    // nul: whether the text holds a NUL byte, when the caller knows (-1: the builder looks).
    void InitializeMLRC(const QString &path, qint64 end, qint64 nameOffset, int nameLength, qint64 entrySize,
                        unsigned int crc, qint64 size, int nul = -1);
    // The records PrepareMail made of a message entry join the lists, in the entry's folder.
    void CommitMail(const QString &path, PreparedMail &mail, qint64 end, qint64 nameOffset, int nameLength,
                    qint64 size);

Q_SIGNALS:
    void OnFinishScanning();
    void OnInitialSettings(long long maximum);
    void OnProgressvalue(long long value);
    void InformationDlgOpen();
    void strInfo(QString text);
    // Asks the GUI thread to show a message box; the scanner never creates widgets.
    void ShowMessage(QString text);

public:
    // A message entry whose text holds no message after its root element: the walk names it in
    // the report, since nothing of it is listed or saved.
    struct EmptyEntry {
        qint64 nameOffset;
        int nameLength;
        qint64 data;
    };
    std::vector<EmptyEntry> takeEmptyMessageEntries();
    // Throttled progress and status: only when the shown value changes, at most every ~50 ms.
    void progressAt(qint64 archiveOffset);
    void status(const QString &text);

protected:
    void run() override;

private:
    std::shared_ptr<ArchiveSource> m_source;
    std::atomic<bool> m_stopped{false};
    int m_scanThreads = DefaultScanThreads();
    std::mutex m_reportMutex;  // progress and status come from the walk and its builders
    QElapsedTimer m_progressClock;
    long long m_lastProgress = -1;
    unsigned m_progressChanges = 0;
    QString m_lastStatus;
    std::vector<EmptyEntry> m_emptyEntries;  // filled by the builders, taken after the walk
};
