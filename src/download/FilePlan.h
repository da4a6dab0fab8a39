// The plan for each listed file, the one decision whether it is fetched ahead of its turn or in
// it: skipped (its installed copy already is the listed file), patched, fetched whole, or refused;
// and the part file for what is fetched, made only once the file is named in the record and the
// folders its name needs are there.
#pragma once

#include <QByteArray>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

namespace tarnwick {

class PartFile;
class PartRecord;

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

// Where a listed file comes from: nowhere (the installed copy, with the digest `installed`, is
// already the listed file), the publisher's patch to that copy, or the site whole. Only a
// listed digest lets the updater trust an installed copy or a patch. Refused: it must not be
// written at all.
enum class FileSource { Current, Patch, Whole, Refused };
FileSource ChooseSource(const std::optional<QByteArray>& installed, const ListedFile& listed);

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

// An installed copy up to this size is summed at once: a thread and a wait would cost more.
inline constexpr qint64 kSumAtOnce = 1024 * 1024;

// A new part file for target, to be checked against sha256 and size; nullptr when it cannot be made.
std::unique_ptr<PartFile> CreatePart(const QString& target, const QByteArray& sha256, qint64 size = -1);

}  // namespace tarnwick
