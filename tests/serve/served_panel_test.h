// A test with a `panel-host serve` of PELDAN of its own, on a free loopback
// port, and an HTTP client for it.
#ifndef SERVED_PANEL_TEST_H
#define SERVED_PANEL_TEST_H

#include "serve_process.h"
#include "shell_command.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

class ServedPanelTest : public ::testing::Test {
  protected:
    // `extra`: serve's options after the library.
    void start(std::vector<std::string> extra = {}) {
        server = std::make_unique<ServeProcess>(PANEL_HOST, PELDAN_LIBRARY_PATH, extra,
                                                folder + "/serve.log");
        ASSERT_TRUE(server->ready()) << server->log();
        client = std::make_unique<httplib::Client>("127.0.0.1", server->port());
        client->set_read_timeout(5, 0);
    }

    TemporaryFolder temporary;
    const std::string folder = temporary.path();
    std::unique_ptr<ServeProcess> server;
    std::unique_ptr<httplib::Client> client;
};

#endif
