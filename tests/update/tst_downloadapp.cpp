// The download window against the update server on 127.0.0.1: the whole road from the check to
// the installed bundle and the update record, every failure ending in a message with the installed
// program untouched, and the behaviour both update windows share (drag strip, keys, language).

#include "StreamingServer.h"
#include "UpdateTestSupport.h"

#include "shell/ShellHooks.h"
#include "update/QCheckUpdate.h"
#include "update/QDownloadApp.h"
#include "update/QMinorUpdate.h"

#include <QLabel>
#include <QMouseEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTextDocument>
#include <QtTest>

#include <csignal>
#include <sys/resource.h>

namespace {

Answer package(const QByteArray &body, Answer::Mode mode = Answer::Whole)
{
    Answer answer;
    answer.body = body;
    answer.mode = mode;
    return answer;
}

QString plain(const QLabel *label)
{
    QTextDocument doc;
    doc.setHtml(label->text());
    return doc.toPlainText();
}

}  // namespace

Q_DECLARE_METATYPE(Answer)

class DownloadAppTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void wholeRoad();
    void reachesThePackage_data();
    void reachesThePackage();
    void failures_data();
    void failures();
    void closedWhileDownloading_data();
    void closedWhileDownloading();
    void endlessStreamInBoundedMemory();
    void failuresBeforeRequest_data();
    void failuresBeforeRequest();
    void deletedWhileDownloading();
    void texts();
    void windowsFit_data();
    void windowsFit();
    void dragStrip_data();
    void dragStrip();
    void keysAndLanguage_data();
    void keysAndLanguage();

private:
    QString makeInstall(const QString &name = QStringLiteral("Corvask.app"));

    QTemporaryDir m_dir;
    std::unique_ptr<QTemporaryDir> m_install;
    UpdateServer *m_server = nullptr;
    int m_ends = 0;
};

void DownloadAppTest::initTestCase()
{
    QVERIFY(m_dir.isValid());
    RedirectUpdatePaths(m_dir);
    UpdateHooks::endProgram = [this] { ++m_ends; };
    ShellHooks::messageBox = [](const QString &, const QString &) {};
}

void DownloadAppTest::init()
{
    m_ends = 0;
    UpdateHooks::stallTimeoutMs = 30000;
    UpdateHooks::progressWindowMs = 60000;
    m_server = new UpdateServer;
    QVERIFY(WriteSettingsFile(strPlistPath, m_server->base()));
    m_install = std::make_unique<QTemporaryDir>();
    UpdateHooks::applicationFile = makeInstall();
    QVERIFY(!UpdateHooks::applicationFile.isEmpty());
}

void DownloadAppTest::cleanup()
{
    delete m_server;
    m_server = nullptr;
    m_install.reset();
}

QString DownloadAppTest::makeInstall(const QString &name)
{
    return MakeInstalledBundle(m_install->filePath(QStringLiteral("Apps")), name, "v1");
}

void DownloadAppTest::wholeRoad()
{
    Answer version;
    version.body = "3.0.0.1\n";
    version.contentType = "text/plain";
    m_server->answers["/u/Corvask.txt"] = version;
    m_server->answers["/u/Corvask.zip"] = package(ProgramPackage("v2"), Answer::Slow);
    QSettings(QStringLiteral("apple"), QStringLiteral("DRUQ.db")).setValue(QStringLiteral("Other"), 7);

    QWidget window;
    bCheckForUpdate = true;
    new QCheckUpdate(&window);
    QTRY_VERIFY_WITH_TIMEOUT(window.findChild<QMinorUpdate *>(), kBusyMachineMs);
    auto *offer = window.findChild<QMinorUpdate *>();
    QTRY_VERIFY_WITH_TIMEOUT(offer->isVisible(), kBusyMachineMs);
    offer->findChild<QPushButton *>(QStringLiteral("UpdateButton"))->click();
    auto *download = offer->findChild<QDownloadApp *>();
    QVERIFY(download && download->isVisible());
    QVERIFY(!offer->isVisible());
    auto *ok = download->findChild<QPushButton *>(QStringLiteral("OkButton"));
    QVERIFY(!ok->isVisible());
    QVERIFY(!download->findChild<QLabel *>(QStringLiteral("RestartLabel"))->isVisible());
    QVERIFY(!download->findChild<QProgressBar *>()->isTextVisible());

    QTRY_VERIFY_WITH_TIMEOUT(download->state() != QDownloadApp::State::Downloading, kBusyMachineMs);
    QCOMPARE(download->state(), QDownloadApp::State::Installed);
    QVERIFY(ok->isVisible());
    QVERIFY(download->findChild<QLabel *>(QStringLiteral("RestartLabel"))->isVisible());
    QVERIFY(!download->findChild<QLabel *>(QStringLiteral("DownLoadLabel"))->isVisible());
    QCOMPARE(m_server->paths, (QList<QByteArray>{"/u/Corvask.txt", "/u/Corvask.zip"}));
    const QString bundle = m_install->filePath(QStringLiteral("Apps/Corvask.app"));
    QCOMPARE(download->InstalledAppPath(), bundle);
    QFile info(bundle + QStringLiteral("/Contents/Info"));
    QVERIFY(info.open(QIODevice::ReadOnly));
    QCOMPARE(info.readAll(), QByteArray("v2"));
    QCOMPARE(QDir(UpdateHooks::workDir).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList());  // package and staging gone, version text too

    ok->click();
    QCOMPARE(m_ends, 1);
    QSettings record(QStringLiteral("apple"), QStringLiteral("DRUQ.db"));
    QCOMPARE(record.value(QStringLiteral("VInfoType")).toString(), QStringLiteral("Minor"));
    QCOMPARE(record.value(QStringLiteral("VNo")).toString(), QStringLiteral("3.0.0.1"));
    QCOMPARE(record.value(QStringLiteral("VUpdate")).toString(), QStringLiteral("Minor Update"));
    QCOMPARE(record.value(QStringLiteral("Other")).toInt(), 7);
    download->hide();
}

void DownloadAppTest::reachesThePackage_data()
{
    QTest::addColumn<QString>("base");
    QTest::addColumn<QByteArray>("path");  // where the server keeps the package
    QTest::addColumn<Answer>("answer");    // what it answers for base + "Corvask.zip"
    Answer moved;
    moved.status = 301;
    moved.location = "/u/moved/Corvask.zip";
    QTest::newRow("redirect on this machine") << "/u/" << QByteArray("/u/moved/Corvask.zip") << moved;
    Answer whole = package(ProgramPackage("v2"));
    QTest::newRow("base without a slash") << "/u" << QByteArray("/uCorvask.zip") << whole;
    Answer unknownLength = package(ProgramPackage("v2"));
    unknownLength.declaredLength = -2;
    QTest::newRow("no length announced") << "/u/" << QByteArray("/u/Corvask.zip") << unknownLength;
}

void DownloadAppTest::reachesThePackage()
{
    QFETCH(QString, base);
    QFETCH(QByteArray, path);
    QFETCH(Answer, answer);
    QVERIFY(WriteSettingsFile(strPlistPath, m_server->base(base)));
    const QByteArray asked = base.toLatin1() + "Corvask.zip";
    m_server->answers[asked] = answer;
    if (path != asked)
        m_server->answers[path] = package(ProgramPackage("v2"));
    QDownloadApp download;
    QTRY_VERIFY_WITH_TIMEOUT(download.state() != QDownloadApp::State::Downloading, kBusyMachineMs);
    QCOMPARE(download.state(), QDownloadApp::State::Installed);
    QCOMPARE(m_server->paths.first(), asked);
    QCOMPARE(m_server->paths.last(), path);
    QVERIFY(!QFileInfo::exists(download.PackagePath()));
    QFile info(m_install->filePath(QStringLiteral("Apps/Corvask.app/Contents/Info")));
    QVERIFY(info.open(QIODevice::ReadOnly));
    QCOMPARE(info.readAll(), QByteArray("v2"));
}

void DownloadAppTest::failures_data()
{
    QTest::addColumn<Answer>("answer");
    QTest::addColumn<QString>("install");  // how the program is installed
    QTest::addColumn<QString>("message");  // start of the window's message, its cause included
    QTest::addColumn<bool>("packageKept");
    const QString notDownloaded = QStringLiteral("Update could not be downloaded. ");
    const QString wrongAnswer = notDownloaded + QStringLiteral("The update server answered wrongly: ");
    const QString notInstalled = QStringLiteral("Update could not be installed. %1 was left unchanged.").arg(EditionName());

    Answer missing;
    missing.status = 404;
    missing.contentType = "text/html";
    missing.body = "<html>not here</html>";
    QTest::newRow("404") << missing << "bundle" << wrongAnswer + "HTTP status 404." << false;
    Answer loop;
    loop.status = 302;
    loop.location = "/u/Corvask.zip";
    QTest::newRow("redirect loop") << loop << "bundle" << wrongAnswer + "it did not send the file." << false;
    Answer away = loop;
    away.location = "http://updates.example.invalid/Corvask.zip";
    QTest::newRow("redirect off this machine over http")
        << away << "bundle" << wrongAnswer + "it redirected the request to an address that is refused." << false;
    Answer html = package(ProgramPackage("v2"));
    html.contentType = "text/html; charset=utf-8";
    QTest::newRow("wrong content type") << html << "bundle"
                                        << notDownloaded + "The update server did not send a program package." << false;
    QTest::newRow("truncated") << package(ProgramPackage("v2"), Answer::CutShort) << "bundle"
                               << notDownloaded + "The transfer broke off: " << false;
    Answer huge = package("PK", Answer::Stall);
    huge.declaredLength = qint64(3) << 30;
    QTest::newRow("oversized") << huge << "bundle"
                               << notDownloaded
            + "The update server sent more than 1024 MB, too much for a program package."
                               << false;
    QTest::newRow("stalled") << package(ProgramPackage("v2"), Answer::Stall) << "bundle"
                             << notDownloaded + "The update server stopped answering." << false;
    Answer trickle = package(QByteArray(), Answer::Trickle);
    trickle.declaredLength = -2;
    QTest::newRow("trickling") << trickle << "bundle"
                               << notDownloaded + "The update server sent too slowly: " << false;
    QByteArray corrupt = ProgramPackage("v2");
    corrupt[40] = corrupt[40] ^ 0x5a;
    QTest::newRow("corrupt zip") << package(corrupt) << "bundle" << notInstalled << false;
    QTest::newRow("not a zip") << package("just bytes") << "bundle" << notInstalled << false;
    ZipWriter climb;
    climb.add("Corvask.app/Contents/Info", "v2");
    climb.add("Corvask.app/../../../evil", "x");
    QTest::newRow("zip with ../ entries") << package(climb.finish()) << "bundle" << notInstalled << false;
    ZipWriter foreign;
    foreign.add("Other.app/Contents/Info", "v2");
    QTest::newRow("package without our bundle") << package(foreign.finish()) << "bundle" << notInstalled << false;
    // A file-size limit fails the write as a full disk does: the message names the cause.
    QTest::newRow("package file cannot grow") << package(QByteArray(1 << 20, 'P')) << "limited"
                                              << notDownloaded + "The package could not be written: File too large." << false;
    QTest::newRow("program not in a bundle") << package(ProgramPackage("v2")) << "flat"
                                             << QStringLiteral("This copy of %1 cannot be updated in place.").arg(EditionName()) << true;
}

void DownloadAppTest::failures()
{
    QFETCH(Answer, answer);
    QFETCH(QString, install);
    QFETCH(QString, message);
    QFETCH(bool, packageKept);
    m_server->answers["/u/Corvask.zip"] = answer;
    if (answer.mode == Answer::Stall)
        UpdateHooks::stallTimeoutMs = 300;
    if (answer.mode == Answer::Trickle)
        UpdateHooks::progressWindowMs = 300;
    if (install == QLatin1String("flat")) {
        const QString exe = m_install->filePath(QStringLiteral("bin/Corvask"));
        QVERIFY(QDir().mkpath(QFileInfo(exe).path()) && QFile::copy(UpdateHooks::applicationFile, exe));
        UpdateHooks::applicationFile = exe;
    }
    const auto before = TreeSnapshot(m_install->path());

    struct rlimit unlimited;
    getrlimit(RLIMIT_FSIZE, &unlimited);
    if (install == QLatin1String("limited")) {
        std::signal(SIGXFSZ, SIG_IGN);
        struct rlimit small = unlimited;
        small.rlim_cur = 64 * 1024;
        QVERIFY(setrlimit(RLIMIT_FSIZE, &small) == 0);
    }
    QDownloadApp download;  // not shown: nothing waits on it
    const bool ended = QTest::qWaitFor([&] { return download.state() != QDownloadApp::State::Downloading; }, kBusyMachineMs);
    setrlimit(RLIMIT_FSIZE, &unlimited);
    QVERIFY(ended);
    QCOMPARE(download.state(), QDownloadApp::State::Failed);
    QString shown = download.findChild<QLabel *>(QStringLiteral("InfoLabel"))->text();
    shown.remove(QChar(0x200B));  // where long words may break
    QVERIFY2(shown.startsWith(message), qPrintable(shown));
    if (message.startsWith(QLatin1String("Update could not be installed.")))  // and says why
        QVERIFY2(shown.contains(QStringLiteral(" The package was refused: ")), qPrintable(shown));
    if (packageKept)
        QVERIFY(shown.contains(download.PackagePath()));
    QCOMPARE(QFileInfo::exists(download.PackagePath()), packageKept);
    QCOMPARE(TreeSnapshot(m_install->path()), before);  // byte for byte
    QVERIFY(!download.findChild<QLabel *>(QStringLiteral("RestartLabel"))->isVisible());

    // OK only closes the window: no record, no end of the program.
    download.show();
    auto *ok = download.findChild<QPushButton *>(QStringLiteral("OkButton"));
    QVERIFY(ok->isVisible());
    ok->click();
    QVERIFY(!download.isVisible());
    QCOMPARE(m_ends, 0);
    QFile::remove(download.PackagePath());
}

void DownloadAppTest::closedWhileDownloading_data()
{
    QTest::addColumn<bool>("byCancel");
    QTest::newRow("window closed") << false;
    QTest::newRow("Cancel") << true;
}

void DownloadAppTest::closedWhileDownloading()
{
    QFETCH(bool, byCancel);
    m_server->answers["/u/Corvask.zip"] = package(ProgramPackage("v2"), Answer::Stall);
    QDownloadApp download;
    download.setWindowModality(Qt::NonModal);
    download.show();
    QTRY_COMPARE_WITH_TIMEOUT(m_server->paths.size(), 1, kBusyMachineMs);
    QVERIFY(QFileInfo::exists(download.PackagePath()));
    auto *cancel = download.findChild<QPushButton *>(QStringLiteral("CancelButton"));
    QVERIFY(cancel->isVisible());
    if (byCancel)
        cancel->click();
    else
        download.close();
    QTRY_VERIFY_WITH_TIMEOUT(download.state() == QDownloadApp::State::Failed, kBusyMachineMs);
    QVERIFY(!cancel->isVisible() || !download.isVisible());
    QCOMPARE(download.findChild<QLabel *>(QStringLiteral("InfoLabel"))->text(),
             QStringLiteral("Update could not be downloaded. The download was cancelled."));
    QVERIFY(!QFileInfo::exists(download.PackagePath()));
    QTRY_COMPARE_WITH_TIMEOUT(m_server->ended, 1, kBusyMachineMs);
}

// Failures found before any request is sent say why as well, and send nothing.
void DownloadAppTest::failuresBeforeRequest_data()
{
    QTest::addColumn<QString>("link");      // the settings' update address; null: none
    QTest::addColumn<bool>("workDirFile");  // the work folder's place is taken by a file
    QTest::addColumn<QString>("cause");
    QTest::newRow("no address") << QString() << false << "No update address is set.";
    QTest::newRow("address off this machine over http")
        << "http://updates.example.invalid/u/" << false << "The update address may not serve updates.";
    QTest::newRow("work folder unusable") << "server" << true << "The private work folder cannot be used.";
}

void DownloadAppTest::failuresBeforeRequest()
{
    QFETCH(QString, link);
    QFETCH(bool, workDirFile);
    QFETCH(QString, cause);
    QVERIFY(WriteSettingsFile(strPlistPath, link == QLatin1String("server") ? m_server->base() : link));
    const QString workDir = UpdateHooks::workDir;
    const QString blocked = m_dir.filePath(QStringLiteral("blocked"));
    if (workDirFile) {
        QFile file(blocked);
        QVERIFY(file.open(QIODevice::WriteOnly));
        UpdateHooks::workDir = blocked;
    }
    QDownloadApp download;
    UpdateHooks::workDir = workDir;
    QFile::remove(blocked);
    QCOMPARE(download.state(), QDownloadApp::State::Failed);
    QCOMPARE(download.findChild<QLabel *>(QStringLiteral("InfoLabel"))->text(),
             QStringLiteral("Update could not be downloaded. ") + cause);
    QTest::qWait(50);
    QVERIFY(m_server->paths.isEmpty());
}

// A server that streams more than any package, with no length announced, as fast as the download
// takes it: the download holds a small buffer, fails naming why, and gives its memory back.
void DownloadAppTest::endlessStreamInBoundedMemory()
{
#if defined(__SANITIZE_ADDRESS__)
    QSKIP("the address sanitizer keeps freed memory aside, so resident memory tells nothing here");
#endif
    // The first download answered 404 pays what any first one costs once (the network thread,
    // the window's pictures); the second gets the stream.
    StreamingServer server((qint64(1) << 30) + (qint64(64) << 20), 1);
    QVERIFY(server.isRunning());
    QVERIFY(WriteSettingsFile(strPlistPath, server.base()));
    {
        QDownloadApp first;
        QTRY_VERIFY_WITH_TIMEOUT(first.state() == QDownloadApp::State::Failed, kBusyMachineMs);
    }
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    const long before = MemoryKb("VmRSS:");
    QVERIFY(ResetPeakMemory());
    {
        QDownloadApp download;
        // The event loop as the program runs it: the test's own waits sleep between turns.
        QEventLoop loop;
        QTimer poll;
        const QLabel *elapsed = download.findChild<QLabel *>(QStringLiteral("TimeElapsedLabel"));
        connect(&poll, &QTimer::timeout, &loop, [&] {
            if (!elapsed->text().isEmpty())  // data came: the reply's buffer is set
                server.release();
            if (download.state() != QDownloadApp::State::Downloading)
                loop.quit();
        });
        poll.start(20);
        QTimer::singleShot(60000, &loop, &QEventLoop::quit);
        loop.exec();
        QCOMPARE(download.state(), QDownloadApp::State::Failed);
        QCOMPARE(download.findChild<QLabel *>(QStringLiteral("InfoLabel"))->text(),
                 QStringLiteral("Update could not be downloaded. The update server sent more than 1024 MB, too much "
                                "for a program package."));
        QVERIFY(!QFileInfo::exists(download.PackagePath()));
    }
    const long peak = MemoryKb("VmHWM:");
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QTest::qWait(50);
    const long after = MemoryKb("VmRSS:");
    qInfo("resident: %ld kB before, %ld kB at the peak, %ld kB after", before, peak, after);
    // Bounds well above the system's socket buffers (the toolkit reads what the socket holds at
    // once) and far below the gigabyte streamed.
    QVERIFY2(peak - before < 96 * 1024, "the download held more than a small buffer");
    QVERIFY2(after - before < 64 * 1024, "the download kept memory after its end");
}

void DownloadAppTest::deletedWhileDownloading()
{
    m_server->answers["/u/Corvask.zip"] = package(ProgramPackage("v2"), Answer::Stall);
    auto download = std::make_unique<QDownloadApp>();
    download->show();
    QTRY_COMPARE_WITH_TIMEOUT(m_server->paths.size(), 1, kBusyMachineMs);
    const QString path = download->PackagePath();
    download.reset();
    QVERIFY(!QFileInfo::exists(path));
    QTRY_COMPARE_WITH_TIMEOUT(m_server->ended, 1, kBusyMachineMs);  // the request stops with its window
}

void DownloadAppTest::texts()
{
    m_server->answers["/u/Corvask.zip"] = package(ProgramPackage("v2"), Answer::Stall);
    QDownloadApp download;
    QCOMPARE(download.windowTitle(), EditionName());
    QVERIFY(download.width() >= 491 && download.height() >= 367);  // the form's size is the least
    QVERIFY(download.windowModality() == Qt::ApplicationModal);
    QCOMPARE(plain(download.findChild<QLabel *>(QStringLiteral("DownLoadLabel"))), QStringLiteral("Downloading Files"));
    QCOMPARE(download.findChild<QLabel *>(QStringLiteral("DownLoadProgressLabel"))->text(),
             QStringLiteral("Downloading under progress..."));
    QCOMPARE(download.findChild<QLabel *>(QStringLiteral("InfoLabel"))->text(),
             QStringLiteral("Please wait as this process will take several seconds to few minutes "));
    const QStringList restart =
        plain(download.findChild<QLabel *>(QStringLiteral("RestartLabel"))).split(QLatin1Char('\n'));
    QCOMPARE(
        restart,
        (QStringList{"Update successfully installed", "", "Update of Corvask downloaded and installed successfully.",
                     "", "", "", "", "Click on OK and Restart to run updated Corvask."}));
    QWidget holder;  // a finished check removes itself
    auto *check = new QCheckUpdate(&holder);
    QCOMPARE(check->windowTitle(), QStringLiteral("Corvask"));
    QCOMPARE(plain(check->findChild<QLabel *>(QStringLiteral("label"))), QStringLiteral("Checking For Update ..."));
    QVERIFY(!check->isVisible());
}

// Each update window in each of its states, at the fonts of the run (CTest runs this at 96 and
// 120 dpi too, and CI in both editions): the form's size, grown only by what the texts need and
// never past a 1366x768 screen, the heading where the form puts it, every text whole and apart,
// and every button inside the window.
void DownloadAppTest::windowsFit_data()
{
    QTest::addColumn<Answer>("answer");   // for the package; none: the offer
    QTest::addColumn<QString>("heading");
    QTest::addColumn<QPoint>("headingAt");
    QTest::addColumn<bool>("longText");   // may grow the window beyond a fifth
    QTest::newRow("offer") << Answer() << "label" << QPoint(150, 55) << false;
    QTest::newRow("downloading") << package(ProgramPackage("v2"), Answer::Stall) << "DownLoadLabel" << QPoint(150, 40)
                                 << false;
    Answer missing;
    missing.status = 404;
    QTest::newRow("download failed") << missing << "InfoLabel" << QPoint(150, 96) << false;
    ZipWriter longName;
    longName.add("Corvask.app/Contents/" + QByteArray(3000, 'n'), "x");
    QTest::newRow("package refused, naming a long entry")
        << package(longName.finish()) << "InfoLabel" << QPoint(150, 96) << true;
    QTest::newRow("installed") << package(ProgramPackage("v2")) << "RestartLabel" << QPoint(150, 10) << false;
}

void DownloadAppTest::windowsFit()
{
    QFETCH(Answer, answer);
    QFETCH(QString, heading);
    QFETCH(QPoint, headingAt);
    QFETCH(bool, longText);
    const bool offer = answer.body.isEmpty() && answer.status == 200;
    m_server->answers["/u/Corvask.zip"] = answer;
    std::unique_ptr<QDialog> window;
    if (offer)
        window = std::make_unique<QMinorUpdate>(nullptr, QString());
    else
        window = std::make_unique<QDownloadApp>();
    if (!offer && answer.mode != Answer::Stall) {
        auto *download = static_cast<QDownloadApp *>(window.get());
        QTRY_VERIFY_WITH_TIMEOUT(download->state() != QDownloadApp::State::Downloading, kBusyMachineMs);
    }
    window->setWindowModality(Qt::NonModal);
    window->show();
    QCoreApplication::processEvents();

    const QSize form = offer ? QSize(488, 363) : QSize(491, 367);
    const QSize size = window->size();
    const QString shown = QStringLiteral("%1x%2").arg(size.width()).arg(size.height());
    QVERIFY2(size.width() >= form.width() && size.height() >= form.height(), qPrintable(shown));
    QVERIFY2(size.width() <= form.width() * 6 / 5, qPrintable(shown));
    QVERIFY2(longText || size.height() <= form.height() * 6 / 5, qPrintable(shown));
    QVERIFY(QRect(0, 0, 1366, 768).contains(QRect(QPoint(), window->frameGeometry().size())));
    QVERIFY(window->screen()->availableGeometry().contains(window->frameGeometry()));
    QCOMPARE(window->findChild<QWidget *>(heading)->pos(), headingAt);

    QList<const QWidget *> texts;
    for (const QWidget *child : window->findChildren<QWidget *>(QString(), Qt::FindDirectChildrenOnly)) {
        if (!child->isVisible())
            continue;
        if (qobject_cast<const QPushButton *>(child))
            QVERIFY2(window->rect().contains(child->geometry()), qPrintable(child->objectName()));
        const auto *label = qobject_cast<const QLabel *>(child);
        if (!label || label->text().trimmed().isEmpty())
            continue;
        const int needed = label->wordWrap() ? label->heightForWidth(label->width()) : label->sizeHint().height();
        QVERIFY2(needed <= label->height() && window->rect().contains(label->geometry()),
                 qPrintable(label->objectName()));
        for (const QWidget *other : qAsConst(texts))
            QVERIFY2(!other->geometry().intersects(label->geometry()),
                     qPrintable(other->objectName() + QStringLiteral(" overlaps ") + label->objectName()));
        texts << label;
    }
    window->hide();
}

void DownloadAppTest::dragStrip_data()
{
    QTest::addColumn<bool>("offer");
    QTest::addColumn<int>("pressY");
    QTest::addColumn<int>("button");
    QTest::addColumn<bool>("moves");
    QTest::newRow("offer, left press in the strip") << true << 29 << int(Qt::LeftButton) << true;
    QTest::newRow("offer, left press below it") << true << 30 << int(Qt::LeftButton) << false;
    QTest::newRow("offer, right press") << true << 10 << int(Qt::RightButton) << false;
    QTest::newRow("download, left press in the strip") << false << 0 << int(Qt::LeftButton) << true;
    QTest::newRow("download, left press below it") << false << 30 << int(Qt::LeftButton) << false;
    QTest::newRow("download, middle press") << false << 10 << int(Qt::MiddleButton) << false;
}

void DownloadAppTest::dragStrip()
{
    QFETCH(bool, offer);
    QFETCH(int, pressY);
    QFETCH(int, button);
    QFETCH(bool, moves);
    m_server->answers["/u/Corvask.zip"] = package(ProgramPackage("v2"), Answer::Stall);
    std::unique_ptr<QWidget> window;
    if (offer)
        window = std::make_unique<QMinorUpdate>(nullptr, QString());
    else
        window = std::make_unique<QDownloadApp>();
    window->move(400, 280);
    const QPoint start = window->frameGeometry().topLeft();
    const QPoint press(100, pressY);
    const QPoint global = start + QPoint(100, 20);
    const auto pressed = Qt::MouseButton(button);
    QMouseEvent down(QEvent::MouseButtonPress, press, global, pressed, pressed, Qt::NoModifier);
    QCoreApplication::sendEvent(window.get(), &down);
    QMouseEvent drag(QEvent::MouseMove, press + QPoint(20, 10), global + QPoint(20, 10), Qt::NoButton, Qt::LeftButton,
                     Qt::NoModifier);
    QCoreApplication::sendEvent(window.get(), &drag);
    QCOMPARE(window->frameGeometry().topLeft(), moves ? start + QPoint(20, 10) : start);
    // Any release ends the drag, a right one too.
    QMouseEvent up(QEvent::MouseButtonRelease, press, global, Qt::RightButton, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(window.get(), &up);
    QVERIFY(!dragged);
    const QPoint after = window->frameGeometry().topLeft();
    QCoreApplication::sendEvent(window.get(), &drag);
    QCOMPARE(window->frameGeometry().topLeft(), after);
}

void DownloadAppTest::keysAndLanguage_data()
{
    QTest::addColumn<bool>("offer");
    QTest::newRow("offer") << true;
    QTest::newRow("download") << false;
}

void DownloadAppTest::keysAndLanguage()
{
    QFETCH(bool, offer);
    m_server->answers["/u/Corvask.zip"] = package(ProgramPackage("v2"), Answer::Stall);
    std::unique_ptr<QDialog> window;
    if (offer)
        window = std::make_unique<QMinorUpdate>(nullptr, QString());
    else
        window = std::make_unique<QDownloadApp>();
    window->show();
    const QString buttonName = offer ? QStringLiteral("UpdateButton") : QStringLiteral("OkButton");
    auto *button = window->findChild<QPushButton *>(buttonName);
    QSignalSpy clicks(button, &QPushButton::clicked);
    QTest::keyClick(window.get(), Qt::Key_Escape);
    QTest::keyClick(window.get(), Qt::Key_Return);
    QVERIFY(window->isVisible());
    QCOMPARE(clicks.count(), 0);

    // A change places the button again from the form, grown as the texts need; a second change
    // after the button was moved gives the same place.
    QEvent change(QEvent::LanguageChange);
    QCoreApplication::sendEvent(window.get(), &change);
    const QRect placed = button->geometry();
    const QSize fitted = window->size();
    button->setGeometry(1, 1, 5, 5);
    QCoreApplication::sendEvent(window.get(), &change);
    QCOMPARE(button->geometry(), placed);
    QCOMPARE(window->windowTitle(), EditionName());
    QCOMPARE(window->size(), fitted);
    QVERIFY(fitted.width() >= (offer ? 488 : 491) && fitted.height() >= (offer ? 363 : 367));
    if (offer) {
        QCOMPARE(window->findChild<QLabel *>(QStringLiteral("label_6"))->text(), QStringLiteral("Update"));
        QCOMPARE(button->text(), QStringLiteral("Update"));
    } else {
        QCOMPARE(window->findChild<QLabel *>(QStringLiteral("InfoLabel"))->text(), QString());
        QCOMPARE(button->text(), QStringLiteral("OK"));
    }
    window->hide();
}

QTEST_MAIN(DownloadAppTest)
#include "tst_downloadapp.moc"
