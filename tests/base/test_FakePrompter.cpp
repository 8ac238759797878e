#include "tests/support/FakePrompter.h"

#include <QTest>

// The double answers in script order and records what was shown; other tests
// rely on both.
class TestFakePrompter : public QObject
{
    Q_OBJECT

private slots:
    void scriptedDialogs_answerInOrderAndAreRecorded()
    {
        FakePrompter prompter;
        prompter.expectMessage(Prompter::Kind::Warning, "Warning", QString(), QMessageBox::Abort);
        prompter.expectFileDialog("/tmp/a.hex");
        prompter.expectFileDialog(QString());

        QCOMPARE(prompter.showMessage(nullptr, Prompter::Kind::Warning, "Warning", "sure?",
                                      QMessageBox::Yes | QMessageBox::Abort),
                 QMessageBox::Abort);
        QCOMPARE(prompter.getOpenFileName(nullptr, "Select", "/start", "Firmware image (*.bin)"),
                 QString("/tmp/a.hex"));
        QCOMPARE(prompter.getOpenFileName(nullptr, "Select", "/tmp/a.hex", "f"), QString());

        QCOMPARE(prompter.pendingExpectations(), 0);
        QCOMPARE(prompter.shown().size(), 3);
        QCOMPARE(prompter.shown().at(0).what, QString("warning"));
        QCOMPARE(prompter.shown().at(0).text, QString("sure?"));
        QCOMPARE(prompter.shown().at(1).filter, QString("Firmware image (*.bin)"));
        QCOMPARE(prompter.shown().at(2).text, QString("/tmp/a.hex")); // start directory
        QVERIFY(!prompter.unexpectedSeen());
    }

    void progress_recordsStepsAndCancelsAtScriptedValue()
    {
        FakePrompter prompter;
        prompter.cancelNextProgressAt(3);
        auto progress = prompter.openProgress(nullptr, "t", "Writing", "Cancel", 0, 10);
        progress->setValue(2);
        QVERIFY(!progress->wasCanceled());
        progress->setValue(3);
        QVERIFY(progress->wasCanceled());
        progress->close();
        QCOMPARE(prompter.progresses().size(), 1);
        QCOMPARE(prompter.progresses().first()->values, (QList<int>{2, 3}));
        QVERIFY(prompter.progresses().first()->closed);
    }
};

QTEST_GUILESS_MAIN(TestFakePrompter)
#include "test_FakePrompter.moc"
