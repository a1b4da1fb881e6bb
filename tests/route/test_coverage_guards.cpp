// The guard callbacks a library built with coverage guards binds to: each
// module's guards are numbered once as it loads, and those that ran are
// told apart from those that did not, by module.
#include "coverage_guards.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <unistd.h>

extern "C" void __sanitizer_cov_trace_pc_guard_init(std::uint32_t* start, std::uint32_t* stop);
extern "C" void __sanitizer_cov_trace_pc_guard(std::uint32_t* guard);

namespace {

// Guards as the compiler lays them out in a module: this test program is the module.
std::uint32_t guards[10];

std::string thisProgram() {
    char path[PATH_MAX];
    ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    return length > 0 ? std::string(path, static_cast<size_t>(length)) : std::string();
}

TEST(CoverageGuards, CountsTheGuardsOfAModuleAndThoseThatRan) {
    EXPECT_FALSE(guardCoverage("/no/such/library.so")) << "a library without guards";
    __sanitizer_cov_trace_pc_guard_init(guards, guards + 10);
    std::uint32_t first = guards[0];
    ASSERT_NE(first, 0u);
    for (int i = 1; i < 10; ++i)
        EXPECT_EQ(guards[i], first + static_cast<std::uint32_t>(i));
    __sanitizer_cov_trace_pc_guard_init(guards, guards + 10); // a second call changes nothing
    EXPECT_EQ(guards[0], first);
    __sanitizer_cov_trace_pc_guard(&guards[2]);
    __sanitizer_cov_trace_pc_guard(&guards[7]);
    __sanitizer_cov_trace_pc_guard(&guards[7]);
    std::uint32_t unnumbered = 0;
    __sanitizer_cov_trace_pc_guard(&unnumbered); // a guard of a module beyond the books

    std::optional<CodeCoverage> coverage = guardCoverage(thisProgram());
    ASSERT_TRUE(coverage);
    ASSERT_EQ(coverage->code.size(), 1u);
    EXPECT_EQ(coverage->code[0].size, 10u);
    EXPECT_NE(coverage->code[0].module.find(guardModuleSuffix), std::string::npos);
    ASSERT_EQ(coverage->reached.size(), 2u);
    EXPECT_EQ(coverage->reached[0].offset, 2u);
    EXPECT_EQ(coverage->reached[1].offset, 7u);

    // Hits are counted from each start on, as a session's are.
    startCountingGuardHits();
    EXPECT_TRUE(guardHitCounts().empty());
    for (int i = 0; i < 300; ++i)
        __sanitizer_cov_trace_pc_guard(&guards[4]);
    __sanitizer_cov_trace_pc_guard(&guards[2]);
    using Hits = std::vector<std::pair<std::uint32_t, std::uint8_t>>;
    EXPECT_EQ(guardHitCounts(), (Hits{{first + 4, 255}, {first + 2, 1}}));
    startCountingGuardHits();
    __sanitizer_cov_trace_pc_guard(&guards[2]);
    EXPECT_EQ(guardHitCounts(), (Hits{{first + 2, 1}}));
}

} // namespace

extern "C" void __sanitizer_cov_trace_const_cmp4(std::uint32_t constant, std::uint32_t value);
extern "C" void __sanitizer_cov_trace_cmp4(std::uint32_t left, std::uint32_t right);
extern "C" void __sanitizer_cov_trace_switch(std::uint64_t value, std::uint64_t* cases);

// The constants compared against and a switch's cases are kept once each;
// compares of two variables are not.
TEST(CoverageGuards, TracedComparesKeepTheConstants) {
    std::size_t before = tracedCompares().size();
    __sanitizer_cov_trace_const_cmp4(37, 12);
    __sanitizer_cov_trace_const_cmp4(37, 13);
    __sanitizer_cov_trace_cmp4(991, 992);
    std::uint64_t cases[] = {2, 32, 190, 21};
    __sanitizer_cov_trace_switch(5, cases);
    std::vector<std::uint32_t> values = tracedCompares();
    ASSERT_EQ(values.size(), before + 3);
    EXPECT_EQ(std::vector<std::uint32_t>(values.begin() + static_cast<long>(before), values.end()),
              (std::vector<std::uint32_t>{37, 190, 21}));
}
