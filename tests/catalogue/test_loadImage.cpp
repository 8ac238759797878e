#include "catalogue/BootLoadProduct.h"
#include "catalogue/MicroprocessorImageInfo.h"
#include "tests/support/FakePrompter.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using Kind = Prompter::Kind;

namespace {

constexpr quint32 kMagic = 0xCAFEBABE;
constexpr quint32 kMagicLoc = 2; // word index, 4-byte words
constexpr quint32 kVerLoc = 3;
const QString kMismatchTitle = QStringLiteral("File mismatch!");
const QString kMismatchText = QStringLiteral("The firmware image file does not match the device selected!");

QByteArray record(quint8 type, quint16 address, const QByteArray &data)
{
    QByteArray body;
    body.append(char(data.size())).append(char(address >> 8)).append(char(address)).append(char(type));
    body += data;
    quint8 sum = 0;
    for (char c : body)
        sum += quint8(c);
    body.append(char(-sum));
    return ':' + body.toHex().toUpper() + "\r\n";
}

// Intel HEX text of image placed at base, 16-byte records, type 04 records
// only where the upper address changes from the one already in force.
QByteArray hexText(const QByteArray &image, quint32 base = 0, int upperInForce = -1)
{
    QByteArray text;
    for (qsizetype i = 0; i < image.size(); i += 16) {
        const quint32 address = base + quint32(i);
        if (int(address >> 16) != upperInForce) {
            upperInForce = int(address >> 16);
            text += record(4, 0, QByteArray::fromHex(QByteArray::number(upperInForce, 16).rightJustified(4, '0')));
        }
        text += record(0, quint16(address), image.mid(i, 16));
    }
    return text + record(1, 0, QByteArray());
}

QByteArray le32(quint32 v)
{
    QByteArray out(4, '\0');
    for (int i = 0; i < 4; ++i)
        out[i] = char(v >> (8 * i));
    return out;
}

// 64 bytes with the magic value and the version word at their locations.
QByteArray imageWith(quint32 magic, quint32 version)
{
    QByteArray image(64, char(0x5A));
    image.replace(4 * kMagicLoc, 4, le32(magic));
    image.replace(4 * kVerLoc, 4, le32(version));
    return image;
}

bool isOpenInThisProcess(const QString &path)
{
    const QString target = QFileInfo(path).canonicalFilePath();
    const QDir fds(QStringLiteral("/proc/self/fd"));
    for (const QString &fd : fds.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)) {
        if (QFileInfo(fds.filePath(fd)).symLinkTarget() == target)
            return true;
    }
    return false;
}

} // namespace

class TestLoadImage : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void onlyANameEndingInBinSkipsTheChecks_data();
    void onlyANameEndingInBinSkipsTheChecks();
    void unreadableFileIsRefusedWithAWarning();
    void usbImageNeedsTheMagicValue_data();
    void usbImageNeedsTheMagicValue();
    void obsoleteZeldmxFirmwareIsRefused_data();
    void obsoleteZeldmxFirmwareIsRefused();
    void ethernetMajorVersionMustMatchUnlessModelIsExempt_data();
    void ethernetMajorVersionMustMatchUnlessModelIsExempt();
    void revisionThreeChecksTheSftValue();
    void intelAndPsocSectionsBothLoadAndSummarise();
    void refusedPsocLineRefusesTheFile();
    void unknownBootloaderRevisionRefusesAndClosesTheFile();
    void eachFileStartsAtUpperAddressZero();
    void damagedRecordRefusesTheFileEvenWithAGoodMagicValue();
    void laterIntelProcessorWithoutAGoodImageRefusesTheFile();

private:
    QString writeFile(const QString &name, const QByteArray &contents);
    MicroprocessorImageInfo *addIntel(BootLoadProduct &product, qint32 key);

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_oldCwd;
    FakePrompter m_prompter;
};

void TestLoadImage::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    m_oldCwd = QDir::currentPath();
    QDir::setCurrent(m_dir->path()); // output.txt lands here
}

void TestLoadImage::cleanup()
{
    QDir::setCurrent(m_oldCwd);
    m_dir.reset();
    const bool unexpected = m_prompter.unexpectedSeen();
    const int pending = m_prompter.pendingExpectations();
    const QString shown = m_prompter.shownTexts().join(" | ");
    m_prompter.clear();
    QVERIFY2(!unexpected, qPrintable(shown));
    QCOMPARE(pending, 0);
}

QString TestLoadImage::writeFile(const QString &name, const QByteArray &contents)
{
    QFile f(m_dir->filePath(name));
    if (!f.open(QIODevice::WriteOnly) || f.write(contents) != contents.size())
        qFatal("cannot write %s", qPrintable(f.fileName()));
    return f.fileName();
}

MicroprocessorImageInfo *TestLoadImage::addIntel(BootLoadProduct &product, qint32 key)
{
    auto *info = new MicroprocessorImageInfo(m_prompter, &product);
    info->setHierarchy(key);
    info->setFileType(0);
    info->setWordSize(4);
    info->setWordCount(16);
    info->setMagicLoc(kMagicLoc);
    info->setMagicFlag(kMagic);
    info->setVerLoc(kVerLoc);
    product.addProcessor(info);
    return info;
}

void TestLoadImage::onlyANameEndingInBinSkipsTheChecks_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("raw");

    QTest::newRow("ends in .bin") << "firmware.bin" << true;
    QTest::newRow(".bin inside the name") << "firmware.bin.hex" << false;
    QTest::newRow("upper-case .BIN") << "firmware.BIN" << false;
}

void TestLoadImage::onlyANameEndingInBinSkipsTheChecks()
{
    QFETCH(QString, name);
    QFETCH(bool, raw);
    BootLoadProduct product(m_prompter);
    product.setInterfaceType(0);
    MicroprocessorImageInfo *info = addIntel(product, 0);
    // An accepted image first: the raw file must not inherit it.
    QVERIFY(product.loadImage(writeFile("good.hex", hexText(imageWith(kMagic, 0x010203)))));
    QVERIFY(!info->image().isEmpty());

    // None of these files exists: the raw path never opens it.
    const QString path = m_dir->filePath(name);
    if (!raw)
        m_prompter.expectMessage(Kind::Warning, "Warning", "Could not open selected file\n" + path);
    QCOMPARE(product.loadImage(path), raw);
    QCOMPARE(product.imageReady(), raw);
    QVERIFY(info->image().isEmpty());
    QCOMPARE(product.imageVersion(), 0x010203u); // kept from the last checked image
}

void TestLoadImage::unreadableFileIsRefusedWithAWarning()
{
    BootLoadProduct product(m_prompter);
    product.setInterfaceType(0);
    addIntel(product, 0);
    m_prompter.expectMessage(Kind::Warning, "Warning", "Could not open selected file\n/nonexistent/x.hex");
    QVERIFY(!product.loadImage("/nonexistent/x.hex"));
    QVERIFY(!product.imageReady());
}

void TestLoadImage::usbImageNeedsTheMagicValue_data()
{
    QTest::addColumn<quint32>("magic");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("magic matches") << kMagic << true;
    QTest::newRow("wrong magic") << 0xCAFEBABFu << false;
}

void TestLoadImage::usbImageNeedsTheMagicValue()
{
    QFETCH(quint32, magic);
    QFETCH(bool, accepted);
    BootLoadProduct product(m_prompter);
    product.setInterfaceType(0);
    addIntel(product, 0);
    QSignalSpy log(&product, &BootLoadProduct::signal_log);
    if (!accepted)
        m_prompter.expectMessage(Kind::Critical, kMismatchTitle, kMismatchText);

    QCOMPARE(product.loadImage(writeFile("fw.hex", hexText(imageWith(magic, 0x00020A03)))), accepted);
    QCOMPARE(product.imageReady(), accepted);
    QCOMPARE(log.size(), accepted ? 1 : 0);
    if (accepted) {
        QCOMPARE(log.at(0).at(0).value<LOGPRIORITY>(), LOG_INFO);
        QCOMPARE(log.at(0).at(1).value<LOGTYPE>(), LOGTYPE_GENERAL);
        QCOMPARE(log.at(0).at(2).toString(), QStringLiteral("BootLoadProduct"));
        QCOMPARE(log.at(0).at(3).toString(), QStringLiteral("Firmware load for microprocessor 1 succeeded."));
        QCOMPARE(product.imageVersion(), 0x00020A03u);
    }
}

void TestLoadImage::obsoleteZeldmxFirmwareIsRefused_data()
{
    QTest::addColumn<quint32>("prefix");
    QTest::addColumn<quint32>("version");
    QTest::addColumn<bool>("obsolete");

    QTest::newRow("3.0.5") << 0x72u << 0x030005u << true;
    QTest::newRow("3.1.2") << 0x72u << 0x030102u << true;
    QTest::newRow("3.1.3") << 0x72u << 0x030103u << false;
    QTest::newRow("3.0.5 without the prefix") << 0x71u << 0x030005u << false;
}

void TestLoadImage::obsoleteZeldmxFirmwareIsRefused()
{
    QFETCH(quint32, prefix);
    QFETCH(quint32, version);
    QFETCH(bool, obsolete);
    BootLoadProduct product(m_prompter);
    product.setInterfaceType(1);
    product.addSerialNumPrefix(0x10);
    product.addSerialNumPrefix(prefix);
    addIntel(product, 0);
    if (obsolete) {
        const QString text = QStringLiteral("This firmware version %1.%2.%3 is obsolete for this fixture and cannot be flashed.")
                                 .arg(version >> 16).arg((version >> 8) & 0xFF).arg(version & 0xFF);
        m_prompter.expectMessage(Kind::Critical, "Warning", text);
        m_prompter.expectMessage(Kind::Critical, kMismatchTitle, kMismatchText);
    }
    QCOMPARE(product.loadImage(writeFile("fw.hex", hexText(imageWith(kMagic, version)))), !obsolete);
}

void TestLoadImage::ethernetMajorVersionMustMatchUnlessModelIsExempt_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<quint32>("version");
    QTest::addColumn<bool>("accepted");

    QTest::newRow("exempt model, any major") << "Marlow White 2" << 0x070000u << true;
    QTest::newRow("major 4 matches") << "Other" << 0x040102u << true;
    QTest::newRow("major 5 does not") << "Other" << 0x050000u << false;
    QTest::newRow("bits 24-31 ignored") << "Other" << 0xFF040000u << true;
}

void TestLoadImage::ethernetMajorVersionMustMatchUnlessModelIsExempt()
{
    QFETCH(QString, name);
    QFETCH(quint32, version);
    QFETCH(bool, accepted);
    BootLoadProduct product(m_prompter);
    product.setInterfaceType(2);
    product.setName(name);
    addIntel(product, 0)->setFirmwareMajorVersion(4);
    if (!accepted)
        m_prompter.expectMessage(Kind::Critical, kMismatchTitle, kMismatchText);
    QCOMPARE(product.loadImage(writeFile("fw.hex", hexText(imageWith(kMagic, version)))), accepted);
}

void TestLoadImage::revisionThreeChecksTheSftValue()
{
    BootLoadProduct product(m_prompter);
    product.setInterfaceType(1);
    MicroprocessorImageInfo *info = addIntel(product, 0);
    info->setBlRev(3);
    info->setBl3SftLoc(5);
    info->setBl3SftVal(0x11223344);
    info->setBl3RevLoc(6);
    QByteArray image = imageWith(0, 0);
    image.replace(20, 4, le32(0x11223344));
    image.replace(24, 4, le32(42));
    const QString file = writeFile("fw.hex", hexText(image));
    QVERIFY(product.loadImage(file));
    QCOMPARE(product.imageSummary(), QStringLiteral("1) Intel HEX: 42 "));

    info->setBl3SftVal(0x11223345);
    m_prompter.expectMessage(Kind::Critical, kMismatchTitle, kMismatchText);
    QVERIFY(!product.loadImage(file));
}

void TestLoadImage::intelAndPsocSectionsBothLoadAndSummarise()
{
    BootLoadProduct product(m_prompter);
    product.setInterfaceType(1);
    MicroprocessorImageInfo *intel = addIntel(product, 0);
    auto *psoc = new MicroprocessorImageInfo(m_prompter, &product);
    psoc->setHierarchy(1);
    psoc->setFileType(1);
    product.addProcessor(psoc);
    QSignalSpy log(&product, &BootLoadProduct::signal_log);

    const QByteArray text = hexText(imageWith(kMagic, 0x00010203)) + "w 00 12 34 AA\nr\n";
    QVERIFY(product.loadImage(writeFile("fw.txt", text)));
    QCOMPARE(intel->readWord32(4 * kMagicLoc), kMagic);
    QCOMPARE(psoc->paragraphCount(), 1);
    QCOMPARE(log.size(), 2);
    QCOMPARE(log.at(1).at(3).toString(), QStringLiteral("Firmware load for microprocessor 2 succeeded."));
    QCOMPARE(product.imageSummary(), QStringLiteral("1) Intel HEX: 66051 2) Cypress PSoC: NA "));
}

void TestLoadImage::refusedPsocLineRefusesTheFile()
{
    BootLoadProduct product(m_prompter);
    product.setInterfaceType(1);
    addIntel(product, 0);
    auto *psoc = new MicroprocessorImageInfo(m_prompter, &product);
    psoc->setHierarchy(1);
    psoc->setFileType(1);
    product.addProcessor(psoc);
    QSignalSpy log(&product, &BootLoadProduct::signal_log);

    QByteArray longLine("w 00");
    for (int k = 2; k < 300; ++k)
        longLine += " 01";
    const QByteArray text = hexText(imageWith(kMagic, 0x00010203)) + "w 00 12\nr\n" + longLine + "\nr\n";
    m_prompter.expectMessage(Kind::Warning, "Warning", "Image file line 2, too many fields (at most 255).");
    m_prompter.expectMessage(Kind::Critical, kMismatchTitle, kMismatchText);
    QVERIFY(!product.loadImage(writeFile("fw.txt", text)));
    QVERIFY(!product.imageReady());
    QCOMPARE(log.size(), 1); // processor 1 only
}

void TestLoadImage::unknownBootloaderRevisionRefusesAndClosesTheFile()
{
    BootLoadProduct product(m_prompter);
    product.setInterfaceType(0);
    addIntel(product, 0)->setBlRev(2);
    MicroprocessorImageInfo *second = addIntel(product, 1);
    const QString file = writeFile("fw.hex", hexText(imageWith(kMagic, 1)));
    {
        QFile probe(file); // the probe itself sees an open file
        QVERIFY(probe.open(QIODevice::ReadOnly));
        QVERIFY(isOpenInThisProcess(file));
    }
    m_prompter.expectMessage(Kind::Warning, "Error", "ZELDMX bootloader version not specified.");
    QVERIFY(!product.loadImage(file));
    QVERIFY(!product.imageReady());
    QVERIFY(second->image().isEmpty()); // not read
    QVERIFY(!isOpenInThisProcess(file));
}

void TestLoadImage::eachFileStartsAtUpperAddressZero()
{
    BootLoadProduct product(m_prompter);
    product.setInterfaceType(0);
    MicroprocessorImageInfo *info = addIntel(product, 0);
    info->setWordCount(0x8000); // 128 KiB
    const QByteArray image = imageWith(kMagic, 0x010000);

    // The first file also writes at 0x10000, which leaves the upper address
    // at 1 at its end; the second has no type 04 record at all.
    const QByteArray first = hexText(image).replace(":00000001FF\r\n", "") + hexText("high", 0x10000, 0);
    QVERIFY(product.loadImage(writeFile("first.hex", first)));
    QCOMPARE(info->image().mid(0x10000, 4), QByteArray("high"));

    const QByteArray second = hexText(imageWith(kMagic, 0x020000), 0, 0);
    QVERIFY(!second.contains(":02000004"));
    QVERIFY(product.loadImage(writeFile("second.hex", second)));
    QCOMPARE(product.imageVersion(), 0x020000u);
    QCOMPARE(info->image().mid(0x10000, 4), QByteArray(4, char(0xFF)));
}

void TestLoadImage::damagedRecordRefusesTheFileEvenWithAGoodMagicValue()
{
    BootLoadProduct product(m_prompter);
    product.setInterfaceType(0);
    addIntel(product, 0);
    QSignalSpy log(&product, &BootLoadProduct::signal_log);
    // The magic value and version sit before the damaged record, so the checks
    // alone would pass: the damaged file must still be refused.
    QByteArray text = hexText(imageWith(kMagic, 0x00010203));
    text.replace(text.indexOf(":00000001FF"), 11, ":0100300011BF"); // wrong checksum
    text += record(1, 0, QByteArray());
    m_prompter.expectMessage(Kind::Warning, QStringLiteral("Warning"),
                             QStringLiteral("Image file line 5, checksum error."));

    QVERIFY(!product.loadImage(writeFile("fw.hex", text)));
    QVERIFY(!product.imageReady());
    QCOMPARE(log.size(), 0);
}

void TestLoadImage::laterIntelProcessorWithoutAGoodImageRefusesTheFile()
{
    BootLoadProduct product(m_prompter);
    product.setInterfaceType(0);
    addIntel(product, 0);
    addIntel(product, 1);
    QSignalSpy log(&product, &BootLoadProduct::signal_log);
    // The second processor's reader meets the blank line and reads nothing:
    // its blank image fails the magic check and must not ride on the first.
    m_prompter.expectMessage(Kind::Critical, kMismatchTitle, kMismatchText);

    const QByteArray text = hexText(imageWith(kMagic, 0x00010203)) + "\n";
    QVERIFY(!product.loadImage(writeFile("two.hex", text)));
    QVERIFY(!product.imageReady());
    QCOMPARE(log.size(), 1); // the first processor's line only
}

QTEST_GUILESS_MAIN(TestLoadImage)
#include "test_loadImage.moc"
