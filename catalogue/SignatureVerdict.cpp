#include "catalogue/SignatureVerdict.h"

#include <QCoreApplication>
#include <QDir>

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("SignatureVerdict", text);
}

} // namespace

QString SignatureVerdict::stateName(State state)
{
    switch (state) {
    case State::Unsigned: return QStringLiteral("unsigned");
    case State::Valid: return QStringLiteral("valid");
    case State::Damaged: return QStringLiteral("damaged");
    case State::UnknownKey: return QStringLiteral("unknown key");
    case State::Invalid: return QStringLiteral("invalid");
    case State::OtherProduct: return QStringLiteral("other product");
    }
    return QString();
}

QString SignatureVerdict::signedBy() const
{
    if (keyId.isEmpty())
        return QString();
    return keyComment.isEmpty() ? keyId : QStringLiteral("%1 (%2)").arg(keyId, keyComment);
}

QString SignatureVerdict::summary() const
{
    switch (state) {
    case State::Valid: {
        QString text = tr("Signed by %1").arg(signedBy());
        if (!trustedComment.isEmpty())
            text += QLatin1Char('\n') + tr("Trusted comment: %1").arg(trustedComment);
        return text;
    }
    case State::Unsigned:
        return keysInstalled
            ? tr("Unsigned: this image is not signed by a trusted key; PROGRAM asks before "
                 "writing it.")
            : tr("Unsigned: no trusted key is installed, so no signature is checked.");
    case State::Damaged: return tr("Signature damaged: %1.").arg(detail);
    case State::UnknownKey: return tr("Signed by key %1, which is not a trusted key.").arg(keyId);
    case State::Invalid: return tr("Signature does not verify: %1.").arg(detail);
    case State::OtherProduct: return tr("Signed for %1.").arg(detail);
    }
    return QString();
}

QString SignatureVerdict::refusal(const QString &productName) const
{
    const QString image = QDir::toNativeSeparators(imagePath);
    const QString signature = QDir::toNativeSeparators(signaturePath);
    QString why;
    switch (state) {
    case State::Unsigned:
    case State::Valid: return QString();
    case State::Damaged:
        why = tr("The signature file %1 is damaged: %2.").arg(signature, detail);
        break;
    case State::UnknownKey:
        why = tr("%1 is signed by key %2, which is not a trusted key.").arg(image, keyId);
        break;
    case State::Invalid:
        why = tr("The signature %1 does not verify: %2.").arg(signature, detail);
        break;
    case State::OtherProduct:
        why = tr("%1 was signed for %2, not for %3.").arg(image, detail, productName);
        break;
    }
    return why + QLatin1Char('\n') + tr("The image was refused: nothing can be programmed with it.");
}
