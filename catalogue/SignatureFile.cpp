#include "catalogue/SignatureFile.h"

#include "catalogue/SignatureText.h"
#include "catalogue/SigningKey.h"

#include <QCoreApplication>

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("SignatureFile", text);
}

std::nullopt_t fail(QString *error, const QString &why)
{
    if (error)
        *error = why;
    return std::nullopt;
}

} // namespace

std::optional<SignatureFile> SignatureFile::fromText(QByteArrayView text, QString *error)
{
    const QList<QByteArrayView> lines = SignatureText::lines(text);
    if (lines.size() < 4)
        return fail(error, tr("it does not have the four lines of a signature"));
    const std::optional<QByteArrayView> untrusted =
        SignatureText::after(lines[0], "untrusted comment: ");
    if (!untrusted)
        return fail(error, tr("its first line is not an untrusted comment"));
    const std::optional<QByteArray> bytes =
        SignatureText::decodeBase64(lines[1], 2 + SigningKey::kIdSize + kSignatureSize);
    if (!bytes)
        return fail(error, tr("its second line is not the base64 text of a signature"));
    const std::optional<QByteArrayView> trusted =
        SignatureText::after(lines[2], "trusted comment: ");
    if (!trusted)
        return fail(error, tr("its third line is not a trusted comment"));
    const std::optional<QByteArray> global = SignatureText::decodeBase64(lines[3], kSignatureSize);
    if (!global)
        return fail(error, tr("its fourth line is not the base64 text of a signature"));

    SignatureFile file;
    if (bytes->startsWith("ED"))
        file.m_algorithm = Algorithm::Prehashed;
    else if (bytes->startsWith("Ed"))
        file.m_algorithm = Algorithm::Legacy;
    else
        return fail(error, tr("it names a signature algorithm this updater does not know"));
    file.m_keyId = bytes->mid(2, SigningKey::kIdSize);
    file.m_signature = bytes->mid(2 + SigningKey::kIdSize);
    file.m_trustedComment = trusted->toByteArray();
    file.m_globalSignature = *global;
    file.m_untrustedComment = QString::fromUtf8(*untrusted);
    return file;
}
