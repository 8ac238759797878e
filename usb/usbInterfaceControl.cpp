#include "usb/usbInterfaceControl.h"

#include "ui_usbInterfaceControl.h"

#include "base/Pauser.h"
#include "base/Prompter.h"
#include "catalogue/BootLoadProduct.h"
#include "usb/Sr3UsbLibrary.h"

usbInterfaceControl::usbInterfaceControl(Prompter &prompter, Pauser &pauser, Sr3UsbLibrary &sr3,
                                         QWidget *parent)
    : QWidget(parent), ui(new Ui::usbInterfaceControlClass), m_prompter(prompter),
      m_pauser(pauser), m_sr3(sr3)
{
    ui->setupUi(this);
    setObjectName("usbInterfaceControl");
    connect(&m_sr3, &Sr3UsbLibrary::signal_log, this, &usbInterfaceControl::signal_log);
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

void usbInterfaceControl::shutdown()
{
}

void usbInterfaceControl::handleEnableControl(bool enable)
{
    ui->m_groupBox_USBControlPanel->setEnabled(enable);
}

void usbInterfaceControl::log(LOGPRIORITY priority, const QString &text)
{
    emit signal_log(priority, LOGTYPE_GENERAL, objectName(), text);
}

void usbInterfaceControl::on_m_pushButton_USBConnect_clicked()
{
    ui->m_pushButton_USBConnect->setEnabled(false);
    ui->m_label_SR3Device->setText(tr("No device selected"));
    ui->m_lblSerialNr->clear();
    log(LOG_INFO, tr("Connecting to USB device..."));

    // Only the count for now: connecting and programming come with the players' support.
    if (m_deviceKind == 1) {
        log(LOG_WARNING, tr("Connecting to the Vireo Player is not available in this build."));
    } else {
        const int players = m_sr3.controllerCount() + m_sr3.rawDeviceCount();
        log(LOG_INFO, tr("Found %1 Sorrel 3 player(s).").arg(players));
    }
    ui->m_pushButton_USBConnect->setEnabled(true);
}

void usbInterfaceControl::program(BootLoadProduct *product)
{
    const QString message = tr("Programming over USB is not available in this build.");
    if (product && !product->imageReady())
        log(LOG_WARNING, tr("No accepted firmware image for %1.").arg(product->name()));
    log(LOG_WARNING, message + ' ' + tr("Nothing was sent to the device."));
    emit signal_updateStatus(message);
    emit signal_programComplete();
}
