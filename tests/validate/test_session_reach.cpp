// What validate counts of the steps its sessions played.
#include "session_reach.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <set>

#include <string>
#include <vector>

namespace {

PanelLayout twoControls() {
    PanelLayout layout;
    std::string error;
    EXPECT_TRUE(
        parsePanelLayout("panel 1 Test\nbutton Take Take\nlist SourceSel Sources\n", layout, error))
        << error;
    return layout;
}

TEST(SessionReach, CountsOnlyStepsPlayedAndControlsOfTheShownPanel) {
    const std::vector<std::string> lines = {"startup strict",
                                            "press Take",
                                            "tick",
                                            "event 2 SourceSel index=1",
                                            "event 1 SourceSel index=1",
                                            "press Missing",
                                            "pick SourceSel 3"};
    struct Case {
        bool failed;
        int failedStep;
        long long presses, events, picks;
        std::size_t controls;
    };
    // Passed: every step; failed at step 0 (the first press): that step only;
    // failed at the load: nothing.
    for (const Case& c : {Case{false, 0, 2, 2, 1, 2}, Case{true, 0, 1, 0, 0, 1},
                          Case{true, -1, 0, 0, 0, 0}, Case{true, 3, 1, 2, 0, 2}}) {
        SessionOutcome outcome;
        outcome.failed = c.failed;
        outcome.failedStep = c.failedStep;
        SessionReach reach;
        reach.add(lines, outcome, twoControls());
        EXPECT_EQ(reach.stepKinds["press"], c.presses) << c.failedStep;
        EXPECT_EQ(reach.stepKinds["event"], c.events) << c.failedStep;
        EXPECT_EQ(reach.stepKinds["pick"], c.picks) << c.failedStep;
        EXPECT_EQ(reach.controls.size(), c.controls) << c.failedStep;
        EXPECT_EQ(reach.stepKinds.count("startup"), 0u);
    }
}

TEST(SessionReach, NamesTheParameterKeysSentAndThoseTheScriptRepliedTo) {
    const std::vector<std::string> lines = {
        "param return=all", "param return=x", "param myParam=3", "param a.b.c=1",
        "param 'odd key'",  "param _events",  "param-null"};
    SessionOutcome outcome;
    for (const char* reply : {"myParam=3", "", "", "", "", "notify=*"}) {
        StepRecord record;
        record.parameter = true;
        record.reply = std::string(reply);
        outcome.records.push_back(record);
    }
    outcome.records.push_back(StepRecord{});
    SessionReach reach;
    reach.add(lines, outcome, twoControls());
    EXPECT_EQ(reach.parameterKeys, (std::set<std::string>{"_events", "a", "myParam", "return"}));
    EXPECT_EQ(reach.answeredKeys, (std::set<std::string>{"_events", "return"}));
    SessionReach back;
    ASSERT_TRUE(back.decode(reach.encode()));
    EXPECT_EQ(back.answeredKeys, reach.answeredKeys);
    EXPECT_EQ(back.parameterKeys, reach.parameterKeys);
}

TEST(SessionReach, CrossesAsTextAndMerges) {
    SessionReach a, b;
    a.stepKinds = {{"press", 3}, {"tick", 1}};
    a.controls = {"Take"};
    b.stepKinds = {{"press", 2}};
    b.controls = {"OS_1", "Take"};
    SessionReach read;
    ASSERT_TRUE(read.decode(a.encode()));
    read.merge(b);
    EXPECT_EQ(read.stepKinds["press"], 5);
    EXPECT_EQ(read.stepKinds["tick"], 1);
    EXPECT_EQ(read.controls, (std::set<std::string>{"OS_1", "Take"}));
    for (const char* bad : {"k press\n", "x y 1\n", "k press -1\n"})
        EXPECT_FALSE(SessionReach().decode(bad)) << bad;
}

} // namespace

namespace {

// Overlapping blocks count once; the largest unreached runs come first.
TEST(SessionReach, CodeReachedIsTheUnionOfBlocksWithinTheExecutableBytes) {
    SessionReach reach;
    reach.code["PANEL.dll"] = {{0x1000, 0x100}};
    reach.blocks["PANEL.dll"] = {{0x1000, 0x20}, {0x1010, 0x20}, {0x1080, 0x10}};
    std::vector<ModuleReach> modules = reach.modules(5);
    ASSERT_EQ(modules.size(), 1u);
    EXPECT_EQ(modules[0].codeBytes, 0x100u);
    EXPECT_EQ(modules[0].reachedBytes, 0x40u);
    EXPECT_EQ(modules[0].blocks, 3u);
    ASSERT_EQ(modules[0].neverReached.size(), 2u);
    EXPECT_EQ(modules[0].neverReached[0].offset, 0x1090u);
    EXPECT_EQ(modules[0].neverReached[0].size, 0x70u);
    EXPECT_EQ(modules[0].neverReached[1].offset, 0x1030u);
    EXPECT_EQ(modules[0].neverReached[1].size, 0x50u);
    EXPECT_EQ(reach.modules(1)[0].neverReached.size(), 1u);

    // What crosses from a worker reads back the same, a module name with spaces too.
    reach.blocks["my panel.dll"] = {{0x2000, 4}};
    reach.code["my panel.dll"] = {{0x2000, 8}};
    reach.exports[{"my panel.dll", 0x2000}] = "load_vesk_client_script";
    SessionReach read;
    ASSERT_TRUE(read.decode(reach.encode()));
    EXPECT_EQ(read.blocks, reach.blocks);
    EXPECT_EQ(read.code, reach.code);
    EXPECT_EQ(read.exports, reach.exports);
    for (const char* bad : {"b 12\n", "x 1 2\n", "e 5 name-without-module\n"})
        EXPECT_FALSE(SessionReach().decode(bad)) << bad;
}

// Lines from units: a DLL's bytes, or a guards module's guards at their
// addresses; a line is reached when any unit of it ran; a boundary header is
// not the panel's. The symbolizer is a script that gives line address/16 + 1.
TEST(SessionReach, SourceLinesCountEveryUnitOfTheirLineAndOnlyThePanelsFiles) {
    setenv("PANEL_HOST_SYMBOLIZER", FAKE_SYMBOLIZER, 1);
    struct Case {
        std::string module;
        std::vector<std::uint32_t> unitAddresses;
        std::set<std::pair<std::uint32_t, std::uint32_t>> code, blocks;
        std::uint64_t lines, reached;
        std::string lcov; // the tracefile's first lines
    };
    const std::vector<Case> cases = {
        // Bytes 0..0x11f: lines 1..16 of the panel's file, then the header's (left out);
        // the block 0x18..0x27 touches lines 2 and 3.
        {"P.dll",
         {},
         {{0, 0x120}},
         {{0x18, 0x10}},
         16,
         2,
         "TN:validate\nSF:panels/P/a.cpp\nDA:1,0\nDA:2,8\nDA:3,8\nDA:4,0\n"},
        // Three guards at 0x00, 0x20 and 0x40 (lines 1, 3, 5); the second ran.
        {"P.so [guards]",
         {0x00, 0x20, 0x40},
         {{0, 3}},
         {{1, 1}},
         3,
         1,
         "TN:validate\nSF:panels/P/a.cpp\nDA:1,0\nDA:3,1\nDA:5,0\nLF:3\nLH:1\n"},
    };
    for (const Case& c : cases) {
        SessionReach reach;
        reach.code[c.module] = c.code;
        reach.blocks[c.module] = c.blocks;
        reach.symbols[c.module] = {c.module, "/nowhere/" + c.module, c.unitAddresses};
        SessionReach read; // what crosses from a worker
        ASSERT_TRUE(read.decode(reach.encode()));
        SymbolizerProcess symbolizer;
        std::optional<LineCoverage> lines = read.sourceLines(symbolizer);
        ASSERT_TRUE(lines) << c.module;
        EXPECT_EQ(lines->modules, std::vector<std::string>{c.module});
        EXPECT_EQ(lines->lines(), c.lines) << c.module;
        EXPECT_EQ(lines->reachedLines(), c.reached) << c.module;
        EXPECT_EQ(lcovTracefile(*lines, "validate").substr(0, c.lcov.size()), c.lcov);
    }
    // No symbols, or a symbolizer that cannot be had: no lines at all.
    SessionReach bare;
    bare.code["P.dll"] = {{0, 16}};
    SymbolizerProcess symbolizer;
    EXPECT_FALSE(bare.sourceLines(symbolizer));
    bare.symbols["P.dll"] = {"P.dll", "/nowhere/P.dll", {}};
    setenv("PANEL_HOST_SYMBOLIZER", "/nonexistent/symbolizer", 1);
    SymbolizerProcess missing;
    EXPECT_FALSE(bare.sourceLines(missing));
    unsetenv("PANEL_HOST_SYMBOLIZER");
    for (const char* bad : {"s 1 2\n", "s x\tP.dll\t/p\n", "s -1\tP.dll\t/p\n", "s\tP.dll\t\n"})
        EXPECT_FALSE(SessionReach().decode(bad)) << bad;
}

// With --compare, the reference's code is kept apart by module, crosses from
// a worker as such, and gives its own lines; a module both have is the library's.
TEST(SessionReach, TheReferencesCodeStaysApartFromTheLibrarys) {
    setenv("PANEL_HOST_SYMBOLIZER", FAKE_SYMBOLIZER, 1);
    auto outcomeWith = [](const std::string& module, std::uint32_t ran) {
        SessionOutcome outcome;
        CodeCoverage coverage{{{module, 0, 0x40}}, {{module, ran, 1}}, {}, {}};
        coverage.symbols.push_back({module, "/nowhere/" + module, {}});
        outcome.coverage = std::make_shared<const CodeCoverage>(std::move(coverage));
        return outcome;
    };
    SessionReach reach;
    reach.add({}, outcomeWith("P.so", 0x00), PanelLayout());
    reach.addReferenceCode(outcomeWith("P.dll", 0x10));
    reach.addReferenceCode(outcomeWith("P.so", 0x30)); // the library's own: not the reference's
    SessionReach read;
    ASSERT_TRUE(read.decode(reach.encode()));
    EXPECT_EQ(read.referenceModules, std::set<std::string>{"P.dll"});
    SymbolizerProcess symbolizer;
    std::optional<LineCoverage> mine = read.sourceLines(symbolizer);
    std::optional<LineCoverage> theirs = read.sourceLines(symbolizer, true);
    ASSERT_TRUE(mine && theirs);
    EXPECT_EQ(mine->modules, std::vector<std::string>{"P.so"});
    EXPECT_EQ(theirs->modules, std::vector<std::string>{"P.dll"});
    // Lines 1..4 each; the library ran line 1, the reference line 2.
    EXPECT_EQ(mine->files.at("panels/P/a.cpp").at(1), 1u);
    EXPECT_EQ(mine->files.at("panels/P/a.cpp").at(4), 0u);
    EXPECT_EQ(theirs->files.at("panels/P/a.cpp").at(2), 1u);
    EXPECT_EQ(theirs->reachedLines(), 1u);
    unsetenv("PANEL_HOST_SYMBOLIZER");
}

} // namespace
