#pragma once

#include <QByteArray>
#include <QList>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <thread>

// A TFTP peer on 127.0.0.1 whose every answer the test decides: each datagram
// it gets goes to the script, and what the script returns goes back from the
// same port. It runs on a thread of its own, so a test may block waiting for
// the transfer.
class ScriptedTftpPeer
{
public:
    using Script = std::function<QList<QByteArray>(const QByteArray &packet)>;

    explicit ScriptedTftpPeer(Script script) : m_script(std::move(script))
    {
        m_fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
        sockaddr_in local {};
        local.sin_family = AF_INET;
        local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof local;
        if (m_fd < 0 || ::bind(m_fd, reinterpret_cast<sockaddr *>(&local), sizeof local) != 0
            || ::getsockname(m_fd, reinterpret_cast<sockaddr *>(&local), &length) != 0)
            return;
        m_port = ntohs(local.sin_port);
        m_thread = std::thread([this] { loop(); });
    }
    ~ScriptedTftpPeer()
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
        if (m_fd >= 0)
            ::close(m_fd);
    }
    ScriptedTftpPeer(const ScriptedTftpPeer &) = delete;
    ScriptedTftpPeer &operator=(const ScriptedTftpPeer &) = delete;

    // 0 when the socket could not be made.
    int port() const { return m_port; }
    // Every datagram that came in, in order.
    QList<QByteArray> received() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_received;
    }

    static int opcodeOf(const QByteArray &p) { return p.size() < 2 ? -1 : (uchar(p[0]) << 8) | uchar(p[1]); }
    static int numberOf(const QByteArray &p) { return p.size() < 4 ? -1 : (uchar(p[2]) << 8) | uchar(p[3]); }
    static QByteArray packet(int opcode, int number, const QByteArray &rest = QByteArray())
    {
        QByteArray p;
        p.append(char(opcode >> 8)).append(char(opcode & 0xFF));
        p.append(char((number >> 8) & 0xFF)).append(char(number & 0xFF));
        return p + rest;
    }

private:
    void loop()
    {
        char buffer[2048];
        while (!m_stop) {
            pollfd p {m_fd, POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0)
                continue;
            sockaddr_in from {};
            socklen_t length = sizeof from;
            const ssize_t n = ::recvfrom(m_fd, buffer, sizeof buffer, MSG_DONTWAIT,
                                         reinterpret_cast<sockaddr *>(&from), &length);
            if (n < 0)
                continue;
            const QByteArray packet(buffer, int(n));
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                m_received.append(packet);
            }
            for (const QByteArray &answer : m_script(packet))
                ::sendto(m_fd, answer.constData(), size_t(answer.size()), 0,
                         reinterpret_cast<const sockaddr *>(&from), sizeof from);
        }
    }

    Script m_script;
    int m_fd = -1;
    int m_port = 0;
    std::atomic<bool> m_stop {false};
    mutable std::mutex m_mutex;
    QList<QByteArray> m_received;
    std::thread m_thread;
};
