#pragma once

#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

class DeviceEnvironment;
class Pauser;
class Prompter;
class QUrl;

// What the window hands down to the catalogue and the panels. Null or empty
// members take the real defaults: Qt dialogs, blocking pauses, the device
// layers that report their vendor library missing, the desktop URL handler and
// the first catalogue DataFiles finds. The window does not take ownership of
// what is passed in.
struct AppServices {
    Prompter *prompter = nullptr;
    Pauser *pauser = nullptr;
    DeviceEnvironment *devices = nullptr;
    // Opens the help page; the result is not looked at.
    std::function<bool(const QUrl &)> openUrl;
    // Full path of the product catalogue (-catalogue=): the only one read.
    QString cataloguePath;
    // Public key files trusted besides the key folders (-trustedKey=).
    QStringList trustedKeyPaths;
    // The folders of trusted public keys; by default the keys folders of the
    // installed and the user's data folders.
    std::optional<QStringList> keyFolders;
};
