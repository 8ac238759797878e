#include "usb/QtSerialLine.h"

QtSerialLine::QtSerialLine(const QString &systemLocation)
{
    m_port.setPortName(systemLocation);
}

bool QtSerialLine::open(QString &error)
{
    // The player ignores the line speed; QSerialPort's default is kept.
    if (!m_port.open(QIODevice::ReadWrite)) {
        error = m_port.errorString();
        return false;
    }
    const bool set = m_port.setDataBits(QSerialPort::Data8) && m_port.setParity(QSerialPort::NoParity)
        && m_port.setStopBits(QSerialPort::OneStop)
        && m_port.setFlowControl(QSerialPort::NoFlowControl);
    if (!set) {
        error = m_port.errorString();
        m_port.close();
        return false;
    }
    return true;
}

qint64 QtSerialLine::write(const QByteArray &data)
{
    const qint64 written = m_port.write(data);
    // Hand the bytes to the driver now rather than at the next event.
    m_port.flush();
    return written;
}

qint64 QtSerialLine::bytesAvailable()
{
    return m_port.bytesAvailable();
}

QByteArray QtSerialLine::read(qint64 maxSize)
{
    return m_port.read(maxSize);
}

void QtSerialLine::sendBreak()
{
    m_port.setBreakEnabled(true);
    m_port.setBreakEnabled(false);
}

void QtSerialLine::close()
{
    if (m_port.isOpen())
        m_port.close();
}
