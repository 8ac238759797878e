#pragma once

#include <QString>

// Exit codes of the updater, the contract with the scripts of a production
// line: --help prints them and an unattended run ends with one of them.
enum class ExitCode : int {
    Verified = 0,
    FailedOrMismatch = 1,
    BadOptionsOrImageRefused = 2,
    DeviceNotFound = 3,
    QuestionRefused = 4, // a guarding question came up that -yes did not allow
    NotVerified = 5,
    // The device was verified, but its update could not be added to the
    // update record: a line that relies on the record must not count it.
    VerifiedNotRecorded = 6,
};

// The highest code, for the lists that print them all.
constexpr int kLastExitCode = static_cast<int>(ExitCode::VerifiedNotRecorded);

// Short meaning, as in --help and the result file.
QString exitCodeMeaning(ExitCode code);
