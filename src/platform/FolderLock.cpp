#include "platform/FolderLock.h"

#include "platform/FileIdentity.h"

#include <QDir>
#include <QFile>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstdlib>

namespace tarnwick {
namespace {

// Copies what `from` holds into `to`; false when it could not be copied whole.
bool CopyNotes(int from, int to)
{
    struct stat info {};
    if (::fstat(from, &info) != 0)
        return false;
    if (info.st_size > FolderLock::kMaxNotes)
        return true;  // not notes of ours: nothing of it is kept
    QByteArray notes(qsizetype(info.st_size), Qt::Uninitialized);
    return ::pread(from, notes.data(), size_t(notes.size()), 0) == info.st_size &&
           ::pwrite(to, notes.constData(), size_t(notes.size()), 0) == info.st_size;
}

}  // namespace

FolderLock::~FolderLock()
{
    if (m_fd < 0)
        return;
    // Removed before it is let go: whoever opens the name afterwards makes a new file, and a
    // waiter that took the old one sees that its file has lost the name and tries again. A name
    // that lost this file meanwhile may hold another updater's lock, which is not this run's to
    // remove.
    const QByteArray path = QFile::encodeName(m_path);
    if (NameHolds(path, m_fd))
        ::unlink(path.constData());
    ::close(m_fd);
}

FolderLock::State FolderLock::TryTake(const QString& folder)
{
    if (m_state == State::Held)
        return m_state;
    m_path = QDir(folder).filePath(QString::fromLatin1(kFileName));
    const QByteArray path = QFile::encodeName(m_path);
    // A few rounds at most: each one lost means another updater removed the file just now.
    for (int round = 0; round < 8; ++round) {
        // Never through a link: the file is written, and a planted link would send that elsewhere.
        int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644);
        const bool readOnly = fd < 0 && errno == EACCES;
        // Another user's lock file can still be asked whether it is held.
        if (readOnly)
            fd = ::open(path.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0)
            return m_state = State::Failed;
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            const bool held = errno == EWOULDBLOCK;
            ::close(fd);
            return m_state = held ? State::HeldByAnother : State::Failed;
        }
        const bool stillNamed = NameHolds(path, fd);
        if (stillNamed && !readOnly) {
            m_fd = fd;
            return m_state = State::Held;
        }
        // Nobody holds it, but this user cannot write it: a run of another user (through sudo,
        // say) ended without removing it. Still holding it, so that no one else takes it
        // meanwhile, it is replaced by a file of this run's own.
        if (stillNamed)
            m_fd = ReplaceStale(fd);
        ::close(fd);
        if (stillNamed)
            return m_state = m_fd >= 0 ? State::Held : State::Failed;
    }
    return m_state = State::Failed;
}

int FolderLock::ReplaceStale(int stale) const
{
    const QByteArray path = QFile::encodeName(m_path);
    QByteArray name = path + ".XXXXXX";
    const int fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0)
        return -1;
    // Its notes (the part files that run made) come along, so that the next start still finds
    // what they name; readable by everyone, as a lock file of this updater is.
    const bool ready = ::fchmod(fd, 0644) == 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0 && CopyNotes(stale, fd) &&
                       ::rename(name.constData(), path.constData()) == 0;
    if (ready)
        return fd;
    ::unlink(name.constData());
    ::close(fd);
    return -1;
}

}  // namespace tarnwick
