#include "catalogue/BootLoadProduct.h"
#include "catalogue/MicroprocessorImageInfo.h"
#include "catalogue/ProductCatalogue.h"
#include "tests/support/FakePrompter.h"

#include <QBuffer>
#include <QDir>
#include <QLoggingCategory>
#include <QPointer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QWidget>

#include <memory>

namespace {

using Kind = Prompter::Kind;

// The window the catalogue is read for: owner of every record, parent of the
// information boxes, and the name on the reader's log records.
struct Reader {
    FakePrompter prompter;
    QWidget window;
    std::unique_ptr<ProductCatalogue> catalogue;
    std::unique_ptr<QSignalSpy> logs;

    Reader()
    {
        window.setObjectName(QStringLiteral("ZelBootLoader"));
        catalogue = std::make_unique<ProductCatalogue>(prompter, &window, &window);
        logs = std::make_unique<QSignalSpy>(catalogue.get(), &ProductCatalogue::signal_log);
    }

    void read(const QString &body)
    {
        QByteArray xml = QStringLiteral("<ZELBLProductList>%1</ZELBLProductList>").arg(body).toUtf8();
        QBuffer buffer(&xml);
        catalogue->readProductCatalogue(buffer, QStringLiteral("zelblprod.xml"));
    }

    int records(const char *className) const
    {
        int n = 0;
        for (QObject *child : window.children())
            n += child->inherits(className) ? 1 : 0;
        return n;
    }

    QStringList names(int interfaceType) const
    {
        QStringList names;
        for (BootLoadProduct *p : catalogue->products(interfaceType))
            names.append(p->name());
        return names;
    }
};

QString fixture(const QString &name, const QString &content)
{
    return QStringLiteral("<ZelDmxFixture><Name>%1</Name>%2</ZelDmxFixture>").arg(name, content);
}

QString processor(const QString &content)
{
    return QStringLiteral("<Processor>%1</Processor>").arg(content);
}

QString element(const QString &tag, const QString &text)
{
    return QStringLiteral("<%1>%2</%1>").arg(tag, text);
}

quint32 fieldValue(const MicroprocessorImageInfo &info, const QString &tag)
{
    if (tag == "Heirarchy") return quint32(info.hierarchy());
    if (tag == "FileType") return quint32(info.fileType());
    if (tag == "BLRev") return info.blRev();
    if (tag == "PageSize") return info.pageSize();
    if (tag == "WordSize") return info.wordSize();
    if (tag == "WordCount") return info.wordCount();
    if (tag == "VerLoc") return info.verLoc();
    if (tag == "MagicLoc") return info.magicLoc();
    if (tag == "MagicFlag") return info.magicFlag();
    if (tag == "BL3_SFTLoc") return info.bl3SftLoc();
    if (tag == "BL3_SFTVal") return info.bl3SftVal();
    if (tag == "BL3_RevLoc") return info.bl3RevLoc();
    if (tag == "FirmwareMajorVersion") return info.firmwareMajorVersion();
    qFatal("no getter for %s", qPrintable(tag));
}

QString writeFile(const QTemporaryDir &dir, const QByteArray &content)
{
    const QString path = dir.filePath(QStringLiteral("zelblprod.xml"));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

} // namespace

class TestProductCatalogue : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void unopenableFileIsReportedOnceAndReadsNothing();
    void unparsableFileIsReportedOnceAndReadsNothing_data();
    void unparsableFileIsReportedOnceAndReadsNothing();
    void deviceIsLeftOpenOrClosedAsItWasGiven();
    void wrongRootReadsNothingSilently();

    void badProcessorValueDropsOnlyItsProduct_data();
    void badProcessorValueDropsOnlyItsProduct();
    void processorValuesAreParsedByTheirSyntax_data();
    void processorValuesAreParsedByTheirSyntax();
    void programFlowKeepsLowByteOfA16BitSignedHexValue_data();
    void programFlowKeepsLowByteOfA16BitSignedHexValue();
    void badProgramFlowOnlyWritesTheDebugLine();
    void productValuesWithoutMessageTakeZero();

    void heirarchyIsTheOneBasedProcessorKey();
    void sameKeyReplacesTheEarlierProcessorAndFreesIt();
    void repeatedElementsOverwriteExceptPrefixesAndProcessors();
    void unknownElementsAreSkippedWherever();
    void productsGoToTheirInterfaceInDocumentOrder();
    void productLogRecordsTravelThroughTheCatalogue();
    void debugEchoShowsWhatWasRead();

    void shippedCatalogueLoadsWithoutDialogs();
    void shippedCatalogueIsSelfConsistent();
};

void TestProductCatalogue::initTestCase()
{
    qRegisterMetaType<LOGPRIORITY>();
    qRegisterMetaType<LOGTYPE>();
}

void TestProductCatalogue::unopenableFileIsReportedOnceAndReadsNothing()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("missing/zelblprod.xml"));
    Reader r;
    r.prompter.expectMessage(Kind::Critical, "Critical Error", "Cannot open file " + path);
    r.catalogue->readProductCatalogue(path);

    QCOMPARE(r.prompter.pendingExpectations(), 0);
    QVERIFY(!r.prompter.shown().first().hasParent);
    QCOMPARE(r.logs->size(), 2);
    const QList<QVariant> init = r.logs->at(0);
    QCOMPARE(init.at(0).value<LOGPRIORITY>(), LOG_INFO);
    QCOMPARE(init.at(1).value<LOGTYPE>(), LOGTYPE_GENERAL);
    QCOMPARE(init.at(2).toString(), QStringLiteral("ZelBootLoader"));
    QCOMPARE(init.at(3).toString(), QStringLiteral("Initializing zelblprod.xml..."));
    const QList<QVariant> severe = r.logs->at(1);
    QCOMPARE(severe.at(0).value<LOGPRIORITY>(), LOG_SEVERE);
    QCOMPARE(severe.at(2).toString(), QStringLiteral("ZelBootLoader"));
    QCOMPARE(severe.at(3).toString(), "Cannot open file " + path);
    QVERIFY(r.catalogue->usbProducts().isEmpty());
}

void TestProductCatalogue::unparsableFileIsReportedOnceAndReadsNothing_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::newRow("empty file") << QByteArray();
    QTest::newRow("not XML") << QByteArray("Name=Sorrel 3\n");
    QTest::newRow("truncated") << QByteArray("<ZELBLProductList><USBDevice><Name>A</Name>");
    QTest::newRow("mismatched tags") << QByteArray("<ZELBLProductList><USBDevice></ZelDmxFixture></ZELBLProductList>");
    // Namespace processing is on, so an undeclared prefix does not parse.
    QTest::newRow("undeclared prefix") << QByteArray("<ZELBLProductList><z:USBDevice/></ZELBLProductList>");
}

void TestProductCatalogue::unparsableFileIsReportedOnceAndReadsNothing()
{
    QFETCH(QByteArray, content);
    QTemporaryDir dir;
    const QString path = writeFile(dir, content);
    Reader r;
    r.prompter.expectMessage(Kind::Critical, "Critical Error", "Parsing error for file " + path);
    r.catalogue->readProductCatalogue(path);

    QCOMPARE(r.prompter.pendingExpectations(), 0);
    QCOMPARE(r.logs->size(), 2);
    QCOMPARE(r.logs->at(1).at(0).value<LOGPRIORITY>(), LOG_SEVERE);
    QCOMPARE(r.logs->at(1).at(3).toString(), "Parsing error for file " + path);
    QCOMPARE(r.records("BootLoadProduct"), 0);
}

void TestProductCatalogue::deviceIsLeftOpenOrClosedAsItWasGiven()
{
    QByteArray xml("<ZELBLProductList><USBDevice><Name>A</Name></USBDevice></ZELBLProductList>");
    {
        Reader r;
        QBuffer closed(&xml);
        r.catalogue->readProductCatalogue(closed, "closed");
        QVERIFY(!closed.isOpen());
        QCOMPARE(r.names(0), QStringList{"A"});
    }
    {
        Reader r;
        QBuffer open(&xml);
        QVERIFY(open.open(QIODevice::ReadOnly));
        r.catalogue->readProductCatalogue(open, "open");
        QVERIFY(open.isOpen());
        QCOMPARE(r.names(0), QStringList{"A"});
    }
    {
        Reader r;
        QBuffer writeOnly(&xml);
        QVERIFY(writeOnly.open(QIODevice::WriteOnly));
        r.prompter.expectMessage(Kind::Critical, "Critical Error", "Cannot open file sink");
        r.catalogue->readProductCatalogue(writeOnly, "sink");
        QCOMPARE(r.prompter.pendingExpectations(), 0);
    }
}

void TestProductCatalogue::wrongRootReadsNothingSilently()
{
    Reader r;
    QByteArray xml("<ProductList><USBDevice><Name>A</Name></USBDevice>"
                   "<ZelDmxFixture><Name>B</Name></ZelDmxFixture></ProductList>");
    QBuffer buffer(&xml);
    r.catalogue->readProductCatalogue(buffer, "zelblprod.xml");

    QVERIFY(r.prompter.shown().isEmpty());
    QCOMPARE(r.logs->size(), 1); // "Initializing zelblprod.xml..." only
    for (int i = 0; i < 3; ++i)
        QVERIFY(r.catalogue->products(i).isEmpty());
    QCOMPARE(r.records("BootLoadProduct"), 0);
}

void TestProductCatalogue::badProcessorValueDropsOnlyItsProduct_data()
{
    QTest::addColumn<QString>("tag");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("message");

    const QString location = QStringLiteral("Error parsing fixture magic number location");
    QTest::newRow("Heirarchy not a number") << "Heirarchy" << "x" << "Error parsing heirarchy.";
    QTest::newRow("Heirarchy negative") << "Heirarchy" << "-1" << "Error parsing heirarchy.";
    // Key -1 (or 255, the mark of a processor without a number) is never loaded.
    QTest::newRow("Heirarchy 0") << "Heirarchy" << "0"
                                 << "Heirarchy 0 is out of range: processors are numbered from 1 to 255.";
    QTest::newRow("Heirarchy 256") << "Heirarchy" << "256"
                                   << "Heirarchy 256 is out of range: processors are numbered from 1 to 255.";
    QTest::newRow("FileType other case") << "FileType" << "intel hex" << "Error parsing file type.";
    QTest::newRow("FileType trailing space") << "FileType" << "Cypress PSoC " << "Error parsing file type.";
    QTest::newRow("FileType empty") << "FileType" << "" << "Error parsing file type.";
    QTest::newRow("PageSize is decimal") << "PageSize" << "0x200" << "Error parsing page size";
    QTest::newRow("PageSize empty") << "PageSize" << "" << "Error parsing page size";
    QTest::newRow("WordSize") << "WordSize" << "two" << "Error parsing fixture image size";
    QTest::newRow("WordCount beyond 32 bits") << "WordCount" << "100000000" << "Error parsing fixture image size";
    QTest::newRow("VerLoc") << "VerLoc" << "G0" << "Error parsing fixture version location";
    QTest::newRow("MagicLoc split") << "MagicLoc" << "7F F0" << location;
    QTest::newRow("MagicFlag negative") << "MagicFlag" << "-1" << "Error parsing fixture magic flags";
    QTest::newRow("BL3_SFTLoc") << "BL3_SFTLoc" << "loc" << location;
    QTest::newRow("BL3_SFTVal is decimal") << "BL3_SFTVal" << "1F" << location;
    QTest::newRow("BL3_RevLoc") << "BL3_RevLoc" << "?" << location;
}

void TestProductCatalogue::badProcessorValueDropsOnlyItsProduct()
{
    QFETCH(QString, tag);
    QFETCH(QString, text);
    QFETCH(QString, message);

    const QString good = processor(element("Heirarchy", "1") + element("WordSize", "2"));
    Reader r;
    // The box and the log name the product and the processor, though both
    // names come after the bad value.
    const QString shownText = message + " Product \"Bad\" (processor \"after the bad value\") was not loaded.";
    r.prompter.expectMessage(Kind::Information, "Information", shownText);
    // The dropped product already holds a good processor when the bad one comes.
    r.read(fixture("Before", good)
           + QStringLiteral("<ZelDmxFixture>%1%2</ZelDmxFixture>")
                 .arg(good + processor(element("Heirarchy", "2") + element(tag, text)
                                       + element("ProcName", "after the bad value")),
                      element("Name", "Bad"))
           + fixture("After", good));

    QCOMPARE(r.prompter.pendingExpectations(), 0);
    QVERIFY(r.prompter.shown().first().hasParent);
    QCOMPARE(r.names(1), (QStringList{"Before", "After"}));
    // Nothing of the dropped product is left behind under the window.
    QCOMPARE(r.records("BootLoadProduct"), 2);
    QCOMPARE(r.records("MicroprocessorImageInfo"), 2);
    QCOMPARE(r.logs->size(), 2);
    QCOMPARE(r.logs->at(1).at(0).value<LOGPRIORITY>(), LOG_WARNING);
    QCOMPARE(r.logs->at(1).at(2).toString(), QStringLiteral("ZelBootLoader"));
    QCOMPARE(r.logs->at(1).at(3).toString(), shownText);
}

void TestProductCatalogue::processorValuesAreParsedByTheirSyntax_data()
{
    QTest::addColumn<QString>("tag");
    QTest::addColumn<QString>("text");
    QTest::addColumn<quint32>("expected");

    QTest::newRow("PageSize decimal") << "PageSize" << "512" << 512u;
    QTest::newRow("PageSize surrounded by white space") << "PageSize" << "\n  512 \t" << 512u;
    QTest::newRow("WordSize hex") << "WordSize" << "10" << 0x10u;
    QTest::newRow("WordCount hex with 0x") << "WordCount" << "0x8000" << 0x8000u;
    QTest::newRow("VerLoc") << "VerLoc" << "7FF2" << 0x7FF2u;
    QTest::newRow("MagicLoc lower case") << "MagicLoc" << "7ff0" << 0x7FF0u;
    QTest::newRow("MagicFlag full 32 bits") << "MagicFlag" << "FFFFFFFF" << 0xFFFFFFFFu;
    QTest::newRow("BL3_SFTLoc") << "BL3_SFTLoc" << "1FFF0" << 0x1FFF0u;
    QTest::newRow("BL3_SFTVal decimal") << "BL3_SFTVal" << "10" << 10u;
    QTest::newRow("BL3_RevLoc") << "BL3_RevLoc" << "1FFF2" << 0x1FFF2u;
    QTest::newRow("FirmwareMajorVersion") << "FirmwareMajorVersion" << "4" << 4u;
    QTest::newRow("FirmwareMajorVersion bad is 0") << "FirmwareMajorVersion" << "four" << 0u;
    QTest::newRow("BLRev") << "BLRev" << "3" << 3u;
    QTest::newRow("BLRev bad is 0") << "BLRev" << "rev3" << 0u;
    QTest::newRow("BLRev keeps 8 bits") << "BLRev" << "259" << 3u;
    QTest::newRow("FileType Intel HEX") << "FileType" << "Intel HEX" << 0u;
    QTest::newRow("FileType Cypress PSoC") << "FileType" << "Cypress PSoC" << 1u;
}

void TestProductCatalogue::processorValuesAreParsedByTheirSyntax()
{
    QFETCH(QString, tag);
    QFETCH(QString, text);
    QFETCH(quint32, expected);

    Reader r;
    r.read(fixture("F", processor(element(tag, text))));
    QVERIFY(r.prompter.shown().isEmpty());
    QCOMPARE(r.catalogue->dmxProducts().size(), 1);
    const MicroprocessorImageInfo *info = r.catalogue->dmxProducts().first()->processor(255);
    QVERIFY(info);
    QCOMPARE(fieldValue(*info, tag), expected);
}

void TestProductCatalogue::programFlowKeepsLowByteOfA16BitSignedHexValue_data()
{
    QTest::addColumn<QString>("content");
    QTest::addColumn<int>("flow");

    auto flows = [](const QStringList &values) {
        QString s;
        for (const QString &v : values)
            s += element("ProgramFlow", v);
        return element("AdvancedBootload", s);
    };
    QTest::newRow("none given") << QString() << 0xFF;
    QTest::newRow("1F") << flows({"1F"}) << 0x1F;
    QTest::newRow("-1 is every step") << flows({"-1"}) << 0xFF;
    QTest::newRow("upper byte dropped") << flows({"7F08"}) << 0x08;
    QTest::newRow("smallest 16-bit value") << flows({"-8000"}) << 0x00;
    QTest::newRow("zz keeps the default") << flows({"zz"}) << 0xFF;
    QTest::newRow("later value wins") << flows({"1E", "08"}) << 0x08;
    QTest::newRow("bad later value keeps the earlier") << flows({"1E", "zz"}) << 0x1E;
    QTest::newRow("FFFF is beyond 16-bit signed") << flows({"1E", "FFFF"}) << 0x1E;
    QTest::newRow("two containers") << flows({"1C"}) + flows({"0C"}) << 0x0C;
}

void TestProductCatalogue::programFlowKeepsLowByteOfA16BitSignedHexValue()
{
    QFETCH(QString, content);
    QFETCH(int, flow);
    Reader r;
    r.read(fixture("F", content));
    QVERIFY(r.prompter.shown().isEmpty());
    QCOMPARE(int(r.catalogue->dmxProducts().first()->programFlow()), flow);
}

void TestProductCatalogue::badProgramFlowOnlyWritesTheDebugLine()
{
    QLoggingCategory::setFilterRules(QStringLiteral("zel.catalogue.debug=true"));
    QTest::ignoreMessage(QtDebugMsg, "\t\tProgramFlow does not contain a hex byte <zz>");
    Reader r;
    r.read(fixture("F", element("AdvancedBootload", element("ProgramFlow", "zz")
                                                        + element("Prompt", "Press OK."))));
    QLoggingCategory::setFilterRules(QString());

    const BootLoadProduct *product = r.catalogue->dmxProducts().first();
    QCOMPARE(product->programFlow(), quint8(0xFF));
    QCOMPARE(product->prompt(), QStringLiteral("Press OK."));
    QCOMPARE(r.logs->size(), 1);
}

void TestProductCatalogue::productValuesWithoutMessageTakeZero()
{
    Reader r;
    r.read(fixture("F", element("SerialNumPrefix", "72") + element("SerialNumPrefix", "x72")
                            + element("SerialNumPrefix", " 8100 ") + element("DiscoverPort", "port"))
           + fixture("G", element("DiscoverPort", "-5")) + fixture("H", element("DiscoverPort", "6038")));
    QVERIFY(r.prompter.shown().isEmpty());
    const QList<BootLoadProduct *> &list = r.catalogue->dmxProducts();
    QCOMPARE(list.size(), 3);
    QCOMPARE(list[0]->serialNumPrefixes(), (QList<quint32>{0x72, 0, 0x8100}));
    QCOMPARE(list[0]->discoverPort(), 0);
    QCOMPARE(list[1]->discoverPort(), -5);
    QCOMPARE(list[2]->discoverPort(), 6038);
}

void TestProductCatalogue::heirarchyIsTheOneBasedProcessorKey()
{
    Reader r;
    r.read(fixture("F", processor(element("ProcName", "second") + element("Heirarchy", "2"))
                            + processor(element("Heirarchy", "1") + element("ProcName", "first"))
                            + processor(element("ProcName", "unnumbered"))));
    const BootLoadProduct *product = r.catalogue->dmxProducts().first();
    QCOMPARE(product->processorCount(), 3);
    QVERIFY(product->processor(0) && product->processor(1) && product->processor(255));
    QCOMPARE(product->processor(0)->objectName(), QStringLiteral("first"));
    QCOMPARE(product->processor(1)->objectName(), QStringLiteral("second"));
    QCOMPARE(product->processor(255)->objectName(), QStringLiteral("unnumbered"));
    QCOMPARE(product->processor(0)->parent(), &r.window);
}

void TestProductCatalogue::sameKeyReplacesTheEarlierProcessorAndFreesIt()
{
    Reader r;
    r.read(fixture("F", processor(element("Heirarchy", "1") + element("ProcName", "earlier"))
                            + processor(element("ProcName", "later") + element("Heirarchy", "1"))));
    const BootLoadProduct *product = r.catalogue->dmxProducts().first();
    QCOMPARE(product->processorCount(), 1);
    QVERIFY(product->processor(0));
    QCOMPARE(product->processor(0)->objectName(), QStringLiteral("later"));
    QCOMPARE(r.records("MicroprocessorImageInfo"), 1);
}

void TestProductCatalogue::repeatedElementsOverwriteExceptPrefixesAndProcessors()
{
    Reader r;
    r.read(fixture("first", element("Name", "second") + element("DiscoverPort", "1")
                                + element("DiscoverPort", "2") + element("SerialNumPrefix", "8100")
                                + element("AdvancedBootload", element("Prompt", "a") + element("Prompt", "b"))
                                + processor(element("PageSize", "256") + element("PageSize", "512")
                                            + element("ProcName", "x") + element("ProcName", "y")
                                            + element("WordCount", "8000") + element("WordSize", "1")
                                            + element("WordSize", "2"))));
    const BootLoadProduct *product = r.catalogue->dmxProducts().first();
    QCOMPARE(product->name(), QStringLiteral("second"));
    QCOMPARE(product->discoverPort(), 2);
    QCOMPARE(product->prompt(), QStringLiteral("b"));
    QCOMPARE(product->serialNumPrefixes(), QList<quint32>{0x8100});
    const MicroprocessorImageInfo *info = product->processor(255);
    QCOMPARE(info->pageSize(), 512u);
    QCOMPARE(info->objectName(), QStringLiteral("y"));
    QCOMPARE(info->imageSize(), 0x10000u);
}

void TestProductCatalogue::unknownElementsAreSkippedWherever()
{
    Reader r;
    r.read("<!-- first --><USBDevice><Name>A</Name><Colour>red</Colour>"
           + processor("<Voltage>5</Voltage>" + element("PageSize", "256")
                       + "<AdvancedBootload><ProgramFlow>0</ProgramFlow></AdvancedBootload>")
           + "<ProgramFlow>08</ProgramFlow></USBDevice>"
           + "text<Gadget><Name>G</Name></Gadget><usbdevice><Name>lower</Name></usbdevice>"
           + "<USBDevice><Name>B</Name></USBDevice>");
    QVERIFY(r.prompter.shown().isEmpty());
    QCOMPARE(r.names(0), (QStringList{"A", "B"}));
    const BootLoadProduct *a = r.catalogue->usbProducts().first();
    // A ProgramFlow outside AdvancedBootload is not one.
    QCOMPARE(a->programFlow(), quint8(0xFF));
    QCOMPARE(a->processor(255)->pageSize(), 256u);
    // No Processor element: still a product, with no processors.
    QCOMPARE(r.catalogue->usbProducts().last()->processorCount(), 0);
}

void TestProductCatalogue::productsGoToTheirInterfaceInDocumentOrder()
{
    Reader r;
    r.read("<EthernetController><Name>E1</Name></EthernetController>"
           "<USBDevice><Name>U1</Name></USBDevice>"
           "<ZelDmxFixture><Name>D1</Name></ZelDmxFixture>"
           "<EthernetController><Name>E2</Name></EthernetController>"
           "<USBDevice><Name>U2</Name></USBDevice>");
    QCOMPARE(r.names(0), (QStringList{"U1", "U2"}));
    QCOMPARE(r.names(1), QStringList{"D1"});
    QCOMPARE(r.names(2), (QStringList{"E1", "E2"}));
    QVERIFY(r.catalogue->products(3).isEmpty());
    QVERIFY(r.catalogue->products(-1).isEmpty());
    for (int type = 0; type < 3; ++type) {
        for (const BootLoadProduct *p : r.catalogue->products(type)) {
            QCOMPARE(p->interfaceType(), type);
            QCOMPARE(p->parent(), &r.window);
        }
    }
    QCOMPARE(r.catalogue->usbProducts(), r.catalogue->products(0));
    QCOMPARE(r.catalogue->ethernetProducts(), r.catalogue->products(2));
}

void TestProductCatalogue::productLogRecordsTravelThroughTheCatalogue()
{
    Reader r;
    r.read("<USBDevice><Name>A</Name></USBDevice>");
    BootLoadProduct *product = r.catalogue->usbProducts().first();
    emit product->signal_log(LOG_INFO, LOGTYPE_GENERAL, "BootLoadProduct",
                             "Firmware load for microprocessor 1 succeeded.");
    QCOMPARE(r.logs->size(), 2);
    QCOMPARE(r.logs->at(1).at(2).toString(), QStringLiteral("BootLoadProduct"));
    QCOMPARE(r.logs->at(1).at(3).toString(), QStringLiteral("Firmware load for microprocessor 1 succeeded."));
}

namespace {
QStringList *g_echo = nullptr;
void captureEcho(QtMsgType, const QMessageLogContext &context, const QString &message)
{
    if (g_echo && qstrcmp(context.category, "zel.catalogue") == 0)
        g_echo->append(message);
}
} // namespace

void TestProductCatalogue::debugEchoShowsWhatWasRead()
{
    QStringList echo;
    g_echo = &echo;
    QLoggingCategory::setFilterRules(QStringLiteral("zel.catalogue.debug=true"));
    const QtMessageHandler previous = qInstallMessageHandler(captureEcho);
    Reader r;
    r.read("<USBDevice><Name>A</Name><SerialNumPrefix>72</SerialNumPrefix><DiscoverPort>6038</DiscoverPort>"
           "<AdvancedBootload><Prompt>p</Prompt></AdvancedBootload>"
           + processor(element("ProcName", "main") + element("Heirarchy", "1") + element("Odd", "x"))
           + "</USBDevice>");
    qInstallMessageHandler(previous);
    QLoggingCategory::setFilterRules(QString());
    g_echo = nullptr;

    QCOMPARE(echo, (QStringList{"<ZELBLProductList>", "\t<USBDevice>", "\t\t<Name>A</Name>",
                                "\t\t<SerialNumPrefix>72</SerialNumPrefix>",
                                "\t\t<DiscoverPort>6038</DiscoverPort>", "\t\t<AdvancedBootload>",
                                "\t\t<Processor>", "\t\t\t<ProcName>main</ProcName>",
                                "\t\t\t<Heirarchy>1</Heirarchy>", "\t\t\t<Odd>x</Odd>", "\t\t</Processor>",
                                "A processor 0: main", "\t</USBDevice>", "</ZELBLProductList>"}));
}

void TestProductCatalogue::shippedCatalogueLoadsWithoutDialogs()
{
    const QString path = qEnvironmentVariable("ZEL_SOURCE_DIR") + "/resources/zelblprod.xml";
    Reader r;
    r.catalogue->readProductCatalogue(path);
    QVERIFY2(r.prompter.shown().isEmpty(), qPrintable(r.prompter.shownTexts().join('\n')));
    QCOMPARE(r.logs->size(), 1);

    QCOMPARE(r.names(0), (QStringList{"Sorrel 3", "Vireo Player"}));

    const QStringList dmx = r.names(1);
    const QList<BootLoadProduct *> &fixtures = r.catalogue->dmxProducts();
    bool oneHex = false, hexAndPsoc = false, obsolete = false, lx = false, vireo = false, bl3 = false;
    for (const BootLoadProduct *p : fixtures) {
        const MicroprocessorImageInfo *first = p->processor(0);
        QVERIFY2(first && first->fileType() == 0, qPrintable(p->name()));
        const MicroprocessorImageInfo *second = p->processor(1);
        oneHex |= p->processorCount() == 1;
        hexAndPsoc |= p->processorCount() == 2 && second && second->fileType() == 1;
        obsolete |= p->serialNumPrefixes().contains(0x72);
        lx |= p->serialNumPrefixes().contains(0x7200) && p->name().contains("lX");
        vireo |= p->serialNumPrefixes().contains(0x7200) && p->name().contains("Vireo");
        bl3 |= first->blRev() == 3;
    }
    QVERIFY(oneHex);
    QVERIFY(hexAndPsoc);
    QVERIFY(obsolete);
    QVERIFY(lx);
    QVERIFY(vireo);
    QVERIFY(bl3);

    const QStringList ethernet = r.names(2);
    for (const char *model : {"Ostrel Hub", "Marlow White", "Brisa Quad"})
        QVERIFY2(!ethernet.filter(model).isEmpty(), model);
    QVERIFY(ethernet.contains("Marlow Mk3"));
    bool majorChecked = false;
    for (const BootLoadProduct *p : r.catalogue->ethernetProducts()) {
        QVERIFY2(p->discoverPort() > 0 && p->discoverPort() < 65536, qPrintable(p->name()));
        QVERIFY2(p->processor(0) && p->processor(0)->sft().startsWith("SFT-"), qPrintable(p->name()));
        majorChecked |= p->name() != "Marlow Mk3" && p->processor(0)->firmwareMajorVersion() <= 0xFF;
    }
    QVERIFY(majorChecked);
}

// Test images are built from these values, and every product must be able to
// load one: sizes, pages and check locations have to fit together.
void TestProductCatalogue::shippedCatalogueIsSelfConsistent()
{
    const QString path = qEnvironmentVariable("ZEL_SOURCE_DIR") + "/resources/zelblprod.xml";
    Reader r;
    r.catalogue->readProductCatalogue(path);
    const QString notGiven(QChar(0xFFFE));
    auto inside = [](const MicroprocessorImageInfo *info, quint32 loc) {
        return quint64(loc) * info->wordSize() + 4 <= info->imageSize();
    };
    for (int type = 0; type < 3; ++type) {
        for (const BootLoadProduct *p : r.catalogue->products(type)) {
            const QByteArray name = p->name().toUtf8();
            QVERIFY2(p->processorCount() > 0, name);
            for (int key = 0; key < p->processorCount(); ++key) {
                const MicroprocessorImageInfo *info = p->processor(key);
                QVERIFY2(info && info->hierarchy() == key, name);
                QVERIFY2(!info->objectName().isEmpty() && info->blid() != notGiven, name);
                QVERIFY2(info->imageSize() > 0 && info->imageSize() < 0x80000000u, name);
                QVERIFY2(info->pageSize() > 0 && info->imageSize() % info->pageSize() == 0, name);
                if (info->fileType() != 0)
                    continue;
                QVERIFY2(info->imageSize() / info->pageSize() <= 0xFFFF, name);
                if (info->blRev() == 1) {
                    QVERIFY2(inside(info, info->magicLoc()) && inside(info, info->verLoc()), name);
                    QVERIFY2(info->magicLoc() != info->verLoc(), name);
                    QVERIFY2(info->magicFlag() != MicroprocessorImageInfo::kNotGiven, name);
                } else {
                    QCOMPARE(info->blRev(), quint8(3));
                    QVERIFY2(inside(info, info->bl3SftLoc()) && inside(info, info->bl3RevLoc()), name);
                    QVERIFY2(info->bl3SftVal() != MicroprocessorImageInfo::kNotGiven, name);
                }
            }
            // Page records for the Sorrel 3 go through a 1024-byte buffer.
            if (p->name() == "Sorrel 3")
                QVERIFY(p->processor(0)->pageSize() <= 505);
            if (type == 2 && !p->name().contains("Ostrel Hub") && !p->name().contains("Marlow White")
                && !p->name().contains("Brisa Quad"))
                QVERIFY2(p->processor(0)->firmwareMajorVersion() <= 0xFF, name);
        }
    }
}

QTEST_MAIN(TestProductCatalogue)
#include "test_ProductCatalogue.moc"
