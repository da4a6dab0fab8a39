#include "download/Patch.h"

#include "download/PartFile.h"
#include "platform/BusError.h"

#include <QFile>

#include <zstd.h>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <bit>
#include <memory>
#include <vector>

namespace tarnwick {
namespace {

// What the decoder accepts unless told more (ZSTD_WINDOWLOG_LIMIT_DEFAULT, outside the stable
// API); a patch of a large file was made with a window that covers it.
constexpr int kDefaultWindowLog = 27;

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

// The window the decoder must allow: the publisher's encoder never needs one larger than the
// installed copy and the new file together.
bool AllowWindow(ZSTD_DCtx* context, size_t referenceSize, unsigned long long size)
{
    const int needed = int(std::bit_width(uint64_t(referenceSize) + size));
    if (needed <= kDefaultWindowLog)
        return true;
    const ZSTD_bounds bounds = ZSTD_dParam_getBounds(ZSTD_d_windowLogMax);
    return !ZSTD_isError(bounds.error) &&
           !ZSTD_isError(ZSTD_DCtx_setParameter(context, ZSTD_d_windowLogMax, std::min(needed, bounds.upperBound)));
}

}  // namespace

bool ApplyPatch(const QString& referencePath, const QString& patchPath, PartFile& into, const std::atomic<bool>& stop)
{
    const MappedFile reference(referencePath);
    const MappedFile patch(patchPath);
    if (!reference.Opened() || !patch.Data() || into.Written() != 0 || stop)
        return false;
    // One frame, whole, that says how large the new file is.
    if (ZSTD_findFrameCompressedSize(patch.Data(), patch.Size()) != patch.Size())
        return false;
    const unsigned long long size = ZSTD_getFrameContentSize(patch.Data(), patch.Size());
    if (size == ZSTD_CONTENTSIZE_UNKNOWN || size == ZSTD_CONTENTSIZE_ERROR)
        return false;
    const std::unique_ptr<ZSTD_DCtx, size_t (*)(ZSTD_DCtx*)> context(ZSTD_createDCtx(), ZSTD_freeDCtx);
    if (!context || !AllowWindow(context.get(), reference.Size(), size) ||
        ZSTD_isError(ZSTD_DCtx_refPrefix(context.get(), reference.Data(), reference.Size())))
        return false;
    // The result goes through the part file's ordinary writes, a block at a time, so that a
    // full disk fails a write and the stop is heard between blocks.
    std::vector<char> block(ZSTD_DStreamOutSize());
    ZSTD_inBuffer input{patch.Data(), patch.Size(), 0};
    for (size_t left = 1; left != 0;) {
        if (stop)
            return false;
        ZSTD_outBuffer output{block.data(), block.size(), 0};
        // The installed copy and the patch are mapped: a file cut short under them faults here,
        // and nothing in the call leaves anything to undo.
        if (!RunCatchingBusError([&] { left = ZSTD_decompressStream(context.get(), &output, &input); }) ||
            ZSTD_isError(left))
            return false;
        if (output.pos > 0 && into.write(block.data(), qint64(output.pos)) != qint64(output.pos))
            return false;
        // A frame that asks for more than the patch holds ends here instead of looping.
        if (left != 0 && input.pos == input.size && output.pos < output.size)
            return false;
    }
    return input.pos == input.size && into.Written() == qint64(size) && into.Finish();
}

}  // namespace tarnwick
