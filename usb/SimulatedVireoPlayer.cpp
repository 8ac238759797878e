#include "usb/SimulatedVireoPlayer.h"

#include "base/LogCategories.h"
#include "usb/QtSerialLine.h"
#include "usb/VireoFrame.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QSocketNotifier>
#include <QTimer>
#include <QtEndian>

#include <cerrno>
#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

class SimulatedVireoPlayer::Ports : public SerialPorts
{
public:
    explicit Ports(SimulatedVireoPlayer &player) : m_player(player) {}

    QList<SerialPortEntry> availablePorts() override
    {
        QList<SerialPortEntry> out;
        if (!m_player.hasLine())
            return out;
        const int own = m_player.m_state == State::Application ? 1 : 0;
        for (int i = 0; i < own + m_player.m_extraPorts; ++i) {
            SerialPortEntry entry;
            // Named as the player's USB serial port would be.
            entry.portName = QStringLiteral("ttyACM%1").arg(i);
            entry.systemLocation = m_player.m_slavePath;
            entry.description = QStringLiteral("Vireo Player (simulated)");
            entry.vendorId = VIREO_VENDOR_ID;
            entry.productId = VIREO_SERIAL_PRODUCT_ID;
            entry.hasIds = true;
            out.append(entry);
        }
        return out;
    }

    std::unique_ptr<SerialLine> line(const SerialPortEntry &port) override
    {
        return std::make_unique<QtSerialLine>(port.systemLocation);
    }

private:
    SimulatedVireoPlayer &m_player;
};

SimulatedVireoPlayer::SimulatedVireoPlayer(QObject *parent)
    : QObject(parent), m_ports(std::make_unique<Ports>(*this))
{
    setObjectName(QStringLiteral("SimulatedVireoPlayer"));
    m_descriptor = {QStringLiteral("VP-004217"), QStringLiteral("Vireo Player"),
                    QStringLiteral("2013-05-14"), QStringLiteral("1.2.0"), QString()};

    if (::openpty(&m_master, &m_slave, nullptr, nullptr, nullptr) != 0) {
        qCDebug(lcDevice) << "simulated Vireo Player: no pseudo-terminal:" << strerror(errno);
        m_master = m_slave = -1;
    } else {
        // Raw both ways: no echo of our replies, no line editing of frames.
        termios tio{};
        ::tcgetattr(m_slave, &tio);
        ::cfmakeraw(&tio);
        ::tcsetattr(m_slave, TCSANOW, &tio);
        ::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK);
        ::fcntl(m_master, F_SETFD, FD_CLOEXEC);
        ::fcntl(m_slave, F_SETFD, FD_CLOEXEC);
        // The slave end stays open here so the line survives the updater
        // opening and closing its port.
        m_slavePath = QString::fromLocal8Bit(::ptsname(m_master));
        m_notifier = new QSocketNotifier(m_master, QSocketNotifier::Read, this);
        connect(m_notifier, &QSocketNotifier::activated, this, &SimulatedVireoPlayer::readLine);
    }
    m_hid.onReport = [this](const QByteArray &report) { handleReport(report); };
}

SimulatedVireoPlayer::~SimulatedVireoPlayer()
{
    m_hid.onReport = nullptr;
    delete m_notifier;
    if (m_master >= 0)
        ::close(m_master);
    if (m_slave >= 0)
        ::close(m_slave);
}

SerialPorts &SimulatedVireoPlayer::serialPorts()
{
    return *m_ports;
}

void SimulatedVireoPlayer::setState(State state)
{
    m_state = state;
    m_hid.removeDevices(VIREO_VENDOR_ID, VIREO_BOOTLOADER_PRODUCT_ID);
    const auto addBootLoader = [this] {
        return m_reportDescriptor.isEmpty()
            ? m_hid.addDevice(VIREO_VENDOR_ID, VIREO_BOOTLOADER_PRODUCT_ID, m_reportLength)
            : m_hid.addDevice(VIREO_VENDOR_ID, VIREO_BOOTLOADER_PRODUCT_ID, m_reportDescriptor);
    };
    for (QString &path : m_extraBootLoaderPaths)
        path = addBootLoader();
    if (state == State::BootLoader)
        addBootLoader();
    if (state != State::BootLoader)
        m_downloading = false;
    qCDebug(lcDevice) << "simulated Vireo Player state" << int(state);
    emit stateChanged(state);
}

void SimulatedVireoPlayer::setDelays(int rebootMs, int restartMs)
{
    m_rebootMs = qMax(0, rebootMs);
    m_restartMs = qMax(0, restartMs);
}

void SimulatedVireoPlayer::setExtraBootLoaders(int count)
{
    m_extraBootLoaderPaths = QStringList(qMax(0, count), QString());
    setState(m_state);
}

QStringList SimulatedVireoPlayer::requestLines() const
{
    QStringList lines;
    for (const QByteArray &frame : m_frames) {
        const QByteArray payload = frame.mid(VireoFrame::kHeaderSize);
        qsizetype end = payload.indexOf("\r\n");
        if (end < 0)
            end = payload.indexOf('\0');
        lines.append(QString::fromLatin1(end < 0 ? payload : payload.left(end)));
    }
    return lines;
}

void SimulatedVireoPlayer::clearRecords()
{
    m_frames.clear();
    m_deleted.clear();
    m_mfgValues.clear();
    m_image.clear();
    m_downloads = 0;
    m_downloadParameter = 0;
    m_hid.clearReports();
}

QByteArray SimulatedVireoPlayer::replyFrame(quint16 servicePort, const QByteArray &payload,
                                            quint16 source)
{
    QByteArray frame = VireoFrame::build(servicePort, payload);
    qToLittleEndian<quint16>(source, frame.data());
    return frame;
}

QByteArray SimulatedVireoPlayer::statusFrame()
{
    return replyFrame(VireoFrame::kHttpPort, QByteArray("\x01\x00\x00\x00", 4), 4);
}

void SimulatedVireoPlayer::send(const QByteArray &bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(m_master, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        done += n;
    }
}

void SimulatedVireoPlayer::readLine()
{
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(m_master, buffer, sizeof buffer);
        if (n > 0) {
            m_input.append(buffer, n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        break;
    }
    while (m_input.size() >= VireoFrame::kHeaderSize) {
        const VireoFrame::Header header = VireoFrame::header(m_input);
        if (header.totalLength < VireoFrame::kHeaderSize) {
            // Not a frame start: the sender lost its place; so do we.
            m_input.clear();
            return;
        }
        if (m_input.size() < header.totalLength)
            return;
        const QByteArray frame = m_input.left(header.totalLength);
        m_input.remove(0, header.totalLength);
        handleFrame(frame);
    }
}

void SimulatedVireoPlayer::handleFrame(const QByteArray &frame)
{
    m_frames.append(frame);
    if (m_state != State::Application)
        return;
    if (m_responder) {
        if (const std::optional<QByteArray> reply = m_responder(frame)) {
            send(*reply);
            return;
        }
    }
    const VireoFrame::Header header = VireoFrame::header(frame);
    const QByteArray payload = frame.mid(VireoFrame::kHeaderSize);
    if (header.servicePort == VireoFrame::kBootLoaderPort) {
        if (payload == "boot loader") {
            m_rebootAllowed = !m_rebootRefused;
            send(replyFrame(VireoFrame::kBootLoaderPort,
                            m_rebootAllowed ? QByteArray("boot success") : QByteArray("boot refused")));
        } else if (payload == "reboot" && m_rebootAllowed) {
            m_rebootAllowed = false;
            setState(State::Restarting);
            QTimer::singleShot(m_rebootMs, this, [this] {
                if (m_state == State::Restarting)
                    setState(State::BootLoader);
            });
        }
        return;
    }
    if (header.servicePort != VireoFrame::kHttpPort)
        return;
    if (m_statusFrames)
        send(statusFrame());
    send(replyFrame(VireoFrame::kHttpPort, httpReply(payload)));
}

QByteArray SimulatedVireoPlayer::httpReply(const QByteArray &payload)
{
    auto response = [](const char *status, const QByteArray &body) {
        return QByteArray("HTTP/1.1 ") + status + "\r\nServer: Vireo Player\r\n"
            + "Content-Type: application/json\r\nContent-Length: " + QByteArray::number(body.size())
            + "\r\n\r\n" + body;
    };
    // Requests with a body end in a zero.
    QByteArray request = payload;
    if (request.endsWith('\0'))
        request.chop(1);
    const qsizetype headEnd = request.indexOf("\r\n\r\n");
    if (headEnd < 0)
        return response("400 Bad Request", "{}");
    const QList<QByteArray> lines = request.left(headEnd).split('\n');
    const QByteArray body = request.mid(headEnd + 4);
    const QList<QByteArray> requestLine = lines.first().trimmed().split(' ');
    if (requestLine.size() != 3 || requestLine.at(2) != "HTTP/1.1")
        return response("400 Bad Request", "{}");
    QByteArray host;
    qint64 contentLength = -1;
    for (const QByteArray &line : lines.mid(1)) {
        const QByteArray trimmed = line.trimmed();
        if (trimmed.startsWith("Host: "))
            host = trimmed.mid(6);
        else if (trimmed.startsWith("Content-Length: "))
            contentLength = trimmed.mid(16).toLongLong();
    }
    if (host != Device_VireoPlayer::kHostHeaderValue)
        return response("400 Bad Request", "{\"error\":\"host\"}");

    const QByteArray method = requestLine.at(0);
    const QByteArray path = requestLine.at(1);
    if (method == "GET" && path == "/v1/descriptor.json") {
        QJsonObject object;
        object.insert(QStringLiteral("serial_number"), m_descriptor.serialNumber);
        object.insert(QStringLiteral("product_string"), m_descriptor.productString);
        object.insert(QStringLiteral("production_date"), m_descriptor.productionDate);
        object.insert(QStringLiteral("firmware_version"), m_descriptor.firmwareVersion);
        return response("200 OK", QJsonDocument(object).toJson(QJsonDocument::Compact));
    }
    if (method == "POST" && path == "/v1/mfg.json") {
        QJsonParseError error{};
        const QJsonDocument document = QJsonDocument::fromJson(body, &error);
        if (contentLength != body.size() || error.error != QJsonParseError::NoError
            || !document.isObject())
            return response("400 Bad Request", "{\"error\":\"body\"}");
        const QJsonObject object = document.object();
        for (auto it = object.begin(); it != object.end(); ++it)
            m_mfgValues.insert(it.key(), it.value().toString());
        return response("200 OK", "{}");
    }
    if (method == "DELETE" && path.startsWith("/v1/")) {
        const QString name = QString::fromLatin1(path.mid(4));
        if (!Device_VireoPlayer::factoryShowFiles().contains(name))
            return response("404 Not Found", "{}");
        m_deleted.append(name);
        return QByteArray("HTTP/1.1 200 OK\r\nServer: Vireo Player\r\nContent-Length: 0\r\n\r\n");
    }
    return response("404 Not Found", "{}");
}

void SimulatedVireoPlayer::handleReport(const QByteArray &report)
{
    if (m_state != State::BootLoader || report.size() < 3)
        return;
    const int n = quint8(report.at(1));
    if (n > 0) {
        if (m_downloading)
            m_image.append(report.mid(2, n));
        return;
    }
    if (report.at(2) == 0) {
        m_downloading = true;
        m_image.clear();
        m_downloadParameter = report.size() >= 9
            ? qFromBigEndian<quint32>(reinterpret_cast<const uchar *>(report.constData()) + 5)
            : 0;
        return;
    }
    if (report.at(2) != 1 || !m_downloading)
        return;
    m_downloading = false;
    ++m_downloads;
    const QString version = Device_VireoPlayer::imageVersion(m_image);
    if (!version.isNull() && !m_keepRevision)
        m_descriptor.firmwareVersion = version;
    // The boot loader starts the new firmware by itself.
    setState(State::Restarting);
    if (m_noReturn)
        return;
    QTimer::singleShot(m_restartMs, this, [this] {
        if (m_state == State::Restarting)
            setState(State::Application);
    });
}
