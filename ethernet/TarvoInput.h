#pragma once

#include "ethernet/EthernetSettings.h"
#include "ethernet/UdpBroadcastSocket.h"

#include <QObject>

class QTimer;

// Finds controllers: broadcasts discovery requests and turns the datagrams
// that come back into signals. Both sockets are drained by timers on the
// owner's thread; the char* arguments of the signals are valid only during
// the emission.
class TarvoInput : public QObject
{
    Q_OBJECT

public:
    explicit TarvoInput(int discoveryPort, const EthernetSettings &settings = EthernetSettings());
    ~TarvoInput() override;

    // Sends one discovery request carrying the given dotted IPv4 address;
    // false when the text is not such an address or the send failed.
    bool sendDiscover(const char *ipv4Text);

    // Local ports, for whoever aims datagrams at this object.
    int discoveryLocalPort() const { return m_discoverySocket.localPort(); }
    int announceLocalPort() const { return m_announceSocket.localPort(); }
    int receiveBufferBytes() const { return m_discoverySocket.receiveBufferBytes(); }

signals:
    void signalDiscoverResponse(char *mac, unsigned long ip, unsigned long sn, unsigned short ver,
                                unsigned long uni, char *verstring, char *idstring);
    void signalAnnounce(char *mac, unsigned long ip, unsigned long sn, unsigned short ver,
                        unsigned short anncType, unsigned short devType);
    void signalButtonPressed(unsigned long sn, int button, int show);

public slots:
    void checkSocket();
    void checkAnncSocket();

private:
    static constexpr int kBufferBytes = 4096;

    UdpBroadcastSocket m_discoverySocket;
    UdpBroadcastSocket m_announceSocket;
    QTimer *m_discoveryTimer = nullptr;
    QTimer *m_announceTimer = nullptr;
    int m_pollMs = 500;
    bool m_destinationValid = true;
    char m_discoveryBuffer[kBufferBytes];
    char m_announceBuffer[kBufferBytes];
};
