#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <optional>

// A maker's public key as the signing tool writes it (two lines):
//   untrusted comment: <anything>
//   <base64 of "Ed", the 8-byte key id and the 32-byte Ed25519 key>
class SigningKey
{
public:
    static constexpr qsizetype kIdSize = 8;
    static constexpr qsizetype kKeySize = 32;
    // Far beyond any key file; reading stops there.
    static constexpr qint64 kMaxFileSize = 16 * 1024;

    // Nothing, with the reason in error, unless text is a whole public key.
    static std::optional<SigningKey> fromText(QByteArrayView text, QString *error = nullptr);
    // The same for a file; the key remembers the path as its origin.
    static std::optional<SigningKey> fromFile(const QString &path, QString *error = nullptr);

    // The 8 id bytes as stored in key and signature files.
    QByteArray id() const { return m_id; }
    // How the signing tool prints an id: the bytes as a little-endian 64-bit
    // number in upper-case hex, without leading zeros.
    QString idText() const { return idText(m_id); }
    static QString idText(QByteArrayView id);
    QByteArray publicKey() const { return m_publicKey; }
    // The comment line's text: anyone may have edited it, so it only helps
    // the operator tell keys apart.
    QString comment() const { return m_comment; }
    QString origin() const { return m_origin; }
    void setOrigin(const QString &origin) { m_origin = origin; }

private:
    QByteArray m_id;
    QByteArray m_publicKey;
    QString m_comment;
    QString m_origin;
};
