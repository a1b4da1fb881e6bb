#include "http_server.h"

#include <microhttpd.h>

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

std::string addressText(const sockaddr* address) {
    char text[INET6_ADDRSTRLEN] = {};
    if (address == nullptr)
        return {};
    if (address->sa_family == AF_INET)
        inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(address)->sin_addr, text,
                  sizeof text);
    else if (address->sa_family == AF_INET6)
        inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr, text,
                  sizeof text);
    return text;
}

// The server's own refusals carry fixed texts, so no escaping is needed.
std::string errorBody(const std::string& why) {
    return "{\"error\":\"" + why + "\"}";
}

MHD_Result collect(void* into, MHD_ValueKind, const char* key, const char* value) {
    auto& map = *static_cast<std::map<std::string, std::string>*>(into);
    map[key != nullptr ? key : ""] = value != nullptr ? value : "";
    return MHD_YES;
}

// Header names in lower case, so handlers look them up one way; a name sent
// twice is noted, for the framing and the gate to refuse.
MHD_Result collectHeader(void* into, MHD_ValueKind, const char* key, const char* value) {
    auto& request = *static_cast<HttpRequest*>(into);
    std::string name = key != nullptr ? key : "";
    for (char& c : name)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    if (!request.headers.emplace(name, value != nullptr ? value : "").second)
        request.repeatedHeaders.insert(name);
    return MHD_YES;
}

// Two lengths, a length beside chunks, or two hosts: peers may read such a
// request apart (the shape of request smuggling), so none is read at all.
bool ambiguousFraming(const HttpRequest& request) {
    for (const char* name : {"content-length", "transfer-encoding", "host"})
        if (request.repeatedHeaders.count(name) != 0)
            return true;
    return request.header("content-length") && request.header("transfer-encoding");
}

// An answer written straight to the socket, for a request libmicrohttpd is
// still reading (it has nothing of its own to send then), before the
// connection is closed. A client that reads nothing is closed all the same.
void answerRaw(int fd, const char* statusLine, const std::string& why) {
    std::string body = errorBody(why);
    std::string text =
        std::string("HTTP/1.1 ") + statusLine +
        "\r\nContent-Type: application/json\r\nContent-Length: " + std::to_string(body.size()) +
        "\r\nConnection: close\r\n\r\n" + body;
    ssize_t sent = send(fd, text.data(), text.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    (void)sent;
}

void cutConnection(int fd, bool answerTimeout) {
    if (answerTimeout)
        answerRaw(fd, "408 Request Timeout", "the request took too long and was cut off");
    shutdown(fd, SHUT_RDWR);
}

std::string clientAddress(MHD_Connection* connection) {
    const MHD_ConnectionInfo* client =
        MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
    return client != nullptr ? addressText(client->client_addr) : "";
}

int socketOf(MHD_Connection* connection) {
    const MHD_ConnectionInfo* fd =
        MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD);
    return fd != nullptr ? fd->connect_fd : -1;
}

bool peerHasGone(int fd) {
    pollfd probe{fd, POLLRDHUP, 0};
    return poll(&probe, 1, 0) > 0 && (probe.revents & (POLLRDHUP | POLLHUP | POLLERR)) != 0;
}

} // namespace

// One request, from its request line to its completion; owned by the
// connection (created at the request line, deleted when it completes).
struct HttpServer::Request {
    HttpRequest http;
    bool begun = false;
    bool answered = false;
    const Handler* handler = nullptr;
};

// One event stream; owned by its libmicrohttpd response, deleted when that ends.
struct HttpServer::Stream {
    HttpServer* server;
    MHD_Connection* connection;
    int fd;
    std::unique_ptr<EventSource> source;
    std::string pending;
    size_t offset = 0;
    bool farewellSent = false;
    std::atomic<bool> peerGone{false};
};

// libmicrohttpd calls these on its threads.
struct HttpServerCallbacks {
    static void notify(void* cls, MHD_Connection* connection, void**,
                       MHD_ConnectionNotificationCode code) {
        auto* server = static_cast<HttpServer*>(cls);
        if (code == MHD_CONNECTION_NOTIFY_STARTED)
            server->opened(connection);
        else
            server->closed(connection);
    }
    static void* requestLine(void* cls, const char*, MHD_Connection* connection) {
        return static_cast<HttpServer*>(cls)->requestLine(connection);
    }
    static MHD_Result access(void* cls, MHD_Connection* connection, const char* url,
                             const char* method, const char*, const char* data, size_t* size,
                             void** context) {
        auto* request = static_cast<HttpServer::Request*>(*context);
        if (request == nullptr)
            *context = request = new HttpServer::Request;
        if (!request->begun) {
            request->http.method = method != nullptr ? method : "";
            request->http.path = url != nullptr ? url : "";
        }
        return static_cast<HttpServer*>(cls)->handle(connection, *request, data, size) ? MHD_YES
                                                                                       : MHD_NO;
    }
    static void completed(void* cls, MHD_Connection* connection, void** context,
                          MHD_RequestTerminationCode toe) {
        static_cast<HttpServer*>(cls)->completed(connection,
                                                 static_cast<HttpServer::Request*>(*context),
                                                 toe == MHD_REQUEST_TERMINATED_COMPLETED_OK);
        *context = nullptr;
    }
    static ssize_t read(void* cls, uint64_t, char* buffer, size_t max) {
        auto* stream = static_cast<HttpServer::Stream*>(cls);
        return stream->server->streamRead(*stream, buffer, max);
    }
    static void ended(void* cls) {
        auto* stream = static_cast<HttpServer::Stream*>(cls);
        stream->server->streamEnded(stream);
    }
};

HttpServer::HttpServer(const ServerLimits& limits) : limits_(limits), watch_(limits) {}

HttpServer::~HttpServer() {
    stop();
}

bool HttpServer::bind(const std::string& address, int port, std::string& why) {
    std::string where = address + ":" + std::to_string(port) + ": ";
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    addrinfo* found = nullptr;
    if (getaddrinfo(address.c_str(), std::to_string(port).c_str(), &hints, &found) != 0 ||
        found == nullptr) {
        why = "cannot listen on " + where + "not an address of this machine";
        return false;
    }
    int fd = socket(found->ai_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    int yes = 1;
    // Only this server's own port: no second server can share it (no SO_REUSEPORT).
    if (fd >= 0)
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    if (fd >= 0 && found->ai_family == AF_INET6)
        setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &yes, sizeof yes);
    bool bound =
        fd >= 0 && ::bind(fd, found->ai_addr, found->ai_addrlen) == 0 && listen(fd, 511) == 0;
    int error = errno;
    freeaddrinfo(found);
    if (!bound) {
        if (fd >= 0)
            close(fd);
        why = "cannot listen on " + where +
              (error == EADDRINUSE ? "the port is in use" : std::string(std::strerror(error)));
        return false;
    }
    listenFd_ = fd;
    return true;
}

bool HttpServer::start(std::string& why) {
    if (listenFd_ < 0) {
        why = "the server has no socket to listen on";
        return false;
    }
    // A stop that came first (a signal during start-up) leaves nothing to serve.
    std::lock_guard<std::mutex> hold(stateLock_);
    if (stopping_)
        return true;
    // No libmicrohttpd timeout: every deadline is the watchdog's, so each
    // phase has its own and a trickling client cannot restart it.
    const unsigned flags =
        MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_EPOLL | MHD_ALLOW_SUSPEND_RESUME | MHD_USE_ITC;
    daemon_ = MHD_start_daemon(
        flags, 0, nullptr, nullptr, &HttpServerCallbacks::access, this, MHD_OPTION_LISTEN_SOCKET,
        listenFd_, MHD_OPTION_THREAD_POOL_SIZE, static_cast<unsigned>(serverThreads),
        MHD_OPTION_CONNECTION_LIMIT, static_cast<unsigned>(1000), MHD_OPTION_CONNECTION_TIMEOUT, 0u,
        MHD_OPTION_CONNECTION_MEMORY_LIMIT, static_cast<size_t>(64 * 1024),
        MHD_OPTION_NOTIFY_CONNECTION, &HttpServerCallbacks::notify, this,
        MHD_OPTION_URI_LOG_CALLBACK, &HttpServerCallbacks::requestLine, this,
        MHD_OPTION_NOTIFY_COMPLETED, &HttpServerCallbacks::completed, this, MHD_OPTION_END);
    if (daemon_ == nullptr) {
        why = "the HTTP server did not start";
        return false;
    }
    watchdog_ = std::thread([this] { watchdog(); });
    return true;
}

void HttpServer::wait() {
    std::unique_lock<std::mutex> hold(stateLock_);
    stopped_.wait(hold, [this] { return done_ || daemon_ == nullptr; });
}

void HttpServer::wake() {
    {
        std::lock_guard<std::mutex> hold(stateLock_);
        news_ = true;
    }
    newsArrived_.notify_one();
}

void HttpServer::stop() {
    bool already;
    {
        // After this no start() begins, so daemon_ stays as it is.
        std::lock_guard<std::mutex> hold(stateLock_);
        already = stopping_.exchange(true);
    }
    if (already) {
        wait();
        return;
    }
    newsArrived_.notify_all();
    if (watchdog_.joinable())
        watchdog_.join();
    if (daemon_ != nullptr) {
        MHD_quiesce_daemon(daemon_);
        // Each stream, resumed, sends its farewell and ends; a client that
        // reads nothing does not hold the stop past this.
        auto until = Clock::now() + std::chrono::milliseconds(300);
        for (;;) {
            resumeStreams(false);
            {
                std::lock_guard<std::mutex> hold(streamLock_);
                if (live_.empty() || Clock::now() >= until)
                    break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        resumeStreams(false);
        MHD_stop_daemon(daemon_);
    }
    if (listenFd_ >= 0)
        close(listenFd_);
    listenFd_ = -1;
    {
        std::lock_guard<std::mutex> hold(stateLock_);
        done_ = true;
    }
    stopped_.notify_all();
}

void HttpServer::watchdog() {
    while (!stopping_) {
        {
            std::unique_lock<std::mutex> hold(stateLock_);
            newsArrived_.wait_for(hold, std::chrono::milliseconds(100),
                                  [this] { return news_ || stopping_; });
            news_ = false;
        }
        if (stopping_)
            break;
        resumeStreams(true);
        watch_.cutOverdue(Clock::now(), cutConnection);
    }
}

void HttpServer::resumeStreams(bool checkPeers) {
    std::lock_guard<std::mutex> hold(streamLock_);
    for (Stream* stream : suspended_) {
        if (checkPeers && peerHasGone(stream->fd))
            stream->peerGone = true;
        MHD_resume_connection(stream->connection);
    }
    suspended_.clear();
}

void HttpServer::opened(MHD_Connection* connection) {
    watch_.opened(connection, socketOf(connection), clientAddress(connection), Clock::now());
}

void HttpServer::closed(MHD_Connection* connection) {
    watch_.closed(connection);
}

HttpServer::Request* HttpServer::requestLine(MHD_Connection* connection) {
    watch_.entered(connection, ConnectionPhase::headers, Clock::now());
    return new Request;
}

void HttpServer::completed(MHD_Connection* connection, Request* request, bool kept) {
    delete request;
    // A connection that ends here is told closed only when libmicrohttpd
    // next cleans up, which can be a while: it no longer counts meanwhile.
    watch_.entered(connection, kept ? ConnectionPhase::idle : ConnectionPhase::closing,
                   Clock::now());
}

bool HttpServer::handle(MHD_Connection* connection, Request& request, const char* data,
                        size_t* size) {
    if (!request.begun)
        return begin(connection, request);
    if (*size > 0) {
        size_t got = *size;
        *size = 0;
        if (request.answered)
            return true;
        if (request.http.body.size() + got > limits_.bodyBytes) {
            // Answered at once, not after the rest (which may never end):
            // libmicrohttpd queues no answer mid-body, so it goes straight
            // out and the connection is closed.
            answerRaw(socketOf(connection), "413 Content Too Large", tooLargeWhy());
            return false;
        }
        request.http.body.append(data, got);
        return true;
    }
    if (request.answered)
        return true;
    dispatch(connection, request);
    return true;
}

// The headers are in: refuse what can be refused now (closing the
// connection, since its body is not read), open an event stream, or wait
// for the rest.
bool HttpServer::begin(MHD_Connection* connection, Request& request) {
    request.begun = true;
    watch_.entered(connection, ConnectionPhase::request, Clock::now());
    HttpRequest& http = request.http;
    MHD_get_connection_values(connection, MHD_HEADER_KIND, &collectHeader, &http);
    MHD_get_connection_values(connection, MHD_GET_ARGUMENT_KIND, &collect, &http.query);
    http.address = clientAddress(connection);

    bool bodyless = http.method == "GET" || http.method == "HEAD";
    auto stream = http.method == "GET" ? streams_.find(http.path) : streams_.end();
    bool isStream = stream != streams_.end();
    auto length = http.header("content-length");
    HttpResponse refusal;
    if (stopping_) {
        refusal = errorResponse(503, "the server is stopping", true);
    } else if (ambiguousFraming(http)) {
        refusal = errorResponse(
            400, "a request with repeated or conflicting length, encoding or host headers", true);
    } else if (!isStream && watch_.openFrom(http.address) > limits_.perAddress) {
        refusal = errorResponse(503, "too many connections from this address", true);
    } else if (gate_ && gate_(http, refusal)) {
        refusal.close = !bodyless;
    } else if (!isStream && length &&
               (length->size() > 18 ||
                std::strtoull(length->c_str(), nullptr, 10) > limits_.bodyBytes)) {
        refusal = errorResponse(413, tooLargeWhy(), true);
    } else if (isStream) {
        request.answered = true;
        return openStream(connection, request, stream->second);
    } else {
        // Answered at the next call, once the request is whole:
        // libmicrohttpd closes a connection whose answer came before that.
        if (http.method == "POST") {
            auto route = posts_.find(http.path);
            if (route != posts_.end())
                request.handler = &route->second;
        }
        return true;
    }
    request.answered = true;
    answer(connection, refusal);
    return true;
}

void HttpServer::dispatch(MHD_Connection* connection, Request& request) {
    request.answered = true;
    const HttpRequest& http = request.http;
    HttpResponse response;
    bool bodyless = http.method == "GET" || http.method == "HEAD";
    const Handler* handler = request.handler;
    if (handler == nullptr && bodyless) {
        auto route = gets_.find(http.path);
        if (route != gets_.end())
            handler = &route->second;
    }
    try {
        if (handler != nullptr)
            (*handler)(http, response);
        else if (!(bodyless && files_.serve(http.path, response)) && otherwise_)
            otherwise_(http, response);
    } catch (const std::exception&) {
        response = HttpResponse{};
        response.set(500, "application/json", errorBody("the request could not be handled"));
    }
    if (response.contentType.empty() && response.body.empty() && handler == nullptr && !otherwise_)
        response.set(404, "application/json", errorBody("no such resource"));
    answer(connection, response);
}

bool HttpServer::openStream(MHD_Connection* connection, Request& request,
                            const StreamOpener& opener) {
    HttpResponse refusal;
    std::unique_ptr<EventSource> source = opener(request.http, refusal);
    if (!source)
        return answer(connection, refusal);
    auto* stream = new Stream{this, connection, socketOf(connection), std::move(source)};
    {
        std::lock_guard<std::mutex> hold(streamLock_);
        live_.insert(stream);
    }
    // From here the response owns the stream: it is deleted through `ended`.
    MHD_Response* response =
        MHD_create_response_from_callback(MHD_SIZE_UNKNOWN, 16 * 1024, &HttpServerCallbacks::read,
                                          stream, &HttpServerCallbacks::ended);
    if (response == nullptr) {
        streamEnded(stream);
        return false;
    }
    MHD_add_response_header(response, "Content-Type", "text/event-stream");
    MHD_add_response_header(response, "Cache-Control", "no-cache");
    watch_.entered(connection, ConnectionPhase::stream, Clock::now());
    MHD_Result queued = MHD_queue_response(connection, 200, response);
    MHD_destroy_response(response);
    return queued == MHD_YES;
}

long HttpServer::streamRead(Stream& stream, char* buffer, size_t max) {
    if (stream.offset >= stream.pending.size()) {
        stream.pending.clear();
        stream.offset = 0;
        if (stream.peerGone)
            return MHD_CONTENT_READER_END_WITH_ERROR;
        if (stopping_) {
            if (stream.farewellSent)
                return MHD_CONTENT_READER_END_OF_STREAM;
            stream.pending = stream.source->farewell();
            stream.farewellSent = true;
        } else {
            stream.pending = stream.source->next();
        }
        if (stream.pending.empty()) {
            std::lock_guard<std::mutex> hold(streamLock_);
            if (stopping_)
                return 0; // called again at once, and then says farewell
            MHD_suspend_connection(stream.connection);
            suspended_.insert(&stream);
            return 0;
        }
    }
    size_t count = std::min(max, stream.pending.size() - stream.offset);
    std::memcpy(buffer, stream.pending.data() + stream.offset, count);
    stream.offset += count;
    return static_cast<long>(count);
}

void HttpServer::streamEnded(Stream* stream) {
    {
        std::lock_guard<std::mutex> hold(streamLock_);
        suspended_.erase(stream);
        live_.erase(stream);
    }
    delete stream;
}

bool HttpServer::answer(MHD_Connection* connection, const HttpResponse& response) {
    MHD_Response* made = MHD_create_response_from_buffer(
        response.body.size(), const_cast<char*>(response.body.data()), MHD_RESPMEM_MUST_COPY);
    if (made == nullptr)
        return false;
    if (!response.contentType.empty())
        MHD_add_response_header(made, "Content-Type", response.contentType.c_str());
    for (const auto& [name, value] : response.headers)
        MHD_add_response_header(made, name.c_str(), value.c_str());
    if (response.close)
        MHD_add_response_header(made, "Connection", "close");
    MHD_Result queued =
        MHD_queue_response(connection, static_cast<unsigned>(response.status), made);
    MHD_destroy_response(made);
    return queued == MHD_YES;
}

HttpResponse HttpServer::errorResponse(int status, const std::string& why, bool close) {
    HttpResponse response;
    response.set(status, "application/json", errorBody(why));
    response.close = close;
    return response;
}

std::string HttpServer::tooLargeWhy() const {
    return "the request body is larger than " + std::to_string(limits_.bodyBytes / 1024) + " KiB";
}
