#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

// Plays one or many Ethernet controllers on real UDP sockets: answers
// discovery requests, serves the "info" file and takes a "firmware" write by
// TFTP, answering from the TFTP port itself. Runs on a thread of its own.
class ControllerSimulator
{
public:
    // Faults applied to TFTP packets (0 = never): every Nth packet in or out
    // is dropped; the Nth packet in or out is duplicated, once (every
    // duplicate makes both sides answer twice from then on, so repeated ones
    // would only measure that); answers may be held back by delayMs.
    struct Faults {
        int dropIn = 0;
        int dropOut = 0;
        int dupIn = 0;
        int dupOut = 0;
        int delayMs = 0;
        // Answer from a second socket, as servers that follow RFC 1350 to the
        // letter do; a client that only hears the TFTP port never gets them.
        bool answerFromOtherPort = false;
        // Refuse a write with an ERROR packet: to its request (0) or to DATA
        // block errorAtBlock (-1 = never), every time it comes.
        int errorAtBlock = -1;
        int errorCode = 3;
        QByteArray errorText = "Disk full";
    };

    struct Controller {
        quint32 ip = 0; // host order
        QByteArray idstring;
        QByteArray verstring;
        quint32 sn = 0;
        quint32 uni = 0;
        // Build number of the running firmware; the discovery reply's version
        // field, the third field of "info" (hex) and what a write replaces.
        quint32 revision = 0;
        QByteArray firmware; // last complete write
        int writes = 0;
        // This controller's own faults in place of the simulator's.
        std::optional<Faults> faults;
        // TFTP traffic seen, dropped packets included: how many packets came
        // in, and when the first and the last packet of a write did
        // (microseconds since start(), -1 before any), so a test can tell
        // which writes overlapped.
        quint64 packetsIn = 0;
        qint64 firstPacketUs = -1;
        qint64 lastPacketUs = -1;
        // As Options::keepRevision and noReturn, for this controller alone.
        bool keepRevision = false;
        bool noReturn = false;
        // Took an image under noReturn: answers nothing any more.
        bool gone = false;
        // So many of the next "info" reads get an empty file, as from a
        // controller that is still starting.
        int emptyInfoReads = 0;
        // Answers no discovery request (TFTP only).
        bool ignoresDiscovery = false;
    };

    struct Options {
        QString bindAddress = QStringLiteral("127.0.0.1"); // discovery socket
        int discoveryPort = 0;  // 0: any free port
        int tftpPort = 69;      // 0: one free port shared by all controllers
        bool tftp = true;       // false: discovery only (addresses need not be local)
        quint32 versionOffset = 0x3FF04; // byte offset of the version word in an image
        Faults faults;
        // A button datagram (show, button) follows each discovery reply when >= 0.
        int buttonShow = -1;
        int buttonNumber = -1;
        // Announce datagrams to this address and port, at start and then
        // every announceIntervalMs (0: once).
        QString announceHost;
        int announcePort = 0;
        int announceIntervalMs = 0;
        // After a complete write: keep reporting the old revision...
        bool keepRevision = false;
        // ...or never answer again (discovery, "info", TFTP, announces).
        bool noReturn = false;
    };

    // Called on the simulator's thread after a complete write.
    using WriteDone = std::function<void(quint32 ip, quint32 revision, const QByteArray &image)>;
    // One line per event ("discovery from ...", "write ..."), on the simulator's thread.
    using EventLog = std::function<void(const QString &line)>;

    explicit ControllerSimulator(const Options &options);
    ~ControllerSimulator();
    ControllerSimulator(const ControllerSimulator &) = delete;
    ControllerSimulator &operator=(const ControllerSimulator &) = delete;

    // Before start().
    void addController(const Controller &controller);
    void setWriteDone(WriteDone callback) { m_writeDone = std::move(callback); }
    void setEventLog(EventLog callback) { m_eventLog = std::move(callback); }

    bool start();
    void stop();
    QString errorString() const { return m_error; }
    int discoveryPort() const { return m_discoveryPort; }
    int tftpPort() const { return m_tftpPort; }

    // Thread-safe snapshots.
    QList<Controller> controllers() const;
    Controller controller(quint32 ip) const;
    int discoveryRequests() const { return m_discoveryRequests; }

    // The revision carried by an image: the low byte of the little-endian
    // version word at offset, read from the data records of an Intel HEX
    // text or from raw bytes. False when the image has no such word.
    static bool revisionOf(const QByteArray &image, quint32 offset, quint32 &revision);
    static QByteArray infoText(const Controller &controller);
    static QByteArray discoveryReply(const Controller &controller);
    static QByteArray announce(const Controller &controller, quint16 devType, quint16 anncType);
    static QByteArray button(quint32 sn, int show, int button);

private:
    struct Session;
    struct Pending;
    struct Node;

    void loop();
    void handleDiscovery();
    void handleTftp(Node &node);
    void process(Node &node, const QByteArray &packet, const struct sockaddr_in &from);
    void sendTftp(Node &node, const QByteArray &packet, const struct sockaddr_in &to);
    void sendNow(int fd, const QByteArray &packet, const struct sockaddr_in &to);
    void sendAnnounces();
    const Faults &faultsOf(const Node &node) const;
    void event(const QString &line);
    bool bindAll();
    void closeAll();

    Options m_options;
    QList<std::shared_ptr<Node>> m_nodes;
    mutable std::mutex m_mutex;
    WriteDone m_writeDone;
    EventLog m_eventLog;
    QString m_error;
    int m_discoveryFd = -1;
    int m_wakeFds[2] = {-1, -1};
    int m_discoveryPort = 0;
    int m_tftpPort = 0;
    std::atomic<int> m_discoveryRequests {0};
    std::atomic<bool> m_stopping {false};
    std::thread m_thread;
    QElapsedTimer m_clock;
    QList<std::shared_ptr<Pending>> m_pending;
};
