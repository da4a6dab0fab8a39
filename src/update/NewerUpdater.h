// At start-up, before any window shows: when the update site publishes a newer updater, tell
// the user, open the product web site and end.
#pragma once

#include <QString>

namespace tarnwick {

class FrmMainUpdater;

enum class NewerUpdaterResult { GoOn, NoticeGiven };

// The updater's own version, compared as text with the published one.
inline constexpr char kUpdaterVersion[] = "0.2";

NewerUpdaterResult CheckForNewerUpdater(FrmMainUpdater& window, const QString& language);

}  // namespace tarnwick
