#pragma once

#include <QtGlobal>

// One UDP socket of the discovery protocol: broadcast sends to a fixed port
// and non-blocking polls for what came in.
class UdpBroadcastSocket
{
public:
    static constexpr int kSendBufferBytes = 1000000;
    static constexpr int kReceiveBufferBytes = 100000000;

    UdpBroadcastSocket() = default;
    ~UdpBroadcastSocket();
    UdpBroadcastSocket(const UdpBroadcastSocket &) = delete;
    UdpBroadcastSocket &operator=(const UdpBroadcastSocket &) = delete;

    // Creates the socket for the given port (host order; the low 16 bits are
    // used) and sets broadcast and the buffer sizes. A failure leaves the
    // socket unusable: sends and receives then fail.
    void open(int port);
    // Binds to any local address and the stored port.
    bool bindPort();
    // Where sendBroadcast sends, in network byte order; the limited broadcast
    // address unless changed.
    void setDestination(quint32 addressNetworkOrder) { m_destination = addressNetworkOrder; }
    bool sendBroadcast(const char *data, int length);
    // Waits at most 1 ms for a datagram and reads it into buffer. Returns its
    // length (at most size; 0 for an empty datagram), or -1 when nothing is
    // waiting or the read failed.
    int receive(char *buffer, int size);
    void close();

    bool isOpen() const { return m_fd >= 0; }
    int port() const { return m_port; }
    // The local port the system gave the socket; 0 before it was bound or sent from.
    int localPort() const;
    // What the system really granted, which is capped below the size asked for.
    int receiveBufferBytes() const;

private:
    int m_port = 0;
    int m_fd = -1;
    quint32 m_destination = 0xFFFFFFFFu;
};
