#include "ethernet/ControllerWrite.h"

#include "ethernet/EthernetLogging.h"
#include "ethernet/QTFTP.h"

ControllerWrite::ControllerWrite(const EthernetSettings &settings, QObject *parent)
    : QObject(parent), m_settings(settings)
{
}

ControllerWrite::~ControllerWrite()
{
    abort();
}

void ControllerWrite::start(const QString &address, const QByteArray &image, int timeoutMs)
{
    abort();
    m_address = address;
    m_image = image;
    m_lastStatus.clear();
    m_thread = new QTFTP(this, timeoutMs);
    m_thread->setPort(m_settings.tftpPort);
    connect(m_thread, &QTFTP::progressDlg, this, &ControllerWrite::progress);
    connect(m_thread, &QTFTP::commandFinished, this, &ControllerWrite::threadDone);
    connect(m_thread, &QTFTP::statusMessage, this, [this](const QString &text) {
        // Closing the socket comes after whatever went wrong.
        if (text != QLatin1String("TFTP: Disconnected"))
            m_lastStatus = text;
        qCDebug(lcTftp) << "write:" << text;
    });
    qCDebug(lcTftp) << "Connecting to" << address;
    // The thread reads the bytes as they are now, whatever the caller does with its copy.
    m_thread->commandWrite(address, QStringLiteral("firmware"), m_image.data(), unsigned(m_image.size()));
    m_thread->start();
}

void ControllerWrite::threadDone(int result)
{
    // An end queued before abort() stopped the write is not the end of a run.
    if (!m_thread || sender() != m_thread)
        return;
    // Finished before its end was reported: a short wait.
    m_thread->wait();
    delete m_thread;
    m_thread = nullptr;
    m_image.clear();
    emit finished(result, m_lastStatus);
}

bool ControllerWrite::abort()
{
    if (!m_thread)
        return false;
    m_thread->disconnect(this);
    m_thread->abort();
    m_thread->wait();
    // Its end may be waiting in the queue: what the thread did decides.
    const int result = m_thread->result();
    const bool completed = result >= 0 && result == m_image.size();
    delete m_thread;
    m_thread = nullptr;
    m_image.clear();
    return completed;
}
