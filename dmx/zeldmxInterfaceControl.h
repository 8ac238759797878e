#pragma once

#include "base/InterfacePanel.h"
#include "base/UpdateRecord.h"
#include "catalogue/RunRecorder.h"
#include "dmx/FixtureOutcome.h"

#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QMultiMap>
#include <QString>

class BootLoadProduct;
class FixtureBootloadEngine;
class Pauser;
class Prompter;
class QTimer;

namespace ZelHollis {
class Hollis;
}

namespace Ui {
class zeldmxInterfaceControlClass;
}

// Panel of the ZELDMX fixtures: finds the power supplies and the fixtures on
// one of their ports, shows the chosen fixture's revision, and boot-loads one
// fixture or every listed one.
class zeldmxInterfaceControl : public InterfacePanel
{
    Q_OBJECT

public:
    // The panel's waits, in milliseconds. Tests shorten them.
    struct Timing {
        int portListDelay = 500;     // after the first supply is found
        int fixtureWindow = 2000;    // discovery ends this long after the last answer
        int lxQueryWait = 2000;      // for the fixtures' LX feature reads
        int revisionReadWait = 1000; // for a fixture's firmware revision read
        int finalizePause = 3000;    // blocking, after each fixture's finalize step
    };

    zeldmxInterfaceControl(Prompter &prompter, Pauser &pauser, ZelHollis::Hollis &hollis,
                           QWidget *parent = nullptr);
    ~zeldmxInterfaceControl() override;

    // Stops the panel's timers and lets go of a connected USB supply.
    // A run under way ends here, and each of its fixtures not yet recorded is:
    // one written but not yet checked as not verified, one whose boot-load is
    // stopped as failed (or cancelled when nothing reached it), the ones not
    // started as cancelled.
    void shutdown() override;

    // A run without an operator: finds the device (a fixture serial number,
    // eight hex digits as listed, or "all"), selects it (or every fixture of
    // the first port that has some) and offers PROGRAM. A serial not found is
    // left entered by hand, so that a run allowed the manual address can
    // still program it.
    void findDevice(const QString &address) override;
    // True while the fixtures of a run are checked after their update (and
    // the next ones programmed). The version read after each fixture's
    // update waits 10 s unless setVerifyWait() says otherwise.
    bool runInProgress() const override { return m_running; }

    void setTiming(const Timing &timing);
    Timing timing() const { return m_timing; }

    // Takes the product and the serial number prefixes of its fixtures.
    void imageAboutToBeSelected(BootLoadProduct *product) override;
    void setSerialNumPrefixes(const QList<quint32> &prefixes);
    QList<quint32> serialNumPrefixes() const;
    void program(BootLoadProduct *product) override;

    // The fixtures of the last run, in the order they were programmed.
    const QList<FixtureOutcome> &runOutcomes() const { return m_runOutcomes; }

    // The boot-load of one fixture, on the current supply and port.
    FixtureOutcome bootloadIntelHex(BootLoadProduct *product, quint32 serial);
    FixtureOutcome bootloadIntelHexPSoC(BootLoadProduct *product, quint32 serial);

private slots:
    void on_m_pushButton_ZELDMXDiscoverEnabler_clicked();
    void handleDiscoveredDevice(int vaskUID);
    void on_m_comboBox_ZELDMXEnablers_currentIndexChanged(int index);
    void on_m_pushButton_ZELDMXDiscoverFixture_clicked();
    void handleDiscoveredFixture(ulong ip, quint64 sn);
    void handleFixtureDiscoveryTimeout();
    void handleFixtureLXEnableQueryTimeout();
    void on_m_comboBox_ZELDMXFixtureSNs_currentIndexChanged(int index);
    void on_m_lineEdit_ZELDMXManualFixtureSN_cursorPositionChanged(int oldPos, int newPos);
    void on_m_lineEdit_ZELDMXManualFixtureSN_textEdited(QString);

public slots:
    void handleEnableControl(bool enable) override;

private slots:
    void updatePorts();
    void handleFixtureFWNumber();

private:
    bool isLxFamily() const;
    int supplyType(int device) const;
    int currentPort() const;
    int deviceForAddress(ulong ip) const;
    void refreshFixtureList();
    void rebuildFixtureList();
    void addFixtureEntry(quint32 serial);
    // The list is complete: read the LX features, or offer the fixtures.
    void settleFixtureList();
    void readFixtureRevision();
    void portChanged();
    // Serial of the manual field when all eight digits are typed.
    bool manualSerial(quint32 &serial) const;
    void setRunControlsEnabled(bool enable);
    void stopTimers();
    // Ends a run that sent nothing: the operator is told why and keeps the controls.
    void refuseRun(const QString &reason);
    // Takes up what the confirmation held back.
    void resumeAfterCancel(bool windowWasOpen);
    FixtureOutcome bootloadFixture(BootLoadProduct *product, quint32 serial);
    FixtureOutcome notRun(quint32 serial, const QString &reason) const;
    // Reads the revision of the run's fixtures not read yet, then starts the
    // run: a revision the image shares with the firmware it replaces proves nothing.
    void readRevisionsBefore();
    void handleRevisionsBefore();
    // Programs the run's fixtures in turn until one needs its version read
    // again, or the run is over.
    void runNextFixture();
    void readCheckRevision();
    void handleCheckTimeout();
    void endCheck(const RevisionCheck &check);
    UpdateRecord runRecord(const QString &address) const;
    // The fixture's record, timed from the start of its boot-load.
    void emitRecord(const FixtureOutcome &outcome);
    // The part of shutdown() that ends a run under way.
    void stopRun();
    void finishRun(bool programAll, int fixtures);

    // The steps of findDevice(), each started by the panel's own timers and answers.
    enum class SearchStage { None, Supplies, Fixtures, Ports };
    void beginSearch();
    void handleSearchTimeout();
    void searchSupply();
    void searchFixturesKnown();
    void searchNextPort();
    void searchListSettled();
    void searchRevisionRead(quint32 serial, bool allowed);
    void searchNotFound();
    void answerSearch(bool found, const QString &message);
    int searchStepLimit() const;

    Ui::zeldmxInterfaceControlClass *ui;
    Prompter &m_prompter;
    Pauser &m_pauser;
    ZelHollis::Hollis &m_hollis;
    FixtureBootloadEngine *m_engine = nullptr;
    Timing m_timing;

    int m_supply = -1;
    QList<quint32> m_serialPrefixes;
    quint64 m_currentSerial = 0;
    QList<quint32> m_lxSerials;
    QMultiMap<int, quint64> m_fixtureResponses; // (supply, serial) logged this session
    QTimer *m_fixtureTimer = nullptr;
    QTimer *m_portsTimer = nullptr;
    QTimer *m_lxTimer = nullptr;
    QTimer *m_revisionTimer = nullptr;
    QTimer *m_checkTimer = nullptr;
    QTimer *m_beforeTimer = nullptr;
    QTimer *m_searchTimer = nullptr;

    bool m_discovering = false;     // a fixture discovery window is open
    bool m_listSettled = false;     // the fixture list is complete and offered
    bool m_rebuilding = false;      // the fixture list is being rebuilt
    bool m_rebuildAgain = false;    // an answer arrived while it was
    bool m_fillingPorts = false;
    bool m_running = false;         // program() confirms or boot-loads
    bool m_answersMissed = false;   // fixtures answered meanwhile
    bool m_revisionPending = false; // a revision read waits for its answer
    quint32 m_revisionSerial = 0;   // the fixture whose revision is being read
    bool m_listedFixtureProgrammable = false; // the revision shown allows PROGRAM
    bool m_shutDown = false;
    bool m_destroying = false;      // records are no longer emitted
    bool m_confirming = false;      // the run's confirmation is open
    QString m_confirmingAddress;    // what it asks about, as recorded
    bool m_inEngine = false;        // a fixture's boot-load is under way
    QList<FixtureOutcome> m_runOutcomes;
    // Its clock runs from the start of the current fixture's boot-load.
    RunRecorder m_recorder;

    // The run under way: its fixtures, the next one, and the one being checked.
    QList<quint32> m_runSerials;
    int m_runNext = 0;
    bool m_runProgramAll = false;
    QList<quint32> m_beforeSerials; // whose revision is read before the run
    QElapsedTimer m_checkClock;     // from the first version read after it
    bool m_checkReadStarted = false;
    // The revision each fixture last reported, as the panel shows it.
    QHash<quint32, QString> m_revisionsRead;

    SearchStage m_searchStage = SearchStage::None;
    bool m_searchAll = false;
    quint32 m_searchSerial = 0;
    int m_searchSupplyIndex = 0;
    QList<int> m_searchPorts;     // port entries of the supply that may hold the fixture(s)
    bool m_searchAwaitsRevision = false;
    QString m_searchNote;         // the serial answers, but as another fixture type
};
