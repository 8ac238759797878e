#include "tests/app/WindowFixture.h"

#include "ethernet/tftpInterfaceControl.h"
#include "simulator/ControllerSimulator.h"
#include "tests/ethernet/ControllerImage.h"

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
    f.find<QPushButton>(QStringLiteral("m_pushButton_program"))->click();
    QVERIFY(complete.wait(10000));
    QCOMPARE(sim->controller(0x7F000003).firmware, image);

    f.window->findChild<QPushButton *>(QStringLiteral("m_pushButton_TFTPDiscover"))->click();
    QTRY_COMPARE(revision->text(), QStringLiteral("Rev. 69"));
    QVERIFY(!f.prompter.unexpectedSeen());
}

QTEST_MAIN(TestSimulatedControllers)
#include "test_SimulatedControllers.moc"
