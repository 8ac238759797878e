#pragma once

#include "base/InterfacePanel.h"
#include "base/RevisionCheck.h"
#include "base/UpdateRecord.h"
#include "catalogue/RunRecorder.h"
#include "ethernet/ControllerWriteOutcome.h"
#include "ethernet/EthernetSettings.h"
#include "ethernet/FleetProgressView.h"

#include <QByteArray>
#include <QHash>
#include <QHostAddress>
#include <QList>
#include <QSet>
#include <QString>

#include <memory>
#include <optional>

class BootLoadProduct;
class ControllerVerifier;
class FleetWriter;
class Pauser;
class ProgressHandle;
class Prompter;
class QTFTP;
class QTimer;
class TarvoInput;
class TarvoLibrary;

namespace Ui {
class tftpInterfaceControlClass;
}

// Panel of the Ethernet controllers: discovers the controllers of the chosen
// type, shows the chosen one's firmware revision and writes the accepted
// image to it by TFTP on a thread of its own.
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
    void handleReadThreadDone(int result);
    void handleGetValue(unsigned long ip, quint16 valueID, quint32 value);
    void on_m_comboBox_TFTPDevicesDiscovered_currentIndexChanged(int index);
    void on_m_lineEdit_tftpManualIPEntry_textChanged(QString text);
    void on_m_checkBox_tftpProgramAll_toggled(bool checked);
    void programProgress(int status);
    void programDone(int result);
    void programDone();

public slots:
    void handleEnableControl(bool enable) override;

private:
    // What a controller at a typed address said it is, before anything is
    // written to it.
    struct Identity {
        enum class Kind {
            Selected, // answered as the selected device type
            Other,    // answered as another type
            Unknown,  // did not say: no answer, or an "info" without a version string
        };
        QString address;
        Kind kind = Kind::Unknown;
        QString as;       // what it answered as: "idstring (verstring)"
        QString revision; // what the panel's revision route would have shown; null when not read
        QString how;      // what it answered: "discovery" or "\"info\""; empty when nothing
    };

    void ensureDiscover();
    // A run is starting: nothing of the revision question may come back;
    // stops its timer and lets its read go.
    void stopRevisionQuery();
    void startIdentification(const QString &address, bool forWrite);
    void identifyByInfo();
    void identifyReadDone(int result);
    void identified(const Identity &identity);
    void stopIdentification();
    QString describe(const QString &verstring, const QString &idstring) const;
    // The verstring test of the selected product (its SFT text); empty when none.
    QString sftText() const;
    void startWrite(const QString &address, const QString &revisionBefore, bool typeUnconfirmed);
    void queryFirmwareVersion(int index);
    void startInfoRead(quint32 address);
    void setControlsEnabled(bool enable);
    void stopQueryTimer();
    void releaseRun();
    void closeProgress();
    QString currentEntryText() const;
    void rememberRevision(quint32 address, quint32 revision);
    void updateProgramAllControls();
    bool programAllOffered() const;
    void fleetWriteStarted(int index);
    void fleetWriteProgress(int index, int percent);
    void fleetWriteFinished(int index);
    void fleetCancelRequested();
    void fleetDone();
    void setFleetRow(int index, const QString &state, int percent);
    void refreshFleetView();
    QString fleetSummary(const QList<ControllerWriteOutcome> &outcomes) const;
    bool startDiscovery();
    void finishSearch(bool found, const QString &message);
    void searchRevisionRead(bool ok);
    void startVerification(const QStringList &addresses, bool fleet);
    void verificationChecked(int index);
    void verificationDone();
    void endSingleRun();
    void endFleetRun();
    UpdateRecord record(const QString &address, const QString &revisionBefore) const;
    void emitRecord(UpdateRecord record, UpdateRecord::Outcome outcome, const QString &reason);
    void recordCheck(const QString &address, const QString &revisionBefore, const RevisionCheck &check);
    // What the panel read of this controller before the run; null when nothing.
    QString revisionBeforeOf(const QString &address) const;
    void recordUnchecked(const QString &why);

    Ui::tftpInterfaceControlClass *ui;
    Prompter &m_prompter;
    Pauser &m_pauser;
    TarvoLibrary &m_tarvo;
    EthernetSettings m_ownSettings;
    const EthernetSettings &m_settings;

    std::unique_ptr<TarvoInput> m_discover;
    int m_discoverPort = 0;
    std::unique_ptr<ProgressHandle> m_progressDialog;
    QTFTP *m_readThread = nullptr;
    char m_infoBuffer[512];
    QByteArray m_fileData;
    QTFTP *m_writeThread = nullptr;
    QTimer *m_discoveryTimer = nullptr;
    QTimer *m_queryTimer = nullptr;
    QHostAddress m_manualAddress;
    // What the write thread said last: the reason given when a write fails.
    QString m_lastWriteStatus;
    QString m_writeAddress;
    quint32 m_infoAddress = 0;

    FleetWriter *m_fleet = nullptr;
    FleetProgressFactory m_fleetProgressFactory;
    std::unique_ptr<FleetProgressView> m_fleetView;
    // What the rows show, applied to the view a few times a second: with many
    // writes at once, drawing every step would hold up the window.
    QTimer *m_fleetRefresh = nullptr;
    QList<QPair<QString, int>> m_fleetRows;
    QList<bool> m_fleetRowChanged;
    QList<int> m_fleetPercent; // per row, for the overall bar; a finished row counts as whole
    int m_fleetOverallShown = -1;
    QString m_fleetStatusShown;
    QList<ControllerWriteOutcome> m_fleetOutcomes;
    // Its clock runs from PROGRAM to the end of each check.
    RunRecorder m_recorder;

    // The run's revision checks, under way and done.
    ControllerVerifier *m_verifier = nullptr;
    QStringList m_verifyAddresses;
    bool m_verifyingFleet = false;
    QHash<QString, RevisionCheck> m_checks; // by controller address
    QSet<QString> m_recorded; // addresses of this run whose record was emitted
    QString m_runRevisionBefore; // single write: what the panel showed
    // findDevice(): the address searched for, null when none is.
    QString m_searchAddress;
    bool m_searchReadingRevision = false;
    bool m_destroying = false;

    // Discovery replies of the current discovery, by address, whatever their
    // type: what findDevice() tells of an address that is not listed.
    struct Reply {
        QString verstring;
        QString idstring;
    };
    QHash<quint32, Reply> m_replies;
    // Asking a typed address what it is: for PROGRAM (a run) or for findDevice().
    QString m_identifyAddress;
    bool m_identifyForWrite = false;
    QTimer *m_identifyTimer = nullptr;
    QTFTP *m_identifyRead = nullptr;
    QByteArray m_identifyBuffer;
    // What findDevice() learnt, for the PROGRAM that follows it.
    std::optional<Identity> m_identified;
    // The controller written did not say what it is before the write.
    bool m_runTypeUnconfirmed = false;
};
