// The emulated host: scenarios, and the strict host checks on PELDAN.so.
#include "host_startup.h"
#include "open_script_route.h"
#include "panel_host.h"
#include "scenario.h"
#include "scenario_steps.h"
#include "studio.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

TEST(ScenarioFile, ABadLineNamesItsFileAndLine) {
    const std::string routeUsage =
        "route DESTINATION SOURCE (a destination from 1, a source name or a number from 0)";
    const std::vector<std::pair<std::string, std::string>> bad = {
        {"press\n", "s.scenario:1: press CONTROL [on PANEL]"},
        {"# ok\n\nwait soon\n", "s.scenario:3: wait MILLISECONDS"},
        {"tick 1 2\n", "s.scenario:1: tick [TIMER]"},
        {"fly away\n", "s.scenario:1: unknown step 'fly'"},
        {"expect\n", "s.scenario:1: expect needs a command text, 'nothing', 'reply', 'control' or "
                     "'crosspoint'"},
        {"revertive x 12 A\n", "s.scenario:1: revertive DEVICE INDEX [TEXT]"},
        // A step takes the numbers a studio file takes for the same thing.
        {"route -12 3\n", "s.scenario:1: " + routeUsage},
        {"route 12 -3\n", "s.scenario:1: " + routeUsage},
        {"route 0 5\n", "s.scenario:1: " + routeUsage},
        {"route 12x 5\n", "s.scenario:1: " + routeUsage},
        {"expect crosspoint 0 5\n", "s.scenario:1: expect crosspoint DESTINATION SOURCE"},
        {std::string("press OS\0_3\n", 12),
         "s.scenario:1: the line holds a NUL byte (\\x00) at column 9, which no text handed to "
         "a script can hold"},
        {"press\x1b[2J now\n", "s.scenario:1: unknown step 'press\\x1b[2J'"}};
    for (const auto& [text, message] : bad) {
        std::vector<ScenarioStep> steps;
        std::string error;
        EXPECT_FALSE(parseScenario("s.scenario", text, steps, error)) << text;
        EXPECT_EQ(error, message);
    }
}

// A lone CR ends a line as LF and CRLF do: a file saved so is its steps,
// not one long comment or line.
TEST(ScenarioFile, HostileLoneCarriageReturnsEndLines) {
    for (const std::string text :
         {"# c\rpress Take\rtick\r", "# c\r\npress Take\r\ntick", "# c\npress Take\ntick\n"}) {
        std::vector<ScenarioStep> steps;
        std::string error;
        ASSERT_TRUE(parseScenario("s.scenario", text, steps, error)) << error;
        ASSERT_EQ(steps.size(), 2u) << text;
        EXPECT_EQ(steps[0].verb, "press");
        EXPECT_EQ(steps[1].verb, "tick");
    }
}

// Steps kept as the files' bytes read back exactly as parsed in one go, with
// the file each came from; a bad file adds nothing.
TEST(ScenarioSteps, StepsReadBackAsParsedWithTheirFiles) {
    const std::string first = "startup strict\r\n  press OS_1\n# note\n\n\tparam a  b \n";
    const std::string second = "revertive 7 12 OS 4\n";
    ScenarioSteps kept;
    std::string error;
    ASSERT_TRUE(kept.add("a.scenario", first, error)) << error;
    EXPECT_FALSE(kept.add("bad.scenario", "press OS_1\nfly away\n", error));
    EXPECT_EQ(error, "bad.scenario:2: unknown step 'fly'");
    ASSERT_TRUE(kept.add("b.scenario", second, error)) << error;
    std::vector<ScenarioStep> parsed;
    ASSERT_TRUE(parseScenario("a.scenario", first, parsed, error));
    ASSERT_TRUE(parseScenario("b.scenario", second, parsed, error));
    ASSERT_EQ(kept.size(), parsed.size());
    for (std::size_t i = 0; i < kept.size(); ++i) {
        ScenarioStep step = kept.at(i);
        EXPECT_EQ(step.file, parsed[i].file);
        EXPECT_EQ(step.line, parsed[i].line);
        EXPECT_EQ(step.verb, parsed[i].verb);
        EXPECT_EQ(step.rest, parsed[i].rest);
        EXPECT_EQ(step.words, parsed[i].words);
    }
    EXPECT_EQ(kept.fileCount(), 2u);
    EXPECT_EQ(kept.fileOf(3), 1u);
    EXPECT_EQ(kept.firstOf(1), 3u);
    EXPECT_TRUE(kept.isStartup(0));
    EXPECT_FALSE(kept.isStartup(1));
    HostStartup startup;
    EXPECT_TRUE(gatherStartup(kept, startup, error)) << error;
    EXPECT_TRUE(startup.strict);
    ASSERT_TRUE(kept.add("late.scenario", "startup level 2\n", error));
    EXPECT_FALSE(gatherStartup(kept, startup, error));
    EXPECT_EQ(error, "late.scenario:1: startup steps come before every other step");
}

class HostRun : public ::testing::Test {
  protected:
    std::vector<std::string> transcript;
    Studio studio;
    std::unique_ptr<ScriptRoute> route; // outlives the host, which deletes the script through it
    PanelHost host{studio, [this](const std::string& line) { transcript.push_back(line); }};

    void openPanel() {
        std::string error;
        route = openScriptRoute(PELDAN_LIBRARY_PATH, error);
        ASSERT_TRUE(route) << error;
        ASSERT_TRUE(host.open(*route));
    }

    int play(const std::string& text) {
        std::vector<ScenarioStep> steps;
        std::string error;
        EXPECT_TRUE(parseScenario("t.scenario", text, steps, error)) << error;
        return playScenario(host, steps);
    }
    bool said(const std::string& line) const {
        for (const std::string& l : transcript)
            if (l == line)
                return true;
        return false;
    }
};

TEST_F(HostRun, PlaysThePanelAndCatchesAWrongExpectation) {
    openPanel();
    EXPECT_EQ(play("press OS_3\nexpect TP 'statesheet=KTSourceSelected' '1' 'OS_3'\n"
                   "pick SourceSel 17\nwait 3000\nexpect TP 'statesheet=KT_TakeLow' '1' 'Take'\n"
                   "expect TP 'statesheet=KT_TakeHigh' '1' 'Take'\n"
                   "expect TP 'statesheet=KT_TakeLow' '1' 'Take'\nexpect nothing\n"),
              0);
    EXPECT_EQ(play("press Take\nexpect RC 5 17 193 ',2' 1\n"), 1);
    EXPECT_TRUE(said("FAILED t.scenario:2: expected RC 5 17 193 ',2' 1, got RC 5 17 193 ',2' 0"));
    EXPECT_EQ(play("close\nexpect AS\n"), 1); // RU comes first
    EXPECT_TRUE(host.breaches().empty());
    EXPECT_EQ(studio.crosspoints().at(193), 17);
}

TEST_F(HostRun, RouterChangesReachRegisteredLabelsOnly) {
    openPanel();
    EXPECT_EQ(play("route 12 MIC 2\nexpect TP 'text=MIC 2' '1' 'UMD_1'\n"
                   "route 30 MIC 2\nexpect nothing\nclose\nroute 12 MIC 1\n"),
              1);
    EXPECT_TRUE(said("FAILED t.scenario:6: the panel is closed"));
}

TEST_F(HostRun, EachBreachOfTheBufferRulesIsReported) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"keep-reply", "BREACH: reply \"7\" was never handed back"},
        {"double-hand-back",
         "BREACH: hand-back of a buffer the host did not give out, or gave back already"},
        {"bad-command", "BREACH: command does not parse (fields do not fit RR): RR 7 twelve 21"},
        {"late-call", "BREACH: call of type 0 after the script said AS"}};
    for (const auto& [mode, expected] : cases) {
        Studio s;
        std::vector<std::string> lines;
        std::string error;
        std::unique_ptr<ScriptRoute> misbehaving = openScriptRoute(MISBEHAVING_LIBRARY_PATH, error);
        ASSERT_TRUE(misbehaving) << error;
        PanelHost h(s, [&lines](const std::string& line) { lines.push_back(line); });
        ASSERT_TRUE(h.open(*misbehaving));
        h.parameter(mode);
        h.close();
        EXPECT_EQ(h.breaches().size(), 1u) << mode;
        EXPECT_NE(std::find(lines.begin(), lines.end(), expected), lines.end()) << mode;
    }
}

} // namespace
