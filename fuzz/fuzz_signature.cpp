// The public key and signature file readers, and the check they feed, over
// arbitrary bytes. Input: a key file, a NUL byte, a signature file; the
// signature is checked over a fixed image with the key as the only trusted one.
#include "catalogue/SignatureFile.h"
#include "catalogue/SignatureText.h"
#include "catalogue/SigningKey.h"
#include "catalogue/TrustedKeys.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

const char kImage[] = "Zel fuzz image\n";

void check(bool ok)
{
    if (!ok)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArrayView input(reinterpret_cast<const char *>(data), qsizetype(size));
    const qsizetype split = input.indexOf('\0');
    const QByteArrayView keyText = split < 0 ? input : input.first(split);
    const QByteArrayView signatureText = split < 0 ? input : input.sliced(split + 1);

    QString error;
    const std::optional<SigningKey> key = SigningKey::fromText(keyText, &error);
    check(key.has_value() == error.isEmpty());
    if (key) {
        check(key->id().size() == SigningKey::kIdSize);
        check(key->publicKey().size() == SigningKey::kKeySize);
        check(key->idText().size() >= 1 && key->idText().size() <= 16);
    }

    error.clear();
    const std::optional<SignatureFile> signature = SignatureFile::fromText(signatureText, &error);
    check(signature.has_value() == error.isEmpty());
    if (signature) {
        check(signature->keyId().size() == SigningKey::kIdSize);
        check(signature->signature().size() == SignatureFile::kSignatureSize);
        check(signature->globalSignature().size() == SignatureFile::kSignatureSize);
        check(!signature->trustedComment().contains('\n'));
    }

    TrustedKeys keys;
    if (key)
        keys.add(*key);
    const SignatureVerdict verdict =
        keys.verify(QByteArrayView(kImage), signatureText, QStringLiteral("Cove Wash"));
    // Only a whole signature by the trusted key can be valid.
    if (verdict.state == SignatureVerdict::State::Valid
        || verdict.state == SignatureVerdict::State::OtherProduct)
        check(key && signature && signature->keyId() == key->id());
    check(signature.has_value() == (verdict.state != SignatureVerdict::State::Damaged));
    (void)verdict.summary();
    (void)verdict.refusal(QStringLiteral("Cove Wash"));
    TrustedKeys::namedProducts(QString::fromUtf8(signatureText));

    for (qsizetype bytes : {qsizetype(1), qsizetype(42), qsizetype(64), qsizetype(74)})
        (void)SignatureText::decodeBase64(signatureText, bytes);
    return 0;
}
