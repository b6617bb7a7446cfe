// The output box's lines as Quorvel ends them, and the map between the box's text and the text
// itself: tables of the cases that matter, natively and in every build.
#include "line_map.h"
#include "line_wrap.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <tuple>
#include <vector>

namespace {

// Every character `each` wide, tabs every 80; breaks after white space, as the system's analysis has them.
CharAdvances Advances(int each)
{
    CharAdvances advances;
    std::fill(std::begin(advances.of), std::end(advances.of), each);
    advances.tabStop = 80;
    return advances;
}
std::vector<bool> AfterWhiteSpace(const std::string& text)
{
    std::vector<bool> soft(text.size() + 1, false);
    for (std::size_t i = 1; i < text.size(); ++i)
        soft[i] = (text[i - 1] == ' ' || text[i - 1] == '\t') && text[i] != ' ' && text[i] != '\t';
    return soft;
}

// A font that measures every line one character shorter than the sum says, asked about every line
// or only about those that end by the sum within 3 pixels of the edge.
std::size_t OneShorter(void*, std::size_t, std::size_t guess) { return guess > 1 ? guess - 1 : guess; }
const FitRefiner Shorter{OneShorter, nullptr, 1000}, ShorterNearTheEdge{OneShorter, nullptr, 3};

struct Wrap {
    const char* name;
    std::string text;
    int width;
    LineStarts starts;
    bool zeroAdvances = false;
    const FitRefiner* refiner = nullptr;
};
const Wrap Wraps[] = {
    {"EmptyText", "", 100, {}},
    {"OneCharacter", "7", 100, {}},
    {"ALineExactlyAtTheWidthKeepsItsSpace", "1234 6789", 50, {5}},
    {"EveryLineEndsAtItsLastBreakThatFits", "12 45 78 ab cd", 60, {6, 12}},
    {"ASpaceThatDoesNotFitStartsTheNextLine", "1234 6789", 40, {4, 5}},
    {"AWordWiderThanTheBoxIsCutWhereItStopsFitting", "abcdefghij", 35, {3, 6, 9}},
    {"ABreakBeforeAWideWordStillEndsTheLine", "ab cdefghijk", 50, {3, 8}},
    {"TabsStopEveryEighty", "a\tb\tc", 100, {2}},
    {"ATabPastTheEdge", "abcdefgh\tij", 90, {8, 9}},
    {"CarriageReturnsAreMeasuredLikeAnyCharacter", "1\r2\r3\r4", 70, {}},
    {"ALineNeverEndsRightAfterACarriageReturn", "12\r45\r78", 30, {2, 5}},
    {"ALineOfOneCarriageReturn", "\r\r\r", 5, {1, 2}},
    {"ABoxNarrowerThanACharacterHoldsOneALine", "abc", 5, {1, 2}},
    {"AdvancesOfZeroStillEndLines", std::string(2500, 'a'), 100, {1024, 2048}, true},
    {"AFontThatMeasuresOtherwiseIsAsked", "1234 6789", 50, {4, 5, 8}, false, &Shorter},
    {"ALineEndingNearTheEdgeIsMeasured", "1234 6789", 52, {4, 5}, false, &ShorterNearTheEdge},
    {"ALineEndingFarFromTheEdgeIsNotMeasured", "1234 6789", 53, {5}, false, &ShorterNearTheEdge},
};

class WrapTable : public ::testing::TestWithParam<Wrap> {};
TEST_P(WrapTable, EndsEachLineSoundly)
{
    const Wrap& w = GetParam();
    LineStarts starts{99};
    ASSERT_TRUE(WrapLines(w.text.data(), w.text.size(), AfterWhiteSpace(w.text), Advances(w.zeroAdvances ? 0 : 10),
                          w.width, w.refiner, &starts));
    EXPECT_EQ(starts, w.starts);
}
INSTANTIATE_TEST_SUITE_P(Rows, WrapTable, ::testing::ValuesIn(Wraps), [](const auto& row) { return row.param.name; });

// The box's text and every index of it against the text itself, for each way of ending lines.
struct Map {
    const char* name;
    std::string text;
    LineStarts starts;
};
const Map Maps[] = {
    {"NoLineFeed", "0123456789", {}},
    {"EmptyText", "", {}},
    {"OneLineFeed", "0123456789", {4}},
    {"LinesOfOne", "abcd", {1, 2, 3}},
    {"ADelimiterOfControlCharacters", "1\r\x0b" "2\x0c\x1b" "3\t4", {3, 6}},
};
class MapTable : public ::testing::TestWithParam<Map> {};
TEST_P(MapTable, AnswersForTheTextItself)
{
    const Map& m = GetParam();
    std::string box(m.text.size() + m.starts.size() + 1, '#');
    InsertLineFeeds(m.text.data(), m.text.size(), m.starts, box.data());
    ASSERT_EQ(box.back(), '\0');
    box.pop_back();
    for (std::size_t k = 0; k < m.starts.size(); ++k)
        EXPECT_EQ(box[m.starts[k] + k], '\n') << "line feed " << k;
    for (std::size_t t = 0; t <= m.text.size(); ++t) {
        const std::size_t b = TextToBox(m.starts, t);
        EXPECT_EQ(BoxToText(m.starts, b), t) << "text index " << t;
        EXPECT_TRUE(t == m.text.size() || box[b] == m.text[t]) << "text index " << t;
    }
    for (std::size_t b = 0; b <= box.size(); ++b)
        EXPECT_LE(BoxToText(m.starts, b), m.text.size()) << "box index " << b;
    for (std::size_t from = 0; from <= m.text.size() + 1; ++from)
        for (std::size_t room : {0, 1, 2, 3, 5, 100}) {
            std::string out(room + 1, '#');
            const std::size_t n = CopyText(box.data(), box.size(), m.starts, from, room, out.data());
            const std::string expected = from < m.text.size() ? m.text.substr(from, room ? room - 1 : 0) : "";
            EXPECT_EQ(out.substr(0, n) + (room ? out.substr(n, 2) : out.substr(0, 1)),
                      expected + (room ? std::string(1, '\0') + '#' : "#")) << "from " << from << ", room " << room;
        }
}
INSTANTIATE_TEST_SUITE_P(Rows, MapTable, ::testing::ValuesIn(Maps), [](const auto& row) { return row.param.name; });

// Past 65535 characters and lines: each line "1 " ends after its space; far indexes map as near ones.
TEST(WrapAndMap, PastSixteenBits)
{
    std::string text;
    for (int i = 0; i < 70000; ++i)
        text += "1 ";
    LineStarts starts;
    ASSERT_TRUE(WrapLines(text.data(), text.size(), AfterWhiteSpace(text), Advances(10), 25, nullptr, &starts));
    ASSERT_EQ(starts.size(), 69999u);
    EXPECT_EQ(starts.back(), 139998u);
    EXPECT_EQ(TextToBox(starts, 139999), 139999u + 69999u);
    EXPECT_EQ(BoxToText(starts, 139999u + 69999u), 139999u);
    EXPECT_EQ(BoxToText(starts, 150000), 100000u);  // the line feed before text index 100000
    std::string box(text.size() + starts.size() + 1, '#');
    InsertLineFeeds(text.data(), text.size(), starts, box.data());
    char out[8];
    EXPECT_EQ(CopyText(box.data(), box.size() - 1, starts, 139995, sizeof out, out), 5u);
    EXPECT_STREQ(out, " 1 1 ");
    // What the box answers in 16 bits, rebuilt near a full index known to be at most 65535 before it.
    for (const auto& [base, low, full] : {std::tuple{0u, 5u, 5u}, {65530u, 3u, 65539u}, {70000u, 70000u & 0xFFFF, 70000u},
                                          {70000u, 135535u & 0xFFFF, 135535u}, {131072u, 0u, 131072u}})
        EXPECT_EQ(Rebuild16(base, low), full) << base << " " << low;
}

}  // namespace
