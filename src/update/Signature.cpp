#include "update/Signature.h"

#include <QList>

#include <sodium.h>

namespace tarnwick {
namespace {

constexpr qsizetype kIdBytes = 8;
constexpr QByteArrayView kUntrustedPrefix = "untrusted comment: ";
constexpr QByteArrayView kTrustedPrefix = "trusted comment: ";
// The first two bytes of a key or signature name the algorithm: Ed25519 over the bytes
// themselves ("Ed", the legacy format) or over their BLAKE2b-512 hash ("ED").
constexpr QByteArrayView kLegacy = "Ed";
constexpr QByteArrayView kPrehashed = "ED";

// Exactly `size` bytes of strict base64 (padding included, nothing after it), or nothing.
std::optional<QByteArray> DecodeBase64(QByteArrayView text, qsizetype size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    size_t decoded = 0;
    const char* end = nullptr;
    if (sodium_base642bin(reinterpret_cast<unsigned char*>(bytes.data()), bytes.size(), text.data(), text.size(),
                          nullptr, &decoded, &end, sodium_base64_VARIANT_ORIGINAL) != 0 ||
        end != text.data() + text.size() || decoded != size_t(size))
        return std::nullopt;
    return bytes;
}

bool VerifyEd25519(const QByteArray& signature, QByteArrayView message, const SigningKey& key)
{
    return crypto_sign_verify_detached(reinterpret_cast<const unsigned char*>(signature.constData()),
                                       reinterpret_cast<const unsigned char*>(message.data()), message.size(),
                                       reinterpret_cast<const unsigned char*>(key.ed25519.constData())) == 0;
}

QByteArray Blake2b512(const QByteArray& message)
{
    QByteArray hash(crypto_generichash_BYTES_MAX, Qt::Uninitialized);
    crypto_generichash(reinterpret_cast<unsigned char*>(hash.data()), hash.size(),
                       reinterpret_cast<const unsigned char*>(message.constData()), message.size(), nullptr, 0);
    return hash;
}

}  // namespace

std::optional<SigningKey> ParseSigningKey(QStringView base64)
{
    const std::optional<QByteArray> bytes =
        DecodeBase64(base64.trimmed().toLatin1(), kLegacy.size() + kIdBytes + crypto_sign_PUBLICKEYBYTES);
    if (!bytes || !bytes->startsWith(kLegacy))
        return std::nullopt;
    return SigningKey{bytes->mid(kLegacy.size(), kIdBytes), bytes->mid(kLegacy.size() + kIdBytes)};
}

SignatureCheck CheckSignature(const SigningKey& key, const QByteArray& message, const QByteArray& minisig)
{
    if (sodium_init() < 0)
        return SignatureCheck::Malformed;

    // Four lines: untrusted comment, signature, trusted comment, global signature. Files written
    // on Windows end their lines in CR LF.
    QList<QByteArray> lines = minisig.split('\n');
    if (lines.size() == 5 && lines.last().isEmpty())
        lines.removeLast();
    for (QByteArray& line : lines) {
        if (line.endsWith('\r'))
            line.chop(1);
    }
    if (lines.size() != 4 || !lines[0].startsWith(kUntrustedPrefix) || !lines[2].startsWith(kTrustedPrefix))
        return SignatureCheck::Malformed;
    const std::optional<QByteArray> signature = DecodeBase64(lines[1], kLegacy.size() + kIdBytes + crypto_sign_BYTES);
    const std::optional<QByteArray> global = DecodeBase64(lines[3], crypto_sign_BYTES);
    if (!signature || !global)
        return SignatureCheck::Malformed;

    const QByteArray algorithm = signature->left(kLegacy.size());
    if (algorithm != kLegacy && algorithm != kPrehashed)
        return SignatureCheck::Malformed;
    if (signature->mid(kLegacy.size(), kIdBytes) != key.id)
        return SignatureCheck::WrongKey;

    const QByteArray fileSignature = signature->mid(kLegacy.size() + kIdBytes);
    const bool fileHolds = algorithm == kPrehashed ? VerifyEd25519(fileSignature, Blake2b512(message), key)
                                                   : VerifyEd25519(fileSignature, message, key);
    if (!fileHolds)
        return SignatureCheck::FileMismatch;
    const QByteArray trustedComment = lines[2].mid(kTrustedPrefix.size());
    if (!VerifyEd25519(*global, fileSignature + trustedComment, key))
        return SignatureCheck::CommentMismatch;
    return SignatureCheck::Valid;
}

}  // namespace tarnwick
