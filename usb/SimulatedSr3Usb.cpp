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

void SimulatedSr3Usb::setFlashSize(int bytes)
{
    m_flash = QByteArray(qMax(0, bytes), char(0xFF));
}

bool SimulatedSr3Usb::eraseFlash()
{
    if (!usable() || m_eraseFails)
        return false;
    m_erased = true;
    m_records.clear();
    m_flash.fill(char(0xFF));
    m_written = true;
    return true;
}

bool SimulatedSr3Usb::writeRecord(const QByteArray &record)
{
    // ":W", 8 digits of address, the data, 2 digits of checksum; the address
    // bytes, the data and the checksum add up to 0.
    if (record.size() < 12 || record.size() % 2 != 0 || !record.startsWith(":W"))
        return false;
    const QByteArray bytes = QByteArray::fromHex(record.mid(2));
    if (bytes.size() * 2 != record.size() - 2)
        return false; // not all hexadecimal
    quint8 sum = 0;
    for (char c : bytes)
        sum += quint8(c);
    if (sum != 0)
        return false;
    const auto *b = reinterpret_cast<const uchar *>(bytes.constData());
    const quint32 address = quint32(b[0]) << 24 | quint32(b[1]) << 16 | quint32(b[2]) << 8 | b[3];
    const qsizetype length = bytes.size() - 5;
    if (quint64(address) + quint64(length) > quint64(m_flash.size()))
        return false;
    m_flash.replace(address, length, bytes.mid(4, length));
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
    const QByteArray text = end < 0 ? record : record.left(end);
    if (!writeRecord(text)) {
        ++m_badRecords;
        replyLength = 0;
        return false;
    }
    m_records.append(text);
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
    // The player starts what was written; an erased version word reads as
    // a firmware that cannot tell its version.
    const bool written = m_written;
    if (m_written) {
        const qsizetype at = m_versionOffset;
        if (!m_keepRevision && at >= 0 && at + 4 <= m_flash.size()) {
            const auto *p = reinterpret_cast<const uchar *>(m_flash.constData()) + at;
            const quint32 v = quint32(p[0]) | quint32(p[1]) << 8 | quint32(p[2]) << 16 | quint32(p[3]) << 24;
            m_firmwareVersion = v == 0xFFFFFFFFu ? -1 : int(v & 0x00FFFFFF);
        }
        m_written = false;
    }
    --m_bootPlayers;
    if (!(written && m_noReturn))
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
