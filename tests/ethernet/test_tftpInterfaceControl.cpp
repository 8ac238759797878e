#include "ethernet/tftpInterfaceControl.h"

#include "catalogue/BootLoadProduct.h"
#include "ethernet/SimulatedTarvo.h"
#include "ethernet/TarvoNotPresent.h"
#include "tests/support/FakePrompter.h"
#include "tests/support/RecordingPauser.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

class TestTftpInterfaceControl : public QObject
{
    Q_OBJECT

private slots:
    void form_hasNamedControlsWithTheirTexts();
    void enableControl_togglesTheGroupBox();
    void setters_storeProductAndPort();
    void program_endsTheRunWithoutClaimingSuccess();
    void discover_sendsNothing();

private:
    FakePrompter m_prompter;
    RecordingPauser m_pauser;
};

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

void TestTftpInterfaceControl::program_endsTheRunWithoutClaimingSuccess()
{
    SimulatedTarvo tarvo;
    tftpInterfaceControl panel(m_prompter, m_pauser, tarvo);
    BootLoadProduct product(m_prompter);
    product.setName("Brisa Quad");
    panel.setProduct(&product);
    QStringList lines;
    QList<LOGPRIORITY> priorities;
    connect(&panel, &tftpInterfaceControl::signal_log, this,
            [&](LOGPRIORITY p, LOGTYPE, QString, QString text) {
                priorities.append(p);
                lines.append(text);
            });
    QSignalSpy complete(&panel, &tftpInterfaceControl::signal_programComplete);
    QSignalSpy enable(&panel, &tftpInterfaceControl::signal_enableProgramButton);
    QSignalSpy status(&panel, &tftpInterfaceControl::signal_updateStatus);

    panel.program("/tmp/controller.hex");

    QCOMPARE(complete.size(), 1);
    QCOMPARE(enable.size(), 0);
    QCOMPARE(status.size(), 1);
    QCOMPARE(status.first().first().toString(),
             QString("Programming over Ethernet is not available in this build."));
    QVERIFY(lines.contains("No accepted firmware image for Brisa Quad."));
    QVERIFY(!priorities.contains(LOG_INFO));
    QVERIFY(tarvo.questions().isEmpty());
    QVERIFY(m_prompter.shown().isEmpty());
}

void TestTftpInterfaceControl::discover_sendsNothing()
{
    SimulatedTarvo tarvo;
    tftpInterfaceControl panel(m_prompter, m_pauser, tarvo);
    QStringList lines;
    connect(&panel, &tftpInterfaceControl::signal_log, this,
            [&](LOGPRIORITY, LOGTYPE, QString object, QString text) {
                QCOMPARE(object, QString("tftpInterfaceControl"));
                lines.append(text);
            });
    QSignalSpy enable(&panel, &tftpInterfaceControl::signal_enableProgramButton);
    QTest::mouseClick(panel.findChild<QPushButton *>("m_pushButton_TFTPDiscover"), Qt::LeftButton);
    QCOMPARE(lines, QStringList({"Discovering Ethernet controllers...",
                                 "Ethernet controller discovery is not available in this build."}));
    QCOMPARE(enable.size(), 0);
    QVERIFY(tarvo.questions().isEmpty());
}

QTEST_MAIN(TestTftpInterfaceControl)
#include "test_tftpInterfaceControl.moc"
