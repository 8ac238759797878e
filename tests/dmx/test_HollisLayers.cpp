#include "dmx/Hollis.h"
#include "dmx/HollisNotPresent.h"
#include "dmx/SimulatedHollis.h"

#include <QSignalSpy>
#include <QTest>

using ZelHollis::Hollis;
using ZelHollis::HollisNotPresent;
using ZelHollis::SimulatedHollis;

namespace {

std::unique_ptr<Hollis> simulated(SimulatedHollis **backend = nullptr)
{
    auto sim = std::make_unique<SimulatedHollis>();
    sim->setReplyDelay(1);
    if (backend)
        *backend = sim.get();
    return std::make_unique<Hollis>(std::move(sim));
}

} // namespace

class TestHollisLayers : public QObject
{
    Q_OBJECT

private slots:
    void instance_withoutInstalledLibrary_isNotPresent();
    void instance_installedAndRemoved();
    void notPresent_findsNothingAndSaysSoOnce();
    void simulated_queryAnnouncesEachSupplyOnce();
    void simulated_supplyProperties();
    void simulated_usbSupplyKnowsItsFixturesWhileConnected();
    void simulated_networkSupplyFindsFixturesOnDiscovery();
    void simulated_fixturePropertiesFollowTheReads();
    void simulated_bootLoaderTakesStepsInOrderOnly();
    void simulated_serviceSwitchPutsAFirstGenerationFixtureInItsBootLoader();
};

void TestHollisLayers::instance_withoutInstalledLibrary_isNotPresent()
{
    Hollis::setInstance(nullptr);
    Hollis &absent = Hollis::Instance();
    QCOMPARE(&Hollis::Instance(), &absent);
    QVERIFY(!absent.queryDevices());
    QVERIFY(absent.listDevices().isEmpty());
}

void TestHollisLayers::instance_installedAndRemoved()
{
    Hollis &absent = Hollis::Instance();
    {
        auto hollis = simulated();
        Hollis::setInstance(hollis.get());
        QCOMPARE(&Hollis::Instance(), hollis.get());
    }
    // A destroyed library must not stay installed.
    QCOMPARE(&Hollis::Instance(), &absent);
}

void TestHollisLayers::notPresent_findsNothingAndSaysSoOnce()
{
    Hollis hollis(std::make_unique<HollisNotPresent>());
    QList<QPair<LOGPRIORITY, QString>> records;
    connect(&hollis, &Hollis::signal_log, this,
            [&](LOGPRIORITY p, LOGTYPE, QString object, QString text) {
                QCOMPARE(object, QString("Hollis"));
                records.append({p, text});
            });
    QSignalSpy devices(&hollis, &Hollis::discoveredDevice);
    QSignalSpy fixtures(&hollis, &Hollis::discoveredFixture);

    QVERIFY(!hollis.queryDevices());
    QVERIFY(hollis.listDevices().isEmpty());
    QVERIFY(!hollis.getDeviceProperty(1, "name").isValid());
    hollis.discoverLights(1);
    QVERIFY(hollis.portFixtureList(1, 0).isEmpty());
    quint16 version = 9;
    QVERIFY(!hollis.fixtureReadFirmwareVersion(1, 0, 0x8280ABCD, version));
    QCOMPARE(version, quint16(9));
    QVERIFY(!hollis.zeldmxBootloadStart(1, 0, 0x8280ABCD, true));
    QTest::qWait(50);

    QCOMPARE(devices.size(), 0);
    QCOMPARE(fixtures.size(), 0);
    QCOMPARE(records.size(), 1);
    QCOMPARE(records.first().first, LOG_WARNING);
    QCOMPARE(records.first().second,
             QString("Power-supply library not present: no ZELDMX power supplies can be found."));
}

void TestHollisLayers::simulated_queryAnnouncesEachSupplyOnce()
{
    auto hollis = simulated();
    QSignalSpy devices(hollis.get(), &Hollis::discoveredDevice);
    QVERIFY(hollis->listDevices().isEmpty()); // nothing known before a query
    QVERIFY(hollis->queryDevices());
    QCOMPARE(hollis->listDevices(), QList<int>({1, 2}));
    QCOMPARE(devices.size(), 0); // supplies arrive through the event loop
    QTRY_COMPARE(devices.size(), 2);
    QCOMPARE(devices.at(0).first().toInt(), SimulatedHollis::kNetworkSupply);
    QCOMPARE(devices.at(1).first().toInt(), SimulatedHollis::kUsbSupply);

    QVERIFY(hollis->queryDevices());
    QTest::qWait(50);
    QCOMPARE(devices.size(), 2);
}

void TestHollisLayers::simulated_supplyProperties()
{
    auto hollis = simulated();
    hollis->queryDevices();
    QCOMPARE(hollis->getDeviceProperty(1, "name").toString(), QString("Vask Net-4"));
    QCOMPARE(hollis->getDeviceProperty(1, "interface_type").toInt(), 1);
    QCOMPARE(hollis->getDeviceProperty(1, "ip").toString(), QString("127.0.0.20"));
    QVERIFY(!hollis->getDeviceProperty(1, "connected").isValid());
    QCOMPARE(hollis->getDeviceProperty(1, "number_outputs").toUInt() & 0xFF, 4u);

    QCOMPARE(hollis->getDeviceProperty(2, "name").toString(), QString("Vask USB-4"));
    QCOMPARE(hollis->getDeviceProperty(2, "interface_type").toInt(), 2);
    QVERIFY(!hollis->getDeviceProperty(2, "ip").isValid());
    QCOMPARE(hollis->getDeviceProperty(2, "connected").toBool(), false);
    QVERIFY(!hollis->getDeviceProperty(3, "name").isValid());
    QVERIFY(!hollis->getDeviceProperty(1, "colour").isValid());
}

void TestHollisLayers::simulated_usbSupplyKnowsItsFixturesWhileConnected()
{
    auto hollis = simulated();
    hollis->queryDevices();
    QVERIFY(hollis->portFixtureList(2, 0).isEmpty());
    QCOMPARE(hollis->usbConnect(2), 0);
    QVERIFY(hollis->usbConnect(1) != 0); // a network supply has no USB connection
    QCOMPARE(hollis->getDeviceProperty(2, "connected").toBool(), true);
    QCOMPARE(hollis->portFixtureList(2, 0), QList<quint64>({0x7200B101, 0x8180E001}));
    QCOMPARE(hollis->portFixtureList(2, 1), QList<quint64>({0x0072A101}));
    QVERIFY(hollis->portFixtureList(2, 3).isEmpty());

    QSignalSpy fixtures(hollis.get(), &Hollis::discoveredFixture);
    hollis->discoverLights(2);
    QTRY_COMPARE(fixtures.size(), 4);
    QCOMPARE(fixtures.first().at(0).value<unsigned long>(), 0ul); // no address on USB

    QCOMPARE(hollis->usbDisconnect(2), 0);
    QVERIFY(hollis->portFixtureList(2, 0).isEmpty());
}

void TestHollisLayers::simulated_networkSupplyFindsFixturesOnDiscovery()
{
    auto hollis = simulated();
    hollis->queryDevices();
    QVERIFY(hollis->portFixtureList(1, 0).isEmpty());

    QSignalSpy fixtures(hollis.get(), &Hollis::discoveredFixture);
    hollis->discoverLights(1);
    QTRY_COMPARE(fixtures.size(), 7);
    QSet<quint64> serials;
    for (const QList<QVariant> &args : fixtures) {
        QCOMPARE(args.at(0).value<unsigned long>(), 0x7F000014ul);
        serials.insert(args.at(1).value<quint64>());
    }
    QVERIFY(serials.contains(0x0072A001));
    QVERIFY(serials.contains(0x8280ABCD));
    QCOMPARE(hollis->portFixtureList(1, 0),
             QList<quint64>({0x0072A001, 0x7200B001, 0x7200B002}));
    QCOMPARE(hollis->portFixtureList(1, 1), QList<quint64>({0x8100C001, 0x8280ABCD}));
    QCOMPARE(hollis->portFixtureList(1, 2), QList<quint64>({0x8200D001, 0x8300F001}));
    QVERIFY(hollis->portFixtureList(1, 3).isEmpty());
}

void TestHollisLayers::simulated_fixturePropertiesFollowTheReads()
{
    auto hollis = simulated();
    hollis->queryDevices();
    hollis->discoverLights(1);

    QVERIFY(!hollis->getFixtureProperty(1, 0, 0x7200B002, "fixture_firmware_version").isValid());
    quint16 version = 0;
    QVERIFY(hollis->fixtureReadFirmwareVersion(1, 0, 0x7200B002, version));
    QCOMPARE(version, quint16(2));
    QCOMPARE(hollis->getFixtureProperty(1, 0, 0x7200B002, "fixture_firmware_version").toUInt(), 2u);

    QVERIFY(!hollis->getFixtureProperty(1, 0, 0x7200B001, "lx_enabled").isValid());
    bool enabled = false;
    QVERIFY(hollis->fixtureReadLXEnable(1, 0, 0x7200B001, enabled));
    QVERIFY(enabled);
    QCOMPARE(hollis->getFixtureProperty(1, 0, 0x7200B001, "lx_enabled").toBool(), true);
    QVERIFY(hollis->fixtureReadLXEnable(1, 0, 0x7200B002, enabled));
    QVERIFY(!enabled);

    // A fixture of the other supply is not known here.
    QVERIFY(!hollis->fixtureReadFirmwareVersion(1, 0, 0x7200B101, version));
}

void TestHollisLayers::simulated_bootLoaderTakesStepsInOrderOnly()
{
    SimulatedHollis *sim = nullptr;
    auto hollis = simulated(&sim);
    // Nothing is carried before the supply was found.
    QVERIFY(!hollis->zeldmxAdvancedModeEntry(1, 1));
    hollis->queryDevices();
    SimulatedHollis::Fixture fixture;
    fixture.serial = 0x8280ABCD;
    fixture.port = 1;
    fixture.firmwareVersion = 7;
    fixture.versionOffset = 4;
    sim->setFixtures(1, {fixture});
    hollis->discoverLights(1);
    const quint32 sn = 0x8280ABCD;
    const QByteArray page = QByteArray::fromHex("03010500"); // version word 5.1.3
    const auto write = [&](quint16 number) {
        return hollis->zeldmxBootloadWriteIntelHex(1, 1, sn, number,
                                                   reinterpret_cast<const quint8 *>(page.data()),
                                                   quint16(page.size()), true);
    };
    const QByteArray paragraph = QByteArray::fromHex("0102030405060708090A0B0C0D0E0F1011");

    // Out of order, or to the wrong place: refused.
    QVERIFY(!hollis->zeldmxBootloadStart(1, 1, sn, true));
    QVERIFY(!write(0));
    QVERIFY(hollis->zeldmxAdvancedModeEntry(1, 1));
    QVERIFY(!hollis->zeldmxEnterBootloadMode(1, 2, sn));         // another port
    QVERIFY(!hollis->zeldmxEnterBootloadMode(1, 1, 0x81001234)); // nobody there
    QVERIFY(!hollis->zeldmxAdvancedModeEntry(2, 0));             // USB supply not connected
    QVERIFY(hollis->zeldmxEnterBootloadMode(1, 1, sn));
    quint16 version = 0;
    QVERIFY(!hollis->fixtureReadFirmwareVersion(1, 0, sn, version)); // no firmware runs now
    QVERIFY(!write(1));                                           // before erase
    QVERIFY(!hollis->zeldmxBootloadDone(1, 1, sn, true));         // before erase

    QVERIFY(hollis->zeldmxBootloadStart(1, 1, sn, true));
    QVERIFY(write(1));
    QVERIFY(hollis->zeldmxBootloadWriteCypressPSoC(1, 1, sn, 3, paragraph, 16));
    QVERIFY(!hollis->zeldmxBootloadWriteCypressPSoC(1, 1, sn, 4, QByteArray(2, 'x'), 3));
    QVERIFY(hollis->zeldmxBootloadDone(1, 1, sn, true));
    QVERIFY(!write(2)); // the fixture left its boot loader

    const SimulatedHollis::Fixture *f = sim->fixture(sn);
    QCOMPARE(f->flash, QByteArray(4, char(0xFF)) + page);
    QCOMPARE(f->paragraphs.size(), 4);
    QCOMPARE(f->paragraphs.at(3), paragraph.left(16));
    QVERIFY(!f->inBootloader);
    // The version now comes from what was written: the major of 5.1.3.
    QVERIFY(hollis->fixtureReadFirmwareVersion(1, 0, sn, version));
    QCOMPARE(version, quint16(5));
    QCOMPARE(hollis->getFixtureProperty(1, 0, sn, "fixture_firmware_version").toUInt(), 5u);

    const auto &steps = sim->steps();
    QCOMPARE(steps.size(), 16);
    QCOMPARE(steps.at(0).call, QString("AdvancedModeEntry"));
    QVERIFY(!steps.at(0).accepted);
    const SimulatedHollis::Step &written = steps.at(11);
    QCOMPARE(written.call, QString("BootloadWriteIntelHex"));
    QCOMPARE(written.block, 1);
    QCOMPARE(written.data, page);
    QVERIFY(written.model);
    QVERIFY(written.accepted);
    QCOMPARE(steps.at(12).data, paragraph); // passed whole, with the length as given
    QCOMPARE(steps.at(12).length, 16);
    sim->clearSteps();
    QVERIFY(sim->steps().isEmpty());
}

void TestHollisLayers::simulated_serviceSwitchPutsAFirstGenerationFixtureInItsBootLoader()
{
    SimulatedHollis *sim = nullptr;
    auto hollis = simulated(&sim);
    hollis->queryDevices();
    hollis->discoverLights(1);
    const quint32 halyard = 0x8200D001; // port 3, with a service switch
    const quint32 cove = 0x8100C001;    // port 2, without one
    QVERIFY(sim->fixture(halyard)->serviceSwitch);
    QVERIFY(!sim->fixture(cove)->serviceSwitch);

    // The operator leaves the switch alone: the fixture runs its firmware and
    // refuses the erase, as a fixture without a switch always does unless told
    // to enter its boot loader.
    sim->setOperatorSetsServiceSwitch(false);
    QVERIFY(!hollis->zeldmxBootloadStart(1, 2, halyard, true));
    QVERIFY(!hollis->zeldmxBootloadStart(1, 1, cove, true));
    quint16 version = 0;
    QVERIFY(hollis->fixtureReadFirmwareVersion(1, 0, halyard, version));
    QCOMPARE(version, quint16(6));

    // The operator does what the prompt asks: erase, pages and finalize are
    // taken without the boot-load mode call; the fixture then runs the image.
    sim->setOperatorSetsServiceSwitch(true);
    QVERIFY(!hollis->zeldmxBootloadStart(1, 1, cove, true));
    QVERIFY(hollis->zeldmxBootloadStart(1, 2, halyard, true));
    QVERIFY(!hollis->fixtureReadFirmwareVersion(1, 0, halyard, version)); // in its boot loader
    QByteArray page(0x10000, char(0xFF));
    page.replace(0xFFE4, 4, QByteArray::fromHex("03010700")); // 7.1.3
    QVERIFY(hollis->zeldmxBootloadWriteIntelHex(1, 2, halyard, 0,
                                                reinterpret_cast<const quint8 *>(page.constData()),
                                                quint16(0xFFFF), true));
    QVERIFY(hollis->zeldmxBootloadDone(1, 2, halyard, true));
    QVERIFY(hollis->fixtureReadFirmwareVersion(1, 0, halyard, version));
    QCOMPARE(version, quint16(7));
    QVERIFY(!sim->fixture(halyard)->inBootloader);
}

QTEST_GUILESS_MAIN(TestHollisLayers)
#include "test_HollisLayers.moc"
