#include "certificate/CertificatePages.h"

#include "certificate/QrCode.h"
#include "register/P20Check.h"
#include "sync/TestRecord.h"

#include <QDate>

#include <algorithm>
#include <cmath>

namespace sf6 {

namespace {

// Above the frame: the number on the left, beside the title; what became of
// the certificate on the right; the caption of an as-found/as-left pair
// below the number.
constexpr QRect kNumberBox{24, 6, 244, kLabelHeight};
constexpr QRect kStateBox{464, 6, 192, 2 * kLabelHeight};
// The QR code in the top right corner of the printable area, clear of the
// frame's top rule; about 14 mm square.
constexpr QRect kQrBox{664, 0, 54, 54};
constexpr QRect kCaptionBox{24, 32, 244, kLabelHeight};

// The printable height of A4 portrait inside the margins; the footer sits at
// its foot unless a long conclusion reaches lower, then just below it. A
// conclusion so long that the footer would run more than a little into the
// bottom margin, where printers may not reach, sends the page count above the
// title instead, the one free place left.
constexpr int kPrintableHeight = int((297.0 - 2 * kPageMarginMm) / 25.4 * kReportDpi);
constexpr int kFooterTop = kPrintableHeight - kLabelHeight - 2;
constexpr int kFooterGap = 4;
constexpr int kMarginSpill = 8;   // about 2 mm of the 10 mm margin
constexpr QRect kFooterBox{kFrameLeft, kFooterTop, kFrameRight - kFrameLeft, kLabelHeight};
constexpr QRect kTopPageCountBox{kTitleBox.x(), 4, kTitleBox.width(), kLabelHeight};
constexpr int kContentBottom = kFooterTop - 8;   // what a continued page may fill

// The last page: caption/value rows like the record's header block.
constexpr int kRowHeight = 31;
constexpr int kLabelInset = 10;        // a single line's top below its row's top
constexpr int kTallLabelInset = 7;     // a wrapped text's first line
constexpr int kCaptionX = 24, kCaptionWidth = 105;
constexpr int kValueX = 136, kValueWidth = 209;
constexpr int kWideValueWidth = 541;   // to the right rule
constexpr int kRightCaptionX = 352, kRightValueX = 464;
constexpr int kDividerX = 130, kInnerDividerX1 = 350, kInnerDividerX2 = 460;
constexpr int kFullX = 24, kFullWidth = 653;
constexpr int kEndMarkGap = 8;
constexpr int kDateLength = 10;   // yyyy-MM-dd of a yyyy-MM-dd HH:mm:ss time

const QString kCertificateNumberCaption = QStringLiteral("证书编号：");
const QString kAsLeftCaption = QStringLiteral("调整后");
const QString kAsFoundCaption = QStringLiteral("调整前");
const QString kSheetTitle = QStringLiteral("校验说明");
const QString kContinued = QStringLiteral("（续）");

QString pageCountText(int k, int n) { return QStringLiteral("第%1页 共%2页").arg(k).arg(n); }

// How many lines a text takes in a box of this width, reckoned as
// conclusionHeight does: a Chinese character a full em, capitals about seven
// tenths, other Latin characters six tenths; a Latin word is carried whole to
// the next line when it fits there, as the renderer wraps.
int lineCount(const QString& text, int width)
{
    constexpr double kWideEm = 1.0, kCapitalEm = 0.72, kNarrowEm = 0.6;
    auto charWidth = [](QChar c) {
        const char16_t u = c.unicode();
        const double em = u >= 0x2E80 || u == u'±' ? kWideEm : c.isUpper() ? kCapitalEm : kNarrowEm;
        return em * kLabelFontPixels;
    };
    auto isWide = [](QChar c) { return c.unicode() >= 0x2E80; };
    const double room = width - 2.0;
    int lines = 1;
    double x = 0;
    for (qsizetype i = 0; i < text.size();) {
        const QChar c = text[i];
        if (c == u'\n') {
            ++lines;
            x = 0;
            ++i;
            continue;
        }
        qsizetype end = i + 1;
        if (!isWide(c) && !c.isSpace())
            while (end < text.size() && !isWide(text[end]) && !text[end].isSpace() && text[end] != u'\n')
                ++end;
        double w = 0;
        for (qsizetype j = i; j < end; ++j)
            w += charWidth(text[j]);
        if (c.isSpace() && x == 0) {   // a space that ends a line takes no room on the next
            i = end;
            continue;
        }
        if (x + w > room && x > 0) {
            ++lines;
            x = 0;
        }
        while (w > room) {   // longer than a line: broken anywhere
            ++lines;
            w -= room;
        }
        x += w;
        i = end;
    }
    return lines;
}

int bottomOf(const ReportPage& page)
{
    int bottom = 0;
    for (const PageLabel& l : page.labels)
        bottom = std::max(bottom, l.box.y() + l.box.height());
    for (const PageLine& l : page.lines)
        bottom = std::max({bottom, l.line.y1(), l.line.y2()});
    return bottom;
}

void addLabel(ReportPage& page, const QString& name, QRect box, const QString& text,
              Qt::Alignment align = Qt::AlignHCenter | Qt::AlignTop, PageLabel::Font font = PageLabel::Arial10)
{
    page.labels.push_back(PageLabel{name, box, font, align, printableText(text)});
}

// What stands beside the number: until approved, "未批准"; once replaced, by what.
QString stateLine(const CertificateState& state)
{
    QStringList parts;
    if (state.approvedAt.isEmpty() && state.approvedBy.isEmpty())
        parts << kStateUnapproved;
    if (!state.supersededBy.isEmpty())
        parts << QStringLiteral("已被 %1 替代").arg(state.supersededBy);
    return parts.join(QStringLiteral("，"));
}

// The number never clips, whatever its length: its box widens towards the
// state's (the title lies below that line), and a number longer still wraps
// onto further lines, the caption moving down below it.
QRect numberBox(const QString& text)
{
    // Room for the estimate to err: a line is cut where the printed text is wider.
    constexpr int kSpare = 24;
    constexpr int kWidest = kStateBox.x() - kNumberBox.x() - 8;
    if (lineCount(text, kNumberBox.width() - kSpare) == 1)
        return kNumberBox;
    if (lineCount(text, kWidest - kSpare) == 1)
        return {kNumberBox.x(), kNumberBox.y(), kWidest, kLabelHeight};
    return {kNumberBox.x(), kNumberBox.y(), kNumberBox.width(),
            lineCount(text, kNumberBox.width() - kSpare) * kLabelHeight};
}

void addHeader(ReportPage& page, const CertificateContent& content, const CertificateState& state,
               const QString& caption)
{
    const QString number = kCertificateNumberCaption + content.number;
    const QRect box = numberBox(number);
    addLabel(page, QStringLiteral("QRCNumber"), box, number, Qt::AlignLeft | Qt::AlignTop);
    if (const QString s = stateLine(state); !s.isEmpty())
        addLabel(page, QStringLiteral("QRCState"), kStateBox, s, Qt::AlignRight | Qt::AlignTop);
    if (!caption.isEmpty())
        addLabel(page, QStringLiteral("QRCCaption"),
                 kCaptionBox.translated(0, std::max(0, box.bottom() + 1 - kCaptionBox.y())), caption,
                 Qt::AlignLeft | Qt::AlignTop);
}

ListRow rowOf(const CertifiedRecord& record)
{
    // A record that is not 105 bytes prints as an empty row rather than reading past its end.
    if (record.raw.size() != kRecordSize)
        return ListRow(kColumnCount);
    return decodeRecord(reinterpret_cast<const unsigned char*>(record.raw.constData()), record.recordId);
}

// The judgement page, continued on further pages when its table would run
// into the footer; each page repeats the header, the conclusion and the signatures.
std::vector<ReportPage> judgementPages(const ReportDetails& details, const ReportConclusion& conclusion)
{
    std::vector<ReportPage> pages;
    auto build = [&](size_t from, size_t count) {
        ReportConclusion part = conclusion;
        part.items.assign(conclusion.items.begin() + qsizetype(from), conclusion.items.begin() + qsizetype(from + count));
        return buildJudgementPage(details, part);
    };
    size_t from = 0;
    do {
        size_t count = conclusion.items.size() - from;
        ReportPage page = build(from, count);
        while (count > 1 && bottomOf(page) > kContentBottom)
            page = build(from, --count);
        pages.push_back(std::move(page));
        from += count;
    } while (from < conclusion.items.size());
    return pages;
}

// The record's pages: its report page with the conclusion below the frame, then its judgement.
std::vector<ReportPage> recordPages(const ReportDetails& details, const CertifiedRecord& record,
                                    const CertificateContent& content, const CertificateState& state,
                                    const QString& caption)
{
    const ListRow row = rowOf(record);
    std::vector<ReportPage> pages{buildReportPage(details, row)};
    addConclusion(pages.front(), record.conclusion.line);
    for (ReportPage& page : judgementPages(details, record.conclusion))
        pages.push_back(std::move(page));
    for (ReportPage& page : pages)
        addHeader(page, content, state, caption);
    return pages;
}

// One row of the last page: a caption and its value across the row, two
// caption/value pairs, or one text across the whole row.
struct SheetRow {
    enum Kind { Wide, Pair, Full } kind;
    QString caption, value, rightCaption, rightValue;
};

SheetRow wide(const QString& caption, const QString& value) { return {SheetRow::Wide, caption, value, {}, {}}; }
SheetRow pair(const QString& c1, const QString& v1, const QString& c2, const QString& v2)
{
    return {SheetRow::Pair, c1, v1, c2, v2};
}
SheetRow full(const QString& text) { return {SheetRow::Full, {}, text, {}, {}}; }

struct Cell {
    QRect box;   // left, width; top and height set by the row
    QString text;
};

std::vector<Cell> cellsOf(const SheetRow& r)
{
    switch (r.kind) {
    case SheetRow::Wide:
        return {{QRect(kCaptionX, 0, kCaptionWidth, 0), r.caption}, {QRect(kValueX, 0, kWideValueWidth, 0), r.value}};
    case SheetRow::Pair:
        return {{QRect(kCaptionX, 0, kCaptionWidth, 0), r.caption},
                {QRect(kValueX, 0, kValueWidth, 0), r.value},
                {QRect(kRightCaptionX, 0, kCaptionWidth, 0), r.rightCaption},
                {QRect(kRightValueX, 0, kValueWidth, 0), r.rightValue}};
    case SheetRow::Full:
        return {{QRect(kFullX, 0, kFullWidth, 0), r.value}};
    }
    return {};
}

// Lays the rows out in a frame from the top of a page down, going on to a
// next page when a row would reach the footer, and closes with the end mark.
class SheetWriter {
public:
    explicit SheetWriter(std::vector<ReportPage>& pages) : pages_(pages) {}

    void add(const SheetRow& row)
    {
        std::vector<Cell> cells = cellsOf(row);
        int lines = 1;
        for (const Cell& c : cells)
            lines = std::max(lines, lineCount(printableText(c.text), c.box.width()));
        int height = std::max(kRowHeight, lines * kLabelHeight + 2 * kTallLabelInset);
        if (!open_ || (y_ + height > kContentBottom && y_ > kFrameTop))
            startPage();
        height = std::min(height, kContentBottom - y_);   // taller than a page: cut, as any label is
        const int inset = height == kRowHeight ? kLabelInset : kTallLabelInset;
        ReportPage& page = pages_.back();
        for (Cell& c : cells) {
            c.box.setTop(y_ + inset);
            c.box.setHeight(std::max(kLabelHeight, height - inset - 2));
            const bool value = row.kind == SheetRow::Full || c.box.x() == kValueX || c.box.x() == kRightValueX;
            addLabel(page, QStringLiteral("QRC%1").arg(++names_), c.box, c.text,
                     value ? Qt::AlignLeft | Qt::AlignTop : Qt::AlignHCenter | Qt::AlignTop);
        }
        if (row.kind != SheetRow::Full)
            vline(kDividerX, y_, y_ + height);
        if (row.kind == SheetRow::Pair) {
            vline(kInnerDividerX1, y_, y_ + height);
            vline(kInnerDividerX2, y_, y_ + height);
        }
        y_ += height;
        hline(y_);
    }

    void finish()
    {
        closeFrame();
        if (y_ + kEndMarkGap + kLabelHeight > kContentBottom) {
            startPage();
            pages_.back().lines.pop_back();   // no frame opens for the end mark alone
        }
        addLabel(pages_.back(), QStringLiteral("QRCEnd"),
                 QRect(kFrameLeft, y_ + kEndMarkGap, kFrameRight - kFrameLeft, kLabelHeight), kEndMark);
    }

private:
    void startPage()
    {
        closeFrame();
        pages_.emplace_back();
        addLabel(pages_.back(), QStringLiteral("QRCTitle"), kTitleBox, open_ ? kSheetTitle + kContinued : kSheetTitle,
                 Qt::AlignLeft | Qt::AlignTop, PageLabel::Arial12Bold);
        open_ = true;
        frameTop_ = y_ = kFrameTop;
        hline(y_);
    }
    void closeFrame()
    {
        if (!open_ || y_ == frameTop_)
            return;
        vline(kFrameLeft, frameTop_, y_);
        vline(kFrameRight, frameTop_, y_);
        frameTop_ = y_;
    }
    void hline(int y) { pages_.back().lines.push_back(PageLine{QLine(kRuleLeft, y, kFrameRight, y)}); }
    void vline(int x, int y1, int y2) { pages_.back().lines.push_back(PageLine{QLine(x, y1, x, y2)}); }

    std::vector<ReportPage>& pages_;
    bool open_ = false;
    int y_ = kFrameTop, frameTop_ = kFrameTop;
    int names_ = 0;
};

QString humidityText(QString humidity)
{
    // Typed as "55", "55%" or "55%RH": printed once with its unit.
    humidity = humidity.trimmed();
    if (humidity.isEmpty())
        return QStringLiteral("相对湿度：");
    for (const QString& unit : {QStringLiteral("%RH"), QStringLiteral("%")})
        if (humidity.endsWith(unit, Qt::CaseInsensitive)) {
            humidity.chop(unit.size());
            break;
        }
    return QStringLiteral("相对湿度：%1%RH").arg(humidity.trimmed());
}

// The test date plus the relay's interval; nothing for a date that is none.
QString nextCalibrationDate(const QString& testDate, int months)
{
    const QDate d = QDate::fromString(testDate, QStringLiteral("yyyy-MM-dd"));
    return d.isValid() ? d.addMonths(months).toString(QStringLiteral("yyyy-MM-dd")) : QString();
}

std::vector<ReportPage> lastPages(const CertificateContent& content, const CertificateState& state,
                                  const ListRow& asLeftRow, const std::vector<SignerLine>& signers)
{
    const ReferenceStandard& s = content.standard;
    const QString issueDate = content.issuedAt.left(kDateLength);
    const bool approved = !state.approvedAt.isEmpty() || !state.approvedBy.isEmpty();
    const QString approver = approved && !state.approvedBy.isEmpty() ? state.approvedBy : content.approver;
    const QString dateCaption = QStringLiteral("日期");

    std::vector<SheetRow> rows{
        wide(QStringLiteral("校验依据"), kCertificateBasis),
        pair(QStringLiteral("标准器名称"), s.name, QStringLiteral("型号"), s.model),
        pair(QStringLiteral("标准器编号"), s.serial, QStringLiteral("溯源证书编号"), s.certificate),
        pair(QStringLiteral("发证单位"), s.issuer, QStringLiteral("有效期至"), s.validUntil),
        wide(QStringLiteral("不确定度/等级"), s.uncertainty),
        wide(QStringLiteral("环境条件"), QStringLiteral("温度：%1；%2")
                                             .arg(asLeftRow.value(kColTemperature), humidityText(content.humidity))),
        full(content.decisionRule),
        full(p20CheckLine(checkP20(asLeftRow)) + (content.p20Accepted ? QStringLiteral("；经确认出具") : QString())),
        wide(QStringLiteral("建议下次校准日期"), nextCalibrationDate(testDateOfRow(asLeftRow), content.relay.intervalMonths)),
        pair(QStringLiteral("校验员"), content.tester, dateCaption, issueDate),
        pair(QStringLiteral("核验员"), content.checker, dateCaption, issueDate),
        pair(QStringLiteral("批准人"), approver, dateCaption, approved ? state.approvedAt.left(kDateLength) : QString()),
        wide(QStringLiteral("校验单位"), content.lab.name),
        wide(QStringLiteral("地址"), content.lab.address),
    };
    if (content.lab.accreditation.isEmpty())
        rows.push_back(wide(QStringLiteral("电话"), content.lab.phone));
    else
        rows.push_back(pair(QStringLiteral("电话"), content.lab.phone, QStringLiteral("认可/授权编号"),
                            content.lab.accreditation));
    // Where the readings came from: an imported file is said so on paper.
    const QString found = content.asFound ? content.asFound->source : QString();
    if (!found.isEmpty() && found != content.asLeft.source)
        rows.push_back(full(QStringLiteral("数据来源：%1 %2；%3 %4")
                                .arg(kAsFoundCaption, found, kAsLeftCaption, content.asLeft.source)));
    else if (!content.asLeft.source.isEmpty())
        rows.push_back(full(QStringLiteral("数据来源：") + content.asLeft.source));
    rows.push_back(full(QStringLiteral("校验码：") + verificationCode(contentSha256(content))));
    for (const SignerLine& signer : signers)
        rows.push_back(full(QStringLiteral("电子签名：%1 %2，%3\n证书指纹（SHA-256）：%4")
                                .arg(signer.role, signer.person, signer.time, signer.fingerprint)));
    if (!content.supersedes.isEmpty())
        rows.push_back(full(QStringLiteral("本证书替代 %1，原因：%2").arg(content.supersedes, content.amendReason)));

    std::vector<ReportPage> pages;
    SheetWriter sheet(pages);
    for (const SheetRow& r : rows)
        sheet.add(r);
    sheet.finish();
    for (ReportPage& page : pages)
        addHeader(page, content, state, {});
    return pages;
}

} // namespace

QString certificateQrText(const CertificateContent& content, const QString& verificationAddress)
{
    QString text = kCertificateNumberCaption + content.number + QStringLiteral("\n校验码：") +
                   verificationCode(contentSha256(content));
    if (!verificationAddress.trimmed().isEmpty())
        text += QStringLiteral("\n核验地址：") + verificationAddress.trimmed();
    return text;
}

std::vector<ReportPage> certificatePages(const CertificateContent& content, const CertificateState& state,
                                         const CertificatePrintExtras& extras)
{
    const bool adjusted = content.asFound.has_value();
    // Whoever approved signs the record pages' 审批 too, as on the last page.
    ReportDetails details = content.details;
    if (!state.approvedBy.isEmpty())
        details.approver = state.approvedBy;
    std::vector<ReportPage> pages =
        recordPages(details, content.asLeft, content, state, adjusted ? kAsLeftCaption : QString());
    if (adjusted) {
        // The as-found page is that record's own: its test date, not the as-left's.
        ReportDetails found = details;
        found.testDate = testDateOfRow(rowOf(*content.asFound));
        for (ReportPage& page : recordPages(found, *content.asFound, content, state, kAsFoundCaption))
            pages.push_back(std::move(page));
    }
    for (ReportPage& page : lastPages(content, state, rowOf(content.asLeft), extras.signers))
        pages.push_back(std::move(page));

    const int n = int(pages.size());
    for (int k = 0; k < n; ++k) {
        ReportPage& page = pages[size_t(k)];
        QRect box = kFooterBox;
        box.moveTop(std::max(kFooterTop, bottomOf(page) + kFooterGap));
        if (box.y() + kLabelHeight > kPrintableHeight + kMarginSpill)
            box = kTopPageCountBox;
        addLabel(page, QStringLiteral("QRCFooter"), box, pageCountText(k + 1, n));
    }
    // An address too long for a code the size of the box's is left out of it, and the page says so.
    auto code = qrCode(kQrCodeName, certificateQrText(content, extras.verificationAddress), kQrBox);
    if (!code) {
        code = qrCode(kQrCodeName, certificateQrText(content), kQrBox);
        pages.front().notes << QStringLiteral("核验地址太长，二维码中未包含");
    }
    if (code)
        for (ReportPage& page : pages)
            page.codes.push_back(*code);
    return pages;
}

} // namespace sf6
