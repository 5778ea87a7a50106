#include "cli/RowWriters.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonValue>

#include <algorithm>

namespace cli {

namespace {
QByteArray jsonString(const QString& s)
{
    // QJsonValue quotes and escapes exactly as JSON wants.
    QByteArray doc = QJsonDocument(QJsonArray{s}).toJson(QJsonDocument::Compact);
    return doc.mid(1, doc.size() - 2);
}

QString sanitizedField(QString s)
{
    // A tab or line break inside a text would shift the columns.
    s.replace(QLatin1Char('\t'), QLatin1Char(' '));
    s.replace(QLatin1Char('\n'), QLatin1Char(' '));
    s.replace(QLatin1Char('\r'), QLatin1Char(' '));
    return s;
}

int displayWidth(const QString& s)
{
    int w = 0;
    for (QChar c : s)
        w += c.unicode() >= 0x1100 ? 2 : 1;   // CJK takes two terminal cells
    return w;
}
} // namespace

QByteArray rowsAsTsv(const std::vector<sf6::ListRow>& rows)
{
    QByteArray out;
    auto line = [&out](const QStringList& fields) {
        QStringList clean;
        for (const QString& f : fields)
            clean << sanitizedField(f);
        out += clean.join(QLatin1Char('\t')).toUtf8();
        out += '\n';
    };
    line(sf6::columnCaptions());
    for (const auto& r : rows)
        line(r);
    return out;
}

QByteArray rowsAsJson(const std::vector<sf6::ListRow>& rows)
{
    const QStringList& captions = sf6::columnCaptions();
    QByteArray out = "[";
    for (size_t i = 0; i < rows.size(); ++i) {
        out += i == 0 ? "\n  {" : ",\n  {";
        for (int c = 0; c < sf6::kColumnCount; ++c) {
            if (c > 0)
                out += ", ";
            out += jsonString(captions[c]) + ": " + jsonString(rows[i].value(c));
        }
        out += "}";
    }
    out += rows.empty() ? "]\n" : "\n]\n";
    return out;
}

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
