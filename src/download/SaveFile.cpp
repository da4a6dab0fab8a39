#include "download/SaveFile.h"

#include "download/GroupCommit.h"
#include "download/PartFile.h"
#include "download/Patch.h"
#include "platform/DiskWork.h"
#include "platform/HttpTransfer.h"
#include "platform/Sha256.h"

#include <QDir>
#include <QFileInfo>

namespace tarnwick {
namespace {

constexpr char kPatchSuffix[] = ".zst-patch";
constexpr qint64 kSumAtOnce = 1024 * 1024;

std::unique_ptr<PartFile> CreatePart(const ListedFile& listed, GroupCommit& group)
{
    auto file = std::make_unique<PartFile>(listed.path, group.Record());
    return file->Create(listed.sha256) ? std::move(file) : nullptr;
}

// The publisher's patch, checked whole against its digest before anything is decoded, applied
// to the installed copy into `file`. Failed leaves the file to be fetched whole, silently.
SaveOutcome Patch(HttpTransfer& transfer, DiskWork& disk, const ListedFile& listed, PartFile& file, GroupCommit& group)
{
    PartFile patch(file.Target() + QLatin1String(kPatchSuffix), group.Record());
    if (!patch.Create(listed.patchSha256))
        return SaveOutcome::Failed;
    const FetchResult fetched = transfer.OpenUrlInto(listed.url + QLatin1String(kPatchSuffix), patch);
    if (fetched.cancelled())
        return SaveOutcome::Cancelled;
    if (!fetched.ok() || !patch.Finish())
        return SaveOutcome::Failed;
    bool applied = false;
    if (!disk.Run([&](const auto& stop) { applied = ApplyPatch(file.Target(), patch.PartPath(), file, stop); }))
        return SaveOutcome::Cancelled;
    return applied ? SaveOutcome::Saved : SaveOutcome::Failed;
}

// The whole file. A broken transfer of a checked file goes on where it stopped while the site
// serves ranges and the resource is still the one whose start arrived; a changed resource
// starts over. The digest, checked over the whole file at the end, vouches for the joins.
SaveOutcome FetchWhole(HttpTransfer& transfer, const ListedFile& listed, std::unique_ptr<PartFile>& file,
                       GroupCommit& group)
{
    FetchResult result = transfer.OpenUrlInto(listed.url, *file);
    QByteArray validator = result.validator;
    bool ranges = result.rangesServed;
    for (int attempt = 0; attempt < kContinueAttempts; ++attempt) {
        if (result.ok() || result.cancelled() || listed.sha256.isEmpty() || file->Failed() || file->Written() == 0 ||
            !ranges || validator.isEmpty())
            break;
        result = transfer.OpenUrlInto(listed.url, *file, file->Written(), validator);
        if (!result.wholeInstead)
            continue;
        file.reset();  // its part file goes before the new one takes the name
        if (!(file = CreatePart(listed, group)))
            return SaveOutcome::Failed;
        result = transfer.OpenUrlInto(listed.url, *file);
        validator = result.validator;
        ranges = result.rangesServed;
    }
    if (!result.ok())
        return result.cancelled() ? SaveOutcome::Cancelled : SaveOutcome::Failed;
    return file->Finish() ? SaveOutcome::Saved : SaveOutcome::Failed;
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
    auto file = std::make_unique<PartFile>(listed.path, group.Record());
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
    if (!file->Create(listed.sha256))
        return SaveOutcome::Failed;
    SaveOutcome outcome = SaveOutcome::Failed;
    if (source == FileSource::Patch) {
        outcome = Patch(transfer, disk, listed, *file, group);
        if (outcome == SaveOutcome::Failed) {
            file.reset();
            file = CreatePart(listed, group);
        }
    }
    if (outcome == SaveOutcome::Failed && file)
        outcome = FetchWhole(transfer, listed, file, group);
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
