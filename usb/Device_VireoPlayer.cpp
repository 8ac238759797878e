#include "usb/Device_VireoPlayer.h"

#include "base/LogCategories.h"
#include "base/Prompter.h"
#include "usb/DeviceNodeAccess.h"
#include "usb/EventWait.h"
#include "usb/HCC_HID.h"
#include "usb/SerialLine.h"
#include "usb/VireoFrame.h"
#include "usb/VireoProgress.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QWidget>
#include <QtEndian>

#include <algorithm>

const char Device_VireoPlayer::kHostHeaderValue[] = "vireo-player.local";

namespace {

const char kUserAgentLine[] = "User-Agent: Pellora/3.0\r\n";
const char kDeleteConfirmation[] = "OK\r\nServer: Vireo Player\r\n";

QString hostLine()
{
    return QStringLiteral("Host: ") + QLatin1String(Device_VireoPlayer::kHostHeaderValue)
        + QStringLiteral("\r\n");
}

} // namespace

Device_VireoPlayer::Device_VireoPlayer(QWidget *parent, Prompter &prompter, SerialPorts &ports,
                                       HCC_HID &hid, VireoProgress &progress)
    : m_parent(parent), m_prompter(prompter), m_ports(ports), m_hid(hid), m_progress(progress)
{
    setObjectName(QStringLiteral("Device_VireoPlayer"));
    if (parent
        && parent->metaObject()->indexOfSignal("signal_log(LOGPRIORITY,LOGTYPE,QString,QString)") >= 0)
        connect(this, SIGNAL(log(LOGPRIORITY, LOGTYPE, QString, QString)), parent,
                SIGNAL(signal_log(LOGPRIORITY, LOGTYPE, QString, QString)));
}

Device_VireoPlayer::~Device_VireoPlayer() = default;

void Device_VireoPlayer::logLine(LOGPRIORITY priority, const QString &text)
{
    emit log(priority, LOGTYPE_GENERAL, objectName(), text);
}

const QStringList &Device_VireoPlayer::factoryShowFiles()
{
    static const QStringList files{
        QStringLiteral("chasing_rainbow.json"), QStringLiteral("color_wash.json"),
        QStringLiteral("custom_rainbow.json"),  QStringLiteral("fixed_color.json"),
        QStringLiteral("fixed_white.json"),     QStringLiteral("playback.json"),
        QStringLiteral("random_color.json"),
    };
    return files;
}

QString Device_VireoPlayer::descriptorRequest()
{
    return QStringLiteral("GET /v1/descriptor.json HTTP/1.1\r\n") + hostLine()
        + QLatin1String(kUserAgentLine) + QStringLiteral("\r\n");
}

QString Device_VireoPlayer::mfgRequest(const QString &key, const QString &value)
{
    const QString body = QStringLiteral("{\"%1\":\"%2\"}").arg(jsonString(key), jsonString(value));
    return QStringLiteral("POST /v1/mfg.json HTTP/1.1\r\n") + hostLine() + QLatin1String(kUserAgentLine)
        + QStringLiteral("Content-Length: %1\r\n\r\n").arg(body.size()) + body;
}

QString Device_VireoPlayer::deleteRequest(const QString &name)
{
    return QStringLiteral("DELETE /v1/%1 HTTP/1.1\r\n").arg(name) + hostLine()
        + QLatin1String(kUserAgentLine) + QStringLiteral("\r\n");
}

QByteArray Device_VireoPlayer::requestPayload(const QString &text)
{
    QByteArray payload = text.toLatin1();
    // The player's parser finds the end of a request with a body by its terminator.
    if (!text.startsWith(QLatin1Char('G')))
        payload.append('\0');
    return payload;
}

QString Device_VireoPlayer::jsonString(const QString &text)
{
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        switch (u) {
        case u'"': out += QStringLiteral("\\\""); break;
        case u'\\': out += QStringLiteral("\\\\"); break;
        case u'\b': out += QStringLiteral("\\b"); break;
        case u'\f': out += QStringLiteral("\\f"); break;
        case u'\n': out += QStringLiteral("\\n"); break;
        case u'\r': out += QStringLiteral("\\r"); break;
        case u'\t': out += QStringLiteral("\\t"); break;
        default:
            if (u < 0x20 || u > 0x7E)
                out += QStringLiteral("\\u%1").arg(uint(u), 4, 16, QLatin1Char('0'));
            else
                out += c;
        }
    }
    return out;
}

QString Device_VireoPlayer::jsonValue(const QByteArray &reply, const QString &key, bool *unterminated)
{
    if (unterminated)
        *unterminated = false;
    const qsizetype at = reply.indexOf(key.toLatin1());
    if (at < 0)
        return QString();
    const qsizetype colon = reply.indexOf(':', at);
    if (colon < 0)
        return QString();
    const qsizetype open = reply.indexOf('"', colon);
    if (open < 0)
        return QString();
    const qsizetype close = reply.indexOf('"', open + 1);
    // A value running to the end of the reply may be any prefix of the real
    // one ("2.1.1" of "2.1.10"): it is not used.
    if (close < 0) {
        if (unterminated)
            *unterminated = true;
        return QString();
    }
    return QString::fromLatin1(reply.mid(open + 1, close - open - 1));
}

QString Device_VireoPlayer::imageVersion(const QByteArray &image)
{
    if (image.size() < kImageVersionOffset + 4
        || qFromLittleEndian<quint32>(image.constData() + kImageMagicOffset) != kImageMagic)
        return QString();
    const quint32 v = qFromLittleEndian<quint32>(image.constData() + kImageVersionOffset);
    return QStringLiteral("%1.%2.%3").arg((v >> 16) & 0xFF).arg((v >> 8) & 0xFF).arg(v & 0xFF);
}

QString Device_VireoPlayer::comparableVersion(const QString &descriptorVersion)
{
    const QStringList parts = descriptorVersion.split(QLatin1Char('.'));
    if (parts.size() != 3)
        return QString();
    QStringList numbers;
    for (const QString &part : parts) {
        bool ok = false;
        const uint n = part.toUInt(&ok);
        // Only digits: no sign, blanks or suffix such as "-beta".
        if (!ok || part.isEmpty()
            || !std::all_of(part.begin(), part.end(), [](QChar c) { return c.isDigit() && c.unicode() < 128; }))
            return QString();
        numbers.append(QString::number(n));
    }
    return numbers.join(QLatin1Char('.'));
}

bool Device_VireoPlayer::isPlayerPortName(const QString &portName)
{
    return portName.contains(QLatin1String("ttyACM")) || portName.contains(QLatin1String("ttyUSB"));
}

void Device_VireoPlayer::wait(const std::function<bool()> &done, int timeoutMs)
{
    // A quitting application ends the wait early; nothing more is sent then.
    if (EventWait::until([&] { return m_stopped || done(); }, timeoutMs) == EventWait::Interrupted)
        m_stopped = true;
}

std::unique_ptr<SerialLine> Device_VireoPlayer::openLine()
{
    std::unique_ptr<SerialLine> line = m_ports.line(m_port);
    QString error;
    if (!line || !line->open(error)) {
        qCDebug(lcDevice) << "serial port" << m_port.systemLocation << "not opened:" << error;
        logLine(LOG_SEVERE, tr("Could not open connection to controller. (Is there another "
                               "application connected?)"));
        return nullptr;
    }
    qCDebug(lcDevice) << "port open";
    return line;
}

QByteArray Device_VireoPlayer::readUpTo(SerialLine &line, qint64 count)
{
    if (count <= 0)
        return QByteArray();
    wait([&] { return line.bytesAvailable() >= count; }, m_timings.nextFrameMs);
    return line.read(count);
}

void Device_VireoPlayer::replyCut(const QString &what)
{
    m_replyProblem = what;
    logLine(LOG_WARNING, tr("Incomplete reply from the Vireo Player (%1): the reply is not used.").arg(what));
}

bool Device_VireoPlayer::readReply(SerialLine &line, QByteArray &payload)
{
    for (int frames = 0; frames <= kMaxStatusFrames && !m_stopped; ++frames) {
        const QByteArray head = readUpTo(line, VireoFrame::kHeaderSize);
        if (m_stopped)
            return false;
        if (head.size() < VireoFrame::kHeaderSize) {
            // Nothing more after a status frame is silence, not a cut frame.
            if (!head.isEmpty())
                replyCut(tr("only %1 of the %2 bytes of a frame header arrived")
                             .arg(head.size())
                             .arg(VireoFrame::kHeaderSize));
            return false;
        }
        const VireoFrame::Header header = VireoFrame::header(head);
        if (header.totalLength < VireoFrame::kHeaderSize)
            return false;
        // The whole frame or nothing: a player that stalls mid-frame must not
        // hand over the part that came, which may read as another value.
        const qint64 length = header.totalLength - VireoFrame::kHeaderSize;
        const QByteArray body = readUpTo(line, length);
        if (m_stopped)
            return false;
        if (body.size() < length) {
            replyCut(tr("its reply frame announced %1 bytes, but only %2 arrived")
                         .arg(header.totalLength)
                         .arg(VireoFrame::kHeaderSize + body.size()));
            return false;
        }
        // Players are not held to their checksum; a wrong one is only noted.
        if (lcDevice().isDebugEnabled() && VireoFrame::checksum(head + body) != header.checksum)
            qCDebug(lcDevice) << "reply frame checksum" << Qt::hex << header.checksum << "should be"
                              << VireoFrame::checksum(head + body);
        if (VireoFrame::isStatus(header))
            continue;
        if (body.isEmpty())
            return false;
        payload = body.left(VireoFrame::kMaxPayload);
        qCDebug(lcDevice).noquote() << "Reply:" << QString::fromLatin1(payload);
        return true;
    }
    return false;
}

QByteArray Device_VireoPlayer::transact(SerialLine &line, const QByteArray &frame)
{
    QCoreApplication::processEvents();
    qCDebug(lcDevice) << "writing" << frame.size() << "bytes";
    const qint64 written = line.write(frame);
    qCDebug(lcDevice) << "wrote" << written << "bytes";
    QByteArray reply;
    if (written <= 0 || m_stopped)
        return reply;
    wait([&] { return line.bytesAvailable() > VireoFrame::kHeaderSize; }, m_timings.replyWindowMs);
    if (!m_stopped && line.bytesAvailable() > 0 && !readReply(line, reply)) {
        // Resynchronises the player's frame reader.
        line.sendBreak();
        reply.clear();
    }
    return reply;
}

QByteArray Device_VireoPlayer::exchange(const QString &text)
{
    qCDebug(lcDevice) << "message size:" << text.size();
    if (text.size() > VireoFrame::kMaxPayload) {
        logLine(LOG_SEVERE, tr("Message to Controller too large."));
        return QByteArray();
    }
    const QByteArray frame = VireoFrame::build(VireoFrame::kHttpPort, requestPayload(text));
    m_replyProblem.clear();
    if (m_port.systemLocation.isEmpty() || m_stopped)
        return QByteArray();
    std::unique_ptr<SerialLine> line = openLine();
    if (!line)
        return QByteArray();
    const QByteArray reply = transact(*line, frame);
    line->close();
    qCDebug(lcDevice) << "port closed";
    if (!reply.isEmpty())
        logLine(LOG_FINE, tr("Received reply from Controller."));
    return reply;
}

void Device_VireoPlayer::getDescriptor(VireoDescriptor &out)
{
    const QByteArray reply = exchange(descriptorRequest());
    qCDebug(lcDevice).noquote() << QString::fromLatin1(reply);
    out.problem = m_replyProblem;
    const auto value = [&](const char *key) {
        bool cut = false;
        const QString text = jsonValue(reply, QLatin1String(key), &cut);
        if (cut) {
            const QString why = tr("%1 has no closing quote").arg(QLatin1String(key));
            logLine(LOG_WARNING, tr("Value not used from the Vireo Player's descriptor: %1.").arg(why));
            if (out.problem.isEmpty())
                out.problem = why;
        }
        return text;
    };
    out.serialNumber = value("serial_number");
    out.productString = value("product_string");
    out.productionDate = value("production_date");
    out.firmwareVersion = value("firmware_version");
}

bool Device_VireoPlayer::setMfgValue(const QString &key, const QString &value)
{
    if (exchange(mfgRequest(key, value)).isEmpty()) {
        logLine(LOG_WARNING, tr("Could not set %2: the Vireo Player did not answer.").arg(key));
        return false;
    }
    logLine(LOG_INFO, tr("Set %2: %1.").arg(value, key));
    return true;
}

bool Device_VireoPlayer::deleteFile(const QString &name)
{
    const QString title = tr("Vireo Player Bootloader");
    const QString failed = tr("Failed to restore Factory Settings.");
    QCoreApplication::processEvents();
    QByteArray reply = exchange(deleteRequest(name));
    if (reply.isEmpty() && !m_stopped)
        reply = exchange(deleteRequest(name));
    if (m_stopped)
        return false;
    if (reply.isEmpty()) {
        logLine(LOG_WARNING, tr("%1 was not deleted: the Vireo Player did not answer.").arg(name));
        m_prompter.critical(m_parent, title, failed);
        m_progress.step(true);
        return false;
    }
    m_progress.step(false);
    if (!reply.contains(kDeleteConfirmation)) {
        logLine(LOG_WARNING, tr("%1 was not deleted: the Vireo Player refused.").arg(name));
        m_prompter.critical(m_parent, title, failed);
        return false;
    }
    return true;
}

bool Device_VireoPlayer::restoreFactoryDefaults()
{
    m_progress.setLabel(tr("Restoring Factory Defaults..."));
    bool all = true;
    for (const QString &name : factoryShowFiles()) {
        if (m_stopped)
            return false;
        all = deleteFile(name) && all;
    }
    return all;
}

void Device_VireoPlayer::enterBootLoader()
{
    const QByteArray command = VireoFrame::build(VireoFrame::kBootLoaderPort, "boot loader");
    if (m_port.vendorId != VIREO_VENDOR_ID && m_port.productId != VIREO_BOOTLOADER_PRODUCT_ID)
        return;
    std::unique_ptr<SerialLine> line = openLine();
    if (!line)
        return;
    const std::unique_ptr<ProgressHandle> waiting = m_prompter.openProgress(
        m_parent, tr("Vireo Player"), tr("Waiting for Vireo Player, to reboot"), QString(), 0, 0);

    const QByteArray reply = transact(*line, command);
    if (reply.contains("boot success") && !m_stopped) {
        line->write(VireoFrame::build(VireoFrame::kBootLoaderPort, "reboot"));
        for (int round = 0; round < m_timings.bootLoaderPollRounds && !m_stopped; ++round) {
            QStringList found;
            // One this user may not open is there all the same: waiting on
            // would not make it openable.
            if (findBootLoaderDevices(found) > 0 || !refusedBootLoaders().isEmpty())
                break;
            wait([] { return false; }, m_timings.bootLoaderPollMs);
        }
    }
    if (waiting)
        waiting->close();
    line->close();
    if (!reply.isEmpty())
        logLine(LOG_FINE, tr("Received reply from Controller."));
}

void Device_VireoPlayer::setDownloadStage(DownloadStage stage)
{
    emit downloadStageChanged(stage);
}

int Device_VireoPlayer::failDownload(QWidget *parent, const QString &text, int result)
{
    m_hid.closeDevice();
    m_lastError = text;
    if (result == Stopped)
        return result;
    logLine(LOG_SEVERE, text);
    m_prompter.critical(parent, tr("Vireo Player Bootloader"), text);
    m_progress.step(true);
    return result;
}

int Device_VireoPlayer::downloadFW(QWidget *parent, const QByteArray &image, const QString &fileName)
{
    setDownloadStage(DownloadStage::NothingSent);
    m_progress.open(parent);
    m_progress.setLabel(tr("Programming Controller..."));
    m_progress.setValue(0);
    QCoreApplication::processEvents();
    // Stopped before the first report, the player keeps its firmware.
    if (m_stopped)
        return failDownload(parent, QString(), Stopped);

    const int opened = m_hid.openDevice(VIREO_VENDOR_ID, VIREO_BOOTLOADER_PRODUCT_ID);
    if (opened == HCC_HID::NotFound)
        return failDownload(parent, tr("Failed to open device."), DeviceFailed);
    if (opened != HCC_HID::Opened)
        return failDownload(parent, m_hid.lastError(), DeviceFailed);

    QCoreApplication::processEvents();
    if (m_stopped)
        return failDownload(parent, QString(), Stopped);
    // The image was read when it was selected; an empty one was either not
    // found then or holds nothing, and neither may be reported as a download.
    if (image.isEmpty()) {
        const QString text = QFileInfo::exists(fileName)
            ? tr("The firmware file %1 is empty: nothing was sent.").arg(fileName)
            : tr("Failed to find file: %1.").arg(fileName);
        return failDownload(parent, text, FileMissing);
    }
    qCDebug(lcDevice) << "Device_VireoPlayer::downloadFW" << image.size();

    // From the start command on, the boot loader no longer holds what it had.
    setDownloadStage(DownloadStage::Sending);
    if (!m_hid.startDownload(kFirmwareDownloadParameter))
        return failDownload(parent, tr("Failed to open device."), StartFailed);

    m_progress.setMaximum(int(image.size() / kBlockSize) + 10);
    const auto *bytes = reinterpret_cast<const uchar *>(image.constData());
    qsizetype sent = 0;
    while (sent < image.size()) {
        const qsizetype block = qMin<qsizetype>(kBlockSize, image.size() - sent);
        if (!m_hid.HIDSendBuffer(bytes + sent, uint(block)))
            return failDownload(parent, tr("Writing Firmware failed."), WriteFailed);
        sent += block;
        m_progress.step(false);
        qCDebug(lcDevice) << "Device_VireoPlayer::downloadFW bytes Written" << sent;
        if (m_stopped)
            return failDownload(parent, QString(), Stopped);
    }

    if (!m_hid.finishDownload())
        return failDownload(parent, tr("Firmware download failed."), DeviceFailed);
    setDownloadStage(DownloadStage::Finished);
    m_hid.closeDevice();
    m_progress.setLabel(tr("Success.  Waiting for controller reboot."));
    return DownloadOk;
}

namespace {

bool isPlayerPort(const SerialPortEntry &port)
{
    return port.hasIds && port.vendorId == VIREO_VENDOR_ID && port.productId == VIREO_SERIAL_PRODUCT_ID
        && Device_VireoPlayer::isPlayerPortName(port.portName);
}

} // namespace

QList<SerialPortEntry> Device_VireoPlayer::findPlayerPorts()
{
    QList<SerialPortEntry> found;
    for (const SerialPortEntry &port : m_ports.availablePorts()) {
        if (isPlayerPort(port) && DeviceNodeAccess::refusal(port.systemLocation).isNull())
            found.append(port);
    }
    return found;
}

QStringList Device_VireoPlayer::refusedPlayerPorts()
{
    QStringList out;
    for (const SerialPortEntry &port : m_ports.availablePorts()) {
        if (!isPlayerPort(port))
            continue;
        const QString refusal = DeviceNodeAccess::refusal(port.systemLocation);
        if (!refusal.isNull())
            out.append(QStringLiteral("%1: %2").arg(port.systemLocation, refusal));
    }
    return out;
}

QStringList Device_VireoPlayer::refusedBootLoaders()
{
    return m_hid.refusedDevices(VIREO_VENDOR_ID, VIREO_BOOTLOADER_PRODUCT_ID);
}

QStringList Device_VireoPlayer::refusedPlayerDevices()
{
    return refusedPlayerPorts() + refusedBootLoaders();
}

QString Device_VireoPlayer::refusedText(const QStringList &refused)
{
    return tr("A Vireo Player is there, but this user may not open it:\n%1\n\nTo reach it: %2.")
        .arg(refused.join(QLatin1Char('\n')), DeviceNodeAccess::advice());
}

int Device_VireoPlayer::findBootLoaderDevices(QStringList &list)
{
    const QString wanted = HCC_HID::deviceEntry(VIREO_VENDOR_ID, VIREO_BOOTLOADER_PRODUCT_ID);
    m_hid.listDevices(list);
    list.removeIf([&wanted](const QString &entry) { return entry != wanted; });
    return int(list.size());
}

void Device_VireoPlayer::progressStep(bool toMaximum, const QString *label)
{
    m_progress.step(toMaximum, label);
}
