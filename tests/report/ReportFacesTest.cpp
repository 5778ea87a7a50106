// Which face draws which character: every character must read back from the
// PDF as itself (the PDF test checks that end to end on a few pages).
#include <gtest/gtest.h>

#include "report/ReportFaces.h"
#include "report/ReportPage.h"
#include "tests/report/ReportTestRows.h"

using sf6::ReportFaces;

namespace {

QString unreadable(const ReportFaces& faces, char32_t from, char32_t to)
{
    QString bad;
    for (char32_t c = from; c <= to; ++c)
        if (!faces.readsBack(c) && faces.families().size() > 1 && bad.size() < 40)
            bad += QString::fromUcs4(&c, 1);
    return bad;
}

} // namespace

TEST(ReportFaces, EveryCharacterThePageItselfDrawsReadsBack)
{
    const sf6::ReportPage page =
        sf6::buildReportPage(sf6::defaultReportDetails(QStringLiteral("2012-5-25")), reporttest::distinctRow("3"));
    QString all = QStringLiteral("0123456789.,-:/ °C系统采集手工输入");
    for (const sf6::PageLabel& l : page.labels)
        all += l.text;
    for (const ReportFaces* faces : {&ReportFaces::normal(), &ReportFaces::bold()})
        for (char32_t c : all.toUcs4())
            EXPECT_TRUE(faces->readsBack(c)) << QString::fromUcs4(&c, 1).toStdString();
}

// Typed texts can hold any ideograph, and radicals look the same as the
// ideographs they stand for; both must come back as typed.
TEST(ReportFaces, IdeographsAndRadicalsEachReadBackAsThemselves)
{
    const ReportFaces& faces = ReportFaces::normal();
    ASSERT_TRUE(faces.families().contains(QStringLiteral("WenQuanYi Zen Hei"))) << "fonts-wqy-zenhei missing";
    EXPECT_EQ(unreadable(faces, 0x4E00, 0x9FA5), QString()) << "CJK unified ideographs";
    EXPECT_EQ(unreadable(faces, 0x3400, 0x4DB5), QString()) << "extension A";
    EXPECT_EQ(unreadable(faces, 0x2F00, 0x2FD5), QString()) << "Kangxi radicals";
    EXPECT_EQ(unreadable(faces, 0x3000, 0x303F), QString()) << "CJK punctuation";
    EXPECT_EQ(unreadable(faces, 0xFF01, 0xFF5E), QString()) << "full-width forms";
    EXPECT_EQ(unreadable(faces, 0x21, 0x7E), QString()) << "ASCII";
    EXPECT_EQ(faces.faceFor(U'日'), faces.faceFor(U'⽇'));   // one face, two glyphs
}
