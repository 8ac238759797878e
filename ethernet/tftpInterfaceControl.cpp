#include "ethernet/tftpInterfaceControl.h"

#include "ui_tftpInterfaceControl.h"

#include "base/Pauser.h"
#include "base/Prompter.h"
#include "catalogue/BootLoadProduct.h"
#include "ethernet/TarvoLibrary.h"

tftpInterfaceControl::tftpInterfaceControl(Prompter &prompter, Pauser &pauser,
                                           TarvoLibrary &tarvo, QWidget *parent)
    : QWidget(parent), ui(new Ui::tftpInterfaceControlClass), m_prompter(prompter),
      m_pauser(pauser), m_tarvo(tarvo)
{
    ui->setupUi(this);
    setObjectName("tftpInterfaceControl");
    // "Program all" is offered on the form but not supported: it stays off.
    ui->m_checkBox_tftpProgramAll->setEnabled(false);
    connect(&m_tarvo, &TarvoLibrary::signal_log, this, &tftpInterfaceControl::signal_log);
}

tftpInterfaceControl::~tftpInterfaceControl()
{
    shutdown();
    delete ui;
}

void tftpInterfaceControl::setProduct(BootLoadProduct *product)
{
    m_product = product;
}

BootLoadProduct *tftpInterfaceControl::product() const
{
    return m_product;
}

void tftpInterfaceControl::setDiscoverPort(int port)
{
    m_discoverPort = port;
}

int tftpInterfaceControl::discoverPort() const
{
    return m_discoverPort;
}

void tftpInterfaceControl::shutdown()
{
}

void tftpInterfaceControl::handleEnableControl(bool enable)
{
    ui->m_groupBox_TFTPControlPanel->setEnabled(enable);
}

void tftpInterfaceControl::log(LOGPRIORITY priority, const QString &text)
{
    emit signal_log(priority, LOGTYPE_GENERAL, objectName(), text);
}

void tftpInterfaceControl::on_m_pushButton_TFTPDiscover_clicked()
{
    log(LOG_INFO, tr("Discovering Ethernet controllers..."));
    log(LOG_WARNING, tr("Ethernet controller discovery is not available in this build."));
}

void tftpInterfaceControl::program(const QString &fileName)
{
    const QString message = tr("Programming over Ethernet is not available in this build.");
    if (m_product && !m_product->imageReady())
        log(LOG_WARNING, tr("No accepted firmware image for %1.").arg(m_product->name()));
    log(LOG_WARNING, message + ' ' + tr("%1 was not sent.").arg(fileName));
    emit signal_updateStatus(message);
    emit signal_programComplete();
}
