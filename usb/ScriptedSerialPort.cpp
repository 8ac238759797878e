#include "usb/ScriptedSerialPort.h"

#include "usb/Device_VireoPlayer.h"
#include "usb/SerialLine.h"

class ScriptedSerialPort::Line : public SerialLine
{
public:
    explicit Line(ScriptedSerialPort &port) : m_port(port) {}

    bool open(QString &) override { return true; }
    qint64 write(const QByteArray &data) override
    {
        m_port.m_written.append(data);
        if (!m_port.m_replies.isEmpty()) {
            m_port.m_coming += m_port.m_replies.takeFirst();
            arrive();
        }
        return data.size();
    }
    qint64 bytesAvailable() override
    {
        arrive();
        return m_port.m_arrived.size();
    }
    QByteArray read(qint64 maxSize) override
    {
        const QByteArray out = m_port.m_arrived.left(maxSize);
        m_port.m_arrived.remove(0, out.size());
        return out;
    }
    void sendBreak() override { ++m_port.m_breaks; }
    void close() override {}

private:
    void arrive()
    {
        if (!m_port.m_coming.isEmpty())
            m_port.m_arrived += m_port.m_coming.takeFirst();
    }

    ScriptedSerialPort &m_port;
};

ScriptedSerialPort::ScriptedSerialPort() = default;
ScriptedSerialPort::~ScriptedSerialPort() = default;

SerialPortEntry ScriptedSerialPort::entry() const
{
    SerialPortEntry e;
    e.portName = QStringLiteral("ttyACM0");
    e.systemLocation = QStringLiteral("scripted");
    e.description = QStringLiteral("Vireo Player (scripted)");
    e.vendorId = VIREO_VENDOR_ID;
    e.productId = VIREO_SERIAL_PRODUCT_ID;
    e.hasIds = true;
    return e;
}

void ScriptedSerialPort::addReply(const QList<QByteArray> &pieces)
{
    m_replies.append(pieces);
}

qsizetype ScriptedSerialPort::unread() const
{
    qsizetype n = m_arrived.size();
    for (const QByteArray &piece : m_coming)
        n += piece.size();
    return n;
}

QList<SerialPortEntry> ScriptedSerialPort::availablePorts()
{
    return {entry()};
}

std::unique_ptr<SerialLine> ScriptedSerialPort::line(const SerialPortEntry &)
{
    return std::make_unique<Line>(*this);
}
