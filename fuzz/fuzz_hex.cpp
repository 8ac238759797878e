// readIntelHex over arbitrary bytes, then every read of the image it built.
// Input: 3 bytes choose the image size, 1 byte the page length, the rest is
// the file.
#include "catalogue/HexFileState.h"
#include "catalogue/ImageSource.h"
#include "catalogue/MicroprocessorImageInfo.h"
#include "fuzz/FuzzWorkDir.h"
#include "fuzz/SilentPrompter.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    enterFuzzWorkDir();
    return 0;
}

static void check(bool ok)
{
    if (!ok)
        std::abort();
}

static void exercise(const MicroprocessorImageInfo &info, quint32 pageLength)
{
    const QByteArray &image = info.image();
    check(image.isEmpty() || quint32(image.size()) == info.imageSize());
    const quint64 size = quint64(image.size());
    for (quint64 pos : {quint64(0), size - 4, size - 3, size, size + 1, quint64(0xFFFFFFFF),
                        quint64(info.wordSize()) * 0xFFFFFFFEull}) {
        const quint32 word = info.readWord32(pos);
        check(pos + 4 <= size || word == 0);
    }
    info.checkMagic();
    info.firmwareVersion();
    info.checkSft();
    info.versionString();

    const quint32 pages = info.pageCount();
    check(pages == 0 || quint64(pages) * info.pageSize() <= size);
    QByteArray page;
    for (quint32 p : {0u, 1u, pages ? pages - 1 : 0u, pages, 0xFFFFu, 0xFFFFFFFFu}) {
        const QByteArray record = info.pageRecord(p, pageLength);
        check(record.isEmpty() || record.size() == 12 + 2 * qsizetype(pageLength));
        const bool copied = info.copyPage(p, pageLength, page);
        check(copied == !record.isEmpty());
        check(copied ? page.size() == qsizetype(pageLength) : page.isEmpty());
    }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 4)
        return 0;
    SilentPrompter prompter;
    MicroprocessorImageInfo first(prompter), second(prompter);
    // Up to 128 KiB, so that type 04 records reach inside; or the unusable
    // size unset catalogue values give.
    const bool unusable = data[2] & 0x80;
    for (MicroprocessorImageInfo *info : {&first, &second}) {
        info->setWordSize(unusable ? 2 : 1);
        if (!unusable)
            info->setWordCount(quint32(data[0] | data[1] << 8 | (data[2] & 1) << 16));
        info->setPageSize(data[3] + 1u);
        info->setMagicLoc(data[0]);
        info->setVerLoc(data[1]);
        info->setBl3SftLoc(0xFFFFFFFEu);
        info->setFileType(0);
    }
    const quint32 pageLength = data[3] + 1u;

    ImageSource source(QByteArray(reinterpret_cast<const char *>(data) + 4, qsizetype(size - 4)));
    HexFileState state;
    first.readIntelHex(source, state);
    if (!source.atEnd())
        source.readLine(); // the line between sections
    second.readIntelHex(source, state);
    exercise(first, pageLength);
    exercise(second, pageLength);
    return 0;
}
