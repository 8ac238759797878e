#include "ethernet/TarvoNotPresent.h"

TarvoNotPresent::TarvoNotPresent(QObject *parent) : TarvoLibrary(parent)
{
    setObjectName("TarvoLibrary");
}

bool TarvoNotPresent::getValue(const QString &, quint16)
{
    if (!m_announced) {
        m_announced = true;
        emit signal_log(LOG_WARNING, LOGTYPE_GENERAL, objectName(),
                        tr("Controller-value library not present: no controller revision can be read."));
    }
    return false;
}
