// Programming both USB players against zero-latency simulations, with the
// real progress dialogs (offscreen): a 0x20000-byte Sorrel 3 image as 512
// records of 256 bytes, and a 1 MiB Vireo Player image through the HID fake.
// Prints the time per record or report and the longest the event loop went
// without running.
//   bench_usbPrograms [runs]
#include "bench/BenchHex.h"
#include "base/Pauser.h"
#include "base/QtPrompter.h"
#include "catalogue/BootLoadProduct.h"
#include "catalogue/MicroprocessorImageInfo.h"
#include "usb/Device_VireoPlayer.h"
#include "usb/HCC_HID.h"
#include "usb/SimulatedHidDevices.h"
#include "usb/SimulatedSr3Usb.h"
#include "usb/SimulatedVireoPlayer.h"
#include "usb/VireoProgress.h"
#include "usb/usbInterfaceControl.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLoggingCategory>
#include <QPushButton>
#include <QRandomGenerator>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTimer>
#include <QtEndian>

#include <chrono>
#include <cstdio>
#include <functional>
#include <limits>

namespace {

constexpr int kSorrelImageSize = 0x20000;
constexpr int kSorrelPageSize = 256;
// Where the sample catalogue's Sorrel 3 keeps its mark (in 16-bit words), the
// mark, and a version the simulated player (01.00.82) can move to.
constexpr quint32 kSorrelMagicLoc = 0xFFF0;
constexpr quint32 kSorrelMagic = 0x53523301;
constexpr quint32 kSorrelVersion = 0x1005A;
constexpr int kVireoImageSize = 1 << 20;

// Real dialogs for progress; message boxes are answered at once.
class BenchPrompter : public QtPrompter
{
public:
    int boxes = 0;
    QMessageBox::StandardButton showMessage(QWidget *, Kind, const QString &title, const QString &text,
                                            QMessageBox::StandardButtons buttons) override
    {
        ++boxes;
        if (title != QLatin1String("Information"))
            std::fprintf(stderr, "message: %s: %s\n", qPrintable(title), qPrintable(text));
        return buttons.testFlag(QMessageBox::Yes) ? QMessageBox::Yes : QMessageBox::Ok;
    }
};

class NoPause : public Pauser
{
public:
    void pause(int) override {}
};

using BenchHex::hexText;

QByteArray randomBytes(int size, quint32 seed)
{
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator(seed).fillRange(reinterpret_cast<quint32 *>(bytes.data()), size / 4);
    return bytes;
}

struct Measure {
    double seconds = 0;
    double longestGapMs = 0;
};

// Runs work while a 1 ms timer notes how long the event loop went without
// getting to it.
Measure measure(const std::function<void()> &work)
{
    QElapsedTimer since;
    double longest = 0;
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        longest = qMax(longest, since.nsecsElapsed() / 1e6);
        since.restart();
    });
    tick.start(1);
    since.start();
    const auto start = std::chrono::steady_clock::now();
    work();
    Measure m;
    m.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    // The stretch after the last tick counts too.
    m.longestGapMs = qMax(longest, since.nsecsElapsed() / 1e6);
    return m;
}

// The offscreen platform says this of every dialog shown; it is not ours.
void quietHandler(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (!message.contains(QLatin1String("propagateSizeHints")))
        std::fprintf(stderr, "%d: %s\n", int(type), qPrintable(message));
}

} // namespace

int main(int argc, char **argv)
{
    qInstallMessageHandler(quietHandler);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int runs = argc > 1 ? qMax(1, atoi(argv[1])) : 5;
    QLoggingCategory::setFilterRules(QStringLiteral("zel.*.debug=false"));

    BenchPrompter prompter;
    NoPause pauser;

    // Sorrel 3: the image is accepted once, as the window accepts a file, with
    // the catalogue's geometry; every run connects and programs.
    MicroprocessorImageInfo info(prompter);
    info.setHierarchy(0);
    info.setFileType(0);
    info.setBlRev(1);
    info.setWordSize(2);
    info.setWordCount(kSorrelImageSize / 2);
    info.setPageSize(kSorrelPageSize);
    info.setMagicLoc(kSorrelMagicLoc);
    info.setMagicFlag(kSorrelMagic);
    info.setVerLoc(kSorrelMagicLoc + 2);
    QByteArray sorrelImage = randomBytes(kSorrelImageSize, 1);
    qToLittleEndian<quint32>(kSorrelMagic, sorrelImage.data() + 2 * kSorrelMagicLoc);
    qToLittleEndian<quint32>(kSorrelVersion, sorrelImage.data() + 2 * kSorrelMagicLoc + 4);
    BootLoadProduct sorrel(prompter);
    sorrel.setName(QStringLiteral("Sorrel 3"));
    sorrel.setInterfaceType(0);
    sorrel.addProcessor(&info);
    QTemporaryDir folder;
    const QString imageFile = folder.filePath(QStringLiteral("sorrel.hex"));
    {
        QFile file(imageFile);
        if (!file.open(QIODevice::WriteOnly) || file.write(hexText(sorrelImage)) < 0) {
            std::fprintf(stderr, "the Sorrel 3 image could not be written\n");
            return 1;
        }
    }
    if (!sorrel.loadImage(imageFile) || info.image() != sorrelImage) {
        std::fprintf(stderr, "the Sorrel 3 image was not accepted\n");
        return 1;
    }

    SimulatedSr3Usb sr3;
    SimulatedVireoPlayer unusedVireo;
    usbInterfaceControl panel(prompter, pauser, sr3, unusedVireo.serialPorts(), unusedVireo.hid());
    QStatusBar status;
    QObject::connect(&panel, &usbInterfaceControl::signal_updateStatus, &status,
                     [&status](const QString &text) { status.showMessage(text); });
    panel.show();
    status.show();

    Measure bestSorrel{std::numeric_limits<double>::max(), 0};
    for (int r = 0; r < runs; ++r) {
        // Each run starts from the version before, so that its check can tell.
        sr3.setFirmwareVersion(SimulatedSr3Usb::kDefaultFirmwareVersion);
        panel.findChild<QPushButton *>(QStringLiteral("m_pushButton_USBConnect"))->click();
        const Measure m = measure([&] { panel.program(&sorrel); });
        if (panel.lastRunOutcome().result != UsbRunOutcome::Succeeded || sr3.records().size() != 512
            || sr3.flash() != sorrelImage) {
            std::fprintf(stderr, "the Sorrel 3 run did not write the image\n");
            return 1;
        }
        if (!panel.lastRunOutcome().check.startsWith(QLatin1String("verified"))) {
            std::fprintf(stderr, "the Sorrel 3 run was not verified: %s\n", qPrintable(panel.lastRunOutcome().check));
            return 1;
        }
        if (m.seconds < bestSorrel.seconds)
            bestSorrel.seconds = m.seconds;
        bestSorrel.longestGapMs = qMax(bestSorrel.longestGapMs, m.longestGapMs);
    }

    // Vireo Player: the download alone, into one boot loader with 65-byte reports.
    const QByteArray vireoImage = randomBytes(kVireoImageSize, 2);
    SimulatedHidDevices hidDevices;
    hidDevices.addDevice(VIREO_VENDOR_ID, VIREO_BOOTLOADER_PRODUCT_ID, 65);
    HCC_HID hid(hidDevices);
    VireoProgress progress(prompter);
    Device_VireoPlayer vireo(nullptr, prompter, unusedVireo.serialPorts(), hid, progress);
    Measure bestVireo{std::numeric_limits<double>::max(), 0};
    qsizetype reports = 0;
    for (int r = 0; r < runs; ++r) {
        hidDevices.clearReports();
        const Measure m = measure([&] {
            if (vireo.downloadFW(nullptr, vireoImage, QStringLiteral("bench.bin")) != 0)
                std::fprintf(stderr, "download failed\n");
        });
        progress.close();
        reports = hidDevices.reports().size();
        QByteArray received;
        for (qsizetype i = 1; i + 1 < reports; ++i)
            received += hidDevices.reports().at(i).mid(2, quint8(hidDevices.reports().at(i).at(1)));
        if (received != vireoImage) {
            std::fprintf(stderr, "the Vireo Player image did not arrive whole\n");
            return 1;
        }
        if (m.seconds < bestVireo.seconds)
            bestVireo.seconds = m.seconds;
        bestVireo.longestGapMs = qMax(bestVireo.longestGapMs, m.longestGapMs);
    }

    std::printf("Sorrel 3, 0x%X bytes as 512 records of %d bytes: best of %d %8.1f ms, %.4f ms per record;"
                " longest event-loop gap %.1f ms\n",
                kSorrelImageSize, kSorrelPageSize, runs, bestSorrel.seconds * 1e3,
                bestSorrel.seconds * 1e3 / 512, bestSorrel.longestGapMs);
    std::printf("Vireo Player, %d bytes as %lld reports of 65 bytes: best of %d %8.1f ms, %.4f ms per report;"
                " longest event-loop gap %.1f ms\n",
                kVireoImageSize, static_cast<long long>(reports), runs, bestVireo.seconds * 1e3,
                bestVireo.seconds * 1e3 / double(reports), bestVireo.longestGapMs);
    return 0;
}
