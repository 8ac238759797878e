#include "ethernet/EthernetLogging.h"

Q_LOGGING_CATEGORY(lcTftp, "zel.tftp", QtInfoMsg)
Q_LOGGING_CATEGORY(lcDiscovery, "zel.discovery", QtInfoMsg)
