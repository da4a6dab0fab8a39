#include "publish/SiteFile.h"

#include "platform/Sha256.h"

#include <QFile>

#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>
#include <memory>

namespace tarnwick {
QString SystemError(const QString& path)
{
    return path + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(errno));
}

bool WriteAll(int fd, const char* data, qint64 size)
{
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size_t(size));
        if (written < 0 && errno == EINTR)
            continue;
        if (written == 0)
            errno = ENOSPC;
        if (written <= 0)
            return false;
        data += written;
        size -= written;
    }
    return true;
}

namespace {

bool SameStat(const struct stat& a, const struct stat& b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size &&
           a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec &&
           a.st_ctim.tv_sec == b.st_ctim.tv_sec && a.st_ctim.tv_nsec == b.st_ctim.tv_nsec;
}

// A file written to while it was copied gives a copy that is neither version: its size, times or
// identity moved on the way, or its name now holds another file. Times move in coarse steps, so a
// file changed within the last second, whose writer may still be at work within one step, is also
// read a second time (it is still in memory, so that costs little) and must give the same sum.
bool ChangedWhileRead(const QString& path, int fd, const struct stat& before, const QByteArray& sum)
{
    struct stat after {
    }, named{};
    if (::fstat(fd, &after) != 0 || ::stat(QFile::encodeName(path).constData(), &named) != 0 ||
        !SameStat(before, after) || !SameStat(after, named))
        return true;
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    return now.tv_sec - after.st_ctim.tv_sec <= 1 && FileSha256(path) != sum;
}

}  // namespace

CopiedFile CopyAndSum(const QString& from, const QString& to)
{
    const int in = ::open(QFile::encodeName(from).constData(), O_RDONLY | O_CLOEXEC);
    if (in < 0)
        return {std::nullopt, SystemError(from)};
    struct stat before {};
    if (::fstat(in, &before) != 0) {
        const CopiedFile failed{std::nullopt, SystemError(from)};
        ::close(in);
        return failed;
    }
    const int out = ::open(QFile::encodeName(to).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (out < 0) {
        const CopiedFile failed{std::nullopt, SystemError(to)};
        ::close(in);
        return failed;
    }
    constexpr size_t kBlock = 512 * 1024;
    const std::unique_ptr<char[]> block(new char[kBlock]);
    Sha256 sum;
    CopiedFile copied;
    for (;;) {
        const ssize_t got = ::read(in, block.get(), kBlock);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            copied.error = SystemError(from);
        else if (got > 0 && !WriteAll(out, block.get(), got))
            copied.error = SystemError(to);
        if (got <= 0 || !copied.error.isEmpty())
            break;
        sum.Add(block.get(), got);
    }
    // A full disk may show only when the file is closed (on network file systems).
    if (::close(out) != 0 && copied.error.isEmpty())
        copied.error = SystemError(to);
    if (copied.error.isEmpty())
        copied.sha256 = sum.Result();
    if (copied.sha256 && ChangedWhileRead(from, in, before, *copied.sha256)) {
        copied.sha256.reset();
        copied.error = from + QStringLiteral(" changed while it was read: publish again once it is whole");
    }
    ::close(in);
    return copied;
}

bool LinkOrCopy(const QString& copy, const QString& to)
{
    if (::link(QFile::encodeName(copy).constData(), QFile::encodeName(to).constData()) == 0)
        return true;
    return errno != EEXIST && CopyAndSum(copy, to).sha256.has_value();
}

}  // namespace tarnwick
