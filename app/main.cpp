#include "app/AppServices.h"
#include "app/CommandLine.h"
#include "app/DeviceEnvironment.h"
#include "app/ExitCode.h"
#include "app/TerminationWatcher.h"
#include "app/UnattendedResult.h"
#include "app/ZelBootLoader.h"

#include <QApplication>

#include <cstdio>
#include <memory>

namespace {

// The run itself comes with the verified device flows of each interface.
constexpr bool kUnattendedRunAvailable = false;

void printTo(FILE *stream, const QString &text)
{
    std::fputs(text.toLocal8Bit().constData(), stream);
    std::fflush(stream);
}

// Answers --help and refuses bad options of the unattended run before any
// window exists, so both work without a display. Returns the exit code, or
// -1 when the updater should start.
int answerWithoutWindow(int argc, char *argv[])
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    const StartOptions options = parseCommandLine(arguments);
    if (options.help) {
        printTo(stdout, commandLineHelp());
        if (!kUnattendedRunAvailable)
            printTo(stdout, QStringLiteral("\nUnattended runs (-firmware=) are not available in "
                                           "this build yet.\n"));
        return 0;
    }

    UnattendedResult result;
    result.exitCode = ExitCode::BadOptionsOrImageRefused;
    result.allowedQuestions = options.allowedQuestions;
    if (!options.errors.isEmpty()) {
        result.message = options.errors.join(QStringLiteral("; "));
        for (const QString &error : options.errors)
            printTo(stderr, QStringLiteral("zel-updater: %1\n").arg(error));
        printTo(stderr, QStringLiteral("Try 'zel-updater --help' for the options.\n"));
    } else if (options.unattended() && !kUnattendedRunAvailable) {
        result.message = QStringLiteral("unattended runs (-firmware=) are not available in this "
                                        "build yet; start without -firmware= and select the image "
                                        "in the window");
        printTo(stderr, QStringLiteral("zel-updater: %1\n").arg(result.message));
    } else {
        return -1;
    }
    QString error;
    if (!options.resultPath.isEmpty() && !result.write(options.resultPath, &error))
        printTo(stderr, QStringLiteral("zel-updater: cannot write %1: %2\n")
                            .arg(options.resultPath, error));
    return static_cast<int>(result.exitCode);
}

} // namespace

int main(int argc, char *argv[])
{
    if (const int code = answerWithoutWindow(argc, argv); code >= 0)
        return code;

    QApplication app(argc, argv);
    // Watching from the start: a request that arrives while the window is
    // being built is acted on at the first event loop, a start-up message
    // box's included.
    TerminationWatcher watcher;
    const StartOptions options = parseCommandLine(QCoreApplication::arguments());

    DeviceEnvironment::SimulationOptions simulation;
    simulation.keepRevision = options.simulateKeepRevision;
    simulation.noReturn = options.simulateNoReturn;
    const std::unique_ptr<DeviceEnvironment> devices =
        DeviceEnvironment::create(options.simulate, simulation);
    if (options.verifyWaitSeconds >= 0)
        devices->setVerifyWaitMs(options.verifyWaitSeconds * 1000);
    AppServices services;
    services.devices = devices.get();

    std::unique_ptr<ZelBootLoader> window;
    // Ended from outside, the window still closes and writes its log. Every
    // event loop is left, a message box's too, so a box nobody will answer
    // (at start-up, or later) cannot keep the process alive; a box opened
    // after that returns at once until the main loop would run again.
    QObject::connect(&watcher, &TerminationWatcher::terminationRequested, &app, [&window] {
        if (window)
            window->close();
        QCoreApplication::exit(0);
    });

    window = std::make_unique<ZelBootLoader>(options.interfaceIndex, options.deviceType,
                                             options.deviceAddress, options.autoConnect, services);
    int result = 0;
    if (!watcher.requested()) {
        window->show();
        QObject::connect(&app, &QApplication::lastWindowClosed, &app, &QCoreApplication::quit);
        result = app.exec();
    }
    // The window writes the shutdown log as it goes, and its panels still use
    // the device layers while they are torn down.
    window.reset();
    return result;
}
