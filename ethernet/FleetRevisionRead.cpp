#include "ethernet/FleetRevisionRead.h"

FleetRevisionRead::FleetRevisionRead(const QStringList &addresses, ControllerVerifier::Route route,
                                     const EthernetSettings &settings, TarvoLibrary &tarvo, QObject *parent)
    : QObject(parent), m_addresses(addresses), m_route(route)
{
    QList<ControllerVerifier::Target> targets;
    for (const QString &address : addresses) {
        ControllerVerifier::Target target;
        target.address = address;
        target.route = route;
        targets.append(target);
    }
    // No build is expected: whatever a controller reports is its answer.
    m_verifier = new ControllerVerifier(targets, QString(), QString(), settings, tarvo, 0, this);
    // Nothing was written: the controllers are asked at once.
    m_verifier->setSettle(0);
    m_waitMs = qMax(0, settings.queryWindowMs);
    m_verifier->setWait(m_waitMs);
    connect(m_verifier, &ControllerVerifier::checked, this, &FleetRevisionRead::checked);
    connect(m_verifier, &ControllerVerifier::finished, this, &FleetRevisionRead::finished);
}

void FleetRevisionRead::start()
{
    m_clock.start();
    m_verifier->start();
}

void FleetRevisionRead::abort()
{
    m_verifier->disconnect(this);
    m_verifier->abort();
}

void FleetRevisionRead::checked(int index)
{
    const QString address = m_addresses.value(index);
    const RevisionCheck check = m_verifier->checks().value(index);
    ++m_answered;
    if (check.revisionAfter.isEmpty()) {
        // The verifier words its time-out for a check after a write.
        const QString why = m_clock.elapsed() >= m_waitMs
            ? tr("no answer within %1 s").arg(QString::number(m_waitMs / 1000.0, 'g', 3))
            : check.detail;
        emit message(LOG_WARNING, tr("Controller %1 did not tell its revision before the update (%2): it stays "
                                     "unknown, and the check afterwards cannot verify it by its build alone.")
                                      .arg(address, why));
    } else {
        m_revisions.insert(address, check.revisionAfter);
        m_infoRead |= m_route == ControllerVerifier::Route::Info;
        emit message(LOG_INFO,
                     tr("Controller %1 runs revision %2 before the update.").arg(address, check.revisionAfter));
    }
    emit progress(m_answered, int(m_addresses.size()));
}
