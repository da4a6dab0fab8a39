#include "download/SaveFile.h"

#include "download/FetchAhead.h"
#include "download/GroupCommit.h"
#include "download/PartFile.h"
#include "download/PartName.h"
#include "download/Patch.h"
#include "platform/DiskWork.h"
#include "platform/HttpTransfer.h"
#include "platform/Sha256.h"
#include "update/SiteFormat.h"

#include <QDir>
#include <QFileInfo>

namespace tarnwick {
namespace {

// Fetches url into file. A broken transfer of a checked file goes on where it stopped while the
// site serves ranges and the resource is still the one whose start arrived; a changed resource,
// or one without a validator that could tell, starts over. The digest, checked over the whole
// file at the end, vouches for the joins. A fetch ahead left for its turn (taken up to its
// share, or turned away by a host that limits connections) is not the file's failure: its turn
// takes it up where it stands, continued where it can be and else fetched from the start, and
// only then counts continuations as any fetch does.
SaveOutcome FetchContinued(HttpTransfer& transfer, const QString& url, const QByteArray& sha256,
                           std::unique_ptr<PartFile>& file, HttpTransfer::Ahead ahead = {})
{
    FetchResult result = ahead ? transfer.WaitAhead(std::move(ahead)) : transfer.OpenUrlInto(url, *file);
    QByteArray validator = result.validator;
    bool ranges = result.rangesServed;
    for (int attempt = result.leftForTurn ? -1 : 0; attempt < kContinueAttempts; ++attempt) {
        if (result.ok() || result.cancelled() || file->Failed())
            break;
        if (attempt >= 0 && (sha256.isEmpty() || file->Written() == 0 || !ranges))
            break;
        if (sha256.isEmpty() || !ranges || file->Written() == 0)
            validator.clear();
        if (!validator.isEmpty()) {
            result = transfer.OpenUrlInto(url, *file, file->Written(), validator);
            if (!result.wholeInstead)
                continue;
        }
        const QString target = file->Target();
        const qint64 size = file->ListedSize();
        file.reset();  // its part file goes before the new one takes the name
        if (!(file = CreatePart(target, sha256, size)))
            return SaveOutcome::Failed;
        result = transfer.OpenUrlInto(url, *file);
        validator = result.validator;
        ranges = result.rangesServed;
    }
    if (!result.ok())
        return result.cancelled() ? SaveOutcome::Cancelled : SaveOutcome::Failed;
    return file->Finish() ? SaveOutcome::Saved : SaveOutcome::Failed;
}

// The publisher's patch, fetched (and continued) like a whole file and checked whole against its
// digest before anything is decoded, then applied to the installed copy into `file`. Failed
// leaves the file to be fetched whole, silently.
SaveOutcome Patch(HttpTransfer& transfer, DiskWork& disk, const ListedFile& listed, PartFile& file,
                  std::optional<FetchAhead::Started> early)
{
    std::unique_ptr<PartFile> patch =
        early ? std::move(early->part)
              : CreatePart(file.Target() + QLatin1String(site::kPatchSuffix), listed.patchSha256);
    if (!patch)
        return SaveOutcome::Failed;
    const SaveOutcome fetched = FetchContinued(transfer, FetchedUrl(listed, FileSource::Patch), listed.patchSha256,
                                               patch, early ? std::move(early->fetch) : HttpTransfer::Ahead());
    if (fetched != SaveOutcome::Saved)
        return fetched;
    bool applied = false;
    if (!disk.Run([&](const auto& stop) { applied = ApplyPatch(file.Target(), patch->PartPath(), file, stop); }))
        return SaveOutcome::Cancelled;
    return applied ? SaveOutcome::Saved : SaveOutcome::Failed;
}

}  // namespace

SaveOutcome StageDownload(HttpTransfer& transfer, DiskWork& disk, const ListedFile& listed, GroupCommit& group,
                          FetchAhead* ahead)
{
    if (transfer.StillExecuting())
        return SaveOutcome::Busy;
    std::optional<FetchAhead::Started> early = ahead ? ahead->Take(listed.url) : std::nullopt;
    auto file = std::make_unique<PartFile>(listed.path);
    // A name listed twice has one part file, and the later copy decides: the earlier one takes
    // its place first.
    if (group.Holds(file->Target()))
        group.Commit();
    FileSource source = early ? early->source : FileSource::Whole;
    if (!early) {
        if (ahead)
            ahead->Forget(file->Target());
        // An installed copy that already is the listed file costs nothing: no request, no write.
        // A large one is summed as disk work, so that the window stays responsive.
        const std::optional<FileSource> planned = PlanFile(listed, *file, [&](std::optional<QByteArray>& digest) {
            const auto sum = [&](const std::atomic<bool>& stop) { digest = FileSha256(file->Target(), &stop); };
            return file->TargetSize() <= kSumAtOnce ? (sum(std::atomic<bool>(false)), true) : disk.Run(sum);
        });
        if (!planned)
            return SaveOutcome::Cancelled;
        source = *planned;
        if (source == FileSource::Current)
            return SaveOutcome::Current;
        if (source == FileSource::Refused)
            return SaveOutcome::Failed;
    }
    // A file fetched ahead was named and made then.
    if (early && source == FileSource::Whole)
        file = std::move(early->part);
    else if (!(file = OpenPart(listed, FileSource::Whole, group.Record())))
        return SaveOutcome::Failed;
    SaveOutcome outcome = SaveOutcome::Failed;
    if (source == FileSource::Patch) {
        outcome = Patch(transfer, disk, listed, *file, std::move(early));
        if (outcome == SaveOutcome::Failed) {
            file.reset();
            file = CreatePart(listed.path, listed.sha256, listed.size);
        }
        early.reset();
    }
    if (outcome == SaveOutcome::Failed && file)
        outcome = FetchContinued(transfer, listed.url, listed.sha256, file,
                                 early ? std::move(early->fetch) : HttpTransfer::Ahead());
    // Bytes that are not the listed file's may come from a cache or a mirror caught between two
    // uploads: the file is asked for once more, as every request is, past what a cache holds.
    if (outcome == SaveOutcome::Failed && file && file->NotTheListedFile()) {
        file.reset();  // its part file goes before the new one takes the name
        if (!(file = CreatePart(listed.path, listed.sha256, listed.size)))
            return SaveOutcome::Failed;
        outcome = FetchContinued(transfer, listed.url, listed.sha256, file);
    }
    if (outcome == SaveOutcome::Saved)
        group.Add(std::move(file));
    return outcome;
}

void RemoveLeftoverParts(const QString& folder)
{
    const QDir dir(folder);
    const QFileInfoList entries = dir.entryInfoList(QDir::Files | QDir::Hidden | QDir::System);
    for (const QFileInfo& entry : entries)
        if (!entry.isSymLink() && IsPartName(entry.fileName()))
            QFile::remove(entry.filePath());
}

}  // namespace tarnwick
