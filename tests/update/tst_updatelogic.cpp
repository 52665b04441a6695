// The update's arithmetic and the installer: version values and the offer decision, the shared
// version rows, window placement, progress texts, allowed addresses, the bundle layout, package
// checks, and installs that must leave the installed program whole whenever they fail.

#include "UpdateTestSupport.h"

#include "update/PackageUnpack.h"
#include "update/UpdateInstaller.h"
#include "update/UpdateLogic.h"

#include <QProcess>
#include <QtTest>

#include <atomic>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <unistd.h>

namespace {

// A package whose program is whole, with the entries of extra after it.
QByteArray programWith(const std::function<void(ZipWriter &)> &extra)
{
    ZipWriter zip;
    zip.add("Corvask.app/Contents/Info", "v2");
    zip.add("Corvask.app/" + ExecutableInBundle(), "#!/bin/sh\n", 0100755);
    extra(zip);
    return zip.finish();
}

QByteArray resolved(const QString &path)
{
    char *real = ::realpath(QFile::encodeName(path).constData(), nullptr);
    const QByteArray result(real ? real : "");
    std::free(real);
    return result;
}

// Why the tree below root breaks what an install must keep, empty when it does not: only the
// installed bundle changed, its links resolve inside it, nothing in it is writable by group or
// others or set-id, and its bytes on disk are within the cap.
QString installBreach(const QString &root, const QMap<QString, QByteArray> &before, const QString &bundle)
{
    const QString prefix = QDir(root).relativeFilePath(bundle) + QLatin1Char('/');
    const auto outside = [&prefix](QMap<QString, QByteArray> tree) {
        for (auto it = tree.begin(); it != tree.end();)
            it = it.key().startsWith(prefix) || it.key() == prefix.chopped(1) ? tree.erase(it) : it + 1;
        tree.remove(QStringLiteral("work/Corvask.zip"));
        return tree.keys();
    };
    if (outside(TreeSnapshot(root)) != outside(before))
        return QStringLiteral("something changed outside the bundle");
    const QByteArray inside = resolved(bundle) + '/';
    quint64 bytes = 0;
    QDirIterator it(bundle, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        struct stat st;
        if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
            return QStringLiteral("cannot read ") + path;
        if (S_ISLNK(st.st_mode) && !resolved(path).startsWith(inside))
            return QStringLiteral("link leads out: ") + path;
        if (!S_ISLNK(st.st_mode) && (st.st_mode & (S_ISUID | S_ISGID | S_IWGRP | S_IWOTH)))
            return QStringLiteral("mode %1: ").arg(st.st_mode & 07777, 0, 8) + path;
        bytes += quint64(st.st_blocks) * 512;
    }
    return bytes <= kMaxUnpackedBytes ? QString() : QStringLiteral("beyond the cap");
}

// Samples the process's working folder on a thread of its own until stopped: other threads
// resolve relative names while an install runs, so it must never move.
class WorkingFolderProbe {
public:
    WorkingFolderProbe() : m_expected(current()), m_thread([this] { sample(); }) {}
    ~WorkingFolderProbe() { stop(); }
    // The folders seen other than the one at the start; empty when it never moved.
    QStringList stop()
    {
        m_running = false;
        if (m_thread.joinable())
            m_thread.join();
        return m_moved;
    }

private:
    static QString current()
    {
        char buffer[PATH_MAX];
        return QString::fromLocal8Bit(::getcwd(buffer, sizeof buffer) ? buffer : "(none)");
    }
    void sample()
    {
        while (m_running) {
            const QString now = current();
            if (now != m_expected && !m_moved.contains(now))
                m_moved << now;
        }
    }

    const QString m_expected;
    std::atomic<bool> m_running{true};
    QStringList m_moved;
    std::thread m_thread;
};

}  // namespace

Q_DECLARE_METATYPE(UpdateOutcome)
Q_DECLARE_METATYPE(InstallStatus)

class UpdateLogicTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void decision_data();
    void decision();
    void versionRows();
    void placement_data();
    void placement();
    void progress_data();
    void progress();
    void allowedAddresses_data();
    void allowedAddresses();
    void bundleLayout_data();
    void bundleLayout();
    void packageChecks_data();
    void packageChecks();
    void install_data();
    void install();
    void readOnlyInstallFolder();
};

void UpdateLogicTest::decision_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("stored");
    QTest::addColumn<int>("value");
    QTest::addColumn<UpdateOutcome>("outcome");
    using O = UpdateOutcome;
    QTest::newRow("build higher") << "3.0.0.1" << "" << 3001 << O::OfferMinor;
    QTest::newRow("major higher") << "4.0.0.0" << "" << 4000 << O::OfferMajor;
    QTest::newRow("major alone") << "4" << "" << 4000 << O::OfferMajor;
    QTest::newRow("two-digit major") << "10.0.0.0" << "" << 10000 << O::OfferMajor;
    QTest::newRow("two parts") << "3.1" << "" << 3100 << O::OfferMinor;
    QTest::newRow("positions, not numbers: 3.10") << "3.10.0.0" << "" << 3100 << O::OfferMinor;
    QTest::newRow("positions, not numbers: 3.0.10") << "3.0.10.0" << "" << 3010 << O::OfferMinor;
    QTest::newRow("ours") << "3.0.0.0" << "" << 3000 << O::Same;
    QTest::newRow("ours, other case") << "3.0.0.0" << "" << 3000 << O::Same;
    QTest::newRow("ours with a leading zero") << "03.0.0.0" << "" << 3000 << O::NoGreater;
    QTest::newRow("ours with a fifth part") << "3.0.0.0.1" << "" << 3000 << O::NoGreater;
    QTest::newRow("trailing zeros are ours") << "3.0.0.0.0" << "" << 3000 << O::NoGreater;
    QTest::newRow("shorter ours") << "3.0" << "" << 3000 << O::NoGreater;
    QTest::newRow("older") << "2.9.9.9" << "" << 2999 << O::Older;
    QTest::newRow("long first piece reads its first digit") << "100.0.0.0" << "" << 111 << O::Older;
    QTest::newRow("negative major is no version") << "-1.5.0.0" << "" << -500 << O::NotAVersion;
    QTest::newRow("empty") << "" << "" << 0 << O::NotAVersion;
    QTest::newRow("html page") << "<html>maintenance</html>" << "" << 0 << O::NotAVersion;
    QTest::newRow("page naming the stored version") << "<p>3.0.0.1</p>" << "3.0.0.1" << 0 << O::NotAVersion;
    QTest::newRow("letter before the major") << "v3.1" << "" << 100 << O::NotAVersion;
    QTest::newRow("word after the version") << "3.0.1 beta" << "" << 3010 << O::NotAVersion;
    QTest::newRow("dot before the major") << ".4" << "" << 0 << O::NotAVersion;
    QTest::newRow("stored names the offer") << "3.0.0.1" << "3.0.0.1" << 3001 << O::AlreadyCurrent;
    QTest::newRow("stored prefix covers it") << "3.0.0.1" << "3.0" << 3001 << O::AlreadyCurrent;
    QTest::newRow("stored padded") << "3.0.0.1" << "  3.0.0.1 \n" << 3001 << O::AlreadyCurrent;
    QTest::newRow("stored inside a longer one") << "3.0.0.10" << "3.0.0.1" << 3001 << O::AlreadyCurrent;
    QTest::newRow("stored other version") << "3.0.0.2" << "3.0.0.1" << 3002 << O::OfferMinor;
    QTest::newRow("stored blank") << "3.0.0.2" << "   " << 3002 << O::OfferMinor;
}

void UpdateLogicTest::decision()
{
    QFETCH(QString, line);
    QFETCH(QString, stored);
    QFETCH(int, value);
    QFETCH(UpdateOutcome, outcome);
    QCOMPARE(VersionValue(line), value);
    QCOMPARE(DecideUpdate(line, stored), outcome);
}

void UpdateLogicTest::versionRows()
{
    char rows[3][32];
    std::memset(rows, 'x', sizeof rows);
    FillUpdateRows(rows, false, QString(40, QLatin1Char('7')));
    QCOMPARE(UpdateRowText(rows[0]), QStringLiteral("Minor"));
    QCOMPARE(UpdateRowText(rows[1]), QString(31, QLatin1Char('7')));   // cut, with its NUL kept
    QCOMPARE(rows[1][31], '\0');
    QCOMPARE(UpdateRowText(rows[2]), QStringLiteral("Minor Update"));
    QCOMPARE(rows[0][31], '\0');   // padded, not left with old bytes

    FillUpdateRows(rows, true, QStringLiteral("3.1 \u00e9\u4e2d"));
    QCOMPARE(UpdateRowText(rows[0]), QStringLiteral("Major"));
    QCOMPARE(UpdateRowText(rows[1]), QStringLiteral("3.1 \u00e9?"));   // Latin-1 both ways
    QCOMPARE(UpdateRowText(rows[2]), QStringLiteral("Major Update"));

    char unterminated[32];
    std::memset(unterminated, 'a', sizeof unterminated);
    QCOMPARE(UpdateRowText(unterminated), QString(32, QLatin1Char('a')));   // never read past the row
}

void UpdateLogicTest::placement_data()
{
    QTest::addColumn<QSize>("desktop");
    QTest::addColumn<QSize>("window");
    QTest::addColumn<QPoint>("at");
    QTest::newRow("offer on 1440x900") << QSize(1440, 900) << QSize(488, 363) << QPoint(476, 218);
    QTest::newRow("offer, odd width truncates") << QSize(1441, 900) << QSize(488, 363) << QPoint(476, 218);
    QTest::newRow("offer on a narrow desktop") << QSize(400, 363) << QSize(488, 363) << QPoint(-44, -50);
    QTest::newRow("download on 1440x900") << QSize(1440, 900) << QSize(491, 367) << QPoint(474, 216);
    QTest::newRow("download on 1920x1080") << QSize(1920, 1080) << QSize(491, 367) << QPoint(714, 306);
    QTest::newRow("download on a small desktop") << QSize(400, 300) << QSize(491, 367) << QPoint(-45, -83);
}

void UpdateLogicTest::placement()
{
    QFETCH(QSize, desktop);
    QFETCH(QSize, window);
    QFETCH(QPoint, at);
    QCOMPARE(CentredAbove(desktop, window), at);
}

void UpdateLogicTest::progress_data()
{
    QTest::addColumn<qint64>("received");
    QTest::addColumn<qint64>("total");
    QTest::addColumn<qint64>("ms");
    QTest::addColumn<QString>("elapsed");
    QTest::addColumn<QString>("rate");
    QTest::addColumn<int>("barMaximum");
    QTest::addColumn<int>("barValue");
    QTest::newRow("first second: no rate") << qint64(5000000) << qint64(20000000) << qint64(999)
                                           << "Time Elapsed: 0 sec (4.77 MB of  19.07 MB copied) " << "" << 1000 << 250;
    QTest::newRow("whole megabytes over whole seconds") << qint64(5000000) << qint64(20000000) << qint64(2500)
                                                       << "Time Elapsed: 2 sec (4.77 MB of  19.07 MB copied) "
                                                       << "Transfer Rate: 2048 KB/sec " << 1000 << 250;
    QTest::newRow("under one megabyte: no rate") << qint64(1048575) << qint64(2097152) << qint64(5000)
                                                << "Time Elapsed: 5 sec (1.00 MB of  2.00 MB copied) " << "" << 1000 << 499;
    QTest::newRow("one and a half megabytes") << qint64(1572864) << qint64(1572864) << qint64(1000)
                                             << "Time Elapsed: 1 sec (1.50 MB of  1.50 MB copied) "
                                             << "Transfer Rate: 1024 KB/sec " << 1000 << 1000;
    QTest::newRow("empty package") << qint64(0) << qint64(0) << qint64(0)
                                  << "Time Elapsed: 0 sec (0.00 MB of  0.00 MB copied) " << "" << 0 << 0;
    QTest::newRow("unknown total: busy bar") << qint64(0) << qint64(-1) << qint64(300)
                                            << "Time Elapsed: 0 sec (0.00 MB of  -0.00 MB copied) " << "" << 0 << 0;
    QTest::newRow("beyond 2 GiB stays in range") << (qint64(3) << 30) << (qint64(4) << 30) << qint64(10000)
                                                << "Time Elapsed: 10 sec (3072.00 MB of  4096.00 MB copied) "
                                                << "Transfer Rate: 314572 KB/sec " << 1000 << 750;
}

void UpdateLogicTest::progress()
{
    QFETCH(qint64, received);
    QFETCH(qint64, total);
    QFETCH(qint64, ms);
    QFETCH(QString, elapsed);
    QFETCH(QString, rate);
    QFETCH(int, barMaximum);
    QFETCH(int, barValue);
    const DownloadProgressTexts texts = ProgressTexts(received, total, ms);
    QCOMPARE(texts.elapsed, elapsed);
    QCOMPARE(texts.rate, rate);
    const ProgressBarState bar = ProgressBarFor(received, total);
    QCOMPARE(bar.maximum, barMaximum);
    QCOMPARE(bar.value, barValue);
}

void UpdateLogicTest::allowedAddresses_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<bool>("allowed");
    QTest::newRow("https") << "https://updates.example.invalid/Corvask.zip" << true;
    QTest::newRow("http elsewhere") << "http://updates.example.invalid/Corvask.zip" << false;
    QTest::newRow("http loopback") << "http://127.0.0.1:8080/u/Corvask.zip" << true;
    QTest::newRow("http localhost") << "http://localhost/u/Corvask.zip" << true;
    QTest::newRow("http loopback v6") << "http://[::1]/Corvask.zip" << true;
    QTest::newRow("file") << "file:///etc/passwd" << false;
    QTest::newRow("ftp") << "ftp://updates.example.invalid/Corvask.zip" << false;
    QTest::newRow("relative, no settings") << "Corvask.zip" << false;
}

void UpdateLogicTest::allowedAddresses()
{
    QFETCH(QString, url);
    QFETCH(bool, allowed);
    QCOMPARE(IsAllowedUpdateUrl(QUrl(url, QUrl::TolerantMode)), allowed);
}

void UpdateLogicTest::bundleLayout_data()
{
    QTest::addColumn<QString>("exe");
    QTest::addColumn<QString>("bundle");
    QTest::addColumn<QString>("folder");
    QTest::newRow("nested bundle") << "/Applications/Corvask.app/Contents/Resources/Corvask.app/Contents/MacOS/Corvask"
                                   << "/Applications/Corvask.app" << "/Applications";
    QTest::newRow("renamed bundle") << "/opt/x/Other.app/Contents/Resources/Corvask.app/Contents/MacOS/Corvask"
                                    << "/opt/x/Other.app" << "/opt/x";
    QTest::newRow("system program") << "/usr/bin/Corvask" << "/" << "/";
    QTest::newRow("exactly five below the root") << "/a/b/c/d/e/Corvask" << "/" << "/";
    QTest::newRow("dots are resolved first") << "/x/y/../Z.app/C/R/I.app/C/M/Corvask" << "/x/Z.app" << "/x";
}

void UpdateLogicTest::bundleLayout()
{
    QFETCH(QString, exe);
    QFETCH(QString, bundle);
    QFETCH(QString, folder);
    const InstalledBundle paths = InstalledBundlePaths(exe);
    QCOMPARE(paths.bundle, bundle);
    QCOMPARE(paths.folder, folder);
}

void UpdateLogicTest::packageChecks_data()
{
    QTest::addColumn<QByteArray>("zip");
    QTest::addColumn<bool>("listed");
    QTest::addColumn<QString>("refusal");   // start of the reason, empty when accepted
    QTest::newRow("program package") << ProgramPackage("v2") << true << "";
    ZipWriter mac;
    mac.add("Corvask.app/Contents/Info", "v2");
    mac.add("__MACOSX/Corvask.app/._Info", "fork");
    QTest::newRow("resource forks beside the bundle") << mac.finish() << true << "";
    ZipWriter climb;
    climb.add("Corvask.app/../../evil", "x");
    QTest::newRow("climbs out") << climb.finish() << true << "unsafe entry name";
    ZipWriter absolute;
    absolute.add("/tmp/evil", "x");
    QTest::newRow("absolute name") << absolute.finish() << true << "unsafe entry name";
    ZipWriter backslash;
    backslash.add("Corvask.app\\..\\evil", "x");
    QTest::newRow("backslash name") << backslash.finish() << true << "unsafe entry name";
    ZipWriter other;
    other.add("Other.app/Contents/Info", "x");
    QTest::newRow("another bundle") << other.finish() << true << "entry outside the bundle";
    ZipWriter empty;
    QTest::newRow("no bundle at all") << empty.finish() << true << "no Corvask.app folder";
    ZipWriter throughLink;
    throughLink.addLink("Corvask.app/Contents/lib", "/etc");
    throughLink.add("Corvask.app/Contents/lib/passwd", "x");
    QTest::newRow("file below a link") << throughLink.finish() << true << "entry below a link";
    ZipWriter forkLink;
    forkLink.add("Corvask.app/Contents/Info", "v2");
    forkLink.addLink("__MACOSX/x", "/etc");
    QTest::newRow("link outside the bundle") << forkLink.finish() << true << "link outside the bundle";
    ZipWriter manyLinks;   // each link compared with each entry would take hours
    for (int i = 0; i < 60000; ++i) {
        manyLinks.addLink("Corvask.app/l" + QByteArray::number(i), "Contents");
        manyLinks.add("Corvask.app/f" + QByteArray::number(i), QByteArray());
    }
    QTest::newRow("many links and many files") << manyLinks.finish() << true << "";
    QTest::newRow("html page") << QByteArray("<html><body>Not here</body></html>") << false << "";
    QTest::newRow("cut package") << ProgramPackage("v2").left(120) << false << "";
    QByteArray lying = ProgramPackage("v2");
    qToLittleEndian<quint32>(0x7fffff00, lying.data() + lying.size() - 6);   // directory offset past the end
    QTest::newRow("directory outside the file") << lying << false << "";
}

void UpdateLogicTest::packageChecks()
{
    QFETCH(QByteArray, zip);
    QFETCH(bool, listed);
    QFETCH(QString, refusal);
    QTemporaryDir dir;
    QFile file(dir.filePath(QStringLiteral("p.zip")));
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(zip) == zip.size());
    file.close();
    QVector<PackageEntry> entries;
    QString error;
    QCOMPARE(ListPackageEntries(file.fileName(), &entries, &error), listed);
    if (!listed) {
        QVERIFY(!error.isEmpty());
        return;
    }
    const QString reason = CheckPackageEntries(entries);
    if (refusal.isEmpty())
        QVERIFY2(reason.isEmpty(), qPrintable(reason));
    else
        QVERIFY2(reason.startsWith(refusal), qPrintable(reason));
}

void UpdateLogicTest::install_data()
{
    QTest::addColumn<QByteArray>("package");
    QTest::addColumn<QString>("installedName");   // empty: the program is not in a bundle
    QTest::addColumn<QString>("folderName");
    QTest::addColumn<InstallStatus>("status");
    QTest::newRow("replaces the bundle") << ProgramPackage("v2") << "Corvask.app" << "Apps" << InstallStatus::Ok;
    QTest::newRow("folder with blanks") << ProgramPackage("v2") << "Corvask.app" << "My Apps" << InstallStatus::Ok;
    QTest::newRow("folder with a quote") << ProgramPackage("v2") << "Corvask.app" << "x'; touch PWNED; '"
                                         << InstallStatus::Ok;
    QTest::newRow("renamed bundle: new one beside it") << ProgramPackage("v2") << "Other.app" << "Apps" << InstallStatus::Ok;
    QTest::newRow("not a bundle") << ProgramPackage("v2") << "" << "Apps" << InstallStatus::NotABundleLayout;
    QTest::newRow("folder named .app without the program") << ProgramPackage("v2") << "Hollow.app" << "Apps"
                                                           << InstallStatus::NotABundleLayout;
    QTest::newRow("html instead of a package") << QByteArray("<html>oops</html>") << "Corvask.app" << "Apps"
                                               << InstallStatus::UnpackFailed;
    QByteArray corrupt = ProgramPackage("v2");
    corrupt[40] = corrupt[40] ^ 0x55;   // inside the first file's data: its CRC fails
    corrupt[100] = corrupt[100] ^ 0x55;
    QTest::newRow("corrupt data") << corrupt << "Corvask.app" << "Apps" << InstallStatus::UnpackFailed;
    ZipWriter climb;
    climb.add("Corvask.app/Contents/Info", "v2");
    climb.add("../../escaped", "x");
    QTest::newRow("entry climbing out") << climb.finish() << "Corvask.app" << "Apps" << InstallStatus::MissingBundleInPackage;
    ZipWriter noProgram;
    noProgram.add("Corvask.app/Contents/Info", "v2");
    QTest::newRow("bundle without the program") << noProgram.finish() << "Corvask.app" << "Apps"
                                                << InstallStatus::MissingBundleInPackage;
    ZipWriter outLink;
    outLink.add("Corvask.app/" + ExecutableInBundle(), "#!/bin/sh\n", 0100755);
    outLink.addLink("Corvask.app/Contents/home", "../../../../..");
    QTest::newRow("link leading out") << outLink.finish() << "Corvask.app" << "Apps" << InstallStatus::MissingBundleInPackage;

    QTest::newRow("resource forks beside the bundle") << programWith([](ZipWriter &zip) {
        zip.addDir("__MACOSX/");
        zip.add("__MACOSX/Corvask.app/Contents/._Info", "fork");
    }) << "Corvask.app" << "Apps" << InstallStatus::Ok;
    const auto refused = InstallStatus::MissingBundleInPackage;
    QTest::newRow("link out, then a file through it") << programWith([](ZipWriter &zip) {
        zip.addLink("Corvask.app/Contents/out", "../../..");
        zip.add("Corvask.app/Contents/out/escaped", "x");
    }) << "Corvask.app" << "Apps" << refused;
    for (const int host : {2, 5, 16, 30})   // VMS, Atari, BeOS, AtheOS: unzip reads their modes as Unix ones
        QTest::addRow("link made on host %d", host) << programWith([host](ZipWriter &zip) {
            zip.add("Corvask.app/Contents/lib", "../../..", 0120777, host);
        }) << "Corvask.app" << "Apps" << refused;
    // L leads to the bundle's top; A goes up from there, which reads as inside when links are not followed.
    QTest::newRow("relative chain of links leaving the bundle") << programWith([](ZipWriter &zip) {
        zip.addLink("Corvask.app/Contents/Resources/Corvask.app/Contents/MacOS/L", "../../../../..");
        zip.addLink("Corvask.app/Contents/Resources/Corvask.app/Contents/MacOS/A", "L/../../../Apps");
    }) << "Corvask.app" << "Apps" << refused;
    QTest::newRow("65,537 entries, a climbing name last") << programWith([](ZipWriter &zip) {
        for (int i = 2; i < 65536; ++i)
            zip.add("Corvask.app/Contents/many/" + QByteArray::number(i), QByteArray());
        zip.add("Corvask.app/../../../climbed", "x");   // the count now reads 1
    }) << "Corvask.app" << "Apps" << refused;
    QTest::newRow("deflated entry declaring 10 B, holding 64 MiB") << programWith([](ZipWriter &zip) {
        zip.addDeflated("Corvask.app/Contents/bomb", QByteArray(64 << 20, 'A'), 10);
    }) << "Corvask.app" << "Apps" << InstallStatus::UnpackFailed;
    QTest::newRow("deflated entry declaring more than it holds") << programWith([](ZipWriter &zip) {
        zip.addDeflated("Corvask.app/Contents/short", QByteArray(1000, 'A'), 5000);
    }) << "Corvask.app" << "Apps" << InstallStatus::UnpackFailed;
    QByteArray twoNames = programWith([](ZipWriter &zip) { zip.add("Corvask.app/Contents/escaped", "x"); });
    twoNames.replace(twoNames.indexOf("Corvask.app/Contents/escaped"), 28, "Corvask.app/../../../escaped");
    QTest::newRow("local header naming another place than the directory")
        << twoNames << "Corvask.app" << "Apps" << InstallStatus::UnpackFailed;
    // Two directory records, one local header: the entry would be written twice.
    QByteArray shared = programWith([](ZipWriter &zip) {
        zip.add("Corvask.app/Contents/a", "x");
        zip.add("Corvask.app/Contents/b", "x");
    });
    qToLittleEndian<quint32>(quint32(shared.indexOf("Corvask.app/Contents/a") - 30),
                             shared.data() + shared.lastIndexOf("Corvask.app/Contents/b") - 46 + 42);
    QTest::newRow("two directory records sharing one local header")
        << shared << "Corvask.app" << "Apps" << InstallStatus::UnpackFailed;
    QTest::newRow("world-writable and setuid modes are normalised") << programWith([](ZipWriter &zip) {
        zip.add("Corvask.app/Contents/tool", "#!/bin/sh\n", 0104777);
        zip.add("Corvask.app/Contents/shared", "x", 0100666);
        zip.add("Corvask.app/Contents/Group/", QByteArray(), 042777);
    }) << "Corvask.app" << "Apps" << InstallStatus::Ok;
    // libarchive would walk into the folders of a name this long one by one, moving the working folder.
    QTest::newRow("name longer than a path may be") << programWith([](ZipWriter &zip) {
        QByteArray deep = "Corvask.app/Contents/";
        while (deep.size() < PATH_MAX)
            deep += QByteArray(200, 'd') + '/';
        zip.add(deep + "file", "x");
    }) << "Corvask.app" << "Apps" << InstallStatus::UnpackFailed;
    for (const quint32 type : {0010000u, 0020000u, 0060000u, 0140000u})   // FIFO, devices, socket
        QTest::addRow("special file of type 0%o", type) << programWith([type](ZipWriter &zip) {
            zip.add("Corvask.app/Contents/special", QByteArray(), type | 0644);
        }) << "Corvask.app" << "Apps" << refused;
}

void UpdateLogicTest::install()
{
    QFETCH(QByteArray, package);
    QFETCH(QString, installedName);
    QFETCH(QString, folderName);
    QFETCH(InstallStatus, status);
    QTemporaryDir root;
    const QString folder = root.filePath(folderName);
    const QString work = root.filePath(QStringLiteral("work/"));
    QVERIFY(QDir().mkpath(work) && QDir().mkpath(folder));
    QString exe;
    if (installedName == QLatin1String("Hollow.app")) {
        QVERIFY(QDir().mkpath(folder + QStringLiteral("/Hollow.app/Contents/Resources/Corvask.app/Contents/MacOS")));
        exe = folder + QStringLiteral("/Hollow.app/") + QString::fromLatin1(ExecutableInBundle());
    } else if (installedName.isEmpty()) {
        exe = folder + QStringLiteral("/bin/Corvask");   // installed flat, as system programs are
        QVERIFY(QDir().mkpath(folder + QStringLiteral("/bin")));
        QFile program(exe);
        QVERIFY(program.open(QIODevice::WriteOnly) && program.write("#!/bin/sh\n") > 0);
        program.setPermissions(program.permissions() | QFileDevice::ExeOwner);
    } else {
        exe = MakeInstalledBundle(folder, installedName, "v1");
    }
    QVERIFY(!exe.isEmpty());
    const QString packagePath = work + QStringLiteral("Corvask.zip");
    QFile file(packagePath);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(package) == package.size());
    file.close();
    const auto before = TreeSnapshot(root.path());
    const QString cwd = QDir::currentPath();
    QDir::setCurrent(root.path());   // a shell would have run "touch PWNED" here

    const mode_t mask = ::umask(0);   // a permissive umask must not widen what is installed
    WorkingFolderProbe probe;
    const InstallResult result = InstallPackage(packagePath, work, exe);
    const QStringList moved = probe.stop();
    ::umask(mask);
    QDir::setCurrent(cwd);
    QVERIFY2(moved.isEmpty(), qPrintable(QStringLiteral("working folder moved to ") + moved.join(QLatin1Char(' '))));
    QVERIFY2(result.status == status, qPrintable(result.detail));
    QVERIFY(!QFileInfo::exists(root.filePath(QStringLiteral("PWNED"))));
    QCOMPARE(QDir(work).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             status == InstallStatus::NotABundleLayout ? QStringList{QStringLiteral("Corvask.zip")} : QStringList());
    const QStringList leftovers = QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    QVERIFY2(leftovers.filter(QStringLiteral(".new")).isEmpty(), qPrintable(leftovers.join(',')));
    if (status != InstallStatus::Ok) {
        auto after = TreeSnapshot(root.path());
        after.remove(QStringLiteral("work/Corvask.zip"));
        auto expected = before;
        expected.remove(QStringLiteral("work/Corvask.zip"));
        QCOMPARE(after, expected);   // nothing installed was touched
        return;
    }
    const QString installed = folder + QStringLiteral("/Corvask.app");
    QCOMPARE(result.installedPath, installed);
    const QString breach = installBreach(root.path(), before, installed);
    QVERIFY2(breach.isEmpty(), qPrintable(breach));
    QFile info(installed + QStringLiteral("/Contents/Info"));
    QVERIFY(info.open(QIODevice::ReadOnly));
    QCOMPARE(info.readAll(), QByteArray("v2"));
    QVERIFY(QFileInfo(installed + QLatin1Char('/') + QString::fromLatin1(ExecutableInBundle())).isExecutable());
    if (installedName != QLatin1String("Corvask.app")) {
        QFile old(folder + QLatin1Char('/') + installedName + QStringLiteral("/Contents/Info"));
        QVERIFY(old.open(QIODevice::ReadOnly));
        QCOMPARE(old.readAll(), QByteArray("v1"));   // a renamed bundle is left as it was
    }
}

void UpdateLogicTest::readOnlyInstallFolder()
{
    QTemporaryDir root;
    const QString folder = root.filePath(QStringLiteral("Apps"));
    const QString work = root.filePath(QStringLiteral("work/"));
    QVERIFY(QDir().mkpath(work));
    const QString exe = MakeInstalledBundle(folder, QStringLiteral("Corvask.app"), "v1");
    QFile file(work + QStringLiteral("Corvask.zip"));
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(ProgramPackage("v2")) > 0);
    file.close();
    const auto before = TreeSnapshot(folder);
    // The superuser writes into read-only folders; an immutable one stops it too.
    const bool super = ::geteuid() == 0;
    if (super && QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("+i"), folder}) != 0)
        QSKIP("no read-only folder for the superuser on this file system");
    if (!super)
        QVERIFY(QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::ExeOwner));
    const InstallResult result = InstallPackage(file.fileName(), work, exe);
    if (super)
        QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("-i"), folder});
    else
        QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    QCOMPARE(result.status, InstallStatus::CopyFailed);
    QCOMPARE(TreeSnapshot(folder), before);
}

QTEST_GUILESS_MAIN(UpdateLogicTest)
#include "tst_updatelogic.moc"
