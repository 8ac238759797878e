#include "ethernet/RevisionQuery.h"

#include "ethernet/EthernetLogging.h"
#include "ethernet/QTFTP.h"
#include "ethernet/TarvoLibrary.h"

#include <QHostAddress>
#include <QTimer>

RevisionQuery::RevisionQuery(const EthernetSettings &settings, TarvoLibrary &tarvo, QObject *parent)
    : QObject(parent), m_settings(settings), m_tarvo(tarvo)
{
    std::fill(std::begin(m_buffer), std::end(m_buffer), 0);
    m_timer = new QTimer(this);
    m_timer->setSingleShot(true);
    connect(m_timer, &QTimer::timeout, this, &RevisionQuery::timedOut);
    // The library answers every asker alike: a reply nobody here waits for
    // (a check's, or one after the wait) is not passed on.
    connect(&m_tarvo, &TarvoLibrary::signalDeviceVariableReply, this,
            [this](unsigned long ip, quint16 valueId, quint32 value) {
                if (isWaiting())
                    emit valueReply(quint32(ip), valueId, value);
            });
}

RevisionQuery::~RevisionQuery()
{
    release();
}

bool RevisionQuery::isWaiting() const
{
    return m_timer->isActive();
}

void RevisionQuery::answered()
{
    m_timer->stop();
}

void RevisionQuery::askValue(quint32 address)
{
    m_timer->start(m_settings.queryWindowMs);
    m_tarvo.getValue(QHostAddress(address).toString(), TarvoLibrary::kFirmwareRevision);
}

void RevisionQuery::readInfo(quint32 address)
{
    m_timer->start(m_settings.queryWindowMs);
    if (!m_read) {
        m_read = new QTFTP(this, m_settings.infoReadTimeoutMs);
        connect(m_read, &QTFTP::commandFinished, this, &RevisionQuery::infoReadDone);
        connect(m_read, &QTFTP::statusMessage, this,
                [](const QString &text) { qCDebug(lcTftp) << "info read:" << text; });
    }
    if (m_read->isRunning()) {
        qCDebug(lcTftp) << "an info read is still under way; no second one started";
        return;
    }
    // Its end was reported; the thread itself may still be winding down.
    m_read->wait();
    m_address = address;
    emit message(LOG_INFO, tr("Querying firmware rev. from %1.").arg(QHostAddress(address).toString()));
    std::fill(std::begin(m_buffer), std::end(m_buffer), 0);
    m_read->setPort(m_settings.tftpPort);
    m_read->commandRead(QHostAddress(address).toString(), QStringLiteral("info"), m_buffer, sizeof m_buffer);
    m_read->start();
}

void RevisionQuery::infoReadDone(int result)
{
    emit infoRead(m_address, result, QByteArray(m_buffer, int(qstrnlen(m_buffer, sizeof m_buffer))));
}

void RevisionQuery::stop()
{
    m_timer->stop();
    if (m_read) {
        m_read->disconnect(this);
        m_read->abort();
        connect(m_read, &QThread::finished, m_read, &QObject::deleteLater);
        if (!m_read->isRunning())
            delete m_read;
        m_read = nullptr;
    }
}

void RevisionQuery::release()
{
    m_timer->stop();
    QTFTP::discard(m_read);
}
