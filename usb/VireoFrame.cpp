#include "usb/VireoFrame.h"

#include <QtEndian>

quint16 VireoFrame::checksum(const QByteArray &frame)
{
    const auto *bytes = reinterpret_cast<const uchar *>(frame.constData());
    const qsizetype length = frame.size();
    auto byteAt = [&](qsizetype i) -> quint32 {
        return i == 6 || i == 7 ? 0 : bytes[i]; // the checksum field itself
    };
    quint32 sum = 0;
    auto add = [&sum](quint32 word) {
        sum += word;
        if (sum > 0xFFFF)
            sum = (sum & 0xFFFF) + 1;
    };
    qsizetype i = 0;
    for (; i + 1 < length; i += 2)
        add(byteAt(i) | byteAt(i + 1) << 8);
    if (i < length)
        add(byteAt(i) << 8);
    return quint16(~sum);
}

QByteArray VireoFrame::build(quint16 servicePort, const QByteArray &payload)
{
    QByteArray frame(kHeaderSize, '\0');
    frame.append(payload);
    auto *header = reinterpret_cast<uchar *>(frame.data());
    qToLittleEndian<quint16>(0, header);
    qToLittleEndian<quint16>(servicePort, header + 2);
    qToLittleEndian<quint16>(quint16(frame.size()), header + 4);
    qToLittleEndian<quint16>(checksum(frame), header + 6);
    return frame;
}

VireoFrame::Header VireoFrame::header(const QByteArray &bytes)
{
    Header h;
    if (bytes.size() < kHeaderSize)
        return h;
    const auto *b = reinterpret_cast<const uchar *>(bytes.constData());
    h.source = qFromLittleEndian<quint16>(b);
    h.servicePort = qFromLittleEndian<quint16>(b + 2);
    h.totalLength = qFromLittleEndian<quint16>(b + 4);
    h.checksum = qFromLittleEndian<quint16>(b + 6);
    return h;
}
