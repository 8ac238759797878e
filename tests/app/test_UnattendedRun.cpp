// Unattended runs of the real executable against the simulated devices of
// each interface: what a production line's script sees (exit code, result
// file, standard output) and what the update record keeps.

#include "tests/ethernet/ControllerImage.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

#include <csignal>

namespace {

constexpr quint32 kSorrelMagic = 0x53523301;
constexpr quint32 kVireoMagic = 0x56500001;
constexpr quint32 kOstrelMagic = 0xE7C00101;

QString updater()
{
    return qEnvironmentVariable("ZEL_UPDATER");
}

// The sample fixture images are copied beside the executable.
QString sample(const QString &name)
{
    return QFileInfo(updater()).absoluteDir().filePath(QStringLiteral("samples/") + name);
}

QString writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

struct Outcome {
    int exitCode = -1;
    QString out;
    QString err;
    QJsonObject result;
    QList<QJsonObject> records;
    QStringList recordLines;
};

class TestUnattendedRun : public QObject
{
    Q_OBJECT

    QTemporaryDir m_images;
    QByteArray m_errSoFar; // what waitForLogged read of the running process
    QString m_minisign;

    bool minisign(const QStringList &arguments)
    {
        QProcess process;
        process.start(m_minisign, arguments);
        process.closeWriteChannel();
        return process.waitForFinished(60000) && process.exitStatus() == QProcess::NormalExit
            && process.exitCode() == 0;
    }

    // With echoLog, the session log's lines are echoed on stderr as they are logged.
    QProcess *start(const QTemporaryDir &cwd, const QStringList &arguments, bool echoLog = false)
    {
        auto *process = new QProcess(this);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        if (echoLog)
            env.insert(QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("zel.log.debug=true"));
        // Data folders of the run's own: keys installed on this machine must
        // not change what the runs do.
        env.insert(QStringLiteral("XDG_DATA_HOME"), cwd.filePath(QStringLiteral("user-data")));
        env.insert(QStringLiteral("XDG_DATA_DIRS"), cwd.filePath(QStringLiteral("installed-data")));
        process->setProcessEnvironment(env);
        process->setWorkingDirectory(cwd.path());
        QStringList all = arguments;
        // A test that names its own result file gets no second one.
        if (arguments.filter(QRegularExpression(QStringLiteral("^-result="))).isEmpty())
            all.append(QStringLiteral("-result=") + cwd.filePath("result.json"));
        process->start(updater(), all);
        return process;
    }

    // Reads the error output until it shows marker; false when the process
    // ended or a generous time passed first.
    static bool waitForLogged(QProcess *process, const QString &marker, QByteArray &err)
    {
        QElapsedTimer timer;
        timer.start();
        while (!(err += process->readAllStandardError()).contains(marker.toUtf8())) {
            if (timer.elapsed() > 120000 || process->state() != QProcess::Running)
                return false;
            process->waitForReadyRead(200);
        }
        return true;
    }

    Outcome finish(QProcess *process, const QTemporaryDir &cwd, int waitMs = 120000)
    {
        Outcome o;
        if (!process->waitForFinished(waitMs)) {
            process->kill();
            process->waitForFinished();
        }
        o.exitCode = process->exitStatus() == QProcess::NormalExit ? process->exitCode() : -1;
        o.out = QString::fromLocal8Bit(process->readAllStandardOutput());
        o.err = QString::fromLocal8Bit(m_errSoFar + process->readAllStandardError());
        m_errSoFar.clear();
        process->deleteLater();
        QFile result(cwd.filePath("result.json"));
        if (result.open(QIODevice::ReadOnly))
            o.result = QJsonDocument::fromJson(result.readAll()).object();
        QFile record(cwd.filePath("updates.jsonl"));
        // A record standing in for a full disk reads as endless zeros.
        if (!QFileInfo(record).isSymLink() && record.open(QIODevice::ReadOnly)) {
            for (const QByteArray &line : record.readAll().split('\n')) {
                if (line.isEmpty())
                    continue;
                o.recordLines.append(QString::fromUtf8(line));
                o.records.append(QJsonDocument::fromJson(line).object());
            }
        }
        return o;
    }

    Outcome run(const QTemporaryDir &cwd, const QStringList &arguments)
    {
        return finish(start(cwd, arguments), cwd);
    }

    static QString describe(const Outcome &o)
    {
        return QStringLiteral("exit %1\nstdout: %2\nstderr: %3").arg(o.exitCode).arg(o.out, o.err.right(3000));
    }

    QString sorrelImage(quint32 version)
    {
        // Word-addressed: the catalogue's word locations times the word size of 2.
        return writeBytes(m_images.filePath(QStringLiteral("sorrel-%1.hex").arg(version, 0, 16)),
                          controllerHex({{0x1FFE0, kSorrelMagic}, {0x1FFE4, version}}, 4096));
    }

    QString vireoImage(quint32 version)
    {
        QByteArray image(0x4000, '\0');
        for (int i = 0; i < image.size(); ++i)
            image[i] = char(i * 13 + 5);
        qToLittleEndian<quint32>(kVireoMagic, image.data() + 0x200);
        qToLittleEndian<quint32>(version, image.data() + 0x204);
        return writeBytes(m_images.filePath(QStringLiteral("vireo-%1.bin").arg(version, 0, 16)), image);
    }

    QString ostrelImage(quint32 version)
    {
        return writeBytes(m_images.filePath(QStringLiteral("ostrel-%1.hex").arg(version, 0, 16)),
                          controllerHex({{0x3FF00, kOstrelMagic}, {0x3FF04, version}}, 2048));
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(QFile::exists(updater()), "ZEL_UPDATER must name the built executable");
        QVERIFY(m_images.isValid());
        m_minisign = QStandardPaths::findExecutable(QStringLiteral("minisign"));
        QVERIFY2(!m_minisign.isEmpty(), "minisign not found: install the Debian package minisign");
        QVERIFY(minisign({"-G", "-W", "-p", m_images.filePath("maker.pub"), "-s", m_images.filePath("maker.key")}));
    }

    void verifiedRunOnEachInterface_data();
    void verifiedRunOnEachInterface();
    void failingRunsEndWithTheirExitCode_data();
    void failingRunsEndWithTheirExitCode();
    void guardingQuestionStopsTheRunUnlessAllowed();
    void badOptionsAndRefusedImagesEndWithCodeTwo_data();
    void badOptionsAndRefusedImagesEndWithCodeTwo();
    void killBetweenRunsLosesNoEarlierLine();
    void terminatedDuringTheCheck_resultAgreesWithTheRecord_data();
    void terminatedDuringTheCheck_resultAgreesWithTheRecord();
    void recordThatCannotBeWritten_isSaidAndVerifiedHasItsOwnCode_data();
    void recordThatCannotBeWritten_isSaidAndVerifiedHasItsOwnCode();
    void unwritableResultFile_refusedBeforeAnythingIsSent_data();
    void unwritableResultFile_refusedBeforeAnythingIsSent();
    void controllerOfAnotherTypeIsNeitherWrittenNorAdvised_data();
    void controllerOfAnotherTypeIsNeitherWrittenNorAdvised();
    void signaturePolicyOfUnattendedRuns_data();
    void signaturePolicyOfUnattendedRuns();
};

void TestUnattendedRun::controllerOfAnotherTypeIsNeitherWrittenNorAdvised_data()
{
    QTest::addColumn<QStringList>("allowed");
    QTest::newRow("without -yes") << QStringList{};
    QTest::newRow("with -yes=manual-address") << QStringList{"-yes=manual-address"};
}

// 127.0.0.5 of -simulate is a Marlow White: an Ostrel Hub image is not for it,
// and allowing a typed address must not change that.
void TestUnattendedRun::controllerOfAnotherTypeIsNeitherWrittenNorAdvised()
{
    QFETCH(QStringList, allowed);
    QTemporaryDir cwd;
    const Outcome o = run(cwd, QStringList{"-ethernet", "-deviceType=Ostrel Hub", "-deviceAddress=127.0.0.5",
                                           "-firmware=" + ostrelImage(0x00020122), "-autoConnect", "-simulate"}
                                   + allowed);
    QVERIFY2(o.exitCode == 3, qPrintable(describe(o)));
    QVERIFY2(o.result.value("message").toString().contains(
                 "answers discovery as Marlow White (Marlow SFT-MW 1.7), not as Ostrel Hub"),
             qPrintable(o.result.value("message").toString()));
    QVERIFY(!o.result.contains("allowWith"));
    QVERIFY(o.records.isEmpty());
}

void TestUnattendedRun::verifiedRunOnEachInterface_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("interface");
    QTest::addColumn<QString>("address");

    QTest::newRow("Sorrel 3")
        << QStringList{"-usb", "-deviceType=Sorrel 3", "-firmware=" + sorrelImage(0x10053)}
        << "usb" << "";
    QTest::newRow("Vireo Player")
        << QStringList{"-usb", "-deviceType=Vireo Player", "-firmware=" + vireoImage(0x020100)}
        << "usb" << "";
    QTest::newRow("fixture")
        << QStringList{"-ZELDMX", "-deviceType=Cove Wash", "-deviceAddress=8100C001",
                       "-firmware=" + sample("CoveWash-5.1.3.hex")}
        << "zeldmx" << "8100C001";
    QTest::newRow("fixture set to its boot loader by hand")
        << QStringList{"-ZELDMX", "-deviceType=Halyard Wash", "-deviceAddress=8200D001",
                       "-firmware=" + sample("HalyardWash-7.1.3.hex")}
        << "zeldmx" << "8200D001";
    QTest::newRow("controller")
        << QStringList{"-ethernet", "-deviceType=Ostrel Hub", "-deviceAddress=127.0.0.3",
                       "-firmware=" + ostrelImage(0x00020122)}
        << "ethernet" << "127.0.0.3";
}

void TestUnattendedRun::verifiedRunOnEachInterface()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, interface);
    QFETCH(QString, address);
    QTemporaryDir cwd;
    const Outcome o = run(cwd, arguments + QStringList{"-autoConnect", "-simulate", "-verifyWait=20"});
    QVERIFY2(o.exitCode == 0, qPrintable(describe(o)));
    QCOMPARE(o.result.value("exitCode").toInt(), 0);
    QCOMPARE(o.result.value("outcome").toString(), QStringLiteral("verified"));
    QCOMPARE(o.result.value("recordWritten"), QJsonValue(true));
    QVERIFY2(o.out.contains(QStringLiteral("exit code 0")), qPrintable(o.out));
    QCOMPARE(o.records.size(), 1);
    const QJsonObject r = o.records.first();
    QCOMPARE(r.value("interface").toString(), interface);
    QCOMPARE(r.value("outcome").toString(), QStringLiteral("verified"));
    if (!address.isEmpty())
        QVERIFY2(r.value("address").toString().contains(address, Qt::CaseInsensitive),
                 qPrintable(r.value("address").toString()));
    QCOMPARE(r.value("imageSha256").toString().size(), 64);
    QVERIFY(!r.value("revisionAfter").toString().isEmpty());
    QCOMPARE(r.value("revisionAfter"), o.result.value("revisionAfter"));
    // The run's error output is its own: none of Qt's talk about the platform.
    for (const char *noise : {"propagateSizeHints", "XDG_RUNTIME_DIR", "This plugin does not support"})
        QVERIFY2(!o.err.contains(QLatin1String(noise)), qPrintable(o.err));
}

namespace {

// The value of one -name= option among the arguments; null when not given.
QString option(const QStringList &arguments, const QString &name)
{
    for (const QString &argument : arguments) {
        if (argument.startsWith(name))
            return argument.mid(name.size());
    }
    return QString();
}

// A run that ended before any device's record still names what it was about.
void checkKnownFields(const QJsonObject &result, const QStringList &arguments)
{
    const QString address = option(arguments, QStringLiteral("-deviceAddress="));
    QCOMPARE(result.value("deviceType").toString(), option(arguments, QStringLiteral("-deviceType=")));
    QCOMPARE(result.value("address").toString(), address);
    QCOMPARE(result.value("address").isNull(), address.isNull());
    QCOMPARE(result.value("imageFile").toString(),
             QFileInfo(option(arguments, QStringLiteral("-firmware="))).absoluteFilePath());
    QVERIFY(result.contains("interface"));
}

} // namespace

void TestUnattendedRun::failingRunsEndWithTheirExitCode_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("outcome"); // of the record; empty: none written

    const QStringList fixture{"-ZELDMX", "-deviceType=Cove Wash", "-deviceAddress=8100C001",
                              "-firmware=" + sample("CoveWash-5.1.3.hex")};
    const QStringList controller{"-ethernet", "-deviceType=Ostrel Hub", "-firmware=" + ostrelImage(0x00020122)};
    QTest::newRow("fixture keeps its revision: mismatch")
        << fixture + QStringList{"-simulate=keep-revision"} << 1 << "mismatch";
    QTest::newRow("controller never comes back: not verified")
        << controller + QStringList{"-deviceAddress=127.0.0.3", "-simulate=no-return", "-verifyWait=2"}
        << 5 << "not verified";
    QTest::newRow("player never comes back: not verified")
        << QStringList{"-usb", "-deviceType=Sorrel 3", "-firmware=" + sorrelImage(0x10054),
                       "-simulate=no-return", "-verifyWait=2"}
        << 5 << "not verified";
    QTest::newRow("controller not found")
        << controller + QStringList{"-deviceAddress=127.0.0.99", "-simulate"} << 3 << "";
    // Image 3.1.33 on a controller at build 33 that keeps its firmware: its
    // revision cannot tell the two apart.
    QTest::newRow("controller reports the build it ran already: not verified")
        << QStringList{"-ethernet", "-deviceType=Ostrel Hub", "-firmware=" + ostrelImage(0x00030121),
                       "-deviceAddress=127.0.0.3", "-simulate=keep-revision"}
        << 5 << "not verified";
}

void TestUnattendedRun::failingRunsEndWithTheirExitCode()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, outcome);
    QTemporaryDir cwd;
    const Outcome o = run(cwd, arguments + QStringList{"-autoConnect"});
    QVERIFY2(o.exitCode == exitCode, qPrintable(describe(o)));
    QCOMPARE(o.result.value("exitCode").toInt(), exitCode);
    QVERIFY(!o.result.value("message").toString().isEmpty());
    if (outcome.isEmpty()) {
        QVERIFY(o.records.isEmpty());
        QVERIFY(o.result.value("outcome").isNull());
        QCOMPARE(o.result.value("allowWith").toString(), QStringLiteral("-yes=manual-address"));
        checkKnownFields(o.result, arguments);
        QCOMPARE(o.result.value("interface").toString(), QStringLiteral("ethernet"));
        // The image was accepted before the search: it is known whole.
        QCOMPARE(o.result.value("imageSha256").toString().size(), 64);
        QCOMPARE(o.result.value("imageVersion").toString(), QStringLiteral("2.1.34"));
        QCOMPARE(o.result.value("signature").toString(), QStringLiteral("unsigned"));
    } else {
        QCOMPARE(o.records.size(), 1);
        QCOMPARE(o.records.first().value("outcome").toString(), outcome);
        QCOMPARE(o.result.value("outcome").toString(), outcome);
    }
}

void TestUnattendedRun::guardingQuestionStopsTheRunUnlessAllowed()
{
    // Every Cove Wash on the supply's port: the all-fixtures question.
    const QStringList all{"-ZELDMX", "-deviceType=Cove Wash", "-deviceAddress=all", "-autoConnect",
                          "-simulate", "-firmware=" + sample("CoveWash-5.1.3.hex")};
    QTemporaryDir cwd;
    const Outcome refused = run(cwd, all);
    QVERIFY2(refused.exitCode == 4, qPrintable(describe(refused)));
    QCOMPARE(refused.result.value("refusedQuestion").toString(), QStringLiteral("all-fixtures"));
    QCOMPARE(refused.result.value("allowWith").toString(), QStringLiteral("-yes=all-fixtures"));
    for (const QJsonObject &r : refused.records)
        QCOMPARE(r.value("outcome").toString(), QStringLiteral("cancelled"));
    QVERIFY2(refused.err.contains(QStringLiteral("-yes= does not allow all-fixtures")), qPrintable(refused.err));

    QTemporaryDir cwd2;
    const Outcome allowed = run(cwd2, all + QStringList{"-yes=downgrade,all-fixtures"});
    QVERIFY2(allowed.exitCode == 0, qPrintable(describe(allowed)));
    QVERIFY(!allowed.records.isEmpty());
    for (const QJsonObject &r : allowed.records)
        QCOMPARE(r.value("outcome").toString(), QStringLiteral("verified"));
    if (allowed.records.size() > 1)
        QCOMPARE(allowed.result.value("devices").toArray().size(), allowed.records.size());
}

void TestUnattendedRun::badOptionsAndRefusedImagesEndWithCodeTwo_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("said"); // on the error output

    const QString image = sample("CoveWash-5.1.3.hex");
    const QString broken = writeBytes(m_images.filePath("broken.hex"), ":10000000FFFF\n:00000001FF\n");
    QTest::newRow("unknown question")
        << QStringList{"-ZELDMX", "-deviceType=Cove Wash", "-deviceAddress=8100C001", "-firmware=" + image, "-yes=maybe"}
        << "\"maybe\" is not a guarding question";
    QTest::newRow("no address")
        << QStringList{"-ZELDMX", "-deviceType=Cove Wash", "-firmware=" + image} << "-deviceAddress=ADDRESS";
    QTest::newRow("bad wait")
        << QStringList{"-ZELDMX", "-deviceType=Cove Wash", "-deviceAddress=8100C001", "-firmware=" + image, "-verifyWait=soon"}
        << "-verifyWait= takes a number of seconds";
    QTest::newRow("unknown device type")
        << QStringList{"-ZELDMX", "-deviceType=Cove Wish", "-deviceAddress=8100C001", "-firmware=" + image}
        << "\"Cove Wish\" is not a device type";
    QTest::newRow("damaged image")
        << QStringList{"-ZELDMX", "-deviceType=Cove Wash", "-deviceAddress=8100C001", "-firmware=" + broken}
        << "damaged record";
    QTest::newRow("image of another product")
        << QStringList{"-ZELDMX", "-deviceType=Tern Spot", "-deviceAddress=8300F001", "-firmware=" + image}
        << "was refused";
}

void TestUnattendedRun::badOptionsAndRefusedImagesEndWithCodeTwo()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, said);
    QTemporaryDir cwd;
    const Outcome o = run(cwd, arguments + QStringList{"-autoConnect", "-simulate"});
    QVERIFY2(o.exitCode == 2, qPrintable(describe(o)));
    QCOMPARE(o.result.value("exitCode").toInt(), 2);
    QVERIFY2((o.err + o.out + o.result.value("message").toString()).contains(said), qPrintable(describe(o)));
    QVERIFY(o.records.isEmpty());
    checkKnownFields(o.result, arguments);
    QCOMPARE(o.result.value("interface").toString(), QStringLiteral("zeldmx"));
}

void TestUnattendedRun::killBetweenRunsLosesNoEarlierLine()
{
    const QStringList fixture{"-ZELDMX", "-deviceType=Cove Wash", "-autoConnect", "-simulate",
                              "-firmware=" + sample("CoveWash-5.1.3.hex")};
    QTemporaryDir cwd;
    const Outcome first = run(cwd, fixture + QStringList{"-deviceAddress=8100C001"});
    QVERIFY2(first.exitCode == 0, qPrintable(describe(first)));
    QCOMPARE(first.recordLines.size(), 1);

    // The second run is killed outright while it programs.
    QProcess *second = start(cwd, fixture + QStringList{"-deviceAddress=8180E001"}, true);
    QVERIFY(second->waitForStarted());
    QVERIFY2(waitForLogged(second, QStringLiteral("SN 8180e001 - Sent record"), m_errSoFar),
             m_errSoFar.right(3000).constData());
    ::kill(pid_t(second->processId()), SIGKILL);
    const Outcome killed = finish(second, cwd);
    QCOMPARE(killed.exitCode, -1);
    QVERIFY(!killed.recordLines.isEmpty());
    QCOMPARE(killed.recordLines.first(), first.recordLines.first());
    for (const QJsonObject &record : killed.records)
        QVERIFY(!record.isEmpty());

    // Each process starts with fresh simulated fixtures: the same update again.
    const Outcome third = run(cwd, fixture + QStringList{"-deviceAddress=8100C001"});
    QVERIFY2(third.exitCode == 0, qPrintable(describe(third)));
    QCOMPARE(third.recordLines.first(), first.recordLines.first());
    QVERIFY(third.recordLines.size() > killed.recordLines.size());
    for (const QJsonObject &record : third.records)
        QVERIFY2(!record.isEmpty(), "every line of the record reads as a whole object");
}

void TestUnattendedRun::terminatedDuringTheCheck_resultAgreesWithTheRecord_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("checking"); // logged once the device was written and the check waits
    QTest::addColumn<QString>("outcome");  // what the panel records when stopped; empty: not asserted

    const QStringList neverBack{"-simulate=no-return", "-verifyWait=600"};
    QTest::newRow("controller")
        << QStringList{"-ethernet", "-deviceType=Ostrel Hub", "-deviceAddress=127.0.0.3",
                       "-firmware=" + ostrelImage(0x00020122)} + neverBack
        << "Checking the firmware revision of 127.0.0.3" << "not verified";
    QTest::newRow("player")
        << QStringList{"-usb", "-deviceType=Sorrel 3", "-firmware=" + sorrelImage(0x10054)} + neverBack
        << "Reading the firmware version of the Sorrel 3 again" << "not verified";
    // What the fixture panel records when stopped is its own matter; the
    // result must say the same either way.
    QTest::newRow("fixture")
        << QStringList{"-ZELDMX", "-deviceType=Cove Wash", "-deviceAddress=8100C001",
                       "-firmware=" + sample("CoveWash-5.1.3.hex")} + neverBack
        << "Finalize and reset." << "";
}

void TestUnattendedRun::terminatedDuringTheCheck_resultAgreesWithTheRecord()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, checking);
    QFETCH(QString, outcome);
    QTemporaryDir cwd;
    QProcess *process = start(cwd, arguments + QStringList{"-autoConnect"}, true);
    QVERIFY(process->waitForStarted());
    QVERIFY2(waitForLogged(process, checking, m_errSoFar), m_errSoFar.right(3000).constData());
    ::kill(pid_t(process->processId()), SIGTERM);
    const Outcome o = finish(process, cwd);

    // Nobody is asked whether to stop: the run ends as it is told.
    QVERIFY2(!o.err.contains(QStringLiteral("Quit anyway?")), qPrintable(o.err.right(3000)));
    QCOMPARE(o.result.value("exitCode").toInt(-1), o.exitCode);
    QVERIFY(o.result.value("message").toString().contains(QStringLiteral("ended during the run")));
    if (!outcome.isEmpty()) {
        QCOMPARE(o.records.size(), 1);
        QCOMPARE(o.records.first().value("outcome").toString(), outcome);
    }
    if (o.records.isEmpty()) {
        QVERIFY(o.result.value("outcome").isNull());
        QCOMPARE(o.exitCode, 1);
        return;
    }
    // The result is the record, and its code the record's outcome's.
    const QJsonObject last = o.records.last();
    for (auto it = last.begin(); it != last.end(); ++it)
        QCOMPARE(o.result.value(it.key()), it.value());
    const QHash<QString, int> codes{{"verified", 0}, {"not verified", 5}, {"mismatch", 1},
                                    {"failed", 1}, {"cancelled", 1}};
    QVERIFY2(o.exitCode == codes.value(last.value("outcome").toString(), -1), qPrintable(describe(o)));
}

void TestUnattendedRun::recordThatCannotBeWritten_isSaidAndVerifiedHasItsOwnCode_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("blocker"); // what takes the record's name: "folder" or "full disk"
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("outcome");

    const QStringList fixture{"-ZELDMX", "-deviceType=Cove Wash", "-deviceAddress=8100C001",
                              "-firmware=" + sample("CoveWash-5.1.3.hex")};
    QTest::newRow("verified, a folder of that name") << fixture + QStringList{"-simulate"} << "folder" << 6 << "verified";
    QTest::newRow("verified, full disk") << fixture + QStringList{"-simulate"} << "full disk" << 6 << "verified";
    // A code that already says something is wrong stays.
    QTest::newRow("mismatch, a folder of that name")
        << fixture + QStringList{"-simulate=keep-revision"} << "folder" << 1 << "mismatch";
}

void TestUnattendedRun::recordThatCannotBeWritten_isSaidAndVerifiedHasItsOwnCode()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, blocker);
    QFETCH(int, exitCode);
    QFETCH(QString, outcome);
    QTemporaryDir cwd;
    const QString record = cwd.filePath("updates.jsonl");
    if (blocker == QLatin1String("folder"))
        QVERIFY(QDir().mkpath(record));
    else if (!QFile::exists("/dev/full"))
        QSKIP("no /dev/full to stand for a full disk");
    else
        QVERIFY(QFile::link("/dev/full", record));

    const Outcome o = run(cwd, arguments + QStringList{"-autoConnect"});
    QVERIFY2(o.exitCode == exitCode, qPrintable(describe(o)));
    QCOMPARE(o.result.value("exitCode").toInt(-1), exitCode);
    QCOMPARE(o.result.value("outcome").toString(), outcome);
    QCOMPARE(o.result.value("recordWritten"), QJsonValue(false));
    const QString why = o.result.value("recordError").toString();
    QVERIFY2(!why.isEmpty(), qPrintable(describe(o)));
    QVERIFY2(o.err.contains(QStringLiteral("the update record could not be written: ") + why), qPrintable(o.err));
    QVERIFY2(o.out.contains(QStringLiteral("could not be written")), qPrintable(o.out));
}

void TestUnattendedRun::unwritableResultFile_refusedBeforeAnythingIsSent_data()
{
    QTest::addColumn<QString>("resultPath"); // under the run's working directory

    QTest::newRow("missing folder") << "missing/result.json";
    QTest::newRow("a folder of that name") << "taken";
}

void TestUnattendedRun::unwritableResultFile_refusedBeforeAnythingIsSent()
{
    QFETCH(QString, resultPath);
    QTemporaryDir cwd;
    QVERIFY(QDir(cwd.path()).mkdir("taken"));
    const QString path = cwd.filePath(resultPath);
    const Outcome o = run(cwd, {"-ZELDMX", "-deviceType=Cove Wash", "-deviceAddress=8100C001", "-autoConnect",
                                "-simulate", "-firmware=" + sample("CoveWash-5.1.3.hex"), "-result=" + path});
    QVERIFY2(o.exitCode == 2, qPrintable(describe(o)));
    QVERIFY2(o.err.contains(QStringLiteral("-result=%1 cannot be written").arg(path)), qPrintable(o.err));
    QVERIFY2(o.err.contains(QStringLiteral("nothing was sent")), qPrintable(o.err));
    // No window, no device: neither a record nor a session log.
    QVERIFY(o.recordLines.isEmpty());
    QCOMPARE(QDir(cwd.path()).entryList(QDir::Files), QStringList());
}

void TestUnattendedRun::signaturePolicyOfUnattendedRuns_data()
{
    QTest::addColumn<QString>("image");     // "sample", or a copy: "unsigned", "changed", "maker"
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("keysInstalled"); // the maker's key in the user's key folder
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("signature"); // of the record; empty: none written
    QTest::addColumn<QString>("said");      // in the result's message, or the run's output

    const QStringList fixture{"-ZELDMX", "-deviceType=Cove Wash", "-deviceAddress=8100C001", "-simulate"};
    const QStringList none;
    QTest::newRow("sample signed by the sample key, simulated devices: valid")
        << "sample" << fixture << false << 0 << "valid" << "Cove Wash 8100C001: verified";
    QTest::newRow("sample on real devices: unknown key")
        << "sample" << QStringList{"-ZELDMX", "-deviceType=Cove Wash", "-deviceAddress=8100C001"}
        << false << 2 << QString() << "which is not a trusted key";
    QTest::newRow("image changed after signing")
        << "changed" << fixture << false << 2 << QString() << "does not verify: the image is not the one that was signed";
    QTest::newRow("signed for another product")
        << "sample" << QStringList{"-ZELDMX", "-deviceType=Tern Spot", "-deviceAddress=8300F001", "-simulate"}
        << false << 2 << QString() << "was signed for Cove Wash, not for Tern Spot";
    QTest::newRow("unsigned with a trusted key installed: question refused")
        << "unsigned" << fixture << true << 4 << QString() << "This image is not signed by a trusted key";
    QTest::newRow("unsigned with a trusted key installed, -yes=unsigned")
        << "unsigned" << fixture + QStringList{"-yes=unsigned"} << true << 0 << "unsigned" << "verified";
    QTest::newRow("unsigned without trusted keys")
        << "unsigned" << fixture << false << 0 << "unsigned" << "verified";
    QTest::newRow("signed by the key in the user's key folder")
        << "maker" << fixture << true << 0 << "valid" << "verified";
    QTest::newRow("signed by a -trustedKey= key")
        << "maker" << fixture + QStringList{"-trustedKey=" + m_images.filePath("maker.pub")} << false << 0
        << "valid" << "verified";
    QTest::newRow("-trustedKey= naming no key")
        << "maker" << fixture + QStringList{"-trustedKey=" + m_images.filePath("maker.key")} << false << 2
        << QString() << "is not a public key file";
}

void TestUnattendedRun::signaturePolicyOfUnattendedRuns()
{
    QFETCH(QString, image);
    QFETCH(QStringList, arguments);
    QFETCH(bool, keysInstalled);
    QFETCH(int, exitCode);
    QFETCH(QString, signature);
    QFETCH(QString, said);

    QTemporaryDir cwd;
    QString path = sample("CoveWash-5.1.3.hex");
    if (image != QLatin1String("sample")) {
        path = cwd.filePath("CoveWash.hex");
        QVERIFY(QFile::copy(sample("CoveWash-5.1.3.hex"), path));
        if (image == QLatin1String("changed")) {
            QVERIFY(QFile::copy(sample("CoveWash-5.1.3.hex.minisig"), path + ".minisig"));
            QFile file(path);
            QVERIFY(file.open(QIODevice::Append));
            file.write("\n");
        } else if (image == QLatin1String("maker")) {
            QVERIFY(minisign({"-S", "-s", m_images.filePath("maker.key"), "-m", path, "-t", "product=Cove Wash"}));
        }
    }
    // The installed folder holds a damaged key, which is named and ignored.
    QVERIFY(QDir().mkpath(cwd.filePath("installed-data/zel-updater/keys")));
    writeBytes(cwd.filePath("installed-data/zel-updater/keys/damaged.pub"), "untrusted comment: x\n");
    if (keysInstalled) {
        QVERIFY(QDir().mkpath(cwd.filePath("user-data/zel-updater/keys")));
        QVERIFY(QFile::copy(m_images.filePath("maker.pub"), cwd.filePath("user-data/zel-updater/keys/maker.pub")));
    }

    const Outcome o = run(cwd, arguments + QStringList{"-autoConnect", "-firmware=" + path});
    QVERIFY2(o.exitCode == exitCode, qPrintable(describe(o)));
    QCOMPARE(o.result.value("exitCode").toInt(), exitCode);
    QVERIFY2((o.out + o.err).contains(said) || o.result.value("message").toString().contains(said),
             qPrintable(describe(o)));
    QCOMPARE(o.records.size(), signature.isEmpty() ? 0 : 1);
    if (exitCode == 4) {
        QCOMPARE(o.result.value("refusedQuestion").toString(), QStringLiteral("unsigned"));
        QCOMPARE(o.result.value("allowWith").toString(), QStringLiteral("-yes=unsigned"));
    }
    if (signature.isEmpty())
        return;
    const QJsonObject r = o.records.first();
    QCOMPARE(r.value("outcome").toString(), QStringLiteral("verified"));
    QCOMPARE(r.value("signature").toString(), signature);
    for (const char *field : {"signature", "signedBy", "trustedComment"})
        QCOMPARE(o.result.value(QLatin1String(field)), r.value(QLatin1String(field)));
    if (signature == QLatin1String("unsigned")) {
        QVERIFY(r.value("signedBy").isNull());
        QVERIFY(r.value("trustedComment").isNull());
        return;
    }
    QCOMPARE(r.value("trustedComment").toString(),
             image == QLatin1String("sample") ? QStringLiteral("product=Cove Wash version=5.1.3")
                                              : QStringLiteral("product=Cove Wash"));
    QVERIFY2(r.value("signedBy").toString().contains(image == QLatin1String("sample")
                                                         ? QStringLiteral("Zel sample key")
                                                         : QStringLiteral("minisign public key")),
             qPrintable(r.value("signedBy").toString()));
    // The session log names the damaged key it left out.
    const QStringList logs = QDir(cwd.path()).entryList({"ZELBL_*.log"});
    QCOMPARE(logs.size(), 1);
    QFile log(cwd.filePath(logs.first()));
    QVERIFY(log.open(QIODevice::ReadOnly));
    QVERIFY(log.readAll().contains("damaged.pub is damaged and is not trusted"));
}

} // namespace

QTEST_GUILESS_MAIN(TestUnattendedRun)
#include "test_UnattendedRun.moc"
