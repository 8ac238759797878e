#pragma once

#include "base/RevisionCheck.h"
#include "dmx/FixtureRevision.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>

class QTimer;

namespace ZelHollis {
class Hollis;
}

// Reads the firmware revision of a fixture that has just taken an image and
// judges it against the image's. A read the fixture leaves unanswered is
// asked again until the wait is over; the first answer decides. Driven by a
// timer on the owner's thread.
class FixtureVerifier : public QObject
{
    Q_OBJECT

public:
    explicit FixtureVerifier(ZelHollis::Hollis &hollis, QObject *parent = nullptr);

    // How long one read waits for its answer.
    void setReadWait(int milliseconds) { m_readWaitMs = milliseconds; }
    // How long, from start(), the fixture may take to answer again.
    void setWait(int milliseconds) { m_waitMs = milliseconds; }

    // Reads serial's revision on device; before is what the fixture reported
    // ahead of its update (null when unknown).
    void start(int device, quint32 serial, const FixtureImageRevision &image, const QString &before);
    // Asks nothing more; checked() is not signalled.
    void abort();
    bool isChecking() const { return m_checking; }

signals:
    void checked(RevisionCheck check);

private:
    void read();
    void readEnded();

    ZelHollis::Hollis &m_hollis;
    QTimer *m_timer = nullptr;
    int m_readWaitMs = 1000;
    int m_waitMs = 10000;
    int m_device = -1;
    quint32 m_serial = 0;
    FixtureImageRevision m_image;
    QString m_before;
    QElapsedTimer m_clock;
    bool m_readStarted = false;
    bool m_checking = false;
};
