#pragma once

#include <QByteArray>
#include <QtGlobal>

// Intel HEX text of an image for the benchmarks: 16-byte data records from
// address 0, extended address records at every 64 KiB, the end-of-file record.
namespace BenchHex {

inline void appendRecord(QByteArray &text, quint8 type, quint16 address, const uchar *data, int count)
{
    static constexpr char hex[] = "0123456789ABCDEF";
    quint8 sum = quint8(count + (address >> 8) + address + type);
    auto put = [&text](quint8 b) {
        text.append(hex[b >> 4]);
        text.append(hex[b & 0xF]);
    };
    text.append(':');
    put(quint8(count));
    put(quint8(address >> 8));
    put(quint8(address));
    put(type);
    for (int i = 0; i < count; ++i) {
        put(data[i]);
        sum += data[i];
    }
    put(quint8(-sum));
    text.append('\n');
}

inline QByteArray hexText(const QByteArray &image)
{
    QByteArray text;
    text.reserve(qsizetype(image.size()) * 45 / 16 + 64);
    const auto *bytes = reinterpret_cast<const uchar *>(image.constData());
    for (qsizetype at = 0; at < image.size(); at += 16) {
        if (at % 0x10000 == 0) {
            const uchar upper[2] = {uchar(at >> 24), uchar(at >> 16)};
            appendRecord(text, 4, 0, upper, 2);
        }
        appendRecord(text, 0, quint16(at), bytes + at, int(qMin<qsizetype>(16, image.size() - at)));
    }
    appendRecord(text, 1, 0, nullptr, 0);
    return text;
}

} // namespace BenchHex
