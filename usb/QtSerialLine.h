#pragma once

#include "usb/SerialLine.h"

#include <QSerialPort>

// A serial line on QSerialPort; opens any tty by its path, pseudo-terminals included.
class QtSerialLine : public SerialLine
{
public:
    explicit QtSerialLine(const QString &systemLocation);

    bool open(QString &error) override;
    qint64 write(const QByteArray &data) override;
    qint64 bytesAvailable() override;
    QByteArray read(qint64 maxSize) override;
    void sendBreak() override;
    void close() override;

private:
    QSerialPort m_port;
};
