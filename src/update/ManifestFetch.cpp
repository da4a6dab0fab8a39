#include "update/ManifestFetch.h"

#include "platform/HttpTransfer.h"
#include "settings/FetchedText.h"
#include "update/ManifestDigests.h"
#include "update/Signature.h"
#include "update/SiteFormat.h"
#include "update/TrustedComment.h"

#include <QDateTime>

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

enum class Vouched {
    Yes,
    No,
    // The signature is not one, or not of these bytes: a site caught between two uploads, or a
    // cache that holds the manifest of one release and the signature of another.
    Unpaired,
};

// The signature covers the bytes exactly as served, before any decoding.
Vouched SignedByPublisher(HttpTransfer& transfer, const QString& url, const QByteArray& manifest,
                          const QList<SigningKey>& keys, const QString& folder)
{
    if (keys.isEmpty())
        return Vouched::No;
    const FetchResult signature = transfer.OpenUrl(url + QLatin1String(site::kSignatureSuffix));
    if (!signature.ok())
        return Vouched::No;
    QByteArray comment;
    switch (CheckSignature(keys, manifest, signature.body, &comment)) {
    case SignatureCheck::Valid:
        break;
    case SignatureCheck::Malformed:
    case SignatureCheck::FileMismatch:
        return Vouched::Unpaired;
    case SignatureCheck::WrongKey:
    case SignatureCheck::CommentMismatch:
        return Vouched::No;
    }
    return JudgeTrustedComment(comment, folder, QDateTime::currentSecsSinceEpoch()) == CommentVerdict::Holds
               ? Vouched::Yes
               : Vouched::No;
}

}  // namespace

std::optional<QString> FetchManifestText(HttpTransfer& transfer, const QString& url, int attempts,
                                         const QString& signingKey, const QString& folder)
{
    const bool signatureChecked = !signingKey.isEmpty();
    const QList<SigningKey> keys = signatureChecked ? ParseSigningKeys(signingKey) : QList<SigningKey>();
    std::optional<QByteArray> bytes;
    for (int round = 1; round <= kSignedRounds; ++round) {
        bytes = FetchManifestBytes(transfer, url, attempts);
        if (!bytes)
            return std::nullopt;
        if (!signatureChecked)
            break;
        const Vouched vouched = SignedByPublisher(transfer, url, *bytes, keys, folder);
        if (vouched == Vouched::Yes)
            break;
        if (vouched == Vouched::No || round == kSignedRounds)
            return std::nullopt;
    }
    const QString text = bytes->isEmpty() ? QString() : DecodeFetchedText(*bytes);
    if (!ManifestDigestsAcceptable(text, signatureChecked))
        return std::nullopt;
    return text;
}

}  // namespace tarnwick
