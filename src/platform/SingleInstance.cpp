#include "platform/SingleInstance.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#include <cerrno>
#endif

namespace tarnwick {

SingleInstanceLock::~SingleInstanceLock()
{
#ifdef _WIN32
    if (m_handle)
        CloseHandle(m_handle);
#else
    if (m_fd >= 0)
        ::close(m_fd);
#endif
}

QString SingleInstanceLock::DefaultFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
}

SingleInstanceLock::State SingleInstanceLock::TryTake(const QString& folder, const QString& name)
{
    if (m_state == State::Held)
        return m_state;
#ifdef _WIN32
    Q_UNUSED(folder);
    m_handle = CreateMutexA(nullptr, FALSE, name.toLocal8Bit().constData());
    const DWORD error = GetLastError();
    if (!m_handle)
        m_state = State::Failed;
    else
        m_state = error == ERROR_ALREADY_EXISTS ? State::HeldByAnother : State::Held;
#else
    // flock, not a pid file: the kernel drops it with the process, so a killed updater never
    // blocks the next start, and there is no stale-lock guessing.
    const QByteArray path = QFile::encodeName(QDir(folder).filePath(name));
    const int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        m_state = State::Failed;
        return m_state;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
        m_fd = fd;
        m_state = State::Held;
    } else {
        m_state = errno == EWOULDBLOCK ? State::HeldByAnother : State::Failed;
        ::close(fd);
    }
#endif
    return m_state;
}

}  // namespace tarnwick
