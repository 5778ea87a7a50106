#include "import/SheetReaders.h"

#include "import/SourceFile.h"
#include "sync/Columns.h"

#include <cctype>
#include <cstring>

namespace sf6::import {

namespace {

constexpr char kUtf8Bom[] = "\xEF\xBB\xBF";
const QString kTsvCutShort = QStringLiteral("最后一行没有行尾：文件不完整（也许仍在写入或未复制完），这一行未导入");
const QString kJsonCutShort = QStringLiteral("最后一行不完整：文件不完整（也许仍在写入或未复制完），这一行未导入");

// An export's line is a few hundred bytes; a longer one is passed over
// without being kept.
constexpr qsizetype kMaxLineBytes = 64 * 1024;
constexpr qint64 kBlock = 1 << 16;

// The lines of a stream, each at most kMaxLineBytes. A longer line is
// reported as soon as it is too long; the next line starts after its end.
class LineReader {
public:
    explicit LineReader(QIODevice& in) : in_(in) {}
    struct Line {
        QByteArray text;
        bool ended = false;     // a line end followed it
        bool tooLong = false;   // longer than kMaxLineBytes: text is empty
    };
    // False at the end of the stream.
    bool next(Line& line)
    {
        line = Line();
        bool skipping = skipping_;
        skipping_ = false;
        for (;;) {
            if (pos_ >= buf_.size()) {
                buf_ = in_.read(kBlock);
                pos_ = 0;
                if (buf_.isEmpty())
                    return !line.text.isEmpty();
            }
            const qsizetype end = buf_.indexOf('\n', pos_);
            const qsizetype stop = end < 0 ? buf_.size() : end;
            if (!skipping)
                line.text.append(buf_.constData() + pos_, stop - pos_);
            pos_ = end < 0 ? stop : end + 1;
            if (skipping) {
                skipping = end < 0;
                continue;
            }
            if (line.text.size() > kMaxLineBytes) {
                line.text = QByteArray();
                line.tooLong = true;
                skipping_ = end < 0;
                return true;
            }
            if (end >= 0) {
                line.ended = true;
                return true;
            }
        }
    }

private:
    QIODevice& in_;
    QByteArray buf_;
    qsizetype pos_ = 0;
    bool skipping_ = false;   // the rest of a line too long is still to be passed over
};

Status readTsv(SourceFile& file, const SheetRows& sink)
{
    const double size = std::max<qint64>(file.expectedSize(), 1);
    int number = 0;
    std::vector<Cell> cells;
    LineReader lines(file);
    LineReader::Line line;
    while (lines.next(line)) {
        ++number;
        if (line.tooLong) {
            if (number == 1)
                return Status::failure(QStringLiteral("第一行长于%1字节，不是导出的列标题").arg(kMaxLineBytes));
            sink.refused(number, QStringLiteral("行长于%1字节，不是导出的行").arg(kMaxLineBytes));
            continue;
        }
        if (number == 1 && line.text.startsWith(kUtf8Bom))
            line.text.remove(0, 3);
        while (line.text.endsWith('\n') || line.text.endsWith('\r'))
            line.text.chop(1);
        if (line.text.isEmpty() && number > 1)
            continue;
        // Every row sf6cli writes ends its line: a last row without one is a
        // file cut short (still being written, a partial copy), and its last
        // number may be cut as well.
        if (!line.ended && number > 1) {
            sink.refused(number, kTsvCutShort);
            break;
        }
        cells.clear();
        for (const QByteArray& field : line.text.split('\t'))
            cells.push_back(Cell::ofReadText(QString::fromUtf8(field)));
        if (!sink.row(number, cells))
            break;
        if (number % 256 == 0)
            sink.progress(double(file.bytesTaken()) / size);
    }
    if (file.failed())
        return Status::failure(file.errorString());
    return Status::success();
}

// JSON as sf6cli writes it, an array of flat objects, read a value at a time:
// an export of any length costs the memory of one row. The first object's
// keys, in their order, are the header.
class JsonStream {
public:
    explicit JsonStream(SourceFile& in) : in_(in) {}

    bool failed() const { return failed_; }
    // The stream has come to its end.
    bool ended() const { return ended_; }
    double fraction() const
    {
        return in_.expectedSize() > 0 ? double(in_.bytesTaken()) / double(in_.expectedSize()) : 0;
    }

    char peek()
    {
        skipSpace();
        return fill() ? buf_[pos_] : '\0';
    }
    void skipBom()
    {
        for (int k = 0; k < 3 && fill(); ++k)
            ++pos_;
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
            bool overlong = false;
            if (!string(s, &overlong))
                return false;
            out = Cell::ofReadText(s);
            out.overlong = out.overlong || overlong;
            return true;
        }
        QByteArray word;
        bool overlong = false;
        while (fill() && std::strchr("+-0123456789.eEtruefalsn", buf_[pos_]) && buf_[pos_] != '\0') {
            if (word.size() < kMaxCellChars)
                word += buf_[pos_];
            else
                overlong = true;
            ++pos_;
        }
        if (overlong) {
            out = Cell::ofText(QString::fromLatin1(word));
            out.overlong = true;
            return true;
        }
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
    // A string longer than any cell is read to its end but kept only in part
    // (overlong says so; without it, such a string fails).
    bool string(QString& out, bool* overlong = nullptr)
    {
        if (!expect('"'))
            return false;
        QByteArray utf8;
        for (;;) {
            if (utf8.size() > kMaxCellBytes) {
                if (!overlong)
                    return fail();
                *overlong = true;
                utf8.truncate(kMaxCellBytes);
            }
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
    // Every character of a cell in UTF-8, and a little more.
    static constexpr qsizetype kMaxCellBytes = 4 * kMaxCellChars + 4;

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
        ended_ = buf_.isEmpty();
        return !ended_;
    }

    SourceFile& in_;
    QByteArray buf_;
    qsizetype pos_ = 0;
    bool failed_ = false;
    bool ended_ = false;
};

// No export's object has more keys (it has 53 to 55).
constexpr qsizetype kMaxFields = 1024;

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
        bool overlong = false;
        if (!json.string(key, &overlong) || !json.expect(':') || !json.value(value))
            return false;
        // A key no export has: kept in part, it is a header that differs or a field too many.
        keys << (overlong ? quotedText(key, true) : key);
        values.push_back(value);
        if (keys.size() > kMaxFields)
            return false;
        if (json.peek() == ',') {
            json.expect(',');
            continue;
        }
        return json.expect('}');
    }
}

Status readJson(SourceFile& file, const SheetRows& sink)
{
    const Status malformed = Status::failure(QStringLiteral("不是导出的TSV或JSON文件"));
    JsonStream json(file);
    if (file.head().startsWith(kUtf8Bom))
        json.skipBom();
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
        if (!readObject(json, keys, values)) {
            // The file ends inside an object: the rows before it are whole.
            if (json.ended() && object > 1) {
                sink.refused(object + 1, kJsonCutShort);
                return Status::success();
            }
            return malformed;
        }
        // Only what follows an object proves it whole: a file that ends here was cut short.
        const bool cut = json.peek() == '\0' && json.ended();
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
        if (cut) {
            sink.refused(object + 1, kJsonCutShort);
            return Status::success();
        }
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

Status readTextRows(SourceFile& file, const SheetRows& sink)
{
    QByteArray head = file.head();
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
