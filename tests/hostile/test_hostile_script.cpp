// A native script that turns on the tool running it: forks past it, signals
// or stops it, closes or replaces its descriptors, stalls in its load or
// delete, prints without end. Each gives a clear failure or a clean pass,
// under the PID namespace and under the seccomp filter alike, and no process
// of the script outlives the command.
#include "validate_fixture.h"

#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <unistd.h>

namespace {

// Processes whose environment carries `mark`: the script's, wherever they went.
int processesMarked(const std::string& mark) {
    int found = 0;
    DIR* proc = opendir("/proc");
    while (dirent* entry = proc ? readdir(proc) : nullptr) {
        if (entry->d_name[0] < '0' || entry->d_name[0] > '9')
            continue;
        std::ifstream in(std::string("/proc/") + entry->d_name + "/environ", std::ios::binary);
        std::string environment((std::istreambuf_iterator<char>(in)),
                                std::istreambuf_iterator<char>());
        found += environment.find(mark) != std::string::npos;
    }
    if (proc)
        closedir(proc);
    return found;
}

struct Turn {
    const char* mode;
    int status;       // validate's
    const char* says; // in validate's output
};

class HostileScript : public Validate, public ::testing::WithParamInterface<const char*> {
  protected:
    // The sandbox asked for, and a mark no other test's processes carry.
    std::string environment(const std::string& mode) const {
        return std::string("PANEL_HOST_SANDBOX=") + GetParam() + " HOSTILE_MARK=" + mark +
               " PANEL_SCRIPT_MISBEHAVIOUR=" + mode;
    }
    // The library alone in a folder: no layout beside it to fall back on.
    std::string lonely() {
        std::string copy = folder + "/lonely.so";
        std::ifstream in(UNRULY_LIBRARY, std::ios::binary);
        std::ofstream(copy, std::ios::binary) << in.rdbuf();
        return copy;
    }
    const std::string mark = "hostile-" + std::to_string(getpid());
};

TEST_P(HostileScript, CannotForkPastSignalFreezeOrFloodValidate) {
    const Turn turns[] = {
        {"fork", 1, "running after its delete"},
        {"double-fork", 1, "running after its delete"},
        {"term-parent", 0, "validate: 4 sessions"},
        {"kill-parent", 0, "validate: 4 sessions"},
        {"stop-parent", 0, "validate: 4 sessions"},
        {"term-group", 1, "signal 15"},
        {"close-all", 1, "closed or replaced the descriptor panel-host's child talks through"},
        {"replace-all", 1, "closed or replaced the descriptor panel-host's child talks through"},
        {"print", 0, "validate: 4 sessions"},
        {"print-flood", 0, "validate: 4 sessions"},
    };
    for (const Turn& turn : turns) {
        ShellResult result =
            validate(std::string(UNRULY_LIBRARY) + " --sessions 4 --jobs 1 --time 60",
                     environment(turn.mode));
        EXPECT_EQ(result.status, turn.status) << turn.mode << "\n" << result.output;
        EXPECT_NE(result.output.find(turn.says), std::string::npos) << turn.mode << "\n"
                                                                    << result.output;
        EXPECT_LT(result.output.size(), 64u * 1024) << turn.mode;
        EXPECT_EQ(processesMarked(mark), 0) << turn.mode;
    }
    // The summary names the sandbox in force: namespaces wherever this
    // machine lets an unprivileged user have them.
    bool namespaces = std::system("unshare -Urpf --mount-proc true >/dev/null 2>&1") == 0;
    bool filterAsked = GetParam() == std::string("seccomp");
    ShellResult any = validate(std::string(UNRULY_LIBRARY) + " --sessions 1", environment(""));
    EXPECT_NE(any.output.find(namespaces && !filterAsked ? "with a PID namespace of its own"
                                                         : "with a seccomp filter"),
              std::string::npos)
        << any.output;
}

// A load or delete that never ends, in a library with no layout beside it,
// is a hang where it happened, not a panel missing.
TEST_P(HostileScript, AStallInTheLoadOrDeleteIsAHangThere) {
    const std::string library = lonely();
    for (const auto& [mode, where] : {std::pair{"stall-load", "failed in the load"},
                                      std::pair{"stop-load", "failed in the load"},
                                      std::pair{"loop-delete", "failed in the delete"}}) {
        ShellResult result = validate(library + " --hang-timeout 500 --time 20", environment(mode));
        EXPECT_EQ(result.status, 1) << mode << "\n" << result.output;
        EXPECT_NE(result.output.find(std::string(where) + ": the script did not finish a step"),
                  std::string::npos)
            << mode << "\n"
            << result.output;
        EXPECT_EQ(processesMarked(mark), 0) << mode;
    }
}

TEST_P(HostileScript, RunReportsWhatTheScriptDidAndLeavesNothing) {
    std::ofstream(folder + "/two.scenario") << "press Go\npress Go\n";
    const Turn turns[] = {
        {"double-fork", 1, "BREACH: the script left"},
        {"stop-parent", 0, "2 steps, 0 failed expectations, 0 breaches"},
        {"close-all", 1, "closed or replaced the descriptor"},
    };
    for (const Turn& turn : turns) {
        ShellResult result =
            panelHost("run " + std::string(UNRULY_LIBRARY) + " " + folder + "/two.scenario",
                      environment(turn.mode));
        EXPECT_EQ(result.status, turn.status) << turn.mode << "\n" << result.output;
        EXPECT_NE(result.output.find(turn.says), std::string::npos) << turn.mode << "\n"
                                                                    << result.output;
        EXPECT_EQ(processesMarked(mark), 0) << turn.mode;
    }
}

INSTANTIATE_TEST_SUITE_P(Sandbox, HostileScript, ::testing::Values("namespace", "seccomp"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                             return std::string(info.param);
                         });

} // namespace
