#pragma once

#include "usb/PlayerVerifier.h"
#include "usb/SerialPorts.h"

#include <functional>
#include <memory>

class Device_VireoPlayer;
struct VireoDescriptor;

// The Vireo Player after its download: its serial port is looked for until
// it is back, its descriptor read until it answers, each within the wait;
// then the steps of the shop floor follow (its firmware file name recorded,
// its show files restored when asked). A player that does not answer is
// asked nothing more.
class VireoVerifier : public PlayerVerifier
{
    Q_OBJECT

public:
    // A new player object for each look; the panel's, so that its boxes and
    // progress are the panel's.
    using MakePlayer = std::function<std::unique_ptr<Device_VireoPlayer>()>;

    // fileName: the image's file, whose name the player records;
    // factoryDefault: its factory show files are restored; before: the
    // version its descriptor gave before the download, null when unknown.
    VireoVerifier(MakePlayer makePlayer, const QString &fileName, bool factoryDefault, const QString &product,
                  const QString &expected, const QString &before, int waitMs, QObject *parent = nullptr);

    // The first look comes after settleMs, the time the player takes to restart.
    void start(int settleMs) { lookAgainIn(settleMs); }
    // Also ends the wait of the player object under way.
    void abort() override;

signals:
    // The player, back, told its serial number.
    void identified(const QString &serialNumber);
    // More than one player is back: which of them restarted cannot be told,
    // and nothing is written to any. Nothing else is signalled.
    void severalFound();

private:
    void attempt() override;
    // The player's port is back: its descriptor is read, then the shop-floor steps.
    void readBack();
    RevisionCheck judged(const VireoDescriptor &after, bool answered) const;
    QString notRecordedRemark() const;

    MakePlayer m_makePlayer;
    const QString m_fileName;
    const bool m_factoryDefault;
    const QString m_before;
    Device_VireoPlayer *m_active = nullptr;
    SerialPortEntry m_port;
    bool m_seenAgain = false;
};
