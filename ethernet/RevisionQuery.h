#pragma once

#include "base/LogTypes.h"
#include "ethernet/EthernetSettings.h"

#include <QByteArray>
#include <QObject>

class QTFTP;
class QTimer;
class TarvoLibrary;

// The question for the revision of the controller the operator chose: a
// value of the controller-value library, or its "info" file read by TFTP on
// a thread of its own. Whoever asked decides whether a reply is the answer
// and then calls answered(); without one the question times out after
// EthernetSettings::queryWindowMs.
class RevisionQuery : public QObject
{
    Q_OBJECT

public:
    RevisionQuery(const EthernetSettings &settings, TarvoLibrary &tarvo, QObject *parent = nullptr);
    // As release().
    ~RevisionQuery() override;

    void askValue(quint32 address);
    // Asks nothing new while a read is still under way, but waits anew.
    void readInfo(quint32 address);
    void answered();
    bool isWaiting() const;
    // Nothing of the question comes back any more: the wait ends and the
    // read is let go, to end in its own time.
    void stop();
    // As stop(), but the read is waited for.
    void release();

signals:
    void message(LOGPRIORITY priority, const QString &text);
    // The library's replies while the question waits.
    void valueReply(quint32 ip, quint16 valueId, quint32 value);
    void infoRead(quint32 address, int result, const QByteArray &info);
    void timedOut();

private:
    void infoReadDone(int result);

    const EthernetSettings &m_settings;
    TarvoLibrary &m_tarvo;
    QTimer *m_timer = nullptr;
    QTFTP *m_read = nullptr;
    quint32 m_address = 0;
    char m_buffer[512];
};
