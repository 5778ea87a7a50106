#include "import/SheetReaders.h"

#include "sync/Columns.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace sf6::import {

namespace {

constexpr char kUtf8Bom[] = "\xEF\xBB\xBF";

Status readTsv(QFile& file, const SheetRows& sink)
{
    const double size = std::max<qint64>(file.size(), 1);
    int number = 0;
    std::vector<Cell> cells;
    while (!file.atEnd()) {
        QByteArray line = file.readLine();
        ++number;
        if (number == 1 && line.startsWith(kUtf8Bom))
            line.remove(0, 3);
        while (line.endsWith('\n') || line.endsWith('\r'))
            line.chop(1);
        if (line.isEmpty() && number > 1)
            continue;
        cells.clear();
        for (const QByteArray& field : line.split('\t'))
            cells.push_back(Cell::ofText(QString::fromUtf8(field)));
        if (!sink.row(number, cells))
            break;
        if (number % 256 == 0)
            sink.progress(double(file.pos()) / size);
    }
    if (file.error() != QFileDevice::NoError)
        return Status::failure(file.errorString());
    return Status::success();
}

// The keys in the header's order: QJsonObject keeps them sorted, so the order
// is the one the captions of the header they name would have.
QStringList orderedKeys(const QJsonObject& o)
{
    QStringList order;
    if (o.contains(QStringLiteral("档案号"))) {
        order << QStringLiteral("档案号");
        if (o.contains(QStringLiteral("存档时间")))
            order << QStringLiteral("存档时间");
    } else {
        order << columnCaptions()[kColNumber];
    }
    order += columnCaptions().mid(1);
    QStringList out;
    for (const QString& k : order)
        if (o.contains(k))
            out << k;
    for (const QString& k : o.keys())
        if (!out.contains(k))
            out << k;
    return out;
}

Cell cellOf(const QJsonValue& v)
{
    if (v.isDouble())
        return Cell::ofNumber(v.toDouble());
    if (v.isString())
        return Cell::ofText(v.toString());
    return Cell::ofText(QString());
}

Status readJson(QFile& file, const SheetRows& sink)
{
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(file.readAll(), &error);
    if (doc.isNull() || !doc.isArray())
        return Status::failure(QStringLiteral("不是导出的TSV或JSON文件"));
    const QJsonArray rows = doc.array();
    // An empty list is still an export: sf6cli writes "[]".
    QStringList keys = rows.isEmpty() ? columnCaptions() : orderedKeys(rows.first().toObject());
    std::vector<Cell> header;
    for (const QString& k : keys)
        header.push_back(Cell::ofText(k));
    if (!sink.row(1, header))
        return Status::success();
    std::vector<Cell> cells;
    for (qsizetype i = 0; i < rows.size(); ++i) {
        const QJsonObject o = rows[i].toObject();
        cells.clear();
        for (const QString& k : keys)
            cells.push_back(o.contains(k) ? cellOf(o.value(k)) : Cell::ofText(QString()));
        // A key the header does not name is a field too many.
        for (auto it = o.begin(); it != o.end(); ++it)
            if (!keys.contains(it.key()))
                cells.push_back(Cell::ofText(it.key()));
        // Row numbers as the lines of sf6cli's JSON: one object a line after "[".
        if (!sink.row(int(i) + 2, cells))
            break;
        if (i % 256 == 0)
            sink.progress(double(i) / double(rows.size()));
    }
    return Status::success();
}

} // namespace

Status readTextRows(const QString& path, const SheetRows& sink)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return Status::failure(QStringLiteral("无法打开：%1").arg(file.errorString()));
    QByteArray head = file.peek(64);
    if (head.startsWith(kUtf8Bom))
        head.remove(0, 3);
    if (head.trimmed().startsWith('['))
        return readJson(file, sink);
    return readTsv(file, sink);
}

FileFormat formatOf(const QByteArray& head)
{
    static const QByteArray ole2("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8);
    static const QByteArray zip("PK\x03\x04", 4);
    if (head.startsWith(ole2))
        return FileFormat::Xls;
    if (head.startsWith(zip))
        return FileFormat::Xlsx;
    return FileFormat::Text;
}

} // namespace sf6::import
