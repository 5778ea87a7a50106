#include "import/SheetReaders.h"

#ifdef SF6_HAVE_MINIZIP
#include <QXmlStreamReader>
#include <unzip.h>

#include <algorithm>
#include <cstring>
#endif

namespace sf6::import {

#ifndef SF6_HAVE_MINIZIP

Status readXlsxRows(const QByteArray&, const SheetRows&)
{
    return Status::failure(QStringLiteral("这一版本的程序不能读取.xlsx工作簿"));
}

#else

namespace {

const QString kNotWorkbook = QStringLiteral("不是可读的.xlsx工作簿");

// No part of an export has a longer run of text or markup between two '<';
// the XML reader holds a whole run in memory, so a longer one is refused
// before it reaches the reader.
constexpr qint64 kMaxXmlRun = 4 << 20;
// All members inflated, at most: far beyond the sheet of the largest archive.
constexpr qint64 kMaxInflatedBytes = qint64(1) << 30;
constexpr qint64 kInflateBlock = 1 << 16;
// A workbook of other writers keeps each distinct text once; no export has more.
constexpr qsizetype kMaxSharedStrings = 1000000;
constexpr qint64 kMaxSharedChars = 16000000;

// minizip reads the workbook from memory: it was read from its file once, and
// a zip needs to be read from its end.
struct MemoryZip {
    const QByteArray* bytes;
    qint64 pos = 0;
};
voidpf openMemory(voidpf opaque, const void*, int) { return new MemoryZip{static_cast<const QByteArray*>(opaque)}; }
uLong readMemory(voidpf, voidpf stream, void* buf, uLong size)
{
    auto* m = static_cast<MemoryZip*>(stream);
    const qint64 n = std::clamp<qint64>(m->bytes->size() - m->pos, 0, qint64(size));
    std::memcpy(buf, m->bytes->constData() + m->pos, size_t(n));
    m->pos += n;
    return uLong(n);
}
uLong writeMemory(voidpf, voidpf, const void*, uLong) { return 0; }
ZPOS64_T tellMemory(voidpf, voidpf stream) { return ZPOS64_T(static_cast<MemoryZip*>(stream)->pos); }
long seekMemory(voidpf, voidpf stream, ZPOS64_T offset, int origin)
{
    auto* m = static_cast<MemoryZip*>(stream);
    qint64 to = qint64(offset);
    if (origin == ZLIB_FILEFUNC_SEEK_CUR)
        to += m->pos;
    else if (origin == ZLIB_FILEFUNC_SEEK_END)
        to += m->bytes->size();
    if (to < 0 || to > m->bytes->size())
        return -1;
    m->pos = to;
    return 0;
}
int closeMemory(voidpf, voidpf stream)
{
    delete static_cast<MemoryZip*>(stream);
    return 0;
}
int errorMemory(voidpf, voidpf) { return 0; }

// One entry of the zip as a stream the XML reader pulls from: no entry is
// ever held whole, and no run longer than kMaxXmlRun reaches the reader.
class ZipEntry : public QIODevice {
public:
    ZipEntry(unzFile zip, qint64 size) : zip_(zip), size_(size) { open(QIODevice::ReadOnly); }
    ~ZipEntry() override { unzCloseCurrentFile(zip_); }
    bool isSequential() const override { return true; }
    double fraction() const { return size_ > 0 ? double(read_) / double(size_) : 0; }
    bool failed() const { return !failure_.isEmpty() || broken_; }
    // Why the entry was refused; empty when it could not be inflated.
    const QString& failure() const { return failure_; }

protected:
    qint64 readData(char* data, qint64 max) override
    {
        if (failed())
            return -1;
        const int n = unzReadCurrentFile(zip_, data, unsigned(std::min<qint64>(max, 1 << 20)));
        if (n < 0) {
            broken_ = true;
            return -1;
        }
        for (int k = 0; k < n; ++k) {
            const char c = data[k];
            // A DTD, a comment or a CDATA section: no spreadsheet writes one,
            // and each could hide a run from the count.
            if (afterLt_ && c == '!') {
                failure_ = QStringLiteral("工作簿中有DTD、注释或CDATA段，不是导出的工作簿");
                return -1;
            }
            afterLt_ = c == '<';
            run_ = afterLt_ ? 0 : run_ + 1;
            if (run_ > kMaxXmlRun) {
                failure_ = QStringLiteral("工作簿中有一段长于%1 MB的文字，不是导出的工作簿").arg(kMaxXmlRun >> 20);
                return -1;
            }
        }
        read_ += n;
        return n;
    }
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    unzFile zip_;
    qint64 size_;
    qint64 read_ = 0;
    qint64 run_ = 0;
    bool afterLt_ = false;
    bool broken_ = false;
    QString failure_;
};

class Zip {
public:
    explicit Zip(const QByteArray& bytes)
    {
        zlib_filefunc64_def f{};
        f.zopen64_file = openMemory;
        f.zread_file = readMemory;
        f.zwrite_file = writeMemory;
        f.ztell64_file = tellMemory;
        f.zseek64_file = seekMemory;
        f.zclose_file = closeMemory;
        f.zerror_file = errorMemory;
        f.opaque = const_cast<QByteArray*>(&bytes);
        zip_ = unzOpen2_64("", &f);
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
    // Every member inflated to its end and held against its CRC: a workbook
    // with one changed byte anywhere is refused whole, not read with the change.
    Status checkMembers()
    {
        qint64 inflated = 0;
        std::vector<char> block(kInflateBlock);
        int at = unzGoToFirstFile(zip_);
        for (; at == UNZ_OK; at = unzGoToNextFile(zip_)) {
            char name[256] = {};
            unz_file_info64 info{};
            if (unzGetCurrentFileInfo64(zip_, &info, name, sizeof name - 1, nullptr, 0, nullptr, 0) != UNZ_OK
                || unzOpenCurrentFile(zip_) != UNZ_OK)
                return Status::failure(kNotWorkbook);
            int n = 0;
            while ((n = unzReadCurrentFile(zip_, block.data(), unsigned(block.size()))) > 0) {
                inflated += n;
                if (inflated > kMaxInflatedBytes) {
                    unzCloseCurrentFile(zip_);
                    return Status::failure(QStringLiteral("工作簿解压后大于%1 MB，不是导出的工作簿").arg(kMaxInflatedBytes >> 20));
                }
            }
            const int closed = unzCloseCurrentFile(zip_);
            if (n < 0 || closed != UNZ_OK)
                return Status::failure(QStringLiteral("工作簿已损坏：%1的校验和不符，整个文件未导入")
                                           .arg(QString::fromUtf8(name)));
        }
        return at == UNZ_END_OF_LIST_OF_FILE ? Status::success() : Status::failure(kNotWorkbook);
    }

private:
    unzFile zip_ = nullptr;
};

// What an entry's reading ended with: its own refusal, or a workbook that cannot be read.
Status entryFailure(const ZipEntry& e)
{
    return Status::failure(e.failure().isEmpty() ? kNotWorkbook : e.failure());
}

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

// The texts of the shared strings, rich runs joined, each cut to a cell's
// length; a workbook with more of them than any export is refused.
Status readSharedStrings(Zip& zip, const QString& part, std::vector<Cell>& out)
{
    auto e = zip.entry(part);
    if (!e)
        return Status::failure(kNotWorkbook);
    QXmlStreamReader xml(e.get());
    QString current;
    bool inString = false;
    qint64 chars = 0;
    while (!xml.atEnd()) {
        const auto token = xml.readNext();
        if (token == QXmlStreamReader::StartElement) {
            if (xml.name() == u"si") {
                inString = true;
                current.clear();
            } else if (xml.name() == u"t" && inString) {
                if (current.size() <= kMaxCellChars)
                    current += xml.readElementText();
                else
                    xml.skipCurrentElement();
            } else if (xml.name() == u"rPh") {
                xml.skipCurrentElement();   // phonetic hints are not the cell's text
            }
        } else if (token == QXmlStreamReader::EndElement && xml.name() == u"si") {
            out.push_back(Cell::ofReadText(current));
            current.clear();
            chars += out.back().text.size();
            inString = false;
            if (qsizetype(out.size()) > kMaxSharedStrings || chars > kMaxSharedChars)
                return Status::failure(QStringLiteral("工作簿的共享文字多于%1条或共多于%2个字符，不是导出的工作簿")
                                           .arg(kMaxSharedStrings).arg(kMaxSharedChars));
        }
    }
    if (xml.hasError() || e->failed())
        return entryFailure(*e);
    return Status::success();
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

Status readXlsxRows(const QByteArray& workbook, const SheetRows& sink)
{
    Zip zip(workbook);
    if (!zip.ok())
        return Status::failure(kNotWorkbook);
    if (Status s = zip.checkMembers(); !s)
        return s;
    QString sharedPart;
    DateSystem dates = DateSystem::From1900;
    const QString sheetPart = firstSheetPart(zip, sharedPart, dates);
    if (sheetPart.isEmpty())
        return Status::failure(kNotWorkbook);
    std::vector<Cell> shared;
    if (!sharedPart.isEmpty())
        if (Status s = readSharedStrings(zip, sharedPart, shared); !s)
            return s;
    auto sheet = zip.entry(sheetPart);
    if (!sheet)
        return Status::failure(kNotWorkbook);
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
                return Status::failure(kNotWorkbook);
            QString value, inlineText;
            bool hasInline = false;
            while (xml.readNextStartElement()) {
                if (xml.name() == u"v") {
                    value = xml.readElementText();
                } else if (xml.name() == u"is") {
                    hasInline = true;
                    while (xml.readNextStartElement()) {
                        if (xml.name() == u"t" && inlineText.size() <= kMaxCellChars)
                            inlineText += xml.readElementText();
                        else if (xml.name() == u"r") {
                            while (xml.readNextStartElement())
                                if (xml.name() == u"t" && inlineText.size() <= kMaxCellChars)
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
                if (!ok || index < 0 || size_t(index) >= shared.size())
                    return Status::failure(kNotWorkbook);
                cell = shared[size_t(index)];
            } else if (type == u"inlineStr" || hasInline) {
                cell = Cell::ofReadText(inlineText);
            } else if (type == u"str" || type == u"b" || type == u"e") {
                cell = Cell::ofReadText(value);
            } else if (!value.isEmpty()) {
                bool ok = false;
                const double d = value.toDouble(&ok);
                cell = ok ? Cell::ofNumber(d) : Cell::ofReadText(value);
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
        return entryFailure(*sheet);
    return Status::success();
}

#endif

} // namespace sf6::import
