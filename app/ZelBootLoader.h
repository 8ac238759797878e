#pragma once

#include "app/AppServices.h"
#include "base/LogTypes.h"
#include "base/UpdateRecord.h"

#include <QDateTime>
#include <QList>
#include <QMainWindow>
#include <QPointer>
#include <QString>
#include <QUrl>

#include <functional>
#include <memory>

class BootLoadProduct;
class HistoryDialog;
class InterfacePanel;
class Logger;
class ProductCatalogue;
class QLabel;
class QProgressBar;
class RunEvents;
class TrustedKeys;
class tftpInterfaceControl;
class usbInterfaceControl;
class zeldmxInterfaceControl;

namespace Ui {
class ZelBootLoaderClass;
}

// The only window: interface, device and image selection, the panel stack,
// PROGRAM, the log pane and help.
class ZelBootLoader : public QMainWindow
{
    Q_OBJECT

public:
    ZelBootLoader(int interfaceIndex, const QString &deviceType, const QString &deviceAddress,
                  bool autoConnect, QWidget *parent = nullptr, Qt::WindowFlags flags = {});
    ZelBootLoader(int interfaceIndex, const QString &deviceType, const QString &deviceAddress,
                  bool autoConnect, const AppServices &services, QWidget *parent = nullptr,
                  Qt::WindowFlags flags = {});
    ~ZelBootLoader() override;

    // The help page for an application living in appDir: doc/index.html beside
    // it, or beside its parent when appDir is a Release or Debug build folder.
    static QString helpPageFor(const QString &appDir);
    static QUrl helpUrlFor(const QString &appDir);

    // Name of the log file a shutdown at this moment writes (in outputFolder()).
    static QString shutdownLogName(const QDateTime &when);
    // Where the shutdown log and the other files of this session go: the
    // working directory when it can be written, else the user's application
    // data folder; empty when neither can be written.
    QString outputFolder() const { return m_outputFolder; }

    // What the window lets the operator do. Idle: choose interface, device
    // type and image; Loading: an image is being chosen and read; Ready: an
    // image is accepted and the panel is in charge; Programming: PROGRAM was
    // pressed, until program() returns or, while the panel's run goes on,
    // until the panel ends it.
    enum class RunState { Idle, Loading, Ready, Programming };
    RunState runState() const { return m_state; }

    // Work that must end before the shutdown log is written, run after the
    // panels' own shutdown steps, in the order added. The window runs the
    // steps once, when it is destroyed.
    void addShutdownStep(std::function<void()> step);
    // Runs the panels' shutdown and the added steps now, if they have not
    // run yet, and delivers what the stopped work still had queued: a run
    // under way is stopped and recorded as far as it got. Meant for the end
    // of the session: the destructor then only writes the log.
    void stopDeviceWork();

    // Whether closing the window while an update is in progress asks the
    // operator first (the default). Off for a run without an operator and
    // for an end asked for from outside.
    void setAskBeforeClosingRun(bool ask) { m_askBeforeClosingRun = ask; }

    int interfaceIndex() const { return m_interfaceIndex; }
    QString deviceType() const { return m_deviceType; }
    QString deviceAddress() const { return m_deviceAddress; }
    bool autoConnect() const { return m_autoConnect; }

    // Folder of the update record (updates.jsonl): the session log's folder.
    QString updateRecordFolder() const;
    // Appends one ended run to the update record. False, after logging why
    // (and giving it in error), when the line did not reach the disk.
    bool recordUpdate(const UpdateRecord &record, QString *error = nullptr);
    // File > History: the update record as it is on disk now.
    void showHistory();

    // What a run without an operator does in the window: the image button
    // (the prompter answers its file dialog), PROGRAM, and what it looks at.
    void selectFirmwareImage();
    void program();
    bool programOffered() const;
    BootLoadProduct *currentProduct() const;
    // The panel of an interface (0 USB, 1 ZELDMX fixtures, 2 Ethernet
    // controllers); null for any other number.
    InterfacePanel *panel(int interfaceNumber) const;
    usbInterfaceControl *usbPanel() const;
    zeldmxInterfaceControl *zeldmxPanel() const;
    tftpInterfaceControl *tftpPanel() const;
    RunEvents *runEvents() const { return m_runEvents; }
    // File > Start Over: drops the accepted image and the panels' lists and
    // returns to the state after start-up; the interface and device type
    // chosen stay. Offered while no run is in progress.
    void startOver();
    bool startOverOffered() const;
    // Help > About: version, build, Qt, the catalogue in use, the output folder.
    void showAbout();
    // The status message as a panel or the run gave it; the status bar shows
    // it elided to the room it has, and whole as its tool tip.
    QString statusText() const { return m_statusText; }

    // The keys image signatures are checked against this session.
    const TrustedKeys &trustedKeys() const { return *m_trustedKeys; }
    // Where the public key of the simulated devices' sample images is built in.
    static QString sampleKeyResource() { return QStringLiteral(":/keys/zel-sample.pub"); }

signals:
    void signal_log(LOGPRIORITY logLevel, LOGTYPE logType, QString objectName, QString logMessage);
    void enableControl(bool enable);

public slots:
    void enableProgramButton(bool enable);
    void handleStatusUpdate(QString msg);
    void handleProgramComplete();

private slots:
    void on_m_comboBox_interfaceSelect_currentIndexChanged(int interfaceSelectIndex);
    void on_m_comboBox_deviceSelect_currentIndexChanged(QString device);
    void on_m_pushButton_firmwareImageFileSelect_clicked();
    void on_m_pushButton_program_clicked();
    void on_actionQuit_triggered(bool);
    void on_actionHelp_triggered(bool);
    void updateLogDisplay(QString log);

protected:
    bool event(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    // Window tests put the window in the state a panel's ongoing run leaves it in.
    friend class WindowProbe;

    void takeServices(const AppServices &services);
    // The caller's catalogue, or the first one found; the log names it.
    void readCatalogue(const QString &givenPath);
    void chooseOutputFolder();
    // Sets every control the run state decides from the state, the current
    // interface and the panel's last word on PROGRAM.
    void applyControls();
    void leaveProgramming(RunState next);
    void handleRunRecord(UpdateRecord record);
    void warnRecordNotWritten(const QString &run, const QString &error);
    // The one place that knows which panel serves which interface.
    void createPanels();
    // The panel of the interface selected; null when none is.
    InterfacePanel *activePanel() const;
    // True while the active panel's run goes on after program() returned.
    bool activePanelRunInProgress() const;
    void shutDown();
    void wirePanel(InterfacePanel *panel);
    void applyStartOptions();
    void log(LOGPRIORITY priority, const QString &text);
    int currentInterfaceNumber() const;
    QList<BootLoadProduct *> productsOf(int interfaceNumber) const;
    BootLoadProduct *selectedProduct() const;
    // False, after telling the operator, when PROGRAM has nothing it may send.
    bool programmable(BootLoadProduct *product);
    void writeShutdownLog();
    // Reads the trusted keys (key folders, -trustedKey=, the sample key under
    // simulation), logs what was found and hands them to every product.
    void loadTrustedKeys(const AppServices &services);
    // Shows the accepted image's signature beside its summary.
    void showSignature(BootLoadProduct *product);
    // The line under the summary: the image's version as the interface's
    // devices report theirs.
    void showImageVersion(BootLoadProduct *product);
    // The status message, elided in the middle to the room left of the
    // permanent labels.
    void showStatus();
    void clearStatus();
    // A panel's wait: its text in the status bar beside a busy indicator;
    // empty when the wait is over, which takes its text away too. Not a
    // slot: the window's slots keep their order.
    void handleWaitStatus(const QString &text);
    int statusRoom() const;
    // True while any panel's run goes on.
    bool anyPanelRunInProgress() const;
    // What the window says of itself: "2.6.2 build 57 (20130709)".
    static QString versionText();
    // False when the image is unsigned though keys are installed and the
    // operator (or -yes=unsigned) did not confirm it.
    bool signatureAllowed(BootLoadProduct *product);

    Ui::ZelBootLoaderClass *ui = nullptr;

    // Defaults the window made itself because the caller gave none.
    std::unique_ptr<Prompter> m_ownPrompter;
    std::unique_ptr<DeviceEnvironment> m_ownDevices;
    Prompter *m_prompter = nullptr;
    Pauser *m_pauser = nullptr;
    DeviceEnvironment *m_devices = nullptr;
    std::function<bool(const QUrl &)> m_openUrl;

    Logger *m_logger = nullptr;
    ProductCatalogue *m_catalogue = nullptr;
    QLabel *m_label_version = nullptr;
    QLabel *m_label_simulated = nullptr;
    QLabel *m_label_signature = nullptr;
    QLabel *m_label_imageVersion = nullptr;
    QProgressBar *m_progress_busy = nullptr;
    QString m_waitText;
    QString m_statusText;
    // The catalogue read at start-up, as the log names it; empty when none was found.
    QString m_cataloguePath;
    std::unique_ptr<TrustedKeys> m_trustedKeys;
    QPointer<HistoryDialog> m_history;
    RunEvents *m_runEvents = nullptr;

    // Both indexed by interface number.
    QList<InterfacePanel *> m_panels;
    QList<QList<BootLoadProduct *>> m_products;

    RunState m_state = RunState::Idle;
    // The active panel offers a device to program (its last
    // signal_enableProgramButton, cleared by its completion).
    bool m_deviceOffered = false;
    // The panel's program() has not returned yet: what it signals meanwhile
    // belongs to the run it is still in.
    bool m_inProgramCall = false;
    QList<std::function<void()>> m_shutdownSteps;
    bool m_deviceWorkStopped = false;
    bool m_shutDown = false;
    bool m_askBeforeClosingRun = true;
    QString m_outputFolder;
    // Where the sample images are, offered first to simulated runs; empty when none.
    QString m_samplesFolder;

    int m_interfaceIndex = -1;
    QString m_deviceType;
    QString m_deviceAddress;
    bool m_autoConnect = false;
};
