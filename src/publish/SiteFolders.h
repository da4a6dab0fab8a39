// Version folders of the site replaced together: each is built whole in a work folder inside the
// site, and only then swapped into place, one after the other; when one swap fails, those already
// swapped are swapped back, so that a failure leaves every folder as it was.
#pragma once

#include <QList>
#include <QString>

#include <functional>
#include <optional>

namespace tarnwick {

// Holds the site for one publisher at a time (a lock on the site's folder, gone with the process).
class SiteLock {
public:
    explicit SiteLock(const QString& site);
    ~SiteLock();
    SiteLock(const SiteLock&) = delete;
    SiteLock& operator=(const SiteLock&) = delete;
    bool Held() const { return m_held; }

private:
    int m_fd = -1;
    bool m_held = false;
};

struct FolderSwap {
    QString built;   // the new folder; after the swap it holds the old one, if there was one
    QString target;  // where the new folder goes
};

// renameat2 as the swap calls it: from, to, RENAME_NOREPLACE or RENAME_EXCHANGE; 0 or -1 and errno.
using RenameFolder = std::function<int(const QString& from, const QString& to, unsigned flags)>;
int SystemRenameFolder(const QString& from, const QString& to, unsigned flags);

// Puts every built folder in place, in order; the reason when one could not be and every folder
// is as it was before.
std::optional<QString> SwapIntoPlace(const QList<FolderSwap>& swaps, const RenameFolder& rename = SystemRenameFolder);

}  // namespace tarnwick
