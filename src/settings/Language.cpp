#include "settings/Language.h"

#include "platform/AppFolder.h"
#include "settings/IniFile.h"

namespace tarnwick {

QString PreferencesPath(const QString& appFolder) { return AppPath(appFolder, QStringLiteral("Preferences.ini")); }

QString LanguageFilePath(const QString& appFolder, const QString& language)
{
    return AppPath(appFolder, QStringLiteral("Lang\\") + language + QStringLiteral(".ini"));
}

QString ReadLanguageName(const QString& appFolder)
{
    return ReadIniValue(PreferencesPath(appFolder), QStringLiteral("Settings"), QStringLiteral("Lang"), {});
}

QString ReadInstalledVersion(const QString& appFolder)
{
    return ReadIniValue(PreferencesPath(appFolder), QStringLiteral("Settings"), QStringLiteral("Version"), {});
}

bool IsBuiltInEnglish(const QString& language) { return language.isEmpty() || language == QStringLiteral("English"); }

QString LanguageText(const QString& appFolder, const QString& language, const QString& section, const QString& key,
                     const QString& englishText)
{
    if (IsBuiltInEnglish(language))
        return englishText;
    return ReadIniValue(LanguageFilePath(appFolder, language), section, key, {});
}

QString WindowText(const QString& appFolder, const QString& language, const char* key, const char* englishText)
{
    return LanguageText(appFolder, language, QString::fromLatin1(kWindowSection), QString::fromLatin1(key),
                        QString::fromLatin1(englishText));
}

}  // namespace tarnwick
