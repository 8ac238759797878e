#include "base/LogMessage.h"
#include "base/Logger.h"

#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>
#include <QTextStream>
#include <QSet>
#include <QThread>

#include <memory>
#include <vector>

namespace {
const QString kBegin = QStringLiteral("************************ LOG DUMP BEGIN ************************");
const QString kEnd = QStringLiteral("************************  LOG DUMP END  ************************");
}

class TestLogger : public QObject
{
    Q_OBJECT

private:
    QObject *m_owner = nullptr;
    Logger *m_logger = nullptr;

    QStringList dumpLines(LOGTYPE *type = nullptr)
    {
        QString text;
        QTextStream ts(&text);
        if (type)
            m_logger->dumpLog(ts, *type);
        else
            m_logger->dumpLog(ts);
        ts.flush();
        return text.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }

    static quint32 sequenceOf(const QString &line) { return line.mid(2, 8).toUInt(nullptr, 16); }

private slots:
    void init()
    {
        m_owner = new QObject;
        m_logger = Logger::instance(m_owner);
        QVERIFY(m_logger);
    }
    void cleanup()
    {
        delete m_owner; // owns and deletes the logger
        m_owner = nullptr;
        m_logger = nullptr;
    }

    void instance_firstCallWithoutParent_createsNothing()
    {
        delete m_owner;
        m_owner = nullptr;
        QTest::ignoreMessage(QtDebugMsg, "Define parent object on first use of Logger singleton!");
        QCOMPARE(Logger::instance(nullptr), nullptr);
        m_owner = new QObject;
        m_logger = Logger::instance(m_owner);
        QCOMPARE(m_logger->parent(), m_owner);
        QObject other;
        QCOMPARE(Logger::instance(&other), m_logger); // later calls ignore the argument
        QCOMPARE(Logger::instance(nullptr), m_logger);
    }

    void priorityName_coversTableAndFallsBackToFinest_data()
    {
        QTest::addColumn<int>("priority");
        QTest::addColumn<QString>("name");
        QTest::newRow("100") << 100 << "FINEST TRACE";
        QTest::newRow("200") << 200 << "FINER TRACE";
        QTest::newRow("300") << 300 << "FINE TRACE";
        QTest::newRow("400") << 400 << "CONFIG";
        QTest::newRow("500") << 500 << "INFO";
        QTest::newRow("600") << 600 << "WARNING";
        QTest::newRow("700") << 700 << "SEVERE";
        QTest::newRow("outside table") << 450 << "FINEST TRACE";
    }
    void priorityName_coversTableAndFallsBackToFinest()
    {
        QFETCH(int, priority);
        QFETCH(QString, name);
        QCOMPARE(priorityName(static_cast<LOGPRIORITY>(priority)), name);
    }

    void toString_formatsSequenceTimeLevelNameAndText()
    {
        const QDateTime when(QDate(2013, 7, 9), QTime(14, 3, 11, 250));
        LogMessage first(when, LOG_INFO, LOGTYPE_GENERAL, "ZelBootLoader", "Initializing...");
        LogMessage second(when, LOG_INFO, LOGTYPE_GENERAL, "ZelBootLoader", "Initializing...");
        QCOMPARE(second.sequence(), first.sequence() + 1);
        const QString expected = QStringLiteral("0x%1 2013-07-09T14:03:11 INFO - ZelBootLoader - Initializing...")
                                     .arg(QString::number(second.sequence(), 16).toUpper().rightJustified(8, '0'));
        QCOMPARE(second.toString(), expected);
        QVERIFY(expected.startsWith("0x")); // the prefix stays lower case
    }

    void log_levelFilterDropsBelowLevelWithoutTakingNumbers()
    {
        m_logger->setLogLength(100);
        m_logger->setLogLevel(LOG_WARNING);
        QSignalSpy spy(m_logger, &Logger::latestLogString);
        for (int p = 100; p <= 700; p += 100)
            m_logger->log(static_cast<LOGPRIORITY>(p), LOGTYPE_GENERAL, "t", QString::number(p));
        m_logger->log(static_cast<LOGPRIORITY>(450), LOGTYPE_GENERAL, "t", "450");
        QCOMPARE(spy.count(), 2);
        const QString warning = spy.at(0).at(0).toString();
        const QString severe = spy.at(1).at(0).toString();
        QVERIFY(warning.endsWith(" WARNING - t - 600"));
        QVERIFY(severe.endsWith(" SEVERE - t - 700"));
        QCOMPARE(sequenceOf(severe), sequenceOf(warning) + 1); // dropped records took no number
        QCOMPARE(m_logger->getLogLevel(), quint16(600));
    }

    void setLogLevel_appliesToItsOwnConfirmation()
    {
        QSignalSpy spy(m_logger, &Logger::latestLogString);
        m_logger->setLogLevel(LOG_SEVERE); // CONFIG 400 is below 700: suppressed
        QCOMPARE(spy.count(), 0);
        m_logger->setLogLevel(LOG_CONFIG);
        QCOMPARE(spy.count(), 1);
        QVERIFY(spy.at(0).at(0).toString().endsWith("CONFIG - Logger - Logging level set to CONFIG."));
        m_logger->log(LOG_CONFIG, LOGTYPE_GENERAL, "t", "equal to level is kept");
        QCOMPARE(spy.count(), 2);
    }

    void log_atLengthEvictsOldestAndNeverRenumbers()
    {
        m_logger->setLogLength(3);
        for (int i = 0; i < 5; ++i)
            m_logger->log(LOG_INFO, LOGTYPE_GENERAL, "t", QStringLiteral("r%1").arg(i));
        const QStringList lines = dumpLines();
        QCOMPARE(lines.size(), 5);
        QCOMPARE(lines.first(), kBegin);
        QCOMPARE(lines.last(), kEnd);
        QVERIFY(lines.at(1).endsWith("- r2"));
        QVERIFY(lines.at(2).endsWith("- r3"));
        QVERIFY(lines.at(3).endsWith("- r4"));
        QCOMPARE(sequenceOf(lines.at(2)), sequenceOf(lines.at(1)) + 1);
        QCOMPARE(sequenceOf(lines.at(3)), sequenceOf(lines.at(1)) + 2);
    }

    void setLogLength_zeroActsAsOneAndKeepsOnlyTheConfirmation()
    {
        for (int i = 0; i < 4; ++i)
            m_logger->log(LOG_INFO, LOGTYPE_GENERAL, "t", "x");
        m_logger->setLogLength(0);
        const QStringList lines = dumpLines();
        QCOMPARE(lines.size(), 3);
        QVERIFY(lines.at(1).endsWith("CONFIG - Logger - Logging length set to 1."));
    }

    void setLogLength_shrinkDropsOldestBeforeTheConfirmation()
    {
        m_logger->setLogLength(10);
        for (int i = 0; i < 6; ++i)
            m_logger->log(LOG_INFO, LOGTYPE_GENERAL, "t", QStringLiteral("r%1").arg(i));
        m_logger->setLogLength(3); // keeps r3 r4 r5, then the confirmation evicts r3
        const QStringList lines = dumpLines();
        QCOMPARE(lines.size(), 5);
        QVERIFY(lines.at(1).endsWith("- r4"));
        QVERIFY(lines.at(2).endsWith("- r5"));
        QVERIFY(lines.at(3).endsWith("Logging length set to 3."));
    }

    void dumpLog_emptyAndFilteredWriteOnlyBanners()
    {
        QCOMPARE(dumpLines(), (QStringList{kBegin, kEnd}));
        m_logger->log(LOG_INFO, LOGTYPE_GENERAL, "t", "general");
        LOGTYPE general = LOGTYPE_GENERAL;
        QCOMPARE(dumpLines(&general).size(), 3);
        LOGTYPE none = static_cast<LOGTYPE>(7);
        QCOMPARE(dumpLines(&none), (QStringList{kBegin, kEnd}));
        QCOMPARE(kBegin.size(), 64);
        QCOMPARE(kEnd.size(), 64);
    }

    void clearLog_emptiesButKeepsCounting()
    {
        m_logger->log(LOG_INFO, LOGTYPE_GENERAL, "t", "a");
        const quint32 before = sequenceOf(dumpLines().at(1));
        m_logger->clearLog();
        QCOMPARE(m_logger->recordCount(), 0);
        m_logger->log(LOG_INFO, LOGTYPE_GENERAL, "t", "b");
        QCOMPARE(sequenceOf(dumpLines().at(1)), before + 1);
    }

    void log_fromAnotherThreadArrivesThroughQueuedConnection()
    {
        QObject sender;
        QThread thread;
        QSignalSpy spy(m_logger, &Logger::latestLogString);
        QObject *worker = new QObject;
        worker->moveToThread(&thread);
        thread.start();
        QMetaObject::invokeMethod(worker, [this] {
            QMetaObject::invokeMethod(m_logger, "log", Qt::QueuedConnection,
                                      Q_ARG(LOGPRIORITY, LOG_INFO), Q_ARG(LOGTYPE, LOGTYPE_GENERAL),
                                      Q_ARG(QString, "worker"), Q_ARG(QString, "from thread"));
        });
        QTRY_COMPARE(spy.count(), 1);
        QVERIFY(spy.at(0).at(0).toString().endsWith("worker - from thread"));
        thread.quit();
        thread.wait();
        delete worker;
    }

    // A receiver connected directly runs inside log(): it may log again and
    // dump, which deadlocked while the record was emitted under the lock.
    void log_directReceiverMayLogAndDump()
    {
        QStringList seen;
        QStringList dumped;
        connect(m_logger, &Logger::latestLogString, this, [&](const QString &line) {
            seen.append(line);
            if (line.endsWith(QLatin1String("first"))) {
                m_logger->log(LOG_INFO, LOGTYPE_GENERAL, "receiver", "second");
                dumped = dumpLines();
            }
        }, Qt::DirectConnection);
        m_logger->log(LOG_INFO, LOGTYPE_GENERAL, "sender", "first");
        QCOMPARE(seen.size(), 2);
        QVERIFY(seen.at(0).endsWith("sender - first"));
        QVERIFY(seen.at(1).endsWith("receiver - second"));
        QCOMPARE(dumped.size(), 4); // banners, both records
        QCOMPARE(m_logger->recordCount(), 2);
    }

    // Device threads log straight into the logger, several at once.
    void log_fromSeveralThreadsAtOnceKeepsEveryRecordOnce()
    {
        m_logger->setLogLength(5000);
        m_logger->clearLog();
        QAtomicInt emitted = 0;
        connect(m_logger, &Logger::latestLogString, this, [&emitted] { emitted.ref(); },
                Qt::DirectConnection);
        constexpr int kThreads = 4;
        constexpr int kRecords = 500;
        std::vector<std::unique_ptr<QThread>> threads;
        for (int t = 0; t < kThreads; ++t) {
            threads.emplace_back(QThread::create([this, t] {
                for (int i = 0; i < kRecords; ++i)
                    m_logger->log(LOG_INFO, LOGTYPE_GENERAL, QStringLiteral("thread%1").arg(t),
                                  QStringLiteral("record %1").arg(i));
            }));
        }
        for (auto &thread : threads)
            thread->start();
        for (auto &thread : threads)
            QVERIFY(thread->wait(30000));

        QCOMPARE(int(emitted), kThreads * kRecords);
        const QStringList lines = dumpLines();
        QCOMPARE(lines.size(), kThreads * kRecords + 2);
        QSet<quint32> numbers;
        QSet<QString> texts;
        for (const QString &line : lines.mid(1, lines.size() - 2)) {
            numbers.insert(sequenceOf(line));
            texts.insert(line.section(QLatin1String(" - "), 1));
        }
        QCOMPARE(numbers.size(), kThreads * kRecords);
        QCOMPARE(texts.size(), kThreads * kRecords);
        QVERIFY(texts.contains(QStringLiteral("thread3 - record 499")));
        // Kept oldest first: the numbers rise through the dump.
        for (int i = 2; i < lines.size() - 1; ++i)
            QVERIFY(sequenceOf(lines.at(i)) > sequenceOf(lines.at(i - 1)));
    }
};

QTEST_GUILESS_MAIN(TestLogger)
#include "test_Logger.moc"
