#pragma once

#include "app/AppServices.h"
#include "app/DeviceEnvironment.h"
#include "app/ZelBootLoader.h"
#include "tests/support/FakePrompter.h"
#include "tests/support/RecordingPauser.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <memory>
#include <optional>

// One window on fake dialogs and pauses, recorded help URLs and the device
// layers of the chosen kind. The window goes before what it was given. Every
// box and file dialog, the panels' included, must be scripted: one that was
// not, or one scripted but never shown, fails the test.
struct WindowFixture {
    FakePrompter prompter;
    RecordingPauser pauser;
    std::unique_ptr<DeviceEnvironment> devices;
    QList<QUrl> openedUrls;
    std::unique_ptr<ZelBootLoader> window;

    struct Options {
        QString cataloguePath;
        bool simulate = true;
        DeviceEnvironment::SimulationOptions simulation;
        int interfaceIndex = -1;
        QString deviceType;
        QString deviceAddress;
        bool autoConnect = false;
        // Folders of trusted keys: none by default, so that keys installed on
        // the machine running the tests change nothing.
        std::optional<QStringList> keyFolders = QStringList();
        QStringList trustedKeyPaths;
        // Whether a web browser can be started for the help page.
        bool browserStarts = true;
    };

    explicit WindowFixture(const Options &options);
    ~WindowFixture();

    template <typename T> T *find(const QString &name) const
    {
        return window->findChild<T *>(name);
    }
    QStringList logLines() const;
    // Closes the window (writing its shutdown log) and keeps the rest.
    void destroyWindow() { window.reset(); }
};

// The sample catalogue of the source tree.
QString sampleCataloguePath();
// Product names of one catalogue element kind ("USBDevice", ...), file order.
QStringList catalogueNames(const QString &path, const QString &elementName);

// Intel HEX text with one four-byte little-endian value per offset, then the
// end-of-file record.
QString hexImage(const QList<QPair<quint32, quint32>> &words);
QString writeFile(const QString &path, const QString &text);
