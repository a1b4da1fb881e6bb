// The parts of panel-host serve that decide without a socket: who may act,
// what the transcript keeps, and what the page's summary line says.
#include "host_command.h"
#include "panel_summary.h"
#include "request_guard.h"
#include "transcript_buffer.h"

#include <gtest/gtest.h>

namespace {

struct GuardCase {
    const char* what;
    const char* method;
    const char* path;
    std::optional<std::string> host, origin, type, token;
    int status;
};

TEST(RequestGuard, LetsOnlyThePanelsOwnPageAct) {
    RequestGuard open({"127.0.0.1"}, 8080, "");
    RequestGuard locked({"127.0.0.1", "192.168.1.5"}, 8080, "secret");
    const std::optional<std::string> none;
    const std::string json = "application/json";
    const GuardCase cases[] = {
        {"state from the page", "GET", "/api/state", "127.0.0.1:8080", none, none, none, 0},
        {"by name", "GET", "/api/state", "LOCALHOST:8080", none, none, none, 0},
        {"no Host", "GET", "/api/state", none, none, none, none, 403},
        {"a rebound name", "GET", "/", "evil.example:8080", none, none, none, 403},
        {"the wrong port", "GET", "/", "127.0.0.1:9090", none, none, none, 403},
        {"a press", "POST", "/api/press", "127.0.0.1:8080", "http://127.0.0.1:8080", json, none, 0},
        {"charset", "POST", "/api/press", "127.0.0.1:8080", none, "Application/JSON; charset=utf-8",
         none, 0},
        {"text", "POST", "/api/press", "127.0.0.1:8080", none, "text/plain", none, 403},
        {"no type", "POST", "/api/press", "127.0.0.1:8080", none, none, none, 403},
        {"json-ish", "POST", "/api/press", "127.0.0.1:8080", none, "application/jsonp", none, 403},
        {"another site", "POST", "/api/press", "127.0.0.1:8080", "http://evil.example", json, none,
         403},
        {"a file", "POST", "/api/press", "127.0.0.1:8080", "null", json, none, 403},
        {"https", "POST", "/api/press", "127.0.0.1:8080", "https://127.0.0.1:8080", json, none,
         403},
        {"preflight", "OPTIONS", "/api/press", "127.0.0.1:8080", "http://evil.example", none, none,
         403},
    };
    for (const GuardCase& c : cases)
        EXPECT_EQ(open.check(c.method, c.path, c.host, c.origin, c.type, c.token).status, c.status)
            << c.what;
    EXPECT_EQ(locked.check("GET", "/api/state", "192.168.1.5:8080", none, none, none).status, 401);
    EXPECT_EQ(locked.check("GET", "/events", "192.168.1.5:8080", none, none, "nope").status, 401);
    EXPECT_EQ(locked.check("GET", "/events", "192.168.1.5:8080", none, none, "secret").status, 0);
    EXPECT_EQ(locked.check("GET", "/app.js", "192.168.1.5:8080", none, none, none).status, 0);
    EXPECT_EQ(locked
                  .check("POST", "/api/press", "192.168.1.5:8080", "http://192.168.1.5:8080", json,
                         "secret")
                  .status,
              0);
    EXPECT_TRUE(isLoopback("127.0.0.2"));
    EXPECT_FALSE(isLoopback("0.0.0.0"));
    EXPECT_EQ(newToken().size(), 32u);
    EXPECT_NE(newToken(), newToken());
}

TEST(TranscriptBuffer, KeepsABudgetOfBytesAndNumbersLinesFromTheStart) {
    TranscriptBuffer buffer;
    std::string line(1000, 'x');
    size_t lines = 2 * TranscriptBuffer::maxBytes / line.size();
    for (size_t i = 0; i < lines; ++i)
        buffer.add(line);
    EXPECT_EQ(buffer.end(), lines);
    EXPECT_GT(buffer.first(), 0u);
    EXPECT_LE((buffer.end() - buffer.first()) * line.size(), TranscriptBuffer::maxBytes);
    TranscriptBuffer::Page old = buffer.page(0, 10, 1 << 20);
    EXPECT_EQ(old.from, buffer.first()); // lines no longer kept start the page at the oldest
    EXPECT_EQ(old.lines.size(), 10u);
    TranscriptBuffer::Page small = buffer.page(buffer.first(), 1000, 5500);
    EXPECT_EQ(small.lines.size(), 5u); // the byte limit
    EXPECT_TRUE(buffer.page(buffer.end() + 5, 10, 1 << 20).lines.empty());
    buffer.add(std::string(20000, 'y'));
    std::string cut = buffer.page(buffer.end() - 1, 1, 1 << 20).lines[0];
    EXPECT_EQ(cut.substr(TranscriptBuffer::maxLineBytes), " [11808 more bytes]");
}

class Summary : public ::testing::Test {
  protected:
    void SetUp() override {
        PanelLayout layout;
        std::string error;
        ASSERT_TRUE(readPanelLayout(PELDAN_LAYOUT_PATH, layout, error)) << error;
        studio.applyLayout(layout);
    }
    void send(const std::string& text) {
        std::string why;
        std::optional<HostCommand> command = parseHostCommand(text, why);
        ASSERT_TRUE(command) << why;
        studio.execute(*command);
    }
    Studio studio;
};

TEST_F(Summary, SaysWhatTheScriptHasChosen) {
    send("CD '1' 'Take'"); // as the panel starts
    EXPECT_EQ(panelSummary(studio, ""), "no feed chosen");
    send("TP 'statesheet=KTSourceSelected' '1' 'OS_3'");
    studio.control("SourceSel").operatorPick = "17";
    send("CE '1' 'Take'");
    EXPECT_EQ(panelSummary(studio, ""), "OS 3 \u2190 OS 2 \u00b7 Take armed");
    send("CD '1' 'Take'");
    EXPECT_EQ(panelSummary(studio, ""),
              "OS 3 \u2190 OS 2 \u00b7 flash expired: pick the source again to arm Take");
    // The script resets the list after a take: no source is chosen any more.
    send("TP 'index=0' '1' 'SourceSel'");
    send("TP 'statesheet=KTSourceDeselected' '1' 'OS_3'");
    std::string take = takeOf("script> RC 5 17 193 ',2' 0");
    EXPECT_EQ(take, "source 17 to destination 193");
    EXPECT_EQ(panelSummary(studio, take),
              "no feed chosen \u00b7 last take: source 17 to destination 193");
    EXPECT_EQ(panelSelection(studio).source, "");
    EXPECT_EQ(takeOf("script> TP 'x' '1' 'y'"), "");
    EXPECT_EQ(takeOf("script> RC 5"), "");
}

} // namespace
