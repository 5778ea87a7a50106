#include "ui/Fonts.h"

#include "sync/Columns.h"

namespace ui {

QFont windowFont()
{
    QFont f;
    f.setFamilies({sf6::kListFontName, QStringLiteral("SimSun"), QStringLiteral("Noto Sans CJK SC")});
    f.setPointSizeF(sf6::kListFontPointSize);
    return f;
}

} // namespace ui
