#pragma once

#include "dmx/HollisBackend.h"

namespace ZelHollis {

// Stands in when the power-supply library is not installed: nothing is found,
// every call fails. The first call says so in the log, once.
class HollisNotPresent : public HollisBackend
{
    Q_OBJECT

public:
    explicit HollisNotPresent(QObject *parent = nullptr);

    bool queryDevices() override;
    QList<int> listDevices() override;
    QVariant getDeviceProperty(int device, const QString &key) override;
    int usbConnect(int device) override;
    int usbDisconnect(int device) override;
    void discoverLights(int device) override;
    QList<quint64> portFixtureList(int device, int port) override;
    QVariant getFixtureProperty(int device, int unit, quint64 serial, const QString &key) override;
    bool fixtureReadFirmwareVersion(int device, int unit, quint64 serial,
                                    quint16 &version) override;
    bool fixtureReadLXEnable(int device, int unit, quint64 serial, bool &enabled) override;

    bool zeldmxAdvancedModeEntry(int device, int port) override;
    bool zeldmxEnterBootloadMode(int device, int port, quint32 serial) override;
    bool zeldmxBootloadStart(int device, int port, quint32 serial, bool model) override;
    bool zeldmxBootloadWriteIntelHex(int device, int port, quint32 serial, quint16 page,
                                     const quint8 *data, quint16 length, bool model) override;
    bool zeldmxBootloadWriteCypressPSoC(int device, int port, quint32 serial, quint16 paragraph,
                                        const QByteArray &data, quint8 length) override;
    bool zeldmxBootloadDone(int device, int port, quint32 serial, bool model) override;

    // Result of the two connection calls.
    static constexpr int kNotPresentError = -1;

private:
    void announce();

    bool m_announced = false;
};

} // namespace ZelHollis
