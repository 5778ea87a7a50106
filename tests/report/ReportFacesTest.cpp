// Which face draws which character: every character must read back from the
// PDF as itself (the PDF test checks that end to end on a few pages).
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFontDatabase>
#include <QRawFont>
#include <gtest/gtest.h>

#include "report/ReportFaces.h"
#include "report/ReportPage.h"
#include "tests/report/ReportTestRows.h"

using sf6::ReportFaces;

namespace {

// Characters the faces draw that would read back as another.
QString unreadable(const ReportFaces& faces, char32_t from, char32_t to)
{
    QString bad;
    for (char32_t c = from; c <= to; ++c)
        if (faces.draws(c) && !faces.readsBack(c) && bad.size() < 40)
            bad += QString::fromUcs4(&c, 1);
    return bad;
}

QString undrawn(const ReportFaces& faces, char32_t from, char32_t to)
{
    QString missing;
    for (char32_t c = from; c <= to; ++c)
        if (!faces.draws(c) && missing.size() < 40)
            missing += QString::fromUcs4(&c, 1);
    return missing;
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
    ASSERT_TRUE(sf6::ReportFaces::available().ok()) << sf6::ReportFaces::available().message().toStdString();
    EXPECT_EQ(unreadable(faces, 0x4E00, 0x9FA5), QString()) << "CJK unified ideographs";
    EXPECT_EQ(unreadable(faces, 0x3400, 0x4DB5), QString()) << "extension A";
    EXPECT_EQ(unreadable(faces, 0x2F00, 0x2FD5), QString()) << "Kangxi radicals";
    EXPECT_EQ(unreadable(faces, 0x3000, 0x303F), QString()) << "CJK punctuation";
    // The two font files have every character a Chinese text commonly holds;
    // a rare mark they lack (〄, 〰) is a box, never a look-alike from elsewhere.
    EXPECT_EQ(undrawn(faces, 0x4E00, 0x9FA5), QString()) << "CJK unified ideographs";
    EXPECT_EQ(undrawn(faces, 0x2F00, 0x2FD5), QString()) << "Kangxi radicals";
    EXPECT_EQ(undrawn(faces, 0xFF01, 0xFF5E), QString()) << "full-width forms";
    EXPECT_EQ(undrawn(faces, 0x20, 0x7E), QString()) << "ASCII";
    for (const char32_t c : QStringLiteral("、。〈〉《》「」『』【】〔〕").toUcs4())
        EXPECT_TRUE(faces.draws(c) && faces.readsBack(c)) << QString::fromUcs4(&c, 1).toStdString();
    EXPECT_EQ(unreadable(faces, 0xFF01, 0xFF5E), QString()) << "full-width forms";
    EXPECT_EQ(unreadable(faces, 0x21, 0x7E), QString()) << "ASCII";
    EXPECT_EQ(faces.faceFor(U'日'), faces.faceFor(U'⽇'));   // one face, two glyphs
}

// The faces are the named files' own families, loaded from those files; a
// copy beside the program (the Windows zip's fonts folder) comes before the
// system's; a file that is nowhere is named in the message.
TEST(ReportFaces, FacesComeFromTheNamedFontFiles)
{
    ASSERT_TRUE(ReportFaces::available().ok()) << ReportFaces::available().message().toStdString();
    for (const ReportFaces* faces : {&ReportFaces::normal(), &ReportFaces::bold()})
        EXPECT_EQ(faces->families(), (QStringList{ReportFaces::latinFamily(), ReportFaces::chineseFamily()}));
    for (const QString& file : {sf6::kLatinRegularFile, sf6::kLatinBoldFile, sf6::kChineseFile}) {
        const QString path = sf6::reportFontFile(file);
        ASSERT_FALSE(path.isEmpty()) << file.toStdString();
        const QRawFont raw(path, 12);
        ASSERT_TRUE(raw.isValid()) << path.toStdString();
        EXPECT_TRUE((QStringList{ReportFaces::latinFamily(), ReportFaces::chineseFamily()}).contains(raw.familyName()))
            << raw.familyName().toStdString();
    }

    // A font file the report never loads, so no other test sees the copy.
    const QString probe = QStringLiteral("LiberationSans-Italic.ttf");
    const QString system = sf6::reportFontFile(probe);
    ASSERT_FALSE(system.isEmpty());
    const QDir beside(QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("fonts")));
    const bool made = !beside.exists() && QDir().mkpath(beside.path());
    ASSERT_TRUE(QFile::copy(system, beside.filePath(probe)));
    EXPECT_EQ(sf6::reportFontFile(probe), beside.absoluteFilePath(probe));
    QFile::remove(beside.filePath(probe));
    if (made)
        QDir().rmdir(beside.path());
    EXPECT_EQ(sf6::reportFontFolders().first(), beside.path());
    EXPECT_EQ(sf6::reportFontFile(QStringLiteral("no-such-face.ttf")), QString());
}
