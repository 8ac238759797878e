// Whatever comes back on a Vireo Player's serial line, whole, cut or in
// pieces: a reply is taken only from a frame that arrived whole, a value only
// when it is closed. And whatever a file is called, the request that records
// its name is one well-formed frame whose JSON gives the name back.
#include "SilentPrompter.h"

#include "usb/Device_VireoPlayer.h"
#include "usb/HCC_HID.h"
#include "usb/ScriptedSerialPort.h"
#include "usb/SimulatedHidDevices.h"
#include "usb/VireoFrame.h"
#include "usb/VireoProgress.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdint>
#include <cstdlib>

namespace {

void check(bool holds)
{
    if (!holds)
        std::abort();
}

// A value the reader hands over is closed, and came from the line.
void checkValue(const QString &value, const QByteArray &stream)
{
    check(!value.contains(QLatin1Char('"')));
    check(value.isEmpty() || stream.contains(value.toLatin1()));
}

void checkNameRequest(const QByteArray &frame, const QString &name)
{
    const VireoFrame::Header header = VireoFrame::header(frame);
    check(header.totalLength == frame.size() && header.servicePort == VireoFrame::kHttpPort);
    check(header.checksum == VireoFrame::checksum(frame));
    QByteArray payload = frame.mid(VireoFrame::kHeaderSize);
    check(payload.endsWith('\0'));
    payload.chop(1);
    for (const char c : payload)
        check(uchar(c) < 0x80);
    const qsizetype bodyAt = payload.indexOf("\r\n\r\n");
    check(bodyAt > 0);
    const QByteArray body = payload.mid(bodyAt + 4);
    check(payload.contains("Content-Length: " + QByteArray::number(body.size()) + "\r\n"));
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(body, &error);
    check(error.error == QJsonParseError::NoError && document.isObject());
    check(document.object().value(QStringLiteral("mfg_log_2")).toString() == name);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static int argc = 1;
    static char name[] = "fuzz_vireo_replies";
    static char *argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    static SilentPrompter prompter;
    static SimulatedHidDevices hidDevices;
    static HCC_HID hid(hidDevices);
    static VireoProgress progress(prompter);

    if (size == 0)
        return 0;
    // The first byte says how the rest arrives: in pieces of that many bytes,
    // or at once.
    const int pieceSize = data[0];
    const QByteArray stream(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1));
    QList<QByteArray> pieces;
    for (qsizetype at = 0; at < stream.size(); at += pieceSize ? pieceSize : stream.size())
        pieces.append(stream.mid(at, pieceSize ? pieceSize : stream.size()));

    ScriptedSerialPort line;
    line.addReply(pieces);
    Device_VireoPlayer device(nullptr, prompter, line, hid, progress);
    // No waiting: what has not arrived when it is looked for never does.
    VireoTimings now;
    now.replyWindowMs = now.nextFrameMs = now.bootLoaderPollMs = 0;
    now.bootLoaderPollRounds = 0;
    device.setTimings(now);
    device.setPort(line.entry());

    VireoDescriptor descriptor;
    device.getDescriptor(descriptor);
    for (const QString *value : {&descriptor.serialNumber, &descriptor.productString,
                                 &descriptor.productionDate, &descriptor.firmwareVersion})
        checkValue(*value, stream);
    const QString comparable = Device_VireoPlayer::comparableVersion(descriptor.firmwareVersion);
    check(comparable.isNull() || comparable.count(QLatin1Char('.')) == 2);

    // What is left on the line is the next request's reply; the request
    // itself carries the line's bytes as a file name.
    const QString fileName = QString::fromUtf8(stream.left(100));
    device.setMfgValue(QStringLiteral("mfg_log_2"), fileName);
    check(line.written().size() == 2);
    checkNameRequest(line.written().last(), fileName);
    const QByteArray reply = device.exchange(Device_VireoPlayer::deleteRequest(QStringLiteral("playback.json")));
    check(reply.size() <= VireoFrame::kMaxPayload && (reply.isEmpty() || stream.contains(reply)));
    return 0;
}
