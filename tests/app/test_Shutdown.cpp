#include <QDir>
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

private slots:
    void terminatedUpdaterStillWritesItsShutdownLog_data()
    {
        QTest::addColumn<bool>("interrupt");
        QTest::newRow("SIGTERM") << false;
        QTest::newRow("SIGINT") << true;
    }

    void terminatedUpdaterStillWritesItsShutdownLog()
    {
        QFETCH(bool, interrupt);
        const QString updater = qEnvironmentVariable("ZEL_UPDATER");
        QVERIFY2(QFile::exists(updater), "ZEL_UPDATER must name the built executable");
        QTemporaryDir cwd;
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("QT_LOGGING_RULES", "zel.log.debug=true"); // echo records to stderr
        process.setProcessEnvironment(env);
        process.setWorkingDirectory(cwd.path());
        process.start(updater, {"-simulate"});
        QVERIFY(process.waitForStarted());

        // Once the window has logged, the watcher is in place.
        QByteArray err;
        QTRY_VERIFY_WITH_TIMEOUT((err += process.readAllStandardError()).contains("Initializing..."),
                                 20000);
        if (interrupt)
            ::kill(pid_t(process.processId()), SIGINT);
        else
            process.terminate();
        QVERIFY(process.waitForFinished(20000));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 0);

        const QStringList logs = QDir(cwd.path()).entryList({"ZELBL_*.log"}, QDir::Files);
        QCOMPARE(logs.size(), 1);
        QFile log(cwd.filePath(logs.first()));
        QVERIFY(log.open(QIODevice::ReadOnly));
        const QByteArray text = log.readAll();
        QVERIFY(text.contains("INFO - ZelBootLoader - Initializing..."));
        QVERIFY(text.trimmed().endsWith("************************  LOG DUMP END  ************************"));
    }
};

QTEST_GUILESS_MAIN(TestShutdown)
#include "test_Shutdown.moc"
