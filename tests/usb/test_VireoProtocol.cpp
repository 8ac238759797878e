#include "usb/Device_VireoPlayer.h"
#include "usb/HCC_HID.h"
#include "usb/SerialLine.h"
#include "usb/SimulatedVireoPlayer.h"
#include "usb/VireoFrame.h"
#include "usb/VireoProgress.h"
#include "tests/support/FakePrompter.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTimer>
#include <QTest>
#include <QtEndian>

#include <optional>

namespace {

using Kind = Prompter::Kind;

// Ports as a test lists them, opened on the system's lines.
class ListedPorts : public SerialPorts
{
public:
    QList<SerialPortEntry> entries;
    QList<SerialPortEntry> availablePorts() override { return entries; }
    std::unique_ptr<SerialLine> line(const SerialPortEntry &) override { return nullptr; }
};

SerialPortEntry entry(const QString &name, quint16 vendor, quint16 product, bool hasIds = true)
{
    SerialPortEntry e;
    e.portName = name;
    e.systemLocation = QStringLiteral("/dev/") + name;
    e.vendorId = vendor;
    e.productId = product;
    e.hasIds = hasIds;
    return e;
}

QByteArray payloadOf(const QByteArray &frame)
{
    return frame.mid(VireoFrame::kHeaderSize);
}

QByteArray httpOk(const QByteArray &body)
{
    return "HTTP/1.1 200 OK\r\nServer: Vireo Player\r\nContent-Length: " + QByteArray::number(body.size())
        + "\r\n\r\n" + body;
}

} // namespace

// The protocol against a simulated player on the far end of a pseudo-terminal.
class TestVireoProtocol : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<FakePrompter> m_prompter;
    std::unique_ptr<SimulatedVireoPlayer> m_player;
    std::unique_ptr<HCC_HID> m_hid;
    std::unique_ptr<VireoProgress> m_progress;
    std::unique_ptr<Device_VireoPlayer> m_device;
    QList<QPair<LOGPRIORITY, QString>> m_logs;

    QStringList logTexts() const
    {
        QStringList out;
        for (const auto &l : m_logs)
            out.append(l.second);
        return out;
    }

private slots:
    void init();
    void cleanup();

    void workedFrames_data();
    void workedFrames();
    void requestsGoOutAsFramedText();
    void requestSizeLimit();
    void replyReading_data();
    void replyReading();
    void descriptorFromThePlayer();
    void versionsInTheDescriptorsForm_data();
    void versionsInTheDescriptorsForm();
    void fileNameValueIsEscapedForJson_data();
    void fileNameValueIsEscapedForJson();
    void factoryRestoreDeletesSevenFilesRetryingOnce();
    void bootLoaderHandshake();
    void bootLoaderHandshakeRefused();
    void portsWithoutAPlayer();
    void findPlayerPortsKeepsOnlyThePlayersUsbPorts();
    void downloadFailuresAreReportedAndCloseTheDevice_data();
    void downloadFailuresAreReportedAndCloseTheDevice();
    // Last: the application stays in its quitting state afterwards.
    void quittingApplicationEndsTheWaitAndTheTalk();
};

void TestVireoProtocol::init()
{
    m_logs.clear();
    m_prompter = std::make_unique<FakePrompter>();
    m_player = std::make_unique<SimulatedVireoPlayer>();
    if (!m_player->hasLine())
        QSKIP("no pseudo-terminal on this machine");
    m_hid = std::make_unique<HCC_HID>(m_player->hid());
    m_progress = std::make_unique<VireoProgress>(*m_prompter);
    m_device = std::make_unique<Device_VireoPlayer>(nullptr, *m_prompter, m_player->serialPorts(), *m_hid,
                                                    *m_progress);
    VireoTimings quick;
    quick.replyWindowMs = 150;
    quick.nextFrameMs = 150;
    quick.bootLoaderPollMs = 10;
    m_device->setTimings(quick);
    const QList<SerialPortEntry> ports = m_device->findPlayerPorts();
    QCOMPARE(ports.size(), 1);
    m_device->setPort(ports.first());
    connect(m_device.get(), &Device_VireoPlayer::log, this,
            [this](LOGPRIORITY p, LOGTYPE, QString object, QString text) {
                QCOMPARE(object, QString("Device_VireoPlayer"));
                m_logs.append({p, text});
            });
}

void TestVireoProtocol::cleanup()
{
    if (m_prompter)
        QCOMPARE(m_prompter->pendingExpectations(), 0);
    m_device.reset();
    m_progress.reset();
    m_hid.reset();
    m_player.reset();
    m_prompter.reset();
}

void TestVireoProtocol::workedFrames_data()
{
    QTest::addColumn<int>("port");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("frame");
    QTest::newRow("boot loader") << 22 << "boot loader"
                                 << QByteArray::fromHex("0000160013001077") + "boot loader";
    QTest::newRow("reboot") << 22 << "reboot" << QByteArray::fromHex("000016000E0097B6") + "reboot";
    QTest::newRow("request abc") << 80 << "abc" << QByteArray::fromHex("000050000C00DF9C61626300");
    // Odd length: the last byte counts as the high byte of a word.
    QTest::newRow("GET carries no terminator") << 80 << "G" << QByteArray::fromHex("000050000900A6B847");
}

void TestVireoProtocol::workedFrames()
{
    QFETCH(int, port);
    QFETCH(QString, text);
    QFETCH(QByteArray, frame);
    const QByteArray payload = port == VireoFrame::kHttpPort ? Device_VireoPlayer::requestPayload(text)
                                                             : text.toLatin1();
    QCOMPARE(VireoFrame::build(quint16(port), payload).toHex(' '), frame.toHex(' '));
}

void TestVireoProtocol::requestsGoOutAsFramedText()
{
    QCOMPARE(Device_VireoPlayer::descriptorRequest(),
             QString("GET /v1/descriptor.json HTTP/1.1\r\nHost: vireo-player.local\r\n"
                     "User-Agent: Pellora/3.0\r\n\r\n"));
    QCOMPARE(Device_VireoPlayer::deleteRequest("playback.json"),
             QString("DELETE /v1/playback.json HTTP/1.1\r\nHost: vireo-player.local\r\n"
                     "User-Agent: Pellora/3.0\r\n\r\n"));
    QCOMPARE(Device_VireoPlayer::mfgRequest("mfg_log_2", "fw.bin"),
             QString("POST /v1/mfg.json HTTP/1.1\r\nHost: vireo-player.local\r\nUser-Agent: Pellora/3.0\r\n"
                     "Content-Length: 22\r\n\r\n{\"mfg_log_2\":\"fw.bin\"}"));

    // What reaches the line: one frame per request, GET without and the
    // others with a terminating zero, checksums that add up.
    const QStringList texts{Device_VireoPlayer::descriptorRequest(),
                            Device_VireoPlayer::mfgRequest("mfg_log_2", "fw.bin"),
                            Device_VireoPlayer::deleteRequest("playback.json")};
    for (const QString &text : texts)
        QVERIFY(!m_device->exchange(text).isEmpty());
    const QList<QByteArray> frames = m_player->receivedFrames();
    QCOMPARE(frames.size(), 3);
    for (int i = 0; i < 3; ++i) {
        const QByteArray expected = texts.at(i).toLatin1() + (i == 0 ? QByteArray() : QByteArray(1, '\0'));
        const VireoFrame::Header h = VireoFrame::header(frames.at(i));
        QCOMPARE(payloadOf(frames.at(i)), expected);
        QCOMPARE(int(h.totalLength), 8 + expected.size());
        QCOMPARE(h.source, quint16(0));
        QCOMPARE(h.servicePort, quint16(80));
        QCOMPARE(h.checksum, VireoFrame::checksum(frames.at(i)));
    }
    QCOMPARE(m_player->mfgValues().value("mfg_log_2"), QString("fw.bin"));
    QCOMPARE(m_player->deletedFiles(), QStringList{"playback.json"});
    QCOMPARE(logTexts().count("Received reply from Controller."), 3);
}

void TestVireoProtocol::requestSizeLimit()
{
    m_player->setResponder([](const QByteArray &) { return std::optional<QByteArray>(); });
    m_device->exchange("G" + QString(99, 'x'));
    m_device->exchange("D" + QString(99, 'x'));
    m_device->exchange("G" + QString(1023, 'x'));
    QVERIFY(m_device->exchange("G" + QString(1024, 'x')).isEmpty());
    QTRY_COMPARE(m_player->receivedFrames().size(), 3);
    QCOMPARE(m_player->receivedFrames().at(0).size(), 108);
    QCOMPARE(m_player->receivedFrames().at(1).size(), 109);
    QCOMPARE(m_player->receivedFrames().at(1).back(), '\0');
    QCOMPARE(m_player->receivedFrames().at(2).size(), 8 + 1024);
    QCOMPARE(m_logs.last(), qMakePair(LOG_SEVERE, QString("Message to Controller too large.")));
}

void TestVireoProtocol::replyReading_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QByteArray>("expected");
    const QByteArray frame = SimulatedVireoPlayer::replyFrame(80, "HTTP/1.1 200 OK");
    const QByteArray status = SimulatedVireoPlayer::statusFrame();
    QTest::newRow("plain reply") << frame << QByteArray("HTTP/1.1 200 OK");
    QTest::newRow("status frames skipped") << status + status + frame << QByteArray("HTTP/1.1 200 OK");
    QTest::newRow("status from source 0 skipped")
        << SimulatedVireoPlayer::replyFrame(80, "abcd", 0) + frame << QByteArray("HTTP/1.1 200 OK");
    QTest::newRow("four-byte reply from another source kept")
        << SimulatedVireoPlayer::replyFrame(80, "abcd", 80) << QByteArray("abcd");
    QTest::newRow("only a status frame") << status << QByteArray();
    QTest::newRow("no reply") << QByteArray() << QByteArray();
    QTest::newRow("short header") << QByteArray("\0\0P\0", 4) << QByteArray();
    QTest::newRow("length below the header") << QByteArray::fromHex("0000500004000000ffff") << QByteArray();
    QTest::newRow("empty payload") << SimulatedVireoPlayer::replyFrame(80, QByteArray()) << QByteArray();
    const QByteArray big(1100, 'b');
    QTest::newRow("payload over 1024 cut") << SimulatedVireoPlayer::replyFrame(80, big) << big.left(1024);
}

void TestVireoProtocol::replyReading()
{
    QFETCH(QByteArray, reply);
    QFETCH(QByteArray, expected);
    m_player->setResponder([reply](const QByteArray &) { return std::optional<QByteArray>(reply); });
    QCOMPARE(m_device->exchange(Device_VireoPlayer::descriptorRequest()), expected);
    QCOMPARE(logTexts().contains("Received reply from Controller."), !expected.isEmpty());
    // The line is usable again for the next request.
    m_player->setResponder({});
    QVERIFY(!m_device->exchange(Device_VireoPlayer::descriptorRequest()).isEmpty());
}

void TestVireoProtocol::descriptorFromThePlayer()
{
    m_player->setStatusFrames(true);
    VireoDescriptor d;
    m_device->getDescriptor(d);
    QCOMPARE(d.serialNumber, QString("VP-004217"));
    QCOMPARE(d.productString, QString("Vireo Player"));
    QCOMPARE(d.productionDate, QString("2013-05-14"));
    QCOMPARE(d.firmwareVersion, QString("1.2.0"));

    m_player->setResponder([](const QByteArray &) {
        return std::optional<QByteArray>(SimulatedVireoPlayer::replyFrame(
            80, httpOk("{\"serial_number\": \"SN 9\",\"product_string\":\"VP\",\"firmware_version\":\"2.0.1\"}")));
    });
    m_device->getDescriptor(d);
    QCOMPARE(d.serialNumber, QString("SN 9"));
    QCOMPARE(d.productString, QString("VP"));
    QCOMPARE(d.productionDate, QString());
    QCOMPARE(d.firmwareVersion, QString("2.0.1"));
}

void TestVireoProtocol::versionsInTheDescriptorsForm_data()
{
    QTest::addColumn<QString>("descriptor");
    QTest::addColumn<QString>("comparable"); // null: cannot be compared
    QTest::newRow("plain") << "2.1.0" << "2.1.0";
    QTest::newRow("leading zeros") << "02.01.00" << "2.1.0";
    QTest::newRow("two parts") << "2.1" << QString();
    QTest::newRow("four parts") << "2.1.0.7" << QString();
    QTest::newRow("prefix") << "v2.1.0" << QString();
    QTest::newRow("suffix") << "2.1.0-beta" << QString();
    QTest::newRow("blank inside") << "2. 1.0" << QString();
    QTest::newRow("empty part") << "2..0" << QString();
    QTest::newRow("empty") << "" << QString();
}

void TestVireoProtocol::versionsInTheDescriptorsForm()
{
    QFETCH(QString, descriptor);
    QFETCH(QString, comparable);
    QCOMPARE(Device_VireoPlayer::comparableVersion(descriptor), comparable);
    QCOMPARE(Device_VireoPlayer::comparableVersion(descriptor).isNull(), comparable.isNull());

    // The image names its version only behind its magic word, whole.
    QByteArray image(0x300, '\0');
    QVERIFY(Device_VireoPlayer::imageVersion(image).isNull());
    qToLittleEndian<quint32>(Device_VireoPlayer::kImageMagic, image.data() + Device_VireoPlayer::kImageMagicOffset);
    qToLittleEndian<quint32>(0x0A0B0C, image.data() + Device_VireoPlayer::kImageVersionOffset);
    QCOMPARE(Device_VireoPlayer::imageVersion(image), QStringLiteral("10.11.12"));
    QVERIFY(Device_VireoPlayer::imageVersion(image.left(Device_VireoPlayer::kImageVersionOffset + 3)).isNull());
}

void TestVireoProtocol::fileNameValueIsEscapedForJson_data()
{
    QTest::addColumn<QString>("value");
    QTest::newRow("plain") << "player-2.0.1.bin";
    QTest::newRow("quote") << "my \"best\" image.bin";
    QTest::newRow("backslash") << "back\\slash.bin";
    QTest::newRow("control characters") << QString("tab\there\nnew\x01.bin");
    QTest::newRow("beyond ASCII") << QString::fromUtf8("Lüfter-Bühne €.bin");
}

void TestVireoProtocol::fileNameValueIsEscapedForJson()
{
    QFETCH(QString, value);
    QVERIFY(m_device->setMfgValue("mfg_log_2", value));
    // The player reads the body with a real JSON parser and checks its length.
    QCOMPARE(m_player->mfgValues().value("mfg_log_2"), value);
    QCOMPARE(m_logs.last(), qMakePair(LOG_INFO, QString("Set mfg_log_2: %1.").arg(value)));
    const QByteArray payload = payloadOf(m_player->receivedFrames().last());
    for (char c : payload.chopped(1))
        QVERIFY(uchar(c) >= 0x20 || c == '\r' || c == '\n');

    // A player that does not answer is not reported as set.
    m_player->setResponder([](const QByteArray &) { return std::optional<QByteArray>(QByteArray()); });
    QVERIFY(!m_device->setMfgValue("mfg_log_2", value));
    QCOMPARE(m_logs.last().first, LOG_WARNING);
}

void TestVireoProtocol::factoryRestoreDeletesSevenFilesRetryingOnce()
{
    m_progress->open(nullptr);
    m_progress->setMaximum(28);
    // No answer to the first request for color_wash.json; none at all for playback.json.
    QMap<QString, int> silences{{"color_wash.json", 1}, {"playback.json", 2}};
    m_player->setResponder([&silences](const QByteArray &frame) -> std::optional<QByteArray> {
        for (auto it = silences.begin(); it != silences.end(); ++it) {
            if (frame.contains(it.key().toLatin1()) && it.value() > 0) {
                --it.value();
                return QByteArray();
            }
        }
        return std::nullopt;
    });
    m_prompter->expectMessage(Kind::Critical, "Vireo Player Bootloader", "Failed to restore Factory Settings.");
    QVERIFY(!m_device->restoreFactoryDefaults());

    QCOMPARE(m_player->deletedFiles(),
             QStringList({"chasing_rainbow.json", "color_wash.json", "custom_rainbow.json",
                          "fixed_color.json", "fixed_white.json", "random_color.json"}));
    QStringList lines = m_player->requestLines();
    QCOMPARE(lines.size(), 7 + 1 + 1);
    QCOMPARE(lines.count("DELETE /v1/color_wash.json HTTP/1.1"), 2);
    QCOMPARE(lines.count("DELETE /v1/playback.json HTTP/1.1"), 2);
    QCOMPARE(lines.last(), QString("DELETE /v1/random_color.json HTTP/1.1"));
    const auto &progress = *m_prompter->progresses().first();
    QVERIFY(progress.labels.contains("Restoring Factory Defaults..."));
    QVERIFY(progress.values.contains(28)); // to its maximum at the failed file

    // A reply without the confirmation is a failure of its own.
    m_player->setResponder([](const QByteArray &) {
        return std::optional<QByteArray>(SimulatedVireoPlayer::replyFrame(80, "HTTP/1.1 500 Error\r\n\r\n"));
    });
    m_prompter->expectMessage(Kind::Critical, "Vireo Player Bootloader", "Failed to restore Factory Settings.");
    QVERIFY(!m_device->deleteFile("fixed_white.json"));
}

void TestVireoProtocol::bootLoaderHandshake()
{
    QSignalSpy states(m_player.get(), &SimulatedVireoPlayer::stateChanged);
    m_device->enterBootLoader();
    const QList<QByteArray> frames = m_player->receivedFrames();
    QCOMPARE(frames.size(), 2);
    QCOMPARE(frames.at(0), QByteArray::fromHex("0000160013001077") + "boot loader");
    QCOMPARE(frames.at(1), QByteArray::fromHex("000016000E0097B6") + "reboot");
    QCOMPARE(m_player->state(), SimulatedVireoPlayer::State::BootLoader);
    QStringList found;
    QCOMPARE(m_device->findBootLoaderDevices(found), 1);
    QCOMPARE(found, QStringList{"VID=0xf0e5, PID=0x2125"});
    QVERIFY(m_device->findPlayerPorts().isEmpty());
    const auto &waiting = *m_prompter->progresses().first();
    QCOMPARE(waiting.label, QString("Waiting for Vireo Player, to reboot"));
    QVERIFY(waiting.closed);
    QCOMPARE(m_logs.last(), qMakePair(LOG_FINE, QString("Received reply from Controller.")));
}

void TestVireoProtocol::bootLoaderHandshakeRefused()
{
    m_player->setRebootRefused(true);
    m_device->enterBootLoader();
    QCOMPARE(m_player->requestLines(), QStringList{"boot loader"});
    QCOMPARE(m_player->state(), SimulatedVireoPlayer::State::Application);
    QStringList found;
    QCOMPARE(m_device->findBootLoaderDevices(found), 0);

    // A port that is not the player's gets no command at all.
    SerialPortEntry other = m_device->port();
    other.vendorId = 0x1234;
    other.productId = 0x2124;
    m_device->setPort(other);
    m_device->enterBootLoader();
    QCOMPARE(m_player->receivedFrames().size(), 1);
}

void TestVireoProtocol::portsWithoutAPlayer()
{
    // No port chosen: nothing is sent and nothing logged.
    m_device->setPort(SerialPortEntry());
    QVERIFY(m_device->exchange(Device_VireoPlayer::descriptorRequest()).isEmpty());
    QVERIFY(m_logs.isEmpty());

    // A port that cannot be opened.
    m_device->setPort(entry("ttyACM9-missing", VIREO_VENDOR_ID, VIREO_SERIAL_PRODUCT_ID));
    QVERIFY(m_device->exchange(Device_VireoPlayer::descriptorRequest()).isEmpty());
    QCOMPARE(m_logs.size(), 1);
    QCOMPARE(m_logs.first(), qMakePair(LOG_SEVERE, QString("Could not open connection to controller. "
                                                           "(Is there another application connected?)")));
    QVERIFY(m_player->receivedFrames().isEmpty());
}

void TestVireoProtocol::findPlayerPortsKeepsOnlyThePlayersUsbPorts()
{
    ListedPorts ports;
    ports.entries = {entry("ttyACM0", VIREO_VENDOR_ID, VIREO_SERIAL_PRODUCT_ID),
                     entry("ttyUSB1", VIREO_VENDOR_ID, VIREO_SERIAL_PRODUCT_ID),
                     entry("ttyS0", VIREO_VENDOR_ID, VIREO_SERIAL_PRODUCT_ID),
                     entry("ttyACM2", VIREO_VENDOR_ID, VIREO_BOOTLOADER_PRODUCT_ID),
                     entry("ttyACM3", 0x1234, VIREO_SERIAL_PRODUCT_ID),
                     entry("ttyACM4", 0, 0, false)};
    Device_VireoPlayer device(nullptr, *m_prompter, ports, *m_hid, *m_progress);
    QStringList names;
    for (const SerialPortEntry &p : device.findPlayerPorts())
        names.append(p.portName);
    QCOMPARE(names, QStringList({"ttyACM0", "ttyUSB1"}));
}

void TestVireoProtocol::downloadFailuresAreReportedAndCloseTheDevice_data()
{
    QTest::addColumn<QString>("situation");
    QTest::addColumn<int>("result");
    QTest::addColumn<QString>("message");
    QTest::newRow("no boot loader") << "none" << 10 << "Failed to open device.";
    QTest::newRow("reports too short for data") << "short" << 10
                                                 << "The device's feature reports are 5 bytes long; a firmware download "
                                                    "needs 6 to 257 bytes. Nothing was sent.";
    QTest::newRow("file not found") << "missing" << 1 << "Failed to find file: /nonexistent/player.bin.";
    QTest::newRow("start refused") << "start" << 3 << "Failed to open device.";
    QTest::newRow("block refused") << "block" << 4 << "Writing Firmware failed.";
    QTest::newRow("finish refused") << "finish" << 10 << "Firmware download failed.";
}

void TestVireoProtocol::downloadFailuresAreReportedAndCloseTheDevice()
{
    QFETCH(QString, situation);
    QFETCH(int, result);
    QFETCH(QString, message);
    SimulatedHidDevices &hid = m_player->hid();
    if (situation == "short")
        m_player->setBootLoaderReportLength(5);
    if (situation != "none")
        m_player->setState(SimulatedVireoPlayer::State::BootLoader);
    if (situation == "start")
        hid.failSendAt(0);
    if (situation == "block")
        hid.failSendAt(20);
    if (situation == "finish")
        hid.failSendAt(1 + 18 * 2);
    const QByteArray image = situation == "missing" ? QByteArray() : QByteArray(2160, 'i');

    m_prompter->expectMessage(Kind::Critical, "Vireo Player Bootloader", message);
    QCOMPARE(m_device->downloadFW(nullptr, image, "/nonexistent/player.bin"), result);
    QVERIFY(!m_hid->isOpen());
    QVERIFY(hid.openPath().isEmpty());
    QCOMPARE(m_logs.last(), qMakePair(LOG_SEVERE, message));
    const auto &progress = *m_prompter->progresses().first();
    QCOMPARE(progress.values.last(), progress.maximum);
    QCOMPARE(m_player->downloads(), 0);
}

void TestVireoProtocol::quittingApplicationEndsTheWaitAndTheTalk()
{
    // A window the test could not sit out unnoticed: ending the wait is told
    // apart from waiting it out by half of it, whatever the machine's load.
    VireoTimings slow;
    slow.replyWindowMs = 60000;
    m_device->setTimings(slow);
    m_player->setResponder([](const QByteArray &) { return std::optional<QByteArray>(QByteArray()); });
    // What a closing window does to the main loop, here without one running.
    QTimer::singleShot(0, QCoreApplication::instance(), [] { QCoreApplication::exit(0); });
    QElapsedTimer clock;
    clock.start();
    QVERIFY(m_device->exchange(Device_VireoPlayer::descriptorRequest()).isEmpty());
    QVERIFY2(clock.elapsed() < slow.replyWindowMs / 2, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(m_device->stopped());
    const int frames = m_player->receivedFrames().size();
    QVERIFY(m_device->exchange(Device_VireoPlayer::descriptorRequest()).isEmpty());
    QCOMPARE(m_player->receivedFrames().size(), frames);
}

QTEST_GUILESS_MAIN(TestVireoProtocol)
#include "test_VireoProtocol.moc"
