#include "dmx/Hollis.h"

#include "dmx/HollisBackend.h"
#include "dmx/HollisNotPresent.h"

namespace ZelHollis {

Hollis *Hollis::s_instance = nullptr;

Hollis::Hollis(std::unique_ptr<HollisBackend> backend, QObject *parent)
    : QObject(parent), m_backend(std::move(backend))
{
    setObjectName("Hollis");
    if (!m_backend)
        m_backend = std::make_unique<HollisNotPresent>();
    m_backend->setParent(nullptr);
    connect(m_backend.get(), &HollisBackend::discoveredDevice, this, &Hollis::discoveredDevice);
    connect(m_backend.get(), &HollisBackend::discoveredFixture, this, &Hollis::discoveredFixture);
    connect(m_backend.get(), &HollisBackend::signal_log, this, &Hollis::signal_log);
}

Hollis::~Hollis()
{
    if (s_instance == this)
        s_instance = nullptr;
}

Hollis &Hollis::Instance()
{
    if (s_instance)
        return *s_instance;
    static Hollis absent(std::make_unique<HollisNotPresent>());
    return absent;
}

void Hollis::setInstance(Hollis *hollis)
{
    s_instance = hollis;
}

bool Hollis::queryDevices()
{
    return m_backend->queryDevices();
}

QList<int> Hollis::listDevices() const
{
    return m_backend->listDevices();
}

QVariant Hollis::getDeviceProperty(int device, const QString &key) const
{
    return m_backend->getDeviceProperty(device, key);
}

int Hollis::usbConnect(int device)
{
    return m_backend->usbConnect(device);
}

int Hollis::usbDisconnect(int device)
{
    return m_backend->usbDisconnect(device);
}

void Hollis::discoverLights(int device)
{
    m_backend->discoverLights(device);
}

const QList<quint64> Hollis::portFixtureList(int device, int port) const
{
    return m_backend->portFixtureList(device, port);
}

QVariant Hollis::getFixtureProperty(int device, int unit, quint64 serial, const QString &key) const
{
    return m_backend->getFixtureProperty(device, unit, serial, key);
}

bool Hollis::fixtureReadFirmwareVersion(int device, int unit, quint64 serial, quint16 &version)
{
    return m_backend->fixtureReadFirmwareVersion(device, unit, serial, version);
}

bool Hollis::fixtureReadLXEnable(int device, int unit, quint64 serial, bool &enabled)
{
    return m_backend->fixtureReadLXEnable(device, unit, serial, enabled);
}

bool Hollis::zeldmxAdvancedModeEntry(int device, int port)
{
    return m_backend->zeldmxAdvancedModeEntry(device, port);
}

bool Hollis::zeldmxEnterBootloadMode(int device, int port, quint32 serial)
{
    return m_backend->zeldmxEnterBootloadMode(device, port, serial);
}

bool Hollis::zeldmxBootloadStart(int device, int port, quint32 serial, bool model)
{
    return m_backend->zeldmxBootloadStart(device, port, serial, model);
}

bool Hollis::zeldmxBootloadWriteIntelHex(int device, int port, quint32 serial, quint16 page,
                                         const quint8 *data, quint16 length, bool model)
{
    return m_backend->zeldmxBootloadWriteIntelHex(device, port, serial, page, data, length, model);
}

bool Hollis::zeldmxBootloadWriteCypressPSoC(int device, int port, quint32 serial,
                                            quint16 paragraph, const QByteArray &data,
                                            quint8 length)
{
    return m_backend->zeldmxBootloadWriteCypressPSoC(device, port, serial, paragraph, data, length);
}

bool Hollis::zeldmxBootloadDone(int device, int port, quint32 serial, bool model)
{
    return m_backend->zeldmxBootloadDone(device, port, serial, model);
}

} // namespace ZelHollis
