// The save step of one download: the body streams into a temporary file beside the target,
// which takes the target's place only once every byte is on disk.
#pragma once

#include <QString>

namespace tarnwick {

class HttpTransfer;

enum class SaveOutcome {
    Saved,      // fetched whole and in place
    Busy,       // the transfer was running another fetch; nothing was touched
    Cancelled,  // the fetch was cut off by the user; the old file stays
    Failed,     // not fetched or not written; the old file stays
};

// Fetches url into path. A read-only target is never replaced.
SaveOutcome SaveDownload(HttpTransfer& transfer, const QString& url, const QString& path);

}  // namespace tarnwick
