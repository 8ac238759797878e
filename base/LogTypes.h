#pragma once

#include <QMetaType>
#include <QString>

// Priorities are compared as numbers by the logger's level filter, so the
// values are fixed. Both enumerations have int as their underlying type: a
// sender may pass any int (a level between two of the table's, a type of its
// own), and that must be a valid value, not undefined behaviour.
enum LOGPRIORITY : int {
    LOG_FINEST = 100,
    LOG_FINER = 200,
    LOG_FINE = 300,
    LOG_CONFIG = 400,
    LOG_INFO = 500,
    LOG_WARNING = 600,
    LOG_SEVERE = 700
};

enum LOGTYPE : int {
    LOGTYPE_GENERAL = 1
};

// Display word of a priority; anything outside the table reads "FINEST TRACE".
QString priorityName(LOGPRIORITY priority);

Q_DECLARE_METATYPE(LOGPRIORITY)
Q_DECLARE_METATYPE(LOGTYPE)
