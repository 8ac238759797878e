#include "base/Logger.h"

#include "base/LogCategories.h"
#include "base/LogMessage.h"

#include <QDateTime>
#include <QDebug>
#include <QMutexLocker>
#include <QTextStream>

Logger *Logger::s_instance = nullptr;

namespace {
const char kDumpBegin[] = "************************ LOG DUMP BEGIN ************************";
const char kDumpEnd[] = "************************  LOG DUMP END  ************************";
}

Logger *Logger::instance(QObject *parent)
{
    if (!s_instance) {
        if (!parent) {
            qDebug() << "Define parent object on first use of Logger singleton!";
            return nullptr;
        }
        s_instance = new Logger(parent);
    }
    return s_instance;
}

Logger::Logger(QObject *parent)
    : QObject(parent)
{
    setObjectName(QStringLiteral("Logger"));
    qRegisterMetaType<LOGPRIORITY>("LOGPRIORITY");
    qRegisterMetaType<LOGTYPE>("LOGTYPE");
}

Logger::~Logger()
{
    clearLog();
    // A later owner (a test builds many windows) must get a fresh logger, not
    // a dangling pointer to this one.
    if (s_instance == this)
        s_instance = nullptr;
}

int Logger::recordCount() const
{
    QMutexLocker lock(&m_mutex);
    return m_messages.size();
}

void Logger::setLogLevel(LOGPRIORITY logLevel)
{
    {
        QMutexLocker lock(&m_mutex);
        m_logLevel = static_cast<quint16>(logLevel);
    }
    log(LOG_CONFIG, LOGTYPE_GENERAL, objectName(),
        QStringLiteral("Logging level set to %1.").arg(priorityName(logLevel)));
}

quint16 Logger::getLogLevel()
{
    QMutexLocker lock(&m_mutex);
    return m_logLevel;
}

void Logger::setLogLength(quint16 logLength)
{
    if (logLength == 0)
        logLength = 1;
    {
        QMutexLocker lock(&m_mutex);
        while (m_messages.size() > logLength)
            delete m_messages.takeFirst();
        m_logLength = logLength;
    }
    log(LOG_CONFIG, LOGTYPE_GENERAL, objectName(),
        QStringLiteral("Logging length set to %1.").arg(logLength));
}

void Logger::log(LOGPRIORITY logLevel, LOGTYPE logType, QString objectName, QString logMessage)
{
    QString text;
    {
        QMutexLocker lock(&m_mutex);
        if (static_cast<int>(logLevel) < static_cast<int>(m_logLevel))
            return;
        if (m_messages.size() >= m_logLength)
            delete m_messages.takeFirst();
        auto *record = new LogMessage(QDateTime::currentDateTime(), logLevel, logType, objectName,
                                      logMessage);
        m_messages.append(record);
        text = record->toString();
    }
    // Outside the lock: a receiver connected directly may log, dump or
    // process events (and with them further records) without deadlocking.
    qCDebug(lcLog).noquote() << text;
    emit latestLogString(text);
}

void Logger::dumpLog(QTextStream &ts)
{
    dump(ts, nullptr);
}

void Logger::dumpLog(QTextStream &ts, LOGTYPE logType)
{
    dump(ts, &logType);
}

void Logger::dump(QTextStream &ts, const LOGTYPE *onlyType)
{
    QMutexLocker lock(&m_mutex);
    ts << kDumpBegin << Qt::endl;
    for (const LogMessage *record : std::as_const(m_messages)) {
        if (!onlyType || record->type() == *onlyType)
            ts << record->toString() << Qt::endl;
    }
    ts << kDumpEnd << Qt::endl;
}

void Logger::clearLog()
{
    QMutexLocker lock(&m_mutex);
    qDeleteAll(m_messages);
    m_messages.clear();
}
