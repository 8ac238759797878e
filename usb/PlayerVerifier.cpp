#include "usb/PlayerVerifier.h"

PlayerVerifier::PlayerVerifier(const QString &product, const QString &expected, int waitMs, QObject *parent)
    : QObject(parent), m_product(product), m_expected(expected), m_waitMs(waitMs)
{
    m_clock.start();
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, [this] {
        if (!m_aborted)
            attempt();
    });
}

PlayerVerifier::~PlayerVerifier() = default;

void PlayerVerifier::abort()
{
    m_aborted = true;
    m_timer.stop();
}

void PlayerVerifier::lookAgainIn(int milliseconds)
{
    if (!m_aborted)
        m_timer.start(milliseconds);
}

bool PlayerVerifier::timeLeft() const
{
    return m_clock.elapsed() + kPollMs <= m_waitMs;
}

QString PlayerVerifier::waitText() const
{
    return tr("%1 s").arg(QString::number(m_waitMs / 1000.0, 'g', 4));
}

RevisionCheck PlayerVerifier::judgedAgainstBefore(const RevisionCheck &check, const QString &before) const
{
    if (check.result != RevisionCheck::Result::Verified || before.isNull() || before != check.expected)
        return check;
    RevisionCheck unproven = RevisionCheck::notComparable(
        check.revisionAfter, tr("the %1 reports %2 as it did before the update, so its version cannot tell "
                                "the image from the firmware it ran")
                                 .arg(m_product, check.revisionAfter));
    unproven.expected = check.expected;
    return unproven;
}
