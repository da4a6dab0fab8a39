// The paths of the settings files, the two preferences keys and the language rule:
// "English" or the empty text means the built-in English texts, any other name means the
// language file Lang\<name>.ini, with no fall-back to English for a missing key.
#pragma once

#include <QString>

namespace tarnwick {

QString PreferencesPath(const QString& appFolder);
QString LanguageFilePath(const QString& appFolder, const QString& language);

QString ReadLanguageName(const QString& appFolder);
QString ReadInstalledVersion(const QString& appFolder);

bool IsBuiltInEnglish(const QString& language);

// One text by the language rule: the English text under built-in English, otherwise the
// value of the key in the language file (empty when missing).
QString LanguageText(const QString& appFolder, const QString& language, const QString& section, const QString& key,
                     const QString& englishText);

inline constexpr char kWindowSection[] = "frmMainUpdater";

// A message text of the window's section ("frmMainUpdater") by the language rule.
QString WindowText(const QString& appFolder, const QString& language, const char* key, const char* englishText);
inline constexpr char kGeneralSection[] = "General";

}  // namespace tarnwick
