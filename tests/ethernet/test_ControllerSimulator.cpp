#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

// The simulator program against a TFTP client nobody here wrote (tftp-hpa),
// on loopback with ports the system picks.
class TestControllerSimulator : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void tftpHpa_putsFirmwareAndGetsInfo_data();
    void tftpHpa_putsFirmwareAndGetsInfo();

private:
    int tftp(const QStringList &command);
    QTemporaryDir m_dir;
    QProcess m_sim;
    int m_port = 0;
};

void TestControllerSimulator::initTestCase()
{
    if (QStandardPaths::findExecutable(QStringLiteral("tftp")).isEmpty())
        QSKIP("tftp (tftp-hpa) is not installed: scripts/install-deps.sh installs it");
    m_sim.setProgram(qEnvironmentVariable("ZEL_CONTROLLER_SIM"));
    m_sim.setArguments({"--bind", "127.0.0.1", "--discovery-port", "0", "--tftp-port", "0",
                        "--version-offset", "0x3FF04", "--store", m_dir.path(), "--quiet",
                        "--controller", "ip=127.0.0.2,id=Ostrel Hub,verstring=SFT-OH 2.1,rev=33,sn=4097"});
    m_sim.start();
    QVERIFY(m_sim.waitForReadyRead(5000));
    const QString ready = QString::fromLatin1(m_sim.readLine());
    const QRegularExpressionMatch m = QRegularExpression(QStringLiteral("^READY .* tftp=(\\d+)")).match(ready);
    QVERIFY2(m.hasMatch(), qPrintable(ready));
    m_port = m.captured(1).toInt();
}

void TestControllerSimulator::cleanupTestCase()
{
    m_sim.terminate();
    m_sim.waitForFinished(5000);
}

int TestControllerSimulator::tftp(const QStringList &command)
{
    QProcess client;
    client.setWorkingDirectory(m_dir.path());
    client.start(QStringLiteral("tftp"), QStringList {"-m", "octet", "127.0.0.2", QString::number(m_port), "-c"} + command);
    if (!client.waitForFinished(20000))
        return -1;
    // tftp-hpa prints its errors but exits 0: an error line is a failure.
    const QByteArray said = client.readAllStandardOutput() + client.readAllStandardError();
    return said.contains("Error") || said.contains("Transfer timed out") ? 1 : client.exitCode();
}

void TestControllerSimulator::tftpHpa_putsFirmwareAndGetsInfo_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<int>("revision");
    QTest::newRow("1 MiB with a version word") << 1024 * 1024 << 0x5C;
    QTest::newRow("multiple of 512, too short to carry one") << 4096 << 0x5C;
}

void TestControllerSimulator::tftpHpa_putsFirmwareAndGetsInfo()
{
    QFETCH(int, size);
    QFETCH(int, revision);
    QByteArray image(size, '\0');
    for (int i = 0; i < size; ++i)
        image[i] = char(i * 13 + (i >> 8));
    if (size > 0x3FF04 + 4)
        image.replace(0x3FF04, 4, QByteArray::fromHex("5c020100"));
    QFile file(m_dir.filePath(QStringLiteral("image.bin")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(image);
    file.close();

    QCOMPARE(tftp({"put", "image.bin", "firmware"}), 0);
    QFile stored(m_dir.filePath(QStringLiteral("127.0.0.2.firmware")));
    QTRY_VERIFY(stored.exists());
    QVERIFY(stored.open(QIODevice::ReadOnly));
    QCOMPARE(stored.readAll(), image);
    QVERIFY(stored.remove());

    // The written image's revision is reported from then on.
    QCOMPARE(tftp({"get", "info", "info.txt"}), 0);
    QFile info(m_dir.filePath(QStringLiteral("info.txt")));
    QVERIFY(info.open(QIODevice::ReadOnly));
    QCOMPARE(info.readAll(), QByteArray("Ostrel Hub*4097*") + QByteArray::number(revision, 16).toUpper() + "*SFT-OH 2.1");

    QCOMPARE(tftp({"get", "no-such-file", "x.txt"}), 1);
}

QTEST_GUILESS_MAIN(TestControllerSimulator)
#include "test_ControllerSimulator.moc"
