// Signatures that stop vouching for a manifest after a while, signed again for the manifests
// already on the site (a daily job) without rebuilding any folder.
#pragma once

#include "publish/PublishOptions.h"

namespace tarnwick {

// tarnwick-publish --resign: every SITE/VERSION/check.update signed again with a fresh expiry;
// the new signatures take the old ones' places only once all are made. 0 when done, 1 when
// something failed and the site is unchanged.
int Resign(const PublishOptions& options);

}  // namespace tarnwick
