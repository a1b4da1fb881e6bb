// `panel-host run` as a user runs it, output redirected to a file: no false
// passes. Every way a script or an input can go wrong ends with its own exit
// status and a line that says what happened.
#include "shell_command.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sys/stat.h>

namespace {

using RunResult = ShellResult;

class RunCommand : public ::testing::Test {
  protected:
    std::string scenario(const std::string& name, const std::string& text) {
        std::string path = folder + "/" + name;
        std::ofstream(path) << text;
        return path;
    }

    RunResult run(const std::string& arguments, const std::string& environment = "") {
        return shell(environment + " " + PANEL_HOST + " run " + arguments, folder + "/out.txt");
    }

    TemporaryFolder temporary;
    const std::string folder = temporary.path();
};

struct ScriptFault {
    const char* misbehaviour;
    int status;
    const char* said;
    const char* where;
};

TEST_F(RunCommand, ScriptThatCrashesExitsOrHangsIsReportedWithItsStep) {
    const ScriptFault faults[] = {
        {"crash-at-load", 4, "the script crashed with signal 11", "in the load"},
        {"exit-at-load", 5, "the script ended the process with exit status 0", "in the load"},
        {"crash", 4, "the script crashed with signal 11", "in step 2 ("},
        {"throw", 4, "the script aborted with signal 6", "in step 2 ("},
        {"exit", 5, "the script ended the process with exit status 0", "in step 2 ("},
        {"hang", 6, "did not finish a step within 300 ms", "in step 2 ("},
    };
    std::string steps = scenario("go.scenario", "tick\npress Go\npress Go\n");
    for (const ScriptFault& fault : faults) {
        RunResult result = run(std::string(UNRULY_LIBRARY) + " " + steps + " --step-timeout 300",
                               std::string("PANEL_SCRIPT_MISBEHAVIOUR=") + fault.misbehaviour);
        EXPECT_EQ(result.status, fault.status) << fault.misbehaviour << "\n" << result.output;
        EXPECT_NE(result.output.find(fault.said), std::string::npos) << result.output;
        EXPECT_NE(result.output.find(fault.where), std::string::npos) << result.output;
        // The closing line is always there, and nothing written before the end is lost.
        EXPECT_NE(result.output.find("panel-host: 3 steps, stopped in"), std::string::npos)
            << result.output;
        EXPECT_NE(result.output.find("host: load_vesk_client_script"), std::string::npos);
    }
}

TEST_F(RunCommand, LinesBeforeACrashAreInTheFile) {
    std::string steps = scenario("go.scenario", "tick\npress Go\n");
    RunResult result =
        run(std::string(UNRULY_LIBRARY) + " " + steps, "PANEL_SCRIPT_MISBEHAVIOUR=crash");
    ASSERT_EQ(result.status, 4) << result.output;
    size_t pressed = result.output.find("host> control 1 Go button=pressed");
    size_t crashed = result.output.find("crashed");
    ASSERT_NE(pressed, std::string::npos) << result.output;
    EXPECT_LT(pressed, crashed);
}

TEST_F(RunCommand, InputsThatAreNotSmallRegularFilesAreRefused) {
    std::string fifo = folder + "/fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    std::string good = scenario("good.scenario", "press OS_1\n");
    const std::pair<std::string, std::string> cases[] = {
        {folder, "is not a regular file"},
        {"/dev/zero", "is not a regular file"},
        {fifo, "is not a regular file"},
        {good + " --studio " + folder, "studio file: " + folder + " is not a regular file"},
        {folder + "/missing.scenario", "cannot open"},
    };
    for (const auto& [arguments, said] : cases) {
        RunResult result = run(std::string(PELDAN_LIBRARY_PATH) + " " + arguments);
        EXPECT_EQ(result.status, 2) << arguments << "\n" << result.output;
        EXPECT_NE(result.output.find(said), std::string::npos) << result.output;
    }
}

struct BadLine {
    const char* text;
    int status;
    const char* said;
};

TEST_F(RunCommand, StepsTheStudioOrPanelCannotDoFailAtTheirLine) {
    const BadLine lines[] = {
        {"press Takee\n", 1,
         "FAILED "
         "%s:1: no control Takee on panel 1"},
        {"pick SourceSell 3\n", 1, "%s:1: no control SourceSell on panel 1"},
        {"press Take on 2\n", 1, "%s:1: panel 2 is not shown (panel 1 is)"},
        {"route 12 NO SUCH SOURCE\n", 1, "%s:1: no source named 'NO SUCH SOURCE' in the studio"},
        {"press OS_1\nstartup strict\n", 2, "%s:2: startup steps come before every other step"},
    };
    for (const BadLine& line : lines) {
        std::string path = scenario("bad.scenario", line.text);
        RunResult result = run(std::string(PELDAN_LIBRARY_PATH) + " " + path);
        char said[512];
        std::snprintf(said, sizeof said, line.said, path.c_str());
        EXPECT_EQ(result.status, line.status) << line.text << result.output;
        EXPECT_NE(result.output.find(said), std::string::npos) << said << "\n" << result.output;
    }
}

TEST_F(RunCommand, RouteByNameOrNumberStillWorks) {
    std::string path = scenario("route.scenario", "route 12 OS 3\nroute 13 0\n");
    RunResult result = run(std::string(PELDAN_LIBRARY_PATH) + " " + path);
    EXPECT_EQ(result.status, 0) << result.output;
    EXPECT_NE(result.output.find("destination 12 now has 'OS 3'"), std::string::npos);
}

TEST_F(RunCommand, APanelWhoseLayoutIsMissingFailsTheRun) {
    // The library alone in a folder, without its layout file beside it.
    std::string copy = folder + "/PELDAN.so";
    ASSERT_EQ(std::system(("cp " + std::string(PELDAN_LIBRARY_PATH) + " " + copy).c_str()), 0);
    std::string path = scenario("empty.scenario", "tick\n");
    RunResult result = run(copy + " " + path);
    EXPECT_EQ(result.status, 1) << result.output;
    EXPECT_NE(result.output.find("BREACH: panel 1 not shown: cannot open"), std::string::npos)
        << result.output;
}

TEST_F(RunCommand, StrictStartupCatchesAReplyKeptPastItsCall) {
    std::string path = scenario("kept.scenario", "startup strict\npress Go\n");
    RunResult result =
        run(std::string(UNRULY_LIBRARY) + " " + path, "PANEL_SCRIPT_MISBEHAVIOUR=keep-reply");
    EXPECT_EQ(result.status, 1) << result.output;
    EXPECT_NE(result.output.find("BREACH: reply \"7\" was kept past the call that received it"),
              std::string::npos)
        << result.output;
    // Reported once, not again as never handed back.
    EXPECT_EQ(result.output.find("never handed back"), std::string::npos) << result.output;
}

} // namespace
