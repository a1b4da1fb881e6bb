// validate's --time bounds the whole run, whatever the script does, and texts
// past the one limit the host hands a script are refused before anything runs.
#include "validate_fixture.h"

#include <chrono>

namespace {

double secondsOf(const std::function<void()>& work) {
    auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void writeFile(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

} // namespace

// A script stuck in its first control event, with the hang timeout set past
// the run's time: only the run's own deadline can end it.
TEST_F(Validate, TimeEndsASessionStuckPastTheHangTimeout) {
    ShellResult result;
    double took = secondsOf([&] {
        result = validate(std::string(UNRULY_LIBRARY) + " --time 2 --hang-timeout 600000 --jobs 1",
                          "PANEL_SCRIPT_MISBEHAVIOUR=hang");
    });
    EXPECT_LT(took, 2 + 5) << result.output;
    EXPECT_EQ(result.status, 8) << result.output;
    EXPECT_NE(result.output.find("nothing was tested"), std::string::npos) << result.output;
}

// The limit is the same number on every route, so it is checked as the
// inputs are read: exactly at it plays, one byte past it is refused.
TEST_F(Validate, TextsPastTheScriptTextLimitAreRefusedBeforeAnyStep) {
    const std::string atLimit(64 * 1024, 'a');
    const std::string pastLimit = atLimit + "a";
    writeFile(folder + "/at.scenario", "param " + atLimit + "\n");
    writeFile(folder + "/past.scenario", "press OS_1\nparam " + pastLimit + "\n");
    writeFile(folder + "/revertive.scenario", "revertive 1 12 " + pastLimit + "\n");
    writeFile(folder + "/studio.txt", "source 3 " + pastLimit + "\n");
    writeFile(folder + "/layout.vesk_ui", "panel 1\nbutton " + pastLimit + "\n");
    writeFile(folder + "/empty.scenario", "");
    struct Case {
        const char* name;
        std::string arguments;
        int status;
        const char* says;
    };
    const std::string peldan = PELDAN_LIBRARY_PATH;
    const Case cases[] = {
        {"param at the limit", peldan + " " + folder + "/at.scenario", 0, "1 steps"},
        {"param past it", peldan + " " + folder + "/past.scenario", 2,
         "past.scenario:2: the param text is 65537 bytes long; a text the host hands a script is "
         "at most 65536 bytes"},
        {"revertive text past it", peldan + " " + folder + "/revertive.scenario", 2,
         "the revertive text is 65537 bytes long"},
        {"studio name past it",
         peldan + " " + folder + "/empty.scenario --studio " + folder + "/studio.txt", 2,
         "studio.txt:1: the name is 65537 bytes long"},
    };
    for (const Case& c : cases) {
        ShellResult result = panelHost("run " + c.arguments);
        EXPECT_EQ(result.status, c.status) << c.name << "\n" << result.output;
        EXPECT_NE(result.output.find(c.says), std::string::npos) << c.name << "\n" << result.output;
        if (c.status != 0) // refused up front: no step was played
            EXPECT_EQ(result.output.find("failed expectations"), std::string::npos)
                << c.name << "\n"
                << result.output;
    }
    ShellResult layout = validate(peldan + " --sessions 1 --layout " + folder + "/layout.vesk_ui");
    EXPECT_EQ(layout.status, 2) << layout.output;
    EXPECT_NE(layout.output.find("the id is 65537 bytes long"), std::string::npos) << layout.output;
}
