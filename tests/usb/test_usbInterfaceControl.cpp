#include "usb/usbInterfaceControl.h"

#include "catalogue/BootLoadProduct.h"
#include "tests/support/FakePrompter.h"
#include "tests/support/RecordingPauser.h"
#include "usb/SimulatedSr3Usb.h"
#include "usb/SimulatedVireoPlayer.h"
#include "usb/Sr3UsbNotPresent.h"

#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

namespace {

struct LogRecord {
    LOGPRIORITY priority;
    QString object;
    QString text;
};

void collect(usbInterfaceControl &panel, QList<LogRecord> &records)
{
    QObject::connect(&panel, &usbInterfaceControl::signal_log, &panel,
                     [&records](LOGPRIORITY p, LOGTYPE, QString object, QString text) {
                         records.append({p, object, text});
                     });
}

QStringList texts(const QList<LogRecord> &records)
{
    QStringList out;
    for (const LogRecord &r : records)
        out.append(r.text);
    return out;
}

} // namespace

class TestUsbInterfaceControl : public QObject
{
    Q_OBJECT

private slots:
    void form_hasNamedControlsWithTheirTexts();
    void enableControl_togglesTheGroupBox();
    void setters_storeTheRunValues();
    void formatVersion_data();
    void formatVersion();
    void program_withoutConnectedPlayer_sendsNothingAndSaysSo();
    void connect_withoutLibrary_saysSoOnceAndFindsNone();

private:
    FakePrompter m_prompter;
    RecordingPauser m_pauser;
    SimulatedVireoPlayer m_vireo;
};

void TestUsbInterfaceControl::form_hasNamedControlsWithTheirTexts()
{
    Sr3UsbNotPresent lib;
    usbInterfaceControl panel(m_prompter, m_pauser, lib, m_vireo.serialPorts(), m_vireo.hid());
    QCOMPARE(panel.objectName(), QString("usbInterfaceControl"));

    auto *box = panel.findChild<QGroupBox *>("m_groupBox_USBControlPanel");
    QVERIFY(box);
    QCOMPARE(box->title(), QString("USB Device Control Panel"));
    auto *connectButton = box->findChild<QPushButton *>("m_pushButton_USBConnect");
    QVERIFY(connectButton);
    QCOMPARE(connectButton->text(), QString("Connect"));
    QCOMPARE(connectButton->toolTip(), QString("Connects to the USB device to be programmed."));
    QCOMPARE(connectButton->minimumWidth(), 120);
    QVERIFY(connectButton->isEnabled());

    const QList<QPair<QString, QString>> labels = {
        {"label_2", "Firmware Rev:"},
        {"m_label_SR3Device", "No device selected"},
        {"label", "Boot Loader Rev:"},
        {"m_label_SR3SorrelVersion", ""},
        {"m_lblSerialNrLabel", "Serial Number:"},
        {"m_lblSerialNr", ""},
    };
    for (const auto &[name, text] : labels) {
        auto *label = box->findChild<QLabel *>(name);
        QVERIFY2(label, qPrintable(name));
        QCOMPARE(label->text(), text);
    }
    QCOMPARE(panel.deviceKind(), 0);
    QCOMPARE(panel.deviceFirmwareVersion(), 0);
}

void TestUsbInterfaceControl::enableControl_togglesTheGroupBox()
{
    Sr3UsbNotPresent lib;
    usbInterfaceControl panel(m_prompter, m_pauser, lib, m_vireo.serialPorts(), m_vireo.hid());
    auto *box = panel.findChild<QGroupBox *>("m_groupBox_USBControlPanel");
    panel.handleEnableControl(false);
    QVERIFY(!box->isEnabled());
    panel.handleEnableControl(true);
    QVERIFY(box->isEnabled());
}

void TestUsbInterfaceControl::setters_storeTheRunValues()
{
    Sr3UsbNotPresent lib;
    usbInterfaceControl panel(m_prompter, m_pauser, lib, m_vireo.serialPorts(), m_vireo.hid());
    panel.setDeviceKind(1);
    panel.setFirmwareFileName("/tmp/player.bin");
    panel.setFactoryDefault(true);
    QCOMPARE(panel.deviceKind(), 1);
    QCOMPARE(panel.firmwareFileName(), QString("/tmp/player.bin"));
    QVERIFY(panel.factoryDefault());
    panel.setDeviceKind(0);
    panel.setFactoryDefault(false);
    QCOMPARE(panel.deviceKind(), 0);
    QVERIFY(!panel.factoryDefault());
}

void TestUsbInterfaceControl::formatVersion_data()
{
    QTest::addColumn<quint32>("version");
    QTest::addColumn<QString>("text");
    QTest::newRow("three bytes") << 0x00010036u << "01.00.54";
    QTest::newRow("top byte shown when set") << 0x01020304u << "01.02.03.04";
    QTest::newRow("zero") << 0u << "00.00.00";
    QTest::newRow("largest bytes") << 0xFFFFFFFFu << "255.255.255.255";
}

void TestUsbInterfaceControl::formatVersion()
{
    QFETCH(quint32, version);
    QFETCH(QString, text);
    QCOMPARE(usbInterfaceControl::formatVersion(version), text);
}

void TestUsbInterfaceControl::program_withoutConnectedPlayer_sendsNothingAndSaysSo()
{
    SimulatedSr3Usb lib;
    lib.setPlayers(0, 1);
    usbInterfaceControl panel(m_prompter, m_pauser, lib, m_vireo.serialPorts(), m_vireo.hid());
    QList<LogRecord> records;
    collect(panel, records);
    QSignalSpy complete(&panel, &usbInterfaceControl::signal_programComplete);
    QSignalSpy enable(&panel, &usbInterfaceControl::signal_enableProgramButton);

    BootLoadProduct product(m_prompter);
    product.setName("Sorrel 3");
    const QString text = "No Sorrel 3 is connected: press Connect first. Nothing was sent.";
    m_prompter.expectMessage(Prompter::Kind::Warning, "Warning", text);
    panel.program(&product);
    panel.program(nullptr);

    QCOMPARE(m_prompter.pendingExpectations(), 0);
    QCOMPARE(complete.size(), 1);
    QCOMPARE(enable.size(), 0);
    QVERIFY(texts(records).contains(text));
    QVERIFY(texts(records).contains("No device type is selected: nothing was programmed."));
    QVERIFY(!lib.erased());
    QVERIFY(lib.records().isEmpty());
    QCOMPARE(panel.lastRunOutcome().result, UsbRunOutcome::Failed);
    QCOMPARE(panel.lastRunOutcome().reason, text);
    QVERIFY(!panel.runInProgress());
}

void TestUsbInterfaceControl::connect_withoutLibrary_saysSoOnceAndFindsNone()
{
    Sr3UsbNotPresent lib;
    usbInterfaceControl panel(m_prompter, m_pauser, lib, m_vireo.serialPorts(), m_vireo.hid());
    QList<LogRecord> records;
    collect(panel, records);
    QVERIFY(records.isEmpty()); // building the panel does not touch the library

    auto *connectButton = panel.findChild<QPushButton *>("m_pushButton_USBConnect");
    for (int i = 0; i < 2; ++i) {
        m_prompter.expectMessage(Prompter::Kind::Warning, "Warning", "No Sorrel 3's found on USB!");
        QTest::mouseClick(connectButton, Qt::LeftButton);
        QVERIFY(connectButton->isEnabled());
    }
    QCOMPARE(m_prompter.pendingExpectations(), 0);

    const QStringList lines = texts(records);
    QCOMPARE(lines.count("Sorrel 3 USB library not present: no Sorrel 3 player can be found."), 1);
    QCOMPARE(lines.count("USB device connect failed!"), 2);
    QCOMPARE(lines.count("Connecting to USB device..."), 2);
    QCOMPARE(panel.deviceFirmwareVersion(), 0);
}

QTEST_MAIN(TestUsbInterfaceControl)
#include "test_usbInterfaceControl.moc"
