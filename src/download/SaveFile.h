// The save step of one download: the body streams into the updater's own temporary file
// beside the target, which takes the target's place only once every byte is on disk and, when
// the manifest gave one, the file's SHA-256 digest matches. With a digest, a file already
// current is left alone, a patch the publisher made is used where it fits, and a broken
// transfer goes on where it stopped.
#pragma once

#include <QByteArray>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

namespace tarnwick {

class DiskWork;
class GroupCommit;
class HttpTransfer;

// A file of the update as the manifest lists it.
struct ListedFile {
    QString url;
    QString path;            // where it goes in the folder (a link there is followed)
    QByteArray sha256;       // 32 bytes, or empty: the manifest gave no digest and nothing is checked
    QByteArray patchFrom;    // a patch applies to the installed copy with this digest; empty: none
    QByteArray patchSha256;  // the patch's own digest
    qint64 size = -1;        // the listed size in bytes, or -1: the manifest gave none and nothing is cut off
    QString folder;          // the application folder: folders the name needs are made only below it
};

enum class SaveOutcome {
    Saved,      // fetched whole, and waiting in its group to take its place
    Current,    // the installed copy is already the listed file: nothing fetched or written
    Busy,       // the transfer was running another fetch; nothing was touched
    Cancelled,  // the fetch was cut off by the user; the old file stays
    Failed,     // not fetched, not written or not the published file; the old file stays
};

// Where a listed file comes from: nowhere (the installed copy, with the digest `installed`, is
// already the listed file), the publisher's patch to that copy, or the site whole. Only a
// listed digest lets the updater trust an installed copy or a patch. Refused: it must not be
// written at all.
enum class FileSource { Current, Patch, Whole, Refused };
FileSource ChooseSource(const std::optional<QByteArray>& installed, const ListedFile& listed);

class PartFile;
class PartRecord;

// The one plan for a listed file, ahead of its turn and in it: Refused for a name that would
// leave the folder or that the updater keeps for itself, and for a read-only target that is
// not already the listed file; else where it comes from. `sum` gives the installed copy's
// digest when there is one to trust; false when it cannot be had now (ahead of its turn a
// large copy is left to its turn; in it, the user stopped): then nothing is planned.
using InstalledSum = std::function<bool(std::optional<QByteArray>& digest)>;
std::optional<FileSource> PlanFile(const ListedFile& listed, const PartFile& file, const InstalledSum& sum);

// The part file for what is fetched for a listed file (the patch's, for a patch), once the file
// is named in the record and the folders its name needs are made; nullptr when any of it fails,
// and then nothing may be fetched for it.
std::unique_ptr<PartFile> OpenPart(const ListedFile& listed, FileSource fetched, PartRecord* record);
// Where what is fetched for it lies on the site.
QString FetchedUrl(const ListedFile& listed, FileSource fetched);

// How often a broken transfer of a checked file is continued before the file fails.
inline constexpr int kContinueAttempts = 3;

// An installed copy up to this size is summed at once: a thread and a wait would cost more.
inline constexpr qint64 kSumAtOnce = 1024 * 1024;

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
