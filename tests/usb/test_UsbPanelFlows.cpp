// The USB players through the real window: connect, PROGRAM, and what the
// simulated players end up holding.
#include "tests/app/WindowFixture.h"

#include "catalogue/BootLoadProduct.h"
#include "catalogue/MicroprocessorImageInfo.h"
#include "usb/SimulatedHidDevices.h"
#include "usb/SimulatedSr3Usb.h"
#include "usb/SimulatedVireoPlayer.h"
#include "usb/usbInterfaceControl.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCryptographicHash>
#include <QFile>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QtEndian>

namespace {

using Kind = Prompter::Kind;

constexpr quint32 kSorrelMagic = 0x53523301;
constexpr int kImageSize = 0x800;
constexpr int kMagicOffset = 0x10;
constexpr int kVersionOffset = 0x14;

QString sorrel(const QString &name, int pageSize)
{
    return QStringLiteral("<USBDevice><Name>%1</Name><Processor><ProcName>main</ProcName>"
                          "<Heirarchy>1</Heirarchy><FileType>Intel HEX</FileType><BLRev>1</BLRev>"
                          "<PageSize>%2</PageSize><WordSize>1</WordSize><WordCount>800</WordCount>"
                          "<MagicLoc>10</MagicLoc><MagicFlag>53523301</MagicFlag><VerLoc>14</VerLoc>"
                          "</Processor></USBDevice>")
        .arg(name, QString::number(pageSize));
}

// A whole image: counting bytes, with the magic and version words in place.
QByteArray sorrelImage(quint32 version)
{
    QByteArray image(kImageSize, '\0');
    for (int i = 0; i < kImageSize; ++i)
        image[i] = char(i * 7 + (i >> 8));
    qToLittleEndian<quint32>(kSorrelMagic, image.data() + kMagicOffset);
    qToLittleEndian<quint32>(version, image.data() + kVersionOffset);
    return image;
}

QString intelHex(const QByteArray &image)
{
    QString text;
    for (int at = 0; at < image.size(); at += 16) {
        QByteArray record;
        const QByteArray data = image.mid(at, 16);
        record.append(char(data.size()));
        record.append(char(at >> 8));
        record.append(char(at));
        record.append('\0');
        record.append(data);
        quint8 sum = 0;
        for (char c : record)
            sum += quint8(c);
        record.append(char(quint8(-sum)));
        text += QLatin1Char(':') + QString::fromLatin1(record.toHex().toUpper()) + QLatin1Char('\n');
    }
    return text + QStringLiteral(":00000001FF\n");
}

QString writeBinary(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        qFatal("cannot write %s", qPrintable(path));
    file.write(bytes);
    return path;
}

// A Vireo Player image of the given size carrying its magic and version
// words; version 0 leaves them out.
QByteArray vireoImage(int size, quint32 version)
{
    QByteArray image(size, '\0');
    for (int i = 0; i < size; ++i)
        image[i] = char(i % 251);
    if (version == 0)
        return image;
    qToLittleEndian<quint32>(SimulatedVireoPlayer::kImageMagic, image.data() + SimulatedVireoPlayer::kMagicOffset);
    qToLittleEndian<quint32>(version, image.data() + SimulatedVireoPlayer::kVersionOffset);
    return image;
}

QString sha256(const QString &path)
{
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    return QString::fromLatin1(QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256).toHex());
}

const char kOverwriteQuestion[] = "This device (SN:VP-004217) already has firmware version: 1.2.0 installed. "
                                  "\r\n Overwrite it?";

} // namespace

class TestUsbPanelFlows : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_catalogue;

    struct Run {
        std::unique_ptr<WindowFixture> f;
        usbInterfaceControl *usb = nullptr;
        SimulatedSr3Usb *sr3 = nullptr;
        SimulatedVireoPlayer *vireo = nullptr;

        QPushButton *button(const char *name) const { return f->find<QPushButton>(QLatin1String(name)); }
        QString label(const char *name) const { return f->find<QLabel>(QLatin1String(name))->text(); }
        bool programEnabled() const { return button("m_pushButton_program")->isEnabled(); }
        void connectPlayer() const { button("m_pushButton_USBConnect")->click(); }
        void program() const { button("m_pushButton_program")->click(); }
        // A wait that ended leaves neither the indicator nor its text behind.
        bool waitLeft() const
        {
            const QString text = f->window->statusText();
            return !f->find<QProgressBar>(QStringLiteral("m_progress_busy"))->isHidden()
                || text.contains(QChar(0x2026)) || text.startsWith(QLatin1String("Connecting"));
        }
        QList<UpdateRecord> records;
        void keepRecords()
        {
            QObject::connect(usb, &usbInterfaceControl::signal_runRecord, usb,
                             [this](const UpdateRecord &record) { records.append(record); });
        }
        QStringList usbLog() const
        {
            QStringList out;
            for (const QString &line : f->logLines()) {
                const int at = line.indexOf(QLatin1String(" - usbInterfaceControl - "));
                if (at >= 0)
                    out.append(line.mid(at + 25));
            }
            return out;
        }
    };

    // A window with the device type selected and the file accepted: the
    // panel is ready to connect.
    Run start(const QString &device, const QString &file)
    {
        Run r;
        WindowFixture::Options o;
        o.cataloguePath = m_catalogue;
        r.f = std::make_unique<WindowFixture>(o);
        r.usb = r.f->window->findChild<usbInterfaceControl *>();
        r.sr3 = static_cast<SimulatedSr3Usb *>(&r.f->devices->sr3());
        r.vireo = r.f->devices->simulatedVireo();
        r.vireo->setDelays(0, 0);
        r.usb->setPostDownloadWait(20);
        VireoTimings quick;
        quick.replyWindowMs = 500;
        quick.nextFrameMs = 500;
        quick.bootLoaderPollMs = 10;
        r.usb->setVireoTimings(quick);
        auto *devices = r.f->find<QComboBox>(QStringLiteral("m_comboBox_deviceSelect"));
        devices->setCurrentIndex(devices->findText(device));
        r.f->prompter.expectFileDialog(file);
        r.f->find<QPushButton>(QStringLiteral("m_pushButton_firmwareImageFileSelect"))->click();
        return r;
    }
    Run startSorrel(const QString &device = QStringLiteral("Sorrel 3"), quint32 version = 0x10052)
    {
        const QString file = writeFile(m_dir.filePath(QStringLiteral("sorrel.hex")), intelHex(sorrelImage(version)));
        Run r = start(device, file);
        r.sr3->setFlashSize(0x1000);
        r.sr3->setVersionOffset(kVersionOffset);
        return r;
    }

private slots:
    void initTestCase();

    void sorrelConnect_data();
    void sorrelConnect();
    void sorrelProgramWritesExactlyTheImagePages_data();
    void sorrelProgramWritesExactlyTheImagePages();
    void sorrelRefusedRecordStopsWithoutReset();

    void vireoConnectFromApplication_data();
    void vireoConnectFromApplication();
    void vireoConnectRefusals_data();
    void vireoConnectRefusals();
    void vireoDownloadAndRestart_data();
    void vireoDownloadAndRestart();
    void vireoAfterDownload_data();
    void vireoAfterDownload();

    void sorrelRunIsCheckedAndRecorded_data();
    void sorrelRunIsCheckedAndRecorded();
    void vireoRunIsCheckedAndRecorded_data();
    void vireoRunIsCheckedAndRecorded();
    void findDeviceConnectsAsTheButtonDoes_data();
    void findDeviceConnectsAsTheButtonDoes();
    void findDeviceDuringARunOrWhileClosingConnectsNothing();

    void simulatedModeUpdatesBothPlayersAtItsOwnPace();
    void closingTheWindowLetsGoOfThePlayers();
    void closingMidRunRecordsWhatThePlayerWasLeftWith_data();
    void closingMidRunRecordsWhatThePlayerWasLeftWith();
};

void TestUsbPanelFlows::initTestCase()
{
    QVERIFY(m_dir.isValid());
    QDir::setCurrent(m_dir.path()); // the image dump lands here
    m_catalogue = writeFile(m_dir.filePath(QStringLiteral("zelblprod.xml")),
                            QStringLiteral("<ZELBLProductList>%1%2"
                                           "<USBDevice><Name>Vireo Player</Name></USBDevice>"
                                           "</ZELBLProductList>")
                                .arg(sorrel(QStringLiteral("Sorrel 3"), 256),
                                     sorrel(QStringLiteral("Sorrel 3 wide pages"), 1024)));
}

void TestUsbPanelFlows::sorrelConnect_data()
{
    QTest::addColumn<int>("inApplication");
    QTest::addColumn<int>("inBootLoader");
    QTest::addColumn<int>("firmware");   // -1: unreadable
    QTest::addColumn<int>("bootLoader"); // -1: unreadable
    QTest::addColumn<bool>("openFails");
    QTest::addColumn<int>("answer");     // to "continue anyway?"; NoButton when not asked
    QTest::addColumn<QString>("warning"); // empty when connected
    QTest::addColumn<QString>("firmwareText");
    QTest::addColumn<QString>("bootLoaderText");

    const int none = QMessageBox::NoButton;
    // The player's version is followed by the image's (01.00.82) when both are known.
    QTest::newRow("in application mode") << 1 << 0 << 0x10052 << 0x10003 << false << none << ""
                                         << "01.00.82 → 01.00.82" << "01.00.03";
    QTest::newRow("already in its boot loader") << 0 << 1 << 0x1005A << 0x1020304 << false << none << ""
                                                << "01.00.90 → 01.00.82" << "01.02.03.04";
    QTest::newRow("boot loader version unreadable") << 1 << 0 << 0x10052 << -1 << false << none << ""
                                                    << "01.00.82 → 01.00.82" << "UNKNOWN";
    QTest::newRow("firmware unreadable, continue") << 1 << 0 << -1 << 0x10003 << false
                                                   << int(QMessageBox::Yes) << "" << "UNKNOWN" << "01.00.03";
    QTest::newRow("firmware unreadable, stop") << 1 << 0 << -1 << 0x10003 << false << int(QMessageBox::No)
                                               << "" << "No device selected" << "";
    QTest::newRow("two in application mode")
        << 2 << 0 << 0 << 0 << false << none << "More than one Sorrel 3 interface found.\n\nDisconnect all but one."
        << "No device selected" << "";
    QTest::newRow("one in each mode")
        << 1 << 1 << 0 << 0 << false << none
        << "More than one Sorrel 3 (low level) found.\n\nDisconnect all but one." << "No device selected" << "";
    QTest::newRow("none") << 0 << 0 << 0 << 0 << false << none << "No Sorrel 3's found on USB!"
                          << "No device selected" << "";
    QTest::newRow("open fails") << 0 << 1 << 0 << 0 << true << none << "Error opening Sorrel 3: 3"
                                << "No device selected" << "";
}

void TestUsbPanelFlows::sorrelConnect()
{
    QFETCH(int, inApplication);
    QFETCH(int, inBootLoader);
    QFETCH(int, firmware);
    QFETCH(int, bootLoader);
    QFETCH(bool, openFails);
    QFETCH(int, answer);
    QFETCH(QString, warning);

    Run r = startSorrel();
    r.sr3->setPlayers(inApplication, inBootLoader);
    r.sr3->setFirmwareVersion(firmware);
    r.sr3->setBootloaderVersion(bootLoader);
    r.sr3->setOpenFails(openFails);
    if (answer != QMessageBox::NoButton)
        r.f->prompter.expectMessage(Kind::Question, QStringLiteral("Warning"),
                                    QStringLiteral("Could not read version from Sorrel 3.\n\nDo you want to continue anyway?"),
                                    QMessageBox::StandardButton(answer));
    if (!warning.isEmpty())
        r.f->prompter.expectMessage(Kind::Warning, QStringLiteral("Warning"), warning);
    r.connectPlayer();
    QCOMPARE(r.f->prompter.pendingExpectations(), 0);

    const bool connected = warning.isEmpty() && answer != QMessageBox::No;
    QTEST(r.label("m_label_SR3Device"), "firmwareText");
    // Only a player in its firmware tells its serial number.
    QCOMPARE(r.label("m_lblSerialNr"), inApplication == 1 ? QStringLiteral("SR3-001207") : QString());
    QTEST(r.label("m_label_SR3SorrelVersion"), "bootLoaderText");
    QCOMPARE(r.programEnabled(), connected);
    // Connected, the button waits for the run; otherwise it is offered again.
    QCOMPARE(r.button("m_pushButton_USBConnect")->isEnabled(), !connected);
    QCOMPARE(r.sr3->isOpen(), connected);
    QCOMPARE(r.usb->deviceFirmwareVersion(), connected && firmware > 0 ? firmware : 0);
    QCOMPARE(r.usbLog().contains(QStringLiteral("USB device connect succeeded.")), connected);
    QVERIFY2(!r.waitLeft(), qPrintable(r.f->window->statusText()));
    QCOMPARE(r.usbLog().contains(QStringLiteral("USB device connect failed!")), !warning.isEmpty());
    if (connected)
        QCOMPARE(r.f->pauser.pauses, QList<int>{500});
    QCOMPARE(r.sr3->resetCount(), 0);
}

void TestUsbPanelFlows::sorrelProgramWritesExactlyTheImagePages_data()
{
    QTest::addColumn<QString>("device");
    QTest::addColumn<int>("records");
    QTest::newRow("256-byte pages") << "Sorrel 3" << 8;
    // Records of 2061 characters: far more than a fixed 1024-byte buffer holds.
    QTest::newRow("1024-byte pages") << "Sorrel 3 wide pages" << 2;
}

void TestUsbPanelFlows::sorrelProgramWritesExactlyTheImagePages()
{
    QFETCH(QString, device);
    QFETCH(int, records);
    Run r = startSorrel(device, 0x1005A);
    r.connectPlayer();
    QSignalSpy complete(r.usb, &usbInterfaceControl::signal_programComplete);
    r.f->prompter.expectMessage(Kind::Information, QStringLiteral("Information"),
                                QStringLiteral("Programming complete!\n\nverified: the device reports 01.00.90"));
    r.program();
    QCOMPARE(r.f->prompter.pendingExpectations(), 0);

    QCOMPARE(r.sr3->records().size(), records);
    QCOMPARE(r.sr3->badRecords(), 0);
    const QByteArray expected = sorrelImage(0x1005A);
    QCOMPARE(r.sr3->flash().left(kImageSize), expected);
    QCOMPARE(r.sr3->flash().mid(kImageSize), QByteArray(0x1000 - kImageSize, char(0xFF)));
    // Reset after the write, and again after the check read its version.
    QCOMPARE(r.sr3->resetCount(), 2);
    QCOMPARE(complete.size(), 1);
    QCOMPARE(r.usb->lastRunOutcome().result, UsbRunOutcome::Succeeded);
    const auto &progress = *r.f->prompter.progresses().last();
    QCOMPARE(progress.label, QStringLiteral("Programming..."));
    QCOMPARE(progress.maximum, records);
    QCOMPARE(progress.values.last(), records);
    QVERIFY(progress.closed);
    const QStringList log = r.usbLog();
    QVERIFY(log.contains(QStringLiteral("Erasing %1 flash complete.").arg(device)));
    QVERIFY(log.contains(QStringLiteral("Program of %1 complete!").arg(device)));
    QVERIFY(r.button("m_pushButton_USBConnect")->isEnabled());
    QVERIFY(!r.programEnabled());
    QCOMPARE(r.label("m_label_SR3Device"), QString());

    // Connected again, the player runs the image's version.
    r.connectPlayer();
    QCOMPARE(r.label("m_label_SR3Device"), QStringLiteral("01.00.90 → 01.00.90"));
    QCOMPARE(r.usb->deviceFirmwareVersion(), 0x1005A);
}

void TestUsbPanelFlows::sorrelRefusedRecordStopsWithoutReset()
{
    Run r = startSorrel();
    r.sr3->refuseRecord(4);
    r.connectPlayer();
    QSignalSpy complete(r.usb, &usbInterfaceControl::signal_programComplete);
    r.f->prompter.expectMessage(Kind::Warning, QStringLiteral("Warning"), QStringLiteral("Error sending record 4"));
    r.program();
    QCOMPARE(r.f->prompter.pendingExpectations(), 0);
    QCOMPARE(r.sr3->records().size(), 4);
    QCOMPARE(r.sr3->resetCount(), 0);
    QCOMPARE(complete.size(), 1);
    QVERIFY(r.usbLog().contains(QStringLiteral("Error sending record 4")));
    QCOMPARE(r.usb->lastRunOutcome().result, UsbRunOutcome::Failed);
    QCOMPARE(r.usb->lastRunOutcome().reason, QStringLiteral("Error sending record 4"));
    QVERIFY(r.button("m_pushButton_USBConnect")->isEnabled());
    // The player was let go while still in its boot loader: nothing resets it later.
    QVERIFY(!r.sr3->isOpen());
    r.f->destroyWindow();
    QCOMPARE(r.sr3->resetCount(), 0);
    QCOMPARE(r.sr3->rawDeviceCount(), 1);
}

void TestUsbPanelFlows::vireoConnectFromApplication_data()
{
    QTest::addColumn<int>("answer");
    QTest::addColumn<quint32>("version"); // of the image; 0: a file that names none
    QTest::addColumn<QString>("shown");   // the player's version, and the image's when it names one
    QTest::newRow("overwrite") << int(QMessageBox::Yes) << 0x020100u << "1.2.0 → 2.1.0";
    QTest::newRow("keep") << int(QMessageBox::No) << 0u << "1.2.0";
}

void TestUsbPanelFlows::vireoConnectFromApplication()
{
    QFETCH(int, answer);
    QFETCH(quint32, version);
    Run r = start(QStringLiteral("Vireo Player"), version ? writeBinary(m_dir.filePath("named.bin"), vireoImage(3000, version))
                                                          : writeBinary(m_dir.filePath("p.bin"), "x"));
    r.f->prompter.expectMessage(Kind::Question, QStringLiteral("Vireo Player Bootloader"),
                                QStringLiteral("This device (SN:VP-004217) already has firmware version: "
                                               "1.2.0 installed. \r\n Overwrite it?"),
                                QMessageBox::StandardButton(answer));
    r.connectPlayer();
    QCOMPARE(r.f->prompter.pendingExpectations(), 0);
    QTEST(r.label("m_label_SR3Device"), "shown");
    QCOMPARE(r.label("m_lblSerialNr"), QStringLiteral("VP-004217"));
    QVERIFY(r.f->find<QLabel>(QStringLiteral("m_lblSerialNrLabel"))->isEnabled());

    const bool overwrite = answer == QMessageBox::Yes;
    QCOMPARE(r.programEnabled(), overwrite);
    QCOMPARE(r.button("m_pushButton_USBConnect")->isEnabled(), !overwrite);
    QCOMPARE(r.vireo->state(), overwrite ? SimulatedVireoPlayer::State::BootLoader
                                         : SimulatedVireoPlayer::State::Application);
    const QStringList expected = overwrite
        ? QStringList{QStringLiteral("GET /v1/descriptor.json HTTP/1.1"), QStringLiteral("boot loader"),
                      QStringLiteral("reboot")}
        : QStringList{QStringLiteral("GET /v1/descriptor.json HTTP/1.1")};
    QCOMPARE(r.vireo->requestLines(), expected);
    QVERIFY(r.vireo->hid().reports().isEmpty());
}

void TestUsbPanelFlows::vireoConnectRefusals_data()
{
    QTest::addColumn<QString>("situation");
    QTest::addColumn<QString>("box"); // "kind|title|text", the last box shown
    QTest::addColumn<bool>("offered");
    QTest::newRow("waiting in its boot loader") << "bootloader" << "" << true;
    QTest::newRow("no player")
        << "none" << "warning|Warning|No Vireo Player's found on USB!" << false;
    QTest::newRow("two ports")
        << "two ports" << "warning|Warning|More than one Vireo Player (low level) found.\n\nDisconnect all but one." << false;
    QTest::newRow("boot loader and a port")
        << "both" << "warning|Warning|More than one Vireo Player (low level) found.\n\nDisconnect all but one." << false;
    QTest::newRow("reboot refused, power not cycled")
        << "refused" << "critical|Vireo Player|Device failed to reset." << false;
}

void TestUsbPanelFlows::vireoConnectRefusals()
{
    QFETCH(QString, situation);
    QFETCH(QString, box);
    QFETCH(bool, offered);
    Run r = start(QStringLiteral("Vireo Player"), writeBinary(m_dir.filePath("p.bin"), "x"));
    SimulatedVireoPlayer &player = *r.vireo;
    if (situation == QLatin1String("bootloader"))
        player.setState(SimulatedVireoPlayer::State::BootLoader);
    if (situation == QLatin1String("none"))
        player.setState(SimulatedVireoPlayer::State::Restarting);
    if (situation == QLatin1String("two ports"))
        player.setExtraPorts(1);
    if (situation == QLatin1String("both"))
        player.setExtraBootLoaders(1);
    if (situation == QLatin1String("refused")) {
        player.setRebootRefused(true);
        r.f->prompter.expectMessage(Kind::Question, QString(), QString(), QMessageBox::Yes);
        r.f->prompter.expectMessage(Kind::Information, QStringLiteral("Vireo Player Bootloader"),
                                    QStringLiteral("Automatic reboot failed. Please cycle power on the "
                                                   "Vireo Player before continuing."));
    }
    if (!box.isEmpty()) {
        const QStringList parts = box.split(QLatin1Char('|'));
        const Kind kind = parts.at(0) == QLatin1String("warning") ? Kind::Warning : Kind::Critical;
        r.f->prompter.expectMessage(kind, parts.at(1), parts.at(2));
    }
    r.connectPlayer();
    QCOMPARE(r.f->prompter.pendingExpectations(), 0);
    QCOMPARE(r.programEnabled(), offered);
    QCOMPARE(r.button("m_pushButton_USBConnect")->isEnabled(), !offered);
    if (situation == QLatin1String("bootloader"))
        QCOMPARE(r.label("m_label_SR3Device"), QStringLiteral("Unknown.  Found Device is waiting for Firmware."));
    if (!offered)
        QCOMPARE(r.label("m_label_SR3Device"), QStringLiteral("No device selected"));
    QVERIFY(r.vireo->hid().reports().isEmpty());
    QVERIFY2(!r.waitLeft(), qPrintable(r.f->window->statusText()));
}

void TestUsbPanelFlows::vireoDownloadAndRestart_data()
{
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<bool>("factoryDefault");
    QTest::newRow("factory defaults off") << "player-2.1.0.bin" << false;
    // The name reaches the player inside JSON: quote and backslash must not break it.
    QTest::newRow("factory defaults on, awkward name") << "player \"2.1\" \\ new.bin" << true;
}

void TestUsbPanelFlows::vireoDownloadAndRestart()
{
    QFETCH(QString, fileName);
    QFETCH(bool, factoryDefault);
    const QByteArray image = vireoImage(20000, 0x020100);
    Run r = start(QStringLiteral("Vireo Player"), writeBinary(m_dir.filePath(fileName), image));
    SimulatedVireoPlayer &player = *r.vireo;
    r.f->prompter.expectMessage(Kind::Question, QStringLiteral("Vireo Player Bootloader"), QString(),
                                QMessageBox::Yes);
    r.connectPlayer();
    QVERIFY(r.programEnabled());
    player.clearRecords();
    r.f->find<QCheckBox>(QStringLiteral("m_ckx_FactoryDefault"))->setChecked(factoryDefault);

    QSignalSpy complete(r.usb, &usbInterfaceControl::signal_programComplete);
    r.f->prompter.expectMessage(Kind::Information, QStringLiteral("Information"),
                                QStringLiteral("Programming complete!\n\nverified: the device reports 2.1.0"));
    r.program();
    // Downloaded; the run goes on until the player is back, PROGRAM off meanwhile.
    QVERIFY(r.usb->runInProgress());
    QVERIFY(!r.programEnabled());
    QCOMPARE(complete.size(), 0);
    QCOMPARE(r.usb->postDownloadWait(), 20);
    QTRY_COMPARE(complete.size(), 1);
    QCOMPARE(r.f->prompter.pendingExpectations(), 0);
    QVERIFY(!r.usb->runInProgress());

    // Report by report: the start command, 18 blocks of 1080 bytes in 60-byte
    // reports, the last 560 bytes, the finish command.
    const QList<QByteArray> reports = player.hid().reports();
    QCOMPARE(reports.size(), 1 + 18 * 18 + 10 + 1);
    QCOMPARE(reports.first(), QByteArray::fromHex("000000000000005200") + QByteArray(56, '\0'));
    QByteArray received;
    for (int i = 1; i < reports.size() - 1; ++i) {
        const int expectedLength = i == reports.size() - 2 ? 20 : 60;
        QCOMPARE(reports.at(i).size(), 65);
        QCOMPARE(int(quint8(reports.at(i).at(1))), expectedLength);
        received += reports.at(i).mid(2, expectedLength);
    }
    QCOMPARE(received, image);
    QCOMPARE(quint8(reports.last().at(1)), quint8(0));
    QCOMPARE(quint8(reports.last().at(2)), quint8(1));
    QCOMPARE(player.downloadParameter(), 0x5200u);
    QCOMPARE(player.downloadedImage(), image);

    const auto &progress = *r.f->prompter.progresses().last();
    QCOMPARE(progress.label, QStringLiteral("Programming Controller..."));
    QCOMPARE(progress.maximum, 28);
    QCOMPARE(progress.values.mid(1, 19), QList<int>({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19}));
    QVERIFY(progress.labels.contains(QStringLiteral("Success.  Waiting for controller reboot.")));
    QVERIFY(progress.labels.contains(QStringLiteral("Found VireoPlayer after reboot.")));
    QVERIFY(progress.labels.contains(QStringLiteral("Saving firmware file name")));
    QCOMPARE(progress.labels.last(), QStringLiteral("Complete"));
    QCOMPARE(progress.values.last(), 28);
    QVERIFY(progress.closed);

    // Back on its port: the file's name without its folder, the show files on request.
    QCOMPARE(player.mfgValues(), (QMap<QString, QString>{{QStringLiteral("mfg_log_2"), fileName}}));
    QCOMPARE(player.deletedFiles().size(), factoryDefault ? 7 : 0);
    QCOMPARE(player.descriptor().firmwareVersion, QStringLiteral("2.1.0"));
    QCOMPARE(r.usb->lastRunOutcome().result, UsbRunOutcome::Succeeded);
    QVERIFY(r.usb->lastRunOutcome().remarks.isEmpty());
    QVERIFY(r.button("m_pushButton_USBConnect")->isEnabled());
    QVERIFY(!r.programEnabled());
}

void TestUsbPanelFlows::vireoAfterDownload_data()
{
    QTest::addColumn<QString>("situation");
    QTest::addColumn<QString>("box");
    QTest::newRow("two players after the download")
        << "two" << "warning|Vireo Player|More than one Vireo Player was found after the download.\n\n"
                    "The firmware was downloaded, but its file name was not recorded and the factory show "
                    "files were not restored. Disconnect all but one Vireo Player and check it.";
}

void TestUsbPanelFlows::vireoAfterDownload()
{
    QFETCH(QString, situation);
    QFETCH(QString, box);
    // (An empty image file never gets here: it is refused when it is selected.)
    const QString file = writeBinary(m_dir.filePath(QStringLiteral("v.bin")), vireoImage(3000, 0x020100));
    Run r = start(QStringLiteral("Vireo Player"), file);
    SimulatedVireoPlayer &player = *r.vireo;
    player.setState(SimulatedVireoPlayer::State::BootLoader);
    r.connectPlayer();
    r.f->find<QCheckBox>(QStringLiteral("m_ckx_FactoryDefault"))->setChecked(true);
    if (situation == QLatin1String("two"))
        player.setExtraPorts(1);

    QSignalSpy complete(r.usb, &usbInterfaceControl::signal_programComplete);
    QSignalSpy offered(r.usb, &usbInterfaceControl::signal_enableProgramButton);
    r.keepRecords();
    const QStringList parts = box.split(QLatin1Char('|'));
    r.f->prompter.expectMessage(parts.at(0) == QLatin1String("warning") ? Kind::Warning : Kind::Critical,
                                parts.at(1), QString(parts.at(2)).replace(QLatin1String("%1"), file));
    r.program();
    QTRY_COMPARE(r.f->prompter.pendingExpectations(), 0);
    QTRY_VERIFY(!r.usb->runInProgress());

    // The run ends, says so, and lets the operator connect again.
    QCOMPARE(complete.size(), 0);
    QCOMPARE(r.usb->lastRunOutcome().result, UsbRunOutcome::Failed);
    QCOMPARE(r.usb->lastRunOutcome().reason.isEmpty(), false);
    QVERIFY(r.button("m_pushButton_USBConnect")->isEnabled());
    QVERIFY(r.f->prompter.progresses().last()->closed);
    QCOMPARE(offered.size(), 1);
    QCOMPARE(offered.first().first().toBool(), false);
    QVERIFY(!r.programEnabled());
    QCOMPARE(player.downloads(), 1);
    QCOMPARE(r.records.size(), 1);
    QCOMPARE(r.records.first().outcome, UpdateRecord::Outcome::NotVerified);
    // Nothing is written to a player that cannot be told apart from another.
    QVERIFY(player.mfgValues().isEmpty());
    QVERIFY(player.deletedFiles().isEmpty());
}

void TestUsbPanelFlows::sorrelRunIsCheckedAndRecorded_data()
{
    QTest::addColumn<QString>("situation");
    QTest::addColumn<int>("outcome");
    QTest::addColumn<int>("box");
    QTest::addColumn<QString>("text"); // of the end-of-run box
    QTest::addColumn<QString>("after");

    using O = UpdateRecord::Outcome;
    const QString done = QStringLiteral("Programming complete!\n\n");
    const QString unconfirmed = QStringLiteral("Programming complete, but the new firmware could not be confirmed.\n\n");
    QTest::newRow("back with the image's version")
        << "" << int(O::Verified) << int(Kind::Information) << done + "verified: the device reports 01.00.90"
        << "01.00.90";
    QTest::newRow("keeps its old version")
        << "keep" << int(O::Mismatch) << int(Kind::Critical)
        << "The firmware was written, but the player does not run it.\n\n"
           "mismatch: the device reports 01.00.82, the image is 01.00.90"
        << "01.00.82";
    // An image of the version the player already ran: whether it was written or
    // not, the player reads the same.
    QTest::newRow("the same version again, kept or written")
        << "same" << int(O::NotVerified) << int(Kind::Warning)
        << unconfirmed + "not verified: the Sorrel 3 reports 01.00.82 as it did before the update, so its "
                         "version cannot tell the image from the firmware it ran"
        << "01.00.82";
    QTest::newRow("never comes back")
        << "gone" << int(O::NotVerified) << int(Kind::Warning)
        << unconfirmed + "not verified: the Sorrel 3 did not answer within 0.6 s" << QString();
    // The version word lies beyond the image: the flash there stays erased.
    QTest::newRow("back without a readable version")
        << "unreadable" << int(O::NotVerified) << int(Kind::Warning)
        << unconfirmed + "not verified: the Sorrel 3 is back, but its firmware version could not be read"
        << QString();
    QTest::newRow("erase fails") << "erase" << int(O::Failed) << int(Kind::Warning)
                                 << "Error erasing flash memory" << QString();
}

void TestUsbPanelFlows::sorrelRunIsCheckedAndRecorded()
{
    QFETCH(QString, situation);
    QFETCH(int, outcome);
    QFETCH(int, box);
    QFETCH(QString, text);
    QFETCH(QString, after);
    const bool same = situation == QLatin1String("same");
    Run r = startSorrel(QStringLiteral("Sorrel 3"), same ? 0x10052 : 0x1005A);
    const QString file = m_dir.filePath(QStringLiteral("sorrel.hex"));
    r.usb->setVerifyWait(600);
    r.sr3->setKeepRevision(situation == QLatin1String("keep") || same);
    r.sr3->setNoReturn(situation == QLatin1String("gone"));
    r.sr3->setEraseFails(situation == QLatin1String("erase"));
    if (situation == QLatin1String("unreadable"))
        r.sr3->setVersionOffset(0xF00);
    r.connectPlayer();
    r.keepRecords();
    r.f->prompter.expectMessage(Kind(box), QString(), text);
    r.program();
    // Only a player that is not back at once keeps the run open; the window
    // goes on meanwhile.
    const bool waits = situation == QLatin1String("gone") || situation == QLatin1String("unreadable");
    QCOMPARE(r.usb->runInProgress(), waits);
    QTRY_VERIFY(!r.usb->runInProgress());
    QCOMPARE(r.f->prompter.pendingExpectations(), 0);
    QVERIFY2(!r.waitLeft(), qPrintable(r.f->window->statusText()));

    QCOMPARE(r.records.size(), 1);
    const UpdateRecord &record = r.records.first();
    QCOMPARE(int(record.outcome), outcome);
    QCOMPARE(record.deviceType, QStringLiteral("Sorrel 3"));
    QCOMPARE(record.address, QStringLiteral("SR3-001207"));
    QCOMPARE(record.revisionBefore, QStringLiteral("01.00.82"));
    QCOMPARE(record.imageFile, file);
    QCOMPARE(record.imageSha256, sha256(file));
    QCOMPARE(record.imageVersion, same ? QStringLiteral("01.00.82") : QStringLiteral("01.00.90"));
    QCOMPARE(record.revisionAfter, after);
    QCOMPARE(record.reason.isEmpty(), outcome == int(UpdateRecord::Outcome::Verified));
    QVERIFY(text.endsWith(record.reason));
    // The record's time covers the wait: the check gives up only once its own
    // clock leaves no room for another look, whatever the timers did.
    QVERIFY(record.durationMs > (waits ? 600 - usbInterfaceControl::kVerifyPollMs : -1));
    const QString outcomeName = UpdateRecord::outcomeName(UpdateRecord::Outcome(outcome));
    QVERIFY(r.f->logLines().filter(QStringLiteral("Sorrel 3 SR3-001207: ") + outcomeName).size() == 1);

    // Never left open; back in its firmware unless it is gone or the write failed.
    QVERIFY(!r.sr3->isOpen());
    const bool running = situation != QLatin1String("gone") && situation != QLatin1String("erase");
    QCOMPARE(r.sr3->controllerCount(), running ? 1 : 0);
    QVERIFY(r.button("m_pushButton_USBConnect")->isEnabled());
    QVERIFY(!r.programEnabled());
    QCOMPARE(r.usb->lastRunOutcome().result,
             outcome == int(UpdateRecord::Outcome::Verified) || outcome == int(UpdateRecord::Outcome::NotVerified)
                 ? UsbRunOutcome::Succeeded
                 : UsbRunOutcome::Failed);
}

void TestUsbPanelFlows::vireoRunIsCheckedAndRecorded_data()
{
    QTest::addColumn<QString>("situation");
    QTest::addColumn<quint32>("version"); // of the image; 0: it names none
    QTest::addColumn<bool>("guarding");    // the overwrite question guards, or confirms the run
    QTest::addColumn<int>("outcome");
    QTest::addColumn<int>("box");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("after");

    using O = UpdateRecord::Outcome;
    const QString done = QStringLiteral("Programming complete!\n\n");
    const QString unconfirmed = QStringLiteral("Programming complete, but the new firmware could not be confirmed.\n\n");
    QTest::newRow("newer image") << "" << 0x020100u << false << int(O::Verified) << int(Kind::Information)
                                 << done + "verified: the device reports 2.1.0" << "2.1.0";
    // Reading 1.2.0 again cannot show that anything was written.
    QTest::newRow("the same version again")
        << "" << 0x010200u << true << int(O::NotVerified) << int(Kind::Warning)
        << unconfirmed + "not verified: the Vireo Player reports 1.2.0 as it did before the update, so its "
                         "version cannot tell the image from the firmware it ran"
        << "1.2.0";
    QTest::newRow("keeps its old version")
        << "keep" << 0x020100u << false << int(O::Mismatch) << int(Kind::Critical)
        << "The firmware was written, but the player does not run it.\n\n"
           "mismatch: the device reports 1.2.0, the image is 2.1.0"
        << "1.2.0";
    QTest::newRow("never comes back")
        << "gone" << 0x020100u << false << int(O::NotVerified) << int(Kind::Warning)
        << unconfirmed + "not verified: the Vireo Player did not start again within 0.6 s\n\n"
                         "Its firmware file name was not recorded."
        << QString();
    QTest::newRow("back on its port but silent")
        << "silent" << 0x020100u << false << int(O::NotVerified) << int(Kind::Warning)
        << unconfirmed + "not verified: the Vireo Player did not answer within 0.6 s\n\n"
                         "Its firmware file name was not recorded."
        << QString();
    // The player stalls after "2.1.1" of "2.1.10": a prefix is no version.
    QTest::newRow("reply cut inside the version")
        << "cut" << 0x020101u << false << int(O::NotVerified) << int(Kind::Warning)
        << unconfirmed + "not verified: no complete answer from the Vireo Player within 0.6 s (its reply "
                         "frame announced 103 bytes, but only 100 arrived)\n\n"
                         "Its firmware file name was not recorded."
        << QString();
    QTest::newRow("image names no version")
        << "" << 0u << true << int(O::NotVerified) << int(Kind::Warning)
        << unconfirmed + "not verified: the player reports 1.2.0, but the image does not say which version it is"
        << "1.2.0";
    QTest::newRow("download fails") << "no boot loader" << 0x020100u << false << int(O::Failed)
                                    << int(Kind::Critical) << "Failed to open device." << QString();
}

void TestUsbPanelFlows::vireoRunIsCheckedAndRecorded()
{
    QFETCH(QString, situation);
    QFETCH(quint32, version);
    QFETCH(bool, guarding);
    QFETCH(int, outcome);
    QFETCH(int, box);
    QFETCH(QString, text);
    QFETCH(QString, after);
    const QString file = writeBinary(m_dir.filePath(QStringLiteral("checked.bin")), vireoImage(5000, version));
    Run r = start(QStringLiteral("Vireo Player"), file);
    r.usb->setVerifyWait(600);
    r.vireo->setKeepRevision(situation == QLatin1String("keep"));
    r.vireo->setNoReturn(situation == QLatin1String("gone"));
    r.f->prompter.expectMessage(Kind::Question, QStringLiteral("Vireo Player Bootloader"),
                                QLatin1String(kOverwriteQuestion), QMessageBox::Yes);
    r.connectPlayer();
    const auto asked = std::find_if(r.f->prompter.shown().begin(), r.f->prompter.shown().end(),
                                    [](const FakePrompter::Shown &shown) { return shown.what == QLatin1String("question"); });
    QVERIFY(asked != r.f->prompter.shown().end());
    const FakePrompter::Shown &question = *asked;
    QCOMPARE(question.guarding.has_value(), guarding);
    if (guarding)
        QCOMPARE(*question.guarding, GuardingQuestion::Overwrite);
    QCOMPARE(question.confirmation, !guarding);
    QVERIFY(r.programEnabled());
    if (situation == QLatin1String("no boot loader"))
        r.vireo->setState(SimulatedVireoPlayer::State::Restarting);
    if (situation == QLatin1String("silent"))
        r.vireo->setResponder([](const QByteArray &) { return QByteArray(); });
    if (situation == QLatin1String("cut")) {
        QByteArray body = R"({"serial_number":"VP-004217","production_date":"2013-05-14","firmware_version":"2.1.10"})";
        body.insert(1, QByteArray(95 - body.size(), ' '));
        const QByteArray cut = SimulatedVireoPlayer::replyFrame(80, body).chopped(3);
        r.vireo->setResponder([cut](const QByteArray &frame) -> std::optional<QByteArray> {
            if (frame.contains("GET /v1/descriptor.json"))
                return cut;
            return std::nullopt;
        });
    }

    r.keepRecords();
    r.f->prompter.expectMessage(Kind(box), QString(), text);
    r.program();
    QTRY_VERIFY(!r.usb->runInProgress());
    QCOMPARE(r.f->prompter.pendingExpectations(), 0);
    QVERIFY2(!r.waitLeft(), qPrintable(r.f->window->statusText()));

    QCOMPARE(r.records.size(), 1);
    const UpdateRecord &record = r.records.first();
    QCOMPARE(int(record.outcome), outcome);
    QCOMPARE(record.deviceType, QStringLiteral("Vireo Player"));
    QCOMPARE(record.address, QStringLiteral("VP-004217"));
    QCOMPARE(record.revisionBefore, QStringLiteral("1.2.0"));
    QCOMPARE(record.imageFile, file);
    QCOMPARE(record.imageSha256, sha256(file));
    QCOMPARE(record.imageVersion, version ? QStringLiteral("%1.%2.%3").arg(version >> 16).arg((version >> 8) & 0xFF).arg(version & 0xFF) : QString());
    QCOMPARE(record.revisionAfter, after);
    QCOMPARE(record.reason.isEmpty(), outcome == int(UpdateRecord::Outcome::Verified));
    QVERIFY(text.contains(record.reason));
    QVERIFY(r.button("m_pushButton_USBConnect")->isEnabled());
    // A failed download leaves the player in its boot loader, still offered.
    QCOMPARE(r.programEnabled(), outcome == int(UpdateRecord::Outcome::Failed));
    QVERIFY(r.f->prompter.progresses().last()->closed);
    // A player that answers nothing is not asked for more.
    if (situation == QLatin1String("silent") || situation == QLatin1String("cut"))
        QVERIFY(r.vireo->requestLines().filter(QStringLiteral("POST")).isEmpty());
}

void TestUsbPanelFlows::findDeviceConnectsAsTheButtonDoes_data()
{
    QTest::addColumn<QString>("device");
    QTest::addColumn<QString>("situation");
    QTest::addColumn<int>("answer"); // to the connect flow's question; NoButton: none asked
    QTest::addColumn<bool>("found");
    QTest::addColumn<QString>("message");
    QTest::addColumn<bool>("cancelled");

    const int none = QMessageBox::NoButton;
    QTest::newRow("one Sorrel 3") << "Sorrel 3" << "" << none << true << "Sorrel 3 SR3-001207 is ready to be programmed." << false;
    QTest::newRow("no Sorrel 3") << "Sorrel 3" << "none" << none << false << "No Sorrel 3's found on USB!" << false;
    QTest::newRow("Sorrel 3 version unreadable, not going on")
        << "Sorrel 3" << "unreadable" << int(QMessageBox::No) << false
        << "The Sorrel 3's firmware version could not be read, and going on anyway was refused." << true;
    QTest::newRow("one Vireo Player") << "Vireo Player" << "" << int(QMessageBox::Yes) << true
                                      << "Vireo Player VP-004217 is ready to be programmed." << false;
    QTest::newRow("overwrite refused") << "Vireo Player" << "" << int(QMessageBox::No) << false
                                       << "The Vireo Player VP-004217 keeps firmware 1.2.0: overwriting it was refused."
                                       << true;
    QTest::newRow("two Vireo Players") << "Vireo Player" << "two" << none << false
                                       << "More than one Vireo Player (low level) found.\n\nDisconnect all but one."
                                       << false;
}

void TestUsbPanelFlows::findDeviceConnectsAsTheButtonDoes()
{
    QFETCH(QString, device);
    QFETCH(QString, situation);
    QFETCH(int, answer);
    QFETCH(bool, found);
    QFETCH(QString, message);
    QFETCH(bool, cancelled);
    const bool vireo = device == QLatin1String("Vireo Player");
    const QString file = vireo ? writeBinary(m_dir.filePath(QStringLiteral("find.bin")), vireoImage(3000, 0x020100))
                               : writeFile(m_dir.filePath(QStringLiteral("find.hex")), intelHex(sorrelImage(0x1005A)));
    Run r = start(device, file);
    if (situation == QLatin1String("none"))
        r.sr3->setPlayers(0, 0);
    if (situation == QLatin1String("unreadable"))
        r.sr3->setFirmwareVersion(-1);
    if (situation == QLatin1String("two"))
        r.vireo->setExtraPorts(1);
    if (answer != QMessageBox::NoButton)
        r.f->prompter.expectMessage(Kind::Question, QString(), QString(), QMessageBox::StandardButton(answer));
    if (!found && !cancelled)
        r.f->prompter.expectMessage(Kind::Warning, QStringLiteral("Warning"), message);
    r.keepRecords();
    QSignalSpy done(r.usb, &usbInterfaceControl::signal_deviceSearchDone);

    r.usb->findDevice(QStringLiteral("ignored"));
    QCOMPARE(done.size(), 0); // answered from the event loop
    QTRY_COMPARE(done.size(), 1);
    QTest::qWait(50);
    QCOMPARE(done.size(), 1);
    QCOMPARE(done.first().at(0).toBool(), found);
    QCOMPARE(done.first().at(1).toString(), message);
    QCOMPARE(r.f->prompter.pendingExpectations(), 0);
    QCOMPARE(r.programEnabled(), found);

    // A refused question is a run stopped before anything was sent.
    QCOMPARE(r.records.size(), cancelled ? 1 : 0);
    if (cancelled) {
        const UpdateRecord &record = r.records.first();
        QCOMPARE(record.outcome, UpdateRecord::Outcome::Cancelled);
        QCOMPARE(record.reason, message);
        QCOMPARE(record.deviceType, device);
        QCOMPARE(record.imageFile, file);
        QCOMPARE(record.revisionBefore, vireo ? QStringLiteral("1.2.0") : QString());
        QCOMPARE(record.address, vireo ? QStringLiteral("VP-004217") : QStringLiteral("SR3-001207"));
        QCOMPARE(r.sr3->records().size() + r.vireo->downloads(), 0);
    }
}

// A search must never take the player away from a run that is checking it,
// nor claim one that is offered from before.
void TestUsbPanelFlows::findDeviceDuringARunOrWhileClosingConnectsNothing()
{
    Run r = startSorrel();
    r.usb->setVerifyWait(600000);
    r.sr3->setNoReturn(true);
    r.connectPlayer();
    r.keepRecords();
    r.program();
    QVERIFY(r.usb->runInProgress());
    QSignalSpy done(r.usb, &usbInterfaceControl::signal_deviceSearchDone);

    r.usb->findDevice(QString());
    QTRY_COMPARE(done.size(), 1);
    QCOMPARE(done.takeFirst(), QVariantList({false, QStringLiteral("A Sorrel 3 run is still in progress.")}));
    QVERIFY(r.usb->runInProgress());
    QCOMPARE(r.usbLog().filter(QStringLiteral("Connecting to USB device...")).size(), 1);

    r.usb->shutdown();
    r.usb->findDevice(QString());
    QTRY_COMPARE(done.size(), 1);
    QCOMPARE(done.takeFirst(), QVariantList({false, QStringLiteral("The program is closing.")}));
    QCOMPARE(r.usbLog().filter(QStringLiteral("Connecting to USB device...")).size(), 1);
    QCOMPARE(r.records.size(), 1);
    QCOMPARE(r.records.first().outcome, UpdateRecord::Outcome::NotVerified);
}

// What make run offers: the simulation and the panel with their own delays
// and waits, only the dialogs answered by the test. The status bar says what
// each wait waits for beside the busy indicator, and each message goes when
// its state ends.
void TestUsbPanelFlows::simulatedModeUpdatesBothPlayersAtItsOwnPace()
{
    WindowFixture::Options o;
    o.cataloguePath = m_catalogue;
    // An image stays loaded for the whole session: one session per player.
    for (const QString &device : {QStringLiteral("Sorrel 3"), QStringLiteral("Vireo Player")}) {
        WindowFixture f(o);
        auto *usb = f.window->findChild<usbInterfaceControl *>();
        // Where this catalogue's Sorrel 3 keeps its version word.
        static_cast<SimulatedSr3Usb &>(f.devices->sr3()).setVersionOffset(kVersionOffset);
        QCOMPARE(usb->postDownloadWait(), 5000);
        QCOMPARE(usb->verifyWait(), 15000);
        auto *devices = f.find<QComboBox>(QStringLiteral("m_comboBox_deviceSelect"));
        devices->setCurrentIndex(devices->findText(device));
        const bool vireo = device == QLatin1String("Vireo Player");

        // What the window shows after each change, record and seconds counted
        // alike, once while the text stays the same: "busy" beside the indicator.
        const auto *busy = f.find<QProgressBar>(QStringLiteral("m_progress_busy"));
        QStringList shown;
        const auto note = [&] {
            QString text = f.window->statusText();
            text.replace(QRegularExpression(QStringLiteral("Record \\d+ of \\d+")), QStringLiteral("Record # of #"));
            text.replace(QRegularExpression(QStringLiteral("… \\d+ s$")), QStringLiteral("… # s"));
            text.prepend(busy->isHidden() ? QStringLiteral("idle: ") : QStringLiteral("busy: "));
            if (!shown.isEmpty() && shown.last().mid(6) == text.mid(6))
                shown.last() = text;
            else
                shown.append(text);
        };
        connect(usb, &InterfacePanel::signal_waitStatus, this, note);
        connect(usb, &InterfacePanel::signal_updateStatus, this, note);
        f.prompter.expectFileDialog(
            vireo ? writeBinary(m_dir.filePath(QStringLiteral("own.bin")), vireoImage(50000, 0x020200))
                  : writeFile(m_dir.filePath(QStringLiteral("own.hex")), intelHex(sorrelImage(0x1005A))));
        f.find<QPushButton>(QStringLiteral("m_pushButton_firmwareImageFileSelect"))->click();
        if (vireo)
            f.prompter.expectMessage(Kind::Question, QStringLiteral("Vireo Player Bootloader"), QString(),
                                     QMessageBox::Yes);
        f.find<QPushButton>(QStringLiteral("m_pushButton_USBConnect"))->click();
        auto *program = f.find<QPushButton>(QStringLiteral("m_pushButton_program"));
        QVERIFY(program->isEnabled());
        f.prompter.expectMessage(Kind::Information, QStringLiteral("Information"), QString());
        program->click();
        QTRY_VERIFY_WITH_TIMEOUT(!usb->runInProgress(), 15000);
        QCOMPARE(f.prompter.pendingExpectations(), 0);
        QCOMPARE(usb->lastRunOutcome().result, UsbRunOutcome::Succeeded);
        QCOMPARE(usb->lastRunOutcome().check,
                 vireo ? QStringLiteral("verified: the device reports 2.2.0")
                       : QStringLiteral("verified: the device reports 01.00.90"));
        if (vireo)
            QCOMPARE(f.devices->simulatedVireo()->descriptor().firmwareVersion, QStringLiteral("2.2.0"));

        const QStringList waits = vireo
            ? QStringList{QStringLiteral("busy: Connecting to Vireo Player..."),
                          QStringLiteral("idle: "),
                          QStringLiteral("busy: Waiting for the Vireo Player's boot loader…"),
                          QStringLiteral("idle: The Vireo Player is waiting for firmware in its boot loader."),
                          QStringLiteral("busy: Writing the firmware to the Vireo Player…"),
                          QStringLiteral("busy: Checking Vireo Player SN:VP-004217 after the update…"),
                          QStringLiteral("busy: Checking Vireo Player SN:VP-004217 after the update… # s"),
                          QStringLiteral("idle: verified: the device reports 2.2.0")}
            : QStringList{QStringLiteral("busy: Connecting to Sorrel3..."),
                          QStringLiteral("idle: Connected to Sorrel3."),
                          QStringLiteral("busy: Erasing flash..."),
                          QStringLiteral("busy: Writing Sorrel 3… Record # of #"),
                          QStringLiteral("idle: Program USB device complete!"),
                          QStringLiteral("busy: Checking Sorrel 3 SN:SR3-001207 after the update…"),
                          QStringLiteral("idle: verified: the device reports 01.00.90")};
        QVERIFY2(shown == waits, qPrintable(shown.join(QLatin1Char('\n'))));
        QVERIFY(busy->isHidden());
    }
}

void TestUsbPanelFlows::closingTheWindowLetsGoOfThePlayers()
{
    // A Sorrel 3 connected but not programmed goes back to its firmware.
    {
        Run r = startSorrel();
        r.connectPlayer();
        QVERIFY(r.sr3->isOpen());
        r.f->destroyWindow();
        QCOMPARE(r.sr3->resetCount(), 1);
        QVERIFY(!r.sr3->isOpen());
        QCOMPARE(r.sr3->controllerCount(), 1);
    }
    // A Vireo Player run waiting for the restart ends there, without boxes,
    // and the log file says so.
    QTemporaryDir logDir;
    const QString previous = QDir::currentPath();
    QDir::setCurrent(logDir.path());
    Run r = start(QStringLiteral("Vireo Player"), writeBinary(m_dir.filePath(QStringLiteral("w.bin")), vireoImage(2000, 1)));
    r.vireo->setState(SimulatedVireoPlayer::State::BootLoader);
    r.usb->setPostDownloadWait(60000);
    r.connectPlayer();
    r.keepRecords();
    r.program();
    QVERIFY(r.usb->runInProgress());
    r.usb->shutdown();
    r.usb->shutdown();
    QVERIFY(!r.usb->runInProgress());
    // Downloaded, never confirmed: one record, whatever else ends the run.
    QCOMPARE(r.records.size(), 1);
    QCOMPARE(r.records.first().outcome, UpdateRecord::Outcome::NotVerified);
    QCOMPARE(r.usb->lastRunOutcome().result, UsbRunOutcome::Failed);
    r.f->destroyWindow();
    QTest::qWait(50);
    QVERIFY(r.vireo->mfgValues().isEmpty());
    const QStringList logs = QDir(logDir.path()).entryList({QStringLiteral("ZELBL_*.log")});
    QCOMPARE(logs.size(), 1);
    QFile log(logDir.filePath(logs.first()));
    QVERIFY(log.open(QIODevice::ReadOnly));
    QVERIFY(log.readAll().contains("The program was closed before the Vireo Player run ended."));
    QDir::setCurrent(previous);
}

void TestUsbPanelFlows::closingMidRunRecordsWhatThePlayerWasLeftWith_data()
{
    QTest::addColumn<QString>("device");
    QTest::addColumn<QString>("when"); // the point of the run at which the window closes
    QTest::addColumn<int>("outcome");
    using O = UpdateRecord::Outcome;
    QTest::newRow("Sorrel 3, before the erase") << "Sorrel 3" << "start" << int(O::Cancelled);
    QTest::newRow("Sorrel 3, three records written") << "Sorrel 3" << "writing" << int(O::Failed);
    QTest::newRow("Sorrel 3, written and reset, not checked") << "Sorrel 3" << "written" << int(O::NotVerified);
    QTest::newRow("Vireo Player, before the download") << "Vireo Player" << "start" << int(O::Cancelled);
    QTest::newRow("Vireo Player, one block sent") << "Vireo Player" << "writing" << int(O::Failed);
    QTest::newRow("Vireo Player, downloaded, not checked") << "Vireo Player" << "written" << int(O::NotVerified);
}

// The window closes (or SIGTERM arrives) while the event loop runs inside a
// run: one record says what the player holds, and nothing more reaches it.
void TestUsbPanelFlows::closingMidRunRecordsWhatThePlayerWasLeftWith()
{
    QFETCH(QString, device);
    QFETCH(QString, when);
    QFETCH(int, outcome);
    const bool vireo = device == QLatin1String("Vireo Player");
    Run r = vireo ? start(device, writeBinary(m_dir.filePath(QStringLiteral("stop.bin")), vireoImage(5000, 0x020100)))
                  : startSorrel(device, 0x1005A);
    r.usb->setPostDownloadWait(60000);
    if (vireo)
        r.f->prompter.expectMessage(Kind::Question, QString(), QString(), QMessageBox::Yes);
    r.connectPlayer();
    QVERIFY(r.programEnabled());
    r.vireo->clearRecords();
    r.keepRecords();

    SimulatedHidDevices &hid = r.vireo->hid();
    const int resets = r.sr3->resetCount();
    const std::function<bool()> reached = [&]() -> bool {
        if (!r.usb->runInProgress())
            return false;
        if (when == QLatin1String("start"))
            return true;
        if (when == QLatin1String("writing"))
            return vireo ? hid.reports().size() > 18 : r.sr3->records().size() >= 3;
        return vireo ? r.vireo->downloads() == 1 : r.sr3->resetCount() > resets;
    };
    QTimer watch;
    connect(&watch, &QTimer::timeout, r.usb, [&] {
        if (reached()) {
            watch.stop();
            r.usb->shutdown();
        }
    });
    watch.start(0);
    r.program(); // the run's own event processing lets the watch in
    QVERIFY(!watch.isActive());
    QVERIFY(!r.usb->runInProgress());

    QCOMPARE(r.records.size(), 1);
    QCOMPARE(int(r.records.first().outcome), outcome);
    QCOMPARE(r.usb->lastRunOutcome().result, UsbRunOutcome::Failed);
    QVERIFY(r.usbLog().contains(QStringLiteral("The program was closed before the %1 run ended.").arg(device)));
    if (vireo) {
        // Nothing after the block under way: the start report and one block of
        // 18; all of the image is 4 blocks of 18 reports, 12 more and the finish.
        const int reports = hid.reports().size();
        QCOMPARE(reports, when == QLatin1String("start") ? 0 : when == QLatin1String("writing") ? 1 + 18 : 1 + 4 * 18 + 12 + 1);
        QCOMPARE(r.vireo->downloads(), when == QLatin1String("written") ? 1 : 0);
    } else {
        if (when != QLatin1String("written"))
            QCOMPARE(r.sr3->erased(), when == QLatin1String("writing"));
        QCOMPARE(r.sr3->records().size(), when == QLatin1String("start") ? 0 : when == QLatin1String("writing") ? 3 : 8);
        // Back in its firmware, unless that is half written: then it stays in
        // its boot loader, as after a refused record.
        QCOMPARE(r.sr3->resetCount() - resets, when == QLatin1String("writing") ? 0 : 1);
        QVERIFY(!r.sr3->isOpen());
    }
    QCOMPARE(r.f->prompter.pendingExpectations(), 0);
    QVERIFY(!r.f->prompter.unexpectedSeen());
}

QTEST_MAIN(TestUsbPanelFlows)
#include "test_UsbPanelFlows.moc"
