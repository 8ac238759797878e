#pragma once

#include "usb/Sr3UsbLibrary.h"

#include <QList>

// A Sorrel 3 player kept in memory, for demonstrations and tests. It starts as
// one player in application mode, serial number SR3-001207, with firmware
// 1.00.82 and boot loader 1.00.03;
// the setters arrange other situations (several players, unreadable versions,
// refused records). Its flash takes the ":W" page records: each is checked
// and written at its address, and after a reset the player runs the version
// the written image carries.
class SimulatedSr3Usb : public Sr3UsbLibrary
{
    Q_OBJECT

public:
    static constexpr int kDefaultFirmwareVersion = 0x10052;   // 1.00.82
    static constexpr int kDefaultBootloaderVersion = 0x10003; // 1.00.03
    // Error numbers of this simulation.
    static constexpr int kNoDevice = 3;
    static constexpr int kNotConnected = 4;
    // Flash of the player and where its firmware keeps the version word
    // (those of the sample catalogue's Sorrel 3 entry).
    static constexpr int kDefaultFlashSize = 0x20000;
    static constexpr int kDefaultVersionOffset = 0x1FFE4;
    static constexpr char kDefaultSerialNumber[] = "SR3-001207";

    explicit SimulatedSr3Usb(QObject *parent = nullptr);

    int controllerCount() override;
    int connectController() override;
    int enterBootLoader() override;
    QString serialNumber() override { return m_connected ? m_serialNumber : QString(); }
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

    // Situation.
    void setPlayers(int inApplication, int inBootLoader);
    // A negative value makes the version unreadable.
    void setFirmwareVersion(int version) { m_firmwareVersion = version; }
    void setBootloaderVersion(int version) { m_bootloaderVersion = version; }
    // Empty: the player tells none.
    void setSerialNumber(const QString &serial) { m_serialNumber = serial; }
    // The record with this index (from 0, counted since the last erase) is refused.
    void refuseRecord(int index) { m_refuseRecord = index; }
    void setEraseFails(bool fails) { m_eraseFails = fails; }
    void setOpenFails(bool fails) { m_openFails = fails; }
    // Erases the flash to this size.
    void setFlashSize(int bytes);
    void setVersionOffset(int offset) { m_versionOffset = offset; }
    // After a reset that follows a write: the player keeps reporting the
    // version it had before, or leaves the bus for good.
    void setKeepRevision(bool keep) { m_keepRevision = keep; }
    void setNoReturn(bool gone) { m_noReturn = gone; }

    // What the player received.
    const QList<QByteArray> &records() const { return m_records; }
    const QByteArray &flash() const { return m_flash; }
    // Records refused because they were not well-formed page records.
    int badRecords() const { return m_badRecords; }
    bool erased() const { return m_erased; }
    int resetCount() const { return m_resetCount; }
    bool isOpen() const { return m_open; }
    int readTimeout() const { return m_readTimeout; }
    int writeTimeout() const { return m_writeTimeout; }

private:
    bool usable() const { return m_open && m_inBootLoader; }
    // Checks one ":W" record and writes its bytes; false when it is damaged
    // or does not fit the flash.
    bool writeRecord(const QByteArray &record);

    int m_appPlayers = 1;
    int m_bootPlayers = 0;
    bool m_connected = false;
    bool m_open = false;
    bool m_inBootLoader = false;
    int m_lastStatus = 0;
    int m_firmwareVersion = kDefaultFirmwareVersion;
    int m_bootloaderVersion = kDefaultBootloaderVersion;
    QString m_serialNumber = QString::fromLatin1(kDefaultSerialNumber);
    int m_refuseRecord = -1;
    bool m_eraseFails = false;
    bool m_openFails = false;
    bool m_erased = false;
    int m_resetCount = 0;
    int m_readTimeout = 0;
    int m_writeTimeout = 0;
    QList<QByteArray> m_records;
    QByteArray m_flash = QByteArray(kDefaultFlashSize, char(0xFF));
    int m_versionOffset = kDefaultVersionOffset;
    bool m_written = false;
    bool m_keepRevision = false;
    bool m_noReturn = false;
    int m_badRecords = 0;
};
