#include "download/SaveFile.h"

#include "download/GroupCommit.h"
#include "download/PartFile.h"
#include "download/PartRecord.h"
#include "download/Patch.h"
#include "platform/DiskWork.h"
#include "platform/HttpTransfer.h"
#include "platform/Sha256.h"

#include <QDir>
#include <QFileInfo>

namespace tarnwick {
namespace {

constexpr qint64 kSumAtOnce = 1024 * 1024;

std::unique_ptr<PartFile> CreatePart(const QString& target, const QByteArray& sha256)
{
    auto file = std::make_unique<PartFile>(target);
    return file->Create(sha256) ? std::move(file) : nullptr;
}

// Fetches url into file. A broken transfer of a checked file goes on where it stopped while the
// site serves ranges and the resource is still the one whose start arrived; a changed resource,
// or one without a validator that could tell, starts over. The digest, checked over the whole
// file at the end, vouches for the joins.
SaveOutcome FetchContinued(HttpTransfer& transfer, const QString& url, const QByteArray& sha256,
                           std::unique_ptr<PartFile>& file)
{
    FetchResult result = transfer.OpenUrlInto(url, *file);
    QByteArray validator = result.validator;
    bool ranges = result.rangesServed;
    for (int attempt = 0; attempt < kContinueAttempts; ++attempt) {
        if (result.ok() || result.cancelled() || sha256.isEmpty() || file->Failed() || file->Written() == 0 || !ranges)
            break;
        if (!validator.isEmpty()) {
            result = transfer.OpenUrlInto(url, *file, file->Written(), validator);
            if (!result.wholeInstead)
                continue;
        }
        const QString target = file->Target();
        file.reset();  // its part file goes before the new one takes the name
        if (!(file = CreatePart(target, sha256)))
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
SaveOutcome Patch(HttpTransfer& transfer, DiskWork& disk, const ListedFile& listed, PartFile& file)
{
    const QLatin1String suffix(PartFile::kPatchSuffix);
    std::unique_ptr<PartFile> patch = CreatePart(file.Target() + suffix, listed.patchSha256);
    if (!patch)
        return SaveOutcome::Failed;
    const SaveOutcome fetched = FetchContinued(transfer, listed.url + suffix, listed.patchSha256, patch);
    if (fetched != SaveOutcome::Saved)
        return fetched;
    bool applied = false;
    if (!disk.Run([&](const auto& stop) { applied = ApplyPatch(file.Target(), patch->PartPath(), file, stop); }))
        return SaveOutcome::Cancelled;
    return applied ? SaveOutcome::Saved : SaveOutcome::Failed;
}

}  // namespace

FileSource ChooseSource(const std::optional<QByteArray>& installed, const ListedFile& listed)
{
    if (!installed || listed.sha256.isEmpty())
        return FileSource::Whole;
    if (*installed == listed.sha256)
        return FileSource::Current;
    return !listed.patchFrom.isEmpty() && *installed == listed.patchFrom ? FileSource::Patch : FileSource::Whole;
}

SaveOutcome StageDownload(HttpTransfer& transfer, DiskWork& disk, const ListedFile& listed, GroupCommit& group)
{
    if (transfer.StillExecuting())
        return SaveOutcome::Busy;
    auto file = std::make_unique<PartFile>(listed.path);
    // A name listed twice has one part file, and the later copy decides: the earlier one takes
    // its place first.
    if (group.Holds(file->Target()))
        group.Commit();
    // An installed copy that already is the listed file costs nothing: no request, no write.
    // A small copy is summed at once: a thread and a wait would cost more than the sum.
    std::optional<QByteArray> installed;
    const auto sum = [&](const std::atomic<bool>& stop) { installed = FileSha256(file->Target(), &stop); };
    if (!listed.sha256.isEmpty() && file->TargetIsFile()) {
        if (file->TargetSize() <= kSumAtOnce)
            sum(std::atomic<bool>(false));
        else if (!disk.Run(sum))
            return SaveOutcome::Cancelled;
    }
    const FileSource source = ChooseSource(installed, listed);
    if (source == FileSource::Current)
        return SaveOutcome::Current;
    if (file->TargetIsReadOnly())
        return SaveOutcome::Failed;
    // Named in the record before any part file is made for it, so that a crash leaves nothing the
    // next start cannot find.
    if ((group.Record() && !group.Record()->Note(listed.path)) || !file->Create(listed.sha256))
        return SaveOutcome::Failed;
    SaveOutcome outcome = SaveOutcome::Failed;
    if (source == FileSource::Patch) {
        outcome = Patch(transfer, disk, listed, *file);
        if (outcome == SaveOutcome::Failed) {
            file.reset();
            file = CreatePart(listed.path, listed.sha256);
        }
    }
    if (outcome == SaveOutcome::Failed && file)
        outcome = FetchContinued(transfer, listed.url, listed.sha256, file);
    if (outcome == SaveOutcome::Saved)
        group.Add(std::move(file));
    return outcome;
}

void RemoveLeftoverParts(const QString& folder)
{
    const QDir dir(folder);
    const QFileInfoList entries = dir.entryInfoList(QDir::Files | QDir::Hidden | QDir::System);
    for (const QFileInfo& entry : entries)
        if (!entry.isSymLink() && PartFile::IsPartName(entry.fileName()))
            QFile::remove(entry.filePath());
}

}  // namespace tarnwick
