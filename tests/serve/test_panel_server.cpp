// panel-host serve as a careless or hostile client meets it: bytes that are
// not UTF-8, requests from elsewhere, many and slow clients, big bodies, a
// second server, SIGTERM. Every test talks to loopback only.
#include "loopback_socket.h"
#include "served_panel_test.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fstream>

namespace {

using nlohmann::json;
using Clock = std::chrono::steady_clock;

// Strict: throws on anything that is not valid JSON in valid UTF-8.
bool validJson(const std::string& text) {
    try {
        json parsed = json::parse(text);
        (void)parsed;
        return true;
    } catch (const json::exception&) {
        return false;
    }
}

class PanelServerTest : public ServedPanelTest {
  protected:
    httplib::Result press(const std::string& control, httplib::Headers headers = {}) {
        return client->Post("/api/press", headers, json{{"control", control}}.dump(),
                            "application/json");
    }
    json state() {
        auto got = client->Get("/api/state");
        return got && validJson(got->body) ? json::parse(got->body) : json();
    }
    std::string file(const std::string& name, const std::string& text) {
        std::ofstream(folder + "/" + name, std::ios::binary) << text;
        return folder + "/" + name;
    }
};

TEST_F(PanelServerTest, BytesThatAreNotUtf8NeverEndTheServerOrItsJson) {
    start({"--studio", file("latin1.studio", "source 3 CAF\xc9 \xff\n")});
    int events = connectTo(server->port());
    sendText(events, "GET /events HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(server->port()) +
                         "\r\n\r\n");
    receive(events, 1000, "event: hello");
    // A path that is no UTF-8, and a router change that puts Latin-1 on a label.
    auto bad = client->Get("/%ff%fe");
    ASSERT_TRUE(bad);
    EXPECT_EQ(bad->status, 404);
    EXPECT_TRUE(validJson(bad->body)) << bad->body;
    auto routed = client->Post("/api/route", json{{"destination", 12}, {"source", 3}}.dump(),
                               "application/json");
    ASSERT_TRUE(routed) << server->log();
    EXPECT_EQ(routed->status, 200);
    EXPECT_TRUE(validJson(routed->body));
    std::string stream = receive(events, 2000, "UMD_1");
    EXPECT_NE(stream.find("CAF\xef\xbf\xbd"), std::string::npos) << stream; // replaced, not dropped
    for (const char* path : {"/api/state", "/api/transcript", "/api/layout"}) {
        auto got = client->Get(path);
        ASSERT_TRUE(got) << path;
        EXPECT_EQ(got->status, 200) << path;
        EXPECT_TRUE(validJson(got->body)) << path;
    }
    EXPECT_FALSE(server->exited());
    close(events);
}

struct Intruder {
    const char* what;
    httplib::Headers headers;
    const char* contentType;
    int status;
};

TEST_F(PanelServerTest, OnlyThePanelsOwnPageCanAct) {
    start();
    std::string self = "http://127.0.0.1:" + std::to_string(server->port());
    const Intruder intruders[] = {
        {"a plain-text body", {}, "text/plain", 403},
        {"a form", {}, "application/x-www-form-urlencoded", 403},
        {"another site", {{"Origin", "http://evil.example"}}, "application/json", 403},
        {"a local file", {{"Origin", "null"}}, "application/json", 403},
        {"another port", {{"Origin", "http://127.0.0.1:1"}}, "application/json", 403},
        {"a rebound name",
         {{"Host", "evil.example:" + std::to_string(server->port())}},
         "application/json",
         403},
        {"the page itself", {{"Origin", self}}, "application/json", 200},
        {"localhost",
         {{"Host", "localhost:" + std::to_string(server->port())}},
         "application/json",
         200},
        {"no Origin (curl)", {}, "application/json; charset=utf-8", 200},
    };
    for (const Intruder& i : intruders) {
        auto got =
            client->Post("/api/press", i.headers, json{{"control", "OS_1"}}.dump(), i.contentType);
        ASSERT_TRUE(got) << i.what;
        EXPECT_EQ(got->status, i.status) << i.what << ": " << got->body;
        EXPECT_TRUE(json::parse(got->body).contains(i.status == 200 ? "state" : "error"))
            << got->body;
    }
    // Nothing refused reached the script: only the three allowed presses did.
    auto transcript = json::parse(client->Get("/api/transcript")->body);
    int presses = 0;
    for (const auto& line : transcript["lines"])
        presses += line.get<std::string>() == "host> control 1 OS_1 button=pressed";
    EXPECT_EQ(presses, 3);
}

TEST_F(PanelServerTest, OffLoopbackATokenIsNeeded) {
    start({"--bind", "0.0.0.0"});
    std::string log = server->log();
    size_t at = log.find("?token=");
    ASSERT_NE(at, std::string::npos) << log;
    std::string token = log.substr(at + 7, 32);
    EXPECT_EQ(token.find_first_not_of("0123456789abcdef"), std::string::npos) << token;
    EXPECT_EQ(client->Get("/api/state")->status, 401);
    EXPECT_EQ(client->Get("/api/state", {{"X-Panel-Token", "wrong"}})->status, 401);
    EXPECT_EQ(client->Get("/api/state", {{"X-Panel-Token", token}})->status, 200);
    EXPECT_EQ(press("OS_1", {{"X-Panel-Token", token}})->status, 200);
    EXPECT_EQ(client->Get("/index.html")->status, 200); // the page itself is no secret
    int events = connectTo(server->port());
    sendText(events, "GET /events?token=" + token + " HTTP/1.1\r\nHost: 127.0.0.1:" +
                         std::to_string(server->port()) + "\r\n\r\n");
    EXPECT_NE(receive(events, 1000, "event: hello").find("event: hello"), std::string::npos);
    close(events);
}

TEST_F(PanelServerTest, FiftyStreamsAndTwentySlowSendersDoNotDelayAPress) {
    start();
    std::string host = "Host: 127.0.0.1:" + std::to_string(server->port()) + "\r\n";
    std::vector<int> streams, slow;
    for (int i = 0; i < 50; ++i) {
        int fd = connectTo(server->port());
        sendText(fd, "GET /events HTTP/1.1\r\n" + host + "\r\n");
        streams.push_back(fd);
    }
    for (int fd : streams)
        ASSERT_NE(receive(fd, 2000, "event: hello").find("event: hello"), std::string::npos);
    // From addresses of their own, so that they stay within the limit per address.
    for (int i = 0; i < 20; ++i) {
        int fd = connectTo(server->port(), i % 2 ? "127.0.0.2" : "127.0.0.3");
        sendText(fd, "POST /api/press HTTP/1.1\r\n"); // and then nothing more for now
        slow.push_back(fd);
    }
    std::vector<long long> took;
    for (int i = 0; i < 5; ++i) {
        auto begin = Clock::now();
        auto got = press(i % 2 ? "OS_1" : "OS_2");
        took.push_back(
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - begin).count());
        ASSERT_TRUE(got);
        EXPECT_EQ(got->status, 200);
    }
    std::sort(took.begin(), took.end());
    EXPECT_LT(took[2], 100) << "median press time in ms";
    EXPECT_EQ(state()["streams"], 50);
    // Closed clients let go of their workers within about a second.
    for (int fd : streams)
        close(fd);
    auto closedAt = Clock::now();
    while (state()["streams"] != 0 && Clock::now() - closedAt < std::chrono::seconds(3))
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(state()["streams"], 0);
    EXPECT_LT(Clock::now() - closedAt, std::chrono::milliseconds(1000));
    for (int fd : slow)
        close(fd);
}

TEST_F(PanelServerTest, TooManyStreamsAreRefusedNotQueued) {
    start();
    std::string request =
        "GET /events HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(server->port()) + "\r\n\r\n";
    std::vector<int> streams;
    for (int i = 0; i < 64; ++i) {
        streams.push_back(connectTo(server->port()));
        sendText(streams.back(), request);
        receive(streams.back(), 2000, "event: hello");
    }
    int extra = connectTo(server->port());
    sendText(extra, request);
    EXPECT_NE(receive(extra, 2000, "\r\n").find("503"), std::string::npos);
    EXPECT_EQ(press("OS_1")->status, 200);
    close(extra);
    for (int fd : streams)
        close(fd);
}

TEST_F(PanelServerTest, SigtermStopsItWithinASecondWithClientsAttached) {
    start();
    std::string host = "Host: 127.0.0.1:" + std::to_string(server->port()) + "\r\n";
    std::vector<int> clients;
    for (int i = 0; i < 10; ++i) {
        clients.push_back(connectTo(server->port()));
        sendText(clients.back(), "GET /events HTTP/1.1\r\n" + host + "\r\n");
    }
    for (int i = 0; i < 5; ++i) {
        clients.push_back(connectTo(server->port()));
        sendText(clients.back(), "POST /api/press HTTP/1.1\r\n"); // a request half sent
    }
    ASSERT_EQ(press("OS_1")->status, 200); // a kept-alive connection too
    long long stopping = server->stop().count();
    std::cout << "stopped in " << stopping << " ms\n";
    EXPECT_LT(stopping, 1000);
    EXPECT_EQ(server->exitStatus(), 0);
    for (int fd : clients)
        close(fd);
}

// An operator's session, recorded as it goes and completed on SIGTERM, replays
// green on the library it was made with and red on one that routes elsewhere.
TEST_F(PanelServerTest, ARecordedSessionReplaysGreenAndTurnsRedOnAChangedLibrary) {
    std::string recording = folder + "/session.scenario";
    start({"--record", recording});
    auto pick = [&](const std::string& control, const std::string& value) {
        return client->Post("/api/pick", json{{"control", control}, {"value", value}}.dump(),
                            "application/json");
    };
    ASSERT_EQ(press("OS_4")->status, 200);
    ASSERT_EQ(pick("SourceSel", "17")->status, 200);
    std::this_thread::sleep_for(std::chrono::milliseconds(1300)); // Take flashes meanwhile
    ASSERT_EQ(press("Take")->status, 200);
    ASSERT_EQ(client
                  ->Post("/api/route", json{{"destination", 12}, {"source", 3}}.dump(),
                         "application/json")
                  ->status,
              200);
    ASSERT_EQ(
        client->Post("/api/parameter", json{{"message", "return=all"}}.dump(), "application/json")
            ->status,
        200);
    auto saved = client->Get("/api/scenario");
    ASSERT_TRUE(saved);
    EXPECT_EQ(saved->status, 200);
    EXPECT_NE(saved->body.find("press OS_4\n"), std::string::npos) << saved->body;
    server->stop();

    std::ifstream in(recording, std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    for (const char* line :
         {"press OS_4\nexpect TP 'statesheet=KTSourceSelected' '1' 'OS_4'\n", "pick SourceSel 17\n",
          "expect RC 5 17 194 ',2' 0\n", "expect TP 'statesheet=KT_TakeLow' '1' 'Take'\n",
          "route 12 3\nexpect TP 'text=MIC 3' '1' 'UMD_1'\n", "param return=all\n",
          "# End of the recorded session.\n"})
        EXPECT_NE(text.find(line), std::string::npos) << line << "\n" << text;
    EXPECT_EQ(text.rfind(saved->body, 0), 0u) << "the page's text is the file's";

    ShellResult green =
        shell(std::string(PANEL_HOST) + " run " + PELDAN_LIBRARY_PATH + " " + recording,
              folder + "/green.log");
    EXPECT_EQ(green.status, 0) << green.output;
    ShellResult red =
        shell(std::string(PANEL_HOST) + " run " + PLANTED_DIVERGENCE + " " + recording,
              folder + "/red.log");
    EXPECT_EQ(red.status, 1) << red.output;
    EXPECT_NE(red.output.find("FAILED " + recording), std::string::npos) << red.output;

    ShellResult unwritable = shell(std::string(PANEL_HOST) + " serve " + PELDAN_LIBRARY_PATH +
                                       " --port " + std::to_string(freeLoopbackPort()) +
                                       " --record " + folder + "/no/such/folder/x.scenario",
                                   folder + "/bad.log");
    EXPECT_EQ(unwritable.status, 2) << unwritable.output;
    EXPECT_NE(unwritable.output.find("--record: cannot write"), std::string::npos)
        << unwritable.output;
}

// A recording that cannot reach its file is never lost without a word: its
// first line (the header) already fails, so serve refuses to start.
TEST_F(PanelServerTest, HostileRecordingOnAFullDiskIsRefusedAtStart) {
    ShellResult full =
        shell(std::string(PANEL_HOST) + " serve " + PELDAN_LIBRARY_PATH + " --port " +
                  std::to_string(freeLoopbackPort()) + " --record /dev/full",
              folder + "/full.log");
    EXPECT_EQ(full.status, 2) << full.output;
    EXPECT_NE(full.output.find("--record: cannot write /dev/full"), std::string::npos)
        << full.output;
}

// Numbers past 32 bits are refused, not wrapped (2^64 - 1 would be -1).
// Past 32 bits, or outside what a scenario takes (a recording must replay).
TEST_F(PanelServerTest, HostileRouteNumberPast32BitsOrOutOfRangeIsRefused) {
    start();
    for (const char* body :
         {R"({"destination":18446744073709551615,"source":1})",
          R"({"destination":2147483648,"source":1})", R"({"destination":12,"source":-2147483649})",
          R"({"destination":-12,"source":3})", R"({"destination":0,"source":5})",
          R"({"destination":12,"source":-3})"})
        EXPECT_EQ(client->Post("/api/route", body, "application/json")->status, 400) << body;
    EXPECT_EQ(
        client->Post("/api/route", R"({"destination":12,"source":3})", "application/json")->status,
        200);
}

TEST_F(PanelServerTest, APortInUseIsAnError) {
    start();
    ShellResult second = shell(std::string(PANEL_HOST) + " serve " + PELDAN_LIBRARY_PATH +
                                   " --port " + std::to_string(server->port()),
                               folder + "/second.log");
    EXPECT_EQ(second.status, 2) << second.output;
    EXPECT_NE(second.output.find("the port is in use"), std::string::npos) << second.output;
}

TEST_F(PanelServerTest, BodiesAreBoundedChunkedOrNot) {
    start();
    std::string big(100 * 1024, ' ');
    auto plain = client->Post("/api/press", big, "application/json");
    ASSERT_TRUE(plain);
    EXPECT_EQ(plain->status, 413);
    // Chunked: 20 MiB offered, refused long before the end.
    int fd = connectTo(server->port());
    sendText(fd, "POST /api/press HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(server->port()) +
                     "\r\nContent-Type: application/json\r\nTransfer-Encoding: chunked\r\n\r\n");
    std::string chunk(64 * 1024, 'x');
    char size[32];
    std::snprintf(size, sizeof size, "%zx\r\n", chunk.size());
    for (int i = 0; i < 320 && sendText(fd, size + chunk + "\r\n"); ++i) {
    }
    EXPECT_NE(receive(fd, 2000, "\r\n").find("413"), std::string::npos);
    close(fd);
    EXPECT_EQ(press("OS_1")->status, 200);
}

TEST_F(PanelServerTest, ControlsThePanelDoesNotHaveAreRefusedAndCreateNothing) {
    start();
    auto pick = client->Post("/api/pick", json{{"control", "Invented"}, {"value", "1"}}.dump(),
                             "application/json");
    EXPECT_EQ(pick->status, 404);
    EXPECT_EQ(json::parse(pick->body)["error"], "no control 'Invented' on panel 1");
    auto event = client->Post("/api/event",
                              json{{"panel", "2"}, {"control", "Take"}, {"message", "x=1"}}.dump(),
                              "application/json");
    EXPECT_EQ(event->status, 404);
    EXPECT_EQ(press("Takee")->status, 404);
    EXPECT_FALSE(state()["controls"].contains("Invented"));
    EXPECT_FALSE(state()["controls"].contains("Takee"));
}

// A step the recording cannot write as one line is refused before the
// script sees it, so the recording always replays what the panel did.
TEST_F(PanelServerTest, HostileStepsWithALineBreakAreRefusedBeforeTheScriptSeesThem) {
    start();
    auto before = state()["version"];
    const std::vector<std::pair<std::string, json>> steps = {
        {"/api/event", json{{"panel", "1"}, {"control", "Take"}, {"message", "x=1\nclose"}}},
        {"/api/event", json{{"panel", "1"}, {"control", "Take"}, {"message", "x=1\r"}}},
        {"/api/parameter", json{{"message", "myParam=a\nb"}}},
        {"/api/pick", json{{"control", "SourceSel"}, {"value", std::string("3\0", 2)}}}};
    for (const auto& [path, body] : steps) {
        auto answer = client->Post(path, body.dump(), "application/json");
        ASSERT_TRUE(answer) << path;
        EXPECT_EQ(answer->status, 400) << body.dump();
    }
    EXPECT_EQ(state()["version"], before) << "nothing was performed";
    auto good = client->Post("/api/event",
                             json{{"panel", "1"}, {"control", "Take"}, {"message", "x=1"}}.dump(),
                             "application/json");
    EXPECT_EQ(good->status, 200);
}

// Framing two peers could read apart (two lengths, a length beside chunks,
// two hosts) and a repeated header the guard reads are refused, the
// connection closed, and nothing is run: no request pipelined behind them either.
TEST_F(PanelServerTest, HostileRepeatedOrConflictingFramingIsRefusedAndClosed) {
    start();
    const std::string host = "Host: 127.0.0.1:" + std::to_string(server->port()) + "\r\n";
    const std::string body = R"({"control":"Take"})";
    const std::string json = "Content-Type: application/json\r\n";
    const std::string length = "Content-Length: " + std::to_string(body.size()) + "\r\n";
    const std::string pipelined =
        "POST /api/press HTTP/1.1\r\n" + host + json + length + "\r\n" + body;
    const std::string requests[] = {
        "POST /api/press HTTP/1.1\r\n" + host + json + length + "Content-Length: 5\r\n\r\n" + body,
        "POST /api/press HTTP/1.1\r\n" + host + json + length +
            "Transfer-Encoding: chunked\r\n\r\n" + body,
        "POST /api/press HTTP/1.1\r\n" + host + "Host: evil.example\r\n" + json + length + "\r\n" +
            body,
        "POST /api/press HTTP/1.1\r\n" + host + json + json + length + "\r\n" + body,
        "GET /api/state HTTP/1.1\r\n" + host + "X-Panel-Token: a\r\nX-Panel-Token: b\r\n\r\n",
    };
    auto before = state()["lines"];
    for (const std::string& request : requests) {
        int fd = connectTo(server->port());
        ASSERT_GE(fd, 0);
        sendText(fd, request + pipelined);
        std::string got;
        bool closed = readFor(fd, 2000, "", got);
        close(fd);
        EXPECT_EQ(got.rfind("HTTP/1.1 400", 0), 0u) << request << "\n" << got;
        EXPECT_EQ(got.find("HTTP/1.1 200"), std::string::npos) << "the pipelined one ran";
        if (request.rfind("POST", 0) == 0)
            EXPECT_TRUE(closed) << request;
    }
    EXPECT_EQ(state()["lines"], before) << "nothing was performed";
}

TEST_F(PanelServerTest, TheTranscriptComesInPages) {
    start();
    for (int i = 0; i < 30; ++i)
        press(i % 2 ? "OS_1" : "OS_2");
    json whole = json::parse(client->Get("/api/transcript?limit=2000")->body);
    size_t end = whole["end"];
    ASSERT_GT(end, 60u);
    json first = json::parse(client->Get("/api/transcript?since=0&limit=10")->body);
    EXPECT_EQ(first["lines"].size(), 10u);
    EXPECT_EQ(first["next"], 10);
    json tail = json::parse(client->Get("/api/transcript?tail=5")->body);
    EXPECT_EQ(tail["from"], end - 5);
    EXPECT_EQ(tail["lines"][4], whole["lines"][end - 1]);
    json capped = json::parse(client->Get("/api/transcript?limit=999999999")->body);
    EXPECT_LE(capped["lines"].size(), 2000u);
}

long long residentKiB(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stoll(line.substr(6));
    return -1;
}

TEST_F(PanelServerTest, TwentyThousandRequestsLeaveMemoryFlat) {
#if defined(SANITIZER_OWNS_MALLOC)
    GTEST_SKIP() << "freed memory stays resident in the sanitizer's quarantine";
#endif
    start();
    auto mixed = [&](int count) {
        for (int i = 0; i < count; ++i) {
            switch (i % 4) {
            case 0:
                press(i % 8 ? "Clear" : "OS_1");
                break;
            case 1:
                client->Post("/api/pick",
                             json{{"control", "X" + std::to_string(i)}, {"value", "1"}}.dump(),
                             "application/json");
                break;
            case 2:
                client->Get("/api/state");
                break;
            default:
                client->Get("/api/transcript?tail=50");
            }
        }
    };
    mixed(2000);
    long long before = residentKiB(server->pid());
    mixed(18000);
    long long after = residentKiB(server->pid());
    ASSERT_GT(before, 0);
    std::cout << "resident " << before << " KiB after 2,000 requests, " << after
              << " KiB after 20,000\n";
    EXPECT_LT(after - before, 4 * 1024) << before << " KiB before, " << after << " KiB after";
    EXPECT_LT(state().dump().size(), 16u * 1024) << "the state does not grow with requests";
}

} // namespace
