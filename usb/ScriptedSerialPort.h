#pragma once

#include "usb/SerialPorts.h"

#include <QByteArray>
#include <QList>

// One player's serial port that plays a script instead of a player: every
// frame written is kept, and each write releases the next scripted reply, if
// any. A reply may be scripted in pieces: the first is there at once, each
// further one arrives when the reader next looks at what has come. Bytes
// that are not read stay on the line for the next request, as on a real
// port. Nothing depends on time, so tests and fuzzing need no waits.
class ScriptedSerialPort : public SerialPorts
{
public:
    ScriptedSerialPort();
    ~ScriptedSerialPort() override;

    // The one port listed: a Vireo Player's USB serial port.
    SerialPortEntry entry() const;
    void addReply(const QList<QByteArray> &pieces);
    void addReply(const QByteArray &bytes) { addReply(QList<QByteArray>{bytes}); }

    const QList<QByteArray> &written() const { return m_written; }
    int breaks() const { return m_breaks; }
    // Bytes arrived but not read, and pieces still to come.
    qsizetype unread() const;

    QList<SerialPortEntry> availablePorts() override;
    std::unique_ptr<SerialLine> line(const SerialPortEntry &port) override;

private:
    class Line;

    QList<QList<QByteArray>> m_replies;
    QList<QByteArray> m_coming;
    QByteArray m_arrived;
    QList<QByteArray> m_written;
    int m_breaks = 0;
};
