#include "ethernet/FleetWriter.h"

#include "ethernet/EthernetLogging.h"
#include "ethernet/QTFTP.h"

#include <QSet>

FleetWriter::FleetWriter(const QList<Target> &targets, const QByteArray &image, QObject *parent)
    : QObject(parent), m_image(image)
{
    QSet<QString> seen;
    for (const Target &target : targets) {
        if (seen.contains(target.address))
            continue;
        seen.insert(target.address);
        ControllerWriteOutcome outcome;
        outcome.address = target.address;
        outcome.idstring = target.idstring;
        outcome.revisionBefore = target.revisionBefore;
        m_outcomes.append(outcome);
    }
    // Every thread reads the same bytes: detached once, before any starts.
    m_image.detach();
}

FleetWriter::~FleetWriter()
{
    abort(tr("the run was stopped"));
}

void FleetWriter::setConcurrency(int writes)
{
    m_concurrency = qMax(1, writes);
}

void FleetWriter::setRevisionBefore(const QString &address, const QString &revision)
{
    for (ControllerWriteOutcome &outcome : m_outcomes)
        if (outcome.address == address)
            outcome.revisionBefore = revision;
}

void FleetWriter::start()
{
    if (m_started)
        return;
    m_started = true;
    startNext();
    finishIfDone();
}

void FleetWriter::startNext()
{
    while (!m_cancelled && m_slots.size() < m_concurrency && m_next < m_outcomes.size()) {
        const int index = m_next++;
        ControllerWriteOutcome &outcome = m_outcomes[index];
        auto *thread = new QTFTP(this, m_timeout);
        thread->setPort(m_port);
        Slot slot;
        slot.thread = thread;
        slot.index = index;
        slot.clock.start();
        m_slots.append(slot);
        // Queued: each thread's signals arrive here in the order it sent them.
        connect(thread, &QTFTP::statusMessage, this, [this, thread](const QString &text) {
            qCDebug(lcTftp) << "fleet write" << thread->host() << text;
            // Closing the socket comes after whatever went wrong.
            if (Slot *s = slotOf(thread); s && text != QLatin1String("TFTP: Disconnected"))
                s->lastStatus = text;
        });
        connect(thread, &QTFTP::progressDlg, this, [this, thread](int status) {
            const Slot *s = slotOf(thread);
            if (s && status >= 5 && status < 110)
                emit writeProgress(s->index, qBound(0, status - 10, 99));
        });
        connect(thread, &QTFTP::commandFinished, this,
                [this, thread](int result) { writeEnded(thread, result); });
        connect(thread, &QThread::finished, this, [this, thread] { threadEnded(thread); });
        outcome.result = ControllerWriteOutcome::Result::Writing;
        thread->commandWrite(outcome.address, QStringLiteral("firmware"), m_image.data(),
                             unsigned(m_image.size()));
        emit writeStarted(index);
        thread->start();
    }
}

FleetWriter::Slot *FleetWriter::slotOf(QTFTP *thread)
{
    for (Slot &slot : m_slots)
        if (slot.thread == thread)
            return &slot;
    return nullptr;
}

void FleetWriter::writeEnded(QTFTP *thread, int result)
{
    Slot *slot = slotOf(thread);
    if (!slot || slot->reported)
        return;
    slot->reported = true;
    ControllerWriteOutcome &outcome = m_outcomes[slot->index];
    outcome.durationMs = slot->clock.elapsed();
    if (result >= 0 && result == m_image.size()) {
        outcome.result = ControllerWriteOutcome::Result::Updated;
        outcome.bytesWritten = result;
    } else {
        outcome.result = ControllerWriteOutcome::Result::Failed;
        if (result == QTFTP::kGaveUp)
            outcome.reason = tr("no answer from the controller; the write gave up after %1 attempts")
                                 .arg(QTFTP::kWriteAttempts);
        else
            outcome.reason = slot->lastStatus.isEmpty() ? tr("unknown error") : slot->lastStatus;
    }
    emit writeFinished(slot->index);
}

void FleetWriter::threadEnded(QTFTP *thread)
{
    Slot *slot = slotOf(thread);
    if (!slot)
        return;
    if (!slot->reported)
        writeEnded(thread, QTFTP::kFailed);
    m_slots.removeIf([thread](const Slot &s) { return s.thread == thread; });
    m_ended.append(thread);
    deleteEndedThreads();
    startNext();
    finishIfDone();
}

void FleetWriter::deleteEndedThreads()
{
    for (qsizetype i = m_ended.size() - 1; i >= 0; --i) {
        if (m_ended.at(i)->isFinished()) {
            delete m_ended.at(i);
            m_ended.removeAt(i);
        }
    }
}

void FleetWriter::markNotStarted()
{
    for (int i = m_next; i < m_outcomes.size(); ++i) {
        m_outcomes[i].result = ControllerWriteOutcome::Result::NotStarted;
        m_outcomes[i].reason = tr("not started: the run was cancelled");
    }
    const int first = m_next;
    m_next = int(m_outcomes.size());
    for (int i = first; i < m_outcomes.size(); ++i)
        emit writeFinished(i);
}

void FleetWriter::cancel()
{
    if (!isRunning() || m_cancelled)
        return;
    m_cancelled = true;
    markNotStarted();
    finishIfDone();
}

void FleetWriter::finishIfDone()
{
    if (m_done || !m_started || !m_slots.isEmpty() || m_next < m_outcomes.size())
        return;
    m_done = true;
    emit finished();
}

void FleetWriter::abort(const QString &reason)
{
    if (m_done && m_slots.isEmpty()) {
        qDeleteAll(m_ended); // their runs are over: at most a moment's wait
        m_ended.clear();
        return;
    }
    m_done = true;
    for (const Slot &slot : std::as_const(m_slots)) {
        slot.thread->disconnect(this);
        slot.thread->abort();
    }
    for (const Slot &slot : std::as_const(m_slots)) {
        slot.thread->wait();
        ControllerWriteOutcome &outcome = m_outcomes[slot.index];
        if (!slot.reported) {
            outcome.durationMs = slot.clock.elapsed();
            // Its end may be waiting in the queue: a write that completed
            // before the stop left the whole image on the controller.
            const int result = slot.thread->result();
            if (result >= 0 && result == m_image.size()) {
                outcome.result = ControllerWriteOutcome::Result::Updated;
                outcome.bytesWritten = result;
            } else {
                outcome.result = ControllerWriteOutcome::Result::Failed;
                outcome.reason = reason;
            }
        }
        delete slot.thread;
    }
    m_slots.clear();
    qDeleteAll(m_ended);
    m_ended.clear();
    for (int i = m_next; i < m_outcomes.size(); ++i) {
        m_outcomes[i].result = ControllerWriteOutcome::Result::NotStarted;
        m_outcomes[i].reason = reason;
    }
    m_next = int(m_outcomes.size());
}
