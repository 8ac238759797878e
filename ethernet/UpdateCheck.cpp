#include "ethernet/UpdateCheck.h"

#include "catalogue/BootLoadProduct.h"
#include "catalogue/MicroprocessorImageInfo.h"
#include "ethernet/ControllerVerifier.h"

UpdateCheck::UpdateCheck(const EthernetSettings &settings, TarvoLibrary &tarvo, QObject *parent)
    : QObject(parent), m_settings(settings), m_tarvo(tarvo)
{
}

UpdateCheck::~UpdateCheck()
{
    stop();
}

void UpdateCheck::start(const QList<Written> &written, const BootLoadProduct *product, bool typeUnconfirmed,
                        int discoveryPort, int waitMs)
{
    stop();
    m_written = written;
    m_checks.clear();

    // The routes report the build number, the last byte of the image's version.
    const MicroprocessorImageInfo *first = product ? product->processor(0) : nullptr;
    const bool versioned = first && first->fileType() == 0 && first->blRev() == 1;
    const std::optional<quint32> build =
        ControllerVerifier::buildNumber(product ? product->imageVersion() : 0, versioned);
    const ControllerVerifier::Route route = ControllerVerifier::routeFor(product);
    QList<ControllerVerifier::Target> targets;
    for (const Written &w : written) {
        ControllerVerifier::Target target;
        target.address = w.address;
        target.route = route;
        target.revisionBefore = w.revisionBefore;
        target.beforeUnread = w.beforeUnread;
        if (typeUnconfirmed) {
            target.typeText = first ? first->sft() : QString();
            target.typeName = product ? product->name() : QString();
        }
        targets.append(target);
    }

    m_verifier = new ControllerVerifier(targets, build ? QString::number(*build) : QString(),
                                        tr("the image carries no version number a controller reports"),
                                        m_settings, m_tarvo, discoveryPort, this);
    m_verifier->setWait(waitMs);
    connect(m_verifier, &ControllerVerifier::checked, this, &UpdateCheck::verifierChecked);
    connect(m_verifier, &ControllerVerifier::finished, this, &UpdateCheck::verifierDone);
    const QString seconds = QString::number((m_settings.verifySettleMs + waitMs) / 1000.0, 'g', 3);
    const QString text = written.size() == 1
        ? tr("Checking the firmware revision of %1: it has %2 s to answer.").arg(written.first().address, seconds)
        : tr("Checking the firmware revision of %1 controllers: they have %2 s to answer.")
              .arg(written.size())
              .arg(seconds);
    emit message(LOG_INFO, text);
    m_verifier->start();
}

void UpdateCheck::verifierChecked(int index)
{
    if (!m_verifier || index < 0 || index >= m_written.size())
        return;
    const Written written = m_written.at(index);
    const RevisionCheck check = m_verifier->checks().at(index);
    m_checks.insert(written.address, check);
    const LOGPRIORITY priority = check.failed() ? LOG_SEVERE
        : check.result == RevisionCheck::Result::Verified ? LOG_INFO
                                                          : LOG_WARNING;
    emit message(priority, tr("Revision check of %1: %2").arg(written.address, check.summary()));
    emit checked(written, check);
}

void UpdateCheck::verifierDone()
{
    ControllerVerifier *verifier = m_verifier;
    if (!verifier)
        return;
    m_verifier = nullptr;
    verifier->disconnect(this);
    // It goes once the signal that got here returns.
    verifier->deleteLater();
    emit finished();
}

void UpdateCheck::stop()
{
    if (!m_verifier)
        return;
    m_verifier->disconnect(this);
    delete m_verifier;
    m_verifier = nullptr;
}

QList<UpdateCheck::Written> UpdateCheck::unchecked() const
{
    QList<Written> left;
    for (const Written &w : m_written)
        if (!m_checks.contains(w.address))
            left.append(w);
    return left;
}
