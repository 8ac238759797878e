#pragma once

#include "base/LogTypes.h"
#include "ethernet/ControllerVerifier.h"
#include "ethernet/EthernetSettings.h"

#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QString>
#include <QStringList>

class TarvoLibrary;

// Before a "program all" run writes (or a write to a typed address whose
// answer carried no revision), asks the controllers whose
// revision is not known yet for it, all at once, by the route the panel
// shows "Rev." with. Only then can the check afterwards tell a controller
// that took the image from one that ran its build already. What a
// controller does not tell within EthernetSettings::queryWindowMs stays unknown.
class FleetRevisionRead : public QObject
{
    Q_OBJECT

public:
    // route: Info or Value; the discovery route's revision comes with the list.
    FleetRevisionRead(const QStringList &addresses, ControllerVerifier::Route route,
                      const EthernetSettings &settings, TarvoLibrary &tarvo, QObject *parent = nullptr);

    void start();
    // Ends the questions under way; nothing more is signalled.
    void abort();

    const QStringList &addresses() const { return m_addresses; }
    // By address, what each controller told, whole; absent when it told nothing.
    const QHash<QString, QString> &revisions() const { return m_revisions; }
    int answered() const { return m_answered; }
    // An "info" file was read: the controllers need their pause before the writes.
    bool infoRead() const { return m_infoRead; }

signals:
    void message(LOGPRIORITY priority, const QString &text);
    // One more controller told or gave up.
    void progress(int answered, int total);
    void finished();

private:
    void checked(int index);

    QStringList m_addresses;
    ControllerVerifier::Route m_route;
    ControllerVerifier *m_verifier = nullptr;
    int m_waitMs = 0;
    QElapsedTimer m_clock;
    QHash<QString, QString> m_revisions;
    int m_answered = 0;
    bool m_infoRead = false;
};
