#include "tests/app/WindowFixture.h"
#include "app/RunEvents.h"

#include "catalogue/BootLoadProduct.h"
#include "dmx/zeldmxInterfaceControl.h"
#include "ethernet/tftpInterfaceControl.h"
#include "usb/SimulatedSr3Usb.h"
#include "usb/SimulatedVireoPlayer.h"
#include "usb/usbInterfaceControl.h"
#include "base/Logger.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QStackedWidget>
#include <QKeyEvent>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <QTest>

namespace {

// Geometry shared by every product of the test catalogue: 256-byte images,
// magic word at byte 16, version word at byte 20.
const quint32 kMagicOffset = 0x10;
const quint32 kVersionOffset = 0x14;

QString processor(const QString &magic)
{
    return QStringLiteral("<Processor><ProcName>main</ProcName><Heirarchy>1</Heirarchy>"
                          "<FileType>Intel HEX</FileType><BLRev>1</BLRev><PageSize>64</PageSize>"
                          "<WordSize>1</WordSize><WordCount>100</WordCount><MagicLoc>10</MagicLoc>"
                          "<MagicFlag>%1</MagicFlag><VerLoc>14</VerLoc></Processor>")
        .arg(magic);
}

const quint32 kSorrelMagic = 0x53523301;

// The state of the controls the run moves: F file select, P PROGRAM and
// factory default, S panel stack, L interface and device lists. Each pair is
// kept apart, so that one of them left in the wrong state shows.
struct Controls {
    bool f, p, ckx, s, li, ld;
    bool operator==(const Controls &o) const
    {
        return f == o.f && p == o.p && ckx == o.ckx && s == o.s && li == o.li && ld == o.ld;
    }
};

// The table's four columns, each pair alike.
Controls table(bool f, bool p, bool s, bool l)
{
    return {f, p, p, s, l, l};
}

char *toString(const Controls &c)
{
    return qstrdup(qPrintable(QStringLiteral("F=%1 P=%2 factory=%3 S=%4 interfaces=%5 devices=%6")
                                  .arg(c.f)
                                  .arg(c.p)
                                  .arg(c.ckx)
                                  .arg(c.s)
                                  .arg(c.li)
                                  .arg(c.ld)));
}

} // namespace

// Leaves the window as program() returning during a panel's ongoing run does.
class WindowProbe
{
public:
    static void enterOngoingRun(ZelBootLoader &window)
    {
        window.m_state = ZelBootLoader::RunState::Programming;
        window.m_deviceOffered = true;
        window.applyControls();
    }
};

class TestProgrammingRun : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_workDir;
    QString m_previousDir;
    QString m_catalogue;

    WindowFixture::Options options() const
    {
        WindowFixture::Options o;
        o.cataloguePath = m_catalogue;
        return o;
    }
    QString image(const QString &name, quint32 magic, quint32 version) const
    {
        return writeFile(m_workDir.filePath(name),
                         hexImage({{kMagicOffset, magic}, {kVersionOffset, version}}));
    }
    static Controls controls(const WindowFixture &f)
    {
        return {f.find<QPushButton>(QStringLiteral("m_pushButton_firmwareImageFileSelect"))->isEnabled(),
                f.find<QPushButton>(QStringLiteral("m_pushButton_program"))->isEnabled(),
                f.find<QCheckBox>(QStringLiteral("m_ckx_FactoryDefault"))->isEnabled(),
                f.find<QStackedWidget>(QStringLiteral("m_stackedWidget_interfaceControls"))->isEnabled(),
                f.find<QComboBox>(QStringLiteral("m_comboBox_interfaceSelect"))->isEnabled(),
                f.find<QComboBox>(QStringLiteral("m_comboBox_deviceSelect"))->isEnabled()};
    }
    static SimulatedSr3Usb &sr3(WindowFixture &f)
    {
        return static_cast<SimulatedSr3Usb &>(f.devices->sr3());
    }
    static void selectDevice(WindowFixture &f, const QString &name)
    {
        auto *devices = f.find<QComboBox>(QStringLiteral("m_comboBox_deviceSelect"));
        const int index = devices->findText(name);
        QVERIFY(index >= 0);
        devices->setCurrentIndex(index);
    }
    static void clickFileSelect(WindowFixture &f)
    {
        f.find<QPushButton>(QStringLiteral("m_pushButton_firmwareImageFileSelect"))->click();
    }
    static void clickProgram(WindowFixture &f)
    {
        f.find<QPushButton>(QStringLiteral("m_pushButton_program"))->click();
    }
    static void connectUsb(WindowFixture &f)
    {
        f.window->findChild<QPushButton *>(QStringLiteral("m_pushButton_USBConnect"))->click();
    }
    // Loads a Sorrel 3 image of the given version and connects a player
    // running deviceVersion; the panel then offers it for programming.
    void prepareSorrel(WindowFixture &f, quint32 deviceVersion, quint32 imageVersion)
    {
        sr3(f).setFirmwareVersion(int(deviceVersion));
        sr3(f).setVersionOffset(int(kVersionOffset));
        f.prompter.expectFileDialog(image(QStringLiteral("sorrel.hex"), kSorrelMagic, imageVersion));
        clickFileSelect(f);
        connectUsb(f);
        QCOMPARE(f.window->findChild<usbInterfaceControl *>()->deviceFirmwareVersion(), int(deviceVersion));
        QVERIFY(f.find<QPushButton>(QStringLiteral("m_pushButton_program"))->isEnabled());
    }

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();

    void rejectedFileReopensDialogThereAndOnlyGoodNameIsShown();
    void cancelledSelectionLeavesFileEmptyAndSelectable();
    void selectionHandsProductToDmxAndEthernetPanels();
    void selectionWithoutDeviceTypeIsRefused();
    void selectionOnUnknownInterfaceIsRefusedAndKeepsDeviceListOff();
    void controlsFollowTheStateTableThroughAWholeRun();
    void inputQueuedForTheListsWhileLoadingIsIgnored();
    void versionThresholds_data();
    void versionThresholds();
    void vireoPlayerTakesBinFilesAndSkipsVersionChecks();
    void programWithoutAcceptedImageSendsNothing();
    void programWithoutDeviceTypeSendsNothing();
    void shutdownLogHoldsTheLogDump();
    void sameSecondShutdownsAppendToOneFile();
    void shutdownLogKeepsAnEarlierFileOfTheSameName();
    void threadedPanelStopsBeforeTheLogIsWritten();
    void unwritableWorkingDirectorySendsTheLogToTheDataFolder();
};

void TestProgrammingRun::initTestCase()
{
    QVERIFY(m_workDir.isValid());
    m_previousDir = QDir::currentPath();
    QDir::setCurrent(m_workDir.path());
    m_catalogue = writeFile(
        m_workDir.filePath(QStringLiteral("zelblprod.xml")),
        QStringLiteral("<ZELBLProductList>"
                       "<USBDevice><Name>Sorrel 3</Name>%1</USBDevice>"
                       "<USBDevice><Name>Vireo Player</Name>%2</USBDevice>"
                       "<ZelDmxFixture><Name>Cove Wash</Name><SerialNumPrefix>8100</SerialNumPrefix>"
                       "<SerialNumPrefix>8180</SerialNumPrefix>%3</ZelDmxFixture>"
                       "<EthernetController><Name>Ostrel Hub</Name><DiscoverPort>6038</DiscoverPort>"
                       "%4</EthernetController>"
                       "</ZELBLProductList>")
            .arg(processor(QStringLiteral("53523301")), processor(QStringLiteral("56500001")),
                 processor(QStringLiteral("A55A0101")), processor(QStringLiteral("E7C00101"))));
}

void TestProgrammingRun::cleanupTestCase()
{
    QDir::setCurrent(m_previousDir);
}

void TestProgrammingRun::init()
{
    QDir::setCurrent(m_workDir.path());
}

void TestProgrammingRun::rejectedFileReopensDialogThereAndOnlyGoodNameIsShown()
{
    WindowFixture f(options());
    const QString bad = image(QStringLiteral("bad.hex"), 0x12345678, 0x10040);
    const QString good = image(QStringLiteral("good.hex"), kSorrelMagic, 0x10203);
    f.prompter.expectFileDialog(bad);
    f.prompter.expectMessage(Prompter::Kind::Critical, QStringLiteral("File mismatch!"),
                             QStringLiteral("The firmware image file does not match the device selected!\n\n"
                                            "No product of the catalogue takes this image."));
    f.prompter.expectFileDialog(good);
    clickFileSelect(f);
    QCOMPARE(f.prompter.pendingExpectations(), 0);

    QList<FakePrompter::Shown> dialogs;
    for (const FakePrompter::Shown &s : f.prompter.shown())
        if (s.what == QLatin1String("file"))
            dialogs.append(s);
    QCOMPARE(dialogs.size(), 2);
    QCOMPARE(dialogs.at(0).text, QString()); // first selection starts nowhere in particular
    QCOMPARE(dialogs.at(1).text, bad);
    for (const FakePrompter::Shown &d : dialogs) {
        QCOMPARE(d.title, QStringLiteral("Select Firmware Image"));
        QCOMPARE(d.filter, QStringLiteral("Firmware image (*.hex *pck)"));
        QVERIFY(d.hasParent);
    }
    QCOMPARE(f.find<QLabel>(QStringLiteral("m_label_firmwareImageFile"))->text(), good);
    QCOMPARE(f.find<QLabel>(QStringLiteral("m_label_fileFirmwareVersion"))->text(),
             QStringLiteral("1) Intel HEX: %1 ").arg(0x10203));

    const QString log = f.logLines().join(QLatin1Char('\n'));
    const int failed = log.indexOf(QStringLiteral("INFO - ZelBootLoader - Firmware scan FAILED!"));
    const int succeeded = log.indexOf(QStringLiteral("INFO - ZelBootLoader - Firmware scan SUCCESS!"));
    QVERIFY(log.contains(QStringLiteral("Scanning into memory firmware ") + bad));
    QVERIFY(failed >= 0 && succeeded > failed);
}

void TestProgrammingRun::cancelledSelectionLeavesFileEmptyAndSelectable()
{
    WindowFixture f(options());
    QSignalSpy enables(f.window.get(), &ZelBootLoader::enableControl);
    f.prompter.expectFileDialog(QString());
    clickFileSelect(f);
    QCOMPARE(f.find<QLabel>(QStringLiteral("m_label_firmwareImageFile"))->text(), QString());
    QCOMPARE(controls(f), table(true, false, false, true));
    QCOMPARE(enables.size(), 2);
    QCOMPARE(enables.at(0).at(0).toBool(), false);
    QCOMPARE(enables.at(1).at(0).toBool(), true);
    QVERIFY(f.logLines().filter(QStringLiteral("Scanning")).isEmpty());
}

void TestProgrammingRun::selectionHandsProductToDmxAndEthernetPanels()
{
    WindowFixture f(options());
    auto *interfaces = f.find<QComboBox>(QStringLiteral("m_comboBox_interfaceSelect"));

    interfaces->setCurrentIndex(1);
    f.prompter.expectFileDialog(QString());
    clickFileSelect(f);
    auto *dmx = f.window->findChild<zeldmxInterfaceControl *>();
    QVERIFY(dmx->product());
    QCOMPARE(dmx->product()->name(), QStringLiteral("Cove Wash"));
    QCOMPARE(dmx->serialNumPrefixes(), (QList<quint32>{0x8100, 0x8180}));

    interfaces->setCurrentIndex(2);
    f.prompter.expectFileDialog(image(QStringLiteral("hub.hex"), 0xE7C00101, 0x20001));
    clickFileSelect(f);
    auto *tftp = f.window->findChild<tftpInterfaceControl *>();
    QVERIFY(tftp->product());
    QCOMPARE(tftp->product()->name(), QStringLiteral("Ostrel Hub"));
    QCOMPARE(tftp->discoverPort(), 6038);
    QCOMPARE(controls(f), table(false, false, true, false));
}

void TestProgrammingRun::selectionWithoutDeviceTypeIsRefused()
{
    const QString catalogue = writeFile(m_workDir.filePath(QStringLiteral("usb-only.xml")),
                                        QStringLiteral("<ZELBLProductList><USBDevice><Name>Sorrel 3</Name>"
                                                       "%1</USBDevice></ZELBLProductList>")
                                            .arg(processor(QStringLiteral("53523301"))));
    WindowFixture::Options o;
    o.cataloguePath = catalogue;
    WindowFixture f(o);
    f.find<QComboBox>(QStringLiteral("m_comboBox_interfaceSelect"))->setCurrentIndex(2);
    f.prompter.expectMessage(Prompter::Kind::Warning, QStringLiteral("Warning"),
                             QStringLiteral("No device type is selected. Select a device type "
                                            "before selecting a firmware image."));
    clickFileSelect(f); // no file dialog may open
    QCOMPARE(f.prompter.pendingExpectations(), 0);
    QCOMPARE(controls(f), table(true, false, false, true));
    QCOMPARE(f.logLines().filter(QStringLiteral("WARNING - ZelBootLoader - No device type is selected")).size(), 1);
}

void TestProgrammingRun::selectionOnUnknownInterfaceIsRefusedAndKeepsDeviceListOff()
{
    WindowFixture f(options());
    auto *interfaces = f.find<QComboBox>(QStringLiteral("m_comboBox_interfaceSelect"));
    auto *devices = f.find<QComboBox>(QStringLiteral("m_comboBox_deviceSelect"));
    interfaces->addItem(QStringLiteral("Serial"), 7);
    interfaces->setCurrentIndex(3);
    QVERIFY(!devices->isEnabled());

    f.prompter.expectMessage(Prompter::Kind::Critical, QStringLiteral("Error!"),
                             QStringLiteral("Unknown interface type!"));
    clickFileSelect(f); // and no file dialog
    QCOMPARE(f.prompter.pendingExpectations(), 0);
    QVERIFY(f.prompter.shown().last().hasParent);
    QCOMPARE(f.logLines().filter(QStringLiteral("WARNING - ZelBootLoader - Unknown interface type!")).size(), 1);
    QVERIFY(!devices->isEnabled());
    QVERIFY(interfaces->isEnabled());
    QVERIFY(f.find<QPushButton>(QStringLiteral("m_pushButton_firmwareImageFileSelect"))->isEnabled());

    interfaces->setCurrentIndex(0);
    QVERIFY(devices->isEnabled());
}

void TestProgrammingRun::controlsFollowTheStateTableThroughAWholeRun()
{
    WindowFixture f(options());
    auto *usb = f.window->findChild<usbInterfaceControl *>();
    QCOMPARE(controls(f), table(true, false, false, true)); // after start-up

    Controls duringSelection{};
    connect(f.window.get(), &ZelBootLoader::enableControl, f.window.get(), [&](bool enable) {
        if (!enable)
            duringSelection = controls(f);
    });
    const QString file = image(QStringLiteral("run.hex"), kSorrelMagic, 0x10052);
    sr3(f).setVersionOffset(int(kVersionOffset)); // where the check reads the version back
    f.prompter.expectFileDialog(file);
    clickFileSelect(f);
    QCOMPARE(duringSelection, table(false, false, false, true));
    QCOMPARE(controls(f), table(false, false, true, false)); // image loaded

    connectUsb(f); // the simulated player runs 1.00.82, as the image
    QCOMPARE(usb->deviceFirmwareVersion(), 0x10052);
    QCOMPARE(controls(f), table(false, true, true, false)); // panel reports a device to program

    // While the panel works (it logs as it goes) PROGRAM is off.
    QList<Controls> duringProgram;
    connect(Logger::instance(nullptr), &Logger::latestLogString, f.window.get(),
            [&](const QString &line) {
                if (line.contains(QStringLiteral(" - usbInterfaceControl - ")))
                    duringProgram.append(controls(f));
            });
    // The same version before and after proves nothing about the write.
    f.prompter.expectMessage(Prompter::Kind::Warning, QStringLiteral("Warning"),
                             QStringLiteral("Programming complete, but the new firmware could not be confirmed.\n\nnot verified: the Sorrel 3 "
                                            "reports 01.00.82 as it did before the update, so its version cannot "
                                            "tell the image from the firmware it ran"));
    // The label only shows the name: the panel is handed what was accepted.
    f.find<QLabel>(QStringLiteral("m_label_firmwareImageFile"))->setText(QStringLiteral("/elsewhere.hex"));
    clickProgram(f);
    QCOMPARE(f.prompter.pendingExpectations(), 0);
    QVERIFY(!duringProgram.isEmpty());
    for (const Controls &c : duringProgram)
        QCOMPARE(c, table(false, false, true, false));
    QCOMPARE(usb->firmwareFileName(), file);
    // A Sorrel 3 run finishes inside the call: its completion is not undone
    // when the call returns, so PROGRAM waits for the next device.
    QCOMPARE(controls(f), table(false, false, true, false));
    QCOMPARE(f.window->runState(), ZelBootLoader::RunState::Ready);
    emit usb->signal_enableProgramButton(true);
    QCOMPARE(controls(f), table(false, true, true, false));

    // A run that goes on after program() returned (a transfer on a thread)
    // keeps PROGRAM off until the panel ends it, either way.
    WindowProbe::enterOngoingRun(*f.window);
    QCOMPARE(controls(f), table(false, false, true, false));
    emit usb->signal_programComplete(); // finished; the device was let go
    QCOMPARE(f.window->runState(), ZelBootLoader::RunState::Ready);
    QCOMPARE(controls(f), table(false, false, true, false));
    WindowProbe::enterOngoingRun(*f.window);
    emit usb->signal_enableProgramButton(true); // failed; the device is still offered
    QCOMPARE(f.window->runState(), ZelBootLoader::RunState::Ready);
    QCOMPARE(controls(f), table(false, true, true, false));
}

void TestProgrammingRun::inputQueuedForTheListsWhileLoadingIsIgnored()
{
    WindowFixture f(options());
    auto *interfaces = f.find<QComboBox>(QStringLiteral("m_comboBox_interfaceSelect"));
    auto *devices = f.find<QComboBox>(QStringLiteral("m_comboBox_deviceSelect"));
    // The operator presses keys on both lists while the file is read; the
    // window processes its events meanwhile.
    connect(Logger::instance(nullptr), &Logger::latestLogString, f.window.get(),
            [&](const QString &line) {
                if (!line.contains(QStringLiteral("Scanning into memory firmware")))
                    return;
                for (QComboBox *list : {interfaces, devices})
                    QCoreApplication::postEvent(list, new QKeyEvent(QEvent::KeyPress, Qt::Key_Down,
                                                                    Qt::NoModifier));
            });
    const QString file = image(QStringLiteral("sorrel.hex"), kSorrelMagic, 0x10052);
    sr3(f).setVersionOffset(int(kVersionOffset)); // where the check reads the version back
    f.prompter.expectFileDialog(file);
    clickFileSelect(f);

    // Still the product the file was read for, and it can be programmed.
    QCOMPARE(interfaces->currentText(), QStringLiteral("USB"));
    QCOMPARE(devices->currentText(), QStringLiteral("Sorrel 3"));
    QCOMPARE(controls(f), table(false, false, true, false));
    connectUsb(f);
    f.prompter.expectMessage(Prompter::Kind::Warning, QStringLiteral("Warning"),
                             QStringLiteral("Programming complete, but the new firmware could not be confirmed.\n\nnot verified: the Sorrel 3 "
                                            "reports 01.00.82 as it did before the update, so its version cannot "
                                            "tell the image from the firmware it ran"));
    clickProgram(f);
    QCOMPARE(f.window->findChild<usbInterfaceControl *>()->firmwareFileName(), file);
}

void TestProgrammingRun::versionThresholds_data()
{
    QTest::addColumn<quint32>("device");
    QTest::addColumn<quint32>("image");
    QTest::addColumn<QString>("outcome"); // refused, warned, allowed
    QTest::addColumn<int>("answer");      // to the warning

    const int none = QMessageBox::NoButton;
    QTest::newRow("1.00.55 to 1.00.54 refused") << 0x10037u << 0x10036u << "refused" << none;
    QTest::newRow("1.00.54 to 1.00.10 allowed") << 0x10036u << 0x1000Au << "allowed" << none;
    QTest::newRow("1.00.55 to 1.00.55 allowed") << 0x10037u << 0x10037u << "allowed" << none;
    QTest::newRow("1.00.82 to 1.00.81 warned, abort") << 0x10052u << 0x10051u << "warned" << int(QMessageBox::Abort);
    QTest::newRow("1.00.82 to 1.00.81 warned, yes") << 0x10052u << 0x10051u << "allowed" << int(QMessageBox::Yes);
    QTest::newRow("1.00.81 to 1.00.10 refused, no warning") << 0x10051u << 0x1000Au << "refused" << none;
    QTest::newRow("1.00.90 to 1.00.60 warned only") << 0x1005Au << 0x1003Cu << "warned" << int(QMessageBox::Abort);
    QTest::newRow("1.00.90 to 1.00.50 refused, no warning") << 0x1005Au << 0x10032u << "refused" << none;
    QTest::newRow("1.00.82 to 1.00.82 allowed") << 0x10052u << 0x10052u << "allowed" << none;
    QTest::newRow("upgrade 1.00.10 to 1.00.90 allowed") << 0x1000Au << 0x1005Au << "allowed" << none;
    QTest::newRow("closing the warning is no yes") << 0x10052u << 0x10051u << "warned" << int(QMessageBox::Escape);
    // Version kept in three bytes, the fourth left erased: it is 1.0.48.
    QTest::newRow("erased top byte, 1.00.82 to 1.0.48 refused") << 0x10052u << 0xFF010030u << "refused" << none;
    QTest::newRow("erased top byte, 1.00.82 to 1.00.81 warned") << 0x10052u << 0xFF010051u << "warned"
                                                                << int(QMessageBox::Abort);
}

void TestProgrammingRun::versionThresholds()
{
    QFETCH(quint32, device);
    QFETCH(quint32, image);
    QFETCH(QString, outcome);
    QFETCH(int, answer);
    const QString refusal = QStringLiteral("Unable to downgrade firmware to version 1.00.54 or older");
    const QString warning = QStringLiteral("By downgrading the Firmware you will ***NOT*** be able to "
                                           "use SDHC cards larger then 2GB. \n\nAre you sure you want to continue?");

    WindowFixture f(options());
    prepareSorrel(f, device, image);
    auto *usb = f.window->findChild<usbInterfaceControl *>();
    const int shownBefore = f.prompter.shown().size();
    const bool warned = answer != QMessageBox::NoButton;

    if (outcome == QLatin1String("refused"))
        f.prompter.expectMessage(Prompter::Kind::Critical, QStringLiteral("Critical Error"), refusal);
    if (warned)
        f.prompter.expectMessage(Prompter::Kind::Warning, QStringLiteral("Warning"), warning,
                                 QMessageBox::StandardButton(answer));
    const QString written = usbInterfaceControl::formatVersion(image & 0xFFFFFF);
    // A player that ran the image's version already cannot show the write took.
    if (outcome == QLatin1String("allowed") && (device & 0xFFFFFF) == (image & 0xFFFFFF))
        f.prompter.expectMessage(Prompter::Kind::Warning, QStringLiteral("Warning"),
                                 QStringLiteral("Programming complete, but the new firmware could not be confirmed."
                                                "\n\nnot verified: the Sorrel 3 reports %1 as it did before the "
                                                "update, so its version cannot tell the image from the firmware it ran")
                                     .arg(written));
    else if (outcome == QLatin1String("allowed"))
        f.prompter.expectMessage(Prompter::Kind::Information, QStringLiteral("Information"),
                                 QStringLiteral("Programming complete!\n\nverified: the device reports %1").arg(written));
    QSignalSpy recorded(f.window->runEvents(), &RunEvents::runRecorded);
    clickProgram(f);
    QCOMPARE(f.prompter.pendingExpectations(), 0);

    const QString log = f.logLines().join(QLatin1Char('\n'));
    // The USB panel decides, and logs, what its player may be taken back to.
    QCOMPARE(log.contains(QStringLiteral("SEVERE - usbInterfaceControl - ") + refusal),
             outcome == QLatin1String("refused"));
    QCOMPARE(log.contains(QStringLiteral("WARNING - usbInterfaceControl - By downgrading the Firmware")), warned);
    const QList<FakePrompter::Shown> shown = f.prompter.shown().mid(shownBefore);
    if (outcome == QLatin1String("refused") || warned) {
        QVERIFY(!shown.isEmpty());
        QVERIFY(!shown.first().hasParent);
        if (warned)
            QCOMPARE(shown.first().buttons, QMessageBox::Yes | QMessageBox::Abort);
    }

    const QString file = f.find<QLabel>(QStringLiteral("m_label_firmwareImageFile"))->text();
    if (outcome == QLatin1String("allowed")) {
        QCOMPARE(usb->firmwareFileName(), file);
        QCOMPARE(sr3(f).resetCount(), 2); // after the write, and after the check
        QCOMPARE(usb->lastRunOutcome().result, UsbRunOutcome::Succeeded);
    } else {
        // Refused before anything was sent: one record, of the connected
        // player, that took no time.
        QCOMPARE(recorded.size(), 1);
        const UpdateRecord r = recorded.first().first().value<UpdateRecord>();
        QCOMPARE(r.interfaceNumber, 0);
        QCOMPARE(r.deviceType, QStringLiteral("Sorrel 3"));
        QCOMPARE(r.address, QLatin1String(SimulatedSr3Usb::kDefaultSerialNumber));
        QCOMPARE(r.revisionBefore, usbInterfaceControl::formatVersion(device & 0xFFFFFF));
        QCOMPARE(r.imageFile, file);
        QCOMPARE(r.imageVersion, written);
        QVERIFY(r.revisionAfter.isNull());
        QCOMPARE(r.durationMs, 0);
        if (outcome == QLatin1String("refused")) {
            QCOMPARE(r.outcome, UpdateRecord::Outcome::Failed);
            QCOMPARE(r.reason, refusal + QStringLiteral(". Nothing was sent."));
        } else {
            QCOMPARE(r.outcome, UpdateRecord::Outcome::Cancelled);
            QCOMPARE(r.reason, QStringLiteral("The downgrade to %1 was not confirmed. Nothing was sent.").arg(written));
        }
        QVERIFY(usb->firmwareFileName().isEmpty());
        QVERIFY(!sr3(f).erased());
        QVERIFY(sr3(f).records().isEmpty());
        // Nothing happened: the connected player may still be programmed.
        QVERIFY(f.find<QPushButton>(QStringLiteral("m_pushButton_program"))->isEnabled());
    }
}

void TestProgrammingRun::vireoPlayerTakesBinFilesAndSkipsVersionChecks()
{
    WindowFixture f(options());
    SimulatedVireoPlayer &player = *f.devices->simulatedVireo();
    player.setDelays(0, 0);
    player.setState(SimulatedVireoPlayer::State::BootLoader);
    auto *usb = f.window->findChild<usbInterfaceControl *>();
    usb->setPostDownloadWait(0);
    selectDevice(f, QStringLiteral("Vireo Player"));
    QCOMPARE(usb->deviceKind(), 1);
    const QString bin = writeFile(m_workDir.filePath(QStringLiteral("player.bin")), QStringLiteral("raw image"));
    f.prompter.expectFileDialog(bin);
    clickFileSelect(f);
    QCOMPARE(f.prompter.shown().last().filter, QStringLiteral("Firmware image (*.bin)"));
    QCOMPARE(f.find<QLabel>(QStringLiteral("m_label_firmwareImageFile"))->text(), bin);

    // A Sorrel 3 version that would refuse any image: the Vireo Player is not checked.
    sr3(f).setFirmwareVersion(0x1005A);
    auto *factory = f.find<QCheckBox>(QStringLiteral("m_ckx_FactoryDefault"));
    connectUsb(f); // the player waits in its boot loader
    factory->setChecked(true);
    // A raw image that names no version: written, but not confirmed.
    f.prompter.expectMessage(Prompter::Kind::Warning, QStringLiteral("Warning"), QString());
    clickProgram(f);
    QTRY_COMPARE(f.prompter.pendingExpectations(), 0);
    const QString log = f.logLines().join(QLatin1Char('\n'));
    QVERIFY(!log.contains(QStringLiteral("Unable to downgrade")));
    QVERIFY(!log.contains(QStringLiteral("SDHC")));
    QCOMPARE(usb->firmwareFileName(), bin);
    QVERIFY(usb->factoryDefault());
    QCOMPARE(player.downloadedImage(), QByteArray("raw image"));
}

void TestProgrammingRun::programWithoutAcceptedImageSendsNothing()
{
    WindowFixture f(options());
    auto *usb = f.window->findChild<usbInterfaceControl *>();
    f.prompter.expectFileDialog(QString());
    clickFileSelect(f); // cancelled: no image
    emit usb->signal_enableProgramButton(true);
    const QString text = QStringLiteral("No firmware image has been accepted for Sorrel 3: nothing was programmed.");
    f.prompter.expectMessage(Prompter::Kind::Critical, QStringLiteral("Critical Error"), text);
    clickProgram(f);
    QCOMPARE(f.prompter.pendingExpectations(), 0);
    QVERIFY(f.logLines().join('\n').contains(QStringLiteral("SEVERE - ZelBootLoader - ") + text));
    QVERIFY(!sr3(f).erased());
    QVERIFY(usb->firmwareFileName().isEmpty());
}

void TestProgrammingRun::programWithoutDeviceTypeSendsNothing()
{
    WindowFixture f(options());
    f.find<QComboBox>(QStringLiteral("m_comboBox_deviceSelect"))->setCurrentIndex(-1);
    emit f.window->findChild<usbInterfaceControl *>()->signal_enableProgramButton(true);
    const QString text = QStringLiteral("No device type is selected: nothing was programmed.");
    f.prompter.expectMessage(Prompter::Kind::Critical, QStringLiteral("Critical Error"), text);
    clickProgram(f);
    QCOMPARE(f.prompter.pendingExpectations(), 0);
    QVERIFY(f.logLines().join('\n').contains(QStringLiteral("SEVERE - ZelBootLoader - ") + text));
}

namespace {

QStringList shutdownLogs(const QDir &dir)
{
    return dir.entryList({QStringLiteral("ZELBL_*.log")}, QDir::Files, QDir::Name);
}

QString readAll(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return QString();
    return QString::fromUtf8(file.readAll());
}

const QString kBegin = QStringLiteral("************************ LOG DUMP BEGIN ************************");
const QString kEnd = QStringLiteral("************************  LOG DUMP END  ************************");

} // namespace

void TestProgrammingRun::shutdownLogHoldsTheLogDump()
{
    QTemporaryDir dir;
    QDir::setCurrent(dir.path());
    WindowFixture f(options());
    emit f.window->signal_log(LOG_WARNING, LOGTYPE_GENERAL, QStringLiteral("Test"),
                              QStringLiteral("marker before shutdown"));
    const QStringList pane = f.logLines();
    const QDateTime before = QDateTime::currentDateTime();
    f.destroyWindow();
    const QDateTime after = QDateTime::currentDateTime();

    const QStringList files = shutdownLogs(QDir(dir.path()));
    QCOMPARE(files.size(), 1);
    QVERIFY(files.first() == ZelBootLoader::shutdownLogName(before)
            || files.first() == ZelBootLoader::shutdownLogName(after));
    QVERIFY(QRegularExpression(QStringLiteral("^ZELBL_\\d{8}T\\d{6}\\.log$")).match(files.first()).hasMatch());
    const QStringList lines = readAll(dir.filePath(files.first())).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(lines.first(), kBegin);
    QCOMPARE(lines.last(), kEnd);
    QCOMPARE(lines.mid(1, lines.size() - 2), pane);
}

void TestProgrammingRun::sameSecondShutdownsAppendToOneFile()
{
    QTemporaryDir dir;
    QDir::setCurrent(dir.path());
    // Start just after a second begins so both shutdowns fall into it.
    while (QTime::currentTime().msec() > 100)
        QTest::qSleep(5);
    const QString first = ZelBootLoader::shutdownLogName(QDateTime::currentDateTime());
    for (const char *marker : {"session one", "session two"}) {
        WindowFixture f(options());
        emit f.window->signal_log(LOG_INFO, LOGTYPE_GENERAL, QStringLiteral("Test"), QLatin1String(marker));
    }
    const QString last = ZelBootLoader::shutdownLogName(QDateTime::currentDateTime());
    if (first != last)
        QSKIP("the two shutdowns fell into different seconds");

    QCOMPARE(shutdownLogs(QDir(dir.path())), QStringList{first});
    const QString text = readAll(dir.filePath(first));
    QCOMPARE(text.count(kBegin), 2);
    QCOMPARE(text.count(kEnd), 2);
    QVERIFY(text.indexOf(QStringLiteral("session one")) < text.indexOf(QStringLiteral("session two")));
    QVERIFY(text.indexOf(QStringLiteral("session one")) >= 0);
}

void TestProgrammingRun::shutdownLogKeepsAnEarlierFileOfTheSameName()
{
    QTemporaryDir dir;
    QDir::setCurrent(dir.path());
    // Whatever second the shutdown falls into, a file of that name exists.
    const QDateTime now = QDateTime::currentDateTime();
    for (int s = 0; s < 30; ++s)
        writeFile(dir.filePath(ZelBootLoader::shutdownLogName(now.addSecs(s))),
                  QStringLiteral("earlier session\n"));
    {
        WindowFixture f(options());
    }
    int dumps = 0;
    for (const QString &name : shutdownLogs(QDir(dir.path()))) {
        const QString text = readAll(dir.filePath(name));
        QVERIFY(text.startsWith(QStringLiteral("earlier session\n")));
        if (text.contains(kBegin)) {
            ++dumps;
            QVERIFY(text.indexOf(kBegin) > 0);
        }
    }
    QCOMPARE(dumps, 1);
}

namespace {

// A panel whose work runs on a thread of its own, as the Ethernet panel's
// transfers will: it logs from that thread while it stops.
class ThreadedPanelStandIn : public QObject
{
    Q_OBJECT

public:
    explicit ThreadedPanelStandIn(ZelBootLoader &window)
        : QObject(&window)
    {
        setObjectName(QStringLiteral("threadedPanel"));
        connect(this, &ThreadedPanelStandIn::signal_log, Logger::instance(nullptr), &Logger::log);
        m_worker.moveToThread(&m_thread);
        m_thread.start();
        window.addShutdownStep([this] { shutdown(); });
    }
    // Qt aborts on a QThread destroyed while it runs: reaching here means the
    // window stopped it first.
    ~ThreadedPanelStandIn() override { m_worker.moveToThread(thread()); }

    void shutdown()
    {
        QMetaObject::invokeMethod(
            &m_worker,
            [this] {
                emit signal_log(LOG_INFO, LOGTYPE_GENERAL, objectName(),
                                QStringLiteral("transfer thread stopped"));
            },
            Qt::BlockingQueuedConnection);
        m_thread.quit();
        m_thread.wait();
    }

signals:
    void signal_log(LOGPRIORITY logLevel, LOGTYPE logType, QString objectName, QString logMessage);

private:
    QThread m_thread;
    QObject m_worker;
};

} // namespace

void TestProgrammingRun::threadedPanelStopsBeforeTheLogIsWritten()
{
    QTemporaryDir dir;
    QDir::setCurrent(dir.path());
    {
        WindowFixture f(options());
        new ThreadedPanelStandIn(*f.window);
        f.window->show();
        f.window->close();
    }
    const QStringList files = shutdownLogs(QDir(dir.path()));
    QCOMPARE(files.size(), 1);
    // Logged on the thread while it stopped, queued to the GUI thread, and in
    // the file all the same.
    const QString text = readAll(dir.filePath(files.first()));
    QVERIFY(text.contains(QStringLiteral("INFO - threadedPanel - transfer thread stopped")));
    QVERIFY(text.indexOf(QStringLiteral("transfer thread stopped")) < text.indexOf(kEnd));
}

void TestProgrammingRun::unwritableWorkingDirectorySendsTheLogToTheDataFolder()
{
    // A working directory that cannot be written, root or not: one removed
    // after it was entered, as an installed program meets a read-only folder.
    QTemporaryDir data;
    const QByteArray previousDataHome = qgetenv("XDG_DATA_HOME");
    qputenv("XDG_DATA_HOME", QFile::encodeName(data.path()));
    const QString dataFolder = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    QVERIFY(dataFolder.startsWith(data.path()));
    {
        QTemporaryDir gone;
        QDir::setCurrent(gone.path());
    }
    {
        WindowFixture f(options());
        QCOMPARE(f.window->outputFolder(), dataFolder);
        QCOMPARE(f.window->updateRecordFolder(), dataFolder); // later files go there too
        // Said at start-up, where the operator sees it.
        QCOMPARE(f.logLines().filter(QStringLiteral("INFO - ZelBootLoader - The session log will be written to ")
                                     + dataFolder + QStringLiteral(" when the program ends.")).size(), 1);
        emit f.window->signal_log(LOG_INFO, LOGTYPE_GENERAL, QStringLiteral("Test"),
                                  QStringLiteral("kept despite the folder"));
    }
    QDir::setCurrent(m_workDir.path());
    qputenv("XDG_DATA_HOME", previousDataHome);
    const QStringList files = shutdownLogs(QDir(dataFolder));
    QCOMPARE(files.size(), 1);
    QVERIFY(readAll(QDir(dataFolder).filePath(files.first())).contains(QStringLiteral("kept despite the folder")));
}

QTEST_MAIN(TestProgrammingRun)
#include "test_ProgrammingRun.moc"
