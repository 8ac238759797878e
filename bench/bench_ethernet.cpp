// Ethernet benchmarks over a veth pair in network namespaces of their own
// (root needed). Prints figures; see bench/run-ethernet-bench.sh.
//   1. a 1 MiB TFTP write by QTFTP to the controller simulator, against
//      tftp-hpa putting the same file to the same simulator;
//   2. a burst of 2000 discovery replies: how many the panel lists, and the
//      receive buffer the system really granted;
//   3. the longest stall of the window's event loop during a 1 MiB write;
//   4. "program all": 1, 10 and 50 controllers on addresses of their own,
//      1 MiB each, against one single write in the same run, with the
//      window's longest event-loop stall.
// Arguments name the parts to run (write burst stall fleet); none runs all.
// "--simulators=N" spreads the fleet's controllers over N simulator processes;
// "--delay=MS" runs the fleet part once more with every answer held back.
#include "app/AppServices.h"
#include "app/DeviceEnvironment.h"
#include "app/ZelBootLoader.h"
#include "base/Pauser.h"
#include "base/QtPrompter.h"
#include "catalogue/BootLoadProduct.h"
#include "catalogue/MicroprocessorImageInfo.h"
#include "ethernet/FleetWriter.h"
#include "ethernet/QTFTP.h"
#include "ethernet/TarvoInput.h"
#include "ethernet/TarvoNotPresent.h"
#include "ethernet/tftpInterfaceControl.h"
#include "simulator/NetnsPair.h"

#include <QApplication>
#include <QFileInfo>
#include <QCheckBox>
#include <QSpinBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <sys/resource.h>
#include <memory>
#include <vector>

namespace {

const QString kController = QString::fromLatin1(NetnsPair::kPeerAddress);
NetnsPair *g_netns = nullptr;

class NoPause : public Pauser
{
public:
    void pause(int) override {}
};

// Answers the window's file dialog with the benchmark's image; everything
// else as the real dialogs would show it.
class BenchPrompter : public QtPrompter
{
public:
    QString file;
    bool quiet = false; // message boxes expected: kept, not printed
    QStringList seen;
    QString getOpenFileName(QWidget *, const QString &, const QString &, const QString &) override
    {
        return file;
    }
    QMessageBox::StandardButton showMessage(QWidget *, Kind, const QString &title, const QString &text,
                                            QMessageBox::StandardButtons) override
    {
        seen.append(title + QStringLiteral(": ") + text);
        if (!quiet)
            std::printf("  unexpected message box: %s: %s\n", qPrintable(title), qPrintable(text));
        return QMessageBox::Ok;
    }
};

class Peer
{
public:
    bool start(const QStringList &program)
    {
        const QStringList command = g_netns->peerCommand(program);
        m_process.setProgram(command.first());
        m_process.setArguments(command.mid(1));
        m_process.start();
        while (m_process.waitForReadyRead(5000)) {
            m_output += m_process.readAll();
            if (m_output.contains("READY"))
                return true;
        }
        return false;
    }
    QByteArray output()
    {
        m_process.waitForReadyRead(200);
        m_output += m_process.readAll();
        return m_output;
    }
    ~Peer()
    {
        m_process.terminate();
        m_process.waitForFinished(3000);
    }

private:
    QProcess m_process;
    QByteArray m_output;
};

double median(QList<double> values)
{
    std::sort(values.begin(), values.end());
    return values.isEmpty() ? 0 : values.at(values.size() / 2);
}

QString simulatorPath()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/../zel-controller-sim");
}

// Intel HEX text of an Ostrel Hub image, padded with records past the end of
// the image (which the reader drops) until the file holds at least minBytes.
QByteArray ostrelHubFile(int minBytes)
{
    QByteArray text;
    auto record = [&](quint32 address, int type, const QByteArray &data) {
        QByteArray r;
        r.append(char(data.size())).append(char((address >> 8) & 0xFF)).append(char(address & 0xFF)).append(char(type));
        r.append(data);
        quint8 sum = 0;
        for (char c : r)
            sum += quint8(c);
        text += ':' + (r + char(quint8(-sum))).toHex().toUpper() + '\n';
    };
    record(0, 4, QByteArray::fromHex("0003"));
    record(0xFF00, 0, QByteArray::fromHex("0101C0E7" "03020100"));
    quint32 upper = 5;
    quint32 address = 0;
    while (text.size() < minBytes) {
        if (address == 0)
            record(0, 4, QByteArray(1, char(upper >> 8)) + char(upper & 0xFF));
        QByteArray data;
        for (int i = 0; i < 16; ++i)
            data.append(char((address + i) * 7));
        record(address, 0, data);
        address = (address + 16) & 0xFFFF;
        if (address == 0)
            ++upper;
    }
    text += ":00000001FF\n";
    return text;
}

void benchWrite(const QString &file, int runs)
{
    std::printf("\n1. TFTP write of %s (%lld bytes) over the veth pair, %d runs each\n", qPrintable(file),
                QFile(file).size(), runs);
    Peer sim;
    if (!sim.start({simulatorPath(), "--bind", "0.0.0.0", "--discovery-port", "6038", "--tftp-port", "69",
                    "--quiet", "--controller", "ip=" + kController + ",id=Ostrel Hub,verstring=SFT-OH,rev=1"})) {
        std::printf("  simulator did not start\n");
        return;
    }
    QFile in(file);
    in.open(QIODevice::ReadOnly);
    QByteArray data = in.readAll();

    QList<double> ours, theirs;
    for (int i = 0; i < runs; ++i) {
        QTFTP tftp(nullptr, 2000);
        tftp.commandWrite(kController, QStringLiteral("firmware"), data.data(), unsigned(data.size()));
        QSignalSpy done(&tftp, &QTFTP::commandFinished);
        QElapsedTimer clock;
        clock.start();
        tftp.start();
        tftp.wait();
        ours.append(clock.nsecsElapsed() / 1e6);
        if (done.isEmpty() || done.first().first().toInt() != data.size())
            std::printf("  QTFTP run %d failed\n", i);

        clock.restart();
        const int status = NetnsPair::run({"tftp", "-m", "octet", kController, "-c", "put", file, "firmware"});
        theirs.append(clock.nsecsElapsed() / 1e6);
        if (status != 0)
            std::printf("  tftp-hpa run %d failed\n", i);
    }
    QStringList pairs;
    for (int i = 0; i < ours.size(); ++i)
        pairs.append(QStringLiteral("%1/%2").arg(ours.at(i), 0, 'f', 1).arg(theirs.at(i), 0, 'f', 1));
    std::printf("  runs (QTFTP/tftp-hpa ms): %s\n", qPrintable(pairs.join(QLatin1Char(' '))));
    std::printf("  QTFTP     median %.1f ms  min %.1f ms\n", median(ours), *std::min_element(ours.begin(), ours.end()));
    std::printf("  tftp-hpa  median %.1f ms  min %.1f ms  (wall time of the process, start-up included)\n",
                median(theirs), *std::min_element(theirs.begin(), theirs.end()));
    std::printf("  ratio QTFTP / tftp-hpa (medians): %.2f  (goal: at most 1.10)\n", median(ours) / median(theirs));
}

void benchBurst()
{
    std::printf("\n2. Discovery burst: 2000 replies, real poll interval and window\n");
    Peer sim;
    if (!sim.start({simulatorPath(), "--bind", "0.0.0.0", "--discovery-port", "6039", "--no-tftp", "--count", "2000",
                    "--controller", "ip=198.18.0.1,id=Ostrel Hub,verstring=SFT-OH 2.1,rev=33"})) {
        std::printf("  simulator did not start\n");
        return;
    }
    QtPrompter prompter;
    NoPause pauser;
    TarvoNotPresent tarvo;
    EthernetSettings settings;
    settings.discoveryDestination = kController;
    settings.discoveryPortOverride = 6039;
    settings.announcePort = 0;
    settings.queryWindowMs = 100;
    settings.infoReadTimeoutMs = 1;
    BootLoadProduct product(prompter);
    product.setName(QStringLiteral("Ostrel Hub"));
    auto *processor = new MicroprocessorImageInfo(prompter, &product);
    processor->setHierarchy(0);
    processor->setSft(QStringLiteral("SFT-OH"));
    product.addProcessor(processor);
    tftpInterfaceControl panel(prompter, pauser, tarvo, settings);
    panel.setProduct(&product);
    int replies = 0;
    QObject::connect(&panel, &tftpInterfaceControl::signal_log, &panel,
                     [&](LOGPRIORITY, LOGTYPE, QString, QString text) {
                         if (text.startsWith(QLatin1String("Discovery response")))
                             ++replies;
                     });
    QElapsedTimer clock;
    clock.start();
    panel.findChild<QPushButton *>(QStringLiteral("m_pushButton_TFTPDiscover"))->click();
    auto *list = panel.findChild<QComboBox *>(QStringLiteral("m_comboBox_TFTPDevicesDiscovered"));
    QTest::qWait(3500);
    const QByteArray said = sim.output();
    const int at = said.indexOf("replied");
    std::printf("  simulator: %s\n", at < 0 ? "no burst seen" : said.mid(at, said.indexOf('\n', at) - at).constData());
    std::printf("  entries listed: %d of 2000 (replies logged: %d)\n", list->count(), replies);

    TarvoInput probe(6039, settings);
    QFile rmem(QStringLiteral("/proc/sys/net/core/rmem_max"));
    rmem.open(QIODevice::ReadOnly);
    std::printf("  receive buffer asked %d bytes, granted %d bytes (SO_RCVBUF read back; net.core.rmem_max %s)\n",
                UdpBroadcastSocket::kReceiveBufferBytes, probe.receiveBufferBytes(), rmem.readAll().trimmed().constData());
}

// The longest gap between 1 ms ticks of the event loop while it runs.
class StallMeter
{
public:
    StallMeter()
    {
        m_ticker.setInterval(1);
        QObject::connect(&m_ticker, &QTimer::timeout, &m_ticker, [this] {
            m_longest = std::max(m_longest, m_gap.nsecsElapsed());
            m_gap.restart();
        });
        m_gap.start();
        m_ticker.start();
    }
    double longestMs()
    {
        m_longest = std::max(m_longest, m_gap.nsecsElapsed());
        m_ticker.stop();
        return m_longest / 1e6;
    }

private:
    QTimer m_ticker;
    QElapsedTimer m_gap;
    qint64 m_longest = 0;
};

// The window on the Ethernet interface with the Ostrel Hub image loaded,
// aimed at the benchmark's controllers. The run ends with the revision
// check; without the settle it adds one read.
struct BenchWindow {
    BenchPrompter prompter;
    NoPause pauser;
    std::unique_ptr<DeviceEnvironment> devices = DeviceEnvironment::create(false);
    std::unique_ptr<ZelBootLoader> window;
    tftpInterfaceControl *panel = nullptr;
    QPushButton *program = nullptr;

    BenchWindow(const QString &file, bool quiet, int discoveryWindowMs = -1)
    {
        prompter.file = file;
        prompter.quiet = quiet;
        EthernetSettings &settings = devices->ethernet();
        settings.discoveryDestination = kController;
        settings.announcePort = 0;
        settings.verifySettleMs = 0;
        if (discoveryWindowMs >= 0)
            settings.discoveryWindowMs = discoveryWindowMs;
        AppServices services;
        services.prompter = &prompter;
        services.pauser = &pauser;
        services.devices = devices.get();
        services.cataloguePath = QCoreApplication::applicationDirPath() + QStringLiteral("/../zelblprod.xml");
        window = std::make_unique<ZelBootLoader>(-1, QString(), QString(), false, services);
        window->show();
        window->findChild<QComboBox *>(QStringLiteral("m_comboBox_interfaceSelect"))->setCurrentIndex(2);
        auto *device = window->findChild<QComboBox *>(QStringLiteral("m_comboBox_deviceSelect"));
        device->setCurrentIndex(device->findText(QStringLiteral("Ostrel Hub")));
        window->findChild<QPushButton *>(QStringLiteral("m_pushButton_firmwareImageFileSelect"))->click();
        panel = window->findChild<tftpInterfaceControl *>();
        program = window->findChild<QPushButton *>(QStringLiteral("m_pushButton_program"));
    }
};

void benchStall(const QString &file)
{
    std::printf("\n3. Window event-loop stall during the write of %s (%lld bytes)\n", qPrintable(file), QFile(file).size());
    Peer sim;
    if (!sim.start({simulatorPath(), "--bind", "0.0.0.0", "--discovery-port", "6038", "--tftp-port", "69", "--quiet",
                    "--controller", "ip=" + kController + ",id=Ostrel Hub,verstring=SFT-OH 2.1,rev=33"})) {
        std::printf("  simulator did not start\n");
        return;
    }
    BenchWindow w(file, false);
    w.window->findChild<QPushButton *>(QStringLiteral("m_pushButton_TFTPDiscover"))->click();
    QPushButton *program = w.program;
    if (!QTest::qWaitFor([&] { return program->isEnabled(); }, 10000)) {
        std::printf("  no controller offered\n");
        return;
    }
    QSignalSpy complete(w.panel, &tftpInterfaceControl::signal_programComplete);
    StallMeter stall;
    QElapsedTimer clock;
    clock.start();
    program->click();
    complete.wait(30000);
    const double total = clock.nsecsElapsed() / 1e6;
    std::printf("  write and check %s in %.1f ms; longest gap between 1 ms ticks of the event loop: %.1f ms (goal: under 50)\n",
                complete.isEmpty() ? "FAILED" : "done", total, stall.longestMs());
}

// CPU time (user + system) of this process, and of its children that have ended.
struct CpuTimes {
    double self = 0;
    double children = 0;
    static CpuTimes now()
    {
        auto seconds = [](const rusage &u) {
            return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
        };
        rusage self {}, children {};
        getrusage(RUSAGE_SELF, &self);
        getrusage(RUSAGE_CHILDREN, &children);
        return {seconds(self), seconds(children)};
    }
};

QString loadAverage()
{
    QFile file(QStringLiteral("/proc/loadavg"));
    return file.open(QIODevice::ReadOnly) ? QString::fromLatin1(file.readAll()).section(QLatin1Char(' '), 0, 2)
                                          : QStringLiteral("?");
}

QString fleetAddress(int index)
{
    return QStringLiteral("198.51.100.%1").arg(10 + index);
}

// count controllers from fleetAddress(0), spread over several simulator
// processes for TFTP; the first process also answers discovery for all.
bool startFleet(std::vector<std::unique_ptr<Peer>> &sims, int count, int processes, int delayMs)
{
    sims.clear();
    const int per = (count + processes - 1) / processes;
    for (int p = 0; p * per < count; ++p) {
        QStringList args {simulatorPath(), "--bind", "0.0.0.0", "--discovery-port", p == 0 ? "6038" : "0",
                          "--tftp-port", "69", "--quiet", "--delay", QString::number(delayMs)};
        for (int i = p * per; i < std::min(count, (p + 1) * per); ++i)
            args << "--controller" << QStringLiteral("ip=%1,id=Ostrel Hub,verstring=SFT-OH 2.1,rev=33,sn=%2")
                                          .arg(fleetAddress(i)).arg(100 + i);
        if (p == 0 && per < count) {
            // Discovery replies for the controllers the other processes write to.
            auto discovery = std::make_unique<Peer>();
            QStringList all {simulatorPath(), "--bind", "0.0.0.0", "--discovery-port", "6038", "--no-tftp",
                             "--quiet", "--count", QString::number(count), "--controller",
                             QStringLiteral("ip=%1,id=Ostrel Hub,verstring=SFT-OH 2.1,rev=33,sn=100").arg(fleetAddress(0))};
            if (!discovery->start(all))
                return false;
            sims.push_back(std::move(discovery));
            args[4] = QStringLiteral("0");
        }
        auto sim = std::make_unique<Peer>();
        if (!sim->start(args))
            return false;
        sims.push_back(std::move(sim));
    }
    return true;
}

// The limits a fleet run is timed at: the default first, then the others
// asked for, each once.
QList<int> fleetLimits(const QList<int> &others)
{
    QList<int> limits{FleetWriter::kDefaultConcurrency};
    for (int limit : others) {
        if (limit > 0 && !limits.contains(limit))
            limits.append(limit);
    }
    return limits;
}

void benchFleet(const QString &file, int processes, int delayMs, const QList<int> &limits)
{
    std::printf("\n4. Program all: 1 MiB (%s, %lld bytes) to 1, 10 and 50 controllers, %d simulator "
                "process(es), %s\n", qPrintable(QFileInfo(file).fileName()), QFile(file).size(), processes,
                delayMs > 0 ? qPrintable(QStringLiteral("each answer held back %1 ms as a controller's own "
                                                        "turnaround").arg(delayMs))
                            : "answers at once");
    static bool added = false;
    for (int i = 0; i < 50 && !added; ++i)
        if (!g_netns->addPeerAddress(fleetAddress(i))) {
            std::printf("  could not add %s to the controllers' side\n", qPrintable(fleetAddress(i)));
            return;
        }
    added = true;
    const QString loadBefore = loadAverage();
    BenchWindow w(file, true, 500);
    tftpInterfaceControl *panel = w.panel;
    QPushButton *program = w.program;
    auto *list = panel->findChild<QComboBox *>(QStringLiteral("m_comboBox_TFTPDevicesDiscovered"));
    auto *all = panel->findChild<QCheckBox *>(QStringLiteral("m_checkBox_tftpProgramAll"));

    // Discovers count controllers; false when they are not all listed.
    auto discover = [&](int count) {
        panel->findChild<QPushButton *>(QStringLiteral("m_pushButton_TFTPDiscover"))->click();
        return QTest::qWaitFor([&] { return program->isEnabled(); }, 15000) && list->count() == count;
    };

    // The single write, through the same window and panel.
    double single = 0;
    {
        std::vector<std::unique_ptr<Peer>> sims;
        if (!startFleet(sims, 1, 1, delayMs) || !discover(1)) {
            std::printf("  single write: no controller offered\n");
            return;
        }
        QSignalSpy complete(panel, &tftpInterfaceControl::signal_programComplete);
        StallMeter stall;
        const CpuTimes before = CpuTimes::now();
        QElapsedTimer clock;
        clock.start();
        program->click();
        const bool done = complete.wait(120000);
        single = clock.nsecsElapsed() / 1e6;
        const double gap = stall.longestMs();
        sims.clear();
        const CpuTimes after = CpuTimes::now();
        std::printf("  single write:             %8.1f ms%s; longest event-loop gap %5.1f ms; CPU updater %.2f s, "
                    "simulator %.2f s\n",
                    single, done ? "" : " (FAILED)", gap, after.self - before.self, after.children - before.children);
    }

    for (int limit : limits) {
        for (int count : {1, 10, 50}) {
            std::vector<std::unique_ptr<Peer>> sims;
            if (!startFleet(sims, count, std::min(processes, count), delayMs) || !discover(count)) {
                std::printf("  %2d controllers: not all discovered (%d listed)\n", count, int(list->count()));
                continue;
            }
            panel->setFleetConcurrency(limit);
            all->setChecked(true);
            QSignalSpy complete(panel, &tftpInterfaceControl::signal_programComplete);
            StallMeter stall;
            const CpuTimes before = CpuTimes::now();
            QElapsedTimer clock;
            clock.start();
            panel->programAll(file, true);
            const bool done = complete.wait(300000);
            const double total = clock.nsecsElapsed() / 1e6;
            const double gap = stall.longestMs();
            int updated = 0;
            for (const ControllerWriteOutcome &o : panel->fleetOutcomes())
                updated += o.updated() ? 1 : 0;
            int written = 0;
            for (auto &sim : sims)
                written += int(sim->output().count("WRITTEN"));
            sims.clear();
            const CpuTimes after = CpuTimes::now();
            std::printf("  limit %2d%s, %2d controllers: %8.1f ms (%5.2f x single, %5.1f ms each); %d updated, %d "
                        "written; longest event-loop gap %5.1f ms; CPU updater %.2f s, simulator %.2f s%s\n",
                        limit, limit == FleetWriter::kDefaultConcurrency ? " (default)" : "", count, total,
                        total / single, total / count, updated, written, gap,
                        after.self - before.self, after.children - before.children, done ? "" : " (NOT FINISHED)");
            all->setChecked(false);
        }
    }
    std::printf("  goal: 50 controllers in at most 3 x the single write, no event-loop gap over 50 ms\n");
    std::printf("  %d processor(s); load average before and after: %s / %s\n", QThread::idealThreadCount(),
                qPrintable(loadBefore), qPrintable(loadAverage()));
}

} // namespace

int main(int argc, char *argv[])
{
    NetnsPair netns;
    if (!netns.enterLocal()) {
        std::fprintf(stderr, "bench_ethernet: %s\n", qPrintable(netns.error()));
        return 1;
    }
    g_netns = &netns;
    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? QByteArray("offscreen") : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    QTemporaryDir dir;
    const QString raw = dir.filePath(QStringLiteral("image-1MiB.bin"));
    {
        QFile out(raw);
        out.open(QIODevice::WriteOnly);
        QByteArray data(1024 * 1024, '\0');
        for (int i = 0; i < data.size(); ++i)
            data[i] = char((i * 2654435761u) >> 24);
        out.write(data);
    }
    const QString hex = dir.filePath(QStringLiteral("ostrel-hub-1MiB.hex"));
    {
        QFile out(hex);
        out.open(QIODevice::WriteOnly);
        out.write(ostrelHubFile(1024 * 1024));
    }
    std::printf("Ethernet benchmarks in namespaces %s / %s (veth %s <-> %s)\n", qPrintable(netns.localNamespace()),
                qPrintable(netns.peerNamespace()), NetnsPair::kLocalAddress, NetnsPair::kPeerAddress);
    QStringList parts;
    int processes = 1;
    int delayMs = 1;
    // The limits compared with the default: --limits=8,50 (the default's rows come first).
    QList<int> otherLimits{8, 50};
    for (const QString &arg : app.arguments().mid(1)) {
        if (arg.startsWith(QLatin1String("--simulators=")))
            processes = std::max(1, arg.section(QLatin1Char('='), 1).toInt());
        else if (arg.startsWith(QLatin1String("--delay=")))
            delayMs = std::max(0, arg.section(QLatin1Char('='), 1).toInt());
        else if (arg.startsWith(QLatin1String("--limits="))) {
            otherLimits.clear();
            for (const QString &limit : arg.section(QLatin1Char('='), 1).split(QLatin1Char(','), Qt::SkipEmptyParts))
                otherLimits.append(limit.toInt());
        }
        else
            parts.append(arg);
    }
    auto wanted = [&](const char *part) { return parts.isEmpty() || parts.contains(QLatin1String(part)); };
    if (wanted("write"))
        benchWrite(raw, 15);
    if (wanted("burst"))
        benchBurst();
    if (wanted("stall"))
        benchStall(hex);
    if (wanted("fleet")) {
        const QList<int> limits = fleetLimits(otherLimits);
        benchFleet(hex, processes, 0, limits);
        if (delayMs > 0)
            benchFleet(hex, processes, delayMs, limits);
    }
    return 0;
}
