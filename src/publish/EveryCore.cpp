#include "publish/EveryCore.h"

#include <unistd.h>
#include <cstdio>
#include <thread>
#include <vector>

namespace tarnwick {

void Progress::Advance()
{
    const qint64 done = ++m_done;
    if (m_quiet || !m_showing.try_lock())
        return;
    const auto now = std::chrono::steady_clock::now();
    if (now - m_shown >= std::chrono::seconds(1)) {
        m_shown = now;
        Show(done, ::isatty(STDERR_FILENO) ? '\r' : '\n');
    }
    m_showing.unlock();
}

void Progress::Finish()
{
    const std::lock_guard lock(m_showing);
    if (m_shownOnce)
        Show(m_done, '\n');
}

void Progress::Show(qint64 done, char end)
{
    m_shownOnce = true;
    std::fprintf(stderr, "tarnwick-publish: %lld of %lld files%c", static_cast<long long>(done),
                 static_cast<long long>(m_total), end);
    std::fflush(stderr);
}

bool RunOnEveryCore(qint64 count, const std::function<bool(qint64)>& task)
{
    std::atomic<qint64> next = 0;
    std::atomic<bool> failed = false;
    const auto work = [&] {
        for (qint64 i = next++; i < count && !failed; i = next++) {
            if (!task(i))
                failed = true;
        }
    };
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    std::vector<std::thread> threads;
    for (unsigned t = 1; t < cores && t < count; ++t)
        threads.emplace_back(work);
    work();
    for (std::thread& thread : threads)
        thread.join();
    return !failed;
}

}  // namespace tarnwick
