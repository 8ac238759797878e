#include "catalogue/HexFileState.h"
#include "catalogue/ImageDump.h"
#include "catalogue/ImageSource.h"
#include "catalogue/MicroprocessorImageInfo.h"
#include "tests/support/FakePrompter.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using Kind = Prompter::Kind;

namespace {

QByteArray bytes(std::initializer_list<int> values)
{
    QByteArray out;
    for (int v : values)
        out.append(char(v));
    return out;
}

// Runs the test body with a fresh temporary directory as working directory,
// where output.txt lands.
class InTemporaryDir
{
public:
    InTemporaryDir() : m_old(QDir::currentPath()) { QDir::setCurrent(m_dir.path()); }
    ~InTemporaryDir() { QDir::setCurrent(m_old); }
    QByteArray dump() const
    {
        QFile f(m_dir.filePath(QStringLiteral("output.txt")));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<none>");
    }

private:
    QTemporaryDir m_dir;
    QString m_old;
};

} // namespace

class TestIntelHexReader : public QObject
{
    Q_OBJECT

private slots:
    void dataLandsAtItsAbsoluteAddress_data();
    void dataLandsAtItsAbsoluteAddress();
    void badRecordEndsTheSectionWithAWarning_data();
    void badRecordEndsTheSectionWithAWarning();
    void endOfFileRecordLeavesTheSectionImageForTheDump();
    void dumpRowsAreFullSixteenByteRowsWithWideOffsets();
    void nonRecordLineIsLeftForTheNextReader();
    void upperAddressCarriesOverBetweenSectionsOfOneFileOnly();
    void unusableImageSizeLeavesTheImageEmptyAndEveryReadBounded();
    void readWord32StaysInsideTheImage();
    void pagesAreCutFromTheImageHeld();
    void wordLocationsDoNotWrapIn32Bits();
    void cleanup();

private:
    FakePrompter m_prompter;
};

void TestIntelHexReader::cleanup()
{
    const bool unexpected = m_prompter.unexpectedSeen();
    const int pending = m_prompter.pendingExpectations();
    m_prompter.clear();
    QVERIFY(!unexpected);
    QCOMPARE(pending, 0);
}

void TestIntelHexReader::dataLandsAtItsAbsoluteAddress_data()
{
    QTest::addColumn<quint32>("imageSize");
    QTest::addColumn<QByteArray>("atHighAddress");

    QTest::newRow("inside the image") << 0x20000u << bytes({1, 2, 3, 4});
    QTest::newRow("beyond the image") << 0x10000u << QByteArray();
    QTest::newRow("across the end") << 0x10002u << bytes({1, 2});
}

void TestIntelHexReader::dataLandsAtItsAbsoluteAddress()
{
    QFETCH(quint32, imageSize);
    QFETCH(QByteArray, atHighAddress);
    InTemporaryDir cwd;
    MicroprocessorImageInfo info(m_prompter);
    info.setWordSize(1);
    info.setWordCount(imageSize);
    ImageSource source(":0200100055AAEF\n:020000040001F9\n:0400000001020304F2\n");
    HexFileState state;
    info.readIntelHex(source, state);

    QCOMPARE(info.image().size(), qsizetype(imageSize));
    QCOMPARE(info.image().mid(0x10, 2), bytes({0x55, 0xAA}));
    QCOMPARE(info.image().mid(0x10000, 4), atHighAddress);
    QCOMPARE(info.image().count(char(0xFF)), qsizetype(imageSize) - 2 - atHighAddress.size());
    QVERIFY(source.atEnd());
}

void TestIntelHexReader::badRecordEndsTheSectionWithAWarning_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("message");

    const QByteArray before(":0100000011EE\n:0100010022DC\n");
    QTest::newRow("checksum on the third line") << before + ":0100020033CB\n"
                                                << "Image file line 2, checksum error.";
    QTest::newRow("type 02") << QByteArray(":020000021000EC\n")
                             << "Image file line 0, unrecognized record type 0x2.";
    QTest::newRow("type 03") << before + ":0400000300003800C1\n"
                             << "Image file line 2, unrecognized record type 0x3.";
    QTest::newRow("type 1A, lower-case hex") << before + ":0000001AE6\n"
                                             << "Image file line 2, unrecognized record type 0x1a.";
    QTest::newRow("type 04 too short") << before + ":0100000400FB\n"
                                       << "Image file line 2, extended address data too short.";
    const QString damaged = QStringLiteral(
        "Image file line 2, damaged record: it is cut short or holds characters that are not "
        "hexadecimal digits.");
    // Each of these sums to 0 as the zeros it would be read as.
    QTest::newRow("shorter than its count") << before + ":0400FB0001\n" << damaged;
    QTest::newRow("non-hex digit") << before + ":01000200G0ED\n" << damaged;
    QTest::newRow("text after the checksum") << before + ":0100020033CAx\n" << damaged;
}

void TestIntelHexReader::badRecordEndsTheSectionWithAWarning()
{
    QFETCH(QByteArray, text);
    QFETCH(QString, message);
    MicroprocessorImageInfo info(m_prompter);
    info.setWordSize(1);
    info.setWordCount(0x10);
    // The line after the bad one must not be read.
    ImageSource source(text + ":0100030044B8\nnext\n");
    HexFileState state;
    m_prompter.expectMessage(Kind::Warning, QStringLiteral("Warning"), message);
    QVERIFY(!info.readIntelHex(source, state)); // a damaged section is never usable

    QCOMPARE(info.image().at(3), char(0xFF));
    if (text.startsWith(":01"))
        QCOMPARE(info.image().left(2), bytes({0x11, 0x22})); // records before it stay
    // The bad line was consumed; the section ended right after it.
    QCOMPARE(source.readLine(), QByteArrayView(":0100030044B8"));
}

void TestIntelHexReader::endOfFileRecordLeavesTheSectionImageForTheDump()
{
    MicroprocessorImageInfo info(m_prompter);
    info.setWordSize(4);
    info.setWordCount(8);
    HexFileState state;
    ImageSource none(":0400000001020304F2\n");
    QVERIFY(info.readIntelHex(none, state));
    QVERIFY(!state.hasDumpImage()); // no end-of-file record, no dump

    // Data after the end-of-file record is read, and the section's dump is
    // the image as the section left it, however many such records it holds.
    ImageSource source(":0400000001020304F2\n:00000001FF\n:00000001FF\n:010010007778\n");
    QVERIFY(info.readIntelHex(source, state));
    QCOMPARE(info.image().left(4), bytes({1, 2, 3, 4}));
    QCOMPARE(info.image().at(0x10), char(0x77));
    QVERIFY(state.hasDumpImage());
    QCOMPARE(state.dumpImage(), info.image());
}

void TestIntelHexReader::dumpRowsAreFullSixteenByteRowsWithWideOffsets()
{
    InTemporaryDir cwd;
    MicroprocessorImageInfo info(m_prompter);
    info.setWordSize(1);
    info.setWordCount(0x10018); // the last 8 bytes make no full row
    ImageSource source(":020000040001F9\n:01000F00AB45\n:00000001FF\n");
    HexFileState state;
    info.readIntelHex(source, state);
    QVERIFY(ImageDump::write(state.dumpImage()));

    const QList<QByteArray> rows = cwd.dump().split('\n');
    QCOMPARE(rows.size(), 0x1001 + 1);
    QCOMPARE(rows.first(), QByteArray("0000 FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF\r"));
    QCOMPARE(rows.at(0xFFF), QByteArray("FFF0 FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF\r"));
    QCOMPARE(rows.at(0x1000), QByteArray("10000 FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFAB\r"));
    QCOMPARE(rows.last(), QByteArray());

    // Smaller than one row: an empty dump replaces the old one.
    QVERIFY(ImageDump::write(QByteArray(15, char(0xFF))));
    QCOMPARE(cwd.dump(), QByteArray());
}

void TestIntelHexReader::nonRecordLineIsLeftForTheNextReader()
{
    MicroprocessorImageInfo first(m_prompter), second(m_prompter);
    for (MicroprocessorImageInfo *info : {&first, &second}) {
        info->setWordSize(1);
        info->setWordCount(0x10);
    }
    ImageSource source(":0100000011EE\n\n:0100000022DD\n");
    HexFileState state;
    first.readIntelHex(source, state);
    second.readIntelHex(source, state); // starts at the blank line: returns at once
    QCOMPARE(first.image().at(0), char(0x11));
    QCOMPARE(second.image(), QByteArray(0x10, char(0xFF)));
    QCOMPARE(source.readLine(), QByteArrayView(""));
}

void TestIntelHexReader::upperAddressCarriesOverBetweenSectionsOfOneFileOnly()
{
    MicroprocessorImageInfo first(m_prompter), second(m_prompter);
    for (MicroprocessorImageInfo *info : {&first, &second}) {
        info->setWordSize(1);
        info->setWordCount(0x20000);
    }
    ImageSource source(":020000040001F9\n:0100000011EE\nw 00 12\n");
    HexFileState state;
    first.readIntelHex(source, state);
    QCOMPARE(first.image().at(0x10000), char(0x11));
    source.readLine(); // the line between the sections, as the PSoC reader takes it

    // Second section of the same file, no type 04 record: the upper address
    // of the first section still holds.
    ImageSource rest(":0100000022DD\n");
    second.readIntelHex(rest, state);
    QCOMPARE(second.image().at(0x10000), char(0x22));
    QCOMPARE(second.image().at(0), char(0xFF));

    // Another file starts with its own state: address 0.
    HexFileState newFile;
    ImageSource other(":0100000022DD\n");
    second.readIntelHex(other, newFile);
    QCOMPARE(second.image().at(0), char(0x22));
    QCOMPARE(second.image().at(0x10000), char(0xFF));
}

void TestIntelHexReader::unusableImageSizeLeavesTheImageEmptyAndEveryReadBounded()
{
    MicroprocessorImageInfo info(m_prompter);
    info.setWordSize(2); // word count not given: 2 x 0xFFFFFFFE
    info.setPageSize(0x100);
    QCOMPARE(info.imageSize(), 0xFFFFFFFCu);
    ImageSource source(":0400000001020304F2\n:00000001FF\n");
    HexFileState state;
    m_prompter.expectMessage(Prompter::Kind::Warning, "Warning",
                             "The product catalogue gives processor  no usable image size (0xFFFFFFFC bytes).");
    QVERIFY(!info.readIntelHex(source, state)); // never usable, but the section is consumed
    QVERIFY(source.atEnd());

    QVERIFY(info.image().isEmpty());
    QCOMPARE(info.pageCount(), 0u);
    QCOMPARE(info.readWord32(0), 0u);
    QCOMPARE(info.pageRecord(0, 0x100), QByteArray());
    QByteArray out("stale");
    QVERIFY(!info.copyPage(0, 0x100, out));
    QVERIFY(out.isEmpty());
    QVERIFY(state.dumpImage().isEmpty());
}

void TestIntelHexReader::readWord32StaysInsideTheImage()
{
    MicroprocessorImageInfo info(m_prompter);
    QCOMPARE(info.readWord32(0), 0u); // nothing read yet
    info.setWordSize(1);
    info.setWordCount(8);
    ImageSource source(":08000000010203040A0B0C0DC0\n");
    HexFileState state;
    info.readIntelHex(source, state);

    QCOMPARE(info.readWord32(0), 0x04030201u);
    QCOMPARE(info.readWord32(4), 0x0D0C0B0Au);
    QCOMPARE(info.readWord32(5), 0u); // pos + 3 equals the size
    QCOMPARE(info.readWord32(0xFFFFFFFFFFFFFFFEull), 0u);
}

void TestIntelHexReader::pagesAreCutFromTheImageHeld()
{
    MicroprocessorImageInfo info(m_prompter);
    info.setWordSize(2);
    info.setWordCount(0x8000);
    info.setPageSize(0x300);
    QCOMPARE(info.pageCount(), 0u); // no image read yet
    ImageSource source(":020002001234B6\n");
    HexFileState state;
    info.readIntelHex(source, state);

    QCOMPARE(info.pageCount(), 85u);
    QCOMPARE(info.pageRecord(1, 2), QByteArray(":W000000021234B8"));
    QCOMPARE(info.pageRecord(0, 0), QByteArray(":W0000000000"));
    QCOMPARE(info.pageRecord(0x8000, 2), QByteArray()); // one past the last page
    QCOMPARE(info.pageRecord(0x10000, 0x10000), QByteArray()); // offset 2^32
    QCOMPARE(info.pageRecord(0x7FFF, 2).right(6), QByteArray("FFFF05"));

    QByteArray page;
    QVERIFY(info.copyPage(1, 2, page));
    QCOMPARE(page, bytes({0x12, 0x34}));
    QVERIFY(info.copyPage(84, 0x300, page));
    QCOMPARE(page.size(), 0x300);
    QVERIFY(!info.copyPage(85, 0x300, page)); // the partial last page
    QVERIFY(!info.copyPage(0x10000, 0x10000, page)); // 2^32 would wrap to 0
}

void TestIntelHexReader::wordLocationsDoNotWrapIn32Bits()
{
    MicroprocessorImageInfo info(m_prompter);
    info.setFileType(0);
    info.setWordSize(2);
    info.setWordCount(8);
    ImageSource source(":0400040078563412E4\n");
    HexFileState state;
    info.readIntelHex(source, state);

    info.setMagicFlag(0x12345678);
    info.setMagicLoc(2);
    QVERIFY(info.checkMagic());
    // 2 x 0x80000002 is 4 in 32 bits: the same word must not be found there.
    info.setMagicLoc(0x80000002u);
    QVERIFY(!info.checkMagic());
    info.setVerLoc(0x80000002u);
    QCOMPARE(info.firmwareVersion(), 0u);
    QCOMPARE(info.versionString(), QStringLiteral("0"));
    info.setVerLoc(2);
    QCOMPARE(info.versionString(), QStringLiteral("305419896"));
}

QTEST_GUILESS_MAIN(TestIntelHexReader)
#include "test_IntelHexReader.moc"
