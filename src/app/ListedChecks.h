// What the manifest says of a listed file beyond its name (its SHA-256 digest, a patch offered
// for it, its size) rides on its entry in lDownload, from the check run that adds the entry to the save
// step that uses it.
#pragma once

#include "download/FilePlan.h"
#include "update/ManifestDigests.h"

#include <QTreeWidgetItem>

namespace tarnwick {

// Qt::UserRole of column 0 holds the entry's key.
inline constexpr int kListedDigestRole = Qt::UserRole + 1;
inline constexpr int kPatchFromRole = Qt::UserRole + 2;
inline constexpr int kPatchDigestRole = Qt::UserRole + 3;
inline constexpr int kListedSizeRole = Qt::UserRole + 4;

inline void SetListedChecks(QTreeWidgetItem* item, const QByteArray& sha256, const PatchOffer& patch, qint64 size)
{
    item->setData(0, kListedSizeRole, size);
    item->setData(0, kListedDigestRole, sha256);
    item->setData(0, kPatchFromRole, patch.fromSha256);
    item->setData(0, kPatchDigestRole, patch.patchSha256);
}

// Nothing checked when the manifest gave no digests, or for no entry at all (a URL the list
// does not hold). The file goes to `path` in `folder`.
inline ListedFile ListedChecks(const QTreeWidgetItem* item, const QString& url, const QString& path,
                               const QString& folder)
{
    if (!item)
        return {url, path, {}, {}, {}, -1, folder};
    const QVariant size = item->data(0, kListedSizeRole);
    return {url,
            path,
            item->data(0, kListedDigestRole).toByteArray(),
            item->data(0, kPatchFromRole).toByteArray(),
            item->data(0, kPatchDigestRole).toByteArray(),
            size.isValid() ? size.toLongLong() : -1,
            folder};
}

}  // namespace tarnwick
