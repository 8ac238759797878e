#pragma once

#include "base/RevisionCheck.h"
#include "ethernet/EthernetSettings.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QString>

#include <memory>
#include <optional>

class BootLoadProduct;
class QTimer;
class TarvoInput;
class TarvoLibrary;

// Reads the revision of controllers that have just taken an image, by the
// route the panel shows "Rev." with, and compares it with the image's build
// number. Everything is driven by timers on the owner's thread: first a
// settle while the controllers restart, then attempts until each answers or
// the wait is over. The first answer after the settle decides.
class ControllerVerifier : public QObject
{
    Q_OBJECT

public:
    enum class Route {
        Info,      // third field of the "info" file, read by TFTP
        Discovery, // version field of the discovery reply (the Marlows)
        Value,     // firmware revision value of the controller-value library
    };
    struct Target {
        QString address; // dotted IPv4
        Route route = Route::Info;
        // What the route reported before the write; null when nothing was
        // read. The same build number again proves nothing about the image.
        QString revisionBefore;
        // It was asked for its revision before the write and did not tell:
        // a matching build number afterwards may be the firmware it ran.
        bool beforeUnread = false;
        // Set when the controller did not say what it is before the write:
        // the text its version string must carry (the product's SFT text)
        // and the device type it stands for. Until it answers as that type,
        // a matching revision is not enough.
        QString typeText;
        QString typeName;
    };

    // expected: the image's build number as the routes report it, in
    // decimal; null when the image carries none, and why says so.
    ControllerVerifier(const QList<Target> &targets, const QString &expected, const QString &why,
                       const EthernetSettings &settings, TarvoLibrary &tarvo, int discoveryPort,
                       QObject *parent = nullptr);
    ~ControllerVerifier() override;

    // Before start(): how long, after the settle, the controllers may take to answer.
    void setWait(int milliseconds) { m_waitMs = qMax(0, milliseconds); }
    // Before start(): the wait before the first question, in place of
    // EthernetSettings::verifySettleMs (0 where nothing was written).
    void setSettle(int milliseconds) { m_settleMs = qMax(0, milliseconds); }
    void start();
    // Stops every question under way; nothing more is signalled.
    void abort();

    bool isDone() const { return m_done; }
    const QList<RevisionCheck> &checks() const { return m_checks; }

    // The route by which a product's controllers report their revision.
    static Route routeFor(const BootLoadProduct *product);
    // The image's build number in the routes' form: the low byte of the
    // packed version; nothing when the image was not read with one.
    static std::optional<quint32> buildNumber(quint32 packedVersion, bool versioned);
    // The revision an "info" text carries: its third asterisk-separated
    // field read as hexadecimal, all of it; nothing when there is no such field.
    static std::optional<quint32> infoRevision(const QByteArray &info);
    // The version string an "info" text ends with (what follows its third
    // field); null when it has none.
    static QString infoVersionText(const QByteArray &info);

signals:
    // checks().at(index) holds the result.
    void checked(int index);
    void finished();

private:
    struct Probe;

    void attempt();
    void startInfoRead(Probe &probe);
    void infoReadDone(Probe &probe, int result);
    void discoveryReply(unsigned long ip, unsigned short version, const QString &verstring,
                        const QString &idstring);
    void valueReply(unsigned long ip, quint16 valueId, quint32 value);
    void answered(Probe &probe, quint32 revision);
    // The controller answered with a version string (and reported, when the
    // same answer carried a revision): is it the type the probe must find?
    void typeSeen(Probe &probe, const QString &verstring, const QString &idstring, const QString &reported);
    void conclude(int index, const RevisionCheck &check);
    void timeUp();
    void stopRead(Probe &probe);
    void finishIfDone();
    int settleMs() const;

    QList<std::shared_ptr<Probe>> m_probes;
    QList<RevisionCheck> m_checks;
    QString m_expected;
    QString m_why;
    const EthernetSettings &m_settings;
    TarvoLibrary &m_tarvo;
    int m_discoveryPort = 0;
    int m_waitMs = 60000;
    int m_settleMs = -1; // -1: the settings'
    std::unique_ptr<TarvoInput> m_discover;
    QTimer *m_settle = nullptr;
    QTimer *m_retry = nullptr;
    QTimer *m_deadline = nullptr;
    bool m_started = false;
    bool m_asking = false; // the settle is over
    bool m_done = false;
};
