// The installed workbench: `cmake --install` into a temporary prefix, the
// prefix moved elsewhere, and panel-host run from there with an empty
// environment must serve its page from the installed copy.
#include "serve_process.h"
#include "shell_command.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <arpa/inet.h>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

const std::string marker = "<!-- the installed copy of the page -->";

std::string commandOutput(const std::string& command, int& status) {
    std::string output;
    FILE* pipe = popen(command.c_str(), "r");
    char buffer[512];
    while (pipe != nullptr && fgets(buffer, sizeof buffer, pipe) != nullptr)
        output += buffer;
    status = pipe == nullptr ? -1 : pclose(pipe);
    return output;
}

class InstalledWorkbench : public ::testing::Test {
  protected:
    void SetUp() override {
        int status = 0;
        std::string log = commandOutput(std::string(CMAKE_COMMAND) + " --install " + BUILD_FOLDER +
                                            " --prefix " + work + "/first 2>&1",
                                        status);
        ASSERT_EQ(status, 0) << log;
        // Moved after install: nothing may point back to where it was put.
        ASSERT_EQ(std::rename((work + "/first").c_str(), (work + "/moved").c_str()), 0);
        prefix = work + "/moved";
    }
    void TearDown() override {
        if (server > 0) {
            kill(server, SIGTERM);
            waitpid(server, nullptr, 0);
        }
    }

    // Starts the installed panel-host serve in WORK with no environment.
    void serveInstalled(int port) {
        std::string program = prefix + "/bin/panel-host";
        std::string library = prefix + "/lib/panel-host/PELDAN.so";
        std::string portText = std::to_string(port);
        server = fork();
        if (server == 0) {
            if (chdir(work.c_str()) != 0)
                _exit(126);
            char* const arguments[] = {program.data(),  const_cast<char*>("serve"),
                                       library.data(),  const_cast<char*>("--port"),
                                       portText.data(), nullptr};
            char* const noEnvironment[] = {nullptr};
            execve(program.c_str(), arguments, noEnvironment);
            _exit(127);
        }
    }

    TemporaryFolder temporary;
    const std::string work = temporary.path();
    std::string prefix;
    pid_t server = -1;
};

TEST_F(InstalledWorkbench, ServesTheInstalledPageFromAMovedPrefix) {
    std::ofstream(prefix + "/share/panel-host/browser/index.html", std::ios::app) << marker << "\n";
    int port = freeLoopbackPort();
    serveInstalled(port);
    httplib::Client client("127.0.0.1", port);
    httplib::Result page = client.Get("/");
    for (int attempt = 0; attempt < 100 && !page; ++attempt) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        page = client.Get("/");
    }
    ASSERT_TRUE(page) << "the installed panel-host did not answer";
    EXPECT_EQ(page->status, 200);
    EXPECT_NE(page->body.find(marker), std::string::npos) << "the page came from elsewhere";
    auto script = client.Get("/app.js");
    ASSERT_TRUE(script);
    EXPECT_EQ(script->status, 200);
}

TEST_F(InstalledWorkbench, InstalledProgramRunsAnInstalledExampleAndTellsItsVersion) {
    int status = 0;
    std::string run = commandOutput("cd " + work + " && env -i " + prefix + "/bin/panel-host run " +
                                        prefix + "/lib/panel-host/PELDAN.so " + prefix +
                                        "/share/panel-host/examples/typical_take.scenario",
                                    status);
    EXPECT_EQ(status, 0) << run;
    EXPECT_NE(run.find("0 failed expectations, 0 breaches"), std::string::npos) << run;
    std::string version = commandOutput(prefix + "/bin/panel-host --version", status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(version, std::string("panel-host ") + PANEL_HOST_VERSION + "\n");
}

} // namespace
