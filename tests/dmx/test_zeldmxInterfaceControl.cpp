#include "dmx/zeldmxInterfaceControl.h"

#include "catalogue/BootLoadProduct.h"
#include "dmx/Hollis.h"
#include "dmx/HollisNotPresent.h"
#include "dmx/SimulatedHollis.h"
#include "tests/support/FakePrompter.h"
#include "tests/support/RecordingPauser.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

using ZelHollis::Hollis;

class TestZeldmxInterfaceControl : public QObject
{
    Q_OBJECT

private slots:
    void form_hasNamedControlsWithTheirTexts();
    void enableControl_togglesTheGroupBox();
    void setters_storeProductAndPrefixes();
    void program_withoutAcceptedImage_refusesAndSendsNothing();
    void discoverEnabler_withoutLibrary_saysSoOnceAndFindsNone();
    void discoverEnabler_simulated_findsBothSupplies();
    void serialField_cursorStaysAtTheEndOfWhatWasTyped();
    void findDevice_afterShutdown_answersNotFoundFromTheEventLoop();

private:
    FakePrompter m_prompter;
    RecordingPauser m_pauser;
};

void TestZeldmxInterfaceControl::form_hasNamedControlsWithTheirTexts()
{
    Hollis hollis(std::make_unique<ZelHollis::HollisNotPresent>());
    zeldmxInterfaceControl panel(m_prompter, m_pauser, hollis);
    QCOMPARE(panel.objectName(), QString("zeldmxInterfaceControl"));
    QCOMPARE(panel.windowTitle(), QString("ZELDMX Interface Control"));
    QCOMPARE(panel.size(), QSize(558, 165));

    auto *box = panel.findChild<QGroupBox *>("m_groupBox_DMXControlPanel");
    QVERIFY(box);
    QCOMPARE(box->title(), QString("ZELDMX Control Panel"));

    auto *enabler = box->findChild<QPushButton *>("m_pushButton_ZELDMXDiscoverEnabler");
    QVERIFY(enabler);
    QCOMPARE(enabler->text(), QString("Discover Enabler"));
    QCOMPARE(enabler->toolTip(), QString("Discovers Ethernet data enablers on the network."));
    QCOMPARE(enabler->minimumWidth(), 149);
    QVERIFY(enabler->isEnabled());

    auto *fixture = box->findChild<QPushButton *>("m_pushButton_ZELDMXDiscoverFixture");
    QVERIFY(fixture);
    QCOMPARE(fixture->text(), QString("Discover Fixture SN"));
    QCOMPARE(fixture->toolTip(),
             QString("Discovers the fixture serial numbers on the selected enabler."));
    QCOMPARE(fixture->minimumWidth(), 149);
    QVERIFY(!fixture->isEnabled());

    auto *supplies = box->findChild<QComboBox *>("m_comboBox_ZELDMXEnablers");
    QVERIFY(supplies);
    QCOMPARE(supplies->statusTip(), QString("Select the enabler with the fixture(s) to update."));
    QCOMPARE(supplies->minimumWidth(), 250);
    auto *fixtures = box->findChild<QComboBox *>("m_comboBox_ZELDMXFixtureSNs");
    QVERIFY(fixtures);
    QCOMPARE(fixtures->statusTip(), QString("Select the discovered fixture to program."));
    QCOMPARE(fixtures->minimumWidth(), 250);
    QVERIFY(box->findChild<QComboBox *>("m_comboBox_port"));

    auto *portLabel = box->findChild<QLabel *>("label");
    QVERIFY(portLabel);
    QCOMPARE(portLabel->text(), QString("Port:"));
    QVERIFY(portLabel->alignment() & Qt::AlignRight);
    auto *revision = box->findChild<QLabel *>("m_label_fixtureRev");
    QVERIFY(revision);
    QVERIFY(revision->text().isEmpty());
    auto *manualLabel = box->findChild<QLabel *>("label_2");
    QVERIFY(manualLabel);
    QCOMPARE(manualLabel->text(), QString("Manual Fixture SN"));
    QCOMPARE(manualLabel->minimumWidth(), 120);
    QCOMPARE(manualLabel->alignment(), Qt::AlignCenter);

    auto *serial = box->findChild<QLineEdit *>("m_lineEdit_ZELDMXManualFixtureSN");
    QVERIFY(serial);
    QCOMPARE(serial->statusTip(), QString("Manually enter the serial number to program."));
    QCOMPARE(serial->inputMask(), QString("HHHHHHHH;_"));
    QCOMPARE(serial->minimumWidth(), 250);
    QCOMPARE(serial->displayText(), QString("________"));

    auto *all = box->findChild<QCheckBox *>("m_checkBox_ZELDMXProgramAll");
    QVERIFY(all);
    QCOMPARE(all->text(), QString("Program All Discovered Fixtures"));
    QVERIFY(!all->isEnabled());
}

void TestZeldmxInterfaceControl::enableControl_togglesTheGroupBox()
{
    Hollis hollis(std::make_unique<ZelHollis::HollisNotPresent>());
    zeldmxInterfaceControl panel(m_prompter, m_pauser, hollis);
    auto *box = panel.findChild<QGroupBox *>("m_groupBox_DMXControlPanel");
    panel.handleEnableControl(false);
    QVERIFY(!box->isEnabled());
    panel.handleEnableControl(true);
    QVERIFY(box->isEnabled());
    // Re-enabling the box does not enable what the panel itself keeps off.
    QVERIFY(!panel.findChild<QPushButton *>("m_pushButton_ZELDMXDiscoverFixture")->isEnabled());
}

void TestZeldmxInterfaceControl::setters_storeProductAndPrefixes()
{
    Hollis hollis(std::make_unique<ZelHollis::HollisNotPresent>());
    zeldmxInterfaceControl panel(m_prompter, m_pauser, hollis);
    QCOMPARE(panel.product(), nullptr);
    QVERIFY(panel.serialNumPrefixes().isEmpty());
    BootLoadProduct product(m_prompter);
    panel.setProduct(&product);
    panel.setSerialNumPrefixes({0x72, 0x7200});
    QCOMPARE(panel.product(), &product);
    QCOMPARE(panel.serialNumPrefixes(), QList<quint32>({0x72, 0x7200}));
}

void TestZeldmxInterfaceControl::program_withoutAcceptedImage_refusesAndSendsNothing()
{
    auto backend = std::make_unique<ZelHollis::SimulatedHollis>();
    ZelHollis::SimulatedHollis *sim = backend.get();
    Hollis hollis(std::move(backend));
    hollis.queryDevices();
    zeldmxInterfaceControl panel(m_prompter, m_pauser, hollis);
    BootLoadProduct product(m_prompter);
    product.setName("Vireo 40");
    QStringList lines;
    connect(&panel, &zeldmxInterfaceControl::signal_log, this,
            [&](LOGPRIORITY p, LOGTYPE, QString, QString text) {
                if (p == LOG_WARNING)
                    lines.append(text);
            });
    QSignalSpy complete(&panel, &zeldmxInterfaceControl::signal_programComplete);
    m_prompter.clear();
    m_prompter.expectMessage(Prompter::Kind::Critical, "Zel Firmware Updater",
                             "Nothing was programmed.\n\nNo firmware image has been accepted for Vireo 40.");

    panel.program(&product);

    QCOMPARE(m_prompter.pendingExpectations(), 0);
    QCOMPARE(complete.size(), 1);
    QCOMPARE(lines, QStringList{"Nothing was programmed: No firmware image has been accepted for Vireo 40."});
    QVERIFY(sim->steps().isEmpty());
    QVERIFY(panel.runOutcomes().isEmpty());
    // The controls are back for the next attempt.
    QVERIFY(panel.findChild<QPushButton *>("m_pushButton_ZELDMXDiscoverEnabler")->isEnabled());
    QVERIFY(panel.findChild<QLineEdit *>("m_lineEdit_ZELDMXManualFixtureSN")->isEnabled());
}

void TestZeldmxInterfaceControl::discoverEnabler_withoutLibrary_saysSoOnceAndFindsNone()
{
    Hollis hollis(std::make_unique<ZelHollis::HollisNotPresent>());
    zeldmxInterfaceControl panel(m_prompter, m_pauser, hollis);
    QStringList lines;
    connect(&panel, &zeldmxInterfaceControl::signal_log, this,
            [&](LOGPRIORITY, LOGTYPE, QString, QString text) { lines.append(text); });
    QVERIFY(lines.isEmpty());
    QSignalSpy status(&panel, &zeldmxInterfaceControl::signal_updateStatus);

    auto *enabler = panel.findChild<QPushButton *>("m_pushButton_ZELDMXDiscoverEnabler");
    QTest::mouseClick(enabler, Qt::LeftButton);
    QTest::mouseClick(enabler, Qt::LeftButton);

    QCOMPARE(lines.count("Power-supply library not present: no ZELDMX power supplies can be found."), 1);
    QCOMPARE(lines.count("Discovering ZELDMX power supplies..."), 2);
    QCOMPARE(status.first().first().toString(), QString("Discovering enablers..."));
    QCOMPARE(status.last().first().toString(), QString("Enabler discovery did not start: see the log."));
    QCOMPARE(panel.findChild<QComboBox *>("m_comboBox_ZELDMXEnablers")->count(), 0);
}

void TestZeldmxInterfaceControl::discoverEnabler_simulated_findsBothSupplies()
{
    auto backend = std::make_unique<ZelHollis::SimulatedHollis>();
    backend->setReplyDelay(1);
    Hollis hollis(std::move(backend));
    zeldmxInterfaceControl panel(m_prompter, m_pauser, hollis);
    QStringList lines;
    connect(&panel, &zeldmxInterfaceControl::signal_log, this,
            [&](LOGPRIORITY, LOGTYPE, QString, QString text) { lines.append(text); });
    QTest::mouseClick(panel.findChild<QPushButton *>("m_pushButton_ZELDMXDiscoverEnabler"),
                      Qt::LeftButton);
    auto *supplies = panel.findChild<QComboBox *>("m_comboBox_ZELDMXEnablers");
    QTRY_COMPARE(supplies->count(), 2);
    QCOMPARE(supplies->itemText(0), QString("Vask Net-4 (127.0.0.20)"));
    QCOMPARE(supplies->itemText(1), QString("Vask USB-4"));
    QVERIFY(lines.contains("Discovered Vask device #1 - Vask Net-4 (127.0.0.20)"));
}

void TestZeldmxInterfaceControl::findDevice_afterShutdown_answersNotFoundFromTheEventLoop()
{
    Hollis hollis(std::make_unique<ZelHollis::SimulatedHollis>());
    zeldmxInterfaceControl panel(m_prompter, m_pauser, hollis);
    panel.shutdown();
    QSignalSpy done(&panel, &zeldmxInterfaceControl::signal_deviceSearchDone);
    panel.findDevice(QStringLiteral("8100C001"));
    QCOMPARE(done.size(), 0);
    QVERIFY(done.wait(30000));
    QCOMPARE(done.first().at(0).toBool(), false);
    QCOMPARE(done.first().at(1).toString(),
             QStringLiteral("The fixture search did not start: the updater is closing."));
}

void TestZeldmxInterfaceControl::serialField_cursorStaysAtTheEndOfWhatWasTyped()
{
    Hollis hollis(std::make_unique<ZelHollis::HollisNotPresent>());
    zeldmxInterfaceControl panel(m_prompter, m_pauser, hollis);
    auto *serial = panel.findChild<QLineEdit *>("m_lineEdit_ZELDMXManualFixtureSN");
    QSignalSpy enable(&panel, &zeldmxInterfaceControl::signal_enableProgramButton);
    QTest::keyClicks(serial, "82f");
    QCOMPARE(enable.last().first().toBool(), false);
    serial->setCursorPosition(6); // a click into the blanks
    QCOMPARE(serial->cursorPosition(), 3);
    serial->setCursorPosition(1);
    QCOMPARE(serial->cursorPosition(), 1);
}

QTEST_MAIN(TestZeldmxInterfaceControl)
#include "test_zeldmxInterfaceControl.moc"
