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

class InstalledWorkbench : public ::testing::Test {
  protected:
    void SetUp() override {
        ShellResult install = shell(std::string(CMAKE_COMMAND) + " --install " + BUILD_FOLDER +
                                        " --prefix " + work + "/first",
                                    work + "/install.log");
        ASSERT_EQ(install.status, 0) << install.output;
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
    ShellResult run = shell("cd " + work + " && env -i " + prefix + "/bin/panel-host run " +
                                prefix + "/lib/panel-host/PELDAN.so " + prefix +
                                "/share/panel-host/examples/typical_take.scenario",
                            work + "/run.log");
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_NE(run.output.find("0 failed expectations, 0 breaches"), std::string::npos)
        << run.output;
    ShellResult version = shell(prefix + "/bin/panel-host --version", work + "/version.log");
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.output, std::string("panel-host ") + PANEL_HOST_VERSION + "\n");
}

} // namespace
