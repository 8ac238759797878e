#pragma once

#include "base/LogTypes.h"

#include <QByteArray>
#include <QObject>
#include <QString>

// The calls the USB panel makes on the Sorrel 3 player's vendor library,
// flattened into one object: the application-mode interface (count, connect,
// enter boot loader) and the raw boot-loader device (open ... close).
// Implementations: Sr3UsbNotPresent when the library is missing, SimulatedSr3Usb.
class Sr3UsbLibrary : public QObject
{
    Q_OBJECT

public:
    // Error codes of the application-mode calls; anything else is shown as a number.
    static constexpr int kSuccess = 0;

    using QObject::QObject;
    ~Sr3UsbLibrary() override = default;

    // Application mode: players running their firmware.
    virtual int controllerCount() = 0;
    // Connects to the one player in application mode; kSuccess or an error number.
    virtual int connectController() = 0;
    // Switches the connected player to its boot loader; kSuccess or an error number.
    virtual int enterBootLoader() = 0;
    // The serial number of the player connected in application mode; null
    // when none is connected or it does not tell. In its boot loader a player
    // gives none.
    virtual QString serialNumber() { return QString(); }

    // Boot-loader mode: players waiting for firmware.
    virtual int rawDeviceCount() = 0;
    virtual bool open(int index) = 0;
    // Status of the last failed raw call, shown to the operator as a number.
    virtual int lastStatus() = 0;
    virtual bool setTimeouts(int readMs, int writeMs) = 0;
    virtual bool getFirmwareVersion(int &version) = 0;
    virtual bool getBootloaderVersion(int &version) = 0;
    virtual bool eraseFlash() = 0;
    // Sends one zero-terminated record; reply receives at most replyLength bytes
    // and replyLength is set to what arrived.
    virtual bool transaction(const QByteArray &record, char *reply, int &replyLength,
                             int retries) = 0;
    virtual bool reset() = 0;
    virtual bool close() = 0;
    virtual bool flush() = 0;

signals:
    void signal_log(LOGPRIORITY logLevel, LOGTYPE logType, QString objectName, QString logMessage);
};
