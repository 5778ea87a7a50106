#pragma once
// Synced rows as tab-separated text and as JSON, columns in list order.

#include "sync/Columns.h"

#include <QByteArray>

#include <vector>

namespace cli {

QByteArray rowsAsTsv(const std::vector<sf6::ListRow>& rows);
QByteArray rowsAsJson(const std::vector<sf6::ListRow>& rows);
// A compact table of the first columns, for people reading a terminal.
QByteArray rowsAsTable(const std::vector<sf6::ListRow>& rows, int columns);

} // namespace cli
