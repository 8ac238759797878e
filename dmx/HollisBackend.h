#pragma once

#include "base/LogTypes.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <QVariant>

namespace ZelHollis {

// What stands behind the Hollis facade: the power-supply library itself, its
// absence, or a simulation. Calls and results as the facade documents them.
class HollisBackend : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;
    ~HollisBackend() override = default;

    virtual bool queryDevices() = 0;
    virtual QList<int> listDevices() = 0;
    virtual QVariant getDeviceProperty(int device, const QString &key) = 0;
    virtual int usbConnect(int device) = 0;
    virtual int usbDisconnect(int device) = 0;
    virtual void discoverLights(int device) = 0;
    virtual QList<quint64> portFixtureList(int device, int port) = 0;
    virtual QVariant getFixtureProperty(int device, int unit, quint64 serial,
                                        const QString &key) = 0;
    virtual bool fixtureReadFirmwareVersion(int device, int unit, quint64 serial,
                                            quint16 &version) = 0;
    virtual bool fixtureReadLXEnable(int device, int unit, quint64 serial, bool &enabled) = 0;

    virtual bool zeldmxAdvancedModeEntry(int device, int port) = 0;
    virtual bool zeldmxEnterBootloadMode(int device, int port, quint32 serial) = 0;
    virtual bool zeldmxBootloadStart(int device, int port, quint32 serial, bool model) = 0;
    virtual bool zeldmxBootloadWriteIntelHex(int device, int port, quint32 serial, quint16 page,
                                             const quint8 *data, quint16 length, bool model) = 0;
    virtual bool zeldmxBootloadWriteCypressPSoC(int device, int port, quint32 serial,
                                                quint16 paragraph, const QByteArray &data,
                                                quint8 length) = 0;
    virtual bool zeldmxBootloadDone(int device, int port, quint32 serial, bool model) = 0;

signals:
    void discoveredDevice(int device);
    void discoveredFixture(unsigned long ip, quint64 serial);
    void signal_log(LOGPRIORITY logLevel, LOGTYPE logType, QString objectName, QString logMessage);
};

} // namespace ZelHollis
