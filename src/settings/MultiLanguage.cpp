#include "settings/MultiLanguage.h"

#include "app/FrmMainUpdater.h"
#include "settings/IniFile.h"
#include "settings/Language.h"

namespace tarnwick {

void ApplyLanguage(FrmMainUpdater& window)
{
    const QString language = ReadLanguageName(window.AppFolder());
    if (IsBuiltInEnglish(language))
        return;
    const QString file = LanguageFilePath(window.AppFolder(), language);
    const QString section = window.objectName();
    for (QObject* control : window.Controls()) {
        // Controls without a caption (bars, list, line, timer, transfers) are left alone.
        if (HasCaption(control))
            SetCaption(control, ReadIniValue(file, section, control->objectName(), {}));
    }
}

}  // namespace tarnwick
