// The lock that keeps a second updater of any user from working on the same product folder: a
// file inside the folder, held for the whole run and removed when the run ends. The per-user
// lock alone lets an updater started through sudo, or by another user, share the folder.
#pragma once

#include <QString>

namespace tarnwick {

class FolderLock {
public:
    enum class State { NotTried, Held, HeldByAnother, Failed };
    static constexpr char kFileName[] = ".tarnwick-updater.lock";

    FolderLock() = default;
    ~FolderLock();  // removes the file while still holding it
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

    // Takes the lock without waiting. Failed: no lock file can be made there (a read-only
    // folder), which tells nothing about other updaters.
    State TryTake(const QString& folder);
    State Current() const { return m_state; }
    // The open lock file while it is held, -1 otherwise; it may carry the run's own notes.
    int Descriptor() const { return m_fd; }

private:
    State m_state = State::NotTried;
    QString m_path;
    int m_fd = -1;
};

}  // namespace tarnwick
