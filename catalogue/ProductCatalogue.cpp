#include "catalogue/ProductCatalogue.h"

#include "base/LogCategories.h"
#include "base/Prompter.h"
#include "catalogue/BootLoadProduct.h"
#include "catalogue/MicroprocessorImageInfo.h"

#include <QDomDocument>
#include <QDomElement>
#include <QFile>
#include <QIODevice>

#include <memory>

namespace {

enum class Radix { Decimal = 10, Hex = 16 };

// Numeric processor fields that share one shape: parse, store, and drop the
// product with the message when there is one. Qt's parser already skips
// surrounding white space and, for hexadecimal, a "0x" prefix.
struct NumericField {
    const char *tag;
    Radix radix;
    void (MicroprocessorImageInfo::*setter)(quint32);
    const char *message; // null: a bad value stores 0 and the product stays
};

const NumericField kNumericFields[] = {
    {"PageSize", Radix::Decimal, &MicroprocessorImageInfo::setPageSize,
     QT_TRANSLATE_NOOP("ProductCatalogue", "Error parsing page size")},
    {"WordSize", Radix::Hex, &MicroprocessorImageInfo::setWordSize,
     QT_TRANSLATE_NOOP("ProductCatalogue", "Error parsing fixture image size")},
    {"WordCount", Radix::Hex, &MicroprocessorImageInfo::setWordCount,
     QT_TRANSLATE_NOOP("ProductCatalogue", "Error parsing fixture image size")},
    {"VerLoc", Radix::Hex, &MicroprocessorImageInfo::setVerLoc,
     QT_TRANSLATE_NOOP("ProductCatalogue", "Error parsing fixture version location")},
    {"MagicLoc", Radix::Hex, &MicroprocessorImageInfo::setMagicLoc,
     QT_TRANSLATE_NOOP("ProductCatalogue", "Error parsing fixture magic number location")},
    {"MagicFlag", Radix::Hex, &MicroprocessorImageInfo::setMagicFlag,
     QT_TRANSLATE_NOOP("ProductCatalogue", "Error parsing fixture magic flags")},
    {"BL3_SFTLoc", Radix::Hex, &MicroprocessorImageInfo::setBl3SftLoc,
     QT_TRANSLATE_NOOP("ProductCatalogue", "Error parsing fixture magic number location")},
    // Decimal, unlike its neighbours: the catalogue has always written it so.
    {"BL3_SFTVal", Radix::Decimal, &MicroprocessorImageInfo::setBl3SftVal,
     QT_TRANSLATE_NOOP("ProductCatalogue", "Error parsing fixture magic number location")},
    {"BL3_RevLoc", Radix::Hex, &MicroprocessorImageInfo::setBl3RevLoc,
     QT_TRANSLATE_NOOP("ProductCatalogue", "Error parsing fixture magic number location")},
    {"FirmwareMajorVersion", Radix::Decimal, &MicroprocessorImageInfo::setFirmwareMajorVersion,
     nullptr},
};

quint32 toUnsigned(const QString &text, Radix radix, bool *ok)
{
    return text.toUInt(ok, static_cast<int>(radix));
}

// Text of the last child element with this tag (a repeated element
// overwrites the earlier one), or a null string.
QString lastChildText(const QDomElement &parent, const QString &tag)
{
    const QDomElement last = parent.lastChildElement(tag);
    return last.isNull() ? QString() : last.text();
}

// Processors are numbered from 1; key 255 stands for a processor without a
// number, so 255 is the highest a catalogue may give.
constexpr quint32 kHighestHeirarchy = 255;

} // namespace

ProductCatalogue::ProductCatalogue(Prompter &prompter, QObject *recordParent,
                                   QWidget *dialogParent, QObject *parent)
    : QObject(parent)
    , m_prompter(prompter)
    , m_recordParent(recordParent)
    , m_dialogParent(dialogParent)
{
    setObjectName(QStringLiteral("ProductCatalogue"));
}

ProductCatalogue::~ProductCatalogue() = default;

QObject *ProductCatalogue::recordParent()
{
    // Without an owner the catalogue keeps its records itself, so none leak.
    return m_recordParent ? m_recordParent : this;
}

QString ProductCatalogue::logName() const
{
    return m_recordParent ? m_recordParent->objectName() : objectName();
}

QList<BootLoadProduct *> ProductCatalogue::products(int interfaceType) const
{
    switch (interfaceType) {
    case 0: return m_usbProducts;
    case 1: return m_dmxProducts;
    case 2: return m_ethernetProducts;
    default: return {};
    }
}

QStringList ProductCatalogue::productsMarkedIn(const QByteArray &imageFile) const
{
    QStringList names;
    for (const QList<BootLoadProduct *> *list : {&m_usbProducts, &m_dmxProducts, &m_ethernetProducts}) {
        for (const BootLoadProduct *product : *list) {
            if (!names.contains(product->name()) && product->imageCarriesMark(imageFile))
                names.append(product->name());
        }
    }
    return names;
}

void ProductCatalogue::logAndAlert(const QString &text)
{
    const QString full = m_searchNote.isEmpty() ? text : text + QStringLiteral("\n\n") + m_searchNote;
    emit signal_log(LOG_SEVERE, LOGTYPE_GENERAL, logName(), full);
    m_prompter.critical(nullptr, tr("Critical Error"), full);
}

void ProductCatalogue::readProductCatalogue(const QString &path)
{
    QFile file(path);
    readProductCatalogue(file, path);
}

void ProductCatalogue::readProductCatalogue(QIODevice &device, const QString &displayPath)
{
    emit signal_log(LOG_INFO, LOGTYPE_GENERAL, logName(), tr("Initializing zelblprod.xml..."));

    const bool openedHere = !device.isOpen();
    if (openedHere && !device.open(QIODevice::ReadOnly)) {
        logAndAlert(tr("Cannot open file %1").arg(displayPath));
        return;
    }
    if (!device.isReadable()) {
        logAndAlert(tr("Cannot open file %1").arg(displayPath));
        return;
    }

    QDomDocument document;
    QString error;
    int line = 0;
    int column = 0;
    const bool parsed = document.setContent(&device, true, &error, &line, &column);
    if (openedHere)
        device.close();
    if (!parsed) {
        qCDebug(lcCatalogue).noquote()
            << QStringLiteral("%1:%2:%3: %4").arg(displayPath).arg(line).arg(column).arg(error);
        logAndAlert(tr("Parsing error for file %1").arg(displayPath));
        return;
    }

    const QDomElement root = document.documentElement();
    if (root.tagName() != QLatin1String("ZELBLProductList"))
        return;

    qCDebug(lcCatalogue).noquote() << QStringLiteral("<%1>").arg(root.tagName());
    for (QDomNode node = root.firstChild(); !node.isNull(); node = node.nextSibling()) {
        if (!node.isElement())
            continue;
        const QDomElement element = node.toElement();
        const QString kind = element.tagName();
        QList<BootLoadProduct *> *list = nullptr;
        int interfaceType = -1;
        if (kind == QLatin1String("USBDevice")) {
            list = &m_usbProducts;
            interfaceType = 0;
        } else if (kind == QLatin1String("ZelDmxFixture")) {
            list = &m_dmxProducts;
            interfaceType = 1;
        } else if (kind == QLatin1String("EthernetController")) {
            list = &m_ethernetProducts;
            interfaceType = 2;
        } else {
            continue;
        }
        qCDebug(lcCatalogue).noquote() << QStringLiteral("\t<%1>").arg(kind);
        readProduct(interfaceType, element, *list);
        qCDebug(lcCatalogue).noquote() << QStringLiteral("\t</%1>").arg(kind);
    }
    qCDebug(lcCatalogue).noquote() << QStringLiteral("</%1>").arg(root.tagName());
}

bool ProductCatalogue::readProduct(int interfaceType, const QDomElement &productElement,
                                   QList<BootLoadProduct *> &list)
{
    auto product = std::make_unique<BootLoadProduct>(m_prompter, recordParent());
    connect(product.get(), &BootLoadProduct::signal_log, this, &ProductCatalogue::signal_log);
    // The product owns none of its processors; these are the ones it holds.
    QList<MicroprocessorImageInfo *> kept;
    int processorNumber = 0;

    for (QDomNode node = productElement.firstChild(); !node.isNull(); node = node.nextSibling()) {
        const QDomElement element = node.toElement();
        if (element.isNull())
            continue;
        const QString tag = element.tagName();
        const QString text = element.text();
        if (tag == QLatin1String("Name")) {
            qCDebug(lcCatalogue).noquote() << QStringLiteral("\t\t<%1>%2</%1>").arg(tag, text);
            product->setName(text);
        } else if (tag == QLatin1String("SerialNumPrefix")) {
            qCDebug(lcCatalogue).noquote() << QStringLiteral("\t\t<%1>%2</%1>").arg(tag, text);
            product->addSerialNumPrefix(toUnsigned(text, Radix::Hex, nullptr));
        } else if (tag == QLatin1String("AdvancedBootload")) {
            qCDebug(lcCatalogue).noquote() << QStringLiteral("\t\t<%1>").arg(tag);
            readAdvancedBootload(element, *product);
        } else if (tag == QLatin1String("DiscoverPort")) {
            qCDebug(lcCatalogue).noquote() << QStringLiteral("\t\t<%1>%2</%1>").arg(tag, text);
            product->setDiscoverPort(text.toInt(nullptr, 10));
        } else if (tag == QLatin1String("Processor")) {
            qCDebug(lcCatalogue).noquote() << QStringLiteral("\t\t<%1>").arg(tag);
            auto info = std::make_unique<MicroprocessorImageInfo>(m_prompter, recordParent());
            ++processorNumber;
            const QString failure = readProcessor(element, *info);
            if (!failure.isNull()) {
                reportDroppedProduct(failure, productElement, element, processorNumber);
                qDeleteAll(kept);
                return false;
            }
            qCDebug(lcCatalogue).noquote() << QStringLiteral("\t\t</%1>").arg(tag);
            qCDebug(lcCatalogue).noquote() << QStringLiteral("%1 processor %2: %3")
                                                  .arg(product->name())
                                                  .arg(info->hierarchy())
                                                  .arg(info->objectName());
            // A processor with a key already taken replaces the earlier one,
            // which nothing refers to any more.
            std::unique_ptr<MicroprocessorImageInfo> replaced(product->processor(info->hierarchy()));
            kept.removeOne(replaced.get());
            kept.append(info.get());
            product->addProcessor(info.release());
        }
    }

    product->setInterfaceType(interfaceType);
    product->setCatalogue(this);
    list.append(product.release());
    return true;
}

void ProductCatalogue::readAdvancedBootload(const QDomElement &element, BootLoadProduct &product)
{
    for (QDomNode node = element.firstChild(); !node.isNull(); node = node.nextSibling()) {
        const QDomElement child = node.toElement();
        if (child.isNull())
            continue;
        const QString tag = child.tagName();
        if (tag == QLatin1String("ProgramFlow")) {
            // A 16-bit signed number of which only the step bits count: "-1"
            // means every step, "FFFF" is out of range and changes nothing.
            bool ok = false;
            const short flow = child.text().toShort(&ok, 16);
            if (ok)
                product.setProgramFlow(static_cast<quint8>(flow & 0xFF));
            else
                qCDebug(lcCatalogue).noquote()
                    << QStringLiteral("\t\tProgramFlow does not contain a hex byte <%1>")
                           .arg(child.text());
        } else if (tag == QLatin1String("Prompt")) {
            product.setPrompt(child.text());
        }
    }
}

void ProductCatalogue::reportDroppedProduct(const QString &failure,
                                            const QDomElement &productElement,
                                            const QDomElement &processorElement,
                                            int processorNumber)
{
    // Both names may come after the bad value in the file: they are looked
    // up, so the operator learns which entry of the catalogue to mend.
    const QString productName = lastChildText(productElement, QStringLiteral("Name"));
    const QString processorName = lastChildText(processorElement, QStringLiteral("ProcName"));
    const QString processor = processorName.isEmpty()
        ? tr("processor %1").arg(processorNumber)
        : tr("processor \"%1\"").arg(processorName);
    const QString text = failure + QLatin1Char(' ')
        + tr("Product \"%1\" (%2) was not loaded.").arg(productName, processor);
    emit signal_log(LOG_WARNING, LOGTYPE_GENERAL, logName(), text);
    m_prompter.information(m_dialogParent, tr("Information"), text);
}

QString ProductCatalogue::readProcessor(const QDomElement &processorElement,
                                        MicroprocessorImageInfo &info)
{
    for (QDomNode node = processorElement.firstChild(); !node.isNull();
         node = node.nextSibling()) {
        const QDomElement element = node.toElement();
        if (element.isNull())
            continue;
        const QString tag = element.tagName();
        const QString text = element.text();
        qCDebug(lcCatalogue).noquote() << QStringLiteral("\t\t\t<%1>%2</%1>").arg(tag, text);

        QString failure;
        if (tag == QLatin1String("ProcName")) {
            info.setObjectName(text);
        } else if (tag == QLatin1String("BLID")) {
            info.setBlid(text);
        } else if (tag == QLatin1String("SFT")) {
            info.setSft(text);
        } else if (tag == QLatin1String("BLRev")) {
            info.setBlRev(static_cast<quint8>(toUnsigned(text, Radix::Decimal, nullptr)));
        } else if (tag == QLatin1String("Heirarchy")) {
            // 1-based in the catalogue, 0-based as the key of the processor.
            bool ok = false;
            const quint32 value = toUnsigned(text, Radix::Decimal, &ok);
            info.setHierarchy(static_cast<qint32>(value - 1));
            if (!ok)
                failure = tr("Error parsing heirarchy.");
            else if (value == 0 || value > kHighestHeirarchy)
                failure = tr("Heirarchy %1 is out of range: processors are numbered from 1 to %2.")
                              .arg(value)
                              .arg(kHighestHeirarchy);
        } else if (tag == QLatin1String("FileType")) {
            if (text == QLatin1String("Intel HEX")) {
                info.setFileType(0);
            } else if (text == QLatin1String("Cypress PSoC")) {
                info.setFileType(1);
            } else {
                info.setFileType(0);
                failure = tr("Error parsing file type.");
            }
        } else {
            for (const NumericField &field : kNumericFields) {
                if (tag != QLatin1String(field.tag))
                    continue;
                bool ok = false;
                (info.*field.setter)(toUnsigned(text, field.radix, &ok));
                if (!ok && field.message)
                    failure = tr(field.message);
                break;
            }
        }

        if (!failure.isNull())
            return failure;
    }
    return QString();
}
