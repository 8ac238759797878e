// Unattended runs inside the test process, on the real window and simulated
// devices, where the run's own limits and the devices can be steered: what
// exit code and advice the production line's script would be given.
#include "app/CommandLine.h"
#include "app/DeviceEnvironment.h"
#include "app/UnattendedPrompter.h"
#include "app/UnattendedRun.h"
#include "app/ZelBootLoader.h"
#include "base/Logger.h"
#include "base/UpdateRecordFile.h"
#include "dmx/Hollis.h"
#include "dmx/SimulatedHollis.h"
#include "tests/app/WindowFixture.h"
#include "tests/ethernet/ControllerImage.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

QString writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

// The parts main() puts together for a run without an operator, on the
// simulated devices and the sample catalogue.
struct InWindowRun {
    FakePrompter progress; // progress dialogs only
    RecordingPauser pauser;
    StartOptions options;
    std::unique_ptr<DeviceEnvironment> devices;
    std::unique_ptr<UnattendedPrompter> prompter;
    std::unique_ptr<ZelBootLoader> window;
    std::unique_ptr<UnattendedRun> run;
    QStringList said; // the boxes, as the error output would show them

    explicit InWindowRun(const QStringList &arguments)
    {
        options = parseCommandLine(QStringList{"zel-updater", "-autoConnect"} + arguments);
        if (!options.errors.isEmpty())
            qFatal("bad test arguments: %s", qPrintable(options.errors.join("; ")));
        DeviceEnvironment::SimulationOptions simulation;
        simulation.keepRevision = options.simulateKeepRevision;
        simulation.noReturn = options.simulateNoReturn;
        devices = DeviceEnvironment::create(true, simulation);
        if (options.verifyWaitSeconds >= 0)
            devices->setVerifyWaitMs(options.verifyWaitSeconds * 1000);
        prompter = std::make_unique<UnattendedPrompter>(options.firmwarePath, options.allowedQuestions, progress);
        prompter->setEcho([this](const QString &line) { said.append(line); });
        AppServices services;
        services.prompter = prompter.get();
        services.pauser = &pauser;
        services.devices = devices.get();
        services.cataloguePath = sampleCataloguePath();
        window = std::make_unique<ZelBootLoader>(options.interfaceIndex, options.deviceType,
                                                 options.deviceAddress, options.autoConnect, services);
        window->setAskBeforeClosingRun(false);
        window->show();
        run = std::make_unique<UnattendedRun>(*window, options, *prompter);
    }

    // Runs to the end as main() does: a run that asked to be stopped is
    // abandoned once the event loop is left.
    bool runToTheEnd()
    {
        QSignalSpy done(run.get(), &UnattendedRun::finished);
        run->start();
        if (!done.wait(120000))
            return false;
        if (!run->isFinished())
            run->abandon(QStringLiteral("The updater was ended during the run."));
        return run->isFinished();
    }

    QString describe() const
    {
        return QStringLiteral("exit %1: %2\n%3")
            .arg(int(run->result().exitCode))
            .arg(run->result().message, said.join('\n'));
    }
};

} // namespace

class TestUnattendedRunInWindow : public QObject
{
    Q_OBJECT

    QTemporaryDir m_images;
    QString m_previousDir;

    QString ostrelImage()
    {
        return writeBytes(m_images.filePath("ostrel.hex"),
                          controllerHex({{0x3FF00, 0xE7C00101}, {0x3FF04, 0x00020122}}, 2048));
    }
    QString sorrelImage()
    {
        return writeBytes(m_images.filePath("sorrel.hex"),
                          controllerHex({{0x1FFE0, 0x53523301}, {0x1FFE4, 0x10054}}, 4096));
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_images.isValid());
        m_previousDir = QDir::currentPath();
    }
    void cleanupTestCase() { QDir::setCurrent(m_previousDir); }

    void stepPastItsLimit_searchIsNotFoundAndAnUpdateEndsAsRecorded_data();
    void stepPastItsLimit_searchIsNotFoundAndAnUpdateEndsAsRecorded();
    void severalDevices_notWrittenOutweighsWrittenButUnchecked_data();
    void severalDevices_notWrittenOutweighsWrittenButUnchecked();
    void allFixtures_takenInAnyLetterCase_data();
    void allFixtures_takenInAnyLetterCase();
    void endedBeforeItsFirstStep_nothingIsStartedWhileStopping();
};

void TestUnattendedRunInWindow::stepPastItsLimit_searchIsNotFoundAndAnUpdateEndsAsRecorded_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("hangsAt"); // the limit runs out once this is logged; empty: at once
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("outcome"); // of the record and the result; empty: none

    QTest::newRow("search")
        << QStringList{"-ethernet", "-deviceType=Ostrel Hub", "-deviceAddress=127.0.0.3", "-firmware=" + ostrelImage()}
        << QString() << 3 << QString();
    // Written, and the player never comes back: stopped at the limit, it is
    // "not verified" in the record and in the result alike.
    QTest::newRow("update, waiting for the check")
        << QStringList{"-usb", "-deviceType=Sorrel 3", "-firmware=" + sorrelImage(), "-simulate=no-return",
                       "-verifyWait=600"}
        << "Reading the firmware version of the Sorrel 3 again" << 5 << "not verified";
}

void TestUnattendedRunInWindow::stepPastItsLimit_searchIsNotFoundAndAnUpdateEndsAsRecorded()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, hangsAt);
    QFETCH(int, exitCode);
    QFETCH(QString, outcome);
    QTemporaryDir cwd;
    QDir::setCurrent(cwd.path());
    InWindowRun r(arguments);
    if (hangsAt.isEmpty()) {
        r.run->setStepLimit(0);
    } else {
        connect(Logger::instance(nullptr), &Logger::latestLogString, r.window.get(), [&](const QString &line) {
            if (line.contains(hangsAt))
                r.run->setStepLimit(0);
        });
    }
    QVERIFY(r.runToTheEnd());
    const UnattendedResult &result = r.run->result();
    QVERIFY2(int(result.exitCode) == exitCode, qPrintable(r.describe()));
    QVERIFY2(result.message.contains(QStringLiteral("did not end within")), qPrintable(result.message));
    QVERIFY(!result.refusedQuestion);

    const QList<UpdateRecord> records = UpdateRecordFile(cwd.path()).read().records;
    if (outcome.isEmpty()) {
        QVERIFY(records.isEmpty());
        QVERIFY(!result.record);
        return;
    }
    QCOMPARE(records.size(), 1);
    QCOMPARE(UpdateRecord::outcomeName(records.first().outcome), outcome);
    QVERIFY(result.record);
    QCOMPARE(result.record->outcome, records.first().outcome);
    QCOMPARE(result.record->reason, records.first().reason);
    QCOMPARE(result.record->imageSha256, records.first().imageSha256);
}

void TestUnattendedRunInWindow::severalDevices_notWrittenOutweighsWrittenButUnchecked_data()
{
    using O = UpdateRecord::Outcome;
    QTest::addColumn<QList<O>>("outcomes");
    QTest::addColumn<int>("decisive");

    QTest::newRow("cancelled after not verified") << QList<O>{O::NotVerified, O::Cancelled} << 1;
    QTest::newRow("cancelled before not verified") << QList<O>{O::Cancelled, O::NotVerified, O::Verified} << 0;
    QTest::newRow("not verified among verified") << QList<O>{O::Verified, O::NotVerified, O::Verified} << 1;
    QTest::newRow("failed outweighs cancelled") << QList<O>{O::Cancelled, O::Failed} << 1;
    QTest::newRow("mismatch outweighs failed") << QList<O>{O::Mismatch, O::Failed} << 0;
    QTest::newRow("all verified: the first") << QList<O>{O::Verified, O::Verified} << 0;
}

void TestUnattendedRunInWindow::severalDevices_notWrittenOutweighsWrittenButUnchecked()
{
    QFETCH(QList<UpdateRecord::Outcome>, outcomes);
    QFETCH(int, decisive);
    QList<UpdateRecord> records;
    for (UpdateRecord::Outcome outcome : outcomes) {
        UpdateRecord record;
        record.outcome = outcome;
        record.address = QString::number(records.size());
        records.append(record);
    }
    QCOMPARE(UnattendedRun::decisiveRecord(records), decisive);
}

void TestUnattendedRunInWindow::allFixtures_takenInAnyLetterCase_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("yes");
    QTest::addColumn<bool>("fixturesAnswer"); // false: the supplies have no fixtures at all
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("allowWith");

    // No Cove Wash answers: nothing to advise, an address given or not.
    for (const char *all : {"all", "ALL", "All"})
        QTest::newRow(qPrintable(QStringLiteral("%1, none answer").arg(all)))
            << QString::fromLatin1(all) << QString() << false << 3 << QString();
    QTest::newRow("ALL, none answer, manual address allowed")
        << "ALL" << "-yes=manual-address" << false << 3 << QString();
    // They answer: the question for all of them is what stops the run.
    QTest::newRow("ALL, they answer") << "ALL" << QString() << true << 4 << "-yes=all-fixtures";
}

void TestUnattendedRunInWindow::allFixtures_takenInAnyLetterCase()
{
    QFETCH(QString, address);
    QFETCH(QString, yes);
    QFETCH(bool, fixturesAnswer);
    QFETCH(int, exitCode);
    QFETCH(QString, allowWith);
    QTemporaryDir cwd;
    QDir::setCurrent(cwd.path());
    QStringList arguments{"-ZELDMX", "-deviceType=Cove Wash", "-deviceAddress=" + address,
                          "-firmware=" + qEnvironmentVariable("ZEL_SOURCE_DIR") + "/resources/samples/CoveWash-5.1.3.hex"};
    if (!yes.isEmpty())
        arguments.append(yes);
    InWindowRun r(arguments);
    if (!fixturesAnswer) {
        auto &hollis = static_cast<ZelHollis::SimulatedHollis &>(r.devices->hollis().backend());
        for (int supply : {ZelHollis::SimulatedHollis::kNetworkSupply, ZelHollis::SimulatedHollis::kUsbSupply})
            hollis.setFixtures(supply, {});
    }

    QVERIFY(r.runToTheEnd());
    const UnattendedResult &result = r.run->result();
    QVERIFY2(int(result.exitCode) == exitCode, qPrintable(r.describe()));
    QCOMPARE(result.allowingOption(), allowWith);
    QCOMPARE(result.toJson().value("allowWith").toString(), allowWith);
    for (const UpdateRecord &record : UpdateRecordFile(cwd.path()).read().records)
        QCOMPARE(record.outcome, UpdateRecord::Outcome::Cancelled);
}

// Ended before the event loop ran its first step: stopping the window's
// device work delivers what was queued, and that must not start the run.
void TestUnattendedRunInWindow::endedBeforeItsFirstStep_nothingIsStartedWhileStopping()
{
    QTemporaryDir cwd;
    QDir::setCurrent(cwd.path());
    InWindowRun r({"-ZELDMX", "-deviceType=Cove Wash", "-deviceAddress=8100C001",
                   "-firmware=" + qEnvironmentVariable("ZEL_SOURCE_DIR") + "/resources/samples/CoveWash-5.1.3.hex"});
    r.run->start();
    r.run->abandon(QStringLiteral("The updater was ended during the run."));
    QVERIFY(r.run->isFinished());
    QCOMPARE(int(r.run->result().exitCode), 1);
    QCOMPARE(r.said, QStringList()); // not even the image was asked for
    QCOMPARE(r.window->runState(), ZelBootLoader::RunState::Idle);
    QCoreApplication::processEvents();
    QCOMPARE(r.said, QStringList());
}

QTEST_MAIN(TestUnattendedRunInWindow)
#include "test_UnattendedRunInWindow.moc"
