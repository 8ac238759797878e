#pragma once

#include <QByteArray>

// The 8-byte frame around every message on the Vireo Player's serial line,
// in both directions. All fields are 16-bit little-endian:
//   0 source (0 from us)   2 service port   4 total length   6 checksum
// followed by the payload.
class VireoFrame
{
public:
    static constexpr int kHeaderSize = 8;
    static constexpr int kMaxPayload = 1024;
    static constexpr quint16 kHttpPort = 80;
    static constexpr quint16 kBootLoaderPort = 22;

    struct Header {
        quint16 source = 0;
        quint16 servicePort = 0;
        quint16 totalLength = 0;
        quint16 checksum = 0;
    };

    // Ones' complement of the ones'-complement sum of the frame's 16-bit
    // little-endian words, the checksum field counted as 0; an odd last byte
    // counts as the high byte of a word.
    static quint16 checksum(const QByteArray &frame);
    // A frame from us: source 0, the payload, its checksum. The payload must
    // not exceed kMaxPayload + 1 bytes (a request and its terminator).
    static QByteArray build(quint16 servicePort, const QByteArray &payload);
    // The header at the start of bytes, which must hold kHeaderSize bytes.
    static Header header(const QByteArray &bytes);
    // Frames the player sends while it works; they carry no reply.
    static bool isStatus(const Header &h)
    {
        return (h.source == 0 || h.source == 4) && h.totalLength == kHeaderSize + 4;
    }
};
