// A small tmpfs mounted over a folder for the length of one test, for the faults only a file
// system can give: a full disk, a folder nobody may write to. Mounting needs root (or the
// capability); when it cannot be done, Error() says why and the test skips.
#pragma once

#include <QString>

namespace tarnwick::test {

class TmpfsMount {
public:
    TmpfsMount(const QString& folder, qint64 sizeBytes);
    ~TmpfsMount();
    TmpfsMount(const TmpfsMount&) = delete;
    TmpfsMount& operator=(const TmpfsMount&) = delete;

    bool Mounted() const { return m_mounted; }
    QString Error() const { return m_error; }

    // Remounts read-only: every write below the folder now fails, also for root.
    bool MakeReadOnly();

private:
    QString m_folder;
    QString m_options;
    QString m_error;
    bool m_mounted = false;
};

}  // namespace tarnwick::test
