// Arbitrary bytes as updates.jsonl, through the reader that File > History
// uses; every record it accepts must be one that can be stored again and
// read back as the same record.
#include "base/UpdateRecord.h"
#include "base/UpdateRecordFile.h"
#include "fuzz/FuzzWorkDir.h"

#include <QFile>
#include <QJsonDocument>

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    enterFuzzWorkDir();
    return 0;
}

static void check(bool ok)
{
    if (!ok)
        std::abort();
}

// The record as it would be appended, read back.
static std::optional<UpdateRecord> stored(const UpdateRecord &record)
{
    const QByteArray line = record.toJsonLine();
    check(!line.contains('\n'));
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(line, &error);
    check(error.error == QJsonParseError::NoError && document.isObject());
    return UpdateRecord::fromJson(document.object());
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    {
        QFile file{QString::fromLatin1(UpdateRecordFile::kFileName)};
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            std::abort();
        file.write(reinterpret_cast<const char *>(data), qint64(size));
    }
    const UpdateRecordFile::Contents contents = UpdateRecordFile(QStringLiteral(".")).read();
    check(contents.error.isEmpty());

    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const qsizetype lines = bytes.count('\n') + 1;
    check(contents.records.size() + contents.damagedLines.size() <= lines);
    int previous = 0;
    for (int line : contents.damagedLines) {
        check(line > previous && line <= lines);
        previous = line;
    }

    for (const UpdateRecord &record : contents.records) {
        check(record.time.isValid() && record.interfaceNumber >= 0 && record.interfaceNumber <= 2);
        check(record.durationMs >= 0);
        // Stored once, a record comes back; stored again, it stays the same.
        const std::optional<UpdateRecord> once = stored(record);
        check(once.has_value());
        const std::optional<UpdateRecord> twice = stored(*once);
        check(twice.has_value() && *twice == *once);
        (void)UpdateRecord::outcomeName(record.outcome);
        (void)UpdateRecord::interfaceTitle(record.interfaceNumber);
    }
    return 0;
}
