// What the TFTP thread makes of the datagrams a controller sends, without a
// socket: each is read as the thread reads it, and a write and a read are
// moved on only by the packet each waits for.
// Input: datagrams, each preceded by its length (two bytes, big-endian);
// the last one takes what is left.
#include "ethernet/TftpPacket.h"

#include <QByteArray>

#include <cstdint>
#include <cstdlib>

namespace {

void check(bool ok)
{
    if (!ok)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size)
{
    const auto *data = reinterpret_cast<const char *>(bytes);
    int writeBlock = 0;       // the block whose acknowledgement a write waits for
    int readBlock = 1;        // the block a read waits for
    QByteArray file;          // what the read took
    constexpr qsizetype kCapacity = 4096;
    bool readEnded = false;

    size_t at = 0;
    while (at < size) {
        size_t length = size - at;
        if (length >= 2) {
            const size_t announced = (size_t(bytes[at]) << 8) | bytes[at + 1];
            at += 2;
            length = std::min(announced, size - at);
        }
        // An exact copy, so that any read past the datagram is seen.
        const QByteArray datagram(data + at, qsizetype(length));
        at += length;

        const TftpPacket packet = TftpPacket::read(datagram.constData(), datagram.size());
        const bool readable = datagram.size() >= TftpPacket::kHeaderBytes && datagram.size() <= TftpPacket::kMaxBytes;
        check(readable == (packet.kind() != TftpPacket::Kind::Unreadable));
        check(!readable || packet.payload().size() == datagram.size() - TftpPacket::kHeaderBytes);
        check(!packet.describe(TftpPacket::kAck, writeBlock, "receiveAck").isEmpty());
        check(!packet.describe(TftpPacket::kData, readBlock, "receiveData").isEmpty());
        const QString message = packet.errorMessage();
        check(message.size() <= TftpPacket::kMaxDataBytes);
        for (const QChar c : message)
            check(c.unicode() >= 0x20 && (c.unicode() < 0x7F || c.unicode() >= 0xA0));
        check(message.isEmpty() || packet.kind() == TftpPacket::Kind::Error);

        // A write moves on only at the acknowledgement of the block it sent.
        if (packet.acknowledges(writeBlock)) {
            check(packet.kind() == TftpPacket::Kind::Ack && packet.block() == writeBlock);
            writeBlock = (writeBlock + 1) & 0xFFFF;
        }

        // A read keeps exactly the data of the block it waits for, within
        // its buffer, and ends at a short block.
        if (!readEnded && packet.carries(readBlock)) {
            const QByteArrayView payload = packet.payload();
            check(payload.size() <= TftpPacket::kMaxDataBytes);
            if (file.size() + payload.size() > kCapacity) {
                readEnded = true;
                continue;
            }
            file.append(payload.data(), payload.size());
            readEnded = payload.size() < TftpPacket::kMaxDataBytes;
            readBlock = (readBlock + 1) & 0xFFFF;
        }
    }
    check(file.size() <= kCapacity);
    return 0;
}
