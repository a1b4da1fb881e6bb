// run's memory stays flat however long the scenario: its steps are kept as
// the file's bytes, and the JUnit report keeps a bounded part of the transcript.
#include "validate_fixture.h"

#include <sys/resource.h>
#include <sys/stat.h>

#if defined(MEMORY_MEASURABLE)
TEST_F(Validate, ARunOfTheLargestScenarioPeaksUnder100MB) {
    // Just under the 16 MiB a scenario file may have: over a million steps,
    // half of them revertives whose lines overflow the report's share.
    const std::string lines = "revertive 1 1 x\nexpect nothing\n";
    std::string text;
    while (text.size() + lines.size() <= 16u * 1024 * 1024)
        text += lines;
    const std::size_t steps = text.size() / lines.size() * 2;
    std::ofstream(folder + "/long.scenario", std::ios::binary) << text;
    text.clear();
    text.shrink_to_fit();
    ShellResult result = panelHost("run " + std::string(PELDAN_LIBRARY_PATH) + " " + folder +
                                   "/long.scenario --junit " + folder + "/long.xml");
    rusage children{};
    getrusage(RUSAGE_CHILDREN, &children);
    EXPECT_EQ(result.status, 0) << result.output.substr(result.output.size() - 500);
    EXPECT_NE(result.output.find("panel-host: " + std::to_string(steps) + " steps, 0 failed"),
              std::string::npos);
    EXPECT_LT(children.ru_maxrss, 100L * 1024) << "peak resident KiB";
    struct stat report {};
    ASSERT_EQ(stat((folder + "/long.xml").c_str(), &report), 0);
    EXPECT_LT(report.st_size, 16L * 1024 * 1024) << "the report keeps a bounded transcript";
    std::ifstream xml(folder + "/long.xml");
    std::stringstream all;
    all << xml.rdbuf();
    EXPECT_NE(all.str().find("more lines, on standard output"), std::string::npos);
}
#endif
