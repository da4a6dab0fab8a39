#include "platform/FileIdentity.h"

#include <sys/stat.h>

namespace tarnwick {

bool NameHolds(const QByteArray& path, int fd)
{
    struct stat open {
    }, named{};
    return fd >= 0 && ::fstat(fd, &open) == 0 && ::lstat(path.constData(), &named) == 0 &&
           open.st_dev == named.st_dev && open.st_ino == named.st_ino;
}

}  // namespace tarnwick
