#include "catalogue/ImageSource.h"
#include "catalogue/MicroprocessorImageInfo.h"
#include "tests/support/FakePrompter.h"

#include <QTest>

class TestPsocReader : public QObject
{
    Q_OBJECT

private slots:
    void buildsParagraphs_data();
    void buildsParagraphs();
    void lineWithTooManyFieldsIsRefused_data();
    void lineWithTooManyFieldsIsRefused();
    void fieldThatIsNoByteRefusesTheSection_data();
    void fieldThatIsNoByteRefusesTheSection();
};

void TestPsocReader::buildsParagraphs_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QStringList>("paragraphs"); // hexadecimal
    QTest::addColumn<QByteArray>("nextLine");

    QTest::newRow("fields 2 and 3 of every w line are data")
        << QByteArray("w 00 12 34 AA BB\nw 00 12 36 CC\nr\n") << QStringList{"1234aabb1236cc"} << QByteArray();
    QTest::newRow("group at FF3B appended at once and at r")
        << QByteArray("w 00 FF 3B 01 p 02\nr\n") << QStringList{"ff3b0102", "ff3b0102"} << QByteArray();
    QTest::newRow("two groups") << QByteArray("w 00 10 20\nr\nw 00 30\nr\n") << QStringList{"1020", "30"}
                                << QByteArray();
    QTest::newRow("r repeats the paragraph as it is") << QByteArray("r\nw 00 10\nr\nr\n")
                                                      << QStringList{"", "10", "10"} << QByteArray();
    QTest::newRow("fields end at the first empty one") << QByteArray("w 00 12  34\nr\n") << QStringList{"12"}
                                                       << QByteArray();
    QTest::newRow("empty field 2 still leaves field 3 in the address")
        << QByteArray("w 00  FF3B 01\nr\n") << QStringList{"", ""} << QByteArray();
    QTest::newRow("one-digit and leading-zero bytes") << QByteArray("w 00 0FF a 3\r\nr\r\n")
                                                      << QStringList{"ff0a03"} << QByteArray();
    QTest::newRow("CR-only line ends") << QByteArray("w 00 12 34\rw 00 56\rr\r")
                                       << QStringList{"123456"} << QByteArray();
    QTest::newRow("blank line ends the section and is consumed")
        << QByteArray("w 00 01\nr\n\nw 00 02\n") << QStringList{"01"} << QByteArray("w 00 02");
    QTest::newRow("Intel HEX line ends the section") << QByteArray("w 00 01\n:00000001FF\nr\n")
                                                     << QStringList{} << QByteArray("r");
}

void TestPsocReader::buildsParagraphs()
{
    QFETCH(QByteArray, text);
    QFETCH(QStringList, paragraphs);
    QFETCH(QByteArray, nextLine);
    FakePrompter prompter;
    MicroprocessorImageInfo info(prompter);
    ImageSource source(text);
    QVERIFY(info.readCypressPSoC(source));

    QStringList read;
    for (int k = 0; k < info.paragraphCount(); ++k)
        read.append(QString::fromLatin1(info.paragraph(k).toHex()));
    QCOMPARE(read, paragraphs);
    QCOMPARE(source.readLine().toByteArray(), nextLine);
    QVERIFY(prompter.shown().isEmpty());
}

void TestPsocReader::lineWithTooManyFieldsIsRefused_data()
{
    QTest::addColumn<int>("fields");
    QTest::addColumn<bool>("accepted");

    QTest::newRow("255 fields") << 255 << true;
    QTest::newRow("256 fields") << 256 << false;
    QTest::newRow("5000 fields") << 5000 << false;
}

void TestPsocReader::lineWithTooManyFieldsIsRefused()
{
    QFETCH(int, fields);
    QFETCH(bool, accepted);
    QByteArray longLine("w");
    for (int k = 1; k < fields; ++k)
        longLine += k % 2 ? " 01" : " 02";
    // Beyond an empty field nothing counts, however long the line.
    QByteArray endedEarly("w 00 03  " + QByteArray(2000, 'x').replace('x', "x "));

    FakePrompter prompter;
    MicroprocessorImageInfo info(prompter);
    ImageSource source("w 00 07\nr\n" + endedEarly + "\nr\n" + longLine + "\nr\nnext\n");
    if (!accepted) {
        prompter.expectMessage(Prompter::Kind::Warning, QStringLiteral("Warning"),
                               QStringLiteral("Image file line 4, too many fields (at most 255)."));
    }
    QCOMPARE(info.readCypressPSoC(source), accepted);
    QCOMPARE(prompter.pendingExpectations(), 0);
    QVERIFY(!prompter.unexpectedSeen());
    if (accepted) {
        QCOMPARE(info.paragraphCount(), 3);
        QCOMPARE(info.paragraph(1), QByteArray("\x03", 1));
        QCOMPARE(info.paragraph(2).size(), 253);
        QVERIFY(source.atEnd()); // "next" ended the section and was consumed
    } else {
        // Nothing half read is kept; the refused line was the last one read.
        QCOMPARE(info.paragraphCount(), 0);
        QCOMPARE(source.readLine(), QByteArrayView("r"));
    }
}

void TestPsocReader::fieldThatIsNoByteRefusesTheSection_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QString>("message");

    // No checksum would catch these: read as numbers they became 00 or FF.
    QTest::newRow("non-hex digit") << QByteArray("w 00 12 34 AA G7 1FF -3")
                                   << "Image file line 1, field 5 is not a hexadecimal byte: \"G7\".";
    QTest::newRow("more than a byte") << QByteArray("w 00 12 34 1FF")
                                      << "Image file line 1, field 4 is not a hexadecimal byte: \"1FF\".";
    QTest::newRow("sign") << QByteArray("w 00 12 -3") << "Image file line 1, field 3 is not a hexadecimal byte: \"-3\".";
    QTest::newRow("0x prefix") << QByteArray("w 00 0x12")
                               << "Image file line 1, field 2 is not a hexadecimal byte: \"0x12\".";
}

void TestPsocReader::fieldThatIsNoByteRefusesTheSection()
{
    QFETCH(QByteArray, line);
    QFETCH(QString, message);
    FakePrompter prompter;
    MicroprocessorImageInfo info(prompter);
    ImageSource source("w 00 07\n" + line + "\nr\n");
    prompter.expectMessage(Prompter::Kind::Warning, QStringLiteral("Warning"), message);
    QVERIFY(!info.readCypressPSoC(source));
    QCOMPARE(prompter.pendingExpectations(), 0);
    QCOMPARE(info.paragraphCount(), 0);
}

QTEST_GUILESS_MAIN(TestPsocReader)
#include "test_PsocReader.moc"
