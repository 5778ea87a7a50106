// sf6cli archive audit: the audit trail, oldest first, as the window shows it.
#include "archive/AuditModel.h"
#include "cli/Commands.h"
#include "cli/Output.h"
#include "cli/RowWriters.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <memory>

namespace cli {

namespace {

// A stored JSON text as its value, so a reader of the JSON gets objects, not texts.
QJsonValue storedJson(const QString& text)
{
    if (text.isNull())
        return QJsonValue();
    const QJsonDocument d = QJsonDocument::fromJson(QByteArray("[") + text.toUtf8() + ']');
    return d.isArray() ? d.array().at(0) : QJsonValue(text);
}

} // namespace

int auditCommand(const QCommandLineParser& p, const sf6::Archive& archive)
{
    const bool tsv = p.isSet(QStringLiteral("tsv")), json = p.isSet(QStringLiteral("json"));
    struct Output {
        explicit Output(const QString& target) : out(target) {}
        StreamedOutput out;
        bool said = false;   // its failure is on standard error already
    };
    std::unique_ptr<Output> tsvOut, jsonOut;
    if (tsv || !json)
        tsvOut = std::make_unique<Output>(tsv ? p.value(QStringLiteral("tsv")) : kStdout);
    if (json)
        jsonOut = std::make_unique<Output>(p.value(QStringLiteral("json")));
    bool ok = true;
    for (Output* o : {tsvOut.get(), jsonOut.get()}) {
        if (!o)
            continue;
        if (const sf6::Status s = o->out.open(); !s) {
            err(s.message());
            ok = false;
            o->said = true;
        }
    }
    const QStringList& captions = sf6::auditCaptions();
    if (tsvOut) {
        QStringList header;
        for (const QString& c : captions)
            header << tsvField(c);
        tsvOut->out.write(header.join(u'\t').toUtf8() + '\n');
    }
    if (jsonOut)
        jsonOut->out.write("[");
    bool first = true;
    const sf6::Status listed = sf6::forEachAuditRow(archive, [&](const sf6::AuditRow& row) {
        const QStringList fields = sf6::auditFields(row);
        if (tsvOut && tsvOut->out.good()) {
            QStringList clean;
            for (const QString& f : fields)
                clean << tsvField(f);
            tsvOut->out.write(clean.join(u'\t').toUtf8() + '\n');
        }
        if (jsonOut && jsonOut->out.good()) {
            // The action as stored, as the other lists keep their stored names in JSON.
            QJsonObject o;
            for (qsizetype i = 0; i < captions.size(); ++i)
                o.insert(captions[i], fields[i]);
            o.insert(captions[sf6::AuditModel::kId], row.id);
            o.insert(captions[sf6::AuditModel::kAction], row.action);
            o.insert(captions[sf6::AuditModel::kOldValues], storedJson(row.oldValues));
            o.insert(captions[sf6::AuditModel::kNewValues], storedJson(row.newValues));
            jsonOut->out.write((first ? QByteArray("\n") : QByteArray(",\n"))
                               + QJsonDocument(o).toJson(QJsonDocument::Compact));
        }
        first = false;
        return (tsvOut && tsvOut->out.good()) || (jsonOut && jsonOut->out.good());
    });
    if (!listed) {
        err(listed.message());
        return kArchiveFailed;   // the files are dropped unwritten
    }
    if (jsonOut)
        jsonOut->out.write(first ? QByteArray("]\n") : QByteArray("\n]\n"));
    for (Output* o : {tsvOut.get(), jsonOut.get()}) {
        if (!o || o->said)
            continue;
        if (const sf6::Status s = o->out.commit(); !s) {
            err(s.message());
            ok = false;
        }
    }
    return ok ? kOk : kWriteFailed;
}

} // namespace cli
