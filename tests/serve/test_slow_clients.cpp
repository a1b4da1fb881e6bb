// panel-host serve beside clients that send slowly or stop half way: each is
// cut at its deadline, none delays a press or a stop, and one address cannot
// take more than its share. Loopback only; every loop is bounded.
#include "loopback_socket.h"
#include "served_panel_test.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

namespace {

using nlohmann::json;
using Clock = std::chrono::steady_clock;

// How the server ended a connection: whether it closed it within the time
// given, when (in ms from `start`), and what it said first.
struct Ending {
    bool closed = false;
    long long atMs = 0;
    std::string said;
};

Ending endingOf(int fd, int withinMs, Clock::time_point start) {
    Ending ending;
    ending.closed = closedByServer(fd, withinMs, ending.said);
    ending.atMs =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
    return ending;
}

// Connections that send a request line, then one header byte every 300 ms,
// for as long as the server takes them; spread over addresses 127.0.1.x,
// `perAddress` on each.
class Tricklers {
  public:
    Tricklers(int port, int count, int perAddress) {
        for (int i = 0; i < count; ++i) {
            std::string from = "127.0.1." + std::to_string(1 + i / perAddress);
            int fd = connectTo(port, from.c_str());
            if (fd >= 0 && sendText(fd, "GET /api/state HTTP/1.1\r\nX-Slow: "))
                fds_.push_back(fd);
        }
        thread_ = std::thread([this] {
            while (!stop_) {
                std::this_thread::sleep_for(std::chrono::milliseconds(300));
                for (int fd : fds_)
                    sendText(fd, "x");
            }
        });
    }
    ~Tricklers() {
        stop_ = true;
        thread_.join();
        for (int fd : fds_)
            close(fd);
    }
    size_t connected() const { return fds_.size(); }

  private:
    std::vector<int> fds_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

class SlowClientTest : public ServedPanelTest {
  protected:
    std::string request(const std::string& line) {
        return line + "\r\nHost: 127.0.0.1:" + std::to_string(server->port()) + "\r\n";
    }
    // The median of `count` presses, in microseconds.
    long long medianPressMicros(int count) {
        std::vector<long long> took;
        for (int i = 0; i < count; ++i) {
            auto begin = Clock::now();
            auto got = client->Post("/api/press", json{{"control", i % 2 ? "OS_1" : "OS_2"}}.dump(),
                                    "application/json");
            took.push_back(
                std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - begin)
                    .count());
            EXPECT_TRUE(got && got->status == 200);
        }
        std::sort(took.begin(), took.end());
        return took[took.size() / 2];
    }
};

TEST_F(SlowClientTest, PressesStayQuickAndSigtermStopsWithinASecondBesideTricklers) {
    for (int count : {5, 100, 300}) {
        start();
        Tricklers tricklers(server->port(), count, 15);
        ASSERT_EQ(tricklers.connected(), static_cast<size_t>(count));
        std::this_thread::sleep_for(std::chrono::milliseconds(700)); // all of them trickling
        long long press = medianPressMicros(21);
        long long stopping = server->stop().count();
        std::cout << count << " tricklers: median press " << press << " us, stopped in " << stopping
                  << " ms\n";
        EXPECT_LT(press, 10000) << count << " tricklers";
        EXPECT_LT(stopping, 1000) << count << " tricklers";
        EXPECT_EQ(server->exitStatus(), 0);
    }
}

TEST_F(SlowClientTest, HeadersThatTrickleAreCutAtTheirDeadlineWith408) {
    start({"--header-timeout", "1"});
    int fd = connectTo(server->port());
    ASSERT_TRUE(sendText(fd, "GET /api/state HTTP/1.1\r\nX-Slow: "));
    auto begin = Clock::now();
    std::thread trickle([fd] {
        for (int i = 0; i < 20 && sendText(fd, "x"); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
    });
    Ending ending = endingOf(fd, 4000, begin);
    trickle.join();
    close(fd);
    EXPECT_TRUE(ending.closed);
    EXPECT_GE(ending.atMs, 900);
    EXPECT_LT(ending.atMs, 1600) << "cut " << ending.atMs << " ms after the request line";
    EXPECT_EQ(ending.said.rfind("HTTP/1.1 408", 0), 0u) << ending.said;
    EXPECT_NE(ending.said.find("\"error\""), std::string::npos) << ending.said;
}

TEST_F(SlowClientTest, HalfABodyIsCutAtTheBodysDeadlineWith408) {
    start({"--body-timeout", "2"});
    int fd = connectTo(server->port());
    ASSERT_TRUE(sendText(fd, request("POST /api/press HTTP/1.1") +
                                 "Content-Type: application/json\r\nContent-Length: 40\r\n\r\n"
                                 "{\"control\": \"O"));
    auto begin = Clock::now();
    Ending ending = endingOf(fd, 5000, begin);
    close(fd);
    EXPECT_TRUE(ending.closed);
    EXPECT_GE(ending.atMs, 1900);
    EXPECT_LT(ending.atMs, 2600) << "cut " << ending.atMs << " ms after the headers";
    EXPECT_EQ(ending.said.rfind("HTTP/1.1 408", 0), 0u) << ending.said;
    // Nothing half sent reached the script.
    auto transcript = json::parse(client->Get("/api/transcript")->body);
    for (const auto& line : transcript["lines"])
        EXPECT_EQ(line.get<std::string>().find("button=pressed"), std::string::npos) << line;
}

TEST_F(SlowClientTest, AnIdleConnectionIsClosedAfterTheKeepAliveTimeWithoutAnAnswer) {
    start({"--keep-alive", "1"});
    int fd = connectTo(server->port());
    ASSERT_TRUE(sendText(fd, request("GET /api/layout HTTP/1.1") + "\r\n"));
    std::string first = receive(fd, 2000, "\"controls\"");
    ASSERT_EQ(first.rfind("HTTP/1.1 200", 0), 0u) << first;
    auto begin = Clock::now();
    Ending ending = endingOf(fd, 3000, begin);
    close(fd);
    EXPECT_TRUE(ending.closed);
    EXPECT_GE(ending.atMs, 900) << "closed " << ending.atMs << " ms into its idle time";
    EXPECT_LT(ending.atMs, 1500) << "closed " << ending.atMs << " ms into its idle time";
    EXPECT_EQ(ending.said.find("HTTP/1.1"), std::string::npos) << "no answer to an idle connection";
}

TEST_F(SlowClientTest, TheSeventeenthConnectionFromOneAddressGets503) {
    start();
    std::vector<int> held;
    for (int i = 0; i < 16; ++i) {
        held.push_back(connectTo(server->port(), "127.0.0.7"));
        ASSERT_TRUE(sendText(held.back(), "GET /api/state HTTP/1.1\r\n")); // headers to come
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    auto ask = [&](const char* from) {
        int fd = connectTo(server->port(), from);
        sendText(fd, request("GET /api/state HTTP/1.1") + "\r\n");
        std::string got = receive(fd, 2000, "}");
        close(fd);
        return got;
    };
    std::string seventeenth = ask("127.0.0.7");
    EXPECT_EQ(seventeenth.rfind("HTTP/1.1 503", 0), 0u) << seventeenth;
    EXPECT_NE(seventeenth.find("too many connections from this address"), std::string::npos);
    EXPECT_EQ(ask("127.0.0.8").rfind("HTTP/1.1 200", 0), 0u) << "another address is served";
    EXPECT_EQ(client->Get("/api/state")->status, 200);
    for (int fd : held)
        close(fd);
    // Their places come free as they close.
    std::string again;
    for (int i = 0; i < 40 && again.rfind("HTTP/1.1 200", 0) != 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        again = ask("127.0.0.7");
    }
    EXPECT_EQ(again.rfind("HTTP/1.1 200", 0), 0u) << again;
}

TEST_F(SlowClientTest, StreamsGetALastEventWhenTheServerStops) {
    start();
    int fd = connectTo(server->port());
    sendText(fd, request("GET /events HTTP/1.1") + "\r\n");
    ASSERT_NE(receive(fd, 2000, "event: hello").find("event: hello"), std::string::npos);
    std::thread stopper([this] { server->stop(); });
    Ending ending = endingOf(fd, 2000, Clock::now());
    stopper.join();
    close(fd);
    EXPECT_TRUE(ending.closed);
    EXPECT_NE(ending.said.find("event: stopping\ndata: {\"instance\":"), std::string::npos)
        << ending.said;
}

TEST_F(SlowClientTest, TheLimitsAreCheckedOptions) {
    for (const char* bad :
         {"--header-timeout 0", "--body-timeout x", "--per-address -1", "--keep-alive 99999"}) {
        ShellResult got =
            shell(std::string(PANEL_HOST) + " serve " + PELDAN_LIBRARY_PATH + " " + bad,
                  folder + "/bad.log");
        EXPECT_EQ(got.status, 2) << bad << ": " << got.output;
    }
}

} // namespace
