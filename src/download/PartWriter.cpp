#include "download/PartWriter.h"

#include "platform/Sha256.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

namespace tarnwick {
namespace {

// A small body is written once it is complete, or in blocks of kFirstCapacity while it grows;
// past the first chunk a body goes to disk a chunk at a time, bypassing the page cache where the
// file system allows it, while the next chunk arrives. Two chunks at most are held, whatever the
// body's size.
constexpr qint64 kChunk = 4 * 1024 * 1024;
constexpr size_t kAlignment = 4096;

constexpr qint64 kFlushEvery = 64 * 1024 * 1024;

// Most files of an update are small: a buffer starts at this size and grows to a whole chunk
// only for a large body.
constexpr qint64 kFirstCapacity = 64 * 1024;

bool SetDirect(int fd, bool on)
{
    const int flags = fcntl(fd, F_GETFL);
    return flags >= 0 && fcntl(fd, F_SETFL, on ? flags | O_DIRECT : flags & ~O_DIRECT) == 0;
}

// The error of a call that failed, never "none": a caller reads 0 as success.
int LastError() { return errno ? errno : EIO; }

bool WriteAt(int fd, const char* data, qint64 size, qint64 offset, bool direct)
{
    for (qint64 done = 0; done < size;) {
        const ssize_t wrote = ::pwrite(fd, data + done, size_t(size - done), offset + done);
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

}  // namespace

struct PartWriter::Chunk {
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

PartWriter::PartWriter(int fd, Sha256* hash)
    : m_fd(fd), m_hash(hash), m_filling(std::make_unique<Chunk>(kFirstCapacity))
{
}

PartWriter::~PartWriter()
{
    {
        const std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_changed.notify_all();
    for (std::thread* worker : {&m_thread, &m_summer})
        if (worker->joinable())
            worker->join();
}

int PartWriter::Append(const char* data, qint64 size)
{
    for (qint64 taken = 0; taken < size;) {
        // The first chunk's worth goes out in small blocks as it comes, so that a slow download
        // shows on disk early; from then on whole chunks, each on an aligned offset.
        const qint64 block = m_taken + taken < kChunk ? kFirstCapacity : kChunk;
        Chunk& chunk = *m_filling;
        const qint64 piece = std::min(size - taken, block - chunk.used);
        chunk.Reserve(chunk.used + piece);
        std::memcpy(chunk.data + chunk.used, data + taken, size_t(piece));
        chunk.used += piece;
        taken += piece;
        if (chunk.used < block)
            continue;
        const qint64 offset = m_taken + taken - block;
        if (block < kChunk && m_hash)
            m_hash->Add(chunk.data, block);
        if (block == kChunk ? !Submit(offset) : !WriteAt(m_fd, chunk.data, block, offset, false))
            return block == kChunk ? m_error : LastError();
        if (block < kChunk)
            chunk.used = 0;
    }
    m_taken += size;
    return 0;
}

int PartWriter::Close()
{
    if (!Idle())
        return m_error;
    // The tail is shorter than a chunk and goes through the cache, unaligned as it is.
    if (m_direct && !SetDirect(m_fd, false))
        return LastError();
    const Chunk& tail = *m_filling;
    if (m_hash)
        m_hash->Add(tail.data, tail.used);
    if (!WriteAt(m_fd, tail.data, tail.used, m_taken - tail.used, false))
        return LastError();
    return 0;
}

// Waits for the chunk being written and summed; false when writing it failed.
bool PartWriter::Idle()
{
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [this] { return !m_busy && !m_summing; });
    return m_error == 0;
}

// Hands the full chunk to the threads and gives back an empty one to fill. The chunk is written
// on one thread, one at a time, so that the transfer goes on meanwhile; a second thread sums it
// while it is written, so that a checked file costs what an unchecked one does.
bool PartWriter::Submit(qint64 offset)
{
    if (!Idle())
        return false;
    if (!m_spare)
        m_spare = std::make_unique<Chunk>(kChunk);
    std::swap(m_filling, m_spare);
    m_filling->used = 0;
    {
        const std::lock_guard lock(m_mutex);
        m_jobOffset = offset;
        m_busy = true;
        m_summing = m_hash != nullptr;
    }
    if (!m_thread.joinable()) {
        m_direct = SetDirect(m_fd, true);
        m_thread = std::thread([this] { Serve(m_busy, [this] { m_error = Write(*m_spare, m_jobOffset); }); });
        if (m_summing)
            m_summer = std::thread([this] { Serve(m_summing, [this] { m_hash->Add(m_spare->data, m_spare->used); }); });
    }
    m_changed.notify_all();
    return true;
}

// Does `job` each time `flag` is raised, and lowers it once done.
template <typename Job>
void PartWriter::Serve(bool& flag, const Job& job)
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_changed.wait(lock, [&] { return flag || m_stop; });
        if (!flag)
            return;
        lock.unlock();
        job();
        lock.lock();
        flag = false;
        m_changed.notify_all();
    }
}

int PartWriter::Write(const Chunk& chunk, qint64 offset)
{
    if (m_direct && !WriteAt(m_fd, chunk.data, chunk.used, offset, true)) {
        // A file system that refuses unbuffered writes (tmpfs) takes them through the cache.
        if (errno != EINVAL)
            return errno;
        m_direct = false;
        SetDirect(m_fd, false);
    }
    if (!m_direct) {
        if (!WriteAt(m_fd, chunk.data, chunk.used, offset, false))
            return errno;
        // Starts the write-back now, so the final flush has little left to do.
        sync_file_range(m_fd, offset, chunk.used, SYNC_FILE_RANGE_WRITE);
    }
    // A flush now and then while the rest arrives, so that the one before the rename finds
    // little left to do.
    if ((offset + chunk.used) % kFlushEvery < chunk.used)
        ::fdatasync(m_fd);
    return 0;
}

}  // namespace tarnwick
