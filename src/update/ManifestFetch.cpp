#include "update/ManifestFetch.h"

#include "platform/HttpTransfer.h"
#include "settings/FetchedText.h"

namespace tarnwick {

std::optional<QString> FetchManifestText(HttpTransfer& transfer, const QString& url, int attempts)
{
    for (int attempt = 0; attempt < attempts; ++attempt) {
        const FetchResult result = transfer.OpenUrl(url);
        if (!result.ok())
            return std::nullopt;
        if (!result.body.isEmpty())
            return DecodeFetchedText(result.body);
    }
    return QString();
}

}  // namespace tarnwick
