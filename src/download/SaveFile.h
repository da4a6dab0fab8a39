// The save step of one download: the body streams into the updater's own temporary file
// beside the target, which takes the target's place only once every byte is on disk and, when
// the manifest gave one, the file's SHA-256 digest matches. With a digest, a file already
// current is left alone, a patch the publisher made is used where it fits, and a broken
// transfer goes on where it stopped.
#pragma once

#include "download/FilePlan.h"

#include <QString>

namespace tarnwick {

class DiskWork;
class GroupCommit;
class HttpTransfer;

enum class SaveOutcome {
    Saved,      // fetched whole, and waiting in its group to take its place
    Current,    // the installed copy is already the listed file: nothing fetched or written
    Busy,       // the transfer was running another fetch; nothing was touched
    Cancelled,  // the fetch was cut off by the user; the old file stays
    Failed,     // not fetched, not written or not the published file; the old file stays
};

// How often a broken transfer of a checked file is continued before the file fails.
inline constexpr int kContinueAttempts = 3;

class FetchAhead;

// Brings one listed file into group, which makes it durable and puts it in place together with
// others. A read-only target is never replaced (unless already current). Hashing and patching
// run as disk work, so the window stays responsive. What `ahead` started for the file is taken
// up where its fetch stands.
SaveOutcome StageDownload(HttpTransfer& transfer, DiskWork& disk, const ListedFile& listed, GroupCommit& group,
                          FetchAhead* ahead = nullptr);

// Removes the temporary files a crashed run left in the folder itself, and nothing else; those
// elsewhere are found through the run's record of them.
void RemoveLeftoverParts(const QString& folder);

}  // namespace tarnwick
