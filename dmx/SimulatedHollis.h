#pragma once

#include "dmx/HollisBackend.h"

#include <QList>
#include <QMap>
#include <QSet>

namespace ZelHollis {

// Two Vask power supplies kept in memory, for demonstrations and tests:
//   device 1 "Vask Net-4", network, ip 127.0.0.20, 4 ports;
//   device 2 "Vask USB-4", USB, 4 ports.
// Fixtures of every family of the sample catalogue hang off their ports (see
// SimulatedHollis.cpp). A network supply's fixtures become known with
// discoverLights, a USB supply's while it is connected. Answers arrive from
// the event loop after a short delay, as the library's would.
class SimulatedHollis : public HollisBackend
{
    Q_OBJECT

public:
    static constexpr int kNetworkSupply = 1;
    static constexpr int kUsbSupply = 2;
    static constexpr quint32 kNetworkSupplyIp = 0x7F000014; // 127.0.0.20

    struct Fixture {
        quint64 serial = 0;
        int port = 0;
        quint16 firmwareVersion = 0;
        bool lxEnabled = false;
    };

    // One boot-load call as received.
    struct Step {
        QString call; // the operation's name without the "zeldmx" prefix
        int device = 0;
        int port = 0;
        quint32 serial = 0;
        int block = -1; // page or paragraph number
        QByteArray data;
        int length = 0;
        bool model = false;
    };

    explicit SimulatedHollis(QObject *parent = nullptr);

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

    // Situation.
    void setReplyDelay(int ms) { m_replyDelay = ms; }
    // Replaces the fixtures of a supply.
    void setFixtures(int device, const QList<Fixture> &fixtures);
    QList<Fixture> fixtures(int device) const;

    // What was received.
    const QList<Step> &steps() const { return m_steps; }
    void clearSteps() { m_steps.clear(); }

    // Error number of the connection calls for an unknown supply.
    static constexpr int kNoSuchDevice = -1;

private:
    struct Supply {
        QString name;
        int interfaceType = 1;
        QString ip;
        quint32 outputs = 0;
        bool connected = false;
        bool lightsDiscovered = false;
        bool announced = false;
        QList<Fixture> fixtures;
    };

    Supply *supply(int device);
    // The fixture when its supply is found and knows it.
    const Fixture *knownFixture(int device, quint64 serial);
    bool fixturesKnown(const Supply &s) const;
    bool record(Step step);

    QMap<int, Supply> m_supplies;
    bool m_queried = false;
    QSet<QPair<int, quint64>> m_versionRead;
    QSet<QPair<int, quint64>> m_lxRead;
    QList<Step> m_steps;
    int m_replyDelay = 50;
};

} // namespace ZelHollis
