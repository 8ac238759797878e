#pragma once

#include "base/UpdateRecord.h"

#include <QList>
#include <QString>

// The update record on disk: updates.jsonl in a given folder, one JSON object
// per line, only ever appended to. Each append is one write of the whole line
// and is on the disk when append returns, so a crash or kill afterwards loses
// nothing. A line torn by a power cut is skipped when the file is read, and
// the next append starts on a fresh line so that it stays readable.
class UpdateRecordFile
{
public:
    static constexpr const char *kFileName = "updates.jsonl";

    struct Contents {
        QList<UpdateRecord> records; // file order, oldest first
        QList<int> damagedLines;     // 1-based numbers of the lines that were skipped
        QString error;               // set when the file exists but could not be read
    };

    explicit UpdateRecordFile(const QString &folder);

    QString path() const { return m_path; }

    // False, with the reason in error, when the line is not on the disk.
    // The folder must exist; the file is created when missing.
    bool append(const UpdateRecord &record, QString *error = nullptr) const;

    // A missing file is an empty record, not an error.
    Contents read() const;

private:
    QString m_path;
};
