// Benchmark driver: runs the real scanner thread (and saving thread) over an archive and prints
// one JSON object.
//   olmbench scan ARCHIVE [--threads N]
//   olmbench save ARCHIVE DEST --type T [--edition repair|converter] [--threads N] [--stop-after S] [--hold]
// --threads: the save's threads, the writing one included (default: the cores, at most 8); for the scan,
// 2 runs the record builders on a second thread, more read the messages on workers while one walks
// (BuildQueue::workersFor: N-1 at most, fewer on a machine of few processors; default: the cores,
// at most 8). Each prints the count it used; the scan also the bytes its reads returned.
// --stop-after: asks the save to stop S seconds after it started, as the Stop button does, and
// prints how long it took to end from then.
// --hold: pauses the save at its first item (the window's pause), prints {"held":true} once it
// waits there ({"held":false} when it ended first) and goes on when a line arrives on stdin, so a
// test can run something else while this save is held at a known point.

#include "platform/ArchiveSource.h"
#include "platform/WorkerGlobals.h"
#include "save/QMailSavingThread.h"
#include "save/SaveFlow.h"
#include "save/SaveGlobals.h"
#include "save/SavePause.h"
#include "save/mail/OrderedWork.h"
#include "scanner/FolderAttributes.h"
#include "scanner/FolderKinds.h"
#include "scanner/QFolderInformationThread.h"
#include "scanner/ScanGlobals.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>

#include <atomic>
#include <cstdio>
#include <fcntl.h>
#include <memory>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

long peakRssKb()
{
    struct rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// "VmRSS:" (now) or "VmHWM:" (peak since the last resetPeakRss) in kB; -1 when unreadable.
long statusKb(const char *field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(int(qstrlen(field))).trimmed().split(' ').value(0).toLong();
    }
    return -1;
}

// The peak the save alone reaches is measured from here: the scan's is left behind.
void resetPeakRss()
{
    QFile refs(QStringLiteral("/proc/self/clear_refs"));
    if (refs.open(QIODevice::WriteOnly))
        refs.write("5");
}

bool openArchive(const QString &path)
{
    const int fd = OpenArchiveFile(QFile::encodeName(path));
    fileDescriptor = fd < 0 ? -1 : fd;
    struct stat st;
    if (fileDescriptor < 0 || fstat(fileDescriptor, &st) != 0) {
        fprintf(stderr, "olmbench: cannot open %s%s\n", qPrintable(path),
                fd == kNotRegularFile ? ": not a regular file" : "");
        return false;
    }
    lSize = st.st_size;
    return true;
}

void closeArchive()
{
    CleanScanResults();
    ::close(fileDescriptor);
    fileDescriptor = -1;
}

void runScan()
{
    QFolderInformationThread scanner;
    scanner.SetInitialSettings();
    scanner.wait();
}

// The archive as the scan reads it, counting the bytes its reads return.
class CountingSource : public FdArchiveSource {
public:
    using FdArchiveSource::FdArchiveSource;
    qint64 readAt(qint64 offset, void *buffer, qint64 length) override
    {
        const qint64 got = FdArchiveSource::readAt(offset, buffer, length);
        m_read += qMax<qint64>(0, got);
        return got;
    }
    qint64 bytesRead() const { return m_read; }

private:
    std::atomic<qint64> m_read{0};
};

int scan(const QString &path, int askedThreads)
{
    if (!openArchive(path))
        return 2;
    QFolderInformationThread scanner;
    auto source = std::make_shared<CountingSource>(fileDescriptor, lSize);
    scanner.setSource(source);
    const int threads = scanner.SetScanThreads(askedThreads);
    QElapsedTimer clock;
    clock.start();
    scanner.SetInitialSettings();
    scanner.wait();
    const double seconds = clock.nsecsElapsed() / 1e9;
    printf("{\"archive_bytes\":%lld,\"threads\":%d,\"seconds\":%.3f,\"mails\":%lld,\"contacts\":%lld,\"calendar\":%lld,"
           "\"tasks\":%lld,\"notes\":%lld,\"attachments\":%lld,\"folders\":%d,\"peak_rss_kb\":%ld,"
           "\"read_bytes\":%lld}\n",
           (long long)lSize, threads, seconds, (long long)MailItemCount, (long long)ContactItemCount,
           (long long)CalendarItemCount, (long long)TaskItemCount, (long long)NotesItemCount,
           (long long)AttachmentNodeCount, objMapFID_PID.size(), peakRssKb(), (long long)source->bytesRead());
    closeArchive();
    return 0;
}

// The Save As position of type in this build, -1 when the named edition or this build lacks it.
int listIndexFor(SaveType type, bool converterEdition)
{
    int inEdition = -1;
    int inBuild = -1;
    for (int index = 0; index < 6; ++index) {
        if (SaveTypeForIndex(index, converterEdition) == type)
            inEdition = index;
        if (SaveTypeForIndex(index) == type)
            inBuild = index;
    }
    return inEdition < 0 ? -1 : inBuild;
}

QString jsonString(const QString &text)
{
    QString out;
    for (const QChar c : text) {
        if (c == QLatin1Char('"') || c == QLatin1Char('\\'))
            out += QLatin1Char('\\') + c;
        else if (c.unicode() < 0x20)
            out += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
        else
            out += c;
    }
    return out;
}

// Pauses the save where its writer next looks at the stop, says whether it got there before the
// save ended, and lets it go on when stdin gives a line (or ends).
void holdSave(QMailSavingThread &thread)
{
    PauseSave();
    while (ThreadsWaitingAtPause(SavePauseRole::Writer) == 0 && !thread.wait(5)) {
    }
    printf("{\"held\":%s}\n", thread.isFinished() ? "false" : "true");
    fflush(stdout);
    char line[16];
    if (!fgets(line, sizeof line, stdin)) {
        // stdin closed: go on all the same
    }
    ResumeSave();
}

// Waits for the save, asking it to stop after stopAfter seconds (never when negative); the seconds
// from that request to its end, -1 when it ended before.
double waitForSave(QMailSavingThread &thread, double stopAfter)
{
    if (stopAfter < 0 || thread.wait(ulong(stopAfter * 1000))) {
        thread.wait();
        return -1;
    }
    QElapsedTimer lag;
    lag.start();
    bStopFlag = true;
    thread.wait();
    return lag.nsecsElapsed() / 1e9;
}

int save(const QString &archive, const QString &dest, SaveType type, bool converterEdition, int threads,
         double stopAfter, bool hold)
{
    const int index = listIndexFor(type, converterEdition);
    if (index < 0) {
        fprintf(stderr, "olmbench: save type %d is not offered by this edition\n", int(type));
        return 2;
    }
    if (!openArchive(archive))
        return 2;
    runScan();
    CheckEveryScannedFolder();
    saveDir = QDir(dest).absolutePath();
    strTime = MakeSaveTimeStamp(QDateTime::currentDateTime());
    // The bar's maximum as the window sets it: the steps of the checked items this type writes.
    SizeOfAllMails = unsigned(
        qBound<qint64>(0, SaveProgressSteps(type, CountChosenItems(StartFldrAtrib, CurrentSaveItemLists())), UINT_MAX));
    QString error;
    if (!CreateMailFolder(type, saveDir, &strTime, &error)) {
        fprintf(stderr, "olmbench: %s\n", qPrintable(error.trimmed()));
        closeArchive();
        return 2;
    }
    resetPeakRss();
    const long rssBeforeSave = statusKb("VmRSS:");
    QElapsedTimer clock;
    clock.start();
    QMailSavingThread thread;
    thread.SetSaveThreads(threads);
    thread.SetInitialSettings(archive, index);
    if (hold)
        holdSave(thread);
    const double stopLag = waitForSave(thread, stopAfter);
    const double seconds = clock.nsecsElapsed() / 1e9;
    const SaveOutcome outcome = thread.outcome();
    // steps: the progress steps sent (one per item written or counted not saved); bar_maximum:
    // what the window's bar counts to.
    printf("{\"type\":%d,\"threads\":%d,\"seconds\":%.3f,\"stop_lag_seconds\":%.3f,\"steps\":%lld,"
           "\"bar_maximum\":%u,\"written\":%lld,\"failed\":%lld,\"incomplete\":%lld,\"unread\":%lld,"
           "\"output\":\"%s\",\"report\":\"%s\",\"peak_rss_kb\":%ld,\"rss_before_save_kb\":%ld,"
           "\"save_peak_rss_kb\":%ld}\n",
           int(type), thread.saveThreads(), seconds, stopLag, (long long)outcome.items, SizeOfAllMails,
           (long long)outcome.written, (long long)outcome.failed, (long long)outcome.incomplete,
           (long long)outcome.unreadEntries, jsonString(WriterOutputFor(type, saveDir, strTime)).toUtf8().constData(),
           jsonString(outcome.reportPath).toUtf8().constData(), peakRssKb(), rssBeforeSave, statusKb("VmHWM:"));
    FreeFolderAttributes();
    closeArchive();
    // Items saved incomplete stand on disk: only items not saved or entries not read fail the run.
    return outcome.failed || outcome.unreadEntries ? 1 : 0;
}

int usage()
{
    fprintf(stderr,
            "usage: olmbench scan ARCHIVE [--threads N]\n"
            "       olmbench save ARCHIVE DEST --type T [--edition repair|converter] [--threads N] "
            "[--stop-after S] [--hold]\n");
    return 2;
}

}  // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() >= 3 && args[1] == QLatin1String("scan")) {
        bool ok = args.size() == 3;
        int threads = QFolderInformationThread::DefaultScanThreads();
        if (args.size() == 5 && args[3] == QLatin1String("--threads"))
            ok = (threads = args[4].toInt(&ok)) >= 1 && ok;
        return ok ? scan(args[2], threads) : usage();
    }
    if (args.size() < 6 || args[1] != QLatin1String("save"))
        return usage();
    int type = -1;
    int threads = DefaultSaveThreads();
    bool converter = bforQConverterFO;
    double stopAfter = -1;
    bool hold = false;
    for (int i = 4; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--hold")) {
            hold = true;
            continue;
        }
        if (i + 1 >= args.size())
            return usage();
        const QString &option = args[i];
        const QString &value = args[++i];
        bool ok = true;
        if (option == QLatin1String("--threads"))
            ok = (threads = value.toInt(&ok)) >= 1 && ok;
        else if (option == QLatin1String("--stop-after"))
            ok = (stopAfter = value.toDouble(&ok)) >= 0 && ok;
        else if (option == QLatin1String("--type"))
            type = value.toInt(&ok);
        else if (option == QLatin1String("--edition") && value == QLatin1String("repair"))
            converter = false;
        else if (option == QLatin1String("--edition") && value == QLatin1String("converter"))
            converter = true;
        else
            return usage();
        if (!ok)
            return usage();
    }
    if (type < SaveTypeOLM || type > SaveTypeHTML)
        return usage();
    return save(args[2], args[3], SaveType(type), converter, threads, stopAfter, hold);
}
