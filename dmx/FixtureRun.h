#pragma once

#include "base/LogTypes.h"
#include "base/Prompter.h"
#include "base/UpdateRecord.h"
#include "dmx/FixtureOutcome.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QString>

class BootLoadProduct;
class FixtureBootloadEngine;
class FixtureVerifier;
class QTimer;
class RevisionCheck;
class RunRecorder;

namespace ZelHollis {
class Hollis;
}

// The fixtures of one confirmed run, in turn: the revision of those not read
// yet is read first (a revision the image shares with the firmware it
// replaces proves nothing), then each fixture is boot-loaded and, once
// written, has its version read back before the next one starts. Every
// fixture's record is emitted as it ends.
class FixtureRun : public QObject
{
    Q_OBJECT

public:
    // How a run ended, in the words the panel tells the operator.
    struct Summary {
        QList<quint32> failed; // not updated, or reporting another revision
        LOGPRIORITY priority = LOG_INFO;
        QString logLine;
        Prompter::Kind kind = Prompter::Kind::Information;
        QString title;
        QString text;
    };

    FixtureRun(ZelHollis::Hollis &hollis, FixtureBootloadEngine &engine, RunRecorder &recorder,
               QObject *parent = nullptr);

    // How long one revision read waits for its answer.
    void setReadWait(int milliseconds);

    // The revision each fixture last reported, as the panel shows it; a null
    // revision forgets it. Records carry it as the revision before.
    void noteRevision(quint32 serial, const QString &revision);
    void forgetRevisions() { m_revisions.clear(); }
    // A record of product's image for address: a serial, or "all".
    UpdateRecord record(const BootLoadProduct *product, const QString &address) const;

    // Programs serials on the supply's port. A written fixture may take
    // verifyWait to report its version again. finished() may be signalled
    // before this returns.
    void start(BootLoadProduct &product, const QList<quint32> &serials, bool programAll,
               int supply, int port, int verifyWait);
    bool isRunning() const { return m_active; }
    // Ends the run for the updater's close: the boot-load under way stops
    // before its next step, and each fixture not yet recorded is, unless
    // report is false. Nothing more is sent or signalled.
    void stop(bool report);

    bool programsAll() const { return m_programAll; }
    // The fixtures of the last run, in the order they were programmed.
    const QList<FixtureOutcome> &outcomes() const { return m_outcomes; }
    Summary summary() const;

signals:
    void logged(LOGPRIORITY priority, QString text);
    // The wait the run is in ("Checking SN:8100C001 after the update…"), and
    // whether its seconds are worth showing; an empty text ends it.
    void waitChanged(QString text, bool showElapsed);
    void finished();

private:
    void revisionsBeforeRead();
    void runNext();
    FixtureOutcome bootload(quint32 serial);
    void checked(const RevisionCheck &check);
    // The fixture's record, timed from the start of its boot-load.
    void emitRecord(const FixtureOutcome &outcome);
    void wait(const QString &text, bool showElapsed = false);

    ZelHollis::Hollis &m_hollis;
    FixtureBootloadEngine &m_engine;
    RunRecorder &m_recorder;
    FixtureVerifier *m_verifier = nullptr;
    QTimer *m_beforeTimer = nullptr;
    QHash<quint32, QString> m_revisions;

    BootLoadProduct *m_product = nullptr;
    QList<quint32> m_serials;
    bool m_programAll = false;
    int m_supply = -1;
    int m_port = -1;
    int m_next = 0;
    quint32 m_current = 0;
    QList<quint32> m_beforeSerials; // whose revision is read before the run
    QList<FixtureOutcome> m_outcomes;
    bool m_active = false;
    bool m_inEngine = false; // a fixture's boot-load is under way
    bool m_stopped = false;
    bool m_waiting = false;
};
