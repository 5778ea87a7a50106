// The iconv built into the Windows FreeXL: text of a workbook's code page, or
// UTF-16 as BIFF8 keeps it, to UTF-8; all of a string or nothing of it.
#include <iconv.h>

#include <cerrno>
#include <string>

#include <gtest/gtest.h>

namespace {

struct Converted {
    size_t result;
    int error;
    std::string out;
    size_t inLeft;
};

Converted convert(const char* from, const std::string& in, size_t room = 64)
{
    iconv_t cd = iconv_open("UTF-8", from);
    EXPECT_NE(cd, iconv_t(-1)) << from;
    std::string input = in;
    std::string output(room, '\0');
    char* inp = input.data();
    char* outp = output.data();
    size_t inLeft = input.size(), outLeft = output.size();
    errno = 0;
    const size_t r = iconv(cd, &inp, &inLeft, &outp, &outLeft);
    const int error = errno;
    iconv_close(cd);
    output.resize(output.size() - outLeft);
    return {r, error, output, inLeft};
}

} // namespace

TEST(WinIconv, convertsTheCodePagesOfWorkbooksToUtf8)
{
    EXPECT_EQ(convert("CP936", "\xCE\xC2\xB6\xC8").out, "温度");          // GBK, a Chinese PC's workbooks
    EXPECT_EQ(convert("UTF-16LE", std::string("\xC4~pe", 4)).out, "组数");
    EXPECT_EQ(convert("CP1252", "0,500 \xB0" "C").out, "0,500 °C");
    EXPECT_EQ(convert("MacRoman", "\x8E").out, "é");
    EXPECT_EQ(convert("ASCII", "P20").out, "P20");
    const Converted all = convert("CP936", "\xD7\xE9\xCA\xFD");
    EXPECT_EQ(all.result, 0u);
    EXPECT_EQ(all.inLeft, 0u) << "the whole input is consumed";
}

TEST(WinIconv, refusesWhatIsNoTextOrDoesNotFitAndWritesNothing)
{
    const Converted half = convert("UTF-16LE", std::string("\xC4~p", 3));
    EXPECT_EQ(half.result, size_t(-1));
    EXPECT_EQ(half.error, EINVAL);
    const Converted lone = convert("UTF-16LE", std::string("\x00\xD8", 2));   // half a surrogate pair
    EXPECT_EQ(lone.result, size_t(-1));
    EXPECT_EQ(lone.error, EILSEQ);
    const Converted tight = convert("CP936", "\xCE\xC2\xB6\xC8", 5);   // 6 bytes of UTF-8
    EXPECT_EQ(tight.result, size_t(-1));
    EXPECT_EQ(tight.error, E2BIG);
    EXPECT_TRUE(tight.out.empty()) << "the output is left as it was";
    EXPECT_EQ(tight.inLeft, 4u);

    EXPECT_EQ(iconv_open("UTF-8", "CP99999"), iconv_t(-1));
    EXPECT_EQ(iconv_open("UTF-8", "KOI8-R"), iconv_t(-1));
    EXPECT_EQ(iconv_open("GBK", "UTF-16LE"), iconv_t(-1)) << "only to UTF-8";
}
