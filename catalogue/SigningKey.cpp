#include "catalogue/SigningKey.h"

#include "catalogue/SignatureText.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("SigningKey", text);
}

bool fail(QString *error, const QString &why)
{
    if (error)
        *error = why;
    return false;
}

} // namespace

QString SigningKey::idText(QByteArrayView id)
{
    quint64 number = 0;
    for (qsizetype i = id.size() - 1; i >= 0; --i)
        number = number << 8 | quint8(id[i]);
    // No leading zeros: the form the signing tool writes into the key's
    // comment and prints, so that an operator can compare the two.
    return QString::number(number, 16).toUpper();
}

std::optional<SigningKey> SigningKey::fromText(QByteArrayView text, QString *error)
{
    const QList<QByteArrayView> lines = SignatureText::lines(text);
    if (lines.size() < 2) {
        fail(error, tr("it does not have the two lines of a public key"));
        return std::nullopt;
    }
    const std::optional<QByteArrayView> comment =
        SignatureText::after(lines[0], "untrusted comment: ");
    if (!comment) {
        fail(error, tr("its first line is not an untrusted comment"));
        return std::nullopt;
    }
    const std::optional<QByteArray> bytes =
        SignatureText::decodeBase64(lines[1], 2 + kIdSize + kKeySize);
    if (!bytes) {
        fail(error, tr("its second line is not the base64 text of a public key"));
        return std::nullopt;
    }
    if (!bytes->startsWith("Ed")) {
        fail(error, tr("it is not an Ed25519 public key"));
        return std::nullopt;
    }
    SigningKey key;
    key.m_id = bytes->mid(2, kIdSize);
    key.m_publicKey = bytes->mid(2 + kIdSize);
    key.m_comment = QString::fromUtf8(*comment).trimmed();
    return key;
}

std::optional<SigningKey> SigningKey::fromFile(const QString &path, QString *error)
{
    const QFileInfo info(path);
    if (!info.exists()) {
        fail(error, tr("the file does not exist"));
        return std::nullopt;
    }
    // A pipe or a device is never opened: it could block or never end.
    if (!info.isFile()) {
        fail(error, tr("it is not a file"));
        return std::nullopt;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        fail(error, file.errorString());
        return std::nullopt;
    }
    const QByteArray text = file.read(kMaxFileSize + 1);
    if (file.error() != QFileDevice::NoError) {
        fail(error, file.errorString());
        return std::nullopt;
    }
    if (text.size() > kMaxFileSize) {
        fail(error, tr("it is far too large to be a public key"));
        return std::nullopt;
    }
    std::optional<SigningKey> key = fromText(text, error);
    if (key)
        key->setOrigin(path);
    return key;
}
