#pragma once

#include <QLoggingCategory>

// Developer diagnostics of the Ethernet subsystem, off by default:
// QT_LOGGING_RULES="zel.tftp.debug=true;zel.discovery.debug=true"
Q_DECLARE_LOGGING_CATEGORY(lcTftp)      // TFTP packets, attempts and progress
Q_DECLARE_LOGGING_CATEGORY(lcDiscovery) // discovery datagrams and the panel's steps
