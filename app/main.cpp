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
    // being built waits in the event queue.
    TerminationWatcher watcher;
    const StartOptions options = parseCommandLine(QCoreApplication::arguments());

    const std::unique_ptr<DeviceEnvironment> devices = DeviceEnvironment::create(options.simulate);
    AppServices services;
    services.devices = devices.get();

    auto window = std::make_unique<ZelBootLoader>(options.interfaceIndex, options.deviceType,
                                                  options.deviceAddress, options.autoConnect,
                                                  services);
    window->show();
    QObject::connect(&app, &QApplication::lastWindowClosed, &app, &QCoreApplication::quit);
    // Ended from outside, the window still closes and writes its log.
    QObject::connect(&watcher, &TerminationWatcher::terminationRequested, window.get(),
                     &QWidget::close);
    const int result = app.exec();
    // The window writes the shutdown log as it goes, and its panels still use
    // the device layers while they are torn down.
    window.reset();
    return result;
}
