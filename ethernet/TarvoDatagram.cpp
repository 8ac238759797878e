#include "ethernet/TarvoDatagram.h"

#include <cstring>

namespace TarvoDatagram {

namespace {

quint32 le32(const char *p)
{
    const auto *u = reinterpret_cast<const uchar *>(p);
    return quint32(u[0]) | quint32(u[1]) << 8 | quint32(u[2]) << 16 | quint32(u[3]) << 24;
}

quint16 le16(const char *p)
{
    const auto *u = reinterpret_cast<const uchar *>(p);
    return quint16(u[0] | u[1] << 8);
}

quint32 be32(const char *p)
{
    const auto *u = reinterpret_cast<const uchar *>(p);
    return quint32(u[0]) << 24 | quint32(u[1]) << 16 | quint32(u[2]) << 8 | quint32(u[3]);
}

// Copies the text at data[from] up to its NUL, the end of the datagram or
// kTextField - 1 characters, whichever comes first; returns the count copied.
int copyText(const char *data, int length, int from, char *field)
{
    int n = 0;
    while (from + n < length && n < kTextField - 1 && data[from + n] != '\0') {
        field[n] = data[from + n];
        ++n;
    }
    field[n] = '\0';
    return n;
}

} // namespace

QByteArray discoveryRequest(quint32 addressNetworkOrder)
{
    QByteArray request(16, '\0');
    char *p = request.data();
    p[0] = char(kMagic & 0xFF);
    p[1] = char((kMagic >> 8) & 0xFF);
    p[2] = char((kMagic >> 16) & 0xFF);
    p[3] = char((kMagic >> 24) & 0xFF);
    p[4] = 1;
    p[6] = char(kTypeDiscoveryRequest);
    std::memcpy(p + 12, &addressNetworkOrder, 4);
    return request;
}

int typeOf(const char *data, int length)
{
    return length >= kHeaderBytes ? le16(data + 6) : -1;
}

bool decodeReply(const char *data, int length, DiscoveryReply &out)
{
    if (length < kReplyFixedBytes || typeOf(data, length) != kTypeDiscoveryReply)
        return false;
    std::memcpy(out.mac, data + 16, 6);
    out.ip = be32(data + 12);
    out.ver = le16(data + 22);
    out.sn = le32(data + 24);
    out.uni = le32(data + 28);
    const int verLength = copyText(data, length, kReplyFixedBytes, out.verstring);
    // The identity follows the version text's terminator; a version text cut
    // at the field's size is taken as if its terminator came next.
    copyText(data, length, kReplyFixedBytes + verLength + 1, out.idstring);
    return true;
}

bool decodeAnnounce(const char *data, int length, Announce &out)
{
    if (length < kAnnounceBytes || typeOf(data, length) != kTypeAnnounce)
        return false;
    std::memcpy(out.mac, data + 16, 6);
    out.ip = be32(data + 12);
    out.ver = le16(data + 22);
    out.sn = le32(data + 24);
    out.devType = le16(data + 28);
    out.anncType = le16(data + 30);
    return true;
}

bool decodeButton(const char *data, int length, Button &out)
{
    if (length < kButtonBytes || typeOf(data, length) != kTypeButton)
        return false;
    out.show = int(qint8(data[12]));
    out.button = int(qint8(data[13]));
    out.sn = le32(data + 16);
    return true;
}

} // namespace TarvoDatagram
