#pragma once

#include "base/LogTypes.h"
#include "ethernet/EthernetSettings.h"

#include <QByteArray>
#include <QHostAddress>
#include <QString>
#include <QWidget>

#include <memory>

class BootLoadProduct;
class Pauser;
class ProgressHandle;
class Prompter;
class QTFTP;
class QTimer;
class TarvoInput;
class TarvoLibrary;

namespace Ui {
class tftpInterfaceControlClass;
}

// Panel of the Ethernet controllers: discovers the controllers of the chosen
// type, shows the chosen one's firmware revision and writes the accepted
// image to it by TFTP on a thread of its own.
class tftpInterfaceControl : public QWidget
{
    Q_OBJECT

public:
    // Discovery request address: the unspecified address asks every
    // controller, whatever its own address, to answer the sender.
    static constexpr const char *kDiscoveryRequestAddress = "0.0.0.0";

    // settings must outlive the panel; it is read at each use, so a caller
    // may aim it elsewhere between runs.
    tftpInterfaceControl(Prompter &prompter, Pauser &pauser, TarvoLibrary &tarvo,
                         const EthernetSettings &settings, QWidget *parent = nullptr);
    // The real network's settings.
    tftpInterfaceControl(Prompter &prompter, Pauser &pauser, TarvoLibrary &tarvo,
                         QWidget *parent = nullptr);
    ~tftpInterfaceControl() override;

    // Stops any work under way and ends the panel's threads, waiting for
    // them. The window calls it before it writes its log, so what is logged
    // while stopping is kept; it may be called more than once.
    void shutdown();
    // True while a write that program() started goes on. It ends with
    // signal_programComplete(), or with signal_enableProgramButton(true) when
    // it failed and the controller is still offered.
    bool runInProgress() const;

    void setProduct(BootLoadProduct *product);
    BootLoadProduct *product() const;
    void setDiscoverPort(int port);
    int discoverPort() const;
    // Writes the product's accepted image (fileName names it in the log).
    void program(const QString &fileName);

    // A dotted IPv4 address of four decimal fields that names one host;
    // null for anything else (shortened forms, broadcast, multicast, 0.0.0.0).
    static QHostAddress parseUnicastAddress(const QString &text);
    // The revision shown for an "info" text: the third asterisk-separated
    // field read as hexadecimal, low 8 bits; 0 when there is none.
    static int revisionFromInfo(const QByteArray &info);

signals:
    void signal_log(LOGPRIORITY logLevel, LOGTYPE logType, QString objectName, QString logMessage);
    void signal_enableProgramButton(bool enable);
    void signal_updateStatus(QString msg);
    void signal_programComplete();

private slots:
    void on_m_pushButton_TFTPDiscover_clicked();
    void handleDiscoverResponseTFTP(char *mac, unsigned long ip, unsigned long sn, unsigned short ver,
                                    unsigned long uni, char *verstring, char *idstring);
    void handleDiscoveryTimeout();
    void handleFWQueryTimeout();
    void handleReadThreadDone(int result);
    void handleGetValue(unsigned long ip, quint16 valueID, quint32 value);
    void on_m_comboBox_TFTPDevicesDiscovered_currentIndexChanged(int index);
    void on_m_lineEdit_tftpManualIPEntry_textChanged(QString text);
    void programProgress(int status);
    void programDone(int result);
    void programDone();

public slots:
    void handleEnableControl(bool enable);

private:
    void log(LOGPRIORITY priority, const QString &text);
    void queryFirmwareVersion(int index);
    void startInfoRead(quint32 address);
    void setControlsEnabled(bool enable);
    void stopQueryTimer();
    void releaseRun();
    void closeProgress();
    QString currentEntryText() const;

    Ui::tftpInterfaceControlClass *ui;
    Prompter &m_prompter;
    Pauser &m_pauser;
    TarvoLibrary &m_tarvo;
    EthernetSettings m_ownSettings;
    const EthernetSettings &m_settings;

    BootLoadProduct *m_product = nullptr;
    std::unique_ptr<TarvoInput> m_discover;
    int m_discoverPort = 0;
    std::unique_ptr<ProgressHandle> m_progressDialog;
    QTFTP *m_readThread = nullptr;
    char m_infoBuffer[512];
    QByteArray m_fileData;
    QTFTP *m_writeThread = nullptr;
    QTimer *m_discoveryTimer = nullptr;
    QTimer *m_queryTimer = nullptr;
    QHostAddress m_manualAddress;
    // What the write thread said last: the reason given when a write fails.
    QString m_lastWriteStatus;
    QString m_writeAddress;
};
