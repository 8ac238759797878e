#pragma once

#include "base/LogTypes.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>

class HidBackend;

// Writes data to one USB HID device as a sequence of feature reports. Every
// report is sent whole, L bytes (L = the device's feature report length):
//   byte 0      report id: that of the feature report L was taken from, 0
//               when the device does not number its reports
//   byte 1      payload length n
//   bytes 2...  payload; the bytes after it keep what the previous report
//               left there (zero after opening)
// A report with n = 0 is a control report whose content lies in bytes 2 on.
// Nothing is ever read back from the device.
class HCC_HID : public QObject
{
    Q_OBJECT

public:
    enum OpenResult { Opened = 0, NotFound = 1, Unusable = 2, Refused = 3 };

    // Smallest and largest report length that carries data: the payload
    // capacity C = (L - 2) rounded down to a multiple of 4 must be at least
    // 4 and fit the one-byte length field.
    static constexpr int kMinReportLength = 6;
    static constexpr int kMaxReportLength = 257;
    // The control reports write up to byte 8.
    static constexpr int kMinControlReportLength = 9;

    // Log lines go out on log() and, when the parent has a signal_log of
    // the same shape, through it as well.
    explicit HCC_HID(HidBackend &backend, QObject *parent = nullptr);
    ~HCC_HID() override;

    // Opens the first device with these ids that can be opened: Opened,
    // NotFound ("Device not found.") or Unusable (its reports cannot carry
    // data, or which report takes them is not known; lastError() says why).
    // Refused: the only such devices are ones this user may not open;
    // lastError() names them and what to do. An open device is closed first.
    int openDevice(int vendorId, int productId);
    // Harmless when nothing is open.
    void closeDevice();
    bool isOpen() const { return m_open; }

    // One report with n payload bytes; refused when n > L - 2.
    bool HIDSend(const uchar *data, uint n);
    // n bytes as a sequence of reports of at most capacity() bytes each.
    bool HIDSendBuffer(const uchar *data, uint n);
    // Control report 0 with p as a big-endian number in bytes 5 to 8.
    bool startDownload(int p);
    // Control report 1.
    bool finishDownload();

    // Appends "VID=0x%1, PID=0x%2" for every device that can be opened.
    void listDevices(QStringList &out);
    // The devices with these ids that this user may not open: "node: what
    // was refused" for each.
    QStringList refusedDevices(int vendorId, int productId);
    static QString deviceEntry(int vendorId, int productId);

    QString lastError() const { return m_lastError; }
    int reportLength() const { return m_reportLength; }
    int reportId() const { return m_reportId; }
    int capacity() const;

signals:
    void log(LOGPRIORITY logLevel, LOGTYPE logType, QString objectName, QString logMessage);

private:
    bool sendReport(const uchar *data, uint n);
    void logSevere(const QString &text);

    HidBackend &m_backend;
    bool m_open = false;
    int m_reportLength = 0;
    int m_reportId = 0;
    QByteArray m_buffer;
    QString m_lastError;
};
