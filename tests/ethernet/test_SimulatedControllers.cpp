#include "tests/app/WindowFixture.h"

#include "app/DeviceEnvironment.h"
#include "app/RunEvents.h"
#include "catalogue/BootLoadProduct.h"
#include "catalogue/MicroprocessorImageInfo.h"
#include "ethernet/QTFTP.h"
#include "ethernet/tftpInterfaceControl.h"
#include "simulator/ControllerSimulator.h"
#include "tests/ethernet/ControllerImage.h"
#include "tests/support/FakePrompter.h"
#include "tests/support/RecordingPauser.h"

#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

// What "make run" offers in -simulate: controllers on loopback, no root, that
// the window finds and updates.
class TestSimulatedControllers : public QObject
{
    Q_OBJECT

private slots:
    void simulateMode_findsAndUpdatesLoopbackControllers();
    void simulatedFailures_endTheCheckAsTheyShould_data();
    void simulatedFailures_endTheCheckAsTheyShould();
    void closingTheWindowAfterTheWrite_recordsItNotVerified();
};

void TestSimulatedControllers::simulateMode_findsAndUpdatesLoopbackControllers()
{
    WindowFixture::Options options;
    options.cataloguePath = sampleCataloguePath();
    WindowFixture f(options);
    ControllerSimulator *sim = f.devices->controllerSimulator();
    QVERIFY(sim);
    EthernetSettings &settings = f.devices->ethernet();
    QCOMPARE(settings.discoveryDestination, QStringLiteral("127.0.0.1"));
    QVERIFY(settings.tftpPort > 1023);
    settings.pollIntervalMs = 20;
    settings.discoveryWindowMs = 200;

    QTemporaryDir dir;
    QFile file(dir.filePath(QStringLiteral("hub.hex")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    const QByteArray image = controllerHex({{0x3FF00, 0xE7C00101}, {0x3FF04, 0x00020145}}, 2000);
    file.write(image);
    file.close();

    f.find<QComboBox>(QStringLiteral("m_comboBox_interfaceSelect"))->setCurrentIndex(2);
    auto *devices = f.find<QComboBox>(QStringLiteral("m_comboBox_deviceSelect"));
    devices->setCurrentIndex(devices->findText(QStringLiteral("Ostrel Hub")));
    f.prompter.expectFileDialog(file.fileName());
    f.find<QPushButton>(QStringLiteral("m_pushButton_firmwareImageFileSelect"))->click();

    auto *list = f.window->findChild<QComboBox *>(QStringLiteral("m_comboBox_TFTPDevicesDiscovered"));
    auto *revision = f.window->findChild<QLabel *>(QStringLiteral("m_label_FWVersion"));
    f.window->findChild<QPushButton *>(QStringLiteral("m_pushButton_TFTPDiscover"))->click();
    QTRY_COMPARE(revision->text(), QStringLiteral("Rev. 33"));
    QCOMPARE(list->count(), 2);
    QCOMPARE(list->itemText(0), QStringLiteral("127.0.0.3 Ostrel Hub"));

    QSignalSpy complete(f.window->findChild<tftpInterfaceControl *>(), &tftpInterfaceControl::signal_programComplete);
    QSignalSpy records(f.window->findChild<tftpInterfaceControl *>(), &tftpInterfaceControl::signal_runRecord);
    f.find<QPushButton>(QStringLiteral("m_pushButton_program"))->click();
    QVERIFY(complete.wait(10000));
    QCOMPARE(records.size(), 1);
    const UpdateRecord record = records.first().first().value<UpdateRecord>();
    QCOMPARE(record.outcome, UpdateRecord::Outcome::Verified);
    QCOMPARE(record.revisionBefore, QStringLiteral("33"));
    QCOMPARE(record.revisionAfter, QStringLiteral("69"));
    QCOMPARE(record.address, QStringLiteral("127.0.0.3"));
    QCOMPARE(sim->controller(0x7F000003).firmware, image);

    f.window->findChild<QPushButton *>(QStringLiteral("m_pushButton_TFTPDiscover"))->click();
    QTRY_COMPARE(revision->text(), QStringLiteral("Rev. 69"));
    QVERIFY(!f.prompter.unexpectedSeen());
}

void TestSimulatedControllers::simulatedFailures_endTheCheckAsTheyShould_data()
{
    QTest::addColumn<bool>("keepRevision");
    QTest::addColumn<QString>("product");
    QTest::addColumn<quint32>("magic");
    QTest::addColumn<QString>("revisionAfter");

    // Through the "info" file, and through the controller-value library.
    QTest::newRow("keeps its revision, info") << true << "Ostrel Hub" << 0xE7C00101u << "33";
    QTest::newRow("keeps its revision, value") << true << "Brisa Quad" << 0xE7C00301u << "12";
    QTest::newRow("never comes back, info") << false << "Ostrel Hub" << 0xE7C00101u << QString();
    QTest::newRow("never comes back, value") << false << "Brisa Quad" << 0xE7C00301u << QString();
}

void TestSimulatedControllers::simulatedFailures_endTheCheckAsTheyShould()
{
    QFETCH(bool, keepRevision);
    QFETCH(QString, product);
    QFETCH(quint32, magic);
    QFETCH(QString, revisionAfter);
    DeviceEnvironment::SimulationOptions simulation;
    simulation.keepRevision = keepRevision;
    simulation.noReturn = !keepRevision;
    const auto env = DeviceEnvironment::create(true, simulation);
    QVERIFY(env->controllerSimulator());
    EthernetSettings &settings = env->ethernet();
    settings.pollIntervalMs = 20;
    settings.discoveryWindowMs = 200;
    settings.infoReadTimeoutMs = 50;

    FakePrompter prompter;
    RecordingPauser pauser;
    BootLoadProduct controllerType(prompter);
    controllerType.setName(product);
    controllerType.setInterfaceType(2);
    auto *processor = new MicroprocessorImageInfo(prompter, &controllerType);
    processor->setHierarchy(0);
    processor->setFileType(0);
    processor->setSft(product == QLatin1String("Brisa Quad") ? QStringLiteral("SFT-BQ") : QStringLiteral("SFT-OH"));
    processor->setWordSize(1);
    processor->setWordCount(0x40000);
    processor->setMagicLoc(0x3FF00);
    processor->setMagicFlag(magic);
    processor->setVerLoc(0x3FF04);
    controllerType.addProcessor(processor);
    QTemporaryDir dir;
    QFile file(dir.filePath(QStringLiteral("controller.hex")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(controllerHex({{0x3FF00, magic}, {0x3FF04, 0x00020145}}, 600));
    file.close();
    QVERIFY(controllerType.loadImage(file.fileName()));

    tftpInterfaceControl panel(prompter, pauser, env->tarvo(), settings);
    panel.setProduct(&controllerType);
    panel.setVerifyWait(300);
    QSignalSpy records(&panel, &tftpInterfaceControl::signal_runRecord);
    QSignalSpy complete(&panel, &tftpInterfaceControl::signal_programComplete);
    panel.findChild<QPushButton *>(QStringLiteral("m_pushButton_TFTPDiscover"))->click();
    QTRY_VERIFY(!panel.findChild<QLabel *>(QStringLiteral("m_label_FWVersion"))->text().isEmpty());
    if (keepRevision)
        prompter.expectMessage(Prompter::Kind::Warning, QStringLiteral("TFTP ERROR"), QString());
    panel.program(file.fileName());
    QVERIFY(complete.wait(10000));
    QCOMPARE(prompter.pendingExpectations(), 0);
    QCOMPARE(records.size(), 1);
    const UpdateRecord record = records.first().first().value<UpdateRecord>();
    QCOMPARE(record.outcome, keepRevision ? UpdateRecord::Outcome::Mismatch : UpdateRecord::Outcome::NotVerified);
    QCOMPARE(record.revisionAfter, revisionAfter);
    QVERIFY(!record.reason.isEmpty());
    // Either way the image itself arrived.
    QCOMPARE(env->controllerSimulator()->controller(QHostAddress(record.address).toIPv4Address()).writes, 1);
}

void TestSimulatedControllers::closingTheWindowAfterTheWrite_recordsItNotVerified()
{
    WindowFixture::Options options;
    options.cataloguePath = sampleCataloguePath();
    WindowFixture f(options);
    EthernetSettings &settings = f.devices->ethernet();
    settings.pollIntervalMs = 20;
    settings.discoveryWindowMs = 200;
    QTemporaryDir dir;
    QFile file(dir.filePath(QStringLiteral("hub.hex")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(controllerHex({{0x3FF00, 0xE7C00101}, {0x3FF04, 0x00020145}}, 2000));
    file.close();
    f.find<QComboBox>(QStringLiteral("m_comboBox_interfaceSelect"))->setCurrentIndex(2);
    auto *devices = f.find<QComboBox>(QStringLiteral("m_comboBox_deviceSelect"));
    devices->setCurrentIndex(devices->findText(QStringLiteral("Ostrel Hub")));
    f.prompter.expectFileDialog(file.fileName());
    f.find<QPushButton>(QStringLiteral("m_pushButton_firmwareImageFileSelect"))->click();
    f.window->findChild<QPushButton *>(QStringLiteral("m_pushButton_TFTPDiscover"))->click();
    QTRY_COMPARE(f.window->findChild<QLabel *>(QStringLiteral("m_label_FWVersion"))->text(), QStringLiteral("Rev. 33"));

    QSignalSpy recorded(f.window->runEvents(), &RunEvents::runRecorded);
    f.find<QPushButton>(QStringLiteral("m_pushButton_program"))->click();
    // The write ends; the window closes before it has handled that.
    auto *thread = f.window->findChild<tftpInterfaceControl *>()->findChild<QTFTP *>();
    QVERIFY(thread);
    QVERIFY(thread->wait(30000));
    f.destroyWindow();
    QCOMPARE(recorded.size(), 1);
    const UpdateRecord record = recorded.first().first().value<UpdateRecord>();
    QCOMPARE(record.outcome, UpdateRecord::Outcome::NotVerified);
    QCOMPARE(record.reason, QStringLiteral("the updater closed before the controller was checked"));
    QCOMPARE(record.address, QStringLiteral("127.0.0.3"));
    QCOMPARE(record.revisionBefore, QStringLiteral("33"));
    QCOMPARE(f.devices->controllerSimulator()->controller(0x7F000003).writes, 1);
}

QTEST_MAIN(TestSimulatedControllers)
#include "test_SimulatedControllers.moc"
