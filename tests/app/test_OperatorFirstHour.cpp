// A newcomer's first hour at the window on -simulate: every sample image
// through its whole run, the way back with Start Over from each state, the
// Help menu when no browser starts, the mismatch box that says what a file
// is for, and a status bar whose message fits. Screenshots of the window go
// to the build folder (screenshots/ beside the test).
#include "tests/app/WindowFixture.h"

#include "app/RunEvents.h"
#include "base/InterfacePanel.h"
#include "base/Logger.h"
#include "catalogue/BootLoadProduct.h"
#include "dmx/Hollis.h"
#include "dmx/SimulatedHollis.h"
#include "tests/ethernet/ControllerImage.h"
#include "usb/SimulatedHidDevices.h"
#include "usb/SimulatedSr3Usb.h"
#include "usb/SimulatedVireoPlayer.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QLibraryInfo>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QHostAddress>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QStackedWidget>
#include <QStatusBar>
#include <QStatusTipEvent>
#include <QTemporaryDir>
#include <QTest>

using Kind = Prompter::Kind;

namespace {

QString sample(const QString &name)
{
    return qEnvironmentVariable("ZEL_SOURCE_DIR") + QStringLiteral("/resources/samples/") + name;
}

// A sample without its signature, which would refuse it for any other
// product before the image is looked at.
QString unsignedCopy(const QDir &folder, const QString &name)
{
    const QString copy = folder.filePath(name);
    QFile::remove(copy);
    if (!QFile::copy(sample(name), copy))
        qFatal("cannot copy %s", qPrintable(name));
    return copy;
}

// A box of a run in the order shown: its kind, title and the answer given.
struct Box {
    Kind kind;
    QString title;
    QMessageBox::StandardButton answer;
};
using Boxes = QList<Box>;

// The controls the state table sets: F file select, P PROGRAM, S panel stack,
// L the interface and device lists, O Start Over.
struct Controls {
    bool f, p, s, l, o;
    bool operator==(const Controls &other) const = default;
};

char *toString(const Controls &c)
{
    return qstrdup(qPrintable(QStringLiteral("F=%1 P=%2 S=%3 L=%4 O=%5").arg(c.f).arg(c.p).arg(c.s).arg(c.l).arg(c.o)));
}

const Controls kAfterStartUp{true, false, false, true, true};

} // namespace

Q_DECLARE_METATYPE(Boxes)

// Leaves the window as program() returning during a panel's ongoing run does.
class WindowProbe
{
public:
    static void enterOngoingRun(ZelBootLoader &window)
    {
        window.m_state = ZelBootLoader::RunState::Programming;
        window.applyControls();
    }
};

class TestOperatorFirstHour : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_workDir;
    QString m_previousDir;
    QDir m_screenshots;

    static WindowFixture::Options simulated()
    {
        WindowFixture::Options o;
        o.cataloguePath = sampleCataloguePath();
        return o;
    }
    static std::unique_ptr<WindowFixture> window(const WindowFixture::Options &options = simulated())
    {
        auto f = std::make_unique<WindowFixture>(options);
        // The simulated controllers answer at once: no need to wait seconds for more.
        f->devices->ethernet().discoveryWindowMs = 200;
        f->devices->ethernet().pollIntervalMs = 20;
        return f;
    }
    static void choose(WindowFixture &f, int interfaceNumber, const QString &product)
    {
        auto *interfaces = f.find<QComboBox>(QStringLiteral("m_comboBox_interfaceSelect"));
        // As the operator's choice: the panel stack follows it.
        interfaces->setCurrentIndex(interfaces->findData(interfaceNumber));
        emit interfaces->activated(interfaces->currentIndex());
        auto *devices = f.find<QComboBox>(QStringLiteral("m_comboBox_deviceSelect"));
        devices->setCurrentIndex(devices->findText(product));
        QCOMPARE(devices->currentText(), product);
    }
    static void selectImage(WindowFixture &f, const QString &file)
    {
        f.prompter.expectFileDialog(file);
        f.find<QPushButton>(QStringLiteral("m_pushButton_firmwareImageFileSelect"))->click();
    }
    static Controls controls(const WindowFixture &f)
    {
        return {f.find<QPushButton>(QStringLiteral("m_pushButton_firmwareImageFileSelect"))->isEnabled(),
                f.find<QPushButton>(QStringLiteral("m_pushButton_program"))->isEnabled(),
                f.find<QStackedWidget>(QStringLiteral("m_stackedWidget_interfaceControls"))->isEnabled(),
                f.find<QComboBox>(QStringLiteral("m_comboBox_interfaceSelect"))->isEnabled()
                    && f.find<QComboBox>(QStringLiteral("m_comboBox_deviceSelect"))->isEnabled(),
                f.find<QPushButton>(QStringLiteral("m_pushButton_startOver"))->isEnabled()};
    }
    static QString text(const WindowFixture &f, const char *label)
    {
        return f.find<QLabel>(QLatin1String(label))->text();
    }
    // The panel's search through the contract, as a run without an operator
    // does it: what the operator does in each panel differs.
    static std::pair<bool, QString> findDevice(WindowFixture &f, int interfaceNumber, const QString &address)
    {
        QSignalSpy done(f.window->panel(interfaceNumber), &InterfacePanel::signal_deviceSearchDone);
        f.window->panel(interfaceNumber)->findDevice(address);
        if (!done.wait(60000))
            return {false, QStringLiteral("no answer")};
        return {done.first().at(0).toBool(), done.first().at(1).toString()};
    }
    // The room the status bar gives its message: from its left margin to the
    // SIMULATED DEVICES label.
    static int statusRoom(const WindowFixture &f)
    {
        return f.find<QLabel>(QStringLiteral("m_label_simulated"))->x() - 2 - 6;
    }
    void screenshot(WindowFixture &f, const QString &name)
    {
        const QString path = m_screenshots.filePath(QString(name).replace(QRegularExpression("[^A-Za-z0-9]+"), "-") + ".png");
        QVERIFY2(f.window->grab().save(path), qPrintable(path));
        // Whatever the state, the message fits the room left of the permanent label.
        const QStatusBar *bar = f.window->statusBar();
        QVERIFY2(bar->fontMetrics().horizontalAdvance(bar->currentMessage()) <= statusRoom(f),
                 qPrintable(bar->currentMessage()));
    }

private slots:
    void initTestCase();
    void cleanupTestCase();

    void firstWindowOfTheProcessShowsItsIcon();
    void eachSampleRunsToTheEndOnItsSimulatedDevice_data();
    void eachSampleRunsToTheEndOnItsSimulatedDevice();
    void startOverReturnsToTheStateAfterStartUp_data();
    void startOverReturnsToTheStateAfterStartUp();
    void startOverForgetsTheFixturesFoundButKeepsThePort_data();
    void startOverForgetsTheFixturesFoundButKeepsThePort();
    void startOverLetsGoOfTheUsbPlayer_data();
    void startOverLetsGoOfTheUsbPlayer();
    void helpMenuSaysWhereThePageIsWhenNoBrowserStarts_data();
    void helpMenuSaysWhereThePageIsWhenNoBrowserStarts();
    void mismatchSaysWhichProductTheImageIsFor_data();
    void mismatchSaysWhichProductTheImageIsFor();
    void statusMessageFitsItsRoomAndEndsWithItsState();
    void controllerWaitsSayWhatTheyWaitForAndEnd();
};

void TestOperatorFirstHour::initTestCase()
{
    QVERIFY(m_workDir.isValid());
    m_previousDir = QDir::currentPath();
    QDir::setCurrent(m_workDir.path()); // the window writes its log and record here
    m_screenshots.setPath(QCoreApplication::applicationDirPath() + QStringLiteral("/screenshots"));
    QVERIFY(m_screenshots.mkpath(QStringLiteral(".")));
}

void TestOperatorFirstHour::cleanupTestCase()
{
    QDir::setCurrent(m_previousDir);
}

// Nothing else has touched the resources yet: a window on real devices
// must still find its icon.
void TestOperatorFirstHour::firstWindowOfTheProcessShowsItsIcon()
{
    WindowFixture::Options o = simulated();
    o.simulate = false;
    WindowFixture f(o);
    QVERIFY(QFile::exists(QStringLiteral(":/Zel Logos/images/zel_logo_48x48.PNG")));
    QVERIFY(!f.window->windowIcon().isNull());
}

void TestOperatorFirstHour::eachSampleRunsToTheEndOnItsSimulatedDevice_data()
{
    QTest::addColumn<int>("interfaceNumber");
    QTest::addColumn<QString>("product");
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("versionLine");
    QTest::addColumn<Boxes>("searchBoxes");
    QTest::addColumn<Boxes>("boxes");
    QTest::addColumn<QString>("revisionAfter"); // empty: the device may not be programmed

    const Box done{Kind::Information, QStringLiteral("Information"), QMessageBox::Ok};
    const Box confirm{Kind::Warning, QStringLiteral("Zel Firmware Updater"), QMessageBox::Ok};
    QTest::newRow("Sorrel 3") << 0 << "Sorrel 3" << "Sorrel3-1.0.90.hex" << "SR3-001207"
                              << "Image version 01.00.90" << Boxes{} << Boxes{done} << "01.00.90";
    // Connecting asks whether to overwrite the version the player runs.
    QTest::newRow("Vireo Player")
        << 0 << "Vireo Player" << "VireoPlayer-1.2.1.bin" << "" << "Image version 1.2.1"
        << Boxes{{Kind::Question, QStringLiteral("Vireo Player Bootloader"), QMessageBox::Yes}} << Boxes{done}
        << "1.2.1";
    // One controller of each type, each on its own route for the revision.
    QTest::newRow("Brisa Quad") << 2 << "Brisa Quad" << "BrisaQuad-1.0.13.hex" << "127.0.0.2"
                                << "Image version 1.0.13 (Rev. 13)" << Boxes{} << Boxes{} << "13";
    QTest::newRow("Ostrel Hub") << 2 << "Ostrel Hub" << "OstrelHub-2.1.34.hex" << "127.0.0.3"
                                << "Image version 2.1.34 (Rev. 34)" << Boxes{} << Boxes{} << "34";
    QTest::newRow("Marlow White") << 2 << "Marlow White" << "MarlowWhite-1.7.8.hex" << "127.0.0.5"
                                  << "Image version 1.7.8 (Rev. 8)" << Boxes{} << Boxes{} << "8";
    QTest::newRow("Marlow Mk3") << 2 << "Marlow Mk3" << "MarlowMk3-3.3.4.hex" << "127.0.0.6"
                                << "Image version 3.3.4 (Rev. 4)" << Boxes{} << Boxes{} << "4";
    QTest::newRow("Corvid Node") << 2 << "Corvid Node" << "CorvidNode-4.0.41.hex" << "127.0.0.7"
                                 << "Image version 4.0.41 (Rev. 41)" << Boxes{} << Boxes{} << "41";
    QTest::newRow("Gannet Batten (revision word)")
        << 1 << "Gannet Batten" << "GannetBatten-10.hex" << "8400F101" << "Image version 10" << Boxes{}
        << Boxes{confirm, done} << "10";
    QTest::newRow("Halyard Wash (service switch)")
        << 1 << "Halyard Wash" << "HalyardWash-7.1.3.hex" << "8200D001" << "Image version 7.1.3 (Rev. 7)"
        << Boxes{} << Boxes{confirm, {Kind::Information, QStringLiteral("Information"), QMessageBox::Ok}, done}
        << "7";
    // The simulated supply's only Kestrel Vireo runs version 2, which its
    // family refuses to update: the sample shows that refusal.
    QTest::newRow("Kestrel Vireo (refused at version 2)")
        << 1 << "Kestrel Vireo" << "KestrelVireo-4.1.3.hex" << "7200B002" << "Image version 4.1.3 (Rev. 4)"
        << Boxes{} << Boxes{} << "";
}

void TestOperatorFirstHour::eachSampleRunsToTheEndOnItsSimulatedDevice()
{
    QFETCH(int, interfaceNumber);
    QFETCH(QString, product);
    QFETCH(QString, file);
    QFETCH(QString, address);
    QFETCH(QString, versionLine);
    QFETCH(Boxes, searchBoxes);
    QFETCH(Boxes, boxes);
    QFETCH(QString, revisionAfter);

    auto f = window();
    f->window->resize(695, 665);
    f->window->show();
    choose(*f, interfaceNumber, product);
    selectImage(*f, sample(file));
    QCOMPARE(f->window->runState(), ZelBootLoader::RunState::Ready);
    QCOMPARE(text(*f, "m_label_firmwareImageFile"), sample(file));
    // The summary as it always was, the version under it as the devices say theirs.
    QVERIFY(text(*f, "m_label_fileFirmwareVersion").startsWith(QStringLiteral("1) Intel HEX: ")));
    QCOMPARE(text(*f, "m_label_imageVersion"), versionLine);
    QVERIFY2(text(*f, "m_label_signature").startsWith(QStringLiteral("Signed by ")),
             qPrintable(text(*f, "m_label_signature")));
    screenshot(*f, QStringLiteral("%1 image accepted").arg(product));

    for (const Box &box : searchBoxes)
        f->prompter.expectMessage(box.kind, box.title, QString(), box.answer);
    const auto [found, message] = findDevice(*f, interfaceNumber, address);
    QCOMPARE(f->prompter.pendingExpectations(), 0);
    if (revisionAfter.isEmpty()) {
        QVERIFY2(!found && message.contains(QStringLiteral("cannot be updated here")), qPrintable(message));
        QVERIFY(!f->window->programOffered());
        return;
    }
    QVERIFY2(found, qPrintable(message));
    QVERIFY(f->window->programOffered());

    QSignalSpy recorded(f->window->runEvents(), &RunEvents::runRecorded);
    QSignalSpy ended(f->window->runEvents(), &RunEvents::runEnded);
    for (const Box &box : boxes)
        f->prompter.expectMessage(box.kind, box.title, QString(), box.answer);
    f->find<QPushButton>(QStringLiteral("m_pushButton_program"))->click();
    QTRY_VERIFY_WITH_TIMEOUT(recorded.size() == 1 && ended.size() >= 1 && f->prompter.pendingExpectations() == 0,
                             120000);
    QVERIFY(!f->prompter.unexpectedSeen());
    if (!boxes.isEmpty())
        QVERIFY2(f->prompter.shown().last().text.contains(QStringLiteral("verified: ")),
                 qPrintable(f->prompter.shown().last().text));

    const UpdateRecord record = recorded.first().first().value<UpdateRecord>();
    QCOMPARE(UpdateRecord::outcomeName(record.outcome), QStringLiteral("verified"));
    QCOMPARE(record.deviceType, product);
    QCOMPARE(record.revisionAfter, revisionAfter);
    QCOMPARE(record.signature, QStringLiteral("valid"));
    if (!address.isEmpty())
        QCOMPARE(record.address.toUpper(), address.toUpper());
    // The record's version is the one the line names first.
    QVERIFY2(versionLine.startsWith(QStringLiteral("Image version ") + record.imageVersion),
             qPrintable(record.imageVersion));
    screenshot(*f, QStringLiteral("%1 verified").arg(product));
}

void TestOperatorFirstHour::startOverReturnsToTheStateAfterStartUp_data()
{
    QTest::addColumn<QString>("state");
    QTest::addColumn<bool>("offered");
    QTest::newRow("after start-up") << "start-up" << true;
    QTest::newRow("after a refused image") << "refused" << true;
    QTest::newRow("image accepted, controllers listed") << "ready" << true;
    QTest::newRow("while controllers are discovered") << "discovering" << true;
    QTest::newRow("after a verified run, from the File menu") << "after run" << true;
    QTest::newRow("while an image is read") << "loading" << false;
    QTest::newRow("while a run goes on") << "programming" << false;
}

void TestOperatorFirstHour::startOverReturnsToTheStateAfterStartUp()
{
    QFETCH(QString, state);
    QFETCH(bool, offered);
    auto f = window();
    f->window->show();
    auto *button = f->find<QPushButton>(QStringLiteral("m_pushButton_startOver"));
    auto *action = f->window->findChild<QAction *>(QStringLiteral("actionStartOver"));
    QCOMPARE(controls(*f), kAfterStartUp);
    choose(*f, 2, QStringLiteral("Ostrel Hub"));
    BootLoadProduct *ostrel = f->window->currentProduct();

    bool triedWhileLoading = false;
    if (state == QLatin1String("refused")) {
        f->prompter.expectFileDialog(unsignedCopy(QDir(m_workDir.path()), QStringLiteral("CoveWash-5.1.3.hex")));
        f->prompter.expectMessage(Kind::Critical, QStringLiteral("File mismatch!"), QString());
        f->prompter.expectFileDialog(QString());
        f->find<QPushButton>(QStringLiteral("m_pushButton_firmwareImageFileSelect"))->click();
    } else if (state != QLatin1String("start-up")) {
        if (state == QLatin1String("loading")) {
            // The operator reaches for Start Over while the file is read.
            connect(Logger::instance(nullptr), &Logger::latestLogString, f->window.get(), [&](const QString &line) {
                if (!line.contains(QStringLiteral("Scanning into memory firmware")))
                    return;
                triedWhileLoading = true;
                QVERIFY(!button->isEnabled() && !action->isEnabled());
                f->window->startOver();
                QCOMPARE(f->window->runState(), ZelBootLoader::RunState::Loading);
            });
        }
        selectImage(*f, sample(QStringLiteral("OstrelHub-2.1.34.hex")));
        QVERIFY(ostrel->imageReady());
    }
    if (state == QLatin1String("loading")) {
        // Tried while the file was read, it changed nothing.
        QVERIFY(triedWhileLoading);
        QCOMPARE(f->window->runState(), ZelBootLoader::RunState::Ready);
        QVERIFY(f->logLines().filter(QStringLiteral("Started over")).isEmpty());
        return;
    }
    if (state == QLatin1String("after run")) {
        QVERIFY(findDevice(*f, 2, QStringLiteral("127.0.0.3")).first);
        QSignalSpy recorded(f->window->runEvents(), &RunEvents::runRecorded);
        f->find<QPushButton>(QStringLiteral("m_pushButton_program"))->click();
        QTRY_VERIFY_WITH_TIMEOUT(recorded.size() == 1 && f->window->runState() == ZelBootLoader::RunState::Ready,
                                 60000);
        QVERIFY(!f->window->statusText().isEmpty());
    }
    if (state == QLatin1String("programming"))
        WindowProbe::enterOngoingRun(*f->window);
    auto *listed = f->find<QComboBox>(QStringLiteral("m_comboBox_TFTPDevicesDiscovered"));
    auto *revision = f->find<QLabel>(QStringLiteral("m_label_FWVersion"));
    auto *busy = f->find<QProgressBar>(QStringLiteral("m_progress_busy"));
    if (state == QLatin1String("ready") || state == QLatin1String("discovering")) {
        f->find<QPushButton>(QStringLiteral("m_pushButton_TFTPDiscover"))->click();
        if (state == QLatin1String("ready")) {
            QTRY_VERIFY_WITH_TIMEOUT(listed->count() == 2 && !revision->text().isEmpty() && !busy->isVisible(), 30000);
            f->find<QCheckBox>(QStringLiteral("m_checkBox_tftpProgramAll"))->setChecked(true);
        } else {
            QVERIFY(busy->isVisible());
        }
    }

    QCOMPARE(button->isEnabled(), offered);
    QCOMPARE(action->isEnabled(), offered);
    const ZelBootLoader::RunState before = f->window->runState();
    const int logged = f->logLines().size();
    if (state == QLatin1String("after run"))
        action->trigger();
    else
        button->click(); // a disabled button takes no click
    if (!offered) {
        QCOMPARE(f->window->runState(), before);
        QVERIFY(ostrel->imageReady());
        QVERIFY(f->logLines().mid(logged).filter(QStringLiteral("Started over")).isEmpty());
        return;
    }

    // Back where start-up left the window, with the choices the operator made.
    QCOMPARE(f->window->runState(), ZelBootLoader::RunState::Idle);
    QCOMPARE(controls(*f), kAfterStartUp);
    QVERIFY(!ostrel->imageReady());
    QVERIFY(ostrel->imageData().isEmpty());
    for (const char *label : {"m_label_firmwareImageFile", "m_label_fileFirmwareVersion", "m_label_imageVersion",
                              "m_label_signature"})
        QVERIFY2(text(*f, label).isEmpty(), label);
    QVERIFY(f->window->statusText().isEmpty());
    QVERIFY(f->window->statusBar()->currentMessage().isEmpty());
    QVERIFY(!busy->isVisible());
    QCOMPARE(f->find<QComboBox>(QStringLiteral("m_comboBox_deviceSelect"))->currentText(), QStringLiteral("Ostrel Hub"));
    // The controller panel as start-up left it: nothing listed, chosen or read.
    QCOMPARE(listed->count(), 0);
    QVERIFY(revision->text().isEmpty());
    QVERIFY(f->find<QLineEdit>(QStringLiteral("m_lineEdit_tftpManualIPEntry"))->text().remove('.').isEmpty());
    auto *all = f->find<QCheckBox>(QStringLiteral("m_checkBox_tftpProgramAll"));
    QVERIFY(!all->isChecked() && !all->isEnabled());
    // Usable once the window hands the panel over again.
    QVERIFY(f->find<QPushButton>(QStringLiteral("m_pushButton_TFTPDiscover"))->isEnabledTo(f->window->panel(2)));
    const QStringList said = f->logLines().mid(logged).filter(QStringLiteral("INFO - ZelBootLoader - Started over: "));
    QCOMPARE(said.size(), 1);
    QCOMPARE(said.first().contains(QStringLiteral("OstrelHub-2.1.34.hex")),
             state == QLatin1String("ready") || state == QLatin1String("discovering")
                 || state == QLatin1String("after run"));

    // The way back leads on: another interface, product and image.
    choose(*f, 0, QStringLiteral("Sorrel 3"));
    selectImage(*f, sample(QStringLiteral("Sorrel3-1.0.90.hex")));
    QCOMPARE(f->window->runState(), ZelBootLoader::RunState::Ready);
    QCOMPARE(text(*f, "m_label_imageVersion"), QStringLiteral("Image version 01.00.90"));
    screenshot(*f, QStringLiteral("start over from %1, then Sorrel 3").arg(state));
}

void TestOperatorFirstHour::startOverForgetsTheFixturesFoundButKeepsThePort_data()
{
    QTest::addColumn<bool>("discovering");
    QTest::newRow("fixtures listed, a revision read") << false;
    QTest::newRow("while fixtures are discovered") << true;
}

void TestOperatorFirstHour::startOverForgetsTheFixturesFoundButKeepsThePort()
{
    QFETCH(bool, discovering);
    auto f = window();
    f->window->show();
    choose(*f, 1, QStringLiteral("Cove Wash"));
    selectImage(*f, sample(QStringLiteral("CoveWash-5.1.3.hex")));
    QVERIFY(findDevice(*f, 1, QStringLiteral("8100C001")).first);
    auto *fixtures = f->find<QComboBox>(QStringLiteral("m_comboBox_ZELDMXFixtureSNs"));
    auto *ports = f->find<QComboBox>(QStringLiteral("m_comboBox_port"));
    auto *serial = f->find<QLineEdit>(QStringLiteral("m_lineEdit_ZELDMXManualFixtureSN"));
    const auto *busy = f->find<QProgressBar>(QStringLiteral("m_progress_busy"));
    QCOMPARE(fixtures->count(), 1);
    QVERIFY(!text(*f, "m_label_fixtureRev").isEmpty());
    if (discovering) {
        f->find<QPushButton>(QStringLiteral("m_pushButton_ZELDMXDiscoverFixture"))->click();
        QVERIFY(busy->isVisible());
        QVERIFY2(f->window->statusText().startsWith(QStringLiteral("Discovering fixtures on port 2…")),
                 qPrintable(f->window->statusText()));
    }

    f->find<QPushButton>(QStringLiteral("m_pushButton_startOver"))->click();
    QCOMPARE(fixtures->count(), 0);
    QVERIFY(text(*f, "m_label_fixtureRev").isEmpty());
    QVERIFY(busy->isHidden());
    QVERIFY(f->window->statusText().isEmpty());
    QCOMPARE(ports->currentText(), QStringLiteral("2"));
    // Offered again once an image is accepted and the window enables the panel.
    for (const char *control : {"m_pushButton_ZELDMXDiscoverEnabler", "m_pushButton_ZELDMXDiscoverFixture"})
        QVERIFY2(f->find<QPushButton>(QLatin1String(control))->isEnabledTo(f->window->panel(1)), control);
    QVERIFY(serial->isEnabledTo(f->window->panel(1)));
    screenshot(*f, QStringLiteral("start over from the fixture list"));
    if (discovering)
        return; // the discovery's late answers may list the fixtures again

    // The revision read before is forgotten: the fixture, updated meanwhile
    // by other means, is read again as the run starts.
    auto *sim = static_cast<ZelHollis::SimulatedHollis *>(&f->devices->hollis().backend());
    QList<ZelHollis::SimulatedHollis::Fixture> supplied = sim->fixtures(ZelHollis::SimulatedHollis::kNetworkSupply);
    for (ZelHollis::SimulatedHollis::Fixture &fixture : supplied)
        fixture.firmwareVersion = fixture.serial == 0x8100C001 ? 5 : fixture.firmwareVersion;
    sim->setFixtures(ZelHollis::SimulatedHollis::kNetworkSupply, supplied);
    selectImage(*f, sample(QStringLiteral("CoveWash-5.1.3.hex")));
    QTest::keyClicks(serial, QStringLiteral("8100C001"));
    QSignalSpy recorded(f->window->runEvents(), &RunEvents::runRecorded);
    f->prompter.expectMessage(Kind::Warning, QStringLiteral("Zel Firmware Updater"), QString());
    f->prompter.expectMessage(Kind::Warning, QStringLiteral("Information"), QString());
    f->find<QPushButton>(QStringLiteral("m_pushButton_program"))->click();
    QTRY_VERIFY_WITH_TIMEOUT(recorded.size() == 1 && f->prompter.pendingExpectations() == 0, 60000);
    const UpdateRecord record = recorded.first().first().value<UpdateRecord>();
    QCOMPARE(record.revisionBefore, QStringLiteral("5"));
    QCOMPARE(UpdateRecord::outcomeName(record.outcome), QStringLiteral("not verified"));
}

void TestOperatorFirstHour::startOverLetsGoOfTheUsbPlayer_data()
{
    QTest::addColumn<QString>("product");
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("state");
    QTest::addColumn<Boxes>("connectBoxes");
    const Boxes overwrite{{Kind::Question, QStringLiteral("Vireo Player Bootloader"), QMessageBox::Yes}};
    QTest::newRow("Sorrel 3 connected") << "Sorrel 3" << "Sorrel3-1.0.90.hex" << "connected" << Boxes{};
    QTest::newRow("Sorrel 3 verified") << "Sorrel 3" << "Sorrel3-1.0.90.hex" << "after run" << Boxes{};
    QTest::newRow("Sorrel 3 not found")
        << "Sorrel 3" << "Sorrel3-1.0.90.hex" << "none" << Boxes{{Kind::Warning, QStringLiteral("Warning"), QMessageBox::Ok}};
    QTest::newRow("Vireo Player in its boot loader") << "Vireo Player" << "VireoPlayer-1.2.1.bin" << "connected" << overwrite;
    QTest::newRow("Vireo Player verified") << "Vireo Player" << "VireoPlayer-1.2.1.bin" << "after run" << overwrite;
}

// The player connected, updated or not found: Start Over forgets it, lets go
// of it and leaves the panel as start-up did; connecting again works.
void TestOperatorFirstHour::startOverLetsGoOfTheUsbPlayer()
{
    QFETCH(QString, product);
    QFETCH(QString, file);
    QFETCH(QString, state);
    QFETCH(Boxes, connectBoxes);
    auto f = window();
    f->window->show();
    auto &sr3 = static_cast<SimulatedSr3Usb &>(f->devices->sr3());
    SimulatedVireoPlayer &vireo = *f->devices->simulatedVireo();
    auto *connectButton = f->find<QPushButton>(QStringLiteral("m_pushButton_USBConnect"));
    const auto panelTexts = [&] {
        return QStringList{text(*f, "m_label_SR3Device"), text(*f, "m_label_SR3SorrelVersion"), text(*f, "m_lblSerialNr")};
    };
    const QStringList atStartUp = panelTexts();
    choose(*f, 0, product);
    selectImage(*f, sample(file));
    if (state == QLatin1String("none"))
        sr3.setPlayers(0, 0);
    for (const Box &box : connectBoxes)
        f->prompter.expectMessage(box.kind, box.title, QString(), box.answer);
    connectButton->click();
    QCOMPARE(f->window->programOffered(), state != QLatin1String("none"));
    if (state == QLatin1String("after run")) {
        QSignalSpy recorded(f->window->runEvents(), &RunEvents::runRecorded);
        f->prompter.expectMessage(Kind::Information, QStringLiteral("Information"), QString());
        f->find<QPushButton>(QStringLiteral("m_pushButton_program"))->click();
        QTRY_VERIFY_WITH_TIMEOUT(recorded.size() == 1 && f->window->runState() == ZelBootLoader::RunState::Ready, 60000);
    }
    QCOMPARE(f->prompter.pendingExpectations(), 0);
    QCOMPARE(panelTexts() == atStartUp, state == QLatin1String("none"));

    f->find<QPushButton>(QStringLiteral("m_pushButton_startOver"))->click();
    QCOMPARE(f->window->runState(), ZelBootLoader::RunState::Idle);
    QCOMPARE(panelTexts(), atStartUp);
    // The panel waits for an image again, its Connect button offered once there is one.
    QVERIFY(connectButton->isEnabledTo(f->window->panel(0)));
    QVERIFY(!f->window->programOffered());
    QVERIFY(f->find<QProgressBar>(QStringLiteral("m_progress_busy"))->isHidden());
    QVERIFY(f->window->statusText().isEmpty());
    // Let go of: a Sorrel 3 is back in its firmware, closed.
    QVERIFY(!sr3.isOpen());
    if (state != QLatin1String("none"))
        QCOMPARE(sr3.controllerCount(), 1);
    QVERIFY(vireo.hid().openPath().isEmpty());

    // The way back leads on: the same player again, nothing of the one before in the way.
    sr3.setPlayers(1, 0);
    selectImage(*f, sample(file));
    const Boxes again = product == QLatin1String("Vireo Player") && state == QLatin1String("connected") ? Boxes{} : connectBoxes;
    for (const Box &box : state == QLatin1String("none") ? Boxes{} : again)
        f->prompter.expectMessage(box.kind, box.title, QString(), box.answer);
    connectButton->click();
    QCOMPARE(f->prompter.pendingExpectations(), 0);
    QVERIFY(f->window->programOffered());
    screenshot(*f, QStringLiteral("start over from %1 %2, connected again").arg(product, state));
}

void TestOperatorFirstHour::helpMenuSaysWhereThePageIsWhenNoBrowserStarts_data()
{
    QTest::addColumn<bool>("pageInstalled");
    QTest::addColumn<bool>("browserStarts");
    QTest::newRow("page there, browser starts") << true << true;
    QTest::newRow("page there, no browser") << true << false;
    QTest::newRow("page missing, no browser") << false << false;
}

void TestOperatorFirstHour::helpMenuSaysWhereThePageIsWhenNoBrowserStarts()
{
    QFETCH(bool, pageInstalled);
    QFETCH(bool, browserStarts);
    // The user's data folder is the first place the page is looked for.
    QTemporaryDir home;
    const QByteArray previousHome = qgetenv("XDG_DATA_HOME");
    qputenv("XDG_DATA_HOME", QFile::encodeName(home.path()));
    const auto restore = qScopeGuard([&] { qputenv("XDG_DATA_HOME", previousHome); });
    const QString page = home.filePath(QStringLiteral("zel-updater/doc/index.html"));
    if (pageInstalled) {
        QVERIFY(QDir().mkpath(QFileInfo(page).path()));
        writeFile(page, QStringLiteral("<html></html>"));
    }

    WindowFixture::Options o = simulated();
    o.browserStarts = browserStarts;
    auto f = window(o);
    auto *help = f->window->findChild<QAction *>(QStringLiteral("actionHelp"));
    auto *about = f->window->findChild<QAction *>(QStringLiteral("actionAbout"));
    auto *menu = f->find<QMenu>(QStringLiteral("menuHelp"));
    QCOMPARE(menu->title(), QStringLiteral("&Help"));
    QVERIFY(menu->actions().contains(help) && menu->actions().contains(about));
    QCOMPARE(help->shortcut(), QKeySequence(Qt::Key_F1));
    QCOMPARE(about->text(), QStringLiteral("&About Zel Firmware Updater"));

    if (!browserStarts)
        f->prompter.expectMessage(Kind::Warning, QStringLiteral("Help"), QString());
    help->trigger();
    QCOMPARE(f->openedUrls.size(), 1);
    QCOMPARE(f->prompter.pendingExpectations(), 0);
    if (!browserStarts) {
        // A name the operator can open by hand, and the same in the log.
        const QString box = f->prompter.shown().last().text;
        QVERIFY2(box.contains(pageInstalled ? QDir::toNativeSeparators(page)
                                            : QStringLiteral("zel-updater/doc/index.html")),
                 qPrintable(box));
        QVERIFY(f->prompter.shown().last().hasParent);
        QCOMPARE(f->logLines().filter(QStringLiteral("WARNING - ZelBootLoader - The help page could not be opened")).size(), 1);
    }

    f->prompter.expectMessage(Kind::Information, QStringLiteral("About Zel Firmware Updater"), QString());
    about->trigger();
    const QString said = f->prompter.shown().last().text;
    for (const QString &part : {QStringLiteral("Version 2.6.2 build 57 (20130709)"),
                                QStringLiteral("Qt %1").arg(QString::fromLatin1(qVersion())),
                                QStringLiteral("Product catalogue: ") + QDir::toNativeSeparators(sampleCataloguePath()),
                                QStringLiteral("Output folder: ") + QDir::toNativeSeparators(f->window->outputFolder())})
        QVERIFY2(said.contains(part), qPrintable(said + QStringLiteral("\nlacks: ") + part));
}

void TestOperatorFirstHour::mismatchSaysWhichProductTheImageIsFor_data()
{
    QTest::addColumn<int>("interfaceNumber");
    QTest::addColumn<QString>("product");
    QTest::addColumn<QString>("file");   // a sample, or written here from words
    QTest::addColumn<QString>("said");   // after the box's own text
    QTest::addColumn<QString>("reason"); // in the warning logged at once

    const QString none = QStringLiteral("No product of the catalogue takes this image.");
    QTest::newRow("controller image for a fixture")
        << 1 << "Cove Wash" << "OstrelHub-2.1.34.hex" << "This image is for Ostrel Hub."
        << "processor 1 holds 0xFFFFFFFF at word 0x7FF0, not the magic value 0xA55A0101";
    QTest::newRow("fixture image for a player")
        << 0 << "Sorrel 3" << "CoveWash-5.1.3.hex" << "This image is for Cove Wash."
        << "not the magic value 0x53523301";
    QTest::newRow("the other build of the same board")
        << 1 << "Kestrel Vireo" << "KestrelLX-4.1.3.hex" << "This image is for Kestrel lX."
        << "processor 1 holds 0xA55A7201 at word 0xFFF0, not the magic value 0xA55A7202";
    QTest::newRow("revision 3 boot loader image for a controller")
        << 2 << "Ostrel Hub" << "GannetBatten-10.hex" << "This image is for Gannet Batten."
        << "not the magic value 0xE7C00101";
    QTest::newRow("no product's image")
        << 0 << "Sorrel 3" << QString::fromLatin1(controllerHex({{0x1FFE0, 0x12345678}, {0x1FFE4, 0x1005A}})) << none
        << "processor 1 holds 0x12345678 at word 0xFFF0";
    QTest::newRow("the product's own mark, a major version it does not take")
        << 2 << "Marlow Mk3" << QString::fromLatin1(controllerHex({{0x3FF00, 0xE7C00401}, {0x3FF04, 0x20304}})) << none
        << "its major version 2 is not 3, the one Marlow Mk3 takes";
}

void TestOperatorFirstHour::mismatchSaysWhichProductTheImageIsFor()
{
    QFETCH(int, interfaceNumber);
    QFETCH(QString, product);
    QFETCH(QString, file);
    QFETCH(QString, said);
    QFETCH(QString, reason);
    file = file.startsWith(QLatin1Char(':')) ? writeFile(m_workDir.filePath(QStringLiteral("image.hex")), file)
                                             : unsignedCopy(QDir(m_workDir.path()), file);

    auto f = window();
    choose(*f, interfaceNumber, product);
    // The warning is in the log before the box opens, and stays if it is never answered.
    int boxesWhenLogged = -1;
    QString logged;
    connect(Logger::instance(nullptr), &Logger::latestLogString, f->window.get(), [&](const QString &line) {
        if (line.contains(QStringLiteral("WARNING - ")) && line.contains(QStringLiteral("File mismatch: "))) {
            boxesWhenLogged = int(f->prompter.shown().size());
            logged = line;
        }
    });
    f->prompter.expectFileDialog(file);
    f->prompter.expectMessage(Kind::Critical, QStringLiteral("File mismatch!"),
                              QStringLiteral("The firmware image file does not match the device selected!\n\n") + said);
    f->prompter.expectFileDialog(QString());
    f->find<QPushButton>(QStringLiteral("m_pushButton_firmwareImageFileSelect"))->click();
    QCOMPARE(f->prompter.pendingExpectations(), 0);
    QCOMPARE(f->window->runState(), ZelBootLoader::RunState::Idle);
    QCOMPARE(boxesWhenLogged, 1); // only the file dialog was shown by then
    QVERIFY2(logged.contains(QStringLiteral("File mismatch: %1 is not an image for %2: ").arg(file, product)),
             qPrintable(logged));
    QVERIFY2(logged.contains(reason) && logged.endsWith(said), qPrintable(logged));
}

void TestOperatorFirstHour::statusMessageFitsItsRoomAndEndsWithItsState()
{
    auto f = window();
    f->window->resize(695, 665);
    f->window->show();
    QVERIFY(QTest::qWaitForWindowExposed(f->window.get()));
    QStatusBar *bar = f->window->statusBar();
    const QString full = QStringLiteral("Checking SN:8100C001 after the update on port 2 of Vask Net-4 (127.0.0.20): "
                                        "the fixture has not answered yet, the check goes on for 10 s more");
    emit f->window->panel(1)->signal_updateStatus(full);
    QCOMPARE(f->window->statusText(), full);
    QCOMPARE(bar->toolTip(), full);
    const QString shown = bar->currentMessage();
    QVERIFY2(shown.size() < full.size() && shown.contains(QChar(0x2026)), qPrintable(shown));
    // Elided in the middle: the start and the end are both still there.
    QVERIFY(shown.startsWith(QStringLiteral("Checking SN:8100C001")));
    QVERIFY(shown.endsWith(QStringLiteral("10 s more")));
    screenshot(*f, QStringLiteral("long status"));

    // Less room, a shorter message; more room, more of it.
    f->window->resize(500, 665);
    QTRY_VERIFY(bar->currentMessage().size() < shown.size());
    screenshot(*f, QStringLiteral("long status, narrow window"));
    f->window->resize(1600, 665);
    QTRY_COMPARE(bar->currentMessage(), full);
    f->window->resize(695, 665);
    QTRY_COMPARE(bar->currentMessage(), shown);

    // A menu's tip stands in for the message while it is pointed at, then gives it back.
    QStatusTipEvent tip(QStringLiteral("Exits the software."));
    QCoreApplication::sendEvent(f->window.get(), &tip);
    QCOMPARE(bar->currentMessage(), QStringLiteral("Exits the software."));
    QStatusTipEvent left{QString()};
    QCoreApplication::sendEvent(f->window.get(), &left);
    QCOMPARE(bar->currentMessage(), shown);

    // A new image to choose: what was said about the one before is gone.
    choose(*f, 2, QStringLiteral("Ostrel Hub"));
    QVERIFY(f->window->statusText().isEmpty());
    QVERIFY(bar->currentMessage().isEmpty());
    QVERIFY(bar->toolTip().isEmpty());
    emit f->window->panel(2)->signal_updateStatus(QStringLiteral("Discovery done"));
    f->prompter.expectFileDialog(QString());
    f->find<QPushButton>(QStringLiteral("m_pushButton_firmwareImageFileSelect"))->click();
    QVERIFY(bar->currentMessage().isEmpty());
}

// Discover, choosing the other controller and the check after the update:
// each shows its own text beside the busy indicator, and both go when it ends.
void TestOperatorFirstHour::controllerWaitsSayWhatTheyWaitForAndEnd()
{
    auto f = window();
    // Long enough for the check's clock to show a second.
    f->devices->ethernet().verifySettleMs = 1500;
    f->window->resize(695, 665);
    f->window->show();
    choose(*f, 2, QStringLiteral("Ostrel Hub"));
    selectImage(*f, sample(QStringLiteral("OstrelHub-2.1.34.hex")));
    emit f->window->panel(2)->signal_updateStatus(QStringLiteral("A text of the run before"));

    // Each wait text as the window showed it, and whether the indicator was up.
    auto *busy = f->find<QProgressBar>(QStringLiteral("m_progress_busy"));
    QStringList waits;
    bool indicatorFollowed = true;
    connect(f->window->panel(2), &InterfacePanel::signal_waitStatus, f->window.get(), [&](const QString &text) {
        waits.append(text);
        indicatorFollowed &= busy->isVisible() == !text.isEmpty()
            && (text.isEmpty() || f->window->statusText() == text);
        if (text.startsWith(QStringLiteral("Checking")))
            screenshot(*f, QStringLiteral("waiting: ") + text);
    });
    auto *list = f->find<QComboBox>(QStringLiteral("m_comboBox_TFTPDevicesDiscovered"));
    auto *revision = f->find<QLabel>(QStringLiteral("m_label_FWVersion"));
    f->find<QPushButton>(QStringLiteral("m_pushButton_TFTPDiscover"))->click();
    QCOMPARE(waits.value(0), QStringLiteral("Discovering controllers…"));
    QCOMPARE(f->window->statusText(), waits.first());
    QTRY_VERIFY_WITH_TIMEOUT(list->count() == 2 && !revision->text().isEmpty() && !busy->isVisible(), 30000);
    const QString first = QHostAddress(list->itemData(0).toUInt()).toString();
    QCOMPARE(waits, (QStringList {"Discovering controllers…", "Discovering controllers… 1 found",
                                  "Discovering controllers… 2 found", QString(),
                                  QStringLiteral("Reading the revision of %1…").arg(first), QString()}));
    // The controller's revision as it reports it, and where the image takes it.
    const QMap<QString, QString> reported {{"127.0.0.3", "Rev. 33"}, {"127.0.0.4", "Rev. 32"}};
    auto *step = f->find<QLabel>(QStringLiteral("m_label_FWStep"));
    QCOMPARE(revision->text() + QLatin1Char(' ') + step->text(), reported.value(first) + QStringLiteral(" → 34"));
    // Neither the wait's text nor the one before it outlives discovery.
    QVERIFY2(f->window->statusText().isEmpty(), qPrintable(f->window->statusText()));

    waits.clear();
    list->setCurrentIndex(1);
    const QString second = QHostAddress(list->itemData(1).toUInt()).toString();
    QTRY_VERIFY_WITH_TIMEOUT(!revision->text().isEmpty() && !busy->isVisible(), 30000);
    QCOMPARE(waits, (QStringList {QStringLiteral("Reading the revision of %1…").arg(second), QString()}));
    QCOMPARE(revision->text() + QLatin1Char(' ') + step->text(), reported.value(second) + QStringLiteral(" → 34"));

    waits.clear();
    QSignalSpy recorded(f->window->runEvents(), &RunEvents::runRecorded);
    f->find<QPushButton>(QStringLiteral("m_pushButton_program"))->click();
    QTRY_VERIFY_WITH_TIMEOUT(recorded.size() == 1 && !busy->isVisible(), 60000);
    const QString checking = QStringLiteral("Checking %1 after the update…").arg(second);
    QVERIFY2(waits.size() >= 3 && waits.first() == checking && waits.last().isEmpty(), qPrintable(waits.join('|')));
    // The clock counts on while the controller restarts.
    QVERIFY2(waits.contains(checking + QStringLiteral(" 1 s")), qPrintable(waits.join('|')));
    QVERIFY(indicatorFollowed);
    QVERIFY2(f->window->statusText().startsWith(QStringLiteral("Controller %1 written; verified").arg(second)),
             qPrintable(f->window->statusText()));
}

QTEST_MAIN(TestOperatorFirstHour)
#include "test_OperatorFirstHour.moc"
