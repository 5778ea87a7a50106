#include "ops/Exports.h"

#include "export/Workbook.h"

namespace sf6::ops {

namespace {
const QString kStopped = QStringLiteral("已取消");
} // namespace

RecordsExported exportRecords(const Archive& archive, const ArchiveFilter& filter, const QString& file,
                              const ExportStep& step)
{
    RecordsExported out;
    const RowFeed feed = [&](const AddRow& add) {
        out.read = forEachRecord(archive, filter, [&](const ArchivedRecord& r) {
            add(r.row());   // column A: the archive number
            ++out.rows;
            if (step && !step(out.rows)) {
                out.stopped = true;
                return false;
            }
            return true;
        });
        return out.stopped ? Status::failure(kStopped) : out.read;
    };
    const Status s = writeWorkbook(listWorkbook({}), feed, file);
    if (out.read.ok() && !out.stopped)
        out.written = s;
    return out;
}

} // namespace sf6::ops
