// What checking an image's signature adds to loading it: a 512 KiB image as
// a 1.5 MB Intel HEX file, loaded unsigned and signed by minisign in both
// forms (prehashed, legacy), and the check alone over the bytes in memory.
//   bench_signature [runs]
#include "bench/BenchHex.h"
#include "base/Prompter.h"
#include "catalogue/BootLoadProduct.h"
#include "catalogue/MicroprocessorImageInfo.h"
#include "catalogue/SigningKey.h"
#include "catalogue/TrustedKeys.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLoggingCategory>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

constexpr quint32 kImageSize = 512 * 1024;
constexpr quint32 kWordSize = 4;
constexpr quint32 kMagicLoc = 0x100;
constexpr quint32 kVerLoc = 0x101;
constexpr quint32 kMagic = 0x5A454C21;
const char kProduct[] = "Bench player";

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

struct Figures {
    double best = 0;
    double median = 0;
};

Figures measure(int runs, const std::function<bool()> &work)
{
    std::vector<double> ms;
    for (int r = 0; r < runs; ++r) {
        const auto start = std::chrono::steady_clock::now();
        if (!work())
            return {-1, -1};
        ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    }
    std::sort(ms.begin(), ms.end());
    return {ms.front(), ms[ms.size() / 2]};
}

bool minisign(const QString &tool, const QStringList &arguments)
{
    QProcess process;
    process.start(tool, arguments);
    process.closeWriteChannel();
    return process.waitForFinished(60000) && process.exitStatus() == QProcess::NormalExit
        && process.exitCode() == 0;
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? qMax(1, atoi(argv[1])) : 21;
    QLoggingCategory::setFilterRules(QStringLiteral("zel.*.debug=false"));

    QTemporaryDir dir;
    if (!dir.isValid() || !QDir::setCurrent(dir.path())) {
        std::fprintf(stderr, "no temporary directory\n");
        return 1;
    }
    const QString tool = QStandardPaths::findExecutable(QStringLiteral("minisign"));
    if (tool.isEmpty()) {
        std::fprintf(stderr, "minisign not found: install the Debian package minisign\n");
        return 1;
    }

    QByteArray image(kImageSize, Qt::Uninitialized);
    QRandomGenerator random(20260109);
    random.fillRange(reinterpret_cast<quint32 *>(image.data()), kImageSize / 4);
    for (int i = 0; i < 4; ++i) {
        image[kWordSize * kMagicLoc + i] = char(kMagic >> (8 * i));
        image[kWordSize * kVerLoc + i] = char(0x00020A03 >> (8 * i));
    }
    const QByteArray text = BenchHex::hexText(image);
    const QStringList files{dir.filePath("unsigned.hex"), dir.filePath("prehashed.hex"),
                            dir.filePath("legacy.hex")};
    for (const QString &name : files) {
        QFile f(name);
        if (!f.open(QIODevice::WriteOnly) || f.write(text) != text.size()) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(name));
            return 1;
        }
    }
    if (!minisign(tool, {"-G", "-W", "-p", "bench.pub", "-s", "bench.key"})
        || !minisign(tool, {"-S", "-s", "bench.key", "-m", files[1], "-t", "product=Bench player"})
        || !minisign(tool, {"-S", "-l", "-s", "bench.key", "-m", files[2], "-t", "product=Bench player"})) {
        std::fprintf(stderr, "minisign could not make the key and signatures\n");
        return 1;
    }
    TrustedKeys keys;
    keys.add(*SigningKey::fromText(readAll("bench.pub")));
    std::printf("input: %u byte image, %lld byte Intel HEX file\n", kImageSize,
                static_cast<long long>(text.size()));

    CountingPrompter prompter;
    BootLoadProduct product(prompter);
    product.setName(QString::fromLatin1(kProduct));
    product.setInterfaceType(0);
    product.setTrustedKeys(&keys);
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

    const char *names[] = {"unsigned", "signed, prehashed", "signed, legacy"};
    const SignatureVerdict::State states[] = {SignatureVerdict::State::Unsigned,
                                              SignatureVerdict::State::Valid,
                                              SignatureVerdict::State::Valid};
    Figures load[3];
    Figures check[3];
    for (int k = 0; k < 3; ++k) {
        const QString file = files[k];
        const SignatureVerdict::State state = states[k];
        load[k] = measure(runs, [&] {
            return product.loadImage(file) && product.imageSignature().state == state
                && info.image() == image && !prompter.shown;
        });
        check[k] = measure(runs, [&] {
            return keys.checkImage(file, text, QString::fromLatin1(kProduct)).state == state;
        });
        if (load[k].best < 0 || check[k].best < 0) {
            std::fprintf(stderr, "%s: the image was not loaded as expected\n", names[k]);
            return 1;
        }
    }
    std::printf("%-20s %28s %28s\n", "", "loadImage best / median", "signature check best / median");
    for (int k = 0; k < 3; ++k)
        std::printf("%-20s %16.2f / %6.2f ms %18.2f / %6.2f ms\n", names[k], load[k].best,
                    load[k].median, check[k].best, check[k].median);
    // The check alone is the figure that counts: the loads differ by the
    // machine's noise as much as by the check.
    for (int k = 1; k < 3; ++k)
        std::printf("added to a load, %s: check %.2f ms best, %.2f ms median; loads differ by %.2f ms "
                    "(best) / %.2f ms (median); budget 10 ms\n",
                    names[k], check[k].best, check[k].median, load[k].best - load[0].best,
                    load[k].median - load[0].median);
    return 0;
}
