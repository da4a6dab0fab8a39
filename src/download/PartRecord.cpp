#include "download/PartRecord.h"

#include "download/PartName.h"
#include "platform/FolderLock.h"
#include "update/SiteFormat.h"

#include <QByteArray>
#include <QDir>
#include <QFile>

#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>

namespace tarnwick {
namespace {

void RemovePart(const QString& path)
{
    const QByteArray name = QFile::encodeName(path);
    struct stat info {};
    if (::lstat(name.constData(), &info) == 0 && S_ISREG(info.st_mode))
        ::unlink(name.constData());
}

}  // namespace

PartRecord::PartRecord(int fd, const QString& folder) : m_fd(fd), m_inside(QDir::cleanPath(folder) + u'/') {}

void PartRecord::RemoveListed()
{
    struct stat info {};
    if (m_fd < 0 || ::fstat(m_fd, &info) != 0)
        return;
    QByteArray bytes(qsizetype(info.st_size <= FolderLock::kMaxNotes ? info.st_size : 0), Qt::Uninitialized);
    if (::pread(m_fd, bytes.data(), size_t(bytes.size()), 0) == bytes.size()) {
        // Names end in NUL, which no path holds, so that any name reads back as written.
        for (const QByteArray& name : bytes.split('\0')) {
            const QString relative = QFile::decodeName(name);
            const QString path = QDir::cleanPath(m_inside + relative);
            if (relative.isEmpty() || relative.startsWith(u'/') || !path.startsWith(m_inside))
                continue;
            // The part files a run makes for it now: beside the file the name stands for, which a
            // link there may place elsewhere, and the patch's beside that.
            const QString target = Resolve(path);
            RemovePart(PartPathOf(target));
            RemovePart(PartPathOf(target + QLatin1String(site::kPatchSuffix)));
        }
    }
    if (::ftruncate(m_fd, 0) == 0)
        m_end = 0;
    m_noted.clear();
}

bool PartRecord::Note(const QString& path)
{
    if (m_fd < 0 || !path.startsWith(m_inside) || m_noted.contains(path))
        return true;
    const QByteArray entry = QFile::encodeName(path.mid(m_inside.size())) + '\0';
    for (qsizetype done = 0; done < entry.size();) {
        const ssize_t wrote = ::pwrite(m_fd, entry.constData() + done, size_t(entry.size() - done), m_end + done);
        if (wrote < 0 && errno == EINTR)
            continue;
        if (wrote <= 0) {
            errno = wrote == 0 ? ENOSPC : errno;
            return false;
        }
        done += wrote;
    }
    m_end += off_t(entry.size());
    m_noted.insert(path);
    return true;
}

void PartRecord::Flush() const
{
    if (m_fd >= 0)
        ::fdatasync(m_fd);
}

}  // namespace tarnwick
