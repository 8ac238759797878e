#include "ethernet/tftpInterfaceControl.h"

#include "ui_tftpInterfaceControl.h"

#include "base/Pauser.h"
#include "base/Prompter.h"
#include "catalogue/BootLoadProduct.h"
#include "catalogue/ImageVersion.h"
#include "catalogue/MicroprocessorImageInfo.h"
#include "ethernet/ControllerSearch.h"
#include "ethernet/ControllerVerifier.h"
#include "ethernet/ControllerWrite.h"
#include "ethernet/EthernetLogging.h"
#include "ethernet/FleetProgressDialog.h"
#include "ethernet/FleetProgressTracker.h"
#include "ethernet/FleetRevisionRead.h"
#include "ethernet/FleetRun.h"
#include "ethernet/QTFTP.h"
#include "ethernet/RevisionQuery.h"
#include "ethernet/TarvoInput.h"
#include "ethernet/TarvoLibrary.h"

#include <QCoreApplication>
#include <QSet>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QTimer>

namespace {

constexpr int kAddressRole = Qt::UserRole;     // quint32, host order
constexpr int kVersionRole = Qt::UserRole + 1; // kept discovery version (Marlow)
constexpr int kIdRole = Qt::UserRole + 2;      // the reply's idstring
constexpr int kRevisionRole = Qt::UserRole + 3; // revision read by the panel's route
// A controller may take this long to come back after taking an image.
constexpr int kDefaultVerifyWaitMs = 60000;

// The image's version as the records keep it: only an image whose first
// processor names its version in the usual way has one.
QString recordedImageVersion(const BootLoadProduct &product)
{
    const MicroprocessorImageInfo *first = product.processor(0);
    const quint32 v = product.imageVersion();
    return first && first->fileType() == 0 && first->blRev() == 1
        ? QStringLiteral("%1.%2.%3").arg((v >> 16) & 0xFF).arg((v >> 8) & 0xFF).arg(v & 0xFF)
        : QString();
}

// How a controller's revision is read before a write. A Marlow without its
// revision at hand did not say it was one: "info", as the panel asks it.
ControllerVerifier::Route beforeWriteRoute(const BootLoadProduct *product)
{
    return ControllerVerifier::routeFor(product) == ControllerVerifier::Route::Value
        ? ControllerVerifier::Route::Value
        : ControllerVerifier::Route::Info;
}

QString dotted(quint32 ip)
{
    return QHostAddress(ip).toString();
}

} // namespace

tftpInterfaceControl::tftpInterfaceControl(Prompter &prompter, Pauser &pauser, TarvoLibrary &tarvo,
                                           const EthernetSettings &settings, QWidget *parent)
    : InterfacePanel(2, kDefaultVerifyWaitMs, parent), ui(new Ui::tftpInterfaceControlClass),
      m_prompter(prompter), m_pauser(pauser), m_tarvo(tarvo), m_settings(settings),
      m_recorder(*this, &recordedImageVersion)
{
    ui->setupUi(this);
    setObjectName("tftpInterfaceControl");
    // "Program all" is offered once the list holds a controller.
    ui->m_spinBox_tftpProgramAllLimit->setValue(FleetWriter::kDefaultConcurrency);
    updateProgramAllControls();
    m_fleetProgressFactory = &FleetProgressDialog::open;
    connect(&m_tarvo, &TarvoLibrary::signal_log, this, &tftpInterfaceControl::signal_log);
    ui->m_lineEdit_tftpManualIPEntry->installEventFilter(this);

    m_write = new ControllerWrite(m_settings, this);
    connect(m_write, &ControllerWrite::progress, this, &tftpInterfaceControl::programProgress);
    connect(m_write, &ControllerWrite::finished, this, &tftpInterfaceControl::programDone);

    m_check = new UpdateCheck(m_settings, m_tarvo, this);
    connect(m_check, &UpdateCheck::message, this, &tftpInterfaceControl::log);
    connect(m_check, &UpdateCheck::checked, this,
            [this](const UpdateCheck::Written &written, const RevisionCheck &check) {
                if (m_fleetProgress)
                    m_fleetProgress->setChecked(written.address, check.summary());
                m_recorder.emitChecked(record(written.address, written.revisionBefore), check);
            });
    connect(m_check, &UpdateCheck::finished, this, &tftpInterfaceControl::verificationDone);
    // The fleet window says what the status bar says while its controllers are checked.
    connect(this, &InterfacePanel::signal_waitStatus, this, [this](const QString &text) {
        if (m_fleetProgress)
            m_fleetProgress->setStatus(text);
    });

    m_identifier = new ControllerIdentifier(m_settings, m_pauser, this);
    m_searchIdentifier = new ControllerIdentifier(m_settings, m_pauser, this);
    for (ControllerIdentifier *identifier : {m_identifier, m_searchIdentifier}) {
        connect(identifier, &ControllerIdentifier::message, this, &tftpInterfaceControl::log);
        connect(identifier, &ControllerIdentifier::asking, this, [this](const QString &text) { beginWait(text); });
    }
    connect(m_identifier, &ControllerIdentifier::identified, this, &tftpInterfaceControl::typedAddressIdentified);
    m_search = new ControllerSearch(*m_searchIdentifier, this);
    connect(m_search, &ControllerSearch::message, this, &tftpInterfaceControl::log);
    connect(m_search, &ControllerSearch::readRevision, this, &tftpInterfaceControl::searchReadRevision);
    connect(m_search, &ControllerSearch::enterAddress, ui->m_lineEdit_tftpManualIPEntry, &QLineEdit::setText);
    connect(m_search, &ControllerSearch::finished, this, &tftpInterfaceControl::searchFinished);

    // A reply the panel did not wait for (a check's, or one after its window
    // closed) must not touch PROGRAM: the query passes on only its own.
    m_query = new RevisionQuery(m_settings, m_tarvo, this);
    connect(m_query, &RevisionQuery::message, this, &tftpInterfaceControl::log);
    connect(m_query, &RevisionQuery::valueReply, this, &tftpInterfaceControl::handleGetValue);
    connect(m_query, &RevisionQuery::infoRead, this, &tftpInterfaceControl::handleInfoRead);
    connect(m_query, &RevisionQuery::timedOut, this, &tftpInterfaceControl::handleFWQueryTimeout);
}

tftpInterfaceControl::tftpInterfaceControl(Prompter &prompter, Pauser &pauser, TarvoLibrary &tarvo,
                                           QWidget *parent)
    : tftpInterfaceControl(prompter, pauser, tarvo, m_ownSettings, parent)
{
}

tftpInterfaceControl::~tftpInterfaceControl()
{
    // Whoever listened may be going away too: nothing is reported from here.
    disconnect(this, nullptr, nullptr, nullptr);
    m_destroying = true;
    shutdown();
    delete ui;
}

void tftpInterfaceControl::setProduct(BootLoadProduct *product)
{
    if (product != m_product)
        m_search->forget();
    m_product = product;
}

void tftpInterfaceControl::imageAboutToBeSelected(BootLoadProduct *product)
{
    setProduct(product);
    setDiscoverPort(product->discoverPort());
}

void tftpInterfaceControl::program(BootLoadProduct *product)
{
    setProduct(product);
    program(product ? product->imageFileName() : QString());
}

void tftpInterfaceControl::setDiscoverPort(int port)
{
    m_discoverPort = port;
}

int tftpInterfaceControl::discoverPort() const
{
    return m_discoverPort;
}

bool tftpInterfaceControl::runInProgress() const
{
    return m_write->isRunning() || m_fleet != nullptr || m_check->isRunning() || m_identifier->isActive()
        || m_typedRead != nullptr;
}

int tftpInterfaceControl::fleetConcurrency() const
{
    return ui->m_spinBox_tftpProgramAllLimit->value();
}

void tftpInterfaceControl::setFleetConcurrency(int writes)
{
    ui->m_spinBox_tftpProgramAllLimit->setValue(writes);
}

void tftpInterfaceControl::setFleetProgressFactory(FleetProgressFactory factory)
{
    m_fleetProgressFactory = std::move(factory);
}

void tftpInterfaceControl::shutdown()
{
    delete m_discoveryTimer;
    m_discoveryTimer = nullptr;
    m_query->release();
    // The product may be gone once the panel is being destroyed.
    const bool report = !m_destroying;
    m_search->stop();
    // Asked what it is, or for its revision: nothing was written yet.
    QString unwritten;
    if (m_identifier->isActive()) {
        unwritten = m_identifier->address();
        m_identifier->stop();
    } else if (FleetRevisionRead *read = std::exchange(m_typedRead, nullptr)) {
        unwritten = read->addresses().value(0);
        read->abort();
        delete read;
    }
    if (!unwritten.isNull()) {
        log(LOG_WARNING, tr("Nothing was written to %1: the updater is closing.").arg(unwritten));
        if (report)
            emitRecord(record(unwritten, QString()), UpdateRecord::Outcome::Cancelled,
                       tr("not started: the updater closed before the write began"));
    }
    if (m_write->isRunning()) {
        // A write stopped here must not come back as a run's end: the window
        // may already be going away.
        const QString address = m_write->address();
        if (m_write->abort()) {
            log(LOG_WARNING, tr("Write to %1 completed; the updater closed before the controller was checked.")
                                 .arg(address));
            if (report)
                emitRecord(record(address, m_runRevisionBefore), UpdateRecord::Outcome::NotVerified,
                           tr("the updater closed before the controller was checked"));
        } else {
            log(LOG_WARNING, tr("Write to %1 stopped: the updater is closing.").arg(address));
            if (report)
                emitRecord(record(address, m_runRevisionBefore), UpdateRecord::Outcome::Failed,
                           tr("stopped: the updater is closing"));
        }
    }
    if (m_fleetRead) {
        // Nothing was written yet: every controller ends as not started, below.
        m_fleetRead->abort();
        delete m_fleetRead;
        m_fleetRead = nullptr;
    }
    if (m_fleet) {
        log(LOG_WARNING, tr("Program all stopped: the updater is closing; %1 writes under way were "
                            "stopped.").arg(m_fleet->activeWrites()));
        m_fleet->disconnect(this);
        m_fleet->abort(tr("stopped: the updater is closing"));
        m_fleetOutcomes = m_fleet->outcomes();
        delete m_fleet;
        m_fleet = nullptr;
        for (const ControllerWriteOutcome &o : std::as_const(m_fleetOutcomes)) {
            if (!report || m_recorded.contains(o.address))
                continue;
            if (o.updated())
                emitRecord(record(o.address, o.revisionBefore), UpdateRecord::Outcome::NotVerified,
                           tr("the updater closed before the controller was checked"));
            else
                recordNotUpdated(o);
        }
    }
    if (m_check->isRunning()) {
        log(LOG_WARNING, tr("Revision check stopped: the updater is closing."));
        m_check->stop();
        if (report)
            for (const UpdateCheck::Written &w : m_check->unchecked())
                emitRecord(record(w.address, w.revisionBefore), UpdateRecord::Outcome::NotVerified,
                           tr("the updater closed before the controller answered"));
    }
    releaseRun();
    m_fileData.clear();
    closeProgress();
    closeFleetProgress();
    endWait();
}

void tftpInterfaceControl::startOver()
{
    // A discovery or a revision question may still be under way: nothing of
    // it may come back into the emptied list.
    delete m_discoveryTimer;
    m_discoveryTimer = nullptr;
    m_search->stop();
    m_search->forget();
    releaseRun();
    m_replies.clear();
    m_fileData.clear();
    QComboBox *list = ui->m_comboBox_TFTPDevicesDiscovered;
    {
        const QSignalBlocker blockList(list);
        list->clear();
    }
    list->blockSignals(false);
    showRevision(std::nullopt);
    {
        const QSignalBlocker blockAddress(ui->m_lineEdit_tftpManualIPEntry);
        ui->m_lineEdit_tftpManualIPEntry->clear();
    }
    m_manualAddress = QHostAddress();
    {
        const QSignalBlocker blockBox(ui->m_checkBox_tftpProgramAll);
        ui->m_checkBox_tftpProgramAll->setChecked(false);
    }
    handleEnableControl(true);
    setControlsEnabled(true);
    updateProgramAllControls();
    endWait();
    emit signal_enableProgramButton(false);
}

void tftpInterfaceControl::handleEnableControl(bool enable)
{
    ui->m_groupBox_TFTPControlPanel->setEnabled(enable);
    // Handed back, the window may have accepted another image since.
    if (enable)
        showRevision(m_shownRevision);
}

void tftpInterfaceControl::showRevision(std::optional<quint32> revision)
{
    m_shownRevision = revision;
    ui->m_label_FWVersion->setText(revision ? tr("Rev. %1").arg(*revision) : QString());
    // Beside it, what the accepted image makes of it: "Rev. 33 → 34".
    const QString image = m_product && revision ? ImageVersion::of(*m_product).reported : QString();
    ui->m_label_FWStep->setText(image.isEmpty() ? QString() : tr("→ %1").arg(image));
}

QHostAddress tftpInterfaceControl::parseUnicastAddress(const QString &text)
{
    const QStringList fields = text.trimmed().split(QLatin1Char('.'));
    if (fields.size() != 4)
        return QHostAddress();
    quint32 address = 0;
    for (const QString &field : fields) {
        if (field.isEmpty() || field.size() > 3)
            return QHostAddress();
        for (const QChar c : field)
            if (c < u'0' || c > u'9')
                return QHostAddress();
        const uint value = field.toUInt();
        if (value > 255)
            return QHostAddress();
        address = (address << 8) | value;
    }
    return isUnicastHost(address) ? QHostAddress(address) : QHostAddress();
}

bool tftpInterfaceControl::isUnicastHost(quint32 address)
{
    const QHostAddress host(address);
    return address != 0 && !host.isBroadcast() && !host.isMulticast();
}

int tftpInterfaceControl::revisionFromInfo(const QByteArray &info)
{
    return int(ControllerVerifier::infoRevision(info).value_or(0) & 0xFF);
}

QString tftpInterfaceControl::currentEntryText() const
{
    return ui->m_comboBox_TFTPDevicesDiscovered->currentText();
}

void tftpInterfaceControl::on_m_pushButton_TFTPDiscover_clicked()
{
    startDiscovery();
}

bool tftpInterfaceControl::startDiscovery()
{
    log(LOG_INFO, tr("Discovering Ethernet controllers..."));
    QCoreApplication::processEvents();

    MicroprocessorImageInfo *first = m_product ? m_product->processor(0) : nullptr;
    if (!first) {
        const QString text = tr("No device type with a controller description is selected: nothing "
                                "was discovered. Select the device type and its firmware image first.");
        log(LOG_WARNING, text);
        m_prompter.warning(this, tr("Warning"), text);
        return false;
    }

    ensureDiscover();
    m_replies.clear();
    m_search->forget();
    beginWait(tr("Discovering controllers…"));

    handleEnableControl(false);
    ui->m_comboBox_TFTPDevicesDiscovered->clear();
    showRevision(std::nullopt);
    updateProgramAllControls();
    emit signal_enableProgramButton(false);
    ui->m_comboBox_TFTPDevicesDiscovered->blockSignals(true);
    QCoreApplication::processEvents();

    if (m_discover->sendDiscover(kDiscoveryRequestAddress)) {
        if (!m_discoveryTimer) {
            m_discoveryTimer = new QTimer(this);
            m_discoveryTimer->setSingleShot(true);
            connect(m_discoveryTimer, &QTimer::timeout, this,
                    &tftpInterfaceControl::handleDiscoveryTimeout);
        }
        m_discoveryTimer->start(m_settings.discoveryWindowMs);
        return true;
    }
    endWait();
    const QString text = tr("Error sending discover packet!");
    log(LOG_WARNING, text);
    m_prompter.warning(this, tr("Warning"), text);
    // The operator must be able to try again; nothing else would enable the panel.
    ui->m_comboBox_TFTPDevicesDiscovered->blockSignals(false);
    handleEnableControl(true);
    return false;
}

int tftpInterfaceControl::discoveryPortInUse() const
{
    return m_settings.discoveryPortOverride > 0 ? m_settings.discoveryPortOverride : m_discoverPort;
}

void tftpInterfaceControl::ensureDiscover()
{
    if (!m_discover) {
        m_discover = std::make_unique<TarvoInput>(discoveryPortInUse(), m_settings);
        connect(m_discover.get(), &TarvoInput::signalDiscoverResponse, this,
                &tftpInterfaceControl::handleDiscoverResponseTFTP);
    }
}

void tftpInterfaceControl::handleDiscoverResponseTFTP(char *mac, unsigned long ip, unsigned long sn,
                                                      unsigned short ver, unsigned long uni,
                                                      char *verstring, char *idstring)
{
    Q_UNUSED(mac);
    Q_UNUSED(sn);
    Q_UNUSED(uni);
    const ControllerIdentifier::Reply reply {QString::fromLatin1(verstring), QString::fromLatin1(idstring)};
    const QString &version = reply.verstring;
    const QString &id = reply.idstring;
    if (!isUnicastHost(quint32(ip))) {
        // Written to, such an address would reach every host or this one.
        log(LOG_WARNING, tr("Discovery reply from %1 dropped: %2 is not the address of one controller.")
                             .arg(ControllerIdentifier::describe(reply), dotted(quint32(ip))));
        if (m_discoveryTimer)
            m_discoveryTimer->start(m_settings.discoveryWindowMs);
        return;
    }
    if (m_identifier->takeDiscoveryReply(quint32(ip), ver, reply))
        return;
    // After the window has closed the list is in use: late replies are not added.
    if (!m_discoveryTimer)
        return;
    m_discoveryTimer->start(m_settings.discoveryWindowMs);
    m_replies.insert(quint32(ip), reply);

    MicroprocessorImageInfo *first = m_product ? m_product->processor(0) : nullptr;
    if (!first || !version.contains(first->sft(), Qt::CaseSensitive))
        return;
    QComboBox *list = ui->m_comboBox_TFTPDevicesDiscovered;
    list->addItem(dotted(quint32(ip)) + QLatin1Char(' ') + id, quint32(ip));
    list->setItemData(list->count() - 1, id, kIdRole);
    if (version.contains(QLatin1String("Marlow"), Qt::CaseInsensitive))
        list->setItemData(list->count() - 1, uint(ver), kVersionRole);
    updateProgramAllControls();
    updateWait(tr("Discovering controllers… %1 found").arg(list->count()));
    log(LOG_INFO, tr("Discovery response from %1 with IP %2").arg(id, dotted(quint32(ip))));
}

void tftpInterfaceControl::handleDiscoveryTimeout()
{
    delete m_discoveryTimer;
    m_discoveryTimer = nullptr;
    endWait();
    QComboBox *list = ui->m_comboBox_TFTPDevicesDiscovered;
    list->blockSignals(false);
    if (m_search->isActive()) {
        const quint32 wanted = QHostAddress(m_search->address()).toIPv4Address();
        int listed = -1;
        for (int i = 0; i < list->count() && listed < 0; ++i)
            if (list->itemData(i, kAddressRole).toUInt() == wanted)
                listed = i;
        const auto reply = m_replies.constFind(wanted);
        m_search->discoveryEnded(listed, list->count(),
                                 reply != m_replies.constEnd() ? std::optional(*reply) : std::nullopt, m_product);
        return;
    }
    if (list->count() > 0) {
        queryFirmwareVersion(list->currentIndex());
        return;
    }
    log(LOG_WARNING, tr("No device discovered."));
    handleEnableControl(true);
}

void tftpInterfaceControl::queryFirmwareVersion(int index)
{
    QComboBox *list = ui->m_comboBox_TFTPDevicesDiscovered;
    if (index < 0 || index >= list->count() || !m_product)
        return;
    const quint32 address = list->itemData(index, kAddressRole).toUInt();
    const QString name = m_product->name();

    if (name.contains(QLatin1String("Brisa Quad"), Qt::CaseSensitive)) {
        beginWait(tr("Reading the revision of %1…").arg(dotted(address)));
        m_query->askValue(address);
        return;
    }
    const QVariant kept = list->itemData(index, kVersionRole);
    if (name.contains(QLatin1String("Marlow"), Qt::CaseInsensitive) && kept.isValid()) {
        handleGetValue(address, TarvoLibrary::kFirmwareRevision, kept.toUInt());
        return;
    }
    // Other controllers, and a Marlow whose reply did not say it was one,
    // are asked through their "info" file.
    handleEnableControl(false);
    beginWait(tr("Reading the revision of %1…").arg(dotted(address)));
    QCoreApplication::processEvents();
    m_query->readInfo(address);
}

void tftpInterfaceControl::handleGetValue(unsigned long ip, quint16 valueID, quint32 value)
{
    qCDebug(lcDiscovery) << "ID: " << valueID << "    Value: " << value;
    // A late answer must not hand the panel back while its controllers are
    // written or checked: only the run's end does.
    if (runInProgress())
        return;
    QComboBox *list = ui->m_comboBox_TFTPDevicesDiscovered;
    const QVariant current = list->currentIndex() >= 0 ? list->itemData(list->currentIndex(), kAddressRole)
                                                       : QVariant();
    bool ok = false;
    if (current.isValid() && current.toUInt() == quint32(ip) && valueID == TarvoLibrary::kFirmwareRevision) {
        showRevision(value);
        rememberRevision(quint32(ip), value);
        log(LOG_INFO, tr("Firmware: %1").arg(ui->m_label_FWVersion->text()));
        endWait();
        QCoreApplication::processEvents();
        m_query->answered();
        ok = true;
    }
    emit signal_enableProgramButton(ok || programAllOffered());
    handleEnableControl(true);
    // An answer about another controller leaves the search to the query's time-out.
    if (ok)
        m_search->revisionRead(true, ui->m_label_FWVersion->text());
}

void tftpInterfaceControl::handleInfoRead(quint32 address, int result, const QByteArray &info)
{
    if (runInProgress())
        return;
    bool ok = false;
    if (result > 0) {
        qCDebug(lcTftp) << "Info:" << info;
        showRevision(quint32(revisionFromInfo(info)));
        // The record keeps what was reported, whole: the label shows a build number.
        if (const std::optional<quint32> revision = ControllerVerifier::infoRevision(info))
            rememberRevision(address, *revision);
        log(LOG_INFO, tr("Firmware: %1").arg(ui->m_label_FWVersion->text()));
        QCoreApplication::processEvents();
        m_query->answered();
        ok = true;
    }
    // The controller takes no new request for a while after answering.
    m_pauser.pause(m_settings.afterInfoPauseMs);
    endWait();
    emit signal_enableProgramButton(ok || programAllOffered());
    handleEnableControl(true);
    m_search->revisionRead(ok, ui->m_label_FWVersion->text());
}

void tftpInterfaceControl::handleFWQueryTimeout()
{
    if (runInProgress())
        return;
    endWait();
    log(LOG_WARNING, tr("No firmware version query response from device."));
    handleEnableControl(true);
    // Programming them all does not depend on this one controller's revision.
    if (programAllOffered())
        emit signal_enableProgramButton(true);
    m_search->revisionRead(false, ui->m_label_FWVersion->text());
}

void tftpInterfaceControl::on_m_comboBox_TFTPDevicesDiscovered_currentIndexChanged(int index)
{
    emit signal_enableProgramButton(false);
    QCoreApplication::processEvents();
    if (!ui->m_comboBox_TFTPDevicesDiscovered->itemText(index).isEmpty()) {
        showRevision(std::nullopt);
        queryFirmwareVersion(index);
    }
}

void tftpInterfaceControl::setControlsEnabled(bool enable)
{
    ui->m_pushButton_TFTPDiscover->setEnabled(enable);
    ui->m_comboBox_TFTPDevicesDiscovered->setEnabled(enable);
}

void tftpInterfaceControl::on_m_lineEdit_tftpManualIPEntry_textChanged(QString text)
{
    m_manualAddress = parseUnicastAddress(text);
    qCDebug(lcDiscovery) << "manual address" << text << "null:" << m_manualAddress.isNull();
    // The run has its address; the controls and PROGRAM wait for its end.
    if (runInProgress())
        return;
    setControlsEnabled(m_manualAddress.isNull());
    updateProgramAllControls();
    emit signal_enableProgramButton(!m_manualAddress.isNull()
                                    || ui->m_comboBox_TFTPDevicesDiscovered->count() > 0);
}

bool tftpInterfaceControl::eventFilter(QObject *watched, QEvent *event)
{
    // An empty masked field would keep the cursor where it was clicked,
    // after the blanks, where typed digits go nowhere: it starts at the start.
    QLineEdit *field = ui->m_lineEdit_tftpManualIPEntry;
    if (watched == field
        && (event->type() == QEvent::FocusIn || event->type() == QEvent::MouseButtonRelease)
        && field->text().remove(QLatin1Char('.')).trimmed().isEmpty())
        field->setCursorPosition(0);
    return InterfacePanel::eventFilter(watched, event);
}

void tftpInterfaceControl::rememberRevision(quint32 address, quint32 revision)
{
    QComboBox *list = ui->m_comboBox_TFTPDevicesDiscovered;
    for (int i = 0; i < list->count(); ++i)
        if (list->itemData(i, kAddressRole).toUInt() == address)
            list->setItemData(i, revision, kRevisionRole);
}

void tftpInterfaceControl::updateProgramAllControls()
{
    // A typed address names one controller: it replaces the list, and with
    // it the choice of programming them all.
    const bool offered = ui->m_comboBox_TFTPDevicesDiscovered->count() > 0 && m_manualAddress.isNull();
    ui->m_checkBox_tftpProgramAll->setEnabled(offered);
    ui->m_label_tftpProgramAllLimit->setEnabled(offered);
    ui->m_spinBox_tftpProgramAllLimit->setEnabled(offered);
}

bool tftpInterfaceControl::programAllOffered() const
{
    return ui->m_checkBox_tftpProgramAll->isChecked() && m_manualAddress.isNull()
        && ui->m_comboBox_TFTPDevicesDiscovered->count() > 0;
}

void tftpInterfaceControl::on_m_checkBox_tftpProgramAll_toggled(bool checked)
{
    // Unticked, PROGRAM again needs the chosen controller's revision.
    if (checked)
        emit signal_enableProgramButton(programAllOffered());
    else
        emit signal_enableProgramButton(!ui->m_label_FWVersion->text().isEmpty()
                                        || !m_manualAddress.isNull());
}

void tftpInterfaceControl::program(const QString &fileName)
{
    if (!m_write->isRunning() && !m_fleet && !m_check->isRunning() && programAllOffered()) {
        programAll(fileName);
        return;
    }
    log(LOG_INFO, tr("Programming using file %1").arg(fileName));
    if (m_check->isRunning()) {
        log(LOG_WARNING, tr("The controllers just written are still being checked: nothing more was started."));
        return;
    }
    if (m_fleet) {
        log(LOG_WARNING, tr("The controllers are still being programmed: nothing more was started."));
        return;
    }
    if (m_write->isRunning()) {
        log(LOG_WARNING, tr("A write to %1 is still under way: nothing more was started.").arg(m_write->address()));
        return;
    }
    handleEnableControl(false);
    const QSignalBlocker blockAddress(ui->m_lineEdit_tftpManualIPEntry);
    QCoreApplication::processEvents();

    // What is sent is what passed the image checks, never the file read again.
    const QByteArray image = m_product ? m_product->imageData() : QByteArray();
    if (image.isEmpty()) {
        const QString text = m_product && m_product->imageReady()
            ? tr("The firmware image %1 holds no data: nothing was sent.").arg(fileName)
            : tr("No firmware image has been accepted for this device type: nothing was sent.");
        log(LOG_WARNING, text);
        m_prompter.warning(this, tr("Warning"), text);
        handleEnableControl(true);
        return;
    }

    QString address;
    QString revisionBefore;
    if (m_manualAddress.isNull()) {
        QComboBox *list = ui->m_comboBox_TFTPDevicesDiscovered;
        if (list->currentIndex() < 0) {
            const QString text = tr("No controller is selected: nothing was sent. Discover the "
                                    "controllers or enter an IP address.");
            log(LOG_WARNING, text);
            m_prompter.warning(this, tr("Warning"), text);
            handleEnableControl(true);
            return;
        }
        address = dotted(list->itemData(list->currentIndex(), kAddressRole).toUInt());
        const QVariant revision = list->itemData(list->currentIndex(), kRevisionRole);
        if (revision.isValid())
            revisionBefore = QString::number(revision.toUInt());
        ui->m_lineEdit_tftpManualIPEntry->setText(address);
        log(LOG_INFO, tr("IP address %1 selected").arg(address));
    } else {
        const QMessageBox::StandardButton answer = m_prompter.askGuarding(
            GuardingQuestion::ManualAddress, this, Prompter::Kind::Warning, tr("Firmware Updater"),
            tr("You have chosen to manually enter an IP address.\nThis should be used with extreme "
               "caution.\nDo you wish to continue?"),
            QMessageBox::Ok | QMessageBox::Cancel, QMessageBox::Cancel);
        qCDebug(lcDiscovery) << "ret =" << answer;
        if (answer != QMessageBox::Ok) {
            m_recorded.clear();
            m_recorder.startClock();
            emitRecord(record(m_manualAddress.toString(), QString()), UpdateRecord::Outcome::Cancelled,
                       tr("the manually entered address was not confirmed"));
            setControlsEnabled(true);
            handleEnableControl(true);
            emit signal_enableProgramButton(true);
            return;
        }
        address = m_manualAddress.toString();
        log(LOG_INFO, tr("Using manual IP address %1").arg(address));
    }

    // From here the run is under way: nothing of the revision question may
    // come back and hand the controls over.
    m_query->stop();
    endWait();
    m_fileData = image;
    m_recorded.clear();
    m_recorder.startClock();
    if (m_manualAddress.isNull()) {
        startWrite(address, revisionBefore, false);
        return;
    }
    // A typed address may name anything: it is asked what it is first,
    // unless the search that typed it in already knows.
    if (const std::optional<Identity> known = m_search->takeLearnt(address)) {
        typedAddressIdentified(*known);
        return;
    }
    identifyForWrite(address);
}

void tftpInterfaceControl::startWrite(const QString &address, const QString &revisionBefore, bool typeUnconfirmed,
                                      bool beforeUnread)
{
    m_runRevisionBefore = revisionBefore;
    m_runTypeUnconfirmed = typeUnconfirmed;
    m_runBeforeUnread = beforeUnread;
    m_write->start(address, m_fileData, writeTimeoutMs());
}

int tftpInterfaceControl::writeTimeoutMs() const
{
    // The Marlow Mk3 answers quickly: a lost block ends sooner.
    return m_product->name() == QLatin1String("Marlow Mk3") ? m_settings.marlowMk3WriteTimeoutMs
                                                            : m_settings.writeTimeoutMs;
}

void tftpInterfaceControl::identifyForWrite(const QString &address)
{
    ensureDiscover();
    const bool sent = m_discover->sendDiscover(kDiscoveryRequestAddress);
    if (!sent)
        qCDebug(lcDiscovery) << "identification: discovery request not sent";
    m_identifier->start(address, m_product, sent);
}

void tftpInterfaceControl::typedAddressIdentified(const Identity &identity)
{
    endWait();
    const QString address = identity.address;
    const QString type = m_product ? m_product->name() : QString();
    switch (identity.kind) {
    case Identity::Kind::Selected:
        log(LOG_INFO, tr("Controller %1 answers %2 as %3.").arg(address, identity.how, identity.as));
        if (identity.revision.isEmpty() && !identity.revisionUntold)
            readTypedRevision(address, false);
        else
            startWrite(address, identity.revision, false, identity.revisionUntold);
        return;
    case Identity::Kind::Unknown:
        // Nothing says it is another type: written as before, but only its
        // answer as this type afterwards can verify the update.
        log(LOG_WARNING, tr("Controller %1 did not say what it is: the image is written, and the check "
                            "afterwards must find it answering as %2.")
                             .arg(address, type));
        if (identity.revision.isEmpty() && !identity.revisionUntold)
            readTypedRevision(address, true);
        else
            startWrite(address, identity.revision, true, identity.revisionUntold);
        return;
    case Identity::Kind::Other:
        break;
    }
    const QString text = tr("The controller at %1 answers %2 as %3, not as %4.\nNothing was sent to it; to "
                            "update it, select its own device type and image.")
                             .arg(address, identity.how, identity.as, type);
    log(LOG_WARNING, text);
    m_fileData.clear();
    releaseRun();
    emitRecord(record(address, QString()), UpdateRecord::Outcome::Cancelled,
               tr("the controller answers as %1, not as %2").arg(identity.as, type));
    handleEnableControl(true);
    setControlsEnabled(m_manualAddress.isNull());
    QCoreApplication::processEvents();
    m_prompter.warning(this, tr("Firmware Updater"), text);
    emit signal_enableProgramButton(true);
}

void tftpInterfaceControl::readTypedRevision(const QString &address, bool typeUnconfirmed)
{
    // Without the revision it ran, the check afterwards cannot tell it taking
    // the image from it running the image's build already.
    m_typedRead = new FleetRevisionRead({address}, beforeWriteRoute(m_product), m_settings, m_tarvo, this);
    m_runTypeUnconfirmed = typeUnconfirmed;
    connect(m_typedRead, &FleetRevisionRead::message, this, &tftpInterfaceControl::log);
    connect(m_typedRead, &FleetRevisionRead::finished, this, &tftpInterfaceControl::typedRevisionRead);
    beginWait(tr("Reading the revision of %1…").arg(address), true);
    m_typedRead->start();
}

void tftpInterfaceControl::typedRevisionRead()
{
    FleetRevisionRead *read = std::exchange(m_typedRead, nullptr);
    if (!read)
        return;
    read->disconnect(this);
    // It goes once the signal that got here returns.
    read->deleteLater();
    endWait();
    const QString address = read->addresses().value(0);
    const QString revision = read->revisions().value(address);
    // The controller takes no new request for a while after an "info" read.
    if (read->infoRead())
        m_pauser.pause(m_settings.afterInfoPauseMs);
    // Untold, the write still goes ahead: only the check's verdict is held back.
    startWrite(address, revision, m_runTypeUnconfirmed, revision.isEmpty());
}

void tftpInterfaceControl::programProgress(int status)
{
    if (status == 0) {
        m_progressDialog = m_prompter.openProgress(this, tr("Firmware Updater"), tr("Connecting"),
                                                   QString(), 0, 110);
        m_progressDialog->setValue(0);
    } else if (m_progressDialog) {
        if (status == 5) {
            m_progressDialog->setLabelText(tr("Writing"));
            m_progressDialog->setValue(5);
        } else if (status == 110) {
            m_progressDialog->setLabelText(tr("Complete"));
            m_progressDialog->setValue(110);
            closeProgress();
        } else {
            m_progressDialog->setValue(status);
        }
    }
    QCoreApplication::processEvents();
    qCDebug(lcTftp) << "status:" << status;
}

void tftpInterfaceControl::closeProgress()
{
    if (m_progressDialog)
        m_progressDialog->close();
    m_progressDialog.reset();
}

void tftpInterfaceControl::closeFleetProgress()
{
    // Its own Cancel handler may be what led here.
    if (FleetProgressTracker *progress = std::exchange(m_fleetProgress, nullptr)) {
        progress->close();
        progress->deleteLater();
    }
}

void tftpInterfaceControl::releaseRun()
{
    if (m_discover) {
        m_discover->disconnect(this);
        m_discover.reset();
    }
    // The revision read, if one is left, is stopped rather than waited for.
    m_query->release();
}

void tftpInterfaceControl::programDone(int result, const QString &reason)
{
    const QString address = m_write->address();
    closeProgress();
    releaseRun();
    m_fileData.clear();

    if (result >= 0) {
        log(LOG_INFO, tr("Program complete: %1").arg(result));
        // The run goes on until the controller has told what it runs now.
        startVerification({{address, m_runRevisionBefore, m_runBeforeUnread}}, false);
        return;
    }

    handleEnableControl(true);
    QCoreApplication::processEvents();

    // A failed write leaves the controller as it was offered: the list stays
    // and PROGRAM may be pressed again.
    QString text;
    if (result == QTFTP::kGaveUp)
        text = tr("Unable to communicate with TFTP device!\n Fix connection and try again.");
    else
        text = tr("Programming the controller at %1 failed: %2\nNothing was completed; fix the "
                  "problem and try again.")
                   .arg(address, reason.isEmpty() ? tr("unknown error") : reason);
    log(LOG_WARNING, tr("Program failed (%1) for %2: %3")
                         .arg(result)
                         .arg(address, reason.isEmpty() ? tr("unknown error") : reason));
    emitRecord(record(address, m_runRevisionBefore), UpdateRecord::Outcome::Failed,
               reason.isEmpty() ? tr("unknown error") : reason);
    m_prompter.warning(this, tr("TFTP ERROR"), text);
    emit signal_enableProgramButton(true);
}

void tftpInterfaceControl::programAll(const QString &fileName, bool confirmed)
{
    log(LOG_INFO, tr("Programming using file %1").arg(fileName));
    if (m_write->isRunning() || m_fleet || m_check->isRunning()) {
        log(LOG_WARNING, tr("The controllers are still being programmed: nothing more was started."));
        return;
    }
    auto refuse = [this](const QString &text) {
        log(LOG_WARNING, text);
        m_prompter.warning(this, tr("Warning"), text);
        handleEnableControl(true);
    };
    if (m_discoveryTimer) {
        // The panel stays as discovery left it: disabled until the window closes.
        const QString text = tr("Discovery is still under way: nothing was sent. Wait until it has ended.");
        log(LOG_WARNING, text);
        m_prompter.warning(this, tr("Warning"), text);
        return;
    }
    const QByteArray image = m_product ? m_product->imageData() : QByteArray();
    if (image.isEmpty()) {
        refuse(m_product && m_product->imageReady()
                   ? tr("The firmware image %1 holds no data: nothing was sent.").arg(fileName)
                   : tr("No firmware image has been accepted for this device type: nothing was sent."));
        return;
    }
    QComboBox *list = ui->m_comboBox_TFTPDevicesDiscovered;
    QList<FleetWriter::Target> targets;
    // A Marlow's revision came with its discovery reply, as its route reads it.
    const bool marlow = m_product && m_product->name().contains(QLatin1String("Marlow"), Qt::CaseInsensitive);
    for (int i = 0; i < list->count(); ++i) {
        QVariant revision = list->itemData(i, kRevisionRole);
        if (!revision.isValid() && marlow)
            revision = list->itemData(i, kVersionRole);
        targets.append({dotted(list->itemData(i, kAddressRole).toUInt()),
                        list->itemData(i, kIdRole).toString(),
                        revision.isValid() ? QString::number(revision.toUInt()) : QString()});
    }
    if (targets.isEmpty()) {
        refuse(tr("No controllers are listed: nothing was sent. Press Discover first."));
        return;
    }

    handleEnableControl(false);
    QCoreApplication::processEvents();
    auto *fleet = new FleetRun(targets, image, this);
    const int count = int(fleet->outcomes().size());
    if (!confirmed) {
        const QMessageBox::StandardButton answer = m_prompter.confirmRun(
            this, Prompter::Kind::Warning, tr("Zel Firmware Updater"),
            tr("You are about to update the firmware of all %1 discovered %2 controllers!\nDo you "
               "wish to continue?")
                .arg(count)
                .arg(m_product->name()),
            QMessageBox::Ok | QMessageBox::Cancel, QMessageBox::Cancel);
        if (answer != QMessageBox::Ok) {
            m_recorded.clear();
            m_recorder.startClock();
            for (const ControllerWriteOutcome &o : fleet->outcomes())
                emitRecord(record(o.address, o.revisionBefore), UpdateRecord::Outcome::Cancelled,
                           tr("the run was not confirmed"));
            delete fleet;
            log(LOG_INFO, tr("Programming all controllers was cancelled: nothing was sent."));
            handleEnableControl(true);
            emit signal_enableProgramButton(true);
            return;
        }
    }

    m_query->stop();
    endWait();
    m_fleet = fleet;
    m_fleetOutcomes.clear();
    m_fleetUnread.clear();
    m_recorded.clear();
    m_recorder.startClock();
    connect(fleet, &FleetRun::message, this, &tftpInterfaceControl::log);
    connect(fleet, &FleetRun::writeEnded, this, &tftpInterfaceControl::fleetWriteEnded);
    connect(fleet, &FleetRun::finished, this, &tftpInterfaceControl::fleetDone);
    readFleetRevisions();
}

void tftpInterfaceControl::readFleetRevisions()
{
    // Without the revision a controller ran, the check afterwards cannot
    // tell it taking the image from it running the image's build already.
    QStringList unknown;
    for (const ControllerWriteOutcome &o : m_fleet->outcomes())
        if (o.revisionBefore.isEmpty())
            unknown.append(o.address);
    if (unknown.isEmpty()) {
        startFleetWrites();
        return;
    }
    m_fleetRead = new FleetRevisionRead(unknown, beforeWriteRoute(m_product), m_settings, m_tarvo, this);
    connect(m_fleetRead, &FleetRevisionRead::message, this, &tftpInterfaceControl::log);
    connect(m_fleetRead, &FleetRevisionRead::finished, this, &tftpInterfaceControl::fleetRevisionsRead);
    const QString text = unknown.size() == 1 ? tr("Reading the revision of %1…").arg(unknown.first())
                                             : tr("Reading the revisions of %1 controllers…").arg(unknown.size());
    if (unknown.size() > 1)
        connect(m_fleetRead, &FleetRevisionRead::progress, this, [this, text](int, int) {
            updateWait(tr("%1 %2 read").arg(text).arg(m_fleetRead->revisions().size()));
        });
    beginWait(text, true);
    m_fleetRead->start();
}

void tftpInterfaceControl::fleetRevisionsRead()
{
    FleetRevisionRead *read = std::exchange(m_fleetRead, nullptr);
    if (!read || !m_fleet)
        return;
    read->disconnect(this);
    // It goes once the signal that got here returns.
    read->deleteLater();
    for (const QString &address : read->addresses()) {
        const QString revision = read->revisions().value(address);
        if (revision.isEmpty())
            m_fleetUnread.insert(address);
        else
            m_fleet->setRevisionBefore(address, revision);
    }
    endWait();
    // The controllers take no new request for a while after an "info" read.
    if (read->infoRead())
        m_pauser.pause(m_settings.afterInfoPauseMs);
    startFleetWrites();
}

void tftpInterfaceControl::startFleetWrites()
{
    m_fleet->start(fleetConcurrency(), writeTimeoutMs(), m_settings.tftpPort, m_fleetProgressFactory, this,
                   m_product->name());
}

void tftpInterfaceControl::fleetWriteEnded(const ControllerWriteOutcome &outcome)
{
    // An updated one is recorded once it has been checked.
    if (!outcome.updated())
        recordNotUpdated(outcome);
    emit signal_controllerWriteDone(outcome);
}

void tftpInterfaceControl::recordNotUpdated(const ControllerWriteOutcome &outcome)
{
    emitRecord(record(outcome.address, outcome.revisionBefore),
               outcome.result == ControllerWriteOutcome::Result::NotStarted ? UpdateRecord::Outcome::Cancelled
                                                                            : UpdateRecord::Outcome::Failed,
               outcome.reason);
}

void tftpInterfaceControl::fleetDone()
{
    FleetRun *fleet = m_fleet;
    if (!fleet)
        return;
    m_fleetOutcomes = fleet->outcomes();
    m_fleet = nullptr;
    fleet->disconnect(this);
    m_fleetProgress = fleet->takeProgress();
    // Its threads have all ended; it goes once the signal that got here returns.
    fleet->deleteLater();

    // The discovery object goes with the run, as after a single write.
    if (m_discover) {
        m_discover->disconnect(this);
        m_discover.reset();
    }
    QList<UpdateCheck::Written> written;
    for (const ControllerWriteOutcome &o : std::as_const(m_fleetOutcomes))
        if (o.updated())
            written.append({o.address, o.revisionBefore, m_fleetUnread.contains(o.address)});
    if (!written.isEmpty()) {
        startVerification(written, true);
        return;
    }
    endFleetRun();
}

void tftpInterfaceControl::endFleetRun()
{
    QSet<QString> left;
    bool mismatch = false;
    for (const ControllerWriteOutcome &o : std::as_const(m_fleetOutcomes)) {
        if (!o.updated())
            left.insert(o.address);
        else if (m_check->checks().value(o.address).failed())
            mismatch = true;
    }
    // Only the controllers that still need the image stay offered.
    QComboBox *list = ui->m_comboBox_TFTPDevicesDiscovered;
    {
        const QSignalBlocker blockList(list);
        for (int i = list->count() - 1; i >= 0; --i)
            if (!left.contains(dotted(list->itemData(i, kAddressRole).toUInt())))
                list->removeItem(i);
        list->setCurrentIndex(list->count() > 0 ? 0 : -1);
    }
    showRevision(std::nullopt);
    // Everything is over: the summary below says what the window showed.
    closeFleetProgress();
    handleEnableControl(true);
    setControlsEnabled(m_manualAddress.isNull());
    if (left.isEmpty()) {
        const QSignalBlocker blockBox(ui->m_checkBox_tftpProgramAll);
        ui->m_checkBox_tftpProgramAll->setChecked(false);
    }
    updateProgramAllControls();
    QCoreApplication::processEvents();

    const QString title = tr("Program All Discovered Devices");
    if (left.isEmpty() && !mismatch)
        m_prompter.information(this, title, FleetRun::summary(m_fleetOutcomes, m_check->checks()));
    else
        m_prompter.warning(this, title, FleetRun::summary(m_fleetOutcomes, m_check->checks()));
    if (left.isEmpty())
        emit signal_programComplete();
    else
        emit signal_enableProgramButton(true);
}

void tftpInterfaceControl::startVerification(const QList<UpdateCheck::Written> &written, bool fleet)
{
    m_verifyingFleet = fleet;
    handleEnableControl(false);
    m_check->start(written, m_product, !fleet && m_runTypeUnconfirmed, discoveryPortInUse(), m_verifyWaitMs);
    const QString text = written.size() == 1
        ? tr("Checking %1 after the update…").arg(written.first().address)
        : tr("Checking %1 controllers after the update…").arg(written.size());
    if (m_fleetProgress)
        m_fleetProgress->checking(text);
    beginWait(text, true);
}

void tftpInterfaceControl::verificationDone()
{
    endWait();
    if (m_verifyingFleet)
        endFleetRun();
    else
        endSingleRun();
}

void tftpInterfaceControl::endSingleRun()
{
    const QString address = m_check->written().value(0).address;
    const RevisionCheck check = m_check->checks().value(address);
    ui->m_comboBox_TFTPDevicesDiscovered->clear();
    showRevision(std::nullopt);
    {
        const QSignalBlocker blockAddress(ui->m_lineEdit_tftpManualIPEntry);
        ui->m_lineEdit_tftpManualIPEntry->clear();
    }
    m_manualAddress = QHostAddress();
    handleEnableControl(true);
    setControlsEnabled(true);
    updateProgramAllControls();
    QCoreApplication::processEvents();

    emit signal_updateStatus(tr("Controller %1 written; %2").arg(address, check.summary()));
    if (check.failed())
        m_prompter.warning(this, tr("TFTP ERROR"),
                           tr("The controller at %1 took the image but does not run it: %2\nThe update "
                              "failed.")
                               .arg(address, check.summary()));
    emit signal_programComplete();
}

UpdateRecord tftpInterfaceControl::record(const QString &address, const QString &revisionBefore) const
{
    return m_recorder.make(m_product, address, revisionBefore);
}

void tftpInterfaceControl::emitRecord(UpdateRecord record, UpdateRecord::Outcome outcome, const QString &reason)
{
    m_recorded.insert(record.address);
    m_recorder.emitEnded(record, outcome, reason);
}

void tftpInterfaceControl::findDevice(const QString &address)
{
    QString refusal = m_search->begin(address, parseUnicastAddress(address), runInProgress() || m_discoveryTimer);
    if (refusal.isNull()) {
        // A fresh search: what was typed before no longer stands in for discovery.
        ui->m_lineEdit_tftpManualIPEntry->clear();
        if (startDiscovery())
            return;
        refusal = m_search->discoveryNotStarted(m_product && m_product->processor(0));
    }
    log(LOG_WARNING, refusal);
    QMetaObject::invokeMethod(this, [this, refusal] { emit signal_deviceSearchDone(false, refusal); },
                              Qt::QueuedConnection);
}

void tftpInterfaceControl::searchReadRevision(int index)
{
    // As the operator's choice would be.
    if (index == ui->m_comboBox_TFTPDevicesDiscovered->currentIndex())
        queryFirmwareVersion(index);
    else
        ui->m_comboBox_TFTPDevicesDiscovered->setCurrentIndex(index);
}

void tftpInterfaceControl::searchFinished(bool found, const QString &message)
{
    endWait();
    handleEnableControl(true);
    log(found ? LOG_INFO : LOG_WARNING, message);
    emit signal_deviceSearchDone(found, message);
}
