#include "ethernet/QTFTP.h"

#include "ethernet/EthernetLogging.h"
#include "ethernet/TftpPacket.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QDeadlineTimer>

#include <cerrno>
#include <cstring>

namespace {

constexpr int kOpRead = TftpPacket::kReadRequest;
constexpr int kOpWrite = TftpPacket::kWriteRequest;
constexpr int kOpData = TftpPacket::kData;
constexpr int kOpAck = TftpPacket::kAck;
// Longest single wait, so that abort() is noticed promptly.
constexpr int kWaitSliceMs = 50;

void appendBe16(QByteArray &packet, int value)
{
    packet.append(char((value >> 8) & 0xFF));
    packet.append(char(value & 0xFF));
}

} // namespace

QTFTP::QTFTP(QObject *parent, int timeoutMs) : QThread(parent), m_timeout(timeoutMs)
{
    qCDebug(lcTftp) << "Construct QTFTP thread.";
}

QTFTP::~QTFTP()
{
    // An owner going away mid-transfer must not leave the thread running
    // on its buffer.
    abort();
    wait();
    qCDebug(lcTftp) << "Destroy QTFTP thread.";
}

void QTFTP::commandRead(const QString &host, QString fileName, char *buffer, unsigned capacity)
{
    m_host = host;
    m_fileName = fileName;
    m_buffer = buffer;
    m_length = capacity;
    m_operation = kOpRead;
    m_result = 0;
    // Cleared here, before start(): an abort() right after start() must hold.
    m_abort = false;
}

void QTFTP::commandWrite(const QString &host, QString fileName, char *buffer, unsigned length)
{
    m_host = host;
    m_fileName = fileName;
    m_buffer = buffer;
    m_length = length;
    m_operation = kOpWrite;
    m_result = 0;
    m_abort = false;
}

void QTFTP::emitProgressDlg(int status)
{
    // The coarse value moves about a hundred times per transfer; repeating an
    // unchanged one would only load the receiver's event queue.
    if (status == m_lastProgressDlg)
        return;
    m_lastProgressDlg = status;
    emit progressDlg(status);
}

void QTFTP::run()
{
    m_result = kFailed;
    m_lastProgressDlg = -1;
    if (m_operation != kOpRead && m_operation != kOpWrite) {
        emit statusMessage(QStringLiteral("TFTP: No m_operation commanded!"));
        emit commandFinished(m_result);
        return;
    }

    m_socket = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
    if (m_socket >= 0) {
        // Datagrams may be fragmented on their way.
        const int dontCare = IP_PMTUDISC_DONT;
        ::setsockopt(m_socket, IPPROTO_IP, IP_MTU_DISCOVER, &dontCare, sizeof dontCare);
    }
    emitProgressDlg(0);

    sockaddr_in peer {};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(quint16(m_port));
    const bool connected = m_socket >= 0
        && inet_pton(AF_INET, m_host.toLatin1().constData(), &peer.sin_addr) == 1
        && ::connect(m_socket, reinterpret_cast<sockaddr *>(&peer), sizeof peer) == 0;
    if (!connected) {
        emit statusMessage(QStringLiteral("TFTP: Could not connect to port %1 on %2").arg(m_port).arg(m_host));
        emit commandFinished(m_result);
        if (m_socket >= 0)
            ::close(m_socket);
        m_socket = -1;
        emitProgressDlg(110);
        return;
    }
    emitProgressDlg(5);
    emit statusMessage(QStringLiteral("TFTP: Connected to %1").arg(m_host));

    if (m_operation == kOpRead)
        doRead();
    else
        doWrite();

    ::close(m_socket);
    m_socket = -1;
    emit statusMessage(QStringLiteral("TFTP: Disconnected"));
    emitProgressDlg(110);
    emit commandFinished(m_result);
}

bool QTFTP::sendPacket(const QByteArray &packet, const char *what)
{
    ssize_t sent;
    do {
        sent = ::send(m_socket, packet.constData(), size_t(packet.size()), 0);
        // An ICMP error left by an earlier datagram is reported on this call
        // and says nothing about this one: try once more.
        if (sent < 0 && errno == ECONNREFUSED)
            sent = ::send(m_socket, packet.constData(), size_t(packet.size()), 0);
    } while (sent < 0 && errno == EINTR);
    if (sent == packet.size())
        return true;
    emit statusMessage(QStringLiteral("TFTP: %1 only wrote %2 out of %3 bytes!")
                           .arg(QLatin1String(what))
                           .arg(sent < 0 ? -1 : int(sent))
                           .arg(packet.size()));
    return false;
}

bool QTFTP::sendRequest(int opcode, const QString &fileName)
{
    QByteArray packet;
    appendBe16(packet, opcode);
    packet.append(fileName.toLatin1());
    packet.append('\0');
    packet.append("netascii");
    packet.append('\0');
    return sendPacket(packet, "sendRequest");
}

bool QTFTP::sendAck(int block)
{
    QByteArray packet;
    appendBe16(packet, kOpAck);
    appendBe16(packet, block);
    return sendPacket(packet, "sendAck");
}

bool QTFTP::sendData(int block, const char *data, unsigned length)
{
    if (length > unsigned(kBlockBytes)) {
        emit statusMessage(QStringLiteral("TFTP: sendData too long (%1)").arg(length));
        return false;
    }
    QByteArray packet;
    packet.reserve(int(length) + 4);
    appendBe16(packet, kOpData);
    appendBe16(packet, block);
    packet.append(data, int(length));
    return sendPacket(packet, "sendData");
}

qsizetype QTFTP::receivePacket(const char *who, const QDeadlineTimer &deadline)
{
    for (;;) {
        if (m_abort) {
            emit statusMessage(QStringLiteral("TFTP: %1 aborted").arg(QLatin1String(who)));
            return -1;
        }
        const qint64 left = deadline.remainingTime();
        pollfd p {m_socket, POLLIN, 0};
        const int ready = ::poll(&p, 1, int(qMin<qint64>(left, kWaitSliceMs)));
        if (ready > 0) {
            // One byte more than the largest packet tells an oversized datagram apart.
            const ssize_t n = ::recv(m_socket, m_packet, sizeof m_packet, MSG_TRUNC | MSG_DONTWAIT);
            if (n >= 0)
                return qsizetype(n);
            // ICMP errors from earlier sends (a device still starting) are
            // not an answer: keep waiting for one.
            if (errno != ECONNREFUSED && errno != EAGAIN && errno != EINTR) {
                emit statusMessage(QStringLiteral("TFTP: %1 receive failed (%2)")
                                       .arg(QLatin1String(who), QString::fromLocal8Bit(strerror(errno))));
                return -1;
            }
        }
        if (deadline.hasExpired()) {
            emit statusMessage(QStringLiteral("TFTP: %1 timed out").arg(QLatin1String(who)));
            return -1;
        }
    }
}

QTFTP::Answer QTFTP::receiveAck(int block)
{
    // Whatever else arrives meanwhile is no answer, and sending the block
    // again for it would have every later block go twice: the wait goes
    // on, to the same deadline.
    const QDeadlineTimer deadline(m_timeout);
    bool reported = false;
    for (;;) {
        const qsizetype n = receivePacket("receiveAck", deadline);
        if (n < 0)
            return Answer::NotReceived;
        const TftpPacket packet = TftpPacket::read(m_packet, n);
        if (packet.acknowledges(block))
            return Answer::Received;
        const QString why = packet.describe(TftpPacket::kAck, block, "receiveAck");
        if (packet.kind() == TftpPacket::Kind::Error) {
            emit statusMessage(why);
            return Answer::PeerError;
        }
        // Once per wait: a peer repeating itself must not flood the receiver.
        if (!reported)
            emit statusMessage(why);
        reported = true;
        qCDebug(lcTftp) << why;
        // Nor may it hold the wait open past its end.
        if (deadline.hasExpired()) {
            emit statusMessage(QStringLiteral("TFTP: receiveAck timed out"));
            return Answer::NotReceived;
        }
    }
}

QTFTP::Answer QTFTP::receiveData(int block, int *length)
{
    const qsizetype n = receivePacket("receiveData", QDeadlineTimer(m_timeout));
    if (n < 0)
        return Answer::NotReceived;
    const TftpPacket packet = TftpPacket::read(m_packet, n);
    if (packet.carries(block)) {
        *length = int(packet.payload().size());
        return Answer::Received;
    }
    emit statusMessage(packet.describe(TftpPacket::kData, block, "receiveData"));
    return packet.kind() == TftpPacket::Kind::Error ? Answer::PeerError : Answer::NotReceived;
}

void QTFTP::doWrite()
{
    m_result = kFailed;
    emit statusMessage(QStringLiteral("TFTP: Writing %1").arg(m_fileName));
    if (m_length > 0 && !m_buffer) {
        emit statusMessage(QStringLiteral("TFTP: null write buffer"));
        return;
    }
    // Block numbers are 16 bits wide and the transfer ends with a short block.
    if (m_length / kBlockBytes >= 0xFFFF) {
        emit statusMessage(QStringLiteral("TFTP: file too long (%1 bytes)").arg(m_length));
        return;
    }
    if (!sendRequest(kOpWrite, m_fileName))
        return;

    int block = 0;
    const char *position = m_buffer;
    unsigned acknowledged = 0;
    unsigned remaining = m_length;
    unsigned chunk = 0;
    bool last = false;
    for (;;) {
        bool answered = false;
        for (int attempt = 1; attempt <= kWriteAttempts; ++attempt) {
            const Answer answer = receiveAck(block);
            if (m_abort || answer == Answer::PeerError)
                return;
            if (answer == Answer::Received) {
                answered = true;
                break;
            }
            qCDebug(lcTftp) << "write attempt" << attempt << "for block" << block << "failed";
            if (block == 0) {
                if (attempt < kWriteAttempts && !sendRequest(kOpWrite, m_fileName))
                    return;
            } else if (!sendData(block, position, chunk)) {
                return;
            }
        }
        if (!answered) {
            emit statusMessage(QStringLiteral("TFTP: doWrite giving up after 5 retries"));
            m_result = kGaveUp;
            return;
        }
        if (last) {
            m_result = int(m_length);
            return;
        }
        position += chunk;
        acknowledged += chunk;
        remaining -= chunk;
        ++block;
        int value;
        // A receiver ends the file only at a block shorter than 512 bytes, so
        // a length that is a multiple of 512 ends with an empty block.
        if (remaining >= unsigned(kBlockBytes)) {
            chunk = kBlockBytes;
            value = int(double(acknowledged) / double(m_length) * 98.0);
        } else {
            chunk = remaining;
            last = true;
            value = 99;
        }
        emitProgressDlg(value + 10);
        if (!sendData(block, position, chunk))
            return;
        emit progress(int(acknowledged));
    }
}

void QTFTP::doRead()
{
    m_result = kFailed;
    emit statusMessage(QStringLiteral("TFTP: Reading %1").arg(m_fileName));
    if (m_length > 0 && !m_buffer) {
        emit statusMessage(QStringLiteral("TFTP: null read buffer"));
        return;
    }
    if (!sendRequest(kOpRead, m_fileName))
        return;

    unsigned total = 0;
    int expected = 1;
    for (;;) {
        int d = -1;
        bool received = false;
        for (int attempt = 1; attempt <= kReadAttempts; ++attempt) {
            const Answer answer = receiveData(expected, &d);
            if (m_abort || answer == Answer::PeerError)
                return;
            if (answer == Answer::Received) {
                qCDebug(lcTftp) << "Received block!" << expected;
                received = true;
                break;
            }
            const bool resent = expected == 1 ? sendRequest(kOpRead, m_fileName) : sendAck((expected - 1) & 0xFFFF);
            if (!resent)
                return;
        }
        if (!received) {
            qCDebug(lcTftp) << "TFTP: doRead giving up after" << kReadAttempts << "retries";
            return;
        }
        if (total + unsigned(d) > m_length) {
            emit statusMessage(QStringLiteral("TFTP: doRead buffer too small"));
            return;
        }
        if (d > 0)
            std::memcpy(m_buffer + total, m_packet + TftpPacket::kHeaderBytes, size_t(d));
        total += unsigned(d);
        if (!sendAck(expected & 0xFFFF)) {
            emit statusMessage(QStringLiteral("TFTP: doRead ack failed"));
            return;
        }
        if (d < kBlockBytes) {
            m_result = int(total);
            return;
        }
        emit progress(int(total));
        ++expected;
    }
}

void QTFTP::discard(QTFTP *&thread)
{
    if (!thread)
        return;
    thread->disconnect();
    thread->abort();
    thread->wait();
    delete thread;
    thread = nullptr;
}
