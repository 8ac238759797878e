#include "ethernet/SimulatedTarvo.h"

#include "base/LogCategories.h"

#include <QStringList>
#include <QTimer>

namespace {

// Four dotted decimal fields only: shortened forms such as "127.1" are
// refused rather than read as some other address.
bool parseDotted(const QString &text, quint32 &address)
{
    const QStringList fields = text.trimmed().split('.');
    if (fields.size() != 4)
        return false;
    address = 0;
    for (const QString &field : fields) {
        if (field.isEmpty() || field.size() > 3)
            return false;
        for (const QChar c : field) {
            if (c < u'0' || c > u'9')
                return false;
        }
        const uint value = field.toUInt();
        if (value > 255)
            return false;
        address = (address << 8) | value;
    }
    return true;
}

} // namespace

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
    quint32 address = 0;
    if (!parseDotted(ip, address))
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
