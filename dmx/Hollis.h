#pragma once

#include "base/LogTypes.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <QVariant>

#include <memory>

namespace ZelHollis {

class HollisBackend;

// The power-supply library as this application uses it: finds Vask power
// supplies (network or USB), the ZELDMX fixtures on their ports, reads fixture
// properties and carries the fixture boot-load steps. Results are the
// library's own; the callers decide which ones they look at.
//
// Supplies and fixtures found arrive through discoveredDevice and
// discoveredFixture on the thread that owns this object.
class Hollis : public QObject
{
    Q_OBJECT

public:
    explicit Hollis(std::unique_ptr<HollisBackend> backend, QObject *parent = nullptr);
    ~Hollis() override;

    // The process-wide instance: the one installed with setInstance, else a
    // library that is not present.
    static Hollis &Instance();
    // Installs (or, with null, removes) the process-wide instance; not owned.
    static void setInstance(Hollis *hollis);

    HollisBackend &backend() { return *m_backend; }

    // Power supplies. Properties: "name" (text), "interface_type" (1 network,
    // 2 USB), "ip" (dotted text, network supplies), "connected" (bool, USB
    // supplies), "number_outputs" (unsigned; low 8 bits = port count).
    bool queryDevices();
    QList<int> listDevices() const;
    QVariant getDeviceProperty(int device, const QString &key) const;
    int usbConnect(int device);
    int usbDisconnect(int device);

    // Fixtures. Properties: "fixture_firmware_version" (unsigned) and
    // "lx_enabled" (bool), valid once the matching read was started.
    void discoverLights(int device);
    const QList<quint64> portFixtureList(int device, int port) const;
    QVariant getFixtureProperty(int device, int unit, quint64 serial, const QString &key) const;
    bool fixtureReadFirmwareVersion(int device, int unit, quint64 serial, quint16 &version);
    bool fixtureReadLXEnable(int device, int unit, quint64 serial, bool &enabled);

    // Fixture boot-load steps. model: the fixture model flag of the boot-load engine.
    bool zeldmxAdvancedModeEntry(int device, int port);
    bool zeldmxEnterBootloadMode(int device, int port, quint32 serial);
    bool zeldmxBootloadStart(int device, int port, quint32 serial, bool model);
    bool zeldmxBootloadWriteIntelHex(int device, int port, quint32 serial, quint16 page,
                                     const quint8 *data, quint16 length, bool model);
    bool zeldmxBootloadWriteCypressPSoC(int device, int port, quint32 serial, quint16 paragraph,
                                        const QByteArray &data, quint8 length);
    bool zeldmxBootloadDone(int device, int port, quint32 serial, bool model);

signals:
    void discoveredDevice(int device);
    void discoveredFixture(unsigned long ip, quint64 serial);
    void signal_log(LOGPRIORITY logLevel, LOGTYPE logType, QString objectName, QString logMessage);

private:
    std::unique_ptr<HollisBackend> m_backend;

    static Hollis *s_instance;
};

} // namespace ZelHollis
