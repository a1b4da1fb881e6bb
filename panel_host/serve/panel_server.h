// The HTTP side of panel-host serve. Requests arrive on the HTTP server's
// threads; every call into the script is made under one lock, so the script
// sees one call at a time, as from a real host. Timer ticks run in real time.
// Only the panel's own page may act (RequestGuard), every size is bounded, and
// every answer is valid UTF-8 JSON whatever bytes the script or studio hold.
#ifndef PANEL_SERVER_H
#define PANEL_SERVER_H

#include "http_server.h"
#include "panel_host.h"
#include "request_guard.h"
#include "scenario_recorder.h"
#include "script_route.h"
#include "studio.h"
#include "transcript_buffer.h"

#include <nlohmann/json.hpp>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct ServerSettings {
    std::string bind = "127.0.0.1";
    int port = 8080;
    std::string webRoot;
    std::string token;        // required off loopback; empty: none
    std::string recordFile;   // the operator's session as a scenario; empty: kept in memory only
    std::string recordHeader; // the recording's first lines (comments)
    ServerLimits limits;
};

class PanelServer {
  public:
    PanelServer(ScriptRoute& route, Studio& studio, const ServerSettings& settings);
    ~PanelServer();
    bool opened() const { return opened_; }
    // Empty, or why the recording file could not be written.
    // Why the recording could not be opened, or was cut short.
    const std::string& recordingError() const {
        return recordingError_.empty() ? recorder_.failure() : recordingError_;
    }
    // Takes the port for this server alone; false with why (in use, say).
    bool bind(std::string& why);
    // Serves until stop(); false with why when the server cannot start.
    bool serve(std::string& why);
    // From any thread (not from a signal handler).
    void stop();

  private:
    class TranscriptEvents;

    void routes();
    void guard();
    void eventStream();
    template <class Handler> void post(const std::string& path, Handler handler);
    void timerLoop();
    nlohmann::json state();
    nlohmann::json layout();
    void record(const std::string& line);
    // Runs an action on the panel under the lock; answers 409 when it is closed.
    // `line` is the step as a scenario holds it, for the recording.
    template <class Action>
    void act(HttpResponse& response, const std::optional<std::string>& line, Action action,
             bool parameter = false);
    std::vector<std::string> shownCommands();
    std::optional<std::string> pickLine(const std::string& panel, const std::string& control,
                                        const std::string& value);
    bool onPanel(const std::string& panel, const std::string& control, HttpResponse& response);

    ServerSettings settings_;
    RequestGuard guard_;
    std::mutex lock_;
    TranscriptBuffer transcript_;
    std::string lastTake_;
    std::string instance_; // tells a restarted server from the one a page knew
    Studio& studio_;
    PanelHost host_;
    bool opened_ = false;
    ScenarioRecorder recorder_;
    std::string recordingError_;
    HttpServer server_;
    std::atomic<bool> stopping_{false};
    std::atomic<int> streams_{0};
    std::chrono::steady_clock::time_point start_;
    std::thread timer_;
};

#endif
