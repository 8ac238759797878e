#include "dmx/HollisNotPresent.h"

namespace ZelHollis {

HollisNotPresent::HollisNotPresent(QObject *parent) : HollisBackend(parent)
{
    setObjectName("Hollis");
}

void HollisNotPresent::announce()
{
    if (m_announced)
        return;
    m_announced = true;
    emit signal_log(LOG_WARNING, LOGTYPE_GENERAL, objectName(),
                    tr("Power-supply library not present: no ZELDMX power supplies can be found."));
}

bool HollisNotPresent::queryDevices()
{
    announce();
    return false;
}

QList<int> HollisNotPresent::listDevices()
{
    announce();
    return {};
}

QVariant HollisNotPresent::getDeviceProperty(int, const QString &)
{
    announce();
    return {};
}

int HollisNotPresent::usbConnect(int)
{
    announce();
    return kNotPresentError;
}

int HollisNotPresent::usbDisconnect(int)
{
    announce();
    return kNotPresentError;
}

void HollisNotPresent::discoverLights(int)
{
    announce();
}

QList<quint64> HollisNotPresent::portFixtureList(int, int)
{
    announce();
    return {};
}

QVariant HollisNotPresent::getFixtureProperty(int, int, quint64, const QString &)
{
    announce();
    return {};
}

bool HollisNotPresent::fixtureReadFirmwareVersion(int, int, quint64, quint16 &)
{
    announce();
    return false;
}

bool HollisNotPresent::fixtureReadLXEnable(int, int, quint64, bool &)
{
    announce();
    return false;
}

bool HollisNotPresent::zeldmxAdvancedModeEntry(int, int)
{
    announce();
    return false;
}

bool HollisNotPresent::zeldmxEnterBootloadMode(int, int, quint32)
{
    announce();
    return false;
}

bool HollisNotPresent::zeldmxBootloadStart(int, int, quint32, bool)
{
    announce();
    return false;
}

bool HollisNotPresent::zeldmxBootloadWriteIntelHex(int, int, quint32, quint16, const quint8 *,
                                                   quint16, bool)
{
    announce();
    return false;
}

bool HollisNotPresent::zeldmxBootloadWriteCypressPSoC(int, int, quint32, quint16,
                                                      const QByteArray &, quint8)
{
    announce();
    return false;
}

bool HollisNotPresent::zeldmxBootloadDone(int, int, quint32, bool)
{
    announce();
    return false;
}

} // namespace ZelHollis
