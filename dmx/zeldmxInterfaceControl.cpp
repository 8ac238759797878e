#include "dmx/zeldmxInterfaceControl.h"

#include "ui_zeldmxInterfaceControl.h"

#include "base/Pauser.h"
#include "base/Prompter.h"
#include "catalogue/BootLoadProduct.h"
#include "catalogue/ImageVersion.h"
#include "dmx/FixtureBootloadEngine.h"
#include "dmx/FixtureRevision.h"
#include "dmx/FixtureRun.h"
#include "dmx/FixtureSerial.h"
#include "dmx/Hollis.h"

#include <QCoreApplication>
#include <QHostAddress>
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
    const auto logText = [this](LOGPRIORITY priority, const QString &text) { log(priority, text); };
    m_run = new FixtureRun(m_hollis, *m_engine, m_recorder, this);
    connect(m_run, &FixtureRun::logged, this, logText);
    connect(m_run, &FixtureRun::waitChanged, this, [this](const QString &text, bool showElapsed) {
        if (text.isEmpty())
            endWait();
        else
            beginWait(text, showElapsed);
    });
    connect(m_run, &FixtureRun::finished, this, [this] {
        m_running = false;
        finishRun();
    });
    m_search = new FixtureSearch(*this, this);
    connect(m_search, &FixtureSearch::logged, this, logText);
    connect(m_search, &FixtureSearch::done, this, [this](bool found, const QString &message) {
        log(found ? LOG_INFO : LOG_WARNING, message);
        emit signal_deviceSearchDone(found, message);
    });

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
    m_run->setReadWait(timing.revisionReadWait);
    // Far beyond what one step takes: a step that never ends must not hold the search.
    m_search->setWaits(qMax(timing.portListDelay, timing.fixtureWindow),
                       2 * (timing.portListDelay + timing.fixtureWindow + timing.lxQueryWait
                            + timing.revisionReadWait)
                           + 1000);
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
    m_search->halt();
    if (m_running)
        stopRun();
    if (m_supply >= 0 && supplyType(m_supply) == kUsbSupply
        && m_hollis.getDeviceProperty(m_supply, "connected").toBool())
        m_hollis.usbDisconnect(m_supply);
}

void zeldmxInterfaceControl::startOver()
{
    if (m_search->isActive())
        m_search->end(tr("The fixture search ended: the operator started over."));
    stopTimers();
    // The window has cleared the status bar.
    m_listStatus.clear();
    {
        const QSignalBlocker blocker(ui->m_comboBox_ZELDMXFixtureSNs);
        ui->m_comboBox_ZELDMXFixtureSNs->clear();
    }
    m_lxSerials.clear();
    m_listSettled = false;
    m_answersMissed = false;
    m_listedFixtureProgrammable = false;
    m_fixtureResponses.clear();
    m_run->forgetRevisions();
    ui->m_label_fixtureRev->clear();
    ui->m_lineEdit_ZELDMXManualFixtureSN->clear();
    ui->m_checkBox_ZELDMXProgramAll->setChecked(false);
    setRunControlsEnabled(true);
    emit signal_enableProgramButton(false);
}

void zeldmxInterfaceControl::stopRun()
{
    m_running = false;
    // Nobody takes records from a panel being destroyed.
    const bool report = !m_destroying;
    if (!m_confirming) {
        m_run->stop(report);
        return;
    }
    log(LOG_WARNING, tr("The run was not started: the updater is closing."));
    if (report)
        m_recorder.emitEnded(runRecord(m_confirmingAddress), UpdateRecord::Outcome::Cancelled,
                             tr("The updater closed before the update was confirmed."));
}

void zeldmxInterfaceControl::showListStatus(const QString &text)
{
    if (text.isEmpty() && m_listStatus.isEmpty())
        return;
    m_listStatus = text;
    emit signal_updateStatus(text);
}

void zeldmxInterfaceControl::stopTimers()
{
    m_fixtureTimer->stop();
    m_portsTimer->stop();
    m_lxTimer->stop();
    m_revisionTimer->stop();
    m_discovering = false;
    m_revisionPending = false;
    endWait();
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
    m_search->supplyAnswered();
}

void zeldmxInterfaceControl::on_m_comboBox_ZELDMXEnablers_currentIndexChanged(int index)
{
    showListStatus(QString());
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
    showListStatus(QString());
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
    showListStatus(QString());
    beginWait(discoveryWaitText());
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
    m_search->fixtureAnswered();
    const int device = deviceForAddress(ip);
    if (device != -1 && !m_fixtureResponses.contains(device, sn)) {
        log(LOG_INFO, QStringLiteral("Fixture response from Vask:%1 SN %2.")
                          .arg(device)
                          .arg(FixtureSerial::text(quint32(sn))));
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
    updateWait(discoveryWaitText());
    m_fixtureTimer->start();
}

QString zeldmxInterfaceControl::discoveryWaitText() const
{
    const QComboBox *ports = ui->m_comboBox_port;
    const QString text = ports->currentIndex() < 0
        ? tr("Discovering fixtures…")
        : tr("Discovering fixtures on port %1…").arg(ports->currentText());
    // Fixtures of the LX family are listed only once their features are read.
    const int found = ui->m_comboBox_ZELDMXFixtureSNs->count();
    return found > 0 ? tr("%1 %2 found").arg(text).arg(found) : text;
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
        list->addItem(FixtureSerial::text(serial), data);
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
    m_search->fixtureWindowEnded();
}

void zeldmxInterfaceControl::settleFixtureList()
{
    if (isLxFamily()) {
        // Those of the other ports too: an empty list then says where the product's fixtures are.
        const QComboBox *ports = ui->m_comboBox_port;
        for (int i = 0; i < ports->count(); ++i) {
            for (quint64 serial : m_hollis.portFixtureList(m_supply, ports->itemData(i).toInt())) {
                bool scratch = false;
                if (ofProductType(quint32(serial)))
                    m_hollis.fixtureReadLXEnable(m_supply, 0, serial, scratch);
            }
        }
        beginWait(tr("Reading which fixtures have the LX feature…"));
        m_lxTimer->start();
        return;
    }
    m_listSettled = true;
    offerSettledList();
}

void zeldmxInterfaceControl::offerSettledList()
{
    endWait();
    const int count = ui->m_comboBox_ZELDMXFixtureSNs->count();
    QString status = tr("Fixtures found: %1").arg(count);
    // A search goes on to the other ports itself.
    if (count == 0 && !m_search->isActive()) {
        const QStringList elsewhere = answeredOnOtherPorts();
        for (const QString &line : elsewhere)
            log(LOG_WARNING, line);
        if (!elsewhere.isEmpty())
            status += QStringLiteral(" — ") + elsewhere.join(QLatin1Char(' '));
    }
    showListStatus(status);
    if (count > 0) {
        ui->m_checkBox_ZELDMXProgramAll->setEnabled(true);
        readFixtureRevision();
    }
    m_search->listSettled();
}

void zeldmxInterfaceControl::handleFixtureLXEnableQueryTimeout()
{
    // A discovery window opened since: its end reads the features again.
    if (m_running || m_discovering)
        return;
    QComboBox *list = ui->m_comboBox_ZELDMXFixtureSNs;
    {
        const QSignalBlocker blocker(list);
        list->clear();
        for (quint32 serial : std::as_const(m_lxSerials)) {
            if (listsFixture(serial))
                addFixtureEntry(serial);
        }
    }
    m_listSettled = true;
    QCoreApplication::processEvents();
    // An answer taken while events were processed started a new list.
    if (!m_listSettled || m_running)
        return;
    offerSettledList();
}

bool zeldmxInterfaceControl::listsFixture(quint32 serial) const
{
    if (!ofProductType(serial))
        return false;
    if (!isLxFamily())
        return true;
    const QString name = m_product ? m_product->name() : QString();
    const bool lx = m_hollis.getFixtureProperty(m_supply, 0, serial, "lx_enabled").toBool();
    return lx ? name.contains(QLatin1String("lX")) : name.contains(QLatin1String("Vireo"));
}

QStringList zeldmxInterfaceControl::answeredOnOtherPorts() const
{
    QStringList said;
    const QComboBox *ports = ui->m_comboBox_port;
    for (int i = 0; i < ports->count(); ++i) {
        if (i == ports->currentIndex())
            continue;
        int count = 0;
        for (quint64 serial : m_hollis.portFixtureList(m_supply, ports->itemData(i).toInt()))
            count += listsFixture(quint32(serial)) ? 1 : 0;
        if (count == 1)
            said.append(tr("1 %1 fixture answered on port %2.").arg(productName(), ports->itemText(i)));
        else if (count > 1)
            said.append(tr("%1 %2 fixtures answered on port %3.").arg(count).arg(productName(), ports->itemText(i)));
    }
    return said;
}

void zeldmxInterfaceControl::readFixtureRevision()
{
    const QComboBox *list = ui->m_comboBox_ZELDMXFixtureSNs;
    if (list->count() == 0)
        return;
    const quint32 serial = quint32(list->currentData().toULongLong());
    quint16 scratch = 0;
    beginWait(tr("Reading the revision of SN:%1…").arg(FixtureSerial::text(serial)));
    m_hollis.fixtureReadFirmwareVersion(m_supply, 0, serial, scratch);
    m_revisionSerial = serial;
    m_revisionPending = true;
    m_revisionTimer->start();
}

void zeldmxInterfaceControl::handleFixtureFWNumber()
{
    m_revisionPending = false;
    const QComboBox *list = ui->m_comboBox_ZELDMXFixtureSNs;
    // A discovery window has a wait of its own; a run ended this one.
    if (m_running || m_discovering)
        return;
    if (list->count() == 0) {
        endWait();
        return;
    }
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
        m_run->noteRevision(serial, QString());
        ui->m_label_fixtureRev->setText(tr("Rev. ?"));
        log(LOG_WARNING, tr("SN %1 did not report its firmware revision.").arg(FixtureSerial::text(serial)));
        // Whether an LX fixture is new enough to take the update is not known.
        allowed = !isLxFamily();
    } else {
        const uint v = version.toUInt();
        m_run->noteRevision(serial, QString::number(v));
        // Where the accepted image would take it, when the two compare.
        const QString image = m_product ? ImageVersion::of(*m_product).reported : QString();
        ui->m_label_fixtureRev->setText(image.isEmpty() ? QStringLiteral("Rev. %1").arg(v)
                                                        : QStringLiteral("Rev. %1 → %2").arg(v).arg(image));
        if (isLxFamily() && v <= kLastLxVersionRefused) {
            allowed = false;
            log(LOG_WARNING, tr("SN %1 runs firmware version %2: fixtures of this family below "
                                "version %3 cannot be updated here.")
                                 .arg(FixtureSerial::text(serial))
                                 .arg(v)
                                 .arg(kLastLxVersionRefused + 1));
        }
    }
    m_listedFixtureProgrammable = allowed;
    endWait();
    // What the status bar said of the list before the read is still true.
    if (!m_listStatus.isEmpty())
        emit signal_updateStatus(m_listStatus);
    emit signal_enableProgramButton(allowed);
    QCoreApplication::processEvents();
    m_search->revisionShown(serial, allowed);
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
              .arg(FixtureSerial::text(serial));
    // From here the run owns the panel: timers and answers wait, so that
    // nothing re-enables PROGRAM or changes the list under the confirmation.
    const bool windowWasOpen = m_discovering;
    if (m_search->isActive())
        m_search->end(tr("The fixture search was ended by a run."));
    stopTimers();
    // The window clears the status bar for the run.
    m_listStatus.clear();
    m_running = true;
    // Until a fixture's boot-load starts, a record of this run took no time.
    m_recorder.stopClock();
    m_answersMissed = false;
    const QString address = programAll ? QStringLiteral("all") : FixtureSerial::text(serial);
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
        log(LOG_WARNING, text + QStringLiteral(" SN:%1").arg(FixtureSerial::text(serial)));
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
    m_run->start(*m_product, serials, programAll, m_supply, currentPort(), m_verifyWaitMs);
}

UpdateRecord zeldmxInterfaceControl::runRecord(const QString &address) const
{
    return m_run->record(m_product, address);
}

const QList<FixtureOutcome> &zeldmxInterfaceControl::runOutcomes() const
{
    return m_run->outcomes();
}

void zeldmxInterfaceControl::resumeAfterCancel(bool windowWasOpen)
{
    QComboBox *list = ui->m_comboBox_ZELDMXFixtureSNs;
    if (windowWasOpen || m_answersMissed) {
        m_discovering = true;
        refreshFixtureList();
        updateWait(discoveryWaitText());
        m_fixtureTimer->start();
    } else if (!m_listSettled && (list->count() > 0 || !m_lxSerials.isEmpty())) {
        settleFixtureList();
    } else if (m_listSettled && list->count() > 0 && ui->m_label_fixtureRev->text().isEmpty()) {
        readFixtureRevision();
    }
}

FixtureOutcome zeldmxInterfaceControl::bootloadIntelHex(BootLoadProduct *product, quint32 serial)
{
    if (!product)
        return FixtureOutcome::notRun(serial, m_supply, currentPort(), tr("No device type is selected."));
    return m_engine->bootloadIntelHex(*product, serial, m_supply, currentPort());
}

FixtureOutcome zeldmxInterfaceControl::bootloadIntelHexPSoC(BootLoadProduct *product,
                                                            quint32 serial)
{
    if (!product)
        return FixtureOutcome::notRun(serial, m_supply, currentPort(), tr("No device type is selected."));
    return m_engine->bootloadIntelHexPSoC(*product, serial, m_supply, currentPort());
}

void zeldmxInterfaceControl::finishRun()
{
    const FixtureRun::Summary summary = m_run->summary();
    log(summary.priority, summary.logLine);
    m_prompter.showMessage(this, summary.kind, summary.title, summary.text, QMessageBox::Ok);
    QComboBox *list = ui->m_comboBox_ZELDMXFixtureSNs;
    if (summary.failed.isEmpty()) {
        QLineEdit *serialField = ui->m_lineEdit_ZELDMXManualFixtureSN;
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
    if (m_run->programsAll()) {
        const QSignalBlocker blocker(list);
        list->clear();
        for (quint32 s : summary.failed)
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
    m_search->start(address);
}

QString zeldmxInterfaceControl::productName() const
{
    return m_product ? m_product->name() : QString();
}

bool zeldmxInterfaceControl::ofProductType(quint32 serial) const
{
    return m_serialPrefixes.contains(serial >> 16);
}

void zeldmxInterfaceControl::discoverSupplies()
{
    on_m_pushButton_ZELDMXDiscoverEnabler_clicked();
}

int zeldmxInterfaceControl::supplyCount() const
{
    return ui->m_comboBox_ZELDMXEnablers->count();
}

void zeldmxInterfaceControl::chooseSupply(int index)
{
    // The first supply's ports are listed now rather than after their delay.
    if (m_portsTimer->isActive()) {
        m_portsTimer->stop();
        updatePorts();
    }
    QComboBox *supplies = ui->m_comboBox_ZELDMXEnablers;
    if (supplies->currentIndex() != index)
        supplies->setCurrentIndex(index);
}

QString zeldmxInterfaceControl::supplyName() const
{
    return ui->m_comboBox_ZELDMXEnablers->currentText();
}

bool zeldmxInterfaceControl::discoverFixtures()
{
    // A USB supply lists its fixtures while connected; a network supply's are discovered.
    if (supplyType(m_supply) != kNetworkSupply)
        return false;
    if (!m_discovering)
        on_m_pushButton_ZELDMXDiscoverFixture_clicked();
    return true;
}

QList<FixtureSearch::Controls::Port> zeldmxInterfaceControl::ports() const
{
    const QComboBox *ports = ui->m_comboBox_port;
    QList<Port> list;
    for (int i = 0; i < ports->count(); ++i)
        list.append({ports->itemText(i), m_hollis.portFixtureList(m_supply, ports->itemData(i).toInt())});
    return list;
}

void zeldmxInterfaceControl::choosePort(int index)
{
    QComboBox *ports = ui->m_comboBox_port;
    if (ports->currentIndex() != index)
        ports->setCurrentIndex(index);
    else
        portChanged();
}

QString zeldmxInterfaceControl::chosenPortName() const
{
    return ui->m_comboBox_port->currentText();
}

int zeldmxInterfaceControl::listedCount() const
{
    return ui->m_comboBox_ZELDMXFixtureSNs->count();
}

bool zeldmxInterfaceControl::chooseListed(bool all, quint32 serial)
{
    QComboBox *list = ui->m_comboBox_ZELDMXFixtureSNs;
    const int entry = all ? (list->count() > 0 ? list->currentIndex() : -1)
                          : list->findData(QVariant::fromValue<quint64>(serial));
    if (entry < 0)
        return false;
    if (list->currentIndex() != entry)
        list->setCurrentIndex(entry);
    return true;
}

QString zeldmxInterfaceControl::revisionShown() const
{
    return ui->m_label_fixtureRev->text().section(QStringLiteral(" → "), 0, 0);
}

void zeldmxInterfaceControl::offerListed(bool all)
{
    ui->m_lineEdit_ZELDMXManualFixtureSN->clear();
    ui->m_checkBox_ZELDMXProgramAll->setChecked(all);
}

void zeldmxInterfaceControl::typeSerial(quint32 serial)
{
    QLineEdit *serialField = ui->m_lineEdit_ZELDMXManualFixtureSN;
    serialField->setText(FixtureSerial::text(serial));
    on_m_lineEdit_ZELDMXManualFixtureSN_textEdited(serialField->text());
}
