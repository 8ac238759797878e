#pragma once

#include "base/LogTypes.h"
#include "base/RevisionCheck.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

// The check after a good write to a USB player: its version is read again,
// looked for every kPollMs until it answers or the wait is over, and compared
// with the image's. Each player's way of reading it derives from this. Driven
// by a timer on the owner's thread; made when the write ended, which the wait
// counts from. It shows nothing itself: the panel ends the run with what
// finished() carries.
class PlayerVerifier : public QObject
{
    Q_OBJECT

public:
    // Between two looks for a player that is starting again after its update.
    static constexpr int kPollMs = 500;

    // product: the device type's name in the texts; expected: the image's
    // version as the player reports it, null when the image does not say;
    // waitMs: how long the player may take to answer.
    PlayerVerifier(const QString &product, const QString &expected, int waitMs, QObject *parent);
    ~PlayerVerifier() override;

    // Stops looking; nothing more is done or signalled.
    virtual void abort();
    bool isAborted() const { return m_aborted; }

signals:
    void log(LOGPRIORITY priority, const QString &text);
    // The check's result, and the steps after it that did not work out (the
    // firmware itself is in place); once.
    void finished(const RevisionCheck &check, const QString &remarks);

protected:
    // One look at the player; it ends the check or looks again.
    virtual void attempt() = 0;
    void lookAgainIn(int milliseconds);
    // Whether there is room for another look before the wait is over.
    bool timeLeft() const;
    // "15 s": the wait in the texts.
    QString waitText() const;
    // A match with a player that already reported the image's version
    // before the write (before) proves nothing: it answers the same whether
    // the write took or not.
    RevisionCheck judgedAgainstBefore(const RevisionCheck &check, const QString &before) const;

    const QString m_product;
    const QString m_expected;

private:
    QTimer m_timer;
    QElapsedTimer m_clock;
    const int m_waitMs;
    bool m_aborted = false;
};
