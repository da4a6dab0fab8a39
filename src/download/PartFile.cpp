#include "download/PartFile.h"

#include "download/PartName.h"
#include "download/PartWriter.h"
#include "platform/FileIdentity.h"
#include "platform/Sha256.h"

#include <QFile>

#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>

using namespace Qt::Literals::StringLiterals;

namespace tarnwick {

PartFile::PartFile(const QString& target) : m_target(Resolve(target)), m_partPath(PartPathOf(m_target))
{
    // One look at the target tells all the save step asks of it.
    struct stat info {};
    if (::stat(QFile::encodeName(m_target).constData(), &info) == 0) {
        m_targetMode = int(info.st_mode);
        m_targetSize = qint64(info.st_size);
    }
}

PartFile::~PartFile()
{
    m_writer.reset();
    Discard();
}

bool PartFile::TargetIsReadOnly() const
{
    return m_targetMode >= 0 && S_ISREG(m_targetMode) && !(m_targetMode & S_IWUSR);
}

bool PartFile::TargetIsFile() const { return m_targetMode >= 0 && S_ISREG(m_targetMode); }

bool PartFile::Create(const QByteArray& expectedSha256, qint64 listedSize)
{
    m_expectedSha256 = expectedSha256;
    m_listedSize = listedSize;
    if (!expectedSha256.isEmpty())
        m_hash = std::make_unique<Sha256>();
    // A folder of that name can never be replaced by a file; nothing is fetched for it.
    if (m_targetMode >= 0 && S_ISDIR(m_targetMode))
        return Fail(EISDIR);
    // A file already under the part name is a leftover (another user's, perhaps, which this
    // one could not truncate), and a link there must not be followed: the name is made anew.
    const QByteArray partPath = QFile::encodeName(m_partPath);
    ::unlink(partPath.constData());
    m_fd = ::open(partPath.constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (m_fd < 0)
        return Fail(errno);
    // The new file keeps the permissions of the one it replaces.
    if (m_targetMode >= 0)
        fchmod(m_fd, mode_t(m_targetMode) & 07777);
    m_writer = std::make_unique<PartWriter>(m_fd, m_hash.get());
    return QIODevice::open(QIODevice::WriteOnly | QIODevice::Unbuffered);
}

qint64 PartFile::writeData(const char* data, qint64 size)
{
    if (m_failed || !m_writer)
        return -1;
    // Not the published file, as a wrong digest is not; no byte of it lands past the size.
    if (m_listedSize >= 0 && size > m_listedSize - m_written) {
        NotPublished(u"longer than its listed size"_s);
        return -1;
    }
    if (const int error = m_writer->Append(data, size)) {
        Fail(error);
        return -1;
    }
    m_written += size;
    return size;
}

bool PartFile::Finish()
{
    if (m_failed || !m_writer)
        return false;
    if (const int error = m_writer->Close())
        return Fail(error);
    m_writer.reset();
    // What the file system holds must be the whole body before it takes the old file's place.
    struct stat written {};
    if (::fstat(m_fd, &written) != 0)
        return Fail(errno);
    if (written.st_size != m_written)
        return Fail(EIO);
    if (m_listedSize >= 0 && m_written != m_listedSize)
        return NotPublished(u"shorter than its listed size"_s);
    if (m_hash && m_hash->Result() != m_expectedSha256)
        return NotPublished(u"its SHA-256 digest differs"_s);
    return true;
}

bool PartFile::Flush() { return m_fd >= 0 && !m_failed && (::fdatasync(m_fd) == 0 || Fail(errno)); }

bool PartFile::Commit()
{
    if (m_fd < 0 || m_failed)
        return false;
    if (!NameHolds(QFile::encodeName(m_partPath), m_fd))
        return Fail(ESTALE);
    if (::rename(QFile::encodeName(m_partPath).constData(), QFile::encodeName(m_target).constData()) != 0)
        return Fail(errno);
    ::close(m_fd);
    m_fd = -1;
    QIODevice::close();
    return true;
}

void PartFile::Discard()
{
    if (m_fd < 0)
        return;
    const QByteArray partPath = QFile::encodeName(m_partPath);
    if (NameHolds(partPath, m_fd))
        ::unlink(partPath.constData());
    ::close(m_fd);
    m_fd = -1;
    QIODevice::close();
}

bool PartFile::NotPublished(const QString& why)
{
    m_failed = m_notListed = true;
    setErrorString(u"not the published file: "_s + why);
    return false;
}

bool PartFile::Fail(int error)
{
    m_failed = true;
    setErrorString(QString::fromLocal8Bit(std::strerror(error ? error : EIO)));
    return false;
}

}  // namespace tarnwick
