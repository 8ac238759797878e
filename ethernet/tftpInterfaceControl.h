#pragma once

#include "base/LogTypes.h"

#include <QString>
#include <QWidget>

class BootLoadProduct;
class Pauser;
class Prompter;
class TarvoLibrary;

namespace Ui {
class tftpInterfaceControlClass;
}

// Panel of the Ethernet controllers: discovers controllers and writes the
// image to them by TFTP.
class tftpInterfaceControl : public QWidget
{
    Q_OBJECT

public:
    tftpInterfaceControl(Prompter &prompter, Pauser &pauser, TarvoLibrary &tarvo,
                         QWidget *parent = nullptr);
    ~tftpInterfaceControl() override;

    // Stops any work under way and ends the panel's threads, waiting for
    // them. The window calls it before it writes its log, so what is logged
    // while stopping is kept; it may be called more than once.
    void shutdown();
    // True while a run that program() started goes on after program() has
    // returned (a transfer on a thread, a wait for the device to restart). The
    // run ends with signal_programComplete(), or with
    // signal_enableProgramButton() when it failed and the device is still offered.
    bool runInProgress() const { return false; }

    void setProduct(BootLoadProduct *product);
    BootLoadProduct *product() const;
    void setDiscoverPort(int port);
    int discoverPort() const;
    void program(const QString &fileName);

signals:
    void signal_log(LOGPRIORITY logLevel, LOGTYPE logType, QString objectName, QString logMessage);
    void signal_enableProgramButton(bool enable);
    void signal_updateStatus(QString msg);
    void signal_programComplete();

private slots:
    void on_m_pushButton_TFTPDiscover_clicked();

public slots:
    void handleEnableControl(bool enable);

private:
    void log(LOGPRIORITY priority, const QString &text);

    Ui::tftpInterfaceControlClass *ui;
    Prompter &m_prompter;
    Pauser &m_pauser;
    TarvoLibrary &m_tarvo;
    BootLoadProduct *m_product = nullptr;
    int m_discoverPort = 0;
};
