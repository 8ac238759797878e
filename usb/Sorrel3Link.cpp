#include "usb/Sorrel3Link.h"

#include "base/Pauser.h"
#include "usb/Sr3UsbLibrary.h"

#include <QStringList>

namespace {

// Time-outs of the boot loader while it is programmed, and the short ones of
// a reset into the firmware.
constexpr int kReadTimeoutMs = 60000;
constexpr int kWriteTimeoutMs = 10000;
constexpr int kResetTimeoutMs = 1;

} // namespace

Sorrel3Link::Sorrel3Link(Sr3UsbLibrary &sr3, Pauser &pauser) : m_sr3(sr3), m_pauser(pauser) {}

QString Sorrel3Link::formatVersion(quint32 version)
{
    QStringList parts;
    for (int shift = 24; shift >= 0; shift -= 8) {
        const quint32 byte = (version >> shift) & 0xFF;
        if (shift == 24 && byte == 0)
            continue;
        parts.append(QStringLiteral("%1").arg(byte, 2, 10, QLatin1Char('0')));
    }
    return parts.join(QLatin1Char('.'));
}

bool Sorrel3Link::open()
{
    if (!m_sr3.open(0))
        return false;
    m_open = true;
    m_inBootLoader = true;
    m_sr3.setTimeouts(kReadTimeoutMs, kWriteTimeoutMs);
    m_pauser.pause(kSettleAfterOpenMs);
    return true;
}

void Sorrel3Link::resetIntoFirmware()
{
    m_sr3.setTimeouts(kResetTimeoutMs, kResetTimeoutMs);
    m_sr3.reset();
    m_sr3.setTimeouts(kReadTimeoutMs, kWriteTimeoutMs);
    m_inBootLoader = false;
}

void Sorrel3Link::release(bool resetIfInBootLoader)
{
    if (!m_open)
        return;
    if (resetIfInBootLoader && m_inBootLoader)
        m_sr3.reset();
    m_sr3.close();
    m_sr3.flush();
    m_open = false;
    m_inBootLoader = false;
}
