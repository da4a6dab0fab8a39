#include "download/PartFile.h"

#include "platform/BusError.h"
#include "platform/FileIdentity.h"
#include "platform/Sha256.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>

using namespace Qt::Literals::StringLiterals;

namespace tarnwick {
namespace {

// A small body is written once it is complete, or in blocks of kFirstCapacity while it grows;
// past the first chunk a body goes to disk a chunk at a time, bypassing the page cache where the
// file system allows it, while the next chunk arrives. Two chunks at most are held, whatever the
// body's size.
constexpr qint64 kChunk = 4 * 1024 * 1024;
constexpr size_t kAlignment = 4096;
const QString kPartSuffix = u".tarnwick-part"_s;

constexpr qint64 kFlushEvery = 64 * 1024 * 1024;

// Most files of an update are small: a buffer starts at this size and grows to a whole chunk
// only for a large body.
constexpr qint64 kFirstCapacity = 64 * 1024;

struct Chunk {
    explicit Chunk(qint64 capacity) : capacity(capacity)
    {
        data = static_cast<char*>(std::aligned_alloc(kAlignment, size_t(capacity)));
    }
    ~Chunk() { std::free(data); }
    Chunk(const Chunk&) = delete;
    Chunk& operator=(const Chunk&) = delete;

    void Reserve(qint64 size)
    {
        if (size <= capacity)
            return;
        char* grown = static_cast<char*>(std::aligned_alloc(kAlignment, size_t(kChunk)));
        std::memcpy(grown, data, size_t(used));
        std::free(data);
        data = grown;
        capacity = kChunk;
    }

    char* data = nullptr;
    qint64 capacity = 0;
    qint64 used = 0;
};

bool SetDirect(int fd, bool on)
{
    const int flags = fcntl(fd, F_GETFL);
    return flags >= 0 && fcntl(fd, F_SETFL, on ? flags | O_DIRECT : flags & ~O_DIRECT) == 0;
}

}  // namespace

// Writes full chunks on its own thread, one at a time, so that the transfer goes on meanwhile;
// a second thread sums each chunk while it is written, so that a checked file costs what an
// unchecked one does.
struct PartFile::Writer {
    explicit Writer(PartFile& file) : file(file), filling(std::make_unique<Chunk>(kFirstCapacity)) {}

    ~Writer()
    {
        {
            const std::lock_guard lock(mutex);
            stop = true;
        }
        changed.notify_all();
        for (std::thread* worker : {&thread, &summer})
            if (worker->joinable())
                worker->join();
    }

    // Waits for the chunk being written and summed; false when writing it failed.
    bool Idle()
    {
        std::unique_lock lock(mutex);
        changed.wait(lock, [this] { return !busy && !summing; });
        return error == 0;
    }

    // Hands the full chunk to the threads and gives back an empty one to fill.
    bool Submit(qint64 offset)
    {
        if (!Idle())
            return false;
        if (!spare)
            spare = std::make_unique<Chunk>(kChunk);
        std::swap(filling, spare);
        filling->used = 0;
        {
            const std::lock_guard lock(mutex);
            jobOffset = offset;
            busy = true;
            summing = file.m_hash != nullptr;
        }
        if (!thread.joinable()) {
            direct = SetDirect(file.m_fd, true);
            thread = std::thread([this] { Serve(busy, [this] { error = Write(*spare, jobOffset); }); });
            if (summing)
                summer =
                    std::thread([this] { Serve(summing, [this] { file.m_hash->Add(spare->data, spare->used); }); });
        }
        changed.notify_all();
        return true;
    }

    // Does `job` each time `flag` is raised, and lowers it once done.
    template <typename Job>
    void Serve(bool& flag, const Job& job)
    {
        std::unique_lock lock(mutex);
        for (;;) {
            changed.wait(lock, [&] { return flag || stop; });
            if (!flag)
                return;
            lock.unlock();
            job();
            lock.lock();
            flag = false;
            changed.notify_all();
        }
    }

    int Write(const Chunk& chunk, qint64 offset)
    {
        const int fd = file.m_fd;
        if (direct && !file.WriteAt(chunk.data, chunk.used, offset, true)) {
            // A file system that refuses unbuffered writes (tmpfs) takes them through the cache.
            if (errno != EINVAL)
                return errno;
            direct = false;
            SetDirect(fd, false);
        }
        if (!direct) {
            if (!file.WriteAt(chunk.data, chunk.used, offset, false))
                return errno;
            // Starts the write-back now, so the final flush has little left to do.
            sync_file_range(fd, offset, chunk.used, SYNC_FILE_RANGE_WRITE);
        }
        // A flush now and then while the rest arrives, so that the one before the rename finds
        // little left to do.
        if ((offset + chunk.used) % kFlushEvery < chunk.used)
            ::fdatasync(fd);
        return 0;
    }

    PartFile& file;
    std::unique_ptr<Chunk> filling;
    std::unique_ptr<Chunk> spare;
    std::thread thread;
    std::thread summer;
    std::mutex mutex;
    std::condition_variable changed;
    qint64 jobOffset = 0;
    bool busy = false;
    bool summing = false;
    bool stop = false;
    bool direct = false;
    int error = 0;
};

QString PartFile::PartName(const QString& fileName)
{
    // A name near the file system's limit still gets a part file, so that it is fetched and
    // refused only where the file system refuses it: when it takes its own name.
    constexpr qsizetype kLongName = 200;
    if (fileName.size() <= kLongName)
        return u'.' + fileName + kPartSuffix;
    Sha256 sum;
    const QByteArray name = fileName.toUtf8();
    sum.Add(name.constData(), name.size());
    const QByteArray digest = sum.Result().toHex();
    return u'.' + fileName.left(kLongName - 17) + u'~' + QString::fromLatin1(digest.left(16)) + kPartSuffix;
}

bool PartFile::IsPartName(const QString& fileName)
{
    return fileName.size() > kPartSuffix.size() + 1 && fileName.startsWith(u'.') && fileName.endsWith(kPartSuffix);
}

QString PartFile::Resolve(const QString& path)
{
    const QFileInfo link(path);
    if (!link.isSymLink())
        return path;
    const QString canonical = link.canonicalFilePath();
    return canonical.isEmpty() ? link.symLinkTarget() : canonical;
}

QString PartFile::PartPathOf(const QString& target)
{
    const qsizetype slash = target.lastIndexOf(u'/');
    return target.left(slash + 1) + PartName(target.mid(slash + 1));
}

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
    m_writer = std::make_unique<Writer>(*this);
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
    for (qint64 taken = 0; taken < size;) {
        // The first chunk's worth goes out in small blocks as it comes, so that a slow download
        // shows on disk early; from then on whole chunks, each on an aligned offset.
        const qint64 block = m_written + taken < kChunk ? kFirstCapacity : kChunk;
        Chunk& chunk = *m_writer->filling;
        const qint64 piece = std::min(size - taken, block - chunk.used);
        chunk.Reserve(chunk.used + piece);
        std::memcpy(chunk.data + chunk.used, data + taken, size_t(piece));
        chunk.used += piece;
        taken += piece;
        if (chunk.used < block)
            continue;
        const qint64 offset = m_written + taken - block;
        if (block < kChunk && m_hash)
            m_hash->Add(chunk.data, block);
        if (block == kChunk ? !m_writer->Submit(offset) : !WriteAt(chunk.data, block, offset, false)) {
            Fail(block == kChunk ? m_writer->error : errno);
            return -1;
        }
        if (block < kChunk)
            chunk.used = 0;
    }
    m_written += size;
    return size;
}

bool PartFile::WriteAt(const char* data, qint64 size, qint64 offset, bool direct)
{
    for (qint64 done = 0; done < size;) {
        const ssize_t wrote = ::pwrite(m_fd, data + done, size_t(size - done), offset + done);
        if (wrote < 0 && errno == EINTR)
            continue;
        if (wrote <= 0 || (direct && wrote % qint64(kAlignment) != 0)) {
            if (wrote == 0)
                errno = ENOSPC;
            return false;
        }
        done += wrote;
    }
    return true;
}

bool PartFile::Finish()
{
    if (m_failed || !m_writer)
        return false;
    if (!m_writer->Idle())
        return Fail(m_writer->error);
    // The tail is shorter than a chunk and goes through the cache, unaligned as it is.
    if (m_writer->direct && !SetDirect(m_fd, false))
        return Fail(errno);
    const Chunk& tail = *m_writer->filling;
    if (m_hash)
        m_hash->Add(tail.data, tail.used);
    if (!WriteAt(tail.data, tail.used, m_written - tail.used, false))
        return Fail(errno);
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

bool PartFile::WriteMapped(qint64 size, const std::function<bool(char* data)>& fill)
{
    if (m_failed || !m_writer || m_written != 0)
        return false;
    if (m_listedSize >= 0 && size != m_listedSize)
        return NotPublished(u"not of its listed size"_s);
    m_writer.reset();
    // The space is taken before a byte is written: a disk that runs out under a mapping raises a
    // signal instead of failing a write.
    if (const int error = size > 0 ? ::posix_fallocate(m_fd, 0, size) : 0)
        return Fail(error);
    char* data = nullptr;
    if (size > 0) {
        void* at = ::mmap(nullptr, size_t(size), PROT_READ | PROT_WRITE, MAP_SHARED, m_fd, 0);
        if (at == MAP_FAILED)
            return Fail(errno);
        data = static_cast<char*>(at);
    }
    bool filled = false;
    const bool whole = RunCatchingBusError([&] {
        filled = fill(data);
        if (filled && m_hash)
            m_hash->Add(data, size);
    });
    if (data)
        ::munmap(data, size_t(size));
    m_written = size;
    if (!whole || !filled)
        return Fail(EIO);
    if (m_hash && m_hash->Result() != m_expectedSha256)
        return Fail(EIO);
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
