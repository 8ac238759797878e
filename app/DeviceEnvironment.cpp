#include "app/DeviceEnvironment.h"

#include "dmx/Hollis.h"
#include "dmx/HollisNotPresent.h"
#include "dmx/SimulatedHollis.h"
#include "ethernet/SimulatedTarvo.h"
#include "ethernet/TarvoNotPresent.h"
#include "usb/SimulatedSr3Usb.h"
#include "usb/Sr3UsbNotPresent.h"

std::unique_ptr<DeviceEnvironment> DeviceEnvironment::create(bool simulate)
{
    std::unique_ptr<DeviceEnvironment> env(new DeviceEnvironment);
    env->m_simulated = simulate;
    if (simulate) {
        env->m_sr3 = std::make_unique<SimulatedSr3Usb>();
        env->m_tarvo = std::make_unique<SimulatedTarvo>();
        env->m_hollis = std::make_unique<ZelHollis::Hollis>(
            std::make_unique<ZelHollis::SimulatedHollis>());
    } else {
        env->m_sr3 = std::make_unique<Sr3UsbNotPresent>();
        env->m_tarvo = std::make_unique<TarvoNotPresent>();
        env->m_hollis = std::make_unique<ZelHollis::Hollis>(
            std::make_unique<ZelHollis::HollisNotPresent>());
    }
    // The fixture boot-load steps reach the library through the process-wide instance.
    ZelHollis::Hollis::setInstance(env->m_hollis.get());
    return env;
}

DeviceEnvironment::~DeviceEnvironment() = default;
