#include "download/SaveFile.h"

#include "platform/HttpTransfer.h"

#include <QFileInfo>
#include <QSaveFile>

namespace tarnwick {
namespace {

// The product may be running and hold the file, or the file may be marked read-only: such a
// file is not replaced. The permission bits are asked directly because a privileged user may
// write anyway, and a read-only mark must hold for everyone.
bool IsReadOnlyFile(const QString& path)
{
    const QFileInfo info(path);
    return info.exists() && info.isFile() && !(info.permissions() & QFileDevice::WriteOwner);
}

}  // namespace

SaveOutcome SaveDownload(HttpTransfer& transfer, const QString& url, const QString& path)
{
    if (transfer.StillExecuting())
        return SaveOutcome::Busy;
    if (IsReadOnlyFile(path))
        return SaveOutcome::Failed;

    // A broken transfer or a full disk leaves the old file whole.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return SaveOutcome::Failed;

    const FetchResult result = transfer.OpenUrlInto(url, file);
    if (!result.ok()) {
        file.cancelWriting();
        return result.cancelled() ? SaveOutcome::Cancelled : SaveOutcome::Failed;
    }
    return file.commit() ? SaveOutcome::Saved : SaveOutcome::Failed;
}

}  // namespace tarnwick
