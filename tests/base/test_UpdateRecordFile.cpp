#include "base/UpdateRecordFile.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

namespace {

UpdateRecord sampleRecord()
{
    UpdateRecord record;
    record.time = QDateTime(QDate(2024, 5, 1), QTime(14, 3, 11), Qt::OffsetFromUTC, 7200);
    record.interfaceNumber = 1;
    record.deviceType = QStringLiteral("Marlow White");
    record.address = QStringLiteral("8280ABCD");
    record.revisionBefore = QStringLiteral("1.2.3");
    record.setImage(QStringLiteral("/srv/images/marlow 1.3.hex"), QByteArray("abc"),
                    QStringLiteral("1.3.0"));
    record.revisionAfter = QStringLiteral("1.3.0");
    record.outcome = UpdateRecord::Outcome::Verified;
    record.durationMs = 81234;
    return record;
}

QByteArray line(const UpdateRecord &record)
{
    return record.toJsonLine() + '\n';
}

QByteArray withAddress(const QString &address)
{
    UpdateRecord record = sampleRecord();
    record.address = address;
    return line(record);
}

void writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(bytes), bytes.size());
}

QStringList addressesOf(const UpdateRecordFile::Contents &contents)
{
    QStringList addresses;
    for (const UpdateRecord &record : contents.records)
        addresses.append(record.address);
    return addresses;
}

} // namespace

class TestUpdateRecordFile : public QObject
{
    Q_OBJECT

private slots:
    // The line is what later readers and scripts rely on: names, forms and
    // nulls must not drift.
    void storedLineKeepsItsFormAndReadsBack()
    {
        const UpdateRecord record = sampleRecord();
        QCOMPARE(record.toJsonLine(),
                 QByteArray(R"({"address":"8280ABCD","deviceType":"Marlow White",)"
                            R"("durationMs":81234,"imageFile":"/srv/images/marlow 1.3.hex",)"
                            R"("imageSha256":"ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad",)"
                            R"("imageVersion":"1.3.0","interface":"zeldmx","outcome":"verified",)"
                            R"("reason":null,"revisionAfter":"1.3.0","revisionBefore":"1.2.3",)"
                            R"("time":"2024-05-01T14:03:11+02:00"})"));
        QCOMPARE(UpdateRecord::fromJson(QJsonDocument::fromJson(record.toJsonLine()).object()),
                 std::optional<UpdateRecord>(record));

        UpdateRecord failed;
        failed.time = record.time;
        failed.interfaceNumber = 2;
        failed.outcome = UpdateRecord::Outcome::Failed;
        failed.reason = QStringLiteral("TFTP: timed out");
        const auto back = UpdateRecord::fromJson(QJsonDocument::fromJson(failed.toJsonLine()).object());
        QVERIFY(back);
        QCOMPARE(*back, failed);
        QVERIFY(back->revisionBefore.isNull()); // unknown stays unknown, not ""
        QCOMPARE(UpdateRecord::outcomeName(UpdateRecord::Outcome::NotVerified),
                 QStringLiteral("not verified"));
    }

    void readSkipsWhatIsNotARecord_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QStringList>("addresses");
        QTest::addColumn<QList<int>>("damaged");

        const QByteArray a = withAddress("A"), b = withAddress("B"), c = withAddress("C");
        QTest::newRow("torn last line") << a + b + c.left(40) << QStringList{"A", "B"} << QList<int>{3};
        QTest::newRow("torn line followed by whole lines")
            << a + c.left(25) + '\n' + b << QStringList{"A", "B"} << QList<int>{2};
        QTest::newRow("blank lines and CR LF ends are no damage")
            << a + "\r\n   \n" + QByteArray(b).replace('\n', "\r\n") << QStringList{"A", "B"} << QList<int>{};
        QTest::newRow("JSON that is not a record")
            << QByteArray("[1,2]\nnull\n{}\n")
                   + R"({"time":"yesterday","interface":"usb","outcome":"verified"})" "\n"
                   + R"({"time":"2024-05-01T14:03:11Z","interface":"serial","outcome":"verified"})" "\n"
                   + R"({"time":"2024-05-01T14:03:11Z","interface":"usb","outcome":"done"})" "\n"
                   + R"({"time":"2024-05-01T14:03:11Z","interface":"usb","outcome":"cancelled"})" "\n"
            << QStringList{QString()} << QList<int>{1, 2, 3, 4, 5, 6};
        QTest::newRow("binary garbage") << QByteArray("\x00\xff\xfe{\"", 5) + '\n' + a
                                        << QStringList{"A"} << QList<int>{1};
        QTest::newRow("empty file") << QByteArray() << QStringList{} << QList<int>{};
    }

    void readSkipsWhatIsNotARecord()
    {
        QFETCH(QByteArray, bytes);
        QTemporaryDir dir;
        const UpdateRecordFile file(dir.path());
        writeBytes(file.path(), bytes);
        const UpdateRecordFile::Contents contents = file.read();
        QVERIFY(contents.error.isEmpty());
        QTEST(addressesOf(contents), "addresses");
        QTEST(contents.damagedLines, "damaged");
    }

    // After a power cut the next run starts a fresh line: its record and every
    // later one read back whole, and only the torn line is lost.
    void appendAfterTornLineStartsFreshLine()
    {
        QTemporaryDir dir;
        const UpdateRecordFile file(dir.path());
        QVERIFY(!QFile::exists(file.path()));
        QCOMPARE(file.read().records.size(), 0); // no file yet: nothing recorded, no error

        writeBytes(file.path(), withAddress("A") + withAddress("B").left(33));
        UpdateRecord record = sampleRecord();
        record.address = QStringLiteral("C");
        QVERIFY(file.append(record));
        record.address = QStringLiteral("D");
        QVERIFY(file.append(record));

        const UpdateRecordFile::Contents contents = file.read();
        QCOMPARE(addressesOf(contents), (QStringList{"A", "C", "D"}));
        QCOMPARE(contents.damagedLines, QList<int>{2});
        QFile raw(file.path());
        QVERIFY(raw.open(QIODevice::ReadOnly));
        QVERIFY(raw.readAll().endsWith(line(record)));
    }

    void appendThatCannotReachTheDiskSaysWhy()
    {
        QTemporaryDir dir;
        QString error;
        QVERIFY(!UpdateRecordFile(dir.filePath("missing")).append(sampleRecord(), &error));
        QVERIFY2(error.contains("No such file"), qPrintable(error));

        // Refused before anything is written: it could never be read back.
        UpdateRecord noInterface = sampleRecord();
        noInterface.interfaceNumber = -1;
        const UpdateRecordFile file(dir.path());
        QVERIFY(!file.append(noInterface, &error));
        QVERIFY(!QFile::exists(file.path()));

        // A folder where the file should be cannot be read as a record.
        QVERIFY(QDir(dir.path()).mkdir(UpdateRecordFile::kFileName));
        QVERIFY(!file.append(sampleRecord(), &error));
        QVERIFY(!file.read().error.isEmpty());
    }

    // Real processes killed between runs and in the middle of a stream of
    // runs: every run that was acknowledged is in the file, whole.
    void killedWriterLosesNoEarlierLine()
    {
        const QString writer = qEnvironmentVariable("ZEL_RECORD_WRITER");
        QVERIFY2(QFile::exists(writer), "ZEL_RECORD_WRITER must name the helper");
        QTemporaryDir dir;
        QStringList acknowledged;

        auto run = [&](int first, int count, bool wait, int killAfter) {
            QProcess process;
            QStringList args{dir.path(), QString::number(first), QString::number(count)};
            if (wait)
                args.append(QStringLiteral("wait"));
            process.start(writer, args);
            QVERIFY(process.waitForStarted());
            QByteArray out;
            int seen = 0;
            QTRY_VERIFY_WITH_TIMEOUT((out += process.readAllStandardOutput(),
                                      seen = int(out.count('\n'))) >= killAfter,
                                     20000);
            if (killAfter < count || wait) {
                ::kill(pid_t(process.processId()), SIGKILL);
                QVERIFY(process.state() == QProcess::NotRunning || process.waitForFinished(10000));
                QCOMPARE(process.exitStatus(), QProcess::CrashExit);
            } else {
                QVERIFY(process.state() == QProcess::NotRunning || process.waitForFinished(10000));
                QCOMPARE(process.exitCode(), 0);
            }
            out += process.readAllStandardOutput();
            for (const QByteArray &n : out.split('\n')) {
                if (!n.isEmpty())
                    acknowledged.append(QString::fromLatin1(n));
            }
        };

        run(1, 3, true, 3);          // killed while idle between runs
        run(100, 1000000, false, 50); // killed in the middle of a stream of runs
        run(5000, 2, false, 2);      // a later run appends normally

        const UpdateRecordFile::Contents contents = UpdateRecordFile(dir.path()).read();
        QVERIFY(contents.error.isEmpty());
        QCOMPARE(contents.damagedLines, QList<int>{});
        const QStringList inFile = addressesOf(contents);
        QVERIFY(acknowledged.size() >= 55);
        // The killed stream may have written one line it could not acknowledge.
        QVERIFY(inFile.size() - acknowledged.size() <= 1);
        qsizetype at = 0;
        for (const QString &n : acknowledged) {
            at = inFile.indexOf(n, at);
            QVERIFY2(at >= 0, qPrintable(QStringLiteral("run %1 was lost").arg(n)));
        }
        QCOMPARE(inFile.last(), QStringLiteral("5001"));
    }
};

QTEST_GUILESS_MAIN(TestUpdateRecordFile)
#include "test_UpdateRecordFile.moc"
