#include "base/LogTypes.h"

QString priorityName(LOGPRIORITY priority)
{
    switch (priority) {
    case LOG_FINER: return QStringLiteral("FINER TRACE");
    case LOG_FINE: return QStringLiteral("FINE TRACE");
    case LOG_CONFIG: return QStringLiteral("CONFIG");
    case LOG_INFO: return QStringLiteral("INFO");
    case LOG_WARNING: return QStringLiteral("WARNING");
    case LOG_SEVERE: return QStringLiteral("SEVERE");
    default: return QStringLiteral("FINEST TRACE");
    }
}
