// Translating the window's captions from the chosen language file.
#pragma once

namespace tarnwick {

class FrmMainUpdater;

// Under built-in English nothing changes. Otherwise every label and button, in the window's
// order, takes the value stored under its name in section "frmMainUpdater" of the language
// file, whatever it is (a missing key empties the caption). The window caption stays.
void ApplyLanguage(FrmMainUpdater& window);

}  // namespace tarnwick
