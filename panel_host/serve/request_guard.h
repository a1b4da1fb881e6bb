// Who may talk to `panel-host serve`: requests that change anything must be
// JSON from the panel's own page (its Origin, when sent, is the server's own
// address), every request must name the server by an address it listens on
// (against DNS rebinding), and off loopback a token must come with it.
#ifndef REQUEST_GUARD_H
#define REQUEST_GUARD_H

#include <optional>
#include <string>
#include <vector>

struct GuardVerdict {
    int status = 0; // 0: let it through; 401, 403
    std::string why;
};

class RequestGuard {
  public:
    // `addresses`: what the server listens on (every interface's address when
    // it binds to all); `token`: empty when none is needed.
    RequestGuard(std::vector<std::string> addresses, int port, std::string token);

    // `host`, `origin`, `contentType`: the headers (nothing when absent);
    // `token`: the X-Panel-Token header or the `token` query parameter.
    GuardVerdict check(const std::string& method, const std::string& path,
                       const std::optional<std::string>& host,
                       const std::optional<std::string>& origin,
                       const std::optional<std::string>& contentType,
                       const std::optional<std::string>& token) const;

    // The Host values this server answers to ("127.0.0.1:8080", "localhost:8080", ...).
    const std::vector<std::string>& hosts() const { return hosts_; }

  private:
    bool knownHost(const std::string& host) const;

    std::vector<std::string> hosts_;
    std::string token_;
};

// A token of 32 hex digits from the system's random source.
std::string newToken();
// True for 127.0.0.0/8, ::1 and "localhost".
bool isLoopback(const std::string& address);
// The addresses of this machine's interfaces, for a server bound to all of them.
std::vector<std::string> interfaceAddresses();

#endif
