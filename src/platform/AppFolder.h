// The application folder: where the running updater lives and where every file it reads or
// writes is found.
#pragma once

#include <QString>

namespace tarnwick {

// The folder of the running executable, without a trailing separator except at the root.
QString ApplicationFolder();

// The application folder followed by "\" and a relative part; on this platform every "\"
// of the joint and of the relative part becomes "/". A folder that already ends in a
// separator (the root) gives a doubled one, which the file system resolves.
QString AppPath(const QString& appFolder, const QString& relativePart);

}  // namespace tarnwick
