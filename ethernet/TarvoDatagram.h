#pragma once

#include <QByteArray>
#include <QtGlobal>

// The discovery protocol's datagrams. Multi-byte fields are little-endian
// except IPv4 addresses, which travel in network byte order. Every datagram
// starts with magic, version and type; only the type is looked at on receipt.
namespace TarvoDatagram {

constexpr quint32 kMagic = 0x4ADC0104;
constexpr quint16 kTypeDiscoveryRequest = 1;
constexpr quint16 kTypeDiscoveryReply = 2;
constexpr quint16 kTypeAnnounce = 8;
constexpr quint16 kTypeButton = 0x0302;

// Fixed parts: a datagram shorter than its type's is dropped.
constexpr int kHeaderBytes = 8;
constexpr int kReplyFixedBytes = 32;
constexpr int kAnnounceBytes = 32;
constexpr int kButtonBytes = 20;
// Each text field holds at most this many characters and a NUL.
constexpr int kTextField = 512;

struct DiscoveryReply {
    char mac[6];
    unsigned long ip; // host order
    unsigned short ver;
    unsigned long sn;
    unsigned long uni;
    char verstring[kTextField];
    char idstring[kTextField];
};

struct Announce {
    char mac[6];
    unsigned long ip; // host order
    unsigned short ver;
    unsigned long sn;
    unsigned short devType;
    unsigned short anncType;
};

struct Button {
    unsigned long sn;
    int button;
    int show;
};

// The 16-byte request carrying addressNetworkOrder at offset 12.
QByteArray discoveryRequest(quint32 addressNetworkOrder);

// The type field, or -1 for a datagram too short to carry one.
int typeOf(const char *data, int length);

// Each false when the datagram is not of that type or shorter than its fixed
// part. Texts are cut at the end of the datagram as well as at their NUL.
bool decodeReply(const char *data, int length, DiscoveryReply &out);
bool decodeAnnounce(const char *data, int length, Announce &out);
bool decodeButton(const char *data, int length, Button &out);

} // namespace TarvoDatagram
