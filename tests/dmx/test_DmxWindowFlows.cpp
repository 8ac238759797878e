// Whole ZELDMX runs on the real window with the simulated power-supply
// library: discovery, the LX filter, manual serials, programming one or all
// fixtures, and the runs that must not claim success.
#include "tests/app/WindowFixture.h"

#include "catalogue/BootLoadProduct.h"
#include "catalogue/MicroprocessorImageInfo.h"
#include "dmx/Hollis.h"
#include "dmx/SimulatedHollis.h"
#include "dmx/zeldmxInterfaceControl.h"
#include "tests/dmx/DmxTestImages.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QStackedWidget>
#include <QTemporaryDir>
#include <QTest>

using ZelHollis::SimulatedHollis;
using Kind = Prompter::Kind;

namespace {

const QString kTitle = QStringLiteral("Zel Firmware Updater");

// Sample catalogue geometry: Cove Wash 0x10000 bytes in 0x200-byte pages,
// Kestrel 0x20000; magic and version words at 0x7FF0 / 0x7FF2 (Cove) and
// 0xFFF0 / 0xFFF2 (Kestrel), in 2-byte words.
QMap<quint32, QByteArray> sampleImage(quint32 size, quint32 magic, quint32 version)
{
    QMap<quint32, QByteArray> chunks = numberedPages(size / 0x200, 0x200);
    chunks.insert(size - 0x20, word32(magic));
    chunks.insert(size - 0x1C, word32(version));
    return chunks;
}

// The panel's controls.
struct Dmx {
    zeldmxInterfaceControl *panel;
    SimulatedHollis *sim;
    QPushButton *enabler, *discover, *program;
    QComboBox *supplies, *ports, *fixtures;
    QLabel *revision;
    QLineEdit *serial;
    QCheckBox *all;

    explicit Dmx(WindowFixture &f)
        : panel(f.window->findChild<zeldmxInterfaceControl *>()),
          sim(static_cast<SimulatedHollis *>(&f.devices->hollis().backend())),
          enabler(f.find<QPushButton>("m_pushButton_ZELDMXDiscoverEnabler")),
          discover(f.find<QPushButton>("m_pushButton_ZELDMXDiscoverFixture")),
          program(f.find<QPushButton>("m_pushButton_program")),
          supplies(f.find<QComboBox>("m_comboBox_ZELDMXEnablers")),
          ports(f.find<QComboBox>("m_comboBox_port")),
          fixtures(f.find<QComboBox>("m_comboBox_ZELDMXFixtureSNs")),
          revision(f.find<QLabel>("m_label_fixtureRev")),
          serial(f.find<QLineEdit>("m_lineEdit_ZELDMXManualFixtureSN")),
          all(f.find<QCheckBox>("m_checkBox_ZELDMXProgramAll"))
    {
    }
    QStringList listed() const
    {
        QStringList texts;
        for (int i = 0; i < fixtures->count(); ++i)
            texts.append(fixtures->itemText(i));
        return texts;
    }
    // Supplies found and the first one's ports listed.
    void findSupplies() const
    {
        enabler->click();
        QTRY_COMPARE(supplies->count(), 2);
        QTRY_COMPARE(ports->count(), 4);
    }
    // Fixtures of one port discovered and their list settled.
    void findFixtures(int portIndex) const
    {
        ports->setCurrentIndex(portIndex);
        discover->click();
        QVERIFY(!enabler->isEnabled());
        QTRY_VERIFY(enabler->isEnabled());
    }
    const SimulatedHollis::Fixture &fixture(quint32 serial) const { return *sim->fixture(serial); }
    QByteArray image() const { return panel->product()->processor(0)->image(); }
};

} // namespace

class TestDmxWindowFlows : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_workDir;
    QString m_previousDir;

    // A window on the sample catalogue (or another) with the ZELDMX product
    // chosen, its image accepted and the panel's waits shortened.
    std::unique_ptr<WindowFixture> window(const QString &product, const QString &imageFile,
                                          const QString &catalogue = sampleCataloguePath())
    {
        WindowFixture::Options o;
        o.cataloguePath = catalogue;
        auto f = std::make_unique<WindowFixture>(o);
        f->find<QComboBox>("m_comboBox_interfaceSelect")->setCurrentIndex(1);
        auto *devices = f->find<QComboBox>("m_comboBox_deviceSelect");
        devices->setCurrentIndex(devices->findText(product));
        f->prompter.expectFileDialog(imageFile);
        f->find<QPushButton>("m_pushButton_firmwareImageFileSelect")->click();
        if (!f->find<QStackedWidget>("m_stackedWidget_interfaceControls")->isEnabled())
            qFatal("image %s not accepted for %s", qPrintable(imageFile), qPrintable(product));
        Dmx d(*f);
        zeldmxInterfaceControl::Timing fast;
        fast.portListDelay = 100;
        fast.fixtureWindow = 100;
        fast.lxQueryWait = 20;
        fast.revisionReadWait = 20;
        d.panel->setTiming(fast);
        d.sim->setReplyDelay(1);
        return f;
    }
    QString coveImage(quint32 version = 0x00050103)
    {
        return writeFile(m_workDir.filePath("cove.hex"),
                         hexText(sampleImage(0x10000, 0xA55A0101, version)));
    }
    static void expectNoOtherBox(WindowFixture &f)
    {
        QCOMPARE(f.prompter.pendingExpectations(), 0);
        QVERIFY(!f.prompter.unexpectedSeen());
    }
    static QStringList linesWith(const WindowFixture &f, const QString &part)
    {
        return f.logLines().filter(part);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_workDir.isValid());
        m_previousDir = QDir::currentPath();
        QDir::setCurrent(m_workDir.path()); // the window writes its log and dump here
    }
    void cleanupTestCase() { QDir::setCurrent(m_previousDir); }

    void discovery_suppliesPortsFixturesAndRevisions();
    void lxFamily_listedByFeatureAndVersion_data();
    void lxFamily_listedByFeatureAndVersion();
    void manualSerial_completeOnlyAndPrefixChecked();
    void programOne_fixtureHoldsTheImageAndShowsItsNewRevision_data();
    void programOne_fixtureHoldsTheImageAndShowsItsNewRevision();
    void programAll_eachFixtureOnceAndAFailureStaysListedForRetry();
    void nothingProgrammed_saysWhyAndNeverCompletes_data();
    void nothingProgrammed_saysWhyAndNeverCompletes();
};

void TestDmxWindowFlows::discovery_suppliesPortsFixturesAndRevisions()
{
    const zeldmxInterfaceControl::Timing defaults;
    QCOMPARE((QList<int>{defaults.portListDelay, defaults.fixtureWindow, defaults.lxQueryWait,
                         defaults.revisionReadWait, defaults.finalizePause}),
             (QList<int>{500, 2000, 2000, 1000, 3000}));

    auto f = window("Cove Wash", coveImage());
    Dmx d(*f);
    d.sim->setReplyDelay(150);
    zeldmxInterfaceControl::Timing timing = d.panel->timing();
    timing.portListDelay = 200;
    d.panel->setTiming(timing);
    QElapsedTimer clock;
    clock.start();
    qint64 firstSupply = -1, portsListed = -1, lastAnswer = -1, settled = -1;
    QList<int> portsAtSupply; // ports listed as each supply arrived
    connect(&f->devices->hollis(), &ZelHollis::Hollis::discoveredDevice, this, [&] {
        if (firstSupply < 0)
            firstSupply = clock.elapsed();
        portsAtSupply.append(d.ports->count());
    });
    connect(d.ports->model(), &QAbstractItemModel::rowsInserted, this,
            [&] { if (portsListed < 0) portsListed = clock.elapsed(); });

    // The first supply becomes current; its ports follow after the delay; the
    // second supply changes nothing.
    d.enabler->click();
    QTRY_COMPARE(d.supplies->count(), 2);
    QTRY_COMPARE(d.ports->count(), 4);
    QCOMPARE(portsAtSupply.first(), 0);
    QVERIFY2(portsListed - firstSupply >= 180, qPrintable(QString::number(portsListed - firstSupply)));
    QCOMPARE(d.supplies->currentIndex(), 0);
    QCOMPARE(d.supplies->currentText(), QStringLiteral("Vask Net-4 (127.0.0.20)"));
    QVERIFY(d.discover->isEnabled());
    QCOMPARE(d.ports->itemText(3), QStringLiteral("4"));
    QCOMPARE(d.ports->itemData(3).toInt(), 3);

    // Every fixture of the supply answers twice, the answers 30 ms apart: each
    // answer extends the window, each fixture is logged once, and only the
    // chosen port's fixtures of the product's prefixes are listed.
    d.sim->setReplyDelay(30);
    connect(&f->devices->hollis(), &ZelHollis::Hollis::discoveredFixture, this,
            [&] { lastAnswer = clock.elapsed(); });
    connect(d.panel, &zeldmxInterfaceControl::signal_updateStatus, this, [&](const QString &s) {
        if (s.startsWith(QLatin1String("Fixtures found")))
            settled = clock.elapsed();
    });
    d.ports->setCurrentIndex(1);
    d.discover->click();
    f->devices->hollis().discoverLights(SimulatedHollis::kNetworkSupply);
    QTRY_VERIFY(d.enabler->isEnabled());
    QVERIFY2(settled - lastAnswer >= 90, qPrintable(QStringLiteral("%1 %2").arg(settled).arg(lastAnswer)));
    QCOMPARE(d.listed(), QStringList{"8100C001"}); // 8280ABCD: no Cove Wash prefix
    QCOMPARE(linesWith(*f, "Fixture response from Vask:1 SN 8100C001.").size(), 1);
    QCOMPARE(linesWith(*f, "Fixture response from Vask:1 SN").size(), 7);
    QTRY_COMPARE(d.revision->text(), QStringLiteral("Rev. 4"));
    QVERIFY(d.program->isEnabled());
    QVERIFY(d.all->isEnabled());

    // A USB supply is connected when chosen and offers the fixtures it knows;
    // it is let go when another supply is chosen.
    d.supplies->setCurrentIndex(1);
    QVERIFY(f->devices->hollis().getDeviceProperty(SimulatedHollis::kUsbSupply, "connected").toBool());
    QVERIFY(!d.discover->isEnabled());
    QTRY_COMPARE(d.revision->text(), QStringLiteral("Rev. 5"));
    QCOMPARE(d.listed(), QStringList{"8180E001"});
    QVERIFY(d.program->isEnabled());
    d.supplies->setCurrentIndex(0);
    QVERIFY(!f->devices->hollis().getDeviceProperty(SimulatedHollis::kUsbSupply, "connected").toBool());
    QVERIFY(linesWith(*f, "Selected Vask device #1 - Vask Net-4 (127.0.0.20)").size() == 1);
    expectNoOtherBox(*f);
}

void TestDmxWindowFlows::lxFamily_listedByFeatureAndVersion_data()
{
    QTest::addColumn<QString>("product");
    QTest::addColumn<quint32>("magic");
    QTest::addColumn<QString>("renamed");
    QTest::addColumn<QStringList>("listed");
    QTest::addColumn<QString>("revision");
    QTest::addColumn<bool>("programmable");

    QTest::newRow("lX: fixtures with the feature, version 3")
        << "Kestrel lX" << 0xA55A7201u << QString() << QStringList{"7200B001"} << "Rev. 3" << true;
    QTest::newRow("Vireo: fixtures without it, version 2 refused")
        << "Kestrel Vireo" << 0xA55A7202u << QString() << QStringList{"7200B002"} << "Rev. 2" << false;
    QTest::newRow("both in the name: all")
        << "Kestrel lX" << 0xA55A7201u << "Kestrel lX Vireo" << QStringList{"7200B001", "7200B002"}
        << "Rev. 3" << true;
}

void TestDmxWindowFlows::lxFamily_listedByFeatureAndVersion()
{
    QFETCH(QString, product);
    QFETCH(quint32, magic);
    QFETCH(QString, renamed);
    QFETCH(QStringList, listed);
    QFETCH(QString, revision);
    QFETCH(bool, programmable);
    const QString image = writeFile(m_workDir.filePath("kestrel.hex"),
                                    hexText(sampleImage(0x20000, magic, 0x00030105)));
    auto f = window(product, image);
    Dmx d(*f);
    if (!renamed.isEmpty())
        d.panel->product()->setName(renamed);

    d.findSupplies();
    d.findFixtures(0); // port 1 also carries 0072A001, not of this family
    QTRY_COMPARE(d.revision->text(), revision);
    QCOMPARE(d.listed(), listed);
    QCOMPARE(d.program->isEnabled(), programmable);
    QCOMPARE(linesWith(*f, "cannot be updated here").size(), programmable ? 0 : 1);
    // A few digits typed do not open a way around the version rule.
    QTest::keyClicks(d.serial, "72");
    QCOMPARE(d.program->isEnabled(), programmable);
    expectNoOtherBox(*f);
}

void TestDmxWindowFlows::manualSerial_completeOnlyAndPrefixChecked()
{
    auto f = window("Cove Wash", coveImage());
    Dmx d(*f);
    d.findSupplies();

    QTest::keyClicks(d.serial, "8280");
    QCOMPARE(d.serial->displayText(), QStringLiteral("8280____"));
    QVERIFY(!d.program->isEnabled());
    QTest::keyClicks(d.serial, "abcd");
    QVERIFY(d.program->isEnabled());

    // Cancel is the default answer and sends nothing.
    const QString confirm = QStringLiteral("You are about to update the firmware of SN:8280ABCD!\nDo you wish to continue?");
    f->prompter.expectMessage(Kind::Warning, kTitle, confirm, QMessageBox::Cancel);
    d.program->click();
    QCOMPARE(f->prompter.shown().last().buttons, QMessageBox::Ok | QMessageBox::Cancel);
    QCOMPARE(f->prompter.shown().last().defaultButton, QMessageBox::Cancel);
    QVERIFY(d.sim->steps().isEmpty());
    QVERIFY(d.program->isEnabled());
    QVERIFY(d.serial->isEnabled());

    // OK, but the serial is not of a Cove Wash: refused, controls back.
    f->prompter.expectMessage(Kind::Warning, kTitle, confirm, QMessageBox::Ok);
    f->prompter.expectMessage(Kind::Critical, kTitle,
                              QStringLiteral("Serial number of fixture does not match the fixture type!"),
                              QMessageBox::Cancel);
    d.program->click();
    expectNoOtherBox(*f);
    QCOMPARE(f->prompter.shown().last().buttons, QMessageBox::Cancel);
    QVERIFY(d.sim->steps().isEmpty());
    QVERIFY(d.program->isEnabled());
    for (QWidget *w : {static_cast<QWidget *>(d.enabler), static_cast<QWidget *>(d.supplies),
                       static_cast<QWidget *>(d.ports), static_cast<QWidget *>(d.serial),
                       static_cast<QWidget *>(d.fixtures), static_cast<QWidget *>(d.discover)})
        QVERIFY2(w->isEnabled(), qPrintable(w->objectName()));
    QCOMPARE(d.serial->displayText(), QStringLiteral("8280abcd"));
}

void TestDmxWindowFlows::programOne_fixtureHoldsTheImageAndShowsItsNewRevision_data()
{
    QTest::addColumn<QString>("product");
    QTest::addColumn<QString>("sample"); // of resources/samples, as make run offers them
    QTest::addColumn<int>("portIndex");
    QTest::addColumn<QString>("serial");
    QTest::addColumn<QString>("before");
    QTest::addColumn<QString>("after");
    QTest::addColumn<int>("calls");
    QTest::addColumn<QString>("prompt");

    QTest::newRow("Cove Wash: 128 pages")
        << "Cove Wash" << "CoveWash-5.1.3.hex" << 1 << "8100C001" << "Rev. 4" << "Rev. 5" << 4 + 128 << QString();
    QTest::newRow("Kestrel lX: 256 pages after the prompt")
        << "Kestrel lX" << "KestrelLX-4.1.3.hex" << 0 << "7200B001" << "Rev. 3" << "Rev. 4" << 4 + 256
        << "Keep DMX control data off the port until the update has finished.";
    QTest::newRow("Tern Spot: 512 pages and 4 PSoC paragraphs")
        << "Tern Spot" << "TernSpot-5.1.4.hex" << 2 << "8300F001" << "Rev. 4" << "Rev. 5" << 4 + 512 + 4 << QString();
}

void TestDmxWindowFlows::programOne_fixtureHoldsTheImageAndShowsItsNewRevision()
{
    QFETCH(QString, product);
    QFETCH(QString, sample);
    QFETCH(int, portIndex);
    QFETCH(QString, serial);
    QFETCH(QString, before);
    QFETCH(QString, after);
    QFETCH(int, calls);
    QFETCH(QString, prompt);
    auto f = window(product, qEnvironmentVariable("ZEL_SOURCE_DIR") + "/resources/samples/" + sample);
    Dmx d(*f);
    d.findSupplies();
    d.findFixtures(portIndex);
    QTRY_COMPARE(d.revision->text(), before);
    QCOMPARE(d.fixtures->currentText(), serial);
    QSignalSpy complete(d.panel, &zeldmxInterfaceControl::signal_programComplete);

    f->prompter.expectMessage(Kind::Warning, kTitle,
                              QStringLiteral("You are about to update the firmware of SN:%1!\nDo you wish to continue?").arg(serial));
    if (!prompt.isEmpty())
        f->prompter.expectMessage(Kind::Information, QStringLiteral("Information"), prompt);
    f->prompter.expectMessage(Kind::Information, QStringLiteral("Information"),
                              QStringLiteral("Programming complete!"));
    d.program->click();
    expectNoOtherBox(*f);

    const quint32 sn = serial.toUInt(nullptr, 16);
    QCOMPARE(complete.size(), 1);
    QCOMPARE(d.fixture(sn).flash, d.image());
    if (d.panel->product()->processorCount() == 2) {
        QCOMPARE(d.fixture(sn).paragraphs.size(), d.panel->product()->processor(1)->paragraphCount());
        QCOMPARE(d.fixture(sn).paragraphs.first(), d.panel->product()->processor(1)->paragraph(0));
    }
    QCOMPARE(d.sim->steps().size(), calls);
    QCOMPARE(d.sim->steps().last().call, QStringLiteral("BootloadDone"));
    QCOMPARE(f->pauser.pauses, QList<int>{3000});
    QCOMPARE(f->prompter.progresses().last()->label, "Bootloading SN:" + serial);
    QCOMPARE(f->prompter.progresses().last()->maximum, calls - 4 + 25); // 153 for 128 pages
    QVERIFY(f->prompter.progresses().last()->closed);
    QCOMPARE(d.panel->runOutcomes().size(), 1);
    QVERIFY(d.panel->runOutcomes().first().updated());
    const int pages = d.image().size() / int(d.panel->product()->processor(0)->pageSize());
    QCOMPARE(linesWith(*f, QStringLiteral("INFO - zeldmxInterfaceControl - SN %1 - Sent record %2/%2.")
                               .arg(serial.toLower()).arg(pages)).size(), 1);
    QVERIFY(d.listed().isEmpty());
    QVERIFY(!d.program->isEnabled());
    QVERIFY(f->find<QStackedWidget>("m_stackedWidget_interfaceControls")->isEnabled());

    // Discovered again, the fixture reports the image's version.
    d.findFixtures(portIndex);
    QTRY_COMPARE(d.revision->text(), after);
    QVERIFY(d.program->isEnabled());
}

void TestDmxWindowFlows::programAll_eachFixtureOnceAndAFailureStaysListedForRetry()
{
    auto f = window("Cove Wash", coveImage());
    Dmx d(*f);
    // Eight fixtures answering at the same moment: each is listed once.
    QList<SimulatedHollis::Fixture> eight;
    for (quint32 n = 1; n <= 8; ++n) {
        SimulatedHollis::Fixture fixture;
        fixture.serial = 0x8100C000 + n;
        fixture.firmwareVersion = 4;
        fixture.versionOffset = 0xFFE4;
        eight.append(fixture);
    }
    d.sim->setFixtures(SimulatedHollis::kNetworkSupply, eight);
    d.findSupplies();
    d.sim->setReplyDelay(0);
    d.findFixtures(0);
    QCOMPARE(d.listed(), (QStringList{"8100C001", "8100C002", "8100C003", "8100C004", "8100C005",
                                      "8100C006", "8100C007", "8100C008"}));
    QCOMPARE(linesWith(*f, "Fixture response from Vask:1 SN").size(), 8);
    QTRY_VERIFY(d.program->isEnabled());
    d.all->setChecked(true);

    const QString confirm = QStringLiteral("You are about to update the firmware of ALL Cove Wash's on this supply!\nDo you wish to continue?");
    f->prompter.expectMessage(Kind::Warning, kTitle, confirm, QMessageBox::Cancel);
    d.program->click();
    QCOMPARE(f->prompter.shown().last().defaultButton, QMessageBox::Cancel);
    QVERIFY(d.sim->steps().isEmpty());

    // The third fixture refuses page 65: it alone is not updated.
    d.sim->failStep(0x8100C003, "BootloadWriteIntelHex", 64);
    f->prompter.expectMessage(Kind::Warning, kTitle, confirm);
    f->prompter.expectMessage(
        Kind::Critical, kTitle,
        QStringLiteral("Programming finished with errors: 7 of 8 fixtures were updated.\n\nNot updated:\n"
                       "SN:8100C003 - Writing page 65/128 was refused. Its flash may be blank or "
                       "incomplete: program it again before use.\n\nThe fixtures that were not "
                       "updated stay in the list. Check their connection and press PROGRAM to try "
                       "them again."));
    d.program->click();
    expectNoOtherBox(*f);

    for (quint32 n = 1; n <= 8; ++n) {
        if (n != 3)
            QCOMPARE(d.fixture(0x8100C000 + n).flash, d.image());
    }
    QVERIFY(d.fixture(0x8100C003).inBootloader);
    QStringList third;
    for (const SimulatedHollis::Step &s : d.sim->steps()) {
        if (s.serial == 0x8100C003)
            third.append(s.call);
    }
    QCOMPARE(third.size(), 2 + 65);
    QVERIFY(!third.contains(QStringLiteral("BootloadDone")));
    const QList<FixtureOutcome> outcomes = d.panel->runOutcomes();
    QCOMPARE(outcomes.size(), 8);
    QCOMPARE(outcomes.at(2).result, FixtureOutcome::Result::Failed);
    QCOMPARE(outcomes.at(2).failedStep, FixtureOutcome::Step::Page);
    QCOMPARE(outcomes.at(2).block, 64);
    QVERIFY(outcomes.at(3).updated());
    QCOMPARE(linesWith(*f, "SEVERE - zeldmxInterfaceControl - SN:8100C003 - Writing page 65/128 was refused.").size(), 1);
    QCOMPARE(linesWith(*f, "SEVERE - zeldmxInterfaceControl - 7 of 8 fixtures were updated. Not updated: 8100C003.").size(), 1);
    QCOMPARE(d.listed(), QStringList{"8100C003"});
    QVERIFY(d.program->isEnabled());
    QVERIFY(d.all->isEnabled() && d.all->isChecked());

    // Once the fault is gone, the fixture left in its boot loader is programmed again.
    d.sim->clearFailures();
    f->prompter.expectMessage(Kind::Warning, kTitle, confirm);
    f->prompter.expectMessage(Kind::Information, QStringLiteral("Information"),
                              QStringLiteral("Programming complete!\n\n1 of 1 fixtures were updated."));
    d.program->click();
    expectNoOtherBox(*f);
    QCOMPARE(d.fixture(0x8100C003).flash, d.image());
    QVERIFY(!d.fixture(0x8100C003).inBootloader);
    QVERIFY(d.listed().isEmpty());
    QVERIFY(!d.program->isEnabled());
}

void TestDmxWindowFlows::nothingProgrammed_saysWhyAndNeverCompletes_data()
{
    QTest::addColumn<QString>("product");
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("reason");

    // (A raw .bin image for a fixture is refused when it is selected.)
    QTest::newRow("two Intel HEX processors")
        << "Twin Hex" << "twin.hex"
        << "File type mismatch. Expecting Intel HEX. Twin Hex needs an Intel HEX processor 1 and a Cypress PSoC processor 2.";
}

void TestDmxWindowFlows::nothingProgrammed_saysWhyAndNeverCompletes()
{
    QFETCH(QString, product);
    QFETCH(QString, file);
    QFETCH(QString, reason);
    const QString processor = QStringLiteral(
        "<Processor><ProcName>p%1</ProcName><Heirarchy>%1</Heirarchy><FileType>Intel HEX</FileType>"
        "<BLRev>1</BLRev><PageSize>512</PageSize><WordSize>2</WordSize><WordCount>8000</WordCount>"
        "<MagicLoc>7FF0</MagicLoc><MagicFlag>%2</MagicFlag><VerLoc>7FF2</VerLoc></Processor>");
    QFile sample(sampleCataloguePath());
    QVERIFY(sample.open(QIODevice::ReadOnly | QIODevice::Text));
    QString catalogue = QString::fromUtf8(sample.readAll());
    catalogue.replace(QStringLiteral("</ZELBLProductList>"),
                      QStringLiteral("<ZelDmxFixture><Name>Twin Hex</Name><SerialNumPrefix>8100</SerialNumPrefix>")
                          // The second section of a file is empty: its words read FFFFFFFF.
                          + processor.arg(1).arg("A55A0101") + processor.arg(2).arg("FFFFFFFF")
                          + QStringLiteral("</ZelDmxFixture></ZELBLProductList>"));
    const QString cataloguePath = writeFile(m_workDir.filePath("twin.xml"), catalogue);
    coveImage();
    QFile::copy(m_workDir.filePath("cove.hex"), m_workDir.filePath("twin.hex"));

    auto f = window(product, m_workDir.filePath(file), cataloguePath);
    Dmx d(*f);
    d.findSupplies();
    QTest::keyClicks(d.serial, "8100C001");
    QVERIFY(d.program->isEnabled());
    QSignalSpy complete(d.panel, &zeldmxInterfaceControl::signal_programComplete);
    f->prompter.expectMessage(Kind::Critical, kTitle, QStringLiteral("Nothing was programmed.\n\n") + reason);
    d.program->click();
    expectNoOtherBox(*f);

    QVERIFY(d.sim->steps().isEmpty());
    QVERIFY(f->prompter.progresses().isEmpty());
    QVERIFY(linesWith(*f, "Programming complete").isEmpty());
    QCOMPARE(linesWith(*f, "WARNING - zeldmxInterfaceControl - Nothing was programmed: " + reason).size(), 1);
    QCOMPARE(complete.size(), 1);
    QVERIFY(!d.program->isEnabled());
    QVERIFY(d.serial->isEnabled());
}

QTEST_MAIN(TestDmxWindowFlows)
#include "test_DmxWindowFlows.moc"
