// The rendered page as a reader sees it, checked with poppler's command-line
// tools: one A4 page, fonts embedded, texts where the page puts them.
#include <QDir>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QPainter>
#include <QPicture>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#ifndef _WIN32
#include <csignal>
#include <sys/resource.h>
#endif

#include "report/ReportPage.h"
#include "report/ReportRenderer.h"
#include "tests/report/ReportTestRows.h"

using namespace sf6;

namespace {

struct Word {
    QString text;
    double xMin, yMin, xMax, yMax;   // band pixels
};

QString run(const char* tool, const QStringList& args)
{
    QProcess p;
    p.start(QStandardPaths::findExecutable(QString::fromLatin1(tool)), args);
    return p.waitForFinished(30000) && p.exitCode() == 0 ? QString::fromUtf8(p.readAllStandardOutput()) : QString();
}

std::vector<Word> words(const QString& pdf)
{
    // PDF points from the paper's corner -> 96-dpi pixels from the band's corner.
    auto px = [](const QString& pt) { return (pt.toDouble() / 72.0 * 25.4 - kPageMarginMm) / 25.4 * kReportDpi; };
    static const QRegularExpression re(QString::fromLatin1(
        R"re(<word xMin="([\d.]+)" yMin="([\d.]+)" xMax="([\d.]+)" yMax="([\d.]+)">([^<]*)</word>)re"));
    std::vector<Word> out;
    for (auto it = re.globalMatch(run("pdftotext", {QStringLiteral("-bbox"), pdf, QStringLiteral("-")})); it.hasNext();) {
        const auto m = it.next();
        out.push_back(Word{m.captured(5), px(m.captured(1)), px(m.captured(2)), px(m.captured(3)), px(m.captured(4))});
    }
    return out;
}

// The text poppler finds inside one label's box, as a reader who selects it gets it.
QString textInBox(const QString& pdf, const QRect& box)
{
    constexpr double kMarginPx = kPageMarginMm / 25.4 * kReportDpi;
    const QRect area = box.adjusted(-1, -1, 1, 1).translated(qRound(kMarginPx), qRound(kMarginPx));
    return run("pdftotext", {QStringLiteral("-r"), QString::number(kReportDpi), QStringLiteral("-x"),
                             QString::number(area.x()), QStringLiteral("-y"), QString::number(area.y()),
                             QStringLiteral("-W"), QString::number(area.width()), QStringLiteral("-H"),
                             QString::number(area.height()), QStringLiteral("-raw"), pdf, QStringLiteral("-")})
        .remove(QLatin1Char('\f'))
        .trimmed();
}

class ReportPdf : public ::testing::Test {
protected:
    QString write(const ReportPage& page)
    {
        const QString file = dir.filePath(QStringLiteral("r.pdf"));
        const Status s = writeReportPdf(page, file);
        EXPECT_TRUE(s.ok()) << s.message().toStdString();
        return file;
    }
    QTemporaryDir dir;
    ReportPage page = buildReportPage(defaultReportDetails(QStringLiteral("2012-5-25")),
                                      reporttest::distinctRow(QStringLiteral("3")));
};

} // namespace

TEST_F(ReportPdf, IsOneA4PageWithEmbeddedFonts)
{
    const QString file = write(page);
    const QString info = run("pdfinfo", {file});
    EXPECT_TRUE(info.contains(QRegularExpression(QStringLiteral("Pages:\\s+1\\n")))) << info.toStdString();
    const auto size = QRegularExpression(QStringLiteral("Page size:\\s+([\\d.]+) x ([\\d.]+) pts")).match(info);
    EXPECT_NEAR(size.captured(1).toDouble(), 595.28, 1.0);
    EXPECT_NEAR(size.captured(2).toDouble(), 841.89, 1.0);

    // pdffonts rows: name, type, encoding, emb, sub, uni, object, generation. Only
    // the faces of the named font files, whatever the system prefers under the
    // current locale (Noto Sans CJK under zh_CN, with its shared glyphs).
    static const QRegularExpression allowed(
        QStringLiteral("^(\\w+\\+)?(LiberationSans(-Bold)?|WenQuanYiZenHei)$"));
    const QStringList rows = run("pdffonts", {file}).split(QLatin1Char('\n'), Qt::SkipEmptyParts).mid(2);
    ASSERT_FALSE(rows.isEmpty());
    for (const QString& r : rows) {
        const QStringList cols = r.split(QLatin1Char(' '), Qt::SkipEmptyParts);
        EXPECT_EQ(cols.value(cols.size() - 5), QStringLiteral("yes")) << "not embedded: " << r.toStdString();
        EXPECT_TRUE(allowed.match(cols[0]).hasMatch()) << "unexpected font " << cols[0].toStdString();
    }
}

// pdftotext measures each glyph from its own font's ascent and descent, and the
// Chinese font's are taller than Arial's; a line of S-pixel text drawn at the top
// of its box has the middle of its measured box S/2 below the box's top within
// 1.5 px. Horizontally the text is centred on the box within 1.5 px (the title
// starts at the box's left within 1.5 px). A wrong font size fails both.
TEST_F(ReportPdf, TextsStandWhereThePagePutsThem)
{
    const auto found = words(write(page));
    for (const char* name : {"QRLTitle", "QRLabel1", "QRLabel12", "QRLabel135", "QRLabel105", "QRLabel87", "QRsp"}) {
        const PageLabel* l = page.label(QString::fromLatin1(name));
        const auto w = std::find_if(found.begin(), found.end(), [&](const Word& w) { return w.text == l->text; });
        ASSERT_NE(w, found.end()) << name << " '" << l->text.toStdString() << "' not in the PDF";
        const bool title = l->font == PageLabel::Arial12Bold;
        const double fontPixels = title ? kTitleFontPixels : kLabelFontPixels;
        EXPECT_NEAR((w->yMin + w->yMax) / 2, l->box.top() + fontPixels / 2, 1.5) << name;
        EXPECT_NEAR(title ? w->xMin : (w->xMin + w->xMax) / 2, l->box.left() + (title ? 0 : l->box.width() / 2.0), 1.5)
            << name;
    }
}

TEST_F(ReportPdf, OverlongTextShowsOnlyItsFirstLineAndBadPlacesFail)
{
    ReportDetails d = defaultReportDetails(QStringLiteral("2012-5-25"));
    d.relayName = QStringLiteral("继电器名称ABC").repeated(8);
    d.productionDate = QStringLiteral("END1999");
    const QRect box = page.label(QStringLiteral("QRLabel93"))->box;
    const auto found = words(write(buildReportPage(d, ListRow{})));
    const auto relay = std::find_if(found.begin(), found.end(),
                                    [](const Word& w) { return w.text.startsWith(QStringLiteral("继电器名称ABC")); });
    ASSERT_NE(relay, found.end());
    EXPECT_TRUE(relay->xMin >= box.left() - 1 && relay->xMax <= box.right() + 1);
    for (const Word& w : found)
        EXPECT_FALSE(w.text.contains(QStringLiteral("END1999"))) << "wrapped remainder printed below the box";

    const QString missing = dir.filePath(QStringLiteral("missing/r.pdf"));
    const Status failed = writeReportPdf(page, missing);
    EXPECT_FALSE(failed.ok());
    EXPECT_TRUE(failed.message().contains(QStringLiteral("r.pdf"))) << failed.message().toStdString();
    EXPECT_FALSE(QFile::exists(missing));
    EXPECT_FALSE(writeReportPdf(page, dir.path()).ok()) << "a folder in the file's place";
}

// The print preview records the page and replays it run by run; Chinese text
// must come back on the same line as when painted directly.
TEST(ReportRendering, PreviewReplayKeepsMixedTextOnItsLine)
{
    const ReportPage page = buildReportPage(defaultReportDetails(QStringLiteral("2012-5-25")), ListRow{});
    QImage direct(720, 1000, QImage::Format_RGB32), replayed(direct.size(), QImage::Format_RGB32);
    direct.fill(Qt::white);
    replayed.fill(Qt::white);
    QPicture recorded;
    {
        QPainter p(&direct), r(&recorded);
        renderReportPage(page, p, direct.logicalDpiY());
        renderReportPage(page, r, recorded.logicalDpiY());
    }
    QPainter(&replayed).drawPicture(0, 0, recorded);

    auto inkRows = [](const QImage& image, const QRect& box) {   // first and last row with ink
        std::pair<int, int> rows{-1, -1};
        for (int y = box.top(); y <= box.bottom(); ++y)
            for (int x = box.left(); x <= box.right(); ++x)
                if (qGray(image.pixel(x, y)) < 128) {
                    rows = {rows.first < 0 ? y : rows.first, y};
                    break;
                }
        return rows;
    };
    for (const char* name : {"QRLTitle", "QRLabel93", "QRLabel17", "QRLabel2"}) {
        const QRect box = page.label(QString::fromLatin1(name))->box.adjusted(1, 1, -1, -1);
        const auto a = inkRows(direct, box), b = inkRows(replayed, box);
        ASSERT_GE(a.first, 0) << name << ": nothing drawn";
        EXPECT_TRUE(std::abs(a.first - b.first) <= 1 && std::abs(a.second - b.second) <= 1) << name;
    }
}

// Searching, copying and indexing an archived report read its text layer: every
// label must give back exactly what was drawn, also where CJK faces share one
// glyph between an ideograph and a radical (日/⽇, 一/⼀, 生/⽣), and with
// ligature pairs such as "fi".
TEST_F(ReportPdf, EveryLabelReadsBackExactlyAsDrawn)
{
    ReportDetails d = defaultReportDetails(QStringLiteral("2012-5-25"));
    d.calibratingUnit = QStringLiteral("⽇日⼀一⽣生");
    d.submittingUnit = QStringLiteral("first office");
    d.tester = QStringLiteral("⽅方");
    const std::pair<const char*, ReportPage> pages[] = {
        {"defaults", page},
        {"shared glyphs", buildReportPage(d, reporttest::distinctRow(QStringLiteral("2")))},
    };
    for (const auto& [name, p] : pages) {
        SCOPED_TRACE(name);
        const QString file = write(p);
        int checked = 0;
        for (const PageLabel& l : p.labels) {
            if (l.text.trimmed().isEmpty())
                continue;
            EXPECT_EQ(textInBox(file, l.box), l.text) << l.name.toStdString();
            ++checked;
        }
        EXPECT_GT(checked, 100);
    }
}

// A field can be made to read backwards with a bidirectional override, and a
// control character prints as nothing honest: both go, on the page and in the
// PDF's metadata. A line break stays a line break.
TEST_F(ReportPdf, SpoofingCharactersAreDroppedFromPageAndMetadata)
{
    ReportDetails d = defaultReportDetails(QStringLiteral("2012-5-25"));
    d.title = QStringLiteral("\u202E告报验校\u202C SF6");
    d.calibratingUnit = QStringLiteral("检定\u2066所\u2069\u0007\u001B[31m");
    d.tester = QStringLiteral("张\r\n三");
    const ReportPage p = buildReportPage(d, reporttest::distinctRow(QStringLiteral("1")));
    EXPECT_EQ(p.label(QStringLiteral("QRLTitle"))->text, QStringLiteral("告报验校 SF6"));
    EXPECT_EQ(p.label(QStringLiteral("QRLabel91"))->text, QStringLiteral("检定所[31m"));
    EXPECT_EQ(p.label(QStringLiteral("QRjy"))->text, QStringLiteral("张\n三"));
    const QString info = run("pdfinfo", {write(p)});
    EXPECT_TRUE(info.contains(QRegularExpression(QStringLiteral("Title:\\s+告报验校 SF6\n")))) << info.toStdString();
    EXPECT_FALSE(info.contains(QChar(0x202E)));
}

// A line typed with a break shows its first line at the top of its box, in
// the preview (a recorded picture replayed) as on paper.
TEST(ReportRendering, AFieldWithALineBreakShowsItsFirstLine)
{
    ReportDetails d = defaultReportDetails(QStringLiteral("2012-5-25"));
    d.calibratingUnit = QStringLiteral("第一行\n第二行");
    const ReportPage page = buildReportPage(d, ListRow{});
    ReportDetails one = d;
    one.calibratingUnit = QStringLiteral("第一行");
    const ReportPage single = buildReportPage(one, ListRow{});
    const QRect box = page.label(QStringLiteral("QRLabel91"))->box;
    auto draw = [](const ReportPage& p, bool replay) {
        QImage image(720, 300, QImage::Format_RGB32);
        image.fill(Qt::white);
        QPicture recorded;
        {
            QPainter painter;
            if (replay)
                painter.begin(&recorded);
            else
                painter.begin(&image);
            renderReportPage(p, painter, replay ? recorded.logicalDpiY() : image.logicalDpiY());
        }
        if (replay)
            QPainter(&image).drawPicture(0, 0, recorded);
        return image;
    };
    for (const bool replay : {false, true}) {
        SCOPED_TRACE(replay ? "preview" : "paper");
        EXPECT_EQ(draw(page, replay).copy(box), draw(single, replay).copy(box))
            << "the box must show exactly its first line";
    }
}

// A batch written page by page: the file appears only when committed, with
// every page; dropped part-way, an older file of that name stays as it was and
// nothing is left beside it.
TEST(ReportPdfWriting, APagedPdfAppearsOnlyWhenCommittedWithEveryPage)
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("batch.pdf"));
    ASSERT_TRUE(writeReportPdf(buildReportPage(defaultReportDetails(QStringLiteral("2012-5-25")),
                                               reporttest::distinctRow(QStringLiteral("1"))),
                               file));
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray older = f.readAll();
    f.close();
    auto pageOf = [](int n) {
        return buildReportPage(defaultReportDetails(QStringLiteral("2012-5-25")),
                               reporttest::distinctRow(QString::number(n)));
    };
    {
        ReportPdfWriter dropped(file);
        for (int n = 1; n <= 3; ++n)
            ASSERT_TRUE(dropped.addPage(pageOf(n)));
    }
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), older);
    f.close();
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("batch.pdf")});

    ReportPdfWriter pdf(file);
    for (int n = 1; n <= 4; ++n)
        ASSERT_TRUE(pdf.addPage(pageOf(n)));
    EXPECT_EQ(pdf.pageCount(), 4);
    ASSERT_TRUE(pdf.commit());
    EXPECT_TRUE(run("pdfinfo", {file}).contains(QRegularExpression(QStringLiteral("Pages:\\s+4\\n"))));
    const QString text = run("pdftotext", {file, QStringLiteral("-")});
    EXPECT_EQ(text.count(QStringLiteral("校验报告")), 4) << text.toStdString();

    ReportPdfWriter empty(dir.filePath(QStringLiteral("none.pdf")));
    EXPECT_FALSE(empty.commit().ok()) << "no page, no file";
    EXPECT_FALSE(QFile::exists(dir.filePath(QStringLiteral("none.pdf"))));
}

#ifndef _WIN32
// A disk that fills up while the PDF is written (the process's file-size
// limit cuts the write short, as a full disk does): the writer says it
// failed, no file without its end appears, and an older one stays.
TEST(ReportPdfWriting, ADiskThatFillsUpLeavesNoBrokenPdf)
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("report.pdf"));
    const ReportPage page = buildReportPage(defaultReportDetails(QStringLiteral("2012-5-25")),
                                            reporttest::distinctRow(QStringLiteral("1")));
    ASSERT_TRUE(writeReportPdf(page, file));
    const qint64 whole = QFileInfo(file).size();
    ASSERT_GT(whole, 16 * 1024);
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray older = f.readAll();
    f.close();

    for (const rlim_t room : {rlim_t(8 * 1024), rlim_t(whole - 100)}) {
        rlimit saved{};
        getrlimit(RLIMIT_FSIZE, &saved);
        const auto signal = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limited = saved;
        limited.rlim_cur = room;
        setrlimit(RLIMIT_FSIZE, &limited);
        const Status written = writeReportPdf(std::vector<ReportPage>{page, page}, file);
        setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, signal);
        EXPECT_FALSE(written.ok()) << "room for " << room << " bytes";
        EXPECT_TRUE(written.message().contains(QStringLiteral("report.pdf"))) << written.message().toStdString();
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        EXPECT_EQ(f.readAll(), older);
        f.close();
        EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("report.pdf")});
    }
}
#endif

// What the users' own locale makes the system prefer must not change the page:
// the PDF tests run again in a child under C and under zh_CN.UTF-8 (where
// fontconfig puts Noto Sans CJK SC first and its shared glyphs gave "⽣产⽇期").
TEST(ReportPdfLocales, FontsAndTextLayerAreTheSameUnderEveryLocale)
{
    if (qEnvironmentVariableIsSet("SF6_REPORT_LOCALE_CHILD"))
        return;   // already the child
    ASSERT_FALSE(run("locale", {QStringLiteral("-a")}).split(QLatin1Char('\n')).filter(QStringLiteral("zh_CN.utf8"),
                                                                                      Qt::CaseInsensitive).isEmpty())
        << "the zh_CN.UTF-8 locale is missing: run scripts/deps.sh";
    for (const char* locale : {"C", "zh_CN.UTF-8"}) {
        SCOPED_TRACE(locale);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* variable : {"LANG", "LC_ALL", "LANGUAGE"})
            env.insert(QString::fromLatin1(variable), QString::fromLatin1(locale));
        env.insert(QStringLiteral("SF6_REPORT_LOCALE_CHILD"), QStringLiteral("1"));
        QProcess child;
        child.setProcessEnvironment(env);
        child.start(QCoreApplication::applicationFilePath(),
                    {QStringLiteral("--gtest_filter=ReportPdf.IsOneA4PageWithEmbeddedFonts:"
                                    "ReportPdf.EveryLabelReadsBackExactlyAsDrawn:ReportPdf.TheUsersWordsReadBack")});
        ASSERT_TRUE(child.waitForFinished(120000));
        const QString out = QString::fromUtf8(child.readAllStandardOutput());
        EXPECT_EQ(child.exitCode(), 0) << out.toStdString();
        EXPECT_TRUE(out.contains(QStringLiteral("[  PASSED  ] 3 tests"))) << out.toStdString();
    }
}

// The words the users found broken, read from the whole page as a search does.
TEST_F(ReportPdf, TheUsersWordsReadBack)
{
    ReportDetails d = defaultReportDetails(QStringLiteral("2012-5-25"));
    d.tester = QStringLiteral("第一次手工输入");
    const QString text = run("pdftotext", {write(buildReportPage(d, reporttest::distinctRow(QStringLiteral("1")))),
                                           QStringLiteral("-")});
    for (const char* word : {"生产日期", "第一次手工输入"})
        EXPECT_TRUE(text.contains(QString::fromUtf8(word))) << word << " not in:\n" << text.toStdString();
    for (const QChar c : text)
        EXPECT_FALSE(c.unicode() >= 0x2F00 && c.unicode() <= 0x2FDF) << "a Kangxi radical in " << text.toStdString();
}
