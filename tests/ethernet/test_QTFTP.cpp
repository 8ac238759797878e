#include "ethernet/QTFTP.h"
#include "simulator/ControllerSimulator.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>
#include <QUdpSocket>

#include <memory>

Q_DECLARE_METATYPE(ControllerSimulator::Faults)

// The TFTP thread against the controller simulator on loopback.
class TestQTFTP : public QObject
{
    Q_OBJECT

private slots:
    void write_data();
    void write();
    void writeToAnotherPort_givesUpAfterFourteenAttempts();
    void failures_areNeverReportedAsCompletion();
    void read_data();
    void read();
    void abort_endsAWaitingTransferAtOnce();

private:
    static constexpr quint32 kController = 0x7F000002; // 127.0.0.2
    std::unique_ptr<ControllerSimulator> simulator(const ControllerSimulator::Faults &faults,
                                                   const QByteArray &verstring = "SFT-OH 1.0");
    struct Outcome {
        int result = 0;
        QList<int> progress;
        QStringList status;
    };
    static Outcome runTransfer(QTFTP &tftp);
};

std::unique_ptr<ControllerSimulator> TestQTFTP::simulator(const ControllerSimulator::Faults &faults,
                                                          const QByteArray &verstring)
{
    ControllerSimulator::Options options;
    options.tftpPort = 0;
    options.versionOffset = 0;
    options.faults = faults;
    auto sim = std::make_unique<ControllerSimulator>(options);
    ControllerSimulator::Controller c;
    c.ip = kController;
    c.idstring = "Ostrel Hub";
    c.verstring = verstring;
    c.sn = 77;
    c.revision = 0x1F;
    sim->addController(c);
    if (!sim->start())
        qWarning("simulator: %s", qPrintable(sim->errorString()));
    return sim;
}

TestQTFTP::Outcome TestQTFTP::runTransfer(QTFTP &tftp)
{
    Outcome o;
    QObject::connect(&tftp, &QTFTP::progressDlg, &tftp, [&](int v) { o.progress.append(v); });
    QObject::connect(&tftp, &QTFTP::statusMessage, &tftp, [&](const QString &s) { o.status.append(s); });
    QSignalSpy finished(&tftp, &QTFTP::commandFinished);
    tftp.start();
    if (!tftp.wait(30000))
        qWarning("transfer did not finish");
    QCoreApplication::processEvents(); // the progress and messages, queued
    o.result = finished.isEmpty() ? -100 : finished.first().first().toInt();
    return o;
}

void TestQTFTP::write_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<ControllerSimulator::Faults>("faults");

    const ControllerSimulator::Faults none;
    QTest::newRow("empty: one empty block") << 0 << none;
    QTest::newRow("513 bytes") << 513 << none;
    // The receiver completes a file only on a block shorter than 512 bytes.
    QTest::newRow("exactly one block") << 512 << none;
    QTest::newRow("multiple of 512") << 8 * 512 << none;
    ControllerSimulator::Faults f;
    f.dropIn = 3;
    QTest::newRow("every 3rd packet to the controller lost") << 20000 << f;
    f = {};
    f.dropOut = 3;
    QTest::newRow("every 3rd answer lost") << 20000 << f;
    f = {};
    f.dupIn = 4;
    f.dupOut = 9;
    QTest::newRow("packets duplicated both ways") << 20000 << f;
    f = {};
    f.delayMs = 3;
    f.dupOut = 1;
    QTest::newRow("late duplicate acknowledgements") << 6000 << f;
}

void TestQTFTP::write()
{
    QFETCH(int, size);
    QFETCH(ControllerSimulator::Faults, faults);
    auto sim = simulator(faults);
    QByteArray data(size, '\0');
    for (int i = 0; i < size; ++i)
        data[i] = char((i * 31) ^ (i >> 9));

    QTFTP tftp(nullptr, 40);
    tftp.setPort(sim->tftpPort());
    tftp.commandWrite(QStringLiteral("127.0.0.2"), QStringLiteral("firmware"), data.data(), unsigned(size));
    const Outcome o = runTransfer(tftp);

    QCOMPARE(o.result, size);
    const ControllerSimulator::Controller c = sim->controller(kController);
    QCOMPARE(c.writes, 1);
    QCOMPARE(c.firmware, data);
    // Coarse progress: connecting, connected, rising with the data, the last
    // block, done.
    QVERIFY(o.progress.size() >= 4);
    QCOMPARE(o.progress.mid(0, 2), (QList<int> {0, 5}));
    QCOMPARE(o.progress.mid(o.progress.size() - 2), (QList<int> {109, 110}));
    for (int i = 1; i < o.progress.size(); ++i)
        QVERIFY(o.progress.at(i) > o.progress.at(i - 1));
    QVERIFY(o.status.contains(QStringLiteral("TFTP: Writing firmware")));
}

void TestQTFTP::writeToAnotherPort_givesUpAfterFourteenAttempts()
{
    ControllerSimulator::Faults faults;
    faults.answerFromOtherPort = true;
    auto sim = simulator(faults);
    int requests = 0;
    QByteArray data(100, 'x');
    QTFTP tftp(nullptr, 20);
    tftp.setPort(sim->tftpPort());
    tftp.commandWrite(QStringLiteral("127.0.0.2"), QStringLiteral("firmware"), data.data(), 100);
    const Outcome o = runTransfer(tftp);

    QCOMPARE(o.result, QTFTP::kGaveUp);
    QCOMPARE(o.status.count(QStringLiteral("TFTP: receiveAck timed out")), 14);
    QVERIFY(o.status.contains(QStringLiteral("TFTP: doWrite giving up after 5 retries")));
    QCOMPARE(sim->controller(kController).writes, 0);
    Q_UNUSED(requests);
}

void TestQTFTP::failures_areNeverReportedAsCompletion()
{
    auto sim = simulator({});
    const int port = sim->tftpPort();
    struct Case {
        const char *what;
        std::function<void(QTFTP &)> command;
        QString reason;
    };
    QByteArray data(1000, 'd');
    const QList<Case> cases = {
        {"nothing commanded", [](QTFTP &) {}, QStringLiteral("TFTP: No m_operation commanded!")},
        {"no address", [&](QTFTP &t) { t.commandWrite(QStringLiteral("controller"), QStringLiteral("firmware"), data.data(), 1000); },
         QStringLiteral("TFTP: Could not connect to port %1 on controller").arg(port)},
        {"null buffer", [&](QTFTP &t) { t.commandWrite(QStringLiteral("127.0.0.2"), QStringLiteral("firmware"), nullptr, 1000); },
         QStringLiteral("TFTP: null write buffer")},
        {"read into too small a buffer", [&](QTFTP &t) { t.commandRead(QStringLiteral("127.0.0.2"), QStringLiteral("info"), data.data(), 8); },
         QStringLiteral("TFTP: doRead buffer too small")},
    };
    for (const Case &c : cases) {
        QTFTP tftp(nullptr, 40);
        tftp.setPort(port);
        c.command(tftp);
        const Outcome o = runTransfer(tftp);
        QVERIFY2(o.result == QTFTP::kFailed, c.what);
        QVERIFY2(o.status.contains(c.reason), qPrintable(o.status.join(QLatin1Char('|'))));
    }
    QCOMPARE(sim->controller(kController).writes, 0);

    // A refused file name is answered with errors until the write gives up.
    QTFTP refused(nullptr, 20);
    refused.setPort(port);
    refused.commandWrite(QStringLiteral("127.0.0.2"), QStringLiteral("bootloader"), data.data(), 10);
    const Outcome o = runTransfer(refused);
    QCOMPARE(o.result, QTFTP::kGaveUp);
    QVERIFY(o.status.contains(QStringLiteral("TFTP: receiveAck got error code 2")));
}

void TestQTFTP::read_data()
{
    QTest::addColumn<QByteArray>("verstring");
    QTest::addColumn<ControllerSimulator::Faults>("faults");
    QTest::newRow("one short block") << QByteArray("SFT-OH 1.0") << ControllerSimulator::Faults();
    // "Ostrel Hub*77*1F*" is 17 bytes: this text makes the file exactly 512.
    QTest::newRow("exactly 512 bytes: an empty second block") << QByteArray(495, 'v') << ControllerSimulator::Faults();
    ControllerSimulator::Faults f;
    f.dropOut = 2;
    f.dupIn = 3;
    QTest::newRow("two blocks, lost and duplicated packets") << QByteArray(700, 'w') << f;
}

void TestQTFTP::read()
{
    QFETCH(QByteArray, verstring);
    QFETCH(ControllerSimulator::Faults, faults);
    auto sim = simulator(faults, verstring);
    char buffer[2048];
    std::fill(std::begin(buffer), std::end(buffer), 0);
    QTFTP tftp(nullptr, 40);
    tftp.setPort(sim->tftpPort());
    tftp.commandRead(QStringLiteral("127.0.0.2"), QStringLiteral("info"), buffer, sizeof buffer);
    const Outcome o = runTransfer(tftp);
    const QByteArray expected = "Ostrel Hub*77*1F*" + verstring;
    QCOMPARE(o.result, int(expected.size()));
    QCOMPARE(QByteArray(buffer, o.result), expected);
}

void TestQTFTP::abort_endsAWaitingTransferAtOnce()
{
    QUdpSocket silent; // takes the request and never answers
    QVERIFY(silent.bind(QHostAddress::LocalHost, 0));
    QByteArray data(100, 'x');
    // Its own wait would last far beyond the test's: only abort() can end it.
    QTFTP tftp(nullptr, 10 * 60 * 1000);
    tftp.setPort(silent.localPort());
    tftp.commandWrite(QStringLiteral("127.0.0.1"), QStringLiteral("firmware"), data.data(), 100);
    QSignalSpy finished(&tftp, &QTFTP::commandFinished);
    tftp.start();
    QTRY_VERIFY(silent.hasPendingDatagrams());
    tftp.abort();
    QVERIFY(finished.wait(60000));
    QCOMPARE(finished.first().first().toInt(), QTFTP::kFailed);
}

QTEST_GUILESS_MAIN(TestQTFTP)
#include "test_QTFTP.moc"
