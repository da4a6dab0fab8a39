// The files of a release: every file below the release's folder, laid out as in the product
// folder, listed as the updater names them ("Lang\Deutsch.ini" for a file in a sub-folder).
#pragma once

#include <QList>
#include <QString>
#include <QStringList>

namespace tarnwick {

struct ReleaseFile {
    QString name;          // as listed: sub-folders separated by "\"
    QString relativePath;  // below the release's folder (or a shipped version's), with "/"
};

struct ReleaseListing {
    QList<ReleaseFile> files;  // sorted by name, so that the same folder always gives the same list
    QString error;             // why the folder cannot be listed; empty when it can
};

// Links to files count as the files; a link to a folder, a pipe or a device is refused, and so
// is a "\" in a file or folder name (the updater would read it as a sub-folder).
ReleaseListing ListReleaseFiles(const QString& folder);

// Every sub-folder of the release (as listed: "Lang\Extra") that an earlier version's shipped
// files, laid out the same way in shippedFolder, do not have; sorted.
QStringList AddedFolders(const QList<ReleaseFile>& files, const QString& shippedFolder);

}  // namespace tarnwick
