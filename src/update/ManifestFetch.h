// Fetching the manifest text, with the rule that an empty answer is fetched again at once, and
// the checks that decide whether the updater may act on it: the publisher's signature when the
// updater was built with a key, and the form of the per-file digests.
#pragma once

#include <QString>

#include <optional>

namespace tarnwick {

class HttpTransfer;

// An empty answer is fetched again without a pause, up to three fetches in all.
inline constexpr int kManifestAttempts = 3;

// A signature that does not belong to the manifest has both fetched once more before the
// manifest is refused.
inline constexpr int kSignedRounds = 2;

// Nothing when a fetch fails or the manifest is refused; without a key, the empty text when
// every attempt answered empty. With a signing key (minisign's base64 public-key line) the
// signature "<url>.minisig" is fetched right after the manifest and must hold for its bytes,
// and the manifest must carry its files' digests; several keys, separated by commas, each
// serve. The signed trusted comment must not have expired nor name another folder than
// `folder`, the installed version whose folder url lies in. A malformed "sha256" element is
// refused with or without a key, a malformed "size" element with one.
std::optional<QString> FetchManifestText(HttpTransfer& transfer, const QString& url, int attempts,
                                         const QString& signingKey, const QString& folder);

}  // namespace tarnwick
