#include "ethernet/tftpInterfaceControl.h"

#include "catalogue/BootLoadProduct.h"
#include "catalogue/MicroprocessorImageInfo.h"
#include "ethernet/FleetProgressDialog.h"
#include "ethernet/FleetWriter.h"
#include "ethernet/QTFTP.h"
#include "ethernet/TarvoNotPresent.h"
#include "simulator/ControllerSimulator.h"
#include "tests/ethernet/ControllerImage.h"
#include "tests/ethernet/RecordingFleetProgress.h"
#include "tests/support/FakePrompter.h"
#include "tests/support/RecordingPauser.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

// "Program All Discovered Devices" on the panel, against simulated
// controllers on loopback addresses of their own.
class TestFleetRun : public QObject
{
    Q_OBJECT

private slots:
    void checkBox_followsTheList_andTheQuestionCanSendNothing();
    void programAll_updatesGoodOnes_reportsBadOnes_withinTheLimit_thenRetries();
    void programAll_checksEveryWrittenController();
    void programAll_controllerErrors_areReportedWithTheirCodeAndText();
    void cancel_letsRunningWritesFinish_andStartsNoMore();
    void shutdown_duringProgramAll_stopsEveryWrite();
    void shutdown_afterTheWritesEnded_recordsThemWritten();
    void programAll_ofMarlows_checksEachByItsOwnReply();
    void programAll_readsTheRevisionsTheListLacks_soASameBuildIsNotVerified_data();
    void programAll_readsTheRevisionsTheListLacks_soASameBuildIsNotVerified();
    void shutdown_whileTheRevisionsAreRead_writesNothing();
    void fleetWriter_writesAnAddressListedTwiceOnce();
    void progressDialog_showsRows_andCancelAsksOnlyOnce();

private:
    struct Rig {
        FakePrompter prompter;
        RecordingPauser pauser;
        TarvoNotPresent tarvo;
        EthernetSettings settings;
        QList<ControllerSimulator::Controller> controllers;
        std::unique_ptr<ControllerSimulator> sim;
        BootLoadProduct product {prompter};
        std::unique_ptr<tftpInterfaceControl> panel;
        RecordingFleetProgress progress;
        QStringList log;
        QList<bool> programButton;
        QList<ControllerWriteOutcome> reported;
        QList<UpdateRecord> records;
        QStringList waits;
        int completions = 0;
        QTemporaryDir dir;

        // count controllers from 127.0.0.10; faults by index.
        explicit Rig(int count, const QMap<int, ControllerSimulator::Faults> &faults = {});
        bool startSimulator(int tftpPort = 0);
        bool loadImage(int filler = 3000);
        void discover();
        QComboBox *list() const { return panel->findChild<QComboBox *>("m_comboBox_TFTPDevicesDiscovered"); }
        QCheckBox *all() const { return panel->findChild<QCheckBox *>("m_checkBox_tftpProgramAll"); }
        quint32 ip(int index) const { return controllers.at(index).ip; }
        QString address(int index) const { return QHostAddress(ip(index)).toString(); }
        QStringList listed() const
        {
            QStringList texts;
            for (int i = 0; i < list()->count(); ++i)
                texts.append(list()->itemText(i));
            return texts;
        }
        QList<QPair<qint64, qint64>> spans() const
        {
            QList<QPair<qint64, qint64>> result;
            for (const auto &c : sim->controllers())
                result.append({c.firstPacketUs, c.lastPacketUs});
            return result;
        }
    };
};

namespace {

const quint32 kMagic = 0xE7C00101;
const QString kQuestion = QStringLiteral("You are about to update the firmware of all %1 discovered Ostrel Hub "
                                         "controllers!\nDo you wish to continue?");

ControllerSimulator::Faults silent()
{
    ControllerSimulator::Faults f;
    f.dropIn = 1;
    return f;
}

ControllerSimulator::Faults otherPort()
{
    ControllerSimulator::Faults f;
    f.answerFromOtherPort = true;
    return f;
}

ControllerSimulator::Faults refusing(int atBlock, int code, const QByteArray &text)
{
    ControllerSimulator::Faults f;
    f.errorAtBlock = atBlock;
    f.errorCode = code;
    f.errorText = text;
    return f;
}

ControllerSimulator::Faults slow(int ms)
{
    ControllerSimulator::Faults f;
    f.delayMs = ms;
    return f;
}

} // namespace

TestFleetRun::Rig::Rig(int count, const QMap<int, ControllerSimulator::Faults> &faults)
{
    for (int i = 0; i < count; ++i) {
        ControllerSimulator::Controller c;
        c.ip = 0x7F00000A + quint32(i);
        c.idstring = "Ostrel Hub";
        c.verstring = "SFT-OH 2.1";
        c.revision = 0x21;
        c.sn = quint32(1000 + i);
        if (faults.contains(i))
            c.faults = faults.value(i);
        controllers.append(c);
    }
    if (!startSimulator())
        qWarning("simulator: %s", qPrintable(sim->errorString()));

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

    product.setName(QStringLiteral("Ostrel Hub"));
    product.setInterfaceType(2);
    auto *processor = new MicroprocessorImageInfo(prompter, &product);
    processor->setHierarchy(0);
    processor->setFileType(0);
    processor->setSft(QStringLiteral("SFT-OH"));
    processor->setWordSize(1);
    processor->setWordCount(0x1000);
    processor->setMagicLoc(0x10);
    processor->setMagicFlag(kMagic);
    processor->setVerLoc(0x14);
    product.addProcessor(processor);

    panel = std::make_unique<tftpInterfaceControl>(prompter, pauser, tarvo, settings);
    panel->setProduct(&product);
    panel->setFleetProgressFactory(progress.factory());
    QObject::connect(panel.get(), &tftpInterfaceControl::signal_log, panel.get(),
                     [this](LOGPRIORITY p, LOGTYPE, QString, QString text) {
                         log.append((p == LOG_WARNING   ? QStringLiteral("WARNING ")
                                     : p == LOG_SEVERE ? QStringLiteral("SEVERE ")
                                                       : QString())
                                    + text);
                     });
    QObject::connect(panel.get(), &tftpInterfaceControl::signal_enableProgramButton, panel.get(),
                     [this](bool on) { programButton.append(on); });
    QObject::connect(panel.get(), &tftpInterfaceControl::signal_programComplete, panel.get(),
                     [this] { ++completions; });
    QObject::connect(panel.get(), &tftpInterfaceControl::signal_controllerWriteDone, panel.get(),
                     [this](const ControllerWriteOutcome &o) { reported.append(o); });
    QObject::connect(panel.get(), &tftpInterfaceControl::signal_runRecord, panel.get(),
                     [this](const UpdateRecord &r) { records.append(r); });
    QObject::connect(panel.get(), &InterfacePanel::signal_waitStatus, panel.get(),
                     [this](const QString &text) { waits.append(text); });
}

bool TestFleetRun::Rig::startSimulator(int tftpPort)
{
    const int discoveryPort = sim ? sim->discoveryPort() : 0;
    sim.reset();
    ControllerSimulator::Options options;
    options.discoveryPort = discoveryPort;
    options.tftpPort = tftpPort;
    options.versionOffset = 0x14;
    sim = std::make_unique<ControllerSimulator>(options);
    for (const auto &c : std::as_const(controllers))
        sim->addController(c);
    return sim->start();
}

bool TestFleetRun::Rig::loadImage(int filler)
{
    QFile file(dir.filePath(QStringLiteral("controller.hex")));
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(controllerHex({{0x10, kMagic}, {0x14, 0x0002034A}}, filler));
    file.close();
    return product.loadImage(file.fileName());
}

void TestFleetRun::Rig::discover()
{
    panel->findChild<QPushButton *>("m_pushButton_TFTPDiscover")->click();
}

void TestFleetRun::checkBox_followsTheList_andTheQuestionCanSendNothing()
{
    Rig rig(6);
    QVERIFY(rig.loadImage());
    QVERIFY(!rig.all()->isEnabled());
    QCOMPARE(rig.panel->fleetConcurrency(), 50);

    rig.discover();
    QTRY_COMPARE(rig.list()->count(), 6);
    QTRY_VERIFY(rig.all()->isEnabled());
    QTRY_COMPARE(rig.panel->findChild<QLabel *>("m_label_FWVersion")->text(), QStringLiteral("Rev. 33"));

    // A typed address names one controller: "all" is no longer on offer.
    auto *field = rig.panel->findChild<QLineEdit *>("m_lineEdit_tftpManualIPEntry");
    field->setText(QStringLiteral("127.0.0.10"));
    QVERIFY(!rig.all()->isEnabled());
    field->clear();
    QVERIFY(rig.all()->isEnabled());

    rig.programButton.clear();
    rig.all()->setChecked(true);
    QCOMPARE(rig.programButton, QList<bool> {true});

    rig.prompter.expectMessage(Prompter::Kind::Warning, QStringLiteral("Zel Firmware Updater"), kQuestion.arg(6),
                               QMessageBox::Cancel);
    rig.panel->program(QStringLiteral("controller.hex"));
    QCOMPARE(rig.prompter.pendingExpectations(), 0);
    QCOMPARE(rig.prompter.shown().last().defaultButton, QMessageBox::Cancel);
    QCOMPARE(rig.prompter.shown().last().buttons, QMessageBox::Ok | QMessageBox::Cancel);
    QVERIFY(!rig.panel->runInProgress());
    QVERIFY(rig.prompter.shown().last().confirmation);
    QCOMPARE(rig.records.size(), 6);
    for (int i = 0; i < 6; ++i) {
        QCOMPARE(rig.records.at(i).address, rig.address(i));
        QCOMPARE(rig.records.at(i).outcome, UpdateRecord::Outcome::Cancelled);
    }
    QCOMPARE(rig.programButton.last(), true);
    QVERIFY(rig.progress.opened.isEmpty());
    QTest::qWait(100);
    for (const auto &c : rig.sim->controllers())
        QCOMPARE(c.writes, 0);
    QCOMPARE(rig.list()->count(), 6);
    QVERIFY(rig.all()->isChecked());
}

void TestFleetRun::programAll_updatesGoodOnes_reportsBadOnes_withinTheLimit_thenRetries()
{
    Rig rig(10, {{2, silent()}, {5, silent()}, {7, otherPort()}});
    QVERIFY(rig.loadImage());
    const QByteArray image = rig.product.imageData();
    rig.discover();
    QTRY_COMPARE(rig.list()->count(), 10);
    QTRY_VERIFY(rig.programButton.contains(true));
    rig.panel->findChild<QSpinBox *>("m_spinBox_tftpProgramAllLimit")->setValue(3);
    rig.all()->setChecked(true);

    rig.prompter.expectMessage(Prompter::Kind::Warning, QStringLiteral("Zel Firmware Updater"), kQuestion.arg(10),
                               QMessageBox::Ok);
    rig.prompter.expectMessage(Prompter::Kind::Warning, QStringLiteral("Program All Discovered Devices"), QString());
    rig.panel->program(QStringLiteral("controller.hex"));
    QVERIFY(rig.panel->runInProgress());
    QTRY_VERIFY_WITH_TIMEOUT(!rig.panel->runInProgress(), 15000);
    QCOMPARE(rig.prompter.pendingExpectations(), 0);

    const QList<int> bad {2, 5, 7};
    const QList<ControllerWriteOutcome> outcomes = rig.panel->fleetOutcomes();
    QCOMPARE(outcomes.size(), 10);
    QCOMPARE(rig.reported.size(), 10);
    for (int i = 0; i < 10; ++i) {
        const ControllerWriteOutcome &o = outcomes.at(i);
        QCOMPARE(o.address, rig.address(i));
        QCOMPARE(o.idstring, QStringLiteral("Ostrel Hub"));
        // Read before the writes from every controller that answers, not the chosen one's alone.
        QCOMPARE(o.revisionBefore, bad.contains(i) ? QString() : QStringLiteral("33"));
        if (bad.contains(i)) {
            QCOMPARE(o.result, ControllerWriteOutcome::Result::Failed);
            QCOMPARE(o.reason, QStringLiteral("no answer from the controller; the write gave up after 14 attempts"));
            QCOMPARE(o.bytesWritten, -1);
            QCOMPARE(rig.sim->controller(rig.ip(i)).writes, 0);
        } else {
            QCOMPARE(o.result, ControllerWriteOutcome::Result::Updated);
            QCOMPARE(o.bytesWritten, image.size());
            QCOMPARE(rig.sim->controller(rig.ip(i)).writes, 1);
            QCOMPARE(rig.sim->controller(rig.ip(i)).firmware, image);
        }
    }
    const int most = mostAtOnce(rig.spans());
    QVERIFY2(most <= 3 && most >= 2, qPrintable(QString::number(most)));

    // One record per controller: the written ones were asked for their
    // revision before the run ended.
    QCOMPARE(rig.records.size(), 10);
    QSet<QString> recorded;
    for (const UpdateRecord &r : std::as_const(rig.records)) {
        recorded.insert(r.address);
        const int i = int(QHostAddress(r.address).toIPv4Address() - rig.ip(0));
        QCOMPARE(r.outcome, bad.contains(i) ? UpdateRecord::Outcome::Failed : UpdateRecord::Outcome::Verified);
        QCOMPARE(r.revisionAfter, bad.contains(i) ? QString() : QStringLiteral("74"));
        QCOMPARE(r.revisionBefore, bad.contains(i) ? QString() : QStringLiteral("33"));
        if (bad.contains(i))
            QVERIFY(r.reason.startsWith("no answer from the controller"));
    }
    QCOMPARE(recorded.size(), 10);

    const QString summary = rig.prompter.shown().last().text;
    QVERIFY(summary.startsWith("7 of 10 controllers were updated. The 3 others stay in the list, ticked for a retry."));
    QVERIFY(summary.contains(rig.address(0) + " Ostrel Hub: verified: the device reports 74\n"));
    for (int i : bad)
        QVERIFY(summary.contains(rig.address(i) + " Ostrel Hub: no answer from the controller"));
    QCOMPARE(rig.listed(), (QStringList {rig.address(2) + " Ostrel Hub", rig.address(5) + " Ostrel Hub",
                                         rig.address(7) + " Ostrel Hub"}));
    QVERIFY(rig.all()->isChecked());
    QVERIFY(rig.all()->isEnabled());
    QCOMPARE(rig.completions, 0);
    QCOMPARE(rig.programButton.last(), true);
    QVERIFY(rig.log.contains("WARNING Program all complete: 7 of 10 controllers updated, 3 failed, 0 not started."));
    QVERIFY(rig.log.contains(QStringLiteral("Controller %1 Ostrel Hub updated: %2 bytes written.")
                                 .arg(rig.address(0)).arg(image.size())));

    // The window stayed through the check, each written row ending with what it found.
    const auto shown = rig.progress.last();
    QVERIFY(shown->closed);
    QCOMPARE(shown->rows.size(), 10);
    QVERIFY(!shown->cancelEnabled);
    const QStringList states0 = [&] {
        QStringList texts;
        for (const auto &state : shown->states.at(0))
            texts.append(state.first);
        return texts;
    }();
    QCOMPARE(states0.mid(states0.indexOf("Updated")),
             (QStringList {"Updated", "Updated, checking…", "verified: the device reports 74"}));
    QVERIFY(shown->state(7).startsWith("Failed: no answer"));
    QVERIFY(shown->statuses.contains(QStringLiteral("Checking 7 controllers after the update…")));
    QCOMPARE(shown->states.at(0).first().first, QStringLiteral("Waiting"));
    for (int i = 1; i < shown->overall.size(); ++i)
        QVERIFY(shown->overall.at(i).first > shown->overall.at(i - 1).first);
    QCOMPARE(shown->overall.last(), qMakePair(1000, 1000));

    // Made good, the three that failed take the image on the next PROGRAM.
    rig.controllers[2].faults.reset();
    rig.controllers[5].faults.reset();
    rig.controllers[7].faults.reset();
    QVERIFY(rig.startSimulator(rig.settings.tftpPort));
    rig.prompter.expectMessage(Prompter::Kind::Warning, QStringLiteral("Zel Firmware Updater"), kQuestion.arg(3),
                               QMessageBox::Ok);
    const QString checked = QStringLiteral(" Ostrel Hub: verified: the device reports 74");
    rig.prompter.expectMessage(Prompter::Kind::Information, QStringLiteral("Program All Discovered Devices"),
                               QStringLiteral("All 3 controllers were updated.\n\nUpdated:\n%1\n%2\n%3")
                                   .arg(rig.address(2) + checked, rig.address(5) + checked, rig.address(7) + checked));
    rig.panel->program(QStringLiteral("controller.hex"));
    QTRY_COMPARE_WITH_TIMEOUT(rig.completions, 1, 10000);
    QCOMPARE(rig.prompter.pendingExpectations(), 0);
    for (int i : bad)
        QCOMPARE(rig.sim->controller(rig.ip(i)).firmware, image);
    QCOMPARE(rig.panel->fleetOutcomes().size(), 3);
    QCOMPARE(rig.list()->count(), 0);
    QVERIFY(!rig.all()->isChecked());
    QVERIFY(!rig.all()->isEnabled());
    QVERIFY(!rig.panel->runInProgress());
}

void TestFleetRun::programAll_checksEveryWrittenController()
{
    Rig rig(4, {{3, silent()}});
    rig.controllers[1].keepRevision = true;
    rig.controllers[2].noReturn = true;
    QVERIFY(rig.startSimulator(rig.settings.tftpPort));
    rig.panel->setVerifyWait(500);
    QVERIFY(rig.loadImage(0));
    rig.discover();
    QTRY_COMPARE(rig.list()->count(), 4);
    QTRY_VERIFY(rig.programButton.contains(true));
    rig.all()->setChecked(true);
    rig.prompter.expectMessage(Prompter::Kind::Warning, QStringLiteral("Zel Firmware Updater"), kQuestion.arg(4),
                               QMessageBox::Ok);
    // A controller that does not run the image makes the run a failure.
    rig.prompter.expectMessage(Prompter::Kind::Warning, QStringLiteral("Program All Discovered Devices"), QString());
    rig.panel->program(QStringLiteral("controller.hex"));
    QTRY_VERIFY_WITH_TIMEOUT(!rig.panel->runInProgress(), 10000);
    QCOMPARE(rig.prompter.pendingExpectations(), 0);

    const QList<UpdateRecord::Outcome> expected {UpdateRecord::Outcome::Verified, UpdateRecord::Outcome::Mismatch,
                                                 UpdateRecord::Outcome::NotVerified, UpdateRecord::Outcome::Failed};
    QCOMPARE(rig.records.size(), 4);
    for (const UpdateRecord &r : std::as_const(rig.records)) {
        const int i = int(QHostAddress(r.address).toIPv4Address() - rig.ip(0));
        QCOMPARE(r.outcome, expected.value(i));
        QCOMPARE(r.deviceType, QStringLiteral("Ostrel Hub"));
    }
    const QString summary = rig.prompter.shown().last().text;
    QVERIFY2(summary.startsWith("3 of 4 controllers were updated. The 1 others stay in the list, ticked for a retry.\n"
                                "1 of them report another revision than the image's: their update failed."),
             qPrintable(summary));
    QVERIFY(summary.contains(rig.address(0) + " Ostrel Hub: verified: the device reports 74"));
    QVERIFY(summary.contains(rig.address(1) + " Ostrel Hub: mismatch: the device reports 33, the image is 74"));
    QVERIFY(summary.contains(rig.address(2) + " Ostrel Hub: not verified: no answer within 0.51 s of the write"));
    QVERIFY(rig.log.contains("SEVERE Revision check of " + rig.address(1)
                             + ": mismatch: the device reports 33, the image is 74"));
    QCOMPARE(rig.listed(), QStringList {rig.address(3) + " Ostrel Hub"});
    QCOMPARE(rig.completions, 0);
}

void TestFleetRun::programAll_controllerErrors_areReportedWithTheirCodeAndText()
{
    Rig rig(3, {{0, refusing(0, 2, "Access violation")}, {1, refusing(3, 3, "Disk full")}});
    QVERIFY(rig.loadImage());
    rig.discover();
    QTRY_COMPARE(rig.list()->count(), 3);
    QTRY_VERIFY(rig.programButton.contains(true));
    rig.all()->setChecked(true);
    rig.prompter.expectMessage(Prompter::Kind::Warning, QStringLiteral("Zel Firmware Updater"), kQuestion.arg(3),
                               QMessageBox::Ok);
    rig.prompter.expectMessage(Prompter::Kind::Warning, QStringLiteral("Program All Discovered Devices"), QString());
    rig.panel->program(QStringLiteral("controller.hex"));
    QTRY_VERIFY_WITH_TIMEOUT(!rig.panel->runInProgress(), 15000);
    QCOMPARE(rig.prompter.pendingExpectations(), 0);

    const QStringList reasons {
        QStringLiteral("TFTP: the controller ended the transfer with error 2 \"Access violation\""),
        QStringLiteral("TFTP: the controller ended the transfer with error 3 \"Disk full\""),
    };
    const QList<ControllerWriteOutcome> outcomes = rig.panel->fleetOutcomes();
    QCOMPARE(outcomes.size(), 3);
    for (int i = 0; i < 2; ++i) {
        QCOMPARE(outcomes.at(i).result, ControllerWriteOutcome::Result::Failed);
        QCOMPARE(outcomes.at(i).reason, reasons.at(i));
        QCOMPARE(rig.sim->controller(rig.ip(i)).writes, 0);
        QVERIFY(rig.log.contains("WARNING Controller " + rig.address(i) + " Ostrel Hub not updated: " + reasons.at(i)));
        QVERIFY(rig.prompter.shown().last().text.contains(rig.address(i) + " Ostrel Hub: " + reasons.at(i)));
    }
    QCOMPARE(outcomes.at(2).result, ControllerWriteOutcome::Result::Updated);
    QCOMPARE(rig.records.size(), 3);
    for (const UpdateRecord &r : std::as_const(rig.records)) {
        const int i = int(QHostAddress(r.address).toIPv4Address() - rig.ip(0));
        QCOMPARE(r.outcome, i < 2 ? UpdateRecord::Outcome::Failed : UpdateRecord::Outcome::Verified);
        QCOMPARE(r.reason, reasons.value(i));
    }
}

void TestFleetRun::cancel_letsRunningWritesFinish_andStartsNoMore()
{
    QMap<int, ControllerSimulator::Faults> faults;
    for (int i = 0; i < 8; ++i)
        faults.insert(i, slow(15));
    Rig rig(8, faults);
    rig.settings.writeTimeoutMs = 200;
    QVERIFY(rig.loadImage());
    rig.discover();
    QTRY_COMPARE(rig.list()->count(), 8);
    QTRY_VERIFY(rig.programButton.contains(true));
    rig.panel->setFleetConcurrency(2);
    rig.all()->setChecked(true);
    rig.prompter.expectMessage(Prompter::Kind::Warning, QStringLiteral("Zel Firmware Updater"), kQuestion.arg(8),
                               QMessageBox::Ok);
    rig.prompter.expectMessage(Prompter::Kind::Warning, QStringLiteral("Program All Discovered Devices"), QString());
    rig.panel->program(QStringLiteral("controller.hex"));

    QTRY_VERIFY(rig.progress.last());
    const auto shown = rig.progress.last();
    QTRY_VERIFY(shown->state(0) == "Writing" && shown->state(1) == "Writing");
    QVERIFY(shown->cancelEnabled);
    shown->cancel();
    shown->cancel(); // a second press changes nothing
    QTRY_VERIFY_WITH_TIMEOUT(!rig.panel->runInProgress(), 10000);
    QCOMPARE(rig.prompter.pendingExpectations(), 0);
    QVERIFY(!shown->cancelEnabled);

    int updated = 0;
    int notStarted = 0;
    for (const ControllerWriteOutcome &o : rig.panel->fleetOutcomes()) {
        const auto c = rig.sim->controller(QHostAddress(o.address).toIPv4Address());
        if (o.result == ControllerWriteOutcome::Result::NotStarted) {
            ++notStarted;
            // Asked for its revision before the run, never written to.
            QCOMPARE(c.firstPacketUs, qint64(-1));
        } else {
            // What was under way was let finish.
            QCOMPARE(o.result, ControllerWriteOutcome::Result::Updated);
            QCOMPARE(c.firmware, rig.product.imageData());
            ++updated;
        }
    }
    QCOMPARE(updated, 2);
    QCOMPARE(notStarted, 6);
    int verified = 0;
    int cancelled = 0;
    for (const UpdateRecord &r : std::as_const(rig.records)) {
        verified += r.outcome == UpdateRecord::Outcome::Verified ? 1 : 0;
        cancelled += r.outcome == UpdateRecord::Outcome::Cancelled ? 1 : 0;
    }
    QCOMPARE(rig.records.size(), 8);
    QCOMPARE(verified, 2);
    QCOMPARE(cancelled, 6);
    QCOMPARE(rig.list()->count(), 6);
    QVERIFY(rig.all()->isChecked());
    QCOMPARE(rig.completions, 0);
    QCOMPARE(rig.programButton.last(), true);
    QVERIFY(rig.log.contains("WARNING Programming all controllers cancelled: the 2 writes under way finish, no new one "
                             "starts."));
    const QString summary = rig.prompter.shown().last().text;
    QVERIFY(summary.startsWith("2 of 8 controllers were updated."));
    QVERIFY(summary.contains("Not started (cancelled):\n" + rig.address(2) + " Ostrel Hub\n"));
    QCOMPARE(shown->state(7), QStringLiteral("Not started"));
}

void TestFleetRun::shutdown_duringProgramAll_stopsEveryWrite()
{
    QMap<int, ControllerSimulator::Faults> faults;
    for (int i = 0; i < 5; ++i)
        faults.insert(i, otherPort());
    Rig rig(5, faults);
    // Far beyond the test's own time-out: shutdown() returns only by stopping the writes.
    rig.settings.writeTimeoutMs = 10 * 60 * 1000;
    QVERIFY(rig.loadImage(0));
    rig.discover();
    QTRY_COMPARE(rig.list()->count(), 5);
    QTRY_VERIFY(rig.all()->isEnabled());
    rig.panel->setFleetConcurrency(4);
    rig.all()->setChecked(true);
    rig.prompter.expectMessage(Prompter::Kind::Warning, QStringLiteral("Zel Firmware Updater"), kQuestion.arg(5),
                               QMessageBox::Ok);
    rig.panel->program(QStringLiteral("controller.hex"));
    // The window opens once the revisions the list lacks have been asked for.
    QTRY_VERIFY(rig.progress.last() && !rig.progress.last()->statuses.isEmpty());
    QTRY_COMPARE(rig.progress.last()->statuses.last(), QStringLiteral("0 of 5 controllers done, 4 being written."));

    rig.panel->shutdown();
    rig.panel->shutdown();
    QVERIFY(!rig.panel->runInProgress());
    QTest::qWait(50);
    QCOMPARE(rig.completions, 0);
    QVERIFY(rig.progress.last()->closed);
    QVERIFY(rig.log.contains("WARNING Program all stopped: the updater is closing; 4 writes under way were stopped."));
    const auto outcomes = rig.panel->fleetOutcomes();
    QCOMPARE(outcomes.size(), 5);
    QCOMPARE(outcomes.at(0).result, ControllerWriteOutcome::Result::Failed);
    QCOMPARE(outcomes.at(0).reason, QStringLiteral("stopped: the updater is closing"));
    QCOMPARE(outcomes.at(4).result, ControllerWriteOutcome::Result::NotStarted);
}

void TestFleetRun::shutdown_afterTheWritesEnded_recordsThemWritten()
{
    Rig rig(2);
    QVERIFY(rig.loadImage(0));
    rig.discover();
    QTRY_COMPARE(rig.list()->count(), 2);
    QTRY_VERIFY(rig.all()->isEnabled());
    // Both revisions known: the writes start at once.
    auto *revision = rig.panel->findChild<QLabel *>("m_label_FWVersion");
    QTRY_VERIFY(!revision->text().isEmpty());
    rig.list()->setCurrentIndex(1);
    QTRY_VERIFY(!revision->text().isEmpty());
    rig.all()->setChecked(true);
    rig.prompter.expectMessage(Prompter::Kind::Warning, QStringLiteral("Zel Firmware Updater"), kQuestion.arg(2),
                               QMessageBox::Ok);
    rig.panel->program(QStringLiteral("controller.hex"));
    // Both writes end; nothing here handles what their threads queued.
    const QList<QTFTP *> threads = rig.panel->findChildren<QTFTP *>();
    QCOMPARE(threads.size(), 2);
    for (QTFTP *thread : threads)
        QVERIFY(thread->wait(30000));
    rig.panel->shutdown();
    QCoreApplication::processEvents();

    const auto outcomes = rig.panel->fleetOutcomes();
    QCOMPARE(outcomes.size(), 2);
    QCOMPARE(rig.records.size(), 2);
    for (int i = 0; i < 2; ++i) {
        QCOMPARE(outcomes.at(i).result, ControllerWriteOutcome::Result::Updated);
        QCOMPARE(rig.sim->controller(rig.ip(i)).firmware, rig.product.imageData());
        QCOMPARE(rig.records.at(i).outcome, UpdateRecord::Outcome::NotVerified);
        QCOMPARE(rig.records.at(i).reason, QStringLiteral("the updater closed before the controller was checked"));
    }
}

void TestFleetRun::programAll_ofMarlows_checksEachByItsOwnReply()
{
    // Their discovery replies carry the revision: each must be judged by its own.
    Rig rig(3);
    for (int i = 0; i < 3; ++i) {
        rig.controllers[i].idstring = "Marlow White";
        rig.controllers[i].verstring = "Marlow SFT-MW 1.7";
        rig.controllers[i].revision = 7;
    }
    rig.controllers[1].noReturn = true;
    rig.controllers[2].revision = 0x4A; // the image's build already
    QVERIFY(rig.startSimulator(rig.settings.tftpPort));
    rig.product.setName(QStringLiteral("Marlow White"));
    rig.product.processor(0)->setSft(QStringLiteral("SFT-MW"));
    rig.panel->setVerifyWait(500);
    QVERIFY(rig.loadImage(0));
    rig.discover();
    QTRY_COMPARE(rig.list()->count(), 3);
    QTRY_VERIFY(rig.all()->isEnabled());
    rig.all()->setChecked(true);
    rig.prompter.expectMessage(Prompter::Kind::Warning, QStringLiteral("Zel Firmware Updater"),
                               QStringLiteral("You are about to update the firmware of all 3 discovered Marlow White "
                                              "controllers!\nDo you wish to continue?"),
                               QMessageBox::Ok);
    rig.prompter.expectMessage(Prompter::Kind::Information, QStringLiteral("Program All Discovered Devices"), QString());
    rig.panel->program(QStringLiteral("controller.hex"));
    QTRY_VERIFY_WITH_TIMEOUT(!rig.panel->runInProgress(), 30000);
    QCOMPARE(rig.prompter.pendingExpectations(), 0);

    QCOMPARE(rig.records.size(), 3);
    QMap<QString, UpdateRecord> byAddress;
    for (const UpdateRecord &r : std::as_const(rig.records))
        byAddress.insert(r.address, r);
    const UpdateRecord verified = byAddress.value(rig.address(0));
    QCOMPARE(verified.outcome, UpdateRecord::Outcome::Verified);
    QCOMPARE(verified.revisionBefore, QStringLiteral("7"));
    QCOMPARE(verified.revisionAfter, QStringLiteral("74"));
    const UpdateRecord gone = byAddress.value(rig.address(1));
    QCOMPARE(gone.outcome, UpdateRecord::Outcome::NotVerified);
    QVERIFY(gone.revisionAfter.isNull());
    QCOMPARE(gone.reason, QStringLiteral("no answer within 0.51 s of the write"));
    const UpdateRecord same = byAddress.value(rig.address(2));
    QCOMPARE(same.outcome, UpdateRecord::Outcome::NotVerified);
    QCOMPARE(same.revisionBefore, QStringLiteral("74"));
    QCOMPARE(same.revisionAfter, QStringLiteral("74"));
    QVERIFY(same.reason.startsWith("the controller reports build 74 as it did before the write"));
}

void TestFleetRun::programAll_readsTheRevisionsTheListLacks_soASameBuildIsNotVerified_data()
{
    // Controller 0 is the one chosen at discovery, 1 runs the image's build
    // already and keeps it, 2 runs an older one.
    QTest::addColumn<bool>("told");
    QTest::addColumn<QStringList>("before");
    QTest::addColumn<QList<UpdateRecord::Outcome>>("outcomes");
    QTest::addColumn<QStringList>("reasons");
    const auto V = UpdateRecord::Outcome::Verified;
    const auto N = UpdateRecord::Outcome::NotVerified;
    const QString untold = QStringLiteral("the controller did not tell its revision before the write, so build 74 "
                                          "cannot tell the image from the firmware it may have run");
    QTest::newRow("every controller tells") << true << QStringList {"33", "74", "32"} << QList {V, N, V}
                                            << QStringList {QString(),
                                                            "the controller reports build 74 as it did before the "
                                                            "write, so its revision cannot tell the image from the "
                                                            "firmware it ran",
                                                            QString()};
    QTest::newRow("the others do not tell") << false << QStringList {"33", QString(), QString()} << QList {V, N, N}
                                            << QStringList {QString(), untold, untold};
}

void TestFleetRun::programAll_readsTheRevisionsTheListLacks_soASameBuildIsNotVerified()
{
    QFETCH(bool, told);
    QFETCH(QStringList, before);
    QFETCH(QList<UpdateRecord::Outcome>, outcomes);
    QFETCH(QStringList, reasons);
    Rig rig(3);
    rig.controllers[1].revision = 0x4A;
    rig.controllers[1].keepRevision = true;
    rig.controllers[2].revision = 0x20;
    QVERIFY(rig.startSimulator(rig.settings.tftpPort));
    rig.panel->setVerifyWait(500);
    QVERIFY(rig.loadImage(0));
    rig.discover();
    QTRY_COMPARE(rig.list()->count(), 3);
    QTRY_COMPARE(rig.panel->findChild<QLabel *>("m_label_FWVersion")->text(), QStringLiteral("Rev. 33"));
    rig.all()->setChecked(true);
    // Asked, they give up at once: no answer can come in time.
    if (!told)
        rig.settings.queryWindowMs = 0;
    const int pauses = int(rig.pauser.pauses.size());
    rig.waits.clear();
    rig.prompter.expectMessage(Prompter::Kind::Warning, QStringLiteral("Zel Firmware Updater"), kQuestion.arg(3),
                               QMessageBox::Ok);
    rig.prompter.expectMessage(Prompter::Kind::Information, QStringLiteral("Program All Discovered Devices"), QString());
    rig.panel->program(QStringLiteral("controller.hex"));
    QTRY_VERIFY_WITH_TIMEOUT(!rig.panel->runInProgress(), 20000);
    QCOMPARE(rig.prompter.pendingExpectations(), 0);

    QCOMPARE(rig.records.size(), 3);
    for (const UpdateRecord &r : std::as_const(rig.records)) {
        const int i = int(QHostAddress(r.address).toIPv4Address() - rig.ip(0));
        QCOMPARE(r.outcome, outcomes.at(i));
        QCOMPARE(r.reason, reasons.at(i));
        QCOMPARE(r.revisionBefore, before.at(i));
        QCOMPARE(r.revisionAfter, QStringLiteral("74"));
        QCOMPARE(rig.sim->controller(rig.ip(i)).writes, 1);
    }
    // The read is a wait of its own, ended before the writes' window opens.
    QCOMPARE(rig.waits.value(0), QStringLiteral("Reading the revisions of 2 controllers…"));
    const int ended = int(rig.waits.indexOf(QString()));
    QVERIFY(ended > 0);
    QVERIFY(rig.waits.at(ended - 1).startsWith(QStringLiteral("Reading the revisions of 2 controllers… ")));
    QCOMPARE(rig.waits.value(ended + 1), QStringLiteral("Checking 3 controllers after the update…"));
    // Those read by "info" get the controllers' pause before the writes.
    QCOMPARE(rig.pauser.pauses.mid(pauses), told ? QList<int> {5000} : QList<int> {});

    if (!told)
        QVERIFY(rig.log.contains("WARNING Controller " + rig.address(2) + " did not tell its revision before the "
                                 "update (no answer within 0 s): it stays unknown, and the check afterwards cannot "
                                 "verify it by its build alone."));
    else
        QVERIFY(rig.log.contains("Controller " + rig.address(1) + " runs revision 74 before the update."));
}

void TestFleetRun::shutdown_whileTheRevisionsAreRead_writesNothing()
{
    Rig rig(3, {{1, silent()}, {2, silent()}});
    // Far beyond the test's own time-out: the read ends only by the shutdown.
    rig.settings.queryWindowMs = 10 * 60 * 1000;
    QVERIFY(rig.loadImage(0));
    rig.discover();
    QTRY_COMPARE(rig.list()->count(), 3);
    QTRY_VERIFY(rig.all()->isEnabled());
    rig.all()->setChecked(true);
    rig.prompter.expectMessage(Prompter::Kind::Warning, QStringLiteral("Zel Firmware Updater"), kQuestion.arg(3),
                               QMessageBox::Ok);
    rig.panel->program(QStringLiteral("controller.hex"));
    QVERIFY(rig.panel->runInProgress());
    QTRY_VERIFY(rig.waits.contains(QStringLiteral("Reading the revisions of 2 controllers…")));

    rig.panel->shutdown();
    QVERIFY(!rig.panel->runInProgress());
    QCOMPARE(rig.waits.last(), QString());
    QVERIFY(rig.progress.opened.isEmpty());
    QCOMPARE(rig.records.size(), 3);
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(rig.records.at(i).outcome, UpdateRecord::Outcome::Cancelled);
        QCOMPARE(rig.records.at(i).reason, QStringLiteral("stopped: the updater is closing"));
        QCOMPARE(rig.sim->controller(rig.ip(i)).firstPacketUs, qint64(-1));
    }
}

void TestFleetRun::fleetWriter_writesAnAddressListedTwiceOnce()
{
    Rig rig(2);
    const QByteArray image(1500, 'x');
    FleetWriter writer({{rig.address(0), "A", ""}, {rig.address(1), "B", ""}, {rig.address(0), "A again", ""}}, image);
    writer.setPort(rig.sim->tftpPort());
    writer.setTimeout(200);
    QSignalSpy finished(&writer, &FleetWriter::finished);
    writer.start();
    QVERIFY(finished.wait(30000));
    QCOMPARE(writer.outcomes().size(), 2);
    QCOMPARE(writer.outcomes().at(0).idstring, QStringLiteral("A"));
    QCOMPARE(rig.sim->controller(rig.ip(0)).writes, 1);
    QCOMPARE(rig.sim->controller(rig.ip(1)).firmware, image);
}

void TestFleetRun::progressDialog_showsRows_andCancelAsksOnlyOnce()
{
    int cancels = 0;
    QWidget window;
    std::unique_ptr<FleetProgressView> view = FleetProgressDialog::open(
        &window, QStringLiteral("Program All Discovered Devices"),
        {{"127.0.0.10", "Ostrel Hub"}, {"127.0.0.11", "Ostrel Hub"}}, [&] { ++cancels; });
    auto *dialog = window.findChild<FleetProgressDialog *>();
    QVERIFY(dialog && dialog->isVisible());
    view->setRow(1, QStringLiteral("Writing"), 40);
    view->setOverall(140, 200);
    auto *table = dialog->findChild<QTableWidget *>("m_tableWidget_controllers");
    QCOMPARE(table->rowCount(), 2);
    QCOMPARE(table->item(1, 0)->text(), QStringLiteral("127.0.0.11"));
    QCOMPARE(table->item(1, 2)->text(), QStringLiteral("Writing"));
    QCOMPARE(qobject_cast<QProgressBar *>(table->cellWidget(1, 3))->value(), 40);
    QCOMPARE(dialog->findChild<QProgressBar *>("m_progressBar_overall")->value(), 140);

    // Escape or the window's close asks to cancel; the run, not the dialog, decides when it closes.
    dialog->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Cancel)->click();
    QTest::keyClick(dialog, Qt::Key_Escape);
    QCOMPARE(cancels, 2);
    QVERIFY(dialog->isVisible());
    view->close();
    QVERIFY(!dialog->isVisible());
    QTest::keyClick(&window, Qt::Key_Escape);
    QCOMPARE(cancels, 2);
}

QTEST_MAIN(TestFleetRun)
#include "test_FleetRun.moc"
