// Memory benchmark of the update download: a server in a child process streams zeros with no
// length as fast as they are taken (3000 MB unless told), the download window fetches them until
// it gives up, and the resident memory of this process before, at the peak and after is printed
// as one JSON object, and the resident memory once the allocator has given back what it kept for
// reuse. A first download, answered 404, pays what any first one costs once.
//   olmupdatebench [MEGABYTES]
// Run it with QT_QPA_PLATFORM=offscreen where there is no display.

#include "shell/ShellGlobals.h"
#include "update/QDownloadApp.h"
#include "update/UpdateGlobals.h"

#include "StreamingServer.h"
#include "WindowBenchUtil.h"

#include <QLabel>
#include <QNetworkProxy>
#include <QTemporaryDir>

#include <malloc.h>

namespace {

bool writeSettings(const QString &path, const QString &base)
{
    const QByteArray xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n"
                           "\t<key>UpdateLink_EN</key>\n\t<string>"
        + base.toUtf8() + "</string>\n</dict>\n</plist>\n";
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(xml) == xml.size();
}

QString download()
{
    QDownloadApp window;
    waitFor([&] { return window.state() != QDownloadApp::State::Downloading; }, 600);
    return window.findChild<QLabel *>(QStringLiteral("InfoLabel"))->text();
}

}  // namespace

int main(int argc, char *argv[])
{
    const qint64 megabytes = argc > 1 ? QByteArray(argv[1]).toLongLong() : 3000;
    // Forked before the toolkit starts a thread.
    StreamingServer server(megabytes << 20, 1);
    QApplication app(argc, argv);
    QTemporaryDir dir;
    if (megabytes <= 0 || !server.isRunning() || !dir.isValid()) {
        fprintf(stderr, "usage: olmupdatebench [MEGABYTES]\n");
        return 2;
    }
    InitShellResources();
    ShellHooks::messageBox = [](const QString &, const QString &) {};
    QNetworkProxy::setApplicationProxy(QNetworkProxy::NoProxy);
    UpdateHooks::workDir = dir.filePath(QStringLiteral("work"));
    strPlistPath = dir.filePath(QStringLiteral("Corvask.plist"));
    if (!writeSettings(strPlistPath, server.base()))
        return 1;

    download();
    turn();
    const long before = MemoryKb("VmRSS:");
    if (!ResetPeakMemory())
        fprintf(stderr, "olmupdatebench: the peak counts from the start\n");
    QElapsedTimer clock;
    clock.start();
    const QString message = download();
    const qint64 ms = clock.elapsed();
    turn();
    const long peak = MemoryKb("VmHWM:");
    const long after = MemoryKb("VmRSS:");
    // What the allocator kept for reuse, not what the program still holds, is given back here.
    malloc_trim(0);
    printf("{\"offered_mb\": %lld, \"seconds\": %.2f, \"rss_before_kb\": %ld, \"rss_peak_kb\": %ld, "
           "\"rss_after_kb\": %ld, \"rss_after_trim_kb\": %ld, \"message\": \"%s\"}\n",
           megabytes, ms / 1000.0, before, peak, after, MemoryKb("VmRSS:"), qPrintable(message));
    return 0;
}
