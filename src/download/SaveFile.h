// The save step of one download: the body streams into the updater's own temporary file
// beside the target, which takes the target's place only once every byte is on disk and, when
// the manifest gave one, the file's SHA-256 digest matches.
#pragma once

#include <QByteArray>
#include <QString>

namespace tarnwick {

class GroupCommit;
class HttpTransfer;

enum class SaveOutcome {
    Saved,      // fetched whole, and waiting in its group to take its place
    Busy,       // the transfer was running another fetch; nothing was touched
    Cancelled,  // the fetch was cut off by the user; the old file stays
    Failed,     // not fetched, not written or not the published file; the old file stays
};

// Fetches url into path; the arrived file waits in group, which makes it durable and puts it in
// place together with others. A read-only target is never replaced. An empty expectedSha256 (32
// bytes otherwise) means the manifest gave no digest and the file is not checked.
SaveOutcome StageDownload(HttpTransfer& transfer, const QString& url, const QString& path,
                          const QByteArray& expectedSha256, GroupCommit& group);

// Removes the temporary files a crashed run left in the folder itself, and nothing else; those
// elsewhere are found through the run's record of them.
void RemoveLeftoverParts(const QString& folder);

}  // namespace tarnwick
