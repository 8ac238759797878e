#include "ethernet/SimulatedTarvo.h"

#include "base/LogCategories.h"

#include <QHostAddress>
#include <QTimer>

SimulatedTarvo::SimulatedTarvo(QObject *parent) : TarvoLibrary(parent)
{
    setObjectName("TarvoLibrary");
    setValue(kDefaultAddress, kFirmwareRevision, kDefaultRevision);
}

void SimulatedTarvo::setValue(quint32 address, quint16 valueId, quint32 value)
{
    m_values[address][valueId] = value;
}

void SimulatedTarvo::removeController(quint32 address)
{
    m_values.remove(address);
}

bool SimulatedTarvo::getValue(const QString &ip, quint16 valueId)
{
    bool ok = false;
    const QHostAddress host(ip.trimmed());
    const quint32 address = host.toIPv4Address(&ok);
    if (!ok)
        return false;
    m_questions.append({address, valueId});
    qCDebug(lcDevice) << "simulated controller value" << ip << valueId;

    // An unknown controller or value stays silent, like a controller that is not there.
    const auto controller = m_values.constFind(address);
    if (controller == m_values.constEnd() || !controller->contains(valueId))
        return true;
    const quint32 value = controller->value(valueId);
    QTimer::singleShot(m_replyDelay, this, [this, address, valueId, value] {
        emit signalDeviceVariableReply(address, valueId, value);
    });
    return true;
}
