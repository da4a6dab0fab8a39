// The lock that keeps a second updater from running for the same user. It is held for the
// life of its owner and released by the system when the process ends, also when it is killed.
#pragma once

#include <QString>

namespace tarnwick {

class SingleInstanceLock {
public:
    enum class State { NotTried, Held, HeldByAnother, Failed };

    SingleInstanceLock() = default;
    ~SingleInstanceLock();
    SingleInstanceLock(const SingleInstanceLock&) = delete;
    SingleInstanceLock& operator=(const SingleInstanceLock&) = delete;

    // Takes the lock without waiting. The name is a file in the given folder on Unix and a
    // named mutex on Windows.
    State TryTake(const QString& folder, const QString& name);

    // The folder for per-user runtime files, where the lock lives.
    static QString DefaultFolder();

private:
    State m_state = State::NotTried;
#ifdef _WIN32
    void* m_handle = nullptr;
#else
    int m_fd = -1;
#endif
};

inline constexpr char kInstanceLockName[] = "MutexText.frmMutex";

}  // namespace tarnwick
