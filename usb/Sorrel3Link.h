#pragma once

#include <QString>

class Pauser;
class Sr3UsbLibrary;

// The one Sorrel 3 the panel holds open in its boot loader. The connect, the
// run and the check after it open and let go of it through here, so that a
// panel that is stopped midway knows what it still holds.
class Sorrel3Link
{
public:
    static constexpr int kSettleAfterOpenMs = 500;

    Sorrel3Link(Sr3UsbLibrary &sr3, Pauser &pauser);

    // "01.00.54" for 0x00010036: each byte as two decimal digits, the top
    // byte only when it is not 0.
    static QString formatVersion(quint32 version);

    Sr3UsbLibrary &library() const { return m_sr3; }
    bool isOpen() const { return m_open; }

    // Opens the one player in its boot loader with the time-outs of
    // programming and lets it settle; false when it could not be opened.
    bool open();
    // Restarts the player into its firmware with time-outs short enough that
    // the reset returns without the answer a restarting player never gives.
    void resetIntoFirmware();
    // Lets go of the player: reset first when asked and it is still in its
    // boot loader, then close.
    void release(bool resetIfInBootLoader);

private:
    Sr3UsbLibrary &m_sr3;
    Pauser &m_pauser;
    bool m_open = false;
    bool m_inBootLoader = false;
};
