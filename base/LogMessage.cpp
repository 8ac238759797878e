#include "base/LogMessage.h"

#include <atomic>

namespace {
std::atomic<quint32> g_nextSequence{0};
}

LogMessage::LogMessage(const QDateTime &timestamp, LOGPRIORITY priority, LOGTYPE type,
                       const QString &objectName, const QString &message)
    : m_timestamp(timestamp)
    , m_priority(priority)
    , m_message(message)
    , m_type(type)
    , m_objectName(objectName)
    , m_sequence(g_nextSequence++)
{
}

QString LogMessage::toString() const
{
    const QString sequence = QStringLiteral("%1").arg(m_sequence, 8, 16, QLatin1Char('0')).toUpper();
    return QStringLiteral("0x%1 %2 %3 - %4 - %5")
        .arg(sequence, m_timestamp.toString(Qt::ISODate), priorityName(m_priority), m_objectName,
             m_message);
}
