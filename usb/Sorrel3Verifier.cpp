#include "usb/Sorrel3Verifier.h"

#include "catalogue/BootLoadProduct.h"
#include "usb/Sorrel3Link.h"
#include "usb/Sr3UsbLibrary.h"

Sorrel3Verifier::Sorrel3Verifier(Sorrel3Link &link, const QString &product, const QString &expected,
                                 const QString &before, int waitMs, QObject *parent)
    : PlayerVerifier(product, expected, waitMs, parent), m_link(link), m_before(before)
{
}

void Sorrel3Verifier::attempt()
{
    if (isAborted())
        return;
    Sr3UsbLibrary &sr3 = m_link.library();
    QString problem;
    QString reported;
    const int inApplication = sr3.controllerCount();
    const int inBootLoader = sr3.rawDeviceCount();
    if (inApplication + inBootLoader > 1) {
        problem = tr("more than one Sorrel 3 is connected");
    } else if (inApplication == 1 && (sr3.connectController() != Sr3UsbLibrary::kSuccess
                                      || sr3.enterBootLoader() != Sr3UsbLibrary::kSuccess)) {
        problem = tr("the %1 did not switch to its boot loader").arg(m_product);
    } else if (inApplication + inBootLoader == 1 && sr3.rawDeviceCount() == 1 && m_link.open()) {
        int version = 0;
        if (sr3.getFirmwareVersion(version))
            reported = Sorrel3Link::formatVersion(quint32(version) & BootLoadProduct::kPackedVersionMask);
        else
            m_answeredWithoutVersion = true;
        m_link.resetIntoFirmware();
        m_link.release(false);
    }
    // Without the image's version there is nothing to compare with: never a
    // match, nor a mismatch naming an empty version.
    if (!reported.isNull() && m_expected.isNull())
        return emit finished(RevisionCheck::notComparable(
                                 reported, tr("the %1 reports %2, but the image does not say which version it is")
                                               .arg(m_product, reported)),
                             QString());
    if (!reported.isNull())
        return emit finished(judgedAgainstBefore(RevisionCheck::compare(reported, m_expected), m_before), QString());
    if (timeLeft())
        return lookAgainIn(kPollMs);
    if (m_answeredWithoutVersion)
        emit finished(RevisionCheck::notComparable(
                          QString(), tr("the %1 is back, but its firmware version could not be read").arg(m_product)),
                      QString());
    else if (!problem.isEmpty())
        emit finished(RevisionCheck::noAnswer(tr("%1 until the wait of %2 was over").arg(problem, waitText())),
                      QString());
    else
        emit finished(RevisionCheck::noAnswer(tr("the %1 did not answer within %2").arg(m_product, waitText())),
                      QString());
}
