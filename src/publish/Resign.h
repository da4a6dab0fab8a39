// Signatures that stop vouching for a manifest after a while: each manifest signed with an
// expiry and its folder's name in minisign's trusted comment, at publishing time or again later
// for the manifests already on the site (a daily job), without rebuilding any folder.
#pragma once

#include "publish/PublishOptions.h"

#include <QString>
#include <QStringList>

#include <optional>

namespace tarnwick {

// Signs every manifest (each beside it as NAME.minisig) so that the signature expires after
// `days`; the folder named is the one holding the manifest. One minisign run a manifest, since
// minisign gives every file of one run the same trusted comment; a password is asked once and
// handed to each run. The reason when signing failed.
std::optional<QString> SignWithExpiry(const QStringList& manifests, const QString& keyFile, int days);

// tarnwick-publish --resign: every SITE/VERSION/check.update signed again with a fresh expiry;
// the new signatures take the old ones' places only once all are made. 0 when done, 1 when
// something failed and the site is unchanged.
int Resign(const PublishOptions& options);

}  // namespace tarnwick
