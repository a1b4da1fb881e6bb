// panel-host validate against libraries with known faults, the misbehaving
// test script, and PELDAN itself: faults are found, shrunk, and saved as
// scenarios that `panel-host run` replays to the same failure.
#include "panel_layout.h"
#include "session_generator.h"
#include "session_shrinker.h"
#include "shell_command.h"
#include "validate_fixture.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <dirent.h>
#include <fstream>
#include <sstream>

namespace {

TEST_F(Validate, FindsAPlantedCrashAndShrinksItToAReplayableScenario) {
    ShellResult found = validate(PLANTED_CRASH);
    EXPECT_EQ(found.status, 1) << found.output;
    EXPECT_NE(found.output.find("failed in press Take: the script crashed with signal 11"),
              std::string::npos)
        << found.output;
    std::vector<std::string> saved = savedScenarios();
    ASSERT_FALSE(saved.empty()) << found.output;
    for (const std::string& scenario : saved) {
        EXPECT_LE(actionCount(scenario), 10) << scenario;
        // The crash needs its feed, a source and Take: nothing shorter fails.
        EXPECT_GE(actionCount(scenario), 3) << scenario;
        ShellResult replay = panelHost(std::string("run ") + PLANTED_CRASH + " " + scenario);
        EXPECT_EQ(replay.status, 4) << replay.output;
        EXPECT_NE(replay.output.find("crashed with signal 11"), std::string::npos);
        EXPECT_EQ(replay.output.find("FAILED"), std::string::npos) << replay.output;
    }
}

TEST_F(Validate, FindsAPlantedDivergenceByComparingWithTheRealLibrary) {
    ShellResult found =
        validate(std::string(PLANTED_DIVERGENCE) + " --compare " + PELDAN_LIBRARY_PATH);
    EXPECT_EQ(found.status, 1) << found.output;
    EXPECT_NE(found.output.find("script> RC 5 "), std::string::npos) << found.output;
    std::vector<std::string> saved = savedScenarios();
    ASSERT_FALSE(saved.empty()) << found.output;
    for (const std::string& scenario : saved) {
        EXPECT_LE(actionCount(scenario), 10) << scenario;
        EXPECT_GE(actionCount(scenario), 2) << scenario;
        ShellResult planted = panelHost(std::string("run ") + PLANTED_DIVERGENCE + " " + scenario);
        EXPECT_EQ(planted.status, 1) << planted.output;
        EXPECT_NE(planted.output.find("FAILED"), std::string::npos) << planted.output;
        EXPECT_NE(planted.output.find(" 195 "), std::string::npos) << planted.output;
        // The reference library sent what the expect lines say.
        ShellResult real = panelHost(std::string("run ") + PELDAN_LIBRARY_PATH + " " + scenario);
        EXPECT_EQ(real.status, 0) << real.output;
    }
}

struct Misbehaviour {
    const char* name;
    const char* said;
};

TEST_F(Validate, EachMisbehaviourOfATestScriptFailsWithAClearMessage) {
    const Misbehaviour cases[] = {
        {"keep-reply", "BREACH in step: reply \"7\" was kept past the call that received it"},
        {"bad-command", "BREACH in step: command does not parse"},
        {"crash", "the script crashed with signal 11 (Segmentation fault)"},
        {"hang", "the script did not finish a step within 300 ms"},
        {"exit", "the script ended the process with exit status 0"},
        {"crash-at-load", "failed in the load: the script crashed with signal 11"},
        {"write-record", "BREACH in step: the script wrote into the host's control id"},
#if defined(SCRIPT_ALLOCATIONS_COUNTED)
        {"leak", "BREACH in delete: the script still holds 1 block ("},
#endif
    };
    for (const Misbehaviour& m : cases) {
        ShellResult found =
            validate(std::string(UNRULY_LIBRARY) + " --sessions 3 --steps 20 --hang-timeout 300",
                     std::string("PANEL_SCRIPT_MISBEHAVIOUR=") + m.name);
        EXPECT_EQ(found.status, 1) << m.name << "\n" << found.output;
        EXPECT_NE(found.output.find(m.said), std::string::npos) << m.name << "\n" << found.output;
        EXPECT_NE(found.output.find("validate: 3 sessions, "), std::string::npos) << found.output;
    }
}

TEST_F(Validate, PeldanPassesAtEveryLevel) {
    for (int level = 1; level <= 5; ++level) {
        ShellResult result = validate(std::string(PELDAN_LIBRARY_PATH) + " --sessions 60 --level " +
                                      std::to_string(level));
        EXPECT_EQ(result.status, 0) << "level " << level << "\n" << result.output;
        // Mutated sessions vary in length: only blind ones have 100 steps each.
        EXPECT_NE(result.output.find("validate: 60 sessions, "), std::string::npos)
            << result.output;
        EXPECT_NE(result.output.find(" steps, 0 failures"), std::string::npos) << result.output;
        ShellResult blind = validate(std::string(PELDAN_LIBRARY_PATH) +
                                     " --blind --sessions 60 --level " + std::to_string(level));
        EXPECT_NE(blind.output.find("validate: 60 sessions, 6000 steps, 0 failures"),
                  std::string::npos)
            << blind.output;
    }
}

TEST_F(Validate, JsonReportsTheRunAndTheSameSeedFindsTheSameFailures) {
    auto report = [&](const std::string& name, int seed) {
        std::string json = folder + "/" + name;
        validate(std::string(PLANTED_CRASH) + " --sessions 60 --seed " + std::to_string(seed) +
                 " --json " + json);
        std::ifstream in(json);
        return nlohmann::json::parse(in, nullptr, false);
    };
    nlohmann::json first = report("first.json", 7);
    nlohmann::json again = report("again.json", 7);
    nlohmann::json other = report("other.json", 8);
    ASSERT_FALSE(first.is_discarded());
    EXPECT_EQ(first["sessions"], 60);
    EXPECT_EQ(first["seed"], 7);
    ASSERT_TRUE(first["failures"].is_array());
    ASSERT_FALSE(first["failures"].empty());
    EXPECT_EQ(first["failures"][0]["kind"], "crashed with signal 11");
    auto sessionsOf = [](const nlohmann::json& r) {
        std::vector<int> sessions;
        for (const auto& f : r["failures"])
            sessions.push_back(f["session"]);
        return sessions;
    };
    EXPECT_EQ(sessionsOf(first), sessionsOf(again));
    EXPECT_EQ(first["steps"], again["steps"]);
    EXPECT_NE(sessionsOf(first), sessionsOf(other));
}

// Parallel workers and shards change how the sessions are spread, never what
// they find: the same failures at the same steps, with the same shrunk sizes.
// Blind, a shard is an exact part of the unsplit run.
TEST_F(Validate, JobsAndShardsGiveTheSameVerdictAsOneWorker) {
    auto report = [&](const std::string& name, const std::string& how) {
        std::string json = folder + "/" + name;
        ShellResult result = validate(std::string(PLANTED_CRASH) +
                                      " --blind --sessions 150 --json " + json + " " + how);
        EXPECT_EQ(result.status, 1) << how << "\n" << result.output;
        // A blind session is drawn where it is played and drawn again for its
        // report: the step named is the one that crashed.
        for (std::size_t at = result.output.find(" failed in "); at != std::string::npos;
             at = result.output.find(" failed in ", at + 1))
            EXPECT_EQ(result.output.compare(at, 41, " failed in press Take: the script crashed"), 0)
                << how << "\n"
                << result.output.substr(at, 80);
        std::ifstream in(json);
        return nlohmann::json::parse(in, nullptr, false);
    };
    auto found = [](const nlohmann::json& r) {
        std::vector<std::string> failures;
        for (const auto& f : r["failures"])
            failures.push_back(std::to_string(f["session"].get<int>()) + " step " +
                               std::to_string(f["step"].get<int>()) + " " +
                               f["kind"].get<std::string>() + " shrunk to " +
                               std::to_string(f["shrunkSteps"].get<int>()));
        return failures;
    };
    nlohmann::json one = report("one.json", "--jobs 1");
    nlohmann::json two = report("two.json", "--jobs 2");
    ASSERT_FALSE(one.is_discarded());
    ASSERT_FALSE(one["failures"].empty());
    EXPECT_EQ(found(one), found(two));
    EXPECT_EQ(one["steps"], two["steps"]);

    nlohmann::json first = report("first.json", "--shard 1/3");
    report("second.json", "--shard 2/3");
    report("third.json", "--shard 3/3");
    EXPECT_EQ(first["sessions"], 50);
    ShellResult merged =
        panelHost("merge-reports " + folder + "/third.json " + folder + "/first.json " + folder +
                  "/second.json --json " + folder + "/whole.json");
    EXPECT_EQ(merged.status, 1) << merged.output;
    EXPECT_NE(merged.output.find("validate: 150 sessions in 3 shards"), std::string::npos)
        << merged.output;
    std::ifstream in(folder + "/whole.json");
    nlohmann::json whole = nlohmann::json::parse(in, nullptr, false);
    ASSERT_FALSE(whole.is_discarded());
    EXPECT_EQ(whole["steps"], one["steps"]);
    auto sessionsAndSteps = [](const nlohmann::json& r) {
        std::vector<std::pair<int, int>> out;
        for (const auto& f : r["failures"])
            out.push_back({f["session"], f["step"]});
        return out;
    };
    EXPECT_EQ(sessionsAndSteps(whole), sessionsAndSteps(one));

    EXPECT_EQ(
        panelHost("merge-reports " + folder + "/first.json --json " + folder + "/x.json").status,
        2);
    for (const char* bad : {"0/2", "3/2", "2", "1/4"})
        EXPECT_EQ(
            validate(std::string(PELDAN_LIBRARY_PATH) + " --sessions 150 --shard " + bad).status, 2)
            << bad;
}

// The panel is the one the script shows, whatever the library's file is
// called; a run that could press nothing never passes.
TEST_F(Validate, DrivesThePanelTheScriptShowsAndNeverPassesWithoutOne) {
    // A planted crash under another name: no studio_a_panel.vesk_ui beside it,
    // but its "PS" names PELDAN.vesk_ui in its folder, and the crash behind
    // three steps is found.
    std::string renamed = folder + "/studio_a_panel.so";
    ASSERT_EQ(shell(std::string("cp ") + PLANTED_CRASH + " " + renamed + " && cp " +
                        PELDAN_LAYOUT_PATH + " " + folder + "/PELDAN.vesk_ui",
                    folder + "/cp.txt")
                  .status,
              0);
    ShellResult crash = validate(renamed + " --json " + folder + "/renamed.json");
    EXPECT_EQ(crash.status, 1) << crash.output;
    EXPECT_NE(crash.output.find("from the script's PS"), std::string::npos) << crash.output;
    EXPECT_NE(crash.output.find("crashed with signal 11"), std::string::npos) << crash.output;
    std::ifstream in(folder + "/renamed.json");
    nlohmann::json report = nlohmann::json::parse(in, nullptr, false);
    ASSERT_FALSE(report.is_discarded());
    EXPECT_EQ(report["panelControls"], 22);
    EXPECT_GT(report["stepKinds"]["press"].get<long long>(), 0);
    EXPECT_GT(report["controlsExercised"].get<int>(), 0);

    // PELDAN itself under another name passes and reaches every control.
    std::string quiet = folder + "/quiet/studio_a_panel.so";
    shell("mkdir -p " + folder + "/quiet && cp " + PELDAN_LIBRARY_PATH + " " + quiet,
          folder + "/cp.txt");
    ShellResult passing = validate(quiet + " --sessions 40");
    // Its "PS" names PELDAN.vesk_ui in its own folder, where there is none:
    // there is no panel, so nothing could be pressed, and it must not pass.
    EXPECT_EQ(passing.status, 7) << passing.output;
    EXPECT_NE(passing.output.find("validate has no panel to drive"), std::string::npos)
        << passing.output;
    EXPECT_EQ(passing.output.find("0 failures"), std::string::npos) << passing.output;

    shell(std::string("cp ") + PELDAN_LAYOUT_PATH + " " + folder + "/quiet/PELDAN.vesk_ui",
          folder + "/cp.txt");
    passing = validate(quiet + " --sessions 40");
    EXPECT_EQ(passing.status, 0) << passing.output;
    EXPECT_NE(passing.output.find("controls exercised 22 of 22"), std::string::npos)
        << passing.output;

    // --layout overrides what the script shows; a layout that cannot be read is refused.
    ShellResult chosen = validate(quiet + " --sessions 5 --layout " + PELDAN_LAYOUT_PATH);
    EXPECT_NE(chosen.output.find("from --layout"), std::string::npos) << chosen.output;
    EXPECT_EQ(validate(quiet + " --layout " + folder + "/none.vesk_ui").status, 2);
}

TEST_F(Validate, BadArgumentsAndLibrariesAreRefused) {
    EXPECT_EQ(validate(std::string(PELDAN_LIBRARY_PATH) + " --level 9").status, 2);
    EXPECT_EQ(validate(std::string(PELDAN_LIBRARY_PATH) + " --sessions 0").status, 2);
    ShellResult missing = validate(folder + "/no-such-library.so");
    EXPECT_EQ(missing.status, 3) << missing.output;
    EXPECT_NE(missing.output.find("no-such-library.so"), std::string::npos) << missing.output;
    ShellResult folderGiven = validate(folder);
    EXPECT_EQ(folderGiven.status, 3) << folderGiven.output;
}

TEST_F(Validate, PipedOutputHasNoProgressBar) {
    ShellResult result = validate(std::string(PELDAN_LIBRARY_PATH) + " --sessions 5");
    EXPECT_EQ(result.output.find('\r'), std::string::npos);
    EXPECT_NE(result.output.find("steps/s"), std::string::npos);
}

// Saved seeds must keep meaning the same sessions: a change to how sessions
// are drawn shows here first.
TEST(SessionGenerator, TheSameSeedDrawsTheSameSession) {
    PanelLayout layout;
    std::string error;
    ASSERT_TRUE(readPanelLayout(PELDAN_LAYOUT_PATH, layout, error)) << error;
    SessionPlan plan{42, 3, 50, 2};
    GeneratedSession a = generateSession(plan, layout, 7);
    GeneratedSession b = generateSession(plan, layout, 7);
    EXPECT_EQ(a.steps, b.steps);
    EXPECT_EQ(a.startup, b.startup);
    plan.session = 4;
    EXPECT_NE(generateSession(plan, layout, 7).steps, a.steps);
    ASSERT_EQ(a.steps.size(), 50u);
    SessionRandom random(1);
    EXPECT_EQ(random.next(),
              0x910A2DEC89025CC1ULL); // splitmix64's published first output for seed 1
}

TEST(SessionGenerator, StepsUseOnlyTheLayoutsControlsInPresses) {
    PanelLayout layout;
    std::string error;
    ASSERT_TRUE(readPanelLayout(PELDAN_LAYOUT_PATH, layout, error)) << error;
    for (int session = 0; session < 20; ++session) {
        GeneratedSession drawn = generateSession(SessionPlan{5, session, 100, 5}, layout, 7);
        for (const std::string& step : drawn.steps) {
            EXPECT_EQ(step.find_first_of("\r\n"), std::string::npos) << step;
            if (step.rfind("press ", 0) == 0 || step.rfind("pick ", 0) == 0) {
                std::istringstream words(step);
                std::string verb, control;
                words >> verb >> control;
                EXPECT_NE(layout.find(control), nullptr) << step;
            }
        }
    }
}

} // namespace

// A run of ticks folds into the shortest wait that still fails, and a text is
// cut to the shortest length that still fails.
TEST(SessionShrinker, FoldsTicksIntoAWaitAndCutsTextsToTheShortestThatFails) {
    auto ticks = [](const std::vector<std::string>& lines) {
        int count = 0;
        for (const std::string& line : lines) {
            count += line == "tick";
            if (line.rfind("wait ", 0) == 0)
                count += std::stoi(line.substr(5)) / 1000;
        }
        return count;
    };
    auto longestParam = [](const std::vector<std::string>& lines) {
        std::size_t longest = 0;
        for (const std::string& line : lines)
            if (line.rfind("param ", 0) == 0)
                longest = std::max(longest, line.size() - 6);
        return longest;
    };
    std::vector<std::string> session{"startup strict", "press Take"};
    for (int i = 0; i < 20; ++i)
        session.push_back("tick");
    session.push_back("param " + std::string(5000, 'q'));
    int tries = 0;
    std::vector<std::string> shrunk = shrinkSession(
        session,
        [&](const std::vector<std::string>& lines) {
            return ticks(lines) >= 16 && longestParam(lines) >= 137;
        },
        ShrinkLimits{}, tries);
    EXPECT_EQ(shrunk, (std::vector<std::string>{"startup strict", "wait 30000",
                                                "param " + std::string(137, 'q')}));
}

// --corpus: what one run keeps, the next reads and plays first; every file
// is a scenario `run` replays, and a file the panel cannot play is skipped.
TEST_F(Validate, ACorpusFolderCarriesWhatARunKeptIntoTheNext) {
    const std::string corpus = folder + "/corpus";
    const std::string peldan = PELDAN_LIBRARY_PATH;
    ShellResult first = validate(peldan + " --sessions 100 --jobs 1 --corpus " + corpus);
    ASSERT_EQ(first.status, 0) << first.output;
    std::vector<std::string> files;
    if (DIR* dir = opendir(corpus.c_str())) {
        while (dirent* entry = readdir(dir))
            if (entry->d_name[0] != '.')
                files.push_back(entry->d_name);
        closedir(dir);
    }
    ASSERT_FALSE(files.empty());
    EXPECT_NE(first.output.find(std::to_string(files.size()) + " new sessions added"),
              std::string::npos)
        << first.output;
    EXPECT_EQ(panelHost("run " + peldan + " " + corpus + "/" + files.front()).status, 0);
    std::ofstream(corpus + "/another-panel.scenario") << "press NoSuchControl\n";
    ShellResult second = validate(peldan + " --sessions 100 --jobs 1 --corpus " + corpus);
    EXPECT_EQ(second.status, 0) << second.output;
    EXPECT_NE(second.output.find("corpus " + corpus + ": " + std::to_string(files.size()) +
                                 " sessions read, 1 files skipped"),
              std::string::npos)
        << second.output;
    EXPECT_EQ(validate(peldan + " --blind --corpus " + corpus).status, 2);
}
