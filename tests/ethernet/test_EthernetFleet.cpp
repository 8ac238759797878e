#include "tests/app/WindowFixture.h"

#include "ethernet/tftpInterfaceControl.h"
#include "simulator/NetnsPair.h"
#include "tests/ethernet/ControllerImage.h"
#include "tests/ethernet/PeerProcess.h"
#include "tests/ethernet/RecordingFleetProgress.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

NetnsPair *g_netns = nullptr;
QString g_skipReason;

constexpr int kControllers = 20;
constexpr int kLimit = 4;
// Controllers that hear nothing, and controllers that answer from another port.
const QList<int> kSilent {3, 8, 14};
const QList<int> kOtherPort {6, 17};

QString address(int index)
{
    return QStringLiteral("198.51.100.%1").arg(10 + index);
}

} // namespace

// The real window, on one side of a veth pair, programming twenty simulated
// controllers on their own addresses on the other side, some of them broken.
class TestEthernetFleet : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void twentyControllers_goodOnesUpdated_badOnesReported_limitKept_retryUpdatesTheRest();

private:
    bool startControllers(PeerProcess &sim, bool withFaults);
    QByteArray stored(int index) const;

    QTemporaryDir m_dir;
};

void TestEthernetFleet::initTestCase()
{
    if (!g_skipReason.isEmpty())
        QSKIP(qPrintable(QStringLiteral("network namespaces cannot be made here (%1); "
                                        "nothing was sent to any network").arg(g_skipReason)));
    QVERIFY(m_dir.isValid());
    for (int i = 0; i < kControllers; ++i)
        QVERIFY(g_netns->addPeerAddress(address(i)));
}

bool TestEthernetFleet::startControllers(PeerProcess &sim, bool withFaults)
{
    QStringList program {qEnvironmentVariable("ZEL_CONTROLLER_SIM"), "--bind", "0.0.0.0", "--discovery-port", "6038",
                         "--tftp-port", "69", "--store", m_dir.path(), "--quiet"};
    for (int i = 0; i < kControllers; ++i) {
        QString fields = QStringLiteral("ip=%1,id=Ostrel Hub,verstring=SFT-OH 2.1,rev=33,sn=%2").arg(address(i)).arg(500 + i);
        if (withFaults && kSilent.contains(i))
            fields += QStringLiteral(",drop-in=1");
        if (withFaults && kOtherPort.contains(i))
            fields += QStringLiteral(",other-port=1");
        program << "--controller" << fields;
    }
    return sim.start(*g_netns, program, "READY");
}

QByteArray TestEthernetFleet::stored(int index) const
{
    QFile file(m_dir.filePath(address(index) + QStringLiteral(".firmware")));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void TestEthernetFleet::twentyControllers_goodOnesUpdated_badOnesReported_limitKept_retryUpdatesTheRest()
{
    PeerProcess sim;
    QVERIFY(startControllers(sim, true));

    WindowFixture::Options options;
    options.cataloguePath = sampleCataloguePath();
    WindowFixture f(options);
    EthernetSettings &s = f.devices->ethernet();
    s.discoveryDestination = QString::fromLatin1(NetnsPair::kPeerAddress);
    s.discoveryPortOverride = 0;
    s.tftpPort = 69;
    s.announcePort = 0;
    s.pollIntervalMs = 20;
    s.discoveryWindowMs = 300;
    s.queryWindowMs = 1500;
    s.infoReadTimeoutMs = 150;
    s.writeTimeoutMs = 100;

    const QString file = m_dir.filePath(QStringLiteral("hub.hex"));
    {
        QFile out(file);
        QVERIFY(out.open(QIODevice::WriteOnly));
        out.write(controllerHex({{0x3FF00, 0xE7C00101}, {0x3FF04, 0x00030156}}, 6000));
    }
    QFile in(file);
    QVERIFY(in.open(QIODevice::ReadOnly));
    const QByteArray bytes = in.readAll();

    f.find<QComboBox>(QStringLiteral("m_comboBox_interfaceSelect"))->setCurrentIndex(2);
    auto *devices = f.find<QComboBox>(QStringLiteral("m_comboBox_deviceSelect"));
    devices->setCurrentIndex(devices->findText(QStringLiteral("Ostrel Hub")));
    f.prompter.expectFileDialog(file);
    f.find<QPushButton>(QStringLiteral("m_pushButton_firmwareImageFileSelect"))->click();

    auto *panel = f.window->findChild<tftpInterfaceControl *>();
    RecordingFleetProgress progress;
    panel->setFleetProgressFactory(progress.factory());
    auto *list = panel->findChild<QComboBox *>(QStringLiteral("m_comboBox_TFTPDevicesDiscovered"));
    auto *all = panel->findChild<QCheckBox *>(QStringLiteral("m_checkBox_tftpProgramAll"));
    auto *program = f.find<QPushButton>(QStringLiteral("m_pushButton_program"));
    panel->findChild<QPushButton *>(QStringLiteral("m_pushButton_TFTPDiscover"))->click();
    QTRY_COMPARE_WITH_TIMEOUT(panel->findChild<QLabel *>(QStringLiteral("m_label_FWVersion"))->text(),
                              QStringLiteral("Rev. 33"), 10000);
    QCOMPARE(list->count(), kControllers);
    QVERIFY(all->isEnabled());
    panel->findChild<QSpinBox *>(QStringLiteral("m_spinBox_tftpProgramAllLimit"))->setValue(kLimit);
    all->setChecked(true);
    QVERIFY(program->isEnabled());

    const QString question = QStringLiteral("You are about to update the firmware of all %1 discovered Ostrel Hub "
                                            "controllers!\nDo you wish to continue?");
    const QString title = QStringLiteral("Program All Discovered Devices");
    f.prompter.expectMessage(Prompter::Kind::Warning, QStringLiteral("Zel Firmware Updater"),
                             question.arg(kControllers), QMessageBox::Ok);
    f.prompter.expectMessage(Prompter::Kind::Warning, title, QString());
    QSignalSpy records(panel, &tftpInterfaceControl::signal_runRecord);
    program->click();
    QVERIFY(!program->isEnabled());
    QVERIFY(panel->runInProgress());
    QTRY_VERIFY_WITH_TIMEOUT(!panel->runInProgress(), 60000);
    QCOMPARE(f.prompter.pendingExpectations(), 0);
    QVERIFY(program->isEnabled());

    QStringList left;
    const QString summary = f.prompter.shown().last().text;
    const auto outcomes = panel->fleetOutcomes();
    QCOMPARE(outcomes.size(), kControllers);
    for (int i = 0; i < kControllers; ++i) {
        QCOMPARE(outcomes.at(i).address, address(i));
        if (kSilent.contains(i) || kOtherPort.contains(i)) {
            const QString reason = QStringLiteral("no answer from the controller; the write gave up after 14 attempts");
            QCOMPARE(outcomes.at(i).reason, reason);
            QVERIFY2(summary.contains(address(i) + QStringLiteral(" Ostrel Hub: ") + reason), qPrintable(address(i)));
            QVERIFY(stored(i).isEmpty());
            left.append(address(i) + QStringLiteral(" Ostrel Hub"));
        } else {
            QVERIFY(outcomes.at(i).updated());
            // The simulator files an image just after its last acknowledgement.
            QTRY_COMPARE(stored(i), bytes);
        }
    }
    QVERIFY(summary.startsWith(QStringLiteral("15 of 20 controllers were updated.")));
    // Every written controller was asked what it runs before the run ended.
    QCOMPARE(records.size(), kControllers);
    int verified = 0;
    for (const QList<QVariant> &args : std::as_const(records)) {
        const UpdateRecord r = args.first().value<UpdateRecord>();
        if (r.outcome == UpdateRecord::Outcome::Verified && r.revisionAfter == QStringLiteral("86"))
            ++verified;
    }
    QCOMPARE(verified, kControllers - 5);
    QStringList listed;
    for (int i = 0; i < list->count(); ++i)
        listed.append(list->itemText(i));
    QCOMPARE(listed, left);
    QVERIFY(all->isChecked());
    QVERIFY(!f.logLines().filter(QStringLiteral("Program all complete: 15 of 20 controllers updated, 5 failed, "
                                                "0 not started.")).isEmpty());

    // What each controller heard tells which writes overlapped.
    const QByteArray said = sim.stop();
    static const QRegularExpression traffic(QStringLiteral("TRAFFIC (\\S+) packets=\\d+ first=(\\d+) last=(\\d+)"));
    QList<QPair<qint64, qint64>> spans;
    for (auto m = traffic.globalMatch(QString::fromLatin1(said)); m.hasNext();) {
        const auto match = m.next();
        spans.append({match.captured(2).toLongLong(), match.captured(3).toLongLong()});
    }
    QCOMPARE(spans.size(), kControllers);
    const int most = mostAtOnce(spans);
    QVERIFY2(most <= kLimit && most >= 2, qPrintable(QString::number(most)));

    // Made good, only the five that failed are written again.
    PeerProcess good;
    QVERIFY(startControllers(good, false));
    f.prompter.expectMessage(Prompter::Kind::Warning, QStringLiteral("Zel Firmware Updater"), question.arg(5),
                             QMessageBox::Ok);
    f.prompter.expectMessage(Prompter::Kind::Information, title, QString());
    QSignalSpy complete(panel, &tftpInterfaceControl::signal_programComplete);
    program->click();
    QVERIFY(complete.wait(30000));
    QCOMPARE(f.prompter.pendingExpectations(), 0);
    QVERIFY(f.prompter.shown().last().text.startsWith(QStringLiteral("All 5 controllers were updated.")));
    for (int i = 0; i < kControllers; ++i)
        QTRY_COMPARE(stored(i), bytes);
    const QByteArray rewritten = good.stop();
    QCOMPARE(rewritten.count("WRITTEN"), 5);
    QCOMPARE(list->count(), 0);
    QVERIFY(!all->isChecked());
    QVERIFY(!program->isEnabled());
    QVERIFY(!f.prompter.unexpectedSeen());
}

int main(int argc, char *argv[])
{
    // Before anything can start a thread: only this thread changes namespace,
    // and every thread made after it inherits it.
    NetnsPair netns;
    if (!netns.enterLocal())
        g_skipReason = netns.error();
    g_netns = &netns;
    QApplication app(argc, argv);
    TestEthernetFleet test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_EthernetFleet.moc"
