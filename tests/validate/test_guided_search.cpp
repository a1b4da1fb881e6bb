// validate's guided search: faults planted deeper than a blind draw reaches
// (behind the flash running out, in a library named unlike its layout, a
// wrong look only a comparison tells) are found by the default run and shrunk
// to short scenarios that replay; the search is deterministic; its parts.
#include "search_dictionary.h"
#include "session_explorer.h"
#include "session_features.h"
#include "validate_fixture.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <set>

namespace {

using Lines = std::vector<std::string>;

nlohmann::json readJson(const std::string& path) {
    std::ifstream in(path);
    return nlohmann::json::parse(in, nullptr, false);
}

struct DeepFault {
    const char* what;
    std::string library;
    std::string extra; // more options
    const char* kind;  // of the failure
    int replayStatus;  // of panel-host run on the shrunk scenario: 4 a crash, 1 a failed expect
};

class GuidedSearch : public Validate {};

TEST_F(GuidedSearch, FindsDeepFaultsWithTheDefaultRunAndShrinksThemToReplayableScenarios) {
    const DeepFault faults[] = {
        {"the flash running out", PLANTED_EXPIRY, "", "signal 11", 4},
        {"a library named unlike its layout", RENAMED_EXPIRY, "", "signal 11", 4},
        {"a wrong look on the twelfth tick", PLANTED_LATE_LOOK,
         std::string(" --compare ") + PELDAN_LIBRARY_PATH, "divergence", 1},
        {"a label longer than 200 bytes, then a feed", PLANTED_LONG_LABEL, "", "signal 11", 4},
        {"the ninth selection of one feed", PLANTED_NINTH_PICK, "", "signal 11", 4},
        {"source 37 taken to feed OS_6", PLANTED_ONE_SOURCE, "", "signal 11", 4},
    };
    for (const DeepFault& fault : faults) {
        std::string json = folder + "/report.json";
        auto start = std::chrono::steady_clock::now();
        ShellResult guided = validate(fault.library + fault.extra + " --json " + json);
        double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        ASSERT_EQ(guided.status, 1) << fault.what << "\n" << guided.output;
        nlohmann::json report = readJson(json);
        ASSERT_FALSE(report.is_discarded()) << fault.what;
        ASSERT_FALSE(report["failures"].empty()) << fault.what;
        const nlohmann::json& first = report["failures"][0];
        EXPECT_NE(first["kind"].get<std::string>().find(fault.kind), std::string::npos)
            << fault.what << ": " << first.dump();
        EXPECT_LE(first["shrunkSteps"].get<int>(), 20) << fault.what;
        EXPECT_EQ(report["search"]["mode"], "guided");
        std::string scenario = first["scenario"];
        // A divergence's scenario expects what the reference sent, so it fails too.
        ShellResult replay = panelHost("run " + fault.library + " " + scenario);
        EXPECT_EQ(replay.status, fault.replayStatus)
            << fault.what << ": the scenario must fail again\n"
            << replay.output;
        ShellResult blind = validate(fault.library + fault.extra + " --blind --sessions 1000");
        std::cout << fault.what << ": found in session " << first["session"] << " in " << seconds
                  << " s, shrunk to " << first["shrunkSteps"] << " steps; blind: "
                  << blind.output.substr(blind.output.rfind("validate: "),
                                         blind.output.find('\n', blind.output.rfind("validate: ")) -
                                             blind.output.rfind("validate: "))
                  << "\n";
    }
}

TEST_F(GuidedSearch, TheSameSeedGivesTheSameSessionsWithAnyNumberOfWorkers) {
    auto run = [&](const std::string& name, const std::string& how) {
        std::string json = folder + "/" + name;
        validate(std::string(PLANTED_EXPIRY) + " --sessions 250 --json " + json + " " + how);
        return readJson(json);
    };
    auto verdict = [](const nlohmann::json& r) {
        std::vector<std::string> out{std::to_string(r["steps"].get<long long>()),
                                     std::to_string(r["search"]["corpus"].get<long long>()),
                                     std::to_string(r["search"]["behaviours"].get<long long>())};
        for (const auto& f : r["failures"])
            out.push_back(std::to_string(f["session"].get<int>()) + "@" +
                          std::to_string(f["step"].get<int>()) + "/" +
                          std::to_string(f["shrunkSteps"].get<int>()));
        return out;
    };
    nlohmann::json one = run("one.json", "--jobs 1");
    nlohmann::json two = run("two.json", "--jobs 2");
    nlohmann::json again = run("again.json", "--jobs 2");
    nlohmann::json other = run("other.json", "--jobs 2 --seed 9");
    ASSERT_FALSE(one.is_discarded());
    EXPECT_EQ(verdict(one), verdict(two));
    EXPECT_EQ(verdict(two), verdict(again));
    EXPECT_NE(verdict(one), verdict(other));
}

TEST_F(GuidedSearch, TimeEndsTheRunAndSaysSo) {
    auto start = std::chrono::steady_clock::now();
    ShellResult result = validate(std::string(PELDAN_LIBRARY_PATH) +
                                  " --sessions 10000000 --time 1.5 --json " + folder + "/t.json");
    double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(result.status, 0) << result.output;
    EXPECT_LT(seconds, 15);
    EXPECT_NE(result.output.find("--time 1.5 s ran out after"), std::string::npos) << result.output;
    nlohmann::json report = readJson(folder + "/t.json");
    EXPECT_TRUE(report["search"]["outOfTime"].get<bool>());
    EXPECT_LT(report["sessions"].get<int>(), 10000000);
    EXPECT_EQ(validate(std::string(PELDAN_LIBRARY_PATH) + " --time -1").status, 2);
}

TEST(SessionFeatures, ALabelCountsByItsShapeAndALookByItsName) {
    const std::pair<const char*, const char*> cases[] = {
        {"TP 'text=MIC 3' '1' 'UMD_1'", "TP 'text=<ma9.>' '<s9>' '<ma9.>'"},
        {"TP 'text=LINE 8' '1' 'UMD_2'", "TP 'text=<ma9.>' '<s9>' '<ma9.>'"},
        {"TP 'statesheet=KT_TakeLow' '1' 'Take'", "TP 'statesheet=KT_TakeLow' '<s9>' '<sa>'"},
        {"RC 5 17 194 ',2' 0", "RC # # # '<s9.>' #"},
        {"ET 1", "ET #"},
        {"TP 'text=\xc3\xa9' '1' 'x'", "TP 'text=<s~>' '<s9>' '<sa>'"},
    };
    for (const auto& [command, normal] : cases)
        EXPECT_EQ(normalisedCommand(command), normal) << command;
}

// How often an answer came counts in buckets: 4 and 12 flashes differ, 12 and 13 do not.
TEST(SessionFeatures, RepeatedAnswersCountInBuckets) {
    auto featuresOfTicks = [](int ticks) {
        Lines lines{"startup strict"};
        SessionOutcome outcome;
        for (int i = 0; i < ticks; ++i) {
            lines.push_back("tick");
            StepRecord record;
            record.commands = {i % 2 ? "TP 'statesheet=KT_TakeLow' '1' 'Take'"
                                     : "TP 'statesheet=KT_TakeHigh' '1' 'Take'"};
            outcome.records.push_back(record);
        }
        std::vector<std::uint64_t> f = sessionFeatures(lines, outcome).responses;
        return std::set<std::uint64_t>(f.begin(), f.end());
    };
    EXPECT_NE(featuresOfTicks(4), featuresOfTicks(12));
    EXPECT_EQ(featuresOfTicks(24), featuresOfTicks(26));
    EXPECT_NE(featuresOfTicks(2), featuresOfTicks(3));
    // So does how often a block of the script's code ran.
    auto featuresOfHits = [](std::uint8_t count) {
        SessionOutcome outcome;
        outcome.hits = {{0x10001000, count}};
        return sessionFeatures({"startup strict"}, outcome).responses;
    };
    EXPECT_NE(featuresOfHits(4), featuresOfHits(12));
    EXPECT_EQ(featuresOfHits(24), featuresOfHits(26));
    EXPECT_TRUE(featuresOfHits(1).empty()) << "once is the coverage's to tell";
}

TEST(SessionFeatures, TravelAsTextAndRefuseWhatDoesNotParse) {
    SessionFeatures one{{1, 2, 18446744073709551615ULL}, {7}, {"return", "a b", ""}};
    SessionFeatures two{{}, {}, {}};
    std::vector<SessionFeatures> back;
    ASSERT_TRUE(decodeFeatures(encodeFeatures({one, two}), back));
    ASSERT_EQ(back.size(), 2u);
    EXPECT_EQ(back[0].responses, one.responses);
    EXPECT_EQ(back[0].blocks, one.blocks);
    EXPECT_EQ(back[0].sentWords, one.sentWords);
    EXPECT_TRUE(back[1].responses.empty());
    for (const char* bad : {"", "x", "1\n99999999999 0 0\n", "1\n1 0 0\nz\n", "1\n0 0 1\n\n9:ab"})
        EXPECT_FALSE(decodeFeatures(bad, back)) << bad;
}

TEST(SearchDictionary, ReadsTheParameterKeysFromTheLibrarysReadOnlyData) {
    SearchDictionary dictionary;
    ASSERT_TRUE(dictionary.addLibraryStrings(PELDAN_LIBRARY_PATH));
    const std::vector<std::string>& words = dictionary.words();
    for (const char* key : {"return", "myParam", "instance"})
        EXPECT_NE(std::find(words.begin(), words.end(), key), words.end()) << key;
    EXPECT_LE(words.size(), SearchDictionary::maxWords);
    SearchDictionary none;
    EXPECT_FALSE(none.addLibraryStrings(PELDAN_LAYOUT_PATH)); // text, not a library
    EXPECT_FALSE(none.addLibraryStrings("/no/such/file"));
    // Damaged headers: sections out of the file are refused, not read.
    std::string elf = "\x7f"
                      "ELF" +
                      std::string("\x02\x01\x01", 3) + std::string(57, '\xff');
    EXPECT_EQ(readOnlyData(elf), "");
    std::string pe = "MZ" + std::string(58, '\0') + std::string("\xf0\xff\xff\x7f", 4);
    EXPECT_EQ(readOnlyData(pe), "");
}

TEST(SearchDictionary, FindsPrintableRunsAndTheIdentifiersInThem) {
    std::string bytes = std::string("\x01return=%s\0ab\0myParam\0", 22) + std::string(60, 'x');
    std::vector<std::string> found = printableStrings(bytes, 100);
    for (const char* word : {"return=%s", "return", "myParam"})
        EXPECT_NE(std::find(found.begin(), found.end(), word), found.end()) << word;
    EXPECT_EQ(std::find(found.begin(), found.end(), "ab"), found.end()) << "too short alone";
    EXPECT_EQ(std::find(found.begin(), found.end(), std::string(60, 'x')), found.end())
        << "too long";
    EXPECT_LE(printableStrings(bytes, 1).size(), 1u);
}

TEST(SessionExplorer, MutationsStayInBoundsAndFifteenTicksInARowAreAmongThem) {
    PanelLayout layout;
    layout.panel = "1";
    layout.controls.push_back({"OS_1", "button", "OS 1", 0, {}});
    ExploreSettings settings;
    settings.maxSteps = 40;
    SearchDictionary dictionary;
    dictionary.add("return");
    SessionExplorer explorer(settings, layout, dictionary, [](int) {
        return Lines{"startup strict", "press OS_1", "tick", "param x"};
    });
    SessionRandom random(3);
    std::string fifteen;
    for (int k = 0; k < 15; ++k)
        fifteen += "tick\n";
    int fifteenTicks = 0, dictionaryWords = 0;
    for (int i = 0; i < 2000; ++i) {
        Lines steps = explorer.mutate({"press OS_1", "pick A 1", "tick"}, random);
        ASSERT_FALSE(steps.empty());
        ASSERT_LE(steps.size(), 40u);
        for (const std::string& step : steps)
            ASSERT_NE(step.rfind("startup ", 0), 0u) << "a mutation adds no startup line";
        std::string joined;
        for (const std::string& step : steps)
            joined += step + "\n";
        fifteenTicks += joined.find(fifteen) != std::string::npos;
        dictionaryWords += joined.find("return") != std::string::npos;
    }
    EXPECT_GT(fifteenTicks, 50);
    EXPECT_GT(dictionaryWords, 20);
}

// Texts grow and shrink to the lengths binaries care about, never past the
// longest the host hands a script, and a session stays within its bytes.
TEST(SessionExplorer, TextsReachTheBoundaryLengthsWithinTheLimit) {
    PanelLayout layout;
    layout.panel = "1";
    layout.controls.push_back({"OS_1", "button", "OS 1", 0, {}});
    SessionExplorer explorer(ExploreSettings{}, layout, SearchDictionary{}, [](int) {
        return Lines{"startup strict", "press OS_1"};
    });
    SessionRandom random(5);
    std::set<std::size_t> lengths;
    for (int i = 0; i < 3000; ++i) {
        Lines steps = explorer.mutate({"press OS_1", "revertive 7 12 MIC 1", "param a=b"}, random);
        std::size_t bytes = 0;
        for (const std::string& step : steps) {
            bytes += step.size() + 1;
            if (step.rfind("revertive 7 ", 0) == 0)
                lengths.insert(step.size() - step.find(' ', 12) - 1);
        }
        ASSERT_LE(bytes, 256u * 1024 + 70000) << "one text at most past the session's bytes";
    }
    for (std::size_t boundary : {0u, 16u, 32u, 33u, 64u, 128u, 256u, 4096u})
        EXPECT_TRUE(lengths.count(boundary)) << "no revertive text of " << boundary << " bytes";
    EXPECT_LE(*lengths.rbegin(), 65536u);

    // A run held to level 2 grows no text past level 2's longest.
    ExploreSettings levelTwo;
    levelTwo.maxText = 128;
    SessionExplorer held(levelTwo, layout, SearchDictionary{}, [](int) {
        return Lines{"startup strict", "press OS_1"};
    });
    for (int i = 0; i < 1000; ++i)
        for (const std::string& step : held.mutate({"revertive 7 12 MIC 1", "param a=b"}, random))
            ASSERT_LE(step.size(), std::string("revertive 7 12 ").size() + 128)
                << step.substr(0, 40);
}

// A number the script's code compared against takes the place of a number in
// a step: a pick's value among many becomes the one a branch waits for.
TEST(SessionExplorer, ANumberTheCodeComparedAgainstIsSwappedIntoAStep) {
    PanelLayout layout;
    layout.panel = "1";
    layout.controls.push_back({"SourceSel", "list", "Sources", 0, {}});
    SessionExplorer explorer(ExploreSettings{}, layout, SearchDictionary{}, [](int) {
        return Lines{"startup strict", "tick"};
    });
    SessionFeatures compared;
    compared.responses = {1};
    compared.sentWords = {"37", "not a number"};
    explorer.offer({"startup strict", "tick"}, compared, false);
    SessionRandom random(11);
    int swapped = 0;
    for (int i = 0; i < 2000; ++i)
        for (const std::string& step :
             explorer.mutate({"pick SourceSel 3", "param gain=12", "notify 6"}, random)) {
            swapped += step == "pick SourceSel 37" || step == "param gain=37";
            ASSERT_NE(step, "notify 37") << "only the types a host sends with null data";
        }
    EXPECT_GT(swapped, 40);
}

TEST(SessionExplorer, TheFirstMutatedSessionsPairTheLibrarysIdentifiersWithTheirNeighbours) {
    SearchDictionary dictionary;
    ASSERT_TRUE(dictionary.addLibraryStrings(PELDAN_LIBRARY_PATH));
    PanelLayout layout;
    ExploreSettings settings;
    SessionExplorer explorer(settings, layout, dictionary, [](int) {
        return Lines{"startup strict", "tick"};
    });
    const std::vector<std::string>& sweep = explorer.sweep();
    for (const char* step : {"param return=all", "param return=myParam", "param _events"})
        EXPECT_NE(std::find(sweep.begin(), sweep.end(), step), sweep.end()) << step;
    // Once the corpus has a session, the pass is played before other mutations.
    explorer.offer({"startup strict", "tick"}, {{42}, {}, {}}, false);
    Lines played;
    for (int session = 0; played.size() < sweep.size() + 200 && session < 400; ++session)
        for (const std::string& line : explorer.session(session))
            played.push_back(line);
    EXPECT_NE(std::find(played.begin(), played.end(), "param return=all"), played.end());
}

TEST(SessionExplorer, KeepsOnlySessionsThatShowSomethingNewAndNeverFailingOnes) {
    PanelLayout layout;
    SessionExplorer explorer(ExploreSettings{}, layout, SearchDictionary{},
                             [](int) { return Lines{"tick"}; });
    EXPECT_EQ(explorer.session(5), Lines{"tick"}) << "an empty corpus draws blind";
    EXPECT_TRUE(explorer.offer({"press A"}, {{1, 2}, {}, {"MIC 1"}}, false));
    EXPECT_FALSE(explorer.offer({"press B"}, {{2, 1}, {}, {}}, false)) << "nothing new";
    EXPECT_FALSE(explorer.offer({"press C"}, {{3}, {}, {}}, true)) << "failed";
    EXPECT_TRUE(explorer.offer({"press D"}, {{1}, {99}, {}}, false)) << "a new block";
    EXPECT_EQ(explorer.corpusSize(), 2u);
    EXPECT_EQ(explorer.behaviours(), 3u);
    const std::vector<std::string>& words = explorer.dictionary().words();
    EXPECT_NE(std::find(words.begin(), words.end(), "MIC 1"), words.end()) << "sent values";
    // The step that drew a new answer of its own is kept to be tried elsewhere.
    SessionFeatures told{{77, 78}, {}, {}, {1, -1}};
    EXPECT_TRUE(explorer.offer({"startup strict", "tick", "param return=all"}, told, false));
    EXPECT_EQ(explorer.telling(), std::vector<std::string>{"param return=all"});
}

} // namespace
