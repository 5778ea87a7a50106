#include "report/ReportPage.h"

#include <array>
#include <cmath>
#include <utility>

namespace sf6 {

namespace {

// Frame and header block (the frame's sides and top are in the header).
constexpr int kFrameBottom = 990;
constexpr std::array kHeaderRuleYs{91, 122, 153, 184, 215};
constexpr std::array kHeaderLabelTops{70, 100, 133, 163, 195};
constexpr int kCaptionWidth = 105;
constexpr int kValueWidth = 209;
constexpr int kRelayLineWidth = 537;
constexpr int kLeftCaptionX = 24;
constexpr int kLeftValueX = 136;
constexpr int kRightCaptionX = 352;
constexpr int kRightValueX = 464;
constexpr int kHeaderDividerX = 130;
constexpr int kHeaderDividerBottom = 184;
constexpr int kInnerDividerX1 = 350;
constexpr int kInnerDividerX2 = 460;

// Results grid: four blocks (three trials, then the means) of three pairs
// (alarm, lock-out 1, lock-out 2) of two sub-rows (Pt above P20).
constexpr int kGridTop = 215;
constexpr int kGridBottom = 959;
constexpr int kBlockHeight = 186;
constexpr int kPairHeight = 62;
constexpr int kSubRowHeight = 31;
constexpr int kBlockCount = 4;
constexpr int kMeansBlock = 3;
constexpr int kPairCount = 3;
constexpr std::array kGridColumnXs{130, 230, 280, 405, 505, 555};
constexpr int kSubRuleLeft1 = 230, kSubRuleRight1 = 405;
constexpr int kSubRuleLeft2 = 505, kSubRuleRight2 = 680;
constexpr int kPairRuleLeft = 130;
// Labels sit a little below the exact middle of their cell, as in the header rows.
constexpr int kValueTopInSubRow = 10;
constexpr int kFirstValueTop = 9;    // the very first sub-row of the grid is one pixel tighter
constexpr int kPairLabelTop = 25;    // (62 - 17) / 2 + 3
constexpr int kBlockLabelTop = 87;   // (186 - 17) / 2 + 3

struct GridColumn {
    int left, width;
};
constexpr GridColumn kTrialCol{24, 105};
constexpr GridColumn kReturnNameCol{136, 89};
constexpr GridColumn kLeftKindCol{232, 41};
constexpr GridColumn kReturnValueCol{288, 113};
constexpr GridColumn kSetNameCol{408, 89};
constexpr int kAlarmNameLateLeft = 410;   // "报警值" of the third trial and the means
constexpr GridColumn kRightKindCol{512, 41};
constexpr GridColumn kSetValueCol{560, 113};

// Signature row.
constexpr int kSignatureTop = 970;
constexpr int kSignatureWidth = 97;
constexpr std::array kSignatureLefts{24, 136, 248, 360, 464, 576};
constexpr std::array kSignatureDividerXs{130, 240, 350, 460, 570};
constexpr int kSignatureDividerTop = 960;

// Row columns of the grid: set value and return value of each pair at P20;
// the same quantity at Pt is kPtOffset columns further on.
constexpr int kPtOffset = 24;
constexpr int kMeanSetColumn = 5;      // alarm, lock 1, lock 2 at 5, 6, 7
constexpr int kMeanReturnColumn = 8;   // 8, 9, 10
constexpr int kTrialSetColumn = 11;    // alarm trials at 11..13, lock 1 at 17..19, lock 2 at 23..25
constexpr int kTrialReturnColumn = 14;
constexpr int kColumnsPerPair = 6;
constexpr int kValueLabelBase = 100;   // a value label is named after its row column

constexpr QRect kResultsHeadingBox{272, 195, 185, kLabelHeight};

const std::array<QString, kBlockCount> kTrialNames{
    QStringLiteral("第一次"), QStringLiteral("第二次"), QStringLiteral("第三次"), QStringLiteral("均值")};
constexpr std::array kTrialNameLabels{4, 6, 11, 12};
const std::array<QString, kPairCount> kReturnNames{
    QStringLiteral("报警回复"), QStringLiteral("闭锁1回复"), QStringLiteral("闭锁2回复")};
constexpr int kFirstReturnNameLabel = 13;   // 13..16, 17..20, 21..24
const std::array<QString, kPairCount> kSetNames{
    QStringLiteral("报警值"), QStringLiteral("闭锁1"), QStringLiteral("闭锁2")};
constexpr int kFirstSetNameLabel = 25;      // 25..28, 29..32, 33..36
constexpr int kFirstPtLabel = 37;           // 24 labels "Pt"
constexpr int kFirstP20Label = 61;          // 24 labels "P20"

QString qrLabel(int n) { return QStringLiteral("QRLabel%1").arg(n); }

int blockTop(int block) { return kGridTop + block * kBlockHeight; }

int setColumn(int block, int pair, bool pt)
{
    const int base = block == kMeansBlock ? kMeanSetColumn + pair
                                          : kTrialSetColumn + pair * kColumnsPerPair + block;
    return base + (pt ? kPtOffset : 0);
}

int returnColumn(int block, int pair, bool pt)
{
    const int base = block == kMeansBlock ? kMeanReturnColumn + pair
                                          : kTrialReturnColumn + pair * kColumnsPerPair + block;
    return base + (pt ? kPtOffset : 0);
}

class PageBuilder {
public:
    explicit PageBuilder(ReportPage& page) : page_(page) {}

    void label(const QString& name, QRect box, const QString& text = {},
               PageLabel::Font font = PageLabel::Arial10,
               Qt::Alignment align = Qt::AlignHCenter | Qt::AlignTop)
    {
        page_.labels.push_back(PageLabel{name, box, font, align, text});
    }
    void label(const QString& name, int left, int top, int width, const QString& text = {})
    {
        label(name, QRect(left, top, width, kLabelHeight), text);
    }
    void line(int x1, int y1, int x2, int y2) { page_.lines.push_back(PageLine{QLine(x1, y1, x2, y2)}); }
    void hline(int y, int x1 = kRuleLeft, int x2 = kFrameRight) { line(x1, y, x2, y); }
    void vline(int x, int y1, int y2) { line(x, y1, x, y2); }

private:
    ReportPage& page_;
};

// Every element at its design value: static texts set, value labels blank.
void layOut(ReportPage& page)
{
    PageBuilder b(page);
    b.label(QStringLiteral("QRLTitle"), kTitleBox, {}, PageLabel::Arial12Bold,
            Qt::AlignLeft | Qt::AlignTop);

    // Header: caption / value pairs per row.
    const auto& top = kHeaderLabelTops;
    b.label(qrLabel(1), kLeftCaptionX, top[0], kCaptionWidth, QStringLiteral("校验单位"));
    b.label(qrLabel(91), kLeftValueX, top[0], kValueWidth);
    b.label(qrLabel(3), kRightCaptionX, top[0], kCaptionWidth, QStringLiteral("送检单位"));
    b.label(qrLabel(92), kRightValueX, top[0], kValueWidth);
    b.label(qrLabel(5), kLeftCaptionX, top[1], kCaptionWidth, QStringLiteral("继电器信息"));
    b.label(qrLabel(93), kLeftValueX, top[1], kRelayLineWidth);
    b.label(qrLabel(7), kLeftCaptionX, top[2], kCaptionWidth, QStringLiteral("校验日期"));
    b.label(qrLabel(94), kLeftValueX, top[2], kValueWidth);
    b.label(qrLabel(9), kRightCaptionX, top[2], kCaptionWidth, QStringLiteral("打印日期"));
    b.label(qrLabel(95), kRightValueX, top[2], kValueWidth);
    b.label(qrLabel(8), kLeftCaptionX, top[3], kCaptionWidth, QStringLiteral("温度记录"));
    b.label(qrLabel(96), kLeftValueX, top[3], kValueWidth);
    b.label(qrLabel(10), kRightCaptionX, top[3], kCaptionWidth, QStringLiteral("温度采集方式"));
    b.label(qrLabel(97), kRightValueX, top[3], kValueWidth);
    b.label(qrLabel(2), kResultsHeadingBox, QStringLiteral("校验结果记录(单位:MPa)"));

    // Results grid.
    int ptLabel = kFirstPtLabel;
    int p20Label = kFirstP20Label;
    for (int block = 0; block < kBlockCount; ++block) {
        const int bt = blockTop(block);
        b.label(qrLabel(kTrialNameLabels[block]), kTrialCol.left, bt + kBlockLabelTop,
                kTrialCol.width, kTrialNames[block]);
        for (int pair = 0; pair < kPairCount; ++pair) {
            const int pt = bt + pair * kPairHeight;
            b.label(qrLabel(kFirstReturnNameLabel + pair * kBlockCount + block), kReturnNameCol.left,
                    pt + kPairLabelTop, kReturnNameCol.width, kReturnNames[pair]);
            const int setNameLeft = (pair == 0 && block >= 2) ? kAlarmNameLateLeft : kSetNameCol.left;
            b.label(qrLabel(kFirstSetNameLabel + pair * kBlockCount + block), setNameLeft,
                    pt + kPairLabelTop, kSetNameCol.width, kSetNames[pair]);
            for (int sub = 0; sub < 2; ++sub) {
                const bool isPt = sub == 0;
                const int subTop = pt + sub * kSubRowHeight;
                const bool first = block == 0 && pair == 0 && sub == 0;
                const int top = subTop + (first ? kFirstValueTop : kValueTopInSubRow);
                const QString kind = isPt ? QStringLiteral("Pt") : QStringLiteral("P20");
                int& kindLabel = isPt ? ptLabel : p20Label;
                b.label(qrLabel(kindLabel++), kLeftKindCol.left, top, kLeftKindCol.width, kind);
                b.label(qrLabel(kValueLabelBase + returnColumn(block, pair, isPt)),
                        kReturnValueCol.left, top, kReturnValueCol.width);
                b.label(qrLabel(kindLabel++), kRightKindCol.left, top, kRightKindCol.width, kind);
                b.label(qrLabel(kValueLabelBase + setColumn(block, pair, isPt)), kSetValueCol.left,
                        top, kSetValueCol.width);
            }
        }
    }

    // Signature row: caption, name, three times.
    const std::array<QString, 6> signatureNames{qrLabel(85), QStringLiteral("QRjy"), qrLabel(89),
                                                QStringLiteral("QRsh"), qrLabel(87), QStringLiteral("QRsp")};
    const std::array<QString, 6> signatureTexts{QStringLiteral("校验"), {}, QStringLiteral("审核"),
                                                {}, QStringLiteral("审批"), {}};
    for (size_t i = 0; i < kSignatureLefts.size(); ++i)
        b.label(signatureNames[i], kSignatureLefts[i], kSignatureTop, kSignatureWidth, signatureTexts[i]);

    // Lines: frame, header rules and dividers, grid, signature row.
    b.hline(kFrameTop);
    b.hline(kFrameBottom);
    b.vline(kFrameLeft, kFrameTop, kFrameBottom);
    b.vline(kFrameRight, kFrameTop, kFrameBottom);
    for (int y : kHeaderRuleYs)
        b.hline(y);
    b.vline(kHeaderDividerX, kFrameTop, kHeaderDividerBottom);
    b.vline(kInnerDividerX1, kFrameTop, kHeaderRuleYs[0]);
    b.vline(kInnerDividerX2, kFrameTop, kHeaderRuleYs[0]);
    b.vline(kInnerDividerX1, kHeaderRuleYs[1], kHeaderDividerBottom);
    b.vline(kInnerDividerX2, kHeaderRuleYs[1], kHeaderDividerBottom);
    for (int x : kGridColumnXs)
        b.vline(x, kGridTop, kGridBottom);
    for (int block = 1; block < kBlockCount; ++block)
        b.hline(blockTop(block));
    b.hline(kGridBottom);
    for (int block = 0; block < kBlockCount; ++block) {
        const int bt = blockTop(block);
        for (int pair = 1; pair < kPairCount; ++pair)
            b.hline(bt + pair * kPairHeight, kPairRuleLeft, kFrameRight);
        for (int pair = 0; pair < kPairCount; ++pair) {
            const int y = bt + pair * kPairHeight + kSubRowHeight;
            b.hline(y, kSubRuleLeft1, kSubRuleRight1);
            b.hline(y, kSubRuleLeft2, kSubRuleRight2);
        }
    }
    for (int x : kSignatureDividerXs)
        b.vline(x, kSignatureDividerTop, kFrameBottom);

    Q_ASSERT(page.lines.size() == size_t(kLineCount));
}

// The twelve value cells of one block.
void fillBlock(ReportPage& page, int block, const ListRow& row)
{
    for (int pair = 0; pair < kPairCount; ++pair) {
        for (bool pt : {true, false}) {
            for (int column : {returnColumn(block, pair, pt), setColumn(block, pair, pt)}) {
                if (PageLabel* l = page.label(qrLabel(kValueLabelBase + column)))
                    l->text = row.value(column);
            }
        }
    }
}

void set(ReportPage& page, const QString& name, const QString& text)
{
    if (PageLabel* l = page.label(name))
        l->text = printableText(text);
}

} // namespace

QString printableText(const QString& text)
{
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        const bool control = (u < 0x20 && u != u'\n') || (u >= 0x7F && u <= 0x9F);
        const bool bidiOverride = (u >= 0x202A && u <= 0x202E) || (u >= 0x2066 && u <= 0x2069);
        if (!control && !bidiOverride)
            out += c;
    }
    return out;
}

const PageLabel* ReportPage::label(const QString& name) const
{
    for (const PageLabel& l : labels)
        if (l.name == name)
            return &l;
    return nullptr;
}

PageLabel* ReportPage::label(const QString& name)
{
    return const_cast<PageLabel*>(std::as_const(*this).label(name));
}

QString relayInformationLine(const ReportDetails& d)
{
    return d.relayName + QStringLiteral("；型号：") + d.model + QStringLiteral("；编号：") + d.serialNumber
           + QStringLiteral("；生产日期：") + d.productionDate;
}

ReportDetails defaultReportDetails(const QString& today)
{
    ReportDetails d;
    d.title = QStringLiteral("SF6密度继电器校验报告");
    d.calibratingUnit = QStringLiteral("redidu");
    d.submittingUnit = QStringLiteral("XXX换流站");
    d.printDate = today;
    d.relayName = QStringLiteral("1#开关继电器");
    d.model = QStringLiteral("ABB");
    d.serialNumber = QStringLiteral("20121212");
    d.productionDate = today;
    d.tester = QStringLiteral("张三");
    d.reviewer = QStringLiteral("李四");
    d.approver = QStringLiteral("王五");
    return d;
}

QString testDateOfRow(const ListRow& row)
{
    constexpr int kDateLength = 10;
    return row.value(kColTime).left(kDateLength);
}

QString reportPdfFileName(const QString& testDate, const QString& rowNumber)
{
    // Characters Windows refuses in a name, plus the path separators.
    const QString forbidden = QStringLiteral("\\/:*?\"<>|");
    auto clean = [&](const QString& s) {
        QString out = s.trimmed();
        for (QChar& c : out)
            if (forbidden.contains(c) || c.isSpace() || c.category() == QChar::Other_Control)
                c = QLatin1Char('-');
        return out;
    };
    QString base = clean(testDate);
    if (base.isEmpty())
        base = QStringLiteral("report");
    const QString number = clean(rowNumber);
    if (!number.isEmpty())
        base += QLatin1Char('_') + number;
    return base + QStringLiteral(".pdf");
}

ReportPage buildReportPage(const ReportDetails& details, const ListRow& row)
{
    ReportPage page;
    layOut(page);

    set(page, QStringLiteral("QRLTitle"), details.title);
    set(page, qrLabel(91), details.calibratingUnit);
    set(page, qrLabel(92), details.submittingUnit);
    set(page, qrLabel(93), relayInformationLine(details));
    set(page, qrLabel(94), details.testDate);
    set(page, qrLabel(95), details.printDate);

    // The instrument writes a plain decimal; anything else prints trial 1 only.
    const QString countText = row.value(kColTestCount);
    bool ok = false;
    int testCount = countText.toInt(&ok);
    if (!ok) {
        testCount = 0;
        page.notes << QStringLiteral("测试次数\"%1\"不是整数，按0处理").arg(countText);
    }

    set(page, qrLabel(96), row.value(kColTemperature));
    set(page, qrLabel(97), row.value(kColMode));
    fillBlock(page, kMeansBlock, row);
    fillBlock(page, 0, row);
    if (testCount > 1)
        fillBlock(page, 1, row);
    if (testCount > 2)
        fillBlock(page, 2, row);

    set(page, QStringLiteral("QRjy"), details.tester);
    set(page, QStringLiteral("QRsh"), details.reviewer);
    set(page, QStringLiteral("QRsp"), details.approver);
    return page;
}

const QStringList& judgementTableCaptions()
{
    static const QStringList captions{QStringLiteral("触点"),     QStringLiteral("次数"),     QStringLiteral("设定值"),
                                      QStringLiteral("P20动作值"), QStringLiteral("误差"),     QStringLiteral("允许误差"),
                                      QStringLiteral("切换差"),   QStringLiteral("差限值"),   QStringLiteral("判定")};
    return captions;
}

int conclusionHeight(const QString& line)
{
    // A Chinese character is a full em wide, digits and Latin letters about
    // six tenths; rounding up leaves room for a word carried to the next line.
    constexpr double kNarrowEm = 0.6;
    double width = 0;
    for (const QChar c : line)
        width += kLabelFontPixels * (c.unicode() >= 0x2E80 || c == u'±' ? 1.0 : kNarrowEm);
    const int lines = std::max(1, int(std::ceil(width / kConclusionBox.width())));
    return lines * kLabelHeight;
}

void addConclusion(ReportPage& page, const QString& line)
{
    QRect box = kConclusionBox;
    box.setHeight(conclusionHeight(line));
    page.labels.push_back(PageLabel{kConclusionLabel, box, PageLabel::Arial10, Qt::AlignLeft | Qt::AlignTop,
                                    printableText(line)});
}

namespace {
// Page 2 in the page's own pixels: a header block like page 1's, then the table.
constexpr int kRuleTop = kFrameTop;
constexpr int kRowHeight = 31;
constexpr int kLabelInset = 10;   // label top below its row's top, as in the header block
constexpr std::array kItemColumnXs{21, 81, 141, 216, 296, 366, 441, 511, 586, 680};
} // namespace

ReportPage buildJudgementPage(const ReportDetails& details, const ReportConclusion& c)
{
    ReportPage page;
    PageBuilder b(page);
    b.label(QStringLiteral("QRJTitle"), kTitleBox, printableText(kJudgementTitle), PageLabel::Arial12Bold,
            Qt::AlignLeft | Qt::AlignTop);

    // Who and when, then the rule: caption/value pairs, two a row.
    std::vector<std::pair<QString, QString>> facts{{QStringLiteral("继电器信息"), relayInformationLine(details)},
                                                   {QStringLiteral("校验日期"), details.testDate}};
    facts.insert(facts.end(), c.rule.begin(), c.rule.end());
    int y = kRuleTop;
    b.hline(y);
    int name = 0;
    for (size_t i = 0; i < facts.size(); ++i) {
        const bool wide = i == 0;   // the relay line spans the row
        const bool right = !wide && (i % 2 == 0);
        const int captionX = right ? kRightCaptionX : kLeftCaptionX;
        const int valueX = right ? kRightValueX : kLeftValueX;
        b.label(QStringLiteral("QRJ%1").arg(++name), captionX, y + kLabelInset, kCaptionWidth,
                printableText(facts[i].first));
        b.label(QStringLiteral("QRJ%1").arg(++name), valueX, y + kLabelInset, wide ? kRelayLineWidth : kValueWidth,
                printableText(facts[i].second));
        if (wide || right || i + 1 == facts.size()) {
            b.vline(kHeaderDividerX, y, y + kRowHeight);
            if (!wide) {
                b.vline(kInnerDividerX1, y, y + kRowHeight);
                b.vline(kInnerDividerX2, y, y + kRowHeight);
            }
            y += kRowHeight;
            b.hline(y);
        }
    }
    const int tableTop = y + kRowHeight / 2;
    b.vline(kFrameLeft, kRuleTop, y);
    b.vline(kFrameRight, kRuleTop, y);

    // The item table: a header row, then one row an item.
    const int rows = int(c.items.size()) + 1;
    const int tableBottom = tableTop + rows * kRowHeight;
    for (int r = 0; r <= rows; ++r)
        b.hline(tableTop + r * kRowHeight);
    for (int x : kItemColumnXs)
        b.vline(x == kRuleLeft ? kFrameLeft : x, tableTop, tableBottom);
    for (int r = 0; r < rows; ++r) {
        const QStringList cells = r == 0 ? judgementTableCaptions() : c.items[size_t(r - 1)];
        for (size_t k = 0; k + 1 < kItemColumnXs.size(); ++k) {
            const int left = kItemColumnXs[k] + 2, width = kItemColumnXs[k + 1] - kItemColumnXs[k] - 4;
            b.label(QStringLiteral("QRJT%1_%2").arg(r).arg(k), left, tableTop + r * kRowHeight + kLabelInset, width,
                    printableText(cells.value(qsizetype(k))));
        }
    }

    const int conclusionExtra = conclusionHeight(c.line) - kLabelHeight;   // its lines after the first
    PageLabel conclusion{kConclusionLabel,
                         QRect(kLeftCaptionX, tableBottom + kRowHeight / 2, kConclusionBox.width(), kLabelHeight + conclusionExtra),
                         PageLabel::Arial10, Qt::AlignLeft | Qt::AlignTop, printableText(c.line)};
    page.labels.push_back(conclusion);

    // The same three signatures as the record's page, below every line of the conclusion.
    const int signTop = tableBottom + 2 * kRowHeight + conclusionExtra;
    b.hline(signTop);
    b.hline(signTop + kRowHeight);
    b.vline(kFrameLeft, signTop, signTop + kRowHeight);
    b.vline(kFrameRight, signTop, signTop + kRowHeight);
    for (int x : kSignatureDividerXs)
        b.vline(x, signTop, signTop + kRowHeight);
    const QString signatures[] = {QStringLiteral("校验"), details.tester, QStringLiteral("审核"), details.reviewer,
                                  QStringLiteral("审批"), details.approver};
    for (size_t i = 0; i < kSignatureLefts.size(); ++i)
        b.label(QStringLiteral("QRJS%1").arg(i), kSignatureLefts[i], signTop + kLabelInset, kSignatureWidth,
                printableText(signatures[i]));
    return page;
}

} // namespace sf6
