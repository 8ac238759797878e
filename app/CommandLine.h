#pragma once

#include "base/GuardingQuestion.h"

#include <QList>
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
    // -simulate=keep-revision,no-return: how the simulated devices fail the
    // check after an update (either implies -simulate).
    bool simulateKeepRevision = false;
    bool simulateNoReturn = false;
    // -verifyWait=SECONDS: how long the check after an update waits for the
    // device; negative: each interface's default.
    int verifyWaitSeconds = -1;
    // -trustedKey=PATH, repeatable: public keys trusted besides those in the
    // key folders, as absolute paths. Each must read as a key.
    QStringList trustedKeyPaths;

    // -catalogue=PATH: the product catalogue to read instead of looking for one.
    QString cataloguePath;

    // Unattended run.
    QString firmwarePath;
    QList<GuardingQuestion> allowedQuestions;
    QString resultPath;

    bool help = false;
    // One line per unknown or malformed option of the unattended run; the
    // updater then exits with ExitCode::BadOptionsOrImageRefused.
    QStringList errors;

    bool unattended() const { return !firmwarePath.isNull(); }
    bool allows(GuardingQuestion question) const { return allowedQuestions.contains(question); }
};

// Reads the options from the full argument list (program path included).
// Matching is exact and case-sensitive. Unknown arguments are ignored, except
// those that look like the options of the unattended run (any letter case):
// being meant for a run without an operator, a mistake in them is an error.
StartOptions parseCommandLine(const QStringList &arguments);

// The text --help prints: options and exit codes.
QString commandLineHelp();
