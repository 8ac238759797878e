#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <optional>

// A detached signature as the signing tool writes it (four lines):
//   untrusted comment: <anything>
//   <base64 of the algorithm (2 bytes), the key id (8) and the signature (64)>
//   trusted comment: <text covered by the global signature>
//   <base64 of the global signature (64)>
// Reading one says nothing about whether it is genuine: TrustedKeys decides.
class SignatureFile
{
public:
    // "ED": over the BLAKE2b-512 hash of the file; "Ed": over the file itself.
    enum class Algorithm { Prehashed, Legacy };

    static constexpr qsizetype kSignatureSize = 64;
    // The tool's own comments stay far below this.
    static constexpr qint64 kMaxFileSize = 64 * 1024;

    // Nothing, with the reason in error, unless text is a whole signature.
    static std::optional<SignatureFile> fromText(QByteArrayView text, QString *error = nullptr);

    Algorithm algorithm() const { return m_algorithm; }
    QByteArray keyId() const { return m_keyId; }
    QByteArray signature() const { return m_signature; }
    // As signed: the bytes after "trusted comment: ", line end excluded.
    QByteArray trustedComment() const { return m_trustedComment; }
    QByteArray globalSignature() const { return m_globalSignature; }
    QString untrustedComment() const { return m_untrustedComment; }

private:
    Algorithm m_algorithm = Algorithm::Prehashed;
    QByteArray m_keyId;
    QByteArray m_signature;
    QByteArray m_trustedComment;
    QByteArray m_globalSignature;
    QString m_untrustedComment;
};
