#include "update/Signature.h"

#include <QByteArray>

#include <algorithm>

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

// minisign's line buffers, each counting the line's LF: it refuses a longer line.
constexpr qsizetype kUntrustedLineMax = 1023;
constexpr qsizetype kSignatureLineMax = 102;
constexpr qsizetype kTrustedLineMax = 8191;

// Exactly `size` bytes of base64, padded, with nothing around it. Like minisign, the unused low
// bits of the last digit are not looked at.
std::optional<QByteArray> DecodeBase64(QByteArrayView text, qsizetype size)
{
    QByteArray::FromBase64Result result =
        QByteArray::fromBase64Encoding(text.toByteArray(), QByteArray::AbortOnBase64DecodingErrors);
    if (!result || text.size() != (size + 2) / 3 * 4 || result.decoded.size() != size)
        return std::nullopt;
    return std::move(result.decoded);
}

// One of the first three lines, taken off `rest`: it must end in an LF within `limit` bytes and
// hold no NUL byte; it is cut at its first CR.
std::optional<QByteArrayView> TakeLine(QByteArrayView& rest, qsizetype limit)
{
    const qsizetype end = rest.first(std::min(limit, rest.size())).indexOf('\n');
    if (end < 0 || rest.first(end).contains('\0'))
        return std::nullopt;
    const QByteArrayView line = rest.first(end);
    rest = rest.sliced(end + 1);
    const qsizetype cr = line.indexOf('\r');
    return cr < 0 ? line : line.first(cr);
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

QList<SigningKey> ParseSigningKeys(QStringView list)
{
    QList<SigningKey> keys;
    for (const QStringView line : list.split(u',')) {
        const std::optional<SigningKey> key = ParseSigningKey(line);
        if (!key)
            return {};
        keys.append(*key);
    }
    return keys;
}

SignatureCheck CheckSignature(const QList<SigningKey>& keys, const QByteArray& message, const QByteArray& minisig,
                              QByteArray* trustedComment)
{
    if (sodium_init() < 0)
        return SignatureCheck::Malformed;

    // Four lines: untrusted comment, signature, trusted comment, global signature. They are read
    // as `minisign -V` reads them, so that a publisher who checks the site with minisign gets the
    // updater's answer:
    // - CR LF line ends (files saved on Windows) are fine: minisign cuts each line at its first CR;
    // - a missing final line end, blank lines or any text after the fourth line (an editor or an
    //   upload may add them) are fine: minisign reads four lines and no more, and the fourth ends
    //   at its first CR, LF or NUL byte, or with the file;
    // - blanks around the base64, a blank line between the lines, a lone CR as line end, a NUL
    //   byte in the first three lines or a line longer than minisign's buffer for it: refused.
    QByteArrayView rest = minisig;
    const std::optional<QByteArrayView> untrusted = TakeLine(rest, kUntrustedLineMax);
    const std::optional<QByteArrayView> signatureLine = TakeLine(rest, kSignatureLineMax);
    const std::optional<QByteArrayView> trusted = TakeLine(rest, kTrustedLineMax);
    if (!untrusted || !signatureLine || !trusted || !untrusted->startsWith(kUntrustedPrefix) ||
        !trusted->startsWith(kTrustedPrefix))
        return SignatureCheck::Malformed;
    const auto globalEnd =
        std::find_if(rest.begin(), rest.end(), [](char c) { return c == '\r' || c == '\n' || c == '\0'; });
    const std::optional<QByteArray> signature =
        DecodeBase64(*signatureLine, kLegacy.size() + kIdBytes + crypto_sign_BYTES);
    const std::optional<QByteArray> global = DecodeBase64(rest.first(globalEnd - rest.begin()), crypto_sign_BYTES);
    if (!signature || !global)
        return SignatureCheck::Malformed;

    const QByteArray algorithm = signature->left(kLegacy.size());
    if (algorithm != kLegacy && algorithm != kPrehashed)
        return SignatureCheck::Malformed;
    const auto named = std::find_if(keys.begin(), keys.end(), [&](const SigningKey& k) {
        return k.id == signature->mid(kLegacy.size(), kIdBytes);
    });
    if (named == keys.end())
        return SignatureCheck::WrongKey;
    const SigningKey& key = *named;

    const QByteArray fileSignature = signature->mid(kLegacy.size() + kIdBytes);
    const bool fileHolds = algorithm == kPrehashed ? VerifyEd25519(fileSignature, Blake2b512(message), key)
                                                   : VerifyEd25519(fileSignature, message, key);
    if (!fileHolds)
        return SignatureCheck::FileMismatch;
    const QByteArray comment = trusted->sliced(kTrustedPrefix.size()).toByteArray();
    if (!VerifyEd25519(*global, fileSignature + comment, key))
        return SignatureCheck::CommentMismatch;
    if (trustedComment)
        *trustedComment = comment;
    return SignatureCheck::Valid;
}

}  // namespace tarnwick
