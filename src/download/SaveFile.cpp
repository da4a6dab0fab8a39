#include "download/SaveFile.h"

#include "download/GroupCommit.h"
#include "download/PartFile.h"
#include "platform/HttpTransfer.h"

#include <QDir>
#include <QFileInfo>

namespace tarnwick {

SaveOutcome StageDownload(HttpTransfer& transfer, const QString& url, const QString& path,
                          const QByteArray& expectedSha256, GroupCommit& group)
{
    if (transfer.StillExecuting())
        return SaveOutcome::Busy;
    auto file = std::make_unique<PartFile>(path, group.Record());
    if (file->TargetIsReadOnly())
        return SaveOutcome::Failed;
    // A name listed twice has one part file: the earlier copy takes its place first.
    if (group.Holds(file->Target()))
        group.Commit();
    if (!file->Create(expectedSha256))
        return SaveOutcome::Failed;
    const FetchResult result = transfer.OpenUrlInto(url, *file);
    if (!result.ok())
        return result.cancelled() ? SaveOutcome::Cancelled : SaveOutcome::Failed;
    if (!file->Finish() || file->Written() != result.received)
        return SaveOutcome::Failed;
    group.Add(std::move(file));
    return SaveOutcome::Saved;
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
