#include "catalogue/ImageDump.h"

#include "base/LogCategories.h"
#include "base/OutputFolder.h"

#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QTemporaryFile>
#include <QThreadPool>
#include <QWaitCondition>

#include <array>
#include <cstdio>
#include <cstring>
#include <optional>
#include <utility>

namespace {

constexpr char kHex[] = "0123456789ABCDEF";
constexpr qsizetype kMaxRowLength = 16 + 1 + 32 + 2;
// Small enough to stay in cache while the next piece is formatted.
constexpr qsizetype kRowsPerWrite = 4096;

// The two digits of every byte, ready to copy.
constexpr std::array<std::array<char, 2>, 256> makePairTable()
{
    std::array<std::array<char, 2>, 256> t{};
    for (int b = 0; b < 256; ++b)
        t[b] = {kHex[b >> 4], kHex[b & 0xF]};
    return t;
}
constexpr auto kPair = makePairTable();

// The dump waiting to be written in the background, and whether a worker runs.
struct Background {
    QMutex mutex;
    QWaitCondition idle;
    std::optional<std::pair<QByteArray, QString>> pending;
    bool busy = false;
};

Background &background()
{
    static Background b;
    return b;
}

} // namespace

char *ImageDump::formatRows(const uchar *image, qsizetype first, qsizetype count, char *out)
{
    for (qsizetype row = first; row < first + count; ++row) {
        const quint64 offset = quint64(row) * 16;
        int digits = 4;
        while (digits < 16 && (offset >> (4 * digits)) != 0)
            ++digits;
        for (int d = digits - 1; d >= 0; --d)
            *out++ = kHex[(offset >> (4 * d)) & 0xF];
        *out++ = ' ';
        const uchar *b = image + row * 16;
        for (int i = 0; i < 16; ++i, out += 2)
            std::memcpy(out, kPair[b[i]].data(), 2);
        *out++ = '\r';
        *out++ = '\n';
    }
    return out;
}

QByteArray ImageDump::rows(const QByteArray &image, qsizetype first, qsizetype count)
{
    first = qBound<qsizetype>(0, first, image.size() / 16);
    count = qBound<qsizetype>(0, count, image.size() / 16 - first);
    QByteArray text(count * kMaxRowLength, Qt::Uninitialized);
    const char *end = formatRows(reinterpret_cast<const uchar *>(image.constData()), first, count, text.data());
    text.truncate(end - text.constData());
    return text;
}

QString ImageDump::defaultFileName()
{
    return OutputFolder::filePath(QStringLiteral("output.txt"));
}

bool ImageDump::write(const QByteArray &image, const QString &fileName)
{
    // Written beside the old dump and renamed over it only when complete: a
    // failed write leaves the old dump whole, never a mix of old and new. The
    // file is not synced to disk: it is a diagnostic, rewritten at every load,
    // and a sync of some megabytes held the window longer than reading the
    // image did.
    QTemporaryFile file(fileName + QStringLiteral(".XXXXXX"));
    if (!file.open())
        return false;
    // One buffer, reused piece by piece: the whole text at once would cost
    // page faults and twice the memory, for nothing.
    const qsizetype total = image.size() / 16;
    QByteArray buffer(qMin(total, kRowsPerWrite) * kMaxRowLength, Qt::Uninitialized);
    const auto *bytes = reinterpret_cast<const uchar *>(image.constData());
    for (qsizetype first = 0; first < total; first += kRowsPerWrite) {
        const qsizetype count = qMin(kRowsPerWrite, total - first);
        const char *end = formatRows(bytes, first, count, buffer.data());
        const qint64 length = end - buffer.constData();
        if (file.write(buffer.constData(), length) != length)
            return false;
    }
    if (!file.flush())
        return false;
    // The replaced dump keeps its permissions; a new one gets those a file
    // created by the program would have, not the temporary file's owner-only ones.
    const QFileDevice::Permissions permissions = QFile::exists(fileName)
        ? QFile::permissions(fileName)
        : QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadUser
            | QFileDevice::WriteUser | QFileDevice::ReadGroup | QFileDevice::ReadOther;
    file.setPermissions(permissions);
    file.close();
    // rename() replaces the old file in one step, which QFile::rename() does not do.
    if (std::rename(QFile::encodeName(file.fileName()).constData(),
                    QFile::encodeName(fileName).constData())
        != 0)
        return false;
    file.setAutoRemove(false);
    qCDebug(lcHex).noquote() << "Image dump written:" << fileName;
    return true;
}

void ImageDump::writeInBackground(const QByteArray &image, const QString &fileName)
{
    Background &b = background();
    const QString path = QFileInfo(fileName).absoluteFilePath();
    QMutexLocker lock(&b.mutex);
    b.pending.emplace(image, path);
    if (b.busy)
        return; // the running worker takes it next
    b.busy = true;
    // The application waits for the global pool as it ends, so a dump under
    // way is finished, not cut.
    QThreadPool::globalInstance()->start([] {
        Background &b = background();
        QMutexLocker lock(&b.mutex);
        while (b.pending) {
            const std::pair<QByteArray, QString> job = std::move(*b.pending);
            b.pending.reset();
            lock.unlock();
            write(job.first, job.second);
            lock.relock();
        }
        b.busy = false;
        b.idle.wakeAll();
    });
}

void ImageDump::waitForBackgroundWrites()
{
    Background &b = background();
    QMutexLocker lock(&b.mutex);
    while (b.busy)
        b.idle.wait(&b.mutex);
}
