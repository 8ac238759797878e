#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>

// Intel HEX text for controller images: little-endian words at byte offsets
// (extended address records where needed), fillerBytes of counting data from
// offset 0 so the file spans many TFTP blocks, and the end-of-file record.
inline QByteArray controllerHex(const QList<QPair<quint32, quint32>> &words, int fillerBytes = 0)
{
    QByteArray text;
    int upper = -1;
    auto record = [&](quint32 address, const QByteArray &data) {
        if (int(address >> 16) != upper) {
            upper = int(address >> 16);
            const char extBytes[] = {char(2), 0, 0, char(4), char(upper >> 8), char(upper & 0xFF)};
            const QByteArray ext(extBytes, 6);
            quint8 sum = 0;
            for (char c : ext)
                sum += quint8(c);
            text += ':' + (ext + char(quint8(-sum))).toHex().toUpper() + '\n';
        }
        QByteArray r;
        r.append(char(data.size())).append(char((address >> 8) & 0xFF)).append(char(address & 0xFF)).append(char(0));
        r.append(data);
        quint8 sum = 0;
        for (char c : r)
            sum += quint8(c);
        text += ':' + (r + char(quint8(-sum))).toHex().toUpper() + '\n';
    };
    for (int at = 0; at < fillerBytes; at += 16) {
        QByteArray data;
        for (int i = at; i < qMin(at + 16, fillerBytes); ++i)
            data.append(char(i * 7));
        record(quint32(at), data);
    }
    for (const auto &[offset, value] : words) {
        QByteArray data;
        for (int i = 0; i < 4; ++i)
            data.append(char((value >> (8 * i)) & 0xFF));
        record(offset, data);
    }
    text += ":00000001FF\n";
    return text;
}
