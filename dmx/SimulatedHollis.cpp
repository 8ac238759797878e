#include "dmx/SimulatedHollis.h"

#include "base/LogCategories.h"

#include <QHostAddress>
#include <QTimer>

namespace ZelHollis {

SimulatedHollis::SimulatedHollis(QObject *parent) : HollisBackend(parent)
{
    setObjectName("Hollis");

    // Serial prefixes (upper 16 bits): 0x0072 the obsolete-firmware family,
    // 0x7200 the LX family (with and without the LX feature, one at version 2,
    // which may not be programmed), 0x8100 to 0x8400 the others. 0x8280 is in
    // no sample product, so it shows the prefix filter at work.
    Supply net;
    net.name = "Vask Net-4";
    net.interfaceType = 1;
    net.ip = QHostAddress(kNetworkSupplyIp).toString();
    net.outputs = 4;
    net.fixtures = {
        {0x0072A001, 0, 5, false}, {0x7200B001, 0, 3, true}, {0x7200B002, 0, 2, false},
        {0x8100C001, 1, 4, false}, {0x8280ABCD, 1, 7, false},
        {0x8200D001, 2, 6, false}, {0x8300F001, 2, 4, false},
    };
    m_supplies.insert(kNetworkSupply, net);

    Supply usb;
    usb.name = "Vask USB-4";
    usb.interfaceType = 2;
    usb.outputs = 4;
    usb.fixtures = {
        {0x7200B101, 0, 4, true}, {0x8180E001, 0, 5, false},
        {0x0072A101, 1, 3, false},
        {0x8400F101, 2, 9, false},
    };
    m_supplies.insert(kUsbSupply, usb);
}

SimulatedHollis::Supply *SimulatedHollis::supply(int device)
{
    if (!m_queried)
        return nullptr;
    auto it = m_supplies.find(device);
    return it == m_supplies.end() ? nullptr : &it.value();
}

bool SimulatedHollis::fixturesKnown(const Supply &s) const
{
    return s.interfaceType == 2 ? s.connected : s.lightsDiscovered;
}

const SimulatedHollis::Fixture *SimulatedHollis::knownFixture(int device, quint64 serial)
{
    const Supply *s = supply(device);
    if (!s || !fixturesKnown(*s))
        return nullptr;
    for (const Fixture &f : s->fixtures) {
        if (f.serial == serial)
            return &f;
    }
    return nullptr;
}

void SimulatedHollis::setFixtures(int device, const QList<Fixture> &fixtures)
{
    auto it = m_supplies.find(device);
    if (it != m_supplies.end())
        it->fixtures = fixtures;
}

QList<SimulatedHollis::Fixture> SimulatedHollis::fixtures(int device) const
{
    return m_supplies.value(device).fixtures;
}

bool SimulatedHollis::queryDevices()
{
    m_queried = true;
    // Only supplies not yet reported are announced, as a bus scan would.
    int delay = m_replyDelay;
    for (auto it = m_supplies.begin(); it != m_supplies.end(); ++it) {
        if (it->announced)
            continue;
        it->announced = true;
        const int device = it.key();
        QTimer::singleShot(delay, this, [this, device] { emit discoveredDevice(device); });
        delay += m_replyDelay;
    }
    return true;
}

QList<int> SimulatedHollis::listDevices()
{
    return m_queried ? m_supplies.keys() : QList<int>();
}

QVariant SimulatedHollis::getDeviceProperty(int device, const QString &key)
{
    const Supply *s = supply(device);
    if (!s)
        return {};
    if (key == "name")
        return s->name;
    if (key == "interface_type")
        return s->interfaceType;
    if (key == "ip" && s->interfaceType == 1)
        return s->ip;
    if (key == "connected" && s->interfaceType == 2)
        return s->connected;
    if (key == "number_outputs")
        return s->outputs;
    return {};
}

int SimulatedHollis::usbConnect(int device)
{
    Supply *s = supply(device);
    if (!s || s->interfaceType != 2)
        return kNoSuchDevice;
    s->connected = true;
    qCDebug(lcDevice) << "simulated supply connected" << device;
    return 0;
}

int SimulatedHollis::usbDisconnect(int device)
{
    Supply *s = supply(device);
    if (!s || s->interfaceType != 2)
        return kNoSuchDevice;
    s->connected = false;
    return 0;
}

void SimulatedHollis::discoverLights(int device)
{
    Supply *s = supply(device);
    if (!s)
        return;
    if (s->interfaceType == 1)
        s->lightsDiscovered = true;
    if (!fixturesKnown(*s))
        return;
    // USB supplies have no address to report: their answers carry 0.
    const unsigned long ip = s->interfaceType == 1 ? kNetworkSupplyIp : 0;
    int delay = m_replyDelay;
    for (const Fixture &f : std::as_const(s->fixtures)) {
        const quint64 serial = f.serial;
        QTimer::singleShot(delay, this, [this, ip, serial] { emit discoveredFixture(ip, serial); });
        delay += m_replyDelay;
    }
}

QList<quint64> SimulatedHollis::portFixtureList(int device, int port)
{
    const Supply *s = supply(device);
    if (!s || !fixturesKnown(*s))
        return {};
    QList<quint64> serials;
    for (const Fixture &f : s->fixtures) {
        if (f.port == port)
            serials.append(f.serial);
    }
    return serials;
}

QVariant SimulatedHollis::getFixtureProperty(int device, int, quint64 serial, const QString &key)
{
    const Fixture *f = knownFixture(device, serial);
    if (!f)
        return {};
    // Values are what the last read brought back: nothing before a read.
    if (key == "fixture_firmware_version" && m_versionRead.contains({device, serial}))
        return uint(f->firmwareVersion);
    if (key == "lx_enabled" && m_lxRead.contains({device, serial}))
        return f->lxEnabled;
    return {};
}

bool SimulatedHollis::fixtureReadFirmwareVersion(int device, int, quint64 serial,
                                                 quint16 &version)
{
    const Fixture *f = knownFixture(device, serial);
    if (!f)
        return false;
    m_versionRead.insert({device, serial});
    version = f->firmwareVersion;
    return true;
}

bool SimulatedHollis::fixtureReadLXEnable(int device, int, quint64 serial, bool &enabled)
{
    const Fixture *f = knownFixture(device, serial);
    if (!f)
        return false;
    m_lxRead.insert({device, serial});
    enabled = f->lxEnabled;
    return true;
}

bool SimulatedHollis::record(Step step)
{
    // A fixture typed in by hand need not have been discovered: the supply
    // only has to be there.
    if (!supply(step.device))
        return false;
    qCDebug(lcDevice) << "simulated boot-load" << step.call << Qt::hex << step.serial << Qt::dec
                      << step.block;
    m_steps.append(std::move(step));
    return true;
}

namespace {
SimulatedHollis::Step step(const char *call, int device, int port, quint32 serial)
{
    SimulatedHollis::Step s;
    s.call = QLatin1String(call);
    s.device = device;
    s.port = port;
    s.serial = serial;
    return s;
}
} // namespace

bool SimulatedHollis::zeldmxAdvancedModeEntry(int device, int port)
{
    Step s = step("AdvancedModeEntry", device, port, 0);
    return record(s);
}

bool SimulatedHollis::zeldmxEnterBootloadMode(int device, int port, quint32 serial)
{
    Step s = step("EnterBootloadMode", device, port, serial);
    return record(s);
}

bool SimulatedHollis::zeldmxBootloadStart(int device, int port, quint32 serial, bool model)
{
    Step s = step("BootloadStart", device, port, serial);
    s.model = model;
    return record(s);
}

bool SimulatedHollis::zeldmxBootloadWriteIntelHex(int device, int port, quint32 serial,
                                                  quint16 page, const quint8 *data,
                                                  quint16 length, bool model)
{
    Step s = step("BootloadWriteIntelHex", device, port, serial);
    s.block = page;
    s.length = length;
    s.model = model;
    if (data && length > 0)
        s.data = QByteArray(reinterpret_cast<const char *>(data), length);
    return record(s);
}

bool SimulatedHollis::zeldmxBootloadWriteCypressPSoC(int device, int port, quint32 serial,
                                                     quint16 paragraph, const QByteArray &data,
                                                     quint8 length)
{
    Step s = step("BootloadWriteCypressPSoC", device, port, serial);
    s.block = paragraph;
    s.data = data;
    s.length = length;
    return record(s);
}

bool SimulatedHollis::zeldmxBootloadDone(int device, int port, quint32 serial, bool model)
{
    Step s = step("BootloadDone", device, port, serial);
    s.model = model;
    return record(s);
}

} // namespace ZelHollis
