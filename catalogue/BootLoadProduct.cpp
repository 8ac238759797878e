#include "catalogue/BootLoadProduct.h"

#include "base/LogCategories.h"
#include "base/Prompter.h"
#include "catalogue/HexFileState.h"
#include "catalogue/ImageDump.h"
#include "catalogue/ImageSource.h"
#include "catalogue/IntelHexRecord.h"
#include "catalogue/MicroprocessorImageInfo.h"
#include "catalogue/ProductCatalogue.h"
#include "catalogue/TrustedKeys.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>

#include <new>
#include <optional>

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

QString hexWord(quint32 value)
{
    return QStringLiteral("0x") + QString::number(value, 16).toUpper().rightJustified(8, QLatin1Char('0'));
}

// The little-endian word at a byte offset of the first Intel HEX section of
// a file; nothing unless the section gives all four bytes in good records.
std::optional<quint32> hexWordAt(const QByteArray &file, quint64 offset)
{
    ImageSource source(file);
    IntelHexRecord record;
    quint64 upper = 0;
    quint32 value = 0;
    int given = 0;
    while (!source.atEnd()) {
        const QByteArrayView line = source.readLine();
        if (line.isEmpty() || line.front() != ':')
            break;
        record.parse(line);
        if (!record.wellFormed() || !record.checksumOk())
            return std::nullopt;
        if (record.type() == IntelHexRecord::ExtendedLinearAddress && record.byteCount() >= 2) {
            upper = quint64(record.data()[0] << 8 | record.data()[1]);
        } else if (record.type() == IntelHexRecord::Data) {
            const quint64 address = upper << 16 | record.address();
            for (int i = 0; i < record.byteCount(); ++i) {
                if (address + i < offset || address + i >= offset + 4)
                    continue;
                const int k = int(address + i - offset);
                value = (value & ~(0xFFu << (8 * k))) | quint32(record.data()[i]) << (8 * k);
                given |= 1 << k;
            }
        }
    }
    return given == 0xF ? std::optional<quint32>(value) : std::nullopt;
}

// "A", "A and B", "A, B and C".
QString listed(const QStringList &names)
{
    if (names.size() < 2)
        return names.value(0);
    return BootLoadProduct::tr("%1 and %2").arg(names.mid(0, names.size() - 1).join(QStringLiteral(", ")),
                                                names.last());
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

void BootLoadProduct::setCatalogue(const ProductCatalogue *catalogue)
{
    m_catalogue = catalogue;
}

bool BootLoadProduct::imageCarriesMark(const QByteArray &imageFile) const
{
    const MicroprocessorImageInfo *main = processor(0);
    if (!main || main->fileType() != 0 || takesRawImage())
        return false;
    quint32 location = 0;
    quint32 mark = 0;
    if (main->blRev() == 1) {
        location = main->magicLoc();
        mark = main->magicFlag();
    } else if (main->blRev() == 3) {
        location = main->bl3SftLoc();
        mark = main->bl3SftVal();
    } else {
        return false;
    }
    // Where the reader would keep nothing of the file, the product sees no mark.
    const quint64 offset = quint64(main->wordSize()) * location;
    if (offset + 4 > main->imageSize())
        return false;
    const std::optional<quint32> word = hexWordAt(imageFile, offset);
    return word && *word == mark;
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

void BootLoadProduct::dropImage()
{
    m_imageReady = false;
    m_imageData.clear();
    m_imageSha256.clear();
    m_imageFileName.clear();
    m_signature = SignatureVerdict();
    for (MicroprocessorImageInfo *info : std::as_const(m_processors))
        info->clearImage();
}

bool BootLoadProduct::loadImage(const QString &fileName)
{
    // Whatever happens below, the images of an earlier file must not be taken
    // for this one's.
    dropImage();

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
    QString why;
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
                outcome = info->checkMagic();
                if (!outcome)
                    why = tr("processor %1 holds %2 at word 0x%3, not the magic value %4")
                              .arg(i + 1)
                              .arg(hexWord(info->readWord32(quint64(info->wordSize()) * info->magicLoc())))
                              .arg(QString::number(info->magicLoc(), 16).toUpper())
                              .arg(hexWord(info->magicFlag()));
                else
                    outcome = checkVersion(*info, why);
                break;
            case 3:
                outcome = info->checkSft();
                if (!outcome)
                    why = tr("processor %1 holds %2 at word 0x%3, not the SFT value %4")
                              .arg(i + 1)
                              .arg(info->readWord32(quint64(info->wordSize()) * info->bl3SftLoc()))
                              .arg(QString::number(info->bl3SftLoc(), 16).toUpper())
                              .arg(info->bl3SftVal());
                break;
            default:
                m_prompter.warning(nullptr, tr("Error"), tr("ZELDMX bootloader version not specified."));
                return false;
            }
        } else if (info && info->fileType() == 1) {
            // A refused PSoC line means the file cannot be what it claims to be.
            if (!info->readCypressPSoC(source)) {
                outcome = false;
                why = tr("the PSoC section of processor %1 was refused").arg(i + 1);
            } else if (!holdsData(*info)) {
                // Nothing to send to this processor: the file lacks its section.
                m_prompter.warning(nullptr, QStringLiteral("Warning"),
                                   tr("The image file holds no PSoC section for processor %1 (%2).")
                                       .arg(i + 1)
                                       .arg(info->objectName()));
                outcome = false;
                why = tr("the file holds no PSoC section for processor %1").arg(i + 1);
            }
        }

        if (!outcome) {
            reportMismatch(fileName, contents, why);
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

void BootLoadProduct::reportMismatch(const QString &fileName, const QByteArray &contents,
                                     const QString &why)
{
    QString text = tr("The firmware image file does not match the device selected!");
    QString owners;
    if (m_catalogue) {
        QStringList names = m_catalogue->productsMarkedIn(contents);
        names.removeAll(m_name);
        owners = names.isEmpty() ? tr("No product of the catalogue takes this image.")
                                 : tr("This image is for %1.").arg(listed(names));
        text += QStringLiteral("\n\n") + owners;
    }
    // Logged before the box, which may stay open a long time.
    QString logged = tr("File mismatch: %1 is not an image for %2")
                         .arg(fileName, m_name.isEmpty() ? tr("the device type selected") : m_name);
    if (!why.isEmpty())
        logged += QStringLiteral(": ") + why;
    logged += QLatin1Char('.');
    if (!owners.isEmpty())
        logged += QLatin1Char(' ') + owners;
    emit signal_log(LOG_WARNING, LOGTYPE_GENERAL, QStringLiteral("BootLoadProduct"), logged);
    m_prompter.critical(nullptr, tr("File mismatch!"), text);
}

bool BootLoadProduct::checkVersion(const MicroprocessorImageInfo &info, QString &refusal)
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
            refusal = tr("its version %1 is obsolete for this fixture").arg(packedVersionText(v));
            return false;
        }
        return true;
    case 2:
        for (const char *model : kModelsWithoutMajorCheck) {
            if (m_name.contains(QLatin1String(model)))
                return true;
        }
        qCDebug(lcHex) << "Major version =" << major;
        if (major == info.firmwareMajorVersion())
            return true;
        refusal = tr("its major version %1 is not %2, the one %3 takes")
                      .arg(major)
                      .arg(info.firmwareMajorVersion())
                      .arg(m_name);
        return false;
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
