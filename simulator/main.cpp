// zel-controller-sim: plays Ethernet controllers for the updater's tests,
// benchmarks and demonstrations. See the README's "Controller simulator".
#include "simulator/ControllerSimulator.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QHostAddress>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <mutex>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int g_signalPipe[2] = {-1, -1};

void onSignal(int)
{
    const char c = 1;
    [[maybe_unused]] const ssize_t n = ::write(g_signalPipe[1], &c, 1);
}

std::mutex g_outputMutex;

void say(const QString &line)
{
    std::lock_guard<std::mutex> lock(g_outputMutex);
    std::fprintf(stdout, "%s\n", qPrintable(line));
    std::fflush(stdout);
}

bool parseIp(const QString &text, quint32 &ip)
{
    QHostAddress address;
    if (!address.setAddress(text) || address.protocol() != QAbstractSocket::IPv4Protocol)
        return false;
    ip = address.toIPv4Address();
    return true;
}

// "ip=198.51.100.1,id=Ostrel Hub,verstring=SFT-OH 1.0,rev=12,sn=1001,uni=0", and
// this controller's own faults, which start from the global ones:
// "drop-in=1" (hears nothing), "drop-out=N", "delay=MS", "other-port=1".
bool parseController(const QString &fields, const ControllerSimulator::Faults &global,
                     ControllerSimulator::Controller &c, QString &error)
{
    auto own = [&]() -> ControllerSimulator::Faults & {
        if (!c.faults)
            c.faults = global;
        return *c.faults;
    };
    for (const QString &pair : fields.split(QLatin1Char(','))) {
        const int eq = pair.indexOf(QLatin1Char('='));
        const QString key = pair.left(eq).trimmed();
        const QString value = eq < 0 ? QString() : pair.mid(eq + 1);
        bool ok = true;
        if (key == QLatin1String("ip"))
            ok = parseIp(value, c.ip);
        else if (key == QLatin1String("id"))
            c.idstring = value.toLatin1();
        else if (key == QLatin1String("verstring"))
            c.verstring = value.toLatin1();
        else if (key == QLatin1String("rev"))
            c.revision = value.toUInt(&ok, 0);
        else if (key == QLatin1String("sn"))
            c.sn = value.toUInt(&ok, 0);
        else if (key == QLatin1String("uni"))
            c.uni = value.toUInt(&ok, 0);
        else if (key == QLatin1String("drop-in"))
            own().dropIn = value.toInt(&ok);
        else if (key == QLatin1String("drop-out"))
            own().dropOut = value.toInt(&ok);
        else if (key == QLatin1String("delay"))
            own().delayMs = value.toInt(&ok);
        else if (key == QLatin1String("other-port"))
            own().answerFromOtherPort = value.toInt(&ok) != 0;
        else
            ok = false;
        if (!ok) {
            error = QStringLiteral("bad controller field \"%1\"").arg(pair);
            return false;
        }
    }
    if (c.ip == 0) {
        error = QStringLiteral("controller without ip=");
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("zel-controller-sim"));
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Plays Ethernet controllers: discovery replies, TFTP \"info\" reads and \"firmware\" writes."));
    parser.addHelpOption();
    const QCommandLineOption bind({QStringLiteral("bind")}, QStringLiteral("Address of the discovery socket."), QStringLiteral("addr"), QStringLiteral("0.0.0.0"));
    const QCommandLineOption discoveryPort({QStringLiteral("discovery-port")}, QStringLiteral("Discovery UDP port (0: any free one)."), QStringLiteral("port"), QStringLiteral("6038"));
    const QCommandLineOption tftpPort({QStringLiteral("tftp-port")}, QStringLiteral("TFTP port of every controller (0: one free port)."), QStringLiteral("port"), QStringLiteral("69"));
    const QCommandLineOption controller({QStringLiteral("controller")}, QStringLiteral("One controller: ip=,id=,verstring=,rev=,sn=,uni=, and its own faults "
                                                                             "drop-in=,drop-out=,delay=,other-port=1 (repeatable)."), QStringLiteral("fields"));
    const QCommandLineOption count({QStringLiteral("count")}, QStringLiteral("Repeat the last controller N times at consecutive addresses and serial numbers."), QStringLiteral("n"), QStringLiteral("1"));
    const QCommandLineOption noTftp({QStringLiteral("no-tftp")}, QStringLiteral("Discovery only; controller addresses need not exist here."));
    const QCommandLineOption versionOffset({QStringLiteral("version-offset")}, QStringLiteral("Byte offset of the version word in a written image."), QStringLiteral("offset"), QStringLiteral("0x3FF04"));
    const QCommandLineOption dropIn({QStringLiteral("drop-in")}, QStringLiteral("Drop every Nth TFTP packet received."), QStringLiteral("n"), QStringLiteral("0"));
    const QCommandLineOption dropOut({QStringLiteral("drop-out")}, QStringLiteral("Drop every Nth TFTP packet sent."), QStringLiteral("n"), QStringLiteral("0"));
    const QCommandLineOption dupIn({QStringLiteral("dup-in")}, QStringLiteral("Handle the Nth TFTP packet received twice."), QStringLiteral("n"), QStringLiteral("0"));
    const QCommandLineOption dupOut({QStringLiteral("dup-out")}, QStringLiteral("Send the Nth TFTP packet twice."), QStringLiteral("n"), QStringLiteral("0"));
    const QCommandLineOption delay({QStringLiteral("delay")}, QStringLiteral("Hold every TFTP answer back by this many ms."), QStringLiteral("ms"), QStringLiteral("0"));
    const QCommandLineOption otherPort({QStringLiteral("answer-from-other-port")}, QStringLiteral("Send TFTP answers from a second port."));
    const QCommandLineOption buttonOpt({QStringLiteral("button")}, QStringLiteral("Follow each discovery reply with a button datagram SHOW:BUTTON."), QStringLiteral("show:button"));
    const QCommandLineOption announceOpt({QStringLiteral("announce")}, QStringLiteral("Send announce datagrams to HOST:PORT."), QStringLiteral("host:port"));
    const QCommandLineOption announceEvery({QStringLiteral("announce-interval")}, QStringLiteral("Repeat the announces every ms (0: once)."), QStringLiteral("ms"), QStringLiteral("0"));
    const QCommandLineOption store({QStringLiteral("store")}, QStringLiteral("Write each complete image to DIR/<ip>.firmware."), QStringLiteral("dir"));
    const QCommandLineOption quiet({QStringLiteral("quiet")}, QStringLiteral("Print only the READY line and completed writes."));
    parser.addOptions({bind, discoveryPort, tftpPort, controller, count, noTftp, versionOffset, dropIn,
                       dropOut, dupIn, dupOut, delay, otherPort, buttonOpt, announceOpt, announceEvery,
                       store, quiet});
    parser.process(app);

    auto fail = [](const QString &why) {
        std::fprintf(stderr, "zel-controller-sim: %s\n", qPrintable(why));
        return 2;
    };

    ControllerSimulator::Options options;
    options.bindAddress = parser.value(bind);
    options.discoveryPort = parser.value(discoveryPort).toInt();
    options.tftpPort = parser.value(tftpPort).toInt();
    options.tftp = !parser.isSet(noTftp);
    options.versionOffset = parser.value(versionOffset).toUInt(nullptr, 0);
    options.faults.dropIn = parser.value(dropIn).toInt();
    options.faults.dropOut = parser.value(dropOut).toInt();
    options.faults.dupIn = parser.value(dupIn).toInt();
    options.faults.dupOut = parser.value(dupOut).toInt();
    options.faults.delayMs = parser.value(delay).toInt();
    options.faults.answerFromOtherPort = parser.isSet(otherPort);
    if (parser.isSet(buttonOpt)) {
        const QStringList parts = parser.value(buttonOpt).split(QLatin1Char(':'));
        options.buttonShow = parts.value(0).toInt();
        options.buttonNumber = parts.value(1).toInt();
    }
    if (parser.isSet(announceOpt)) {
        const QStringList parts = parser.value(announceOpt).split(QLatin1Char(':'));
        options.announceHost = parts.value(0);
        options.announcePort = parts.value(1).toInt();
        options.announceIntervalMs = parser.value(announceEvery).toInt();
    }

    QList<ControllerSimulator::Controller> controllers;
    for (const QString &fields : parser.values(controller)) {
        ControllerSimulator::Controller c;
        QString error;
        if (!parseController(fields, options.faults, c, error))
            return fail(error);
        controllers.append(c);
    }
    if (controllers.isEmpty())
        return fail(QStringLiteral("no --controller given"));
    for (int i = 1; i < parser.value(count).toInt(); ++i) {
        ControllerSimulator::Controller c = controllers.last();
        ++c.ip;
        ++c.sn;
        controllers.append(c);
    }

    ControllerSimulator simulator(options);
    for (const auto &c : std::as_const(controllers))
        simulator.addController(c);
    const bool verbose = !parser.isSet(quiet);
    if (verbose)
        simulator.setEventLog(say);
    const QString storeDir = parser.value(store);
    simulator.setWriteDone([storeDir](quint32 ip, quint32 revision, const QByteArray &image) {
        const QString address = QHostAddress(ip).toString();
        if (!storeDir.isEmpty()) {
            // Written under another name first, so a reader never sees half a file.
            QFile file(QDir(storeDir).filePath(address + QStringLiteral(".firmware.part")));
            if (file.open(QIODevice::WriteOnly) && file.write(image) == image.size()) {
                file.close();
                const QString final = QDir(storeDir).filePath(address + QStringLiteral(".firmware"));
                QFile::remove(final);
                file.rename(final);
            }
        }
        say(QStringLiteral("WRITTEN %1 %2 %3").arg(address).arg(image.size()).arg(revision));
    });

    if (::pipe(g_signalPipe) != 0)
        return fail(QStringLiteral("pipe failed"));
    std::signal(SIGTERM, onSignal);
    std::signal(SIGINT, onSignal);
    QSocketNotifier notifier(g_signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&notifier, &QSocketNotifier::activated, &app, &QCoreApplication::quit);

    if (!simulator.start())
        return fail(simulator.errorString());
    say(QStringLiteral("READY discovery=%1:%2 tftp=%3 controllers=%4")
            .arg(options.bindAddress)
            .arg(simulator.discoveryPort())
            .arg(simulator.tftpPort())
            .arg(controllers.size()));
    const int result = app.exec();
    simulator.stop();
    // What each controller heard, for tests that check which transfers overlapped.
    for (const auto &c : simulator.controllers())
        if (c.packetsIn > 0)
            say(QStringLiteral("TRAFFIC %1 packets=%2 first=%3 last=%4")
                    .arg(QHostAddress(c.ip).toString())
                    .arg(c.packetsIn)
                    .arg(c.firstPacketUs)
                    .arg(c.lastPacketUs));
    return result;
}
