// validate given hostile options and outputs: each gets a clear refusal or a
// verdict that is not a pass, and nothing lands outside the folder asked for.
#include "validate_fixture.h"

#include <sys/stat.h>

namespace {

bool exists(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0;
}

} // namespace

TEST_F(Validate, HostileOptionsAreRefusedOrFailLoudly) {
    struct Case {
        const char* name;
        std::string arguments;
        int status;
        const char* says; // in the output, or empty
    };
    const std::string planted = PLANTED_CRASH;
    const std::string peldan = PELDAN_LIBRARY_PATH;
    const Case cases[] = {
        // An empty folder would put the shrunk failures in the root folder.
        {"empty --out", planted + " --sessions 50 --out ''", 2, "--out"},
        {"empty --json", peldan + " --sessions 50 --json ''", 2, "--json"},
        {"empty --junit", peldan + " --sessions 50 --junit ''", 2, "--junit"},
        // A full disk shows only when the buffer reaches the file.
        {"--junit on a full disk", peldan + " --sessions 50 --junit /dev/full", 2,
         "cannot write /dev/full"},
        {"--json on a full disk", peldan + " --sessions 50 --json /dev/full", 2,
         "cannot write /dev/full"},
        {"--coverage-out on a full disk", peldan + " --sessions 50 --coverage-out /dev/full", 2,
         "cannot write /dev/full"},
        // A time too short for one session tested nothing: never a pass.
        {"--time shorter than a session", peldan + " --time 1e-300", 8, "nothing was tested"},
        // 2^32 + 1 must not read as 1.
        {"--shard past 32 bits", peldan + " --sessions 150 --shard 4294967297/4294967298", 2,
         "--shard"},
        {"--shard with a sign", peldan + " --sessions 150 --shard +1/2", 2, "--shard"},
    };
    for (const Case& c : cases) {
        ShellResult result = panelHost("validate " + c.arguments);
        EXPECT_EQ(result.status, c.status) << c.name << "\n" << result.output;
        EXPECT_NE(result.output.find(c.says), std::string::npos) << c.name << "\n" << result.output;
    }
    EXPECT_FALSE(exists("/seed-1-session-0.scenario"));
}
