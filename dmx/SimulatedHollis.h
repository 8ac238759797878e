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
//
// Each fixture has flash. Boot-load mode, erase, pages and paragraphs act on
// it in the order a fixture's boot loader accepts them, and refuse a step out
// of that order. After finalize the fixture runs what was written: its
// firmware version is then read from the flash at the fixture's version
// offset (where the sample catalogue puts the version word of its family).
//
// First-generation fixtures (serial prefixes 0x0072 and 0x8200) have no
// advanced mode: the operator sets their service switch when the product's
// prompt asks, and the fixture restarts into its boot loader. The simulated
// operator does so (unless told not to), so the first boot-load call that
// reaches such a fixture, necessarily after the prompt, finds it in its boot
// loader. Finalize restarts it into its firmware, as the switch set back does.
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
        // Enters its boot loader by its service switch (see above).
        bool serviceSwitch = false;
        // Byte offset of the version word in the main processor's flash.
        quint32 versionOffset = 0;

        // Boot loader state.
        bool advancedMode = false;
        bool inBootloader = false;
        bool erased = false;
        QByteArray flash;            // main processor, from address 0; bytes not written read 0xFF
        QList<QByteArray> paragraphs; // driver processor, by paragraph number
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
        bool accepted = false;
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

    // Situations.
    // Delay between discovery answers (and before the first).
    void setReplyDelay(int ms) { m_replyDelay = ms; }
    // Every boot-load call blocks this long, as a slow bus would.
    void setStepLatency(int ms) { m_stepLatency = ms; }
    // A supply or fixture that stops answering: it is not announced, does not
    // answer discovery or reads, and refuses every step.
    void setSupplyAnswering(int device, bool answering);
    void setFixtureAnswering(quint64 serial, bool answering);
    // The named call ("BootloadStart", "BootloadWriteIntelHex", ...) is
    // refused for this fixture; for writes only that block, unless -1.
    void failStep(quint32 serial, const QString &call, int block = -1);
    void clearFailures() { m_failures.clear(); }
    // After finalize a fixture takes the image but keeps reporting its old
    // version (keepRevision), or never answers again (noReturn).
    void setKeepRevision(bool keep) { m_keepRevision = keep; }
    void setNoReturn(bool noReturn) { m_noReturn = noReturn; }
    // Whether the operator sets a fixture's service switch when asked (true
    // unless set): an operator who does not leaves the fixture in its firmware.
    void setOperatorSetsServiceSwitch(bool sets) { m_operatorSetsSwitch = sets; }
    // Replaces the fixtures of a supply.
    void setFixtures(int device, const QList<Fixture> &fixtures);
    QList<Fixture> fixtures(int device) const;
    // The fixture with this serial on any supply, or null.
    const Fixture *fixture(quint64 serial) const;

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
        bool answering = true;
        QList<Fixture> fixtures;
    };
    struct Failure {
        quint32 serial;
        QString call;
        int block;
    };

    Supply *supply(int device);
    // The supply when it was found, answers and, over USB, is connected.
    Supply *reachableSupply(int device);
    // The fixture when its supply is found and knows it.
    const Fixture *knownFixture(int device, quint64 serial);
    // The fixture on that port when it can be talked to.
    Fixture *addressedFixture(int device, int port, quint32 serial);
    bool fixturesKnown(const Supply &s) const;
    bool arrangedToFail(const Step &step) const;
    // The fixture of a boot-load call; one whose service switch the operator
    // was asked to set is now in its boot loader.
    Fixture *bootLoadTarget(int device, int port, quint32 serial);
    bool record(Step step, bool accepted);

    QMap<int, Supply> m_supplies;
    bool m_queried = false;
    QSet<QPair<int, quint64>> m_versionRead;
    QSet<QPair<int, quint64>> m_lxRead;
    QSet<quint64> m_silentFixtures;
    QList<Failure> m_failures;
    QList<Step> m_steps;
    int m_replyDelay = 50;
    int m_stepLatency = 0;
    bool m_keepRevision = false;
    bool m_noReturn = false;
    bool m_operatorSetsSwitch = true;
};

} // namespace ZelHollis
