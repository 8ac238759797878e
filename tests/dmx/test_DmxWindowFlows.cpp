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
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QStackedWidget>
#include <QJsonDocument>
#include <QJsonObject>
#include <QScopeGuard>
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
    // The fixture's revision as shown, without where the image would take it.
    QString rev() const { return revision->text().section(QStringLiteral(" → "), 0, 0); }
    const SimulatedHollis::Fixture &fixture(quint32 serial) const { return *sim->fixture(serial); }
    QByteArray image() const { return panel->product()->processor(0)->image(); }
    // PROGRAM, and the wait until the run (the checks after each update included) is over.
    void programToTheEnd() const
    {
        program->click();
        QTRY_VERIFY_WITH_TIMEOUT(!panel->runInProgress(), 20000);
    }
};

// The records a panel emits, in order.
struct Records {
    QList<UpdateRecord> list;
    explicit Records(zeldmxInterfaceControl *panel)
    {
        QObject::connect(panel, &zeldmxInterfaceControl::signal_runRecord, panel,
                         [this](const UpdateRecord &r) { list.append(r); });
    }
    QStringList outcomes() const
    {
        QStringList names;
        for (const UpdateRecord &r : list)
            names.append(r.address + ' ' + UpdateRecord::outcomeName(r.outcome));
        return names;
    }
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
    void emptyPort_saysWhichOtherPortsHaveTheProductsFixtures_data();
    void emptyPort_saysWhichOtherPortsHaveTheProductsFixtures();
    void waits_saySoInTheStatusBarAndEndOnEveryPath();
    void revision_showsWhereTheImageTakesItWhenTheyCompare_data();
    void revision_showsWhereTheImageTakesItWhenTheyCompare();
    void manualSerial_completeOnlyAndPrefixChecked();
    void programOne_fixtureHoldsTheImageAndShowsItsNewRevision_data();
    void programOne_fixtureHoldsTheImageAndShowsItsNewRevision();
    void programAll_eachFixtureOnceAndAFailureStaysListedForRetry();
    void programAll_fixturesAlreadyAtTheImagesRevisionAreNotVerified();
    void nothingProgrammed_saysWhyAndNeverCompletes_data();
    void nothingProgrammed_saysWhyAndNeverCompletes();
    void checkAfterUpdate_onlyTheImagesRevisionVerifies_data();
    void checkAfterUpdate_onlyTheImagesRevisionVerifies();
    void findDevice_selectsWhatAnOperatorWouldOrSaysWhyNot_data();
    void findDevice_selectsWhatAnOperatorWouldOrSaysWhyNot();
    void closingDuringProgramAll_recordsEachFixtureAndSendsNothingMore_data();
    void closingDuringProgramAll_recordsEachFixtureAndSendsNothingMore();
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
    // Qt's coarse timers may fire up to 5 % early: the bound leaves room for that.
    QVERIFY2(portsListed - firstSupply >= 150, qPrintable(QString::number(portsListed - firstSupply)));
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
    QVERIFY2(settled - lastAnswer >= 75, qPrintable(QStringLiteral("%1 %2").arg(settled).arg(lastAnswer)));
    QCOMPARE(d.listed(), QStringList{"8100C001"}); // 8280ABCD: no Cove Wash prefix
    QCOMPARE(linesWith(*f, "Fixture response from Vask:1 SN 8100C001.").size(), 1);
    QCOMPARE(linesWith(*f, "Fixture response from Vask:1 SN").size(), 7);
    QTRY_COMPARE(d.rev(), QStringLiteral("Rev. 4"));
    QVERIFY(d.program->isEnabled());
    QVERIFY(d.all->isEnabled());

    // Discovered again, with one more fixture on the supply: only the new one
    // is logged, the others were for this session already.
    QList<SimulatedHollis::Fixture> more = d.sim->fixtures(SimulatedHollis::kNetworkSupply);
    more.append(more.at(3));
    more.last().serial = 0x8100C002;
    d.sim->setFixtures(SimulatedHollis::kNetworkSupply, more);
    d.discover->click();
    QTRY_VERIFY(d.enabler->isEnabled());
    QCOMPARE(d.listed(), (QStringList{"8100C001", "8100C002"}));
    QCOMPARE(linesWith(*f, "Fixture response from Vask:1 SN 8100C001.").size(), 1);
    QCOMPARE(linesWith(*f, "Fixture response from Vask:1 SN 8100C002.").size(), 1);
    QCOMPARE(linesWith(*f, "Fixture response from Vask:1 SN").size(), 8);
    QTRY_COMPARE(d.rev(), QStringLiteral("Rev. 4"));

    // A USB supply is connected when chosen and offers the fixtures it knows;
    // it is let go when another supply is chosen.
    d.supplies->setCurrentIndex(1);
    QVERIFY(f->devices->hollis().getDeviceProperty(SimulatedHollis::kUsbSupply, "connected").toBool());
    QVERIFY(!d.discover->isEnabled());
    QTRY_COMPARE(d.rev(), QStringLiteral("Rev. 5"));
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
    QTRY_COMPARE(d.rev(), revision);
    QCOMPARE(d.listed(), listed);
    QCOMPARE(d.program->isEnabled(), programmable);
    QCOMPARE(linesWith(*f, "cannot be updated here").size(), programmable ? 0 : 1);
    // A few digits typed do not open a way around the version rule.
    QTest::keyClicks(d.serial, "72");
    QCOMPARE(d.program->isEnabled(), programmable);
    expectNoOtherBox(*f);
}

void TestDmxWindowFlows::emptyPort_saysWhichOtherPortsHaveTheProductsFixtures_data()
{
    QTest::addColumn<QString>("product");
    QTest::addColumn<int>("portIndex");
    QTest::addColumn<QList<int>>("morePorts"); // a Cove Wash fixture more on each of these port indexes
    QTest::addColumn<QStringList>("said");

    QTest::newRow("one on port 2") << "Cove Wash" << 0 << QList<int>{}
                                   << QStringList{"1 Cove Wash fixture answered on port 2."};
    QTest::newRow("three on port 2, one on port 4")
        << "Cove Wash" << 0 << QList<int>{1, 1, 3}
        << QStringList{"3 Cove Wash fixtures answered on port 2.", "1 Cove Wash fixture answered on port 4."};
    // Port 1 also has a Kestrel without the feature, which is no Kestrel lX.
    QTest::newRow("LX family: the feature tells") << "Kestrel lX" << 1 << QList<int>{}
                                                  << QStringList{"1 Kestrel lX fixture answered on port 1."};
    QTest::newRow("some on the chosen port: nothing more") << "Cove Wash" << 1 << QList<int>{0} << QStringList{};
}

void TestDmxWindowFlows::emptyPort_saysWhichOtherPortsHaveTheProductsFixtures()
{
    QFETCH(QString, product);
    QFETCH(int, portIndex);
    QFETCH(QList<int>, morePorts);
    QFETCH(QStringList, said);
    const QString image = product == QLatin1String("Kestrel lX")
        ? writeFile(m_workDir.filePath("kestrel.hex"), hexText(sampleImage(0x20000, 0xA55A7201, 0x00030105)))
        : coveImage();
    auto f = window(product, image);
    Dmx d(*f);
    QList<SimulatedHollis::Fixture> fixtures = d.sim->fixtures(SimulatedHollis::kNetworkSupply);
    for (int port : morePorts) {
        fixtures.append(*d.sim->fixture(0x8100C001));
        fixtures.last().serial = 0x8100C010 + fixtures.size();
        fixtures.last().port = port;
    }
    d.sim->setFixtures(SimulatedHollis::kNetworkSupply, fixtures);
    d.findSupplies();
    d.findFixtures(portIndex);

    const QString found = QStringLiteral("Fixtures found: %1").arg(d.listed().size());
    QCOMPARE(d.listed().isEmpty(), !said.isEmpty());
    QTRY_COMPARE(f->window->statusText(), said.isEmpty() ? found : found + QStringLiteral(" — ") + said.join(' '));
    QStringList logged;
    for (const QString &line : f->logLines().filter(" fixture"))
        if (line.contains(" answered on port "))
            logged.append(line.section(QStringLiteral("WARNING - zeldmxInterfaceControl - "), 1));
    QCOMPARE(logged, said);
}

void TestDmxWindowFlows::waits_saySoInTheStatusBarAndEndOnEveryPath()
{
    auto f = window("Cove Wash", coveImage());
    Dmx d(*f);
    f->window->show();
    const auto *busy = f->find<QProgressBar>("m_progress_busy");
    QStringList waits; // as the panel said them, repeats left out; "" ends one
    bool shownBeside = true; // each in the status bar, beside the busy indicator
    QString stopWhen;
    connect(d.panel, &InterfacePanel::signal_waitStatus, this, [&](const QString &text) {
        if (waits.isEmpty() || waits.last() != text)
            waits.append(text);
        shownBeside = shownBeside && (text.isEmpty() || (busy->isVisible() && f->window->statusText() == text));
        if (!stopWhen.isEmpty() && text == stopWhen)
            d.panel->shutdown();
        // The written fixture answers once the wait has shown its seconds.
        if (text == QStringLiteral("Checking SN:8100C001 after the update… 1 s"))
            d.sim->setFixtureAnswering(0x8100C001, true);
    });
    const QStringList listed{"Discovering fixtures on port 2…", "Discovering fixtures on port 2… 1 found", "",
                             "Reading the revision of SN:8100C001…", ""};
    d.findSupplies();
    d.findFixtures(1);
    QTRY_VERIFY(d.program->isEnabled());
    QCOMPARE(waits, listed);
    QCOMPARE(f->window->statusText(), QStringLiteral("Fixtures found: 1"));
    QVERIFY(busy->isHidden());
    QCOMPARE(d.revision->text(), QStringLiteral("Rev. 4 → 5")); // where the image takes it
    // Another port, another list: what was said of the one before goes with it.
    d.ports->setCurrentIndex(0);
    QVERIFY(d.listed().isEmpty());
    QVERIFY(f->window->statusText().isEmpty());
    d.ports->setCurrentIndex(1);
    QTRY_VERIFY(d.program->isEnabled());
    QCOMPARE(f->window->statusText(), QStringLiteral("Fixtures found: 1"));

    // The check after the update counts its seconds until the fixture answers.
    waits.clear();
    d.sim->setNoReturn(true);
    d.panel->setVerifyWait(60000);
    f->prompter.expectMessage(Kind::Warning, kTitle, QString());
    f->prompter.expectMessage(Kind::Information, QStringLiteral("Information"), QString());
    d.programToTheEnd();
    expectNoOtherBox(*f);
    QCOMPARE(waits, (QStringList{"Checking SN:8100C001 after the update…", "Checking SN:8100C001 after the update… 1 s", ""}));
    QCOMPARE(f->window->statusText(), QStringLiteral("Cove Wash 8100C001: verified"));
    QVERIFY(busy->isHidden());

    // Closed while a fixture is checked: that wait ends too.
    waits.clear();
    d.findFixtures(1);
    QTRY_VERIFY(d.program->isEnabled());
    QCOMPARE(waits, listed);
    waits.clear();
    stopWhen = QStringLiteral("Checking SN:8100C001 after the update…");
    f->prompter.expectMessage(Kind::Warning, kTitle, QString());
    d.programToTheEnd();
    QCOMPARE(waits, (QStringList{stopWhen, ""}));
    QVERIFY(busy->isHidden());
    QVERIFY(shownBeside);
}

void TestDmxWindowFlows::revision_showsWhereTheImageTakesItWhenTheyCompare_data()
{
    QTest::addColumn<quint32>("version");
    QTest::addColumn<QString>("shown");
    QTest::newRow("image 5.1.3") << 0x00050103u << "Rev. 4 → 5";
    QTest::newRow("image 0.1.3: no revision to compare") << 0x00000103u << "Rev. 4";
}

void TestDmxWindowFlows::revision_showsWhereTheImageTakesItWhenTheyCompare()
{
    QFETCH(quint32, version);
    QFETCH(QString, shown);
    auto f = window("Cove Wash", coveImage(version));
    Dmx d(*f);
    d.findSupplies();
    d.findFixtures(1);
    QTRY_COMPARE(d.revision->text(), shown);
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
    Records records(d.panel);

    // Cancel is the default answer and sends nothing.
    const QString confirm = QStringLiteral("You are about to update the firmware of SN:8280ABCD!\nDo you wish to continue?");
    f->prompter.expectMessage(Kind::Warning, kTitle, confirm, QMessageBox::Cancel);
    d.program->click();
    QCOMPARE(f->prompter.shown().last().buttons, QMessageBox::Ok | QMessageBox::Cancel);
    QCOMPARE(f->prompter.shown().last().defaultButton, QMessageBox::Cancel);
    QVERIFY(f->prompter.shown().last().confirmation);
    QVERIFY(d.sim->steps().isEmpty());
    QVERIFY(d.program->isEnabled());
    QVERIFY(d.serial->isEnabled());
    QCOMPARE(records.outcomes(), QStringList{"8280ABCD cancelled"});

    // OK, but the serial is not of a Cove Wash: refused, controls back.
    f->prompter.expectMessage(Kind::Warning, kTitle, confirm, QMessageBox::Ok);
    f->prompter.expectMessage(Kind::Critical, kTitle,
                              QStringLiteral("Serial number of fixture does not match the fixture type!"),
                              QMessageBox::Cancel);
    d.program->click();
    expectNoOtherBox(*f);
    QCOMPARE(f->prompter.shown().last().buttons, QMessageBox::Cancel);
    QVERIFY(d.sim->steps().isEmpty());
    // Refused, not cancelled: the record says why.
    QCOMPARE(records.outcomes(), (QStringList{"8280ABCD cancelled", "8280ABCD failed"}));
    QCOMPARE(records.list.last().reason, QStringLiteral("Serial number of fixture does not match the fixture type! Nothing was sent to it."));
    QVERIFY(records.list.last().revisionBefore.isNull());
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
    QTest::addColumn<QString>("checked");

    QTest::newRow("Cove Wash: 128 pages")
        << "Cove Wash" << "CoveWash-5.1.3.hex" << 1 << "8100C001" << "Rev. 4" << "Rev. 5" << 4 + 128 << QString()
        << "verified: the fixture reports revision 5 (image 5.1.3)";
    QTest::newRow("Kestrel lX: 256 pages after the prompt")
        << "Kestrel lX" << "KestrelLX-4.1.3.hex" << 0 << "7200B001" << "Rev. 3" << "Rev. 4" << 4 + 256
        << "Keep DMX control data off the port until the update has finished."
        << "verified: the fixture reports revision 4 (image 4.1.3)";
    // No advanced mode: the operator sets the service switch when asked, and
    // the fixture takes the erase without the boot-load mode call.
    QTest::newRow("Halyard Wash: service switch after the prompt, then 128 pages")
        << "Halyard Wash" << "HalyardWash-7.1.3.hex" << 2 << "8200D001" << "Rev. 6" << "Rev. 7" << 1 + 128 + 1
        << "Set the fixture's service switch to BOOT, then press OK."
        << "verified: the fixture reports revision 7 (image 7.1.3)";
    QTest::newRow("Tern Spot: 512 pages and 4 PSoC paragraphs")
        << "Tern Spot" << "TernSpot-5.1.4.hex" << 2 << "8300F001" << "Rev. 4" << "Rev. 5" << 4 + 512 + 4 << QString()
        << "verified: the fixture reports revision 5 (image 5.1.4)";
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
    QFETCH(QString, checked);
    const QString imagePath = qEnvironmentVariable("ZEL_SOURCE_DIR") + "/resources/samples/" + sample;
    auto f = window(product, imagePath);
    Dmx d(*f);
    d.findSupplies();
    d.findFixtures(portIndex);
    QTRY_COMPARE(d.rev(), before);
    QCOMPARE(d.fixtures->currentText(), serial);
    QSignalSpy complete(d.panel, &zeldmxInterfaceControl::signal_programComplete);
    Records records(d.panel);

    f->prompter.expectMessage(Kind::Warning, kTitle,
                              QStringLiteral("You are about to update the firmware of SN:%1!\nDo you wish to continue?").arg(serial));
    if (!prompt.isEmpty())
        f->prompter.expectMessage(Kind::Information, QStringLiteral("Information"), prompt);
    f->prompter.expectMessage(Kind::Information, QStringLiteral("Information"),
                              QStringLiteral("Programming complete!\n\nSN:%1 - %2").arg(serial, checked));
    d.programToTheEnd();
    expectNoOtherBox(*f);

    // One record: the fixture as listed, its revisions before and after, the image sent.
    QCOMPARE(records.list.size(), 1);
    const UpdateRecord &r = records.list.first();
    QCOMPARE(r.outcome, UpdateRecord::Outcome::Verified);
    QCOMPARE(r.address, serial);
    QCOMPARE(r.deviceType, product);
    QCOMPARE(r.interfaceNumber, 1);
    QCOMPARE("Rev. " + r.revisionBefore, before);
    QCOMPARE("Rev. " + r.revisionAfter, after);
    QCOMPARE(r.imageFile, imagePath);
    QCOMPARE(r.imageVersion, sample.section('-', 1).chopped(4));
    QVERIFY(r.reason.isNull());
    QCOMPARE(linesWith(*f, "INFO - zeldmxInterfaceControl - SN:" + serial + " - " + checked).size(), 1);
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
    const int pages = d.image().size() / int(d.panel->product()->processor(0)->pageSize());
    const int paragraphs = d.panel->product()->processorCount() == 2
        ? d.panel->product()->processor(1)->paragraphCount() : 0;
    QCOMPARE(f->prompter.progresses().last()->maximum, pages + paragraphs + 25); // 153 for 128 pages
    QVERIFY(f->prompter.progresses().last()->closed);
    QCOMPARE(d.panel->runOutcomes().size(), 1);
    QVERIFY(d.panel->runOutcomes().first().updated());
    QCOMPARE(linesWith(*f, QStringLiteral("INFO - zeldmxInterfaceControl - SN %1 - Sent record %2/%2.")
                               .arg(serial.toLower()).arg(pages)).size(), 1);
    QVERIFY(d.listed().isEmpty());
    QVERIFY(!d.program->isEnabled());
    QVERIFY(f->find<QStackedWidget>("m_stackedWidget_interfaceControls")->isEnabled());

    // Discovered again, the fixture reports the image's version.
    d.findFixtures(portIndex);
    QTRY_COMPARE(d.rev(), after);
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
    Records records(d.panel);
    f->prompter.expectMessage(Kind::Warning, kTitle, confirm, QMessageBox::Cancel);
    d.program->click();
    QCOMPARE(f->prompter.shown().last().defaultButton, QMessageBox::Cancel);
    QCOMPARE(f->prompter.shown().last().guarding, GuardingQuestion::AllFixtures);
    QVERIFY(d.sim->steps().isEmpty());
    QCOMPARE(records.outcomes(), QStringList{"all cancelled"});
    records.list.clear();

    // The third fixture refuses page 65: it alone is not updated.
    d.sim->failStep(0x8100C003, "BootloadWriteIntelHex", 64);
    QStringList checked;
    for (const char *sn : {"8100C001", "8100C002", "8100C004", "8100C005", "8100C006", "8100C007", "8100C008"})
        checked.append(QStringLiteral("SN:%1 - verified: the fixture reports revision 5 (image 5.1.3)").arg(sn));
    f->prompter.expectMessage(Kind::Warning, kTitle, confirm);
    f->prompter.expectMessage(
        Kind::Critical, kTitle,
        QStringLiteral("Programming finished with errors: 7 of 8 fixtures were updated.\n\nNot updated:\n"
                       "SN:8100C003 - Writing page 65/128 was refused. Its flash may be blank or "
                       "incomplete: program it again before use.\n\nUpdated:\n%1\n\nThe fixtures that were not "
                       "updated stay in the list. Check their connection and press PROGRAM to try "
                       "them again.").arg(checked.join('\n')));
    d.programToTheEnd();
    expectNoOtherBox(*f);

    // One record per fixture, in the order programmed; the failed one names
    // the refused step and was never read again.
    QCOMPARE(records.outcomes(), (QStringList{"8100C001 verified", "8100C002 verified", "8100C003 failed",
                                              "8100C004 verified", "8100C005 verified", "8100C006 verified",
                                              "8100C007 verified", "8100C008 verified"}));
    QCOMPARE(records.list.at(2).reason, QStringLiteral("Writing page 65/128 was refused. Its flash may be "
                                                       "blank or incomplete: program it again before use."));
    QVERIFY(records.list.at(2).revisionAfter.isNull());
    QCOMPARE(records.list.at(0).revisionBefore, QStringLiteral("4")); // the one shown before the run
    QCOMPARE(records.list.at(1).revisionBefore, QStringLiteral("4")); // the others read as the run starts
    QCOMPARE(records.list.at(1).revisionAfter, QStringLiteral("5"));

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
                              QStringLiteral("Programming complete!\n\n1 of 1 fixtures were updated.\n\n"
                                             "SN:8100C003 - verified: the fixture reports revision 5 (image 5.1.3)"));
    d.programToTheEnd();
    expectNoOtherBox(*f);
    QCOMPARE(records.list.size(), 9);
    QCOMPARE(records.outcomes().last(), QStringLiteral("8100C003 verified"));
    QCOMPARE(d.fixture(0x8100C003).flash, d.image());
    QVERIFY(!d.fixture(0x8100C003).inBootloader);
    QVERIFY(d.listed().isEmpty());
    QVERIFY(!d.program->isEnabled());
}

void TestDmxWindowFlows::programAll_fixturesAlreadyAtTheImagesRevisionAreNotVerified()
{
    // Three fixtures at revision 5, the image 5.1.3: only the first is shown
    // (and so read) before the run, yet no fixture proves it runs the image.
    auto f = window("Cove Wash", coveImage(0x00050103));
    Dmx d(*f);
    QList<SimulatedHollis::Fixture> three;
    for (quint32 n = 1; n <= 3; ++n) {
        SimulatedHollis::Fixture fixture;
        fixture.serial = 0x8100C000 + n;
        fixture.firmwareVersion = 5;
        fixture.versionOffset = 0xFFE4;
        three.append(fixture);
    }
    d.sim->setFixtures(SimulatedHollis::kNetworkSupply, three);
    d.findSupplies();
    d.findFixtures(0);
    QTRY_VERIFY(d.program->isEnabled());
    d.all->setChecked(true);
    Records records(d.panel);
    f->prompter.expectMessage(Kind::Warning, kTitle, QString());
    f->prompter.expectMessage(Kind::Warning, QStringLiteral("Information"), QString());
    d.programToTheEnd();
    expectNoOtherBox(*f);

    QCOMPARE(records.outcomes(), (QStringList{"8100C001 not verified", "8100C002 not verified",
                                              "8100C003 not verified"}));
    for (const UpdateRecord &r : std::as_const(records.list)) {
        QCOMPARE(r.revisionBefore, QStringLiteral("5"));
        QCOMPARE(r.revisionAfter, QStringLiteral("5"));
        QVERIFY2(r.reason.contains(QLatin1String("as it did before the update")), qPrintable(r.reason));
    }
    QCOMPARE(d.fixture(0x8100C003).flash, d.image());
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

void TestDmxWindowFlows::checkAfterUpdate_onlyTheImagesRevisionVerifies_data()
{
    QTest::addColumn<QString>("product");
    QTest::addColumn<quint32>("version"); // the image's version word
    QTest::addColumn<QString>("serial");
    QTest::addColumn<QString>("simulate");
    QTest::addColumn<QString>("outcome");
    QTest::addColumn<QString>("after");
    QTest::addColumn<QString>("summary");

    QTest::newRow("keeps its old revision: mismatch, a failure")
        << "Cove Wash" << 0x00050103u << "8100C001" << "keep-revision" << "mismatch" << "4"
        << "mismatch: the fixture reports revision 4, the image 5.1.3 is revision 5";
    QTest::newRow("never answers again: not verified after the wait")
        << "Cove Wash" << 0x00050103u << "8100C001" << "no-return" << "not verified" << QString()
        << "not verified: the fixture did not report its firmware version within 300 ms";
    QTest::newRow("the revision it ran before: a match proves nothing")
        << "Cove Wash" << 0x00040105u << "8100C001" << QString() << "not verified" << "4"
        << "not verified: the fixture reports revision 4 as it did before the update, so its "
           "revision number cannot tell image 4.1.5 from the firmware it ran";
    QTest::newRow("major version 0: nothing the fixture reports compares")
        << "Cove Wash" << 0x00000903u << "8100C001" << QString() << "not verified" << "2307"
        << "not verified: the fixture reports revision 2307, but the image's version 0.9.3 has no "
           "major number, which is what a fixture reports";
    QTest::newRow("revision word over USB: verified")
        << "Gannet Batten" << 10u << "8400F101" << QString() << "verified" << "10"
        << "verified: the fixture reports revision 10";
}

void TestDmxWindowFlows::checkAfterUpdate_onlyTheImagesRevisionVerifies()
{
    QFETCH(QString, product);
    QFETCH(quint32, version);
    QFETCH(QString, serial);
    QFETCH(QString, simulate);
    QFETCH(QString, outcome);
    QFETCH(QString, after);
    QFETCH(QString, summary);
    // Cove Wash: magic A55A0101 in 0x10000 bytes; Gannet Batten: the value 4211 in 0x40000.
    const bool gannet = product == QLatin1String("Gannet Batten");
    const QString image = writeFile(m_workDir.filePath("check.hex"),
                                    hexText(gannet ? sampleImage(0x40000, 4211, version)
                                                   : sampleImage(0x10000, 0xA55A0101, version)));
    auto f = window(product, image);
    Dmx d(*f);
    d.sim->setKeepRevision(simulate == QLatin1String("keep-revision"));
    d.sim->setNoReturn(simulate == QLatin1String("no-return"));
    d.panel->setVerifyWait(300);
    d.findSupplies();
    if (gannet) {
        d.supplies->setCurrentIndex(1); // the USB supply lists its fixtures itself
        d.ports->setCurrentIndex(2);
    } else {
        d.findFixtures(1);
    }
    QCOMPARE(d.listed(), QStringList{serial});
    QTRY_VERIFY(d.program->isEnabled());
    Records records(d.panel);

    const bool failure = outcome == QLatin1String("mismatch");
    const QString line = QStringLiteral("SN:%1 - %2").arg(serial, summary);
    f->prompter.expectMessage(Kind::Warning, kTitle, QString());
    if (failure)
        f->prompter.expectMessage(Kind::Critical, kTitle,
                                  QStringLiteral("Programming failed.\n\n%1\n\nCheck the fixture's connection "
                                                 "and press PROGRAM to try again.").arg(line));
    else
        f->prompter.expectMessage(outcome == QLatin1String("verified") ? Kind::Information : Kind::Warning,
                                  QStringLiteral("Information"), "Programming complete!\n\n" + line);
    QElapsedTimer clock;
    clock.start();
    d.programToTheEnd();
    expectNoOtherBox(*f);
    QCOMPARE(d.fixture(serial.toUInt(nullptr, 16)).flash, d.image());
    // Exact bounds are safe here: the check ends by the time it measured
    // itself, from a clock started after this one, not by a timer firing.
    if (simulate == QLatin1String("no-return"))
        QVERIFY2(clock.elapsed() >= 300, qPrintable(QString::number(clock.elapsed())));

    QCOMPARE(records.list.size(), 1);
    const UpdateRecord &r = records.list.first();
    QCOMPARE(UpdateRecord::outcomeName(r.outcome), outcome);
    QCOMPARE(r.revisionAfter, after);
    if (outcome == QLatin1String("verified"))
        QVERIFY(r.reason.isNull());
    else
        QCOMPARE(r.reason, summary.section(QStringLiteral(": "), 1));
    QVERIFY(r.durationMs >= (simulate == QLatin1String("no-return") ? 300 : 0));
    // A mismatched fixture stays offered for another attempt; the others are done.
    QCOMPARE(d.listed(), failure ? QStringList{serial} : QStringList());
    QCOMPARE(d.program->isEnabled(), failure);
    QCOMPARE(linesWith(*f, line).size(), 1);
}

void TestDmxWindowFlows::findDevice_selectsWhatAnOperatorWouldOrSaysWhyNot_data()
{
    QTest::addColumn<QString>("product");
    QTest::addColumn<QString>("address");
    QTest::addColumn<bool>("suppliesAnswer");
    QTest::addColumn<bool>("found");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("supply"); // chosen afterwards
    QTest::addColumn<QString>("port");
    QTest::addColumn<QString>("typed");  // left in the manual field
    QTest::addColumn<QString>("outcome"); // of PROGRAM on what was found

    QTest::newRow("listed on the network supply")
        << "Cove Wash" << "8100c001" << true << true << "Fixture 8100C001 found on port 2 of Vask Net-4 (127.0.0.20)."
        << "Vask Net-4 (127.0.0.20)" << "2" << "________" << "8100C001 verified";
    QTest::newRow("listed on the USB supply, after the network one")
        << "Cove Wash" << "8180E001" << true << true << "Fixture 8180E001 found on port 1 of Vask USB-4."
        << "Vask USB-4" << "1" << "________" << "8180E001 not verified"; // it ran major 5 already
    QTest::newRow("every fixture of the first port that has some")
        << "Cove Wash" << "all" << true << true << "1 fixtures found on port 2 of Vask Net-4 (127.0.0.20); all of them are chosen."
        << "Vask Net-4 (127.0.0.20)" << "2" << "________" << "8100C001 verified";
    QTest::newRow("answers, but as another type: typed in")
        << "Cove Wash" << "8280ABCD" << true << false << "Fixture 8280ABCD answers on port 2 of Vask Net-4 (127.0.0.20), but it is not a Cove Wash."
        << QString() << QString() << "8280ABCD" << QString();
    QTest::newRow("on no supply: typed in")
        << "Cove Wash" << "8100FFFF" << true << false << "Fixture 8100FFFF was not found on any supply."
        << QString() << QString() << "8100FFFF" << QString();
    QTest::newRow("no supply at all")
        << "Cove Wash" << "8100C001" << false << false << "No power supply answered discovery, so fixture 8100C001 cannot be reached."
        << QString() << QString() << "8100C001" << QString();
    QTest::newRow("not a serial number")
        << "Cove Wash" << "8100C0" << true << false << "\"8100C0\" is not a fixture serial number: give its eight hexadecimal digits, or \"all\"."
        << QString() << QString() << "________" << QString();
    QTest::newRow("all, but the fixture shown is too old to update")
        << "Kestrel Vireo" << "all" << true << false
        << "Fixture 7200B002 was found on port 1 of Vask Net-4 (127.0.0.20), but its firmware revision cannot be updated here (Rev. 2)."
        << QString() << QString() << "________" << QString();
}

void TestDmxWindowFlows::findDevice_selectsWhatAnOperatorWouldOrSaysWhyNot()
{
    QFETCH(QString, product);
    QFETCH(QString, address);
    QFETCH(bool, suppliesAnswer);
    QFETCH(bool, found);
    QFETCH(QString, message);
    QFETCH(QString, supply);
    QFETCH(QString, port);
    QFETCH(QString, typed);
    QFETCH(QString, outcome);
    const QString image = product == QLatin1String("Kestrel Vireo")
        ? writeFile(m_workDir.filePath("kestrel.hex"), hexText(sampleImage(0x20000, 0xA55A7202, 0x00030105)))
        : coveImage();
    auto f = window(product, image);
    Dmx d(*f);
    d.sim->setSupplyAnswering(SimulatedHollis::kNetworkSupply, suppliesAnswer);
    d.sim->setSupplyAnswering(SimulatedHollis::kUsbSupply, suppliesAnswer);
    QSignalSpy done(d.panel, &zeldmxInterfaceControl::signal_deviceSearchDone);

    d.panel->findDevice(address);
    QCOMPARE(done.size(), 0); // never answered from within the call
    QTRY_COMPARE_WITH_TIMEOUT(done.size(), 1, 20000);
    QCOMPARE(done.first().at(1).toString(), message);
    QCOMPARE(done.first().at(0).toBool(), found);
    QCOMPARE(d.serial->displayText(), typed);
    QCOMPARE(d.program->isEnabled(), found || typed != QLatin1String("________"));
    if (found) {
        QCOMPARE(d.supplies->currentText(), supply);
        QCOMPARE(d.ports->currentText(), port);
        QCOMPARE(d.all->isChecked(), address == QLatin1String("all"));
        if (address != QLatin1String("all"))
            QCOMPARE(d.fixtures->currentText(), address.toUpper());
    }
    QTest::qWait(100);
    QCOMPARE(done.size(), 1);
    expectNoOtherBox(*f);

    // What was found is what PROGRAM updates.
    if (found) {
        Records records(d.panel);
        f->prompter.expectMessage(Kind::Warning, kTitle, QString());
        f->prompter.expectMessage(outcome.endsWith(QLatin1String("not verified")) ? Kind::Warning : Kind::Information,
                                  QStringLiteral("Information"), QString());
        d.programToTheEnd();
        expectNoOtherBox(*f);
        QCOMPARE(records.outcomes(), QStringList{outcome});
    }
}

void TestDmxWindowFlows::closingDuringProgramAll_recordsEachFixtureAndSendsNothingMore_data()
{
    QTest::addColumn<QString>("stopAt");  // the panel shuts down as this line is logged
    QTest::addColumn<QString>("second");  // what the second fixture is recorded as
    QTest::addColumn<QString>("reason");
    QTest::addColumn<int>("sentToSecond"); // boot-load calls addressed to it

    QTest::newRow("before anything reached the second fixture")
        << "Programming Cove Wash SN:8100C002 processor:1..." << "cancelled"
        << "Stopped before anything was sent to the fixture: the updater is closing." << 0;
    QTest::newRow("while the second fixture's flash is written")
        << "SN 8100c002 - Sent record 10/128." << "failed"
        << "Stopped after writing page 10/128: the updater is closing. Its flash may be blank or "
           "incomplete: program it again before use."
        << 2 + 10;
    // The window closes while the second fixture, written, has not reported
    // its version yet.
    QTest::newRow("while the second fixture is checked")
        << QString() << "not verified"
        << "the updater closed before the fixture reported its firmware version" << 2 + 128 + 1;
}

void TestDmxWindowFlows::closingDuringProgramAll_recordsEachFixtureAndSendsNothingMore()
{
    QFETCH(QString, stopAt);
    QFETCH(QString, second);
    QFETCH(QString, reason);
    QFETCH(int, sentToSecond);
    // The window's session log and update record land in a folder of their own.
    QTemporaryDir cwd;
    const QString previousDir = QDir::currentPath();
    QDir::setCurrent(cwd.path());
    const auto restoreDir = qScopeGuard([&previousDir] { QDir::setCurrent(previousDir); });

    auto f = window("Cove Wash", coveImage());
    Dmx d(*f);
    QList<SimulatedHollis::Fixture> three;
    for (quint32 n = 1; n <= 3; ++n) {
        SimulatedHollis::Fixture fixture;
        fixture.serial = 0x8100C000 + n;
        fixture.firmwareVersion = 4;
        fixture.versionOffset = 0xFFE4;
        three.append(fixture);
    }
    d.sim->setFixtures(SimulatedHollis::kNetworkSupply, three);
    d.panel->setVerifyWait(60000);
    d.findSupplies();
    d.findFixtures(0);
    QTRY_VERIFY(d.program->isEnabled());
    d.all->setChecked(true);
    Records records(d.panel);
    connect(d.panel, &zeldmxInterfaceControl::signal_log, this,
            [&](LOGPRIORITY, LOGTYPE, const QString &, const QString &text) {
                if (!stopAt.isEmpty() && text == stopAt)
                    d.panel->shutdown();
                // The second fixture never answers once it restarts.
                if (stopAt.isEmpty() && text == QLatin1String("SN 8100c002 - Finalize and reset."))
                    d.sim->setNoReturn(true);
            });
    const auto sentTo = [&d](quint32 serial) {
        int n = 0;
        for (const SimulatedHollis::Step &step : d.sim->steps())
            n += step.serial == serial ? 1 : 0;
        return n;
    };

    f->prompter.expectMessage(Kind::Warning, kTitle, QString());
    d.program->click();
    if (stopAt.isEmpty()) {
        QTRY_COMPARE_WITH_TIMEOUT(sentTo(0x8100C002), sentToSecond, 20000);
        QVERIFY(d.panel->runInProgress());
        f->destroyWindow();
    } else {
        QTRY_VERIFY_WITH_TIMEOUT(!d.panel->runInProgress(), 20000);
    }

    // Every fixture of the run has its record, the first one's check included;
    // nothing more was sent, and no box claims an end of the run.
    const QStringList expected{"8100C001 verified", "8100C002 " + second, "8100C003 cancelled"};
    QCOMPARE(records.outcomes(), expected);
    QCOMPARE(records.list.at(1).reason, reason);
    QVERIFY(records.list.at(1).revisionAfter.isNull());
    QCOMPARE(records.list.at(2).reason, QStringLiteral("The updater closed before this fixture was programmed."));
    QCOMPARE(sentTo(0x8100C002), sentToSecond);
    QCOMPARE(sentTo(0x8100C003), 0);
    QVERIFY(f->prompter.progresses().last()->closed);
    expectNoOtherBox(*f);
    if (f->window) {
        QVERIFY(!d.panel->runInProgress());
        f->destroyWindow();
    }
    QCOMPARE(records.list.size(), 3);

    // The update record and the session log keep them.
    QFile updates(cwd.filePath(QStringLiteral("updates.jsonl")));
    QVERIFY(updates.open(QIODevice::ReadOnly));
    QStringList kept;
    for (const QByteArray &line : updates.readAll().split('\n')) {
        if (line.isEmpty())
            continue;
        const QJsonObject r = QJsonDocument::fromJson(line).object();
        kept.append(r.value("address").toString() + ' ' + r.value("outcome").toString());
    }
    QCOMPARE(kept, expected);
    const QStringList logs = QDir(cwd.path()).entryList({QStringLiteral("ZELBL_*.log")});
    QCOMPARE(logs.size(), 1);
    QFile log(cwd.filePath(logs.first()));
    QVERIFY(log.open(QIODevice::ReadOnly));
    const QByteArray text = log.readAll();
    QVERIFY(text.contains("Programming stopped: the updater is closing; 1 of 3 fixtures were not started."));
    QVERIFY(text.contains("Cove Wash 8100C002: " + second.toLatin1()));
}

QTEST_MAIN(TestDmxWindowFlows)
#include "test_DmxWindowFlows.moc"
