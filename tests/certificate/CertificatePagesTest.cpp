// The certificate's pages as descriptions: the record's page untouched with
// the number, conclusion and page count around it; the judgement, as-found
// and last pages; nothing laid over anything else.
#include <gtest/gtest.h>

#include "certificate/CertificatePages.h"
#include "tests/certificate/CertificateTestContent.h"

#include <QRegularExpression>

#include <algorithm>
#include <functional>

using namespace sf6;
using certtest::rowOf;

namespace {

const QString kFooter = QStringLiteral("QRCFooter");
const QString kNumber = QStringLiteral("QRCNumber");
const QString kState = QStringLiteral("QRCState");
const QString kCaption = QStringLiteral("QRCCaption");

QString textOf(const ReportPage& page, const QString& name)
{
    const PageLabel* l = page.label(name);
    return l ? l->text : QStringLiteral("<none>");
}

QStringList textsOf(const ReportPage& page)
{
    QStringList out;
    for (const PageLabel& l : page.labels)
        out << l.text;
    return out;
}

QString allText(const std::vector<ReportPage>& pages)
{
    QStringList out;
    for (const ReportPage& p : pages)
        out << textsOf(p);
    return out.join(QLatin1Char('\n'));
}

bool crosses(const PageLine& pl, const QRect& box)
{
    // Strictly inside the box, pen width included: a rule along its edge is fine.
    const QLine l = pl.line;
    const int top = box.y(), bottom = box.y() + box.height(), left = box.x(), right = box.x() + box.width();
    if (l.y1() == l.y2())
        return l.y1() + 1 > top && l.y1() - 1 < bottom && std::max(l.x1(), l.x2()) > left
               && std::min(l.x1(), l.x2()) < right;
    return l.x1() + 1 > left && l.x1() - 1 < right && std::max(l.y1(), l.y2()) > top && std::min(l.y1(), l.y2()) < bottom;
}

// Every overlap of a label with another label or a line, for the labels `mine` picks.
QStringList overlaps(const ReportPage& page, const std::function<bool(const PageLabel&)>& mine)
{
    QStringList out;
    for (size_t i = 0; i < page.labels.size(); ++i) {
        const PageLabel& a = page.labels[i];
        if (!mine(a))
            continue;
        for (size_t j = 0; j < page.labels.size(); ++j)
            if (j != i && page.labels[j].box.intersects(a.box) && (j > i || !mine(page.labels[j])))
                out << a.name + QStringLiteral(" / ") + page.labels[j].name;
        for (const PageLine& l : page.lines)
            if (crosses(l, a.box))
                out << a.name + QStringLiteral(" / line %1,%2-%3,%4").arg(l.line.x1()).arg(l.line.y1()).arg(l.line.x2()).arg(l.line.y2());
    }
    return out;
}

bool added(const PageLabel& l) { return l.name.startsWith(QStringLiteral("QRC")); }
bool any(const PageLabel&) { return true; }

constexpr int kPrintableHeight = int((297.0 - 2 * kPageMarginMm) / 25.4 * kReportDpi);

} // namespace

TEST(CertificatePages, PageOneIsTheRecordsPageWithNumberConclusionAndPageCount)
{
    const CertificateContent c = certtest::plainContent();
    const auto pages = certificatePages(c, {});
    ASSERT_EQ(pages.size(), 3u);   // record, judgement, last page
    const ReportPage& first = pages[0];

    ReportPage expected = buildReportPage(c.details, rowOf(c.asLeft));
    addConclusion(expected, c.asLeft.conclusion.line);
    for (const PageLabel& e : expected.labels) {
        const PageLabel* got = first.label(e.name);
        ASSERT_NE(got, nullptr) << e.name.toStdString();
        EXPECT_EQ(got->box, e.box) << e.name.toStdString();
        EXPECT_EQ(got->text, e.text) << e.name.toStdString();
        EXPECT_EQ(got->font, e.font) << e.name.toStdString();
    }
    ASSERT_EQ(first.lines.size(), expected.lines.size());
    for (size_t i = 0; i < expected.lines.size(); ++i)
        EXPECT_EQ(first.lines[i].line, expected.lines[i].line);
    EXPECT_EQ(textOf(first, QStringLiteral("QRLabel96")), QStringLiteral("21.5°C"));

    EXPECT_EQ(textOf(first, kNumber), QStringLiteral("证书编号：SF6-2026-0001"));
    EXPECT_EQ(textOf(first, kFooter), QStringLiteral("第1页 共3页"));
    EXPECT_EQ(first.label(kCaption), nullptr) << "no as-found, no caption";
    // Above the frame, beside the title; the footer below the conclusion, inside the printable area.
    EXPECT_LT(first.label(kNumber)->box.bottom(), 60);
    EXPECT_GT(first.label(kFooter)->box.top(), first.label(kConclusionLabel)->box.bottom());
    EXPECT_LE(first.label(kFooter)->box.y() + kLabelHeight, kPrintableHeight);
    EXPECT_EQ(overlaps(first, added), QStringList());
}

TEST(CertificatePages, PageCountStaysOnThePaperBelowOrAboveALongConclusion)
{
    CertificateContent c = certtest::plainContent();
    const QString failing = QStringLiteral("报警第一次、第二次、第三次误差超差，闭锁1第一次、第二次切换差超差，");
    for (int repeat : {1, 4}) {
        SCOPED_TRACE(repeat);
        c.asLeft.conclusion.line = QStringLiteral("结论：不合格（") + failing.repeated(repeat)
                                   + QStringLiteral("依据DL/T 259-2012；准确度等级1.6级，量程-0.100～0.900MPa，允许误差±0.016MPa）");
        const ReportPage first = certificatePages(c, {}).front();
        const PageLabel* footer = first.label(kFooter);
        ASSERT_NE(footer, nullptr);
        EXPECT_EQ(footer->text, QStringLiteral("第1页 共3页"));
        EXPECT_LE(footer->box.y() + kLabelHeight, kPrintableHeight + 8) << "no further than 2 mm into the margin";
        EXPECT_EQ(overlaps(first, added), QStringList());
    }
}

TEST(CertificatePages, EveryPageCarriesTheNumberAndItsPlaceInTheWhole)
{
    for (const CertificateContent& c : {certtest::plainContent(), certtest::adjustedContent(), certtest::amendment()}) {
        const auto pages = certificatePages(c, {});
        const int n = int(pages.size());
        for (int k = 0; k < n; ++k) {
            SCOPED_TRACE(k);
            EXPECT_EQ(textOf(pages[size_t(k)], kNumber), QStringLiteral("证书编号：") + c.number);
            EXPECT_EQ(textOf(pages[size_t(k)], kFooter), QStringLiteral("第%1页 共%2页").arg(k + 1).arg(n));
        }
    }
}

TEST(CertificatePages, StateBesideTheNumberFollowsApprovalAndReplacement)
{
    const CertificateContent c = certtest::plainContent();
    const CertificateState unapproved;
    const CertificateState approved{QStringLiteral("王五"), QStringLiteral("2026-03-05 09:00:00"), {}};
    const CertificateState replaced{QStringLiteral("王五"), QStringLiteral("2026-03-05 09:00:00"),
                                    QStringLiteral("SF6-2026-0007")};
    const CertificateState replacedUnapproved{{}, {}, QStringLiteral("SF6-2026-0007")};

    for (const ReportPage& p : certificatePages(c, unapproved))
        EXPECT_EQ(textOf(p, kState), kStateUnapproved);
    for (const ReportPage& p : certificatePages(c, approved))
        EXPECT_EQ(p.label(kState), nullptr);

    // The approver signs the record page's 审批 once approved; before, it reads as issued.
    const QString signature = QStringLiteral("QRsp");
    const CertificateState approvedByOther{QStringLiteral("赵六"), QStringLiteral("2026-03-05 09:00:00"), {}};
    ASSERT_NE(c.details.approver, QStringLiteral("赵六"));
    EXPECT_EQ(textOf(certificatePages(c, unapproved).front(), signature), c.details.approver);
    EXPECT_EQ(textOf(certificatePages(c, approvedByOther).front(), signature), QStringLiteral("赵六"));
    for (const ReportPage& p : certificatePages(c, replaced))
        EXPECT_EQ(textOf(p, kState), QStringLiteral("已被 SF6-2026-0007 替代"));
    for (const ReportPage& p : certificatePages(c, replacedUnapproved)) {
        EXPECT_TRUE(textOf(p, kState).contains(kStateUnapproved));
        EXPECT_TRUE(textOf(p, kState).contains(QStringLiteral("已被 SF6-2026-0007 替代")));
    }
}

TEST(CertificatePages, AsFoundRecordFollowsWithItsOwnRowDateAndConclusion)
{
    CertificateContent c = certtest::adjustedContent();
    c.asFound->conclusion.line = QStringLiteral("结论：不合格（报警第一次误差超差；依据DL/T 259-2012）");
    const auto pages = certificatePages(c, {});
    ASSERT_EQ(pages.size(), 5u);   // as left and its judgement, as found and its judgement, last page

    // The certificate's result is the as-left's: first, with its conclusion.
    EXPECT_EQ(textOf(pages[0], kConclusionLabel), c.asLeft.conclusion.line);
    EXPECT_EQ(textOf(pages[0], QStringLiteral("QRLabel96")), QStringLiteral("21.5°C"));
    EXPECT_EQ(textOf(pages[0], QStringLiteral("QRLabel94")), QStringLiteral("2026-03-01"));
    EXPECT_EQ(textOf(pages[0], kCaption), QStringLiteral("调整后"));
    EXPECT_EQ(textOf(pages[1], kCaption), QStringLiteral("调整后"));
    EXPECT_EQ(textOf(pages[1], QStringLiteral("QRJTitle")), kJudgementTitle);

    const ReportPage expected = buildReportPage(c.details, rowOf(*c.asFound));
    EXPECT_EQ(textOf(pages[2], kCaption), QStringLiteral("调整前"));
    EXPECT_EQ(textOf(pages[2], QStringLiteral("QRLabel96")), QStringLiteral("18.0°C"));
    EXPECT_EQ(textOf(pages[2], QStringLiteral("QRLabel94")), QStringLiteral("2026-02-28"));
    for (const QString& name : {QStringLiteral("QRLabel105"), QStringLiteral("QRLabel135"), QStringLiteral("QRLabel152")})
        EXPECT_EQ(textOf(pages[2], name), textOf(expected, name)) << name.toStdString();
    EXPECT_EQ(textOf(pages[2], kConclusionLabel), c.asFound->conclusion.line);
    EXPECT_EQ(textOf(pages[3], kCaption), QStringLiteral("调整前"));
    EXPECT_TRUE(textsOf(pages[3]).contains(c.asFound->conclusion.line));
    EXPECT_EQ(pages[4].label(kCaption), nullptr);
    for (const ReportPage& p : pages)
        EXPECT_EQ(overlaps(p, added), QStringList());
}

TEST(CertificatePages, LastPageSaysBasisStandardConditionsRuleSignersLabAndCodeThenEnds)
{
    const CertificateContent c = certtest::plainContent();
    const CertificateState approved{QStringLiteral("赵六"), QStringLiteral("2026-03-05 09:00:00"), {}};
    const auto pages = certificatePages(c, approved);
    const ReportPage& last = pages.back();
    const QStringList texts = textsOf(last);
    for (const QString& t : {kCertificateBasis, c.standard.name, c.standard.model, c.standard.serial,
                             c.standard.certificate, c.standard.issuer, c.standard.validUntil,
                             c.standard.uncertainty, QStringLiteral("温度：21.5°C；相对湿度：55%RH"), kDecisionRule,
                             c.lab.name, c.lab.address, c.lab.phone, c.lab.accreditation})
        EXPECT_TRUE(texts.contains(t)) << t.toStdString();

    // Signers, each beside the date that belongs to it: the approver's is the approval's.
    auto valueAfter = [&](const QString& caption, int step) {
        const qsizetype i = texts.indexOf(caption);
        return i < 0 ? QStringLiteral("<none>") : texts.value(i + step);
    };
    EXPECT_EQ(valueAfter(QStringLiteral("校验员"), 1), QStringLiteral("张三"));
    EXPECT_EQ(valueAfter(QStringLiteral("校验员"), 3), QStringLiteral("2026-03-02"));
    EXPECT_EQ(valueAfter(QStringLiteral("核验员"), 1), QStringLiteral("李四"));
    EXPECT_EQ(valueAfter(QStringLiteral("核验员"), 3), QStringLiteral("2026-03-02"));
    EXPECT_EQ(valueAfter(QStringLiteral("批准人"), 1), QStringLiteral("赵六"));
    EXPECT_EQ(valueAfter(QStringLiteral("批准人"), 3), QStringLiteral("2026-03-05"));

    const QString code = verificationCode(contentSha256(c));
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^[A-Z2-7]{4}(-[A-Z2-7]{4}){3}$")).match(code).hasMatch()) << code.toStdString();
    EXPECT_TRUE(texts.contains(QStringLiteral("校验码：") + code));
    EXPECT_FALSE(allText(pages).contains(QStringLiteral("本证书替代")));

    // The end mark is the last thing on the certificate: below every other label and line but the footer.
    const PageLabel* end = last.label(QStringLiteral("QRCEnd"));
    ASSERT_NE(end, nullptr);
    EXPECT_EQ(end->text, kEndMark);
    for (const PageLabel& l : last.labels)
        if (l.name != QStringLiteral("QRCEnd") && l.name != kFooter) {
            EXPECT_LT(l.box.y(), end->box.y()) << l.name.toStdString();
        }
    for (const PageLine& l : last.lines)
        EXPECT_LT(std::max(l.line.y1(), l.line.y2()), end->box.y());
    EXPECT_GT(last.label(kFooter)->box.y(), end->box.bottom());
    EXPECT_EQ(overlaps(last, any), QStringList());
}

TEST(CertificatePages, UnapprovedLeavesTheApprovalDateBlankForASignature)
{
    const auto pages = certificatePages(certtest::plainContent(), {});
    const QStringList texts = textsOf(pages.back());
    const qsizetype i = texts.indexOf(QStringLiteral("批准人"));
    ASSERT_GE(i, 0);
    EXPECT_EQ(texts.value(i + 1), QStringLiteral("王五"));
    EXPECT_EQ(texts.value(i + 2), QStringLiteral("日期"));
    EXPECT_EQ(texts.value(i + 3), QString());
}

TEST(CertificatePages, AmendmentNamesWhatItReplacesAndWhy)
{
    const auto pages = certificatePages(certtest::amendment(), {});
    EXPECT_TRUE(textsOf(pages.back()).contains(QStringLiteral("本证书替代 SF6-2026-0001，原因：送检单位名称有误")));
    EXPECT_EQ(textOf(pages.front(), kNumber), QStringLiteral("证书编号：SF6-2026-0002"));
}

TEST(CertificatePages, HumidityIsPrintedOnceWithItsUnitHoweverTyped)
{
    CertificateContent c = certtest::plainContent();
    for (const QString& typed : {QStringLiteral("55"), QStringLiteral("55%"), QStringLiteral("55%RH"), QStringLiteral(" 55 %rh ")}) {
        c.humidity = typed;
        EXPECT_TRUE(textsOf(certificatePages(c, {}).back()).contains(QStringLiteral("温度：21.5°C；相对湿度：55%RH")))
            << typed.toStdString();
    }
}

TEST(CertificatePages, LongLabTextsWrapInTheirRowsAndContinueOnANextPage)
{
    CertificateContent c = certtest::plainContent();
    c.lab.name = QStringLiteral("国网某省电力有限公司电力科学研究院高压计量与气体密度继电器校验实验室").repeated(3);
    c.lab.address = QStringLiteral("某省某市高新技术产业开发区科技大道一千二百三十四号 Building A, Room 1203 ").repeated(3);
    auto pages = certificatePages(c, {});
    const ReportPage* last = &pages.back();
    for (const QString& t : {c.lab.name, c.lab.address}) {
        const auto it = std::find_if(last->labels.begin(), last->labels.end(),
                                     [&](const PageLabel& l) { return l.text == t; });
        ASSERT_NE(it, last->labels.end());
        EXPECT_GE(it->box.height(), 3 * kLabelHeight) << "room for every line it takes";
    }
    EXPECT_EQ(overlaps(*last, any), QStringList());

    // Longer than a page can hold: the rows go on to a continued page, each above the footer.
    c.lab.name = c.lab.name.repeated(12);
    pages = certificatePages(c, {});
    ASSERT_GE(pages.size(), 4u);
    EXPECT_EQ(textOf(pages[pages.size() - 2], QStringLiteral("QRCTitle")), QStringLiteral("校验说明"));
    EXPECT_EQ(textOf(pages.back(), QStringLiteral("QRCTitle")), QStringLiteral("校验说明（续）"));
    EXPECT_EQ(textOf(pages.back(), QStringLiteral("QRCEnd")), kEndMark);
    for (size_t k = pages.size() - 2; k < pages.size(); ++k) {
        EXPECT_EQ(overlaps(pages[k], any), QStringList());
        EXPECT_LE(pages[k].label(kFooter)->box.y() + kLabelHeight, kPrintableHeight);
    }
}

TEST(CertificatePages, LongJudgementTableContinuesOnNextPagesWithEveryItemOnce)
{
    CertificateContent c = certtest::plainContent();
    c.asLeft.conclusion = certtest::conclusion(QStringLiteral("合格"), 60);
    const auto pages = certificatePages(c, {});
    int judgementPages = 0, itemRows = 0;
    for (const ReportPage& p : pages) {
        if (!p.label(QStringLiteral("QRJTitle")))
            continue;
        ++judgementPages;
        for (const PageLabel& l : p.labels)
            if (l.name.startsWith(QStringLiteral("QRJT")) && l.name.endsWith(QStringLiteral("_0")) && l.name != QStringLiteral("QRJT0_0"))
                ++itemRows;
        const PageLabel* footer = p.label(kFooter);
        for (const PageLabel& l : p.labels)
            if (&l != footer) {
                EXPECT_LT(l.box.y() + l.box.height(), footer->box.y()) << l.name.toStdString();
            }
    }
    EXPECT_GE(judgementPages, 2);
    EXPECT_EQ(itemRows, 60);
}

TEST(CertificatePages, RecordOfTheWrongSizePrintsAnEmptyRowInsteadOfReadingPastIt)
{
    CertificateContent c = certtest::plainContent();
    c.asLeft.raw.truncate(20);
    const auto pages = certificatePages(c, {});
    ASSERT_EQ(pages.size(), 3u);
    EXPECT_EQ(textOf(pages[0], QStringLiteral("QRLabel96")), QString());
    EXPECT_EQ(textOf(pages[0], QStringLiteral("QRLabel135")), QString());
}

// Where the readings came from stands on the last page when the certificate
// knows it; an as-found record from elsewhere is told apart.
TEST(CertificatePages, SourceOfTheReadingsIsPrintedWhenKnown)
{
    CertificateContent c = certtest::adjustedContent();
    EXPECT_FALSE(allText(certificatePages(c, {})).contains(QStringLiteral("数据来源"))) << "older certificates say nothing";
    c.asLeft.source = QStringLiteral("导入 old.xlsx");
    c.asFound->source = QStringLiteral("导入 old.xlsx");
    EXPECT_TRUE(allText(certificatePages(c, {})).contains(QStringLiteral("数据来源：导入 old.xlsx")));
    c.asLeft.source = QStringLiteral("仪器同步");
    EXPECT_TRUE(allText(certificatePages(c, {})).contains(QStringLiteral("数据来源：调整前 导入 old.xlsx；调整后 仪器同步")));
}

TEST(CertificatePages, QrCodeStandsTopRightOnEveryPageClearOfEverythingElse)
{
    for (const CertificateContent& c : {certtest::plainContent(), certtest::adjustedContent(), certtest::amendment()}) {
        const CertificateState replacedUnapproved{{}, {}, QStringLiteral("SF6-2026-0003")};
        const auto pages = certificatePages(c, replacedUnapproved, {QStringLiteral("https://lab.example.cn/v"), {}});
        for (const ReportPage& page : pages) {
            ASSERT_EQ(page.codes.size(), 1u);
            const PageCode& code = page.codes.front();
            EXPECT_EQ(code.dark.size(), size_t(code.modules * code.modules));
            EXPECT_GE(code.box.width() * 4, code.modules * 5) << "a module 1.25 px at 96 dpi at least: 0.33 mm";
            EXPECT_GT(code.box.x(), page.label(kNumber)->box.right());
            EXPECT_LT(code.box.bottom(), 60) << "above the frame";
            for (const PageLabel& l : page.labels)
                EXPECT_FALSE(l.box.intersects(code.box)) << l.name.toStdString();
            for (const PageLine& l : page.lines)
                EXPECT_FALSE(crosses(l, code.box.adjusted(-2, -2, 2, 2))) << l.line.y1();
        }
        // What the state says stays whole on its two lines beside the code.
        EXPECT_EQ(textOf(pages.front(), kState), QStringLiteral("未批准，已被 SF6-2026-0003 替代"));
    }
    // An address no code of that size can hold is left out, and the page notes it.
    const auto pages = certificatePages(certtest::plainContent(), {}, {QString(2000, u'x'), {}});
    ASSERT_EQ(pages.front().codes.size(), 1u);
    EXPECT_FALSE(pages.front().notes.isEmpty());
}
