// The window's picture (the product logo in the top-left corner) and its icon, drawn as
// vector art so that no image files need to ship with the updater.
#pragma once

#include <QIcon>
#include <QPixmap>

namespace tarnwick {

// 300 x 200, transparent but for the logo in the top-left 160 x 139 pixels.
QPixmap DrawLogoPicture();
// 48 x 48.
QIcon DrawWindowIcon();

}  // namespace tarnwick
