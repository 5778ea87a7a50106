#include "import/SheetReaders.h"

#include "sync/Columns.h"

#include <QFile>

#include <cctype>
#include <cstring>

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
        return Status::failure(ErrorCode::NotAnExport, file.errorString());
    return Status::success();
}

// JSON as sf6cli writes it, an array of flat objects, read a value at a time:
// an export of any length costs the memory of one row. The first object's
// keys, in their order, are the header.
class JsonStream {
public:
    explicit JsonStream(QIODevice& in) : in_(in) {}

    bool failed() const { return failed_; }
    double fraction() const { return in_.size() > 0 ? double(in_.pos()) / double(in_.size()) : 0; }

    char peek()
    {
        skipSpace();
        return fill() ? buf_[pos_] : '\0';
    }
    bool expect(char c)
    {
        if (peek() != c)
            return fail();
        ++pos_;
        return true;
    }
    // The next value as a cell: a string is a text, a number a number.
    bool value(Cell& out)
    {
        const char c = peek();
        if (c == '"') {
            QString s;
            if (!string(s))
                return false;
            out = Cell::ofText(s);
            return true;
        }
        QByteArray word;
        while (fill() && std::strchr("+-0123456789.eEtruefalsn", buf_[pos_]) && buf_[pos_] != '\0')
            word += buf_[pos_++];
        if (word == "null" || word == "true" || word == "false") {
            out = Cell::ofText(word == "null" ? QString() : QString::fromLatin1(word));
            return true;
        }
        bool ok = false;
        const double d = word.toDouble(&ok);
        if (!ok)
            return fail();
        out = Cell::ofNumber(d);
        return true;
    }
    bool string(QString& out)
    {
        if (!expect('"'))
            return false;
        QByteArray utf8;
        for (;;) {
            if (!fill())
                return fail();
            const char c = buf_[pos_++];
            if (c == '"')
                break;
            if (c != '\\') {
                utf8 += c;
                continue;
            }
            if (!fill())
                return fail();
            const char e = buf_[pos_++];
            switch (e) {
            case '"': case '\\': case '/': utf8 += e; break;
            case 'b': utf8 += '\b'; break;
            case 'f': utf8 += '\f'; break;
            case 'n': utf8 += '\n'; break;
            case 'r': utf8 += '\r'; break;
            case 't': utf8 += '\t'; break;
            case 'u': {
                char32_t u = 0;
                if (!hex4(u))
                    return false;
                // A pair of escapes for a character beyond the basic plane.
                if (QChar::isHighSurrogate(u) && fill() && buf_[pos_] == '\\') {
                    pos_ += 1;
                    char32_t low = 0;
                    if (!fill() || buf_[pos_++] != 'u' || !hex4(low) || !QChar::isLowSurrogate(low))
                        return fail();
                    u = QChar::surrogateToUcs4(char16_t(u), char16_t(low));
                }
                utf8 += QString::fromUcs4(&u, 1).toUtf8();
                break;
            }
            default: return fail();
            }
        }
        out = QString::fromUtf8(utf8);
        return true;
    }

private:
    bool fail()
    {
        failed_ = true;
        return false;
    }
    bool hex4(char32_t& u)
    {
        for (int k = 0; k < 4; ++k) {
            if (!fill())
                return fail();
            const int digit = QByteArrayView("0123456789abcdef").indexOf(char(std::tolower(uchar(buf_[pos_++]))));
            if (digit < 0)
                return fail();
            u = u * 16 + char32_t(digit);
        }
        return true;
    }
    void skipSpace()
    {
        while (fill() && std::strchr(" \t\r\n", buf_[pos_]) && buf_[pos_] != '\0')
            ++pos_;
    }
    bool fill()
    {
        if (pos_ < buf_.size())
            return true;
        buf_ = in_.read(kBlock);
        pos_ = 0;
        return !buf_.isEmpty();
    }

    static constexpr qint64 kBlock = 1 << 16;
    QIODevice& in_;
    QByteArray buf_;
    qsizetype pos_ = 0;
    bool failed_ = false;
};

// One object's keys and values in its order.
bool readObject(JsonStream& json, QStringList& keys, std::vector<Cell>& values)
{
    keys.clear();
    values.clear();
    if (!json.expect('{'))
        return false;
    if (json.peek() == '}')
        return json.expect('}');
    for (;;) {
        QString key;
        Cell value;
        if (!json.string(key) || !json.expect(':') || !json.value(value))
            return false;
        keys << key;
        values.push_back(value);
        if (json.peek() == ',') {
            json.expect(',');
            continue;
        }
        return json.expect('}');
    }
}

Status readJson(QFile& file, const SheetRows& sink)
{
    const Status malformed = Status::failure(ErrorCode::NotAnExport, QStringLiteral("不是导出的TSV或JSON文件"));
    if (file.peek(3) == kUtf8Bom)
        file.read(3);
    JsonStream json(file);
    if (!json.expect('['))
        return malformed;
    QStringList header, keys;
    std::vector<Cell> values, cells;
    if (json.peek() == ']') {
        // An empty list is still an export: sf6cli writes "[]".
        for (const QString& c : columnCaptions())
            cells.push_back(Cell::ofText(c));
        sink.row(1, cells);
        return Status::success();
    }
    for (int object = 1;; ++object) {
        if (!readObject(json, keys, values))
            return malformed;
        if (object == 1) {
            header = keys;
            cells.clear();
            for (const QString& k : header)
                cells.push_back(Cell::ofText(k));
            if (!sink.row(1, cells))
                return Status::success();
        }
        // The header's order, whatever this object's; a key it does not name is a field too many.
        if (keys == header) {
            cells.swap(values);
        } else {
            cells.assign(size_t(header.size()), Cell());
            for (qsizetype k = 0; k < keys.size(); ++k) {
                const qsizetype at = header.indexOf(keys[k]);
                if (at >= 0)
                    cells[size_t(at)] = values[size_t(k)];
                else
                    cells.push_back(Cell::ofText(keys[k]));
            }
        }
        // Row numbers as the lines of sf6cli's JSON: one object a line after "[".
        if (!sink.row(object + 1, cells))
            return Status::success();
        if (object % 256 == 0)
            sink.progress(json.fraction());
        if (json.peek() == ',') {
            json.expect(',');
            continue;
        }
        if (!json.expect(']') || json.peek() != '\0')
            return malformed;
        return Status::success();
    }
}

} // namespace

Status readTextRows(const QString& path, const SheetRows& sink)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return Status::failure(ErrorCode::NotAnExport, QStringLiteral("无法打开：%1").arg(file.errorString()));
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
