#include "app/AppServices.h"
#include "app/CommandLine.h"
#include "app/DeviceEnvironment.h"
#include "app/ZelBootLoader.h"

#include <QApplication>

#include <memory>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const StartOptions options = parseCommandLine(QCoreApplication::arguments());

    const std::unique_ptr<DeviceEnvironment> devices = DeviceEnvironment::create(options.simulate);
    AppServices services;
    services.devices = devices.get();

    auto window = std::make_unique<ZelBootLoader>(options.interfaceIndex, options.deviceType,
                                                  options.deviceAddress, options.autoConnect,
                                                  services);
    window->show();
    QObject::connect(&app, &QApplication::lastWindowClosed, &app, &QCoreApplication::quit);
    const int result = app.exec();
    // The window writes the shutdown log as it goes, and its panels still use
    // the device layers while they are torn down.
    window.reset();
    return result;
}
