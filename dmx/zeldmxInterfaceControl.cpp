#include "dmx/zeldmxInterfaceControl.h"

#include "ui_zeldmxInterfaceControl.h"

#include "base/Pauser.h"
#include "base/Prompter.h"
#include "catalogue/BootLoadProduct.h"
#include "catalogue/MicroprocessorImageInfo.h"
#include "dmx/FixtureBootloadEngine.h"
#include "dmx/FixtureRevision.h"
#include "dmx/Hollis.h"

#include <QCoreApplication>
#include <QHostAddress>
#include <QRegularExpression>
#include <QSignalBlocker>
#include <QTimer>

namespace {

constexpr int kNetworkSupply = 1;
constexpr int kUsbSupply = 2;
// Products with this serial prefix are of the LX family: their fixtures are
// told apart by the LX feature, and those below version 3 cannot be updated.
constexpr quint32 kLxPrefix = 0x7200;
constexpr uint kLastLxVersionRefused = 2;
// A fixture restarts within seconds of its finalize step and pause.
constexpr int kDefaultVerifyWaitMs = 10000;

QString paddedSerial(quint32 serial)
{
    return QStringLiteral("%1").arg(serial, 8, 16, QLatin1Char('0')).toUpper();
}

QString waitText(int ms)
{
    return ms % 1000 == 0 ? QCoreApplication::translate("zeldmxInterfaceControl", "%1 s").arg(ms / 1000)
                          : QCoreApplication::translate("zeldmxInterfaceControl", "%1 ms").arg(ms);
}

QTimer *singleShotTimer(QObject *owner)
{
    auto *timer = new QTimer(owner);
    timer->setSingleShot(true);
    return timer;
}

} // namespace

zeldmxInterfaceControl::zeldmxInterfaceControl(Prompter &prompter, Pauser &pauser,
                                               ZelHollis::Hollis &hollis, QWidget *parent)
    : InterfacePanel(1, kDefaultVerifyWaitMs, parent), ui(new Ui::zeldmxInterfaceControlClass),
      m_prompter(prompter), m_pauser(pauser), m_hollis(hollis),
      m_recorder(*this, [](const BootLoadProduct &product) { return FixtureImageRevision::of(product).version; })
{
    ui->setupUi(this);
    setObjectName("zeldmxInterfaceControl");
    // Fixtures can be looked for only once a supply is chosen, and "all" only once some were found.
    ui->m_pushButton_ZELDMXDiscoverFixture->setEnabled(false);
    ui->m_lineEdit_ZELDMXManualFixtureSN->setInputMask("HHHHHHHH;_");
    ui->m_checkBox_ZELDMXProgramAll->setEnabled(false);
    connect(&m_hollis, &ZelHollis::Hollis::discoveredDevice, this,
            &zeldmxInterfaceControl::handleDiscoveredDevice);
    connect(&m_hollis, &ZelHollis::Hollis::discoveredFixture, this,
            &zeldmxInterfaceControl::handleDiscoveredFixture);
    connect(&m_hollis, &ZelHollis::Hollis::signal_log, this, &zeldmxInterfaceControl::signal_log);

    m_engine = new FixtureBootloadEngine(m_prompter, m_pauser, this, this);
    connect(m_engine, &FixtureBootloadEngine::signal_log, this, &zeldmxInterfaceControl::signal_log);

    m_fixtureTimer = singleShotTimer(this);
    connect(m_fixtureTimer, &QTimer::timeout, this,
            &zeldmxInterfaceControl::handleFixtureDiscoveryTimeout);
    m_portsTimer = singleShotTimer(this);
    connect(m_portsTimer, &QTimer::timeout, this, &zeldmxInterfaceControl::updatePorts);
    m_lxTimer = singleShotTimer(this);
    connect(m_lxTimer, &QTimer::timeout, this,
            &zeldmxInterfaceControl::handleFixtureLXEnableQueryTimeout);
    m_revisionTimer = singleShotTimer(this);
    connect(m_revisionTimer, &QTimer::timeout, this, &zeldmxInterfaceControl::handleFixtureFWNumber);
    m_checkTimer = singleShotTimer(this);
    connect(m_checkTimer, &QTimer::timeout, this, &zeldmxInterfaceControl::handleCheckTimeout);
    m_beforeTimer = singleShotTimer(this);
    connect(m_beforeTimer, &QTimer::timeout, this, &zeldmxInterfaceControl::handleRevisionsBefore);
    m_searchTimer = singleShotTimer(this);
    connect(m_searchTimer, &QTimer::timeout, this, &zeldmxInterfaceControl::handleSearchTimeout);
    setTiming(m_timing);

    // The fixtures listed are those of one port: another port needs its own list.
    connect(ui->m_comboBox_port, &QComboBox::currentIndexChanged, this,
            [this] { portChanged(); });
}

zeldmxInterfaceControl::~zeldmxInterfaceControl()
{
    // The product and whoever took the records may be gone by now.
    m_destroying = true;
    shutdown();
    delete ui;
}

void zeldmxInterfaceControl::setTiming(const Timing &timing)
{
    m_timing = timing;
    m_fixtureTimer->setInterval(timing.fixtureWindow);
    m_portsTimer->setInterval(timing.portListDelay);
    m_lxTimer->setInterval(timing.lxQueryWait);
    m_revisionTimer->setInterval(timing.revisionReadWait);
    m_engine->setFinalizePause(timing.finalizePause);
}

void zeldmxInterfaceControl::imageAboutToBeSelected(BootLoadProduct *product)
{
    setProduct(product);
    setSerialNumPrefixes(product->serialNumPrefixes());
}

void zeldmxInterfaceControl::setSerialNumPrefixes(const QList<quint32> &prefixes)
{
    m_serialPrefixes = prefixes;
}

QList<quint32> zeldmxInterfaceControl::serialNumPrefixes() const
{
    return m_serialPrefixes;
}

void zeldmxInterfaceControl::shutdown()
{
    if (m_shutDown)
        return;
    m_shutDown = true;
    stopTimers();
    if (m_running)
        stopRun();
    if (m_supply >= 0 && supplyType(m_supply) == kUsbSupply
        && m_hollis.getDeviceProperty(m_supply, "connected").toBool())
        m_hollis.usbDisconnect(m_supply);
}

void zeldmxInterfaceControl::stopRun()
{
    m_running = false;
    // Nobody takes records from a panel being destroyed.
    const bool report = !m_destroying;
    const QString notProgrammed = tr("The updater closed before this fixture was programmed.");
    if (m_confirming) {
        log(LOG_WARNING, tr("The run was not started: the updater is closing."));
        if (report)
            m_recorder.emitEnded(runRecord(m_confirmingAddress), UpdateRecord::Outcome::Cancelled,
                                 tr("The updater closed before the update was confirmed."));
        return;
    }
    log(LOG_WARNING, tr("Programming stopped: the updater is closing; %1 of %2 fixtures were not "
                        "started.")
                         .arg(m_runSerials.size() - m_runNext)
                         .arg(m_runSerials.size()));
    if (m_inEngine) {
        // The boot-load ends before its next step; what it had done stands.
        const std::optional<FixtureOutcome> o = m_engine->stop(tr("the updater is closing"));
        const quint32 serial = o ? o->serial : quint32(m_currentSerial);
        UpdateRecord::Outcome outcome = UpdateRecord::Outcome::Cancelled;
        QString reason = notProgrammed; // refused before its boot-load began
        if (o) {
            m_runOutcomes.append(*o);
            reason = o->reason;
            if (o->updated()) {
                outcome = UpdateRecord::Outcome::NotVerified;
                reason = tr("the updater closed before the fixture was checked");
            } else if (o->result == FixtureOutcome::Result::Failed) {
                outcome = UpdateRecord::Outcome::Failed;
            }
        }
        if (report)
            m_recorder.emitEnded(runRecord(paddedSerial(serial)), outcome, reason);
    } else if (!m_runOutcomes.isEmpty() && m_runOutcomes.last().updated()
               && !m_runOutcomes.last().check) {
        // Written, and its version not yet read back.
        if (report)
            m_recorder.emitEnded(runRecord(paddedSerial(m_runOutcomes.last().serial)),
                                 UpdateRecord::Outcome::NotVerified,
                                 tr("the updater closed before the fixture reported its firmware version"));
    }
    // Not started: no time spent on them.
    m_recorder.stopClock();
    for (qsizetype i = m_runNext; i < m_runSerials.size() && report; ++i)
        m_recorder.emitEnded(runRecord(paddedSerial(m_runSerials.at(i))), UpdateRecord::Outcome::Cancelled,
                             notProgrammed);
    m_runNext = int(m_runSerials.size());
}

void zeldmxInterfaceControl::stopTimers()
{
    m_fixtureTimer->stop();
    m_portsTimer->stop();
    m_lxTimer->stop();
    m_revisionTimer->stop();
    m_checkTimer->stop();
    m_beforeTimer->stop();
    m_searchTimer->stop();
    m_discovering = false;
    m_revisionPending = false;
}

void zeldmxInterfaceControl::handleEnableControl(bool enable)
{
    ui->m_groupBox_DMXControlPanel->setEnabled(enable);
}

bool zeldmxInterfaceControl::isLxFamily() const
{
    return m_serialPrefixes.contains(kLxPrefix);
}

int zeldmxInterfaceControl::supplyType(int device) const
{
    return m_hollis.getDeviceProperty(device, "interface_type").toInt();
}

int zeldmxInterfaceControl::currentPort() const
{
    const QComboBox *ports = ui->m_comboBox_port;
    return ports->currentIndex() < 0 ? -1 : ports->currentData().toInt();
}

int zeldmxInterfaceControl::deviceForAddress(ulong ip) const
{
    for (int device : m_hollis.listDevices()) {
        if (supplyType(device) != kNetworkSupply)
            continue;
        bool ok = false;
        const quint32 address =
            QHostAddress(m_hollis.getDeviceProperty(device, "ip").toString()).toIPv4Address(&ok);
        if (ok && address == ip)
            return device;
    }
    return -1;
}

// ---------------------------------------------------------------- supplies

void zeldmxInterfaceControl::on_m_pushButton_ZELDMXDiscoverEnabler_clicked()
{
    log(LOG_INFO, QStringLiteral("Discovering ZELDMX power supplies..."));
    emit signal_updateStatus(tr("Discovering enablers..."));
    QCoreApplication::processEvents();
    if (!m_hollis.queryDevices())
        emit signal_updateStatus(tr("Enabler discovery did not start: see the log."));
}

void zeldmxInterfaceControl::handleDiscoveredDevice(int vaskUID)
{
    QComboBox *supplies = ui->m_comboBox_ZELDMXEnablers;
    // A supply the library reports again keeps its one entry.
    if (m_shutDown || supplies->findData(vaskUID) >= 0)
        return;
    QString name = m_hollis.getDeviceProperty(vaskUID, "name").toString();
    const int type = supplyType(vaskUID);
    if (type == kNetworkSupply)
        name += QStringLiteral(" (") + m_hollis.getDeviceProperty(vaskUID, "ip").toString()
            + QLatin1Char(')');
    log(LOG_INFO, QStringLiteral("Discovered Vask device #%1 - %2").arg(vaskUID).arg(name));
    supplies->addItem(name, vaskUID);
    if (supplies->count() == 1) {
        m_supply = vaskUID;
        if (type == kUsbSupply)
            m_hollis.usbConnect(vaskUID);
        else
            ui->m_pushButton_ZELDMXDiscoverFixture->setEnabled(!m_running);
    }
    emit signal_updateStatus(tr("Enablers found: %1").arg(supplies->count()));
    // A search takes the supplies that answer within one window of the last.
    if (m_searchStage == SearchStage::Supplies)
        m_searchTimer->start();
}

void zeldmxInterfaceControl::on_m_comboBox_ZELDMXEnablers_currentIndexChanged(int index)
{
    ui->m_comboBox_ZELDMXFixtureSNs->clear();
    m_lxSerials.clear();
    m_listSettled = false;
    ui->m_label_fixtureRev->clear();
    emit signal_enableProgramButton(false);

    if (m_supply == -1) {
        // The first supply: its number is taken once its entry is in.
        m_portsTimer->start();
        return;
    }
    if (index < 0)
        return;
    const int leaving = m_supply;
    if (supplyType(leaving) == kUsbSupply
        && m_hollis.getDeviceProperty(leaving, "connected").toBool())
        m_hollis.usbDisconnect(leaving);

    QComboBox *supplies = ui->m_comboBox_ZELDMXEnablers;
    m_supply = supplies->itemData(index).toInt();
    log(LOG_INFO, QStringLiteral("Selected Vask device #%1 - %2")
                      .arg(m_supply)
                      .arg(supplies->itemText(index)));
    const int type = supplyType(m_supply);
    if (type == kUsbSupply) {
        if (!m_hollis.getDeviceProperty(m_supply, "connected").toBool())
            m_hollis.usbConnect(m_supply);
        ui->m_pushButton_ZELDMXDiscoverFixture->setEnabled(false);
    } else if (type == kNetworkSupply) {
        ui->m_pushButton_ZELDMXDiscoverFixture->setEnabled(true);
    }
    updatePorts();
}

void zeldmxInterfaceControl::updatePorts()
{
    QComboBox *ports = ui->m_comboBox_port;
    m_fillingPorts = true;
    ports->clear();
    const int n = int(m_hollis.getDeviceProperty(m_supply, "number_outputs").toUInt() & 0xFF);
    for (int i = 0; i < n; ++i)
        ports->addItem(QString::number(i + 1), i);
    m_fillingPorts = false;
    refreshFixtureList();
    // A supply whose fixtures the library already knows (a USB supply, or one
    // discovered before) offers them at once.
    if (!m_discovering && !m_running
        && (ui->m_comboBox_ZELDMXFixtureSNs->count() > 0 || !m_lxSerials.isEmpty()))
        settleFixtureList();
}

void zeldmxInterfaceControl::portChanged()
{
    if (m_fillingPorts || m_running)
        return;
    ui->m_label_fixtureRev->clear();
    ui->m_checkBox_ZELDMXProgramAll->setEnabled(false);
    refreshFixtureList();
    if (!m_discovering
        && (ui->m_comboBox_ZELDMXFixtureSNs->count() > 0 || !m_lxSerials.isEmpty()))
        settleFixtureList();
}

// ---------------------------------------------------------------- fixtures

void zeldmxInterfaceControl::on_m_pushButton_ZELDMXDiscoverFixture_clicked()
{
    log(LOG_INFO, QStringLiteral("Discovering fixtures on %1...")
                      .arg(ui->m_comboBox_ZELDMXEnablers->currentText()));
    ui->m_comboBox_ZELDMXFixtureSNs->clear();
    m_lxSerials.clear();
    // The responses already logged stay so for the session: a second
    // discovery logs only fixtures that had not answered before.
    m_listSettled = false;
    ui->m_label_fixtureRev->clear();
    ui->m_pushButton_ZELDMXDiscoverEnabler->setEnabled(false);
    ui->m_comboBox_ZELDMXEnablers->setEnabled(false);
    ui->m_comboBox_port->setEnabled(false);
    ui->m_pushButton_ZELDMXDiscoverFixture->setEnabled(false);
    ui->m_lineEdit_ZELDMXManualFixtureSN->setEnabled(false);
    ui->m_checkBox_ZELDMXProgramAll->setEnabled(false);
    emit signal_enableProgramButton(false);
    emit signal_updateStatus(tr("Discovering fixtures..."));
    QCoreApplication::processEvents();

    m_discovering = true;
    m_hollis.discoverLights(m_supply);
    m_fixtureTimer->start();
}

void zeldmxInterfaceControl::handleDiscoveredFixture(ulong ip, quint64 sn)
{
    if (m_shutDown)
        return;
    m_fixtureTimer->stop();
    if (m_searchStage == SearchStage::Fixtures)
        m_searchTimer->start(searchStepLimit());
    const int device = deviceForAddress(ip);
    if (device != -1 && !m_fixtureResponses.contains(device, sn)) {
        log(LOG_INFO, QStringLiteral("Fixture response from Vask:%1 SN %2.")
                          .arg(device)
                          .arg(paddedSerial(quint32(sn))));
        m_fixtureResponses.insert(device, sn);
    }
    // During a run the list is the run's; later answers count at the next discovery.
    if (m_running) {
        m_answersMissed = true;
        return;
    }
    if (!m_discovering) {
        // An answer nobody asked for opens a window of its own.
        m_discovering = true;
        ui->m_label_fixtureRev->clear();
    }
    refreshFixtureList();
    m_fixtureTimer->start();
}

void zeldmxInterfaceControl::refreshFixtureList()
{
    // Answers that arrive while the list is rebuilt are taken by one more
    // rebuild, never by a rebuild nested in this one: nested rebuilds listed
    // fixtures several times.
    if (m_rebuilding) {
        m_rebuildAgain = true;
        return;
    }
    m_rebuilding = true;
    do {
        m_rebuildAgain = false;
        rebuildFixtureList();
        on_m_comboBox_ZELDMXFixtureSNs_currentIndexChanged(
            ui->m_comboBox_ZELDMXFixtureSNs->currentIndex());
    } while (m_rebuildAgain && !m_running);
    m_rebuilding = false;
}

void zeldmxInterfaceControl::rebuildFixtureList()
{
    QComboBox *list = ui->m_comboBox_ZELDMXFixtureSNs;
    const QSignalBlocker blocker(list);
    list->clear();
    m_lxSerials.clear();
    m_listSettled = false;
    const QComboBox *supplies = ui->m_comboBox_ZELDMXEnablers;
    const int device = supplies->currentIndex() < 0 ? m_supply : supplies->currentData().toInt();
    const int port = currentPort();
    if (device < 0 || port < 0)
        return;
    for (quint64 s : m_hollis.portFixtureList(device, port)) {
        const quint32 serial = quint32(s);
        if (!m_serialPrefixes.contains(serial >> 16))
            continue;
        if (isLxFamily()) {
            if (!m_lxSerials.contains(serial))
                m_lxSerials.append(serial);
        } else {
            addFixtureEntry(serial);
        }
    }
}

void zeldmxInterfaceControl::addFixtureEntry(quint32 serial)
{
    QComboBox *list = ui->m_comboBox_ZELDMXFixtureSNs;
    const QVariant data = QVariant::fromValue<quint64>(serial);
    if (list->findData(data) < 0)
        list->addItem(paddedSerial(serial), data);
}

void zeldmxInterfaceControl::handleFixtureDiscoveryTimeout()
{
    m_fixtureTimer->stop();
    m_discovering = false;
    if (m_running)
        return;
    ui->m_pushButton_ZELDMXDiscoverEnabler->setEnabled(true);
    ui->m_comboBox_ZELDMXEnablers->setEnabled(true);
    ui->m_comboBox_port->setEnabled(true);
    // Fixtures of a USB supply are known while it is connected: there is
    // nothing to discover.
    ui->m_pushButton_ZELDMXDiscoverFixture->setEnabled(supplyType(m_supply) == kNetworkSupply);
    ui->m_lineEdit_ZELDMXManualFixtureSN->setEnabled(true);
    settleFixtureList();
    if (m_searchStage == SearchStage::Fixtures)
        searchFixturesKnown();
}

void zeldmxInterfaceControl::settleFixtureList()
{
    if (isLxFamily()) {
        for (quint32 serial : std::as_const(m_lxSerials)) {
            bool scratch = false;
            m_hollis.fixtureReadLXEnable(m_supply, 0, serial, scratch);
        }
        m_lxTimer->start();
        return;
    }
    m_listSettled = true;
    const int count = ui->m_comboBox_ZELDMXFixtureSNs->count();
    emit signal_updateStatus(tr("Fixtures found: %1").arg(count));
    if (count > 0) {
        ui->m_checkBox_ZELDMXProgramAll->setEnabled(true);
        readFixtureRevision();
    }
    searchListSettled();
}

void zeldmxInterfaceControl::handleFixtureLXEnableQueryTimeout()
{
    // A discovery window opened since: its end reads the features again.
    if (m_running || m_discovering)
        return;
    QComboBox *list = ui->m_comboBox_ZELDMXFixtureSNs;
    const QString name = m_product ? m_product->name() : QString();
    const bool wantsLx = name.contains(QLatin1String("lX"));
    const bool wantsPlain = name.contains(QLatin1String("Vireo"));
    {
        const QSignalBlocker blocker(list);
        list->clear();
        for (quint32 serial : std::as_const(m_lxSerials)) {
            const bool lx =
                m_hollis.getFixtureProperty(m_supply, 0, serial, "lx_enabled").toBool();
            if ((lx && wantsLx) || (!lx && wantsPlain))
                addFixtureEntry(serial);
        }
    }
    m_listSettled = true;
    QCoreApplication::processEvents();
    // An answer taken while events were processed started a new list.
    if (!m_listSettled || m_running)
        return;
    const int count = list->count();
    emit signal_updateStatus(tr("Fixtures found: %1").arg(count));
    if (count > 0) {
        ui->m_checkBox_ZELDMXProgramAll->setEnabled(true);
        readFixtureRevision();
    }
    searchListSettled();
}

void zeldmxInterfaceControl::readFixtureRevision()
{
    const QComboBox *list = ui->m_comboBox_ZELDMXFixtureSNs;
    if (list->count() == 0)
        return;
    const quint32 serial = quint32(list->currentData().toULongLong());
    quint16 scratch = 0;
    m_hollis.fixtureReadFirmwareVersion(m_supply, 0, serial, scratch);
    m_revisionSerial = serial;
    m_revisionPending = true;
    m_revisionTimer->start();
}

void zeldmxInterfaceControl::handleFixtureFWNumber()
{
    m_revisionPending = false;
    const QComboBox *list = ui->m_comboBox_ZELDMXFixtureSNs;
    if (m_running || m_discovering || list->count() == 0)
        return;
    const quint32 serial = quint32(list->currentData().toULongLong());
    // Another fixture was chosen while this one was read: read that one.
    if (serial != m_revisionSerial) {
        readFixtureRevision();
        return;
    }
    const QVariant version = m_hollis.getFixtureProperty(m_supply, 0, serial,
                                                         "fixture_firmware_version");
    bool allowed = true;
    if (!version.isValid()) {
        m_revisionsRead.remove(serial);
        ui->m_label_fixtureRev->setText(tr("Rev. ?"));
        log(LOG_WARNING, tr("SN %1 did not report its firmware revision.").arg(paddedSerial(serial)));
        // Whether an LX fixture is new enough to take the update is not known.
        allowed = !isLxFamily();
    } else {
        const uint v = version.toUInt();
        m_revisionsRead.insert(serial, QString::number(v));
        ui->m_label_fixtureRev->setText(QStringLiteral("Rev. %1").arg(v));
        if (isLxFamily() && v <= kLastLxVersionRefused) {
            allowed = false;
            log(LOG_WARNING, tr("SN %1 runs firmware version %2: fixtures of this family below "
                                "version %3 cannot be updated here.")
                                 .arg(paddedSerial(serial))
                                 .arg(v)
                                 .arg(kLastLxVersionRefused + 1));
        }
    }
    m_listedFixtureProgrammable = allowed;
    emit signal_enableProgramButton(allowed);
    QCoreApplication::processEvents();
    if (m_searchStage == SearchStage::Ports && m_searchAwaitsRevision)
        searchRevisionRead(serial, allowed);
}

void zeldmxInterfaceControl::on_m_comboBox_ZELDMXFixtureSNs_currentIndexChanged(int)
{
    emit signal_enableProgramButton(false);
    m_listedFixtureProgrammable = false;
    QCoreApplication::processEvents();
    if (m_running)
        return;
    // The revision shown is the chosen fixture's: read it unless a read is
    // under way (its answer then starts the read of the fixture now chosen).
    if (m_listSettled && !m_revisionPending && ui->m_comboBox_ZELDMXFixtureSNs->count() > 0) {
        ui->m_label_fixtureRev->clear();
        readFixtureRevision();
    }
}

// ---------------------------------------------------------------- manual serial

bool zeldmxInterfaceControl::manualSerial(quint32 &serial) const
{
    bool ok = false;
    serial = ui->m_lineEdit_ZELDMXManualFixtureSN->displayText().toUInt(&ok, 16);
    return ok;
}

void zeldmxInterfaceControl::on_m_lineEdit_ZELDMXManualFixtureSN_cursorPositionChanged(int,
                                                                                      int newPos)
{
    QLineEdit *edit = ui->m_lineEdit_ZELDMXManualFixtureSN;
    const int end = int(edit->text().trimmed().length());
    if (newPos > end)
        edit->setCursorPosition(end);
}

void zeldmxInterfaceControl::on_m_lineEdit_ZELDMXManualFixtureSN_textEdited(QString)
{
    quint32 serial = 0;
    // A half-typed serial leaves PROGRAM to the listed fixture, and only when
    // its revision allows it.
    const bool listed =
        ui->m_comboBox_ZELDMXFixtureSNs->count() > 0 && m_listedFixtureProgrammable;
    emit signal_enableProgramButton(manualSerial(serial) || listed);
}

// ---------------------------------------------------------------- programming

void zeldmxInterfaceControl::setRunControlsEnabled(bool enable)
{
    ui->m_pushButton_ZELDMXDiscoverEnabler->setEnabled(enable);
    ui->m_comboBox_ZELDMXEnablers->setEnabled(enable);
    ui->m_comboBox_port->setEnabled(enable);
    ui->m_pushButton_ZELDMXDiscoverFixture->setEnabled(
        enable && m_supply >= 0 && supplyType(m_supply) == kNetworkSupply);
    ui->m_comboBox_ZELDMXFixtureSNs->setEnabled(enable);
    ui->m_lineEdit_ZELDMXManualFixtureSN->setEnabled(enable);
    ui->m_checkBox_ZELDMXProgramAll->setEnabled(enable
                                                && ui->m_comboBox_ZELDMXFixtureSNs->count() > 0);
}

void zeldmxInterfaceControl::refuseRun(const QString &reason)
{
    log(LOG_WARNING, tr("Nothing was programmed: %1").arg(reason));
    m_prompter.showMessage(this, Prompter::Kind::Critical, tr("Zel Firmware Updater"),
                           tr("Nothing was programmed.\n\n%1").arg(reason), QMessageBox::Ok);
    setRunControlsEnabled(true);
    emit signal_programComplete();
}

void zeldmxInterfaceControl::program(BootLoadProduct *product)
{
    if (m_running || m_shutDown)
        return;
    if (product)
        m_product = product;
    log(LOG_INFO, QStringLiteral("Programming %1...").arg(m_product ? m_product->name() : QString()));
    setRunControlsEnabled(false);

    const QComboBox *list = ui->m_comboBox_ZELDMXFixtureSNs;
    const bool programAll = ui->m_checkBox_ZELDMXProgramAll->isChecked();
    QString why;
    if (!m_product || !m_product->imageReady()) {
        why = tr("No firmware image has been accepted for %1.")
                  .arg(m_product ? m_product->name() : tr("the selected device type"));
    } else if (FixtureBootloadEngine::layoutOf(*m_product, &why)
               == FixtureBootloadEngine::Layout::None) {
        // why says what does not fit
    } else if (m_supply < 0 || currentPort() < 0) {
        why = tr("No power supply and port are chosen: press Discover Enabler and choose the "
                 "supply and port of the fixtures.");
    } else if (programAll && list->count() == 0) {
        why = tr("No fixtures are listed: press Discover Fixture SN first.");
    }
    quint32 serial = 0;
    if (why.isEmpty() && !programAll && !manualSerial(serial)) {
        if (list->count() == 0)
            why = tr("No fixture is chosen: choose one from the list or type its serial number.");
        else
            serial = quint32(list->currentData().toULongLong());
    }
    if (!why.isEmpty()) {
        refuseRun(why);
        return;
    }

    const QString title = tr("Zel Firmware Updater");
    const QString question = programAll
        ? tr("You are about to update the firmware of ALL %1's on this supply!\nDo you wish to "
             "continue?")
              .arg(m_product->name())
        : tr("You are about to update the firmware of SN:%1!\nDo you wish to continue?")
              .arg(paddedSerial(serial));
    if (!programAll)
        m_currentSerial = serial;
    // From here the run owns the panel: timers and answers wait, so that
    // nothing re-enables PROGRAM or changes the list under the confirmation.
    const bool windowWasOpen = m_discovering;
    if (m_searchStage != SearchStage::None)
        answerSearch(false, tr("The fixture search was ended by a run."));
    stopTimers();
    m_running = true;
    // Until a fixture's boot-load starts, a record of this run took no time.
    m_recorder.stopClock();
    m_answersMissed = false;
    const QString address = programAll ? QStringLiteral("all") : paddedSerial(serial);
    m_confirming = true;
    m_confirmingAddress = address;
    const QMessageBox::StandardButton answer = programAll
        ? m_prompter.askGuarding(GuardingQuestion::AllFixtures, this, Prompter::Kind::Warning,
                                 title, question, QMessageBox::Ok | QMessageBox::Cancel,
                                 QMessageBox::Cancel)
        : m_prompter.confirmRun(this, Prompter::Kind::Warning, title, question,
                                QMessageBox::Ok | QMessageBox::Cancel, QMessageBox::Cancel);
    m_confirming = false;
    // Closed meanwhile: shutdown() has recorded the run as not confirmed.
    if (m_shutDown) {
        m_running = false;
        return;
    }
    bool go = answer == QMessageBox::Ok;
    UpdateRecord::Outcome stoppedAs = UpdateRecord::Outcome::Cancelled;
    QString stoppedWhy = tr("The update was not confirmed.");
    if (go && !programAll && !m_serialPrefixes.contains(serial >> 16)) {
        const QString text = tr("Serial number of fixture does not match the fixture type!");
        log(LOG_WARNING, text + QStringLiteral(" SN:%1").arg(paddedSerial(serial)));
        m_prompter.showMessage(this, Prompter::Kind::Critical, title, text, QMessageBox::Cancel);
        go = false;
        stoppedAs = UpdateRecord::Outcome::Failed;
        stoppedWhy = text + tr(" Nothing was sent to it.");
    }
    if (!go) {
        m_running = false;
        m_recorder.emitEnded(runRecord(address), stoppedAs, stoppedWhy);
        setRunControlsEnabled(true);
        emit signal_enableProgramButton(true);
        resumeAfterCancel(windowWasOpen);
        return;
    }

    // The fixtures are those listed when the operator agreed; nothing that
    // arrives during the run changes them.
    QList<quint32> serials;
    if (programAll) {
        for (int i = 0; i < list->count(); ++i) {
            const quint32 s = quint32(list->itemData(i).toULongLong());
            if (!serials.contains(s))
                serials.append(s);
        }
    } else {
        serials.append(serial);
    }
    if (serials.isEmpty()) {
        m_running = false;
        refuseRun(tr("No fixtures are listed: press Discover Fixture SN first."));
        return;
    }
    m_runOutcomes.clear();
    m_runSerials = serials;
    m_runNext = 0;
    m_runProgramAll = programAll;
    readRevisionsBefore();
}

void zeldmxInterfaceControl::readRevisionsBefore()
{
    m_beforeSerials.clear();
    for (quint32 s : std::as_const(m_runSerials)) {
        if (m_revisionsRead.contains(s))
            continue;
        quint16 scratch = 0;
        if (m_hollis.fixtureReadFirmwareVersion(m_supply, 0, s, scratch))
            m_beforeSerials.append(s);
    }
    if (m_beforeSerials.isEmpty())
        runNextFixture();
    else
        m_beforeTimer->start(m_timing.revisionReadWait);
}

void zeldmxInterfaceControl::handleRevisionsBefore()
{
    if (!m_running)
        return;
    // A fixture that did not answer stays unknown: its check then compares
    // with the image only.
    for (quint32 s : std::as_const(m_beforeSerials)) {
        const QVariant version = m_hollis.getFixtureProperty(m_supply, 0, s, "fixture_firmware_version");
        if (version.isValid())
            m_revisionsRead.insert(s, QString::number(version.toUInt()));
    }
    m_beforeSerials.clear();
    runNextFixture();
}

void zeldmxInterfaceControl::runNextFixture()
{
    while (m_runNext < m_runSerials.size()) {
        const quint32 s = m_runSerials.at(m_runNext++);
        m_currentSerial = s;
        m_recorder.startClock();
        m_inEngine = true;
        const FixtureOutcome result = bootloadFixture(m_product, s);
        m_inEngine = false;
        // Closed meanwhile: shutdown() has recorded this fixture and the rest.
        if (m_shutDown)
            return;
        m_runOutcomes.append(result);
        const FixtureOutcome &outcome = m_runOutcomes.last();
        if (outcome.updated()) {
            // The fixture has restarted: what it reports now tells whether it runs the image.
            m_checkClock.start();
            readCheckRevision();
            return;
        }
        emitRecord(outcome);
    }
    m_running = false;
    finishRun(m_runProgramAll, int(m_runSerials.size()));
}

void zeldmxInterfaceControl::readCheckRevision()
{
    const FixtureOutcome &outcome = m_runOutcomes.last();
    quint16 scratch = 0;
    // A read the library refused to start has no answer to wait for; it is
    // tried again after the same time, so that a stale value never counts.
    m_checkReadStarted =
        m_hollis.fixtureReadFirmwareVersion(outcome.device, 0, outcome.serial, scratch);
    const qint64 left = qMax<qint64>(0, m_verifyWaitMs - m_checkClock.elapsed());
    m_checkTimer->start(int(qMin<qint64>(m_timing.revisionReadWait, left)));
}

void zeldmxInterfaceControl::handleCheckTimeout()
{
    if (!m_running || m_runOutcomes.isEmpty())
        return;
    const FixtureOutcome &outcome = m_runOutcomes.last();
    const QVariant version = m_checkReadStarted
        ? m_hollis.getFixtureProperty(outcome.device, 0, outcome.serial, "fixture_firmware_version")
        : QVariant();
    if (version.isValid()) {
        const FixtureImageRevision image = FixtureImageRevision::of(*m_product);
        endCheck(image.judge(version.toUInt(), m_revisionsRead.value(outcome.serial)));
    } else if (m_checkClock.elapsed() >= m_verifyWaitMs) {
        endCheck(RevisionCheck::noAnswer(
            tr("the fixture did not report its firmware version within %1").arg(waitText(m_verifyWaitMs))));
    } else {
        readCheckRevision();
    }
}

void zeldmxInterfaceControl::endCheck(const RevisionCheck &check)
{
    FixtureOutcome &outcome = m_runOutcomes.last();
    const QString serial = paddedSerial(outcome.serial);
    LOGPRIORITY priority = LOG_INFO;
    if (check.failed())
        priority = LOG_SEVERE;
    else if (check.result != RevisionCheck::Result::Verified)
        priority = LOG_WARNING;
    log(priority, QStringLiteral("SN:%1 - %2").arg(serial, check.summary()));
    outcome.check = check;
    emitRecord(outcome);
    if (check.revisionAfter.isNull())
        m_revisionsRead.remove(outcome.serial);
    else
        m_revisionsRead.insert(outcome.serial, check.revisionAfter);
    runNextFixture();
}

UpdateRecord zeldmxInterfaceControl::runRecord(const QString &address) const
{
    const bool oneFixture = m_product && address != QLatin1String("all");
    return m_recorder.make(m_product, address,
                           oneFixture ? m_revisionsRead.value(address.toUInt(nullptr, 16)) : QString());
}

void zeldmxInterfaceControl::emitRecord(const FixtureOutcome &outcome)
{
    const UpdateRecord record = runRecord(paddedSerial(outcome.serial));
    if (outcome.check)
        m_recorder.emitChecked(record, *outcome.check);
    else
        m_recorder.emitEnded(record, UpdateRecord::Outcome::Failed, outcome.reason);
}

void zeldmxInterfaceControl::resumeAfterCancel(bool windowWasOpen)
{
    QComboBox *list = ui->m_comboBox_ZELDMXFixtureSNs;
    if (windowWasOpen || m_answersMissed) {
        m_discovering = true;
        refreshFixtureList();
        m_fixtureTimer->start();
    } else if (!m_listSettled && (list->count() > 0 || !m_lxSerials.isEmpty())) {
        settleFixtureList();
    } else if (m_listSettled && list->count() > 0 && ui->m_label_fixtureRev->text().isEmpty()) {
        readFixtureRevision();
    }
}

FixtureOutcome zeldmxInterfaceControl::bootloadFixture(BootLoadProduct *product, quint32 serial)
{
    QString why;
    switch (FixtureBootloadEngine::layoutOf(*product, &why)) {
    case FixtureBootloadEngine::Layout::IntelHex:
        return bootloadIntelHex(product, serial);
    case FixtureBootloadEngine::Layout::IntelHexPSoC:
        return bootloadIntelHexPSoC(product, serial);
    case FixtureBootloadEngine::Layout::None:
        break;
    }
    const MicroprocessorImageInfo *main = product->processor(0);
    if (product->processorCount() == 1 && main)
        log(LOG_WARNING, QStringLiteral("SN %1 unhandled single processor type %2.")
                             .arg(paddedSerial(serial))
                             .arg(main->fileType()));
    return notRun(serial, why);
}

FixtureOutcome zeldmxInterfaceControl::notRun(quint32 serial, const QString &reason) const
{
    FixtureOutcome outcome;
    outcome.serial = serial;
    outcome.device = m_supply;
    outcome.port = currentPort();
    outcome.reason = reason;
    return outcome;
}

FixtureOutcome zeldmxInterfaceControl::bootloadIntelHex(BootLoadProduct *product, quint32 serial)
{
    if (!product)
        return notRun(serial, tr("No device type is selected."));
    return m_engine->bootloadIntelHex(*product, serial, m_supply, currentPort());
}

FixtureOutcome zeldmxInterfaceControl::bootloadIntelHexPSoC(BootLoadProduct *product,
                                                            quint32 serial)
{
    if (!product)
        return notRun(serial, tr("No device type is selected."));
    return m_engine->bootloadIntelHexPSoC(*product, serial, m_supply, currentPort());
}

void zeldmxInterfaceControl::finishRun(bool programAll, int fixtures)
{
    // A fixture that reports another version after its update failed as
    // surely as one that refused a step: both stay listed for a retry.
    QStringList failedLines;
    QStringList checkedLines;
    QList<quint32> failed;
    bool allVerified = true;
    for (const FixtureOutcome &o : std::as_const(m_runOutcomes)) {
        const QString sn = paddedSerial(o.serial);
        if (!o.updated()) {
            failed.append(o.serial);
            failedLines.append(QStringLiteral("SN:%1 - %2").arg(sn, o.reason));
            continue;
        }
        const QString line = QStringLiteral("SN:%1 - %2").arg(sn, o.check->summary());
        if (o.check->failed()) {
            failed.append(o.serial);
            failedLines.append(line);
        } else {
            checkedLines.append(line);
            allVerified = allVerified && o.check->result == RevisionCheck::Result::Verified;
        }
    }
    const int updated = fixtures - int(failed.size());
    const QString title = tr("Zel Firmware Updater");
    QComboBox *list = ui->m_comboBox_ZELDMXFixtureSNs;
    QLineEdit *serialField = ui->m_lineEdit_ZELDMXManualFixtureSN;
    const QString checked = checkedLines.join(QLatin1Char('\n'));

    if (failed.isEmpty()) {
        const QString count = tr("%1 of %2 fixtures were updated.").arg(updated).arg(fixtures);
        log(LOG_INFO, count);
        QString text = tr("Programming complete!");
        if (programAll)
            text += QStringLiteral("\n\n") + count;
        text += QStringLiteral("\n\n") + checked;
        m_prompter.showMessage(this,
                               allVerified ? Prompter::Kind::Information : Prompter::Kind::Warning,
                               tr("Information"), text, QMessageBox::Ok);
        list->clear();
        ui->m_label_fixtureRev->clear();
        m_listSettled = false;
        setRunControlsEnabled(true);
        serialField->clear();
        ui->m_checkBox_ZELDMXProgramAll->setEnabled(false);
        serialField->setFocus();
        emit signal_programComplete();
        return;
    }

    QStringList failedSerials;
    for (quint32 s : std::as_const(failed))
        failedSerials.append(paddedSerial(s));
    log(LOG_SEVERE, tr("%1 of %2 fixtures were updated. Not updated: %3.")
                        .arg(updated)
                        .arg(fixtures)
                        .arg(failedSerials.join(QStringLiteral(", "))));
    const QString text = programAll
        ? tr("Programming finished with errors: %1 of %2 fixtures were updated.\n\nNot "
             "updated:\n%3\n\n%4The fixtures that were not updated stay in the list. Check "
             "their connection and press PROGRAM to try them again.")
              .arg(updated)
              .arg(fixtures)
              .arg(failedLines.join(QLatin1Char('\n')),
                   checked.isEmpty() ? QString() : tr("Updated:\n%1\n\n").arg(checked))
        : tr("Programming failed.\n\n%1\n\nCheck the fixture's connection and press PROGRAM to "
             "try again.")
              .arg(failedLines.join(QLatin1Char('\n')));
    m_prompter.showMessage(this, Prompter::Kind::Critical, title, text, QMessageBox::Ok);

    if (programAll) {
        const QSignalBlocker blocker(list);
        list->clear();
        for (quint32 s : std::as_const(failed))
            addFixtureEntry(s);
    }
    // The fixtures stay offered as they are: one left in its boot loader does
    // not report a revision, yet must be programmed again.
    ui->m_label_fixtureRev->clear();
    m_listSettled = true;
    m_listedFixtureProgrammable = true;
    setRunControlsEnabled(true);
    emit signal_enableProgramButton(true);
}

// ---------------------------------------------------------------- device search

void zeldmxInterfaceControl::findDevice(const QString &address)
{
    const QString given = address.trimmed();
    QString refusal;
    if (m_searchStage != SearchStage::None || m_running)
        refusal = tr("A fixture search or a run is already under way.");
    static const QRegularExpression serialPattern(QStringLiteral("^[0-9A-Fa-f]{8}$"));
    const bool all = given.compare(QLatin1String("all"), Qt::CaseInsensitive) == 0;
    if (refusal.isEmpty() && !all && !serialPattern.match(given).hasMatch())
        refusal = tr("\"%1\" is not a fixture serial number: give its eight hexadecimal digits, "
                     "or \"all\".")
                      .arg(given);
    if (!refusal.isEmpty()) {
        QTimer::singleShot(0, this, [this, refusal] {
            log(LOG_WARNING, refusal);
            emit signal_deviceSearchDone(false, refusal);
        });
        return;
    }
    m_searchAll = all;
    m_searchSerial = all ? 0 : given.toUInt(nullptr, 16);
    m_searchNote.clear();
    m_searchStage = SearchStage::Supplies;
    QTimer::singleShot(0, this, &zeldmxInterfaceControl::beginSearch);
}

int zeldmxInterfaceControl::searchStepLimit() const
{
    // Far beyond what one step takes: a step that never ends must not hold the search.
    return 2 * (m_timing.portListDelay + m_timing.fixtureWindow + m_timing.lxQueryWait
                + m_timing.revisionReadWait)
        + 1000;
}

void zeldmxInterfaceControl::beginSearch()
{
    if (m_shutDown || m_searchStage != SearchStage::Supplies)
        return;
    log(LOG_INFO, m_searchAll ? tr("Looking for every fixture on the supplies...")
                              : tr("Looking for fixture %1...").arg(paddedSerial(m_searchSerial)));
    on_m_pushButton_ZELDMXDiscoverEnabler_clicked();
    m_searchTimer->start(qMax(m_timing.portListDelay, m_timing.fixtureWindow));
}

void zeldmxInterfaceControl::handleSearchTimeout()
{
    switch (m_searchStage) {
    case SearchStage::None:
        return;
    case SearchStage::Supplies:
        if (ui->m_comboBox_ZELDMXEnablers->count() == 0) {
            searchNotFound();
            return;
        }
        // The first supply's ports are listed now rather than after their delay.
        if (m_portsTimer->isActive()) {
            m_portsTimer->stop();
            updatePorts();
        }
        m_searchSupplyIndex = 0;
        searchSupply();
        return;
    case SearchStage::Fixtures:
        // The discovery did not settle: look at what answered so far.
        searchFixturesKnown();
        return;
    case SearchStage::Ports:
        searchNextPort();
        return;
    }
}

void zeldmxInterfaceControl::searchSupply()
{
    QComboBox *supplies = ui->m_comboBox_ZELDMXEnablers;
    if (m_searchSupplyIndex >= supplies->count()) {
        searchNotFound();
        return;
    }
    if (supplies->currentIndex() != m_searchSupplyIndex)
        supplies->setCurrentIndex(m_searchSupplyIndex);
    m_searchStage = SearchStage::Fixtures;
    m_searchTimer->start(searchStepLimit());
    // A USB supply lists its fixtures while connected; a network supply's are discovered.
    if (supplyType(m_supply) != kNetworkSupply)
        searchFixturesKnown();
    else if (!m_discovering)
        on_m_pushButton_ZELDMXDiscoverFixture_clicked();
}

void zeldmxInterfaceControl::searchFixturesKnown()
{
    if (m_searchStage != SearchStage::Fixtures)
        return;
    m_searchPorts.clear();
    const QComboBox *ports = ui->m_comboBox_port;
    const QString supplyName = ui->m_comboBox_ZELDMXEnablers->currentText();
    for (int i = 0; i < ports->count(); ++i) {
        bool candidate = false;
        for (quint64 s : m_hollis.portFixtureList(m_supply, ports->itemData(i).toInt())) {
            const quint32 serial = quint32(s);
            const bool ofType = m_serialPrefixes.contains(serial >> 16);
            if (m_searchAll) {
                candidate = candidate || ofType;
            } else if (serial == m_searchSerial) {
                candidate = ofType;
                if (!ofType)
                    m_searchNote = tr("Fixture %1 answers on port %2 of %3, but it is not a %4.")
                                       .arg(paddedSerial(serial), ports->itemText(i), supplyName,
                                            m_product ? m_product->name()
                                                      : tr("fixture of the selected type"));
            }
        }
        if (candidate)
            m_searchPorts.append(i);
    }
    m_searchStage = SearchStage::Ports;
    searchNextPort();
}

void zeldmxInterfaceControl::searchNextPort()
{
    if (m_searchStage != SearchStage::Ports)
        return;
    m_searchAwaitsRevision = false;
    if (m_searchPorts.isEmpty()) {
        ++m_searchSupplyIndex;
        searchSupply();
        return;
    }
    // The port's list is built and settled as the operator's choice of port
    // would; its end (searchListSettled) takes the search on.
    m_searchTimer->start(searchStepLimit());
    QComboBox *ports = ui->m_comboBox_port;
    const int port = m_searchPorts.takeFirst();
    if (ports->currentIndex() != port)
        ports->setCurrentIndex(port);
    else
        portChanged();
}

void zeldmxInterfaceControl::searchListSettled()
{
    if (m_searchStage != SearchStage::Ports || m_searchAwaitsRevision)
        return;
    QComboBox *list = ui->m_comboBox_ZELDMXFixtureSNs;
    const int entry = m_searchAll ? (list->count() > 0 ? list->currentIndex() : -1)
                                  : list->findData(QVariant::fromValue<quint64>(m_searchSerial));
    if (entry < 0) {
        // Not listed for this product here (the LX feature tells): the next port.
        QTimer::singleShot(0, this, &zeldmxInterfaceControl::searchNextPort);
        return;
    }
    // Found once its revision is read and shown, as the operator would see it.
    m_searchAwaitsRevision = true;
    if (list->currentIndex() != entry)
        list->setCurrentIndex(entry);
}

void zeldmxInterfaceControl::searchRevisionRead(quint32 serial, bool allowed)
{
    if (!m_searchAll && serial != m_searchSerial)
        return;
    const QString where = tr("port %1 of %2").arg(ui->m_comboBox_port->currentText(),
                                                  ui->m_comboBox_ZELDMXEnablers->currentText());
    // PROGRAM takes a typed serial first: the field is emptied so that it
    // acts on what the search chose.
    ui->m_lineEdit_ZELDMXManualFixtureSN->clear();
    if (m_searchAll && allowed) {
        ui->m_checkBox_ZELDMXProgramAll->setChecked(true);
        answerSearch(true, tr("%1 fixtures found on %2; all of them are chosen.")
                               .arg(ui->m_comboBox_ZELDMXFixtureSNs->count())
                               .arg(where));
        return;
    }
    ui->m_checkBox_ZELDMXProgramAll->setChecked(false);
    if (!allowed) {
        // Not entered by hand either: that would be a way around the version
        // rule. Nor is "all" offered past a fixture that the rule refuses.
        answerSearch(false, tr("Fixture %1 was found on %2, but its firmware revision cannot be "
                               "updated here (%3).")
                                .arg(paddedSerial(serial), where, ui->m_label_fixtureRev->text()));
        return;
    }
    answerSearch(true, tr("Fixture %1 found on %2.").arg(paddedSerial(serial), where));
}

void zeldmxInterfaceControl::searchNotFound()
{
    const bool noSupply = ui->m_comboBox_ZELDMXEnablers->count() == 0;
    QString message;
    if (m_searchAll) {
        const QString type = m_product ? m_product->name() : tr("selected type");
        message = noSupply
            ? tr("No power supply answered discovery, so no %1 fixture can be reached.").arg(type)
            : tr("No %1 fixture was found on any supply.").arg(type);
        answerSearch(false, message);
        return;
    }
    const QString serial = paddedSerial(m_searchSerial);
    if (noSupply)
        message = tr("No power supply answered discovery, so fixture %1 cannot be reached.")
                      .arg(serial);
    else if (!m_searchNote.isEmpty())
        message = m_searchNote;
    else
        message = tr("Fixture %1 was not found on any supply.").arg(serial);
    // Left as the operator would type it, with PROGRAM offered as typing offers it.
    QLineEdit *serialField = ui->m_lineEdit_ZELDMXManualFixtureSN;
    serialField->setText(serial);
    on_m_lineEdit_ZELDMXManualFixtureSN_textEdited(serialField->text());
    answerSearch(false, message);
}

void zeldmxInterfaceControl::answerSearch(bool found, const QString &message)
{
    m_searchStage = SearchStage::None;
    m_searchAwaitsRevision = false;
    m_searchTimer->stop();
    log(found ? LOG_INFO : LOG_WARNING, message);
    emit signal_deviceSearchDone(found, message);
}
