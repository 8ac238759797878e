#pragma once

#include "base/LogTypes.h"
#include "base/RevisionCheck.h"
#include "ethernet/ControllerWriteOutcome.h"
#include "ethernet/FleetProgressView.h"
#include "ethernet/FleetWriter.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QString>

class FleetProgressTracker;
class QWidget;

// The writes of a "program all" run: one image to every listed controller,
// several at a time, with the run's progress window. Tells what became of
// each controller as its write ends, and of them all once the last has; what
// the operator is then shown is the panel's.
class FleetRun : public QObject
{
    Q_OBJECT

public:
    // Entries naming one address more than once are written once.
    FleetRun(const QList<FleetWriter::Target> &targets, const QByteArray &image, QObject *parent = nullptr);
    ~FleetRun() override;

    // One per distinct address, in the order given.
    const QList<ControllerWriteOutcome> &outcomes() const { return m_writer->outcomes(); }
    int activeWrites() const { return m_writer->activeWrites(); }
    // Before start(): what the controller at address was read to run.
    void setRevisionBefore(const QString &address, const QString &revision)
    {
        m_writer->setRevisionBefore(address, revision);
    }

    // concurrency writes at a time, each with a single write's time-out and
    // port; the progress window is opened through factory, on window.
    void start(int concurrency, int timeoutMs, int port, const FleetProgressFactory &factory, QWidget *window,
               const QString &deviceType);
    // Stops the writes under way and waits for them; nothing more is
    // signalled. reason: why those that did not complete failed.
    void abort(const QString &reason);

    // The progress window, handed over once the writes have ended, so that
    // it stays open through the check; null when there is none or it was taken.
    FleetProgressTracker *takeProgress();

    // The text the run ends with: what became of each controller, and what
    // its check found where it has one.
    static QString summary(const QList<ControllerWriteOutcome> &outcomes,
                           const QHash<QString, RevisionCheck> &checks);

signals:
    void message(LOGPRIORITY priority, const QString &text);
    // Updated, failed or not started.
    void writeEnded(const ControllerWriteOutcome &outcome);
    void finished();

private:
    void writeFinished(int index);
    void writerDone();

    FleetWriter *m_writer = nullptr;
    FleetProgressTracker *m_progress = nullptr;
};
