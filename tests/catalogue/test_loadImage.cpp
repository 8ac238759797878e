#include "catalogue/BootLoadProduct.h"
#include "catalogue/ImageDump.h"
#include "catalogue/MicroprocessorImageInfo.h"
#include "tests/support/FakePrompter.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

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
    void rawBinFileIsTakenOnlyByThePlayerThatIsSentIt_data();
    void rawBinFileIsTakenOnlyByThePlayerThatIsSentIt();
    void fileThatCannotBeAnImageIsRefusedUnread_data();
    void fileThatCannotBeAnImageIsRefusedUnread();
    void unreadableFileIsRefusedWithAWarning();
    void usbImageNeedsTheMagicValue_data();
    void usbImageNeedsTheMagicValue();
    void obsoleteZeldmxFirmwareIsRefused_data();
    void obsoleteZeldmxFirmwareIsRefused();
    void ethernetMajorVersionMustMatchUnlessModelIsExempt_data();
    void ethernetMajorVersionMustMatchUnlessModelIsExempt();
    void revisionThreeChecksTheSftValue();
    void intelAndPsocSectionsBothLoadAndSummarise();
    void psocSectionWithoutDataRefusesTheFile_data();
    void psocSectionWithoutDataRefusesTheFile();
    void crOnlyLineEndsReadTheWholeFile();
    void manyEndOfFileRecordsWriteOneDumpQuickly();
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
    // A dump still being written would land in a folder being removed.
    ImageDump::waitForBackgroundWrites();
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

void TestLoadImage::rawBinFileIsTakenOnlyByThePlayerThatIsSentIt_data()
{
    QTest::addColumn<QString>("product");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("contents"); // null: the file does not exist
    QTest::addColumn<QString>("message");     // %1: the path; empty when accepted

    const QByteArray firmware("\x7F" "ELF raw player image", 21);
    const QString notOpened = QStringLiteral("Could not open selected file\n%1");
    QTest::newRow("player takes its .bin as it is") << "Vireo Player" << "player.bin" << firmware << "";
    QTest::newRow("player .bin missing") << "Vireo Player" << "player.bin" << QByteArray() << notOpened;
    QTest::newRow("player .bin empty") << "Vireo Player" << "player.bin" << QByteArray("")
                                       << "%1\nis empty: it holds no firmware image.";
    QTest::newRow("other product refuses .bin") << "Sorrel 3" << "sorrel.bin" << firmware
                                                << "Sorrel 3 takes no raw .bin image. Select the Intel "
                                                   "HEX or PSoC image file made for it.";
    QTest::newRow(".bin inside the name is no raw file") << "Vireo Player" << "player.bin.hex"
                                                          << QByteArray() << notOpened;
    QTest::newRow("upper-case .BIN is no raw file") << "Vireo Player" << "player.BIN" << QByteArray()
                                                    << notOpened;
}

void TestLoadImage::rawBinFileIsTakenOnlyByThePlayerThatIsSentIt()
{
    QFETCH(QString, product);
    QFETCH(QString, name);
    QFETCH(QByteArray, contents);
    QFETCH(QString, message);
    BootLoadProduct p(m_prompter);
    p.setInterfaceType(0);
    p.setName(product);
    MicroprocessorImageInfo *info = addIntel(p, 0);
    // An accepted image first: the raw file must not inherit it.
    QVERIFY(p.loadImage(writeFile("good.hex", hexText(imageWith(kMagic, 0x010203)))));
    QVERIFY(!info->image().isEmpty());

    const QString path = contents.isNull() ? m_dir->filePath(name) : writeFile(name, contents);
    const bool accepted = message.isEmpty();
    if (!accepted)
        m_prompter.expectMessage(Kind::Warning, "Warning", message.arg(path));
    QCOMPARE(p.loadImage(path), accepted);
    QCOMPARE(p.imageReady(), accepted);
    // What is sent is the file as it was read.
    QCOMPARE(p.imageData(), accepted ? contents : QByteArray());
    QCOMPARE(p.imageFileName(), accepted ? path : QString());
    QVERIFY(info->image().isEmpty());
    QCOMPARE(p.imageVersion(), 0x010203u); // kept from the last checked image
}

void TestLoadImage::fileThatCannotBeAnImageIsRefusedUnread_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("message"); // %1: the path

    const QString notRegular = QStringLiteral("%1\nis not a firmware image file: it is a folder, a device or a pipe.");
    QTest::newRow("endless device") << "device" << notRegular;
    QTest::newRow("folder") << "folder" << notRegular;
    QTest::newRow("pipe without a writer") << "pipe" << notRegular; // opening it would block
    QTest::newRow("over the size bound")
        << "large" << "%1\nis too large to be a firmware image: image files are at most 64 MiB.";
}

void TestLoadImage::fileThatCannotBeAnImageIsRefusedUnread()
{
    QFETCH(QString, kind);
    QFETCH(QString, message);
    QString path;
    if (kind == QLatin1String("device")) {
        path = QStringLiteral("/dev/zero");
    } else if (kind == QLatin1String("folder")) {
        path = m_dir->filePath("folder.hex");
        QVERIFY(QDir().mkdir(path));
    } else if (kind == QLatin1String("pipe")) {
        path = m_dir->filePath("pipe.hex");
        QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    } else {
        // Sparse: one byte over the bound costs no disk.
        path = writeFile("large.hex", hexText(imageWith(kMagic, 1)));
        QFile file(path);
        QVERIFY(file.resize(64 * 1024 * 1024 + 1));
    }
    BootLoadProduct product(m_prompter);
    product.setInterfaceType(0);
    addIntel(product, 0);
    m_prompter.expectMessage(Kind::Warning, "Warning", message.arg(path));
    QVERIFY(!product.loadImage(path));
    QVERIFY(!product.imageReady());
    QVERIFY(product.imageData().isEmpty());
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

    // The version word's top byte is erased flash: no part of the version.
    const QString file = writeFile("fw.hex", hexText(imageWith(magic, 0xFF020A03)));
    QCOMPARE(product.loadImage(file), accepted);
    QCOMPARE(product.imageReady(), accepted);
    QCOMPARE(product.imageData(), accepted ? hexText(imageWith(magic, 0xFF020A03)) : QByteArray());
    QCOMPARE(product.imageFileName(), accepted ? file : QString());
    // One line either way: a refusal says why at once, before its box is answered.
    QCOMPARE(log.size(), 1);
    if (!accepted) {
        QCOMPARE(log.at(0).at(0).value<LOGPRIORITY>(), LOG_WARNING);
        QCOMPARE(log.at(0).at(3).toString(),
                 QStringLiteral("File mismatch: %1 is not an image for the device type selected: processor 1 holds 0xCAFEBABF at word "
                                "0x%2, not the magic value 0x%3.")
                     .arg(file, QString::number(product.processor(0)->magicLoc(), 16).toUpper(),
                          QString::number(kMagic, 16).toUpper()));
    }
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
    QTest::newRow("Ostrel Hub exempt") << "Ostrel Hub" << 0x070000u << true;
    QTest::newRow("Brisa Quad exempt") << "Brisa Quad" << 0x070000u << true;
    QTest::newRow("names match in their case only") << "brisa quad" << 0x070000u << false;
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

void TestLoadImage::psocSectionWithoutDataRefusesTheFile_data()
{
    QTest::addColumn<QByteArray>("psoc");
    QTest::newRow("missing") << QByteArray();
    QTest::newRow("blank line only") << QByteArray("\n");
    QTest::newRow("r lines only") << QByteArray("r\nr\n");
    QTest::newRow("group never closed") << QByteArray("w 00 12 34\n");
}

void TestLoadImage::psocSectionWithoutDataRefusesTheFile()
{
    QFETCH(QByteArray, psoc);
    BootLoadProduct product(m_prompter);
    product.setInterfaceType(1);
    addIntel(product, 0);
    auto *driver = new MicroprocessorImageInfo(m_prompter, &product);
    driver->setObjectName("driver");
    driver->setHierarchy(1);
    driver->setFileType(1);
    product.addProcessor(driver);
    QSignalSpy log(&product, &BootLoadProduct::signal_log);

    m_prompter.expectMessage(Kind::Warning, "Warning",
                             "The image file holds no PSoC section for processor 2 (driver).");
    m_prompter.expectMessage(Kind::Critical, kMismatchTitle, kMismatchText);
    QVERIFY(!product.loadImage(writeFile("fw.txt", hexText(imageWith(kMagic, 0x00010203)) + psoc)));
    QVERIFY(!product.imageReady());
    // Processor 1 read, then the refusal with its reason.
    QCOMPARE(log.size(), 2);
    QCOMPARE(log.at(1).at(0).value<LOGPRIORITY>(), LOG_WARNING);
    QVERIFY2(log.at(1).at(3).toString().endsWith(QStringLiteral(": the file holds no PSoC section for processor 2.")),
             qPrintable(log.at(1).at(3).toString()));
}

void TestLoadImage::crOnlyLineEndsReadTheWholeFile()
{
    BootLoadProduct product(m_prompter);
    product.setInterfaceType(0);
    MicroprocessorImageInfo *info = addIntel(product, 0);
    info->setMagicLoc(14); // in the last record: nothing may be lost before it
    QByteArray image = imageWith(0, 0x00010203);
    image.replace(56, 4, le32(kMagic));
    const QByteArray text = hexText(image).replace("\r\n", "\r");
    QVERIFY(!text.contains('\n'));
    QVERIFY(product.loadImage(writeFile("cr.hex", text)));
    QCOMPARE(info->image(), image);
}

void TestLoadImage::manyEndOfFileRecordsWriteOneDumpQuickly()
{
    BootLoadProduct product(m_prompter);
    product.setInterfaceType(0);
    MicroprocessorImageInfo *info = addIntel(product, 0);
    info->setWordCount(0x8000); // 128 KiB: each dump is some 400 KB of text
    QByteArray text = hexText(imageWith(kMagic, 1));
    for (int i = 0; i < 50000; ++i)
        text += ":00000001FF\r\n";
    const QString file = writeFile("eof.hex", text);

    // One dump per record took some 11 s; one per file takes milliseconds.
    // Counted, not timed: a loaded machine makes any time bound a guess.
    static int dumps = 0;
    dumps = 0;
    QLoggingCategory::setFilterRules(QStringLiteral("zel.hex.debug=true"));
    const QtMessageHandler previous = qInstallMessageHandler(
        [](QtMsgType, const QMessageLogContext &, const QString &text) {
            if (text.startsWith(QLatin1String("Image dump written:")))
                ++dumps;
        });
    const bool loaded = product.loadImage(file);
    ImageDump::waitForBackgroundWrites();
    qInstallMessageHandler(previous);
    QLoggingCategory::setFilterRules(QString());
    QVERIFY(loaded);
    QCOMPARE(dumps, 1);
    QFile dump(m_dir->filePath("output.txt"));
    QVERIFY(dump.open(QIODevice::ReadOnly));
    QCOMPARE(dump.readAll(), ImageDump::rows(info->image(), 0, info->image().size() / 16));
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
    // Processor 1 read, then the refusal with its reason.
    QCOMPARE(log.size(), 2);
    QCOMPARE(log.at(1).at(0).value<LOGPRIORITY>(), LOG_WARNING);
    QVERIFY2(log.at(1).at(3).toString().endsWith(QStringLiteral(": the PSoC section of processor 2 was refused.")),
             qPrintable(log.at(1).at(3).toString()));
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
    // The first processor's line, then the refusal.
    QCOMPARE(log.size(), 2);
    QCOMPARE(log.at(1).at(0).value<LOGPRIORITY>(), LOG_WARNING);
}

QTEST_GUILESS_MAIN(TestLoadImage)
#include "test_loadImage.moc"
