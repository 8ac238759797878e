#pragma once

#include "base/LogTypes.h"

#include <QDateTime>
#include <QString>

// One accepted log record. Every constructed record takes the next number of
// a process-wide counter, so numbers show the order of acceptance.
class LogMessage
{
public:
    LogMessage(const QDateTime &timestamp, LOGPRIORITY priority, LOGTYPE type,
               const QString &objectName, const QString &message);
    virtual ~LogMessage() = default;

    QDateTime timestamp() const { return m_timestamp; }
    LOGPRIORITY priority() const { return m_priority; }
    QString message() const { return m_message; }
    LOGTYPE type() const { return m_type; }
    QString objectName() const { return m_objectName; }
    quint32 sequence() const { return m_sequence; }

    QString toString() const;

private:
    QDateTime m_timestamp;
    LOGPRIORITY m_priority;
    QString m_message;
    LOGTYPE m_type;
    QString m_objectName;
    quint32 m_sequence;
};
