#pragma once

#include <QObject>
#include <QString>

#include <functional>

// The search of a run without an operator on the USB panel. One player is
// attached at a time, so there is nothing to choose by: it connects to
// whichever is there, as the Connect button does, and words what came of it.
// It answers once for each start(), from the event loop.
class PlayerSearch : public QObject
{
    Q_OBJECT

public:
    // The panel as the search finds it.
    struct Look {
        bool closing = false;
        // The product of a run still under way; empty when none is.
        QString running;
        bool vireoPlayer = false;
        // What the last connect came to: a player offered, with its serial
        // number when it tells one, or why none was.
        bool offered = false;
        QString serialNumber;
        QString problem;
    };

    PlayerSearch(std::function<Look()> look, std::function<void()> connectPlayer, QObject *parent = nullptr);

    void start();

signals:
    // found means the player is selected, with PROGRAM offered.
    void done(bool found, const QString &message);

private:
    void search();

    std::function<Look()> m_look;
    std::function<void()> m_connect;
};
