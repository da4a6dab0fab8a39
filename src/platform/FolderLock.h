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
    // What the run's notes in the file may take up; a larger file holds no notes of ours.
    static constexpr qint64 kMaxNotes = 64 * 1024 * 1024;

    FolderLock() = default;
    ~FolderLock();  // removes the file while still holding it
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

    // Takes the lock without waiting. Failed: no lock file can be made there (a read-only
    // folder, a folder or a link in the lock file's place), which tells nothing about other
    // updaters. A lock file that nobody holds and that this user cannot write is replaced.
    State TryTake(const QString& folder);
    State Current() const { return m_state; }
    // The open lock file while it is held, -1 otherwise; it may carry the run's own notes.
    int Descriptor() const { return m_fd; }

private:
    // The new lock file, held and named in the stale one's place, or -1.
    int ReplaceStale(int stale) const;

    State m_state = State::NotTried;
    QString m_path;
    int m_fd = -1;
};

}  // namespace tarnwick
