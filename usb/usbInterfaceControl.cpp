#include "usb/usbInterfaceControl.h"

#include "ui_usbInterfaceControl.h"

#include "base/LogCategories.h"
#include "base/Prompter.h"
#include "catalogue/BootLoadProduct.h"
#include "catalogue/MicroprocessorImageInfo.h"
#include "usb/HCC_HID.h"
#include "usb/Sorrel3Verifier.h"
#include "usb/Sr3UsbLibrary.h"
#include "usb/VireoProgress.h"
#include "usb/VireoVerifier.h"

#include <QCoreApplication>
#include <QScopeGuard>

namespace {

const char kVireoPlayer[] = "Vireo Player";

// Packed firmware versions (major << 16 | minor << 8 | build) of the Sorrel 3.
// A player running something newer than 1.00.54 cannot be taken back to it.
constexpr quint32 kOldestDowngradeFloor = 0x10036;
// First version that reads SDHC cards larger than 2 GB.
constexpr quint32 kFirstSdhcVersion = 0x10052;

} // namespace

usbInterfaceControl::usbInterfaceControl(Prompter &prompter, Pauser &pauser, Sr3UsbLibrary &sr3,
                                         SerialPorts &serialPorts, HidBackend &hid, QWidget *parent)
    : InterfacePanel(0, kDefaultVerifyWaitMs, parent), ui(new Ui::usbInterfaceControlClass),
      m_prompter(prompter), m_sr3(sr3), m_serialPorts(serialPorts),
      m_hidBackend(hid), m_vireoProgress(std::make_unique<VireoProgress>(prompter)), m_sorrel(sr3, pauser),
      m_recorder(*this, &usbInterfaceControl::imageVersionOf)
{
    ui->setupUi(this);
    setObjectName("usbInterfaceControl");
    connect(&m_sr3, &Sr3UsbLibrary::signal_log, this, &usbInterfaceControl::signal_log);
    m_search = new PlayerSearch([this] { return searchLook(); }, [this] { on_m_pushButton_USBConnect_clicked(); },
                                this);
    connect(m_search, &PlayerSearch::done, this, &usbInterfaceControl::signal_deviceSearchDone);
}

usbInterfaceControl::~usbInterfaceControl()
{
    shutdown();
    delete ui;
}

void usbInterfaceControl::setDeviceKind(int kind)
{
    m_deviceKind = kind;
}

int usbInterfaceControl::deviceKind() const
{
    return m_deviceKind;
}

void usbInterfaceControl::deviceTypeSelected(BootLoadProduct *product)
{
    setDeviceKind(product && product->name() == QLatin1String(kVireoPlayer) ? 1 : 0);
}

int usbInterfaceControl::deviceFirmwareVersion() const
{
    return m_deviceFirmwareVersion;
}

void usbInterfaceControl::setFirmwareFileName(const QString &fileName)
{
    m_firmwareFileName = fileName;
}

QString usbInterfaceControl::firmwareFileName() const
{
    return m_firmwareFileName;
}

void usbInterfaceControl::setFactoryDefault(bool factoryDefault)
{
    m_factoryDefault = factoryDefault;
}

bool usbInterfaceControl::factoryDefault() const
{
    return m_factoryDefault;
}

bool usbInterfaceControl::runInProgress() const
{
    return m_outcome.result == UsbRunOutcome::Running;
}

void usbInterfaceControl::shutdown()
{
    if (m_shutDown)
        return;
    m_shutDown = true;
    endWait();
    if (m_verifier)
        m_verifier->abort();
    if (m_activeVireo)
        m_activeVireo->stop();
    if (m_hid)
        m_hid->closeDevice();
    m_vireoProgress->close();
    const bool halfWritten = runInProgress() && !m_checking && m_writeStage == WriteStage::Writing;
    if (runInProgress()) {
        const QString product = m_outcome.product;
        const QString text = tr("The program was closed before the %1 run ended.").arg(product);
        log(LOG_WARNING, text);
        finishOutcome(UsbRunOutcome::Failed, text);
        // The record says what the device was left holding.
        if (m_checking || m_writeStage == WriteStage::Written)
            emitRecord(UpdateRecord::Outcome::NotVerified,
                       tr("the program was closed after the firmware was written, before the %1 was "
                          "checked")
                           .arg(product));
        else if (halfWritten)
            emitRecord(UpdateRecord::Outcome::Failed,
                       tr("the program was closed while the firmware was being written"));
        else
            emitRecord(UpdateRecord::Outcome::Cancelled,
                       tr("the program was closed before anything was sent to the %1").arg(product));
    }
    // A Sorrel 3 still in its boot loader goes back to its firmware, unless
    // that firmware is half written: as after a failed write, it stays in its
    // boot loader.
    m_sorrel.release(!halfWritten);
}

void usbInterfaceControl::startOver()
{
    if (runInProgress() || m_shutDown)
        return;
    endWait();
    if (m_verifier)
        m_verifier->deleteLater();
    if (m_hid)
        m_hid->closeDevice();
    m_vireoProgress->close();
    // A Vireo Player already in its boot loader stays there: only firmware takes it out.
    m_sorrel.release(true);
    m_offered = false;
    m_connectProblem.clear();
    m_versionBefore = QString();
    m_serialBefore = QString();
    m_deviceFirmwareVersion = 0;
    m_firmwareVersionText.clear();
    m_bootLoaderVersionText.clear();
    m_firmwareFileName.clear();
    m_outcome = UsbRunOutcome();
    showPlayer(tr("No device selected"));
    ui->m_label_SR3SorrelVersion->clear();
    ui->m_lblSerialNr->clear();
    ui->m_pushButton_USBConnect->setEnabled(true);
}

void usbInterfaceControl::handleEnableControl(bool enable)
{
    ui->m_groupBox_USBControlPanel->setEnabled(enable);
}

void usbInterfaceControl::showPlayer(const QString &text, bool comparableVersion)
{
    // The panel is offered only once an image is accepted, and that image
    // stays until Start Over. Its version as the check after the update sees it.
    BootLoadProduct *product = m_productSource ? m_productSource() : nullptr;
    const QString image = comparableVersion && product ? imageVersionOf(*product) : QString();
    ui->m_label_SR3Device->setText(image.isNull() ? text : tr("%1 → %2").arg(text, image));
}

HCC_HID &usbInterfaceControl::hid()
{
    if (!m_hid)
        m_hid = new HCC_HID(m_hidBackend, this);
    return *m_hid;
}

std::unique_ptr<Device_VireoPlayer> usbInterfaceControl::makeVireo()
{
    auto vireo = std::make_unique<Device_VireoPlayer>(this, m_prompter, m_serialPorts, hid(),
                                                      *m_vireoProgress);
    vireo->setTimings(m_vireoTimings);
    return vireo;
}

void usbInterfaceControl::finishOutcome(UsbRunOutcome::Result result, const QString &reason)
{
    m_outcome.result = result;
    m_outcome.reason = reason;
}

void usbInterfaceControl::offerDevice()
{
    m_offered = true;
    emit signal_enableProgramButton(true);
}

QString usbInterfaceControl::imageVersionOf(const BootLoadProduct &product)
{
    if (!product.imageReady())
        return QString();
    return product.name() == QLatin1String(kVireoPlayer)
        ? Device_VireoPlayer::imageVersion(product.imageData())
        : formatVersion(product.imageVersion() & BootLoadProduct::kPackedVersionMask);
}

UpdateRecord usbInterfaceControl::newRecord(BootLoadProduct *product) const
{
    return m_recorder.make(product, m_serialBefore, m_versionBefore);
}

void usbInterfaceControl::emitRecord(UpdateRecord::Outcome outcome, const QString &reason)
{
    // One record per run, whichever way it ends first.
    if (!m_recordPending)
        return;
    m_recordPending = false;
    m_recorder.emitEnded(m_record, outcome, reason);
}

void usbInterfaceControl::recordCancelled(const QString &reason)
{
    m_record = newRecord(m_productSource ? m_productSource() : nullptr);
    m_recorder.stopClock();
    m_recordPending = true;
    emitRecord(UpdateRecord::Outcome::Cancelled, reason);
}

void usbInterfaceControl::endWaitWith(const QString &status)
{
    // Said first, the status replaces the wait's text rather than following a blank.
    emit signal_updateStatus(status);
    endWait();
}

void usbInterfaceControl::connectFailed(const QString &text)
{
    m_connectProblem = text;
    endWait();
    log(LOG_WARNING, text);
    m_prompter.warning(this, tr("Warning"), text);
    log(LOG_WARNING, tr("USB device connect failed!"));
    ui->m_pushButton_USBConnect->setEnabled(true);
}

void usbInterfaceControl::on_m_pushButton_USBConnect_clicked()
{
    if (runInProgress())
        return;
    ui->m_pushButton_USBConnect->setEnabled(false);
    showPlayer(tr("No device selected"));
    ui->m_lblSerialNr->clear();
    m_offered = false;
    m_connectProblem.clear();
    m_versionBefore = QString();
    m_serialBefore = QString();
    log(LOG_INFO, tr("Connecting to USB device..."));

    if (m_deviceKind == 1) {
        ui->m_lblSerialNrLabel->setEnabled(true);
        connectVireoPlayer();
    } else {
        ui->m_lblSerialNrLabel->setEnabled(false);
        connectSorrel3();
    }
    QCoreApplication::processEvents();
}

void usbInterfaceControl::connectSorrel3()
{
    beginWait(tr("Connecting to Sorrel3..."));
    QCoreApplication::processEvents();
    // Nothing known about this player yet; an earlier player's version must
    // not decide what this one may be given.
    m_deviceFirmwareVersion = 0;

    const int inApplication = m_sr3.controllerCount();
    if (inApplication > 1)
        return connectFailed(tr("More than one Sorrel 3 interface found.\n\nDisconnect all but one."));
    if (inApplication == 1) {
        int error = m_sr3.connectController();
        if (error != Sr3UsbLibrary::kSuccess)
            return connectFailed(tr("Could not connect to Sorrel 3 (%1)").arg(error));
        // Only the running player tells it: the record and History name it.
        m_serialBefore = m_sr3.serialNumber();
        ui->m_lblSerialNr->setText(m_serialBefore);
        ui->m_lblSerialNrLabel->setEnabled(!m_serialBefore.isEmpty());
        error = m_sr3.enterBootLoader();
        if (error != Sr3UsbLibrary::kSuccess)
            return connectFailed(tr("Could not enter boot loader mode (%1)").arg(error));
    }

    const int inBootLoader = m_sr3.rawDeviceCount();
    if (inBootLoader == 0)
        return connectFailed(tr("No Sorrel 3's found on USB!"));
    if (inBootLoader > 1)
        return connectFailed(tr("More than one Sorrel 3 (low level) found.\n\nDisconnect all but one."));

    if (!m_sorrel.open()) {
        const int status = m_sr3.lastStatus();
        return connectFailed(tr("Error opening Sorrel 3: %1").arg(status));
    }

    int version = 0;
    if (m_sr3.getFirmwareVersion(version)) {
        m_deviceFirmwareVersion = version;
        m_firmwareVersionText = formatVersion(quint32(version));
        m_versionBefore = formatVersion(quint32(version) & BootLoadProduct::kPackedVersionMask);
    } else {
        m_firmwareVersionText = tr("UNKNOWN");
        endWait();
        const QString question = tr("Could not read version from Sorrel 3.\n\nDo you want to continue anyway?");
        log(LOG_WARNING, tr("Could not read version from Sorrel 3."));
        if (m_prompter.askQuestion(this, tr("Warning"), question, QMessageBox::Yes | QMessageBox::No,
                                   QMessageBox::No)
            != QMessageBox::Yes) {
            m_sorrel.release(false);
            ui->m_pushButton_USBConnect->setEnabled(true);
            m_connectProblem = tr("The Sorrel 3's firmware version could not be read, and going on "
                                  "anyway was refused.");
            recordCancelled(m_connectProblem);
            return;
        }
    }
    int bootLoaderVersion = 0;
    m_bootLoaderVersionText = m_sr3.getBootloaderVersion(bootLoaderVersion)
        ? formatVersion(quint32(bootLoaderVersion))
        : tr("UNKNOWN");

    showPlayer(m_firmwareVersionText, !m_versionBefore.isNull());
    ui->m_label_SR3SorrelVersion->setText(m_bootLoaderVersionText);
    endWaitWith(tr("Connected to Sorrel3."));
    log(LOG_INFO, tr("USB device connect succeeded."));
    offerDevice();
}

void usbInterfaceControl::connectVireoPlayer()
{
    beginWait(tr("Connecting to Vireo Player..."));
    QCoreApplication::processEvents();

    const std::unique_ptr<Device_VireoPlayer> vireo = makeVireo();
    m_activeVireo = vireo.get();
    // Whichever way the connect ends, its wait ends with it.
    const auto done = qScopeGuard([this] {
        m_activeVireo = nullptr;
        endWait();
    });

    QStringList found;
    const int bootLoaders = vireo->findBootLoaderDevices(found);
    const QList<SerialPortEntry> ports = vireo->findPlayerPorts();
    // A player this user may not open is there: it is never "not found".
    const QStringList refused = vireo->refusedPlayerDevices();
    if (!refused.isEmpty()) {
        if (bootLoaders == 0 && ports.isEmpty())
            return connectFailed(Device_VireoPlayer::refusedText(refused));
        log(LOG_WARNING, Device_VireoPlayer::refusedText(refused));
    }

    if (bootLoaders == 1 && ports.isEmpty()) {
        showPlayer(tr("Unknown.  Found Device is waiting for Firmware."));
        const QString ready = tr("A Vireo Player is waiting for firmware in its boot loader.");
        log(LOG_INFO, ready);
        endWaitWith(ready);
        offerDevice();
        return;
    }
    if (bootLoaders > 1 || (bootLoaders == 1 && !ports.isEmpty()) || ports.size() > 1)
        return connectFailed(tr("More than one Vireo Player (low level) found.\n\nDisconnect all but one."));
    if (ports.isEmpty())
        return connectFailed(tr("No Vireo Player's found on USB!"));

    vireo->setPort(ports.first());
    VireoDescriptor descriptor;
    vireo->getDescriptor(descriptor);
    if (m_shutDown || vireo->stopped())
        return;
    showPlayer(descriptor.firmwareVersion,
               !Device_VireoPlayer::comparableVersion(descriptor.firmwareVersion).isNull());
    ui->m_lblSerialNr->setText(descriptor.serialNumber);
    if (!descriptor.firmwareVersion.isEmpty())
        m_versionBefore = descriptor.firmwareVersion;
    if (!descriptor.serialNumber.isEmpty())
        m_serialBefore = descriptor.serialNumber;

    // The question waits for the operator, not for the player.
    endWait();
    if (!askOverwrite(descriptor.serialNumber, descriptor.firmwareVersion)) {
        ui->m_pushButton_USBConnect->setEnabled(true);
        m_connectProblem = tr("The Vireo Player %1 keeps firmware %2: overwriting it was refused.")
                               .arg(descriptor.serialNumber, descriptor.firmwareVersion);
        recordCancelled(m_connectProblem);
        return;
    }

    beginWait(tr("Waiting for the Vireo Player's boot loader…"));
    vireo->enterBootLoader();
    if (m_shutDown || vireo->stopped())
        return;
    found.clear();
    int count = vireo->findBootLoaderDevices(found);
    if (count == 0) {
        // It restarted, but into a boot loader this user may not open.
        const QStringList refusedLoaders = vireo->refusedBootLoaders();
        if (!refusedLoaders.isEmpty()) {
            showPlayer(tr("No device selected"));
            return connectFailed(Device_VireoPlayer::refusedText(refusedLoaders));
        }
        endWait();
        m_prompter.information(this, tr("Vireo Player Bootloader"),
                               tr("Automatic reboot failed. Please cycle power on the Vireo "
                                  "Player before continuing."));
        beginWait(tr("Waiting for the Vireo Player's boot loader…"));
        found.clear();
        count = vireo->findBootLoaderDevices(found);
    }
    if (count == 1) {
        const QString ready = tr("The Vireo Player is waiting for firmware in its boot loader.");
        log(LOG_INFO, ready);
        endWaitWith(ready);
        offerDevice();
        return;
    }
    endWait();
    m_connectProblem = tr("Device failed to reset.");
    m_prompter.critical(this, tr("Vireo Player"), tr("Device failed to reset."));
    showPlayer(tr("No device selected"));
    ui->m_pushButton_USBConnect->setEnabled(true);
}

bool usbInterfaceControl::askOverwrite(const QString &serialNumber, const QString &installed)
{
    BootLoadProduct *product = m_productSource ? m_productSource() : nullptr;
    const QString image = product ? Device_VireoPlayer::imageVersion(product->imageData()) : QString();
    const QString current = Device_VireoPlayer::comparableVersion(installed);
    const QString question = tr("This device (SN:%1) already has firmware version: %2 installed. "
                                "\r\n Overwrite it?")
                                 .arg(serialNumber, installed);
    const QString title = tr("Vireo Player Bootloader");
    const auto buttons = QMessageBox::Yes | QMessageBox::No;
    // Unless both versions are known and differ, this may put the same
    // firmware on again: a run without an operator needs leave for that.
    const bool differs = !image.isNull() && !current.isNull() && image != current;
    const QMessageBox::StandardButton answer = differs
        ? m_prompter.confirmRun(this, Prompter::Kind::Question, title, question, buttons, QMessageBox::No)
        : m_prompter.askGuarding(GuardingQuestion::Overwrite, this, Prompter::Kind::Question, title,
                                 question, buttons, QMessageBox::No);
    return answer == QMessageBox::Yes;
}

bool usbInterfaceControl::allowsRun(BootLoadProduct *product)
{
    // The Vireo Player has no such limits.
    if (m_deviceKind != 0)
        return true;
    // Only the three low bytes make a packed version.
    const quint32 image = product->imageVersion() & BootLoadProduct::kPackedVersionMask;
    const quint32 device = static_cast<quint32>(m_deviceFirmwareVersion) & BootLoadProduct::kPackedVersionMask;

    // Refused here, the run never starts: the record still gets it, with
    // no time taken.
    const auto record = [&](UpdateRecord::Outcome outcome, const QString &reason) {
        UpdateRecord run = m_recorder.make(product, m_serialBefore, formatVersion(device));
        run.imageVersion = formatVersion(image);
        m_recorder.stopClock();
        m_recorder.emitEnded(run, outcome, reason);
    };
    if (device > kOldestDowngradeFloor && image <= kOldestDowngradeFloor) {
        const QString text = tr("Unable to downgrade firmware to version 1.00.54 or older");
        log(LOG_SEVERE, text);
        m_prompter.showMessage(nullptr, Prompter::Kind::Critical, tr("Critical Error"), text,
                               QMessageBox::Ok);
        record(UpdateRecord::Outcome::Failed, text + tr(". Nothing was sent."));
        return false;
    }
    if (device >= kFirstSdhcVersion && image < kFirstSdhcVersion) {
        const QString text =
            tr("By downgrading the Firmware you will ***NOT*** be able to use SDHC cards larger "
               "then 2GB. \n\nAre you sure you want to continue?");
        log(LOG_WARNING, text);
        const QMessageBox::StandardButton answer = m_prompter.askGuarding(
            GuardingQuestion::Downgrade, nullptr, Prompter::Kind::Warning, tr("Warning"), text,
            QMessageBox::Yes | QMessageBox::Abort, QMessageBox::Abort);
        // Only an explicit Yes takes the player back; closing the box does not.
        if (answer == QMessageBox::Yes)
            return true;
        record(UpdateRecord::Outcome::Cancelled,
               tr("The downgrade to %1 was not confirmed. Nothing was sent.").arg(formatVersion(image)));
        return false;
    }
    return true;
}

void usbInterfaceControl::program(BootLoadProduct *product)
{
    if (!product) {
        log(LOG_WARNING, tr("No device type is selected: nothing was programmed."));
        return;
    }
    if (runInProgress()) {
        log(LOG_WARNING, tr("A %1 run is still in progress: nothing else is started.").arg(m_outcome.product));
        return;
    }
    if (m_shutDown) {
        log(LOG_WARNING, tr("The program is closing: %1 is not programmed.").arg(product->name()));
        return;
    }
    if (product->imageReady())
        m_firmwareFileName = product->imageFileName();
    log(LOG_INFO, tr("Programming %1...").arg(product->name()));
    m_outcome = UsbRunOutcome();
    m_outcome.result = UsbRunOutcome::Running;
    m_outcome.product = product->name();
    m_record = newRecord(product);
    m_recordPending = true;
    m_checking = false;
    m_writeStage = WriteStage::NothingSent;
    m_recorder.startClock();
    if (product->name() == QLatin1String(kVireoPlayer))
        programVireoPlayer(product);
    else
        programSorrel3(product);
}

void usbInterfaceControl::programVireoPlayer(BootLoadProduct *product)
{
    const std::unique_ptr<Device_VireoPlayer> vireo = makeVireo();
    m_activeVireo = vireo.get();
    // What is sent is what was checked when the file was selected.
    const QString fileName = product->imageFileName().isEmpty() ? m_firmwareFileName : product->imageFileName();
    connect(vireo.get(), &Device_VireoPlayer::downloadStageChanged, this,
            [this](Device_VireoPlayer::DownloadStage stage) {
                using Stage = Device_VireoPlayer::DownloadStage;
                m_writeStage = stage == Stage::NothingSent ? WriteStage::NothingSent
                    : stage == Stage::Sending              ? WriteStage::Writing
                                                           : WriteStage::Written;
            });
    beginWait(tr("Writing the firmware to the Vireo Player…"));
    const int result = vireo->downloadFW(this, product->imageData(), fileName);
    m_activeVireo = nullptr;
    if (m_shutDown)
        return;
    if (result != Device_VireoPlayer::DownloadOk) {
        endWait();
        m_vireoProgress->close();
        ui->m_pushButton_USBConnect->setEnabled(true);
        const QString reason = tr("The firmware download to the Vireo Player failed (%1).").arg(result);
        finishOutcome(UsbRunOutcome::Failed, reason);
        emitRecord(UpdateRecord::Outcome::Failed, vireo->lastError().isEmpty() ? reason : vireo->lastError());
        return;
    }
    log(LOG_INFO, tr("Firmware downloaded to the Vireo Player; waiting for it to restart."));
    auto *verifier = new VireoVerifier([this] { return makeVireo(); }, fileName, m_factoryDefault, m_outcome.product,
                                       m_record.imageVersion, m_versionBefore, m_verifyWaitMs, this);
    startVerifier(verifier);
    connect(verifier, &VireoVerifier::identified, this, [this](const QString &serial) { m_record.address = serial; });
    connect(verifier, &VireoVerifier::severalFound, this, &usbInterfaceControl::severalPlayersAfterDownload);
    QCoreApplication::processEvents();
    if (m_shutDown)
        return;
    verifier->start(m_postDownloadWaitMs);
}

void usbInterfaceControl::endVireoRunFailed(const QString &reason)
{
    endWait();
    m_vireoProgress->close();
    ui->m_pushButton_USBConnect->setEnabled(true);
    finishOutcome(UsbRunOutcome::Failed, reason);
    // The player is no longer offered: it must be connected again.
    emit signal_enableProgramButton(false);
}

void usbInterfaceControl::severalPlayersAfterDownload()
{
    const QString text = m_factoryDefault
        ? tr("More than one Vireo Player was found after the download.\n\nThe firmware was "
             "downloaded, but its file name was not recorded and the factory show files were "
             "not restored. Disconnect all but one Vireo Player and check it.")
        : tr("More than one Vireo Player was found after the download.\n\nThe firmware was "
             "downloaded, but its file name was not recorded. Disconnect all but one Vireo "
             "Player and check it.");
    log(LOG_WARNING, text);
    m_checking = false;
    emitRecord(UpdateRecord::Outcome::NotVerified, tr("more than one Vireo Player was found after the download"));
    m_prompter.warning(this, tr("Vireo Player"), text);
    m_vireoProgress->step(true);
    endVireoRunFailed(text);
}

void usbInterfaceControl::startVerifier(PlayerVerifier *verifier)
{
    // The one before may still be on the stack of a box it led to.
    if (m_verifier)
        m_verifier->deleteLater();
    m_verifier = verifier;
    m_checking = true;
    // The player as the operator knows it: by its serial number when it told one.
    const QString player = m_serialBefore.isEmpty() ? m_outcome.product
                                                    : tr("%1 SN:%2").arg(m_outcome.product, m_serialBefore);
    beginWait(tr("Checking %1 after the update…").arg(player), true);
    connect(verifier, &PlayerVerifier::log, this, &usbInterfaceControl::log);
    connect(verifier, &PlayerVerifier::finished, this, [this](const RevisionCheck &check, const QString &remarks) {
        m_vireoProgress->close();
        endCheckedRun(check, remarks);
        ui->m_pushButton_USBConnect->setEnabled(true);
    });
}

void usbInterfaceControl::endCheckedRun(const RevisionCheck &check, const QString &remarks)
{
    m_checking = false;
    const QString summary = check.summary();
    const bool verified = check.result == RevisionCheck::Result::Verified;
    log(check.failed() ? LOG_SEVERE : verified ? LOG_INFO : LOG_WARNING,
        tr("Check of %1 after the update: %2").arg(m_outcome.product, summary));
    m_record.revisionAfter = check.revisionAfter;
    emitRecord(check.outcome(), verified ? QString() : check.detail);
    m_outcome.remarks = remarks;
    m_outcome.check = summary;
    if (check.failed())
        finishOutcome(UsbRunOutcome::Failed, summary);
    else
        finishOutcome(UsbRunOutcome::Succeeded, QString());
    endWaitWith(summary);

    QString text;
    if (verified)
        text = tr("Programming complete!\n\n%1").arg(summary);
    else if (check.failed())
        text = tr("The firmware was written, but the player does not run it.\n\n%1").arg(summary);
    else
        text = tr("Programming complete, but the new firmware could not be confirmed.\n\n%1").arg(summary);
    if (!remarks.isEmpty())
        text += QStringLiteral("\n\n") + remarks;
    if (verified)
        m_prompter.information(this, tr("Information"), text);
    else if (check.failed())
        m_prompter.critical(this, tr("Critical Error"), text);
    else
        m_prompter.warning(this, tr("Warning"), text);
    emit signal_programComplete();
}

void usbInterfaceControl::programSorrel3(BootLoadProduct *product)
{
    const QString name = product->name();
    const MicroprocessorImageInfo *info = product->processor(0);
    const quint32 records = info ? info->pageCount() : 0;
    const quint32 pageSize = info ? info->pageSize() : 0;
    QString failure;

    if (!m_sorrel.isOpen()) {
        failure = tr("No Sorrel 3 is connected: press Connect first. Nothing was sent.");
        log(LOG_WARNING, failure);
        m_prompter.warning(this, tr("Warning"), failure);
    } else if (records == 0) {
        // Erasing a player that is then given nothing would leave it without firmware.
        failure = tr("The image for %1 holds no whole page to program: nothing was sent.").arg(name);
        log(LOG_WARNING, failure);
        m_prompter.warning(this, tr("Warning"), failure);
    }

    if (failure.isEmpty()) {
        beginWait(tr("Erasing flash..."));
        log(LOG_INFO, tr("Erasing %1 flash...").arg(name));
        QCoreApplication::processEvents();
        // A closing window has let go of the player and recorded the run.
        if (m_shutDown)
            return;
        m_writeStage = WriteStage::Writing;
        if (m_sr3.eraseFlash()) {
            log(LOG_INFO, tr("Erasing %1 flash complete.").arg(name));
        } else {
            failure = tr("Error erasing flash memory");
            m_prompter.warning(this, tr("Warning"), failure);
            log(LOG_WARNING, tr("Error erasing %1 flash!").arg(name));
        }
        QCoreApplication::processEvents();
        if (m_shutDown)
            return;
        qCDebug(lcDevice) << "Number of records:" << records;
    }

    if (failure.isEmpty()) {
        const std::unique_ptr<ProgressHandle> progress =
            m_prompter.openProgress(this, name, tr("Programming..."), QString(), 0, int(records));
        char reply[kRecordReplySize];
        for (quint32 i = 0; i < records; ++i) {
            updateWait(tr("Writing %1… Record %2 of %3").arg(name).arg(i + 1).arg(records));
            if (progress)
                progress->setValue(int(i));
            QCoreApplication::processEvents();
            if (m_shutDown) {
                if (progress)
                    progress->close();
                return;
            }
            // The record is sized from the page: 13 + 2 x page size characters
            // with its terminator, whatever the page size.
            QByteArray record = info->pageRecord(i, pageSize);
            bool accepted = !record.isEmpty();
            if (accepted) {
                record.append('\0');
                int replyLength = kRecordReplySize;
                accepted = m_sr3.transaction(record, reply, replyLength, kRecordRetries);
            }
            if (!accepted) {
                failure = tr("Error sending record %1").arg(i);
                m_prompter.warning(this, tr("Warning"), failure);
                log(LOG_WARNING, failure);
                break;
            }
        }
        if (progress) {
            progress->setValue(int(records));
            progress->close();
        }
    }

    if (failure.isEmpty()) {
        m_sorrel.resetIntoFirmware();
        m_writeStage = WriteStage::Written;
        endWaitWith(tr("Program USB device complete!"));
        log(LOG_INFO, tr("Program of %1 complete!").arg(name));
        QCoreApplication::processEvents();
        if (m_shutDown)
            return;
    }

    endWait();
    // A failed run leaves the player in its boot loader, to be connected again.
    m_sorrel.release(false);
    showPlayer(QString());
    ui->m_label_SR3SorrelVersion->clear();
    if (!failure.isEmpty()) {
        ui->m_pushButton_USBConnect->setEnabled(true);
        finishOutcome(UsbRunOutcome::Failed, failure);
        emitRecord(UpdateRecord::Outcome::Failed, failure);
        emit signal_programComplete();
        return;
    }
    // The run goes on until the player, restarted, has told its version.
    auto *verifier = new Sorrel3Verifier(m_sorrel, name, m_record.imageVersion, m_versionBefore, m_verifyWaitMs, this);
    startVerifier(verifier);
    log(LOG_INFO, tr("Reading the firmware version of the %1 again...").arg(name));
    // A player that is back at once ends the run here; one that takes its
    // time is looked for again from the event loop.
    verifier->start();
}

void usbInterfaceControl::findDevice(const QString &)
{
    m_search->start();
}

PlayerSearch::Look usbInterfaceControl::searchLook() const
{
    PlayerSearch::Look look;
    look.closing = m_shutDown;
    look.running = runInProgress() ? m_outcome.product : QString();
    look.vireoPlayer = m_deviceKind == 1;
    look.offered = m_offered;
    look.serialNumber = m_serialBefore;
    look.problem = m_connectProblem;
    return look;
}
