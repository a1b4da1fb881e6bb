// Input-to-state replacement: a step's value swapped for what the script
// compared it with, and the search playing those sessions.
#include "input_to_state.h"
#include "session_explorer.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

using Lines = std::vector<std::string>;

Lines linesOf(const std::vector<Replacement>& replacements) {
    Lines lines;
    for (const Replacement& r : replacements)
        lines.push_back(r.line);
    return lines;
}

TEST(InputToState, EachFormPutsTheOtherOperandInPlaceOfTheStepsValue) {
    const std::string longKey(100, 'k');
    struct Case {
        const char* what;
        Lines steps;
        std::vector<Comparison> compared;
        Lines expected; // in order
    } cases[] = {
        {"a value compared with a word",
         {"param instance=abc"},
         {{Comparison::equal, "abc", "tempest"}},
         {"param instance=tempest"}},
        {"either operand may be the step's",
         {"param instance=abc"},
         {{Comparison::equal, "return", "instance"}},
         {"param return=abc"}},
        {"a prefix before the text, and alone",
         {"revertive 7 12 MIC 1"},
         {{Comparison::prefix, "MIC 1", "KILO-"}},
         {"revertive 7 12 KILO-MIC 1", "revertive 7 12 KILO-"}},
        {"a number, one more and one less",
         {"pick SourceSel 3"},
         {{Comparison::number, "3", "4817"}},
         {"pick SourceSel 4817", "pick SourceSel 4818", "pick SourceSel 4816"}},
        {"the digits of a text read as the number",
         {"press OS_3"},
         {{Comparison::conversion, "OS_3", "3"}, {Comparison::number, "3", "12"}},
         {"press OS_12", "press OS_13", "press OS_11"}},
        {"a text without digits read as 0, replaced whole",
         {"param myParam=abc"},
         {{Comparison::conversion, "abc", "0"}, {Comparison::number, "0", "290417"}},
         {"param myParam=290417", "param myParam=290418", "param myParam=290416"}},
        {"a long value matched by its first bytes (the key, and the whole message)",
         {"param " + longKey + "=v"},
         {{Comparison::equal, std::string(Comparison::maxOperand, 'k'), "return"}},
         {"param return", "param return=v"}},
        {"only the step the comparison was made in",
         {"revertive 7 12 U", "param U"},
         {{Comparison::equal, "U", "return", 1}},
         {"param return"}},
        {"a word inside a label's text is no value of its own",
         {"revertive 7 12 MIC U"},
         {{Comparison::equal, "U", "return"}},
         {}},
        {"numbers at the ends of 64 bits have one neighbour",
         {"pick SourceSel 3"},
         {{Comparison::number, "3", "9223372036854775807"}},
         {"pick SourceSel 9223372036854775807", "pick SourceSel 9223372036854775806"}},
        {"a notification's type is no operator's value",
         {"notify 6", "tick"},
         {{Comparison::equal, "6", "7"}},
         {}},
        {"a few from each comparison",
         Lines(10, "pick SourceSel 3"),
         {{Comparison::equal, "3", "9"}, {Comparison::equal, "SourceSel", "GrpSelect"}},
         {"pick SourceSel 9", "pick SourceSel 9", "pick SourceSel 9", "pick GrpSelect 3",
          "pick GrpSelect 3", "pick GrpSelect 3"}},
    };
    for (const Case& c : cases) {
        std::vector<Replacement> made = replacementsFor(c.steps, c.compared, 64);
        EXPECT_EQ(linesOf(made), c.expected) << c.what;
        for (const Replacement& r : made) {
            ASSERT_LT(static_cast<size_t>(r.step), c.steps.size()) << c.what;
            EXPECT_LE(r.tried, r.line.size()) << c.what;
        }
    }
}

TEST(InputToState, WhatWasTriedIsTheStepUpToTheOperandAndIsLeftOut) {
    Lines steps = {"revertive 7 12 MIC 1", "revertive 7 12 DESK 4"};
    std::vector<Comparison> compared = {{Comparison::prefix, "MIC 1", "KILO-"},
                                        {Comparison::prefix, "DESK 4", "KILO-"}};
    Lines tried;
    WorthTrying remember = [&](const std::string&, const std::string& key) {
        bool before = std::find(tried.begin(), tried.end(), key) != tried.end();
        tried.push_back(key);
        return !before;
    };
    // The prefix put before either text is one trial: the text after it differs.
    EXPECT_EQ(linesOf(replacementsFor(steps, compared, 64, remember)),
              (Lines{"revertive 7 12 KILO-MIC 1"}));
    EXPECT_TRUE(replacementsFor(steps, compared, 64, remember).empty());
}

TEST(SessionExplorer, PlaysEachReplacementOnceOnTheOwnPanelAndCountsThoseKept) {
    PanelLayout layout;
    layout.controls.push_back({"SourceSel", "list", "Sources", 0, {}});
    SessionExplorer explorer(ExploreSettings{}, layout, SearchDictionary{}, [](int) {
        return Lines{"startup strict", "tick"};
    });
    SessionFeatures shown;
    shown.responses = {1};
    const std::string good = "pick SourceSel 4817";
    shown.replacements = {{1, good, good.size()},
                          {1, "pick Elsewhere 3", 14},  // a control the panel lacks
                          {1, "route 12 MIC", 12},      // a source by a name
                          {1, good, good.size()},       // the same trial again
                          {7, "pick SourceSel 1", 16}}; // no such step
    Lines base = {"startup strict", "tick", "pick SourceSel 3"};
    ASSERT_TRUE(explorer.offer(base, shown, false));
    Lines expected = {"startup strict", "tick", good};
    int played = 0;
    for (int session = 0; session < 400; ++session) {
        Lines lines = explorer.session(session);
        for (const std::string& line : lines)
            ASSERT_TRUE(line.find("Elsewhere") == std::string::npos && line != "route 12 MIC");
        played += lines == expected;
    }
    EXPECT_EQ(played, 1);
    EXPECT_EQ(explorer.replacementsMade(), 1u);
    EXPECT_TRUE(explorer.offer(expected, {{2}, {}, {}}, false));
    EXPECT_EQ(explorer.replacementsKept(), 1u);
}

} // namespace
