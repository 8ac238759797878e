#include "catalogue/ImageSource.h"
#include "catalogue/IntelHexRecord.h"

#include <QTest>

class TestIntelHexRecord : public QObject
{
    Q_OBJECT

private slots:
    void parsesOneLine_data();
    void parsesOneLine();
    void shortLineNeverReadsPastItsEnd();
    void sourceSplitsLines_data();
    void sourceSplitsLines();
    void sourcePutBackRereadsTheLine();
};

void TestIntelHexRecord::parsesOneLine_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("address");
    QTest::addColumn<int>("type");
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<bool>("checksumOk");
    QTest::addColumn<bool>("wellFormed");

    QTest::newRow("data record") << QByteArray(":0400000001020304F2") << 4 << 0 << 0
                                 << QByteArray("\x01\x02\x03\x04") << true << true;
    QTest::newRow("lower-case digits") << QByteArray(":0210fe00abcd78") << 2 << 0x10FE << 0
                                       << QByteArray("\xAB\xCD") << true << true;
    QTest::newRow("end of file") << QByteArray(":00000001FF") << 0 << 0 << 1 << QByteArray() << true << true;
    QTest::newRow("extended linear address") << QByteArray(":020000040001F9") << 2 << 0 << 4
                                             << QByteArray("\x00\x01", 2) << true << true;
    QTest::newRow("extended segment address") << QByteArray(":020000021000EC") << 2 << 0 << 2
                                              << QByteArray("\x10\x00", 2) << true << true;
    QTest::newRow("wrong checksum") << QByteArray(":0400000001020304F3") << 4 << 0 << 0
                                    << QByteArray("\x01\x02\x03\x04") << false << true;
    QTest::newRow("blanks after the checksum") << QByteArray(":00000001FF \t ") << 0 << 0 << 1
                                               << QByteArray() << true << true;
    // Damaged lines decode to zeros for the missing or non-hex pairs, and the
    // checksum may well agree with those zeros: only the form tells.
    QTest::newRow("non-hex pair") << QByteArray(":02000000G1FFFF") << 2 << 0 << 0
                                  << QByteArray("\x00\xFF", 2) << true << false;
    QTest::newRow("characters after the checksum") << QByteArray(":00000001FFjunk") << 0 << 0 << 1
                                                   << QByteArray() << true << false;
    QTest::newRow("colon alone") << QByteArray(":") << 0 << 0 << 0 << QByteArray() << true << false;
    QTest::newRow("missing checksum, sum 0") << QByteArray(":00000000") << 0 << 0 << 0
                                             << QByteArray() << true << false;
    QTest::newRow("shorter than its count, checksum agrees")
        << QByteArray(":0400FB0001") << 4 << 0xFB << 0 << QByteArray("\x01\x00\x00\x00", 4) << true
        << false;
    QTest::newRow("half a pair at the end") << QByteArray(":00000001F") << 0 << 0 << 1 << QByteArray()
                                            << false << false;
}

void TestIntelHexRecord::parsesOneLine()
{
    QFETCH(QByteArray, line);
    QFETCH(int, count);
    QFETCH(int, address);
    QFETCH(int, type);
    QFETCH(QByteArray, data);
    QFETCH(bool, checksumOk);
    QFETCH(bool, wellFormed);

    IntelHexRecord record;
    record.parse(":0400000001020304F2"); // a good record first: nothing of it may stick
    record.parse(line);
    QCOMPARE(int(record.byteCount()), count);
    QCOMPARE(int(record.address()), address);
    QCOMPARE(int(record.type()), type);
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(record.data()), record.byteCount()), data);
    QCOMPARE(record.checksumOk(), checksumOk);
    QCOMPARE(record.wellFormed(), wellFormed);
}

void TestIntelHexRecord::shortLineNeverReadsPastItsEnd()
{
    // The line is a view into a larger buffer whose next bytes would complete
    // the record: they must not be taken.
    const QByteArray buffer(":01000000AB54");
    IntelHexRecord record;
    record.parse(QByteArrayView(buffer).first(9));
    QCOMPARE(int(record.byteCount()), 1);
    QCOMPARE(int(record.data()[0]), 0);
    QVERIFY(!record.checksumOk());
    // A pair cut in half by the end of the line is cut short as a whole.
    QCOMPARE(int(IntelHexRecord::pairAt(QByteArrayView(buffer).first(10), 9)), 0);
    QCOMPARE(int(IntelHexRecord::pairAt(buffer, 9)), 0xAB);
}

void TestIntelHexRecord::sourceSplitsLines_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QList<QByteArray>>("lines");

    QTest::newRow("LF") << QByteArray("a\nb\n") << QList<QByteArray>{"a", "b"};
    QTest::newRow("CR LF") << QByteArray("a\r\nb\r\n") << QList<QByteArray>{"a", "b"};
    QTest::newRow("CR only") << QByteArray(":00\r:01\r:02") << QList<QByteArray>{":00", ":01", ":02"};
    QTest::newRow("mixed, CR before CR LF") << QByteArray("a\rb\nc\r\r\nd")
                                            << QList<QByteArray>{"a", "b", "c", "", "d"};
    QTest::newRow("no final newline") << QByteArray("a\nb") << QList<QByteArray>{"a", "b"};
    QTest::newRow("blank lines kept") << QByteArray("a\n\n\nb\n") << QList<QByteArray>{"a", "", "", "b"};
    QTest::newRow("byte order mark skipped") << QByteArray("\xEF\xBB\xBF:00\r\n")
                                             << QList<QByteArray>{":00"};
    QTest::newRow("empty") << QByteArray() << QList<QByteArray>{};
}

void TestIntelHexRecord::sourceSplitsLines()
{
    QFETCH(QByteArray, text);
    QFETCH(QList<QByteArray>, lines);
    ImageSource source(text);
    QList<QByteArray> read;
    while (!source.atEnd())
        read.append(source.readLine().toByteArray());
    QCOMPARE(read, lines);
}

void TestIntelHexRecord::sourcePutBackRereadsTheLine()
{
    ImageSource source(QByteArray("one\ntwo\n"));
    QCOMPARE(source.readLine(), QByteArrayView("one"));
    QCOMPARE(source.readLine(), QByteArrayView("two"));
    QVERIFY(source.atEnd());
    source.putBack();
    QVERIFY(!source.atEnd());
    QCOMPARE(source.readLine(), QByteArrayView("two"));
}

QTEST_GUILESS_MAIN(TestIntelHexRecord)
#include "test_IntelHexRecord.moc"
