#include "publish/SiteFile.h"

#include "platform/Sha256.h"

#include <QFile>

#include <fcntl.h>
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

CopiedFile CopyAndSum(const QString& from, const QString& to)
{
    const int in = ::open(QFile::encodeName(from).constData(), O_RDONLY | O_CLOEXEC);
    if (in < 0)
        return {std::nullopt, SystemError(from)};
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
    ::close(in);
    if (copied.error.isEmpty())
        copied.sha256 = sum.Result();
    return copied;
}

bool LinkOrCopy(const QString& copy, const QString& to)
{
    if (::link(QFile::encodeName(copy).constData(), QFile::encodeName(to).constData()) == 0)
        return true;
    return errno != EEXIST && CopyAndSum(copy, to).sha256.has_value();
}

}  // namespace tarnwick
