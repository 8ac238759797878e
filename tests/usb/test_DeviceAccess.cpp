#include "usb/Device_VireoPlayer.h"
#include "usb/HCC_HID.h"
#include "usb/HidapiBackend.h"
#include "usb/SerialLine.h"
#include "usb/Sr3UsbNotPresent.h"
#include "usb/usbInterfaceControl.h"
#include "usb/SimulatedVireoPlayer.h"
#include "tests/app/WindowFixture.h"
#include "tests/support/FakePrompter.h"
#include "tests/support/RecordingPauser.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <pty.h>
#include <sys/stat.h>
#include <QtEndian>

#include <unistd.h>

namespace {

// The system's list of serial ports, as a test makes it.
class ListedPorts : public SerialPorts
{
public:
    QList<SerialPortEntry> entries;
    QList<SerialPortEntry> availablePorts() override { return entries; }
    std::unique_ptr<SerialLine> line(const SerialPortEntry &) override { return nullptr; }
};

// A hidraw node as sysfs and /dev show it, in a folder of the test's own.
bool addHidraw(const QString &root, const QString &name, const QByteArray &hidId, mode_t mode)
{
    const QString device = root + QStringLiteral("/sys/class/hidraw/") + name + QStringLiteral("/device");
    if (!QDir().mkpath(device) || !QDir().mkpath(root + QStringLiteral("/dev")))
        return false;
    QFile uevent(device + QStringLiteral("/uevent"));
    QFile node(root + QStringLiteral("/dev/") + name);
    if (!uevent.open(QIODevice::WriteOnly) || !node.open(QIODevice::WriteOnly))
        return false;
    uevent.write("DRIVER=hid-generic\nHID_ID=" + hidId + "\nHID_NAME=Vireo Player Boot Loader\n");
    node.close();
    return ::chmod(QFile::encodeName(node.fileName()).constData(), mode) == 0;
}

} // namespace

// A Vireo Player whose nodes this user may not open: a pseudo-terminal made
// unreadable stands in for its serial port, a node in a sysfs tree of our own
// for its boot loader. What may not be opened is named, never "not found".
class TestDeviceAccess : public QObject
{
    Q_OBJECT

private:
    // Root opens every node: only another user sees the refusals. The
    // running row runs again in this executable, as nobody.
    void rerunAsNobody()
    {
        QProcess child;
        child.setProcessChannelMode(QProcess::MergedChannels);
        QString row = QString::fromLatin1(QTest::currentTestFunction());
        if (QTest::currentDataTag())
            row += QLatin1Char(':') + QString::fromLocal8Bit(QTest::currentDataTag());
        child.start(QStringLiteral("setpriv"),
                    {QStringLiteral("--reuid=nobody"), QStringLiteral("--regid=nogroup"),
                     QStringLiteral("--clear-groups"), QCoreApplication::applicationFilePath(), row});
        if (!child.waitForStarted())
            QSKIP("running as root and setpriv cannot start to drop to the user nobody");
        QVERIFY(child.waitForFinished(120000));
        const QByteArray output = child.readAll();
        if (!output.contains("Totals:"))
            QSKIP(qPrintable(QStringLiteral("running as root and the test cannot run as nobody: %1")
                                 .arg(QString::fromLocal8Bit(output.trimmed()))));
        QVERIFY2(child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0, output.constData());
    }

    // A window on simulated devices with the Vireo Player selected and an
    // image of version 2.1.0 accepted; null when the set-up failed.
    std::unique_ptr<WindowFixture> vireoWindow(QByteArray &image)
    {
        const QString catalogue = writeFile(m_workDir.filePath(QStringLiteral("vireo.xml")),
                                            QStringLiteral("<ZELBLProductList><USBDevice><Name>Vireo Player</Name>"
                                                           "</USBDevice></ZELBLProductList>"));
        image = QByteArray(4096, '\x5A');
        qToLittleEndian<quint32>(SimulatedVireoPlayer::kImageMagic, image.data() + SimulatedVireoPlayer::kMagicOffset);
        qToLittleEndian<quint32>(0x020100, image.data() + SimulatedVireoPlayer::kVersionOffset);
        QFile file(m_workDir.filePath(QStringLiteral("vireo.bin")));
        if (!file.open(QIODevice::WriteOnly) || file.write(image) != image.size())
            return nullptr;
        file.close();

        WindowFixture::Options options;
        options.cataloguePath = catalogue;
        auto f = std::make_unique<WindowFixture>(options);
        auto *usb = f->window->findChild<usbInterfaceControl *>();
        SimulatedVireoPlayer *player = f->devices->simulatedVireo();
        if (!player->hasLine())
            return nullptr;
        player->setDelays(0, 0);
        usb->setPostDownloadWait(20);
        VireoTimings quick;
        quick.replyWindowMs = 500;
        quick.nextFrameMs = 500;
        quick.bootLoaderPollMs = 10;
        usb->setVireoTimings(quick);
        f->prompter.expectFileDialog(file.fileName());
        f->find<QPushButton>(QStringLiteral("m_pushButton_firmwareImageFileSelect"))->click();
        return f;
    }

private slots:
    void initTestCase() { QVERIFY(QDir::setCurrent(m_workDir.path())); }
    void refusedPlayerIsNamedWithWhatToDo_data();
    void refusedPlayerIsNamedWithWhatToDo();
    void playerBackOnRefusedPortIsNotVerifiedAndSaysWhy();
    void playerRestartedIntoRefusedBootLoaderIsNamed();

private:
    QTemporaryDir m_workDir; // the window's session log and image dump
};

void TestDeviceAccess::refusedPlayerIsNamedWithWhatToDo_data()
{
    QTest::addColumn<bool>("portRefused"); // the player's serial port is there, refused
    QTest::addColumn<int>("loaderMode");   // its boot loader's node; -1: none
    QTest::addColumn<bool>("offered");

    QTest::newRow("serial port refused") << true << -1 << false;
    QTest::newRow("boot loader refused") << false << 0000 << false;
    QTest::newRow("boot loader readable, not writable") << false << 0444 << false;
    QTest::newRow("both refused") << true << 0000 << false;
    QTest::newRow("boot loader open to this user: offered") << false << 0600 << true;
}

void TestDeviceAccess::refusedPlayerIsNamedWithWhatToDo()
{
    if (::geteuid() == 0)
        return rerunAsNobody();

    QFETCH(bool, portRefused);
    QFETCH(int, loaderMode);
    QFETCH(bool, offered);
    QTemporaryDir root;
    QVERIFY(root.isValid());

    ListedPorts ports;
    int master = -1;
    int slave = -1;
    QString portPath;
    if (portRefused) {
        QVERIFY(::openpty(&master, &slave, nullptr, nullptr, nullptr) == 0);
        portPath = QString::fromLocal8Bit(::ptsname(master));
        QVERIFY(::chmod(::ptsname(master), 0) == 0);
        SerialPortEntry entry;
        entry.portName = QStringLiteral("ttyACM0");
        entry.systemLocation = portPath;
        entry.vendorId = VIREO_VENDOR_ID;
        entry.productId = VIREO_SERIAL_PRODUCT_ID;
        entry.hasIds = true;
        ports.entries.append(entry);
    }
    const auto closePty = qScopeGuard([&] {
        if (master >= 0)
            ::close(master);
        if (slave >= 0)
            ::close(slave);
    });
    const QString loaderPath = root.filePath(QStringLiteral("dev/hidraw1"));
    // Another HID device beside it, open to all, that is not the player's.
    QVERIFY(addHidraw(root.path(), QStringLiteral("hidraw0"), "0003:0000046D:0000C077", 0666));
    if (loaderMode >= 0)
        QVERIFY(addHidraw(root.path(), QStringLiteral("hidraw1"), "0003:0000F0E5:00002125", mode_t(loaderMode)));

    HidapiBackend backend(root.filePath(QStringLiteral("sys")), root.filePath(QStringLiteral("dev")));
    FakePrompter prompter;
    RecordingPauser pauser;
    Sr3UsbNotPresent sr3;
    if (!offered)
        prompter.expectMessage(Prompter::Kind::Warning, QStringLiteral("Warning"), QString());
    usbInterfaceControl panel(prompter, pauser, sr3, ports, backend);
    panel.setDeviceKind(1);
    QSignalSpy logs(&panel, &usbInterfaceControl::signal_log);
    QSignalSpy done(&panel, &usbInterfaceControl::signal_deviceSearchDone);
    panel.findDevice(QString());
    QVERIFY(done.wait(30000));
    QCOMPARE(done.first().at(0).toBool(), offered);
    QCOMPARE(prompter.pendingExpectations(), 0);
    QVERIFY(!prompter.unexpectedSeen());

    HCC_HID hid(backend);
    const int opened = hid.openDevice(VIREO_VENDOR_ID, VIREO_BOOTLOADER_PRODUCT_ID);
    if (offered) {
        QCOMPARE(done.first().at(1).toString(), QStringLiteral("Vireo Player is ready to be programmed."));
        // Opening goes as far as the (missing) report descriptor: it was tried.
        QCOMPARE(opened, int(HCC_HID::NotFound));
        return;
    }

    // The box, the log and the run's answer all say what is there and what to do.
    const QString box = prompter.shown().first().text;
    QStringList logged;
    for (const QList<QVariant> &entry : logs)
        logged.append(entry.at(3).toString());
    QVERIFY2(logged.contains(box), qPrintable(logged.join(QLatin1Char('\n'))));
    QCOMPARE(done.first().at(1).toString(), box);
    QVERIFY2(box.startsWith(QStringLiteral("A Vireo Player is there, but this user may not open it:")), qPrintable(box));
    QVERIFY2(box.endsWith(QStringLiteral("To reach it: install the package's udev rules, or add your user to "
                                         "dialout, then plug the player in again.")),
             qPrintable(box));
    QVERIFY2(!box.contains(QStringLiteral("found")), qPrintable(box));
    const QString refusedText = loaderMode == 0444 ? QStringLiteral("write access refused")
                                                   : QStringLiteral("read and write access refused");
    if (portRefused)
        QVERIFY2(box.contains(portPath + QStringLiteral(": read and write access refused (owner ")), qPrintable(box));
    if (loaderMode >= 0)
        QVERIFY2(box.contains(loaderPath + QStringLiteral(": ") + refusedText), qPrintable(box));
    QVERIFY(!box.contains(QStringLiteral("hidraw0")));

    // A download that got this far would not call the device missing either.
    if (loaderMode >= 0) {
        QCOMPARE(opened, int(HCC_HID::Refused));
        QVERIFY2(hid.lastError().contains(loaderPath) && hid.lastError().contains(refusedText),
                 qPrintable(hid.lastError()));
    } else {
        QCOMPARE(opened, int(HCC_HID::NotFound));
    }
}

// The player took its firmware and restarted, but its serial port came back
// refused (only the boot loader's node had the user's access): the run ends
// at once, not verified, and says why, rather than waiting for a player that
// "did not start again".
void TestDeviceAccess::playerBackOnRefusedPortIsNotVerifiedAndSaysWhy()
{
    if (::geteuid() == 0)
        return rerunAsNobody();

    QByteArray image;
    const std::unique_ptr<WindowFixture> window = vireoWindow(image);
    QVERIFY(window);
    WindowFixture &f = *window;
    auto *usb = f.window->findChild<usbInterfaceControl *>();
    SimulatedVireoPlayer *player = f.devices->simulatedVireo();
    // Long enough that a run still waiting for its player would show.
    usb->setVerifyWait(60000);
    const QByteArray line = QFile::encodeName(player->linePath());
    QObject::connect(player, &SimulatedVireoPlayer::stateChanged, player, [&](SimulatedVireoPlayer::State state) {
        if (state == SimulatedVireoPlayer::State::Application && player->downloads() > 0)
            ::chmod(line.constData(), 0);
    });
    f.prompter.expectMessage(Prompter::Kind::Question, QStringLiteral("Vireo Player Bootloader"), QString(),
                             QMessageBox::Yes);
    f.find<QPushButton>(QStringLiteral("m_pushButton_USBConnect"))->click();
    QVERIFY(f.find<QPushButton>(QStringLiteral("m_pushButton_program"))->isEnabled());

    QList<UpdateRecord> records;
    QObject::connect(usb, &usbInterfaceControl::signal_runRecord, usb,
                     [&records](const UpdateRecord &record) { records.append(record); });
    f.prompter.expectMessage(Prompter::Kind::Warning, QStringLiteral("Warning"), QString());
    QSignalSpy complete(usb, &usbInterfaceControl::signal_programComplete);
    f.find<QPushButton>(QStringLiteral("m_pushButton_program"))->click();
    QVERIFY(complete.wait(30000));
    QCOMPARE(player->downloadedImage(), image);
    QCOMPARE(records.size(), 1);
    QCOMPARE(records.first().outcome, UpdateRecord::Outcome::NotVerified);
    const QString reason = records.first().reason;
    QVERIFY2(reason.startsWith(QStringLiteral("the Vireo Player is back, but this user may not open it (")
                               + player->linePath() + QStringLiteral(": read and write access refused")),
             qPrintable(reason));
    QVERIFY2(reason.endsWith(QStringLiteral("to reach it: install the package's udev rules, or add your user to "
                                            "dialout, then plug the player in again")),
             qPrintable(reason));
    QVERIFY2(f.prompter.shown().last().text.contains(reason), qPrintable(f.prompter.shown().last().text));
    QVERIFY(f.prompter.shown().last().text.startsWith(QStringLiteral("Programming complete, but the new firmware "
                                                                     "could not be confirmed.")));
}

// The common case on a machine without the package's rules: the user is in
// dialout, so the player's port opens and it restarts into its boot loader,
// whose hidraw node is root's. That is said as such, not as a failed reboot.
void TestDeviceAccess::playerRestartedIntoRefusedBootLoaderIsNamed()
{
    QByteArray image;
    const std::unique_ptr<WindowFixture> window = vireoWindow(image);
    QVERIFY(window);
    WindowFixture &f = *window;
    SimulatedVireoPlayer *player = f.devices->simulatedVireo();
    const QString refusal = QStringLiteral("read and write access refused (owner root, group root, mode crw-------)");
    QObject::connect(player, &SimulatedVireoPlayer::stateChanged, player, [&](SimulatedVireoPlayer::State state) {
        if (state != SimulatedVireoPlayer::State::BootLoader)
            return;
        for (const HidDeviceInfo &device : player->hid().devices())
            player->hid().setRefused(device.path, refusal);
    });
    f.prompter.expectMessage(Prompter::Kind::Question, QStringLiteral("Vireo Player Bootloader"), QString(),
                             QMessageBox::Yes);
    f.prompter.expectMessage(Prompter::Kind::Warning, QStringLiteral("Warning"), QString());
    auto *usb = f.window->findChild<usbInterfaceControl *>();
    QSignalSpy done(usb, &usbInterfaceControl::signal_deviceSearchDone);
    usb->findDevice(QString());
    QVERIFY(done.wait(30000));
    QCOMPARE(done.first().at(0).toBool(), false);
    QCOMPARE(f.prompter.pendingExpectations(), 0);
    const QString box = f.prompter.shown().last().text;
    QCOMPARE(done.first().at(1).toString(), box);
    QVERIFY2(box.startsWith(QStringLiteral("A Vireo Player is there, but this user may not open it:\nsimulated-hid-")),
             qPrintable(box));
    QVERIFY2(box.contains(QStringLiteral(": ") + refusal + QStringLiteral("\n\nTo reach it: install the package's")),
             qPrintable(box));
    QVERIFY(!f.find<QPushButton>(QStringLiteral("m_pushButton_program"))->isEnabled());
    QCOMPARE(player->downloads(), 0);
}

QTEST_MAIN(TestDeviceAccess)
#include "test_DeviceAccess.moc"
