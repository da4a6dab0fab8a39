// Translating the window's captions from the chosen language file.
#include "app/FrmMainUpdater.h"

#include "settings/IniFile.h"
#include "settings/Language.h"

#include <QWidget>

namespace tarnwick {

void FrmMainUpdater::ApplyLanguage()
{
    const QString language = ReadLanguageName(AppFolder());
    if (IsBuiltInEnglish(language))
        return;
    const QString file = LanguageFilePath(AppFolder(), language);
    const QString section = objectName();
    for (QObject* control : Controls()) {
        const QString text = ReadIniValue(file, section, control->objectName(), {});
        if (HasCaption(control)) {
            SetCaption(control, text);
            continue;
        }
        // The list and the bars have no caption, but a name for screen readers: it too is
        // taken from the key of the control's name where the file has one, and stays English
        // where it has none. The line, the timer and the transfers are left alone.
        if (auto* widget = qobject_cast<QWidget*>(control);
            widget && !widget->accessibleName().isEmpty() && !text.isEmpty())
            widget->setAccessibleName(text);
    }
}

}  // namespace tarnwick
