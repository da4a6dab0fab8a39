// The bytes of a part file on their way to disk: a small body written once it is complete, a
// large one a chunk at a time on a thread of its own while the next chunk arrives, with memory
// bounded from the first byte.
#pragma once

#include <QtGlobal>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

namespace tarnwick {

class Sha256;

class PartWriter {
public:
    // fd is the part file, written from its start; hash, when given, sums every byte in order.
    PartWriter(int fd, Sha256* hash);
    ~PartWriter();
    PartWriter(const PartWriter&) = delete;
    PartWriter& operator=(const PartWriter&) = delete;

    // Takes the next bytes; 0, or the error a write of them (or of an earlier chunk) met.
    int Append(const char* data, qint64 size);
    // Writes what is held and waits for every write; 0, or the error one of them met.
    int Close();

private:
    struct Chunk;
    bool Idle();
    bool Submit(qint64 offset);
    template <typename Job>
    void Serve(bool& flag, const Job& job);
    int Write(const Chunk& chunk, qint64 offset);

    const int m_fd;
    Sha256* const m_hash;
    qint64 m_taken = 0;
    std::unique_ptr<Chunk> m_filling;
    std::unique_ptr<Chunk> m_spare;
    std::thread m_thread;
    std::thread m_summer;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    qint64 m_jobOffset = 0;
    bool m_busy = false;
    bool m_summing = false;
    bool m_stop = false;
    bool m_direct = false;
    int m_error = 0;
};

}  // namespace tarnwick
