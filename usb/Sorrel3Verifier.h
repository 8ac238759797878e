#pragma once

#include "usb/PlayerVerifier.h"

class Sorrel3Link;

// The Sorrel 3 after a good write: found as the connect finds it, in its
// firmware, switched to its boot loader, opened and read; then reset into its
// firmware again. A player that is back at once is read by start() itself.
class Sorrel3Verifier : public PlayerVerifier
{
    Q_OBJECT

public:
    // before: the version the player reported before the write; null when unknown.
    Sorrel3Verifier(Sorrel3Link &link, const QString &product, const QString &expected, const QString &before,
                    int waitMs, QObject *parent = nullptr);

    void start() { attempt(); }

private:
    void attempt() override;

    Sorrel3Link &m_link;
    const QString m_before;
    // It answered once, but not with a version.
    bool m_answeredWithoutVersion = false;
};
