#include "platform/FolderLock.h"

#include <QDir>
#include <QFile>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>

namespace tarnwick {

FolderLock::~FolderLock()
{
    if (m_fd < 0)
        return;
    // Removed before it is let go: whoever opens the name afterwards makes a new file, and a
    // waiter that took the old one sees that its file has lost the name and tries again.
    ::unlink(QFile::encodeName(m_path).constData());
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
        struct stat open {
        }, named{};
        const bool stillNamed = ::fstat(fd, &open) == 0 && ::lstat(path.constData(), &named) == 0 &&
                                open.st_dev == named.st_dev && open.st_ino == named.st_ino;
        if (stillNamed && !readOnly) {
            m_fd = fd;
            return m_state = State::Held;
        }
        ::close(fd);
        if (stillNamed)  // nobody holds it, but this user cannot write it: it guards nothing
            return m_state = State::Failed;
    }
    return m_state = State::Failed;
}

}  // namespace tarnwick
