// Loading and checking a 4 MiB Intel HEX image through loadImage, against
// srec_cat converting the same file to binary.
//   bench_loadImage [runs]
#include "bench/BenchHex.h"
#include "base/Prompter.h"
#include "catalogue/BootLoadProduct.h"
#include "catalogue/HexFileState.h"
#include "catalogue/ImageDump.h"
#include "catalogue/ImageSource.h"
#include "catalogue/MicroprocessorImageInfo.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <chrono>
#include <cstdio>
#include <limits>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr quint32 kImageSize = 4u << 20;
constexpr quint32 kWordSize = 4;
constexpr quint32 kMagicLoc = 0x100;
constexpr quint32 kVerLoc = 0x101;
constexpr quint32 kMagic = 0x5A454C21;

class CountingPrompter : public Prompter
{
public:
    int shown = 0;
    QMessageBox::StandardButton showMessage(QWidget *, Kind, const QString &title, const QString &text,
                                            QMessageBox::StandardButtons) override
    {
        ++shown;
        std::fprintf(stderr, "unexpected message: %s: %s\n", qPrintable(title), qPrintable(text));
        return QMessageBox::Ok;
    }
    QString getOpenFileName(QWidget *, const QString &, const QString &, const QString &) override
    {
        return QString();
    }
    std::unique_ptr<ProgressHandle> openProgress(QWidget *, const QString &, const QString &,
                                                 const QString &, int, int) override
    {
        return nullptr;
    }
};

using BenchHex::hexText;

double secondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

struct ChildRun {
    bool ok = false;
    double seconds = 0;
    long maxRssKiB = 0;
};

// Time, success and peak memory of a child started at start.
ChildRun waitForChild(pid_t pid, std::chrono::steady_clock::time_point start)
{
    ChildRun run;
    int status = 0;
    rusage usage{};
    if (pid > 0 && wait4(pid, &status, 0, &usage) == pid) {
        run.seconds = secondsSince(start);
        run.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
        run.maxRssKiB = usage.ru_maxrss;
    }
    return run;
}

// Runs argv in a child; wall time and the child's peak memory.
ChildRun runChild(const QList<QByteArray> &arguments)
{
    std::vector<char *> argv;
    for (const QByteArray &a : arguments)
        argv.push_back(const_cast<char *>(a.constData()));
    argv.push_back(nullptr);
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        execv(argv[0], argv.data());
        _exit(127);
    }
    return waitForChild(pid, start);
}

// Loads the file once in a child process, so that its peak memory is that of
// loadImage alone.
ChildRun loadInChild(BootLoadProduct &product, const QString &file)
{
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0)
        _exit(product.loadImage(file) ? 0 : 1);
    return waitForChild(pid, start);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? qMax(1, atoi(argv[1])) : 5;
    QLoggingCategory::setFilterRules(QStringLiteral("zel.*.debug=false"));

    QTemporaryDir dir;
    if (!dir.isValid() || !QDir::setCurrent(dir.path())) {
        std::fprintf(stderr, "no temporary directory\n");
        return 1;
    }

    // The image and its file; the file is made before anything is measured.
    QByteArray image(kImageSize, Qt::Uninitialized);
    QRandomGenerator random(20260108);
    random.fillRange(reinterpret_cast<quint32 *>(image.data()), kImageSize / 4);
    for (int i = 0; i < 4; ++i) {
        image[kWordSize * kMagicLoc + i] = char(kMagic >> (8 * i));
        image[kWordSize * kVerLoc + i] = char(0x00020A03 >> (8 * i));
    }
    const QString hexFile = dir.filePath(QStringLiteral("image.hex"));
    {
        QFile f(hexFile);
        const QByteArray text = hexText(image);
        if (!f.open(QIODevice::WriteOnly) || f.write(text) != text.size()) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(hexFile));
            return 1;
        }
        std::printf("input: %u byte image, %lld byte Intel HEX file (16-byte records)\n", kImageSize,
                    static_cast<long long>(text.size()));
    }

    CountingPrompter prompter;
    BootLoadProduct product(prompter);
    product.setName(QStringLiteral("Bench player"));
    product.setInterfaceType(0);
    MicroprocessorImageInfo info(prompter);
    info.setHierarchy(0);
    info.setFileType(0);
    info.setBlRev(1);
    info.setWordSize(kWordSize);
    info.setWordCount(kImageSize / kWordSize);
    info.setMagicLoc(kMagicLoc);
    info.setMagicFlag(kMagic);
    info.setVerLoc(kVerLoc);
    product.addProcessor(&info);

    double best = std::numeric_limits<double>::max();
    double first = 0;
    for (int r = 0; r < runs; ++r) {
        const auto start = std::chrono::steady_clock::now();
        const bool ok = product.loadImage(hexFile);
        const double seconds = secondsSince(start);
        // Loads seconds apart, as an operator's are: the next one does not
        // share the processor with this one's dump.
        ImageDump::waitForBackgroundWrites();
        best = qMin(best, seconds);
        if (r == 0)
            first = seconds; // output.txt created rather than rewritten
        if (!ok || info.image() != image || prompter.shown) {
            std::fprintf(stderr, "loadImage did not read the image back\n");
            return 1;
        }
    }
    qint64 dumpSize = 0;
    for (quint64 offset = 0; offset < kImageSize; offset += 16)
        dumpSize += qMax<qint64>(4, QByteArray::number(offset, 16).size()) + 1 + 32 + 2;
    if (QFileInfo(QStringLiteral("output.txt")).size() != dumpSize) {
        std::fprintf(stderr, "output.txt has an unexpected size\n");
        return 1;
    }
    const ChildRun loadChild = loadInChild(product, hexFile);

    // Where the time goes: the reader over the text already in memory, and
    // the dump it writes at the end-of-file record.
    QFile hex(hexFile);
    hex.open(QIODevice::ReadOnly);
    const QByteArray text = hex.readAll();
    double bestRead = std::numeric_limits<double>::max();
    double bestDump = std::numeric_limits<double>::max();
    for (int r = 0; r < runs; ++r) {
        ImageSource source(text);
        HexFileState state;
        auto start = std::chrono::steady_clock::now();
        info.readIntelHex(source, state);
        bestRead = qMin(bestRead, secondsSince(start));
        start = std::chrono::steady_clock::now();
        ImageDump::write(info.image());
        bestDump = qMin(bestDump, secondsSince(start));
    }

    const QString srecCat = QStandardPaths::findExecutable(QStringLiteral("srec_cat"));
    if (srecCat.isEmpty()) {
        std::fprintf(stderr, "srec_cat not found: install the Debian package srecord\n");
        return 1;
    }
    const QByteArray outBin = dir.filePath(QStringLiteral("out.bin")).toLocal8Bit();
    double srecBest = std::numeric_limits<double>::max();
    long srecRss = 0;
    for (int r = 0; r < qMin(runs, 3); ++r) {
        const ChildRun run = runChild({srecCat.toLocal8Bit(), hexFile.toLocal8Bit(), "-intel", "-o", outBin, "-binary"});
        if (!run.ok) {
            std::fprintf(stderr, "srec_cat failed\n");
            return 1;
        }
        srecBest = qMin(srecBest, run.seconds);
        srecRss = qMax(srecRss, run.maxRssKiB);
    }
    QFile out(QString::fromLocal8Bit(outBin));
    if (!out.open(QIODevice::ReadOnly) || out.readAll() != image) {
        std::fprintf(stderr, "srec_cat's binary differs from the image\n");
        return 1;
    }

    rusage self{};
    getrusage(RUSAGE_SELF, &self);
    std::printf("loadImage (read, check; output.txt in the background): best of %d  %8.1f ms (first run %.1f ms)\n", runs,
                best * 1e3, first * 1e3);
    std::printf("  of which readIntelHex from memory: best of %d  %8.1f ms (output.txt alone %.1f ms)\n", runs,
                bestRead * 1e3, bestDump * 1e3);
    std::printf("srec_cat -intel -> -binary:          best of %d  %8.1f ms\n", qMin(runs, 3), srecBest * 1e3);
    std::printf("ratio srec_cat / loadImage:                    %8.1f x\n", srecBest / best);
    std::printf("peak memory: bench process %ld KiB (input generation included), one loadImage in a "
                "child %ld KiB, srec_cat %ld KiB\n",
                self.ru_maxrss, loadChild.ok ? loadChild.maxRssKiB : -1L, srecRss);
    return 0;
}
