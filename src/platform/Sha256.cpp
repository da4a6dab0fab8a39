#include "platform/Sha256.h"

#include <QFile>

#include <openssl/evp.h>

#include <fcntl.h>
#include <unistd.h>
#include <cerrno>
#include <memory>

namespace tarnwick {

Sha256::Sha256() : m_context(EVP_MD_CTX_new()) { EVP_DigestInit_ex(m_context, EVP_sha256(), nullptr); }

Sha256::~Sha256() { EVP_MD_CTX_free(m_context); }

void Sha256::Add(const char* data, qint64 size) { EVP_DigestUpdate(m_context, data, size_t(size)); }

QByteArray Sha256::Result()
{
    QByteArray digest(EVP_MAX_MD_SIZE, Qt::Uninitialized);
    unsigned int size = 0;
    EVP_DigestFinal_ex(m_context, reinterpret_cast<unsigned char*>(digest.data()), &size);
    EVP_DigestInit_ex(m_context, EVP_sha256(), nullptr);
    digest.resize(int(size));
    return digest;
}

std::optional<QByteArray> FileSha256(const QString& path, const std::atomic<bool>* stop)
{
    // Reading must not touch the file's times where that can be asked (the owner, or root).
    const QByteArray name = QFile::encodeName(path);
    int fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC | O_NOATIME);
    if (fd < 0 && errno == EPERM)
        fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    // Blocks of this size keep the reads few and stay in the processor's caches while hashed.
    constexpr size_t kBlock = 512 * 1024;
    const std::unique_ptr<char[]> block(new char[kBlock]);
    Sha256 sum;
    for (;;) {
        const ssize_t got = ::read(fd, block.get(), kBlock);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0 || (stop && *stop)) {
            ::close(fd);
            return got == 0 && !(stop && *stop) ? std::optional(sum.Result()) : std::nullopt;
        }
        sum.Add(block.get(), got);
    }
}

}  // namespace tarnwick
