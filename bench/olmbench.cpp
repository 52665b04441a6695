// Benchmark driver: runs the real scanner thread over an archive and prints one JSON object.
//   olmbench scan ARCHIVE

#include "platform/ArchiveSource.h"
#include "scanner/QFolderInformationThread.h"
#include "scanner/ScanGlobals.h"
#include "shell/ShellGlobals.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>

#include <cstdio>
#include <fcntl.h>
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

int scan(const QString &path)
{
    fileDescriptor = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    struct stat st;
    if (fileDescriptor < 0 || fstat(fileDescriptor, &st) != 0) {
        fprintf(stderr, "olmbench: cannot open %s\n", qPrintable(path));
        return 2;
    }
    lSize = st.st_size;
    QElapsedTimer clock;
    clock.start();
    QFolderInformationThread scanner;
    scanner.SetInitialSettings();
    scanner.wait();
    const double seconds = clock.nsecsElapsed() / 1e9;
    printf("{\"archive_bytes\":%lld,\"seconds\":%.3f,\"mails\":%lld,\"contacts\":%lld,\"calendar\":%lld,"
           "\"tasks\":%lld,\"notes\":%lld,\"attachments\":%lld,\"folders\":%d,\"peak_rss_kb\":%ld}\n",
           (long long)lSize, seconds, (long long)MailItemCount, (long long)ContactItemCount,
           (long long)CalendarItemCount, (long long)TaskItemCount, (long long)NotesItemCount,
           (long long)AttachmentNodeCount, objMapFID_PID.size(), peakRssKb());
    CleanScanResults();
    ::close(fileDescriptor);
    fileDescriptor = -1;
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() == 3 && args[1] == QLatin1String("scan"))
        return scan(args[2]);
    fprintf(stderr, "usage: olmbench scan ARCHIVE\n");
    return 2;
}
