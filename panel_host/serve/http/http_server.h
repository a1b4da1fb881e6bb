// An HTTP/1.1 server on libmicrohttpd: a few threads on epoll, so a client
// that sends slowly holds no thread, and every connection has a deadline for
// each phase (ConnectionWatch), enforced by a watchdog whatever the client
// does. Handlers run on the server's threads, several at once; they must
// lock what they share. Event streams are suspended while they have nothing
// to say and woken by wake(). stop() ends everything within a second.
#ifndef HTTP_SERVER_H
#define HTTP_SERVER_H

#include "connection_watch.h"
#include "event_source.h"
#include "http_exchange.h"
#include "server_limits.h"
#include "static_files.h"

#include <atomic>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <utility>

struct MHD_Daemon;
struct MHD_Connection;

class HttpServer {
  public:
    using Handler = std::function<void(const HttpRequest&, HttpResponse&)>;
    // Lets a request through (false) or answers it itself (true), before any route.
    using Gate = std::function<bool(const HttpRequest&, HttpResponse&)>;
    // A new stream's source, or nothing with `refusal` filled in.
    using StreamOpener =
        std::function<std::unique_ptr<EventSource>(const HttpRequest&, HttpResponse& refusal)>;

    static constexpr int serverThreads = 4;

    explicit HttpServer(const ServerLimits& limits);
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    // Set up before start(); exact paths.
    void get(const std::string& path, Handler handler) { gets_[path] = std::move(handler); }
    void post(const std::string& path, Handler handler) { posts_[path] = std::move(handler); }
    void stream(const std::string& path, StreamOpener opener) {
        streams_[path] = std::move(opener);
    }
    void gate(Gate gate) { gate_ = std::move(gate); }
    void files(const std::string& root) { files_ = StaticFiles(root); }
    // What a request no route or file answers gets.
    void otherwise(Handler handler) { otherwise_ = std::move(handler); }

    // Takes the address and port; false with why (in use, say).
    bool bind(const std::string& address, int port, std::string& why);
    // Starts serving on the bound socket; false with why.
    bool start(std::string& why);
    // Waits until stop() has finished.
    void wait();
    // Event streams have news. Any thread; cheap.
    void wake();
    // Stops accepting, sends each stream its farewell, closes every
    // connection. Any thread but a handler's; returns when all is closed.
    void stop();

  private:
    struct Request;
    struct Stream;

    // libmicrohttpd's callbacks (static trampolines in the .cpp) land here.
    friend struct HttpServerCallbacks;
    void opened(MHD_Connection* connection);
    void closed(MHD_Connection* connection);
    Request* requestLine(MHD_Connection* connection);
    bool handle(MHD_Connection* connection, Request& request, const char* data, size_t* size);
    void completed(MHD_Connection* connection, Request* request, bool kept);
    long streamRead(Stream& stream, char* buffer, size_t max);
    void streamEnded(Stream* stream);

    bool begin(MHD_Connection* connection, Request& request);
    void dispatch(MHD_Connection* connection, Request& request);
    bool openStream(MHD_Connection* connection, Request& request, const StreamOpener& opener);
    bool answer(MHD_Connection* connection, const HttpResponse& response);
    static HttpResponse errorResponse(int status, const std::string& why, bool close);
    std::string tooLargeWhy() const;
    void watchdog();
    void resumeStreams(bool checkPeers);

    ServerLimits limits_;
    ConnectionWatch watch_;
    std::map<std::string, Handler> gets_, posts_;
    std::map<std::string, StreamOpener> streams_;
    Gate gate_;
    StaticFiles files_{""};
    Handler otherwise_;

    int listenFd_ = -1;
    MHD_Daemon* daemon_ = nullptr;
    std::atomic<bool> stopping_{false};

    // Streams suspended for want of news; suspending and resuming happen
    // under this lock, so no stream is resumed before it is suspended.
    std::mutex streamLock_;
    std::set<Stream*> suspended_;
    std::set<Stream*> live_;
    bool news_ = false;
    std::condition_variable newsArrived_;

    std::mutex stateLock_;
    std::condition_variable stopped_;
    bool done_ = false;
    std::thread watchdog_;
};

#endif
