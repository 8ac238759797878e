#include "ethernet/TarvoInput.h"

#include "ethernet/EthernetLogging.h"
#include "ethernet/TarvoDatagram.h"

#include <QTimer>

#include <arpa/inet.h>

TarvoInput::TarvoInput(int discoveryPort, const EthernetSettings &settings)
    : m_pollMs(settings.pollIntervalMs)
{
    m_discoverySocket.open(discoveryPort);
    in_addr destination {};
    m_destinationValid =
        inet_pton(AF_INET, settings.discoveryDestination.toLatin1().constData(), &destination) == 1;
    m_discoverySocket.setDestination(destination.s_addr);
    m_discoveryTimer = new QTimer;
    connect(m_discoveryTimer, &QTimer::timeout, this, &TarvoInput::checkSocket);

    m_announceSocket.open(settings.announcePort);
    // Another program may hold the port; discovery works without announces.
    if (!m_announceSocket.bindPort())
        qCDebug(lcDiscovery) << "announce port" << settings.announcePort << "not bound";
    m_announceTimer = new QTimer(this);
    connect(m_announceTimer, &QTimer::timeout, this, &TarvoInput::checkAnncSocket);

    m_discoveryTimer->start(m_pollMs);
    m_announceTimer->start(m_pollMs);
}

TarvoInput::~TarvoInput()
{
    m_discoveryTimer->stop();
    delete m_discoveryTimer;
    m_discoverySocket.close();
    m_announceSocket.close();
}

bool TarvoInput::sendDiscover(const char *ipv4Text)
{
    if (!ipv4Text || !m_destinationValid)
        return false;
    // inet_addr cannot tell the limited broadcast address from an error, so
    // that address is refused along with every malformed text.
    const in_addr_t address = inet_addr(ipv4Text);
    if (address == INADDR_NONE)
        return false;
    const QByteArray request = TarvoDatagram::discoveryRequest(address);
    return m_discoverySocket.sendBroadcast(request.constData(), int(request.size()));
}

void TarvoInput::checkSocket()
{
    // Stopped while draining, so the interval counts from the end of the
    // drain and a slow drain never overlaps the next.
    m_discoveryTimer->stop();
    int length;
    // An empty datagram is one like any other: the replies behind it are
    // read now, not an interval later.
    while ((length = m_discoverySocket.receive(m_discoveryBuffer, kBufferBytes)) >= 0) {
        switch (TarvoDatagram::typeOf(m_discoveryBuffer, length)) {
        case TarvoDatagram::kTypeDiscoveryReply: {
            TarvoDatagram::DiscoveryReply r;
            if (TarvoDatagram::decodeReply(m_discoveryBuffer, length, r))
                emit signalDiscoverResponse(r.mac, r.ip, r.sn, r.ver, r.uni, r.verstring,
                                            r.idstring);
            else
                qCDebug(lcDiscovery) << "short discovery reply dropped," << length << "bytes";
            break;
        }
        case TarvoDatagram::kTypeButton: {
            TarvoDatagram::Button b;
            if (TarvoDatagram::decodeButton(m_discoveryBuffer, length, b))
                emit signalButtonPressed(b.sn, b.button, b.show);
            break;
        }
        default:
            break;
        }
    }
    m_discoveryTimer->start(m_pollMs);
}

void TarvoInput::checkAnncSocket()
{
    m_announceTimer->stop();
    int length;
    while ((length = m_announceSocket.receive(m_announceBuffer, kBufferBytes)) >= 0) {
        TarvoDatagram::Announce a;
        if (TarvoDatagram::decodeAnnounce(m_announceBuffer, length, a))
            emit signalAnnounce(a.mac, a.ip, a.sn, a.ver, a.anncType, a.devType);
    }
    m_announceTimer->start(m_pollMs);
}
