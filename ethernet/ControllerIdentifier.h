#pragma once

#include "base/LogTypes.h"
#include "ethernet/EthernetSettings.h"

#include <QByteArray>
#include <QObject>
#include <QString>

class BootLoadProduct;
class Pauser;
class QTFTP;
class QTimer;

// Asks the controller at a typed address what it is, before anything is
// written to it: first by the discovery request the caller has just sent,
// whose replies are handed in, then, when none came in the discovery window,
// by its "info" file. Answers once with identified(), from the event loop or
// from the end of the read.
class ControllerIdentifier : public QObject
{
    Q_OBJECT

public:
    // What the controller said it is.
    struct Identity {
        enum class Kind {
            Selected, // answered as the selected device type
            Other,    // answered as another type
            Unknown,  // did not say: no answer, or an "info" without a version string
        };
        QString address;
        Kind kind = Kind::Unknown;
        QString as;       // what it answered as: "idstring (verstring)"
        QString revision; // what the panel's revision route would have shown; null when not read
        QString how;      // what it answered: "discovery" or "\"info\""; empty when nothing
        bool revisionUntold = false; // asked for its revision, it did not tell
    };
    // What a controller answered discovery with.
    struct Reply {
        QString verstring;
        QString idstring;
    };

    ControllerIdentifier(const EthernetSettings &settings, Pauser &pauser, QObject *parent = nullptr);
    ~ControllerIdentifier() override;

    // product: the device type the controller is held to. discoverySent: a
    // discovery request has just gone out; without one the "info" file is
    // read at once.
    void start(const QString &address, const BootLoadProduct *product, bool discoverySent);
    // A discovery reply: true when it is the answer the question waits for,
    // which then ends it.
    bool takeDiscoveryReply(quint32 ip, unsigned short version, const Reply &reply);
    // Ends the question under way; nothing more is signalled.
    void stop();
    bool isActive() const { return !m_address.isNull(); }
    QString address() const { return m_address; }

    // A controller as the texts name it: "idstring (verstring)".
    static QString describe(const Reply &reply);
    static Identity fromDiscovery(const QString &address, Identity::Kind kind, const Reply &reply);

signals:
    void identified(const ControllerIdentifier::Identity &identity);
    void message(LOGPRIORITY priority, const QString &text);
    // The question has begun: what the operator waits for.
    void asking(const QString &text);

private:
    void readInfo();
    void infoReadDone(int result);
    void answer(const Identity &identity);

    const EthernetSettings &m_settings;
    Pauser &m_pauser;
    QString m_address;
    // Of the device type held to: its verstring text, and how its revision is read.
    QString m_sft;
    bool m_infoRoute = false;
    bool m_marlow = false;
    QTimer *m_window = nullptr; // discovery's, while its answer may still come
    QTFTP *m_read = nullptr;
    QByteArray m_buffer;
};
