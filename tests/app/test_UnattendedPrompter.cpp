// How a run without an operator answers each kind of box.

#include "app/PlatformNoiseFilter.h"
#include "app/UnattendedPrompter.h"
#include "tests/support/FakePrompter.h"

#include <QtTest>

using Kind = Prompter::Kind;
using Button = QMessageBox::StandardButton;

class TestUnattendedPrompter : public QObject
{
    Q_OBJECT

private slots:
    void answersByTheRunsRules_data();
    void answersByTheRunsRules();
    void imageFileIsOfferedOnce();
    void platformNoiseIsKeptOutAndNothingElse_data();
    void platformNoiseIsKeptOutAndNothingElse();
};

void TestUnattendedPrompter::answersByTheRunsRules_data()
{
    QTest::addColumn<QString>("how"); // "confirm", "guard", "ask"
    QTest::addColumn<int>("buttons");
    QTest::addColumn<bool>("allowed");
    QTest::addColumn<int>("answer");
    QTest::addColumn<bool>("refusedQuestion");

    const int okCancel = QMessageBox::Ok | QMessageBox::Cancel;
    const int yesNo = QMessageBox::Yes | QMessageBox::No;
    const int yesAbort = QMessageBox::Yes | QMessageBox::Abort;
    QTest::newRow("confirmation goes on") << "confirm" << okCancel << false << int(QMessageBox::Ok) << false;
    QTest::newRow("allowed guarding question: yes") << "guard" << yesNo << true << int(QMessageBox::Yes) << false;
    QTest::newRow("refused guarding question: no") << "guard" << yesNo << false << int(QMessageBox::No) << true;
    QTest::newRow("refused downgrade: abort") << "guard" << yesAbort << false << int(QMessageBox::Abort) << true;
    QTest::newRow("other question: safe answer") << "ask" << yesNo << true << int(QMessageBox::No) << false;
    QTest::newRow("other Ok/Cancel question: cancel") << "ask" << okCancel << true << int(QMessageBox::Cancel) << false;
    QTest::newRow("plain message: acknowledged") << "ask" << int(QMessageBox::Ok) << true << int(QMessageBox::Ok) << false;
}

void TestUnattendedPrompter::answersByTheRunsRules()
{
    QFETCH(QString, how);
    QFETCH(int, buttons);
    QFETCH(bool, allowed);
    QFETCH(bool, refusedQuestion);
    FakePrompter progress;
    UnattendedPrompter prompter(QStringLiteral("image.hex"),
                                allowed ? QList<GuardingQuestion>{GuardingQuestion::Overwrite}
                                        : QList<GuardingQuestion>{},
                                progress);
    QStringList echoed;
    prompter.setEcho([&echoed](const QString &line) { echoed.append(line); });
    const auto shown = QMessageBox::StandardButtons(buttons);
    Button answer = QMessageBox::NoButton;
    if (how == QLatin1String("confirm"))
        answer = prompter.confirmRun(nullptr, Kind::Warning, "T", "Update?", shown, QMessageBox::Cancel);
    else if (how == QLatin1String("guard"))
        answer = prompter.askGuarding(GuardingQuestion::Overwrite, nullptr, Kind::Question, "T",
                                      "Overwrite it?", shown, QMessageBox::No);
    else
        answer = prompter.ask(nullptr, Kind::Warning, "T", "Continue anyway?", shown, QMessageBox::No);
    QTEST(int(answer), "answer");
    QCOMPARE(prompter.refusedQuestion().has_value(), refusedQuestion);
    QCOMPARE(echoed.size(), 1);
    QVERIFY2(echoed.first().startsWith(QStringLiteral("zel-updater: [")), qPrintable(echoed.first()));
    if (refusedQuestion)
        QVERIFY(echoed.first().contains(QStringLiteral("-yes= does not allow overwrite")));
}

void TestUnattendedPrompter::imageFileIsOfferedOnce()
{
    FakePrompter progress;
    UnattendedPrompter prompter(QStringLiteral("fw/image.hex"), {}, progress);
    prompter.setEcho({});
    QCOMPARE(prompter.getOpenFileName(nullptr, "Select", "", "*.hex"),
             QDir::current().absoluteFilePath(QStringLiteral("fw/image.hex")));
    // A refused image is not offered again: the window's loop ends.
    QCOMPARE(prompter.getOpenFileName(nullptr, "Select", "", "*.hex"), QString());
    prompter.critical(nullptr, "File mismatch!", "The firmware image file does not match the device selected!");
    QCOMPARE(prompter.lastProblem(), QStringLiteral("The firmware image file does not match the device selected!"));
}

void TestUnattendedPrompter::platformNoiseIsKeptOutAndNothingElse_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("message");
    QTest::addColumn<bool>("noise");
    QTest::newRow("no runtime folder")
        << int(QtWarningMsg) << "QStandardPaths: XDG_RUNTIME_DIR not set, defaulting to '/tmp/runtime-root'" << true;
    QTest::newRow("off-screen window hints")
        << int(QtWarningMsg) << "This plugin does not support propagateSizeHints()" << true;
    QTest::newRow("off-screen raise") << int(QtWarningMsg) << "This plugin does not support raise()" << true;
    QTest::newRow("a run's own warning")
        << int(QtWarningMsg) << "Simulated Ethernet controllers could not start: Address in use" << false;
    QTest::newRow("the same words inside another warning")
        << int(QtWarningMsg) << "QTFTP: This plugin does not support propagateSizeHints()" << false;
    QTest::newRow("a critical message is never held back")
        << int(QtCriticalMsg) << "This plugin does not support propagateSizeHints()" << false;
}

void TestUnattendedPrompter::platformNoiseIsKeptOutAndNothingElse()
{
    QFETCH(int, type);
    QFETCH(QString, message);
    QFETCH(bool, noise);
    QCOMPARE(PlatformNoiseFilter::isNoise(QtMsgType(type), message), noise);
}

QTEST_MAIN(TestUnattendedPrompter)
#include "test_UnattendedPrompter.moc"
