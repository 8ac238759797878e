#include "dmx/FixtureRun.h"

#include "catalogue/BootLoadProduct.h"
#include "catalogue/MicroprocessorImageInfo.h"
#include "catalogue/RunRecorder.h"
#include "dmx/FixtureBootloadEngine.h"
#include "dmx/FixtureRevision.h"
#include "dmx/FixtureSerial.h"
#include "dmx/FixtureVerifier.h"
#include "dmx/Hollis.h"

#include <QTimer>

FixtureRun::FixtureRun(ZelHollis::Hollis &hollis, FixtureBootloadEngine &engine,
                       RunRecorder &recorder, QObject *parent)
    : QObject(parent), m_hollis(hollis), m_engine(engine), m_recorder(recorder),
      m_verifier(new FixtureVerifier(hollis, this)), m_beforeTimer(new QTimer(this))
{
    m_beforeTimer->setSingleShot(true);
    connect(m_beforeTimer, &QTimer::timeout, this, &FixtureRun::revisionsBeforeRead);
    connect(m_verifier, &FixtureVerifier::checked, this, &FixtureRun::checked);
}

void FixtureRun::setReadWait(int milliseconds)
{
    m_beforeTimer->setInterval(milliseconds);
    m_verifier->setReadWait(milliseconds);
}

void FixtureRun::noteRevision(quint32 serial, const QString &revision)
{
    if (revision.isNull())
        m_revisions.remove(serial);
    else
        m_revisions.insert(serial, revision);
}

UpdateRecord FixtureRun::record(const BootLoadProduct *product, const QString &address) const
{
    const bool oneFixture = product && address != QLatin1String("all");
    return m_recorder.make(product, address,
                           oneFixture ? m_revisions.value(address.toUInt(nullptr, 16)) : QString());
}

void FixtureRun::start(BootLoadProduct &product, const QList<quint32> &serials, bool programAll,
                       int supply, int port, int verifyWait)
{
    m_product = &product;
    m_serials = serials;
    m_programAll = programAll;
    m_supply = supply;
    m_port = port;
    m_verifier->setWait(verifyWait);
    m_outcomes.clear();
    m_next = 0;
    m_active = true;
    m_stopped = false;
    m_beforeSerials.clear();
    for (quint32 s : serials) {
        if (m_revisions.contains(s))
            continue;
        quint16 scratch = 0;
        if (m_hollis.fixtureReadFirmwareVersion(m_supply, 0, s, scratch))
            m_beforeSerials.append(s);
    }
    if (m_beforeSerials.isEmpty()) {
        runNext();
        return;
    }
    wait(m_beforeSerials.size() == 1
             ? tr("Reading the revision of SN:%1…").arg(FixtureSerial::text(m_beforeSerials.first()))
             : tr("Reading the revisions of %1 fixtures…").arg(m_beforeSerials.size()));
    m_beforeTimer->start();
}

void FixtureRun::revisionsBeforeRead()
{
    if (!m_active)
        return;
    // A fixture that did not answer stays unknown: its check then compares
    // with the image only.
    for (quint32 s : std::as_const(m_beforeSerials)) {
        const QVariant version = m_hollis.getFixtureProperty(m_supply, 0, s, "fixture_firmware_version");
        if (version.isValid())
            m_revisions.insert(s, QString::number(version.toUInt()));
    }
    m_beforeSerials.clear();
    runNext();
}

void FixtureRun::runNext()
{
    // The boot-load shows its own progress.
    wait(QString());
    while (m_next < m_serials.size()) {
        m_current = m_serials.at(m_next++);
        m_recorder.startClock();
        m_inEngine = true;
        const FixtureOutcome result = bootload(m_current);
        m_inEngine = false;
        // Closed meanwhile: stop() has recorded this fixture and the rest.
        if (m_stopped)
            return;
        m_outcomes.append(result);
        if (result.updated()) {
            // The fixture has restarted: what it reports now tells whether it runs the image.
            wait(tr("Checking SN:%1 after the update…").arg(FixtureSerial::text(result.serial)), true);
            m_verifier->start(result.device, result.serial, FixtureImageRevision::of(*m_product),
                              m_revisions.value(result.serial));
            return;
        }
        emitRecord(result);
    }
    m_active = false;
    emit finished();
}

FixtureOutcome FixtureRun::bootload(quint32 serial)
{
    QString why;
    switch (FixtureBootloadEngine::layoutOf(*m_product, &why)) {
    case FixtureBootloadEngine::Layout::IntelHex:
        return m_engine.bootloadIntelHex(*m_product, serial, m_supply, m_port);
    case FixtureBootloadEngine::Layout::IntelHexPSoC:
        return m_engine.bootloadIntelHexPSoC(*m_product, serial, m_supply, m_port);
    case FixtureBootloadEngine::Layout::None:
        break;
    }
    const MicroprocessorImageInfo *main = m_product->processor(0);
    if (m_product->processorCount() == 1 && main)
        emit logged(LOG_WARNING, QStringLiteral("SN %1 unhandled single processor type %2.")
                                     .arg(FixtureSerial::text(serial))
                                     .arg(main->fileType()));
    return FixtureOutcome::notRun(serial, m_supply, m_port, why);
}

void FixtureRun::checked(const RevisionCheck &check)
{
    wait(QString());
    FixtureOutcome &outcome = m_outcomes.last();
    LOGPRIORITY priority = LOG_INFO;
    if (check.failed())
        priority = LOG_SEVERE;
    else if (check.result != RevisionCheck::Result::Verified)
        priority = LOG_WARNING;
    emit logged(priority, QStringLiteral("SN:%1 - %2").arg(FixtureSerial::text(outcome.serial), check.summary()));
    outcome.check = check;
    emitRecord(outcome);
    noteRevision(outcome.serial, check.revisionAfter);
    runNext();
}

void FixtureRun::emitRecord(const FixtureOutcome &outcome)
{
    const UpdateRecord r = record(m_product, FixtureSerial::text(outcome.serial));
    if (outcome.check)
        m_recorder.emitChecked(r, *outcome.check);
    else
        m_recorder.emitEnded(r, UpdateRecord::Outcome::Failed, outcome.reason);
}

void FixtureRun::stop(bool report)
{
    m_active = false;
    m_stopped = true;
    m_beforeTimer->stop();
    m_verifier->abort();
    wait(QString());
    const QString notProgrammed = tr("The updater closed before this fixture was programmed.");
    emit logged(LOG_WARNING, tr("Programming stopped: the updater is closing; %1 of %2 fixtures "
                                "were not started.")
                                 .arg(m_serials.size() - m_next)
                                 .arg(m_serials.size()));
    if (m_inEngine) {
        // The boot-load ends before its next step; what it had done stands.
        const std::optional<FixtureOutcome> o = m_engine.stop(tr("the updater is closing"));
        const quint32 serial = o ? o->serial : m_current;
        UpdateRecord::Outcome outcome = UpdateRecord::Outcome::Cancelled;
        QString reason = notProgrammed; // refused before its boot-load began
        if (o) {
            m_outcomes.append(*o);
            reason = o->reason;
            if (o->updated()) {
                outcome = UpdateRecord::Outcome::NotVerified;
                reason = tr("the updater closed before the fixture was checked");
            } else if (o->result == FixtureOutcome::Result::Failed) {
                outcome = UpdateRecord::Outcome::Failed;
            }
        }
        if (report)
            m_recorder.emitEnded(record(m_product, FixtureSerial::text(serial)), outcome, reason);
    } else if (!m_outcomes.isEmpty() && m_outcomes.last().updated() && !m_outcomes.last().check) {
        // Written, and its version not yet read back.
        if (report)
            m_recorder.emitEnded(record(m_product, FixtureSerial::text(m_outcomes.last().serial)),
                                 UpdateRecord::Outcome::NotVerified,
                                 tr("the updater closed before the fixture reported its firmware version"));
    }
    // Not started: no time spent on them.
    m_recorder.stopClock();
    for (qsizetype i = m_next; i < m_serials.size() && report; ++i)
        m_recorder.emitEnded(record(m_product, FixtureSerial::text(m_serials.at(i))),
                             UpdateRecord::Outcome::Cancelled, notProgrammed);
    m_next = int(m_serials.size());
}

void FixtureRun::wait(const QString &text, bool showElapsed)
{
    if (text.isEmpty() && !m_waiting)
        return;
    m_waiting = !text.isEmpty();
    emit waitChanged(text, showElapsed);
}

FixtureRun::Summary FixtureRun::summary() const
{
    // A fixture that reports another version after its update failed as
    // surely as one that refused a step: both stay listed for a retry.
    Summary s;
    QStringList failedLines;
    QStringList checkedLines;
    bool allVerified = true;
    for (const FixtureOutcome &o : m_outcomes) {
        const QString sn = FixtureSerial::text(o.serial);
        if (!o.updated()) {
            s.failed.append(o.serial);
            failedLines.append(QStringLiteral("SN:%1 - %2").arg(sn, o.reason));
            continue;
        }
        const QString line = QStringLiteral("SN:%1 - %2").arg(sn, o.check->summary());
        if (o.check->failed()) {
            s.failed.append(o.serial);
            failedLines.append(line);
        } else {
            checkedLines.append(line);
            allVerified = allVerified && o.check->result == RevisionCheck::Result::Verified;
        }
    }
    const int fixtures = int(m_serials.size());
    const int updated = fixtures - int(s.failed.size());
    const QString checked = checkedLines.join(QLatin1Char('\n'));

    if (s.failed.isEmpty()) {
        s.logLine = tr("%1 of %2 fixtures were updated.").arg(updated).arg(fixtures);
        s.kind = allVerified ? Prompter::Kind::Information : Prompter::Kind::Warning;
        s.title = tr("Information");
        s.text = tr("Programming complete!");
        if (m_programAll)
            s.text += QStringLiteral("\n\n") + s.logLine;
        s.text += QStringLiteral("\n\n") + checked;
        return s;
    }

    QStringList failedSerials;
    for (quint32 serial : std::as_const(s.failed))
        failedSerials.append(FixtureSerial::text(serial));
    s.priority = LOG_SEVERE;
    s.logLine = tr("%1 of %2 fixtures were updated. Not updated: %3.")
                    .arg(updated)
                    .arg(fixtures)
                    .arg(failedSerials.join(QStringLiteral(", ")));
    s.kind = Prompter::Kind::Critical;
    s.title = tr("Zel Firmware Updater");
    s.text = m_programAll
        ? tr("Programming finished with errors: %1 of %2 fixtures were updated.\n\nNot "
             "updated:\n%3\n\n%4The fixtures that were not updated stay in the list. Check "
             "their connection and press PROGRAM to try them again.")
              .arg(updated)
              .arg(fixtures)
              .arg(failedLines.join(QLatin1Char('\n')),
                   checked.isEmpty() ? QString() : tr("Updated:\n%1\n\n").arg(checked))
        : tr("Programming failed.\n\n%1\n\nCheck the fixture's connection and press PROGRAM to "
             "try again.")
              .arg(failedLines.join(QLatin1Char('\n')));
    return s;
}
