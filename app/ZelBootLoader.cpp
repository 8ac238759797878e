#include "app/ZelBootLoader.h"

#include "ui_ZelBootLoader.h"

#include "app/DataFiles.h"
#include "app/DeviceEnvironment.h"
#include "app/HistoryDialog.h"
#include "app/RunEvents.h"
#include "base/InterfacePanel.h"
#include "base/Logger.h"
#include "base/OutputFolder.h"
#include "base/Pauser.h"
#include "base/QtPrompter.h"
#include "base/UpdateRecord.h"
#include "base/UpdateRecordFile.h"
#include "catalogue/BootLoadProduct.h"
#include "catalogue/ImageVersion.h"
#include "catalogue/ProductCatalogue.h"
#include "catalogue/TrustedKeys.h"
#include "dmx/zeldmxInterfaceControl.h"
#include "ethernet/tftpInterfaceControl.h"
#include "usb/usbInterfaceControl.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLayout>
#include <QLibraryInfo>
#include <QProgressBar>
#include <QStandardPaths>
#include <QStatusBar>
#include <QStatusTipEvent>
#include <QTextStream>

#include <cstdio>
#include <utility>

// The resources live in a static library: nothing would pull them in.
static void initResources()
{
    Q_INIT_RESOURCE(zel);
}

ZelBootLoader::ZelBootLoader(int interfaceIndex, const QString &deviceType,
                             const QString &deviceAddress, bool autoConnect, QWidget *parent,
                             Qt::WindowFlags flags)
    : ZelBootLoader(interfaceIndex, deviceType, deviceAddress, autoConnect, AppServices(), parent,
                    flags)
{
}

ZelBootLoader::ZelBootLoader(int interfaceIndex, const QString &deviceType,
                             const QString &deviceAddress, bool autoConnect,
                             const AppServices &services, QWidget *parent, Qt::WindowFlags flags)
    : QMainWindow(parent, flags)
    , ui(new Ui::ZelBootLoaderClass)
    , m_interfaceIndex(interfaceIndex)
    , m_deviceType(deviceType)
    , m_deviceAddress(deviceAddress)
    , m_autoConnect(autoConnect)
{
    takeServices(services);

    // Before the form: its icons come from these resources.
    initResources();
    ui->setupUi(this);
    setObjectName(QStringLiteral("ZelBootLoader"));

    m_label_version = new QLabel(QStringLiteral("v") + versionText(), this);
    m_label_version->setObjectName(QStringLiteral("m_label_version"));
    statusBar()->addWidget(m_label_version);

    // The signature of the accepted image, right under its summary.
    m_label_signature = new QLabel(this);
    m_label_signature->setObjectName(QStringLiteral("m_label_signature"));
    m_label_signature->setWordWrap(true);
    m_label_signature->setTextInteractionFlags(Qt::TextSelectableByMouse);
    ui->verticalLayout->insertWidget(ui->verticalLayout->indexOf(ui->m_label_fileFirmwareVersion) + 1,
                                     m_label_signature);
    // The image's version as the interface's devices report theirs, between
    // the summary and the signature.
    m_label_imageVersion = new QLabel(this);
    m_label_imageVersion->setObjectName(QStringLiteral("m_label_imageVersion"));
    m_label_imageVersion->setTextInteractionFlags(Qt::TextSelectableByMouse);
    ui->verticalLayout->insertWidget(ui->verticalLayout->indexOf(ui->m_label_fileFirmwareVersion) + 1,
                                     m_label_imageVersion);
    // Shown while a panel waits for something, left of the permanent labels.
    m_progress_busy = new QProgressBar(this);
    m_progress_busy->setObjectName(QStringLiteral("m_progress_busy"));
    m_progress_busy->setRange(0, 0);
    m_progress_busy->setTextVisible(false);
    m_progress_busy->setMaximumSize(80, 14);
    statusBar()->addPermanentWidget(m_progress_busy);
    m_progress_busy->hide();
    // The status message is elided to the room it has: on a resize it gets more or less.
    statusBar()->installEventFilter(this);

    m_runEvents = new RunEvents(this);
    m_logger = Logger::instance(this);
    connect(this, &ZelBootLoader::signal_log, m_logger, &Logger::log);
    connect(m_logger, &Logger::latestLogString, this, &ZelBootLoader::updateLogDisplay);
    m_logger->setLogLength(5000);

    log(LOG_INFO, tr("Initializing..."));

    if (m_devices->simulated()) {
        // Nothing reaches a real device in this mode; the operator must not
        // mistake a simulated run for a real update.
        setWindowTitle(windowTitle() + tr(" \u2014 simulated devices"));
        m_label_simulated = new QLabel(tr("SIMULATED DEVICES"), this);
        m_label_simulated->setObjectName(QStringLiteral("m_label_simulated"));
        m_label_simulated->setStyleSheet(QStringLiteral("QLabel { color: #b00000; font-weight: bold; }"));
        statusBar()->addPermanentWidget(m_label_simulated);
        log(LOG_INFO, tr("Simulated devices in use: nothing is sent to real hardware."));
        const DataFiles::Search samples = DataFiles::find(QLatin1String(DataFiles::kSamples));
        if (!samples.found.isEmpty()) {
            m_samplesFolder = samples.found;
            log(LOG_INFO, tr("Sample images for the simulated devices: %1")
                              .arg(QDir::toNativeSeparators(m_samplesFolder)));
        }
    }

    chooseOutputFolder();

    m_catalogue = new ProductCatalogue(*m_prompter, this, this, this);
    connect(m_catalogue, &ProductCatalogue::signal_log, this, &ZelBootLoader::signal_log);
    readCatalogue(services.cataloguePath);

    // The first entry becomes current as it is added and runs the device-type
    // handler, which talks to its panel: the panels must exist by then.
    createPanels();
    for (InterfacePanel *panel : std::as_const(m_panels))
        m_products.append(m_catalogue->products(panel->interfaceNumber()));
    loadTrustedKeys(services);

    for (InterfacePanel *panel : std::as_const(m_panels))
        ui->m_comboBox_interfaceSelect->addItem(UpdateRecord::interfaceTitle(panel->interfaceNumber()),
                                                panel->interfaceNumber());

    ui->m_ckx_FactoryDefault->hide();

    connect(ui->m_comboBox_interfaceSelect, &QComboBox::activated,
            ui->m_stackedWidget_interfaceControls, &QStackedWidget::setCurrentIndex);
    ui->m_stackedWidget_interfaceControls->setEnabled(false);

    for (InterfacePanel *panel : std::as_const(m_panels)) {
        ui->m_stackedWidget_interfaceControls->insertWidget(panel->interfaceNumber(), panel);
        wirePanel(panel);
        if (m_devices->verifyWaitMs() >= 0)
            panel->setVerifyWait(m_devices->verifyWaitMs());
        m_shutdownSteps.append([panel] { panel->shutdown(); });
    }

    // While an image is read the lists keep their look but take no input: a
    // click or key queued meanwhile must not switch the product whose file is
    // being read.
    ui->m_comboBox_interfaceSelect->installEventFilter(this);
    ui->m_comboBox_deviceSelect->installEventFilter(this);

    ui->m_stackedWidget_interfaceControls->setCurrentIndex(
        ui->m_comboBox_interfaceSelect->currentData().toInt());

    applyStartOptions();
    applyControls();

    connect(ui->actionHistory, &QAction::triggered, this, &ZelBootLoader::showHistory);
    connect(ui->actionStartOver, &QAction::triggered, this, &ZelBootLoader::startOver);
    connect(ui->m_pushButton_startOver, &QPushButton::clicked, this, &ZelBootLoader::startOver);
    connect(ui->actionAbout, &QAction::triggered, this, &ZelBootLoader::showAbout);
}

QString ZelBootLoader::versionText()
{
    return tr("%1.%2.%3 build %4 (%5)")
        .arg(ZEL_VERSION_MAJOR)
        .arg(ZEL_VERSION_MINOR)
        .arg(ZEL_VERSION_PATCH)
        .arg(QStringLiteral("57"))
        .arg(20130709);
}

ZelBootLoader::~ZelBootLoader()
{
    shutDown();
    // The panels reach the device layers and dialogs in their destructors;
    // those may be owned by this window and go with its members, before Qt
    // would delete the children.
    // A panel being deleted is no longer one the window talks to.
    for (InterfacePanel *&panel : m_panels)
        delete std::exchange(panel, nullptr);
    delete ui;
}

void ZelBootLoader::takeServices(const AppServices &services)
{
    m_prompter = services.prompter;
    if (!m_prompter) {
        m_ownPrompter = std::make_unique<QtPrompter>();
        m_prompter = m_ownPrompter.get();
    }
    m_pauser = services.pauser ? services.pauser : &Pauser::blocking();
    m_devices = services.devices;
    if (!m_devices) {
        m_ownDevices = DeviceEnvironment::create(false);
        m_devices = m_ownDevices.get();
    }
    m_openUrl = services.openUrl;
    if (!m_openUrl)
        m_openUrl = [](const QUrl &url) { return QDesktopServices::openUrl(url); };
}

void ZelBootLoader::readCatalogue(const QString &givenPath)
{
    // A catalogue named by the caller is the only one; otherwise the first
    // place that has one wins.
    if (!givenPath.isEmpty()) {
        m_cataloguePath = givenPath;
        log(LOG_INFO, tr("Product catalogue in use: %1").arg(QDir::toNativeSeparators(givenPath)));
        m_catalogue->readProductCatalogue(givenPath);
        return;
    }
    const DataFiles::Search search = DataFiles::find(QLatin1String(DataFiles::kCatalogue));
    m_catalogue->setSearchNote(tr("Places looked in for the product catalogue, in this order:\n%1")
                                   .arg(DataFiles::placesText(search)));
    if (search.found.isEmpty()) {
        // Today's box, naming the file rather than one of the places.
        QFile nowhere(search.lookedIn.value(0));
        m_catalogue->readProductCatalogue(nowhere, QLatin1String(DataFiles::kCatalogue));
        return;
    }
    m_cataloguePath = search.found;
    log(LOG_INFO, tr("Product catalogue in use: %1").arg(QDir::toNativeSeparators(search.found)));
    m_catalogue->readProductCatalogue(search.found);
}

void ZelBootLoader::chooseOutputFolder()
{
    m_outputFolder = OutputFolder::chooseForSession();
    OutputFolder::setCurrent(m_outputFolder);
    // An installed program usually starts in a folder it cannot write: the
    // operator must know where to find the log afterwards.
    const QString text = m_outputFolder.isEmpty()
        ? tr("No folder can be written: the session log will be printed on the error output "
             "when the program ends.")
        : tr("The session log will be written to %1 when the program ends.")
              .arg(QDir::toNativeSeparators(m_outputFolder));
    log(m_outputFolder.isEmpty() ? LOG_WARNING : LOG_INFO, text);
    std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
}

void ZelBootLoader::addShutdownStep(std::function<void()> step)
{
    m_shutdownSteps.append(std::move(step));
}

void ZelBootLoader::stopDeviceWork()
{
    if (m_deviceWorkStopped)
        return;
    m_deviceWorkStopped = true;
    for (const std::function<void()> &step : std::as_const(m_shutdownSteps))
        step();
    // The records the stopped threads queued for this thread, which no event
    // loop would deliver any more.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::MetaCall);
}

void ZelBootLoader::shutDown()
{
    if (m_shutDown)
        return;
    m_shutDown = true;
    // Device work stops first, threads included, so that what is logged and
    // recorded while stopping is in the log file.
    stopDeviceWork();
    writeShutdownLog();
    OutputFolder::setCurrent(QString());
}

void ZelBootLoader::closeEvent(QCloseEvent *event)
{
    if (m_state == RunState::Programming && m_askBeforeClosingRun && !m_deviceWorkStopped) {
        const QMessageBox::StandardButton answer = m_prompter->ask(
            this, Prompter::Kind::Question, tr("Zel Firmware Updater"),
            tr("An update is in progress. Quit anyway?"), QMessageBox::Yes | QMessageBox::No,
            QMessageBox::No);
        // The run may have ended while the box was open: then there is nothing left to lose.
        if (answer != QMessageBox::Yes && m_state == RunState::Programming) {
            log(LOG_INFO, tr("The updater stays open: an update is in progress."));
            event->ignore();
            return;
        }
        if (m_state == RunState::Programming)
            log(LOG_WARNING, tr("The updater is closing during an update; the update is stopped "
                                "and recorded as far as it got."));
    }
    QMainWindow::closeEvent(event);
}

void ZelBootLoader::createPanels()
{
    auto *usb = new usbInterfaceControl(*m_prompter, *m_pauser, m_devices->sr3(),
                                        m_devices->serialPorts(), m_devices->hid(), this);
    usb->setProductSource([this] { return selectedProduct(); });
    m_panels = {usb, new zeldmxInterfaceControl(*m_prompter, *m_pauser, m_devices->hollis(), this),
                new tftpInterfaceControl(*m_prompter, *m_pauser, m_devices->tarvo(),
                                         m_devices->ethernet(), this)};
    for (int number = 0; number < m_panels.size(); ++number)
        Q_ASSERT(m_panels.at(number)->interfaceNumber() == number);
}

InterfacePanel *ZelBootLoader::panel(int interfaceNumber) const
{
    return m_panels.value(interfaceNumber, nullptr);
}

InterfacePanel *ZelBootLoader::activePanel() const
{
    return panel(currentInterfaceNumber());
}

usbInterfaceControl *ZelBootLoader::usbPanel() const
{
    return qobject_cast<usbInterfaceControl *>(panel(0));
}

zeldmxInterfaceControl *ZelBootLoader::zeldmxPanel() const
{
    return qobject_cast<zeldmxInterfaceControl *>(panel(1));
}

tftpInterfaceControl *ZelBootLoader::tftpPanel() const
{
    return qobject_cast<tftpInterfaceControl *>(panel(2));
}

void ZelBootLoader::wirePanel(InterfacePanel *panel)
{
    connect(this, &ZelBootLoader::enableControl, panel, &InterfacePanel::handleEnableControl);
    connect(panel, &InterfacePanel::signal_enableProgramButton, this, &ZelBootLoader::enableProgramButton);
    connect(panel, &InterfacePanel::signal_updateStatus, this, &ZelBootLoader::handleStatusUpdate);
    connect(panel, &InterfacePanel::signal_waitStatus, this, &ZelBootLoader::handleWaitStatus);
    connect(panel, &InterfacePanel::signal_programComplete, this, &ZelBootLoader::handleProgramComplete);
    connect(panel, &InterfacePanel::signal_log, m_logger, &Logger::log);
    connect(panel, &InterfacePanel::signal_runRecord, this,
            [this](const UpdateRecord &record) { handleRunRecord(record); });
}

// A caller starting the window with an interface and a device type gets them
// selected; the operator can still change both. Address and auto-connect are
// kept for the panels and not acted on here.
void ZelBootLoader::applyStartOptions()
{
    QComboBox *interfaces = ui->m_comboBox_interfaceSelect;
    if (panel(m_interfaceIndex)) {
        const int entry = interfaces->findData(m_interfaceIndex);
        if (entry >= 0 && entry != interfaces->currentIndex()) {
            interfaces->setCurrentIndex(entry);
            ui->m_stackedWidget_interfaceControls->setCurrentIndex(m_interfaceIndex);
        }
    }
    if (m_deviceType.isEmpty())
        return;
    const int device = ui->m_comboBox_deviceSelect->findText(m_deviceType, Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (device >= 0)
        ui->m_comboBox_deviceSelect->setCurrentIndex(device);
    else
        log(LOG_WARNING, tr("Device type \"%1\" is not a product of the %2 interface.")
                             .arg(m_deviceType, interfaces->currentText()));
}

void ZelBootLoader::log(LOGPRIORITY priority, const QString &text)
{
    emit signal_log(priority, LOGTYPE_GENERAL, objectName(), text);
}

int ZelBootLoader::currentInterfaceNumber() const
{
    bool ok = false;
    const int number = ui->m_comboBox_interfaceSelect->currentData().toInt(&ok);
    return ok ? number : -1;
}

QList<BootLoadProduct *> ZelBootLoader::productsOf(int interfaceNumber) const
{
    return m_products.value(interfaceNumber);
}

BootLoadProduct *ZelBootLoader::selectedProduct() const
{
    const QList<BootLoadProduct *> products = productsOf(currentInterfaceNumber());
    const int index = ui->m_comboBox_deviceSelect->currentIndex();
    return index >= 0 && index < products.size() ? products.at(index) : nullptr;
}

void ZelBootLoader::applyControls()
{
    const RunState state = m_state;
    const bool choosing = state == RunState::Idle || state == RunState::Loading;
    const bool knownInterface = activePanel() != nullptr;

    ui->m_pushButton_firmwareImageFileSelect->setEnabled(state == RunState::Idle);
    ui->m_comboBox_interfaceSelect->setEnabled(choosing);
    // An unknown interface has no devices to offer.
    ui->m_comboBox_deviceSelect->setEnabled(choosing && knownInterface);
    ui->m_stackedWidget_interfaceControls->setEnabled(state == RunState::Ready
                                                      || state == RunState::Programming);
    const bool program = m_deviceOffered && (state == RunState::Idle || state == RunState::Ready);
    ui->m_pushButton_program->setEnabled(program);
    ui->m_ckx_FactoryDefault->setEnabled(program);
    const bool startOver = startOverOffered();
    ui->m_pushButton_startOver->setEnabled(startOver);
    ui->actionStartOver->setEnabled(startOver);
}

bool ZelBootLoader::eventFilter(QObject *watched, QEvent *event)
{
    if (m_state == RunState::Loading && event->isInputEvent()
        && (watched == ui->m_comboBox_interfaceSelect || watched == ui->m_comboBox_deviceSelect))
        return true;
    if (watched == statusBar() && event->type() == QEvent::Resize)
        showStatus();
    return QMainWindow::eventFilter(watched, event);
}

bool ZelBootLoader::event(QEvent *event)
{
    // A menu's status tip stands in for the message while the pointer is on
    // an entry; leaving it must bring the message back, not clear it.
    if (event->type() == QEvent::StatusTip && static_cast<QStatusTipEvent *>(event)->tip().isEmpty()) {
        showStatus();
        return true;
    }
    return QMainWindow::event(event);
}

int ZelBootLoader::statusRoom() const
{
    // The status bar draws its message from a small margin on the left up to
    // the first permanent label, or to the size grip.
    const QStatusBar *bar = statusBar();
    int right = bar->width() - 12;
    if (m_progress_busy && m_progress_busy->isVisible())
        right = qMin(right, m_progress_busy->x() - 2);
    if (m_label_simulated && m_label_simulated->isVisible())
        right = qMin(right, m_label_simulated->x() - 2);
    return qMax(0, right - 6);
}

void ZelBootLoader::showStatus()
{
    QStatusBar *bar = statusBar();
    if (m_statusText.isEmpty()) {
        bar->clearMessage();
        bar->setToolTip(QString());
        return;
    }
    bar->showMessage(bar->fontMetrics().elidedText(m_statusText, Qt::ElideMiddle, statusRoom()));
    bar->setToolTip(m_statusText);
}

void ZelBootLoader::clearStatus()
{
    m_statusText.clear();
    showStatus();
}

bool ZelBootLoader::anyPanelRunInProgress() const
{
    for (const InterfacePanel *panel : m_panels) {
        if (panel && panel->runInProgress())
            return true;
    }
    return false;
}

bool ZelBootLoader::startOverOffered() const
{
    return (m_state == RunState::Idle || m_state == RunState::Ready) && !anyPanelRunInProgress();
}

void ZelBootLoader::startOver()
{
    if (!startOverOffered())
        return;
    const QString image = ui->m_label_firmwareImageFile->text();
    // What an earlier interface's product accepted goes too: nothing chosen
    // before may be sent after starting over.
    for (const QList<BootLoadProduct *> &products : std::as_const(m_products)) {
        for (BootLoadProduct *product : products)
            product->dropImage();
    }
    for (InterfacePanel *panel : std::as_const(m_panels))
        panel->startOver();
    m_state = RunState::Idle;
    m_deviceOffered = false;
    ui->m_label_firmwareImageFile->clear();
    ui->m_label_fileFirmwareVersion->clear();
    showImageVersion(nullptr);
    showSignature(nullptr);
    clearStatus();
    applyControls();
    log(LOG_INFO, image.isEmpty()
                      ? tr("Started over: the device lists were cleared.")
                      : tr("Started over: the image %1 was dropped and the device lists were cleared.")
                            .arg(QDir::toNativeSeparators(image)));
}

void ZelBootLoader::showAbout()
{
    const QString catalogue = m_cataloguePath.isEmpty()
        ? tr("none was found")
        : QDir::toNativeSeparators(QFileInfo(m_cataloguePath).absoluteFilePath());
    const QString output = m_outputFolder.isEmpty()
        ? tr("none can be written; the session log goes to the error output")
        : QDir::toNativeSeparators(m_outputFolder);
    const QString text = tr("Zel Firmware Updater\n\nVersion %1\nQt %2 (built with Qt %3)\n"
                            "Product catalogue: %4\nOutput folder: %5")
                             .arg(versionText(), QString::fromLatin1(qVersion()),
                                  QLibraryInfo::version().toString(), catalogue, output);
    m_prompter->showMessage(this, Prompter::Kind::Information, tr("About Zel Firmware Updater"), text,
                            QMessageBox::Ok);
}

bool ZelBootLoader::activePanelRunInProgress() const
{
    const InterfacePanel *panel = activePanel();
    return panel && panel->runInProgress();
}

void ZelBootLoader::enableProgramButton(bool enable)
{
    m_deviceOffered = enable;
    // After program() returned, this ends a run that failed while the panel
    // still offers (or no longer offers) its device.
    if (m_state == RunState::Programming && !m_inProgramCall)
        leaveProgramming(RunState::Ready);
    applyControls();
}

void ZelBootLoader::leaveProgramming(RunState next)
{
    m_state = next;
    // Queued: whoever waits for the end (an unattended run) acts after the
    // panel's signal that ended the run has been handled everywhere.
    QMetaObject::invokeMethod(m_runEvents, &RunEvents::runEnded, Qt::QueuedConnection);
}

void ZelBootLoader::handleRunRecord(UpdateRecord record)
{
    if (!record.time.isValid())
        record.time = QDateTime::currentDateTimeUtc();
    if (record.interfaceNumber < 0)
        record.interfaceNumber = currentInterfaceNumber();
    if (record.deviceType.isEmpty()) {
        if (BootLoadProduct *product = selectedProduct())
            record.deviceType = product->name();
    }
    // The signature of the image the record names, as it was checked when
    // the image was accepted.
    BootLoadProduct *sent = selectedProduct();
    if (record.signature.isNull() && sent && sent->imageReady() && !record.imageSha256.isEmpty()
        && record.imageSha256 == sent->imageSha256()) {
        const SignatureVerdict signature = sent->imageSignature();
        const bool valid = signature.state == SignatureVerdict::State::Valid;
        record.setSignature(signature.name(), valid ? signature.signedBy() : QString(),
                            valid ? signature.trustedComment : QString());
    }
    const QString outcome = UpdateRecord::outcomeName(record.outcome);
    const QString device = record.address.isEmpty()
        ? record.deviceType
        : tr("%1 %2").arg(record.deviceType, record.address);
    QString text = tr("%1: %2").arg(device, outcome);
    if (!record.reason.isEmpty())
        text += QStringLiteral(" (%1)").arg(record.reason);
    LOGPRIORITY priority = LOG_INFO;
    switch (record.outcome) {
    case UpdateRecord::Outcome::Verified:
    case UpdateRecord::Outcome::Cancelled: priority = LOG_INFO; break;
    case UpdateRecord::Outcome::NotVerified: priority = LOG_WARNING; break;
    case UpdateRecord::Outcome::Mismatch:
    case UpdateRecord::Outcome::Failed: priority = LOG_SEVERE; break;
    }
    log(priority, text);
    handleStatusUpdate(text);
    QString error;
    if (!recordUpdate(record, &error)) {
        emit m_runEvents->recordNotWritten(record, error);
        warnRecordNotWritten(text, error);
    }
    emit m_runEvents->runRecorded(record);
}

void ZelBootLoader::warnRecordNotWritten(const QString &run, const QString &error)
{
    const QString text = tr("This update is not in the update record %1: %2\n\n%3\n\nNote it "
                            "elsewhere; the session log holds it too.")
                             .arg(QDir::toNativeSeparators(UpdateRecordFile(updateRecordFolder()).path()),
                                  error, run);
    if (m_deviceWorkStopped) {
        // Closing: no box any more, but the error output still reaches someone.
        std::fprintf(stderr, "%s\n", qPrintable(text));
        return;
    }
    // After the panel's step that ended the run has returned: a box opened
    // from within it would run the panel's events under its feet.
    QMetaObject::invokeMethod(
        this,
        [this, text] {
            m_prompter->showMessage(this, Prompter::Kind::Warning, tr("Update not recorded"), text,
                                    QMessageBox::Ok);
        },
        Qt::QueuedConnection);
}

void ZelBootLoader::selectFirmwareImage()
{
    on_m_pushButton_firmwareImageFileSelect_clicked();
}

void ZelBootLoader::program()
{
    on_m_pushButton_program_clicked();
}

bool ZelBootLoader::programOffered() const
{
    return ui->m_pushButton_program->isEnabled();
}

BootLoadProduct *ZelBootLoader::currentProduct() const
{
    return selectedProduct();
}

void ZelBootLoader::handleStatusUpdate(QString msg)
{
    m_statusText = msg;
    showStatus();
}

void ZelBootLoader::handleWaitStatus(const QString &text)
{
    if (text.isEmpty()) {
        m_progress_busy->hide();
        // The wait's text goes with it; a message given since then stays.
        if (!m_waitText.isEmpty() && m_statusText == m_waitText)
            clearStatus();
        m_waitText.clear();
        return;
    }
    m_waitText = text;
    m_statusText = text;
    if (!m_progress_busy->isVisible()) {
        m_progress_busy->show();
        // The message's room ends where the indicator now stands.
        if (statusBar()->layout())
            statusBar()->layout()->activate();
    }
    showStatus();
}

void ZelBootLoader::handleProgramComplete()
{
    // The panel has let go of its device: PROGRAM waits until it offers one again.
    m_deviceOffered = false;
    if (m_state == RunState::Programming && !m_inProgramCall)
        leaveProgramming(RunState::Ready);
    applyControls();
    QCoreApplication::processEvents();
}

void ZelBootLoader::on_m_comboBox_interfaceSelect_currentIndexChanged(int interfaceSelectIndex)
{
    // A new interface starts over: no image, no device offered, and no
    // message of the interface before.
    m_state = RunState::Idle;
    m_deviceOffered = false;
    applyControls();
    ui->m_comboBox_deviceSelect->clear();
    ui->m_label_firmwareImageFile->clear();
    showImageVersion(nullptr);
    showSignature(nullptr);
    clearStatus();

    QComboBox *interfaces = ui->m_comboBox_interfaceSelect;
    bool ok = false;
    int number = interfaces->itemData(interfaceSelectIndex).toInt(&ok);
    if (!ok)
        number = -1;
    log(LOG_INFO, tr("%1 interface selected.").arg(interfaces->itemText(interfaceSelectIndex)));

    // Shown again if the device type selected next offers it.
    ui->m_ckx_FactoryDefault->hide();
    for (BootLoadProduct *product : productsOf(number))
        ui->m_comboBox_deviceSelect->addItem(product->name());
    applyControls();
    ui->m_comboBox_deviceSelect->activateWindow();
}

void ZelBootLoader::on_m_comboBox_deviceSelect_currentIndexChanged(QString device)
{
    if (device.isEmpty())
        return;
    log(LOG_INFO, tr("%1 selected.").arg(device));
    InterfacePanel *panel = activePanel();
    if (panel)
        panel->deviceTypeSelected(selectedProduct());
    ui->m_ckx_FactoryDefault->setVisible(panel && panel->offersFactoryDefault());
}

void ZelBootLoader::on_m_pushButton_firmwareImageFileSelect_clicked()
{
    if (m_state != RunState::Idle)
        return;
    m_state = RunState::Loading;
    showImageVersion(nullptr);
    showSignature(nullptr);
    // What the status bar said belonged to the image before.
    clearStatus();
    applyControls();
    emit enableControl(false);
    QCoreApplication::processEvents();

    InterfacePanel *panel = activePanel();
    BootLoadProduct *product = selectedProduct();
    const bool knownInterface = panel != nullptr;
    if (!panel) {
        const QString text = tr("Unknown interface type!");
        log(LOG_WARNING, text);
        m_prompter->showMessage(this, Prompter::Kind::Critical, tr("Error!"), text,
                                QMessageBox::Ok);
    } else if (product) {
        panel->imageAboutToBeSelected(product);
    }

    // An image is always read for one product; without one there is nothing
    // to check it against, so no file is asked for.
    if (knownInterface && !product) {
        const QString text = tr("No device type is selected. Select a device type before "
                                "selecting a firmware image.");
        log(LOG_WARNING, text);
        m_prompter->showMessage(this, Prompter::Kind::Warning, tr("Warning"), text,
                                QMessageBox::Ok);
    }

    bool loaded = false;
    QString proposed = ui->m_label_firmwareImageFile->text();
    // The simulated devices' first image is best looked for among the samples.
    if (proposed.isEmpty() && !m_samplesFolder.isEmpty())
        proposed = m_samplesFolder;
    while (knownInterface && product) {
        const QString filter = product->takesRawImage() ? tr("Firmware image (*.bin)")
                                                        : tr("Firmware image (*.hex *pck)");
        const QString fileName =
            m_prompter->getOpenFileName(this, tr("Select Firmware Image"), proposed, filter);
        if (fileName.isEmpty())
            break;
        proposed = fileName;

        log(LOG_INFO, tr("Scanning into memory firmware %1").arg(fileName));
        QCoreApplication::processEvents();
        const bool accepted = product->loadImage(fileName);
        log(LOG_INFO, accepted ? tr("Firmware scan SUCCESS!") : tr("Firmware scan FAILED!"));
        QCoreApplication::processEvents();
        if (accepted) {
            // The label shows the name; what is sent is what the product holds.
            ui->m_label_firmwareImageFile->setText(product->imageFileName());
            loaded = true;
            break;
        }
    }

    m_state = loaded ? RunState::Ready : RunState::Idle;
    if (loaded) {
        ui->m_label_fileFirmwareVersion->setText(product->imageSummary());
        showImageVersion(product);
        showSignature(product);
    }
    applyControls();
    emit enableControl(true);
    QCoreApplication::processEvents();
}

bool ZelBootLoader::programmable(BootLoadProduct *product)
{
    QString text;
    if (!product)
        text = tr("No device type is selected: nothing was programmed.");
    else if (!product->imageReady())
        text = tr("No firmware image has been accepted for %1: nothing was programmed.")
                   .arg(product->name());
    else
        return true;
    log(LOG_SEVERE, text);
    m_prompter->showMessage(this, Prompter::Kind::Critical, tr("Critical Error"), text,
                            QMessageBox::Ok);
    return false;
}

bool ZelBootLoader::signatureAllowed(BootLoadProduct *product)
{
    if (!product->imageSignature().needsConfirmation())
        return true;
    const QString text = tr("This image is not signed by a trusted key. Program it anyway?");
    log(LOG_WARNING, text);
    const QMessageBox::StandardButton answer =
        m_prompter->askGuarding(GuardingQuestion::Unsigned, this, Prompter::Kind::Warning,
                                tr("Unsigned image"), text, QMessageBox::Yes | QMessageBox::No,
                                QMessageBox::No);
    if (answer == QMessageBox::Yes) {
        log(LOG_WARNING, tr("Programming the unsigned image %1 was confirmed.")
                             .arg(product->imageFileName()));
        return true;
    }
    log(LOG_INFO, tr("The unsigned image %1 was not programmed.").arg(product->imageFileName()));
    return false;
}

void ZelBootLoader::on_m_pushButton_program_clicked()
{
    if (m_state != RunState::Idle && m_state != RunState::Ready)
        return;
    log(LOG_INFO, QStringLiteral("Programming device."));
    const RunState before = m_state;
    m_state = RunState::Programming;
    // The message of the run before is no longer true of this one.
    clearStatus();
    applyControls();
    QCoreApplication::processEvents();

    InterfacePanel *panel = activePanel();
    BootLoadProduct *product = selectedProduct();
    bool handedOver = false;
    m_inProgramCall = true;
    if (panel && programmable(product) && signatureAllowed(product) && panel->allowsRun(product)) {
        // The panels are given what the product accepted, never the label's text.
        panel->setFactoryDefault(ui->m_ckx_FactoryDefault->isChecked());
        panel->program(product);
        handedOver = true;
    }
    m_inProgramCall = false;

    // A run that goes on (a transfer on a thread) keeps the window in
    // Programming until the panel ends it. Otherwise PROGRAM follows the
    // panel: offered again unless its run finished and let the device go.
    if (!(handedOver && activePanelRunInProgress()))
        leaveProgramming(before);
    applyControls();
    QCoreApplication::processEvents();
}

void ZelBootLoader::on_actionQuit_triggered(bool)
{
    close();
}

QString ZelBootLoader::helpPageFor(const QString &appDir)
{
    QDir dir(appDir);
    const QString last = dir.dirName().toLower();
    if (last == QLatin1String("debug") || last == QLatin1String("release"))
        dir.cdUp();
    dir.cd(QStringLiteral("doc"));
    return dir.absoluteFilePath(QStringLiteral("index.html"));
}

QUrl ZelBootLoader::helpUrlFor(const QString &appDir)
{
    QUrl url = QUrl::fromLocalFile(helpPageFor(appDir));
    url.setScheme(QStringLiteral("file"));
    return url;
}

void ZelBootLoader::on_actionHelp_triggered(bool)
{
    const DataFiles::Search search = DataFiles::find(QLatin1String(DataFiles::kHelpPage));
    QString page;
    QUrl url;
    if (!search.found.isEmpty()) {
        page = QFileInfo(search.found).absoluteFilePath();
        url = QUrl::fromLocalFile(page);
        url.setScheme(QStringLiteral("file"));
    } else {
        // The browser then says the page is missing; the log says where it was looked for.
        log(LOG_WARNING, tr("The help page was not found. Places looked in, in this order:\n%1")
                             .arg(DataFiles::placesText(search)));
        page = helpPageFor(QCoreApplication::applicationDirPath());
        url = helpUrlFor(QCoreApplication::applicationDirPath());
    }
    if (m_openUrl(url))
        return;
    // No browser could be started: the operator can still open the file by hand.
    const QString text = search.found.isEmpty()
        ? tr("The help page could not be opened: it was not found. Places looked in, in this "
             "order:\n%1")
              .arg(DataFiles::placesText(search))
        : tr("The help page could not be opened: no web browser could be started.\n\n"
             "Open this file by hand:\n%1")
              .arg(QDir::toNativeSeparators(page));
    log(LOG_WARNING, text);
    m_prompter->showMessage(this, Prompter::Kind::Warning, tr("Help"), text, QMessageBox::Ok);
}

void ZelBootLoader::loadTrustedKeys(const AppServices &services)
{
    m_trustedKeys = std::make_unique<TrustedKeys>();
    const QStringList folders = services.keyFolders ? *services.keyFolders
                                                    : TrustedKeys::standardFolders();
    const auto damaged = [this](const QString &path, const QString &reason) {
        log(LOG_WARNING, tr("The key file %1 is damaged and is not trusted: %2.")
                             .arg(QDir::toNativeSeparators(path), reason));
    };
    for (const QString &folder : folders) {
        for (const TrustedKeys::Problem &problem : m_trustedKeys->addFolder(folder))
            damaged(problem.path, problem.reason);
    }
    for (const QString &path : services.trustedKeyPaths) {
        QString error;
        const std::optional<SigningKey> key = SigningKey::fromFile(path, &error);
        if (key)
            m_trustedKeys->add(*key);
        else
            damaged(path, error);
    }
    for (const SigningKey &key : m_trustedKeys->keys()) {
        const QString name = key.comment().isEmpty()
            ? key.idText()
            : QStringLiteral("%1 (%2)").arg(key.idText(), key.comment());
        log(LOG_INFO, tr("Trusted key %1 from %2.").arg(name, QDir::toNativeSeparators(key.origin())));
    }
    if (!m_trustedKeys->hasInstalledKeys()) {
        QStringList shown;
        for (const QString &folder : folders)
            shown.append(QDir::toNativeSeparators(folder));
        log(LOG_INFO, tr("No trusted key is installed (key folders: %1): unsigned images are "
                         "accepted without a question.")
                          .arg(shown.isEmpty() ? tr("none") : shown.join(QStringLiteral(", "))));
    }

    // Under simulation the sample images show as signed; the sample key is
    // never trusted for real devices, and alone it asks nothing of unsigned images.
    if (m_devices->simulated()) {
        QFile file(sampleKeyResource());
        QString error;
        const std::optional<SigningKey> sample = file.open(QIODevice::ReadOnly)
            ? SigningKey::fromText(file.readAll(), &error)
            : std::nullopt;
        if (sample) {
            m_trustedKeys->add(*sample, false);
            log(LOG_INFO, tr("Simulated devices: images signed by the sample key %1 show as signed.")
                              .arg(sample->idText()));
        } else {
            log(LOG_WARNING, tr("The sample key could not be read: %1").arg(
                                 error.isEmpty() ? file.errorString() : error));
        }
    }

    for (const QList<BootLoadProduct *> &products : std::as_const(m_products)) {
        for (BootLoadProduct *product : products)
            product->setTrustedKeys(m_trustedKeys.get());
    }
}

void ZelBootLoader::showImageVersion(BootLoadProduct *product)
{
    if (!product || !product->imageReady()) {
        m_label_imageVersion->clear();
        return;
    }
    const QString line = ImageVersion::of(*product).line();
    m_label_imageVersion->setText(line);
    log(LOG_INFO, line);
}

void ZelBootLoader::showSignature(BootLoadProduct *product)
{
    if (!product || !product->imageReady()) {
        m_label_signature->clear();
        m_label_signature->setStyleSheet(QString());
        return;
    }
    const SignatureVerdict signature = product->imageSignature();
    m_label_signature->setText(signature.summary());
    log(LOG_INFO, tr("Image signature: %1")
                      .arg(signature.summary().replace(QLatin1Char('\n'), QStringLiteral("; "))));
    // An image PROGRAM will ask about stands out.
    m_label_signature->setStyleSheet(signature.needsConfirmation()
                                         ? QStringLiteral("QLabel { color: #b06000; }")
                                         : QString());
}

QString ZelBootLoader::updateRecordFolder() const
{
    // The one place that names the record's folder: beside the session log,
    // in the folder settled at start-up.
    return m_outputFolder.isEmpty() ? QDir::currentPath() : m_outputFolder;
}

bool ZelBootLoader::recordUpdate(const UpdateRecord &record, QString *error)
{
    const UpdateRecordFile file(updateRecordFolder());
    QString why;
    if (file.append(record, &why)) {
        log(LOG_INFO, tr("Update recorded in %1.").arg(file.path()));
        return true;
    }
    log(LOG_SEVERE, tr("The update could not be recorded in %1: %2").arg(file.path(), why));
    if (error)
        *error = why;
    return false;
}

void ZelBootLoader::showHistory()
{
    const UpdateRecordFile file(updateRecordFolder());
    const UpdateRecordFile::Contents contents = file.read();
    if (!contents.error.isEmpty())
        log(LOG_WARNING, tr("%1 could not be read: %2").arg(file.path(), contents.error));
    const QList<int> &damaged = contents.damagedLines;
    if (damaged.size() == 1) {
        log(LOG_WARNING, tr("%1: line %2 is damaged and was skipped.").arg(file.path()).arg(damaged.first()));
    } else if (!damaged.isEmpty()) {
        // One record however damaged the file is; the first lines say where to look.
        QStringList numbers;
        for (int line : damaged.mid(0, 10))
            numbers.append(QString::number(line));
        if (damaged.size() > 10)
            numbers.append(QStringLiteral("..."));
        log(LOG_WARNING, tr("%1: %2 damaged lines were skipped (lines %3).")
                             .arg(file.path(), QString::number(damaged.size()),
                                  numbers.join(QStringLiteral(", "))));
    }

    if (!m_history) {
        m_history = new HistoryDialog(this);
        m_history->setObjectName(QStringLiteral("m_dialog_history"));
        m_history->setAttribute(Qt::WA_DeleteOnClose);
    }
    m_history->setContents(contents, file.path());
    m_history->show();
    m_history->raise();
    m_history->activateWindow();
}

void ZelBootLoader::updateLogDisplay(QString log)
{
    ui->m_plainTextEdit_log->appendPlainText(log);
    ui->m_plainTextEdit_log->moveCursor(QTextCursor::End);
}

QString ZelBootLoader::shutdownLogName(const QDateTime &when)
{
    QString stamp = when.toString(Qt::ISODate);
    stamp.remove(QLatin1Char('-')).remove(QLatin1Char(':'));
    return QStringLiteral("ZELBL_") + stamp + QStringLiteral(".log");
}

void ZelBootLoader::writeShutdownLog()
{
    Logger *logger = Logger::instance(this);
    if (!logger)
        return;
    const QString name = shutdownLogName(QDateTime::currentDateTime());
    // The folder chosen at start-up may have gone or turned read-only since:
    // the application data folder is the second place to try.
    QStringList folders;
    if (!m_outputFolder.isEmpty())
        folders.append(m_outputFolder);
    const QString appData = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    if (!appData.isEmpty() && !folders.contains(appData))
        folders.append(appData);

    for (const QString &folder : std::as_const(folders)) {
        QDir().mkpath(folder);
        // Two shutdowns within one second share the name; appending keeps the
        // earlier session's log instead of overwriting it.
        QFile file(QDir(folder).filePath(name));
        if (!file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text))
            continue;
        QTextStream stream(&file);
        logger->dumpLog(stream);
        stream.flush();
        if (stream.status() != QTextStream::Ok || !file.flush())
            continue;
        file.close();
        if (folder != m_outputFolder)
            std::fprintf(stderr, "%s\n",
                         qPrintable(tr("The session log was written to %1.")
                                        .arg(QDir::toNativeSeparators(file.fileName()))));
        return;
    }
    // Nowhere to write it: the error output is better than losing it.
    std::fprintf(stderr, "%s\n",
                 qPrintable(tr("The session log could not be written to a file; it follows.")));
    QTextStream err(stderr);
    logger->dumpLog(err);
}
