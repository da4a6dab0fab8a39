#include "download/Patch.h"

#include "download/PartFile.h"

#include <QFile>

#include <zstd.h>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cstring>
#include <memory>

namespace tarnwick {
namespace {

// A whole file mapped for reading; empty when it is empty or cannot be mapped.
class MappedFile {
public:
    explicit MappedFile(const QString& path)
    {
        const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
        struct stat info {};
        if (fd >= 0 && ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0) {
            void* at = ::mmap(nullptr, size_t(info.st_size), PROT_READ, MAP_SHARED, fd, 0);
            if (at != MAP_FAILED) {
                m_data = static_cast<const char*>(at);
                m_size = size_t(info.st_size);
                ::madvise(at, m_size, MADV_SEQUENTIAL);
            }
        }
        m_opened = fd >= 0;
        if (fd >= 0)
            ::close(fd);
    }
    ~MappedFile()
    {
        if (m_data)
            ::munmap(const_cast<char*>(m_data), m_size);
    }
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;

    bool Opened() const { return m_opened; }
    const char* Data() const { return m_data; }
    size_t Size() const { return m_size; }

private:
    const char* m_data = nullptr;
    size_t m_size = 0;
    bool m_opened = false;
};

// The largest window Zstandard writes on 64-bit systems (2 GiB): every patch it can make.
constexpr int kLargestWindowLog = 31;

}  // namespace

bool ApplyPatch(const QString& referencePath, const QString& patchPath, PartFile& into, const std::atomic<bool>& stop)
{
    const MappedFile reference(referencePath);
    const MappedFile patch(patchPath);
    if (!reference.Opened() || !patch.Data() || stop)
        return false;
    // One frame, whole, that says how large the new file is.
    if (ZSTD_findFrameCompressedSize(patch.Data(), patch.Size()) != patch.Size())
        return false;
    const unsigned long long size = ZSTD_getFrameContentSize(patch.Data(), patch.Size());
    if (size == ZSTD_CONTENTSIZE_UNKNOWN || size == ZSTD_CONTENTSIZE_ERROR)
        return false;
    const std::unique_ptr<ZSTD_DCtx, size_t (*)(ZSTD_DCtx*)> context(ZSTD_createDCtx(), ZSTD_freeDCtx);
    if (!context || ZSTD_isError(ZSTD_DCtx_setParameter(context.get(), ZSTD_d_windowLogMax, kLargestWindowLog)) ||
        ZSTD_isError(ZSTD_DCtx_refPrefix(context.get(), reference.Data(), reference.Size())))
        return false;
    return into.WriteMapped(qint64(size), [&](char* data) {
        const size_t decoded = ZSTD_decompressDCtx(context.get(), data, size, patch.Data(), patch.Size());
        return !ZSTD_isError(decoded) && decoded == size && !stop;
    });
}

}  // namespace tarnwick
