#pragma once

#include <QMetaType>
#include <QString>

// Priorities are compared as numbers by the logger's level filter, so the
// values are fixed.
enum LOGPRIORITY {
    LOG_FINEST = 100,
    LOG_FINER = 200,
    LOG_FINE = 300,
    LOG_CONFIG = 400,
    LOG_INFO = 500,
    LOG_WARNING = 600,
    LOG_SEVERE = 700
};

enum LOGTYPE {
    LOGTYPE_GENERAL = 1
};

// Display word of a priority; anything outside the table reads "FINEST TRACE".
QString priorityName(LOGPRIORITY priority);

Q_DECLARE_METATYPE(LOGPRIORITY)
Q_DECLARE_METATYPE(LOGTYPE)
