#pragma once

#include <QByteArray>
#include <QString>

// One open serial line as the Vireo Player protocol uses it. Data arrives
// while the event loop runs; bytesAvailable() tells what has been received.
class SerialLine
{
public:
    virtual ~SerialLine() = default;
    // 8 data bits, no parity, 1 stop bit, no flow control. False, with the
    // reason in error, when the port cannot be had.
    virtual bool open(QString &error) = 0;
    // Bytes accepted for sending, -1 on failure.
    virtual qint64 write(const QByteArray &data) = 0;
    virtual qint64 bytesAvailable() = 0;
    virtual QByteArray read(qint64 maxSize) = 0;
    virtual void sendBreak() = 0;
    virtual void close() = 0;
};
