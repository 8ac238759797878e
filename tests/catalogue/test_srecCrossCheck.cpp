// Intel HEX files made by srec_cat (a converter nobody here wrote) must read
// back into exactly the image srec_cat itself converts them to.
#include "catalogue/HexFileState.h"
#include "catalogue/ImageSource.h"
#include "catalogue/MicroprocessorImageInfo.h"
#include "tests/support/FakePrompter.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

namespace {

struct Piece {
    quint32 offset;
    QByteArray bytes;
};

// Non-overlapping random pieces with gaps between them, some above 64 KiB,
// some across a 64 KiB boundary and the last one partly beyond the image.
QList<Piece> randomPieces(QRandomGenerator &random, quint32 imageSize)
{
    QList<Piece> pieces;
    quint32 at = random.bounded(0x100u);
    while (at < imageSize) {
        QByteArray bytes(qsizetype(1 + random.bounded(0x3000u)), Qt::Uninitialized);
        for (char &c : bytes)
            c = char(random.bounded(256));
        pieces.append({at, bytes});
        at += quint32(bytes.size()) + 1 + random.bounded(0x6000u);
    }
    return pieces;
}

QString hexString(quint32 v)
{
    return QStringLiteral("0x") + QString::number(v, 16);
}

} // namespace

class TestSrecCrossCheck : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase() { QDir::setCurrent(m_oldCwd); }
    void readsWhatSrecCatWrites_data();
    void readsWhatSrecCatWrites();

private:
    bool srecCat(const QStringList &arguments);
    QString file(const QString &name) const { return m_dir.filePath(name); }

    QString m_srecCat;
    QTemporaryDir m_dir;
    QString m_oldCwd;
};

void TestSrecCrossCheck::initTestCase()
{
    m_srecCat = QStandardPaths::findExecutable(QStringLiteral("srec_cat"));
    QVERIFY2(!m_srecCat.isEmpty(),
             "srec_cat not found: install the Debian package srecord (scripts/install-deps.sh does)");
    QVERIFY(m_dir.isValid());
    m_oldCwd = QDir::currentPath();
    QDir::setCurrent(m_dir.path()); // output.txt lands here
}

bool TestSrecCrossCheck::srecCat(const QStringList &arguments)
{
    QProcess process;
    process.start(m_srecCat, arguments);
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit
        || process.exitCode() != 0) {
        qWarning().noquote() << "srec_cat" << arguments.join(' ') << "failed:" << process.readAllStandardError();
        return false;
    }
    return true;
}

void TestSrecCrossCheck::readsWhatSrecCatWrites_data()
{
    QTest::addColumn<quint32>("seed");
    QTest::addColumn<quint32>("imageSize");
    QTest::addColumn<int>("blockSize");

    QTest::newRow("16-byte records, 200 KiB") << 1u << 0x32000u << 16;
    QTest::newRow("32-byte records, 320 KiB") << 2u << 0x50000u << 32;
    QTest::newRow("32-byte records, odd size") << 3u << 0x2345Fu << 32;
    QTest::newRow("255-byte records") << 4u << 0x40000u << 255;
    QTest::newRow("7-byte records") << 5u << 0x18000u << 7;
}

void TestSrecCrossCheck::readsWhatSrecCatWrites()
{
    QFETCH(quint32, seed);
    QFETCH(quint32, imageSize);
    QFETCH(int, blockSize);
    QRandomGenerator random(seed);

    // Two sections in one file, with a PSoC section between them, as a
    // three-processor product would have it.
    FakePrompter prompter;
    QByteArray combined;
    QList<QByteArray> expected;
    for (int section = 0; section < 2; ++section) {
        QStringList arguments;
        const QList<Piece> pieces = randomPieces(random, imageSize);
        for (int k = 0; k < pieces.size(); ++k) {
            const QString name = file(QStringLiteral("piece%1-%2.bin").arg(section).arg(k));
            QFile f(name);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(pieces[k].bytes);
            arguments << name << "-binary" << "-offset" << hexString(pieces[k].offset);
        }
        const QString hex = file(QStringLiteral("section%1.hex").arg(section));
        arguments << "-o" << hex << "-intel" << "-obs" << QString::number(blockSize);
        QVERIFY(srecCat(arguments));

        // Back to binary, over the image's range, gaps filled as the reader does.
        const QString bin = file(QStringLiteral("section%1.bin").arg(section));
        QVERIFY(srecCat({hex, "-intel", "-crop", "0", hexString(imageSize), "-fill", "0xFF", "0",
                         hexString(imageSize), "-o", bin, "-binary"}));
        QFile h(hex), b(bin);
        QVERIFY(h.open(QIODevice::ReadOnly) && b.open(QIODevice::ReadOnly));
        const QByteArray hexText = h.readAll();
        QVERIFY2(hexText.contains(":02000004"), "srec_cat wrote no type 04 record");
        combined += hexText;
        if (section == 0)
            combined += "w 00 12 34\nr\n\n";
        expected.append(b.readAll());
        QCOMPARE(expected.last().size(), qsizetype(imageSize));
    }

    ImageSource source(combined);
    HexFileState state;
    MicroprocessorImageInfo first(prompter), psoc(prompter), second(prompter);
    for (MicroprocessorImageInfo *info : {&first, &second}) {
        info->setWordSize(1);
        info->setWordCount(imageSize);
    }
    first.readIntelHex(source, state);
    QVERIFY(psoc.readCypressPSoC(source));
    second.readIntelHex(source, state);
    QVERIFY(source.atEnd());
    QVERIFY2(prompter.shown().isEmpty(), qPrintable(prompter.shownTexts().join(" | ")));
    QVERIFY2(first.image() == expected[0], qPrintable(QStringLiteral("section 1 differs, seed %1").arg(seed)));
    QVERIFY2(second.image() == expected[1], qPrintable(QStringLiteral("section 2 differs, seed %1").arg(seed)));
    QCOMPARE(psoc.paragraphCount(), 1);
}

QTEST_GUILESS_MAIN(TestSrecCrossCheck)
#include "test_srecCrossCheck.moc"
