#pragma once

#include "base/InterfacePanel.h"
#include "base/UpdateRecord.h"
#include "catalogue/RunRecorder.h"
#include "dmx/FixtureOutcome.h"
#include "dmx/FixtureSearch.h"

#include <QList>
#include <QMultiMap>
#include <QString>
#include <QStringList>

class BootLoadProduct;
class FixtureBootloadEngine;
class FixtureRun;
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
// fixture or every listed one. The run (FixtureRun) and the search of a run
// without an operator (FixtureSearch) are stages of their own; the search
// works the panel's controls through FixtureSearch::Controls.
class zeldmxInterfaceControl : public InterfacePanel, private FixtureSearch::Controls
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
    // Forgets the fixtures listed and what was read of them, as after
    // start-up; the supplies found and the port chosen stay.
    void startOver() override;

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
    const QList<FixtureOutcome> &runOutcomes() const;

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
    // The settled list is offered: its count, "all", the chosen fixture's revision.
    void offerSettledList();
    // Whether the list takes the fixture: the product's prefixes and, in the
    // LX family, the feature its name asks for.
    bool listsFixture(quint32 serial) const;
    // "1 Cove Wash fixture answered on port 2.", for each other port of the supply.
    QStringList answeredOnOtherPorts() const;
    void readFixtureRevision();
    // "Discovering fixtures on port 2… 3 found".
    QString discoveryWaitText() const;
    // What the status bar says of the fixture list; an empty text, once the
    // list is gone, takes it away.
    void showListStatus(const QString &text);
    void portChanged();
    // Serial of the manual field when all eight digits are typed.
    bool manualSerial(quint32 &serial) const;
    void setRunControlsEnabled(bool enable);
    void stopTimers();
    // Ends a run that sent nothing: the operator is told why and keeps the controls.
    void refuseRun(const QString &reason);
    // Takes up what the confirmation held back.
    void resumeAfterCancel(bool windowWasOpen);
    UpdateRecord runRecord(const QString &address) const;
    // The part of shutdown() that ends a run under way.
    void stopRun();
    void finishRun();

    // FixtureSearch::Controls
    bool runUnderWay() const override { return m_running; }
    QString productName() const override;
    bool ofProductType(quint32 serial) const override;
    void discoverSupplies() override;
    int supplyCount() const override;
    void chooseSupply(int index) override;
    QString supplyName() const override;
    bool discoverFixtures() override;
    QList<Port> ports() const override;
    void choosePort(int index) override;
    QString chosenPortName() const override;
    int listedCount() const override;
    bool chooseListed(bool all, quint32 serial) override;
    QString revisionShown() const override;
    void offerListed(bool all) override;
    void typeSerial(quint32 serial) override;

    Ui::zeldmxInterfaceControlClass *ui;
    Prompter &m_prompter;
    Pauser &m_pauser;
    ZelHollis::Hollis &m_hollis;
    FixtureBootloadEngine *m_engine = nullptr;
    FixtureRun *m_run = nullptr;
    FixtureSearch *m_search = nullptr;
    Timing m_timing;

    int m_supply = -1;
    QList<quint32> m_serialPrefixes;
    QList<quint32> m_lxSerials;
    QMultiMap<int, quint64> m_fixtureResponses; // (supply, serial) logged this session
    QTimer *m_fixtureTimer = nullptr;
    QTimer *m_portsTimer = nullptr;
    QTimer *m_lxTimer = nullptr;
    QTimer *m_revisionTimer = nullptr;

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
    QString m_listStatus;           // what the status bar says of the list shown
    // Its clock runs from the start of the current fixture's boot-load.
    RunRecorder m_recorder;
};
