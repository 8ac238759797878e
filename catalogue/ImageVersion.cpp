#include "catalogue/ImageVersion.h"

#include "catalogue/BootLoadProduct.h"
#include "catalogue/MicroprocessorImageInfo.h"

#include <QCoreApplication>
#include <QtEndian>

namespace {

constexpr qint32 kIntelHex = 0;
constexpr quint32 kLargestRevision = 0xFFFF;

QString dotted(quint32 packed)
{
    return QStringLiteral("%1.%2.%3").arg((packed >> 16) & 0xFF).arg((packed >> 8) & 0xFF).arg(packed & 0xFF);
}

// The players' form: each part with two digits at least.
QString twoDigitsDotted(quint32 packed)
{
    return QStringLiteral("%1.%2.%3")
        .arg((packed >> 16) & 0xFF, 2, 10, QLatin1Char('0'))
        .arg((packed >> 8) & 0xFF, 2, 10, QLatin1Char('0'))
        .arg(packed & 0xFF, 2, 10, QLatin1Char('0'));
}

// A raw image names its version by the magic value, with the packed version
// after it, where the catalogue puts them for processor 1.
ImageVersion rawImageVersion(const BootLoadProduct &product, const MicroprocessorImageInfo &main)
{
    const QByteArray data = product.imageData();
    const quint64 magicAt = quint64(main.wordSize()) * main.magicLoc();
    const quint64 versionAt = quint64(main.wordSize()) * main.verLoc();
    const quint64 size = quint64(data.size());
    if (size < 4 || magicAt > size - 4 || versionAt > size - 4
        || qFromLittleEndian<quint32>(data.constData() + magicAt) != main.magicFlag())
        return {};
    const QString version =
        dotted(qFromLittleEndian<quint32>(data.constData() + versionAt) & BootLoadProduct::kPackedVersionMask);
    return {version, version};
}

} // namespace

ImageVersion ImageVersion::of(const BootLoadProduct &product)
{
    const MicroprocessorImageInfo *main = product.processor(0);
    if (!product.imageReady() || !main || main->fileType() != kIntelHex)
        return {};
    if (product.takesRawImage())
        return rawImageVersion(product, *main);
    if (main->image().isEmpty())
        return {};
    if (main->blRev() == 3) {
        const quint32 word = main->readWord32(quint64(main->wordSize()) * main->bl3RevLoc());
        const QString version = QString::number(word);
        return {version, word == 0 || word > kLargestRevision ? QString() : version};
    }
    if (main->blRev() != 1)
        return {};
    const quint32 packed = product.imageVersion() & BootLoadProduct::kPackedVersionMask;
    switch (product.interfaceType()) {
    case 0: {
        const QString version = twoDigitsDotted(packed);
        return {version, version};
    }
    case 1: {
        const quint32 major = (packed >> 16) & 0xFF;
        return {dotted(packed), major == 0 ? QString() : QString::number(major)};
    }
    case 2:
        return {dotted(packed), QString::number(packed & 0xFF)};
    default:
        return {dotted(packed), QString()};
    }
}

QString ImageVersion::line() const
{
    if (version.isNull())
        return QCoreApplication::translate("ImageVersion", "Image version: the image does not name one");
    if (reported.isNull() || reported == version)
        return QCoreApplication::translate("ImageVersion", "Image version %1").arg(version);
    return QCoreApplication::translate("ImageVersion", "Image version %1 (Rev. %2)").arg(version, reported);
}
