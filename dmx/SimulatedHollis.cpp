#include "dmx/SimulatedHollis.h"

#include "base/LogCategories.h"

#include <QHostAddress>
#include <QThread>
#include <QTimer>

namespace ZelHollis {

namespace {

// Where the sample catalogue puts the version word of each family (word
// index times word size), by serial prefix.
quint32 sampleVersionOffset(quint64 serial)
{
    switch (quint32(serial) >> 16) {
    case 0x7200: // Kestrel
    case 0x8300: // Tern Spot
        return 0x1FFE4;
    case 0x8400: // Gannet Batten, revision word
        return 0x3FFE4;
    default: // Cove Wash, Halyard Wash and the rest
        return 0xFFE4;
    }
}

SimulatedHollis::Fixture sampleFixture(quint64 serial, int port, quint16 version, bool lx)
{
    SimulatedHollis::Fixture f;
    f.serial = serial;
    f.port = port;
    f.firmwareVersion = version;
    f.lxEnabled = lx;
    f.versionOffset = sampleVersionOffset(serial);
    const quint32 prefix = quint32(serial) >> 16;
    f.serviceSwitch = prefix == 0x0072 || prefix == 0x8200; // Halyard Wash
    return f;
}

// The version a fixture reports for the version word of its firmware: the
// major number of a packed major.minor.build, or a plain revision number.
quint16 reportedVersion(quint32 word)
{
    return word > 0xFFFF ? quint16((word >> 16) & 0xFF) : quint16(word);
}

} // namespace

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
        sampleFixture(0x0072A001, 0, 5, false), sampleFixture(0x7200B001, 0, 3, true),
        sampleFixture(0x7200B002, 0, 2, false), sampleFixture(0x8100C001, 1, 4, false),
        sampleFixture(0x8280ABCD, 1, 7, false), sampleFixture(0x8200D001, 2, 6, false),
        sampleFixture(0x8300F001, 2, 4, false),
    };
    m_supplies.insert(kNetworkSupply, net);

    Supply usb;
    usb.name = "Vask USB-4";
    usb.interfaceType = 2;
    usb.outputs = 4;
    usb.fixtures = {
        sampleFixture(0x7200B101, 0, 4, true), sampleFixture(0x8180E001, 0, 5, false),
        sampleFixture(0x0072A101, 1, 3, false),
        sampleFixture(0x8400F101, 2, 9, false),
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

SimulatedHollis::Supply *SimulatedHollis::reachableSupply(int device)
{
    Supply *s = supply(device);
    if (!s || !s->answering || (s->interfaceType == 2 && !s->connected))
        return nullptr;
    return s;
}

bool SimulatedHollis::fixturesKnown(const Supply &s) const
{
    return s.interfaceType == 2 ? s.connected : s.lightsDiscovered;
}

const SimulatedHollis::Fixture *SimulatedHollis::knownFixture(int device, quint64 serial)
{
    const Supply *s = supply(device);
    if (!s || !s->answering || !fixturesKnown(*s) || m_silentFixtures.contains(serial))
        return nullptr;
    for (const Fixture &f : s->fixtures) {
        if (f.serial == serial)
            return &f;
    }
    return nullptr;
}

SimulatedHollis::Fixture *SimulatedHollis::addressedFixture(int device, int port, quint32 serial)
{
    // A fixture typed in by hand need not have been discovered: it only has
    // to hang off that port and answer.
    Supply *s = reachableSupply(device);
    if (!s || m_silentFixtures.contains(serial))
        return nullptr;
    for (Fixture &f : s->fixtures) {
        if (f.serial == serial && f.port == port)
            return &f;
    }
    return nullptr;
}

SimulatedHollis::Fixture *SimulatedHollis::bootLoadTarget(int device, int port, quint32 serial)
{
    Fixture *f = addressedFixture(device, port, serial);
    if (f && f->serviceSwitch && m_operatorSetsSwitch && !f->inBootloader) {
        qCDebug(lcDevice) << "simulated service switch set" << Qt::hex << serial;
        f->inBootloader = true;
        f->erased = false;
    }
    return f;
}

void SimulatedHollis::setSupplyAnswering(int device, bool answering)
{
    auto it = m_supplies.find(device);
    if (it != m_supplies.end())
        it->answering = answering;
}

void SimulatedHollis::setFixtureAnswering(quint64 serial, bool answering)
{
    if (answering)
        m_silentFixtures.remove(serial);
    else
        m_silentFixtures.insert(serial);
}

void SimulatedHollis::failStep(quint32 serial, const QString &call, int block)
{
    m_failures.append({serial, call, block});
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

const SimulatedHollis::Fixture *SimulatedHollis::fixture(quint64 serial) const
{
    for (const Supply &s : m_supplies) {
        for (const Fixture &f : s.fixtures) {
            if (f.serial == serial)
                return &f;
        }
    }
    return nullptr;
}

bool SimulatedHollis::queryDevices()
{
    m_queried = true;
    // Only supplies not yet reported are announced, as a bus scan would.
    int delay = m_replyDelay;
    for (auto it = m_supplies.begin(); it != m_supplies.end(); ++it) {
        if (it->announced || !it->answering)
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
    QList<int> devices;
    if (!m_queried)
        return devices;
    for (auto it = m_supplies.cbegin(); it != m_supplies.cend(); ++it) {
        if (it->announced)
            devices.append(it.key());
    }
    return devices;
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
    if (!s || s->interfaceType != 2 || !s->answering)
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
    if (!s || !s->answering)
        return;
    if (s->interfaceType == 1)
        s->lightsDiscovered = true;
    if (!fixturesKnown(*s))
        return;
    // USB supplies have no address to report: their answers carry 0.
    const unsigned long ip = s->interfaceType == 1 ? kNetworkSupplyIp : 0;
    int delay = m_replyDelay;
    for (const Fixture &f : std::as_const(s->fixtures)) {
        if (m_silentFixtures.contains(f.serial))
            continue;
        const quint64 serial = f.serial;
        QTimer::singleShot(delay, this, [this, ip, serial] { emit discoveredFixture(ip, serial); });
        delay += m_replyDelay;
    }
}

QList<quint64> SimulatedHollis::portFixtureList(int device, int port)
{
    const Supply *s = supply(device);
    if (!s || !s->answering || !fixturesKnown(*s))
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
    // A fixture in its boot loader runs no firmware to report a version.
    if (!f || f->inBootloader) {
        m_versionRead.remove({device, serial});
        return false;
    }
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

bool SimulatedHollis::arrangedToFail(const Step &step) const
{
    for (const Failure &failure : m_failures) {
        if (failure.serial == step.serial && failure.call == step.call
            && (failure.block < 0 || failure.block == step.block))
            return true;
    }
    return false;
}

bool SimulatedHollis::record(Step step, bool accepted)
{
    if (m_stepLatency > 0)
        QThread::msleep(ulong(m_stepLatency));
    step.accepted = accepted;
    qCDebug(lcDevice) << "simulated boot-load" << step.call << Qt::hex << step.serial << Qt::dec
                      << step.block << (accepted ? "accepted" : "refused");
    m_steps.append(std::move(step));
    return accepted;
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
    const Step s = step("AdvancedModeEntry", device, port, 0);
    Supply *supply = reachableSupply(device);
    if (!supply || arrangedToFail(s))
        return record(s, false);
    // Addressed to the whole port: fixtures that do not answer miss it.
    for (Fixture &f : supply->fixtures) {
        if (f.port == port && !m_silentFixtures.contains(f.serial))
            f.advancedMode = true;
    }
    return record(s, true);
}

bool SimulatedHollis::zeldmxEnterBootloadMode(int device, int port, quint32 serial)
{
    const Step s = step("EnterBootloadMode", device, port, serial);
    Fixture *f = addressedFixture(device, port, serial);
    if (!f || arrangedToFail(s))
        return record(s, false);
    f->inBootloader = true;
    f->erased = false;
    return record(s, true);
}

bool SimulatedHollis::zeldmxBootloadStart(int device, int port, quint32 serial, bool model)
{
    Step s = step("BootloadStart", device, port, serial);
    s.model = model;
    Fixture *f = bootLoadTarget(device, port, serial);
    if (!f || !f->inBootloader || arrangedToFail(s))
        return record(s, false);
    f->flash.clear();
    f->paragraphs.clear();
    f->erased = true;
    return record(s, true);
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
    Fixture *f = bootLoadTarget(device, port, serial);
    if (!f || !f->inBootloader || !f->erased || !data || length == 0 || arrangedToFail(s))
        return record(s, false);
    const qsizetype offset = qsizetype(page) * length;
    if (f->flash.size() < offset + length)
        f->flash.resize(offset + length, char(0xFF));
    f->flash.replace(offset, length, s.data);
    return record(s, true);
}

bool SimulatedHollis::zeldmxBootloadWriteCypressPSoC(int device, int port, quint32 serial,
                                                     quint16 paragraph, const QByteArray &data,
                                                     quint8 length)
{
    Step s = step("BootloadWriteCypressPSoC", device, port, serial);
    s.block = paragraph;
    s.data = data;
    s.length = length;
    Fixture *f = bootLoadTarget(device, port, serial);
    if (!f || !f->inBootloader || !f->erased || length > data.size() || arrangedToFail(s))
        return record(s, false);
    if (f->paragraphs.size() <= paragraph)
        f->paragraphs.resize(paragraph + 1);
    f->paragraphs[paragraph] = data.left(length);
    return record(s, true);
}

bool SimulatedHollis::zeldmxBootloadDone(int device, int port, quint32 serial, bool model)
{
    Step s = step("BootloadDone", device, port, serial);
    s.model = model;
    Fixture *f = bootLoadTarget(device, port, serial);
    if (!f || !f->inBootloader || !f->erased || arrangedToFail(s))
        return record(s, false);
    // The fixture restarts into what was written.
    quint32 word = 0;
    for (int i = 3; i >= 0; --i) {
        const qsizetype at = qsizetype(f->versionOffset) + i;
        word = (word << 8) | (at < f->flash.size() ? quint8(f->flash.at(at)) : 0xFFu);
    }
    if (!m_keepRevision)
        f->firmwareVersion = reportedVersion(word);
    f->inBootloader = false;
    f->erased = false;
    f->advancedMode = false;
    if (m_noReturn)
        m_silentFixtures.insert(f->serial);
    return record(s, true);
}

} // namespace ZelHollis
