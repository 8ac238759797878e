#include "usb/SimulatedSr3Usb.h"

#include "base/LogCategories.h"

#include <cstring>

SimulatedSr3Usb::SimulatedSr3Usb(QObject *parent) : Sr3UsbLibrary(parent)
{
    setObjectName("Sr3UsbLibrary");
}

void SimulatedSr3Usb::setPlayers(int inApplication, int inBootLoader)
{
    m_appPlayers = qMax(0, inApplication);
    m_bootPlayers = qMax(0, inBootLoader);
    m_connected = false;
}

int SimulatedSr3Usb::controllerCount()
{
    return m_appPlayers;
}

int SimulatedSr3Usb::connectController()
{
    if (m_appPlayers != 1)
        return kNoDevice;
    m_connected = true;
    return kSuccess;
}

int SimulatedSr3Usb::enterBootLoader()
{
    if (!m_connected)
        return kNotConnected;
    m_connected = false;
    --m_appPlayers;
    ++m_bootPlayers;
    qCDebug(lcDevice) << "simulated Sorrel 3 entered its boot loader";
    return kSuccess;
}

int SimulatedSr3Usb::rawDeviceCount()
{
    return m_bootPlayers;
}

bool SimulatedSr3Usb::open(int index)
{
    if (m_openFails || index < 0 || index >= m_bootPlayers) {
        m_lastStatus = kNoDevice;
        return false;
    }
    m_open = true;
    m_inBootLoader = true;
    m_lastStatus = 0;
    return true;
}

int SimulatedSr3Usb::lastStatus()
{
    return m_lastStatus;
}

bool SimulatedSr3Usb::setTimeouts(int readMs, int writeMs)
{
    if (!m_open)
        return false;
    m_readTimeout = readMs;
    m_writeTimeout = writeMs;
    return true;
}

bool SimulatedSr3Usb::getFirmwareVersion(int &version)
{
    if (!usable() || m_firmwareVersion < 0)
        return false;
    version = m_firmwareVersion;
    return true;
}

bool SimulatedSr3Usb::getBootloaderVersion(int &version)
{
    if (!usable() || m_bootloaderVersion < 0)
        return false;
    version = m_bootloaderVersion;
    return true;
}

bool SimulatedSr3Usb::eraseFlash()
{
    if (!usable() || m_eraseFails)
        return false;
    m_erased = true;
    m_records.clear();
    return true;
}

bool SimulatedSr3Usb::transaction(const QByteArray &record, char *reply, int &replyLength, int)
{
    if (!usable() || !m_erased || m_records.size() == m_refuseRecord) {
        replyLength = 0;
        return false;
    }
    // The record is a C text: only what precedes the terminator travels.
    const int end = record.indexOf('\0');
    m_records.append(end < 0 ? record : record.left(end));
    qCDebug(lcDevice) << "simulated Sorrel 3 record" << m_records.size() - 1;
    static const char ok[] = "OK";
    const int n = qMin(replyLength, int(sizeof ok - 1));
    if (reply && n > 0)
        std::memcpy(reply, ok, size_t(n));
    replyLength = qMax(0, n);
    return true;
}

bool SimulatedSr3Usb::reset()
{
    if (!usable())
        return false;
    m_inBootLoader = false;
    m_erased = false;
    --m_bootPlayers;
    ++m_appPlayers;
    ++m_resetCount;
    return true;
}

bool SimulatedSr3Usb::close()
{
    const bool wasOpen = m_open;
    m_open = false;
    m_inBootLoader = false;
    return wasOpen;
}

bool SimulatedSr3Usb::flush()
{
    return true;
}
