#include "update/ManifestFetch.h"

#include "platform/HttpTransfer.h"
#include "settings/FetchedText.h"
#include "update/ManifestDigests.h"
#include "update/Signature.h"

namespace tarnwick {
namespace {

std::optional<QByteArray> FetchManifestBytes(HttpTransfer& transfer, const QString& url, int attempts)
{
    for (int attempt = 0; attempt < attempts; ++attempt) {
        const FetchResult result = transfer.OpenUrl(url);
        if (!result.ok())
            return std::nullopt;
        if (!result.body.isEmpty())
            return result.body;
    }
    return QByteArray();
}

// The signature covers the bytes exactly as served, before any decoding.
bool SignedByPublisher(HttpTransfer& transfer, const QString& url, const QByteArray& manifest,
                       const QString& signingKey)
{
    const std::optional<SigningKey> key = ParseSigningKey(signingKey);
    if (!key)
        return false;
    const FetchResult signature = transfer.OpenUrl(url + QStringLiteral(".minisig"));
    return signature.ok() && CheckSignature(*key, manifest, signature.body) == SignatureCheck::Valid;
}

}  // namespace

std::optional<QString> FetchManifestText(HttpTransfer& transfer, const QString& url, int attempts,
                                         const QString& signingKey)
{
    const std::optional<QByteArray> bytes = FetchManifestBytes(transfer, url, attempts);
    if (!bytes)
        return std::nullopt;
    const bool signatureChecked = !signingKey.isEmpty();
    if (signatureChecked && !SignedByPublisher(transfer, url, *bytes, signingKey))
        return std::nullopt;
    const QString text = bytes->isEmpty() ? QString() : DecodeFetchedText(*bytes);
    if (!ManifestDigestsAcceptable(text, signatureChecked))
        return std::nullopt;
    return text;
}

}  // namespace tarnwick
