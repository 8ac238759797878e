#pragma once

#include "base/LogTypes.h"
#include "base/RevisionCheck.h"
#include "ethernet/EthernetSettings.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QString>

class BootLoadProduct;
class ControllerVerifier;
class TarvoLibrary;

// The check after an update: asks the controllers a run has written for
// their revision, by the route the product's controllers report it, and
// keeps and tells each answer. One run's check at a time.
class UpdateCheck : public QObject
{
    Q_OBJECT

public:
    struct Written {
        QString address;
        QString revisionBefore; // what was read before the write; null when nothing
        bool beforeUnread = false; // asked before the write, it did not tell
    };

    UpdateCheck(const EthernetSettings &settings, TarvoLibrary &tarvo, QObject *parent = nullptr);
    ~UpdateCheck() override;

    // Checks the controllers written with product's image. typeUnconfirmed:
    // they did not say what they are before the write, so only an answer as
    // product's type verifies them. waitMs counts from the end of
    // EthernetSettings::verifySettleMs.
    void start(const QList<Written> &written, const BootLoadProduct *product, bool typeUnconfirmed,
               int discoveryPort, int waitMs);
    // Ends the check under way; nothing more is signalled.
    void stop();
    bool isRunning() const { return m_verifier != nullptr; }

    const QList<Written> &written() const { return m_written; }
    // The answers of the last check, by controller address.
    const QHash<QString, RevisionCheck> &checks() const { return m_checks; }
    // The controllers of the last check that have no answer.
    QList<Written> unchecked() const;

signals:
    void message(LOGPRIORITY priority, const QString &text);
    void checked(const UpdateCheck::Written &written, const RevisionCheck &check);
    void finished();

private:
    void verifierChecked(int index);
    void verifierDone();

    const EthernetSettings &m_settings;
    TarvoLibrary &m_tarvo;
    ControllerVerifier *m_verifier = nullptr;
    QList<Written> m_written;
    QHash<QString, RevisionCheck> m_checks;
};
