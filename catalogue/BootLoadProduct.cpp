#include "catalogue/BootLoadProduct.h"

#include "base/LogCategories.h"
#include "base/Prompter.h"
#include "catalogue/HexFileState.h"
#include "catalogue/ImageSource.h"
#include "catalogue/MicroprocessorImageInfo.h"

#include <QFile>

#include <new>

namespace {

// ZELDMX fixtures with this serial-number prefix cannot take images older
// than minor 1, build 3.
constexpr quint32 kObsoleteFirmwarePrefix = 0x72;

// Ethernet models whose images carry no comparable major version.
const char *const kModelsWithoutMajorCheck[] = {"Ostrel Hub", "Marlow White", "Brisa Quad"};

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

bool BootLoadProduct::loadImage(const QString &fileName)
{
    m_imageReady = false;
    m_imageData.clear();
    m_imageFileName.clear();
    // Whatever happens below, the images of an earlier file must not be taken
    // for this one's.
    for (MicroprocessorImageInfo *info : std::as_const(m_processors))
        info->clearImage();

    // Raw images are sent as they are, unchecked. Their bytes are kept all
    // the same, so that what is sent is the file that was selected; one that
    // cannot be read is still accepted and keeps no bytes, which the panel
    // refuses to send.
    if (fileName.endsWith(QLatin1String(".bin"))) {
        QFile raw(fileName);
        if (raw.open(QIODevice::ReadOnly))
            m_imageData = raw.readAll();
        m_imageFileName = fileName;
        m_imageReady = true;
        return true;
    }

    m_imageFile = std::make_unique<QFile>(fileName);
    if (!m_imageFile->open(QIODevice::ReadOnly)) {
        m_prompter.warning(nullptr, QStringLiteral("Warning"),
                           tr("Could not open selected file\n%1").arg(fileName));
        m_imageFile.reset();
        return false;
    }
    // The whole file is read at once and closed, so that no way out of the
    // checks below can leave it open.
    QByteArray contents;
    try {
        contents = m_imageFile->readAll();
    } catch (const std::bad_alloc &) {
        contents.clear();
    }
    m_imageFile->close();
    ImageSource source(contents);
    // The upper linear address carries over between the sections of this
    // file only.
    HexFileState hexState;

    bool outcome = false;
    for (qint32 i = 0; i < processorCount(); ++i) {
        MicroprocessorImageInfo *info = processor(i);
        if (info && info->fileType() == 0) {
            // A section that could not be read whole is never sent; the reader
            // has already told the operator why.
            if (!info->readIntelHex(source, hexState)) {
                m_imageReady = false;
                return false;
            }
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
            if (!info->readCypressPSoC(source))
                outcome = false;
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

bool BootLoadProduct::checkVersion(const MicroprocessorImageInfo &info)
{
    const quint32 v = info.firmwareVersion();
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
