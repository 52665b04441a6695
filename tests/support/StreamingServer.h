#pragma once
// An HTTP server in a child process, as a server on another machine would be: it answers the
// first `notFound` GETs with 404, then one with headers that give no length followed by `total`
// zero bytes, written as fast as the client takes them. Its memory is not the caller's.
// Until release() it sends a small block every 50 ms: the toolkit reads a reply's socket unbounded
// until the client's thread has taken the head and set the reply's buffer, and on a busy machine
// that wait would measure the scheduler, not the client.

#include "ProcessMemory.h"

#include <QFile>
#include <QString>
#include <QtGlobal>

#include <arpa/inet.h>
#include <csignal>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

class StreamingServer {
public:
    StreamingServer(qint64 total, int notFound)
    {
        const int listener = listenLocal();
        int go[2];
        if (listener < 0 || pipe(go) != 0)
            return;
        // Only system calls from here in the child: the parent may be running threads.
        m_child = fork();
        if (m_child == 0) {
            close(go[1]);
            serve(listener, go[0], total, notFound);
        }
        close(go[0]);
        m_release = go[1];
        close(listener);
    }
    ~StreamingServer()
    {
        if (m_release >= 0)
            close(m_release);
        if (m_child > 0) {
            kill(m_child, SIGKILL);
            waitpid(m_child, nullptr, 0);
        }
    }
    StreamingServer(const StreamingServer &) = delete;
    StreamingServer &operator=(const StreamingServer &) = delete;

    bool isRunning() const { return m_child > 0; }
    // Lets the stream go as fast as the client takes it.
    void release()
    {
        if (m_release >= 0 && write(m_release, "g", 1) == 1) {
            close(m_release);
            m_release = -1;
        }
    }
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
    [[noreturn]] static void serve(int listener, int go, qint64 total, int notFound)
    {
        signal(SIGPIPE, SIG_IGN);
        for (int i = 0; i < notFound; ++i)
            close(answer(listener, "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\nConnection: close\r\n\r\n"));
        const int client =
            answer(listener, "HTTP/1.1 200 OK\r\nContent-Type: application/zip\r\nConnection: close\r\n\r\n");
        static char zeros[1 << 20];
        constexpr qint64 kSlowBlock = 64 * 1024;
        bool released = false;
        for (qint64 sent = 0; client >= 0 && sent < total;) {
            if (!released) {
                pollfd wait{go, POLLIN, 0};
                released = sent > 0 && poll(&wait, 1, 50) == 1;
            }
            const qint64 block = released ? qint64(sizeof zeros) : kSlowBlock;
            const ssize_t n = write(client, zeros, size_t(qMin(block, total - sent)));
            if (n <= 0)
                break;
            sent += n;
        }
        close(client);
        _exit(0);
    }

    pid_t m_child = -1;
    int m_release = -1;
    quint16 m_port = 0;
};
