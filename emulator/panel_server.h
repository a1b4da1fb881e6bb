// The HTTP side of panel-host serve. Requests arrive on the server's threads;
// every call into the script is made under one lock, so the script sees one
// call at a time, as from a real host. Timer ticks run in real time.
#ifndef PANEL_SERVER_H
#define PANEL_SERVER_H

#include "panel_host.h"
#include "script_route.h"
#include "studio.h"

#include <httplib.h>
#include <nlohmann/json.hpp>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class PanelServer {
  public:
    PanelServer(ScriptRoute& route, Studio& studio, const std::string& webRoot);
    ~PanelServer();
    bool opened() const { return opened_; }
    // Serves until stop(); false when the address cannot be bound.
    bool listen(const std::string& bind, int port);
    void stop();

    // For tests: the JSON answer to a request, without a socket.
    httplib::Server& http() { return server_; }

  private:
    void routes();
    void timerLoop();
    nlohmann::json state();
    nlohmann::json layout();
    void record(const std::string& line);
    // Runs an action on the panel under the lock; answers 409 when it is closed.
    template <class Action> void act(httplib::Response& response, Action action);

    std::mutex lock_;
    std::condition_variable changed_;
    std::vector<std::string> lines_;
    size_t firstLine_ = 0; // index of lines_[0] since the start
    Studio& studio_;
    PanelHost host_;
    bool opened_ = false;
    httplib::Server server_;
    std::atomic<bool> stopping_{false};
    std::chrono::steady_clock::time_point start_;
    std::thread timer_;
};

#endif
