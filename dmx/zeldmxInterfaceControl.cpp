#include "dmx/zeldmxInterfaceControl.h"

#include "ui_zeldmxInterfaceControl.h"

#include "base/Pauser.h"
#include "base/Prompter.h"
#include "catalogue/BootLoadProduct.h"
#include "dmx/Hollis.h"

zeldmxInterfaceControl::zeldmxInterfaceControl(Prompter &prompter, Pauser &pauser,
                                               ZelHollis::Hollis &hollis, QWidget *parent)
    : QWidget(parent), ui(new Ui::zeldmxInterfaceControlClass), m_prompter(prompter),
      m_pauser(pauser), m_hollis(hollis)
{
    ui->setupUi(this);
    setObjectName("zeldmxInterfaceControl");
    // Fixtures can be looked for only once a supply is chosen, and "all" only once some were found.
    ui->m_pushButton_ZELDMXDiscoverFixture->setEnabled(false);
    ui->m_lineEdit_ZELDMXManualFixtureSN->setInputMask("HHHHHHHH;_");
    ui->m_checkBox_ZELDMXProgramAll->setEnabled(false);
    connect(&m_hollis, &ZelHollis::Hollis::signal_log, this, &zeldmxInterfaceControl::signal_log);
}

zeldmxInterfaceControl::~zeldmxInterfaceControl()
{
    shutdown();
    delete ui;
}

void zeldmxInterfaceControl::setProduct(BootLoadProduct *product)
{
    m_product = product;
}

BootLoadProduct *zeldmxInterfaceControl::product() const
{
    return m_product;
}

void zeldmxInterfaceControl::setSerialNumPrefixes(const QList<quint32> &prefixes)
{
    m_serialNumPrefixes = prefixes;
}

QList<quint32> zeldmxInterfaceControl::serialNumPrefixes() const
{
    return m_serialNumPrefixes;
}

void zeldmxInterfaceControl::shutdown()
{
}

void zeldmxInterfaceControl::handleEnableControl(bool enable)
{
    ui->m_groupBox_DMXControlPanel->setEnabled(enable);
}

void zeldmxInterfaceControl::log(LOGPRIORITY priority, const QString &text)
{
    emit signal_log(priority, LOGTYPE_GENERAL, objectName(), text);
}

void zeldmxInterfaceControl::on_m_pushButton_ZELDMXDiscoverEnabler_clicked()
{
    log(LOG_INFO, tr("Discovering ZELDMX power supplies..."));
    emit signal_updateStatus(tr("Discovering enablers..."));
    m_hollis.queryDevices();
    const QString found = tr("Found %1 ZELDMX power supplies.").arg(m_hollis.listDevices().size());
    log(LOG_INFO, found);
    emit signal_updateStatus(found);
}

void zeldmxInterfaceControl::program(BootLoadProduct *product)
{
    const QString message = tr("Programming over ZELDMX is not available in this build.");
    if (product && !product->imageReady())
        log(LOG_WARNING, tr("No accepted firmware image for %1.").arg(product->name()));
    log(LOG_WARNING, message + ' ' + tr("Nothing was sent to the fixtures."));
    emit signal_updateStatus(message);
    emit signal_programComplete();
}
