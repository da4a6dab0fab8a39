#include "publish/MakePatch.h"

#include "platform/Sha256.h"
#include "publish/SiteFile.h"

#include <QFile>

#define ZSTD_STATIC_LINKING_ONLY  // the parameters a level chooses, as the command line reads them
#include <zstd.h>

#include <fcntl.h>
#include <unistd.h>
#include <algorithm>
#include <bit>
#include <memory>

namespace tarnwick {
namespace {

// Level 9: on large files as small a patch as the highest levels give, in seconds instead of
// minutes; level 19 with one thread missed most of the old copy in a file of 100 MiB.
constexpr int kLevel = 9;

// The whole file in memory or mapped; empty files need neither.
class WholeFile {
public:
    explicit WholeFile(const QString& path) : m_file(path)
    {
        m_opened = m_file.open(QIODevice::ReadOnly);
        if (m_opened && m_file.size() > 0)
            m_data = reinterpret_cast<const char*>(m_file.map(0, m_file.size()));
        m_opened = m_opened && (m_file.size() == 0 || m_data);
    }
    bool Opened() const { return m_opened; }
    const char* Data() const { return m_data ? m_data : ""; }
    size_t Size() const { return size_t(m_file.size()); }

private:
    QFile m_file;
    const char* m_data = nullptr;
    bool m_opened = false;
};

// What zstd --patch-from sets: a window that covers the larger of the two files, and long-distance
// matching once that window is longer than what level 9's search looks back over by itself.
// One thread, reading the new file from its mapping as it stands (stable input): no window-sized
// copy of it, so a large file costs the two files' pages and the match tables, below what zstd's
// own command takes for the same pair; Zstandard's worker threads would each copy a window.
bool SetPatchParameters(ZSTD_CCtx* context, size_t oldSize, size_t newSize)
{
    const size_t largest = std::max(oldSize, newSize);
    const int fileWindowLog = int(std::bit_width(uint64_t(largest)));
    const ZSTD_compressionParameters level = ZSTD_getCParams(kLevel, largest, oldSize);
    const int cycleLog = int(level.chainLog) - (level.strategy >= ZSTD_btlazy2 ? 1 : 0);
    const int windowLog = std::clamp(fileWindowLog, ZSTD_WINDOWLOG_MIN, 31);
    const auto set = [&](ZSTD_cParameter parameter, int value) {
        return !ZSTD_isError(ZSTD_CCtx_setParameter(context, parameter, value));
    };
    return set(ZSTD_c_compressionLevel, kLevel) && set(ZSTD_c_windowLog, windowLog) &&
           set(ZSTD_c_enableLongDistanceMatching, fileWindowLog > cycleLog ? 1 : 0) && set(ZSTD_c_checksumFlag, 1) &&
           set(ZSTD_c_contentSizeFlag, 1) && set(ZSTD_c_stableInBuffer, 1) &&
           !ZSTD_isError(ZSTD_CCtx_setPledgedSrcSize(context, newSize));
}

}  // namespace

MadePatch MakePatch(const QString& oldPath, const QString& newPath, const QString& patchPath, qint64 limit)
{
    const WholeFile oldFile(oldPath), newFile(newPath);
    if (!oldFile.Opened() || !newFile.Opened())
        return {false, 0, {}, SystemError(oldFile.Opened() ? newPath : oldPath)};
    const std::unique_ptr<ZSTD_CCtx, size_t (*)(ZSTD_CCtx*)> context(ZSTD_createCCtx(), ZSTD_freeCCtx);
    if (!context || !SetPatchParameters(context.get(), oldFile.Size(), newFile.Size()) ||
        ZSTD_isError(ZSTD_CCtx_refPrefix(context.get(), oldFile.Data(), oldFile.Size())))
        return {false, 0, {}, QStringLiteral("Zstandard refused the patch of ") + newPath};
    const QByteArray patchName = QFile::encodeName(patchPath);
    const int out = ::open(patchName.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (out < 0)
        return {false, 0, {}, SystemError(patchPath)};
    MadePatch made;
    Sha256 sum;
    QByteArray buffer(qsizetype(ZSTD_CStreamOutSize()), Qt::Uninitialized);
    ZSTD_inBuffer input{newFile.Data(), newFile.Size(), 0};
    for (size_t left = 1; left != 0 && made.error.isEmpty() && made.size <= limit;) {
        ZSTD_outBuffer output{buffer.data(), size_t(buffer.size()), 0};
        left = ZSTD_compressStream2(context.get(), &output, &input, ZSTD_e_end);
        if (ZSTD_isError(left)) {
            made.error = QStringLiteral("Zstandard could not make the patch of ") + newPath;
            break;
        }
        if (!WriteAll(out, buffer.constData(), qint64(output.pos)))
            made.error = SystemError(patchPath);
        sum.Add(buffer.constData(), qint64(output.pos));
        made.size += qint64(output.pos);
    }
    if (::close(out) != 0 && made.error.isEmpty())
        made.error = SystemError(patchPath);
    made.made = made.error.isEmpty() && made.size <= limit;
    if (made.made)
        made.sha256 = sum.Result();
    else
        QFile::remove(patchPath);
    return made;
}

}  // namespace tarnwick
