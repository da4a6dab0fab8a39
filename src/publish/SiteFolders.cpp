#include "publish/SiteFolders.h"

#include "platform/Sha256.h"
#include "publish/PublishRules.h"
#include "publish/SiteFile.h"
#include "update/SiteFormat.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>

using namespace Qt::Literals::StringLiterals;

namespace tarnwick {
namespace {

struct FolderSwap {
    QString built;   // the new folder; after the swap it holds the old one, if there was one
    QString target;  // where the new folder goes
};

// A folder that did not exist is renamed into place; one that did is exchanged with the new one in
// a single step, so that the site never lacks it.
bool Put(const FolderSwap& swap, const RenameFolder& rename, bool& exchanged)
{
    exchanged = false;
    if (rename(swap.built, swap.target, RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EEXIST)
        return false;
    exchanged = true;
    return rename(swap.built, swap.target, RENAME_EXCHANGE) == 0;
}

// A folder is told from another by its manifest, which lists the digest of every file in it.
QByteArray ManifestSum(const QString& folder)
{
    return FileSha256(folder + u'/' + QLatin1String(site::kManifest)).value_or(QByteArray()).toHex();
}

QString Journal(const QString& work) { return work + u"/swaps"_s; }
FolderSwap Swap(const QString& site, const QString& work, const QString& version)
{
    return {BuiltFolder(work, version), site + u'/' + version};
}

}  // namespace

SiteLock::SiteLock(const QString& site)
    : m_fd(::open(QFile::encodeName(site).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC))
{
    m_held = m_fd >= 0 && ::flock(m_fd, LOCK_EX | LOCK_NB) == 0;
}

SiteLock::~SiteLock()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

QString WorkFolderFor(const QString& site)
{
    const QFileInfo info(QFileInfo(site).canonicalFilePath());
    return info.path() + u"/."_s + info.fileName() + u".tarnwick-publish"_s;
}

QString BuiltFolder(const QString& work, const QString& version) { return work + u"/new/"_s + version; }

int SystemRenameFolder(const QString& from, const QString& to, unsigned flags)
{
    return ::renameat2(AT_FDCWD, QFile::encodeName(from).constData(), AT_FDCWD, QFile::encodeName(to).constData(),
                       flags);
}

std::optional<QString> PutInPlace(const QString& site, const QString& work, const QStringList& versions,
                                  const RenameFolder& rename)
{
    // Whole before the first swap (written aside, then renamed), so that the next run never
    // finishes part of a release.
    QByteArray journal;
    for (const QString& version : versions)
        journal += ManifestSum(Swap(site, work, version).built) + ' ' + version.toUtf8() + '\n';
    QFile written(Journal(work) + u".part"_s);
    if (!written.open(QIODevice::WriteOnly) || written.write(journal) != journal.size() || !written.flush() ||
        !written.rename(Journal(work)))
        return written.fileName() + u": "_s + written.errorString();
    QList<bool> exchanged;
    for (const QString& version : versions) {
        bool replaced = false;
        if (Put(Swap(site, work, version), rename, replaced)) {
            exchanged.append(replaced);
            continue;
        }
        const QString error = SystemError(Swap(site, work, version).target);
        bool undone = true;
        while (!exchanged.isEmpty()) {
            const FolderSwap done = Swap(site, work, versions[exchanged.size() - 1]);
            undone = (exchanged.takeLast() ? rename(done.built, done.target, RENAME_EXCHANGE)
                                           : rename(done.target, done.built, RENAME_NOREPLACE)) == 0 &&
                     undone;
        }
        // A swap that could not be undone is finished by the next run, from the journal.
        if (undone)
            QFile::remove(Journal(work));
        return error;
    }
    QFile::remove(Journal(work));
    return std::nullopt;
}

bool SwapsUnfinished(const QString& work) { return QFileInfo::exists(Journal(work)); }

std::optional<QString> FinishInterruptedRun(const QString& site, const QString& work, const RenameFolder& rename)
{
    QFile journal(Journal(work));
    if (journal.open(QIODevice::ReadOnly)) {
        for (const QByteArray& line : journal.readAll().split('\n')) {
            const QString version = QString::fromUtf8(line.mid(65));
            const FolderSwap swap = Swap(site, work, version);
            bool exchanged = false;
            if (line.isEmpty() || ManifestSum(swap.target) == line.left(64))
                continue;
            if (ManifestSum(swap.built) != line.left(64) || !Put(swap, rename, exchanged))
                return u"an interrupted run's folder %1 cannot be put in place from %2"_s.arg(version, work);
        }
        journal.close();
    }
    // Earlier publishers built inside the site itself, where an upload takes what a killed one left.
    QFileInfoList left = QDir(site).entryInfoList({u".tarnwick-publish-??????"_s}, QDir::Dirs | QDir::Hidden);
    left.append(QFileInfo(work));
    for (const QFileInfo& folder : left) {
        if (folder.exists() && !QDir(folder.filePath()).removeRecursively())
            return u"what an interrupted run left in %1 cannot be removed"_s.arg(folder.filePath());
    }
    return std::nullopt;
}

WorkFolder::~WorkFolder()
{
    if (!SwapsUnfinished(path))
        QDir(path).removeRecursively();
}

bool SameFileSystem(const QString& a, const QString& b)
{
    struct stat first {
    }, second{};
    return ::stat(QFile::encodeName(a).constData(), &first) == 0 &&
           ::stat(QFile::encodeName(b).constData(), &second) == 0 && first.st_dev == second.st_dev;
}

SiteRun::SiteRun(const QString& site) : m_lock(site), m_work(WorkFolderFor(site))
{
    if (!m_lock.Held())
        m_error = Shown(site) + u" is not a folder, or another tarnwick-publish is working on it"_s;
    else if (const std::optional<QString> unfinished = FinishInterruptedRun(site, m_work))
        m_error = *unfinished;
    else
        m_removed.emplace(WorkFolder{m_work});
}

}  // namespace tarnwick
