#pragma once

class DeviceEnvironment;
class Pauser;
class Prompter;

// What the window hands down to the catalogue and the panels. Null members
// take the real defaults: Qt dialogs, blocking pauses, the device layers
// chosen by the simulation switch.
struct AppServices {
    Prompter *prompter = nullptr;
    Pauser *pauser = nullptr;
    DeviceEnvironment *devices = nullptr;
};
