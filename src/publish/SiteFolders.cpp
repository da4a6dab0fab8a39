#include "publish/SiteFolders.h"

#include "publish/SiteFile.h"

#include <QFile>

#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <unistd.h>
#include <cerrno>

namespace tarnwick {
namespace {

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

int SystemRenameFolder(const QString& from, const QString& to, unsigned flags)
{
    return ::renameat2(AT_FDCWD, QFile::encodeName(from).constData(), AT_FDCWD, QFile::encodeName(to).constData(),
                       flags);
}

std::optional<QString> SwapIntoPlace(const QList<FolderSwap>& swaps, const RenameFolder& rename)
{
    QList<bool> exchanged;
    for (const FolderSwap& swap : swaps) {
        bool replaced = false;
        if (Put(swap, rename, replaced)) {
            exchanged.append(replaced);
            continue;
        }
        const QString error = SystemError(swap.target);
        while (!exchanged.isEmpty()) {
            const FolderSwap& done = swaps[exchanged.size() - 1];
            if (exchanged.takeLast())
                rename(done.built, done.target, RENAME_EXCHANGE);
            else
                rename(done.target, done.built, RENAME_NOREPLACE);
        }
        return error;
    }
    return std::nullopt;
}

}  // namespace tarnwick
