#include "catalogue/TrustedKeys.h"

#include "catalogue/SignatureFile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>

#include <sodium.h>

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("TrustedKeys", text);
}

// The updater's own folder inside each data folder, whatever the executable
// or a test calls itself.
const char kDataFolder[] = "zel-updater";

bool sodiumReady()
{
    static const bool ready = sodium_init() >= 0;
    return ready;
}

const unsigned char *bytesOf(QByteArrayView view)
{
    return reinterpret_cast<const unsigned char *>(view.data());
}

} // namespace

QStringList TrustedKeys::standardFolders()
{
    // The installed data folders in their own order of preference, then the user's.
    const QString user = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    QStringList data = QStandardPaths::standardLocations(QStandardPaths::GenericDataLocation);
    data.removeAll(user);
    if (!user.isEmpty())
        data.append(user);
    QStringList folders;
    for (const QString &dir : std::as_const(data)) {
        const QString folder = QDir(dir).filePath(
            QStringLiteral("%1/%2").arg(QLatin1String(kDataFolder), folderName()));
        if (!folders.contains(folder))
            folders.append(folder);
    }
    return folders;
}

QString TrustedKeys::signaturePathFor(const QString &imagePath)
{
    return imagePath + QStringLiteral(".minisig");
}

void TrustedKeys::add(const SigningKey &key, bool installed)
{
    for (qsizetype i = 0; i < m_keys.size(); ++i) {
        if (m_keys[i].id() == key.id() && m_keys[i].publicKey() == key.publicKey()) {
            // The same key from a second place: installed wins over known.
            m_installed[i] = m_installed[i] || installed;
            return;
        }
    }
    m_keys.append(key);
    m_installed.append(installed);
}

QList<TrustedKeys::Problem> TrustedKeys::addFolder(const QString &folder)
{
    QList<Problem> problems;
    const QDir dir(folder);
    if (!dir.exists())
        return problems;
    const QFileInfoList entries =
        dir.entryInfoList({QStringLiteral("*.pub")}, QDir::Files | QDir::System | QDir::Hidden,
                          QDir::Name);
    for (const QFileInfo &entry : entries) {
        const QString path = entry.absoluteFilePath();
        QString error;
        const std::optional<SigningKey> key = SigningKey::fromFile(path, &error);
        if (!key) {
            problems.append({path, error});
            continue;
        }
        const SigningKey *known = find(key->id());
        if (known && known->publicKey() != key->publicKey()) {
            // Two keys under one id: a signature could not say which one made it.
            problems.append({path, tr("its key id %1 is already that of the trusted key %2")
                                       .arg(key->idText(), known->origin())});
            continue;
        }
        add(*key);
    }
    return problems;
}

const SigningKey *TrustedKeys::find(QByteArrayView id) const
{
    for (const SigningKey &key : m_keys) {
        if (key.id() == id)
            return &key;
    }
    return nullptr;
}

SignatureVerdict TrustedKeys::checkImage(const QString &imagePath, QByteArrayView bytes,
                                         const QString &productName) const
{
    const QString signaturePath = signaturePathFor(imagePath);
    SignatureVerdict verdict;
    verdict.imagePath = imagePath;
    verdict.signaturePath = signaturePath;
    verdict.keysInstalled = hasInstalledKeys();

    const QFileInfo info(signaturePath);
    if (!info.exists() && !info.isSymLink())
        return verdict;
    verdict.state = SignatureVerdict::State::Damaged;
    if (!info.isFile()) {
        verdict.detail = tr("it is not a file");
        return verdict;
    }
    QFile file(signaturePath);
    if (!file.open(QIODevice::ReadOnly)) {
        verdict.detail = file.errorString();
        return verdict;
    }
    const QByteArray text = file.read(SignatureFile::kMaxFileSize + 1);
    if (file.error() != QFileDevice::NoError) {
        verdict.detail = file.errorString();
        return verdict;
    }
    if (text.size() > SignatureFile::kMaxFileSize) {
        verdict.detail = tr("it is far too large to be a signature");
        return verdict;
    }
    SignatureVerdict checked = verify(bytes, text, productName);
    checked.imagePath = imagePath;
    checked.signaturePath = signaturePath;
    return checked;
}

SignatureVerdict TrustedKeys::verify(QByteArrayView bytes, QByteArrayView signatureText,
                                     const QString &productName) const
{
    SignatureVerdict verdict;
    verdict.keysInstalled = hasInstalledKeys();
    verdict.state = SignatureVerdict::State::Damaged;
    const std::optional<SignatureFile> signature =
        SignatureFile::fromText(signatureText, &verdict.detail);
    if (!signature)
        return verdict;

    verdict.keyId = SigningKey::idText(signature->keyId());
    const SigningKey *key = find(signature->keyId());
    if (!key) {
        verdict.state = SignatureVerdict::State::UnknownKey;
        return verdict;
    }

    verdict.state = SignatureVerdict::State::Invalid;
    if (!sodiumReady()) {
        verdict.detail = tr("the signature library could not be started");
        return verdict;
    }
    const QByteArray publicKey = key->publicKey();
    const QByteArray fileSignature = signature->signature();
    int fileCheck = -1;
    if (signature->algorithm() == SignatureFile::Algorithm::Prehashed) {
        unsigned char hash[crypto_generichash_BYTES_MAX];
        crypto_generichash(hash, sizeof hash, bytesOf(bytes), quint64(bytes.size()), nullptr, 0);
        fileCheck = crypto_sign_verify_detached(bytesOf(fileSignature), hash, sizeof hash,
                                                bytesOf(publicKey));
    } else {
        fileCheck = crypto_sign_verify_detached(bytesOf(fileSignature), bytesOf(bytes),
                                                quint64(bytes.size()), bytesOf(publicKey));
    }
    if (fileCheck != 0) {
        verdict.detail = tr("the image is not the one that was signed");
        return verdict;
    }
    // The trusted comment is signed together with the file's signature.
    const QByteArray comment = fileSignature + signature->trustedComment();
    if (crypto_sign_verify_detached(bytesOf(signature->globalSignature()), bytesOf(comment),
                                    quint64(comment.size()), bytesOf(publicKey))
        != 0) {
        verdict.detail = tr("its trusted comment is not the one that was signed");
        return verdict;
    }

    verdict.keyComment = key->comment();
    verdict.trustedComment = QString::fromUtf8(signature->trustedComment());
    verdict.detail.clear();
    const QStringList products = namedProducts(verdict.trustedComment);
    if (!products.isEmpty() && !products.contains(productName)) {
        verdict.state = SignatureVerdict::State::OtherProduct;
        verdict.detail = products.join(tr(" and "));
        return verdict;
    }
    verdict.state = SignatureVerdict::State::Valid;
    return verdict;
}

QStringList TrustedKeys::namedProducts(const QString &trustedComment)
{
    // A word directly followed by "=", at the start or after white space,
    // starts the next value.
    static const QRegularExpression key(QStringLiteral("(?:^|\\s)([A-Za-z][A-Za-z0-9_.-]*)="));
    QStringList products;
    QRegularExpressionMatchIterator it = key.globalMatch(trustedComment);
    QRegularExpressionMatch current = it.hasNext() ? it.next() : QRegularExpressionMatch();
    while (current.hasMatch()) {
        const QRegularExpressionMatch next = it.hasNext() ? it.next() : QRegularExpressionMatch();
        if (current.captured(1) == QLatin1String("product")) {
            const qsizetype from = current.capturedEnd(0);
            const qsizetype to = next.hasMatch() ? next.capturedStart(0) : trustedComment.size();
            const QString value = trustedComment.mid(from, to - from).trimmed();
            if (!value.isEmpty() && !products.contains(value))
                products.append(value);
        }
        current = next;
    }
    return products;
}
