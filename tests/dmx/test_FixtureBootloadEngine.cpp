#include "dmx/FixtureBootloadEngine.h"

#include "catalogue/BootLoadProduct.h"
#include "catalogue/HexFileState.h"
#include "catalogue/ImageSource.h"
#include "catalogue/MicroprocessorImageInfo.h"
#include "dmx/Hollis.h"
#include "dmx/SimulatedHollis.h"
#include "tests/dmx/DmxTestImages.h"
#include "tests/support/FakePrompter.h"
#include "tests/support/RecordingPauser.h"

#include <QTest>
#include <QTimer>
#include <QWidget>

using ZelHollis::Hollis;
using ZelHollis::SimulatedHollis;
using Step = FixtureOutcome::Step;
using Result = FixtureOutcome::Result;

namespace {

constexpr int kDevice = SimulatedHollis::kNetworkSupply;
constexpr int kPort = 1;

// Notes how many library calls had been made when each message box came up.
class OrderPrompter : public FakePrompter
{
public:
    const SimulatedHollis *sim = nullptr;
    QList<int> callsAtBox;
    QMessageBox::StandardButton showMessage(QWidget *parent, Kind kind, const QString &title,
                                            const QString &text,
                                            QMessageBox::StandardButtons buttons) override
    {
        callsAtBox.append(int(sim->steps().size()));
        return FakePrompter::showMessage(parent, kind, title, text, buttons);
    }
};

// One call as "Name device port serial[ block/length][ model]".
QString callText(const SimulatedHollis::Step &s)
{
    QString text = QStringLiteral("%1 %2 %3 %4").arg(s.call).arg(s.device).arg(s.port).arg(s.serial, 0, 16);
    if (s.block >= 0)
        text += QStringLiteral(" %1/%2").arg(s.block).arg(s.length);
    if (s.model)
        text += QStringLiteral(" model");
    return text;
}

QStringList psocLines(int paragraphs, int longOne)
{
    QStringList lines;
    for (int k = 0; k < paragraphs; ++k) {
        QString line = QStringLiteral("w 00 %1 %2").arg(k, 2, 16, QLatin1Char('0')).arg(0xA0 + k, 2, 16);
        const int extra = k == longOne ? 18 : 2; // 20 bytes in all for the long one
        for (int b = 0; b < extra; ++b)
            line += QStringLiteral(" %1").arg(b, 2, 16, QLatin1Char('0'));
        lines << line << QStringLiteral("r");
    }
    return lines;
}

} // namespace

class TestFixtureBootloadEngine : public QObject
{
    Q_OBJECT

private:
    OrderPrompter m_prompter;
    RecordingPauser m_pauser;
    SimulatedHollis *m_sim = nullptr;
    std::unique_ptr<Hollis> m_hollis;
    std::unique_ptr<QWidget> m_panel;
    std::unique_ptr<FixtureBootloadEngine> m_engine;
    std::unique_ptr<BootLoadProduct> m_product;
    QList<QPair<LOGPRIORITY, QString>> m_log;

    MicroprocessorImageInfo *addProcessor(int key, int fileType, quint32 pageSize, quint32 size)
    {
        auto *info = new MicroprocessorImageInfo(m_prompter, m_product.get());
        info->setHierarchy(key);
        info->setFileType(fileType);
        info->setPageSize(pageSize);
        info->setWordSize(1);
        info->setWordCount(size);
        m_product->addProcessor(info);
        return info;
    }
    void loadHex(MicroprocessorImageInfo *info, const QMap<quint32, QByteArray> &chunks)
    {
        ImageSource source(hexText(chunks).toLatin1());
        HexFileState state;
        QVERIFY(info->readIntelHex(source, state));
    }
    // One Intel HEX processor of pages x pageSize bytes, each page numbered.
    MicroprocessorImageInfo *intelHexProduct(quint32 pages, quint32 pageSize, quint8 flow = 0xFF)
    {
        m_product->setName(QStringLiteral("Cove Wash"));
        m_product->setProgramFlow(flow);
        MicroprocessorImageInfo *info = addProcessor(0, 0, pageSize, pages * pageSize);
        loadHex(info, numberedPages(pages, pageSize));
        return info;
    }
    void psocProduct(quint32 pages, int paragraphs, int longParagraph = -1)
    {
        m_product->setName(QStringLiteral("Tern Spot"));
        MicroprocessorImageInfo *main = addProcessor(0, 0, 0x100, pages * 0x100);
        loadHex(main, numberedPages(pages, 0x100));
        MicroprocessorImageInfo *driver = addProcessor(1, 1, 64, 0x1000);
        ImageSource source(psocLines(paragraphs, longParagraph).join('\n').toLatin1());
        QVERIFY(driver->readCypressPSoC(source));
        QCOMPARE(driver->paragraphCount(), paragraphs);
    }
    void placeFixture(quint32 serial)
    {
        SimulatedHollis::Fixture f;
        f.serial = serial;
        f.port = kPort;
        f.versionOffset = 0;
        m_sim->setFixtures(kDevice, {f});
    }
    QStringList calls() const
    {
        QStringList list;
        for (const SimulatedHollis::Step &s : m_sim->steps())
            list.append(callText(s));
        return list;
    }
    QStringList logTexts(LOGPRIORITY priority) const
    {
        QStringList texts;
        for (const auto &[p, text] : m_log) {
            if (p == priority)
                texts.append(text);
        }
        return texts;
    }

private slots:
    void init()
    {
        m_prompter.clear();
        m_prompter.callsAtBox.clear();
        m_pauser.pauses.clear();
        m_log.clear();
        auto sim = std::make_unique<SimulatedHollis>();
        m_sim = sim.get();
        m_sim->setReplyDelay(0);
        m_prompter.sim = m_sim;
        m_hollis = std::make_unique<Hollis>(std::move(sim));
        Hollis::setInstance(m_hollis.get());
        m_hollis->queryDevices();
        m_panel = std::make_unique<QWidget>();
        m_panel->setObjectName(QStringLiteral("zeldmxInterfaceControl"));
        m_engine = std::make_unique<FixtureBootloadEngine>(m_prompter, m_pauser, m_panel.get());
        connect(m_engine.get(), &FixtureBootloadEngine::signal_log, this,
                [this](LOGPRIORITY p, LOGTYPE, QString object, QString text) {
                    QCOMPARE(object, QStringLiteral("zeldmxInterfaceControl"));
                    m_log.append({p, text});
                });
        m_product = std::make_unique<BootLoadProduct>(m_prompter);
    }
    void cleanup()
    {
        QVERIFY(!m_prompter.unexpectedSeen());
        QCOMPARE(m_prompter.pendingExpectations(), 0);
        m_engine.reset();
        m_product.reset();
        m_hollis.reset();
    }

    void intelHex_sendsTheFlowsSteps_data();
    void intelHex_sendsTheFlowsSteps();
    void intelHexPsoc_sendsPagesThenParagraphs_data();
    void intelHexPsoc_sendsPagesThenParagraphs();
    void refusedStep_endsTheFixturesRunAndSaysWhich_data();
    void refusedStep_endsTheFixturesRunAndSaysWhich();
    void productWithoutFittingProcedure_sendsNothing_data();
    void productWithoutFittingProcedure_sendsNothing();
    void slowLibrary_windowKeepsProcessingEvents();
};

void TestFixtureBootloadEngine::intelHex_sendsTheFlowsSteps_data()
{
    QTest::addColumn<int>("flow");
    QTest::addColumn<QString>("prompt");
    QTest::addColumn<quint32>("serial");
    QTest::addColumn<bool>("model"); // the fixture model flag

    QTest::newRow("all steps, prompt, model fixture") << 0xFF << QStringLiteral("Set the switch to BOOT.") << 0x8280ABCDu << true;
    QTest::newRow("1E skips advanced mode") << 0x1E << QString() << 0x8281ABCDu << false;
    QTest::newRow("08 only writes") << 0x08 << QString() << 0x8500ABCDu << false;
    QTest::newRow("short serial in messages") << 0x1F << QString() << 0x0001A2B3u << false;
    QTest::newRow("last model prefix") << 0x1F << QString() << 0x8480FFFFu << true;
}

void TestFixtureBootloadEngine::intelHex_sendsTheFlowsSteps()
{
    QFETCH(int, flow);
    QFETCH(QString, prompt);
    QFETCH(quint32, serial);
    QFETCH(bool, model);
    const quint32 pages = 4;
    const quint32 pageSize = 0x200;
    intelHexProduct(pages, pageSize, quint8(flow));
    m_product->setPrompt(prompt);
    placeFixture(serial);
    if (!(flow & 0x04)) {
        // A flow without erase relies on the fixture waiting, erased, in its boot loader.
        QVERIFY(m_hollis->zeldmxEnterBootloadMode(kDevice, kPort, serial));
        QVERIFY(m_hollis->zeldmxBootloadStart(kDevice, kPort, serial, false));
        m_sim->clearSteps();
    }
    if (!prompt.isEmpty())
        m_prompter.expectMessage(Prompter::Kind::Information, QStringLiteral("Information"), prompt);

    const FixtureOutcome outcome = m_engine->bootloadIntelHex(*m_product, serial, kDevice, kPort);

    QCOMPARE(outcome.result, Result::Updated);
    QCOMPARE(outcome.serial, serial);
    QVERIFY(outcome.reason.isEmpty());
    if (!prompt.isEmpty()) {
        QCOMPARE(m_prompter.callsAtBox, QList<int>{0});
        QVERIFY(m_prompter.shown().first().hasParent);
    }

    // The expected transcript, progress and log follow the flow's bits.
    const QString sn = QString::number(serial, 16);
    const QString at = QStringLiteral(" %1 %2 %3").arg(kDevice).arg(kPort).arg(sn);
    QStringList expectedCalls;
    QList<int> progress{0};
    const QString padded = QStringLiteral("%1").arg(serial, 8, 16, QLatin1Char('0')).toUpper();
    QStringList info{QStringLiteral("Programming Cove Wash SN:%1 processor:1...").arg(padded)};
    if (flow & 0x01) {
        expectedCalls << QStringLiteral("AdvancedModeEntry %1 %2 0").arg(kDevice).arg(kPort);
        progress << 5;
        info << QStringLiteral("Setting all fixtures to advanced mode.");
    }
    if (flow & 0x02) {
        expectedCalls << QStringLiteral("EnterBootloadMode") + at;
        progress << 10;
        info << QStringLiteral("SN %1 - Sending to boot loading mode.").arg(sn);
    }
    if (flow & 0x04) {
        expectedCalls << QStringLiteral("BootloadStart") + at + (model ? " model" : "");
        progress << 15;
        info << QStringLiteral("SN %1 - Erasing microprocessor 1 flash.").arg(sn);
    }
    if (flow & 0x08) {
        info << QStringLiteral("SN %1 - Writing microprocessor 1 flash.").arg(sn);
        for (quint32 i = 0; i < pages; ++i) {
            expectedCalls << QStringLiteral("BootloadWriteIntelHex%1 %2/%3%4").arg(at).arg(i).arg(pageSize).arg(model ? " model" : "");
            progress << int(i) + 15;
            info << QStringLiteral("SN %1 - Sent record %2/%3.").arg(sn).arg(i + 1).arg(pages);
        }
        progress << int(pages) + 20;
    }
    if (flow & 0x10) {
        expectedCalls << QStringLiteral("BootloadDone") + at + (model ? " model" : "");
        progress << int(pages) + 25;
        info << QStringLiteral("SN %1 - Finalize and reset.").arg(sn);
    }
    QCOMPARE(calls(), expectedCalls);
    QCOMPARE(logTexts(LOG_INFO), info);
    QVERIFY(m_log.size() == info.size());
    QCOMPARE(m_pauser.pauses, (flow & 0x10) ? QList<int>{3000} : QList<int>{});

    QCOMPARE(m_prompter.progresses().size(), 1);
    const FakePrompter::Progress &dialog = *m_prompter.progresses().first();
    QCOMPARE(dialog.label, QStringLiteral("Bootloading SN:") + padded);
    QCOMPARE(dialog.maximum, int(pages) + 25);
    QCOMPARE(dialog.values, progress);
    QVERIFY(dialog.closed);
    if (flow & 0x08)
        QVERIFY(dialog.labels.contains(QStringLiteral("SN %1 - Writing flash.").arg(sn)));
}

void TestFixtureBootloadEngine::intelHexPsoc_sendsPagesThenParagraphs_data()
{
    QTest::addColumn<int>("paragraphs");
    QTest::addColumn<int>("longParagraph");
    QTest::newRow("three paragraphs, one of 20 bytes") << 3 << 1;
    QTest::newRow("no paragraphs") << 0 << -1;
}

void TestFixtureBootloadEngine::intelHexPsoc_sendsPagesThenParagraphs()
{
    QFETCH(int, paragraphs);
    QFETCH(int, longParagraph);
    const quint32 pages = 2;
    psocProduct(pages, paragraphs, longParagraph);
    // The mask and the prompt are the single-processor procedure's only.
    m_product->setProgramFlow(0x08);
    m_product->setPrompt(QStringLiteral("never shown"));
    const quint32 serial = 0x8300F001; // a model prefix: the flag is still false here
    placeFixture(serial);

    const FixtureOutcome outcome = m_engine->bootloadIntelHexPSoC(*m_product, serial, kDevice, kPort);

    QVERIFY(outcome.updated());
    const QString at = QStringLiteral(" %1 %2 8300f001").arg(kDevice).arg(kPort);
    QStringList expected{QStringLiteral("AdvancedModeEntry %1 %2 0").arg(kDevice).arg(kPort),
                         QStringLiteral("EnterBootloadMode") + at, QStringLiteral("BootloadStart") + at};
    QList<int> progress{0, 5, 10, 15};
    for (quint32 i = 0; i < pages; ++i) {
        expected << QStringLiteral("BootloadWriteIntelHex%1 %2/256").arg(at).arg(i);
        progress << int(i) + 15;
    }
    for (int k = 0; k < paragraphs; ++k) {
        expected << QStringLiteral("BootloadWriteCypressPSoC%1 %2/%3").arg(at).arg(k).arg(k == longParagraph ? 16 : 4);
        progress << int(pages) + 15 + k;
    }
    expected << QStringLiteral("BootloadDone") + at;
    progress << paragraphs + int(pages) + 20 << paragraphs + int(pages) + 25;
    QCOMPARE(calls(), expected);
    QCOMPARE(m_prompter.progresses().first()->values, progress);
    QCOMPARE(m_prompter.progresses().first()->maximum, paragraphs + int(pages) + 25);
    if (longParagraph >= 0)
        QCOMPARE(m_sim->steps().at(3 + int(pages) + longParagraph).data.size(), 20); // passed whole

    const QStringList info = logTexts(LOG_INFO);
    QCOMPARE(info.first(), QStringLiteral("Programming Tern Spot SN:8300F001 processor:1..."));
    QCOMPARE(info.count(QStringLiteral("SN 8300f001 - Writing microprocessor 2 flash.")), 1);
    if (paragraphs > 0)
        QCOMPARE(info.filter(QStringLiteral("Sent paragraph")).last(),
                 QStringLiteral("SN 8300f001 - Sent paragraph %1/%1.").arg(paragraphs));
    QCOMPARE(m_pauser.pauses, QList<int>{3000});
    const SimulatedHollis::Fixture *fixture = m_sim->fixture(serial);
    QCOMPARE(fixture->flash, m_product->processor(0)->image());
    QCOMPARE(fixture->paragraphs.size(), paragraphs);
}

void TestFixtureBootloadEngine::refusedStep_endsTheFixturesRunAndSaysWhich_data()
{
    QTest::addColumn<bool>("psoc");
    QTest::addColumn<QString>("arrange"); // call to refuse, or "silent fixture" / "silent supply"
    QTest::addColumn<int>("block");
    QTest::addColumn<int>("step");
    QTest::addColumn<QString>("what");

    QTest::newRow("supply stops answering") << false << "silent supply" << -1 << int(Step::AdvancedMode) << "Setting all fixtures to advanced mode was refused. Its flash was not touched.";
    QTest::newRow("fixture stops answering") << false << "silent fixture" << -1 << int(Step::BootloadMode) << "Sending to boot loading mode was refused. Its flash was not touched.";
    QTest::newRow("erase") << false << "BootloadStart" << -1 << int(Step::Erase) << "Erasing flash was refused. Its flash may be blank";
    QTest::newRow("third of four pages") << false << "BootloadWriteIntelHex" << 2 << int(Step::Page) << "Writing page 3/4 was refused. Its flash may be blank";
    QTest::newRow("finalize") << false << "BootloadDone" << -1 << int(Step::Finalize) << "Finalize and reset was refused.";
    QTest::newRow("second paragraph") << true << "BootloadWriteCypressPSoC" << 1 << int(Step::Paragraph) << "Writing paragraph 2/3 was refused.";
}

void TestFixtureBootloadEngine::refusedStep_endsTheFixturesRunAndSaysWhich()
{
    QFETCH(bool, psoc);
    QFETCH(QString, arrange);
    QFETCH(int, block);
    QFETCH(int, step);
    QFETCH(QString, what);
    const quint32 serial = 0x8100C001;
    if (psoc)
        psocProduct(4, 3);
    else
        intelHexProduct(4, 0x100);
    placeFixture(serial);
    if (arrange == QLatin1String("silent supply"))
        m_sim->setSupplyAnswering(kDevice, false);
    else if (arrange == QLatin1String("silent fixture"))
        m_sim->setFixtureAnswering(serial, false);
    else
        m_sim->failStep(serial, arrange, block);

    const FixtureOutcome outcome = psoc
        ? m_engine->bootloadIntelHexPSoC(*m_product, serial, kDevice, kPort)
        : m_engine->bootloadIntelHex(*m_product, serial, kDevice, kPort);

    QCOMPARE(outcome.result, Result::Failed);
    QCOMPARE(int(outcome.failedStep), step);
    QCOMPARE(outcome.block, block);
    QVERIFY2(outcome.reason.startsWith(what), qPrintable(outcome.reason));
    // The refused call is the last one: nothing more, above all no finalize over a failed write.
    const QList<SimulatedHollis::Step> &steps = m_sim->steps();
    QVERIFY(!steps.last().accepted);
    for (int i = 0; i + 1 < steps.size(); ++i)
        QVERIFY(steps.at(i).accepted);
    if (Step(step) != Step::Finalize)
        QVERIFY(!calls().join('\n').contains(QStringLiteral("BootloadDone")));
    const QStringList severe = logTexts(LOG_SEVERE);
    QCOMPARE(severe.size(), 1);
    QVERIFY2(severe.first().startsWith(QStringLiteral("SN:8100C001 - ") + what.section('.', 0, 0)),
             qPrintable(severe.first()));
    QVERIFY(!logTexts(LOG_INFO).contains(QStringLiteral("SN 8100c001 - Finalize and reset.")) || Step(step) == Step::Finalize);
    QVERIFY(m_pauser.pauses.isEmpty());
    QVERIFY(m_prompter.progresses().first()->closed);
}

void TestFixtureBootloadEngine::productWithoutFittingProcedure_sendsNothing_data()
{
    QTest::addColumn<QString>("layout");
    QTest::addColumn<QString>("reason");
    QTest::newRow("single processor keyed 2") << "hex@1" << "Missing microprocessor image information.";
    QTest::newRow("single PSoC processor") << "psoc@0" << "has a single processor of file type 1";
    QTest::newRow("second processor missing") << "hex@0 hex@2" << "Missing microprocessor image information.";
    QTest::newRow("two Intel HEX processors") << "hex@0 hex@1" << "File type mismatch. Expecting Intel HEX.";
    QTest::newRow("three processors") << "hex@0 psoc@1 hex@2" << "has 3 processors";
    QTest::newRow("no page size") << "nopages@0" << "page size 0";
    QTest::newRow("image without a whole page") << "short@0" << "no whole page";
    QTest::newRow("page longer than 16 bits") << "bigpage@0" << "page size 65536";
}

void TestFixtureBootloadEngine::productWithoutFittingProcedure_sendsNothing()
{
    QFETCH(QString, layout);
    QFETCH(QString, reason);
    m_product->setName(QStringLiteral("Odd"));
    for (const QString &part : layout.split(' ')) {
        const QString kind = part.section('@', 0, 0);
        const int key = part.section('@', 1).toInt();
        if (kind == QLatin1String("psoc")) {
            addProcessor(key, 1, 64, 0x100);
        } else if (kind == QLatin1String("nopages")) {
            addProcessor(key, 0, 0, 0x100);
        } else if (kind == QLatin1String("short")) {
            loadHex(addProcessor(key, 0, 0x200, 0x100), numberedPages(1, 0x100));
        } else if (kind == QLatin1String("bigpage")) {
            loadHex(addProcessor(key, 0, 0x10000, 0x10000), numberedPages(1, 0x100));
        } else {
            loadHex(addProcessor(key, 0, 0x100, 0x200), numberedPages(2, 0x100));
        }
    }
    placeFixture(0x8100C001);

    QString why;
    QCOMPARE(FixtureBootloadEngine::layoutOf(*m_product, &why), FixtureBootloadEngine::Layout::None);
    QVERIFY2(why.contains(reason), qPrintable(why));
    for (int variant = 0; variant < 2; ++variant) {
        const FixtureOutcome outcome = variant == 0
            ? m_engine->bootloadIntelHex(*m_product, 0x8100C001, kDevice, kPort)
            : m_engine->bootloadIntelHexPSoC(*m_product, 0x8100C001, kDevice, kPort);
        QCOMPARE(outcome.result, Result::NotRun);
        QVERIFY(!outcome.reason.isEmpty());
    }
    QVERIFY(m_sim->steps().isEmpty());
    QVERIFY(m_prompter.shown().isEmpty());
    QCOMPARE(logTexts(LOG_WARNING).size(), 2);
    QVERIFY(logTexts(LOG_INFO).isEmpty());
}

void TestFixtureBootloadEngine::slowLibrary_windowKeepsProcessingEvents()
{
    intelHexProduct(8, 0x100);
    placeFixture(0x8100C001);
    m_sim->setStepLatency(15);
    int ticks = 0;
    QTimer ticker;
    connect(&ticker, &QTimer::timeout, this, [&ticks] { ++ticks; });
    ticker.start(5);

    QVERIFY(m_engine->bootloadIntelHex(*m_product, 0x8100C001, kDevice, kPort).updated());

    // 12 calls of 15 ms each: the timer ran between them, not only afterwards.
    QVERIFY2(ticks >= 6, qPrintable(QString::number(ticks)));
}

QTEST_MAIN(TestFixtureBootloadEngine)
#include "test_FixtureBootloadEngine.moc"
