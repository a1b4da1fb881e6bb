// Raw client sockets on loopback for the server tests: a client that sends
// exactly the bytes a test wants, as slowly as it wants, from any 127.x.y.z.
#ifndef LOOPBACK_SOCKET_H
#define LOOPBACK_SOCKET_H

#include <arpa/inet.h>
#include <chrono>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

// A connection to `port` from `from` (every 127.x.y.z is this machine); -1 when refused.
inline int connectTo(int port, const char* from = nullptr) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (from != nullptr) {
        sockaddr_in local{};
        local.sin_family = AF_INET;
        inet_pton(AF_INET, from, &local.sin_addr);
        if (bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
            close(fd);
            return -1;
        }
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

inline bool sendText(int fd, const std::string& text) {
    return send(fd, text.data(), text.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(text.size());
}

// Reads fd for up to `ms`, until `enough` is in what came (when not empty);
// true when the server closed the connection meanwhile.
inline bool readFor(int fd, int ms, const std::string& enough, std::string& got) {
    using Clock = std::chrono::steady_clock;
    auto end = Clock::now() + std::chrono::milliseconds(ms);
    while (Clock::now() < end && (enough.empty() || got.find(enough) == std::string::npos)) {
        pollfd wait{fd, POLLIN, 0};
        if (poll(&wait, 1, 10) <= 0)
            continue;
        char buffer[4096];
        ssize_t n = recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0)
            return true;
        got.append(buffer, static_cast<size_t>(n));
    }
    return false;
}

// What arrives on fd within `ms`, until `enough` is in it or the server closes.
inline std::string receive(int fd, int ms, const std::string& enough = "") {
    std::string got;
    readFor(fd, ms, enough, got);
    return got;
}

// True once the server has closed fd (within `ms`); what it sent first goes to `said`.
inline bool closedByServer(int fd, int ms, std::string& said) {
    return readFor(fd, ms, "", said);
}

#endif
