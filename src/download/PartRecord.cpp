#include "download/PartRecord.h"

#include "download/PartFile.h"

#include <QByteArray>
#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>

namespace tarnwick {
namespace {

// Names end in NUL, which no path holds, so that any folder name reads back as written. A
// record this large is not one of ours, and is only emptied.
constexpr off_t kMaxRecord = 64 * 1024 * 1024;

}  // namespace

void PartRecord::RemoveListed()
{
    struct stat info {};
    if (::fstat(m_fd, &info) != 0)
        return;
    if (info.st_size > 0 && info.st_size <= kMaxRecord) {
        QByteArray bytes(qsizetype(info.st_size), Qt::Uninitialized);
        if (::pread(m_fd, bytes.data(), size_t(bytes.size()), 0) == info.st_size) {
            for (const QByteArray& path : bytes.split('\0')) {
                // Whatever the file says, only a part file of the updater's own naming goes.
                if (PartFile::IsPartName(QFileInfo(QFile::decodeName(path)).fileName()))
                    ::unlink(path.constData());
            }
        }
    }
    if (::ftruncate(m_fd, 0) == 0)
        m_end = 0;
}

bool PartRecord::Note(const QString& partPath)
{
    const QByteArray entry = QFile::encodeName(partPath) + '\0';
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
    return true;
}

void PartRecord::Flush() const { ::fdatasync(m_fd); }

}  // namespace tarnwick
