// Every open connection, what it is waiting for and since when, so that no
// client holds the server past a deadline however slowly it sends. Called
// from the server's threads and its watchdog; one lock inside.
#ifndef CONNECTION_WATCH_H
#define CONNECTION_WATCH_H

#include "server_limits.h"

#include <chrono>
#include <functional>
#include <map>
#include <mutex>
#include <string>

enum class ConnectionPhase {
    idle,    // between requests, or before the first: closed after the keep-alive time
    headers, // the request line is in, the headers are coming
    request, // the headers are in: the body, the handler, the answer
    stream,  // an event stream: no deadline, and not counted against its address
    closing, // ended, not yet cleaned up: neither
};

class ConnectionWatch {
  public:
    using Clock = std::chrono::steady_clock;
    // `fd` is the connection's socket; `cut` must not outlive the call.
    // `answerTimeout`: a request was under way, so a 408 is owed.
    using Cut = std::function<void(int fd, bool answerTimeout)>;

    explicit ConnectionWatch(const ServerLimits& limits) : limits_(limits) {}

    void opened(const void* connection, int fd, const std::string& address, Clock::time_point now);
    void closed(const void* connection);
    void entered(const void* connection, ConnectionPhase phase, Clock::time_point now);

    // Connections from `address` that are neither event streams nor closing.
    int openFrom(const std::string& address) const;
    int open() const;

    // Calls `cut` once for each connection past its phase's deadline, under
    // the lock, so the socket cannot be closed and reused meanwhile.
    // Returns how many were cut.
    int cutOverdue(Clock::time_point now, const Cut& cut);

    // When a connection in `phase` since `since` is past its time; max() for never.
    Clock::time_point deadline(ConnectionPhase phase, Clock::time_point since) const;

  private:
    struct Watched {
        int fd = -1;
        std::string address;
        ConnectionPhase phase = ConnectionPhase::idle;
        Clock::time_point since;
        bool cut = false;
    };

    ServerLimits limits_;
    mutable std::mutex lock_;
    std::map<const void*, Watched> watched_;
};

#endif
