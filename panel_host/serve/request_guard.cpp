#include "request_guard.h"

#include <arpa/inet.h>
#include <cstdio>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

namespace {

std::string lower(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return text;
}

// A Host header value for an address: IPv6 addresses go in brackets.
std::string hostValue(const std::string& address, int port) {
    bool v6 = address.find(':') != std::string::npos;
    return (v6 ? "[" + address + "]" : address) + ":" + std::to_string(port);
}

bool changesState(const std::string& method) {
    return method != "GET" && method != "HEAD";
}

bool needsToken(const std::string& path) {
    return path.rfind("/api/", 0) == 0 || path == "/events";
}

} // namespace

RequestGuard::RequestGuard(std::vector<std::string> addresses, int port, std::string token)
    : token_(std::move(token)) {
    addresses.push_back("localhost");
    for (const std::string& address : addresses)
        hosts_.push_back(lower(hostValue(address, port)));
}

bool RequestGuard::knownHost(const std::string& host) const {
    std::string wanted = lower(host);
    for (const std::string& known : hosts_)
        if (known == wanted)
            return true;
    return false;
}

GuardVerdict RequestGuard::check(const std::string& method, const std::string& path,
                                 const std::optional<std::string>& host,
                                 const std::optional<std::string>& origin,
                                 const std::optional<std::string>& contentType,
                                 const std::optional<std::string>& token) const {
    if (!host || !knownHost(*host))
        return {403, "the Host header must name this server (" + hosts_.front() + ")"};
    if (!token_.empty() && needsToken(path) && (!token || *token != token_))
        return {401, "this server needs its token: open the address it printed at start"};
    if (!changesState(method))
        return {};
    if (origin && !(origin->rfind("http://", 0) == 0 && knownHost(origin->substr(7))))
        return {403, "requests from another origin may not act on the panel"};
    std::string type = contentType ? lower(*contentType) : "";
    if (type.substr(0, type.find(';')) != "application/json")
        return {403, "a request that acts on the panel must have Content-Type: application/json"};
    return {};
}

std::string newToken() {
    unsigned char bytes[16] = {};
    FILE* random = std::fopen("/dev/urandom", "rb");
    size_t got = random ? std::fread(bytes, 1, sizeof bytes, random) : 0;
    if (random)
        std::fclose(random);
    if (got != sizeof bytes)
        return {};
    std::string token;
    char digits[3];
    for (unsigned char b : bytes) {
        std::snprintf(digits, sizeof digits, "%02x", b);
        token += digits;
    }
    return token;
}

bool isLoopback(const std::string& address) {
    return address == "localhost" || address == "::1" || address.rfind("127.", 0) == 0;
}

std::vector<std::string> interfaceAddresses() {
    std::vector<std::string> addresses;
    ifaddrs* all = nullptr;
    if (getifaddrs(&all) != 0)
        return addresses;
    for (ifaddrs* at = all; at != nullptr; at = at->ifa_next) {
        if (at->ifa_addr == nullptr)
            continue;
        char text[INET6_ADDRSTRLEN] = {};
        if (at->ifa_addr->sa_family == AF_INET)
            inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(at->ifa_addr)->sin_addr, text,
                      sizeof text);
        else if (at->ifa_addr->sa_family == AF_INET6)
            inet_ntop(AF_INET6, &reinterpret_cast<sockaddr_in6*>(at->ifa_addr)->sin6_addr, text,
                      sizeof text);
        if (text[0] != '\0')
            addresses.push_back(text);
    }
    freeifaddrs(all);
    return addresses;
}
