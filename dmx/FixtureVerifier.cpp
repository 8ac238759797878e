#include "dmx/FixtureVerifier.h"

#include "dmx/Hollis.h"

#include <QCoreApplication>
#include <QTimer>

namespace {

QString waitText(int ms)
{
    return ms % 1000 == 0 ? QCoreApplication::translate("FixtureVerifier", "%1 s").arg(ms / 1000)
                          : QCoreApplication::translate("FixtureVerifier", "%1 ms").arg(ms);
}

} // namespace

FixtureVerifier::FixtureVerifier(ZelHollis::Hollis &hollis, QObject *parent)
    : QObject(parent), m_hollis(hollis), m_timer(new QTimer(this))
{
    m_timer->setSingleShot(true);
    connect(m_timer, &QTimer::timeout, this, &FixtureVerifier::readEnded);
}

void FixtureVerifier::start(int device, quint32 serial, const FixtureImageRevision &image,
                            const QString &before)
{
    m_device = device;
    m_serial = serial;
    m_image = image;
    m_before = before;
    m_checking = true;
    m_clock.start();
    read();
}

void FixtureVerifier::abort()
{
    m_checking = false;
    m_timer->stop();
}

void FixtureVerifier::read()
{
    quint16 scratch = 0;
    // A read the library refused to start has no answer to wait for; it is
    // tried again after the same time, so that a stale value never counts.
    m_readStarted = m_hollis.fixtureReadFirmwareVersion(m_device, 0, m_serial, scratch);
    const qint64 left = qMax<qint64>(0, m_waitMs - m_clock.elapsed());
    m_timer->start(int(qMin<qint64>(m_readWaitMs, left)));
}

void FixtureVerifier::readEnded()
{
    if (!m_checking)
        return;
    const QVariant version = m_readStarted
        ? m_hollis.getFixtureProperty(m_device, 0, m_serial, "fixture_firmware_version")
        : QVariant();
    RevisionCheck check;
    if (version.isValid()) {
        check = m_image.judge(version.toUInt(), m_before);
    } else if (m_clock.elapsed() >= m_waitMs) {
        check = RevisionCheck::noAnswer(
            tr("the fixture did not report its firmware version within %1").arg(waitText(m_waitMs)));
    } else {
        read();
        return;
    }
    m_checking = false;
    emit checked(check);
}
