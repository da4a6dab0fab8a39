#include "download/Patch.h"

#include "download/PartFile.h"

#include <QFile>

// The block-at-a-time decoder, so that a stop is heard between blocks of a large file; the
// installed copy referenced as raw content where it is mapped.
#define ZSTD_STATIC_LINKING_ONLY
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
    const std::unique_ptr<ZSTD_DDict, size_t (*)(ZSTD_DDict*)> prefix(
        ZSTD_createDDict_advanced(reference.Data(), reference.Size(), ZSTD_dlm_byRef, ZSTD_dct_rawContent,
                                  ZSTD_defaultCMem),
        ZSTD_freeDDict);
    if (!context || !prefix || ZSTD_isError(ZSTD_decompressBegin_usingDDict(context.get(), prefix.get())))
        return false;
    return into.WriteMapped(qint64(size), [&](char* data) {
        size_t read = 0, written = 0;
        for (size_t next; (next = ZSTD_nextSrcSizeToDecompress(context.get())) != 0;) {
            if (stop || next > patch.Size() - read)
                return false;
            const size_t decoded =
                ZSTD_decompressContinue(context.get(), data + written, size - written, patch.Data() + read, next);
            if (ZSTD_isError(decoded))
                return false;
            read += next;
            written += decoded;
        }
        return written == size && read == patch.Size();
    });
}

}  // namespace tarnwick
