#include "usb/SimulatedSr3Usb.h"
#include "usb/Sr3UsbNotPresent.h"

#include <QTest>

class TestSr3UsbLayers : public QObject
{
    Q_OBJECT

private slots:
    void notPresent_findsNothingAndSaysSoOnce();
    void simulated_connectEnterBootLoaderAndProgram();
    void simulated_playerAlreadyInBootLoaderOpensDirectly();
    void simulated_twoPlayersRefuseConnect();
    void simulated_failuresAsArranged();
};

void TestSr3UsbLayers::notPresent_findsNothingAndSaysSoOnce()
{
    Sr3UsbNotPresent lib;
    QList<QPair<LOGPRIORITY, QString>> records;
    connect(&lib, &Sr3UsbLibrary::signal_log, this,
            [&](LOGPRIORITY p, LOGTYPE, QString object, QString text) {
                QCOMPARE(object, QString("Sr3UsbLibrary"));
                records.append({p, text});
            });

    QVERIFY(records.isEmpty()); // nothing said before the library is needed
    QCOMPARE(lib.controllerCount(), 0);
    QCOMPARE(lib.rawDeviceCount(), 0);
    QVERIFY(lib.connectController() != Sr3UsbLibrary::kSuccess);
    QVERIFY(lib.enterBootLoader() != Sr3UsbLibrary::kSuccess);
    QVERIFY(!lib.open(0));
    int version = 7;
    QVERIFY(!lib.getFirmwareVersion(version));
    QCOMPARE(version, 7);
    QVERIFY(!lib.eraseFlash());
    char reply[32];
    int replyLength = 32;
    QVERIFY(!lib.transaction(":W00000000FF\0", reply, replyLength, 5));
    QCOMPARE(replyLength, 0);

    QCOMPARE(records.size(), 1);
    QCOMPARE(records.first().first, LOG_WARNING);
    QCOMPARE(records.first().second,
             QString("Sorrel 3 USB library not present: no Sorrel 3 player can be found."));
}

void TestSr3UsbLayers::simulated_connectEnterBootLoaderAndProgram()
{
    SimulatedSr3Usb lib;
    int logs = 0;
    connect(&lib, &Sr3UsbLibrary::signal_log, this, [&] { ++logs; });

    QCOMPARE(lib.controllerCount(), 1);
    QCOMPARE(lib.rawDeviceCount(), 0);
    QVERIFY(!lib.open(0)); // not in its boot loader yet
    QCOMPARE(lib.lastStatus(), SimulatedSr3Usb::kNoDevice);

    QCOMPARE(lib.connectController(), Sr3UsbLibrary::kSuccess);
    QCOMPARE(lib.enterBootLoader(), Sr3UsbLibrary::kSuccess);
    QCOMPARE(lib.controllerCount(), 0);
    QCOMPARE(lib.rawDeviceCount(), 1);

    QVERIFY(lib.open(0));
    QVERIFY(lib.setTimeouts(60000, 10000));
    QCOMPARE(lib.readTimeout(), 60000);
    int firmware = 0;
    int bootloader = 0;
    QVERIFY(lib.getFirmwareVersion(firmware));
    QVERIFY(lib.getBootloaderVersion(bootloader));
    QCOMPARE(firmware, 0x10052);
    QCOMPARE(bootloader, SimulatedSr3Usb::kDefaultBootloaderVersion);

    // Records before an erase are refused.
    char reply[32];
    int replyLength = 32;
    QVERIFY(!lib.transaction(":W0000000000", reply, replyLength, 5));

    QVERIFY(lib.eraseFlash());
    QByteArray buffer(1024, '\0');
    const QByteArray text = ":W00000000AABB01";
    buffer.replace(0, text.size(), text);
    replyLength = 32;
    QVERIFY(lib.transaction(buffer, reply, replyLength, 5));
    QCOMPARE(replyLength, 2);
    QVERIFY(lib.transaction(":W00000200CCDD02", reply, replyLength, 5));
    // Only the text before the terminator counts as the record.
    QCOMPARE(lib.records(), QList<QByteArray>({text, ":W00000200CCDD02"}));

    QVERIFY(lib.reset());
    QCOMPARE(lib.resetCount(), 1);
    QCOMPARE(lib.controllerCount(), 1);
    QCOMPARE(lib.rawDeviceCount(), 0);
    QVERIFY(!lib.eraseFlash()); // the player left its boot loader
    QVERIFY(lib.close());
    QVERIFY(!lib.isOpen());
    QCOMPARE(logs, 0);
}

void TestSr3UsbLayers::simulated_playerAlreadyInBootLoaderOpensDirectly()
{
    SimulatedSr3Usb lib;
    lib.setPlayers(0, 1);
    QCOMPARE(lib.controllerCount(), 0);
    QCOMPARE(lib.rawDeviceCount(), 1);
    QVERIFY(lib.open(0));
    QVERIFY(!lib.open(1));
}

void TestSr3UsbLayers::simulated_twoPlayersRefuseConnect()
{
    SimulatedSr3Usb lib;
    lib.setPlayers(2, 0);
    QCOMPARE(lib.controllerCount(), 2);
    QVERIFY(lib.connectController() != Sr3UsbLibrary::kSuccess);
    QCOMPARE(lib.enterBootLoader(), SimulatedSr3Usb::kNotConnected);
}

void TestSr3UsbLayers::simulated_failuresAsArranged()
{
    SimulatedSr3Usb lib;
    lib.setPlayers(0, 1);
    lib.setFirmwareVersion(-1);
    lib.refuseRecord(1);
    QVERIFY(lib.open(0));
    int version = 0;
    QVERIFY(!lib.getFirmwareVersion(version));
    QVERIFY(lib.getBootloaderVersion(version));
    QVERIFY(lib.eraseFlash());
    char reply[32];
    int replyLength = 32;
    QVERIFY(lib.transaction(":W0", reply, replyLength, 5));
    replyLength = 32;
    QVERIFY(!lib.transaction(":W1", reply, replyLength, 5));
    QCOMPARE(lib.records().size(), 1);

    SimulatedSr3Usb closed;
    closed.setPlayers(0, 1);
    closed.setOpenFails(true);
    QVERIFY(!closed.open(0));
    QVERIFY(closed.lastStatus() != 0);
    SimulatedSr3Usb noErase;
    noErase.setPlayers(0, 1);
    noErase.setEraseFails(true);
    QVERIFY(noErase.open(0));
    QVERIFY(!noErase.eraseFlash());
}

QTEST_GUILESS_MAIN(TestSr3UsbLayers)
#include "test_Sr3UsbLayers.moc"
