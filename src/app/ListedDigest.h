// The SHA-256 digest the manifest gave for a listed file rides on its entry in lDownload, from
// the check run that adds the entry to the save step that checks the file.
#pragma once

#include <QByteArray>
#include <QTreeWidgetItem>

namespace tarnwick {

// Qt::UserRole of column 0 holds the entry's key.
inline constexpr int kListedDigestRole = Qt::UserRole + 1;

inline void SetListedDigest(QTreeWidgetItem* item, const QByteArray& sha256)
{
    item->setData(0, kListedDigestRole, sha256);
}

// Empty when the manifest gave no digests, or for no entry at all (a URL the list does not hold).
inline QByteArray ListedDigest(const QTreeWidgetItem* item)
{
    return item ? item->data(0, kListedDigestRole).toByteArray() : QByteArray();
}

}  // namespace tarnwick
