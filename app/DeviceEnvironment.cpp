#include "app/DeviceEnvironment.h"

#include "dmx/Hollis.h"
#include "dmx/HollisNotPresent.h"
#include "dmx/SimulatedHollis.h"
#include "ethernet/SimulatedTarvo.h"
#include "ethernet/TarvoNotPresent.h"
#include "simulator/ControllerSimulator.h"
#include "usb/HidapiBackend.h"
#include "usb/QtSerialPorts.h"
#include "usb/SimulatedSr3Usb.h"
#include "usb/SimulatedVireoPlayer.h"
#include "usb/Sr3UsbNotPresent.h"

#include <QMetaObject>
#include <QPointer>
#include <QtDebug>

namespace {

// The simulated Vireo Player takes about as long as a real one to reboot
// into its boot loader and to restart after a download (well inside the
// updater's waits of 4.9 s and 5 s).
constexpr int kSimulatedRebootMs = 1500;
constexpr int kSimulatedRestartMs = 2500;

// One controller of each sample type on loopback addresses; the Brisa Quad
// is the one the simulated controller-value library answers for.
std::unique_ptr<ControllerSimulator> startSimulatedControllers(EthernetSettings &settings,
                                                               SimulatedTarvo &tarvo,
                                                               const DeviceEnvironment::SimulationOptions &simulation)
{
    struct Demo {
        quint32 ip;
        const char *id;
        const char *verstring;
        quint32 revision;
    };
    static const Demo demo[] = {
        {SimulatedTarvo::kDefaultAddress, "Brisa Quad", "SFT-BQ 1.0", SimulatedTarvo::kDefaultRevision},
        {0x7F000003, "Ostrel Hub", "SFT-OH 2.1", 33},
        {0x7F000004, "Ostrel Hub", "SFT-OH 2.0", 32},
        {0x7F000005, "Marlow White", "Marlow SFT-MW 1.7", 7},
        {0x7F000006, "Marlow Mk3", "Marlow SFT-MK3 3.3", 3},
        {0x7F000007, "Corvid Node", "SFT-CN 4.0", 40},
    };
    ControllerSimulator::Options options;
    options.bindAddress = QStringLiteral("127.0.0.1");
    options.discoveryPort = 0;
    options.tftpPort = 0; // above 1023: no root needed
    options.keepRevision = simulation.keepRevision;
    options.noReturn = simulation.noReturn;
    auto simulator = std::make_unique<ControllerSimulator>(options);
    for (const Demo &d : demo) {
        ControllerSimulator::Controller c;
        c.ip = d.ip;
        c.idstring = d.id;
        c.verstring = d.verstring;
        c.sn = 0x1000 + (d.ip & 0xFF);
        c.revision = d.revision;
        simulator->addController(c);
        tarvo.setValue(d.ip, TarvoLibrary::kFirmwareRevision, d.revision);
    }
    // Written controllers report their new revision through the library too;
    // one that never comes back stops answering there as well.
    QPointer<SimulatedTarvo> target(&tarvo);
    const bool noReturn = simulation.noReturn;
    simulator->setWriteDone([target, noReturn](quint32 ip, quint32 revision, const QByteArray &) {
        QMetaObject::invokeMethod(target.data(), [target, ip, revision, noReturn] {
            if (!target)
                return;
            if (noReturn)
                target->removeController(ip);
            else
                target->setValue(ip, TarvoLibrary::kFirmwareRevision, revision);
        }, Qt::QueuedConnection);
    });
    if (!simulator->start()) {
        qWarning("Simulated Ethernet controllers could not start: %s", qPrintable(simulator->errorString()));
        return nullptr;
    }
    settings.discoveryDestination = QStringLiteral("127.0.0.1");
    settings.discoveryPortOverride = simulator->discoveryPort();
    settings.tftpPort = simulator->tftpPort();
    settings.announcePort = 0;
    // Simulated controllers restart at once after taking an image.
    settings.verifySettleMs = 200;
    return simulator;
}

} // namespace

std::unique_ptr<DeviceEnvironment> DeviceEnvironment::create(bool simulate)
{
    return create(simulate, SimulationOptions());
}

std::unique_ptr<DeviceEnvironment> DeviceEnvironment::create(bool simulate,
                                                             const SimulationOptions &simulation)
{
    std::unique_ptr<DeviceEnvironment> env(new DeviceEnvironment);
    env->m_simulated = simulate;
    env->m_simulation = simulate ? simulation : SimulationOptions();
    if (simulate) {
        auto sr3 = std::make_unique<SimulatedSr3Usb>();
        sr3->setKeepRevision(env->m_simulation.keepRevision);
        sr3->setNoReturn(env->m_simulation.noReturn);
        env->m_sr3 = std::move(sr3);
        auto tarvo = std::make_unique<SimulatedTarvo>();
        env->m_controllers = startSimulatedControllers(env->m_ethernet, *tarvo, env->m_simulation);
        env->m_tarvo = std::move(tarvo);
        auto hollis = std::make_unique<ZelHollis::SimulatedHollis>();
        hollis->setKeepRevision(env->m_simulation.keepRevision);
        hollis->setNoReturn(env->m_simulation.noReturn);
        env->m_hollis = std::make_unique<ZelHollis::Hollis>(std::move(hollis));
        env->m_vireo = std::make_unique<SimulatedVireoPlayer>();
        env->m_vireo->setDelays(kSimulatedRebootMs, kSimulatedRestartMs);
        env->m_vireo->setStatusFrames(true);
        env->m_vireo->setKeepRevision(env->m_simulation.keepRevision);
        env->m_vireo->setNoReturn(env->m_simulation.noReturn);
        env->m_serialPorts = &env->m_vireo->serialPorts();
        env->m_hid = &env->m_vireo->hid();
    } else {
        env->m_sr3 = std::make_unique<Sr3UsbNotPresent>();
        env->m_tarvo = std::make_unique<TarvoNotPresent>();
        env->m_hollis = std::make_unique<ZelHollis::Hollis>(
            std::make_unique<ZelHollis::HollisNotPresent>());
        env->m_ownSerialPorts = std::make_unique<QtSerialPorts>();
        env->m_ownHid = std::make_unique<HidapiBackend>();
        env->m_serialPorts = env->m_ownSerialPorts.get();
        env->m_hid = env->m_ownHid.get();
    }
    // The fixture boot-load steps reach the library through the process-wide instance.
    ZelHollis::Hollis::setInstance(env->m_hollis.get());
    return env;
}

DeviceEnvironment::~DeviceEnvironment()
{
    // Its write callback reaches the simulated library: it stops first.
    m_controllers.reset();
}
