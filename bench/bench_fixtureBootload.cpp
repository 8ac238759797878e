// Boot-loading a 0x10000-byte image in 0x200-byte pages (128 pages) through
// the fixture boot-load engine against the simulated power-supply library with
// no latency, and without the fixed pause after finalize. Measures the
// engine's own overhead per page and in total, and the longest time the event
// loop got no turn during a run.
//   QT_QPA_PLATFORM=offscreen bench_fixtureBootload [runs]
#include "base/Logger.h"
#include "base/Pauser.h"
#include "base/QtPrompter.h"
#include "catalogue/BootLoadProduct.h"
#include "catalogue/HexFileState.h"
#include "catalogue/ImageSource.h"
#include "catalogue/MicroprocessorImageInfo.h"
#include "dmx/FixtureBootloadEngine.h"
#include "dmx/Hollis.h"
#include "dmx/SimulatedHollis.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QRandomGenerator>
#include <QTimer>

#include <algorithm>
#include <cstdio>

namespace {

constexpr quint32 kImageSize = 0x10000;
constexpr quint32 kPageSize = 0x200;
constexpr quint32 kPages = kImageSize / kPageSize;
constexpr quint32 kSerial = 0x8100C001;
constexpr int kPort = 0;

class NoPause : public Pauser
{
public:
    void pause(int) override {}
};

QByteArray hexText(const QByteArray &image)
{
    QByteArray text;
    for (qsizetype at = 0; at < image.size(); at += 16) {
        QByteArray record;
        record.append(char(16));
        record.append(char(at >> 8));
        record.append(char(at & 0xFF));
        record.append(char(0));
        record.append(image.mid(at, 16));
        quint8 sum = 0;
        for (char c : std::as_const(record))
            sum += quint8(c);
        record.append(char(quint8(-sum)));
        text += ':' + record.toHex().toUpper() + '\n';
    }
    return text + ":00000001FF\n";
}

struct Run {
    double totalMs = 0;
    double longestGapMs = 0;
    bool updated = false;
};

Run runOnce(FixtureBootloadEngine &engine, const BootLoadProduct &product)
{
    // A zero-interval timer fires at every turn the event loop gets.
    QElapsedTimer clock;
    qint64 lastTurn = 0;
    qint64 longestGap = 0;
    QTimer turn;
    turn.setInterval(0);
    QObject::connect(&turn, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        longestGap = std::max(longestGap, now - lastTurn);
        lastTurn = now;
    });
    turn.start();
    clock.start();
    const FixtureOutcome outcome = engine.bootloadIntelHex(product, kSerial, 1, kPort);
    const qint64 total = clock.nsecsElapsed();
    longestGap = std::max(longestGap, total - lastTurn);
    turn.stop();
    return {total / 1e6, longestGap / 1e6, outcome.updated()};
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, atoi(argv[1])) : 20;

    auto sim = std::make_unique<ZelHollis::SimulatedHollis>();
    ZelHollis::SimulatedHollis *simulated = sim.get();
    ZelHollis::SimulatedHollis::Fixture fixture;
    fixture.serial = kSerial;
    fixture.port = kPort;
    fixture.versionOffset = 0xFFE4;
    simulated->setFixtures(1, {fixture});
    ZelHollis::Hollis hollis(std::move(sim));
    ZelHollis::Hollis::setInstance(&hollis);
    hollis.queryDevices();

    QtPrompter prompter;
    NoPause pauser;
    BootLoadProduct product(prompter);
    product.setName(QStringLiteral("Bench Fixture"));
    auto *info = new MicroprocessorImageInfo(prompter, &product);
    info->setHierarchy(0);
    info->setFileType(0);
    info->setPageSize(kPageSize);
    info->setWordSize(1);
    info->setWordCount(kImageSize);
    product.addProcessor(info);
    QByteArray image(kImageSize, Qt::Uninitialized);
    QRandomGenerator generator(7);
    for (char &c : image)
        c = char(generator.bounded(256));
    ImageSource source(hexText(image));
    HexFileState state;
    if (!info->readIntelHex(source, state) || info->image() != image || info->pageCount() != kPages) {
        std::fprintf(stderr, "image not built\n");
        return 1;
    }

    // The panel's place: the progress dialog is parented to it; its log goes
    // through the logger into a log pane, as in the window.
    QWidget panel;
    panel.setObjectName(QStringLiteral("zeldmxInterfaceControl"));
    panel.resize(560, 400);
    QPlainTextEdit pane(&panel);
    pane.setReadOnly(true);
    panel.show();
    Logger *logger = Logger::instance(&panel);
    logger->setLogLength(5000);
    // As the window shows each record: appended, and the newest line in view.
    QObject::connect(logger, &Logger::latestLogString, &pane, [&pane](const QString &line) {
        pane.appendPlainText(line);
        pane.moveCursor(QTextCursor::End);
    });

    FixtureBootloadEngine engine(prompter, pauser, &panel);
    engine.setFinalizePause(0);

    const auto measure = [&](const char *what) {
        QList<Run> results;
        const int linesBefore = pane.blockCount();
        for (int i = 0; i < runs; ++i) {
            simulated->clearSteps();
            results.append(runOnce(engine, product));
            if (!results.last().updated || simulated->fixture(kSerial)->flash != image) {
                std::fprintf(stderr, "run %d did not update the fixture\n", i);
                std::exit(1);
            }
        }
        const double firstRun = results.first().totalMs / kPages;
        const double lastRun = results.last().totalMs / kPages;
        std::sort(results.begin(), results.end(),
                  [](const Run &a, const Run &b) { return a.totalMs < b.totalMs; });
        const Run &median = results.at(results.size() / 2);
        double longestGap = 0;
        for (const Run &r : std::as_const(results))
            longestGap = std::max(longestGap, r.longestGapMs);
        std::printf("%-34s median %7.2f ms a run, %6.3f ms a page (best %6.3f, worst %6.3f); "
                    "longest event-loop gap %6.2f ms\n",
                    what, median.totalMs, median.totalMs / kPages,
                    results.first().totalMs / kPages, results.last().totalMs / kPages, longestGap);
        std::printf("%-34s first run %6.3f ms a page, last run %6.3f ms a page; log pane %d -> %d lines\n",
                    "", firstRun, lastRun, linesBefore, pane.blockCount());
    };

    std::printf("%u pages of %u bytes, %d runs each, no pause after finalize, %s platform\n", kPages,
                kPageSize, runs, qPrintable(QGuiApplication::platformName()));
    QObject::connect(&engine, &FixtureBootloadEngine::signal_log, logger, &Logger::log);
    measure("with logger and log pane:");
    QObject::disconnect(&engine, &FixtureBootloadEngine::signal_log, logger, &Logger::log);
    measure("engine, dialog and library only:");
    return 0;
}
