#include "ethernet/UdpBroadcastSocket.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

UdpBroadcastSocket::~UdpBroadcastSocket()
{
    close();
}

void UdpBroadcastSocket::open(int port)
{
    close();
    m_port = port;
    m_fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
    if (m_fd < 0)
        return;
    // Each option only after the previous one took, as a half-configured
    // socket is still better than none.
    const int on = 1;
    if (::setsockopt(m_fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0)
        return;
    if (::setsockopt(m_fd, SOL_SOCKET, SO_SNDBUF, &kSendBufferBytes, sizeof kSendBufferBytes) != 0)
        return;
    ::setsockopt(m_fd, SOL_SOCKET, SO_RCVBUF, &kReceiveBufferBytes, sizeof kReceiveBufferBytes);
}

bool UdpBroadcastSocket::bindPort()
{
    if (m_fd < 0)
        return false;
    sockaddr_in local {};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    local.sin_port = htons(quint16(m_port));
    return ::bind(m_fd, reinterpret_cast<sockaddr *>(&local), sizeof local) == 0;
}

bool UdpBroadcastSocket::sendBroadcast(const char *data, int length)
{
    if (m_fd < 0 || length < 0)
        return false;
    sockaddr_in to {};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = m_destination;
    to.sin_port = htons(quint16(m_port));
    ssize_t sent;
    do {
        sent = ::sendto(m_fd, data, size_t(length), 0, reinterpret_cast<sockaddr *>(&to), sizeof to);
    } while (sent < 0 && errno == EINTR);
    return sent >= 0;
}

int UdpBroadcastSocket::receive(char *buffer, int size)
{
    if (m_fd < 0 || size <= 0)
        return -1;
    pollfd p {m_fd, POLLIN, 0};
    if (::poll(&p, 1, 1) <= 0 || !(p.revents & POLLIN))
        return -1;
    const ssize_t got = ::recv(m_fd, buffer, size_t(size), MSG_DONTWAIT);
    return got >= 0 ? int(got) : -1;
}

void UdpBroadcastSocket::close()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

int UdpBroadcastSocket::localPort() const
{
    if (m_fd < 0)
        return 0;
    sockaddr_in local {};
    socklen_t length = sizeof local;
    if (::getsockname(m_fd, reinterpret_cast<sockaddr *>(&local), &length) != 0)
        return 0;
    return ntohs(local.sin_port);
}

int UdpBroadcastSocket::receiveBufferBytes() const
{
    int value = 0;
    socklen_t length = sizeof value;
    if (m_fd < 0 || ::getsockopt(m_fd, SOL_SOCKET, SO_RCVBUF, &value, &length) != 0)
        return 0;
    return value;
}
