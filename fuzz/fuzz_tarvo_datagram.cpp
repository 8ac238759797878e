// The discovery protocol's datagrams as any peer on the network may send
// them: every decoder over arbitrary bytes. Whatever comes in, nothing is
// read past the datagram, every text ends within its field, and a datagram
// is taken exactly when its type and size allow.
#include "ethernet/TarvoDatagram.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

void check(bool ok)
{
    if (!ok)
        std::abort();
}

// A decoded text: terminated within the field, and what the datagram holds
// from `from` on, up to its terminator or end.
int checkText(const char *field, const char *data, int length, int from)
{
    const void *end = std::memchr(field, '\0', TarvoDatagram::kTextField);
    check(end != nullptr);
    const int n = int(static_cast<const char *>(end) - field);
    check(n == 0 || (from + n <= length && std::memcmp(field, data + from, size_t(n)) == 0));
    return n;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size)
{
    // The drain reads into a buffer of this size; more never reaches the decoders.
    if (size > 4096)
        return 0;
    const auto *data = reinterpret_cast<const char *>(bytes);
    const int length = int(size);
    const int type = TarvoDatagram::typeOf(data, length);
    check((type < 0) == (length < TarvoDatagram::kHeaderBytes));

    TarvoDatagram::DiscoveryReply reply;
    const bool isReply = TarvoDatagram::decodeReply(data, length, reply);
    check(isReply == (type == TarvoDatagram::kTypeDiscoveryReply && length >= TarvoDatagram::kReplyFixedBytes));
    if (isReply) {
        check(std::memcmp(reply.mac, data + 16, 6) == 0);
        const int verLength = checkText(reply.verstring, data, length, TarvoDatagram::kReplyFixedBytes);
        checkText(reply.idstring, data, length, TarvoDatagram::kReplyFixedBytes + verLength + 1);
    }

    TarvoDatagram::Announce announce;
    const bool isAnnounce = TarvoDatagram::decodeAnnounce(data, length, announce);
    check(isAnnounce == (type == TarvoDatagram::kTypeAnnounce && length >= TarvoDatagram::kAnnounceBytes));
    if (isAnnounce)
        check(std::memcmp(announce.mac, data + 16, 6) == 0);

    TarvoDatagram::Button button;
    const bool isButton = TarvoDatagram::decodeButton(data, length, button);
    check(isButton == (type == TarvoDatagram::kTypeButton && length >= TarvoDatagram::kButtonBytes));
    if (isButton)
        check(button.show >= -128 && button.show <= 127 && button.button >= -128 && button.button <= 127);
    return 0;
}
