#include "usb/VireoVerifier.h"

#include "usb/DeviceNodeAccess.h"
#include "usb/Device_VireoPlayer.h"

#include <QFileInfo>
#include <QScopeGuard>

namespace {

const char kMfgFileNameKey[] = "mfg_log_2";

} // namespace

VireoVerifier::VireoVerifier(MakePlayer makePlayer, const QString &fileName, bool factoryDefault,
                             const QString &product, const QString &expected, const QString &before, int waitMs,
                             QObject *parent)
    : PlayerVerifier(product, expected, waitMs, parent), m_makePlayer(std::move(makePlayer)),
      m_fileName(fileName), m_factoryDefault(factoryDefault), m_before(before)
{
}

void VireoVerifier::abort()
{
    PlayerVerifier::abort();
    if (m_active)
        m_active->stop();
}

QString VireoVerifier::notRecordedRemark() const
{
    return m_factoryDefault
        ? tr("Its firmware file name was not recorded and the factory show files were not restored.")
        : tr("Its firmware file name was not recorded.");
}

void VireoVerifier::attempt()
{
    if (isAborted())
        return;
    if (m_seenAgain)
        return readBack();
    const std::unique_ptr<Device_VireoPlayer> vireo = m_makePlayer();
    m_active = vireo.get();
    const auto done = qScopeGuard([this] { m_active = nullptr; });

    const QList<SerialPortEntry> ports = vireo->findPlayerPorts();
    const QStringList refusedPorts = ports.isEmpty() ? vireo->refusedPlayerPorts() : QStringList();
    if (!refusedPorts.isEmpty()) {
        // Back, but on a port this user may not open: waiting longer would not help.
        vireo->progressStep(true);
        return emit finished(RevisionCheck::noAnswer(tr("the Vireo Player is back, but this user may not "
                                                        "open it (%1); to reach it: %2")
                                                         .arg(refusedPorts.join(QStringLiteral("; ")),
                                                              DeviceNodeAccess::advice())),
                             notRecordedRemark());
    }
    if (ports.isEmpty()) {
        if (timeLeft())
            return lookAgainIn(kPollMs);
        vireo->progressStep(true);
        return emit finished(
            RevisionCheck::noAnswer(tr("the Vireo Player did not start again within %1").arg(waitText())),
            notRecordedRemark());
    }
    if (ports.size() > 1)
        return emit severalFound();

    m_seenAgain = true;
    m_port = ports.first();
    const QString found = tr("Found VireoPlayer after reboot.");
    vireo->progressStep(false, &found);
    m_active = nullptr;
    readBack();
}

void VireoVerifier::readBack()
{
    const std::unique_ptr<Device_VireoPlayer> vireo = m_makePlayer();
    m_active = vireo.get();
    const auto done = qScopeGuard([this] { m_active = nullptr; });
    vireo->setPort(m_port);

    // Its port may be back before the player answers on it.
    VireoDescriptor after;
    vireo->getDescriptor(after);
    if (isAborted() || vireo->stopped())
        return;
    const bool answered = !after.firmwareVersion.isEmpty() || !after.serialNumber.isEmpty();
    if (!answered && timeLeft())
        return lookAgainIn(kPollMs);
    const RevisionCheck check = judged(after, answered);
    if (!after.serialNumber.isEmpty())
        emit identified(after.serialNumber);

    QStringList remarks;
    if (!answered) {
        // A player that did not answer its descriptor would only make each
        // further request wait out its time.
        remarks.append(notRecordedRemark());
    } else {
        const QString saving = tr("Saving firmware file name");
        vireo->progressStep(false, &saving);
        if (!vireo->setMfgValue(QLatin1String(kMfgFileNameKey), QFileInfo(m_fileName).fileName()))
            remarks.append(tr("The firmware file name was not recorded in the player."));
        if (isAborted() || vireo->stopped())
            return;
        if (m_factoryDefault && !vireo->restoreFactoryDefaults())
            remarks.append(tr("Not every factory show file was restored."));
        if (isAborted() || vireo->stopped())
            return;
    }
    const QString complete = tr("Complete");
    vireo->progressStep(true, &complete);
    emit log(LOG_INFO, tr("Program of %1 complete!").arg(m_product));
    emit finished(check, remarks.join(QLatin1Char(' ')));
}

RevisionCheck VireoVerifier::judged(const VireoDescriptor &after, bool answered) const
{
    if (!answered)
        return RevisionCheck::noAnswer(
            after.problem.isEmpty()
                ? tr("the Vireo Player did not answer within %1").arg(waitText())
                : tr("no complete answer from the Vireo Player within %1 (%2)").arg(waitText(), after.problem));
    if (after.firmwareVersion.isEmpty())
        return RevisionCheck::notComparable(
            QString(), after.problem.isEmpty()
                ? tr("the player's descriptor gives no firmware version")
                : tr("the player's descriptor gives no usable firmware version (%1)").arg(after.problem));
    if (m_expected.isNull())
        return RevisionCheck::notComparable(
            after.firmwareVersion,
            tr("the player reports %1, but the image does not say which version it is").arg(after.firmwareVersion));
    const QString comparable = Device_VireoPlayer::comparableVersion(after.firmwareVersion);
    RevisionCheck check = comparable.isNull()
        ? RevisionCheck::notComparable(after.firmwareVersion,
                                       tr("the player reports \"%1\", which cannot be compared with the image's %2")
                                           .arg(after.firmwareVersion, m_expected))
        : judgedAgainstBefore(RevisionCheck::compare(comparable, m_expected),
                              Device_VireoPlayer::comparableVersion(m_before));
    // The record keeps the player's own text.
    check.revisionAfter = after.firmwareVersion;
    return check;
}
