#pragma once

#include "usb/Sr3UsbLibrary.h"

// Stands in when the Sorrel 3 library is not installed: every call fails and
// no player is ever found. The first call says so in the log, once.
class Sr3UsbNotPresent : public Sr3UsbLibrary
{
    Q_OBJECT

public:
    explicit Sr3UsbNotPresent(QObject *parent = nullptr);

    int controllerCount() override;
    int connectController() override;
    int enterBootLoader() override;
    int rawDeviceCount() override;
    bool open(int index) override;
    int lastStatus() override;
    bool setTimeouts(int readMs, int writeMs) override;
    bool getFirmwareVersion(int &version) override;
    bool getBootloaderVersion(int &version) override;
    bool eraseFlash() override;
    bool transaction(const QByteArray &record, char *reply, int &replyLength,
                     int retries) override;
    bool reset() override;
    bool close() override;
    bool flush() override;

    // Error number returned by connectController / enterBootLoader.
    static constexpr int kNotPresentError = -1;

private:
    void announce();

    bool m_announced = false;
};
