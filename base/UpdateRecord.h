#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QJsonObject>
#include <QString>

#include <optional>

// One firmware update as it is kept in the update record: what was put on
// which device, from which file, and how it ended. Texts that are not known
// (a revision the device never reported, no reason for a verified run) stay
// null and are written as JSON null.
class UpdateRecord
{
public:
    enum class Outcome { Verified, NotVerified, Mismatch, Failed, Cancelled };

    QDateTime time;          // when the run ended
    int interfaceNumber = -1; // 0 USB, 1 ZELDMX fixtures, 2 Ethernet controllers
    QString deviceType;      // catalogue product name
    QString address;         // controller IP address, fixture or player serial number
    QString revisionBefore;  // as the device's own route reports it
    QString imageFile;
    QString imageSha256;     // lower-case hex of the bytes that were sent
    QString imageVersion;
    QString revisionAfter;
    Outcome outcome = Outcome::Failed;
    QString reason;          // why a run failed, was cancelled or did not match
    qint64 durationMs = 0;
    // The image's signature as it was checked: "valid" or "unsigned" (an
    // image with any other verdict is never sent); null when not known, as in
    // records written before signatures were checked.
    QString signature;
    QString signedBy;        // valid: key id and the key's comment
    QString trustedComment;  // valid: the text the maker signed with the image

    // Fills the image fields from the accepted file's name and bytes.
    void setImage(const QString &fileName, const QByteArray &bytes, const QString &version);
    // The same with the bytes' SHA-256 (lower-case hex) already worked out.
    void setImage(const QString &fileName, const QString &sha256, const QString &version);

    // The image's signature fields.
    void setSignature(const QString &state, const QString &by, const QString &comment);

    QJsonObject toJson() const;
    // The line as stored: compact JSON, no newline.
    QByteArray toJsonLine() const;
    // Nothing when the object is not a record: time, interface and outcome
    // must be present and valid; every other field is optional.
    static std::optional<UpdateRecord> fromJson(const QJsonObject &object);

    // "verified", "not verified", "mismatch", "failed", "cancelled".
    static QString outcomeName(Outcome outcome);
    static std::optional<Outcome> outcomeFromName(const QString &name);
    // "usb", "zeldmx", "ethernet"; empty for other numbers.
    static QString interfaceKey(int interfaceNumber);
    static int interfaceFromKey(const QString &key); // -1 when unknown
    // The window's own name of the interface ("USB", "ZELDMX Fixtures", ...).
    static QString interfaceTitle(int interfaceNumber);

    bool operator==(const UpdateRecord &other) const = default;
};
