#include "catalogue/BootLoadProduct.h"
#include "catalogue/MicroprocessorImageInfo.h"
#include "tests/support/FakePrompter.h"

#include <QPointer>
#include <QTest>

class TestBootLoadProduct : public QObject
{
    Q_OBJECT

private slots:
    void newRecordsCarryTheNotGivenMarkers();
    void imageSizeFollowsEitherSetter_data();
    void imageSizeFollowsEitherSetter();
    void addProcessorReplacesTheSameKeyWithoutOwningIt();
    void processorOfAMissingKeyIsNull();
};

void TestBootLoadProduct::newRecordsCarryTheNotGivenMarkers()
{
    FakePrompter prompter;
    BootLoadProduct product(prompter);
    QCOMPARE(product.objectName(), QStringLiteral("BootLoadProduct"));
    QCOMPARE(product.programFlow(), quint8(0xFF));
    QVERIFY(product.serialNumPrefixes().isEmpty());
    QCOMPARE(product.processorCount(), 0);
    QCOMPARE(product.imageVersion(), 0u);
    QVERIFY(!product.imageReady());

    MicroprocessorImageInfo info(prompter);
    const QString notGivenText(QChar(0xFFFE));
    QCOMPARE(info.imageSize(), 0xFFFFFFFEu);
    QCOMPARE(info.wordCount(), 0xFFFFFFFEu);
    QCOMPARE(info.wordSize(), 0u);
    QCOMPARE(info.pageSize(), 0u);
    QCOMPARE(info.blRev(), quint8(1));
    QCOMPARE(info.fileType(), 255);
    QCOMPARE(info.hierarchy(), 255);
    QCOMPARE(info.magicFlag(), 0xFFFFFFFEu);
    QCOMPARE(info.magicLoc(), 0xFFFFFFFEu);
    QCOMPARE(info.verLoc(), 0xFFFFFFFEu);
    QCOMPARE(info.firmwareMajorVersion(), 0xFFFFFFFEu);
    QCOMPARE(info.bl3SftLoc(), 0xFFFFFFFEu);
    QCOMPARE(info.bl3SftVal(), 0xFFFFFFFEu);
    QCOMPARE(info.bl3RevLoc(), 0xFFFFFFFEu);
    QCOMPARE(info.blid(), notGivenText);
    QCOMPARE(info.sft(), notGivenText);
    QVERIFY(info.image().isEmpty());
}

void TestBootLoadProduct::imageSizeFollowsEitherSetter_data()
{
    QTest::addColumn<bool>("setSize");
    QTest::addColumn<quint32>("wordSize");
    QTest::addColumn<bool>("setCount");
    QTest::addColumn<quint32>("wordCount");
    QTest::addColumn<quint32>("imageSize");

    QTest::newRow("both") << true << 2u << true << 0x8000u << 0x10000u;
    // Each setter multiplies with whatever the other field holds, markers included.
    QTest::newRow("only word size wraps the marker") << true << 2u << false << 0u << 0xFFFFFFFCu;
    QTest::newRow("only word count meets size 0") << false << 0u << true << 0x8000u << 0u;
    QTest::newRow("product wraps at 32 bits") << true << 0x10u << true << 0x10000000u << 0u;
}

void TestBootLoadProduct::imageSizeFollowsEitherSetter()
{
    QFETCH(bool, setSize);
    QFETCH(quint32, wordSize);
    QFETCH(bool, setCount);
    QFETCH(quint32, wordCount);
    QFETCH(quint32, imageSize);

    FakePrompter prompter;
    MicroprocessorImageInfo info(prompter);
    if (setSize)
        info.setWordSize(wordSize);
    if (setCount)
        info.setWordCount(wordCount);
    QCOMPARE(info.imageSize(), imageSize);

    // Set the other way round, the result is the same.
    MicroprocessorImageInfo reversed(prompter);
    if (setCount)
        reversed.setWordCount(wordCount);
    if (setSize)
        reversed.setWordSize(wordSize);
    QCOMPARE(reversed.imageSize(), imageSize);
}

void TestBootLoadProduct::addProcessorReplacesTheSameKeyWithoutOwningIt()
{
    FakePrompter prompter;
    QObject owner;
    QPointer<MicroprocessorImageInfo> first = new MicroprocessorImageInfo(prompter, &owner);
    QPointer<MicroprocessorImageInfo> second = new MicroprocessorImageInfo(prompter, &owner);
    first->setHierarchy(0);
    second->setHierarchy(0);
    {
        BootLoadProduct product(prompter);
        product.addProcessor(first);
        product.addProcessor(second);
        product.addProcessor(nullptr);
        QCOMPARE(product.processorCount(), 1);
        QCOMPARE(product.processor(0), second.data());
    }
    // Processors belong to their Qt parent, not to the product.
    QVERIFY(first);
    QVERIFY(second);
}

void TestBootLoadProduct::processorOfAMissingKeyIsNull()
{
    FakePrompter prompter;
    MicroprocessorImageInfo a(prompter);
    MicroprocessorImageInfo b(prompter);
    BootLoadProduct product(prompter);
    a.setHierarchy(0);
    b.setHierarchy(1);
    product.addProcessor(&a);
    product.addProcessor(&b);
    QCOMPARE(product.processorCount(), 2);
    QCOMPARE(product.processor(1), &b);
    QVERIFY(product.processor(5) == nullptr);
    QVERIFY(product.processor(-1) == nullptr);
}

QTEST_GUILESS_MAIN(TestBootLoadProduct)
#include "test_BootLoadProduct.moc"
