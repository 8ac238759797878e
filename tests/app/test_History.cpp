#include "tests/app/WindowFixture.h"

#include "app/HistoryDialog.h"
#include "app/RunEvents.h"
#include "ethernet/tftpInterfaceControl.h"
#include "base/UpdateRecordFile.h"

#include <QAction>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QScopeGuard>
#include <QTableWidget>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

namespace {

UpdateRecord record(int minute, int interfaceNumber, const QString &type, const QString &address,
                    UpdateRecord::Outcome outcome)
{
    UpdateRecord r;
    r.time = QDateTime(QDate(2024, 5, 1), QTime(10, minute, 0), Qt::UTC);
    r.interfaceNumber = interfaceNumber;
    r.deviceType = type;
    r.address = address;
    r.revisionBefore = QStringLiteral("1.2.0");
    r.setImage(QStringLiteral("/srv/fw/%1.hex").arg(type), type.toUtf8(), QStringLiteral("1.3.0"));
    r.revisionAfter = outcome == UpdateRecord::Outcome::Verified ? QStringLiteral("1.3.0") : QString();
    r.outcome = outcome;
    r.durationMs = 1000 * minute;
    return r;
}

} // namespace

// The History window through the window's File menu, on an update record
// left with a torn last line by a power cut.
class TestHistory : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_workDir;
    QString m_previousDir;

    static QStringList column(QTableWidget *table, int column, bool shownOnly)
    {
        QStringList texts;
        for (int row = 0; row < table->rowCount(); ++row) {
            if (!shownOnly || !table->isRowHidden(row))
                texts.append(table->item(row, column)->text());
        }
        return texts;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_workDir.isValid());
        // The record lives beside the session log, in the working directory.
        m_previousDir = QDir::currentPath();
        QDir::setCurrent(m_workDir.path());
    }

    void cleanupTestCase() { QDir::setCurrent(m_previousDir); }

    void tornLastLineIsNamedAndEveryWholeLineListedNewestFirst()
    {
        const UpdateRecordFile file(m_workDir.path());
        UpdateRecord odd = record(4, 0, QStringLiteral("Sorrel 3"), QStringLiteral("S3-0042"),
                                  UpdateRecord::Outcome::Failed);
        odd.imageFile = QStringLiteral("/srv/fw/s3 \"beta\", 2.hex");
        odd.reason = QStringLiteral("player left, then came back");
        for (const UpdateRecord &r :
             {record(1, 1, "Marlow White", "8280ABCD", UpdateRecord::Outcome::Verified),
              record(3, 2, "Kestrel", "10.0.0.7", UpdateRecord::Outcome::Mismatch), odd,
              record(2, 1, "Marlow RGB", "8280FFFF", UpdateRecord::Outcome::NotVerified)})
            QVERIFY(file.append(r));
        {
            QFile raw(file.path());
            QVERIFY(raw.open(QIODevice::Append));
            raw.write(record(5, 1, "Marlow White", "8280ABCD", UpdateRecord::Outcome::Verified)
                          .toJsonLine()
                          .left(60));
        }

        WindowFixture::Options options;
        options.cataloguePath = sampleCataloguePath();
        WindowFixture f(options);
        QCOMPARE(f.window->updateRecordFolder(), m_workDir.path());
        auto *menu = f.find<QMenu>(QStringLiteral("menuFile"));
        QAction *history = nullptr;
        for (QAction *action : menu->actions()) {
            if (action->objectName() == QLatin1String("actionHistory"))
                history = action;
        }
        QVERIFY(history);
        history->trigger();

        auto *dialog = f.window->findChild<HistoryDialog *>();
        QVERIFY(dialog && dialog->isVisible());
        auto *table = dialog->findChild<QTableWidget *>(QStringLiteral("m_tableWidget_records"));
        auto *note = dialog->findChild<QLabel *>(QStringLiteral("m_label_note"));
        QCOMPARE(column(table, 3, false), (QStringList{"S3-0042", "10.0.0.7", "8280FFFF", "8280ABCD"}));
        QCOMPARE(column(table, 4, false), (QStringList{"failed", "mismatch", "not verified", "verified"}));
        QVERIFY(!note->isHidden());
        QVERIFY2(note->text().startsWith(QStringLiteral("1 damaged line skipped (line 5 of ")),
                 qPrintable(note->text()));
        QVERIFY(f.logLines().last().contains(QStringLiteral("WARNING - ZelBootLoader - ")
                                             + file.path() + QStringLiteral(": line 5 is damaged")));

        // A run recorded afterwards starts on a fresh line and tops the list
        // when History is opened again; the torn line stays the only loss.
        QVERIFY(f.window->recordUpdate(record(6, 2, "Kestrel", "10.0.0.8", UpdateRecord::Outcome::Verified)));
        history->trigger();
        QCOMPARE(f.window->findChildren<HistoryDialog *>().size(), 1);
        QCOMPARE(column(table, 3, false).first(), QStringLiteral("10.0.0.8"));
        QCOMPARE(table->rowCount(), 5);
        QVERIFY(note->text().startsWith(QStringLiteral("1 damaged line skipped (line 5 of ")));

        // "What did we put on fixture 8280ABCD?"
        auto *interfaces = dialog->findChild<QComboBox *>(QStringLiteral("m_comboBox_interface"));
        auto *device = dialog->findChild<QLineEdit *>(QStringLiteral("m_lineEdit_device"));
        interfaces->setCurrentIndex(interfaces->findData(2));
        QCOMPARE(column(table, 3, true), (QStringList{"10.0.0.8", "10.0.0.7"}));
        interfaces->setCurrentIndex(interfaces->findData(1));
        QCOMPARE(column(table, 3, true), (QStringList{"8280FFFF", "8280ABCD"}));
        QTest::keyClicks(device, QStringLiteral("80abcd"));
        QCOMPARE(column(table, 3, true), QStringList{"8280ABCD"});
        device->clear();
        interfaces->setCurrentIndex(0);
        QTest::keyClicks(device, QStringLiteral("sorrel"));
        QCOMPARE(column(table, 3, true), QStringList{"S3-0042"});

        // Copy takes the selected rows that are shown, with the stored values.
        auto *copy = dialog->findChild<QPushButton *>(QStringLiteral("m_pushButton_copy"));
        table->clearSelection();
        QVERIFY(!copy->isEnabled());
        device->clear();
        for (int row : {0, 1, 2}) // 10.0.0.8, S3-0042, 10.0.0.7
            table->selectionModel()->select(table->model()->index(row, 0),
                                            QItemSelectionModel::Select | QItemSelectionModel::Rows);
        QTest::keyClicks(device, QStringLiteral("10.0.0.")); // hides the selected S3-0042 row
        QVERIFY(copy->isEnabled());
        QGuiApplication::clipboard()->clear();
        QTest::mouseClick(copy, Qt::LeftButton);
        const QString header = QStringLiteral(
            "time,interface,deviceType,address,outcome,revisionBefore,imageVersion,revisionAfter,"
            "reason,imageFile,signature,signedBy,trustedComment,durationMs,imageSha256\n");
        const UpdateRecord kestrel = record(3, 2, "Kestrel", "10.0.0.7", UpdateRecord::Outcome::Mismatch);
        QCOMPARE(QGuiApplication::clipboard()->text(),
                 header
                     + QStringLiteral("2024-05-01T10:06:00Z,ethernet,Kestrel,10.0.0.8,verified,1.2.0,1.3.0,"
                                      "1.3.0,,/srv/fw/Kestrel.hex,,,,6000,%1\n"
                                      "2024-05-01T10:03:00Z,ethernet,Kestrel,10.0.0.7,mismatch,1.2.0,1.3.0,"
                                      ",,/srv/fw/Kestrel.hex,,,,3000,%1\n")
                           .arg(kestrel.imageSha256));

        device->clear();
        table->clearSelection();
        table->selectRow(1); // the failed Sorrel 3 run: its file name needs quoting
        QVERIFY(QTest::qWaitForWindowActive(dialog));
        table->setFocus();
        QTest::keySequence(table, QKeySequence::Copy);
        QCOMPARE(QGuiApplication::clipboard()->text(),
                 header
                     + QStringLiteral("2024-05-01T10:04:00Z,usb,Sorrel 3,S3-0042,failed,1.2.0,1.3.0,,"
                                      "\"player left, then came back\",\"/srv/fw/s3 \"\"beta\"\", 2.hex\",,,,"
                                      "4000,%1\n")
                           .arg(odd.imageSha256));
        QVERIFY(f.prompter.shown().isEmpty());
    }

    // Questions answered No fill the record with runs that sent nothing: they
    // stay recorded, and History lists them only when asked to.
    void cancelledRunsStayRecordedButAreListedOnlyWhenAsked()
    {
        QTemporaryDir cwd;
        QDir::setCurrent(cwd.path());
        const auto back = qScopeGuard([this] { QDir::setCurrent(m_workDir.path()); });
        const UpdateRecordFile file(cwd.path());
        for (const UpdateRecord &r : {record(1, 1, "Cove Wash", "8100C001", UpdateRecord::Outcome::Cancelled),
                                      record(2, 1, "Cove Wash", "8100C001", UpdateRecord::Outcome::Verified),
                                      record(3, 0, "Sorrel 3", "S3-0042", UpdateRecord::Outcome::Cancelled),
                                      record(4, 2, "Kestrel", "10.0.0.7", UpdateRecord::Outcome::Failed)})
            QVERIFY(file.append(r));
        WindowFixture::Options options;
        options.cataloguePath = sampleCataloguePath();
        WindowFixture f(options);
        f.window->showHistory();
        auto *dialog = f.window->findChild<HistoryDialog *>();
        auto *table = dialog->findChild<QTableWidget *>(QStringLiteral("m_tableWidget_records"));
        auto *cancelled = dialog->findChild<QCheckBox *>(QStringLiteral("m_checkBox_showCancelled"));
        auto *count = dialog->findChild<QLabel *>(QStringLiteral("m_label_count"));
        QCOMPARE(cancelled->text(), QStringLiteral("Show cancelled"));
        QVERIFY(!cancelled->isChecked());
        QCOMPARE(table->rowCount(), 4);
        QCOMPARE(column(table, 4, true), (QStringList{"failed", "verified"}));
        QCOMPARE(count->text(), QStringLiteral("2 of 4 updates shown."));

        cancelled->setChecked(true);
        QCOMPARE(column(table, 4, true), (QStringList{"failed", "cancelled", "verified", "cancelled"}));
        // With the other filters, as any row.
        dialog->findChild<QLineEdit *>(QStringLiteral("m_lineEdit_device"))->setText(QStringLiteral("8100C001"));
        QCOMPARE(column(table, 4, true), (QStringList{"verified", "cancelled"}));
        cancelled->setChecked(false);
        QCOMPARE(column(table, 4, true), QStringList{"verified"});
    }

    // A run that ends while updates.jsonl cannot take its line: the operator
    // is told where it should have gone and why, once the panel is done.
    void runThatCannotBeRecordedIsWarnedAbout()
    {
        QTemporaryDir cwd;
        QDir::setCurrent(cwd.path());
        QVERIFY(QDir().mkpath(cwd.filePath(UpdateRecordFile::kFileName)));
        WindowFixture::Options options;
        options.cataloguePath = sampleCataloguePath();
        WindowFixture f(options);
        QSignalSpy notWritten(f.window->runEvents(), &RunEvents::recordNotWritten);
        QSignalSpy recorded(f.window->runEvents(), &RunEvents::runRecorded);

        f.prompter.expectMessage(Prompter::Kind::Warning, QStringLiteral("Update not recorded"), QString());
        emit f.window->tftpPanel()->signal_runRecord(
            record(7, 2, "Kestrel", "10.0.0.9", UpdateRecord::Outcome::Verified));
        QCOMPARE(f.prompter.shown().size(), 0); // not from within the panel's step
        QCOMPARE(notWritten.size(), 1);
        QCOMPARE(recorded.size(), 1);
        QTRY_COMPARE(f.prompter.pendingExpectations(), 0);
        const QString text = f.prompter.shown().last().text;
        const QString why = notWritten.first().at(1).toString();
        QVERIFY(!why.isEmpty());
        QVERIFY2(text.contains(cwd.filePath(UpdateRecordFile::kFileName)) && text.contains(why)
                     && text.contains(QStringLiteral("Kestrel 10.0.0.9: verified")),
                 qPrintable(text));
        QDir::setCurrent(m_workDir.path());
    }
};

QTEST_MAIN(TestHistory)
#include "test_History.moc"
