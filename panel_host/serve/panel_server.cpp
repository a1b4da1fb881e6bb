#include "panel_server.h"

#include "panel_summary.h"

#include <algorithm>
#include <cstdint>

using nlohmann::json;

namespace {

// Script and studio texts are bytes, not UTF-8: whatever is not valid UTF-8
// is replaced as it is written, so no answer can fail to be made.
std::string dumped(const json& value) {
    return value.dump(-1, ' ', false, json::error_handler_t::replace);
}

void answer(HttpResponse& response, int status, const json& body) {
    response.set(status, "application/json", dumped(body));
}

void refuse(HttpResponse& response, int status, const std::string& why) {
    answer(response, status, json{{"error", why}});
}

std::optional<std::string> tokenOf(const HttpRequest& request) {
    if (auto header = request.header("x-panel-token"))
        return header;
    return request.parameter("token");
}

size_t numberParam(const HttpRequest& request, const char* name, size_t otherwise) {
    std::optional<std::string> text = request.parameter(name);
    if (!text || text->empty() || text->size() > 18 ||
        text->find_first_not_of("0123456789") != std::string::npos)
        return otherwise;
    return static_cast<size_t>(std::stoull(*text));
}

bool text(const json& object, const char* key, std::string& out, HttpResponse& response,
          const char* fallback = nullptr) {
    auto found = object.find(key);
    if (found == object.end() && fallback != nullptr) {
        out = fallback;
        return true;
    }
    if (found == object.end() || !found->is_string()) {
        refuse(response, 400, std::string("'") + key + "' must be a text");
        return false;
    }
    out = found->get<std::string>();
    return true;
}

// JSON keeps numbers past 2^63 as unsigned: read as signed they would wrap
// (18446744073709551615 would be -1), so each kind is checked as it is kept.
bool fitsInt32(const json& value) {
    if (value.is_number_unsigned())
        return value.get<std::uint64_t>() <= 2147483647ULL;
    return value.is_number_integer() && value.get<long long>() >= -2147483648LL &&
           value.get<long long>() <= 2147483647LL;
}

bool integer(const json& object, const char* key, int& out, HttpResponse& response) {
    auto found = object.find(key);
    if (found == object.end() || !fitsInt32(*found)) {
        refuse(response, 400, std::string("'") + key + "' must be a 32-bit integer");
        return false;
    }
    out = found->get<int>();
    return true;
}

std::vector<std::string> listenAddresses(const std::string& bind) {
    if (bind == "0.0.0.0" || bind == "::")
        return interfaceAddresses();
    return {bind};
}

} // namespace

PanelServer::PanelServer(ScriptRoute& route, Studio& studio, const ServerSettings& settings)
    : settings_(settings), guard_(listenAddresses(settings.bind), settings.port, settings.token),
      instance_(newToken().substr(0, 12)), studio_(studio),
      host_(studio, [this](const std::string& line) { record(line); }), server_(settings.limits),
      start_(std::chrono::steady_clock::now()) {
    {
        std::lock_guard<std::mutex> hold(lock_);
        opened_ = host_.open(route);
        // What the script sent at its load is not the operator's: the
        // recording starts after it. Commands are taken at every step and tick.
        host_.takeCommands();
        if (opened_ && !recorder_.open(settings.recordFile, settings.recordHeader, recordingError_))
            opened_ = false;
    }
    server_.files(settings.webRoot);
    guard();
    routes();
    eventStream();
    timer_ = std::thread([this] { timerLoop(); });
}

PanelServer::~PanelServer() {
    stop();
    if (timer_.joinable())
        timer_.join();
    std::lock_guard<std::mutex> hold(lock_);
    host_.close();
}

bool PanelServer::bind(std::string& why) {
    return server_.bind(settings_.bind, settings_.port, why);
}

bool PanelServer::serve(std::string& why) {
    if (!server_.start(why))
        return false;
    server_.wait();
    return true;
}

void PanelServer::stop() {
    stopping_ = true;
    {
        std::lock_guard<std::mutex> hold(lock_);
        recorder_.ticked(studio_.now(), shownCommands());
        recorder_.finish(studio_.now());
    }
    server_.stop();
}

std::vector<std::string> PanelServer::shownCommands() {
    std::vector<std::string> shown;
    for (const std::string& command : host_.takeCommands())
        shown.push_back(host_.shown(command));
    return shown;
}

// A pick as `pick`, when its value is one word; otherwise as the raw event it makes.
std::optional<std::string> PanelServer::pickLine(const std::string& panel,
                                                 const std::string& control,
                                                 const std::string& value) {
    std::string on = panel == studio_.layout().panel ? "" : " on " + panel;
    if (!value.empty() && value.find_first_of(" \t") == std::string::npos)
        return "pick " + control + " " + value + on;
    const LayoutControl* shown = studio_.layout().find(control);
    std::string property = shown != nullptr && shown->kind == "selector" ? "page" : "index";
    return "event " + panel + " " + control + " " + property + "=" + value;
}

void PanelServer::record(const std::string& line) {
    // Called with lock_ held, from inside the host.
    std::string take = takeOf(line);
    if (!take.empty())
        lastTake_ = take;
    transcript_.add(line);
    server_.wake();
}

void PanelServer::timerLoop() {
    while (!stopping_) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        long long elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
                                std::chrono::steady_clock::now() - start_)
                                .count();
        std::lock_guard<std::mutex> hold(lock_);
        if (host_.isOpen() && elapsed > studio_.now()) {
            host_.wait(elapsed - studio_.now());
            recorder_.ticked(studio_.now(), shownCommands());
        }
    }
}

template <class Action>
void PanelServer::act(HttpResponse& response, const std::optional<std::string>& line, Action action,
                      bool parameter) {
    // A step the recording could not hold as one scenario line is not
    // performed: the recording would not replay what the panel did.
    if (line && line->find_first_of(std::string("\r\n\0", 3)) != std::string::npos) {
        refuse(response, 400,
               "the step holds a line break or a NUL, which a scenario line cannot hold");
        return;
    }
    std::lock_guard<std::mutex> hold(lock_);
    if (!host_.isOpen()) {
        refuse(response, 409, "the panel is closed");
        return;
    }
    recorder_.ticked(studio_.now(), shownCommands());
    json result = action();
    std::optional<std::string> reply;
    if (parameter && result["reply"].is_string())
        reply = result["reply"].get<std::string>();
    recorder_.step(studio_.now(), line, shownCommands(), parameter, reply);
    result["state"] = state();
    answer(response, 200, result);
}

bool PanelServer::onPanel(const std::string& panel, const std::string& control,
                          HttpResponse& response) {
    std::lock_guard<std::mutex> hold(lock_);
    const PanelLayout& layout = studio_.layout();
    if (panel == layout.panel && layout.find(control) != nullptr)
        return true;
    refuse(response, 404, "no control '" + control + "' on panel " + panel);
    return false;
}

json PanelServer::layout() {
    const PanelLayout& l = studio_.layout();
    json controls = json::array();
    for (const LayoutControl& c : l.controls) {
        json items = json::array();
        for (const LayoutItem& item : c.items)
            items.push_back(
                {{"page", item.page}, {"index", item.index}, {"caption", item.caption}});
        controls.push_back({{"id", c.id},
                            {"kind", c.kind},
                            {"caption", c.caption},
                            {"destination", c.destination},
                            {"items", items}});
    }
    return {{"panel", l.panel}, {"title", l.title}, {"controls", controls}};
}

json PanelServer::state() {
    json controls = json::object();
    for (const auto& [id, c] : studio_.controls())
        controls[id] = {{"kind", c.kind}, {"enabled", c.enabled}, {"properties", c.properties}};
    json destinations = json::array();
    for (int d = 12; d <= 21; ++d)
        destinations.push_back({{"destination", d},
                                {"source", studio_.audioSourceOf(d)},
                                {"name", studio_.audioSourceName(studio_.audioSourceOf(d))}});
    json sources = json::array();
    for (const auto& [number, name] : studio_.audioSources())
        sources.push_back({{"number", number}, {"name", name}});
    json crosspoints = json::array();
    for (const auto& [destination, source] : studio_.crosspoints())
        crosspoints.push_back({{"destination", destination}, {"source", source}});
    const auto& breaches = host_.breaches();
    json lastBreaches = json::array();
    for (size_t i = breaches.size() > 20 ? breaches.size() - 20 : 0; i < breaches.size(); ++i)
        lastBreaches.push_back(breaches[i]);
    PanelSelection selection = panelSelection(studio_);
    return {{"instance", instance_},
            {"version", transcript_.end()},
            {"time", studio_.now()},
            {"open", host_.isOpen()},
            {"controls", controls},
            {"selection",
             {{"feed", selection.feed}, {"source", selection.source}, {"take", selection.take}}},
            {"summary", panelSummary(studio_, lastTake_)},
            {"router",
             {{"device", studio_.audioRouterDevice()},
              {"destinations", destinations},
              {"sources", sources}}},
            {"packager", {{"device", studio_.packagerDevice()}, {"crosspoints", crosspoints}}},
            {"breaches", lastBreaches},
            {"breachCount", host_.breachCount()},
            {"lines", transcript_.end()},
            {"streams", streams_.load()}};
}

void PanelServer::guard() {
    server_.gate([this](const HttpRequest& req, HttpResponse& res) {
        // The guard reads one of each: a second could say something else.
        for (const char* name : {"x-panel-token", "origin", "content-type"})
            if (req.repeatedHeaders.count(name) != 0) {
                refuse(res, 400, std::string("the header ") + name + " is sent more than once");
                return true;
            }
        GuardVerdict verdict =
            guard_.check(req.method, req.path, req.header("host"), req.header("origin"),
                         req.header("content-type"), tokenOf(req));
        if (verdict.status == 0)
            return false;
        refuse(res, verdict.status, verdict.why);
        return true;
    });
}

// POST bodies arrive whole and bounded (the server refuses larger ones,
// chunked or not); handlers get them as a JSON object.
template <class Handler> void PanelServer::post(const std::string& path, Handler handler) {
    server_.post(path, [handler](const HttpRequest& req, HttpResponse& res) {
        json in = json::parse(req.body, nullptr, false);
        if (in.is_discarded() || !in.is_object())
            return refuse(res, 400, "the request body must be a JSON object");
        handler(in, res);
    });
}

void PanelServer::routes() {
    server_.get("/api/layout", [this](const HttpRequest&, HttpResponse& res) {
        std::lock_guard<std::mutex> hold(lock_);
        answer(res, 200, layout());
    });
    // The session so far as a scenario, for the page's "Save as scenario": its
    // bytes as recorded, not JSON, so the download is the --record file's text.
    server_.get("/api/scenario", [this](const HttpRequest&, HttpResponse& res) {
        std::lock_guard<std::mutex> hold(lock_);
        res.headers.push_back(
            {"Content-Disposition", "attachment; filename=\"recorded.scenario\""});
        res.set(200, "text/plain; charset=utf-8", recorder_.text());
    });
    server_.get("/api/state", [this](const HttpRequest&, HttpResponse& res) {
        std::lock_guard<std::mutex> hold(lock_);
        answer(res, 200, state());
    });
    // Pages of the transcript: ?since=N (a line number) or ?tail=N (the last N), ?limit=N.
    server_.get("/api/transcript", [this](const HttpRequest& req, HttpResponse& res) {
        std::lock_guard<std::mutex> hold(lock_);
        size_t limit = std::min<size_t>(numberParam(req, "limit", 500), 2000);
        size_t tail = numberParam(req, "tail", 0);
        size_t end = transcript_.end();
        size_t since = tail > 0 ? (tail < end ? end - tail : 0) : numberParam(req, "since", 0);
        TranscriptBuffer::Page page = transcript_.page(since, limit, 1024 * 1024);
        answer(res, 200,
               {{"instance", instance_},
                {"from", page.from},
                {"lines", page.lines},
                {"next", page.from + page.lines.size()},
                {"end", end},
                {"first", transcript_.first()}});
    });
    post("/api/press", [this](const json& in, HttpResponse& res) {
        std::string control, panel;
        if (!text(in, "control", control, res) || !text(in, "panel", panel, res, "1") ||
            !onPanel(panel, control, res))
            return;
        std::string on = panel == studio_.layout().panel ? "" : " on " + panel;
        act(res, "press " + control + on, [&] {
            host_.controlEvent(panel, control, "button=pressed");
            return json::object();
        });
    });
    post("/api/pick", [this](const json& in, HttpResponse& res) {
        std::string control, value, panel;
        if (!text(in, "control", control, res) || !text(in, "value", value, res) ||
            !text(in, "panel", panel, res, "1") || !onPanel(panel, control, res))
            return;
        act(res, pickLine(panel, control, value), [&] {
            host_.pick(panel, control, value);
            return json::object();
        });
    });
    post("/api/event", [this](const json& in, HttpResponse& res) {
        std::string panel, control, message;
        if (!text(in, "panel", panel, res) || !text(in, "control", control, res) ||
            !text(in, "message", message, res) || !onPanel(panel, control, res))
            return;
        act(res, "event " + panel + " " + control + " " + message, [&] {
            host_.controlEvent(panel, control, message);
            return json::object();
        });
    });
    post("/api/route", [this](const json& in, HttpResponse& res) {
        int destination = 0, source = 0;
        if (!integer(in, "destination", destination, res) || !integer(in, "source", source, res))
            return;
        // The numbers a scenario and a studio file take, so a recording replays.
        if (destination < 1 || source < 0)
            return refuse(res, 400, "a route needs a destination from 1 and a source from 0");
        act(res, "route " + std::to_string(destination) + " " + std::to_string(source), [&] {
            host_.routeAudio(destination, source);
            return json::object();
        });
    });
    post("/api/parameter", [this](const json& in, HttpResponse& res) {
        auto message = in.find("message");
        if (message == in.end() || !(message->is_string() || message->is_null()))
            return refuse(res, 400, "'message' must be a text or null");
        std::optional<std::string> text;
        if (message->is_string())
            text = message->get<std::string>();
        act(
            res, text ? "param " + *text : std::string("param-null"),
            [&] {
                std::optional<std::string> reply = host_.parameter(text);
                return json{{"reply", reply ? json(*reply) : json(nullptr)}};
            },
            true);
    });
    server_.otherwise([](const HttpRequest& req, HttpResponse& res) {
        refuse(res, 404, "no such resource: " + req.method + " " + req.path);
    });
}

// Server-sent events: each transcript line as it is written, with its
// number, a comment when there has been nothing for half a second (so a
// closed client is noticed), and a last event when the server stops.
class PanelServer::TranscriptEvents : public EventSource {
  public:
    TranscriptEvents(PanelServer& server, size_t next) : server_(server), next_(next) {}
    ~TranscriptEvents() override { --server_.streams_; }

    std::string next() override {
        std::string chunk;
        try {
            std::lock_guard<std::mutex> hold(server_.lock_);
            if (hello_) {
                chunk = "retry: 1000\nevent: hello\ndata: " +
                        dumped({{"instance", server_.instance_}, {"version", next_}}) + "\n\n";
                hello_ = false;
            }
            TranscriptBuffer::Page page = server_.transcript_.page(next_, 200, 256 * 1024);
            for (size_t i = 0; i < page.lines.size(); ++i)
                chunk +=
                    "data: " + dumped({{"index", page.from + i}, {"line", page.lines[i]}}) + "\n\n";
            next_ = page.from + page.lines.size();
        } catch (const std::exception&) {
            return {}; // tried again at the next wake
        }
        auto now = std::chrono::steady_clock::now();
        if (chunk.empty() && now - lastSent_ >= std::chrono::milliseconds(500))
            chunk = ": still here\n\n";
        if (!chunk.empty())
            lastSent_ = now;
        return chunk;
    }

    std::string farewell() override {
        std::lock_guard<std::mutex> hold(server_.lock_);
        return "event: stopping\ndata: " + dumped({{"instance", server_.instance_}}) + "\n\n";
    }

  private:
    PanelServer& server_;
    size_t next_;
    bool hello_ = true;
    std::chrono::steady_clock::time_point lastSent_ = std::chrono::steady_clock::now();
};

void PanelServer::eventStream() {
    server_.stream(
        "/events",
        [this](const HttpRequest&, HttpResponse& refusal) -> std::unique_ptr<EventSource> {
            if (++streams_ > settings_.limits.eventStreams) {
                --streams_;
                refuse(refusal, 503, "too many event streams are open");
                return nullptr;
            }
            std::lock_guard<std::mutex> hold(lock_);
            return std::make_unique<TranscriptEvents>(*this, transcript_.end());
        });
}
