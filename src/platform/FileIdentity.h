// Whether a name still holds the very file a descriptor has open. A name can be removed or
// given to another file at any moment (by another updater, or a user clearing what looks
// stale), and rename and unlink act on whatever the name holds then.
#pragma once

#include <QByteArray>

namespace tarnwick {

// False also when the name holds nothing, or the descriptor is not open.
bool NameHolds(const QByteArray& path, int fd);

}  // namespace tarnwick
