#include "ethernet/FleetRun.h"

#include "ethernet/FleetProgressTracker.h"

#include <utility>

FleetRun::FleetRun(const QList<FleetWriter::Target> &targets, const QByteArray &image, QObject *parent)
    : QObject(parent), m_writer(new FleetWriter(targets, image, this))
{
}

FleetRun::~FleetRun()
{
    // The window before the writes it shows.
    delete m_progress;
}

void FleetRun::start(int concurrency, int timeoutMs, int port, const FleetProgressFactory &factory,
                     QWidget *window, const QString &deviceType)
{
    m_writer->setConcurrency(concurrency);
    m_writer->setTimeout(timeoutMs);
    m_writer->setPort(port);
    // Connected first: a row is up to date before its controller is reported done.
    m_progress = new FleetProgressTracker(*m_writer, factory, window, tr("Program All Discovered Devices"));
    connect(m_progress, &FleetProgressTracker::message, this, &FleetRun::message);
    connect(m_writer, &FleetWriter::writeFinished, this, &FleetRun::writeFinished);
    connect(m_writer, &FleetWriter::finished, this, &FleetRun::writerDone);
    emit message(LOG_INFO, tr("Programming all %1 discovered %2 controllers, at most %3 at a time.")
                               .arg(m_writer->outcomes().size())
                               .arg(deviceType)
                               .arg(m_writer->concurrency()));
    m_progress->refresh();
    m_writer->start();
}

void FleetRun::abort(const QString &reason)
{
    m_writer->disconnect(this);
    m_writer->abort(reason);
}

void FleetRun::writeFinished(int index)
{
    if (index < 0 || index >= m_writer->outcomes().size())
        return;
    const ControllerWriteOutcome outcome = m_writer->outcomes().at(index);
    const QString who = QStringLiteral("%1 %2").arg(outcome.address, outcome.idstring).trimmed();
    switch (outcome.result) {
    case ControllerWriteOutcome::Result::Updated:
        emit message(LOG_INFO, tr("Controller %1 updated: %2 bytes written.").arg(who).arg(outcome.bytesWritten));
        break;
    case ControllerWriteOutcome::Result::NotStarted:
        emit message(LOG_INFO, tr("Controller %1 not started: the run was cancelled.").arg(who));
        break;
    default:
        emit message(LOG_WARNING, tr("Controller %1 not updated: %2").arg(who, outcome.reason));
        break;
    }
    emit writeEnded(outcome);
}

void FleetRun::writerDone()
{
    // The window shows the last write's end; whoever takes it closes it.
    m_progress->refresh();
    int updated = 0;
    int notStarted = 0;
    for (const ControllerWriteOutcome &o : outcomes()) {
        updated += o.updated() ? 1 : 0;
        notStarted += o.result == ControllerWriteOutcome::Result::NotStarted ? 1 : 0;
    }
    const int total = int(outcomes().size());
    emit message(updated == total ? LOG_INFO : LOG_WARNING,
                 tr("Program all complete: %1 of %2 controllers updated, %3 failed, %4 not started.")
                     .arg(updated)
                     .arg(total)
                     .arg(total - updated - notStarted)
                     .arg(notStarted));
    emit finished();
}

FleetProgressTracker *FleetRun::takeProgress()
{
    return std::exchange(m_progress, nullptr);
}

QString FleetRun::summary(const QList<ControllerWriteOutcome> &outcomes, const QHash<QString, RevisionCheck> &checks)
{
    QStringList failed, notStarted, updated;
    int mismatches = 0;
    for (const ControllerWriteOutcome &o : outcomes) {
        const QString who = QStringLiteral("%1 %2").arg(o.address, o.idstring).trimmed();
        const auto check = checks.constFind(o.address);
        if (o.updated() && check != checks.constEnd()) {
            updated.append(tr("%1: %2").arg(who, check->summary()));
            mismatches += check->failed() ? 1 : 0;
        } else if (o.updated())
            updated.append(who);
        else if (o.result == ControllerWriteOutcome::Result::NotStarted)
            notStarted.append(who);
        else
            failed.append(tr("%1: %2").arg(who, o.reason));
    }
    QString text = updated.size() == outcomes.size()
        ? tr("All %1 controllers were updated.").arg(outcomes.size())
        : tr("%1 of %2 controllers were updated. The %3 others stay in the list, ticked for a retry.")
              .arg(updated.size())
              .arg(outcomes.size())
              .arg(outcomes.size() - updated.size());
    if (mismatches > 0)
        text += QLatin1Char('\n')
            + tr("%1 of them report another revision than the image's: their update failed.").arg(mismatches);
    if (!failed.isEmpty())
        text += QStringLiteral("\n\n") + tr("Failed:") + QLatin1Char('\n') + failed.join(QLatin1Char('\n'));
    if (!notStarted.isEmpty())
        text += QStringLiteral("\n\n") + tr("Not started (cancelled):") + QLatin1Char('\n')
            + notStarted.join(QLatin1Char('\n'));
    if (!updated.isEmpty())
        text += QStringLiteral("\n\n") + tr("Updated:") + QLatin1Char('\n') + updated.join(QLatin1Char('\n'));
    return text;
}
