#pragma once

#include <QString>
#include <QStringList>

// What the command line asks of the window. Strings stay null when their
// option is absent.
struct StartOptions {
    int interfaceIndex = -1; // 0 USB, 1 ZELDMX fixtures, 2 Ethernet controllers
    QString deviceType;
    QString deviceAddress;
    bool autoConnect = false;
    bool simulate = false; // simulated devices instead of the vendor layers
};

// Reads the options from the full argument list (program path included).
// Matching is exact and case-sensitive; unknown arguments are ignored.
StartOptions parseCommandLine(const QStringList &arguments);
