// Fetching the manifest text, with the rule that an empty answer is fetched again at once.
#pragma once

#include <QString>

#include <optional>

namespace tarnwick {

class HttpTransfer;

// An empty answer is fetched again without a pause, up to three fetches in all.
inline constexpr int kManifestAttempts = 3;

// Nothing when a fetch fails; the empty text when every attempt answered empty.
std::optional<QString> FetchManifestText(HttpTransfer& transfer, const QString& url, int attempts);

}  // namespace tarnwick
