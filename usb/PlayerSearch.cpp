#include "usb/PlayerSearch.h"

#include <QTimer>

PlayerSearch::PlayerSearch(std::function<Look()> look, std::function<void()> connectPlayer, QObject *parent)
    : QObject(parent), m_look(std::move(look)), m_connect(std::move(connectPlayer))
{
}

void PlayerSearch::start()
{
    QTimer::singleShot(0, this, &PlayerSearch::search);
}

void PlayerSearch::search()
{
    const Look before = m_look();
    if (before.closing)
        return emit done(false, tr("The program is closing."));
    // Connecting again would take the player away from the run.
    if (!before.running.isEmpty())
        return emit done(false, tr("A %1 run is still in progress.").arg(before.running));
    m_connect();
    const Look after = m_look();
    if (after.closing)
        return emit done(false, tr("The program is closing."));
    const QString player = after.vireoPlayer ? tr("Vireo Player") : tr("Sorrel 3");
    if (after.offered) {
        const QString which = after.serialNumber.isEmpty() ? player : tr("%1 %2").arg(player, after.serialNumber);
        emit done(true, tr("%1 is ready to be programmed.").arg(which));
    } else {
        emit done(false, after.problem.isEmpty() ? tr("No %1 was found.").arg(player) : after.problem);
    }
}
