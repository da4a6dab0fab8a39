// Publishing a release for every earlier version at once: the release's files copied onto the
// site once and summed, the patches made, each manifest written, read back as the updater reads
// it and signed, and only then every version folder put in place.
#pragma once

#include "publish/PublishOptions.h"

namespace tarnwick {

// 0 once every folder is in place; 1 when something was refused or failed, the site unchanged.
int Publish(const PublishOptions& options);

}  // namespace tarnwick
