#include "usb/HCC_HID.h"
#include "usb/HidReportDescriptor.h"
#include "usb/HidapiBackend.h"
#include "usb/SimulatedHidDevices.h"

#include <QDir>
#include <QSignalSpy>
#include <QTest>

namespace {

QByteArray bytes(const char *hex)
{
    return QByteArray::fromHex(hex);
}

QByteArray pattern(int n, int start = 0)
{
    QByteArray out;
    for (int i = 0; i < n; ++i)
        out.append(char(start + i));
    return out;
}

const uchar *data(const QByteArray &b)
{
    return reinterpret_cast<const uchar *>(b.constData());
}

} // namespace

class TestHidTransport : public QObject
{
    Q_OBJECT

private slots:
    void descriptor_data();
    void descriptor();
    void reportsAreLaidOutByteForByte();
    void reportLengthDecidesWhetherTheDeviceIsUsed_data();
    void reportLengthDecidesWhetherTheDeviceIsUsed();
    void numberedReportsGoOutUnderTheirId_data();
    void numberedReportsGoOutUnderTheirId();
    void findingAndListingDevices();
    void sendFailureIsReportedWithTheSystemText();
    void hidapiFindsNothingOnThisMachine();
};

void TestHidTransport::descriptor_data()
{
    QTest::addColumn<QByteArray>("descriptor");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<int>("input");
    QTest::addColumn<int>("output");
    QTest::addColumn<int>("feature");

    // The keyboard and mouse of the HID class definition's examples.
    QTest::newRow("boot keyboard")
        << bytes("05010906A101050719E029E71500250175019508810295017508810195057501050819012905"
                 "910295017503910195067508150025650507190029658100C0")
        << true << 9 << 2 << 0;
    QTest::newRow("boot mouse")
        << bytes("05010902A1010901A100050919012903150025019503750181029501750581010501093009311581"
                 "257F750895028106C0C0")
        << true << 4 << 0 << 0;
    QTest::newRow("vendor feature report, id 1")
        << bytes("0600FF0901A1018501750895400901B102C0") << true << 0 << 0 << 65;
    QTest::newRow("vendor feature report, unnumbered")
        << bytes("0600FF0901A101750895400901B102C0") << true << 0 << 0 << 65;
    QTest::newRow("longest of two numbered features")
        << bytes("0600FF0901A101850175089508B102850275089520B102C0") << true << 0 << 0 << 33;
    QTest::newRow("push and pop restore size and count")
        << bytes("75089510A49502B102B4B102") << true << 0 << 0 << 19;
    QTest::newRow("bits round up to whole bytes") << bytes("7501950CB102") << true << 0 << 0 << 3;
    QTest::newRow("long item skipped") << bytes("FE0210AABB75089504B102") << true << 0 << 0 << 5;
    QTest::newRow("four-byte count") << bytes("97000100007508B102") << true << 0 << 0 << 257;
    QTest::newRow("item cut short") << bytes("750895") << false << 0 << 0 << 0;
    QTest::newRow("long item cut short") << bytes("FE0510AABB") << false << 0 << 0 << 0;
    QTest::newRow("pop without push") << bytes("B4") << false << 0 << 0 << 0;
    QTest::newRow("report id 0") << bytes("8500") << false << 0 << 0 << 0;
    QTest::newRow("item of no bits before the first id") << bytes("0509010E9520B10285A101040507") << true << 0
                                                         << 0 << 0;
    QTest::newRow("report without an id beside numbered ones")
        << bytes("0600FF0901A10175089504B102850175089508B102C0") << false << 0 << 0 << 0;
    QTest::newRow("absurd report length") << bytes("77FFFFFFFF97FFFFFFFFB102") << false << 0 << 0 << 0;
    QTest::newRow("empty") << QByteArray() << true << 0 << 0 << 0;
}

void TestHidTransport::descriptor()
{
    QFETCH(QByteArray, descriptor);
    QFETCH(bool, ok);
    HidReportDescriptor parsed;
    QCOMPARE(parsed.parse(descriptor), ok);
    QCOMPARE(parsed.error().isEmpty(), ok);
    if (!ok)
        return;
    QTEST(parsed.inputReportLength(), "input");
    QTEST(parsed.outputReportLength(), "output");
    QTEST(parsed.featureReportLength(), "feature");
}

// One download as the Vireo Player gets it, checked report by report.
void TestHidTransport::reportsAreLaidOutByteForByte()
{
    SimulatedHidDevices devices;
    devices.addDevice(0x1234, 0x2125, 65);
    HCC_HID hid(devices);
    QSignalSpy logs(&hid, &HCC_HID::log);
    QCOMPARE(hid.openDevice(0x1234, 0x2125), int(HCC_HID::Opened));
    QCOMPARE(hid.capacity(), 60);

    QVERIFY(hid.startDownload(0x00005200));
    const QByteArray start = bytes("000000000000005200") + QByteArray(56, '\0');
    QCOMPARE(devices.reports().last(), start);

    // 100 bytes: 60, then 40 with the first report's bytes behind them.
    const QByteArray payload = pattern(100, 1);
    QVERIFY(hid.HIDSendBuffer(data(payload), 100));
    QCOMPARE(devices.reports().size(), 3);
    QCOMPARE(devices.reports().at(1), bytes("003C") + payload.left(60) + QByteArray(3, '\0'));
    const QByteArray second = devices.reports().at(2);
    QCOMPARE(second.size(), 65);
    QCOMPARE(second.left(2), bytes("0028"));
    QCOMPARE(second.mid(2, 40), payload.mid(60));
    QCOMPARE(second.mid(42, 20), payload.mid(40, 20)); // stale
    QCOMPARE(second.mid(62), QByteArray(3, '\0'));

    QVERIFY(hid.finishDownload());
    QByteArray finish = second;
    finish[1] = 0;
    finish[2] = 1;
    QCOMPARE(devices.reports().last(), finish);

    // The largest single report, one byte more is refused unsent.
    const QByteArray full = pattern(63);
    QVERIFY(hid.HIDSend(data(full), 63));
    QCOMPARE(devices.reports().last(), bytes("003F") + full);
    const int sent = devices.reports().size();
    QVERIFY(!hid.HIDSend(data(pattern(64)), 64));
    QCOMPARE(devices.reports().size(), sent);
    QCOMPARE(logs.last().at(0).value<LOGPRIORITY>(), LOG_SEVERE);
    QCOMPARE(logs.last().at(3).toString(), QString("HCC_HID::HIDSend Length is larger than the report size."));

    // A 1080-byte block goes out as 18 full reports; nothing at all is refused.
    devices.clearReports();
    QVERIFY(hid.HIDSendBuffer(data(pattern(1080)), 1080));
    QCOMPARE(devices.reports().size(), 18);
    for (const QByteArray &report : devices.reports())
        QCOMPARE(quint8(report.at(1)), quint8(60));
    QVERIFY(!hid.HIDSendBuffer(data(full), 0));
    QCOMPARE(devices.reports().size(), 18);

    hid.closeDevice();
    hid.closeDevice();
    QVERIFY(devices.openPath().isEmpty());
    QVERIFY(!hid.HIDSend(data(full), 1)); // nothing open
    QCOMPARE(devices.reports().size(), 18);
}

void TestHidTransport::reportLengthDecidesWhetherTheDeviceIsUsed_data()
{
    QTest::addColumn<int>("length");
    QTest::addColumn<int>("result");
    QTest::addColumn<int>("capacity");
    QTest::addColumn<bool>("canStart");
    QTest::newRow("no feature report") << 0 << int(HCC_HID::Unusable) << 0 << false;
    QTest::newRow("5: no room for data") << 5 << int(HCC_HID::Unusable) << 0 << false;
    QTest::newRow("6: four data bytes") << 6 << int(HCC_HID::Opened) << 4 << false;
    QTest::newRow("9: control report fits") << 9 << int(HCC_HID::Opened) << 4 << true;
    QTest::newRow("65") << 65 << int(HCC_HID::Opened) << 60 << true;
    QTest::newRow("257: 252 bytes, length byte holds 255") << 257 << int(HCC_HID::Opened) << 252 << true;
    QTest::newRow("258: capacity 256 overflows the length byte") << 258 << int(HCC_HID::Unusable) << 0 << false;
}

void TestHidTransport::reportLengthDecidesWhetherTheDeviceIsUsed()
{
    QFETCH(int, length);
    QFETCH(int, result);
    QFETCH(int, capacity);
    QFETCH(bool, canStart);
    SimulatedHidDevices devices;
    devices.addDevice(0x1234, 0x2125, length);
    HCC_HID hid(devices);
    QCOMPARE(hid.openDevice(0x1234, 0x2125), result);
    QCOMPARE(hid.capacity(), capacity);
    QCOMPARE(hid.isOpen(), result == HCC_HID::Opened);
    if (result == HCC_HID::Unusable) {
        QVERIFY(hid.lastError().contains(QString::number(length) + " bytes long"));
        QVERIFY(devices.openPath().isEmpty());
    }
    QCOMPARE(hid.startDownload(0x5200), canStart);
    // Whatever the device, no report is ever longer than it or carries a
    // length its byte cannot hold.
    if (result == HCC_HID::Opened) {
        const QByteArray block = pattern(1080);
        QVERIFY(hid.HIDSendBuffer(data(block), 1080));
        QByteArray received;
        for (const QByteArray &report : devices.reports()) {
            QCOMPARE(report.size(), length);
            received += report.mid(2, quint8(report.at(1)));
        }
        QCOMPARE(received, block);
    } else {
        QVERIFY(devices.reports().isEmpty());
    }
}

void TestHidTransport::numberedReportsGoOutUnderTheirId_data()
{
    QTest::addColumn<QByteArray>("descriptor");
    QTest::addColumn<int>("result");
    QTest::addColumn<int>("id");
    QTest::addColumn<int>("length");
    QTest::addColumn<QString>("message"); // when the device is not used

    const int opened = HCC_HID::Opened;
    QTest::newRow("not numbered") << bytes("0600FF0901A101750895400901B102C0") << opened << 0 << 65 << "";
    QTest::newRow("one feature report, id 1")
        << bytes("0600FF0901A1018501750895400901B102C0") << opened << 1 << 65 << "";
    QTest::newRow("input id 2, longer feature id 7")
        << bytes("0600FF0901A101850275089508090181028507750895400901B102C0") << opened << 7 << 65 << "";
    QTest::newRow("two feature reports, the longer id 2")
        << bytes("0600FF0901A101850175089508B102850275089520B102C0") << opened << 2 << 33 << "";
    QTest::newRow("two feature reports of one length")
        << bytes("0600FF0901A101850375089520B102850475089520B102C0") << int(HCC_HID::Unusable) << 0 << 0
        << "The device declares 2 feature reports of 33 bytes (report ids 3, 4); which of them takes the "
           "firmware is not known. Nothing was sent.";
}

// A download into a device that declares its reports with a descriptor: the
// simulated device, like a real one, stalls a report of an id it does not know.
void TestHidTransport::numberedReportsGoOutUnderTheirId()
{
    QFETCH(QByteArray, descriptor);
    QFETCH(int, result);
    QFETCH(int, id);
    QFETCH(int, length);
    QFETCH(QString, message);
    SimulatedHidDevices devices;
    devices.addDevice(0xF0E5, 0x2125, descriptor);
    HCC_HID hid(devices);
    QSignalSpy logs(&hid, &HCC_HID::log);
    QCOMPARE(hid.openDevice(0xF0E5, 0x2125), result);
    if (result != HCC_HID::Opened) {
        QCOMPARE(hid.lastError(), message);
        QCOMPARE(logs.last().at(3).toString(), message);
        QVERIFY(devices.openPath().isEmpty());
        QVERIFY(!hid.startDownload(0x5200));
        QVERIFY(devices.reports().isEmpty());
        return;
    }
    QCOMPARE(hid.reportId(), id);
    QCOMPARE(hid.reportLength(), length);
    const QByteArray block = pattern(1080);
    QVERIFY(hid.startDownload(0x5200));
    QVERIFY(hid.HIDSendBuffer(data(block), 1080));
    QVERIFY(hid.finishDownload());
    QByteArray received;
    for (const QByteArray &report : devices.reports()) {
        QCOMPARE(report.size(), length);
        QCOMPARE(int(quint8(report.at(0))), id);
        received += report.mid(2, quint8(report.at(1)));
    }
    QCOMPARE(received, block);
    QCOMPARE(devices.reports().size(), 1 + (1080 + hid.capacity() - 1) / hid.capacity() + 1);
}

void TestHidTransport::findingAndListingDevices()
{
    SimulatedHidDevices devices;
    QObject panel;
    HCC_HID hid(devices, &panel);
    QCOMPARE(hid.objectName(), QString("HCC_HID"));
    QCOMPARE(hid.openDevice(0xF0E5, 0x2125), int(HCC_HID::NotFound));
    QCOMPARE(hid.lastError(), QString("Device not found."));

    devices.addDevice(0x046D, 0xC31C);
    const QString held = devices.addDevice(0xF0E5, 0x2125, 33);
    const QString free = devices.addDevice(0xF0E5, 0x2125, 65);
    devices.setInUse(held, true);
    QStringList listed;
    hid.listDevices(listed);
    QCOMPARE(listed, QStringList({"VID=0x46d, PID=0xc31c", "VID=0xf0e5, PID=0x2125"}));
    // The device held by another program is passed over for the free one.
    QCOMPARE(hid.openDevice(0xF0E5, 0x2125), int(HCC_HID::Opened));
    QCOMPARE(devices.openPath(), free);
    QCOMPARE(hid.reportLength(), 65);

    devices.setInUse(held, false);
    listed.clear();
    hid.listDevices(listed);
    QCOMPARE(listed.count("VID=0xf0e5, PID=0x2125"), 2);
    QCOMPARE(devices.openPath(), free); // listing leaves the open device alone
    QCOMPARE(hid.reportLength(), 65);
}

void TestHidTransport::sendFailureIsReportedWithTheSystemText()
{
    SimulatedHidDevices devices;
    devices.addDevice(0xF0E5, 0x2125, 65);
    HCC_HID hid(devices);
    QSignalSpy logs(&hid, &HCC_HID::log);
    QCOMPARE(hid.openDevice(0xF0E5, 0x2125), int(HCC_HID::Opened));
    devices.failSendAt(1);
    const QByteArray block = pattern(200);
    QVERIFY(!hid.HIDSendBuffer(data(block), 200));
    QCOMPARE(devices.reports().size(), 1); // stopped at the first failure
    QCOMPARE(hid.lastError(), QString("HCC_HID::HIDSend : write error! (Broken pipe)"));
    QCOMPARE(logs.last().at(0).value<LOGPRIORITY>(), LOG_SEVERE);
    QCOMPARE(logs.last().at(3).toString(), hid.lastError());
}

void TestHidTransport::hidapiFindsNothingOnThisMachine()
{
    QCOMPARE(HidapiBackend::descriptorPathFor("/dev/hidraw3"),
             QString("/sys/class/hidraw/hidraw3/device/report_descriptor"));
    if (!QDir("/dev").entryList({"hidraw*"}, QDir::System).isEmpty())
        QSKIP("this machine has HID devices");
    HidapiBackend backend;
    QVERIFY(backend.devices().isEmpty());
    HCC_HID hid(backend);
    QCOMPARE(hid.openDevice(0xF0E5, 0x2125), int(HCC_HID::NotFound));
    QCOMPARE(hid.lastError(), QString("Device not found."));
    HidFeatureReport feature;
    QString error;
    QVERIFY(!backend.open("/dev/hidraw99", feature, error));
    QVERIFY(error.contains("report descriptor"));
    QVERIFY(!backend.sendFeatureReport(QByteArray(65, '\0'), error));
}

QTEST_GUILESS_MAIN(TestHidTransport)
#include "test_HidTransport.moc"
