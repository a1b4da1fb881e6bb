// The simulated studio: command parsing, layouts and timers.
#include "host_command.h"
#include "panel_layout.h"
#include "studio.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <utility>
#include <vector>

namespace {

TEST(HostCommandParser, AcceptsEveryCommandTheScriptSends) {
    const std::vector<std::string> good = {"PS '1' '/p/PELDAN.vesk_ui'",
                                           "PS '1' 'f' 'third'",
                                           "TP 'text=it's' '1' 'UMD_1'",
                                           "TP 'a' 'b' 'c' '1' 'C'",
                                           "TG '1' 'alm_1' 'value'",
                                           "CE '1' 'Take'",
                                           "CD '1' 'Take'",
                                           "SD 'DUD Audio Router'",
                                           "XI '1' 'alm_'",
                                           "RC 5 17 193 ',2' 0",
                                           "RC -1 0 7 ',' 1",
                                           "RR 7 12 21",
                                           "RR 7 12 21 'ADD'",
                                           "RP 0 12 21",
                                           "RU -2147483648",
                                           "ET 1 1000",
                                           "ET 4",
                                           "AS"};
    for (const std::string& text : good) {
        std::string why;
        EXPECT_TRUE(parseHostCommand(text, why).has_value()) << text << ": " << why;
    }
    std::string why;
    auto tp = parseHostCommand("TP 'a' 'b' 'c' '1' 'C'", why);
    EXPECT_EQ(tp->texts, (std::vector<std::string>{"a' 'b' 'c", "1", "C"}));
    auto rc = parseHostCommand("RC 5 17 193 ',2' 0", why);
    EXPECT_EQ(rc->numbers, (std::vector<int>{5, 17, 193, 0}));
    EXPECT_EQ(rc->texts, (std::vector<std::string>{"2"}));
}

TEST(HostCommandParser, RefusesWhatAStrictHostCannotRead) {
    const std::vector<std::string> bad = {"",
                                          "PS",
                                          "ZZ 'x'",
                                          "PS '1'",
                                          "TP 'a' '1'",
                                          "CE 1 Take",
                                          "CE '1' 'Take",
                                          "RR 7 12",
                                          "RR 7 012 21",
                                          "RP 7 12 21 22",
                                          "RU 7x",
                                          "ET",
                                          "ET 1 2 3",
                                          "RC 5 17 193 2 0",
                                          "RC 5 17 193 ',2' 2",
                                          "RU 2147483648",
                                          "RU -0",
                                          "TG '1' 'a'b' 'c'",
                                          "ET  1"};
    for (const std::string& text : bad) {
        std::string why;
        EXPECT_FALSE(parseHostCommand(text, why).has_value()) << text;
    }
}

TEST(PanelLayoutFile, ReadsControlsItemsAndReportsBadLines) {
    PanelLayout layout;
    std::string error;
    ASSERT_TRUE(parsePanelLayout("# c\npanel 1 Title here\nbutton OS_1 OS 1\nlist L Sources\n"
                                 "item L 1 17 MIC 17\nlabel UMD_1 12 DEST 12\n",
                                 layout, error))
        << error;
    EXPECT_EQ(layout.title, "Title here");
    ASSERT_EQ(layout.controls.size(), 3u);
    EXPECT_EQ(layout.find("L")->items.at(0).caption, "MIC 17");
    EXPECT_EQ(layout.find("UMD_1")->destination, 12);
    const std::vector<std::pair<std::string, std::string>> bad = {
        {"button\n", "line 1: button needs an id"},
        {"button A\nbutton A\n", "line 2: control A appears twice"},
        {"label U\n", "line 1: label needs a destination number"},
        {"label UMD_1 0x0c UMD\n", "line 1: '0x0c' is not a whole number"},
        {"label U 13.9\n", "line 1: '13.9' is not a whole number"},
        {"label U -12\n", "line 1: '-12' is below 1"},
        {"list L S\nitem L 1 1e5 x\n", "line 2: '1e5' is not a whole number"},
        {"list L S\nitem L 0 1 x\n", "line 2: '0' is below 1"},
        {"list L S\nitem L 1 -1 x\n", "line 2: '-1' is below 0"},
        {"list L S\nitem L 1\n", "line 2: item needs a control id, a page and an index"},
        {std::string("button O\0S_3\n", 13),
         "line 1: the line holds a NUL byte (\\x00) at column 9, which no text handed to a "
         "script can hold"},
        {"button A\x1b\nbutton A\x1b\n", "line 2: control A\\x1b appears twice"},
        {"item L 1 2 x\n", "line 1: item for L, which is no list or selector above"},
        {"\nknob K\n", "line 2: unknown line kind 'knob'"}};
    for (const auto& [text, message] : bad) {
        PanelLayout l;
        std::string e;
        EXPECT_FALSE(parsePanelLayout(text, l, e)) << text;
        EXPECT_EQ(e, message);
    }
}

std::string layoutOfLists(int count) {
    std::string text = "panel 1 Big\n";
    for (int i = 0; i < count; ++i)
        text += "list L" + std::to_string(i) + " List\nitem L" + std::to_string(i) + " 1 1 x\n";
    return text;
}

double secondsToParse(const std::string& text, PanelLayout& layout) {
    std::string error;
    auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(parsePanelLayout(text, layout, error)) << error;
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Twenty thousand controls with an item each: a look-up per line must not
// scan every control before it. Four times the controls may take about four
// times as long, never sixteen (that would be quadratic); the ratio holds
// under valgrind too, where every time is longer.
TEST(PanelLayoutFile, HostileLargeLayoutLoadsInLinearTime) {
    PanelLayout small, layout;
    double fewer = secondsToParse(layoutOfLists(5000), small);
    double seconds = secondsToParse(layoutOfLists(20000), layout);
    EXPECT_LT(seconds, 8 * fewer + 0.05) << fewer << " s for 5,000, " << seconds << " for 20,000";
    ASSERT_EQ(layout.controls.size(), 20000u);
    EXPECT_EQ(layout.find("L19999")->items.size(), 1u);
    EXPECT_EQ(layout.find("L2000")->id, "L2000");
    EXPECT_EQ(layout.find("L20000"), nullptr);
    PanelLayout copy = layout;
    copy.controls.pop_back();
    EXPECT_EQ(copy.find("L19999"), nullptr); // the index follows controls taken away
    EXPECT_EQ(copy.find("L19998")->id, "L19998");
}

TEST(ShippedLayout, DescribesThePanelsControls) {
    PanelLayout layout;
    std::string error;
    ASSERT_TRUE(readPanelLayout(PELDAN_LAYOUT_PATH, layout, error)) << error;
    for (const char* id : {"OS_1", "OS_8", "GrpSelect", "SourceSel", "Take", "Clear"})
        EXPECT_NE(layout.find(id), nullptr) << id;
    for (int label = 1; label <= 10; ++label) {
        const LayoutControl* c = layout.find("UMD_" + std::to_string(label));
        ASSERT_NE(c, nullptr);
        EXPECT_EQ(c->destination, label + 11);
    }
}

// Numbers are read whole or the line is refused, and LF, CRLF and a lone CR
// each end a line (a CR kept in a name would make the route by name fail).
TEST(StudioFile, HostileNumbersWithJunkAreRefusedAndEveryLineEndEndsALine) {
    const std::vector<std::pair<std::string, std::string>> refused = {
        {"source 12x X", "line 1: '12x' is not a whole number"},
        {"source 1e3 X", "line 1: '1e3' is not a whole number"},
        {"instrument 0x7 DUD Audio Router", "line 1: '0x7' is not a whole number"},
        {"route 12 3x", "line 1: '3x' is not a whole number"},
        {"route 99999999999 1", "line 1: '99999999999' is not a whole number"},
        {"# sources\r\nsource 5 A\r\nroute 12 -3\r\n",
         "line 3: expected 'instrument N NAME', 'source N NAME' or 'route DESTINATION SOURCE'"},
    };
    for (const auto& [text, why] : refused) {
        Studio studio;
        std::string error;
        EXPECT_FALSE(studio.parseStudio(text, error)) << text;
        EXPECT_EQ(error, why) << text;
    }
    for (const std::string text :
         {"source 3 MIC 1\r\nsource 4 DESK\r\n", "source 3 MIC 1\rsource 4 DESK\r",
          "source 3 MIC 1\nsource 4 DESK"}) {
        Studio studio;
        std::string error;
        ASSERT_TRUE(studio.parseStudio(text, error)) << error;
        EXPECT_EQ(studio.audioSources().at(3), "MIC 1");
        EXPECT_EQ(studio.audioSources().at(4), "DESK");
    }
}

TEST(StudioTimers, TickInTimeOrder) {
    Studio studio;
    std::string why;
    studio.execute(*parseHostCommand("ET 1 1000", why));
    studio.execute(*parseHostCommand("ET 2 300", why));
    std::vector<std::pair<long long, int>> ticks;
    while (auto id = studio.nextTick(2000))
        ticks.push_back({studio.now(), *id});
    EXPECT_EQ(
        ticks,
        (std::vector<std::pair<long long, int>>{
            {300, 2}, {600, 2}, {900, 2}, {1000, 1}, {1200, 2}, {1500, 2}, {1800, 2}, {2000, 1}}));
    studio.execute(*parseHostCommand("ET 2", why));
    EXPECT_FALSE(studio.timerRunning(2));
}

} // namespace
