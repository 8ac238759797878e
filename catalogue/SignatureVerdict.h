#pragma once

#include <QString>
#include <QStringList>

// What the check of an image's detached signature found, and how the window,
// the log and the record put it.
class SignatureVerdict
{
public:
    enum class State {
        Unsigned,     // no signature file beside the image
        Valid,        // signed by a trusted key, image and trusted comment intact
        Damaged,      // the signature file cannot be read as one
        UnknownKey,   // signed by a key that is not trusted here
        Invalid,      // the signature does not verify
        OtherProduct, // valid, but its trusted comment names another product
    };

    State state = State::Unsigned;
    QString imagePath;
    QString signaturePath;
    // Valid, UnknownKey, Invalid, OtherProduct: the signature's key id.
    QString keyId;
    // Valid: the first line of the trusted key's own comment.
    QString keyComment;
    // Valid, OtherProduct: believed only once the global signature verified.
    QString trustedComment;
    // Damaged, Invalid: what is wrong; OtherProduct: the products it names.
    QString detail;
    // Unsigned: at least one trusted key is installed, so PROGRAM asks first.
    bool keysInstalled = false;

    // Unsigned or valid: the image may go on to its other checks.
    bool accepted() const { return state == State::Unsigned || state == State::Valid; }
    // Whether PROGRAM must ask before writing this image.
    bool needsConfirmation() const { return state == State::Unsigned && keysInstalled; }

    // "unsigned", "valid", "damaged", "unknown key", "invalid", "other product":
    // the first two are what the update record keeps.
    static QString stateName(State state);
    QString name() const { return stateName(state); }
    // The key id and, when the key has one, its comment in brackets.
    QString signedBy() const;
    // What the window shows beside the image summary, and the log line.
    QString summary() const;
    // The box that refuses the image, saying which check failed.
    QString refusal(const QString &productName) const;
};
