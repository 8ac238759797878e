#include "app/AppServices.h"
#include "app/CommandLine.h"
#include "app/DeviceEnvironment.h"
#include "app/TerminationWatcher.h"
#include "app/ZelBootLoader.h"

#include <QApplication>

#include <memory>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    // Watching from the start: a request that arrives while the window is
    // being built is acted on at the first event loop, a start-up message
    // box's included.
    TerminationWatcher watcher;
    const StartOptions options = parseCommandLine(QCoreApplication::arguments());

    const std::unique_ptr<DeviceEnvironment> devices = DeviceEnvironment::create(options.simulate);
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
