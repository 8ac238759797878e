#include "ethernet/tftpInterfaceControl.h"

#include "catalogue/BootLoadProduct.h"
#include "ethernet/ControllerVerifier.h"
#include "ethernet/SimulatedTarvo.h"
#include "ethernet/TarvoNotPresent.h"
#include "catalogue/MicroprocessorImageInfo.h"
#include "ethernet/QTFTP.h"
#include "simulator/ControllerSimulator.h"
#include "tests/ethernet/ControllerImage.h"
#include "tests/support/FakePrompter.h"
#include "tests/support/RecordingPauser.h"

#include <QCheckBox>
#include <QCryptographicHash>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>

#include <functional>
#include <memory>

// The panel against simulated controllers on loopback: discovery, the three
// ways of reading a revision, the write and how its end is reported.
class TestTftpInterfaceControl : public QObject
{
    Q_OBJECT

private slots:
    void form_hasNamedControlsWithTheirTexts();
    void enableControl_togglesTheGroupBox();
    void setters_storeProductAndPort();
    void discoverReadRevisionAndProgram_data();
    void discoverReadRevisionAndProgram();
    void failedWrite_keepsTheListAndOffersProgramAgain();
    void controllerError_endsTheWrite_andItsCodeAndTextAreReported_data();
    void controllerError_endsTheWrite_andItsCodeAndTextAreReported();
    void shutdown_duringAWrite_stopsItQuietly();
    void nothingFound_orNoRevision_leavesPanelUsableWithoutProgram();
    void discoverOrImageErrors_leaveThePanelUsable();
    void manualAddress_data();
    void manualAddress();
    void manualAddress_promptDecidesWhetherAnythingIsSent();
    void writeThenCheck_data();
    void writeThenCheck();
    void findDevice_data();
    void findDevice();
    void revisionFromInfo_data();
    void revisionFromInfo();
    void revisionCheck_data();
    void revisionCheck();
    void typedAddress_isAskedWhatItIsBeforeTheWrite_data();
    void typedAddress_isAskedWhatItIsBeforeTheWrite();
    void shutdown_recordsWhatTheRunHadDone_data();
    void shutdown_recordsWhatTheRunHadDone();
    void lateRevisionAnswers_doNotHandTheControlsBackDuringAWrite_data();
    void lateRevisionAnswers_doNotHandTheControlsBackDuringAWrite();
    void discoveredAddresses_followTheTypedAddressRules();
    void valueRepliesNobodyWaitsFor_leaveProgramAsItIs();
    void emptyAddressField_takesDigitsFromItsStart_data();
    void emptyAddressField_takesDigitsFromItsStart();

private:
    // Everything one panel run needs, on fresh loopback ports.
    struct Rig {
        FakePrompter prompter;
        RecordingPauser pauser;
        SimulatedTarvo tarvo;
        EthernetSettings settings;
        std::unique_ptr<ControllerSimulator> sim;
        BootLoadProduct product {prompter};
        MicroprocessorImageInfo *processor = nullptr;
        std::unique_ptr<tftpInterfaceControl> panel;
        QStringList log;
        QList<bool> programButton;
        int completions = 0;
        QList<UpdateRecord> records;
        QStringList statuses;
        QTemporaryDir dir;

        // adjust, when given, changes each of the four controllers before the simulator starts.
        Rig(const QString &productName, const QString &sft, const ControllerSimulator::Faults &faults = {},
            const ControllerSimulator::Options &simulation = {},
            const std::function<void(ControllerSimulator::Controller &)> &adjust = {});
        bool loadImage(quint32 version, int filler = 3000);
        void discover();
        QComboBox *list() const { return panel->findChild<QComboBox *>("m_comboBox_TFTPDevicesDiscovered"); }
        QString revision() const { return panel->findChild<QLabel *>("m_label_FWVersion")->text(); }
        bool enabled() const { return panel->findChild<QGroupBox *>("m_groupBox_TFTPControlPanel")->isEnabled(); }
    };

    FakePrompter m_prompter;
    RecordingPauser m_pauser;
};

namespace {

const quint32 kMagic = 0xE7C00101;

ControllerSimulator::Controller controller(quint32 ip, const char *id, const char *verstring, quint32 revision)
{
    ControllerSimulator::Controller c;
    c.ip = ip;
    c.idstring = id;
    c.verstring = verstring;
    c.revision = revision;
    c.sn = ip & 0xFF;
    return c;
}

} // namespace

TestTftpInterfaceControl::Rig::Rig(const QString &productName, const QString &sft,
                                   const ControllerSimulator::Faults &faults,
                                   const ControllerSimulator::Options &simulation,
                                   const std::function<void(ControllerSimulator::Controller &)> &adjust)
{
    ControllerSimulator::Options options = simulation;
    options.tftpPort = 0;
    options.versionOffset = 0x14;
    options.faults = faults;
    sim = std::make_unique<ControllerSimulator>(options);
    for (ControllerSimulator::Controller c : {controller(0x7F000002, "Ostrel Hub", "SFT-OH 2.1", 0x21),
                                              controller(0x7F000003, "Marlow White", "Marlow SFT-MW 1.7", 7),
                                              controller(0x7F000004, "Marlow White", "SFT-MW 1.9", 9),
                                              controller(0x7F000005, "Brisa Quad", "SFT-BQ 1.0", 12)}) {
        if (adjust)
            adjust(c);
        sim->addController(c);
    }
    // The controller-value library learns what a write left, as the real one would.
    const bool noReturn = options.noReturn;
    sim->setWriteDone([this, noReturn](quint32 ip, quint32 revision, const QByteArray &) {
        QMetaObject::invokeMethod(&tarvo, [this, ip, revision, noReturn] {
            if (noReturn)
                tarvo.removeController(ip);
            else
                tarvo.setValue(ip, TarvoLibrary::kFirmwareRevision, revision);
        }, Qt::QueuedConnection);
    });
    if (!sim->start())
        qWarning("simulator: %s", qPrintable(sim->errorString()));
    tarvo.setReplyDelay(5);
    tarvo.setValue(0x7F000005, TarvoLibrary::kFirmwareRevision, 12);

    settings.discoveryDestination = QStringLiteral("127.0.0.1");
    settings.discoveryPortOverride = sim->discoveryPort();
    settings.tftpPort = sim->tftpPort();
    settings.announcePort = 0;
    settings.pollIntervalMs = 10;
    settings.discoveryWindowMs = 150;
    settings.queryWindowMs = 600;
    settings.infoReadTimeoutMs = 40;
    settings.writeTimeoutMs = 40;
    settings.verifySettleMs = 10;
    settings.verifyRetryMs = 50;

    product.setName(productName);
    product.setInterfaceType(2);
    processor = new MicroprocessorImageInfo(prompter, &product);
    processor->setHierarchy(0);
    processor->setFileType(0);
    processor->setSft(sft);
    processor->setWordSize(1);
    processor->setWordCount(0x1000);
    processor->setMagicLoc(0x10);
    processor->setMagicFlag(kMagic);
    processor->setVerLoc(0x14);
    product.addProcessor(processor);

    panel = std::make_unique<tftpInterfaceControl>(prompter, pauser, tarvo, settings);
    panel->setProduct(&product);
    panel->setDiscoverPort(6038);
    QObject::connect(panel.get(), &tftpInterfaceControl::signal_log, panel.get(),
                     [this](LOGPRIORITY p, LOGTYPE, QString, QString text) {
                         log.append((p == LOG_WARNING ? QStringLiteral("WARNING ") : QString()) + text);
                     });
    QObject::connect(panel.get(), &tftpInterfaceControl::signal_enableProgramButton, panel.get(),
                     [this](bool on) { programButton.append(on); });
    QObject::connect(panel.get(), &tftpInterfaceControl::signal_programComplete, panel.get(),
                     [this] { ++completions; });
    QObject::connect(panel.get(), &tftpInterfaceControl::signal_runRecord, panel.get(),
                     [this](const UpdateRecord &r) { records.append(r); });
    QObject::connect(panel.get(), &tftpInterfaceControl::signal_updateStatus, panel.get(),
                     [this](const QString &text) { statuses.append(text); });
}

bool TestTftpInterfaceControl::Rig::loadImage(quint32 version, int filler)
{
    QFile file(dir.filePath(QStringLiteral("controller.hex")));
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(controllerHex({{0x10, kMagic}, {0x14, version}}, filler));
    file.close();
    return product.loadImage(file.fileName());
}

void TestTftpInterfaceControl::Rig::discover()
{
    panel->findChild<QPushButton *>("m_pushButton_TFTPDiscover")->click();
}

void TestTftpInterfaceControl::form_hasNamedControlsWithTheirTexts()
{
    TarvoNotPresent tarvo;
    tftpInterfaceControl panel(m_prompter, m_pauser, tarvo);
    QCOMPARE(panel.objectName(), QString("tftpInterfaceControl"));
    QCOMPARE(panel.windowTitle(), QString("tftpInterfaceControl"));
    QCOMPARE(panel.size(), QSize(457, 174));

    auto *box = panel.findChild<QGroupBox *>("m_groupBox_TFTPControlPanel");
    QVERIFY(box);
    QCOMPARE(box->title(), QString("TFTP Control Panel"));
    auto *discover = box->findChild<QPushButton *>("m_pushButton_TFTPDiscover");
    QVERIFY(discover);
    QCOMPARE(discover->text(), QString("Discover"));
    QCOMPARE(discover->minimumWidth(), 120);
    auto *list = box->findChild<QComboBox *>("m_comboBox_TFTPDevicesDiscovered");
    QVERIFY(list);
    QCOMPARE(list->minimumWidth(), 250);
    QCOMPARE(list->count(), 0);
    auto *revision = box->findChild<QLabel *>("m_label_FWVersion");
    QVERIFY(revision);
    QVERIFY(revision->text().isEmpty());
    auto *manualLabel = box->findChild<QLabel *>("label");
    QVERIFY(manualLabel);
    QCOMPARE(manualLabel->text(), QString("Manual IP Entry"));
    QCOMPARE(manualLabel->alignment(), Qt::AlignCenter);
    auto *address = box->findChild<QLineEdit *>("m_lineEdit_tftpManualIPEntry");
    QVERIFY(address);
    // Qt reports the default blank (a space) without the ";" part.
    QCOMPARE(address->inputMask(), QString("000.000.000.000"));
    QCOMPARE(address->displayText(), QString("   .   .   .   "));
    auto *all = box->findChild<QCheckBox *>("m_checkBox_tftpProgramAll");
    QVERIFY(all);
    QCOMPARE(all->text(), QString("Program All Discovered Devices"));
    QVERIFY(!all->isEnabled());
    for (const char *layout : {"verticalLayout_2", "verticalLayout", "gridLayout",
                               "horizontalLayout", "horizontalLayout_2", "horizontalLayout_3"})
        QVERIFY2(panel.findChild<QLayout *>(layout), layout);
}

void TestTftpInterfaceControl::enableControl_togglesTheGroupBox()
{
    TarvoNotPresent tarvo;
    tftpInterfaceControl panel(m_prompter, m_pauser, tarvo);
    auto *box = panel.findChild<QGroupBox *>("m_groupBox_TFTPControlPanel");
    panel.handleEnableControl(false);
    QVERIFY(!box->isEnabled());
    panel.handleEnableControl(true);
    QVERIFY(box->isEnabled());
    // The unsupported check box stays off whatever the group box does.
    QVERIFY(!panel.findChild<QCheckBox *>("m_checkBox_tftpProgramAll")->isEnabled());
}

void TestTftpInterfaceControl::setters_storeProductAndPort()
{
    TarvoNotPresent tarvo;
    tftpInterfaceControl panel(m_prompter, m_pauser, tarvo);
    QCOMPARE(panel.product(), nullptr);
    QCOMPARE(panel.discoverPort(), 0);
    BootLoadProduct product(m_prompter);
    panel.setProduct(&product);
    panel.setDiscoverPort(20034);
    QCOMPARE(panel.product(), &product);
    QCOMPARE(panel.discoverPort(), 20034);
}

void TestTftpInterfaceControl::discoverReadRevisionAndProgram_data()
{
    QTest::addColumn<QString>("product");
    QTest::addColumn<QString>("sft");
    QTest::addColumn<QStringList>("entries");
    QTest::addColumn<QString>("revision");
    QTest::addColumn<QList<int>>("pauses");
    QTest::addColumn<QString>("revisionAfter");

    // "info" read: revision 0x21, then the written image's build byte.
    QTest::newRow("info route") << "Ostrel Hub" << "SFT-OH" << QStringList {"127.0.0.2 Ostrel Hub"}
                                << "Rev. 33" << QList<int> {5000} << "Rev. 74";
    // A reply that says Marlow carries the revision; no network question.
    QTest::newRow("Marlow route") << "Marlow White" << "SFT-MW"
                                  << QStringList {"127.0.0.3 Marlow White", "127.0.0.4 Marlow White"}
                                  << "Rev. 7" << QList<int> {} << "Rev. 74";
    QTest::newRow("Brisa Quad route") << "Brisa Quad" << "SFT-BQ" << QStringList {"127.0.0.5 Brisa Quad"}
                                      << "Rev. 12" << QList<int> {} << "Rev. 74";
}

void TestTftpInterfaceControl::discoverReadRevisionAndProgram()
{
    QFETCH(QString, product);
    QFETCH(QString, sft);
    QFETCH(QStringList, entries);
    QFETCH(QString, revision);
    QFETCH(QList<int>, pauses);
    QFETCH(QString, revisionAfter);
    Rig rig(product, sft);
    QVERIFY(rig.loadImage(0x0002034A));

    rig.discover();
    QVERIFY(!rig.enabled());
    QTRY_COMPARE(rig.revision(), revision);
    QStringList shown;
    for (int i = 0; i < rig.list()->count(); ++i)
        shown.append(rig.list()->itemText(i));
    QCOMPARE(shown, entries);
    QVERIFY(rig.enabled());
    QCOMPARE(rig.programButton.last(), true);
    QCOMPARE(rig.pauser.pauses, pauses);
    QVERIFY(rig.log.contains("Firmware: " + revision));
    // Beside it, where the image takes the controller; an image whose
    // version the controller's cannot be compared with adds nothing.
    auto *step = rig.panel->findChild<QLabel *>("m_label_FWStep");
    QCOMPARE(step->text(), QStringLiteral("→ 74"));
    rig.processor->setBlRev(2);
    rig.panel->handleEnableControl(true);
    QVERIFY(step->text().isEmpty());
    QCOMPARE(rig.revision(), revision);
    rig.processor->setBlRev(1);
    rig.panel->handleEnableControl(true);
    QCOMPARE(step->text(), QStringLiteral("→ 74"));

    if (entries.size() > 1) {
        // The second Marlow never said so in its reply: it is asked for "info".
        rig.list()->setCurrentIndex(1);
        QTRY_COMPARE(rig.revision(), QStringLiteral("Rev. 9"));
        QCOMPARE(rig.pauser.pauses, QList<int> {5000});
        rig.list()->setCurrentIndex(0);
        QTRY_COMPARE(rig.revision(), revision);
    }

    const quint32 address = QHostAddress(entries.first().section(' ', 0, 0)).toIPv4Address();
    rig.panel->program(QStringLiteral("controller.hex"));
    QVERIFY(rig.panel->runInProgress());
    QTRY_COMPARE(rig.completions, 1);
    QVERIFY(!rig.panel->runInProgress());
    QCOMPARE(rig.sim->controller(address).firmware, rig.product.imageData());
    QVERIFY(rig.log.contains(QStringLiteral("Program complete: %1").arg(rig.product.imageData().size())));
    QVERIFY(rig.log.contains("IP address " + entries.first().section(' ', 0, 0) + " selected"));
    QCOMPARE(rig.list()->count(), 0);
    QVERIFY(step->text().isEmpty());
    QVERIFY(rig.enabled());
    const auto progress = rig.prompter.progresses();
    QCOMPARE(progress.size(), 1);
    QCOMPARE(progress.first()->values.first(), 0);
    QCOMPARE(progress.first()->values.last(), 110);
    QCOMPARE(progress.first()->labels, (QStringList {"Writing", "Complete"}));
    QVERIFY(progress.first()->closed);

    // A new Discover shows what the controller runs now.
    rig.discover();
    QTRY_COMPARE(rig.revision(), revisionAfter);
    QVERIFY(rig.prompter.shown().size() == 1); // the progress dialog only
}

void TestTftpInterfaceControl::failedWrite_keepsTheListAndOffersProgramAgain()
{
    ControllerSimulator::Faults faults;
    faults.answerFromOtherPort = true;
    Rig rig("Marlow White", "SFT-MW", faults);
    QVERIFY(rig.loadImage(0x00010203, 0));
    rig.discover();
    QTRY_COMPARE(rig.revision(), QStringLiteral("Rev. 7"));

    rig.prompter.expectMessage(Prompter::Kind::Warning, "TFTP ERROR",
                               "Unable to communicate with TFTP device!\n Fix connection and try again.");
    rig.programButton.clear();
    rig.panel->program(QStringLiteral("controller.hex"));
    QTRY_VERIFY(!rig.panel->runInProgress());
    QCOMPARE(rig.prompter.pendingExpectations(), 0);
    QCOMPARE(rig.completions, 0);
    QCOMPARE(rig.programButton, QList<bool> {true});
    QCOMPARE(rig.list()->count(), 2);
    QVERIFY(rig.enabled());
    QVERIFY(rig.log.contains("WARNING Program failed (-2) for 127.0.0.3: TFTP: doWrite giving up after 5 retries"));
    QVERIFY(rig.log.filter("Program complete").isEmpty());
    QCOMPARE(rig.sim->controller(0x7F000003).writes, 0);
    QVERIFY(rig.prompter.progresses().first()->closed);
    QCOMPARE(rig.records.size(), 1);
    QCOMPARE(rig.records.first().outcome, UpdateRecord::Outcome::Failed);
    QCOMPARE(rig.records.first().address, QStringLiteral("127.0.0.3"));
    QCOMPARE(rig.records.first().revisionBefore, QStringLiteral("7"));
    QCOMPARE(rig.records.first().reason, QStringLiteral("TFTP: doWrite giving up after 5 retries"));
    QVERIFY(rig.records.first().revisionAfter.isNull());
}

void TestTftpInterfaceControl::controllerError_endsTheWrite_andItsCodeAndTextAreReported_data()
{
    QTest::addColumn<int>("atBlock");
    QTest::addColumn<int>("code");
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("reason");
    QTest::newRow("to the request") << 0 << 2 << QByteArray("Access violation")
                                    << "TFTP: the controller ended the transfer with error 2 \"Access violation\"";
    QTest::newRow("at DATA block 3") << 3 << 3 << QByteArray("Disk full")
                                     << "TFTP: the controller ended the transfer with error 3 \"Disk full\"";
}

void TestTftpInterfaceControl::controllerError_endsTheWrite_andItsCodeAndTextAreReported()
{
    QFETCH(int, atBlock);
    QFETCH(int, code);
    QFETCH(QByteArray, text);
    QFETCH(QString, reason);
    ControllerSimulator::Faults faults;
    faults.errorAtBlock = atBlock;
    faults.errorCode = code;
    faults.errorText = text;
    Rig rig("Marlow White", "SFT-MW", faults);
    // No block is sent again for lateness, so the packets can be counted.
    rig.settings.writeTimeoutMs = 60000;
    QVERIFY(rig.loadImage(0x00010203));
    rig.discover();
    QTRY_COMPARE(rig.revision(), QStringLiteral("Rev. 7"));

    rig.prompter.expectMessage(Prompter::Kind::Warning, "TFTP ERROR",
                               "Programming the controller at 127.0.0.3 failed: " + reason
                                   + "\nNothing was completed; fix the problem and try again.");
    rig.panel->program(QStringLiteral("controller.hex"));
    QTRY_VERIFY(!rig.panel->runInProgress());
    QCOMPARE(rig.prompter.pendingExpectations(), 0);
    QVERIFY(rig.log.contains("WARNING Program failed (-1) for 127.0.0.3: " + reason));
    QCOMPARE(rig.records.size(), 1);
    QCOMPARE(rig.records.first().outcome, UpdateRecord::Outcome::Failed);
    QCOMPARE(rig.records.first().reason, reason);
    // Refused once, not asked again and again.
    const ControllerSimulator::Controller c = rig.sim->controller(0x7F000003);
    QCOMPARE(c.writes, 0);
    QCOMPARE(c.packetsIn, quint64(atBlock + 1));
}

void TestTftpInterfaceControl::shutdown_duringAWrite_stopsItQuietly()
{
    ControllerSimulator::Faults faults;
    faults.answerFromOtherPort = true;
    Rig rig("Marlow White", "SFT-MW", faults);
    // Far beyond the test's own time-out: shutdown() returns only by stopping the write.
    rig.settings.writeTimeoutMs = 10 * 60 * 1000;
    QVERIFY(rig.loadImage(0x00010203, 0));
    rig.discover();
    QTRY_COMPARE(rig.revision(), QStringLiteral("Rev. 7"));
    rig.panel->program(QStringLiteral("controller.hex"));
    QVERIFY(rig.panel->runInProgress());
    rig.panel->shutdown();
    rig.panel->shutdown();
    QVERIFY(!rig.panel->runInProgress());
    QTest::qWait(50); // nothing of the stopped write arrives afterwards
    QCOMPARE(rig.completions, 0);
    QVERIFY(rig.prompter.shown().size() <= 1); // at most its progress dialog
    QVERIFY(rig.log.contains("WARNING Write to 127.0.0.3 stopped: the updater is closing."));
}

void TestTftpInterfaceControl::nothingFound_orNoRevision_leavesPanelUsableWithoutProgram()
{
    Rig rig("Ostrel Hub", "SFT-NONE");
    QVERIFY(rig.loadImage(0x00040001, 0));
    rig.discover();
    QTRY_VERIFY(rig.log.contains("WARNING No device discovered."));
    QVERIFY(rig.enabled());
    QCOMPARE(rig.list()->count(), 0);
    QCOMPARE(rig.programButton, QList<bool> {false});

    // A controller that never tells its revision: the query window closes.
    Rig silent("Brisa Quad", "SFT-BQ");
    QVERIFY(silent.loadImage(0x00010203, 0));
    silent.tarvo.removeController(0x7F000005);
    silent.discover();
    QTRY_VERIFY(silent.log.contains("WARNING No firmware version query response from device."));
    QVERIFY(silent.enabled());
    QCOMPARE(silent.list()->count(), 1);
    QVERIFY(silent.revision().isEmpty());
    QVERIFY(!silent.programButton.contains(true));
    QVERIFY(silent.prompter.shown().isEmpty());
}

void TestTftpInterfaceControl::discoverOrImageErrors_leaveThePanelUsable()
{
    Rig rig("Ostrel Hub", "SFT-OH");
    rig.settings.discoveryDestination = QStringLiteral("nowhere");
    QVERIFY(rig.loadImage(0x00010203, 0));
    rig.prompter.expectMessage(Prompter::Kind::Warning, "Warning", "Error sending discover packet!");
    rig.discover();
    QCOMPARE(rig.prompter.pendingExpectations(), 0);
    QVERIFY(rig.log.contains("WARNING Error sending discover packet!"));
    QVERIFY(rig.enabled());
    QVERIFY(rig.list()->isEnabled());

    // No accepted image: nothing to send, said so, and the panel stays usable.
    Rig bare("Ostrel Hub", "SFT-OH");
    bare.prompter.expectMessage(Prompter::Kind::Warning, "Warning",
                                "No firmware image has been accepted for this device type: nothing was sent.");
    bare.panel->findChild<QLineEdit *>("m_lineEdit_tftpManualIPEntry")->setText("127.0.0.2");
    bare.panel->program(QStringLiteral("controller.hex"));
    QCOMPARE(bare.prompter.pendingExpectations(), 0);
    QVERIFY(bare.enabled());
    QVERIFY(!bare.panel->runInProgress());
    QCOMPARE(bare.completions, 0);
}

void TestTftpInterfaceControl::manualAddress_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::newRow("address") << "127.0.0.2" << true;
    QTest::newRow("leading zeros are decimal") << "010.001.002.003" << true;
    QTest::newRow("partly typed") << "127.0.0." << false;
    QTest::newRow("three fields are not a shorthand") << "127.0.1" << false;
    QTest::newRow("field above 255") << "127.0.0.256" << false;
    QTest::newRow("broadcast") << "255.255.255.255" << false;
    QTest::newRow("unspecified") << "0.0.0.0" << false;
    QTest::newRow("multicast") << "224.0.0.1" << false;
    QTest::newRow("empty") << "" << false;
}

void TestTftpInterfaceControl::manualAddress()
{
    QFETCH(QString, text);
    QFETCH(bool, valid);
    QCOMPARE(tftpInterfaceControl::parseUnicastAddress(text).isNull(), !valid);

    SimulatedTarvo tarvo;
    tftpInterfaceControl panel(m_prompter, m_pauser, tarvo);
    QSignalSpy program(&panel, &tftpInterfaceControl::signal_enableProgramButton);
    panel.findChild<QLineEdit *>("m_lineEdit_tftpManualIPEntry")->setText(text);
    if (!text.isEmpty()) {
        QCOMPARE(program.last().first().toBool(), valid);
        // A typed address replaces discovery.
        QCOMPARE(panel.findChild<QPushButton *>("m_pushButton_TFTPDiscover")->isEnabled(), !valid);
        QCOMPARE(panel.findChild<QComboBox *>("m_comboBox_TFTPDevicesDiscovered")->isEnabled(), !valid);
    }
}

void TestTftpInterfaceControl::manualAddress_promptDecidesWhetherAnythingIsSent()
{
    Rig rig("Ostrel Hub", "SFT-OH");
    QVERIFY(rig.loadImage(0x00010207, 0));
    auto *field = rig.panel->findChild<QLineEdit *>("m_lineEdit_tftpManualIPEntry");
    const QString caution = "You have chosen to manually enter an IP address.\nThis should be used with "
                            "extreme caution.\nDo you wish to continue?";
    field->setText("127.0.0.2");
    QCOMPARE(rig.programButton.last(), true);

    rig.prompter.expectMessage(Prompter::Kind::Warning, "Firmware Updater", caution, QMessageBox::Cancel);
    rig.panel->program(QStringLiteral("controller.hex"));
    QVERIFY(!rig.panel->runInProgress());
    QCOMPARE(rig.prompter.shown().last().guarding, std::optional(GuardingQuestion::ManualAddress));
    QCOMPARE(rig.records.size(), 1);
    QCOMPARE(rig.records.first().outcome, UpdateRecord::Outcome::Cancelled);
    QCOMPARE(rig.records.first().address, QStringLiteral("127.0.0.2"));
    QVERIFY(rig.records.first().revisionBefore.isNull());
    QCOMPARE(rig.programButton.last(), true);
    QVERIFY(rig.enabled());
    QVERIFY(rig.panel->findChild<QPushButton *>("m_pushButton_TFTPDiscover")->isEnabled());

    rig.prompter.expectMessage(Prompter::Kind::Warning, "Firmware Updater", caution, QMessageBox::Ok);
    rig.panel->program(QStringLiteral("controller.hex"));
    QTRY_COMPARE(rig.completions, 1);
    QCOMPARE(rig.prompter.pendingExpectations(), 0);
    QVERIFY(rig.log.contains("Using manual IP address 127.0.0.2"));
    QCOMPARE(rig.sim->controller(0x7F000002).firmware, rig.product.imageData());
    QCOMPARE(rig.sim->controller(0x7F000002).writes, 1);
    // The run is over: the address is gone and PROGRAM waits for a new choice.
    QVERIFY(field->text().remove('.').trimmed().isEmpty());
    QCOMPARE(rig.records.size(), 2);
    QCOMPARE(rig.records.last().outcome, UpdateRecord::Outcome::Verified);
    QCOMPARE(rig.records.last().revisionAfter, QStringLiteral("7"));
}

void TestTftpInterfaceControl::writeThenCheck_data()
{
    QTest::addColumn<QString>("product");
    QTest::addColumn<QString>("sft");
    QTest::addColumn<QString>("address");
    QTest::addColumn<int>("after"); // 0 normal, 1 keeps its revision, 2 never comes back
    QTest::addColumn<int>("outcome");
    QTest::addColumn<QString>("before");
    QTest::addColumn<QString>("revisionAfter");
    QTest::addColumn<QString>("reason");
    QTest::addColumn<quint32>("image"); // its version

    const int verified = int(UpdateRecord::Outcome::Verified);
    const int mismatch = int(UpdateRecord::Outcome::Mismatch);
    const int notVerified = int(UpdateRecord::Outcome::NotVerified);
    const QString gone = QStringLiteral("no answer within 1.01 s of the write");
    const quint32 v74 = 0x0002034A;
    // The image's version is 2.3.74: every route reports the build number 74.
    QTest::newRow("info, verified") << "Ostrel Hub" << "SFT-OH" << "127.0.0.2" << 0 << verified << "33" << "74" << QString() << v74;
    QTest::newRow("Marlow, verified") << "Marlow White" << "SFT-MW" << "127.0.0.3" << 0 << verified << "7" << "74" << QString() << v74;
    QTest::newRow("value, verified") << "Brisa Quad" << "SFT-BQ" << "127.0.0.5" << 0 << verified << "12" << "74" << QString() << v74;
    QTest::newRow("info, mismatch") << "Ostrel Hub" << "SFT-OH" << "127.0.0.2" << 1 << mismatch << "33" << "33"
                                    << "the device reports 33, the image is 74" << v74;
    QTest::newRow("value, mismatch") << "Brisa Quad" << "SFT-BQ" << "127.0.0.5" << 1 << mismatch << "12" << "12"
                                     << "the device reports 12, the image is 74" << v74;
    QTest::newRow("info, gone") << "Ostrel Hub" << "SFT-OH" << "127.0.0.2" << 2 << notVerified << "33" << QString() << gone << v74;
    QTest::newRow("Marlow, gone") << "Marlow White" << "SFT-MW" << "127.0.0.3" << 2 << notVerified << "7" << QString() << gone << v74;
    QTest::newRow("value, gone") << "Brisa Quad" << "SFT-BQ" << "127.0.0.5" << 2 << notVerified << "12" << QString() << gone << v74;
    // The build number the controller ran already: the image's own tells nothing,
    // whether the controller took it (Marlow, value) or kept its firmware (info).
    const QString same = QStringLiteral("the controller reports build %1 as it did before the write, so its "
                                        "revision cannot tell the image from the firmware it ran");
    QTest::newRow("info, build it ran already") << "Ostrel Hub" << "SFT-OH" << "127.0.0.2" << 1 << notVerified << "33"
                                                << "33" << same.arg(33) << 0x00020321u;
    QTest::newRow("Marlow, build it ran already") << "Marlow White" << "SFT-MW" << "127.0.0.3" << 0 << notVerified
                                                  << "7" << "7" << same.arg(7) << 0x00020307u;
    QTest::newRow("value, build it ran already") << "Brisa Quad" << "SFT-BQ" << "127.0.0.5" << 0 << notVerified
                                                 << "12" << "12" << same.arg(12) << 0x0002030Cu;
    // The largest build number is still one.
    QTest::newRow("info, build 255") << "Ostrel Hub" << "SFT-OH" << "127.0.0.2" << 0 << verified << "33" << "255"
                                     << QString() << 0x000203FFu;
}

void TestTftpInterfaceControl::writeThenCheck()
{
    QFETCH(QString, product);
    QFETCH(QString, sft);
    QFETCH(QString, address);
    QFETCH(int, after);
    QFETCH(int, outcome);
    QFETCH(QString, before);
    QFETCH(QString, revisionAfter);
    QFETCH(QString, reason);
    QFETCH(quint32, image);
    ControllerSimulator::Options simulation;
    simulation.keepRevision = after == 1;
    simulation.noReturn = after == 2;
    Rig rig(product, sft, {}, simulation);
    rig.panel->setVerifyWait(1000);
    QVERIFY(rig.loadImage(image));
    const QString build = QString::number(image & 0xFF);
    rig.discover();
    QTRY_COMPARE(rig.revision(), "Rev. " + before);
    QCOMPARE(rig.list()->currentText().section(' ', 0, 0), address);

    const bool failed = outcome == int(UpdateRecord::Outcome::Mismatch);
    if (failed)
        rig.prompter.expectMessage(Prompter::Kind::Warning, "TFTP ERROR",
                                   QStringLiteral("The controller at %1 took the image but does not run it: mismatch: "
                                                  "%2\nThe update failed.").arg(address, reason));
    // The write ends first; the run only once the controller has been asked.
    QList<bool> runWhenRecorded;
    QElapsedTimer clock;
    qint64 written = -1;
    qint64 recorded = -1;
    QObject::connect(rig.panel.get(), &tftpInterfaceControl::signal_runRecord, rig.panel.get(), [&] {
        runWhenRecorded.append(rig.panel->runInProgress() && rig.completions == 0);
        recorded = clock.elapsed();
    });
    QObject::connect(rig.panel.get(), &tftpInterfaceControl::signal_log, rig.panel.get(),
                     [&](LOGPRIORITY, LOGTYPE, QString, QString text) {
                         if (text.startsWith(QLatin1String("Program complete")))
                             written = clock.elapsed();
                     });
    clock.start();
    rig.panel->program(QStringLiteral("controller.hex"));
    QTRY_COMPARE_WITH_TIMEOUT(rig.completions, 1, 30000);
    QCOMPARE(runWhenRecorded, QList<bool> {true});
    QVERIFY(rig.log.contains(QStringLiteral("Program complete: %1").arg(rig.product.imageData().size())));
    QVERIFY(!rig.panel->runInProgress());
    QCOMPARE(rig.prompter.pendingExpectations(), 0);
    QVERIFY(!rig.prompter.unexpectedSeen());

    QCOMPARE(rig.records.size(), 1);
    const UpdateRecord &r = rig.records.first();
    QCOMPARE(int(r.outcome), outcome);
    QCOMPARE(r.interfaceNumber, 2);
    QCOMPARE(r.deviceType, product);
    QCOMPARE(r.address, address);
    QCOMPARE(r.revisionBefore, before);
    QCOMPARE(r.revisionAfter, revisionAfter);
    QCOMPARE(r.reason, reason);
    QCOMPARE(r.imageVersion, QStringLiteral("2.3.") + build);
    QCOMPARE(r.imageSha256, QString::fromLatin1(QCryptographicHash::hash(rig.product.imageData(),
                                                                          QCryptographicHash::Sha256).toHex()));
    // From PROGRAM to the verdict: the wait for the controller is part of it.
    QVERIFY(r.durationMs > 0 && r.durationMs <= recorded);
    QVERIFY(written >= 0 && r.durationMs + 1 >= recorded - written); // both clocks count whole milliseconds
    // The end of the run says how the check went, in the status line and the log.
    const QString summary = UpdateRecord::outcomeName(r.outcome)
        + (reason.isEmpty() ? QStringLiteral(": the device reports ") + build : ": " + reason);
    QCOMPARE(rig.statuses.last(), QStringLiteral("Controller %1 written; %2").arg(address, summary));
    QVERIFY(rig.log.contains(QStringLiteral("%1Revision check of %2: %3")
                                 .arg(outcome == int(UpdateRecord::Outcome::NotVerified) ? "WARNING " : "", address, summary)));
    QCOMPARE(rig.list()->count(), 0);
    QVERIFY(rig.enabled());
}

void TestTftpInterfaceControl::findDevice_data()
{
    QTest::addColumn<QString>("product");
    QTest::addColumn<QString>("sft");
    QTest::addColumn<QString>("address");
    QTest::addColumn<bool>("found");
    QTest::addColumn<QString>("message");

    QTest::newRow("listed, info route") << "Ostrel Hub" << "SFT-OH" << "127.0.0.2" << true
                                        << "Controller 127.0.0.2 found: Rev. 33.";
    QTest::newRow("listed second, chosen") << "Marlow White" << "SFT-MW" << "127.0.0.4" << true
                                           << "Controller 127.0.0.4 found: Rev. 9.";
    const QString silent = QStringLiteral("Controller %1 answered neither discovery nor a read of its \"info\".");
    QTest::newRow("not listed") << "Marlow White" << "SFT-MW" << "127.0.0.9" << false << silent.arg("127.0.0.9");
    QTest::newRow("nothing discovered") << "Ostrel Hub" << "SFT-NONE" << "127.0.0.9" << false << silent.arg("127.0.0.9");
    // It did answer, as another product: nothing is entered for PROGRAM.
    QTest::newRow("another type at the address")
        << "Ostrel Hub" << "SFT-OH" << "127.0.0.3" << false
        << "Controller 127.0.0.3 answers discovery as Marlow White (Marlow SFT-MW 1.7), not as Ostrel Hub: "
           "nothing is sent to it.";
    // Known by discovery, silent about its revision: entered for PROGRAM.
    QTest::newRow("listed, revision not told")
        << "Brisa Quad" << "SFT-BQ" << "127.0.0.5" << false
        << "Controller 127.0.0.5 answered discovery but not the question for its firmware revision; it is "
           "entered as a manual address.";
    QTest::newRow("no address") << "Ostrel Hub" << "SFT-OH" << "127.0.0" << false
                                << "\"127.0.0\" is not the IP address of a controller.";
    QTest::newRow("discovery not sent") << "Ostrel Hub" << "SFT-OH" << "127.0.0.2" << false
                                        << "Controller 127.0.0.2 was not searched for: the discovery request could "
                                           "not be sent.";
}

void TestTftpInterfaceControl::findDevice()
{
    QFETCH(QString, product);
    QFETCH(QString, sft);
    QFETCH(QString, address);
    QFETCH(bool, found);
    QFETCH(QString, message);
    Rig rig(product, sft);
    QVERIFY(rig.loadImage(0x0002034A));
    const bool unsent = QByteArray(QTest::currentDataTag()) == "discovery not sent";
    const bool silentRevision = QByteArray(QTest::currentDataTag()) == "listed, revision not told";
    if (silentRevision)
        rig.tarvo.removeController(0x7F000005);
    if (unsent) {
        rig.settings.discoveryDestination = QStringLiteral("nowhere");
        rig.prompter.expectMessage(Prompter::Kind::Warning, "Warning", "Error sending discover packet!");
    }
    QSignalSpy done(rig.panel.get(), &tftpInterfaceControl::signal_deviceSearchDone);
    rig.panel->findDevice(address);
    QCOMPARE(done.size(), 0); // never from inside the call
    QVERIFY(done.wait(30000));
    QTest::qWait(100);
    QCOMPARE(done.size(), 1);
    QCOMPARE(done.first().at(0).toBool(), found);
    QCOMPARE(done.first().at(1).toString(), message);
    QCOMPARE(rig.prompter.pendingExpectations(), 0);

    auto *field = rig.panel->findChild<QLineEdit *>("m_lineEdit_tftpManualIPEntry");
    if (found) {
        QCOMPARE(rig.list()->currentText().section(' ', 0, 0), address);
        QCOMPARE(rig.programButton.last(), true);
        return;
    }
    const bool typedIn = !message.contains("not searched for") && !message.contains("not the IP address")
        && !message.contains("nothing is sent");
    if (!typedIn) {
        QVERIFY(field->text().remove('.').trimmed().isEmpty());
        QVERIFY(!rig.programButton.contains(true));
        return;
    }
    QCOMPARE(field->text(), address);
    // PROGRAM now writes to the typed address, once its question is answered.
    QCOMPARE(rig.programButton.last(), true);
    rig.prompter.expectMessage(Prompter::Kind::Warning, "Firmware Updater", QString(), QMessageBox::Cancel);
    rig.panel->program(QStringLiteral("controller.hex"));
    QCOMPARE(rig.prompter.shown().last().guarding, std::optional(GuardingQuestion::ManualAddress));
    QCOMPARE(rig.records.size(), 1);
    QCOMPARE(rig.records.first().address, address);
    QCOMPARE(rig.records.first().outcome, UpdateRecord::Outcome::Cancelled);
    if (!silentRevision)
        return;
    // Allowed, the write goes by what the search learnt, without asking again;
    // its revision before stays untold, so the build it reports afterwards
    // cannot verify it.
    rig.prompter.expectMessage(Prompter::Kind::Warning, "Firmware Updater", QString(), QMessageBox::Ok);
    rig.panel->program(QStringLiteral("controller.hex"));
    QTRY_COMPARE_WITH_TIMEOUT(rig.completions, 1, 30000);
    QCOMPARE(rig.sim->controller(0x7F000005).writes, 1);
    QVERIFY(rig.log.filter("what it is").isEmpty());
    QVERIFY(rig.log.filter("before the update").isEmpty());
    QCOMPARE(rig.records.last().outcome, UpdateRecord::Outcome::NotVerified);
    QCOMPARE(rig.records.last().revisionBefore, QString());
    QCOMPARE(rig.records.last().revisionAfter, QStringLiteral("74"));
    QCOMPARE(rig.records.last().reason,
             QStringLiteral("the controller did not tell its revision before the write, so build 74 cannot tell "
                            "the image from the firmware it may have run"));
}

void TestTftpInterfaceControl::revisionFromInfo_data()
{
    QTest::addColumn<QByteArray>("info");
    QTest::addColumn<int>("revision");
    QTest::newRow("hex field") << QByteArray("Hub*12*1F*x") << 31;
    QTest::newRow("low 8 bits") << QByteArray("Hub*12*1FF") << 255;
    QTest::newRow("too few fields") << QByteArray("Hub*12") << 0;
    QTest::newRow("not hex") << QByteArray("Hub*12*zz*") << 0;
    QTest::newRow("ends at the first NUL") << QByteArray("Hub*12\0*1F", 11) << 0;
    // Shown as its low byte; never compared as one.
    QTest::newRow("wider than a build number") << QByteArray("Hub*12*121*SFT") << 33;
}

void TestTftpInterfaceControl::revisionFromInfo()
{
    QFETCH(QByteArray, info);
    QFETCH(int, revision);
    QCOMPARE(tftpInterfaceControl::revisionFromInfo(info), revision);
    // Shown as 0, but no revision a check may compare with.
    QCOMPARE(ControllerVerifier::infoRevision(info).has_value(), revision != 0);
}

void TestTftpInterfaceControl::revisionCheck_data()
{
    QTest::addColumn<quint32>("running");   // the controller's revision after the write
    QTest::addColumn<int>("emptyReads");    // "info" reads answered with an empty file first
    QTest::addColumn<QString>("before");    // what it reported before the write
    QTest::addColumn<QString>("expected");  // the image's build number
    QTest::addColumn<int>("outcome");
    QTest::addColumn<QString>("revisionAfter");
    QTest::addColumn<QString>("reason");

    const int verified = int(UpdateRecord::Outcome::Verified);
    const int notVerified = int(UpdateRecord::Outcome::NotVerified);
    QTest::newRow("an empty read is asked again") << 0x21u << 2 << QString() << "33" << verified << "33" << QString();
    QTest::newRow("121 is no build number")
        << 0x121u << 0 << QString() << "33" << notVerified << "289"
        << "the controller reports 289, which is not a build number the image's 33 can be compared with";
    QTest::newRow("FF21 is none either")
        << 0xFF21u << 0 << QString() << "33" << notVerified << "65313"
        << "the controller reports 65313, which is not a build number the image's 33 can be compared with";
    QTest::newRow("255 is one") << 0xFFu << 0 << QString() << "255" << verified << "255" << QString();
    QTest::newRow("another build before") << 0x21u << 0 << "32" << "33" << verified << "33" << QString();
    QTest::newRow("the build it reported before")
        << 0x21u << 0 << "33" << "33" << notVerified << "33"
        << "the controller reports build 33 as it did before the write, so its revision cannot tell the image "
           "from the firmware it ran";
}

void TestTftpInterfaceControl::revisionCheck()
{
    QFETCH(quint32, running);
    QFETCH(int, emptyReads);
    QFETCH(QString, before);
    QFETCH(QString, expected);
    QFETCH(int, outcome);
    QFETCH(QString, revisionAfter);
    QFETCH(QString, reason);
    Rig rig("Ostrel Hub", "SFT-OH", {}, {}, [&](ControllerSimulator::Controller &c) {
        if (c.ip == 0x7F000002) {
            c.revision = running;
            c.emptyInfoReads = emptyReads;
        }
    });
    ControllerVerifier::Target target;
    target.address = QStringLiteral("127.0.0.2");
    target.route = ControllerVerifier::Route::Info;
    target.revisionBefore = before;
    ControllerVerifier verifier({target}, expected, QString(), rig.settings, rig.tarvo, rig.sim->discoveryPort());
    verifier.setWait(20000);
    QSignalSpy finished(&verifier, &ControllerVerifier::finished);
    verifier.start();
    QVERIFY(finished.wait(30000));
    const RevisionCheck check = verifier.checks().first();
    QCOMPARE(int(check.outcome()), outcome);
    QCOMPARE(check.revisionAfter, revisionAfter);
    if (!reason.isEmpty())
        QCOMPARE(check.detail, reason);
}

void TestTftpInterfaceControl::typedAddress_isAskedWhatItIsBeforeTheWrite_data()
{
    QTest::addColumn<QString>("product");
    QTest::addColumn<QString>("sft");
    QTest::addColumn<QString>("address");
    QTest::addColumn<int>("silence"); // 1: ignores discovery; 2: and its first "info" read is empty
    // Of a controller whose answer carried no revision: 0 it tells it when asked
    // before the write; 1 it runs the image's build and keeps it; 2 it does not tell.
    QTest::addColumn<int>("before");
    QTest::addColumn<int>("outcome");
    QTest::addColumn<QString>("revisionBefore");
    QTest::addColumn<QString>("reason"); // the record's; for a refusal the box names both types

    const int verified = int(UpdateRecord::Outcome::Verified);
    const int cancelled = int(UpdateRecord::Outcome::Cancelled);
    const int notVerified = int(UpdateRecord::Outcome::NotVerified);
    const QString marlow = QStringLiteral("the controller answers as Marlow White (Marlow SFT-MW 1.7), not as Ostrel Hub");
    QTest::newRow("another type, by discovery") << "Ostrel Hub" << "SFT-OH" << "127.0.0.3" << 0 << 0 << cancelled
                                                << QString() << marlow;
    QTest::newRow("another type, by its info") << "Ostrel Hub" << "SFT-OH" << "127.0.0.3" << 1 << 0 << cancelled
                                               << QString() << marlow;
    // Discovery carries no revision of it: it is read before the write.
    QTest::newRow("its type, by discovery") << "Ostrel Hub" << "SFT-OH" << "127.0.0.2" << 0 << 0 << verified << "33"
                                            << QString();
    QTest::newRow("its type, by discovery, keeps the image's build")
        << "Ostrel Hub" << "SFT-OH" << "127.0.0.2" << 0 << 1 << notVerified << "33"
        << "the controller reports build 33 as it did before the write, so its revision cannot tell the image from "
           "the firmware it ran";
    QTest::newRow("its type, by discovery, revision untold")
        << "Ostrel Hub" << "SFT-OH" << "127.0.0.2" << 0 << 2 << notVerified << QString()
        << "the controller did not tell its revision before the write, so build 74 cannot tell the image from the "
           "firmware it may have run";
    QTest::newRow("its type, by its info") << "Ostrel Hub" << "SFT-OH" << "127.0.0.2" << 1 << 0 << verified << "33"
                                           << QString();
    // Silent before the write: only its answer as the type afterwards verifies.
    QTest::newRow("silent, then its type") << "Ostrel Hub" << "SFT-OH" << "127.0.0.2" << 2 << 0 << verified << "33"
                                           << QString();
    QTest::newRow("silent, and never its type")
        << "Brisa Quad" << "SFT-BQ" << "127.0.0.5" << 2 << 0 << notVerified << "12"
        << "it reports 74 but did not answer as Brisa Quad within 1.01 s of the write, nor before it";
}

void TestTftpInterfaceControl::typedAddress_isAskedWhatItIsBeforeTheWrite()
{
    QFETCH(QString, product);
    QFETCH(QString, sft);
    QFETCH(QString, address);
    QFETCH(int, silence);
    QFETCH(int, before);
    QFETCH(int, outcome);
    QFETCH(QString, revisionBefore);
    QFETCH(QString, reason);
    const quint32 ip = QHostAddress(address).toIPv4Address();
    Rig rig(product, sft, {}, {}, [&](ControllerSimulator::Controller &c) {
        if (c.ip == ip) {
            c.ignoresDiscovery = silence >= 1;
            c.emptyInfoReads = silence >= 2 ? 1 : 0;
            c.keepRevision = before == 1;
        }
    });
    rig.panel->setVerifyWait(1000);
    // Asked, it gives up at once: no answer can come in time.
    if (before == 2)
        rig.settings.queryWindowMs = 0;
    QStringList waits;
    QObject::connect(rig.panel.get(), &InterfacePanel::signal_waitStatus, rig.panel.get(),
                     [&](const QString &text) { waits.append(text); });
    QVERIFY(rig.loadImage(before == 1 ? 0x00020321 : 0x0002034A));
    rig.panel->findChild<QLineEdit *>("m_lineEdit_tftpManualIPEntry")->setText(address);
    rig.prompter.expectMessage(Prompter::Kind::Warning, "Firmware Updater", QString(), QMessageBox::Ok);
    const bool refused = outcome == int(UpdateRecord::Outcome::Cancelled);
    if (refused)
        rig.prompter.expectMessage(Prompter::Kind::Warning, "Firmware Updater",
                                   QStringLiteral("The controller at %1 answers %2 as Marlow White (Marlow SFT-MW "
                                                  "1.7), not as Ostrel Hub.\nNothing was sent to it; to update it, "
                                                  "select its own device type and image.")
                                       .arg(address, silence ? "\"info\"" : "discovery"));
    rig.programButton.clear();
    rig.panel->program(QStringLiteral("controller.hex"));
    QVERIFY(rig.panel->runInProgress());
    QTRY_VERIFY_WITH_TIMEOUT(!rig.records.isEmpty() && !rig.panel->runInProgress(), 30000);
    QCOMPARE(rig.prompter.pendingExpectations(), 0);
    QVERIFY(!rig.prompter.unexpectedSeen());

    QCOMPARE(rig.records.size(), 1);
    const UpdateRecord &r = rig.records.first();
    QCOMPARE(int(r.outcome), outcome);
    QCOMPARE(r.address, address);
    QCOMPARE(r.revisionBefore, revisionBefore);
    QCOMPARE(r.reason, reason);
    QCOMPARE(rig.sim->controller(ip).writes, refused ? 0 : 1);
    // Only the run's end hands PROGRAM back.
    QCOMPARE(rig.programButton, refused ? QList<bool> {true} : QList<bool> {});
    QCOMPARE(rig.completions, refused ? 0 : 1);
    QVERIFY(rig.enabled());
    QCOMPARE(!rig.log.filter("did not say what it is").isEmpty(), silence == 2);
    // The revision question is a wait of its own between the identification and the write.
    const bool read = !refused && silence != 1;
    QCOMPARE(waits.contains(QStringLiteral("Reading the revision of %1…").arg(address)), read);
    if (read)
        QCOMPARE(waits.mid(waits.indexOf(QStringLiteral("Reading the revision of %1…").arg(address)) + 1, 2),
                 (QStringList {QString(), QStringLiteral("Checking %1 after the update…").arg(address)}));
    QVERIFY(!waits.isEmpty() && waits.last().isEmpty());
}

void TestTftpInterfaceControl::shutdown_recordsWhatTheRunHadDone_data()
{
    QTest::addColumn<QString>("stage");
    QTest::addColumn<int>("outcome");
    QTest::addColumn<QString>("reason");
    QTest::addColumn<int>("writes");

    QTest::newRow("asking a typed address what it is")
        << "identify" << int(UpdateRecord::Outcome::Cancelled)
        << "not started: the updater closed before the write began" << 0;
    QTest::newRow("reading a typed address's revision")
        << "revision" << int(UpdateRecord::Outcome::Cancelled)
        << "not started: the updater closed before the write began" << 0;
    QTest::newRow("writing") << "write" << int(UpdateRecord::Outcome::Failed) << "stopped: the updater is closing" << 0;
    QTest::newRow("written, its end still queued")
        << "written" << int(UpdateRecord::Outcome::NotVerified)
        << "the updater closed before the controller was checked" << 1;
    QTest::newRow("checking") << "check" << int(UpdateRecord::Outcome::NotVerified)
                              << "the updater closed before the controller answered" << 1;
}

void TestTftpInterfaceControl::shutdown_recordsWhatTheRunHadDone()
{
    QFETCH(QString, stage);
    QFETCH(int, outcome);
    QFETCH(QString, reason);
    QFETCH(int, writes);
    ControllerSimulator::Faults faults;
    faults.answerFromOtherPort = stage == QLatin1String("write"); // the write is never acknowledged
    ControllerSimulator::Options simulation;
    simulation.noReturn = stage == QLatin1String("check");
    // Its discovery reply does not say it is a Marlow, nor tell its revision; its "info" is never answered.
    const bool typedRead = stage == QLatin1String("revision");
    const QString address = typedRead ? QStringLiteral("127.0.0.4") : QStringLiteral("127.0.0.3");
    Rig rig("Marlow White", "SFT-MW", faults, simulation, [&](ControllerSimulator::Controller &c) {
        if (typedRead && c.ip == 0x7F000004)
            c.faults = ControllerSimulator::Faults {.dropIn = 1};
    });
    rig.settings.writeTimeoutMs = 60000;
    rig.settings.queryWindowMs = 10 * 60 * 1000;
    rig.panel->setVerifyWait(60000);
    QVERIFY(rig.loadImage(0x00010203));
    if (stage == QLatin1String("identify") || typedRead) {
        rig.panel->findChild<QLineEdit *>("m_lineEdit_tftpManualIPEntry")->setText(address);
        rig.prompter.expectMessage(Prompter::Kind::Warning, "Firmware Updater", QString(), QMessageBox::Ok);
    } else {
        rig.discover();
        QTRY_COMPARE(rig.revision(), QStringLiteral("Rev. 7"));
    }
    rig.panel->program(QStringLiteral("controller.hex"));
    QVERIFY(rig.panel->runInProgress());
    if (typedRead) {
        QTRY_VERIFY(!rig.log.filter("Controller 127.0.0.4 answers discovery as").isEmpty());
    } else if (stage == QLatin1String("write")) {
        QTRY_VERIFY(rig.sim->controller(0x7F000003).packetsIn > 0);
    } else if (stage == QLatin1String("written")) {
        // The thread ends; nothing here handles what it queued.
        auto *thread = rig.panel->findChild<QTFTP *>();
        QVERIFY(thread);
        QVERIFY(thread->wait(30000));
        QCOMPARE(thread->result(), rig.product.imageData().size());
    } else if (stage == QLatin1String("check")) {
        QTRY_VERIFY(!rig.log.filter("Checking the firmware revision").isEmpty());
    }
    rig.panel->shutdown();
    rig.panel->shutdown();
    QVERIFY(!rig.panel->runInProgress());
    // Whatever the stopped work had queued changes nothing any more.
    const QStringList logged = rig.log;
    QCoreApplication::processEvents();
    QVERIFY(!rig.panel->runInProgress());
    QCOMPARE(rig.log, logged);
    QCOMPARE(rig.records.size(), 1);
    QCOMPARE(int(rig.records.first().outcome), outcome);
    QCOMPARE(rig.records.first().reason, reason);
    QCOMPARE(rig.records.first().address, address);
    QCOMPARE(rig.sim->controller(QHostAddress(address).toIPv4Address()).writes, writes);
    QCOMPARE(rig.completions, 0);
}

void TestTftpInterfaceControl::lateRevisionAnswers_doNotHandTheControlsBackDuringAWrite_data()
{
    QTest::addColumn<QString>("product");
    QTest::addColumn<QString>("sft");
    QTest::addColumn<QString>("address");
    // The "info" read fails and its window is still open when PROGRAM is pressed.
    QTest::newRow("info not answered") << "Ostrel Hub" << "SFT-OH" << "127.0.0.2";
    // The value library answers long after its window closed.
    QTest::newRow("value library late") << "Brisa Quad" << "SFT-BQ" << "127.0.0.5";
}

void TestTftpInterfaceControl::lateRevisionAnswers_doNotHandTheControlsBackDuringAWrite()
{
    QFETCH(QString, product);
    QFETCH(QString, sft);
    QFETCH(QString, address);
    const quint32 ip = QHostAddress(address).toIPv4Address();
    ControllerSimulator::Faults faults;
    faults.answerFromOtherPort = true; // neither the "info" read nor the write hears an answer
    Rig rig(product, sft, faults);
    rig.settings.queryWindowMs = 1500;
    rig.settings.writeTimeoutMs = 200;
    rig.tarvo.removeController(ip);
    QVERIFY(rig.loadImage(0x0002034A));
    rig.discover();
    QTRY_VERIFY(rig.list()->count() > 0 && rig.enabled());
    QVERIFY(rig.revision().isEmpty());

    auto *field = rig.panel->findChild<QLineEdit *>("m_lineEdit_tftpManualIPEntry");
    field->setText(address);
    rig.prompter.expectMessage(Prompter::Kind::Warning, "Firmware Updater", QString(), QMessageBox::Ok);
    rig.prompter.expectMessage(Prompter::Kind::Warning, "TFTP ERROR",
                               "Unable to communicate with TFTP device!\n Fix connection and try again.");
    auto *box = rig.panel->findChild<QGroupBox *>("m_groupBox_TFTPControlPanel");
    QList<bool> handedBack; // enabled-state changes and PROGRAM offers while the run goes on
    struct Watch : QObject {
        std::function<void()> changed;
        bool eventFilter(QObject *, QEvent *event) override
        {
            if (event->type() == QEvent::EnabledChange)
                changed();
            return false;
        }
    } watch;
    watch.changed = [&] {
        if (rig.panel->runInProgress())
            handedBack.append(box->isEnabled());
    };
    box->installEventFilter(&watch);
    rig.programButton.clear();
    rig.panel->program(QStringLiteral("controller.hex"));
    QTRY_VERIFY(rig.panel->runInProgress() && rig.sim->controller(ip).packetsIn > 0);
    const QList<bool> before = rig.programButton;
    // Mid-write: a late value, an emptied address field.
    emit rig.tarvo.signalDeviceVariableReply(ip, TarvoLibrary::kFirmwareRevision, 12);
    field->setText(QString());
    QCOMPARE(rig.programButton, before);
    QTRY_VERIFY_WITH_TIMEOUT(!rig.panel->runInProgress(), 30000);
    QCOMPARE(rig.prompter.pendingExpectations(), 0);
    QVERIFY(!handedBack.contains(true));
    QCOMPARE(rig.programButton, QList<bool> {true});
    QVERIFY(rig.log.filter("No firmware version query response").size() <= (product == "Brisa Quad" ? 1 : 0));
    QVERIFY(rig.enabled());
}

void TestTftpInterfaceControl::discoveredAddresses_followTheTypedAddressRules()
{
    ControllerSimulator::Options simulation;
    simulation.tftp = false; // discovery only: the addresses need not be local
    Rig rig("Ostrel Hub", "SFT-", {}, simulation, [](ControllerSimulator::Controller &c) {
        if (c.ip == 0x7F000003)
            c.ip = 0;
        else if (c.ip == 0x7F000004)
            c.ip = 0xFFFFFFFF;
        else if (c.ip == 0x7F000005)
            c.ip = 0xE0000001;
    });
    QVERIFY(rig.loadImage(0x0002034A, 0));
    rig.discover();
    QTRY_COMPARE(rig.log.filter("dropped").size(), 3);
    QTRY_VERIFY(rig.log.contains("Discovery response from Ostrel Hub with IP 127.0.0.2"));
    QVERIFY(rig.log.contains("WARNING Discovery reply from Marlow White (Marlow SFT-MW 1.7) dropped: 0.0.0.0 is not "
                             "the address of one controller."));
    QVERIFY(rig.log.contains("WARNING Discovery reply from Marlow White (SFT-MW 1.9) dropped: 255.255.255.255 is not "
                             "the address of one controller."));
    QVERIFY(rig.log.contains("WARNING Discovery reply from Brisa Quad (SFT-BQ 1.0) dropped: 224.0.0.1 is not the "
                             "address of one controller."));
    QCOMPARE(rig.list()->count(), 1);
    QCOMPARE(rig.list()->itemText(0), QStringLiteral("127.0.0.2 Ostrel Hub"));
}

// The value library answers whoever asked, a check of an earlier run among
// them: a reply the panel is not waiting for neither withdraws PROGRAM nor
// changes the revision shown.
void TestTftpInterfaceControl::valueRepliesNobodyWaitsFor_leaveProgramAsItIs()
{
    Rig rig("Brisa Quad", "SFT-BQ");
    QVERIFY(rig.loadImage(0x0002034A));
    rig.discover();
    QTRY_COMPARE(rig.revision(), QStringLiteral("Rev. 12"));
    QTRY_VERIFY(rig.enabled());
    QCOMPARE(rig.programButton.last(), true);
    rig.programButton.clear();

    emit rig.tarvo.signalDeviceVariableReply(0x7F000002, TarvoLibrary::kFirmwareRevision, 33);
    emit rig.tarvo.signalDeviceVariableReply(0x7F000005, TarvoLibrary::kFirmwareRevision, 74);
    QCOMPARE(rig.programButton, QList<bool>());
    QCOMPARE(rig.revision(), QStringLiteral("Rev. 12"));
    QVERIFY(rig.enabled());
}

void TestTftpInterfaceControl::emptyAddressField_takesDigitsFromItsStart_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<QString>("before"); // in the field when it is clicked
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("after");
    QTest::newRow("clicked past the blanks") << "click" << "" << "192168001020" << "192.168.001.020";
    QTest::newRow("focused from elsewhere") << "focus" << "" << "10000000002" << "100.000.000.02";
    // Something entered stays where the operator puts the cursor.
    QTest::newRow("not empty: the click decides") << "click" << "10.0.0.1" << "" << "10.0.0.1";
}

void TestTftpInterfaceControl::emptyAddressField_takesDigitsFromItsStart()
{
    QFETCH(QString, how);
    QFETCH(QString, before);
    QFETCH(QString, typed);
    QFETCH(QString, after);
    TarvoNotPresent tarvo;
    QWidget window;
    auto *other = new QLineEdit(&window);
    auto *panel = new tftpInterfaceControl(m_prompter, m_pauser, tarvo, &window);
    panel->move(0, 40);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    auto *field = panel->findChild<QLineEdit *>("m_lineEdit_tftpManualIPEntry");
    field->setText(before);
    field->setCursorPosition(field->displayText().size());
    other->setFocus();
    if (how == QLatin1String("click")) {
        // Near its right end, past every blank.
        QTest::mouseClick(field, Qt::LeftButton, {}, QPoint(field->width() - 4, field->height() / 2));
    } else {
        field->setFocus(Qt::OtherFocusReason);
    }
    if (before.isEmpty())
        QCOMPARE(field->cursorPosition(), 0);
    else
        QVERIFY(field->cursorPosition() > 0);
    QTest::keyClicks(field, typed);
    QCOMPARE(field->text(), after);
}

QTEST_MAIN(TestTftpInterfaceControl)
#include "test_tftpInterfaceControl.moc"
