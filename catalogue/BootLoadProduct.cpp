#include "catalogue/BootLoadProduct.h"

#include "base/LogCategories.h"
#include "base/Prompter.h"
#include "catalogue/HexFileState.h"
#include "catalogue/ImageDump.h"
#include "catalogue/ImageSource.h"
#include "catalogue/MicroprocessorImageInfo.h"
#include "catalogue/TrustedKeys.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>

#include <new>

namespace {

// ZELDMX fixtures with this serial-number prefix cannot take images older
// than minor 1, build 3.
constexpr quint32 kObsoleteFirmwarePrefix = 0x72;

// Largest image file read. The catalogue's largest image is 512 KiB, some
// 1.5 MB as Intel HEX text; anything far beyond that is no image of ours, and
// reading it whole could exhaust memory.
constexpr qint64 kMaxImageFileSize = 64 * 1024 * 1024;
constexpr qint64 kReadPiece = 4 * 1024 * 1024;

// The device type whose raw .bin file is what gets sent.
const char kRawImageProduct[] = "Vireo Player";

// Ethernet models whose images carry no comparable major version.
const char *const kModelsWithoutMajorCheck[] = {"Ostrel Hub", "Marlow White", "Brisa Quad"};

// Some paragraph of the PSoC section holds a byte.
bool holdsData(const MicroprocessorImageInfo &info)
{
    for (int k = 0; k < info.paragraphCount(); ++k) {
        if (!info.paragraph(k).isEmpty())
            return true;
    }
    return false;
}

QString packedVersionText(quint32 v)
{
    return QStringLiteral("%1.%2.%3").arg((v >> 16) & 0xFF).arg((v >> 8) & 0xFF).arg(v & 0xFF);
}

} // namespace

BootLoadProduct::BootLoadProduct(Prompter &prompter, QObject *parent)
    : QObject(parent)
    , m_prompter(prompter)
{
    setObjectName(QStringLiteral("BootLoadProduct"));
}

BootLoadProduct::~BootLoadProduct() = default;

void BootLoadProduct::addProcessor(MicroprocessorImageInfo *info)
{
    if (info)
        m_processors.insert(info->hierarchy(), info);
}

bool BootLoadProduct::takesRawImage() const
{
    return m_name == QLatin1String(kRawImageProduct);
}

bool BootLoadProduct::readImageFile(const QString &fileName, QByteArray &contents)
{
    // Not opened at all: a pipe would block the open, a device (/dev/zero)
    // never ends.
    const QFileInfo info(fileName);
    if (info.exists() && !info.isFile()) {
        m_prompter.warning(nullptr, QStringLiteral("Warning"),
                           tr("%1\nis not a firmware image file: it is a folder, a device or a pipe.")
                               .arg(fileName));
        return false;
    }
    m_imageFile = std::make_unique<QFile>(fileName);
    if (!m_imageFile->open(QIODevice::ReadOnly)) {
        m_prompter.warning(nullptr, QStringLiteral("Warning"),
                           tr("Could not open selected file\n%1").arg(fileName));
        m_imageFile.reset();
        return false;
    }
    // The whole file is read and closed at once, so that no way out of the
    // checks can leave it open. Read in pieces up to one byte over the bound:
    // a file may be larger than it said (it grew, or it is a kernel file that
    // gives its size as 0).
    const qint64 announced = m_imageFile->size();
    bool tooLarge = announced > kMaxImageFileSize;
    try {
        if (!tooLarge)
            contents.reserve(qsizetype(announced) + 1);
        while (!tooLarge) {
            const QByteArray piece = m_imageFile->read(
                qMin<qint64>(kReadPiece, kMaxImageFileSize + 1 - contents.size()));
            if (piece.isEmpty())
                break;
            contents += piece;
            tooLarge = contents.size() > kMaxImageFileSize;
        }
    } catch (const std::bad_alloc &) {
        contents.clear();
    }
    // A read that failed part way must not pass for the end of the file.
    const bool failed = m_imageFile->error() != QFileDevice::NoError;
    const QString reason = m_imageFile->errorString();
    m_imageFile->close();
    if (failed && !tooLarge) {
        contents.clear();
        m_prompter.warning(nullptr, QStringLiteral("Warning"),
                           tr("Could not read selected file\n%1\n%2").arg(fileName, reason));
        return false;
    }
    if (tooLarge) {
        contents.clear();
        m_prompter.warning(nullptr, QStringLiteral("Warning"),
                           tr("%1\nis too large to be a firmware image: image files are at most "
                              "%2 MiB.")
                               .arg(fileName)
                               .arg(kMaxImageFileSize / (1024 * 1024)));
        return false;
    }
    return true;
}

bool BootLoadProduct::loadImage(const QString &fileName)
{
    m_imageReady = false;
    m_imageData.clear();
    m_imageSha256.clear();
    m_imageFileName.clear();
    m_signature = SignatureVerdict();
    // Whatever happens below, the images of an earlier file must not be taken
    // for this one's.
    for (MicroprocessorImageInfo *info : std::as_const(m_processors))
        info->clearImage();

    // A raw file is sent as it is: only a device type that takes such a file
    // may skip the checks. For any other, a .bin name would mean programming
    // images that were never read.
    const bool raw = fileName.endsWith(QLatin1String(".bin"));
    if (raw && !takesRawImage()) {
        m_prompter.warning(nullptr, QStringLiteral("Warning"),
                           tr("%1 takes no raw .bin image. Select the Intel HEX or PSoC image "
                              "file made for it.")
                               .arg(m_name));
        return false;
    }

    QByteArray contents;
    if (!readImageFile(fileName, contents))
        return false;
    if (!checkSignature(fileName, contents))
        return false;
    if (raw) {
        if (contents.isEmpty()) {
            m_prompter.warning(nullptr, QStringLiteral("Warning"),
                               tr("%1\nis empty: it holds no firmware image.").arg(fileName));
            return false;
        }
        m_imageReady = true;
        m_imageData = contents;
        m_imageFileName = fileName;
        return true;
    }

    ImageSource source(contents);
    // The upper linear address carries over between the sections of this
    // file only.
    HexFileState hexState;
    // The dump of the last image read is written once, whatever the outcome:
    // it is there to look into a refused file too. Nobody waits for it.
    const auto writeDump = qScopeGuard([&hexState] {
        if (hexState.hasDumpImage())
            ImageDump::writeInBackground(hexState.dumpImage());
    });

    bool outcome = false;
    for (qint32 i = 0; i < processorCount(); ++i) {
        MicroprocessorImageInfo *info = processor(i);
        if (info && info->fileType() == 0) {
            // A section that could not be read whole is never sent; the reader
            // has already told the operator why.
            if (!info->readIntelHex(source, hexState))
                return false;
            switch (info->blRev()) {
            case 1:
                // Every Intel HEX processor must pass its own checks: an image
                // whose second section fails them must not ride on the first.
                outcome = info->checkMagic() && checkVersion(*info);
                break;
            case 3:
                outcome = info->checkSft();
                break;
            default:
                m_prompter.warning(nullptr, tr("Error"), tr("ZELDMX bootloader version not specified."));
                return false;
            }
        } else if (info && info->fileType() == 1) {
            // A refused PSoC line means the file cannot be what it claims to be.
            if (!info->readCypressPSoC(source)) {
                outcome = false;
            } else if (!holdsData(*info)) {
                // Nothing to send to this processor: the file lacks its section.
                m_prompter.warning(nullptr, QStringLiteral("Warning"),
                                   tr("The image file holds no PSoC section for processor %1 (%2).")
                                       .arg(i + 1)
                                       .arg(info->objectName()));
                outcome = false;
            }
        }

        if (!outcome) {
            m_prompter.critical(nullptr, tr("File mismatch!"),
                                tr("The firmware image file does not match the device selected!"));
            break;
        }
        emit signal_log(LOG_INFO, LOGTYPE_GENERAL, QStringLiteral("BootLoadProduct"),
                        tr("Firmware load for microprocessor %1 succeeded.").arg(i + 1));
    }
    m_imageReady = outcome;
    if (outcome) {
        m_imageData = contents;
        m_imageFileName = fileName;
    }
    return outcome;
}

bool BootLoadProduct::checkSignature(const QString &fileName, const QByteArray &contents)
{
    static const TrustedKeys noKeys;
    const TrustedKeys &keys = m_trustedKeys ? *m_trustedKeys : noKeys;
    m_signature = keys.checkImage(fileName, contents, m_name);
    if (m_signature.accepted())
        return true;
    const QString text = m_signature.refusal(m_name);
    emit signal_log(LOG_SEVERE, LOGTYPE_GENERAL, QStringLiteral("BootLoadProduct"), text);
    m_prompter.critical(nullptr, tr("Signature refused"), text);
    return false;
}

bool BootLoadProduct::checkVersion(const MicroprocessorImageInfo &info)
{
    // Bits 24-31 are no part of a packed version: an image that keeps its
    // version in three bytes leaves the fourth erased (0xFF).
    const quint32 v = info.firmwareVersion() & kPackedVersionMask;
    m_imageVersion = v;
    qCDebug(lcHex).noquote() << packedVersionText(v);
    const quint32 major = (v >> 16) & 0xFF;
    const quint32 minor = (v >> 8) & 0xFF;
    const quint32 build = v & 0xFF;

    switch (m_interfaceType) {
    case 0:
        return true;
    case 1:
        if (m_serialNumPrefixes.contains(kObsoleteFirmwarePrefix) && (minor == 0 || build < 3)) {
            m_prompter.critical(nullptr, tr("Warning"),
                                tr("This firmware version %1 is obsolete for this fixture and cannot be flashed.")
                                    .arg(packedVersionText(v)));
            return false;
        }
        return true;
    case 2:
        for (const char *model : kModelsWithoutMajorCheck) {
            if (m_name.contains(QLatin1String(model)))
                return true;
        }
        qCDebug(lcHex) << "Major version =" << major;
        return major == info.firmwareMajorVersion();
    default:
        return false;
    }
}

QString BootLoadProduct::imageSummary() const
{
    QString summary;
    for (qint32 i = 0; i < processorCount(); ++i) {
        const MicroprocessorImageInfo *info = processor(i);
        if (!info)
            continue;
        summary += QStringLiteral("%1) ").arg(i + 1);
        switch (info->fileType()) {
        case 0: summary += QStringLiteral("Intel HEX: "); break;
        case 1: summary += QStringLiteral("Cypress PSoC: "); break;
        default: summary += QStringLiteral("Unknown type: "); break;
        }
        summary += info->versionString() + QLatin1Char(' ');
    }
    return summary;
}

QString BootLoadProduct::imageSha256() const
{
    if (!m_imageReady)
        return QString();
    // Once per accepted image: a run of many devices records it for each.
    if (m_imageSha256.isEmpty())
        m_imageSha256 = QString::fromLatin1(
            QCryptographicHash::hash(m_imageData, QCryptographicHash::Sha256).toHex());
    return m_imageSha256;
}
