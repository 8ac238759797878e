#pragma once

#include "ethernet/ControllerWriteOutcome.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QString>

class QTFTP;

// Writes one image to many controllers, several at a time, each write on a
// QTFTP thread of its own with the protocol, time-out and attempts of a single
// write. Lives on the GUI thread and never waits there: the threads report
// through queued signals and are let go once they have ended.
class FleetWriter : public QObject
{
    Q_OBJECT

public:
    struct Target {
        QString address; // dotted IPv4
        QString idstring;
        QString revisionBefore;
    };

    // Writes wait mostly on the controllers' turnaround, not on this side:
    // fifty at a time took 50 controllers in about twice one write's time
    // with the event loop never stalled for 50 ms (bench_ethernet fleet).
    static constexpr int kDefaultConcurrency = 50;

    // Entries naming one address more than once are written once, under the
    // first entry: a controller never gets two writes at once.
    FleetWriter(const QList<Target> &targets, const QByteArray &image, QObject *parent = nullptr);
    // Stops any write under way, as abort() does.
    ~FleetWriter() override;

    // Before start().
    void setConcurrency(int writes);
    int concurrency() const { return m_concurrency; }
    void setTimeout(int milliseconds) { m_timeout = milliseconds; }
    void setPort(int port) { m_port = port; }
    void setRevisionBefore(const QString &address, const QString &revision);

    void start();
    // Starts no new write; those under way finish and report as usual, the
    // others end at once as NotStarted. finished() follows the last write.
    void cancel();
    // Stops the writes under way at their next wait and waits for their
    // threads; for shutdown. Nothing more is signalled. A write whose thread
    // had completed is Updated, even if its end was not yet reported.
    void abort(const QString &reason);

    bool isRunning() const { return m_started && !m_done; }
    bool isCancelled() const { return m_cancelled; }
    int activeWrites() const { return int(m_slots.size()); }
    // One per distinct address, in the order given.
    const QList<ControllerWriteOutcome> &outcomes() const { return m_outcomes; }

signals:
    void writeStarted(int index);
    // 0 once the controller answered, rising to 99 with the data sent.
    void writeProgress(int index, int percent);
    // outcomes().at(index) holds how it ended.
    void writeFinished(int index);
    void finished();

private:
    struct Slot {
        QTFTP *thread = nullptr;
        int index = -1;
        QString lastStatus;
        QElapsedTimer clock;
        bool reported = false;
    };

    void startNext();
    void writeEnded(QTFTP *thread, int result);
    void threadEnded(QTFTP *thread);
    Slot *slotOf(QTFTP *thread);
    void deleteEndedThreads();
    void markNotStarted();
    void finishIfDone();

    QList<ControllerWriteOutcome> m_outcomes;
    QByteArray m_image;
    int m_concurrency = kDefaultConcurrency;
    int m_timeout = 2000;
    int m_port = 69;
    int m_next = 0;
    QList<Slot> m_slots;
    // Threads whose run is over but that may still be leaving: deleted once
    // they have, so that nobody waits for them.
    QList<QTFTP *> m_ended;
    bool m_started = false;
    bool m_cancelled = false;
    bool m_done = false;
};
