#pragma once

#include "base/LogTypes.h"

#include <QObject>
#include <QString>

// The controller-value call of the Ethernet controllers' vendor library: ask
// one controller for one numbered value; the answer arrives later through
// signalDeviceVariableReply on the caller's thread, or never.
// Implementations: TarvoNotPresent when the library is missing, SimulatedTarvo.
class TarvoLibrary : public QObject
{
    Q_OBJECT

public:
    // Value number of the firmware revision.
    static constexpr quint16 kFirmwareRevision = 342;

    using QObject::QObject;
    ~TarvoLibrary() override = default;

    // Sends the question to the dotted IPv4 address ip; false when it could not
    // be sent (bad address, library missing).
    virtual bool getValue(const QString &ip, quint16 valueId) = 0;

signals:
    // ip in host byte order.
    void signalDeviceVariableReply(unsigned long ip, quint16 valueId, quint32 value);
    void signal_log(LOGPRIORITY logLevel, LOGTYPE logType, QString objectName, QString logMessage);
};
