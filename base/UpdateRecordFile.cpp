#include "base/UpdateRecordFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString systemError(const char *what)
{
    return QStringLiteral("%1: %2").arg(QLatin1String(what), QString::fromLocal8Bit(std::strerror(errno)));
}

// Closes the descriptor on every path out of append.
struct Descriptor {
    int fd = -1;
    ~Descriptor()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

// A new file's name is only durable once its folder is synced too.
void syncFolder(const QString &folder)
{
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

} // namespace

UpdateRecordFile::UpdateRecordFile(const QString &folder)
    : m_path(QDir(folder).filePath(QLatin1String(kFileName)))
{
}

bool UpdateRecordFile::append(const UpdateRecord &record, QString *error) const
{
    auto fail = [error](const QString &why) {
        if (error)
            *error = why;
        return false;
    };

    QByteArray line = record.toJsonLine();
    // A line that could not be read back would be lost all the same.
    if (!UpdateRecord::fromJson(QJsonDocument::fromJson(line).object()))
        return fail(QStringLiteral("the record has no valid time, interface or outcome"));
    line.append('\n');

    const QByteArray name = QFile::encodeName(m_path);
    const bool existed = QFileInfo::exists(m_path);
    Descriptor file;
    do {
        file.fd = ::open(name.constData(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    } while (file.fd < 0 && errno == EINTR);
    if (file.fd < 0)
        return fail(systemError("cannot open"));

    // Two updaters may finish a run at the same moment; the lock keeps the
    // check for a torn end and the write together.
    while (::flock(file.fd, LOCK_EX) != 0) {
        if (errno != EINTR)
            return fail(systemError("cannot lock"));
    }

    struct stat info {};
    if (::fstat(file.fd, &info) != 0)
        return fail(systemError("cannot examine"));
    if (info.st_size > 0) {
        char last = '\n';
        if (::pread(file.fd, &last, 1, info.st_size - 1) != 1)
            return fail(systemError("cannot read the end of"));
        // The previous writer was cut off mid-line: end that line here, so the
        // damage stays on it and this record is whole.
        if (last != '\n')
            line.prepend('\n');
    }

    // One write of the whole line; a short write only happens when the disk
    // is full or on a signal, and the rest is then written straight after.
    qsizetype written = 0;
    while (written < line.size()) {
        const ssize_t n = ::write(file.fd, line.constData() + written, size_t(line.size() - written));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return fail(systemError("cannot write"));
        }
        written += n;
    }
    if (::fsync(file.fd) != 0)
        return fail(systemError("cannot flush"));
    if (!existed)
        syncFolder(QFileInfo(m_path).absolutePath());
    return true;
}

UpdateRecordFile::Contents UpdateRecordFile::read() const
{
    Contents contents;
    QFile file(m_path);
    if (!file.exists())
        return contents;
    if (!file.open(QIODevice::ReadOnly)) {
        contents.error = file.errorString();
        return contents;
    }
    const QByteArray data = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        contents.error = file.errorString();
        return contents;
    }

    int number = 0;
    qsizetype start = 0;
    while (start < data.size()) {
        qsizetype end = data.indexOf('\n', start);
        if (end < 0)
            end = data.size();
        ++number;
        const QByteArray line = data.mid(start, end - start).trimmed();
        start = end + 1;
        if (line.isEmpty())
            continue;
        QJsonParseError parseError{};
        const QJsonDocument document = QJsonDocument::fromJson(line, &parseError);
        const std::optional<UpdateRecord> record = parseError.error == QJsonParseError::NoError
                && document.isObject()
            ? UpdateRecord::fromJson(document.object())
            : std::nullopt;
        if (record)
            contents.records.append(*record);
        else
            contents.damagedLines.append(number);
    }
    return contents;
}
