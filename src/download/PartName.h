// The names a file of the update has while it arrives: where its part file lies, and how the
// updater tells its own leftovers from everything else in the folder.
#pragma once

#include <QString>

namespace tarnwick {

// The name a file of the update has while it arrives: hidden, and recognisable as the
// updater's own so that a crashed run's leftovers can be told from everything else.
QString PartName(const QString& fileName);
bool IsPartName(const QString& fileName);

// The file a name in the folder stands for: a symbolic link keeps pointing where it did,
// and the file it names is the one replaced.
QString Resolve(const QString& path);
// Where the part file of this (resolved) target lies: beside it.
QString PartPathOf(const QString& target);

}  // namespace tarnwick
