#pragma once

#include "base/InterfacePanel.h"
#include "base/RevisionCheck.h"
#include "base/UpdateRecord.h"
#include "catalogue/RunRecorder.h"
#include "usb/Device_VireoPlayer.h"
#include "usb/PlayerSearch.h"
#include "usb/PlayerVerifier.h"
#include "usb/Sorrel3Link.h"
#include "usb/UsbRunOutcome.h"

#include <QPointer>
#include <QString>

#include <functional>
#include <memory>

class BootLoadProduct;
class HCC_HID;
class HidBackend;
class Pauser;
class Prompter;
class SerialPorts;
class Sr3UsbLibrary;
class VireoProgress;

namespace Ui {
class usbInterfaceControlClass;
}

// Panel of the USB interface: connects to one USB player and reprograms it.
// The Sorrel 3 is reached through its vendor library; the Vireo Player over
// its serial port and, once in its boot loader, over HID.
class usbInterfaceControl : public InterfacePanel
{
    Q_OBJECT

public:
    static constexpr int kSettleAfterOpenMs = Sorrel3Link::kSettleAfterOpenMs;
    static constexpr int kDefaultPostDownloadWaitMs = 5000;
    static constexpr int kRecordReplySize = 32;
    static constexpr int kRecordRetries = 5;
    static constexpr int kDefaultVerifyWaitMs = 15000;
    static constexpr int kVerifyPollMs = PlayerVerifier::kPollMs;

    usbInterfaceControl(Prompter &prompter, Pauser &pauser, Sr3UsbLibrary &sr3,
                        SerialPorts &serialPorts, HidBackend &hid, QWidget *parent = nullptr);
    ~usbInterfaceControl() override;

    // Ends the panel's threads, waiting for them, so that what is logged
    // while stopping is kept.
    void shutdown() override;
    // Forgets the player connected and what was read of it, and lets go of
    // it as closing the window does: a Sorrel 3 goes back to its firmware.
    void startOver() override;

    // A run without an operator: connects as the Connect button does and
    // answers found when PROGRAM is offered, otherwise why not. The address
    // is ignored: one player is attached at a time.
    void findDevice(const QString &address) override;
    bool searchesByAddress() const override { return false; }
    // A run goes on after program() has returned during a transfer on a
    // thread, a wait for the device to restart and the read of its version
    // afterwards.
    bool runInProgress() const override;

    // Where the panel finds the selected product before program() hands it
    // over: connecting a Vireo Player compares its version with the image's.
    void setProductSource(std::function<BootLoadProduct *()> source) { m_productSource = std::move(source); }

    // 1 when the selected device type is the Vireo Player, 0 otherwise.
    void setDeviceKind(int kind);
    int deviceKind() const;
    // Sets the device kind from the product's name.
    void deviceTypeSelected(BootLoadProduct *product) override;
    // The Vireo Player's show files can be restored after its update.
    bool offersFactoryDefault() const override { return m_deviceKind == 1; }
    // Packed firmware version read from a connected Sorrel 3 (0 until one is read).
    int deviceFirmwareVersion() const;
    void setFirmwareFileName(const QString &fileName);
    QString firmwareFileName() const;
    void setFactoryDefault(bool factoryDefault) override;
    bool factoryDefault() const;
    // A Sorrel 3 running something newer than the oldest version it can be
    // taken back to is refused an older image; one taken back below the
    // first version that reads large SDHC cards asks first. A refusal is
    // recorded; nothing was sent.
    bool allowsRun(BootLoadProduct *product) override;
    // An accepted image's file name becomes the firmware file name.
    void program(BootLoadProduct *product) override;

    UsbRunOutcome lastRunOutcome() const { return m_outcome; }

    // Waits of the Vireo Player run; tests shorten them.
    void setPostDownloadWait(int milliseconds) { m_postDownloadWaitMs = milliseconds; }
    int postDownloadWait() const { return m_postDownloadWaitMs; }
    void setVireoTimings(const VireoTimings &timings) { m_vireoTimings = timings; }

    // "01.00.54" for 0x00010036: each byte as two decimal digits, the top
    // byte only when it is not 0.
    static QString formatVersion(quint32 version) { return Sorrel3Link::formatVersion(version); }

private slots:
    void on_m_pushButton_USBConnect_clicked();

public slots:
    void handleEnableControl(bool enable) override;

private:
    // Ends the wait with what it came to in the status bar.
    void endWaitWith(const QString &status);
    void connectFailed(const QString &text);
    // What the panel says of the player; a version the image's can be
    // compared with is followed by the image's ("01.00.82 → 01.00.90").
    void showPlayer(const QString &text, bool comparableVersion = false);
    void connectSorrel3();
    void connectVireoPlayer();
    void programSorrel3(BootLoadProduct *product);
    void programVireoPlayer(BootLoadProduct *product);
    // Ends a Vireo Player run that did not complete after program() returned.
    void endVireoRunFailed(const QString &reason);
    void severalPlayersAfterDownload();
    // The check after a good write takes the run over until it finishes.
    void startVerifier(PlayerVerifier *verifier);
    // The end of a run whose write succeeded: the message, the record and
    // the outcome all carry the check's result.
    void endCheckedRun(const RevisionCheck &check, const QString &remarks);
    PlayerSearch::Look searchLook() const;
    UpdateRecord newRecord(BootLoadProduct *product) const;
    // The image's version as a player of the product reports it; null when
    // the image is not accepted or does not say.
    static QString imageVersionOf(const BootLoadProduct &product);
    void emitRecord(UpdateRecord::Outcome outcome, const QString &reason);
    // A question answered no before anything was sent.
    void recordCancelled(const QString &reason);
    void offerDevice();
    bool askOverwrite(const QString &serialNumber, const QString &installed);
    HCC_HID &hid();
    std::unique_ptr<Device_VireoPlayer> makeVireo();
    void finishOutcome(UsbRunOutcome::Result result, const QString &reason);

    Ui::usbInterfaceControlClass *ui;
    Prompter &m_prompter;
    Sr3UsbLibrary &m_sr3;
    SerialPorts &m_serialPorts;
    HidBackend &m_hidBackend;
    HCC_HID *m_hid = nullptr;
    std::unique_ptr<VireoProgress> m_vireoProgress;
    // The Vireo Player object of the flow under way, so that shutdown can stop it.
    Device_VireoPlayer *m_activeVireo = nullptr;
    VireoTimings m_vireoTimings;
    int m_postDownloadWaitMs = kDefaultPostDownloadWaitMs;
    Sorrel3Link m_sorrel;
    QPointer<PlayerVerifier> m_verifier;
    PlayerSearch *m_search = nullptr;

    int m_deviceKind = 0;
    QString m_firmwareVersionText;
    int m_deviceFirmwareVersion = 0;
    QString m_bootLoaderVersionText;
    QString m_firmwareFileName;
    bool m_factoryDefault = false;
    bool m_shutDown = false;
    UsbRunOutcome m_outcome;
    std::function<BootLoadProduct *()> m_productSource;
    RunRecorder m_recorder;

    // The run under way: its record so far.
    UpdateRecord m_record;
    // How far the run's write has gone: what a run stopped midway is recorded as.
    enum class WriteStage { NothingSent, Writing, Written };
    WriteStage m_writeStage = WriteStage::NothingSent;
    bool m_checking = false;
    bool m_recordPending = false;
    // What the last connect found: the player's version (null when unknown)
    // and, for a Vireo Player, its serial number.
    QString m_versionBefore;
    QString m_serialBefore;
    // Why the last connect did not offer a player; whether it did.
    QString m_connectProblem;
    bool m_offered = false;
};
