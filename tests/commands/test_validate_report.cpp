// Merging the reports of a validate run split over machines.
#include "validate_report.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace {

ValidateReport shard(int index, int count, int first, int end, std::vector<int> failedSessions) {
    ValidateReport r;
    r.library = "PELDAN.so";
    r.seed = 4;
    r.totalSessions = 200;
    r.shardIndex = index;
    r.shardCount = count;
    r.firstSession = first;
    r.endSession = end;
    r.steps = 100LL * (end - first);
    r.seconds = index;
    for (int session : failedSessions)
        r.failures.push_back(
            {session, 3, "crashed with signal 11", "the script crashed", "", -1, -1});
    return r;
}

TEST(ValidateReport, ShardsMergeIntoTheWholeRunInSessionOrder) {
    ValidateReport whole;
    std::string why;
    ASSERT_TRUE(
        mergeReports({shard(2, 2, 100, 200, {150, 101}), shard(1, 2, 0, 100, {7})}, whole, why))
        << why;
    EXPECT_EQ(whole.steps, 20000);
    EXPECT_EQ(whole.seconds, 2); // the slowest part
    EXPECT_EQ(whole.shardCount, 1);
    EXPECT_EQ(whole.firstSession, 0);
    EXPECT_EQ(whole.endSession, 200);
    std::vector<int> sessions;
    for (const ReportedFailure& f : whole.failures)
        sessions.push_back(f.session);
    EXPECT_EQ(sessions, (std::vector<int>{7, 101, 150}));
}

TEST(ValidateReport, PartsThatDoNotMakeAWholeAreRefused) {
    ValidateReport otherSeed = shard(2, 2, 100, 200, {});
    otherSeed.seed = 5;
    ValidateReport shortRun = shard(2, 2, 100, 150, {});
    const std::vector<std::pair<std::vector<ValidateReport>, std::string>> cases = {
        {{}, "no reports to merge"},
        {{shard(1, 2, 0, 100, {})}, "1 reports for a run in 2 shards"},
        {{shard(1, 2, 0, 100, {}), shard(1, 2, 0, 100, {})},
         "shard 2 is missing, repeated or out of place"},
        {{shard(1, 2, 0, 100, {}), otherSeed},
         "shard 2 is of another run (library, seed, level, steps or sessions differ)"},
        {{shard(1, 2, 0, 100, {}), shortRun}, "the shards cover 150 of 200 sessions"},
        {{shard(1, 2, 0, 90, {}), shard(2, 2, 100, 200, {})},
         "shard 2 is missing, repeated or out of place"}};
    for (const auto& [parts, message] : cases) {
        ValidateReport whole;
        std::string why;
        EXPECT_FALSE(mergeReports(parts, whole, why)) << message;
        EXPECT_EQ(why, message);
    }
}

TEST(ValidateReport, ReadsBackWhatItWritesAndRefusesOtherJson) {
    ValidateReport written = shard(1, 2, 0, 100, {7});
    written.failures[0].scenario = "validate-failures/seed-4-session-7.scenario";
    written.failures[0].shrunkSteps = 3;
    ValidateReport read;
    std::string why;
    ASSERT_TRUE(readReport(reportJson(written), read, why)) << why;
    EXPECT_EQ(reportJson(read), reportJson(written));

    nlohmann::json noShard = reportJson(written);
    noShard.erase("shard");
    nlohmann::json badFailure = reportJson(written);
    badFailure["failures"][0]["session"] = "seven";
    for (const nlohmann::json& bad : {nlohmann::json::array(), noShard, badFailure})
        EXPECT_FALSE(readReport(bad, read, why)) << bad.dump();
}

// Numbers a hostile report may carry: none is converted in a way that wraps
// or is undefined, and none makes the merged totals overflow.
TEST(ValidateReport, HostileNumbersNoRunCanReachAreRefused) {
    const nlohmann::json written = reportJson(shard(1, 1, 0, 200, {}));
    struct Case {
        const char* name;
        std::function<void(nlohmann::json&)> change;
    };
    const Case cases[] = {
        {"level 1e300", [](nlohmann::json& j) { j["level"] = 1e300; }},
        {"level 2^64 - 1", [](nlohmann::json& j) { j["level"] = 18446744073709551615ULL; }},
        {"seed past 32 bits", [](nlohmann::json& j) { j["seed"] = 4294967297LL; }},
        {"steps near 2^63", [](nlohmann::json& j) { j["steps"] = 9223372036854775000LL; }},
        {"negative steps", [](nlohmann::json& j) { j["steps"] = -2; }},
        {"a step kind near 2^63",
         [](nlohmann::json& j) { j["reach"].push_back("k press 9223372036854775000"); }},
        {"the corpus as a float", [](nlohmann::json& j) { j["search"]["corpus"] = 0.5; }},
    };
    for (const Case& c : cases) {
        nlohmann::json bad = written;
        if (!bad.contains("search"))
            bad["search"] = {{"mode", "guided"}, {"behaviours", 1}, {"corpus", 1},
                             {"mutated", 1},     {"dictionary", 1}, {"outOfTime", false}};
        c.change(bad);
        ValidateReport read;
        std::string why;
        EXPECT_FALSE(readReport(bad, read, why)) << c.name;
        EXPECT_FALSE(why.empty()) << c.name;
    }
}

} // namespace
