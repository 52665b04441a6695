#pragma once
// Puts a downloaded program package in place of the installed bundle without ever leaving the
// user without a working program: the package is listed and checked, unpacked entry by entry into
// a fresh private staging folder (PackageUnpack), the unpacked bundle is checked, copied beside the
// installed one and swapped in with one rename; the old bundle is removed only once the new one is
// in place.

#include <QString>
#include <QVector>

// The top folder every package holds: the bundle that replaces the installed one.
inline QString PackageBundleName()
{
    return QStringLiteral("Corvask.app");
}

struct PackageEntry {
    QByteArray name;   // as stored, '/'-separated
    quint64 size = 0;  // unpacked size the archive declares
    int host = 0;      // the system the entry was made on (3: Unix)
    quint32 type = 0;  // the file type bits of the Unix mode in its attributes, 0 when none
    bool isLink = false;
};

// The entries of the ZIP archive at path, from every record of its central directory. False with
// a reason for a file that is no readable ZIP archive (ZIP64 archives included: no program package
// needs one).
bool ListPackageEntries(const QString &path, QVector<PackageEntry> *entries, QString *error);
// Empty when the entries may be unpacked: every name relative, without "..", unique, below the
// bundle folder (or a "__MACOSX" folder of resource forks), only files, folders and links made on
// Unix, nothing below a link, and a bounded total.
QString CheckPackageEntries(const QVector<PackageEntry> &entries);

struct InstalledBundle {
    QString bundle;      // the executable's folder five levels up
    QString folder;      // six levels up
    QString executable;  // the executable's path inside the bundle
};
// Where the running program's bundle lies, for the executable at applicationFile.
InstalledBundle InstalledBundlePaths(const QString &applicationFile);

enum class InstallStatus { Ok, NotABundleLayout, UnpackFailed, MissingBundleInPackage, CopyFailed };

struct InstallResult {
    InstallStatus status = InstallStatus::Ok;
    QString detail;         // why, for the log and the window
    QString installedPath;  // where the new bundle now lies (Ok)
};

// Installs package for the program at applicationFile, unpacking below workDir. The package is
// removed after a successful install and after a damaged one, and kept when the program cannot be
// updated in place or its folder refuses the copy. Anything installed is untouched unless the result is Ok.
InstallResult InstallPackage(const QString &package, const QString &workDir, const QString &applicationFile);
