#pragma once
// Shared by the update tests: an HTTP server on 127.0.0.1 that answers each path from a table,
// a stored-ZIP writer for program packages, a fake installed bundle, and the settings file.

#include "platform/Crc32.h"
#include "platform/Edition.h"
#include "shell/ShellGlobals.h"
#include "update/UpdateGlobals.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QNetworkProxy>
#include <QSettings>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>
#include <QtEndian>

#include <sys/stat.h>

struct Answer {
    enum Mode { Whole, CutShort, Stall, Slow, Trickle };
    int status = 200;
    QByteArray body;
    QByteArray contentType = "application/zip";
    Mode mode = Whole;
    QByteArray location;         // for a redirect
    qint64 declaredLength = -1;  // Content-Length when it must differ from the body; -2: none
    int dripMs = 20;             // Trickle: the pause between its bytes
};

// Answers GET requests from a table of path -> answer; unknown paths get 404. Remembers the paths.
class UpdateServer : public QObject {
public:
    UpdateServer()
    {
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = m_server.nextPendingConnection())
                serve(socket);
        });
        m_server.listen(QHostAddress::LocalHost);
    }
    QString base(const QString &path = QStringLiteral("/u/")) const
    {
        return QStringLiteral("http://127.0.0.1:%1%2").arg(m_server.serverPort()).arg(path);
    }
    QHash<QByteArray, Answer> answers;
    QList<QByteArray> paths;
    int ended = 0;  // connections closed, by either side

private:
    void serve(QTcpSocket *socket)
    {
        connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
            m_request[socket] += socket->readAll();
            const QByteArray request = m_request.value(socket);
            if (!request.contains("\r\n\r\n"))
                return;
            // A later connection can get this socket's address once it is deleted: it must not
            // find this request waiting under it.
            m_request.remove(socket);
            const QByteArray path = request.split(' ').value(1);
            paths << path;
            Answer missing;
            missing.status = 404;
            missing.body = "missing";
            missing.contentType = "text/html";
            const Answer answer = answers.value(path, missing);
            QByteArray head = "HTTP/1.1 " + QByteArray::number(answer.status)
                + " X\r\nContent-Type: " + answer.contentType + "\r\nConnection: close\r\n";
            if (!answer.location.isEmpty())
                head += "Location: " + answer.location + "\r\n";
            if (answer.declaredLength != -2)
                head += "Content-Length: "
                    + QByteArray::number(answer.declaredLength >= 0 ? answer.declaredLength : answer.body.size())
                    + "\r\n";
            head += "\r\n";
            socket->write(head);
            if (answer.mode == Answer::Stall)
                return;  // headers only, then silence
            if (answer.mode == Answer::Trickle) {
                // A byte every dripMs, for ever: never silent long enough to stall.
                auto *drip = new QTimer(socket);
                connect(drip, &QTimer::timeout, socket, [socket] { socket->write("P"); });
                drip->start(answer.dripMs);
                return;
            }
            if (answer.mode == Answer::Slow) {
                // The body in three parts with pauses: the client sees progress on the way.
                const int third = answer.body.size() / 3;
                socket->write(answer.body.left(third));
                QTimer::singleShot(60, socket, [socket, answer, third] {
                    socket->write(answer.body.mid(third, third));
                    QTimer::singleShot(60, socket, [socket, answer, third] {
                        socket->write(answer.body.mid(2 * third));
                        socket->disconnectFromHost();
                    });
                });
                return;
            }
            socket->write(answer.mode == Answer::CutShort ? answer.body.left(answer.body.size() / 2) : answer.body);
            socket->disconnectFromHost();
        });
        connect(socket, &QTcpSocket::disconnected, this, [this] { ++ended; });
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    }

    QTcpServer m_server;
    QHash<QTcpSocket *, QByteArray> m_request;
};

// A ZIP archive written in memory, its entries stored unless deflated on request. The entry count
// is written in 16 bits as it comes, so more than 65,535 entries wrap it.
class ZipWriter {
public:
    // host: the system the entry says it was made on (3: Unix, whose mode is the attributes' high half).
    void add(const QByteArray &name, const QByteArray &data, quint32 mode = 0100644, int host = 3)
    {
        append(name, data, 0, Crc32Update(0, data.constData(), data.size()), quint32(data.size()), mode, host);
    }
    // A deflated entry that declares declaredSize unpacked bytes, whatever data holds.
    void addDeflated(const QByteArray &name, const QByteArray &data, quint32 declaredSize)
    {
        const QByteArray zlib = qCompress(data, 9);  // 4-byte length, 2-byte head, deflate, 4-byte sum
        append(name, zlib.mid(6, zlib.size() - 10), 8, Crc32Update(0, data.constData(), data.size()), declaredSize,
               0100644, 3);
    }
    void addDir(const QByteArray &name) { add(name, QByteArray(), 040755); }
    void addLink(const QByteArray &name, const QByteArray &target) { add(name, target, 0120777); }
    QByteArray finish() const
    {
        QByteArray end = header(0x06054b50, 22);
        put16(end, 8, quint16(m_count));
        put16(end, 10, quint16(m_count));
        put32(end, 12, quint32(m_directory.size()));
        put32(end, 16, quint32(m_out.size()));
        return m_out + m_directory + end;
    }

private:
    void append(const QByteArray &name, const QByteArray &payload, quint16 method, quint32 crc, quint32 size,
                quint32 mode, int host)
    {
        const quint32 offset = quint32(m_out.size());
        QByteArray local = header(0x04034b50, 30);
        put16(local, 4, 20);
        put16(local, 8, method);
        put16(local, 12, 0x21);
        put32(local, 14, crc);
        put32(local, 18, quint32(payload.size()));
        put32(local, 22, size);
        put16(local, 26, quint16(name.size()));
        m_out += local + name + payload;
        QByteArray central = header(0x02014b50, 46);
        put16(central, 4, quint16((host << 8) | 20));
        put16(central, 6, 20);
        put16(central, 10, method);
        put16(central, 14, 0x21);
        put32(central, 16, crc);
        put32(central, 20, quint32(payload.size()));
        put32(central, 24, size);
        put16(central, 28, quint16(name.size()));
        put32(central, 38, mode << 16);
        put32(central, 42, offset);
        m_directory += central + name;
        ++m_count;
    }
    static QByteArray header(quint32 signature, int size)
    {
        QByteArray h(size, '\0');
        put32(h, 0, signature);
        return h;
    }
    // Byte by byte: writing through data() draws a false overflow warning from the sanitizer build.
    static void put(QByteArray &b, int at, quint32 v, int width)
    {
        for (int i = 0; i < width; ++i)
            b[at + i] = char((v >> (8 * i)) & 0xff);
    }
    static void put16(QByteArray &b, int at, quint16 v) { put(b, at, v, 2); }
    static void put32(QByteArray &b, int at, quint32 v) { put(b, at, v, 4); }
    QByteArray m_out, m_directory;
    int m_count = 0;
};

// The executable's place inside a bundle, as the build lays it out.
// A wait ends as soon as what it waits for holds; its bound only counts on a machine too busy
// to answer within the toolkit's default five seconds.
constexpr int kBusyMachineMs = 60000;

inline QByteArray ExecutableInBundle()
{
    return "Contents/Resources/Corvask.app/Contents/MacOS/Corvask";
}

// A program package of version marker: the bundle with its executable and one data file.
inline QByteArray ProgramPackage(const QByteArray &marker)
{
    ZipWriter zip;
    zip.addDir("Corvask.app/");
    zip.add("Corvask.app/Contents/Info", marker);
    zip.add("Corvask.app/" + ExecutableInBundle(), "#!/bin/sh\n# " + marker + "\n", 0100755);
    return zip.finish();
}

// Makes <folder>/<name> as an installed bundle of version marker; returns its executable.
inline QString MakeInstalledBundle(const QString &folder, const QString &name, const QByteArray &marker)
{
    const QString bundle = folder + QLatin1Char('/') + name;
    const QString exe = bundle + QLatin1Char('/') + QString::fromLatin1(ExecutableInBundle());
    QDir().mkpath(QFileInfo(exe).path());
    QFile info(bundle + QStringLiteral("/Contents/Info"));
    QFile program(exe);
    if (!info.open(QIODevice::WriteOnly) || info.write(marker) != marker.size() || !program.open(QIODevice::WriteOnly)
        || program.write("#!/bin/sh\n# " + marker + "\n") < 0)
        return QString();
    program.setPermissions(program.permissions() | QFileDevice::ExeOwner);
    return exe;
}

// Every file, folder and link below root with its content, link target and mode, to compare trees.
inline QMap<QString, QByteArray> TreeSnapshot(const QString &root)
{
    QMap<QString, QByteArray> tree;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QFileInfo info = it.fileInfo();
        QByteArray value = QByteArray::number(int(info.permissions()), 16) + ':';
        if (info.isSymLink()) {
            value += "link " + QFile::encodeName(info.symLinkTarget());
        } else if (info.isFile()) {
            QFile file(path);
            value += file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("unreadable");
        }
        tree.insert(QDir(root).relativeFilePath(path), value);
    }
    return tree;
}

inline bool WriteSettingsFile(const QString &path, const QString &updateLink, const QString &whatsNew = QString())
{
    QByteArray xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n";
    if (!updateLink.isNull())
        xml += "\t<key>UpdateLink_EN</key>\n\t<string>" + updateLink.toHtmlEscaped().toUtf8() + "</string>\n";
    if (!whatsNew.isNull())
        xml += "\t<key>WhatsNewLink_EN</key>\n\t<string>" + whatsNew.toHtmlEscaped().toUtf8() + "</string>\n";
    xml += "</dict>\n</plist>\n";
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(xml) == xml.size();
}

// Points settings, the work folder and the user's stores into dir, with no proxy in the way.
inline void RedirectUpdatePaths(const QTemporaryDir &dir)
{
    QNetworkProxy::setApplicationProxy(QNetworkProxy::NoProxy);
    QDir().mkpath(dir.filePath(QStringLiteral("config")));
    QDir().mkpath(dir.filePath(QStringLiteral("work")));
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir.filePath(QStringLiteral("config")));
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, dir.filePath(QStringLiteral("config")));
    strPlistPath = dir.filePath(QStringLiteral("Corvask.plist"));
    UpdateHooks::workDir = dir.filePath(QStringLiteral("work"));
}
