#include "archive/ArchiveWindows.h"

#include "ui/MessageBox.h"

namespace sf6 {

std::shared_ptr<Archive> archiveForWindow(const ArchiveLocation& location, QWidget* parent, Archive::Access access)
{
    auto archive = Archive::open(location, access);
    if (!archive) {
        ui::MessageBoxes::show(archive.error(), parent);
        return nullptr;
    }
    return std::move(*archive);
}

} // namespace sf6
