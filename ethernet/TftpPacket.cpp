#include "ethernet/TftpPacket.h"

TftpPacket TftpPacket::read(const char *datagram, qsizetype length)
{
    TftpPacket p;
    p.m_length = length;
    if (!datagram || length < kHeaderBytes || length > kMaxBytes)
        return p;
    const auto *u = reinterpret_cast<const uchar *>(datagram);
    p.m_opcode = (u[0] << 8) | u[1];
    p.m_number = (u[2] << 8) | u[3];
    p.m_payload = QByteArrayView(datagram + kHeaderBytes, length - kHeaderBytes);
    switch (p.m_opcode) {
    case kData:
        p.m_kind = Kind::Data;
        break;
    case kAck:
        p.m_kind = Kind::Ack;
        break;
    case kError:
        p.m_kind = Kind::Error;
        break;
    default:
        p.m_kind = Kind::Other;
        break;
    }
    return p;
}

QString TftpPacket::errorMessage() const
{
    if (m_kind != Kind::Error)
        return QString();
    // The terminator is often missing, and what stands before it is the
    // peer's: nothing of it may break a log line or a record apart.
    QByteArrayView text = m_payload;
    if (const qsizetype end = text.indexOf('\0'); end >= 0)
        text = text.first(end);
    QString message = QString::fromLatin1(text);
    for (QChar &c : message)
        if (c.unicode() < 0x20 || (c.unicode() >= 0x7F && c.unicode() < 0xA0))
            c = QLatin1Char(' ');
    return message.simplified();
}

QString TftpPacket::describe(int awaitedOpcode, int awaitedBlock, const char *who) const
{
    const QLatin1String by(who);
    switch (m_kind) {
    case Kind::Unreadable:
        return m_length < kHeaderBytes
            ? QStringLiteral("TFTP: %1 bytesAvail too short (%2)").arg(by).arg(m_length)
            : QStringLiteral("TFTP: %1 bytesAvail too long (%2)").arg(by).arg(m_length);
    case Kind::Error: {
        const QString message = errorMessage();
        return message.isEmpty()
            ? QStringLiteral("TFTP: the controller ended the transfer with error %1").arg(errorCode())
            : QStringLiteral("TFTP: the controller ended the transfer with error %1 \"%2\"")
                  .arg(errorCode())
                  .arg(message);
    }
    default:
        if (m_opcode != awaitedOpcode)
            return QStringLiteral("TFTP: %1 wrong opcode %2").arg(by).arg(m_opcode);
        return QStringLiteral("TFTP: %1 block mismatch (wanted %2 got %3)")
            .arg(by)
            .arg(awaitedBlock & 0xFFFF)
            .arg(m_number);
    }
}
