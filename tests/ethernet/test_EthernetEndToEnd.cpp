#include "tests/app/WindowFixture.h"

#include "catalogue/BootLoadProduct.h"
#include "ethernet/QTFTP.h"
#include "ethernet/SimulatedTarvo.h"
#include "ethernet/tftpInterfaceControl.h"
#include "simulator/NetnsPair.h"
#include "tests/ethernet/ControllerImage.h"
#include "tests/ethernet/PeerProcess.h"

#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

NetnsPair *g_netns = nullptr;
QString g_skipReason;

const QString kController = QString::fromLatin1(NetnsPair::kPeerAddress);

struct Route {
    QString product;
    quint32 magic;
    QString verstring;
};

} // namespace

// The real window, on one side of a veth pair, updating simulated controllers
// on the other side; nothing leaves the test's own namespaces.
class TestEthernetEndToEnd : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void discoverAndProgram_data();
    void discoverAndProgram();
    void manualAddress_cancelOkAndUnreachable();
    void noController_thenNoRevision();
    void controllerAnsweringFromAnotherPort_givesUpWithTftpError();
    void dnsmasq_servesInfoWithItsLineEnds();

private:
    std::unique_ptr<WindowFixture> window();
    bool startController(PeerProcess &sim, const QString &fields, const QStringList &extra = {});
    QString image(const QString &name, quint32 magic, quint32 version, int filler = 6000);
    void loadImage(WindowFixture &f, const QString &product, const QString &file);
    static void click(WindowFixture &f, const char *name)
    {
        f.window->findChild<QPushButton *>(QString::fromLatin1(name))->click();
    }
    static QString revision(WindowFixture &f)
    {
        return f.window->findChild<QLabel *>(QStringLiteral("m_label_FWVersion"))->text();
    }
    static bool programEnabled(WindowFixture &f)
    {
        return f.find<QPushButton>(QStringLiteral("m_pushButton_program"))->isEnabled();
    }
    QByteArray stored() const;

    QTemporaryDir m_dir;
};

void TestEthernetEndToEnd::initTestCase()
{
    if (!g_skipReason.isEmpty())
        QSKIP(qPrintable(QStringLiteral("network namespaces cannot be made here (%1); "
                                        "nothing was sent to any network").arg(g_skipReason)));
    QVERIFY(m_dir.isValid());
    // dnsmasq reads its files as an unprivileged user.
    QFile::setPermissions(m_dir.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner
                                            | QFileDevice::ReadOther | QFileDevice::ExeOther);
}

std::unique_ptr<WindowFixture> TestEthernetEndToEnd::window()
{
    WindowFixture::Options options;
    options.cataloguePath = sampleCataloguePath();
    auto f = std::make_unique<WindowFixture>(options);
    EthernetSettings &s = f->devices->ethernet();
    // The real ports, aimed at the controllers' side of the veth pair.
    s.discoveryDestination = kController;
    s.discoveryPortOverride = 0;
    s.tftpPort = 69;
    s.announcePort = 0;
    s.pollIntervalMs = 20;
    s.discoveryWindowMs = 300;
    s.queryWindowMs = 1500;
    s.infoReadTimeoutMs = 150;
    s.writeTimeoutMs = 100;
    s.marlowMk3WriteTimeoutMs = 100;
    return f;
}

bool TestEthernetEndToEnd::startController(PeerProcess &sim, const QString &fields, const QStringList &extra)
{
    QFile::remove(m_dir.filePath(kController + QStringLiteral(".firmware")));
    return sim.start(*g_netns, QStringList {qEnvironmentVariable("ZEL_CONTROLLER_SIM"), "--bind", "0.0.0.0", "--discovery-port",
                                  "6038", "--tftp-port", "69", "--store", m_dir.path(), "--controller",
                                  "ip=" + kController + "," + fields}
                         + extra,
                     "READY");
}

QString TestEthernetEndToEnd::image(const QString &name, quint32 magic, quint32 version, int filler)
{
    QFile file(m_dir.filePath(name));
    if (!file.open(QIODevice::WriteOnly))
        qFatal("cannot write %s", qPrintable(file.fileName()));
    file.write(controllerHex({{0x3FF00, magic}, {0x3FF04, version}}, filler));
    return file.fileName();
}

QByteArray TestEthernetEndToEnd::stored() const
{
    QFile file(m_dir.filePath(kController + QStringLiteral(".firmware")));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void TestEthernetEndToEnd::loadImage(WindowFixture &f, const QString &product, const QString &file)
{
    f.find<QComboBox>(QStringLiteral("m_comboBox_interfaceSelect"))->setCurrentIndex(2);
    auto *devices = f.find<QComboBox>(QStringLiteral("m_comboBox_deviceSelect"));
    devices->setCurrentIndex(devices->findText(product));
    f.prompter.expectFileDialog(file);
    click(f, "m_pushButton_firmwareImageFileSelect");
    QCOMPARE(f.find<QLabel>(QStringLiteral("m_label_firmwareImageFile"))->text(), file);
}

void TestEthernetEndToEnd::discoverAndProgram_data()
{
    QTest::addColumn<QString>("product");
    QTest::addColumn<quint32>("magic");
    QTest::addColumn<QString>("controller");
    QTest::addColumn<QStringList>("faults");
    QTest::addColumn<QString>("revisionBefore");
    QTest::addColumn<QString>("revisionAfter");

    QTest::newRow("info route") << "Ostrel Hub" << 0xE7C00101u << "id=Ostrel Hub,verstring=SFT-OH 2.1,rev=33"
                                << QStringList() << "Rev. 33" << "Rev. 86";
    QTest::newRow("Marlow route") << "Marlow White" << 0xE7C00201u << "id=Marlow White,verstring=Marlow SFT-MW,rev=7"
                                  << QStringList() << "Rev. 7" << "Rev. 86";
    QTest::newRow("Brisa Quad route") << "Brisa Quad" << 0xE7C00301u << "id=Brisa Quad,verstring=SFT-BQ 1.0,rev=12"
                                      << QStringList() << "Rev. 12" << "Rev. 86";
    QTest::newRow("packets lost both ways") << "Ostrel Hub" << 0xE7C00101u
                                            << "id=Ostrel Hub,verstring=SFT-OH 2.1,rev=33"
                                            << QStringList {"--drop-in", "4", "--drop-out", "5"} << "Rev. 33" << "Rev. 86";
    QTest::newRow("packets duplicated both ways") << "Ostrel Hub" << 0xE7C00101u
                                                  << "id=Ostrel Hub,verstring=SFT-OH 2.1,rev=33"
                                                  << QStringList {"--dup-in", "6", "--dup-out", "9"} << "Rev. 33" << "Rev. 86";
}

void TestEthernetEndToEnd::discoverAndProgram()
{
    QFETCH(QString, product);
    QFETCH(quint32, magic);
    QFETCH(QString, controller);
    QFETCH(QStringList, faults);
    QFETCH(QString, revisionBefore);
    QFETCH(QString, revisionAfter);

    PeerProcess sim;
    QVERIFY(startController(sim, controller, faults));
    auto f = window();
    static_cast<SimulatedTarvo &>(f->devices->tarvo()).setValue(QHostAddress(kController).toIPv4Address(), 342, 12);
    const QString file = image(QStringLiteral("controller.hex"), magic, 0x00030156);
    loadImage(*f, product, file);

    click(*f, "m_pushButton_TFTPDiscover");
    auto *list = f->window->findChild<QComboBox *>(QStringLiteral("m_comboBox_TFTPDevicesDiscovered"));
    QTRY_COMPARE_WITH_TIMEOUT(revision(*f), revisionBefore, 10000);
    QCOMPARE(list->count(), 1);
    QCOMPARE(list->itemText(0), kController + QLatin1Char(' ') + product);
    QVERIFY(programEnabled(*f));

    // The controller-value library stands apart from the controller's own
    // process here: it is told what the controller will run.
    static_cast<SimulatedTarvo &>(f->devices->tarvo()).setValue(QHostAddress(kController).toIPv4Address(), 342, 0x56);
    auto *panel = f->window->findChild<tftpInterfaceControl *>();
    QSignalSpy complete(panel, &tftpInterfaceControl::signal_programComplete);
    QSignalSpy records(panel, &tftpInterfaceControl::signal_runRecord);
    click(*f, "m_pushButton_program");
    // Not pressed twice while the write goes on.
    QVERIFY(!programEnabled(*f));
    QVERIFY(complete.wait(30000));
    QCOMPARE(records.size(), 1);
    const UpdateRecord record = records.first().first().value<UpdateRecord>();
    QCOMPARE(record.outcome, UpdateRecord::Outcome::Verified);
    QCOMPARE(record.revisionAfter, QStringLiteral("86"));
    QFile original(file);
    QVERIFY(original.open(QIODevice::ReadOnly));
    const QByteArray bytes = original.readAll();
    QTRY_COMPARE(stored(), bytes);
    QVERIFY(!programEnabled(*f));
    const QStringList log = f->logLines();
    for (const QString &line : {QStringLiteral("Programming device."),
                                QStringLiteral("Programming using file ") + file,
                                QStringLiteral("IP address ") + kController + QStringLiteral(" selected"),
                                QStringLiteral("Program complete: %1").arg(original.size())})
        QVERIFY2(!log.filter(line).isEmpty(), qPrintable(line));

    // The controller runs the new image: a new Discover shows its revision.
    click(*f, "m_pushButton_TFTPDiscover");
    QTRY_COMPARE_WITH_TIMEOUT(revision(*f), revisionAfter, 10000);
    QCOMPARE(f->prompter.pendingExpectations(), 0);
    QVERIFY(!f->prompter.unexpectedSeen());
}

void TestEthernetEndToEnd::manualAddress_cancelOkAndUnreachable()
{
    PeerProcess sim;
    QVERIFY(startController(sim, QStringLiteral("id=Ostrel Hub,verstring=SFT-OH 2.1,rev=33")));
    auto f = window();
    const QString file = image(QStringLiteral("manual.hex"), 0xE7C00101, 0x00010204, 0);
    loadImage(*f, QStringLiteral("Ostrel Hub"), file);
    auto *field = f->window->findChild<QLineEdit *>(QStringLiteral("m_lineEdit_tftpManualIPEntry"));
    const QString caution = QStringLiteral("You have chosen to manually enter an IP address.\nThis should be used "
                                           "with extreme caution.\nDo you wish to continue?");

    field->setText(kController);
    QVERIFY(programEnabled(*f));
    f->prompter.expectMessage(Prompter::Kind::Warning, QStringLiteral("Firmware Updater"), caution, QMessageBox::Cancel);
    click(*f, "m_pushButton_program");
    QVERIFY(programEnabled(*f));
    QTest::qWait(200);
    QVERIFY(stored().isEmpty());

    auto *panel = f->window->findChild<tftpInterfaceControl *>();
    QSignalSpy complete(panel, &tftpInterfaceControl::signal_programComplete);
    f->prompter.expectMessage(Prompter::Kind::Warning, QStringLiteral("Firmware Updater"), caution, QMessageBox::Ok);
    click(*f, "m_pushButton_program");
    QVERIFY(complete.wait(10000));
    QFile original(file);
    QVERIFY(original.open(QIODevice::ReadOnly));
    const QByteArray bytes = original.readAll();
    QTRY_COMPARE(stored(), bytes);
    QVERIFY(!f->logLines().filter(QStringLiteral("Using manual IP address ") + kController).isEmpty());

    // No route leads there: the write fails, says why, and PROGRAM is offered again.
    field->setText(QStringLiteral("203.0.113.9"));
    QVERIFY(programEnabled(*f));
    f->prompter.expectMessage(Prompter::Kind::Warning, QStringLiteral("Firmware Updater"), caution, QMessageBox::Ok);
    f->prompter.expectMessage(
        Prompter::Kind::Warning, QStringLiteral("TFTP ERROR"),
        QStringLiteral("Programming the controller at 203.0.113.9 failed: TFTP: Could not connect to port 69 on "
                       "203.0.113.9\nNothing was completed; fix the problem and try again."));
    click(*f, "m_pushButton_program");
    QTRY_COMPARE(f->prompter.pendingExpectations(), 0);
    QTRY_VERIFY(!panel->runInProgress());
    QVERIFY(programEnabled(*f));
    QCOMPARE(complete.size(), 1);
    QVERIFY(!f->logLines().filter(QStringLiteral("Program failed (-1) for 203.0.113.9")).isEmpty());
}

void TestEthernetEndToEnd::noController_thenNoRevision()
{
    auto f = window();
    loadImage(*f, QStringLiteral("Brisa Quad"), image(QStringLiteral("quad.hex"), 0xE7C00301, 0x00010203, 0));
    click(*f, "m_pushButton_TFTPDiscover");
    QTRY_VERIFY(!f->logLines().filter(QStringLiteral("No device discovered.")).isEmpty());
    QVERIFY(!programEnabled(*f));

    // Found, but the controller-value library never answers for it.
    PeerProcess sim;
    QVERIFY(startController(sim, QStringLiteral("id=Brisa Quad,verstring=SFT-BQ 1.0,rev=12")));
    click(*f, "m_pushButton_TFTPDiscover");
    QTRY_VERIFY_WITH_TIMEOUT(!f->logLines().filter(QStringLiteral("No firmware version query response from device.")).isEmpty(), 30000);
    QVERIFY(revision(*f).isEmpty());
    QVERIFY(!programEnabled(*f));
    QVERIFY(f->find<QPushButton>(QStringLiteral("m_pushButton_TFTPDiscover"))->isEnabled());
}

void TestEthernetEndToEnd::controllerAnsweringFromAnotherPort_givesUpWithTftpError()
{
    PeerProcess sim;
    QVERIFY(startController(sim, QStringLiteral("id=Marlow White,verstring=Marlow SFT-MW,rev=7"),
                            {QStringLiteral("--answer-from-other-port")}));
    auto f = window();
    loadImage(*f, QStringLiteral("Marlow White"), image(QStringLiteral("mw.hex"), 0xE7C00201, 0x00010203, 0));
    click(*f, "m_pushButton_TFTPDiscover");
    QTRY_COMPARE(revision(*f), QStringLiteral("Rev. 7"));

    f->prompter.expectMessage(Prompter::Kind::Warning, QStringLiteral("TFTP ERROR"),
                              QStringLiteral("Unable to communicate with TFTP device!\n Fix connection and try again."));
    click(*f, "m_pushButton_program");
    QTRY_COMPARE_WITH_TIMEOUT(f->prompter.pendingExpectations(), 0, 10000);
    auto *panel = f->window->findChild<tftpInterfaceControl *>();
    QTRY_VERIFY(!panel->runInProgress());
    QVERIFY(programEnabled(*f));
    QCOMPARE(f->window->findChild<QComboBox *>(QStringLiteral("m_comboBox_TFTPDevicesDiscovered"))->count(), 1);
    QVERIFY(stored().isEmpty());
}

void TestEthernetEndToEnd::dnsmasq_servesInfoWithItsLineEnds()
{
    const QString dnsmasqPath = QStandardPaths::findExecutable(QStringLiteral("dnsmasq"), {"/usr/sbin", "/sbin", "/usr/bin"});
    if (dnsmasqPath.isEmpty())
        QSKIP("dnsmasq (dnsmasq-base) is not installed: scripts/install-deps.sh installs it");
    QTemporaryDir root;
    QFile::setPermissions(root.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner
                                           | QFileDevice::ReadOther | QFileDevice::ExeOther);
    QFile info(root.filePath(QStringLiteral("info")));
    QVERIFY(info.open(QIODevice::WriteOnly));
    info.write("Ostrel Hub*4097*2A*line one\nline two\n");
    info.close();
    info.setPermissions(QFileDevice::ReadOwner | QFileDevice::ReadOther);

    PeerProcess dnsmasq;
    QVERIFY(dnsmasq.start(*g_netns, {dnsmasqPath, "--keep-in-foreground", "--conf-file=/dev/null", "--port=0",
                           "--enable-tftp", "--tftp-root=" + root.path(), "--tftp-single-port", "--pid-file=",
                           "--log-facility=-"},
                          "TFTP root"));
    char buffer[512] = {};
    QTFTP tftp(nullptr, 500);
    tftp.commandRead(kController, QStringLiteral("info"), buffer, sizeof buffer);
    QSignalSpy finished(&tftp, &QTFTP::commandFinished);
    tftp.start();
    QVERIFY(tftp.wait(10000));
    // Asked for netascii, it sends each line end as CR LF; the bytes reach
    // the buffer as sent.
    const QByteArray expected("Ostrel Hub*4097*2A*line one\r\nline two\r\n");
    QCOMPARE(finished.first().first().toInt(), int(expected.size()));
    QCOMPARE(QByteArray(buffer, int(expected.size())), expected);
    QCOMPARE(tftpInterfaceControl::revisionFromInfo(QByteArray(buffer)), 42);
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
    TestEthernetEndToEnd test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_EthernetEndToEnd.moc"
