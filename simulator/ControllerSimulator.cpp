#include "simulator/ControllerSimulator.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QMap>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

constexpr int kOpRead = 1;
constexpr int kOpWrite = 2;
constexpr int kOpData = 3;
constexpr int kOpAck = 4;
constexpr int kOpError = 5;
constexpr int kBlock = 512;
// A write larger than this is refused rather than held in memory.
constexpr int kMaxImage = 64 * 1024 * 1024;

void putLe16(char *p, quint16 v)
{
    p[0] = char(v & 0xFF);
    p[1] = char(v >> 8);
}

void putLe32(char *p, quint32 v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = char((v >> (8 * i)) & 0xFF);
}

void putBe32(char *p, quint32 v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = char((v >> (24 - 8 * i)) & 0xFF);
}

QByteArray header(quint16 type, int size)
{
    QByteArray d(size, '\0');
    putLe32(d.data(), 0x4ADC0104);
    putLe16(d.data() + 4, 1);
    putLe16(d.data() + 6, type);
    return d;
}

QByteArray macOf(quint32 ip)
{
    QByteArray mac(6, '\0');
    mac[0] = char(0x02);
    mac[1] = char(0x5A);
    putBe32(mac.data() + 2, ip);
    return mac;
}

QByteArray tftpPacket(int opcode, int number, const QByteArray &payload = QByteArray())
{
    QByteArray p;
    p.reserve(payload.size() + 4);
    p.append(char(opcode >> 8)).append(char(opcode & 0xFF));
    p.append(char((number >> 8) & 0xFF)).append(char(number & 0xFF));
    p.append(payload);
    return p;
}

QByteArray tftpError(int code, const QByteArray &text)
{
    QByteArray p = tftpPacket(kOpError, code, text);
    p.append('\0');
    return p;
}

sockaddr_in address(quint32 ipHostOrder, int port)
{
    sockaddr_in a {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(ipHostOrder);
    a.sin_port = htons(quint16(port));
    return a;
}

QString dotted(quint32 ip)
{
    return QStringLiteral("%1.%2.%3.%4").arg(ip >> 24).arg((ip >> 16) & 0xFF).arg((ip >> 8) & 0xFF).arg(ip & 0xFF);
}

bool sameClient(const sockaddr_in &a, const sockaddr_in &b)
{
    return a.sin_addr.s_addr == b.sin_addr.s_addr && a.sin_port == b.sin_port;
}

int udpSocket(quint32 ipHostOrder, int port, QString &error)
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, IPPROTO_UDP);
    if (fd < 0) {
        error = QString::fromLocal8Bit(strerror(errno));
        return -1;
    }
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
    const int buffer = 4 * 1024 * 1024;
    ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &buffer, sizeof buffer);
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &buffer, sizeof buffer);
    sockaddr_in local = address(ipHostOrder, port);
    if (::bind(fd, reinterpret_cast<sockaddr *>(&local), sizeof local) != 0) {
        error = QStringLiteral("cannot bind %1:%2: %3")
                    .arg(dotted(ipHostOrder))
                    .arg(port)
                    .arg(QString::fromLocal8Bit(strerror(errno)));
        ::close(fd);
        return -1;
    }
    return fd;
}

int boundPort(int fd)
{
    sockaddr_in a {};
    socklen_t length = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&a), &length);
    return ntohs(a.sin_port);
}

} // namespace

struct ControllerSimulator::Session {
    enum State { Idle, Writing, Reading } state = Idle;
    sockaddr_in client {};
    int block = 0;       // writing: next block expected; reading: block in flight
    int lastAcked = -1;  // writing: block acknowledged last (answers duplicates)
    QByteArray data;     // writing: received so far; reading: the file
};

struct ControllerSimulator::Pending {
    QDeadlineTimer due;
    int fd;
    QByteArray packet;
    sockaddr_in to;
};

struct ControllerSimulator::Node {
    Controller controller;
    int fd = -1;
    int otherFd = -1;
    Session session;
    quint64 packetsIn = 0;
    quint64 packetsOut = 0;
};

ControllerSimulator::ControllerSimulator(const Options &options) : m_options(options)
{
}

ControllerSimulator::~ControllerSimulator()
{
    stop();
}

void ControllerSimulator::addController(const Controller &controller)
{
    auto node = std::make_shared<Node>();
    node->controller = controller;
    m_nodes.append(node);
}

QList<ControllerSimulator::Controller> ControllerSimulator::controllers() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    QList<Controller> list;
    for (const auto &node : m_nodes)
        list.append(node->controller);
    return list;
}

ControllerSimulator::Controller ControllerSimulator::controller(quint32 ip) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    for (const auto &node : m_nodes)
        if (node->controller.ip == ip)
            return node->controller;
    return Controller();
}

bool ControllerSimulator::bindAll()
{
    in_addr bind {};
    if (inet_pton(AF_INET, m_options.bindAddress.toLatin1().constData(), &bind) != 1) {
        m_error = QStringLiteral("bad bind address %1").arg(m_options.bindAddress);
        return false;
    }
    m_discoveryFd = udpSocket(ntohl(bind.s_addr), m_options.discoveryPort, m_error);
    if (m_discoveryFd < 0)
        return false;
    m_discoveryPort = boundPort(m_discoveryFd);
    if (!m_options.tftp || m_nodes.isEmpty())
        return true;

    // All controllers answer on one port; with port 0 the first one picks it
    // and the others follow, trying again if another program holds it.
    for (int tries = 0; tries < 20; ++tries) {
        int port = m_options.tftpPort;
        bool ok = true;
        for (const auto &node : m_nodes) {
            node->fd = udpSocket(node->controller.ip, port, m_error);
            if (node->fd < 0) {
                ok = false;
                break;
            }
            port = boundPort(node->fd);
            if (faultsOf(*node).answerFromOtherPort) {
                node->otherFd = udpSocket(node->controller.ip, 0, m_error);
                if (node->otherFd < 0) {
                    ok = false;
                    break;
                }
            }
        }
        if (ok) {
            m_tftpPort = port;
            return true;
        }
        for (const auto &node : m_nodes) {
            if (node->fd >= 0)
                ::close(node->fd);
            if (node->otherFd >= 0)
                ::close(node->otherFd);
            node->fd = node->otherFd = -1;
        }
        if (m_options.tftpPort != 0)
            break;
    }
    return false;
}

void ControllerSimulator::closeAll()
{
    for (int *fd : {&m_discoveryFd, &m_wakeFds[0], &m_wakeFds[1]}) {
        if (*fd >= 0)
            ::close(*fd);
        *fd = -1;
    }
    for (const auto &node : m_nodes) {
        if (node->fd >= 0)
            ::close(node->fd);
        if (node->otherFd >= 0)
            ::close(node->otherFd);
        node->fd = node->otherFd = -1;
    }
}

bool ControllerSimulator::start()
{
    if (m_thread.joinable())
        return true;
    if (::pipe2(m_wakeFds, O_CLOEXEC | O_NONBLOCK) != 0 || !bindAll()) {
        if (m_error.isEmpty())
            m_error = QString::fromLocal8Bit(strerror(errno));
        closeAll();
        return false;
    }
    m_stopping = false;
    m_clock.start();
    m_thread = std::thread([this] { loop(); });
    return true;
}

void ControllerSimulator::stop()
{
    if (!m_thread.joinable())
        return;
    m_stopping = true;
    const char wake = 1;
    [[maybe_unused]] const ssize_t written = ::write(m_wakeFds[1], &wake, 1);
    m_thread.join();
    closeAll();
}

const ControllerSimulator::Faults &ControllerSimulator::faultsOf(const Node &node) const
{
    return node.controller.faults ? *node.controller.faults : m_options.faults;
}

void ControllerSimulator::event(const QString &line)
{
    if (m_eventLog)
        m_eventLog(line);
}

void ControllerSimulator::loop()
{
    QDeadlineTimer nextAnnounce(m_options.announceHost.isEmpty() ? QDeadlineTimer::Forever : 0);
    while (!m_stopping) {
        if (nextAnnounce.hasExpired()) {
            sendAnnounces();
            nextAnnounce = m_options.announceIntervalMs > 0
                ? QDeadlineTimer(m_options.announceIntervalMs)
                : QDeadlineTimer(QDeadlineTimer::Forever);
        }
        // Nanoseconds: held-back answers go out when due, without spinning
        // through the last millisecond before it.
        qint64 wait = qMin<qint64>(nextAnnounce.remainingTimeNSecs() < 0 ? 1000000000 : nextAnnounce.remainingTimeNSecs(),
                                   1000000000);
        for (const auto &p : std::as_const(m_pending))
            wait = qMin(wait, p->due.remainingTimeNSecs());
        const timespec timeout {time_t(wait / 1000000000), long(wait % 1000000000)};

        QList<pollfd> fds;
        fds.append({m_wakeFds[0], POLLIN, 0});
        fds.append({m_discoveryFd, POLLIN, 0});
        for (const auto &node : std::as_const(m_nodes))
            fds.append({node->fd, POLLIN, 0});
        if (::ppoll(fds.data(), nfds_t(fds.size()), &timeout, nullptr) < 0 && errno != EINTR)
            break;
        if (fds[1].revents & POLLIN)
            handleDiscovery();
        for (int i = 0; i < m_nodes.size(); ++i)
            if (fds[i + 2].revents & POLLIN)
                handleTftp(*m_nodes[i]);

        for (int i = 0; i < m_pending.size();) {
            if (m_pending[i]->due.hasExpired()) {
                sendNow(m_pending[i]->fd, m_pending[i]->packet, m_pending[i]->to);
                m_pending.removeAt(i);
            } else {
                ++i;
            }
        }
    }
}

void ControllerSimulator::sendNow(int fd, const QByteArray &packet, const sockaddr_in &to)
{
    ::sendto(fd, packet.constData(), size_t(packet.size()), 0,
             reinterpret_cast<const sockaddr *>(&to), sizeof to);
}

void ControllerSimulator::handleDiscovery()
{
    char buffer[2048];
    for (;;) {
        sockaddr_in from {};
        socklen_t length = sizeof from;
        const ssize_t n = ::recvfrom(m_discoveryFd, buffer, sizeof buffer, 0,
                                     reinterpret_cast<sockaddr *>(&from), &length);
        if (n < 0)
            return;
        if (n < 16 || uchar(buffer[6]) != 1 || buffer[7] != 0)
            continue;
        ++m_discoveryRequests;
        event(QStringLiteral("discovery from %1:%2").arg(dotted(ntohl(from.sin_addr.s_addr))).arg(ntohs(from.sin_port)));
        QList<Controller> snapshot = controllers();
        QElapsedTimer clock;
        clock.start();
        for (const Controller &c : snapshot) {
            if (c.gone || c.ignoresDiscovery)
                continue;
            sendNow(m_discoveryFd, discoveryReply(c), from);
            if (m_options.buttonShow >= 0)
                sendNow(m_discoveryFd, button(c.sn, m_options.buttonShow, m_options.buttonNumber), from);
        }
        event(QStringLiteral("replied %1 in %2 us").arg(snapshot.size()).arg(clock.nsecsElapsed() / 1000));
    }
}

void ControllerSimulator::sendAnnounces()
{
    in_addr host {};
    if (inet_pton(AF_INET, m_options.announceHost.toLatin1().constData(), &host) != 1)
        return;
    const sockaddr_in to = address(ntohl(host.s_addr), m_options.announcePort);
    for (const Controller &c : controllers())
        if (!c.gone)
            sendNow(m_discoveryFd, announce(c, 1, 1), to);
}

void ControllerSimulator::handleTftp(Node &node)
{
    char buffer[kBlock + 8];
    for (;;) {
        sockaddr_in from {};
        socklen_t length = sizeof from;
        const ssize_t n = ::recvfrom(node.fd, buffer, sizeof buffer, 0,
                                     reinterpret_cast<sockaddr *>(&from), &length);
        if (n < 0)
            return;
        ++node.packetsIn;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            Controller &c = node.controller;
            c.packetsIn = node.packetsIn;
            // Only writes are timed: a read of "info" afterwards is no part of them.
            const int opcode = n >= 2 ? (uchar(buffer[0]) << 8) | uchar(buffer[1]) : 0;
            if (opcode == kOpWrite || opcode == kOpData) {
                c.lastPacketUs = m_clock.nsecsElapsed() / 1000;
                if (c.firstPacketUs < 0)
                    c.firstPacketUs = c.lastPacketUs;
            }
        }
        const Faults &f = faultsOf(node);
        if (f.dropIn > 0 && node.packetsIn % quint64(f.dropIn) == 0)
            continue;
        const QByteArray packet(buffer, int(n));
        process(node, packet, from);
        if (f.dupIn > 0 && node.packetsIn == quint64(f.dupIn))
            process(node, packet, from);
    }
}

void ControllerSimulator::sendTftp(Node &node, const QByteArray &packet, const sockaddr_in &to)
{
    ++node.packetsOut;
    const Faults &f = faultsOf(node);
    if (f.dropOut > 0 && node.packetsOut % quint64(f.dropOut) == 0)
        return;
    const int fd = f.answerFromOtherPort ? node.otherFd : node.fd;
    const int copies = f.dupOut > 0 && node.packetsOut == quint64(f.dupOut) ? 2 : 1;
    for (int i = 0; i < copies; ++i) {
        if (f.delayMs > 0)
            m_pending.append(std::make_shared<Pending>(Pending {QDeadlineTimer(f.delayMs), fd, packet, to}));
        else
            sendNow(fd, packet, to);
    }
}

void ControllerSimulator::process(Node &node, const QByteArray &packet, const sockaddr_in &from)
{
    if (packet.size() < 4 || node.controller.gone)
        return;
    Session &s = node.session;
    const int opcode = (uchar(packet[0]) << 8) | uchar(packet[1]);
    const int number = (uchar(packet[2]) << 8) | uchar(packet[3]);
    const QString who = dotted(node.controller.ip);

    if (opcode == kOpWrite || opcode == kOpRead) {
        const QByteArray name = packet.mid(2).split('\0').value(0);
        if (opcode == kOpWrite) {
            if (name != "firmware") {
                sendTftp(node, tftpError(2, "Access violation"), from);
                return;
            }
            if (const Faults &f = faultsOf(node); f.errorAtBlock == 0) {
                sendTftp(node, tftpError(f.errorCode, f.errorText), from);
                return;
            }
            // A repeated request restarts the transfer; its acknowledgement went missing.
            s = Session();
            s.state = Session::Writing;
            s.client = from;
            s.block = 1;
            s.lastAcked = 0;
            event(QStringLiteral("write request %1").arg(who));
            sendTftp(node, tftpPacket(kOpAck, 0), from);
            return;
        }
        if (name != "info") {
            sendTftp(node, tftpError(1, "File not found"), from);
            return;
        }
        s = Session();
        s.state = Session::Reading;
        s.client = from;
        s.block = 1;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            s.data = infoText(node.controller);
            if (node.controller.emptyInfoReads > 0) {
                --node.controller.emptyInfoReads;
                s.data.clear();
            }
        }
        event(QStringLiteral("read request %1 info").arg(who));
        sendTftp(node, tftpPacket(kOpData, 1, s.data.left(kBlock)), from);
        return;
    }

    if (!sameClient(s.client, from))
        return;

    if (opcode == kOpData && s.state == Session::Writing) {
        if (s.block > 0 && number == (s.block & 0xFFFF)) {
            if (const Faults &f = faultsOf(node); f.errorAtBlock == s.block) {
                sendTftp(node, tftpError(f.errorCode, f.errorText), from);
                s = Session();
                return;
            }
            const QByteArray payload = packet.mid(4);
            if (s.data.size() + payload.size() > kMaxImage) {
                sendTftp(node, tftpError(3, "Disk full"), from);
                s = Session();
                return;
            }
            s.data.append(payload);
            s.lastAcked = number;
            ++s.block;
            if (payload.size() == kBlock) {
                sendTftp(node, tftpPacket(kOpAck, number), from);
                return;
            }
            // The image is kept before the last acknowledgement goes out, as
            // a device commits before it confirms.
            quint32 revision = 0;
            const bool found = revisionOf(s.data, m_options.versionOffset, revision);
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                node.controller.firmware = s.data;
                ++node.controller.writes;
                if (found && !m_options.keepRevision && !node.controller.keepRevision)
                    node.controller.revision = revision;
                revision = node.controller.revision;
            }
            sendTftp(node, tftpPacket(kOpAck, number), from);
            if (m_options.noReturn || node.controller.noReturn) {
                std::lock_guard<std::mutex> lock(m_mutex);
                node.controller.gone = true;
            }
            event(QStringLiteral("write complete %1 %2 bytes revision %3").arg(who).arg(s.data.size()).arg(revision));
            if (m_writeDone)
                m_writeDone(node.controller.ip, revision, s.data);
            // Kept in the writing state so a lost final acknowledgement is
            // answered when the block comes again.
            s.data.clear();
            s.block = -1;
        } else if (number == s.lastAcked) {
            sendTftp(node, tftpPacket(kOpAck, number), from);
        }
        return;
    }

    if (opcode == kOpAck && s.state == Session::Reading) {
        const int offset = (s.block - 1) * kBlock;
        if (number == (s.block & 0xFFFF)) {
            if (s.data.size() - offset < kBlock) {
                s = Session();
                event(QStringLiteral("read complete %1").arg(who));
                return;
            }
            ++s.block;
            sendTftp(node, tftpPacket(kOpData, s.block, s.data.mid(offset + kBlock, kBlock)), from);
        } else if (number == ((s.block - 1) & 0xFFFF)) {
            sendTftp(node, tftpPacket(kOpData, s.block, s.data.mid(offset, kBlock)), from);
        }
    }
}

bool ControllerSimulator::revisionOf(const QByteArray &image, quint32 offset, quint32 &revision)
{
    QMap<quint32, uchar> bytes;
    const QByteArray trimmed = image.trimmed();
    if (trimmed.startsWith(':')) {
        quint32 upper = 0;
        for (const QByteArray &rawLine : trimmed.split('\n')) {
            const QByteArray line = rawLine.trimmed();
            if (!line.startsWith(':'))
                continue;
            const QByteArray record = QByteArray::fromHex(line.mid(1));
            if (record.size() < 5 || record.size() < 5 + uchar(record[0]))
                continue;
            const int count = uchar(record[0]);
            const quint32 address = (uchar(record[1]) << 8) | uchar(record[2]);
            const int type = uchar(record[3]);
            if (type == 4 && count >= 2)
                upper = (uchar(record[4]) << 8) | uchar(record[5]);
            else if (type == 0)
                for (int i = 0; i < count; ++i) {
                    const quint32 at = (upper << 16) + address + quint32(i);
                    if (at >= offset && at < offset + 4)
                        bytes.insert(at, uchar(record[4 + i]));
                }
        }
    } else {
        for (quint32 i = 0; i < 4; ++i)
            if (offset + i < quint32(image.size()))
                bytes.insert(offset + i, uchar(image[int(offset + i)]));
    }
    if (bytes.size() != 4)
        return false;
    revision = bytes.value(offset);
    return true;
}

QByteArray ControllerSimulator::infoText(const Controller &c)
{
    return c.idstring + '*' + QByteArray::number(c.sn) + '*'
        + QByteArray::number(c.revision, 16).toUpper() + '*' + c.verstring;
}

QByteArray ControllerSimulator::discoveryReply(const Controller &c)
{
    QByteArray d = header(2, 32);
    putBe32(d.data() + 12, c.ip);
    d.replace(16, 6, macOf(c.ip));
    putLe16(d.data() + 22, quint16(c.revision));
    putLe32(d.data() + 24, c.sn);
    putLe32(d.data() + 28, c.uni);
    d.append(c.verstring).append('\0').append(c.idstring).append('\0');
    return d;
}

QByteArray ControllerSimulator::announce(const Controller &c, quint16 devType, quint16 anncType)
{
    QByteArray d = header(8, 32);
    putBe32(d.data() + 12, c.ip);
    d.replace(16, 6, macOf(c.ip));
    putLe16(d.data() + 22, quint16(c.revision));
    putLe32(d.data() + 24, c.sn);
    putLe16(d.data() + 28, devType);
    putLe16(d.data() + 30, anncType);
    return d;
}

QByteArray ControllerSimulator::button(quint32 sn, int show, int button)
{
    QByteArray d = header(0x0302, 20);
    d[12] = char(show);
    d[13] = char(button);
    putLe32(d.data() + 16, sn);
    return d;
}
