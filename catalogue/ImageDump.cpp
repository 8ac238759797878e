#include "catalogue/ImageDump.h"

#include <QFile>

namespace {

constexpr char kHex[] = "0123456789ABCDEF";
constexpr qsizetype kRowsPerChunk = 64 * 1024; // about 2.6 MB of text per write

} // namespace

QByteArray ImageDump::rows(const QByteArray &image, qsizetype first, qsizetype count)
{
    first = qBound<qsizetype>(0, first, image.size() / 16);
    count = qBound<qsizetype>(0, count, image.size() / 16 - first);
    QByteArray text(count * (16 + 1 + 32 + 2), Qt::Uninitialized);
    char *out = text.data();
    const auto *bytes = reinterpret_cast<const uchar *>(image.constData());
    for (qsizetype row = first; row < first + count; ++row) {
        const quint64 offset = quint64(row) * 16;
        int digits = 4;
        while (digits < 16 && (offset >> (4 * digits)) != 0)
            ++digits;
        for (int d = digits - 1; d >= 0; --d)
            *out++ = kHex[(offset >> (4 * d)) & 0xF];
        *out++ = ' ';
        const uchar *b = bytes + row * 16;
        for (int i = 0; i < 16; ++i) {
            *out++ = kHex[b[i] >> 4];
            *out++ = kHex[b[i] & 0xF];
        }
        *out++ = '\r';
        *out++ = '\n';
    }
    text.truncate(out - text.constData());
    return text;
}

bool ImageDump::write(const QByteArray &image, const QString &fileName)
{
    QFile file(fileName);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered))
        return false;
    // Written in large pieces: one buffer for the whole text would double the
    // memory a big image needs, without being faster.
    const qsizetype total = image.size() / 16;
    for (qsizetype first = 0; first < total; first += kRowsPerChunk) {
        const QByteArray text = rows(image, first, kRowsPerChunk);
        if (file.write(text) != text.size())
            return false;
    }
    return true;
}
