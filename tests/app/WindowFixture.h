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

// Fake dialogs for the window. Once answerUnscripted is set, message boxes
// beyond the script are answered with their first button and recorded: what
// a panel reports about its own run is the panel's business, not the window's.
class WindowPrompter : public FakePrompter
{
public:
    bool answerUnscripted = false;
    QStringList answered; // "title: text"

    QMessageBox::StandardButton showMessage(QWidget *parent, Kind kind, const QString &title,
                                            const QString &text,
                                            QMessageBox::StandardButtons buttons) override;
};

// One window on fake dialogs and pauses, recorded help URLs and the device
// layers of the chosen kind. The window goes before what it was given.
struct WindowFixture {
    WindowPrompter prompter;
    RecordingPauser pauser;
    std::unique_ptr<DeviceEnvironment> devices;
    QList<QUrl> openedUrls;
    std::unique_ptr<ZelBootLoader> window;

    struct Options {
        QString cataloguePath;
        bool simulate = true;
        int interfaceIndex = -1;
        QString deviceType;
        QString deviceAddress;
        bool autoConnect = false;
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
