#pragma once

#include "usb/Device_VireoPlayer.h"
#include "usb/SerialPorts.h"
#include "usb/SimulatedHidDevices.h"

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QObject>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

class QSocketNotifier;

// A Vireo Player kept in memory, for demonstrations and tests. While it runs
// its application it answers on the far end of a pseudo-terminal, listed as
// its USB serial port; told to reboot, it leaves the port and shows up as
// its boot loader among simulated HID devices, takes the firmware download,
// and comes back on its port running the downloaded version. Both sides are
// reached through the same interfaces as a real player (SerialPorts with a
// real serial line, HidBackend).
class SimulatedVireoPlayer : public QObject
{
    Q_OBJECT

public:
    enum class State { Application, BootLoader, Restarting };

    // Raw reply bytes for a received frame; nullopt leaves the frame to the player.
    using Responder = std::function<std::optional<QByteArray>(const QByteArray &frame)>;

    static constexpr quint32 kImageMagic = Device_VireoPlayer::kImageMagic;
    static constexpr int kMagicOffset = Device_VireoPlayer::kImageMagicOffset;
    static constexpr int kVersionOffset = Device_VireoPlayer::kImageVersionOffset;

    explicit SimulatedVireoPlayer(QObject *parent = nullptr);
    ~SimulatedVireoPlayer() override;

    SerialPorts &serialPorts();
    SimulatedHidDevices &hid() { return m_hid; }
    // False when no pseudo-terminal could be made: the player then never
    // shows a serial port.
    bool hasLine() const { return m_master >= 0; }
    QString linePath() const { return m_slavePath; }

    State state() const { return m_state; }
    void setState(State state);
    // How long the reboot into the boot loader and the restart after a
    // download take; 0 is at the next event.
    void setDelays(int rebootMs, int restartMs);
    void setDescriptor(const VireoDescriptor &descriptor) { m_descriptor = descriptor; }
    VireoDescriptor descriptor() const { return m_descriptor; }
    // The player answers "boot loader" without "boot success", so it stays put.
    void setRebootRefused(bool refused) { m_rebootRefused = refused; }
    // A status frame goes before every reply.
    void setStatusFrames(bool on) { m_statusFrames = on; }
    // Other players' ports, listed whatever this one does.
    void setExtraPorts(int count) { m_extraPorts = count; }
    // Other boot loaders, present whatever this player does.
    void setExtraBootLoaders(int count);
    void setBootLoaderReportLength(int length) { m_reportLength = length; }
    // The boot loader declares its reports with this descriptor instead.
    void setBootLoaderDescriptor(const QByteArray &descriptor) { m_reportDescriptor = descriptor; }
    void setResponder(Responder responder) { m_responder = std::move(responder); }
    // After a download: the player keeps reporting the version it had, or
    // never starts again.
    void setKeepRevision(bool keep) { m_keepRevision = keep; }
    void setNoReturn(bool gone) { m_noReturn = gone; }

    // What reached the player.
    const QList<QByteArray> &receivedFrames() const { return m_frames; }
    QStringList requestLines() const;
    const QStringList &deletedFiles() const { return m_deleted; }
    const QMap<QString, QString> &mfgValues() const { return m_mfgValues; }
    QByteArray downloadedImage() const { return m_image; }
    quint32 downloadParameter() const { return m_downloadParameter; }
    int downloads() const { return m_downloads; }
    void clearRecords();

    // A whole reply frame as the player sends it.
    static QByteArray replyFrame(quint16 servicePort, const QByteArray &payload, quint16 source = 80);
    static QByteArray statusFrame();

signals:
    void stateChanged(SimulatedVireoPlayer::State state);

private:
    class Ports;

    void readLine();
    void handleFrame(const QByteArray &frame);
    QByteArray httpReply(const QByteArray &request);
    void send(const QByteArray &bytes);
    void handleReport(const QByteArray &report);

    int m_master = -1;
    int m_slave = -1;
    QString m_slavePath;
    QSocketNotifier *m_notifier = nullptr;
    QByteArray m_input;
    std::unique_ptr<Ports> m_ports;
    SimulatedHidDevices m_hid;
    QStringList m_extraBootLoaderPaths;

    State m_state = State::Application;
    int m_rebootMs = 0;
    int m_restartMs = 0;
    int m_extraPorts = 0;
    int m_reportLength = 65;
    QByteArray m_reportDescriptor;
    bool m_rebootRefused = false;
    bool m_rebootAllowed = false;
    bool m_statusFrames = false;
    bool m_downloading = false;
    bool m_keepRevision = false;
    bool m_noReturn = false;
    VireoDescriptor m_descriptor;
    Responder m_responder;

    QList<QByteArray> m_frames;
    QStringList m_deleted;
    QMap<QString, QString> m_mfgValues;
    QByteArray m_image;
    quint32 m_downloadParameter = 0;
    int m_downloads = 0;
};
