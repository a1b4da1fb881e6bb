// Outcomes cross from a session's process to its parent as frames. The code
// reached is sent once per child and then, while it stays the same, only
// named; a frame that names coverage its reader does not have is refused.
#include "outcome_frames.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

SessionOutcome withCoverage(std::uint32_t reachedOffset) {
    SessionOutcome outcome;
    outcome.kind = "kind";
    outcome.hits = {{0x10001000, 3}};
    CodeCoverage coverage;
    coverage.code = {{"PELDAN.dll", 0x1000, 0x2600}};
    coverage.reached = {{"PELDAN.dll", 0x1000, 12}, {"PELDAN.dll", reachedOffset, 7}};
    coverage.exports = {{{"PELDAN.dll", 0x1010, 0}, "CreateScript"}};
    coverage.symbols = {{"PELDAN.dll", "/x/PELDAN.dll", {0x1000}}};
    outcome.coverage = std::make_shared<const CodeCoverage>(coverage);
    return outcome;
}

// The body of a frame, as takeFrame gives it.
std::string bodyOf(const std::string& frame) {
    std::size_t at = 0;
    std::string body;
    EXPECT_TRUE(takeFrame(frame, at, body));
    return body;
}

std::vector<std::uint32_t> reachedOffsets(const SessionOutcome& outcome) {
    std::vector<std::uint32_t> offsets;
    for (const CodeRange& r : outcome.coverage->reached)
        offsets.push_back(r.offset);
    return offsets;
}

TEST(OutcomeFrames, CoverageTheSameAsBeforeIsNamedAndTakenFromTheOneBefore) {
    SessionOutcome first = withCoverage(0x1200), second = withCoverage(0x1200);
    std::string full = encodeOutcome(first);
    std::string named = encodeOutcome(second, &first);
    EXPECT_LT(named.size(), full.size() - 40);

    SessionOutcome decodedFirst, decodedSecond;
    ASSERT_TRUE(decodeOutcome(bodyOf(full), decodedFirst));
    ASSERT_TRUE(decodeOutcome(bodyOf(named), decodedSecond, &decodedFirst));
    ASSERT_NE(decodedSecond.coverage, nullptr);
    EXPECT_EQ(reachedOffsets(decodedSecond), (std::vector<std::uint32_t>{0x1000, 0x1200}));
    EXPECT_EQ(decodedSecond.coverage->exports.at(0).second, "CreateScript");
    EXPECT_EQ(decodedSecond.coverage->symbols.at(0).path, "/x/PELDAN.dll");
    EXPECT_EQ(decodedSecond.hits, second.hits);
}

TEST(OutcomeFrames, CoverageThatGrewIsSentWhole) {
    SessionOutcome first = withCoverage(0x1200), second = withCoverage(0x1300);
    SessionOutcome decoded;
    ASSERT_TRUE(decodeOutcome(bodyOf(encodeOutcome(second, &first)), decoded));
    EXPECT_EQ(reachedOffsets(decoded), (std::vector<std::uint32_t>{0x1000, 0x1300}));
}

TEST(OutcomeFrames, NamedCoverageWithoutOneBeforeIsRefused) {
    SessionOutcome first = withCoverage(0x1200), second = withCoverage(0x1200);
    std::string body = bodyOf(encodeOutcome(second, &first));
    SessionOutcome decoded, noCoverage;
    EXPECT_FALSE(decodeOutcome(body, decoded));
    EXPECT_FALSE(decodeOutcome(body, decoded, &noCoverage));
}

// The coverage field is the frame's last number; any value but the three
// it may hold is refused.
TEST(OutcomeFrames, AnUnknownCoverageFieldIsRefused) {
    SessionOutcome outcome;
    std::string body = bodyOf(encodeOutcome(outcome));
    ASSERT_GE(body.size(), 8u);
    SessionOutcome decoded;
    for (std::int64_t field : {0, 3, -1, 1}) {
        std::memcpy(&body[body.size() - 8], &field, 8);
        // 1 promises coverage that is not there
        EXPECT_EQ(decodeOutcome(body, decoded), field == 0) << field;
    }
}

// Each session's step count crosses from worker to parent beside its
// outcome; a body cut short, or a count past what an int holds, is refused.
TEST(OutcomeFrames, StepCountsCrossWholeOrAreRefused) {
    std::vector<int> counts = {0, 1, 100, 200000, 0x7fffffff}, decoded;
    std::string body = encodeCounts(counts);
    ASSERT_TRUE(decodeCounts(body, decoded));
    EXPECT_EQ(decoded, counts);
    EXPECT_TRUE(decodeCounts("", decoded));
    EXPECT_TRUE(decoded.empty());

    std::string tooLarge(4, '\xff');
    struct Bad {
        const char* why;
        std::string body;
    } bad[] = {{"cut short", body.substr(0, body.size() - 1)},
               {"a byte too many", body + "x"},
               {"past an int", body + tooLarge}};
    for (const Bad& b : bad)
        EXPECT_FALSE(decodeCounts(b.body, decoded)) << b.why;
}

// A session's comparisons cross whole; an operand longer than a route
// keeps, or a kind there is none of, is refused.
TEST(OutcomeFrames, ComparisonsCrossWholeAndBoundedOnesOnly) {
    SessionOutcome outcome;
    outcome.comparisons = {{Comparison::prefix, "OS_3", "OS_"}, {Comparison::number, "-5", "7"}};
    SessionOutcome decoded;
    ASSERT_TRUE(decodeOutcome(bodyOf(encodeOutcome(outcome)), decoded));
    ASSERT_EQ(decoded.comparisons.size(), 2u);
    EXPECT_EQ(decoded.comparisons[0].kind, Comparison::prefix);
    EXPECT_EQ(decoded.comparisons[0].left, "OS_3");
    EXPECT_EQ(decoded.comparisons[1].right, "7");

    outcome.comparisons = {{Comparison::equal, std::string(Comparison::maxOperand + 1, 'x'), "y"}};
    EXPECT_FALSE(decodeOutcome(bodyOf(encodeOutcome(outcome)), decoded));
    outcome.comparisons = {{static_cast<Comparison::Kind>(9), "a", "b"}};
    EXPECT_FALSE(decodeOutcome(bodyOf(encodeOutcome(outcome)), decoded));
}

// A count no frame of its size can hold (a script writing into its session's
// pipe) is refused before anything is allocated for it.
TEST(OutcomeFrames, HostileCountsPastTheFramesSizeAreRefused) {
    SessionOutcome outcome; // an empty kind and message: the transcript's count is the fifth number
    std::string body = bodyOf(encodeOutcome(outcome));
    SessionOutcome decoded;
    for (std::int64_t count : {std::int64_t{1} << 50, std::int64_t{1} << 20}) {
        std::memcpy(&body[40], &count, 8);
        EXPECT_FALSE(decodeOutcome(body, decoded)) << count;
    }
}

} // namespace
