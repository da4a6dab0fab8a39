// The run's record of its part files, kept in the folder lock's file: each part file is named
// there before it is created, so that the next start can remove what a crash left wherever it
// was written (sub-folders, the folder a link points into) and nothing else.
#pragma once

#include <QString>

#include <sys/types.h>

namespace tarnwick {

class PartRecord {
public:
    // fd: the folder lock's open file, which the record owns no more than the lock does.
    explicit PartRecord(int fd) : m_fd(fd) {}

    // Removes every part file a crashed run named, then empties the record. Only under the
    // folder lock: a running updater's part files are not leftovers.
    void RemoveListed();
    // False when the name could not be written down; the part file must then not be made.
    bool Note(const QString& partPath);
    // Makes the names written so far durable, before the files they name can outlive a crash.
    void Flush() const;

private:
    int m_fd;
    off_t m_end = 0;
};

}  // namespace tarnwick
