#pragma once

#include "base/LogTypes.h"

#include <QString>
#include <QWidget>

class BootLoadProduct;
class Pauser;
class Prompter;
class Sr3UsbLibrary;

namespace Ui {
class usbInterfaceControlClass;
}

// Panel of the USB interface: connects to one USB player and reprograms it.
class usbInterfaceControl : public QWidget
{
    Q_OBJECT

public:
    usbInterfaceControl(Prompter &prompter, Pauser &pauser, Sr3UsbLibrary &sr3,
                        QWidget *parent = nullptr);
    ~usbInterfaceControl() override;

    // Stops any work under way and ends the panel's threads, waiting for
    // them. The window calls it before it writes its log, so what is logged
    // while stopping is kept; it may be called more than once.
    void shutdown();
    // True while a run that program() started goes on after program() has
    // returned (a transfer on a thread, a wait for the device to restart). The
    // run ends with signal_programComplete(), or with
    // signal_enableProgramButton() when it failed and the device is still offered.
    bool runInProgress() const { return false; }

    // 1 when the selected device type is the Vireo Player, 0 otherwise.
    void setDeviceKind(int kind);
    int deviceKind() const;
    // Packed firmware version read from a connected Sorrel 3 (0 until one is read).
    int deviceFirmwareVersion() const;
    void setFirmwareFileName(const QString &fileName);
    QString firmwareFileName() const;
    void setFactoryDefault(bool factoryDefault);
    bool factoryDefault() const;
    void program(BootLoadProduct *product);

signals:
    void signal_log(LOGPRIORITY logLevel, LOGTYPE logType, QString objectName, QString logMessage);
    void signal_enableProgramButton(bool enable);
    void signal_updateStatus(QString msg);
    void signal_programComplete();

private slots:
    void on_m_pushButton_USBConnect_clicked();

public slots:
    void handleEnableControl(bool enable);

private:
    // Window tests put a connected player's version in place without a device.
    friend class UsbPanelProbe;

    void log(LOGPRIORITY priority, const QString &text);

    Ui::usbInterfaceControlClass *ui;
    Prompter &m_prompter;
    Pauser &m_pauser;
    Sr3UsbLibrary &m_sr3;
    int m_deviceKind = 0;
    int m_deviceFirmwareVersion = 0;
    QString m_firmwareFileName;
    bool m_factoryDefault = false;
};
