#include "ethernet/SimulatedTarvo.h"
#include "ethernet/TarvoNotPresent.h"

#include <QSignalSpy>
#include <QTest>

class TestTarvoLayers : public QObject
{
    Q_OBJECT

private slots:
    void notPresent_sendsNothingAndSaysSoOnce();
    void simulated_answersTheRevisionLater();
    void simulated_unknownControllerStaysSilent();
    void simulated_badAddressIsRefused();
};

void TestTarvoLayers::notPresent_sendsNothingAndSaysSoOnce()
{
    TarvoNotPresent lib;
    QList<QPair<LOGPRIORITY, QString>> records;
    connect(&lib, &TarvoLibrary::signal_log, this,
            [&](LOGPRIORITY p, LOGTYPE, QString object, QString text) {
                QCOMPARE(object, QString("TarvoLibrary"));
                records.append({p, text});
            });
    QSignalSpy replies(&lib, &TarvoLibrary::signalDeviceVariableReply);

    QVERIFY(!lib.getValue("127.0.0.2", TarvoLibrary::kFirmwareRevision));
    QVERIFY(!lib.getValue("127.0.0.3", TarvoLibrary::kFirmwareRevision));
    QTest::qWait(100);

    QCOMPARE(replies.size(), 0);
    QCOMPARE(records.size(), 1);
    QCOMPARE(records.first().first, LOG_WARNING);
    QCOMPARE(records.first().second,
             QString("Controller-value library not present: no controller revision can be read."));
}

void TestTarvoLayers::simulated_answersTheRevisionLater()
{
    SimulatedTarvo lib;
    lib.setValue(0x7F000005, 342, 77);
    QSignalSpy replies(&lib, &TarvoLibrary::signalDeviceVariableReply);

    QVERIFY(lib.getValue("127.0.0.2", 342));
    QCOMPARE(replies.size(), 0); // the answer travels through the event loop
    QVERIFY(replies.wait(30000));
    QCOMPARE(replies.first().at(0).value<unsigned long>(), 0x7F000002ul);
    QCOMPARE(replies.first().at(1).value<quint16>(), quint16(342));
    QCOMPARE(replies.first().at(2).value<quint32>(), SimulatedTarvo::kDefaultRevision);

    QVERIFY(lib.getValue("127.0.0.5", 342));
    QVERIFY(replies.wait(30000));
    QCOMPARE(replies.last().at(0).value<unsigned long>(), 0x7F000005ul);
    QCOMPARE(replies.last().at(2).value<quint32>(), 77u);
    QCOMPARE(lib.questions().size(), 2);
}

void TestTarvoLayers::simulated_unknownControllerStaysSilent()
{
    SimulatedTarvo lib;
    lib.setReplyDelay(0);
    QSignalSpy replies(&lib, &TarvoLibrary::signalDeviceVariableReply);
    QVERIFY(lib.getValue("127.0.0.9", 342)); // sent, but nobody answers
    QVERIFY(lib.getValue("127.0.0.2", 343)); // a value the controller does not have
    lib.removeController(SimulatedTarvo::kDefaultAddress);
    QVERIFY(lib.getValue("127.0.0.2", 342));
    QTest::qWait(100);
    QCOMPARE(replies.size(), 0);
}

void TestTarvoLayers::simulated_badAddressIsRefused()
{
    SimulatedTarvo lib;
    QVERIFY(!lib.getValue("", 342));
    QVERIFY(!lib.getValue("127.0.0", 342));
    QVERIFY(!lib.getValue("::1", 342));
    QVERIFY(!lib.getValue("127.0.0.256", 342));
    QVERIFY(!lib.getValue("127.0.0.+2", 342));
    QVERIFY(lib.questions().isEmpty());
}

QTEST_GUILESS_MAIN(TestTarvoLayers)
#include "test_TarvoLayers.moc"
