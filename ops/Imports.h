#pragma once
// 工具 → 导入数据… and sf6cli archive import: the files imported in order,
// each whole or not at all, with one summary.

#include "import/Import.h"

namespace sf6::ops {

// Stops at the first file the archive fails on: the next would fail the same way.
import::ImportBatch importFiles(Archive& archive, const QStringList& files, const import::BatchProgress& progress = {});

} // namespace sf6::ops
