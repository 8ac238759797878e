#pragma once

#include <QLoggingCategory>

// Developer diagnostics. All are off by default; enable with for example
// QT_LOGGING_RULES="zel.hex.debug=true".
Q_DECLARE_LOGGING_CATEGORY(lcLog)        // echo of every accepted log record
Q_DECLARE_LOGGING_CATEGORY(lcCatalogue)  // echo of the catalogue as it is read
Q_DECLARE_LOGGING_CATEGORY(lcHex)        // Intel HEX records and image checks
Q_DECLARE_LOGGING_CATEGORY(lcPsoc)       // PSoC lines and paragraphs
Q_DECLARE_LOGGING_CATEGORY(lcDevice)     // vendor-library stand-ins and simulated devices
