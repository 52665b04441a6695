// The update check against a small HTTP responder on 127.0.0.1 and against a closed port: it
// reports "No update available." only for a check the user asked for, and only notes a newer one.

#include "shell/ShellGlobals.h"
#include "shell/ShellHooks.h"
#include "update/QCheckUpdate.h"

#include <QNetworkProxy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

namespace {

// Answers every request with one fixed response and remembers the requested paths.
class TinyHttpServer : public QObject {
public:
    TinyHttpServer(int status, QByteArray body) : m_status(status), m_body(std::move(body))
    {
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = m_server.nextPendingConnection())
                serve(socket);
        });
    }
    bool listen() { return m_server.listen(QHostAddress::LocalHost); }
    quint16 port() const { return m_server.serverPort(); }
    QStringList paths;

private:
    void serve(QTcpSocket *socket)
    {
        connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
            m_request[socket] += socket->readAll();
            const QByteArray request = m_request.value(socket);
            if (!request.contains("\r\n\r\n"))
                return;
            paths << QString::fromLatin1(request.split(' ').value(1));
            const QByteArray reason = m_status == 200 ? "OK" : "Not Found";
            socket->write("HTTP/1.1 " + QByteArray::number(m_status) + ' ' + reason
                          + "\r\nContent-Type: text/plain\r\nContent-Length: " + QByteArray::number(m_body.size())
                          + "\r\nConnection: close\r\n\r\n" + m_body);
            socket->disconnectFromHost();
        });
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    }

    QTcpServer m_server;
    int m_status;
    QByteArray m_body;
    QHash<QTcpSocket *, QByteArray> m_request;
};

bool writePlist(const QString &path, const QString &updateLink)
{
    const QByteArray xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n"
                           "\t<key>UpdateLink_EN</key>\n\t<string>"
        + updateLink.toHtmlEscaped().toUtf8() + "</string>\n</dict>\n</plist>\n";
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(xml) == xml.size();
}

quint16 closedPort()
{
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost))
        return 0;
    const quint16 port = probe.serverPort();
    probe.close();
    return port;
}

const QString kNoUpdate = QStringLiteral("\nNo update available.");
const QString kInfoIcon = QStringLiteral("border-image:url(:/images/Info.png);");

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
    void newerVersion_data();
    void newerVersion();

private:
    QTemporaryDir m_dir;
    QStringList m_messages;
    QStringList m_icons;
};

void CheckUpdateTest::initTestCase()
{
    // A proxy from the environment must not stand between the check and 127.0.0.1.
    QNetworkProxy::setApplicationProxy(QNetworkProxy::NoProxy);
    QVERIFY(m_dir.isValid());
    strPlistPath = m_dir.filePath(QStringLiteral("Corvask.plist"));
}

void CheckUpdateTest::init()
{
    m_messages.clear();
    m_icons.clear();
    bCheckForUpdate = false;
    QFile::remove(strPlistPath);
    ShellHooks::messageBox = [this](const QString &text, const QString &icon) {
        m_messages << text;
        m_icons << icon;
    };
}

void CheckUpdateTest::cleanup()
{
    ShellHooks::messageBox = nullptr;
}

void CheckUpdateTest::reportsOnlyWhenAsked_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<bool>("asked");
    QTest::addColumn<bool>("reported");
    QTest::addColumn<bool>("newer");

    QTest::newRow("same version, asked") << 200 << QByteArray("3.0.0.0\n") << true << true << false;
    QTest::newRow("same version, in the background") << 200 << QByteArray("3.0.0.0\n") << false << false << false;
    QTest::newRow("older version, asked") << 200 << QByteArray("2.9.9.9") << true << true << false;
    QTest::newRow("trailing zeros are the same version") << 200 << QByteArray("3.0.0.0.0\r\n") << true << true << false;
    QTest::newRow("shorter same version") << 200 << QByteArray("3.0") << true << true << false;
    QTest::newRow("newer version, asked: noted, not reported") << 200 << QByteArray("3.0.1.0\n") << true << false
                                                               << true;
    QTest::newRow("newer version, in the background") << 200 << QByteArray("4") << false << false << true;
    QTest::newRow("text that is no version") << 200 << QByteArray("<html>maintenance</html>") << true << true
                                             << false;
    QTest::newRow("empty answer") << 200 << QByteArray() << true << true << false;
    QTest::newRow("server has no version text") << 404 << QByteArray("missing") << true << true << false;
    QTest::newRow("server has no version text, background") << 404 << QByteArray("missing") << false << false
                                                            << false;
    QTest::newRow("oversized answer is not a version text") << 200 << QByteArray("9.9\n" + QByteArray(200000, 'x'))
                                                            << true << true << false;
}

void CheckUpdateTest::reportsOnlyWhenAsked()
{
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(bool, asked);
    QFETCH(bool, reported);
    QFETCH(bool, newer);
    TinyHttpServer server(status, body);
    QVERIFY(server.listen());
    QVERIFY(writePlist(strPlistPath, QStringLiteral("http://127.0.0.1:%1/updates/").arg(server.port())));
    bCheckForUpdate = asked;

    QWidget window;
    auto *check = new QCheckUpdate(&window);
    check->hide();
    QTRY_VERIFY_WITH_TIMEOUT(!check->IsChecking(), 20000);

    QCOMPARE(server.paths, QStringList{QStringLiteral("/updates/Corvask.txt")});
    QCOMPARE(m_messages, reported ? QStringList{kNoUpdate} : QStringList());
    if (reported)
        QCOMPARE(m_icons, QStringList{kInfoIcon});
    QCOMPARE(check->IsUpdateVersionAvailable(), newer);
    QVERIFY(!bCheckForUpdate);
}

void CheckUpdateTest::unreachableServer_data()
{
    QTest::addColumn<bool>("asked");
    QTest::newRow("asked") << true;
    QTest::newRow("in the background") << false;
}

void CheckUpdateTest::unreachableServer()
{
    QFETCH(bool, asked);
    const quint16 port = closedPort();
    QVERIFY(port != 0);
    QVERIFY(writePlist(strPlistPath, QStringLiteral("http://127.0.0.1:%1/").arg(port)));
    bCheckForUpdate = asked;
    QWidget window;
    auto *check = new QCheckUpdate(&window);
    check->hide();
    QTRY_VERIFY_WITH_TIMEOUT(!check->IsChecking(), 20000);
    QCOMPARE(m_messages, asked ? QStringList{kNoUpdate} : QStringList());
    QVERIFY(!check->IsUpdateVersionAvailable());
    QVERIFY(!bCheckForUpdate);
}

void CheckUpdateTest::missingUpdateAddress()
{
    // No settings file at all: the request goes nowhere and reads as "no update".
    bCheckForUpdate = true;
    QWidget window;
    auto *check = new QCheckUpdate(&window);
    QTRY_VERIFY_WITH_TIMEOUT(!check->IsChecking(), 20000);
    QCOMPARE(m_messages, QStringList{kNoUpdate});
    QVERIFY(!bCheckForUpdate);
}

void CheckUpdateTest::windowClosedMidCheck()
{
    // The server takes the connection and never answers; the window goes away meanwhile.
    QTcpServer silent;
    QVERIFY(silent.listen(QHostAddress::LocalHost));
    QVERIFY(writePlist(strPlistPath, QStringLiteral("http://127.0.0.1:%1/").arg(silent.serverPort())));
    bCheckForUpdate = true;
    auto window = std::make_unique<QWidget>();
    auto *check = new QCheckUpdate(window.get());
    QVERIFY(silent.waitForNewConnection(10000));
    QTest::qWait(50);
    QVERIFY(check->IsChecking());
    window.reset();
    QTest::qWait(50);
    QVERIFY(m_messages.isEmpty());
}

void CheckUpdateTest::newerVersion_data()
{
    QTest::addColumn<QString>("offered");
    QTest::addColumn<QString>("current");
    QTest::addColumn<bool>("newer");
    QTest::newRow("last part higher") << "3.0.0.1" << "3.0.0.0" << true;
    QTest::newRow("minor higher, shorter") << "3.1" << "3.0.0.0" << true;
    QTest::newRow("equal") << "3.0.0.0" << "3.0.0.0" << false;
    QTest::newRow("equal with trailing zero") << "3.0.0.0.0" << "3.0.0.0" << false;
    QTest::newRow("equal, shorter") << "3.0.0" << "3.0.0.0" << false;
    QTest::newRow("numeric, not textual, order") << "3.0.0.10" << "3.0.0.9" << true;
    QTest::newRow("older") << "2.99" << "3.0.0.0" << false;
    QTest::newRow("blank around") << "  3.2\n" << "3.0.0.0" << true;
    QTest::newRow("suffix ignored") << "3.0.1 beta" << "3.0.0.0" << true;
    QTest::newRow("not a number") << "v3.1" << "3.0.0.0" << false;
    QTest::newRow("empty") << "" << "3.0.0.0" << false;
    QTest::newRow("part beyond int range") << "99999999999.0" << "3.0.0.0" << false;
}

void CheckUpdateTest::newerVersion()
{
    QFETCH(QString, offered);
    QFETCH(QString, current);
    QFETCH(bool, newer);
    QCOMPARE(QCheckUpdate::IsNewerVersion(offered, current), newer);
}

QTEST_MAIN(CheckUpdateTest)
#include "tst_checkupdate.moc"
