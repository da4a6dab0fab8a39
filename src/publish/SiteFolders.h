// Version folders of the site replaced together: each is built whole in a work folder beside the
// site, and only then swapped into place, one after the other; when one swap fails, those already
// swapped are swapped back, so that a failure leaves every folder as it was. A run killed between
// two swaps is finished by the next one, from the journal written before the first.
#pragma once

#include <QList>
#include <QString>
#include <QStringList>

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

// Beside the site, so that its folders are renamed into place on the same file system while an
// upload of the site never takes what is still being built; named after the site, so that the
// next run finds what an interrupted one left.
QString WorkFolderFor(const QString& site);

// Removes the work folder when the run ends, unless it holds swaps begun and not all undone, for
// the next run to finish.
struct WorkFolder {
    QString path;
    ~WorkFolder();
};

// The site held for one run: its lock taken, what an interrupted run left finished or removed,
// and the work folder beside it, removed again when the run ends.
class SiteRun {
public:
    explicit SiteRun(const QString& site);
    const QString& Error() const { return m_error; }  // why the site cannot be worked on, or empty
    const QString& Work() const { return m_work; }

private:
    SiteLock m_lock;
    QString m_work;
    QString m_error;
    std::optional<WorkFolder> m_removed;
};

// Whether both paths lie on one file system, where a rename moves a folder in one step.
bool SameFileSystem(const QString& a, const QString& b);

// Where a version's folder is built inside the work folder.
QString BuiltFolder(const QString& work, const QString& version);

// renameat2 as the swap calls it: from, to, RENAME_NOREPLACE or RENAME_EXCHANGE; 0 or -1 and errno.
using RenameFolder = std::function<int(const QString& from, const QString& to, unsigned flags)>;
int SystemRenameFolder(const QString& from, const QString& to, unsigned flags);

// Puts every built folder of `versions` in place in the site, in order; the reason when one could
// not be and every folder is as it was before.
std::optional<QString> PutInPlace(const QString& site, const QString& work, const QStringList& versions,
                                  const RenameFolder& rename = SystemRenameFolder);

// Whether the work folder holds swaps begun and not all undone, for the next run to finish.
bool SwapsUnfinished(const QString& work);

// What an interrupted run left, under the site's lock before anything else: swaps it began are
// finished (every folder in its journal gets its new manifest's folder), then its work folder is
// removed, and so is any work folder an earlier publisher left inside the site. The reason when that cannot be done;
// the site is left as the interrupted run left it.
std::optional<QString> FinishInterruptedRun(const QString& site, const QString& work,
                                            const RenameFolder& rename = SystemRenameFolder);

}  // namespace tarnwick
