#include "app/DeviceEnvironment.h"

#include "dmx/Hollis.h"
#include "dmx/HollisNotPresent.h"
#include "dmx/SimulatedHollis.h"
#include "ethernet/SimulatedTarvo.h"
#include "ethernet/TarvoNotPresent.h"
#include "usb/HidapiBackend.h"
#include "usb/QtSerialPorts.h"
#include "usb/SimulatedSr3Usb.h"
#include "usb/SimulatedVireoPlayer.h"
#include "usb/Sr3UsbNotPresent.h"

namespace {

// The simulated Vireo Player takes about as long as a real one to reboot
// into its boot loader and to restart after a download (well inside the
// updater's waits of 4.9 s and 5 s).
constexpr int kSimulatedRebootMs = 1500;
constexpr int kSimulatedRestartMs = 2500;

} // namespace

std::unique_ptr<DeviceEnvironment> DeviceEnvironment::create(bool simulate)
{
    std::unique_ptr<DeviceEnvironment> env(new DeviceEnvironment);
    env->m_simulated = simulate;
    if (simulate) {
        env->m_sr3 = std::make_unique<SimulatedSr3Usb>();
        env->m_tarvo = std::make_unique<SimulatedTarvo>();
        env->m_hollis = std::make_unique<ZelHollis::Hollis>(
            std::make_unique<ZelHollis::SimulatedHollis>());
        env->m_vireo = std::make_unique<SimulatedVireoPlayer>();
        env->m_vireo->setDelays(kSimulatedRebootMs, kSimulatedRestartMs);
        env->m_vireo->setStatusFrames(true);
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

DeviceEnvironment::~DeviceEnvironment() = default;
