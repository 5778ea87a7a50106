#pragma once
// The windows' font: "MS Sans Serif" 8 pt as designed, with Chinese faces
// behind it for the glyphs it lacks (it has none on most systems).

#include <QFont>

namespace ui {

QFont windowFont();

} // namespace ui
