#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>

// Intel HEX text holding each chunk at its address (extended linear address
// records where the upper half changes), then the end-of-file record.
inline QString hexText(const QMap<quint32, QByteArray> &chunks)
{
    QByteArray text;
    const auto record = [&text](quint8 type, quint16 address, const QByteArray &data) {
        QByteArray bytes;
        bytes.append(char(data.size()));
        bytes.append(char(address >> 8));
        bytes.append(char(address & 0xFF));
        bytes.append(char(type));
        bytes.append(data);
        quint8 sum = 0;
        for (char c : std::as_const(bytes))
            sum += quint8(c);
        bytes.append(char(quint8(-sum)));
        text += ':' + bytes.toHex().toUpper() + '\n';
    };
    int upper = -1;
    for (auto it = chunks.cbegin(); it != chunks.cend(); ++it) {
        for (qsizetype done = 0; done < it.value().size(); done += 16) {
            const quint32 address = it.key() + quint32(done);
            if (int(address >> 16) != upper) {
                upper = int(address >> 16);
                record(0x04, 0, QByteArray::fromHex(QByteArray::number(upper, 16).rightJustified(4, '0')));
            }
            record(0x00, quint16(address), it.value().mid(done, 16));
        }
    }
    text += ":00000001FF\n";
    return QString::fromLatin1(text);
}

inline QByteArray word32(quint32 value)
{
    QByteArray bytes;
    for (int i = 0; i < 4; ++i)
        bytes.append(char((value >> (8 * i)) & 0xFF));
    return bytes;
}

// An image whose pages all differ: each page starts with its number.
inline QMap<quint32, QByteArray> numberedPages(quint32 pages, quint32 pageSize)
{
    QMap<quint32, QByteArray> chunks;
    for (quint32 p = 0; p < pages; ++p)
        chunks.insert(p * pageSize, word32(0xC0DE0000u | p));
    return chunks;
}
