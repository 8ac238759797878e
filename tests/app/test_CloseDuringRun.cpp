// Closing the window while a device has been written and its check after the
// update is still waiting: the operator is asked first, and a run stopped by
// quitting anyway is in the update record all the same.
#include "tests/app/WindowFixture.h"
#include "tests/ethernet/ControllerImage.h"

#include "base/Logger.h"
#include "base/UpdateRecordFile.h"
#include "dmx/zeldmxInterfaceControl.h"
#include "ethernet/tftpInterfaceControl.h"
#include "usb/usbInterfaceControl.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

namespace {

using Kind = Prompter::Kind;

// Far longer than the test: the check is still waiting when the window closes.
constexpr int kLongVerifyWaitMs = 10 * 60 * 1000;

QString writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

} // namespace

class TestCloseDuringRun : public QObject
{
    Q_OBJECT

    QTemporaryDir m_workDir;
    QString m_previousDir;

private slots:
    void initTestCase()
    {
        QVERIFY(m_workDir.isValid());
        m_previousDir = QDir::currentPath();
    }
    void cleanupTestCase() { QDir::setCurrent(m_previousDir); }

    void closingAsksAndAStoppedCheckIsRecordedNotVerified_data();
    void closingAsksAndAStoppedCheckIsRecordedNotVerified();
};

void TestCloseDuringRun::closingAsksAndAStoppedCheckIsRecordedNotVerified_data()
{
    QTest::addColumn<int>("interfaceIndex");
    QTest::addColumn<QString>("deviceType");
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("image");
    QTest::addColumn<int>("confirmationKind"); // of the box that confirms the run; -1: none
    QTest::addColumn<QString>("checking"); // logged once the device was written and the check waits

    // Sample catalogue geometry, as the unattended runs use it.
    const QString sorrel = writeBytes(m_workDir.filePath("sorrel.hex"),
                                      controllerHex({{0x1FFE0, 0x53523301}, {0x1FFE4, 0x10054}}, 4096));
    const QString ostrel = writeBytes(m_workDir.filePath("ostrel.hex"),
                                      controllerHex({{0x3FF00, 0xE7C00101}, {0x3FF04, 0x00020122}}, 2048));
    const QString cove = qEnvironmentVariable("ZEL_SOURCE_DIR") + "/resources/samples/CoveWash-5.1.3.hex";

    QTest::newRow("player") << 0 << "Sorrel 3" << "" << sorrel << -1
                            << "Reading the firmware version of the Sorrel 3 again";
    QTest::newRow("controller") << 2 << "Ostrel Hub" << "127.0.0.3" << ostrel << -1
                                << "Checking the firmware revision of 127.0.0.3";
    QTest::newRow("fixture") << 1 << "Cove Wash" << "8100C001" << cove << int(Kind::Warning)
                             << "Finalize and reset.";
}

void TestCloseDuringRun::closingAsksAndAStoppedCheckIsRecordedNotVerified()
{
    QFETCH(int, interfaceIndex);
    QFETCH(QString, deviceType);
    QFETCH(QString, address);
    QFETCH(QString, image);
    QFETCH(int, confirmationKind);
    QFETCH(QString, checking);

    QTemporaryDir cwd; // the update record goes beside the session log
    QDir::setCurrent(cwd.path());
    WindowFixture::Options options;
    options.cataloguePath = sampleCataloguePath();
    options.interfaceIndex = interfaceIndex;
    options.deviceType = deviceType;
    options.deviceAddress = address;
    options.simulation.noReturn = true;
    WindowFixture f(options);
    f.window->show();
    f.window->usbPanel()->setVerifyWait(kLongVerifyWaitMs);
    f.window->zeldmxPanel()->setVerifyWait(kLongVerifyWaitMs);
    f.window->tftpPanel()->setVerifyWait(kLongVerifyWaitMs);
    bool checkWaiting = false;
    connect(Logger::instance(nullptr), &Logger::latestLogString, f.window.get(), [&](const QString &line) {
        if (line.contains(checking))
            checkWaiting = true;
    });

    f.prompter.expectFileDialog(image);
    f.window->selectFirmwareImage();
    QCOMPARE(f.window->runState(), ZelBootLoader::RunState::Ready);

    QSignalSpy found(interfaceIndex == 0   ? static_cast<QObject *>(f.window->usbPanel())
                     : interfaceIndex == 1 ? static_cast<QObject *>(f.window->zeldmxPanel())
                                           : static_cast<QObject *>(f.window->tftpPanel()),
                     SIGNAL(signal_deviceSearchDone(bool, QString)));
    if (interfaceIndex == 0)
        f.window->usbPanel()->findDevice(address);
    else if (interfaceIndex == 1)
        f.window->zeldmxPanel()->findDevice(address);
    else
        f.window->tftpPanel()->findDevice(address);
    QVERIFY(found.wait(60000));
    QVERIFY2(found.first().at(0).toBool(), qPrintable(found.first().at(1).toString()));
    QVERIFY(f.window->programOffered());

    if (confirmationKind >= 0)
        f.prompter.expectMessage(Kind(confirmationKind), QString(), QString(), QMessageBox::Ok);
    f.window->program();
    QTRY_VERIFY_WITH_TIMEOUT(checkWaiting, 60000);
    QCOMPARE(f.window->runState(), ZelBootLoader::RunState::Programming);

    // No, the default, keeps the window and the run.
    const QString question = QStringLiteral("An update is in progress. Quit anyway?");
    f.prompter.expectMessage(Kind::Question, QStringLiteral("Zel Firmware Updater"), question, QMessageBox::No);
    QVERIFY(!f.window->close());
    QVERIFY(f.window->isVisible());
    QCOMPARE(f.prompter.shown().last().defaultButton, QMessageBox::No);
    QCOMPARE(f.prompter.shown().last().buttons, QMessageBox::Yes | QMessageBox::No);
    QCOMPARE(f.window->runState(), ZelBootLoader::RunState::Programming);
    QVERIFY(UpdateRecordFile(cwd.path()).read().records.isEmpty());

    f.prompter.expectMessage(Kind::Question, QStringLiteral("Zel Firmware Updater"), question, QMessageBox::Yes);
    QVERIFY(f.window->close());
    QVERIFY(!f.window->isVisible());
    QCOMPARE(f.prompter.pendingExpectations(), 0);
    f.destroyWindow();

    // What was written and not checked is on record, as History shows it.
    const UpdateRecordFile::Contents record = UpdateRecordFile(cwd.path()).read();
    QCOMPARE(record.damagedLines, QList<int>());
    QCOMPARE(record.records.size(), 1);
    const UpdateRecord &stopped = record.records.first();
    QCOMPARE(stopped.deviceType, deviceType);
    QCOMPARE(UpdateRecord::outcomeName(stopped.outcome), QStringLiteral("not verified"));
    QVERIFY(!stopped.reason.isEmpty());
    QVERIFY(stopped.revisionAfter.isNull());
}

QTEST_MAIN(TestCloseDuringRun)
#include "test_CloseDuringRun.moc"
