#include "base/UpdateRecord.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QJsonDocument>
#include <QJsonValue>

namespace {

const char *const kOutcomeNames[] = {"verified", "not verified", "mismatch", "failed", "cancelled"};
const char *const kInterfaceKeys[] = {"usb", "zeldmx", "ethernet"};

QJsonValue textOrNull(const QString &text)
{
    return text.isNull() ? QJsonValue(QJsonValue::Null) : QJsonValue(text);
}

// A missing key, null or a value of another type reads as unknown.
QString textOf(const QJsonObject &object, const char *key)
{
    const QJsonValue value = object.value(QLatin1String(key));
    return value.isString() ? value.toString() : QString();
}

} // namespace

void UpdateRecord::setImage(const QString &fileName, const QByteArray &bytes, const QString &version)
{
    imageFile = fileName;
    imageSha256 = QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
    imageVersion = version;
}

void UpdateRecord::setImage(const QString &fileName, const QString &sha256, const QString &version)
{
    imageFile = fileName;
    imageSha256 = sha256;
    imageVersion = version;
}

void UpdateRecord::setSignature(const QString &state, const QString &by, const QString &comment)
{
    signature = state;
    signedBy = by;
    trustedComment = comment;
}

QJsonObject UpdateRecord::toJson() const
{
    // Local time with its offset, so a record read on another machine or
    // after a clock change still names one instant.
    const QDateTime local = time.toOffsetFromUtc(time.offsetFromUtc());
    QJsonObject object;
    object.insert(QStringLiteral("time"), local.toString(Qt::ISODate));
    object.insert(QStringLiteral("interface"), interfaceKey(interfaceNumber));
    object.insert(QStringLiteral("deviceType"), textOrNull(deviceType));
    object.insert(QStringLiteral("address"), textOrNull(address));
    object.insert(QStringLiteral("revisionBefore"), textOrNull(revisionBefore));
    object.insert(QStringLiteral("imageFile"), textOrNull(imageFile));
    object.insert(QStringLiteral("imageSha256"), textOrNull(imageSha256));
    object.insert(QStringLiteral("imageVersion"), textOrNull(imageVersion));
    object.insert(QStringLiteral("revisionAfter"), textOrNull(revisionAfter));
    object.insert(QStringLiteral("outcome"), outcomeName(outcome));
    object.insert(QStringLiteral("reason"), textOrNull(reason));
    object.insert(QStringLiteral("durationMs"), durationMs);
    // Only known signatures are written: a record without one keeps the
    // line it always had.
    if (!signature.isNull()) {
        object.insert(QStringLiteral("signature"), signature);
        object.insert(QStringLiteral("signedBy"), textOrNull(signedBy));
        object.insert(QStringLiteral("trustedComment"), textOrNull(trustedComment));
    }
    return object;
}

QByteArray UpdateRecord::toJsonLine() const
{
    return QJsonDocument(toJson()).toJson(QJsonDocument::Compact);
}

std::optional<UpdateRecord> UpdateRecord::fromJson(const QJsonObject &object)
{
    UpdateRecord record;
    record.time = QDateTime::fromString(textOf(object, "time"), Qt::ISODate);
    record.interfaceNumber = interfaceFromKey(textOf(object, "interface"));
    const std::optional<Outcome> outcome = outcomeFromName(textOf(object, "outcome"));
    if (!record.time.isValid() || record.interfaceNumber < 0 || !outcome)
        return std::nullopt;
    record.outcome = *outcome;
    record.deviceType = textOf(object, "deviceType");
    record.address = textOf(object, "address");
    record.revisionBefore = textOf(object, "revisionBefore");
    record.imageFile = textOf(object, "imageFile");
    record.imageSha256 = textOf(object, "imageSha256");
    record.imageVersion = textOf(object, "imageVersion");
    record.revisionAfter = textOf(object, "revisionAfter");
    record.reason = textOf(object, "reason");
    record.signature = textOf(object, "signature");
    record.signedBy = textOf(object, "signedBy");
    record.trustedComment = textOf(object, "trustedComment");
    const QJsonValue duration = object.value(QStringLiteral("durationMs"));
    record.durationMs = duration.isDouble() && duration.toDouble() >= 0 ? duration.toInteger() : 0;
    return record;
}

QString UpdateRecord::outcomeName(Outcome outcome)
{
    return QString::fromLatin1(kOutcomeNames[static_cast<int>(outcome)]);
}

std::optional<UpdateRecord::Outcome> UpdateRecord::outcomeFromName(const QString &name)
{
    for (int i = 0; i < int(std::size(kOutcomeNames)); ++i) {
        if (name == QLatin1String(kOutcomeNames[i]))
            return static_cast<Outcome>(i);
    }
    return std::nullopt;
}

QString UpdateRecord::interfaceKey(int interfaceNumber)
{
    if (interfaceNumber < 0 || interfaceNumber >= int(std::size(kInterfaceKeys)))
        return QString();
    return QString::fromLatin1(kInterfaceKeys[interfaceNumber]);
}

int UpdateRecord::interfaceFromKey(const QString &key)
{
    for (int i = 0; i < int(std::size(kInterfaceKeys)); ++i) {
        if (key == QLatin1String(kInterfaceKeys[i]))
            return i;
    }
    return -1;
}

QString UpdateRecord::interfaceTitle(int interfaceNumber)
{
    switch (interfaceNumber) {
    case 0: return QCoreApplication::translate("ZelBootLoader", "USB");
    case 1: return QCoreApplication::translate("ZelBootLoader", "ZELDMX Fixtures");
    case 2: return QCoreApplication::translate("ZelBootLoader", "Ethernet Controllers");
    default: return QString();
    }
}
