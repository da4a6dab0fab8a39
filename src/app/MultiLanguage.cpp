// Translating the window's captions from the chosen language file.
#include "app/FrmMainUpdater.h"

#include "settings/IniFile.h"
#include "settings/Language.h"

namespace tarnwick {

void FrmMainUpdater::ApplyLanguage()
{
    const QString language = ReadLanguageName(AppFolder());
    if (IsBuiltInEnglish(language))
        return;
    const QString file = LanguageFilePath(AppFolder(), language);
    const QString section = objectName();
    for (QObject* control : Controls()) {
        // Controls without a caption (bars, list, line, timer, transfers) are left alone.
        if (HasCaption(control))
            SetCaption(control, ReadIniValue(file, section, control->objectName(), {}));
    }
}

}  // namespace tarnwick
