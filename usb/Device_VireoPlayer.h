#pragma once

#include "base/LogTypes.h"
#include "usb/SerialPorts.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

class HCC_HID;
class Prompter;
class SerialLine;
class VireoProgress;
class QWidget;

// USB vendor id of the Vireo Player, the same in both of its appearances:
// a serial port while it runs its application, a HID device while its boot
// loader waits for firmware. Our own number: it must match what the player's
// USB descriptor reports.
constexpr quint16 VIREO_VENDOR_ID = 0xF0E5;
constexpr quint16 VIREO_SERIAL_PRODUCT_ID = 0x2124;
constexpr quint16 VIREO_BOOTLOADER_PRODUCT_ID = 0x2125;

struct VireoDescriptor {
    QString serialNumber;
    QString productString;
    QString productionDate;
    QString firmwareVersion;
    // Why the reply, or a value in it, could not be used; empty when it could
    // (an empty reply from a silent player is no problem of its own).
    QString problem;
};

// How long the protocol waits. The defaults are what the player needs; tests
// shorten them.
struct VireoTimings {
    int replyWindowMs = 1000;     // for the first frame of a reply
    int nextFrameMs = 1000;       // for the rest of a frame, and for the frame after a status frame
    int bootLoaderPollRounds = 49;
    int bootLoaderPollMs = 100;
};

// Speaks to one Vireo Player: small HTTP-style requests over its serial port,
// the reboot into its boot loader, and the firmware download over HID.
// Message boxes and the progress dialog go through the Prompter.
class Device_VireoPlayer : public QObject
{
    Q_OBJECT

public:
    // The host name the player's request parser expects in the Host line.
    static const char kHostHeaderValue[];
    static constexpr int kFirmwareDownloadParameter = 0x00005200;
    static constexpr int kBlockSize = 1080;
    // More status frames than this in one reply means the player is stuck.
    static constexpr int kMaxStatusFrames = 64;
    // A player image names itself by a magic word and, after it, its packed
    // version (major << 16 | minor << 8 | build), both little-endian. A raw
    // file without that word carries no version the updater can read.
    static constexpr quint32 kImageMagic = 0x56500001;
    static constexpr int kImageMagicOffset = 0x200;
    static constexpr int kImageVersionOffset = 0x204;

    // How far a download has gone, for a caller that may stop it midway.
    enum class DownloadStage { NothingSent, Sending, Finished };

    enum DownloadResult {
        DownloadOk = 0,
        FileMissing = 1,
        StartFailed = 3,
        WriteFailed = 4,
        Stopped = 5,
        DeviceFailed = 10,
    };

    // The parent widget parents the message boxes and dialogs; its
    // signal_log, when it has one, carries this object's log lines.
    Device_VireoPlayer(QWidget *parent, Prompter &prompter, SerialPorts &ports, HCC_HID &hid,
                       VireoProgress &progress);
    ~Device_VireoPlayer() override;

    void setPort(const SerialPortEntry &port) { m_port = port; }
    SerialPortEntry port() const { return m_port; }
    void setTimings(const VireoTimings &timings) { m_timings = timings; }
    // Ends any wait under way; nothing further is sent.
    void stop() { m_stopped = true; }
    bool stopped() const { return m_stopped; }

    // Sends one request and returns the reply's payload; empty on any failure.
    QByteArray exchange(const QString &text);
    void getDescriptor(VireoDescriptor &out);
    // True when the player answered.
    bool setMfgValue(const QString &key, const QString &value);
    // True when the player confirmed the deletion.
    bool deleteFile(const QString &name);
    // Deletes the factory show files; true when every one was confirmed.
    bool restoreFactoryDefaults();
    // Asks the player to restart in its boot loader and waits a while for it
    // to appear; whether it did is for the caller to count.
    void enterBootLoader();
    // Downloads the image into the one boot loader present. 0 on success.
    int downloadFW(QWidget *parent, const QByteArray &image, const QString &fileName);
    // What the last failed download told the operator.
    QString lastError() const { return m_lastError; }

    // The players' serial ports that this user may open.
    QList<SerialPortEntry> findPlayerPorts();
    // Players that are there but that this user may not open, "node: what
    // was refused" each: their serial ports, their boot loaders, or both.
    QStringList refusedPlayerPorts();
    QStringList refusedBootLoaders();
    QStringList refusedPlayerDevices();
    // What the operator reads about them: the nodes, what was refused, and
    // what to do.
    static QString refusedText(const QStringList &refused);
    // Number of boot loaders waiting for firmware; list receives their entries.
    int findBootLoaderDevices(QStringList &list);
    void progressStep(bool toMaximum, const QString *label = nullptr);

    static const QStringList &factoryShowFiles();
    static QString descriptorRequest();
    static QString mfgRequest(const QString &key, const QString &value);
    static QString deleteRequest(const QString &name);
    // The frame payload of a request: its 8-bit text, with a terminating zero
    // unless it is a GET.
    static QByteArray requestPayload(const QString &text);
    // The text as the inside of a JSON string: quote, backslash and every
    // character outside printable ASCII escaped, so the body is plain ASCII
    // and its length in characters is its length in bytes.
    static QString jsonString(const QString &text);
    // The text between the first pair of quotes after the key's colon; null
    // when the key is missing or its value has no closing quote (a reply cut
    // short), which unterminated, when given, tells apart.
    static QString jsonValue(const QByteArray &reply, const QString &key, bool *unterminated = nullptr);
    // The image's version as the descriptor gives it ("2.1.0"); null when
    // the image does not name itself.
    static QString imageVersion(const QByteArray &image);
    // A descriptor's firmware version in the image's form: three decimal
    // numbers without leading zeros ("2.01.00" gives "2.1.0"); null when the
    // text is not of that form.
    static QString comparableVersion(const QString &descriptorVersion);
    // Linux names of USB serial ports (ttyACM, ttyUSB).
    static bool isPlayerPortName(const QString &portName);

signals:
    void log(LOGPRIORITY logLevel, LOGTYPE logType, QString objectName, QString logMessage);
    void downloadStageChanged(Device_VireoPlayer::DownloadStage stage);

private:
    // Runs the event loop until done() holds, the time is up or stop() was called.
    void wait(const std::function<bool()> &done, int timeoutMs);
    std::unique_ptr<SerialLine> openLine();
    // One attempt: write the frame, wait for a reply, read it; a break on the
    // line when bytes came but no reply could be read.
    QByteArray transact(SerialLine &line, const QByteArray &frame);
    bool readReply(SerialLine &line, QByteArray &payload);
    QByteArray readUpTo(SerialLine &line, qint64 count);
    // A frame that did not arrive whole: logged, and the reply is none.
    void replyCut(const QString &what);
    void logLine(LOGPRIORITY priority, const QString &text);
    int failDownload(QWidget *parent, const QString &text, int result);
    void setDownloadStage(DownloadStage stage);

    QWidget *m_parent;
    Prompter &m_prompter;
    SerialPorts &m_ports;
    HCC_HID &m_hid;
    VireoProgress &m_progress;
    SerialPortEntry m_port;
    VireoTimings m_timings;
    bool m_stopped = false;
    QString m_lastError;
    // Why the last exchange's reply was not used; empty when it was, or when none came.
    QString m_replyProblem;
};
