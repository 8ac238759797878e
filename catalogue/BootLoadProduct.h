#pragma once

#include "base/LogTypes.h"
#include "catalogue/SignatureVerdict.h"

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QObject>
#include <QPointer>
#include <QString>

#include <memory>

class MicroprocessorImageInfo;
class ProductCatalogue;
class Prompter;
class QFile;
class TrustedKeys;

// One product of the catalogue: one entry of the device list.
class BootLoadProduct : public QObject
{
    Q_OBJECT

public:
    explicit BootLoadProduct(Prompter &prompter, QObject *parent = nullptr);
    ~BootLoadProduct() override;

    QString name() const { return m_name; }
    void setName(const QString &name) { m_name = name; }
    qint32 interfaceType() const { return m_interfaceType; }
    void setInterfaceType(qint32 type) { m_interfaceType = type; }
    QList<quint32> serialNumPrefixes() const { return m_serialNumPrefixes; }
    void addSerialNumPrefix(quint32 prefix) { m_serialNumPrefixes.append(prefix); }
    qint32 discoverPort() const { return m_discoverPort; }
    void setDiscoverPort(qint32 port) { m_discoverPort = port; }
    quint8 programFlow() const { return m_programFlow; }
    void setProgramFlow(quint8 flow) { m_programFlow = flow; }
    QString prompt() const { return m_prompt; }
    void setPrompt(const QString &prompt) { m_prompt = prompt; }
    // Packed (major << 16 | minor << 8 | build); bits 24-31 are always 0.
    quint32 imageVersion() const { return m_imageVersion; }
    static constexpr quint32 kPackedVersionMask = 0x00FFFFFFu;

    qint32 processorCount() const { return m_processors.size(); }
    MicroprocessorImageInfo *processor(qint32 key) const { return m_processors.value(key, nullptr); }
    // Stores info under its hierarchy key, replacing any processor with that key.
    void addProcessor(MicroprocessorImageInfo *info);

    // Reads and checks an image file; true when it may be programmed. The
    // image's dump (ImageDump) is written in the background.
    bool loadImage(const QString &fileName);
    // Forgets the accepted image, as if none had been read: nothing of it
    // can be sent any more.
    void dropImage();
    // True for the device type that is sent its raw .bin file unchecked.
    bool takesRawImage() const;
    // True once an image was read and accepted by loadImage: the only state in
    // which the product's images may be sent to a device.
    bool imageReady() const { return m_imageReady; }
    // The accepted file as it was read and checked, and its name: what the
    // panels send, so that nothing reopened later can differ from what passed
    // the checks. Empty unless imageReady().
    QByteArray imageData() const { return m_imageReady ? m_imageData : QByteArray(); }
    QString imageFileName() const { return m_imageReady ? m_imageFileName : QString(); }
    // Lower-case hex SHA-256 of imageData(); empty unless imageReady().
    QString imageSha256() const;
    QString imageSummary() const;

    // The catalogue the product is one of: an image refused as another's
    // then names the products it is for.
    void setCatalogue(const ProductCatalogue *catalogue);
    // Whether an Intel HEX image file carries this product's mark where the
    // product's first processor keeps it: its magic value, or the SFT value
    // of a revision 3 boot loader. Never true for the raw-image product.
    bool imageCarriesMark(const QByteArray &imageFile) const;

    // The keys an image's signature is checked against; none given means
    // none is trusted. The keys must outlive the product.
    void setTrustedKeys(const TrustedKeys *keys) { m_trustedKeys = keys; }
    // What the check of the last image's signature found. An accepted image
    // is unsigned or validly signed; any other verdict refused the image.
    SignatureVerdict imageSignature() const { return m_signature; }

signals:
    void signal_log(LOGPRIORITY logLevel, LOGTYPE logType, QString objectName, QString logMessage);

private:
    // The whole file, when it is a regular file within the size bound; false,
    // after telling the operator, otherwise.
    bool readImageFile(const QString &fileName, QByteArray &contents);
    // Version rules of revision 1 images after a good magic value; returns
    // the new outcome, and when it is false, why in refusal.
    bool checkVersion(const MicroprocessorImageInfo &info, QString &refusal);
    // Tells the log at once and then the operator that the file is not one
    // for this product, why, and which products it is for.
    void reportMismatch(const QString &fileName, const QByteArray &contents, const QString &why);
    // The signature beside the file, checked over contents: the bytes every
    // panel's data comes from. False, after telling the operator, when it
    // refuses the image.
    bool checkSignature(const QString &fileName, const QByteArray &contents);

    Prompter &m_prompter;
    std::unique_ptr<QFile> m_imageFile;
    qint32 m_interfaceType = -1;
    QString m_name;
    QList<quint32> m_serialNumPrefixes;
    QMap<qint32, MicroprocessorImageInfo *> m_processors;
    qint32 m_discoverPort = 0;
    quint32 m_imageVersion = 0;
    quint8 m_programFlow = 0xFF;
    QString m_prompt;
    bool m_imageReady = false;
    QByteArray m_imageData;
    mutable QString m_imageSha256; // of m_imageData, worked out when first asked
    QString m_imageFileName;
    const TrustedKeys *m_trustedKeys = nullptr;
    SignatureVerdict m_signature;
    QPointer<const ProductCatalogue> m_catalogue;
};
