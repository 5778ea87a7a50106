#include "import/SheetReaders.h"

#ifdef SF6_HAVE_MINIZIP
#include <QFile>
#include <QHash>
#include <QXmlStreamReader>
#include <unzip.h>
#endif

namespace sf6::import {

#ifndef SF6_HAVE_MINIZIP

Status readXlsxRows(const QString&, const SheetRows&)
{
    return Status::failure(ErrorCode::NotAnExport, QStringLiteral("这一版本的程序不能读取.xlsx工作簿"));
}

#else

namespace {

const QString kNotWorkbook = QStringLiteral("不是可读的.xlsx工作簿");

// minizip reads through QFile: names in any script open on every platform.
voidpf openFile(voidpf, const void* name, int)
{
    auto* file = new QFile(*static_cast<const QString*>(name));
    if (!file->open(QIODevice::ReadOnly)) {
        delete file;
        return nullptr;
    }
    return file;
}
uLong readFile(voidpf, voidpf stream, void* buf, uLong size)
{
    return uLong(std::max<qint64>(0, static_cast<QFile*>(stream)->read(static_cast<char*>(buf), qint64(size))));
}
uLong writeFile(voidpf, voidpf, const void*, uLong) { return 0; }
ZPOS64_T tellFile(voidpf, voidpf stream) { return ZPOS64_T(static_cast<QFile*>(stream)->pos()); }
long seekFile(voidpf, voidpf stream, ZPOS64_T offset, int origin)
{
    auto* file = static_cast<QFile*>(stream);
    qint64 to = qint64(offset);
    if (origin == ZLIB_FILEFUNC_SEEK_CUR)
        to += file->pos();
    else if (origin == ZLIB_FILEFUNC_SEEK_END)
        to += file->size();
    return file->seek(to) ? 0 : -1;
}
int closeFile(voidpf, voidpf stream)
{
    delete static_cast<QFile*>(stream);
    return 0;
}
int errorFile(voidpf, voidpf stream) { return static_cast<QFile*>(stream)->error() == QFileDevice::NoError ? 0 : 1; }

// One entry of the zip as a stream the XML reader pulls from: no entry is
// ever held whole.
class ZipEntry : public QIODevice {
public:
    ZipEntry(unzFile zip, qint64 size) : zip_(zip), size_(size) { open(QIODevice::ReadOnly); }
    ~ZipEntry() override { unzCloseCurrentFile(zip_); }
    bool isSequential() const override { return true; }
    double fraction() const { return size_ > 0 ? double(read_) / double(size_) : 0; }
    bool failed() const { return failed_; }

protected:
    qint64 readData(char* data, qint64 max) override
    {
        const int n = unzReadCurrentFile(zip_, data, unsigned(std::min<qint64>(max, 1 << 20)));
        if (n < 0) {
            failed_ = true;
            return -1;
        }
        read_ += n;
        return n;
    }
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    unzFile zip_;
    qint64 size_;
    qint64 read_ = 0;
    bool failed_ = false;
};

class Zip {
public:
    explicit Zip(const QString& path) : path_(path)
    {
        zlib_filefunc64_def f{};
        f.zopen64_file = openFile;
        f.zread_file = readFile;
        f.zwrite_file = writeFile;
        f.ztell64_file = tellFile;
        f.zseek64_file = seekFile;
        f.zclose_file = closeFile;
        f.zerror_file = errorFile;
        zip_ = unzOpen2_64(&path_, &f);
    }
    ~Zip()
    {
        if (zip_)
            unzClose(zip_);
    }
    bool ok() const { return zip_ != nullptr; }
    // The entry, ready to read; nullptr when the zip has none of that name.
    std::unique_ptr<ZipEntry> entry(const QString& name)
    {
        if (unzLocateFile(zip_, name.toUtf8().constData(), 1) != UNZ_OK)
            return nullptr;
        unz_file_info64 info{};
        if (unzGetCurrentFileInfo64(zip_, &info, nullptr, 0, nullptr, 0, nullptr, 0) != UNZ_OK
            || unzOpenCurrentFile(zip_) != UNZ_OK)
            return nullptr;
        return std::make_unique<ZipEntry>(zip_, qint64(info.uncompressed_size));
    }

private:
    QString path_;
    unzFile zip_ = nullptr;
};

// A part's target relative to xl/ or absolute from the package root.
QString partPath(const QString& target)
{
    return target.startsWith(u'/') ? target.mid(1) : QStringLiteral("xl/") + target;
}

// <workbookPr date1904="..."/>, an xsd:boolean; absent is the 1900 system.
DateSystem dateSystemOf(const QXmlStreamAttributes& a)
{
    if (!a.hasAttribute(QLatin1String("date1904")))
        return DateSystem::From1900;
    const auto v = a.value(QLatin1String("date1904")).trimmed();
    if (v == u"1" || v == u"true")
        return DateSystem::From1904;
    if (v == u"0" || v == u"false")
        return DateSystem::From1900;
    return DateSystem::Unknown;
}

// The first sheet's part: workbook.xml names it, its relations say where it is.
QString firstSheetPart(Zip& zip, QString& sharedStrings, DateSystem& dates)
{
    QString firstId;
    if (auto e = zip.entry(QStringLiteral("xl/workbook.xml"))) {
        QXmlStreamReader xml(e.get());
        while (!xml.atEnd() && firstId.isEmpty()) {
            if (xml.readNext() != QXmlStreamReader::StartElement)
                continue;
            if (xml.name() == u"workbookPr")
                dates = dateSystemOf(xml.attributes());
            if (xml.name() != u"sheet")
                continue;
            for (const auto& a : xml.attributes())
                if (a.name() == u"id")
                    firstId = a.value().toString();
        }
    }
    QString sheet;
    if (auto e = zip.entry(QStringLiteral("xl/_rels/workbook.xml.rels"))) {
        QXmlStreamReader xml(e.get());
        while (!xml.atEnd()) {
            if (xml.readNext() != QXmlStreamReader::StartElement || xml.name() != u"Relationship")
                continue;
            const auto a = xml.attributes();
            if (!firstId.isEmpty() && a.value(QLatin1String("Id")) == firstId)
                sheet = partPath(a.value(QLatin1String("Target")).toString());
            if (a.value(QLatin1String("Type")).endsWith(u"/sharedStrings"))
                sharedStrings = partPath(a.value(QLatin1String("Target")).toString());
        }
    }
    return sheet;
}

// The texts of the shared strings, rich runs joined.
bool readSharedStrings(Zip& zip, const QString& part, QStringList& out)
{
    auto e = zip.entry(part);
    if (!e)
        return false;
    QXmlStreamReader xml(e.get());
    QString current;
    bool inString = false;
    while (!xml.atEnd()) {
        const auto token = xml.readNext();
        if (token == QXmlStreamReader::StartElement) {
            if (xml.name() == u"si") {
                inString = true;
                current.clear();
            } else if (xml.name() == u"t" && inString) {
                current += xml.readElementText();
            } else if (xml.name() == u"rPh") {
                xml.skipCurrentElement();   // phonetic hints are not the cell's text
            }
        } else if (token == QXmlStreamReader::EndElement && xml.name() == u"si") {
            out << current;
            inString = false;
        }
    }
    return !xml.hasError();
}

// "BA7" -> column 52 (from 0); -1 when there is no letter.
int columnOf(QStringView ref)
{
    int column = 0, letters = 0;
    for (QChar c : ref) {
        if (c < u'A' || c > u'Z')
            break;
        column = column * 26 + (c.unicode() - u'A' + 1);
        ++letters;
    }
    return letters > 0 ? column - 1 : -1;
}

int rowOf(QStringView ref)
{
    qsizetype i = 0;
    while (i < ref.size() && ref[i] >= u'A' && ref[i] <= u'Z')
        ++i;
    return ref.mid(i).toInt();
}

constexpr int kMaxColumns = 16384;   // XFD, the last column a sheet has

} // namespace

Status readXlsxRows(const QString& path, const SheetRows& sink)
{
    Zip zip(path);
    if (!zip.ok())
        return Status::failure(ErrorCode::NotAnExport, kNotWorkbook);
    QString sharedPart;
    DateSystem dates = DateSystem::From1900;
    const QString sheetPart = firstSheetPart(zip, sharedPart, dates);
    if (sheetPart.isEmpty())
        return Status::failure(ErrorCode::NotAnExport, kNotWorkbook);
    QStringList shared;
    if (!sharedPart.isEmpty() && !readSharedStrings(zip, sharedPart, shared))
        return Status::failure(ErrorCode::NotAnExport, kNotWorkbook);
    auto sheet = zip.entry(sheetPart);
    if (!sheet)
        return Status::failure(ErrorCode::NotAnExport, kNotWorkbook);
    sink.dateSystem(dates);

    QXmlStreamReader xml(sheet.get());
    std::vector<Cell> cells;
    int rowNumber = 0;
    int rowsSeen = 0;
    while (!xml.atEnd()) {
        const auto token = xml.readNext();
        if (token == QXmlStreamReader::StartElement && xml.name() == u"row") {
            const auto r = xml.attributes().value(QLatin1String("r"));
            rowNumber = r.isEmpty() ? rowNumber + 1 : r.toInt();
            cells.clear();
        } else if (token == QXmlStreamReader::StartElement && xml.name() == u"c") {
            const auto a = xml.attributes();
            const QString type = a.value(QLatin1String("t")).toString();
            const int column = a.hasAttribute(QLatin1String("r")) ? columnOf(a.value(QLatin1String("r"))) : int(cells.size());
            if (a.hasAttribute(QLatin1String("r")))
                rowNumber = rowOf(a.value(QLatin1String("r")));
            if (column < 0 || column >= kMaxColumns)
                return Status::failure(ErrorCode::NotAnExport, kNotWorkbook);
            QString value, inlineText;
            bool hasInline = false;
            while (xml.readNextStartElement()) {
                if (xml.name() == u"v") {
                    value = xml.readElementText();
                } else if (xml.name() == u"is") {
                    hasInline = true;
                    while (xml.readNextStartElement()) {
                        if (xml.name() == u"t")
                            inlineText += xml.readElementText();
                        else if (xml.name() == u"r") {
                            while (xml.readNextStartElement())
                                if (xml.name() == u"t")
                                    inlineText += xml.readElementText();
                                else
                                    xml.skipCurrentElement();
                        } else
                            xml.skipCurrentElement();
                    }
                } else {
                    xml.skipCurrentElement();
                }
            }
            Cell cell;
            if (type == u"s") {
                bool ok = false;
                const int index = value.toInt(&ok);
                if (!ok || index < 0 || index >= shared.size())
                    return Status::failure(ErrorCode::NotAnExport, kNotWorkbook);
                cell = Cell::ofText(shared[index]);
            } else if (type == u"inlineStr" || hasInline) {
                cell = Cell::ofText(inlineText);
            } else if (type == u"str" || type == u"b" || type == u"e") {
                cell = Cell::ofText(value);
            } else if (!value.isEmpty()) {
                bool ok = false;
                const double d = value.toDouble(&ok);
                cell = ok ? Cell::ofNumber(d) : Cell::ofText(value);
            }
            if (size_t(column) >= cells.size())
                cells.resize(size_t(column) + 1);
            cells[size_t(column)] = cell;
        } else if (token == QXmlStreamReader::EndElement && xml.name() == u"row") {
            if (!sink.row(rowNumber, cells))
                return Status::success();
            if (++rowsSeen % 256 == 0)
                sink.progress(sheet->fraction());
        }
    }
    if (xml.hasError() || sheet->failed())
        return Status::failure(ErrorCode::NotAnExport, kNotWorkbook);
    return Status::success();
}

#endif

} // namespace sf6::import
