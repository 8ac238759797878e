#pragma once

#include <QString>

// How the USB panel's last programming run ended, for whoever wants to look
// back at it (the log has the details).
struct UsbRunOutcome {
    enum Result { NoRun, Running, Succeeded, Failed };

    Result result = NoRun;
    QString product;
    // What went wrong, in the words shown to the operator; empty on success.
    QString reason;
    // Steps after a good download that did not work out (the file name not
    // recorded, a show file not deleted); the firmware itself is in place.
    QString remarks;
    // The check after a good write, e.g. "verified: the device reports 2.1.0".
    QString check;
};
