#include "connection_watch.h"

void ConnectionWatch::opened(const void* connection, int fd, const std::string& address,
                             Clock::time_point now) {
    std::lock_guard<std::mutex> hold(lock_);
    watched_[connection] = Watched{fd, address, ConnectionPhase::idle, now, false};
}

void ConnectionWatch::closed(const void* connection) {
    std::lock_guard<std::mutex> hold(lock_);
    watched_.erase(connection);
}

void ConnectionWatch::entered(const void* connection, ConnectionPhase phase,
                              Clock::time_point now) {
    std::lock_guard<std::mutex> hold(lock_);
    auto found = watched_.find(connection);
    if (found == watched_.end())
        return;
    found->second.phase = phase;
    found->second.since = now;
}

int ConnectionWatch::openFrom(const std::string& address) const {
    std::lock_guard<std::mutex> hold(lock_);
    int count = 0;
    for (const auto& [connection, watched] : watched_)
        count += watched.address == address && watched.phase != ConnectionPhase::stream &&
                 watched.phase != ConnectionPhase::closing;
    return count;
}

int ConnectionWatch::open() const {
    std::lock_guard<std::mutex> hold(lock_);
    return static_cast<int>(watched_.size());
}

// A connection's request line must arrive within the keep-alive time of the
// connection opening or of its last answer; its headers within the header
// time of the request line; the rest within the body time of the headers.
ConnectionWatch::Clock::time_point ConnectionWatch::deadline(ConnectionPhase phase,
                                                             Clock::time_point since) const {
    switch (phase) {
    case ConnectionPhase::idle:
        return since + std::chrono::seconds(limits_.keepAliveSeconds);
    case ConnectionPhase::headers:
        return since + std::chrono::seconds(limits_.headerSeconds);
    case ConnectionPhase::request:
        return since + std::chrono::seconds(limits_.bodySeconds);
    case ConnectionPhase::stream:
    case ConnectionPhase::closing:
        break;
    }
    return Clock::time_point::max();
}

int ConnectionWatch::cutOverdue(Clock::time_point now, const Cut& cut) {
    std::lock_guard<std::mutex> hold(lock_);
    int count = 0;
    for (auto& [connection, watched] : watched_) {
        if (watched.cut || now < deadline(watched.phase, watched.since))
            continue;
        watched.cut = true;
        cut(watched.fd, watched.phase != ConnectionPhase::idle);
        ++count;
    }
    return count;
}
