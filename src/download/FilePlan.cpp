#include "download/FilePlan.h"

#include "download/LocalName.h"
#include "download/PartFile.h"
#include "download/PartName.h"
#include "download/PartRecord.h"
#include "update/SiteFormat.h"

namespace tarnwick {

std::unique_ptr<PartFile> CreatePart(const QString& target, const QByteArray& sha256, qint64 size)
{
    auto file = std::make_unique<PartFile>(target);
    return file->Create(sha256, size) ? std::move(file) : nullptr;
}

std::optional<FileSource> PlanFile(const ListedFile& listed, const PartFile& file, const InstalledSum& sum)
{
    if (!IsSafeLocalName(LocalFileName(listed.url)))
        return FileSource::Refused;
    std::optional<QByteArray> installed;
    if (!listed.sha256.isEmpty() && file.TargetIsFile() && !sum(installed))
        return std::nullopt;
    const FileSource source = ChooseSource(installed, listed);
    return source != FileSource::Current && file.TargetIsReadOnly() ? FileSource::Refused : source;
}

std::unique_ptr<PartFile> OpenPart(const ListedFile& listed, FileSource fetched, PartRecord* record)
{
    // Named in the record before any part file is made for it, so that a crash leaves nothing the
    // next start cannot find; its folders before its part file, which lies in them.
    if ((record && !record->Note(listed.path)) ||
        (!listed.folder.isEmpty() && !MakeFoldersFor(listed.folder, LocalFileName(listed.url))))
        return nullptr;
    if (fetched != FileSource::Patch)
        return CreatePart(listed.path, listed.sha256, listed.size);
    return CreatePart(Resolve(listed.path) + QLatin1String(site::kPatchSuffix), listed.patchSha256);
}

QString FetchedUrl(const ListedFile& listed, FileSource fetched)
{
    return fetched == FileSource::Patch ? listed.url + QLatin1String(site::kPatchSuffix) : listed.url;
}

FileSource ChooseSource(const std::optional<QByteArray>& installed, const ListedFile& listed)
{
    if (!installed || listed.sha256.isEmpty())
        return FileSource::Whole;
    if (*installed == listed.sha256)
        return FileSource::Current;
    return !listed.patchFrom.isEmpty() && *installed == listed.patchFrom ? FileSource::Patch : FileSource::Whole;
}

}  // namespace tarnwick
