#include "usb/Sr3UsbNotPresent.h"

Sr3UsbNotPresent::Sr3UsbNotPresent(QObject *parent) : Sr3UsbLibrary(parent)
{
    setObjectName("Sr3UsbLibrary");
}

void Sr3UsbNotPresent::announce()
{
    if (m_announced)
        return;
    m_announced = true;
    emit signal_log(LOG_WARNING, LOGTYPE_GENERAL, objectName(),
                    tr("Sorrel 3 USB library not present: no Sorrel 3 player can be found."));
}

int Sr3UsbNotPresent::controllerCount()
{
    announce();
    return 0;
}

int Sr3UsbNotPresent::connectController()
{
    announce();
    return kNotPresentError;
}

int Sr3UsbNotPresent::enterBootLoader()
{
    announce();
    return kNotPresentError;
}

int Sr3UsbNotPresent::rawDeviceCount()
{
    announce();
    return 0;
}

bool Sr3UsbNotPresent::open(int)
{
    announce();
    return false;
}

int Sr3UsbNotPresent::lastStatus()
{
    announce();
    return kNotPresentError;
}

bool Sr3UsbNotPresent::setTimeouts(int, int)
{
    announce();
    return false;
}

bool Sr3UsbNotPresent::getFirmwareVersion(int &)
{
    announce();
    return false;
}

bool Sr3UsbNotPresent::getBootloaderVersion(int &)
{
    announce();
    return false;
}

bool Sr3UsbNotPresent::eraseFlash()
{
    announce();
    return false;
}

bool Sr3UsbNotPresent::transaction(const QByteArray &, char *, int &replyLength, int)
{
    announce();
    replyLength = 0;
    return false;
}

bool Sr3UsbNotPresent::reset()
{
    announce();
    return false;
}

bool Sr3UsbNotPresent::close()
{
    announce();
    return false;
}

bool Sr3UsbNotPresent::flush()
{
    announce();
    return false;
}
