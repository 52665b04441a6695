// The update check and its offer against the update server on 127.0.0.1: "No update available."
// only for a check the user asked for that reached a server with nothing newer, the failure named
// for one that could not be made, an offer of a newer version with its details, and no file
// written or followed outside the private work folder.

#include "UpdateTestSupport.h"

#include "platform/DesktopOpener.h"
#include "shell/ShellHooks.h"
#include "update/QCheckUpdate.h"
#include "update/QMinorUpdate.h"
#include "update/UpdateLogic.h"

#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTextEdit>
#include <QtTest>

namespace {
const QString kNoUpdate = QStringLiteral("\nNo update available.");
const QString kInfoIcon = QStringLiteral("border-image:url(:/images/Info.png);");
const QString kMarkIcon = QStringLiteral("border-image:url(:/images/Mark.png);");
const QString kUnreachable = QStringLiteral("\nThe update server could not be reached: ");
const QString kWrongAnswer = QStringLiteral("\nThe update server answered wrongly: ");
const QString kNotMade = QStringLiteral("\nThe update check could not be made: ");
const QString kNotAVersion = QStringLiteral("\nThe update server answered wrongly: the answer is not a version.");
// What a network's sign-in page in front of the server answers, with 200.
const char kLoginPage[] = "<!DOCTYPE html>\n<html><head><title>Sign in</title></head>"
                          "<body><form action=\"/login\">3.0.0.1</form></body></html>\n";

Answer text(const QByteArray &body, int status = 200)
{
    Answer answer;
    answer.status = status;
    answer.body = body;
    answer.contentType = "text/plain";
    return answer;
}
} // namespace

class CheckUpdateTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void reportsOnlyWhenAsked_data();
    void reportsOnlyWhenAsked();
    void unreachableServer_data();
    void unreachableServer();
    void missingUpdateAddress();
    void windowClosedMidCheck();
    void slowAnswerEndsWithinTheBound();
    void cancelEndsTheCheckAtOnce();
    void busyWhileServerSilent_data();
    void busyWhileServerSilent();
    void newerVersion_data();
    void newerVersion();
    void offer();
    void offerDetails_data();
    void offerDetails();
    void baseWithoutSlash();
    void staleOfferDoesNotSilence();
    void nothingWrittenThroughLinks();
    void blockedWorkFolder();
    void whatsNew();

private:
    // Runs one check on a fresh main-window stand-in; returns the offer it made, if any.
    QMinorUpdate *runCheck(QWidget &window, bool asked);

    QTemporaryDir m_dir;
    UpdateServer *m_server = nullptr;
    QStringList m_messages;
    QStringList m_icons;
};

void CheckUpdateTest::initTestCase()
{
    QVERIFY(m_dir.isValid());
    RedirectUpdatePaths(m_dir);
}

void CheckUpdateTest::init()
{
    m_messages.clear();
    m_icons.clear();
    bCheckForUpdate = false;
    UpdateVersionAvailable = false;
    m_server = new UpdateServer;
    QVERIFY(WriteSettingsFile(strPlistPath, m_server->base(), QStringLiteral("https://example.invalid/new")));
    QSettings(QStringLiteral("apple"), QStringLiteral("MEXO.db")).clear();
    ShellHooks::messageBox = [this](const QString &text, const QString &icon) {
        m_messages << text;
        m_icons << icon;
    };
}

void CheckUpdateTest::cleanup()
{
    ShellHooks::messageBox = nullptr;
    DesktopOpener::hook = nullptr;
    delete m_server;
    m_server = nullptr;
}

QMinorUpdate *CheckUpdateTest::runCheck(QWidget &window, bool asked)
{
    bCheckForUpdate = asked;
    auto *check = new QCheckUpdate(&window);
    check->hide();
    if (!QTest::qWaitFor([] { return !QCheckUpdate::IsRunning(); }, 20000))
        return nullptr;
    QTest::qWait(20);   // the deferred report of a check that sent nothing
    return window.findChild<QMinorUpdate *>();
}

void CheckUpdateTest::reportsOnlyWhenAsked_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<bool>("asked");
    QTest::addColumn<QString>("reported");   // the message shown, empty for none
    QTest::addColumn<bool>("newer");

    QTest::newRow("same version, asked") << 200 << QByteArray("3.0.0.0\n") << true << kNoUpdate << false;
    QTest::newRow("same version, in the background") << 200 << QByteArray("3.0.0.0\n") << false << "" << false;
    QTest::newRow("older version, asked") << 200 << QByteArray("2.9.9.9") << true << kNoUpdate << false;
    QTest::newRow("trailing zeros are the same version") << 200 << QByteArray("3.0.0.0.0\r\n") << true << kNoUpdate
                                                         << false;
    QTest::newRow("shorter same version") << 200 << QByteArray("3.0") << true << kNoUpdate << false;
    QTest::newRow("newer version, asked: offered, not reported") << 200 << QByteArray("3.0.1.0\n") << true << ""
                                                                 << true;
    QTest::newRow("newer version, in the background") << 200 << QByteArray("4") << false << "" << true;
    QTest::newRow("html login page") << 200 << QByteArray(kLoginPage) << true << kNotAVersion << false;
    QTest::newRow("html login page, in the background") << 200 << QByteArray(kLoginPage) << false << "" << false;
    QTest::newRow("empty answer") << 200 << QByteArray() << true << kNotAVersion << false;
    QTest::newRow("blank lines only") << 200 << QByteArray(" \r\n\n") << true << kNotAVersion << false;
    QTest::newRow("empty answer, in the background") << 200 << QByteArray() << false << "" << false;
    QTest::newRow("server has no version text") << 404 << QByteArray("missing") << true
                                                << kWrongAnswer + "HTTP status 404." << false;
    QTest::newRow("server has no version text, background") << 404 << QByteArray("missing") << false << ""
                                                            << false;
    QTest::newRow("oversized answer is not a version text") << 200 << QByteArray("9.9\n" + QByteArray(200000, 'x'))
                                                            << true
                                                            << kWrongAnswer + "the answer is too large for a version text."
                                                            << false;
    QTest::newRow("server error page with a version in it") << 500 << QByteArray("4.0.0.0") << true
                                                            << kWrongAnswer + "HTTP status 500." << false;
    QTest::newRow("server error, in the background") << 500 << QByteArray("4.0.0.0") << false << "" << false;
}

void CheckUpdateTest::reportsOnlyWhenAsked()
{
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(bool, asked);
    QFETCH(QString, reported);
    QFETCH(bool, newer);
    m_server->answers["/u/Corvask.txt"] = text(body, status);

    QWidget window;
    QMinorUpdate *offer = runCheck(window, asked);
    QCOMPARE(m_server->paths, QList<QByteArray>{"/u/Corvask.txt"});
    QCOMPARE(m_messages, reported.isEmpty() ? QStringList() : QStringList{reported});
    if (!reported.isEmpty())
        QCOMPARE(m_icons, QStringList{reported == kNoUpdate ? kInfoIcon : kMarkIcon});
    QCOMPARE(UpdateVersionAvailable, newer);
    QCOMPARE(offer != nullptr && offer->isVisible(), newer);
    QVERIFY(!bCheckForUpdate);
    if (!newer)
        QTRY_VERIFY_WITH_TIMEOUT(window.findChildren<QCheckUpdate *>().isEmpty(), kBusyMachineMs);   // a check without offer goes away
}

void CheckUpdateTest::unreachableServer_data()
{
    QTest::addColumn<bool>("asked");
    QTest::addColumn<QByteArray>("redirect");
    QTest::addColumn<QString>("reported");   // the message shown, empty for none
    QTest::newRow("asked") << true << QByteArray() << kUnreachable + "Connection refused.";
    QTest::newRow("in the background") << false << QByteArray() << "";
    QTest::newRow("redirect loop") << true << QByteArray("/u/Corvask.txt") << kWrongAnswer + "it did not send the file.";
    QTest::newRow("redirect to plain http elsewhere")
        << true << QByteArray("http://updates.example.invalid/x")
        << kWrongAnswer + "it redirected the request to an address that is refused.";
    QTest::newRow("server stops answering") << true << QByteArray("stall") << kUnreachable + "it stopped answering.";
}

void CheckUpdateTest::unreachableServer()
{
    QFETCH(bool, asked);
    QFETCH(QByteArray, redirect);
    QFETCH(QString, reported);
    if (redirect.isEmpty()) {
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost));
        const quint16 port = probe.serverPort();
        probe.close();
        QVERIFY(WriteSettingsFile(strPlistPath, QStringLiteral("http://127.0.0.1:%1/").arg(port)));
    } else if (redirect == "stall") {
        Answer silent = text("3.0.0.1\n");
        silent.mode = Answer::Stall;
        m_server->answers["/u/Corvask.txt"] = silent;
        UpdateHooks::stallTimeoutMs = 300;
    } else {
        Answer moved = text("moved", 301);
        moved.location = redirect;
        m_server->answers["/u/Corvask.txt"] = moved;
    }
    QWidget window;
    QVERIFY(!runCheck(window, asked));
    UpdateHooks::stallTimeoutMs = 30000;
    QCOMPARE(m_messages, reported.isEmpty() ? QStringList() : QStringList{reported});
    QVERIFY(!UpdateVersionAvailable);
    QVERIFY(!bCheckForUpdate);
    QVERIFY(!QFileInfo::exists(VersionTxtPath));
}

void CheckUpdateTest::missingUpdateAddress()
{
    // No address: nothing is requested, and the check says why.
    QVERIFY(WriteSettingsFile(strPlistPath, QString()));
    QWidget window;
    QVERIFY(!runCheck(window, true));
    QCOMPARE(m_messages, QStringList{kNotMade + "no update address is set."});
    QVERIFY(m_server->paths.isEmpty());
    QVERIFY(!bCheckForUpdate);
}

void CheckUpdateTest::windowClosedMidCheck()
{
    // The server takes the connection and never answers; the window goes away meanwhile.
    Answer silent = text("3.0.0.1\n");
    silent.mode = Answer::Stall;
    m_server->answers["/u/Corvask.txt"] = silent;
    bCheckForUpdate = true;
    auto window = std::make_unique<QWidget>();
    new QCheckUpdate(window.get());
    QTRY_COMPARE_WITH_TIMEOUT(m_server->paths.size(), 1, kBusyMachineMs);
    QVERIFY(QCheckUpdate::IsRunning());
    window.reset();
    QVERIFY(!QCheckUpdate::IsRunning());
    QTRY_COMPARE_WITH_TIMEOUT(m_server->ended, 1, kBusyMachineMs);   // the dropped check hangs up, though the manager lives on
    QVERIFY(m_messages.isEmpty());
}

// A server that answers and then sends a byte a second never stalls: the check's one bound on its
// whole time ends it, and the user is told the server could not be reached.
void CheckUpdateTest::slowAnswerEndsWithinTheBound()
{
    Answer drip = text("3.0.0.1\n");
    drip.mode = Answer::Trickle;
    drip.dripMs = 1000;
    m_server->answers["/u/Corvask.txt"] = drip;
    UpdateHooks::checkBoundMs = 2000;
    auto window = std::make_unique<QWidget>();
    QMinorUpdate *offer = runCheck(*window, true);
    UpdateHooks::checkBoundMs = 30000;
    QVERIFY(!QCheckUpdate::IsRunning());
    QVERIFY(!offer);
    QCOMPARE(m_messages, QStringList{"\nThe update server could not be reached: it did not answer within 2 seconds."});
    QVERIFY(!QApplication::overrideCursor());
    QTRY_COMPARE_WITH_TIMEOUT(m_server->ended, 1, kBusyMachineMs);
}

// While a check the user asked for runs, its sheet shows a Cancel that ends it at once, saying
// nothing; the next Update starts afresh.
void CheckUpdateTest::cancelEndsTheCheckAtOnce()
{
    Answer drip = text("3.0.0.1\n");
    drip.mode = Answer::Trickle;
    drip.dripMs = 1000;
    m_server->answers["/u/Corvask.txt"] = drip;
    bCheckForUpdate = true;
    auto window = std::make_unique<QWidget>();
    QPointer<QCheckUpdate> check = new QCheckUpdate(window.get());
    check->hide();  // as the window does; the sheet comes up once the request runs
    QTRY_COMPARE_WITH_TIMEOUT(m_server->paths.size(), 1, kBusyMachineMs);
    QTRY_VERIFY_WITH_TIMEOUT(check && check->isVisible(), kBusyMachineMs);
    auto *cancel = check->findChild<QPushButton *>(QStringLiteral("cancelButton"));
    QVERIFY(cancel && cancel->isVisible());
    QCOMPARE(cancel->text(), QStringLiteral("Cancel"));
    QTest::mouseClick(cancel, Qt::LeftButton);
    QVERIFY(!QCheckUpdate::IsRunning());
    QVERIFY(!QApplication::overrideCursor());
    QVERIFY(!bCheckForUpdate);
    QTRY_VERIFY_WITH_TIMEOUT(!check, kBusyMachineMs);
    QTRY_COMPARE_WITH_TIMEOUT(m_server->ended, 1, kBusyMachineMs);
    QVERIFY(m_messages.isEmpty());
}

// A check the user asked for shows that it waits while the server is silent, and stops showing
// it when the check ends, answered or not.
void CheckUpdateTest::busyWhileServerSilent_data()
{
    QTest::addColumn<bool>("asked");
    QTest::addColumn<bool>("answered");
    QTest::newRow("asked, the window closes meanwhile") << true << false;
    QTest::newRow("asked, then answered") << true << true;
    QTest::newRow("automatic: no sign") << false << true;
}

void CheckUpdateTest::busyWhileServerSilent()
{
    QFETCH(bool, asked);
    QFETCH(bool, answered);
    Answer silent = text("3.0.0.0\n");
    silent.mode = Answer::Stall;
    m_server->answers["/u/Corvask.txt"] = silent;
    bCheckForUpdate = asked;
    auto window = std::make_unique<QWidget>();
    QPointer<QCheckUpdate> check = new QCheckUpdate(window.get());
    QTRY_COMPARE_WITH_TIMEOUT(m_server->paths.size(), 1, kBusyMachineMs);
    const QCursor *shown = QApplication::overrideCursor();
    QCOMPARE(shown ? int(shown->shape()) : -1, asked ? int(Qt::BusyCursor) : -1);
    if (answered)
        delete m_server;  // the connection closes: the check ends with a failure
    else
        window.reset();
    m_server = answered ? new UpdateServer : m_server;
    QTRY_VERIFY_WITH_TIMEOUT(!check, kBusyMachineMs);
    QVERIFY(!QApplication::overrideCursor());
}

void CheckUpdateTest::newerVersion_data()
{
    QTest::addColumn<QString>("offered");
    QTest::addColumn<bool>("newer");
    QTest::newRow("last part higher") << "3.0.0.1" << true;
    QTest::newRow("minor higher, shorter") << "3.1" << true;
    QTest::newRow("equal") << "3.0.0.0" << false;
    QTest::newRow("equal with trailing zero") << "3.0.0.0.0" << false;
    QTest::newRow("equal, shorter") << "3.0.0" << false;
    QTest::newRow("two-digit build reads its first digit") << "3.0.0.10" << true;
    QTest::newRow("older") << "2.99" << false;
    QTest::newRow("blank around") << "  3.2\n" << true;
    QTest::newRow("suffix makes it no version") << "3.0.1 beta" << false;
    QTest::newRow("not a number") << "v3.1" << false;
    QTest::newRow("empty") << "" << false;
    QTest::newRow("part beyond int range") << "99999999999.0" << false;
}

void CheckUpdateTest::newerVersion()
{
    QFETCH(QString, offered);
    QFETCH(bool, newer);
    const UpdateOutcome outcome = DecideUpdate(offered.trimmed(), QString());
    QCOMPARE(outcome == UpdateOutcome::OfferMajor || outcome == UpdateOutcome::OfferMinor, newer);
}

void CheckUpdateTest::offer()
{
    m_server->answers["/u/Corvask.txt"] = text("4.0.0.1 \r\nnotes\n");
    QWidget window;
    QPointer<QMinorUpdate> offer = runCheck(window, true);
    QVERIFY(offer && offer->isVisible());
    QVERIFY(m_messages.isEmpty());
    QCOMPARE(UpdateRowText(softwareUpdate[0]), QStringLiteral("Major"));
    QCOMPARE(UpdateRowText(softwareUpdate[1]), QStringLiteral("4.0.0.1"));
    QCOMPARE(UpdateRowText(softwareUpdate[2]), QStringLiteral("Major Update"));
    QCOMPARE(offer->windowTitle(), EditionName());
    QVERIFY(offer->windowModality() == Qt::ApplicationModal);
    QVERIFY(offer->width() >= 488 && offer->height() >= 363);   // the form's size is the least
    QCOMPARE(offer->GetVersion(), QStringLiteral("4.0.0.1 "));   // as written, for the details
    QVERIFY(QFileInfo::exists(VersionTxtPath));

    offer->findChild<QPushButton *>(QStringLiteral("CancelButton"))->click();
    QVERIFY(offer);   // hidden, not deleted
    QVERIFY(!offer->isVisible());
    QVERIFY(!QFileInfo::exists(VersionTxtPath));
}

void CheckUpdateTest::offerDetails_data()
{
    QTest::addColumn<QByteArray>("body");
    // Through a check that finds the body on the server, or the offer made on a file written here.
    QTest::addColumn<bool>("checked");
    QTest::addColumn<QString>("details");
    QTest::newRow("plain") << QByteArray("3.0.0.1\n") << true
                           << "New version details: \nUpdate: " + EditionName() + " 3.0.0.1\n";
    QTest::newRow("blank kept as written") << QByteArray(" 3.0.0.1\t\r\n") << true
                                           << "New version details: \nUpdate: " + EditionName() + "  3.0.0.1\t\n";
    // No check offers such a line; the offer reads its file again, which may have changed since.
    QTest::newRow("markup in the file shown as text")
        << QByteArray("3.1 <b>&amp;</b>\n") << false
        << "New version details: \nUpdate: " + EditionName() + " 3.1 <b>&amp;</b>\n";
}

void CheckUpdateTest::offerDetails()
{
    QFETCH(QByteArray, body);
    QFETCH(bool, checked);
    QFETCH(QString, details);
    QWidget window;
    QMinorUpdate *offer = nullptr;
    if (checked) {
        m_server->answers["/u/Corvask.txt"] = text(body);
        offer = runCheck(window, true);
    } else {
        QFile file(m_dir.filePath(QStringLiteral("offered.txt")));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(body) == body.size());
        file.close();
        offer = new QMinorUpdate(&window, file.fileName());
    }
    QVERIFY(offer);
    QCOMPARE(offer->findChild<QTextEdit *>(QStringLiteral("textEdit"))->toPlainText(), details);
    offer->hide();
}

void CheckUpdateTest::baseWithoutSlash()
{
    // The address is joined as written; the offer reads the file the check wrote.
    QVERIFY(WriteSettingsFile(strPlistPath, m_server->base(QStringLiteral("/u"))));
    m_server->answers["/uCorvask.txt"] = text("3.0.0.2\n");
    QWidget window;
    QMinorUpdate *offer = runCheck(window, true);
    QCOMPARE(m_server->paths, QList<QByteArray>{"/uCorvask.txt"});
    QVERIFY(offer);
    QCOMPARE(offer->GetVersion(), QStringLiteral("3.0.0.2"));
    offer->hide();
}

void CheckUpdateTest::staleOfferDoesNotSilence()
{
    UpdateVersionAvailable = true;   // an offer earlier in this run
    m_server->answers["/u/Corvask.txt"] = text("3.0.0.0.1");
    QWidget window;
    QVERIFY(!runCheck(window, true));
    QCOMPARE(m_messages, QStringList{kNoUpdate});
    QVERIFY(!UpdateVersionAvailable);

    // The installed version noted by the installer already names the offer.
    m_messages.clear();
    QSettings(QStringLiteral("apple"), QStringLiteral("MEXO.db")).setValue(QStringLiteral("VNo"), QStringLiteral("3.0.0.7"));
    m_server->answers["/u/Corvask.txt"] = text("3.0.0.7");
    QVERIFY(!runCheck(window, true));
    QCOMPARE(m_messages, QStringList{kNoUpdate});
}

void CheckUpdateTest::nothingWrittenThroughLinks()
{
    QTemporaryDir elsewhere;
    const QString victim = elsewhere.filePath(QStringLiteral("victim"));
    QFile file(victim);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write("precious") == 8);
    file.close();
    const QString work = UpdateHooks::workDir + QStringLiteral("/uCorvask.txt");
    QFile::remove(work);   // the version text of an earlier check
    QVERIFY(QFile::link(victim, work));
    QVERIFY(WriteSettingsFile(strPlistPath, m_server->base(QStringLiteral("/u"))));
    m_server->answers["/uCorvask.txt"] = text("3.0.0.2\n");
    QWidget window;
    QVERIFY(!runCheck(window, true));
    QCOMPARE(m_messages, QStringList{kNotMade + "the version text cannot be kept in the private work folder."});
    QVERIFY(m_server->paths.isEmpty());
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("precious"));
    QFile::remove(work);
}

void CheckUpdateTest::blockedWorkFolder()
{
    const QString saved = UpdateHooks::workDir;
    UpdateHooks::workDir = m_dir.filePath(QStringLiteral("a-file"));
    QFile blocker(UpdateHooks::workDir);
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    m_server->answers["/u/Corvask.txt"] = text("3.0.0.2\n");
    QWidget window;
    QVERIFY(!runCheck(window, true));
    UpdateHooks::workDir = saved;
    QCOMPARE(m_messages, QStringList{kNotMade + "the private work folder cannot be used."});
    QVERIFY(m_server->paths.isEmpty());
    QVERIFY(!bCheckForUpdate);
}

void CheckUpdateTest::whatsNew()
{
    QList<QUrl> opened;
    DesktopOpener::hook = [&opened](const QUrl &url) {
        opened << url;
        return true;
    };
    m_server->answers["/u/Corvask.txt"] = text("3.0.0.2\n");
    QWidget window;
    QMinorUpdate *offer = runCheck(window, true);
    QVERIFY(offer);
    auto *button = offer->findChild<QPushButton *>(QStringLiteral("WhatsNewBtn"));
    button->click();
    QCOMPARE(opened, QList<QUrl>{QUrl(QStringLiteral("https://example.invalid/new"))});
    QVERIFY(offer->isVisible());
    // Read at every press: a missing key opens nothing, nor does a scheme that is no web page.
    for (const QString &link : {QString(), QStringLiteral("file:///etc/passwd")}) {
        QVERIFY(WriteSettingsFile(strPlistPath, m_server->base(), link));
        button->click();
    }
    QCOMPARE(opened.size(), 1);
    offer->hide();
}

QTEST_MAIN(CheckUpdateTest)
#include "tst_checkupdate.moc"
