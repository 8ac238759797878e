#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

// The real executable, ended from outside: the session's log must still be
// written, as when the operator closes the window.
class TestShutdown : public QObject
{
    Q_OBJECT

private:
    // Starts program in cwd with its log records echoed on stderr, and waits
    // until stderr shows marker (the window has logged it).
    static bool start(QProcess &process, const QString &program, const QStringList &arguments,
                      const QString &cwd, const QByteArray &marker, QByteArray &err)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("QT_LOGGING_RULES", "zel.log.debug=true");
        process.setProcessEnvironment(env);
        process.setWorkingDirectory(cwd);
        process.start(program, arguments);
        if (!process.waitForStarted())
            return false;
        QElapsedTimer timer;
        timer.start();
        while (!(err += process.readAllStandardError()).contains(marker)) {
            if (timer.elapsed() > 20000 || process.state() != QProcess::Running)
                return false;
            process.waitForReadyRead(100);
        }
        return true;
    }

    static void endAndCheckLog(QProcess &process, int signalNumber, const QString &cwd,
                               const QByteArray &mustContain)
    {
        ::kill(pid_t(process.processId()), signalNumber);
        QVERIFY(process.waitForFinished(20000));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 0);

        const QStringList logs = QDir(cwd).entryList({"ZELBL_*.log"}, QDir::Files);
        QCOMPARE(logs.size(), 1);
        QFile log(QDir(cwd).filePath(logs.first()));
        QVERIFY(log.open(QIODevice::ReadOnly));
        const QByteArray text = log.readAll();
        QVERIFY(text.contains(mustContain));
        QVERIFY(text.trimmed().endsWith("************************  LOG DUMP END  ************************"));
    }

    static QString updater() { return qEnvironmentVariable("ZEL_UPDATER"); }

private slots:
    void initTestCase() { QVERIFY2(QFile::exists(updater()), "ZEL_UPDATER must name the built executable"); }

    void terminatedUpdaterStillWritesItsShutdownLog_data()
    {
        QTest::addColumn<int>("signalNumber");
        QTest::newRow("SIGTERM") << int(SIGTERM);
        QTest::newRow("SIGINT") << int(SIGINT);
    }

    void terminatedUpdaterStillWritesItsShutdownLog()
    {
        QFETCH(int, signalNumber);
        QTemporaryDir cwd;
        QProcess process;
        QByteArray err;
        // Where the log will go is said at start-up on stderr too, on a line
        // of its own besides the record's echo.
        QVERIFY(start(process, updater(), {"-simulate"}, cwd.path(),
                      "\nThe session log will be written to " + QFile::encodeName(cwd.path())
                          + " when the program ends.\n",
                      err));
        endAndCheckLog(process, signalNumber, cwd.path(), "INFO - ZelBootLoader - Initializing...");
    }

    // A box shown while the window is built (here: no catalogue beside the
    // executable) waits for an operator who may never come.
    void startupBoxDoesNotHoldOffTermination_data() { terminatedUpdaterStillWritesItsShutdownLog_data(); }

    void startupBoxDoesNotHoldOffTermination()
    {
        QFETCH(int, signalNumber);
        QTemporaryDir bin;
        QTemporaryDir cwd;
        const QString copy = bin.filePath("zel-updater");
        QVERIFY(QFile::copy(updater(), copy));
        QProcess process;
        QByteArray err;
        QVERIFY(start(process, copy, {"-simulate"}, cwd.path(), "SEVERE - ZelBootLoader - Cannot open file", err));
        QTest::qWait(200); // the box is open by now
        QCOMPARE(process.state(), QProcess::Running);
        // The box names the places looked in, the executable's folder among them.
        endAndCheckLog(process, signalNumber, cwd.path(), QFile::encodeName(bin.path()) + "/zelblprod.xml");
    }

    // Under nohup the session must survive the terminal going away.
    void hangupIgnoredAtStartStaysIgnored()
    {
        QTemporaryDir cwd;
        QProcess process;
        QByteArray err;
        QVERIFY(start(process, "nohup", {updater(), "-simulate"}, cwd.path(), "Initializing...", err));
        ::kill(pid_t(process.processId()), SIGHUP);
        QVERIFY(!process.waitForFinished(500));
        QCOMPARE(process.state(), QProcess::Running);
        endAndCheckLog(process, SIGTERM, cwd.path(), "INFO - ZelBootLoader - Initializing...");
    }
};

QTEST_GUILESS_MAIN(TestShutdown)
#include "test_Shutdown.moc"
