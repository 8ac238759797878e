#include "app/AppServices.h"
#include "app/CommandLine.h"
#include "app/DeviceEnvironment.h"
#include "app/ExitCode.h"
#include "app/PlatformNoiseFilter.h"
#include "app/TerminationWatcher.h"
#include "app/UnattendedPrompter.h"
#include "app/UnattendedResult.h"
#include "app/UnattendedRun.h"
#include "app/ZelBootLoader.h"
#include "base/QtPrompter.h"

#include <QApplication>

#include <cstdio>
#include <memory>

namespace {

void printTo(FILE *stream, const QString &text)
{
    std::fputs(text.toLocal8Bit().constData(), stream);
    std::fflush(stream);
}

bool runsUnattended(int argc, char *argv[])
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    return parseCommandLine(arguments).unattended();
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
        return 0;
    }

    UnattendedResult result;
    result.exitCode = ExitCode::BadOptionsOrImageRefused;
    result.allowedQuestions = options.allowedQuestions;
    // What the options did say of the device and the image.
    result.known = UnattendedRun::knownFromOptions(options);
    if (!options.errors.isEmpty()) {
        result.message = options.errors.join(QStringLiteral("; "));
        for (const QString &error : options.errors)
            printTo(stderr, QStringLiteral("zel-updater: %1\n").arg(error));
        printTo(stderr, QStringLiteral("Try 'zel-updater --help' for the options.\n"));
    } else if (options.unattended() && !options.resultPath.isEmpty()) {
        // Found only at the end, after the device was written, the run's
        // result would be lost: the path is tried before anything is sent.
        QString why;
        if (UnattendedResult::canWrite(options.resultPath, &why))
            return -1;
        printTo(stderr, QStringLiteral("zel-updater: -result=%1 cannot be written: %2\n"
                                       "zel-updater: nothing was sent; exit code %3 (%4)\n")
                            .arg(options.resultPath, why)
                            .arg(static_cast<int>(result.exitCode))
                            .arg(exitCodeMeaning(result.exitCode)));
        return static_cast<int>(result.exitCode);
    } else {
        return -1;
    }
    QString error;
    if (!options.resultPath.isEmpty() && !result.write(options.resultPath, &error))
        printTo(stderr, QStringLiteral("zel-updater: cannot write %1: %2\n")
                            .arg(options.resultPath, error));
    return static_cast<int>(result.exitCode);
}

// The end of an unattended run: the result file for the script that
// started it, and one line on the standard output for the one reading along.
int endUnattended(const UnattendedRun &run, const StartOptions &options)
{
    const UnattendedResult &result = run.result();
    const int code = static_cast<int>(result.exitCode);
    printTo(stdout, QStringLiteral("zel-updater: exit code %1 (%2): %3\n")
                        .arg(code)
                        .arg(exitCodeMeaning(result.exitCode), result.message));
    for (const QString &why : result.recordErrors)
        printTo(stderr, QStringLiteral("zel-updater: the update record could not be written: %1\n").arg(why));
    QString error;
    if (!options.resultPath.isEmpty() && !result.write(options.resultPath, &error))
        printTo(stderr, QStringLiteral("zel-updater: cannot write %1: %2\n")
                            .arg(options.resultPath, error));
    return code;
}

} // namespace

int main(int argc, char *argv[])
{
    if (const int code = answerWithoutWindow(argc, argv); code >= 0)
        return code;
    const bool unattended = runsUnattended(argc, argv);
    // A production line's run has no display to open: it runs off-screen
    // rather than failing to start.
    if (unattended && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")
        && qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // Its error output is the run's own: what the platform lacks is no news there.
    if (unattended)
        PlatformNoiseFilter::install();

    QApplication app(argc, argv);
    // Ties the window to the menu entry and its icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("lighting.zel.FirmwareUpdater"));
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
    services.trustedKeyPaths = options.trustedKeyPaths;
    services.cataloguePath = options.cataloguePath;
    // Without an operator nobody answers a box: the run's own rules do.
    QtPrompter progressDialogs;
    std::unique_ptr<UnattendedPrompter> unattendedPrompter;
    if (options.unattended()) {
        unattendedPrompter = std::make_unique<UnattendedPrompter>(
            options.firmwarePath, options.allowedQuestions, progressDialogs);
        services.prompter = unattendedPrompter.get();
    }

    std::unique_ptr<ZelBootLoader> window;
    // Ended from outside, the window still closes and writes its log. Every
    // event loop is left, a message box's too, so a box nobody will answer
    // (at start-up, or later) cannot keep the process alive; a box opened
    // after that returns at once until the main loop would run again.
    QObject::connect(&watcher, &TerminationWatcher::terminationRequested, &app, [&window] {
        if (window) {
            // Asked from outside, nobody is there to answer whether to stop an update.
            window->setAskBeforeClosingRun(false);
            window->close();
        }
        QCoreApplication::exit(0);
    });

    window = std::make_unique<ZelBootLoader>(options.interfaceIndex, options.deviceType,
                                             options.deviceAddress, options.autoConnect, services);
    std::unique_ptr<UnattendedRun> run;
    int result = 0;
    if (unattendedPrompter)
        window->setAskBeforeClosingRun(false);
    if (!watcher.requested()) {
        window->show();
        if (unattendedPrompter) {
            run = std::make_unique<UnattendedRun>(*window, options, *unattendedPrompter);
            QObject::connect(run.get(), &UnattendedRun::finished, &app,
                             [](int code) { QCoreApplication::exit(code); });
            run->start();
        } else {
            QObject::connect(&app, &QApplication::lastWindowClosed, &app, &QCoreApplication::quit);
        }
        result = app.exec();
    }
    if (unattendedPrompter) {
        if (!run) {
            run = std::make_unique<UnattendedRun>(*window, options, *unattendedPrompter);
            run->abandon(QStringLiteral("The updater was ended before the run started."));
        } else if (!run->isFinished()) {
            run->abandon(QStringLiteral("The updater was ended during the run."));
        }
        result = endUnattended(*run, options);
    }
    // The window writes the shutdown log as it goes, and its panels still use
    // the device layers while they are torn down.
    window.reset();
    return result;
}
