// The application folder: where the running updater lives and where every file it reads or
// writes is found.
#pragma once

#include <QString>

namespace tarnwick {

// The folder of the running executable, without a trailing separator except at the root.
QString ApplicationFolder();

}  // namespace tarnwick
