#include "cli/RowWriters.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonValue>

#include "sync/SyncSession.h"

#include <algorithm>

namespace cli {

namespace {
QByteArray jsonString(const QString& s)
{
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


QByteArray tsv(const QStringList& header, const std::vector<QStringList>& rows)
{
    QByteArray out;
    auto line = [&out](const QStringList& fields) {
        QStringList clean;
        for (const QString& f : fields)
            clean << tsvField(f);
        out += clean.join(QLatin1Char('\t')).toUtf8();
        out += '\n';
    };
    line(header);
    for (const auto& r : rows)
        line(r);
    return out;
}

// Keys in column order, not sorted: a reader sees the list's order.
QByteArray json(const QStringList& keys, const std::vector<QStringList>& rows)
{
    QByteArray out = "[";
    for (size_t i = 0; i < rows.size(); ++i) {
        out += i == 0 ? "\n  {" : ",\n  {";
        for (qsizetype c = 0; c < keys.size(); ++c) {
            if (c > 0)
                out += ", ";
            out += jsonString(keys[c]) + ": " + jsonString(rows[i].value(c));
        }
        out += "}";
    }
    out += rows.empty() ? "]\n" : "\n]\n";
    return out;
}

QStringList archiveHeader()
{
    return QStringList{kArchiveNumberCaption, kArchivedAtCaption} + sf6::columnCaptions().mid(1);
}

std::vector<QStringList> archiveRows(const std::vector<sf6::ArchivedRecord>& records)
{
    std::vector<QStringList> out;
    out.reserve(records.size());
    for (const sf6::ArchivedRecord& r : records)
        out.push_back(QStringList{QString::number(r.id), r.archivedAt} + r.row().mid(1));
    return out;
}

const QStringList kSyncHeader{QStringLiteral("同步号"), QStringLiteral("同步时间"), QStringLiteral("程序"),
                              QStringLiteral("端口"), QStringLiteral("结果"), QStringLiteral("公布记录数"),
                              QStringLiteral("收到记录数"), QStringLiteral("新存档记录数")};

// People read the outcome in Chinese; programs reading JSON keep the stored English names.
enum class Outcome { Chinese, Stored };

std::vector<QStringList> syncRows(const std::vector<sf6::SyncEntry>& syncs, Outcome outcome)
{
    std::vector<QStringList> out;
    for (const sf6::SyncEntry& s : syncs)
        out.push_back({QString::number(s.id), s.syncedAt, s.program, s.port,
                       outcome == Outcome::Chinese ? sf6::syncEndText(s.outcome) : s.outcome,
                       QString::number(s.recordTotal),
                       QString::number(s.rowsReceived), QString::number(s.newRecords)});
    return out;
}
} // namespace

QByteArray rowsAsTsv(const std::vector<sf6::ListRow>& rows) { return tsv(sf6::columnCaptions(), rows); }
QByteArray rowsAsJson(const std::vector<sf6::ListRow>& rows) { return json(sf6::columnCaptions(), rows); }
QByteArray recordsAsTsv(const std::vector<sf6::ArchivedRecord>& r) { return tsv(archiveHeader(), archiveRows(r)); }
QByteArray recordsAsJson(const std::vector<sf6::ArchivedRecord>& r) { return json(archiveHeader(), archiveRows(r)); }
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

} // namespace cli
