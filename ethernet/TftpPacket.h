#pragma once

#include <QByteArrayView>
#include <QString>

// One datagram from a TFTP peer, read without trusting any of it: the TFTP
// thread hands every datagram it receives to read() and decides from what
// comes back. Holds a view of the datagram, which must outlive it.
class TftpPacket
{
public:
    static constexpr int kReadRequest = 1;
    static constexpr int kWriteRequest = 2;
    static constexpr int kData = 3;
    static constexpr int kAck = 4;
    static constexpr int kError = 5;
    static constexpr int kHeaderBytes = 4;
    static constexpr int kMaxDataBytes = 512;
    static constexpr int kMaxBytes = kHeaderBytes + kMaxDataBytes;

    enum class Kind {
        Data,
        Ack,
        Error,
        Other,     // well-formed, with an opcode no client is sent
        Unreadable // shorter than the header or longer than any packet
    };

    static TftpPacket read(const char *datagram, qsizetype length);

    Kind kind() const { return m_kind; }
    int opcode() const { return m_opcode; }
    // DATA and ACK: the block number.
    int block() const { return m_number; }
    // ERROR: the peer's code, and its text up to the terminator (or the end
    // of the datagram) with control characters made spaces, so that it can
    // go into a log line, a box or the record as it is.
    int errorCode() const { return m_number; }
    QString errorMessage() const;
    // DATA: the bytes after the header.
    QByteArrayView payload() const { return m_payload; }

    // Only the packet for exactly this block moves a transfer on: an earlier
    // one is a duplicate, a later one was never asked for.
    bool acknowledges(int block) const { return m_kind == Kind::Ack && m_number == (block & 0xFFFF); }
    bool carries(int block) const { return m_kind == Kind::Data && m_number == (block & 0xFFFF); }

    // The status text for a packet that is not the one awaited (an ACK or a
    // DATA of awaitedBlock); who names the waiting side in it.
    QString describe(int awaitedOpcode, int awaitedBlock, const char *who) const;

private:
    Kind m_kind = Kind::Unreadable;
    int m_opcode = -1;
    int m_number = -1;
    qsizetype m_length = 0;
    QByteArrayView m_payload;
};
