#pragma once

#include "base/LogTypes.h"
#include "base/UpdateRecord.h"

#include <QElapsedTimer>
#include <QString>
#include <QWidget>

class QTimer;

class BootLoadProduct;

// The panel of one interface as the window and a run without an operator
// see it: the product it sends, its run, the search for a device, the wait
// of the check after an update, and what it reports. Each interface's panel
// derives from it; what differs between the interfaces stays behind the
// virtual calls, so that the window never asks which panel it talks to.
class InterfacePanel : public QWidget
{
    Q_OBJECT

public:
    ~InterfacePanel() override;

    // The number the window lists the panel under and its records carry:
    // 0 USB, 1 ZELDMX fixtures, 2 Ethernet controllers.
    int interfaceNumber() const { return m_interfaceNumber; }

    // The product whose accepted image the panel's next run sends.
    virtual void setProduct(BootLoadProduct *product) { m_product = product; }
    BootLoadProduct *product() const { return m_product; }

    // The operator chose a device type of this interface (null: none).
    virtual void deviceTypeSelected(BootLoadProduct *product);
    // An image is about to be chosen for product (never null): the panel
    // takes what it needs of the product to find and list its devices.
    virtual void imageAboutToBeSelected(BootLoadProduct *product);
    // Whether the device type last selected offers the window's "factory
    // default" box, and what the box says when PROGRAM is pressed.
    virtual bool offersFactoryDefault() const { return false; }
    virtual void setFactoryDefault(bool factoryDefault);

    // Asked when PROGRAM is pressed for an accepted image, before program():
    // false refuses the run, after the panel has told the operator why and
    // recorded the run as it ended.
    virtual bool allowsRun(BootLoadProduct *product);
    // Sends product's accepted image to the device offered (or to every one
    // listed, when the panel is asked to). The run may go on after this
    // returns: see runInProgress().
    virtual void program(BootLoadProduct *product) = 0;
    // True while a run that program() started goes on after it returned. It
    // ends with signal_programComplete(), or with signal_enableProgramButton()
    // when it failed and the device is still offered.
    virtual bool runInProgress() const = 0;
    // Stops any work under way, records a run stopped midway as far as it
    // got, and lets go of the devices. The window calls it before it writes
    // its log; it may be called more than once.
    virtual void shutdown() = 0;

    // The operator started over (File > Start Over): no run is in progress,
    // the window has dropped the image. The panel forgets the devices it
    // listed and what it read of them, as it was after start-up. By default
    // there is nothing to forget.
    virtual void startOver();

    // A run without an operator: finds the device, selects it and offers
    // PROGRAM, then answers once, from the event loop, with
    // signal_deviceSearchDone.
    virtual void findDevice(const QString &address) = 0;
    // Whether findDevice() looks for the address it is given. A panel that
    // takes whichever device is attached does not: an address can then
    // never be programmed by itself alone.
    virtual bool searchesByAddress() const { return true; }

    // How long the revision read after an update waits for the device to
    // answer again.
    void setVerifyWait(int milliseconds);
    int verifyWait() const { return m_verifyWaitMs; }

signals:
    void signal_log(LOGPRIORITY logLevel, LOGTYPE logType, QString objectName, QString logMessage);
    void signal_enableProgramButton(bool enable);
    void signal_updateStatus(QString msg);
    void signal_programComplete();
    // One per device a run ended for: verified, not verified, mismatch,
    // failed or cancelled; the window appends it to the update record.
    void signal_runRecord(UpdateRecord record);
    // The answer to findDevice(): found means selected, with PROGRAM offered.
    void signal_deviceSearchDone(bool found, QString message);
    // The wait the panel is in, as the status bar shows it beside a busy
    // indicator; an empty text says the wait is over.
    void signal_waitStatus(QString text);

public slots:
    virtual void handleEnableControl(bool enable) = 0;

protected:
    InterfacePanel(int interfaceNumber, int defaultVerifyWaitMs, QWidget *parent);

    void log(LOGPRIORITY priority, const QString &text);

    // A wait the operator should see: what it waits for, ending in "…".
    // With showElapsed the seconds since it began follow the text
    // ("Checking SN:8100C001 after the update… 4 s") and count on.
    void beginWait(const QString &text, bool showElapsed = false);
    // The same wait says something new ("… 3 found"); its clock runs on.
    void updateWait(const QString &text);
    // Ends the wait, if there is one.
    void endWait();
    bool waiting() const { return !m_waitText.isEmpty(); }

    BootLoadProduct *m_product = nullptr;
    int m_verifyWaitMs = 0;

private:
    void emitWaitStatus();

    const int m_interfaceNumber;
    QString m_waitText;
    bool m_waitShowsElapsed = false;
    QElapsedTimer m_waitClock;
    QTimer *m_waitTick = nullptr;
};
