#pragma once

#include "base/LogTypes.h"

#include <QList>
#include <QMutex>
#include <QObject>

class LogMessage;
class QTextStream;

// The process-wide log: keeps the newest records in memory, filters them by
// priority, echoes each accepted record through latestLogString and dumps the
// kept records on request. log() may be called from any thread;
// latestLogString is emitted on the caller's thread once the lock is released.
class Logger : public QObject
{
    Q_OBJECT

public:
    // Creates the singleton on first use with parent as its owner; later calls
    // return it and ignore the argument. A first call without a parent creates
    // nothing and returns null.
    static Logger *instance(QObject *parent);
    ~Logger() override;

    int recordCount() const;

signals:
    void latestLogString(QString log);

public slots:
    void setLogLevel(LOGPRIORITY logLevel);
    quint16 getLogLevel();
    void setLogLength(quint16 logLength);
    void log(LOGPRIORITY logLevel, LOGTYPE logType, QString objectName, QString logMessage);
    void dumpLog(QTextStream &ts);
    void dumpLog(QTextStream &ts, LOGTYPE logType);
    void clearLog();

private:
    explicit Logger(QObject *parent);
    void dump(QTextStream &ts, const LOGTYPE *onlyType);

    QList<LogMessage *> m_messages;
    quint16 m_logLevel = 100;
    quint16 m_logLength = 100;
    mutable QMutex m_mutex;

    static Logger *s_instance;
};
