#include "ops/Links.h"

namespace sf6::ops {

Status linkRecords(Archive& archive, const std::vector<int>& recordIds, const QString& serial, const QString& source)
{
    if (archive.readOnly())
        return Status::failure(archive.readOnlyReason());
    return sf6::linkRecords(archive, recordIds, serial, source);
}

Expected<int> unlinkRecords(Archive& archive, const std::vector<int>& recordIds, const QString& source)
{
    if (archive.readOnly())
        return Status::failure(archive.readOnlyReason());
    return sf6::unlinkRecords(archive, recordIds, source);
}

Expected<JudgeResult> judgeRecord(Archive& archive, int recordId, bool keep, const QString& standardSerial)
{
    JudgeResult out;
    const bool store = keep && !archive.readOnly();
    if (!keep)
        out.notKept = QStringLiteral("判定不会存档（--no-store）。");
    else if (!store)
        out.notKept = QStringLiteral("判定不会存档：") + archive.readOnlyReason();
    auto judged = sf6::judgeRecord(archive, recordId, store, standardSerial);
    if (!judged && store) {
        // Kept it could not be; given it still is.
        out.notKept = QStringLiteral("判定不会存档：") + judged.error();
        out.keepFailed = true;
        judged = sf6::judgeRecord(archive, recordId, false, standardSerial);
    }
    if (!judged) {
        if (out.keepFailed)
            return Status::failure(out.notKept);   // what failed first, said once
        return Status::failure(out.notKept.isEmpty() ? judged.error() : out.notKept + u'\n' + judged.error());
    }
    out.judgement = judged->judgement;
    out.whyNot = judged->whyNot;
    return out;
}

} // namespace sf6::ops
