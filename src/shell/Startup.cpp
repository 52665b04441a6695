#include "shell/Startup.h"

#include "platform/Edition.h"
#include "shell/QLicenseAgreement.h"
#include "shell/ShellGlobals.h"
#include "shell/ShellHooks.h"

#include <QDir>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

QString GetTempPath()
{
    return QDir::tempPath();
}

namespace Startup {

namespace {

const char kAgreeLine[] = "Agree";

// The Resources folder, reached by the same folder steps as always; failed steps are ignored.
QString ResourcesFolder(const QString &appDir, bool store)
{
    QDir dir(appDir);
    dir.cdUp();
    if (!store) {
        dir.cdUp();
        dir.cdUp();
        dir.cdUp();
    }
    dir.cd(QStringLiteral("Resources"));
    return dir.absolutePath();
}

bool WriteAll(int fd, const char *data, size_t length)
{
    while (length > 0) {
        const ssize_t written = ::write(fd, data, length);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += written;
        length -= size_t(written);
    }
    return true;
}

}  // namespace

StartupPaths DeriveStartupPaths(const QString &appDir, bool store)
{
    StartupPaths paths;
    paths.helpFilePath = ResourcesFolder(appDir, store);
    paths.plistPath = paths.helpFilePath + QStringLiteral("/Corvask.plist");
    QDir exeDir(appDir);
    exeDir.cdUp();
    exeDir.cd(QStringLiteral("MacOS"));
    paths.previewerPath = exeDir.absolutePath() + QStringLiteral("/FileUtil.app");
    return paths;
}

void SetStartupPaths(const QString &appDir)
{
    const StartupPaths paths = DeriveStartupPaths(appDir, bForappstore);
    strPlistPath = paths.plistPath;
    HelpFilePath = paths.helpFilePath;
    strPreviewerPath = paths.previewerPath;
}

bool IsRunningFromInstallImage(const QString &appDir)
{
    return appDir.toLatin1() == QByteArrayLiteral("/Volumes/Corvask/Corvask.app/Contents/MacOS");
}

QString InstallImageMessage(bool converter)
{
    return converter
        ? QStringLiteral("\nKindly copy the Tillomar \nexecutable in the Applications folder and run from there.")
        : QStringLiteral("\nKindly copy the Corvask \nexecutable in the Applications folder and run from there.");
}

QString MarkerFolder(bool store)
{
    if (!ShellHooks::markerFolder.isEmpty())
        return ShellHooks::markerFolder;
    return store ? GetTempPath() : QStringLiteral("/var/tmp");
}

QString AgreementMarkerPath(bool converter, bool store)
{
    // The store variant has one name for both editions.
    const QString name = (converter && !store) ? QStringLiteral("KWVTCM") : QStringLiteral("KWVTRM");
    return MarkerFolder(store) + QLatin1Char('/') + name;
}

QString AgreementMarkerPath()
{
    return AgreementMarkerPath(bforQConverterFO, bForappstore);
}

bool MarkerSaysAgreed(const QString &markerPath)
{
    // The marker lies in a folder every user can write to: follow no link, and do not wait on a
    // FIFO or read a device someone put there.
    const int fd = ::open(QFile::encodeName(markerPath).constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st;
    QByteArray head;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        // Only the first line counts; a few bytes more than "Agree" CR LF decide it.
        char buffer[64];
        ssize_t got;
        while ((got = ::read(fd, buffer, sizeof buffer)) < 0 && errno == EINTR) {
        }
        if (got > 0)
            head = QByteArray(buffer, int(got));
    }
    ::close(fd);
    const int end = head.indexOf('\n');
    QByteArray firstLine = end < 0 ? head : head.left(end);
    // Read as text: carriage returns do not count.
    firstLine.replace('\r', QByteArray());
    return firstLine == kAgreeLine;
}

bool WriteAgreementMarker(const QString &markerPath)
{
    const int fd = ::open(QFile::encodeName(markerPath).constData(),
                          O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    static const char content[] = "Agree\r\n";
    bool ok = WriteAll(fd, content, sizeof content - 1);
    if (::close(fd) != 0)
        ok = false;
    return ok;
}

AgreementResult CheckAgreement(const QString &markerPath, bool store, bool converter, const AgreementRunner &run)
{
    if (store || MarkerSaysAgreed(markerPath))
        return AgreementResult::AlreadyGiven;

    QLicenseAgreement dialog;
    dialog.labellogo->setPixmap(
        QPixmap(converter ? QStringLiteral(":/images/OLM_Converter.png") : QStringLiteral(":/images/OLM-Repair3.png")));
    dialog.setModal(true);
    const int result = run ? run(dialog) : dialog.exec();
    if (result == 0 || !dialog.AgreeButton->isChecked())
        return AgreementResult::Refused;
    // Not being able to write only means the next start asks again.
    WriteAgreementMarker(markerPath);
    return AgreementResult::GivenNow;
}

}  // namespace Startup
