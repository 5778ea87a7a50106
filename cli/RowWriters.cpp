#include "cli/RowWriters.h"
#include <QJsonObject>
#include "cli/Output.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonValue>

#include "sync/SyncSession.h"

#include <algorithm>

namespace cli {

namespace {
QByteArray jsonString(const QString& s)
{
    // Plain printable ASCII needs no escape (most fields are numbers and
    // dates): quoted as it is, the same bytes as below at a fraction of the cost.
    const bool plain = std::all_of(s.begin(), s.end(), [](QChar c) {
        return c.unicode() >= 0x20 && c.unicode() < 0x7f && c != u'"' && c != u'\\' && c != u'/';
    });
    if (plain)
        return '"' + s.toLatin1() + '"';
    // QJsonValue quotes and escapes exactly as JSON wants.
    QByteArray doc = QJsonDocument(QJsonArray{s}).toJson(QJsonDocument::Compact);
    return doc.mid(1, doc.size() - 2);
}


} // namespace

QString tsvField(QString s)
{
    // A tab or line break inside a text would shift the columns; a reader may
    // break lines at any of these.
    for (const char16_t c : {u'\t', u'\n', u'\r', u'\v', u'\f', u'\u0085', u'\u2028', u'\u2029'})
        s.replace(QChar(c), QLatin1Char(' '));
    return s;
}

namespace {

int displayWidth(const QString& s)
{
    int w = 0;
    for (QChar c : s)
        w += c.unicode() >= 0x1100 ? 2 : 1;   // CJK takes two terminal cells
    return w;
}


QByteArray tsvLine(const QStringList& fields)
{
    QStringList clean;
    for (const QString& f : fields)
        clean << tsvField(f);
    return clean.join(QLatin1Char('\t')).toUtf8() + '\n';
}

QByteArray tsv(const QStringList& header, const std::vector<QStringList>& rows)
{
    QByteArray out = tsvLine(header);
    for (const auto& r : rows)
        out += tsvLine(r);
    return out;
}

// Keys in column order, not sorted: a reader sees the list's order.
QByteArray jsonHead() { return "["; }
// Each key quoted once, followed by its colon: the same for every row.
QByteArrayList jsonKeys(const QStringList& keys)
{
    QByteArrayList out;
    for (const QString& k : keys)
        out << jsonString(k) + ": ";
    return out;
}

QByteArray jsonRow(const QByteArrayList& keys, const QStringList& row, bool first)
{
    QByteArray out = first ? "\n  {" : ",\n  {";
    for (qsizetype c = 0; c < keys.size(); ++c) {
        if (c > 0)
            out += ", ";
        out += keys[c] + jsonString(row.value(c));
    }
    out += "}";
    return out;
}
QByteArray jsonTail(bool empty) { return empty ? "]\n" : "\n]\n"; }

QByteArray json(const QStringList& keys, const std::vector<QStringList>& rows)
{
    QByteArray out = jsonHead();
    const QByteArrayList quoted = jsonKeys(keys);
    for (size_t i = 0; i < rows.size(); ++i)
        out += jsonRow(quoted, rows[i], i == 0);
    out += jsonTail(rows.empty());
    return out;
}

QStringList archiveHeader()
{
    return QStringList{kArchiveNumberCaption, kArchivedAtCaption} + sf6::columnCaptions().mid(1);
}

QStringList archiveRow(const sf6::ArchivedRecord& r)
{
    return QStringList{QString::number(r.id), r.archivedAt} + r.row().mid(1);
}

std::vector<QStringList> archiveRows(const std::vector<sf6::ArchivedRecord>& records)
{
    std::vector<QStringList> out;
    out.reserve(records.size());
    for (const sf6::ArchivedRecord& r : records)
        out.push_back(archiveRow(r));
    return out;
}

const QStringList kSyncHeader{QStringLiteral("同步号"), QStringLiteral("同步时间"), QStringLiteral("程序"),
                              QStringLiteral("端口"), QStringLiteral("结果"), QStringLiteral("公布记录数"),
                              QStringLiteral("收到记录数"), QStringLiteral("新存档记录数"),
                              QStringLiteral("文件SHA-256"), QStringLiteral("无法导入行数")};

// People read the outcome in Chinese; programs reading JSON keep the stored English names.
enum class Outcome { Chinese, Stored };

std::vector<QStringList> syncRows(const std::vector<sf6::SyncEntry>& syncs, Outcome outcome)
{
    std::vector<QStringList> out;
    for (const sf6::SyncEntry& s : syncs)
        out.push_back({QString::number(s.id), s.syncedAt, s.program, s.port,
                       outcome == Outcome::Chinese ? sf6::syncEndText(s.outcome) : s.outcome,
                       QString::number(s.recordTotal),
                       QString::number(s.rowsReceived), QString::number(s.newRecords), s.fileSha256,
                       QString::number(s.rowsRefused)});
    return out;
}
} // namespace

QByteArray rowsAsTsv(const std::vector<sf6::ListRow>& rows) { return tsv(sf6::columnCaptions(), rows); }
QByteArray rowsAsJson(const std::vector<sf6::ListRow>& rows) { return json(sf6::columnCaptions(), rows); }
QByteArray recordsAsTsv(const std::vector<sf6::ArchivedRecord>& r) { return tsv(archiveHeader(), archiveRows(r)); }
QByteArray recordsAsJson(const std::vector<sf6::ArchivedRecord>& r) { return json(archiveHeader(), archiveRows(r)); }

QByteArray RecordsText::head() const { return format_ == Tsv ? tsvLine(archiveHeader()) : jsonHead(); }

QByteArray RecordsText::row(const sf6::ArchivedRecord& record)
{
    const QStringList fields = archiveRow(record);
    if (format_ == Tsv)
        return tsvLine(fields);
    static const QByteArrayList keys = jsonKeys(archiveHeader());
    return jsonRow(keys, fields, rows_++ == 0);
}

QByteArray RecordsText::tail() const { return format_ == Tsv ? QByteArray() : jsonTail(rows_ == 0); }

QByteArray syncsAsTsv(const std::vector<sf6::SyncEntry>& s) { return tsv(kSyncHeader, syncRows(s, Outcome::Chinese)); }
QByteArray syncsAsJson(const std::vector<sf6::SyncEntry>& s) { return json(kSyncHeader, syncRows(s, Outcome::Stored)); }


QByteArray rowsAsTable(const std::vector<sf6::ListRow>& rows, int columns)
{
    const QStringList& captions = sf6::columnCaptions();
    std::vector<int> width(size_t(columns), 0);
    for (int c = 0; c < columns; ++c) {
        width[size_t(c)] = displayWidth(captions[c]);
        for (const auto& r : rows)
            width[size_t(c)] = std::max(width[size_t(c)], displayWidth(r.value(c)));
    }
    QByteArray out;
    auto line = [&](const QStringList& fields) {
        QString l;
        for (int c = 0; c < columns; ++c) {
            const QString f = fields.value(c);
            l += f + QString(width[size_t(c)] - displayWidth(f) + 2, QLatin1Char(' '));
        }
        out += l.trimmed().toUtf8() + '\n';
    };
    line(captions);
    for (const auto& r : rows)
        line(r);
    return out;
}

int writeTable(const QCommandLineParser& p, const QStringList& header, const std::vector<QStringList>& rows)
{
    QByteArray tsv = header.join(u'\t').toUtf8() + '\n';
    QJsonArray json;
    for (const QStringList& row : rows) {
        QStringList clean;
        for (const QString& f : row)
            clean << tsvField(f);
        tsv += clean.join(u'\t').toUtf8() + '\n';
        QJsonObject o;
        for (qsizetype i = 0; i < header.size(); ++i)
            o.insert(header[i], row.value(i));
        json.append(o);
    }
    const bool wantJson = p.isSet(QStringLiteral("json"));
    const bool wantTsv = p.isSet(QStringLiteral("tsv")) || !wantJson;
    bool ok = true;
    auto write = [&ok](const QString& target, const QByteArray& bytes) {
        if (const sf6::Status s = writeOutput(target, bytes); !s) {
            err(s.message());
            ok = false;
        }
    };
    if (wantTsv)
        write(p.isSet(QStringLiteral("tsv")) ? p.value(QStringLiteral("tsv")) : kStdout, tsv);
    if (wantJson)
        write(p.value(QStringLiteral("json")), QJsonDocument(json).toJson());
    return ok ? kOk : kWriteFailed;
}

} // namespace cli
