#pragma once

#include "base/LogTypes.h"

#include <QList>
#include <QString>
#include <QWidget>

class BootLoadProduct;
class Pauser;
class Prompter;

namespace ZelHollis {
class Hollis;
}

namespace Ui {
class zeldmxInterfaceControlClass;
}

// Panel of the ZELDMX fixtures: finds power supplies and fixtures and
// reprograms fixtures.
class zeldmxInterfaceControl : public QWidget
{
    Q_OBJECT

public:
    zeldmxInterfaceControl(Prompter &prompter, Pauser &pauser, ZelHollis::Hollis &hollis,
                           QWidget *parent = nullptr);
    ~zeldmxInterfaceControl() override;

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
    void setSerialNumPrefixes(const QList<quint32> &prefixes);
    QList<quint32> serialNumPrefixes() const;
    void program(BootLoadProduct *product);

signals:
    void signal_log(LOGPRIORITY logLevel, LOGTYPE logType, QString objectName, QString logMessage);
    void signal_enableProgramButton(bool enable);
    void signal_updateStatus(QString msg);
    void signal_programComplete();

private slots:
    void on_m_pushButton_ZELDMXDiscoverEnabler_clicked();

public slots:
    void handleEnableControl(bool enable);

private:
    void log(LOGPRIORITY priority, const QString &text);

    Ui::zeldmxInterfaceControlClass *ui;
    Prompter &m_prompter;
    Pauser &m_pauser;
    ZelHollis::Hollis &m_hollis;
    BootLoadProduct *m_product = nullptr;
    QList<quint32> m_serialNumPrefixes;
};
