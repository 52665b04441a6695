#pragma once
// What runs before the main window: where the settings, help files and previewer lie, the refusal
// to run from the mounted install image, and the end-user agreement with its marker file.

#include <QString>

#include <functional>

class QLicenseAgreement;

// The platform's temporary folder; the store variant keeps its working files here.
QString GetTempPath();

namespace Startup {

struct StartupPaths {
    QString plistPath;      // the Resources folder + "/Corvask.plist"
    QString helpFilePath;   // the Resources folder (Eula.txt, Eula.pdf)
    QString previewerPath;  // the executable's own folder + "/FileUtil.app"
};

// Derives the paths from the folder that holds the executable. The bundle keeps its Resources
// folder four folders above the executable's folder (one in the store variant). A folder step
// that fails leaves the walk where it was, so a broken layout still gives a path, just one where
// later readers find nothing.
StartupPaths DeriveStartupPaths(const QString &appDir, bool store);
// Sets strPlistPath, HelpFilePath and strPreviewerPath for this build.
void SetStartupPaths(const QString &appDir);

// True for the executable's folder on the mounted install image, which must not be run from.
bool IsRunningFromInstallImage(const QString &appDir);
// The edition's request to copy the program before running it.
QString InstallImageMessage(bool converter);

// The folder of the agreement marker: "/var/tmp", or the temporary folder in the store variant.
// ShellHooks::markerFolder replaces it in the tests.
QString MarkerFolder(bool store);
// The marker file for an edition and variant, and for this build.
QString AgreementMarkerPath(bool converter, bool store);
QString AgreementMarkerPath();

// True when the marker's first line is exactly "Agree". A missing, unreadable or non-regular file
// (a FIFO someone left in the shared folder) reads as not agreed; links are not followed.
bool MarkerSaysAgreed(const QString &markerPath);
// Writes "Agree" CR LF, replacing what the marker held. Refuses to follow a link at the path.
bool WriteAgreementMarker(const QString &markerPath);

enum class AgreementResult { AlreadyGiven, GivenNow, Refused };

// Runs the dialog modally; tests pass a function that answers it without a modal loop.
using AgreementRunner = std::function<int(QLicenseAgreement &)>;

// Asks for the agreement unless the store variant or the marker says it is given, and records a
// first agreement. A marker that cannot be written only means the next start asks again.
AgreementResult CheckAgreement(const QString &markerPath, bool store, bool converter,
                               const AgreementRunner &run = AgreementRunner());

}  // namespace Startup
