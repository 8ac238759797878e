#include "app/UnattendedRun.h"

#include "app/RunEvents.h"
#include "app/UnattendedPrompter.h"
#include "app/ZelBootLoader.h"
#include "base/InterfacePanel.h"
#include "catalogue/BootLoadProduct.h"
#include "catalogue/ImageVersion.h"

#include <QCoreApplication>
#include <QFileInfo>

namespace {

// Worst first: the outcome a run of several devices ends with. A device that
// was not written at all (cancelled) weighs more than one that was written
// and not confirmed: the run must not hide it.
int severity(UpdateRecord::Outcome outcome)
{
    switch (outcome) {
    case UpdateRecord::Outcome::Mismatch: return 4;
    case UpdateRecord::Outcome::Failed: return 3;
    case UpdateRecord::Outcome::Cancelled: return 2;
    case UpdateRecord::Outcome::NotVerified: return 1;
    case UpdateRecord::Outcome::Verified: return 0;
    }
    return 3;
}

} // namespace

UnattendedRun::UnattendedRun(ZelBootLoader &window, const StartOptions &options,
                             UnattendedPrompter &prompter, QObject *parent)
    : QObject(parent), m_window(&window), m_options(options), m_prompter(prompter)
{
    m_result.allowedQuestions = options.allowedQuestions;
    m_stepLimit.setSingleShot(true);
    // The panels take "all" in any letter case; the run's advice must read it the same way.
    if (m_options.deviceAddress.compare(QLatin1String("all"), Qt::CaseInsensitive) == 0)
        m_options.deviceAddress = QStringLiteral("all");
}

int UnattendedRun::decisiveRecord(const QList<UpdateRecord> &records)
{
    int worst = records.isEmpty() ? -1 : 0;
    for (int i = 1; i < records.size(); ++i) {
        if (severity(records.at(i).outcome) > severity(records.at(worst).outcome))
            worst = i;
    }
    return worst;
}

void UnattendedRun::start()
{
    QMetaObject::invokeMethod(this, &UnattendedRun::loadImage, Qt::QueuedConnection);
}

QString UnattendedRun::addressText() const
{
    return m_options.deviceAddress.isEmpty() ? m_options.deviceType
                                             : QStringLiteral("%1 %2").arg(m_options.deviceType,
                                                                           m_options.deviceAddress);
}

void UnattendedRun::setStepLimit(int milliseconds)
{
    m_stepLimitMs = milliseconds;
    if (m_stepLimit.isActive())
        m_stepLimit.start(m_stepLimitMs);
}

void UnattendedRun::armStepLimit(const QString &what)
{
    m_stepLimit.disconnect();
    connect(&m_stepLimit, &QTimer::timeout, this, [this, what] {
        const QString message = tr("%1 did not end within %2 s.").arg(what, QString::number(m_stepLimitMs / 1000.0));
        if (!m_programming) {
            finish(ExitCode::DeviceNotFound, message);
            return;
        }
        // An update that hangs is a failure, unless what the panel records
        // as it is stopped says more. It is stopped once the event loop has
        // been left (abandon()): the panel may be inside a wait of its own now.
        m_stopReason = message;
        emit finished(static_cast<int>(ExitCode::FailedOrMismatch));
    });
    m_stepLimit.start(m_stepLimitMs);
}

void UnattendedRun::loadImage()
{
    if (m_finished || m_stopping || !m_window)
        return;
    ZelBootLoader &window = *m_window;
    BootLoadProduct *product = window.currentProduct();
    if (window.interfaceIndex() != m_options.interfaceIndex || !product
        || product->name() != m_options.deviceType) {
        finish(ExitCode::BadOptionsOrImageRefused,
               tr("\"%1\" is not a device type of the chosen interface; -deviceType= takes a "
                  "name from the window's device list.")
                   .arg(m_options.deviceType));
        return;
    }
    window.selectFirmwareImage();
    if (m_finished)
        return;
    if (window.runState() != ZelBootLoader::RunState::Ready) {
        const QString why = m_prompter.lastProblem();
        finish(ExitCode::BadOptionsOrImageRefused,
               why.isEmpty() ? tr("The image %1 was refused.").arg(m_options.firmwarePath)
                             : tr("The image %1 was refused: %2")
                                   .arg(m_options.firmwarePath, why.simplified()));
        return;
    }
    findDevice();
}

void UnattendedRun::findDevice()
{
    ZelBootLoader &window = *m_window;
    const auto answer = [this](bool found, const QString &message) {
        deviceSearchDone(found, message);
    };
    armStepLimit(tr("The search for %1").arg(addressText()));
    InterfacePanel *panel = window.panel(m_options.interfaceIndex);
    if (!panel) {
        finish(ExitCode::BadOptionsOrImageRefused, tr("No interface was chosen."));
        return;
    }
    m_stepConnections.append(connect(panel, &InterfacePanel::signal_deviceSearchDone, this, answer,
                                     Qt::QueuedConnection));
    panel->findDevice(m_options.deviceAddress);
}

void UnattendedRun::deviceSearchDone(bool found, const QString &message)
{
    for (const QMetaObject::Connection &c : std::as_const(m_stepConnections))
        disconnect(c);
    m_stepConnections.clear();
    m_stepLimit.stop();
    if (m_finished || m_stopping || !m_window)
        return;
    if (m_prompter.refusedQuestion()) {
        // A question on the way to the device (an overwrite) was not allowed.
        m_result.refusedQuestion = m_prompter.refusedQuestion();
        finish(ExitCode::QuestionRefused,
               tr("Nothing was sent: %1").arg(m_prompter.lastRefusal().simplified()));
        return;
    }
    if (!found) {
        const InterfacePanel *panel = m_window->panel(m_options.interfaceIndex);
        const bool byAddress = panel && panel->searchesByAddress() && !m_options.deviceAddress.isEmpty()
            && m_options.deviceAddress != QLatin1String("all");
        // Only an address the panel has entered can be programmed by it alone:
        // the question is worth allowing then, and only then.
        if (byAddress && m_window->programOffered()) {
            if (m_options.allows(GuardingQuestion::ManualAddress)) {
                m_searchNote = message;
                program();
                return;
            }
            m_result.refusedQuestion = GuardingQuestion::ManualAddress;
        }
        finish(ExitCode::DeviceNotFound,
               message.isEmpty() ? tr("%1 was not found.").arg(addressText()) : message);
        return;
    }
    if (!m_window->programOffered()) {
        finish(ExitCode::DeviceNotFound,
               tr("%1 was found but cannot be programmed now: %2")
                   .arg(addressText(), message.isEmpty() ? m_prompter.lastProblem() : message));
        return;
    }
    program();
}

void UnattendedRun::program()
{
    ZelBootLoader &window = *m_window;
    m_programming = true;
    m_stepConnections.append(connect(window.runEvents(), &RunEvents::runRecorded, this,
                                     [this](const UpdateRecord &record) { m_records.append(record); }));
    m_stepConnections.append(connect(window.runEvents(), &RunEvents::recordNotWritten, this,
                                     [this](const UpdateRecord &, const QString &error) {
                                         m_recordErrors.append(error);
                                     }));
    m_stepConnections.append(connect(window.runEvents(), &RunEvents::runEnded, this,
                                     &UnattendedRun::runEnded));
    armStepLimit(tr("The update of %1").arg(addressText()));
    window.program();
}

void UnattendedRun::runEnded()
{
    if (m_finished || m_stopping)
        return;
    for (const QMetaObject::Connection &c : std::as_const(m_stepConnections))
        disconnect(c);
    m_stepConnections.clear();
    m_stepLimit.stop();

    if (m_records.isEmpty()) {
        if (m_prompter.refusedQuestion()) {
            m_result.refusedQuestion = m_prompter.refusedQuestion();
            finish(ExitCode::QuestionRefused,
                   tr("Nothing was sent: %1").arg(m_prompter.lastRefusal().simplified()));
        } else {
            const QString why = m_prompter.lastProblem();
            finish(ExitCode::FailedOrMismatch,
                   why.isEmpty() ? tr("Nothing was programmed.")
                                 : tr("Nothing was programmed: %1").arg(why.simplified()));
        }
        return;
    }
    finishFromRecords(QString());
}

void UnattendedRun::finishFromRecords(const QString &prefix)
{
    const UpdateRecord &worst = m_records.at(decisiveRecord(m_records));
    int verified = 0;
    for (const UpdateRecord &record : std::as_const(m_records)) {
        if (record.outcome == UpdateRecord::Outcome::Verified)
            ++verified;
    }
    m_result.record = worst;
    QString message = prefix;
    // What the search found out comes first: the device was written by its address alone.
    if (!m_searchNote.isEmpty())
        message += m_searchNote + QLatin1Char(' ');
    if (m_records.size() > 1)
        message += tr("%1 of %2 devices verified; ").arg(verified).arg(m_records.size());
    const QString device = worst.address.isEmpty() ? worst.deviceType
                                                   : QStringLiteral("%1 %2").arg(worst.deviceType,
                                                                                 worst.address);
    message += tr("%1: %2").arg(device, UpdateRecord::outcomeName(worst.outcome));
    if (!worst.reason.isEmpty())
        message += QStringLiteral(" (%1)").arg(worst.reason);
    if (!m_recordErrors.isEmpty())
        message += tr("; the update record could not be written: %1").arg(m_recordErrors.first());

    switch (worst.outcome) {
    case UpdateRecord::Outcome::Verified:
        finish(m_recordErrors.isEmpty() ? ExitCode::Verified : ExitCode::VerifiedNotRecorded, message);
        break;
    case UpdateRecord::Outcome::NotVerified: finish(ExitCode::NotVerified, message); break;
    case UpdateRecord::Outcome::Cancelled:
        if (m_prompter.refusedQuestion()) {
            m_result.refusedQuestion = m_prompter.refusedQuestion();
            finish(ExitCode::QuestionRefused, message);
        } else {
            finish(ExitCode::FailedOrMismatch, message);
        }
        break;
    case UpdateRecord::Outcome::Mismatch:
    case UpdateRecord::Outcome::Failed: finish(ExitCode::FailedOrMismatch, message); break;
    }
}

void UnattendedRun::abandon(const QString &why)
{
    if (m_finished)
        return;
    // From here nothing the stopping delivers (a search's answer, a queued
    // step) may take the run on.
    m_stopping = true;
    const QString reason = m_stopReason.isEmpty() ? why : m_stopReason;
    // Stopped as the window stops a run when it closes: a device written but
    // unchecked, or not started, is recorded, and the result is made from
    // the same records.
    if (m_window)
        m_window->stopDeviceWork();
    if (m_records.isEmpty())
        finish(ExitCode::FailedOrMismatch, reason);
    else
        finishFromRecords(reason + QLatin1Char(' '));
}

UpdateRecord UnattendedRun::knownFromOptions(const StartOptions &options)
{
    UpdateRecord known;
    known.interfaceNumber = options.interfaceIndex;
    known.deviceType = options.deviceType;
    known.address = options.deviceAddress;
    if (!options.firmwarePath.isEmpty())
        known.imageFile = QFileInfo(options.firmwarePath).absoluteFilePath();
    return known;
}

UpdateRecord UnattendedRun::knownSoFar() const
{
    UpdateRecord known = knownFromOptions(m_options);
    const BootLoadProduct *product = m_window ? m_window->currentProduct() : nullptr;
    if (product && product->imageReady() && product->name() == m_options.deviceType) {
        known.setImage(product->imageFileName(), product->imageSha256(), ImageVersion::of(*product).version);
        const SignatureVerdict signature = product->imageSignature();
        const bool valid = signature.state == SignatureVerdict::State::Valid;
        known.setSignature(signature.name(), valid ? signature.signedBy() : QString(),
                           valid ? signature.trustedComment : QString());
    }
    return known;
}

void UnattendedRun::finish(ExitCode code, const QString &message)
{
    if (m_finished)
        return;
    m_finished = true;
    if (!m_result.record)
        m_result.known = knownSoFar();
    m_stepLimit.stop();
    for (const QMetaObject::Connection &c : std::as_const(m_stepConnections))
        disconnect(c);
    m_stepConnections.clear();
    m_result.devices = m_records;
    m_result.recordErrors = m_recordErrors;
    m_result.exitCode = code;
    m_result.message = message;
    if (m_result.refusedQuestion && !m_result.allowingOption().isEmpty())
        m_result.message += tr(" (%1 would allow it)").arg(m_result.allowingOption());
    emit finished(static_cast<int>(code));
}
