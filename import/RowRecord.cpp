#include "import/RowRecord.h"

#include "sync/Columns.h"
#include "sync/TestRecord.h"

#include <QDateTime>
#include <QLocale>
#include <QRegularExpression>

#include <algorithm>

namespace sf6::import {

namespace {

constexpr qint64 kMaxCounts16 = 0xFFFF;   // a 16-bit field
constexpr int kMaxTestCount = 0xFF;
constexpr int kTemperatureDecimals = 1;
constexpr int kPressureDecimals = 3;
constexpr int kMaxExponent = 30;          // far beyond any value a field can hold
constexpr int kMaxDigits = 15;            // fits a qint64 with room to round
const QString kArchivedAtCaption = QStringLiteral("存档时间");
const QString kArchiveNumberCaption = QStringLiteral("档案号");

QString refused(int column, const QString& text, const QString& reason)
{
    return QStringLiteral("列“%1”：“%2”%3").arg(columnCaptions()[column], quotedText(text), reason);
}

QString cellText(const Cell& c) { return c.number ? shortestText(*c.number) : c.text.trimmed(); }

QString quotedCell(const Cell& c) { return quotedText(cellText(c), c.overlong); }

std::optional<qint64> counts(const Cell& c, int decimals)
{
    return decimalCounts(cellText(c), decimals, c.number ? Rounding::Nearest : Rounding::Exact);
}

void putBe16(QByteArray& r, int offset, qint64 v)
{
    r[offset] = char((v >> 8) & 0xFF);
    r[offset + 1] = char(v & 0xFF);
}

// One "#00" field of the time text: a signed byte.
std::optional<int> signedByte(const QString& s)
{
    bool ok = false;
    const int v = s.toInt(&ok);
    if (!ok || v < -128 || v > 127)
        return std::nullopt;
    return v;
}

// A date-time a spreadsheet recognised in a retyped cell and keeps as a
// number: days since the workbook's first day, the time as the fraction of a day.
QString dateTimeOfSerial(double serial, DateSystem dates)
{
    constexpr qint64 kMinutesPerDay = 24 * 60;
    constexpr double kLastSerial1900 = 2958465;   // 9999-12-31
    constexpr double kDays1900To1904 = 1462;
    const bool from1904 = dates == DateSystem::From1904;
    const double last = from1904 ? kLastSerial1900 - kDays1900To1904 : kLastSerial1900;
    if (!(serial >= 0 && serial <= last))
        return shortestText(serial);
    const QDate first = from1904 ? QDate(1904, 1, 1) : QDate(1899, 12, 30);
    const qint64 minutes = qRound64(serial * kMinutesPerDay);
    const QDateTime t = QDateTime(first, QTime(0, 0), Qt::UTC).addSecs(minutes * 60);
    return t.toString(QStringLiteral("yyyy-MM-dd HH:mm"));
}

} // namespace

QString quotedText(const QString& text, bool cut)
{
    if (text.size() <= kQuotedChars && !cut)
        return text;
    return text.left(kQuotedChars) + QStringLiteral("…");
}

QString shortestText(double d) { return QString::number(d, 'g', QLocale::FloatingPointShortest); }

std::optional<qint64> decimalCounts(const QString& text, int decimals, Rounding rounding)
{
    // [+-] digits [. or , digits] [e [+-] digits]; read by hand, as it runs for every cell.
    const QString t = text.trimmed();
    qsizetype i = 0;
    bool negative = false;
    if (i < t.size() && (t[i] == u'+' || t[i] == u'-'))
        negative = t[i++] == u'-';
    QString digits;
    int point = -1;
    for (; i < t.size(); ++i) {
        const QChar c = t[i];
        if (c >= u'0' && c <= u'9')
            digits += c;
        else if ((c == u'.' || c == u',') && point < 0)
            point = int(digits.size());
        else
            break;
    }
    if (digits.isEmpty())
        return std::nullopt;
    if (point < 0)
        point = int(digits.size());
    if (i < t.size() && (t[i] == u'e' || t[i] == u'E')) {
        bool ok = false;
        const int exponent = t.mid(i + 1).toInt(&ok);
        if (!ok || std::abs(exponent) > kMaxExponent)
            return std::nullopt;
        point += exponent;
        i = t.size();
    }
    if (i != t.size())
        return std::nullopt;
    // The digits as one integer with the point moved to the count.
    while (point < 0) {
        digits.prepend(u'0');
        ++point;
    }
    while (digits.size() < point + decimals + 1)
        digits.append(u'0');
    const QStringView whole = QStringView(digits).left(point + decimals);
    const QStringView rest = QStringView(digits).mid(point + decimals);
    qsizetype first = 0;
    while (first < whole.size() && whole[first] == u'0')
        ++first;
    if (whole.size() - first > kMaxDigits)
        return std::nullopt;
    qint64 v = 0;
    for (QChar c : whole.mid(first))
        v = v * 10 + (c.unicode() - u'0');
    const bool beyond = std::any_of(rest.begin(), rest.end(), [](QChar c) { return c != u'0'; });
    if (beyond && rounding == Rounding::Exact)
        return std::nullopt;
    if (rounding == Rounding::Nearest && rest[0] >= u'5')
        ++v;
    return negative ? -v : v;
}

Expected<int> checkHeader(const QStringList& captions)
{
    const QStringList& list = columnCaptions();
    int leading = 1;
    QStringList expected;
    if (captions.value(0) == kArchiveNumberCaption) {
        leading = captions.value(1) == kArchivedAtCaption ? 2 : 1;
        expected = captions.mid(0, leading);
    } else {
        expected << list[kColNumber];
    }
    expected += list.mid(1);
    for (qsizetype i = 0; i < std::max(expected.size(), captions.size()); ++i) {
        if (captions.value(i) != expected.value(i)) {
            if (i >= expected.size())
                return Status::failure(QStringLiteral("第一行不是导出的列标题：第%1列“%2”多余")
                                           .arg(i + 1).arg(quotedText(captions[i])));
            return Status::failure(QStringLiteral("第一行不是导出的列标题：第%1列应为“%2”，实为“%3”")
                                       .arg(i + 1).arg(i == 0 ? QStringLiteral("组数”或“档案号") : expected[i],
                                                       quotedText(captions.value(i))));
        }
    }
    return leading;
}

Expected<QByteArray> recordFromRow(const std::vector<Cell>& cells, int leading, DateSystem dates)
{
    const int width = leading + kColumnCount - 1;
    // Trailing empty cells are a workbook's formatting, not fields.
    int used = int(cells.size());
    while (used > width && !cells[size_t(used - 1)].number && cells[size_t(used - 1)].text.trimmed().isEmpty())
        --used;
    if (used > width)
        return Status::failure(QStringLiteral("第%1列“%2”多余").arg(width + 1).arg(quotedCell(cells[size_t(width)])));
    auto cell = [&](int column) -> const Cell* {
        const size_t at = size_t(leading + column - 1);
        if (at >= size_t(used))
            return nullptr;
        const Cell& c = cells[at];
        return (!c.number && c.text.trimmed().isEmpty()) ? nullptr : &c;
    };
    for (int column = 1; column < kColumnCount; ++column) {
        if (!cell(column))
            return Status::failure(QStringLiteral("列“%1”：缺少值").arg(columnCaptions()[column]));
        if (cell(column)->overlong)
            return Status::failure(QStringLiteral("列“%1”：“%2”长于%3个字符，不是导出的值")
                                       .arg(columnCaptions()[column], quotedCell(*cell(column)))
                                       .arg(kMaxCellChars));
    }

    QByteArray r(kRecordSize, '\0');

    // "20" + "#00" of year - 2000, then month, day, hour, minute; an optional
    // ":00" is what a spreadsheet makes of a date-time it recognised.
    static const QRegularExpression time(QStringLiteral(
        "^20(-?\\d{2,3})-(-?\\d{2,3})-(-?\\d{2,3})[ T](-?\\d{2,3}):(-?\\d{2,3})(?::00)?$"));
    {
        const Cell& c = *cell(kColTime);
        if (c.number && dates == DateSystem::Unknown)
            return Status::failure(refused(kColTime, cellText(c), QStringLiteral("是日期数，但工作簿的日期系统无法读出")));
        const QString t = c.number ? dateTimeOfSerial(*c.number, dates) : cellText(c);
        const auto m = time.match(t);
        if (!m.hasMatch())
            return Status::failure(refused(kColTime, t, QStringLiteral("不是日期时间")));
        const int offsets[] = {kRecYear, kRecMonth, kRecDay, kRecHour, kRecMinute};
        for (int k = 0; k < 5; ++k) {
            const auto v = signedByte(m.captured(k + 1));
            if (!v)
                return Status::failure(refused(kColTime, t, QStringLiteral("不是日期时间")));
            r[offsets[k]] = char(static_cast<unsigned char>(*v));
        }
    }
    {
        const Cell& c = *cell(kColTemperature);
        QString t = cellText(c);
        const QString shown = t;
        if (!c.number && t.endsWith(QStringLiteral("°C")))
            t.chop(2);
        const auto v = decimalCounts(t, kTemperatureDecimals, c.number ? Rounding::Nearest : Rounding::Exact);
        if (!v)
            return Status::failure(refused(kColTemperature, shown, QStringLiteral("不是温度")));
        if (*v < 0 || *v > kMaxCounts16)
            return Status::failure(refused(kColTemperature, shown, QStringLiteral("超出0.0°C至6553.5°C")));
        putBe16(r, kRecTemperature, *v);
    }
    {
        const QString t = cellText(*cell(kColMode));
        if (t == acquisitionModeText(0))
            r[kRecMode] = 0;
        else if (t == acquisitionModeText(1))
            r[kRecMode] = 1;
        else
            return Status::failure(refused(kColMode, t, QStringLiteral("不是“系统采集”或“手工输入”")));
    }
    {
        const Cell& c = *cell(kColTestCount);
        // A whole number, however it was typed: an integer has no binary noise to round away.
        const auto v = decimalCounts(cellText(c), 0, Rounding::Exact);
        if (!v || *v < 0 || *v > kMaxTestCount)
            return Status::failure(refused(kColTestCount, cellText(c), QStringLiteral("不是0至255的测试次数")));
        r[kRecTestCount] = char(*v);
    }
    for (int j = 0; j < kValueCount; ++j) {
        const int column = kFirstValueColumn + j;
        const Cell& c = *cell(column);
        const auto v = counts(c, kPressureDecimals);
        if (!v)
            return Status::failure(refused(column, cellText(c), QStringLiteral("不是压力值")));
        if (*v < 0 || *v > kMaxCounts16)
            return Status::failure(refused(column, cellText(c), QStringLiteral("超出0.000至65.535")));
        putBe16(r, kRecValues + 2 * j, *v);
    }
    return r;
}

} // namespace sf6::import
