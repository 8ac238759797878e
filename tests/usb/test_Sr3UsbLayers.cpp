#include "tests/support/RecordingPauser.h"
#include "usb/SimulatedSr3Usb.h"
#include "usb/Sorrel3Link.h"
#include "usb/Sorrel3Verifier.h"
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
    void check_data();
    void check();
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
    lib.setVersionOffset(0x200);
    QByteArray buffer(1024, '\0');
    const QByteArray text = ":W00000000AABB9B";
    buffer.replace(0, text.size(), text);
    replyLength = 32;
    QVERIFY(lib.transaction(buffer, reply, replyLength, 5));
    QCOMPARE(replyLength, 2);
    QVERIFY(lib.transaction(":W0000020003020100F8", reply, replyLength, 5));
    // Damaged records are refused and leave the flash alone: a wrong
    // checksum, a character that is not hexadecimal, a page past the flash.
    QVERIFY(!lib.transaction(":W00000000AABB9C", reply, replyLength, 5));
    QVERIFY(!lib.transaction(":W00000000AAXB9B", reply, replyLength, 5));
    QVERIFY(!lib.transaction(":W0001FFFF0102FE", reply, replyLength, 5));
    QCOMPARE(lib.badRecords(), 3);
    // Only the text before the terminator counts as the record.
    QCOMPARE(lib.records(), QList<QByteArray>({text, ":W0000020003020100F8"}));
    QCOMPARE(lib.flash().left(3), QByteArray("\xAA\xBB\xFF"));
    QCOMPARE(lib.flash().mid(0x200, 5), QByteArray("\x03\x02\x01\x00\xFF", 5));
    QCOMPARE(lib.flash().size(), SimulatedSr3Usb::kDefaultFlashSize);

    QVERIFY(lib.reset());
    QCOMPARE(lib.resetCount(), 1);
    QCOMPARE(lib.controllerCount(), 1);
    QCOMPARE(lib.rawDeviceCount(), 0);
    QVERIFY(!lib.eraseFlash()); // the player left its boot loader
    QVERIFY(lib.close());
    QVERIFY(!lib.isOpen());

    // It now runs what was written at its version word.
    QCOMPARE(lib.connectController(), Sr3UsbLibrary::kSuccess);
    QCOMPARE(lib.enterBootLoader(), Sr3UsbLibrary::kSuccess);
    QVERIFY(lib.open(0));
    QVERIFY(lib.getFirmwareVersion(firmware));
    QCOMPARE(firmware, 0x010203);
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
    QVERIFY(lib.transaction(":W0000000001FF", reply, replyLength, 5));
    replyLength = 32;
    QVERIFY(!lib.transaction(":W0000000102FD", reply, replyLength, 5));
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

void TestSr3UsbLayers::check_data()
{
    QTest::addColumn<QString>("expected"); // null: the image does not say
    QTest::addColumn<QString>("before");
    QTest::addColumn<QString>("summary");
    QTest::newRow("the image's version") << "01.00.82" << "01.00.54" << "verified: the device reports 01.00.82";
    QTest::newRow("another version") << "01.00.90" << "01.00.82"
                                     << "mismatch: the device reports 01.00.82, the image is 01.00.90";
    // Never a mismatch against an empty version.
    QTest::newRow("image without a version")
        << QString() << "01.00.82"
        << "not verified: the Sorrel 3 reports 01.00.82, but the image does not say which version it is";
}

// The check after a write, on a player already back in its firmware.
void TestSr3UsbLayers::check()
{
    QFETCH(QString, expected);
    QFETCH(QString, before);
    QFETCH(QString, summary);
    SimulatedSr3Usb lib;
    RecordingPauser pauser;
    Sorrel3Link link(lib, pauser);
    Sorrel3Verifier verifier(link, QStringLiteral("Sorrel 3"), expected, before, 1000);
    QList<RevisionCheck> finished;
    connect(&verifier, &PlayerVerifier::finished, this,
            [&](const RevisionCheck &check, const QString &) { finished.append(check); });
    verifier.start();
    QCOMPARE(finished.size(), 1);
    const RevisionCheck check = finished.first();
    QCOMPARE(check.summary(), summary);
    QCOMPARE(check.revisionAfter, QStringLiteral("01.00.82"));
    QVERIFY(!link.isOpen());
}
