#include "publish/Publish.h"

#include "platform/Sha256.h"
#include "publish/EveryCore.h"
#include "publish/MakePatch.h"
#include "publish/PublishRules.h"
#include "publish/ReleaseFiles.h"
#include "publish/Resign.h"
#include "publish/Signing.h"
#include "publish/SiteFile.h"
#include "publish/SiteFolders.h"
#include "update/ManifestWriter.h"
#include "update/SiteFormat.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <sys/stat.h>
#include <unistd.h>
#include <cstdio>
#include <memory>
#include <mutex>
#include <vector>

using namespace Qt::Literals::StringLiterals;

namespace tarnwick {
namespace {

// Files from this size on are patched one at a time: a run then needs the memory of its largest
// pair of files, and each other core a bounded amount for the smaller files it patches meanwhile.
constexpr qint64 kLargeFile = qint64(64) << 20;

class Publication {
public:
    Publication(const PublishOptions& options, const QList<ReleaseFile>& files, const QString& work)
        : m_options(options),
          m_files(files),
          m_work(work),
          m_digests(size_t(files.size())),
          m_patches(size_t(options.shipped.size()), std::vector<PatchOffer>(size_t(files.size()))),
          m_spared(size_t(options.shipped.size()))
    {
        for (const ReleaseFile& file : files)
            m_listed.insert(file.name.toCaseFolded());
    }

    // The release's files, copied into the first earlier version's folder and linked into the others.
    bool CopyFiles(Progress& progress)
    {
        if (m_options.shipped.isEmpty())
            return true;
        return RunOnEveryCore(m_files.size(), [&](qint64 i) {
            const ReleaseFile& file = m_files[i];
            const QString copy = SiteFile(0, file.name);
            const CopiedFile copied = CopyAndSum(m_options.releaseFolder + u'/' + file.relativePath, copy);
            if (!copied.sha256)
                return Fail(copied.error);
            m_digests[size_t(i)] = *copied.sha256;
            for (qsizetype v = 1; v < m_options.shipped.size(); ++v) {
                if (!LinkOrCopy(copy, SiteFile(v, file.name)))
                    return Fail(SystemError(SiteFile(v, file.name)));
            }
            progress.Advance();
            return true;
        });
    }

    // A patch for each file that changed since the earlier version shipped it, where one pays.
    bool MakePatches(Progress& progress)
    {
        const qint64 count = m_files.size();
        return RunOnEveryCore(count * m_options.shipped.size(), [&](qint64 task) {
            const qsizetype v = qsizetype(task / count), i = qsizetype(task % count);
            if (m_options.shipped[v].folder.isEmpty())
                return true;
            const bool patched = PatchOne(v, i);
            progress.Advance();
            return patched;
        });
    }

    qint64 PatchTasks() const
    {
        return m_files.size() * std::count_if(m_options.shipped.begin(), m_options.shipped.end(),
                                              [](const ShippedVersion& s) { return !s.folder.isEmpty(); });
    }

    // Each folder's manifest, read back with the updater's own reader before anything is signed.
    bool WriteManifests()
    {
        for (qsizetype v = 0; v <= m_options.shipped.size(); ++v) {
            const ManifestContent content = Content(v);
            const QString path = Folder(v) + u'/' + QLatin1String(site::kManifest);
            QFile file(path);
            if (!file.open(QIODevice::WriteOnly) || file.write(WriteManifest(content)) < 0 || !file.flush())
                return Fail(path + u": "_s + file.errorString());
            file.close();
            QFile written(path);
            if (!written.open(QIODevice::ReadOnly))
                return Fail(path + u": "_s + written.errorString());
            if (const std::optional<QString> mismatch = ReadBackMismatch(written.readAll(), content))
                return Fail(u"the updater would read %1 of %2 otherwise than meant"_s.arg(*mismatch, path));
            m_manifests.append(path);
        }
        return true;
    }

    QStringList Versions() const
    {
        QStringList versions;
        for (qsizetype v = 0; v <= m_options.shipped.size(); ++v)
            versions.append(FolderName(v));
        return versions;
    }

    const QStringList& Manifests() const { return m_manifests; }
    const QString& Error() const { return m_error; }

    QString Summary() const
    {
        QStringList versions;
        for (qsizetype v = 0; v < m_options.shipped.size(); ++v) {
            const qsizetype patches = std::count_if(m_patches[size_t(v)].begin(), m_patches[size_t(v)].end(),
                                                    [](const PatchOffer& p) { return !p.fromSha256.isEmpty(); });
            versions.append(u"%1 (%2 patches, %3 bytes less to fetch than the files whole)"_s.arg(FolderName(v))
                                .arg(patches)
                                .arg(m_spared[size_t(v)].load()));
        }
        return u"%1 files for %2; %3 is up to date; signed"_s.arg(m_files.size())
            .arg(versions.isEmpty() ? u"no earlier version"_s : versions.join(u", "_s), FolderName(-1));
    }

private:
    QString FolderName(qsizetype v) const
    {
        return v >= 0 && v < m_options.shipped.size() ? m_options.shipped[v].version
                                                      : m_options.release.section(u' ', 0, 0);
    }
    QString Folder(qsizetype v) const { return BuiltFolder(m_work, FolderName(v)); }
    QString SiteFile(qsizetype v, const QString& name) const { return Folder(v) + u'/' + name; }

    bool Fail(const QString& error)
    {
        const std::lock_guard lock(m_failing);
        if (m_error.isEmpty())
            m_error = error;
        return false;
    }

    bool PatchOne(qsizetype v, qsizetype i)
    {
        const ReleaseFile& file = m_files[i];
        const QFileInfo shipped(m_options.shipped[v].folder + u'/' + file.relativePath);
        const QString copy = SiteFile(0, file.name);
        const qint64 size = QFileInfo(copy).size();
        // A listed file already has the patch's name: it stays that file.
        if (!shipped.isFile() || m_listed.contains((file.name + QLatin1String(site::kPatchSuffix)).toCaseFolded()) ||
            size > kLargestPatchedFile || shipped.size() > kLargestPatchedFile)
            return true;
        const std::optional<QByteArray> shippedSum = FileSha256(shipped.filePath());
        if (!shippedSum)
            return Fail(shipped.filePath() + u" cannot be read"_s);
        if (*shippedSum == m_digests[size_t(i)])
            return true;
        std::unique_lock large(m_largeFile, std::defer_lock);
        if (std::max(size, shipped.size()) >= kLargeFile)
            large.lock();
        const MadePatch patch = MakePatch(shipped.filePath(), copy,
                                          SiteFile(v, file.name + QLatin1String(site::kPatchSuffix)), size * 3 / 4);
        if (!patch.error.isEmpty())
            return Fail(patch.error);
        if (patch.made) {
            m_patches[size_t(v)][size_t(i)] = {*shippedSum, patch.sha256};
            m_spared[size_t(v)] += size - patch.size;
        }
        return true;
    }

    ManifestContent Content(qsizetype v) const
    {
        ManifestContent content{m_options.newUpdater, m_options.release, {}, {}, {}, {}};
        if (v == m_options.shipped.size())
            return content;  // the release's own folder: up to date, nothing to fetch
        for (const ReleaseFile& file : m_files)
            content.names.append(file.name);
        content.digests = QList<QByteArray>(m_digests.begin(), m_digests.end());
        content.patches = QList<PatchOffer>(m_patches[size_t(v)].begin(), m_patches[size_t(v)].end());
        for (const ReleaseFile& file : m_files)
            content.sizes.append(QFileInfo(SiteFile(0, file.name)).size());
        return content;
    }

    const PublishOptions& m_options;
    const QList<ReleaseFile>& m_files;
    const QString m_work;
    QSet<QString> m_listed;
    std::vector<QByteArray> m_digests;
    std::vector<std::vector<PatchOffer>> m_patches;
    std::vector<std::atomic<qint64>> m_spared;
    QStringList m_manifests;
    std::mutex m_failing;
    std::mutex m_largeFile;
    QString m_error;
};

}  // namespace

int Publish(const PublishOptions& options)
{
    const ReleaseListing listing = ListReleaseFiles(options.releaseFolder);
    if (!listing.error.isEmpty())
        return Refuse(listing.error);
    QStringList names;
    for (const ReleaseFile& file : listing.files)
        names.append(file.name);
    if (names.isEmpty())
        return Refuse(Shown(options.releaseFolder) + u" holds no files"_s);
    if (const std::optional<QString> refused = RefusedName(names))
        return Refuse(*refused);
    const SigningPlan signing = PlanSigning(options, ::isatty(STDIN_FILENO));
    if (!signing.error.isEmpty())
        return Refuse(signing.error);
    QDir().mkpath(options.site);  // a new site begins with its first release
    const SiteRun held(options.site);
    if (!held.Error().isEmpty())
        return Refuse(held.Error());
    const QString& work = held.Work();
    Publication publication(options, listing.files, work);
    QStringList folders{work, work + u"/new"_s};
    for (const QString& version : publication.Versions())
        folders.append(BuiltFolder(work, version));
    for (const QString& path : folders) {
        if (!QDir().mkdir(path))
            return Refuse(u"cannot make the work folder "_s + Shown(path));
    }
    if (!SameFileSystem(work, options.site))
        return Refuse(Shown(work) + u" is on another file system than "_s + Shown(options.site));
    // Updaters that never make a folder cannot install such a release; the publisher decides.
    for (const ShippedVersion& shipped : options.shipped) {
        for (const QString& added :
             shipped.folder.isEmpty() ? QStringList() : AddedFolders(listing.files, shipped.folder))
            std::fprintf(stderr,
                         "tarnwick-publish: warning: the release adds the folder %s, which %s does not have: "
                         "an updater that does not make folders cannot install it\n",
                         qPrintable(Shown(added)), qPrintable(shipped.version));
    }
    Progress progress(options.shipped.isEmpty() ? 0 : names.size() + publication.PatchTasks(), options.quiet);
    const bool built = publication.CopyFiles(progress) && publication.MakePatches(progress);
    progress.Finish();
    if (!built || !publication.WriteManifests())
        return Refuse(publication.Error());
    if (const std::optional<QString> unsigned_ = SignManifests(publication.Manifests(), signing, options))
        return Refuse(*unsigned_);
    if (const std::optional<QString> unswapped = PutInPlace(options.site, work, publication.Versions()))
        return Refuse(*unswapped, SwapsUnfinished(work) ? "a folder put in place could not be taken back: run again, "
                                                          "which finishes the swaps"
                                                        : "the site is unchanged");
    if (!options.quiet)
        std::printf("tarnwick-publish: %s\n", qPrintable(publication.Summary()));
    return 0;
}

}  // namespace tarnwick
