#pragma once
// What every window showing the archive does first: open it, or tell the user
// why not (the window then does not open).

#include "archive/Archive.h"

#include <memory>

class QWidget;

namespace sf6 {

std::shared_ptr<Archive> archiveForWindow(const ArchiveLocation& location, QWidget* parent,
                                          Archive::Access access = Archive::Access::Write);

} // namespace sf6
