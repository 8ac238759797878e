#include "base/LogCategories.h"

Q_LOGGING_CATEGORY(lcLog, "zel.log", QtInfoMsg)
Q_LOGGING_CATEGORY(lcCatalogue, "zel.catalogue", QtInfoMsg)
Q_LOGGING_CATEGORY(lcHex, "zel.hex", QtInfoMsg)
Q_LOGGING_CATEGORY(lcPsoc, "zel.psoc", QtInfoMsg)
Q_LOGGING_CATEGORY(lcDevice, "zel.device", QtInfoMsg)
