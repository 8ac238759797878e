#pragma once

#include "base/InterfacePanel.h"
#include "base/RevisionCheck.h"
#include "base/UpdateRecord.h"
#include "catalogue/RunRecorder.h"
#include "ethernet/ControllerIdentifier.h"
#include "ethernet/ControllerWriteOutcome.h"
#include "ethernet/EthernetSettings.h"
#include "ethernet/FleetProgressView.h"
#include "ethernet/UpdateCheck.h"

#include <QByteArray>
#include <QHash>
#include <QHostAddress>
#include <QList>
#include <QSet>
#include <QString>

#include <memory>
#include <optional>

class BootLoadProduct;
class ControllerWrite;
class ControllerSearch;
class FleetProgressTracker;
class FleetRevisionRead;
class FleetRun;
class Pauser;
class ProgressHandle;
class Prompter;
class QTimer;
class RevisionQuery;
class TarvoInput;
class TarvoLibrary;

namespace Ui {
class tftpInterfaceControlClass;
}

// Panel of the Ethernet controllers: discovers the controllers of the chosen
// type, shows the chosen one's firmware revision and writes the accepted
// image to it, or to them all. The panel decides and shows; asking,
// writing, checking and searching are its stages' (ControllerIdentifier,
// RevisionQuery, ControllerWrite, FleetRun, UpdateCheck, ControllerSearch).
class tftpInterfaceControl : public InterfacePanel
{
    Q_OBJECT

public:
    // Discovery request address: the unspecified address asks every
    // controller, whatever its own address, to answer the sender.
    static constexpr const char *kDiscoveryRequestAddress = "0.0.0.0";

    // settings must outlive the panel; it is read at each use, so a caller
    // may aim it elsewhere between runs.
    tftpInterfaceControl(Prompter &prompter, Pauser &pauser, TarvoLibrary &tarvo,
                         const EthernetSettings &settings, QWidget *parent = nullptr);
    // The real network's settings.
    tftpInterfaceControl(Prompter &prompter, Pauser &pauser, TarvoLibrary &tarvo,
                         QWidget *parent = nullptr);
    ~tftpInterfaceControl() override;

    // Ends the panel's threads, waiting for them, so that what is logged
    // while stopping is kept.
    void shutdown() override;
    // Forgets the listed controllers, the chosen one and what was read of
    // it, and any discovery or question still under way.
    void startOver() override;

    // A run without an operator: finds the device (a controller IP address),
    // selects it and offers PROGRAM. Not found, an address that was given is
    // left entered by hand, so that a run allowed the manual address can
    // still program it.
    void findDevice(const QString &address) override;
    // True while a write that program() started goes on, or the writes of a
    // "program all" run, and then while the written controllers are asked
    // for their revision. It ends with signal_programComplete() (every
    // controller updated), or with signal_enableProgramButton(true) when one
    // failed and is still offered. The verify wait counts from the end of
    // EthernetSettings::verifySettleMs.
    bool runInProgress() const override;

    // What a controller was found to be is relative to the type selected.
    void setProduct(BootLoadProduct *product) override;
    // Takes the product and the port its controllers answer discovery on.
    void imageAboutToBeSelected(BootLoadProduct *product) override;
    void setDiscoverPort(int port);
    int discoverPort() const;
    // Takes the product and writes its accepted image, as program(fileName).
    void program(BootLoadProduct *product) override;
    // Writes the product's accepted image (fileName names it in the log): to
    // the chosen controller, or with "Program All Discovered Devices" ticked,
    // to every listed one.
    void program(const QString &fileName);
    // Writes the image to every listed controller, several at a time. Unless
    // confirmed, the operator is asked first. A run without anyone at the
    // screen calls it with confirmed once Discover has listed the controllers.
    void programAll(const QString &fileName, bool confirmed = false);
    // How the last "program all" run ended, one entry per controller, in list
    // order; empty before the first such run.
    QList<ControllerWriteOutcome> fleetOutcomes() const { return m_fleetOutcomes; }
    // How many controllers a "program all" run writes at the same time.
    int fleetConcurrency() const;
    void setFleetConcurrency(int writes);
    // The progress window of a "program all" run; the real dialog by default.
    void setFleetProgressFactory(FleetProgressFactory factory);

    // A dotted IPv4 address of four decimal fields that names one host;
    // null for anything else (shortened forms, broadcast, multicast, 0.0.0.0).
    static QHostAddress parseUnicastAddress(const QString &text);
    // Whether an address (host order) names one host: not 0.0.0.0, broadcast
    // or multicast. Discovered addresses are held to it as typed ones are.
    static bool isUnicastHost(quint32 address);
    // The revision shown for an "info" text: the third asterisk-separated
    // field read as hexadecimal, low 8 bits; 0 when there is none.
    static int revisionFromInfo(const QByteArray &info);

signals:
    // One controller of a "program all" run is done with (updated, failed or
    // not started), as soon as it is.
    void signal_controllerWriteDone(ControllerWriteOutcome outcome);

private slots:
    void on_m_pushButton_TFTPDiscover_clicked();
    void handleDiscoverResponseTFTP(char *mac, unsigned long ip, unsigned long sn, unsigned short ver,
                                    unsigned long uni, char *verstring, char *idstring);
    void handleDiscoveryTimeout();
    void handleFWQueryTimeout();
    void handleInfoRead(quint32 address, int result, const QByteArray &info);
    void handleGetValue(unsigned long ip, quint16 valueID, quint32 value);
    void on_m_comboBox_TFTPDevicesDiscovered_currentIndexChanged(int index);
    void on_m_lineEdit_tftpManualIPEntry_textChanged(QString text);
    void on_m_checkBox_tftpProgramAll_toggled(bool checked);
    void programProgress(int status);
    void programDone(int result, const QString &reason);

public slots:
    void handleEnableControl(bool enable) override;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    using Identity = ControllerIdentifier::Identity;

    void ensureDiscover();
    int discoveryPortInUse() const;
    void identifyForWrite(const QString &address);
    void typedAddressIdentified(const Identity &identity);
    void readTypedRevision(const QString &address, bool typeUnconfirmed);
    void typedRevisionRead();
    void startWrite(const QString &address, const QString &revisionBefore, bool typeUnconfirmed,
                    bool beforeUnread = false);
    int writeTimeoutMs() const;
    void queryFirmwareVersion(int index);
    void setControlsEnabled(bool enable);
    void releaseRun();
    void closeProgress();
    void closeFleetProgress();
    QString currentEntryText() const;
    void rememberRevision(quint32 address, quint32 revision);
    // The chosen controller's revision as shown; nothing: none is shown.
    void showRevision(std::optional<quint32> revision);
    void updateProgramAllControls();
    bool programAllOffered() const;
    void readFleetRevisions();
    void fleetRevisionsRead();
    void startFleetWrites();
    void fleetWriteEnded(const ControllerWriteOutcome &outcome);
    void recordNotUpdated(const ControllerWriteOutcome &outcome);
    void fleetDone();
    bool startDiscovery();
    void searchReadRevision(int index);
    void searchFinished(bool found, const QString &message);
    void startVerification(const QList<UpdateCheck::Written> &written, bool fleet);
    void verificationDone();
    void endSingleRun();
    void endFleetRun();
    UpdateRecord record(const QString &address, const QString &revisionBefore) const;
    void emitRecord(UpdateRecord record, UpdateRecord::Outcome outcome, const QString &reason);

    Ui::tftpInterfaceControlClass *ui;
    Prompter &m_prompter;
    Pauser &m_pauser;
    TarvoLibrary &m_tarvo;
    EthernetSettings m_ownSettings;
    const EthernetSettings &m_settings;

    // Discovery, the list and the chosen controller's revision.
    std::unique_ptr<TarvoInput> m_discover;
    int m_discoverPort = 0;
    QTimer *m_discoveryTimer = nullptr;
    // Discovery replies of the current discovery, by address, whatever their
    // type: what findDevice() tells of an address that is not listed.
    QHash<quint32, ControllerIdentifier::Reply> m_replies;
    // A run that starts stops it, so that nothing of it comes back and hands
    // the controls over.
    RevisionQuery *m_query = nullptr;
    std::optional<quint32> m_shownRevision;
    QHostAddress m_manualAddress;
    // findDevice(), with the identifier of the addresses it does not find listed.
    ControllerIdentifier *m_searchIdentifier = nullptr;
    ControllerSearch *m_search = nullptr;

    // The run: the image it sends, the write to one controller (a typed
    // address is asked what it is first) or to them all, and the check.
    QByteArray m_fileData;
    ControllerIdentifier *m_identifier = nullptr;
    ControllerWrite *m_write = nullptr;
    std::unique_ptr<ProgressHandle> m_progressDialog;
    QString m_runRevisionBefore; // single write: what the panel showed
    // The controller written did not say what it is before the write.
    bool m_runTypeUnconfirmed = false;
    // It was asked for its revision before the write and did not tell.
    bool m_runBeforeUnread = false;
    // A typed address whose answer carried no revision is asked for it
    // before the write.
    FleetRevisionRead *m_typedRead = nullptr;
    FleetRun *m_fleet = nullptr;
    // Before the writes, the revisions the list does not know yet; those
    // that were asked and did not tell.
    FleetRevisionRead *m_fleetRead = nullptr;
    QSet<QString> m_fleetUnread;
    // The fleet window, kept from the writes' end through the check.
    FleetProgressTracker *m_fleetProgress = nullptr;
    FleetProgressFactory m_fleetProgressFactory;
    QList<ControllerWriteOutcome> m_fleetOutcomes;
    UpdateCheck *m_check = nullptr;
    bool m_verifyingFleet = false;
    // Its clock runs from PROGRAM to the end of each check.
    RunRecorder m_recorder;
    QSet<QString> m_recorded; // addresses of this run whose record was emitted
    bool m_destroying = false;
};
