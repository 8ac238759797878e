#pragma once

#include <QString>

// Where the Ethernet panel sends and how long it waits. The defaults are
// those of a real network; the simulation and the tests aim the traffic at
// loopback or at their own network namespaces instead.
struct EthernetSettings {
    // Destination of discovery requests (dotted IPv4).
    QString discoveryDestination = QStringLiteral("255.255.255.255");
    // Non-zero: discovery goes to this UDP port instead of the product's.
    int discoveryPortOverride = 0;
    // Local port on which announce datagrams arrive; 0 lets the system pick.
    int announcePort = 6045;
    // Port of the controllers' TFTP service.
    int tftpPort = 69;

    // How often the discovery sockets are drained.
    int pollIntervalMs = 500;
    // Discovery window, extended by every reply.
    int discoveryWindowMs = 2000;
    // Longest wait for a controller's revision.
    int queryWindowMs = 20000;
    // TFTP: wait per attempt for an answer.
    int infoReadTimeoutMs = 1000;
    int writeTimeoutMs = 2000;
    // The Marlow Mk3 answers quickly; a shorter wait ends a lost block sooner.
    int marlowMk3WriteTimeoutMs = 500;
    // The controller needs this long after an "info" read before it takes
    // another request.
    int afterInfoPauseMs = 5000;
    // After a write the controller restarts into its new firmware: its
    // revision is asked for only once this has passed, so that the old
    // firmware, still answering, is not taken for the new one.
    int verifySettleMs = 5000;
    // Between two attempts to read the revision while the controller is away.
    int verifyRetryMs = 1000;
};
