#include "panel_server.h"

#include <algorithm>

using nlohmann::json;

namespace {

const size_t keptLines = 20000;

void answer(httplib::Response& response, int status, const json& body) {
    response.status = status;
    response.set_content(body.dump(), "application/json");
}

void refuse(httplib::Response& response, int status, const std::string& why) {
    answer(response, status, json{{"error", why}});
}

// The request's JSON object, or a 400 answer and nothing.
bool body(const httplib::Request& request, httplib::Response& response, json& out) {
    out = json::parse(request.body, nullptr, false);
    if (out.is_discarded() || !out.is_object()) {
        refuse(response, 400, "the request body must be a JSON object");
        return false;
    }
    return true;
}

bool text(const json& object, const char* key, std::string& out, httplib::Response& response,
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

bool integer(const json& object, const char* key, int& out, httplib::Response& response) {
    auto found = object.find(key);
    if (found == object.end() || !found->is_number_integer() ||
        found->get<long long>() < -2147483648LL || found->get<long long>() > 2147483647LL) {
        refuse(response, 400, std::string("'") + key + "' must be a 32-bit integer");
        return false;
    }
    out = found->get<int>();
    return true;
}

} // namespace

PanelServer::PanelServer(ScriptRoute& route, Studio& studio, const std::string& webRoot)
    : studio_(studio), host_(studio, [this](const std::string& line) { record(line); }),
      start_(std::chrono::steady_clock::now()) {
    {
        std::lock_guard<std::mutex> hold(lock_);
        opened_ = host_.open(route);
    }
    server_.set_mount_point("/", webRoot);
    server_.set_payload_max_length(64 * 1024);
    routes();
    timer_ = std::thread([this] { timerLoop(); });
}

PanelServer::~PanelServer() {
    stop();
    if (timer_.joinable())
        timer_.join();
    std::lock_guard<std::mutex> hold(lock_);
    host_.close();
}

bool PanelServer::listen(const std::string& bind, int port) { return server_.listen(bind, port); }

void PanelServer::stop() {
    stopping_ = true;
    changed_.notify_all();
    server_.stop();
}

void PanelServer::record(const std::string& line) {
    // Called with lock_ held, from inside the host.
    lines_.push_back(line);
    if (lines_.size() > keptLines) {
        size_t drop = keptLines / 2;
        lines_.erase(lines_.begin(), lines_.begin() + static_cast<long>(drop));
        firstLine_ += drop;
    }
    changed_.notify_all();
}

void PanelServer::timerLoop() {
    while (!stopping_) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        long long elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
                                std::chrono::steady_clock::now() - start_)
                                .count();
        std::lock_guard<std::mutex> hold(lock_);
        if (host_.isOpen() && elapsed > studio_.now())
            host_.wait(elapsed - studio_.now());
    }
}

template <class Action> void PanelServer::act(httplib::Response& response, Action action) {
    std::lock_guard<std::mutex> hold(lock_);
    if (!host_.isOpen()) {
        refuse(response, 409, "the panel is closed");
        return;
    }
    json result = action();
    result["state"] = state();
    answer(response, 200, result);
}

json PanelServer::layout() {
    const PanelLayout& l = studio_.layout();
    json controls = json::array();
    for (const LayoutControl& c : l.controls) {
        json items = json::array();
        for (const LayoutItem& item : c.items)
            items.push_back({{"page", item.page}, {"index", item.index}, {"caption", item.caption}});
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
    return {{"time", studio_.now()},
            {"open", host_.isOpen()},
            {"controls", controls},
            {"router", {{"device", studio_.audioRouterDevice()},
                        {"destinations", destinations},
                        {"sources", sources}}},
            {"packager", {{"device", studio_.packagerDevice()}, {"crosspoints", crosspoints}}},
            {"breaches", host_.breaches()},
            {"lines", firstLine_ + lines_.size()}};
}

void PanelServer::routes() {
    server_.Get("/api/layout", [this](const httplib::Request&, httplib::Response& res) {
        std::lock_guard<std::mutex> hold(lock_);
        answer(res, 200, layout());
    });
    server_.Get("/api/state", [this](const httplib::Request&, httplib::Response& res) {
        std::lock_guard<std::mutex> hold(lock_);
        answer(res, 200, state());
    });
    server_.Get("/api/transcript", [this](const httplib::Request& req, httplib::Response& res) {
        std::lock_guard<std::mutex> hold(lock_);
        size_t since = req.has_param("since") ? std::strtoull(req.get_param_value("since").c_str(), nullptr, 10) : 0;
        json lines = json::array();
        for (size_t i = std::max(since, firstLine_); i < firstLine_ + lines_.size(); ++i)
            lines.push_back(lines_[i - firstLine_]);
        answer(res, 200, {{"from", std::max(since, firstLine_)}, {"lines", lines}});
    });
    server_.Post("/api/press", [this](const httplib::Request& req, httplib::Response& res) {
        json in;
        std::string control, panel;
        if (!body(req, res, in) || !text(in, "control", control, res) ||
            !text(in, "panel", panel, res, "1"))
            return;
        act(res, [&] {
            host_.controlEvent(panel, control, "button=pressed");
            return json::object();
        });
    });
    server_.Post("/api/pick", [this](const httplib::Request& req, httplib::Response& res) {
        json in;
        std::string control, value, panel;
        if (!body(req, res, in) || !text(in, "control", control, res) ||
            !text(in, "value", value, res) || !text(in, "panel", panel, res, "1"))
            return;
        act(res, [&] {
            host_.pick(panel, control, value);
            return json::object();
        });
    });
    server_.Post("/api/event", [this](const httplib::Request& req, httplib::Response& res) {
        json in;
        std::string panel, control, message;
        if (!body(req, res, in) || !text(in, "panel", panel, res) ||
            !text(in, "control", control, res) || !text(in, "message", message, res))
            return;
        act(res, [&] {
            host_.controlEvent(panel, control, message);
            return json::object();
        });
    });
    server_.Post("/api/route", [this](const httplib::Request& req, httplib::Response& res) {
        json in;
        int destination = 0, source = 0;
        if (!body(req, res, in) || !integer(in, "destination", destination, res) ||
            !integer(in, "source", source, res))
            return;
        act(res, [&] {
            host_.routeAudio(destination, source);
            return json::object();
        });
    });
    server_.Post("/api/parameter", [this](const httplib::Request& req, httplib::Response& res) {
        json in;
        if (!body(req, res, in))
            return;
        auto message = in.find("message");
        if (message == in.end() || !(message->is_string() || message->is_null()))
            return refuse(res, 400, "'message' must be a text or null");
        std::optional<std::string> text;
        if (message->is_string())
            text = message->get<std::string>();
        act(res, [&] {
            std::optional<std::string> reply = host_.parameter(text);
            return json{{"reply", reply ? json(*reply) : json(nullptr)}};
        });
    });
    server_.Get("/events", [this](const httplib::Request&, httplib::Response& res) {
        size_t next;
        {
            std::lock_guard<std::mutex> hold(lock_);
            next = firstLine_ + lines_.size();
        }
        res.set_header("Cache-Control", "no-cache");
        res.set_chunked_content_provider(
            "text/event-stream", [this, next](size_t, httplib::DataSink& sink) mutable {
                std::unique_lock<std::mutex> hold(lock_);
                changed_.wait_for(hold, std::chrono::seconds(15), [&] {
                    return stopping_ || firstLine_ + lines_.size() > next;
                });
                if (stopping_)
                    return false;
                std::string chunk;
                next = std::max(next, firstLine_);
                for (; next < firstLine_ + lines_.size(); ++next)
                    chunk += "data: " + json{{"index", next}, {"line", lines_[next - firstLine_]}}.dump() + "\n\n";
                hold.unlock();
                if (chunk.empty())
                    chunk = ": still here\n\n";
                return sink.write(chunk.data(), chunk.size());
            });
    });
    server_.set_exception_handler([](const httplib::Request&, httplib::Response& res, std::exception_ptr) {
        refuse(res, 500, "the request could not be handled");
    });
    server_.set_error_handler([](const httplib::Request& req, httplib::Response& res) {
        if (res.body.empty())
            refuse(res, res.status, "no such resource: " + req.method + " " + req.path);
    });
}
