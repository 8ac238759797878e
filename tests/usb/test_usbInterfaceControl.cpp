#include "usb/usbInterfaceControl.h"

#include "catalogue/BootLoadProduct.h"
#include "tests/support/FakePrompter.h"
#include "tests/support/RecordingPauser.h"
#include "usb/SimulatedSr3Usb.h"
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
    void program_endsTheRunWithoutClaimingSuccess();
    void connect_withoutLibrary_saysSoOnceAndFindsNone();
    void connect_simulated_countsThePlayer();

private:
    FakePrompter m_prompter;
    RecordingPauser m_pauser;
};

void TestUsbInterfaceControl::form_hasNamedControlsWithTheirTexts()
{
    Sr3UsbNotPresent lib;
    usbInterfaceControl panel(m_prompter, m_pauser, lib);
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
    usbInterfaceControl panel(m_prompter, m_pauser, lib);
    auto *box = panel.findChild<QGroupBox *>("m_groupBox_USBControlPanel");
    panel.handleEnableControl(false);
    QVERIFY(!box->isEnabled());
    panel.handleEnableControl(true);
    QVERIFY(box->isEnabled());
}

void TestUsbInterfaceControl::setters_storeTheRunValues()
{
    Sr3UsbNotPresent lib;
    usbInterfaceControl panel(m_prompter, m_pauser, lib);
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

void TestUsbInterfaceControl::program_endsTheRunWithoutClaimingSuccess()
{
    SimulatedSr3Usb lib;
    usbInterfaceControl panel(m_prompter, m_pauser, lib);
    QList<LogRecord> records;
    collect(panel, records);
    QSignalSpy complete(&panel, &usbInterfaceControl::signal_programComplete);
    QSignalSpy status(&panel, &usbInterfaceControl::signal_updateStatus);
    QSignalSpy enable(&panel, &usbInterfaceControl::signal_enableProgramButton);

    BootLoadProduct product(m_prompter);
    product.setName("Sorrel 3");
    panel.program(&product);
    panel.program(nullptr);

    QCOMPARE(complete.size(), 2);
    QCOMPARE(enable.size(), 0);
    QCOMPARE(status.first().first().toString(),
             QString("Programming over USB is not available in this build."));
    for (const LogRecord &r : records) {
        QCOMPARE(r.priority, LOG_WARNING);
        QCOMPARE(r.object, QString("usbInterfaceControl"));
        QVERIFY(!r.text.contains("complete", Qt::CaseInsensitive));
    }
    QVERIFY(texts(records).contains("No accepted firmware image for Sorrel 3."));
    QVERIFY(lib.records().isEmpty());
    QVERIFY(m_prompter.shown().isEmpty());
}

void TestUsbInterfaceControl::connect_withoutLibrary_saysSoOnceAndFindsNone()
{
    Sr3UsbNotPresent lib;
    usbInterfaceControl panel(m_prompter, m_pauser, lib);
    QList<LogRecord> records;
    collect(panel, records);
    QVERIFY(records.isEmpty()); // building the panel does not touch the library

    auto *connectButton = panel.findChild<QPushButton *>("m_pushButton_USBConnect");
    QTest::mouseClick(connectButton, Qt::LeftButton);
    QTest::mouseClick(connectButton, Qt::LeftButton);

    const QStringList lines = texts(records);
    QCOMPARE(lines.count("Sorrel 3 USB library not present: no Sorrel 3 player can be found."), 1);
    QCOMPARE(lines.count("Found 0 Sorrel 3 player(s)."), 2);
    QCOMPARE(lines.count("Connecting to USB device..."), 2);
    QVERIFY(connectButton->isEnabled());
}

void TestUsbInterfaceControl::connect_simulated_countsThePlayer()
{
    SimulatedSr3Usb lib;
    usbInterfaceControl panel(m_prompter, m_pauser, lib);
    QList<LogRecord> records;
    collect(panel, records);
    QTest::mouseClick(panel.findChild<QPushButton *>("m_pushButton_USBConnect"), Qt::LeftButton);
    QVERIFY(texts(records).contains("Found 1 Sorrel 3 player(s)."));
}

QTEST_MAIN(TestUsbInterfaceControl)
#include "test_usbInterfaceControl.moc"
