#pragma once
// An HTTP server in a child process, as a server on another machine would be: it answers the
// first `notFound` GETs with 404, then one with headers that give no length followed by `total`
// zero bytes, written as fast as the client takes them. Its memory is not the caller's.

#include "ProcessMemory.h"

#include <QFile>
#include <QString>
#include <QtGlobal>

#include <arpa/inet.h>
#include <csignal>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

class StreamingServer {
public:
    StreamingServer(qint64 total, int notFound)
    {
        const int listener = listenLocal();
        if (listener < 0)
            return;
        // Only system calls from here in the child: the parent may be running threads.
        m_child = fork();
        if (m_child == 0)
            serve(listener, total, notFound);
        close(listener);
    }
    ~StreamingServer()
    {
        if (m_child > 0) {
            kill(m_child, SIGKILL);
            waitpid(m_child, nullptr, 0);
        }
    }
    StreamingServer(const StreamingServer &) = delete;
    StreamingServer &operator=(const StreamingServer &) = delete;

    bool isRunning() const { return m_child > 0; }
    QString base() const { return QStringLiteral("http://127.0.0.1:%1/u/").arg(m_port); }

private:
    int listenLocal()
    {
        const int fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (fd < 0 || bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 || listen(fd, 4) != 0
            || getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length) != 0)
            return -1;
        m_port = ntohs(address.sin_port);
        return fd;
    }
    // Takes one request and sends head; the connection, or -1.
    static int answer(int listener, const char *head)
    {
        const int client = accept(listener, nullptr, nullptr);
        char request[4096];
        if (client < 0 || read(client, request, sizeof request) <= 0 || write(client, head, strlen(head)) <= 0)
            return -1;
        return client;
    }
    [[noreturn]] static void serve(int listener, qint64 total, int notFound)
    {
        signal(SIGPIPE, SIG_IGN);
        for (int i = 0; i < notFound; ++i)
            close(answer(listener, "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\nConnection: close\r\n\r\n"));
        const int client =
            answer(listener, "HTTP/1.1 200 OK\r\nContent-Type: application/zip\r\nConnection: close\r\n\r\n");
        static char zeros[1 << 20];
        for (qint64 sent = 0; client >= 0 && sent < total;) {
            const ssize_t n = write(client, zeros, size_t(qMin<qint64>(sizeof zeros, total - sent)));
            if (n <= 0)
                break;
            sent += n;
        }
        close(client);
        _exit(0);
    }

    pid_t m_child = -1;
    quint16 m_port = 0;
};
