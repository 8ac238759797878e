#include "usb/Device_VireoPlayer.h"
#include "usb/HCC_HID.h"
#include "usb/HidapiBackend.h"
#include "usb/SerialLine.h"
#include "usb/Sr3UsbNotPresent.h"
#include "usb/usbInterfaceControl.h"
#include "tests/support/FakePrompter.h"
#include "tests/support/RecordingPauser.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <pty.h>
#include <sys/stat.h>
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

private slots:
    void refusedPlayerIsNamedWithWhatToDo_data();
    void refusedPlayerIsNamedWithWhatToDo();
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
    if (::geteuid() == 0) {
        // Root opens every node: only another user sees the refusals. The
        // row runs again in this executable, as nobody.
        QProcess child;
        child.setProcessChannelMode(QProcess::MergedChannels);
        child.start(QStringLiteral("setpriv"),
                    {QStringLiteral("--reuid=nobody"), QStringLiteral("--regid=nogroup"),
                     QStringLiteral("--clear-groups"), QCoreApplication::applicationFilePath(),
                     QStringLiteral("%1:%2").arg(QTest::currentTestFunction(), QTest::currentDataTag())});
        if (!child.waitForStarted())
            QSKIP("running as root and setpriv cannot start to drop to the user nobody");
        QVERIFY(child.waitForFinished(60000));
        const QByteArray output = child.readAll();
        if (!output.contains("Totals:"))
            QSKIP(qPrintable(QStringLiteral("running as root and the test cannot run as nobody: %1")
                                 .arg(QString::fromLocal8Bit(output.trimmed()))));
        QVERIFY2(child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0, output.constData());
        return;
    }

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

QTEST_MAIN(TestDeviceAccess)
#include "test_DeviceAccess.moc"
