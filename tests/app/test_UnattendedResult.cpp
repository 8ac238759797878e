#include "app/UnattendedResult.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <QTest>

class TestUnattendedResult : public QObject
{
    Q_OBJECT

private slots:
    // What a production-line script reads after a run that a guarding
    // question stopped: the code, the record's fields and how to allow it.
    void refusedQuestionNamesTheOptionThatAllowsIt()
    {
        UpdateRecord record;
        record.time = QDateTime(QDate(2024, 5, 1), QTime(9, 0, 0), Qt::UTC);
        record.interfaceNumber = 0;
        record.deviceType = QStringLiteral("Sorrel 3");
        record.revisionBefore = QStringLiteral("1.0.82");
        record.setImage(QStringLiteral("/srv/fw/s3.hex"), QByteArray("abc"), QStringLiteral("1.0.60"));
        record.outcome = UpdateRecord::Outcome::Cancelled;
        record.reason = QStringLiteral("the image is older than the player's firmware");

        UnattendedResult result;
        result.exitCode = ExitCode::QuestionRefused;
        result.message = QStringLiteral("downgrade refused; nothing was sent");
        result.record = record;
        result.refusedQuestion = GuardingQuestion::Downgrade;
        result.allowedQuestions = {GuardingQuestion::Overwrite};

        QTemporaryDir dir;
        const QString path = dir.filePath("result.json");
        QVERIFY(UnattendedResult().write(path)); // an older result is replaced whole
        QVERIFY(result.write(path));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"result.json"});

        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QJsonObject json = QJsonDocument::fromJson(file.readAll()).object();
        QCOMPARE(json.value("exitCode").toInt(), 4);
        QCOMPARE(json.value("meaning").toString(),
                 QStringLiteral("a guarding question was met that -yes did not allow"));
        QCOMPARE(json.value("refusedQuestion").toString(), QStringLiteral("downgrade"));
        QCOMPARE(json.value("allowWith").toString(), QStringLiteral("-yes=overwrite,downgrade"));
        QCOMPARE(json.value("message").toString(), result.message);
        // Every field of the record, as the record file holds it.
        const QJsonObject stored = record.toJson();
        for (auto it = stored.begin(); it != stored.end(); ++it)
            QCOMPARE(json.value(it.key()), it.value());

        QString error;
        QVERIFY(!result.write(dir.filePath("missing/result.json"), &error));
        QVERIFY(!error.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestUnattendedResult)
#include "test_UnattendedResult.moc"
