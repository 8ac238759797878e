#pragma once

#include "app/CommandLine.h"
#include "app/ExitCode.h"
#include "base/UpdateRecord.h"

#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

// The JSON file an unattended run leaves for the script that started it:
// the exit code and its meaning, a sentence for the operator, the fields of
// the update record when the run got that far, and, when a guarding question
// stopped it, the question and the -yes= option that would let it through.
class UnattendedResult
{
public:
    ExitCode exitCode = ExitCode::FailedOrMismatch;
    QString message;
    std::optional<UpdateRecord> record; // the device's, or the one that decided a run of several
    // Without a record: what the run knew of the device and the image when it
    // ended (from its options, and the image once it was accepted). Written
    // as the record's fields of the same names.
    std::optional<UpdateRecord> known;
    QList<UpdateRecord> devices;         // every record of a run of several devices
    std::optional<GuardingQuestion> refusedQuestion;
    QList<GuardingQuestion> allowedQuestions; // what -yes= gave to the run
    // Why records of this run did not reach the update record, one per record.
    QStringList recordErrors;

    // The -yes= option that keeps what was allowed and adds the refused
    // question; empty when no question was refused.
    QString allowingOption() const;

    QJsonObject toJson() const;
    // Replaces the file as a whole: a reader sees the old file or the new
    // one, never a part.
    bool write(const QString &path, QString *error = nullptr) const;
    // False, with the reason, when a result could not be written to path
    // now (a missing folder, a folder or read-only file of that name). An
    // existing file is left as it is.
    static bool canWrite(const QString &path, QString *error = nullptr);
};
