#pragma once

#include "ethernet/EthernetSettings.h"

#include <memory>

class ControllerSimulator;
class HidBackend;
class SerialPorts;
class SimulatedVireoPlayer;
class Sr3UsbLibrary;
class TarvoLibrary;

namespace ZelHollis {
class Hollis;
}

// The three vendor-library layers of one run, with the serial ports and HID
// devices the Vireo Player is reached through: either the simulated devices,
// or the layers that report that the vendor library is not present and the
// system's own ports and HID devices.
class DeviceEnvironment
{
public:
    // How the simulated devices behave after an update, so that a run can be
    // shown failing its check afterwards.
    struct SimulationOptions {
        bool keepRevision = false; // devices take the image but keep reporting their old revision
        bool noReturn = false;     // devices take the image but never answer again
    };

    static std::unique_ptr<DeviceEnvironment> create(bool simulate);
    static std::unique_ptr<DeviceEnvironment> create(bool simulate,
                                                     const SimulationOptions &simulation);
    ~DeviceEnvironment();

    bool simulated() const { return m_simulated; }
    Sr3UsbLibrary &sr3() { return *m_sr3; }
    TarvoLibrary &tarvo() { return *m_tarvo; }
    ZelHollis::Hollis &hollis() { return *m_hollis; }
    // Where the Ethernet panel sends: the real network, or the simulated
    // controllers on loopback. Callers may aim it elsewhere.
    EthernetSettings &ethernet() { return m_ethernet; }
    // The simulated controllers; null on real devices or when they could not start.
    ControllerSimulator *controllerSimulator() { return m_controllers.get(); }
    SerialPorts &serialPorts() { return *m_serialPorts; }
    HidBackend &hid() { return *m_hid; }
    SimulationOptions simulation() const { return m_simulation; }

    // How long each interface waits for a device to answer again after an
    // update; negative: each interface's own default.
    int verifyWaitMs() const { return m_verifyWaitMs; }
    void setVerifyWaitMs(int milliseconds) { m_verifyWaitMs = milliseconds; }
    // The simulated Vireo Player behind serialPorts() and hid(); null unless simulated.
    SimulatedVireoPlayer *simulatedVireo() { return m_vireo.get(); }

private:
    DeviceEnvironment() = default;

    bool m_simulated = false;
    SimulationOptions m_simulation;
    int m_verifyWaitMs = -1;
    std::unique_ptr<Sr3UsbLibrary> m_sr3;
    std::unique_ptr<TarvoLibrary> m_tarvo;
    std::unique_ptr<ZelHollis::Hollis> m_hollis;
    EthernetSettings m_ethernet;
    std::unique_ptr<ControllerSimulator> m_controllers;
    std::unique_ptr<SimulatedVireoPlayer> m_vireo;
    std::unique_ptr<SerialPorts> m_ownSerialPorts;
    std::unique_ptr<HidBackend> m_ownHid;
    SerialPorts *m_serialPorts = nullptr;
    HidBackend *m_hid = nullptr;
};
