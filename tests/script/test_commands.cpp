// Every command text the base builds, and every reply it reads.
#include "debug_output.h"
#include "recording_host.h"
#include "script_fixture.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace {

using Commands = std::vector<std::string>;

struct CommandCase {
    const char* what;
    std::function<void(ProbeScript&)> send;
    std::string expected;
};

class CommandTest : public ::testing::Test {
  protected:
    void TearDown() override {
        EXPECT_EQ(host.repliesOutstanding(), 0u);
        EXPECT_TRUE(host.breaches().empty());
    }
    RecordingHost host;
};

TEST_F(CommandTest, EachCommandTextIsExact) {
    const std::vector<CommandCase> cases = {
        {"panelShow without path", [](ProbeScript& s) { s.panelShow("1", "PELDAN.vesk_ui", ""); },
         "PS '1' 'PELDAN.vesk_ui'"},
        {"panelShow third field", [](ProbeScript& s) { s.panelShow("1", "f.ui", "extra"); },
         "PS '1' 'f.ui' 'extra'"},
        {"textPut four", [](ProbeScript& s) { s.textPut("text", "ABC", "1", "UMD_1"); },
         "TP 'text=ABC' '1' 'UMD_1'"},
        {"textPut three",
         [](ProbeScript& s) { s.textPut("button.001=released", "1", "GrpSelect"); },
         "TP 'button.001=released' '1' 'GrpSelect'"},
        {"textPut quote unescaped", [](ProbeScript& s) { s.textPut("text", "it's", "1", "a b"); },
         "TP 'text=it's' '1' 'a b'"},
        {"controlEnable", [](ProbeScript& s) { s.controlEnable("1", "Take"); }, "CE '1' 'Take'"},
        {"controlDisable", [](ProbeScript& s) { s.controlDisable("1", "Take"); }, "CD '1' 'Take'"},
        {"getDev", [](ProbeScript& s) { s.getDev("DUD Audio Router", nullptr, nullptr); },
         "SD 'DUD Audio Router'"},
        {"getIdList", [](ProbeScript& s) { s.getIdList("1", "alm_"); }, "XI '1' 'alm_'"},
        {"textGet",
         [](ProbeScript& s) {
             vesk_string r;
             s.textGet("value", "1", "alm_1", r);
         },
         "TG '1' 'alm_1' 'value'"},
        {"routerCrosspoint off", [](ProbeScript& s) { s.routerCrosspoint(5, 17, 193, "2", false); },
         "RC 5 17 193 ',2' 0"},
        {"routerCrosspoint on", [](ProbeScript& s) { s.routerCrosspoint(-1, 0, 7, "", true); },
         "RC -1 0 7 ',' 1"},
        {"routerRegister", [](ProbeScript& s) { s.routerRegister(7, 12, 21, false); },
         "RR 7 12 21"},
        {"routerRegister add", [](ProbeScript& s) { s.routerRegister(7, 12, 21, true); },
         "RR 7 12 21 'ADD'"},
        {"routerRegister longest",
         [](ProbeScript& s) {
             s.routerRegister(-2147483647 - 1, -2147483647 - 1, -2147483647 - 1, true);
         },
         "RR -2147483648 -2147483648 -2147483648 'ADD'"},
        {"routerPoll", [](ProbeScript& s) { s.routerPoll(7, 12, 21); }, "RP 7 12 21"},
        {"routerPoll long", [](ProbeScript& s) { s.routerPoll(-2147483647, 2147483647, -5); },
         "RP -2147483647 2147483647 -5"},
        {"routerUnregister", [](ProbeScript& s) { s.routerUnregister(0); }, "RU 0"},
        {"timerStart", [](ProbeScript& s) { s.timerStart(1, 1000); }, "ET 1 1000"},
        {"timerStart period 0", [](ProbeScript& s) { s.timerStart(1, 0); }, "ET 1"},
        {"timerStop", [](ProbeScript& s) { s.timerStop(4); }, "ET 4"},
    };
    ProbeScript script(&host, "");
    for (const auto& c : cases) {
        c.send(script);
        EXPECT_EQ(host.takeCommands(), Commands{c.expected}) << c.what;
    }
}

TEST_F(CommandTest, PanelShowPutsThePathAndASlashInFront) {
    ProbeScript script(&host, "C:\\panels\\");
    script.panelShow("1", "PELDAN.vesk_ui", "");
    EXPECT_EQ(host.takeCommands(), Commands{"PS '1' 'C:\\panels\\/PELDAN.vesk_ui'"});
}

TEST_F(CommandTest, PanelShowResultFollowsTheReply) {
    ProbeScript script(&host, "");
    EXPECT_FALSE(script.panelShow("1", "a.ui", ""));
    host.replyTo("PS '1' 'a.ui'", "ok");
    EXPECT_TRUE(script.panelShow("1", "a.ui", ""));
    // The "PS" reply is tested for null only: the host keeps it (TearDown checks no hand-back).
}

TEST(CommandsWithoutHost, SendNothingAndGiveTheQuietResults) {
    ProbeScript script(nullptr, "path");
    EXPECT_TRUE(script.panelShow("1", "a.ui", ""));
    int first = 3, second = 4;
    EXPECT_FALSE(script.getDev("x", &first, &second));
    EXPECT_EQ(first, 0);
    EXPECT_EQ(second, 0);
    vesk_stringlist ids = script.getIdList("1", "alm_");
    EXPECT_FALSE(ids.begin() != ids.end());
    vesk_string result("stale");
    script.textGet("value", "1", "c", result);
    EXPECT_STREQ(result, "");
    script.textPut("a", "b", "1", "c");
    script.routerRegister(1, 2, 3, true);
    script.timerStart(1, 1000);
}

struct DevCase {
    const char* reply; // null: no reply
    bool result;
    int first;
    int second;
};

TEST_F(CommandTest, GetDevReadsTwoNumbersAndHandsTheReplyBack) {
    const std::vector<DevCase> cases = {
        {"12 7", true, 12, 7},
        {"5", true, 5, 0},
        {"", true, 0, 0},
        {"'5' 6", true, 0, 5},
        {"x y", true, 0, 0},
        {" -3 +4", true, 0, -3},
        {"99999999999 -99999999999", true, 2147483647, -2147483647 - 1},
        {nullptr, false, 0, 0},
    };
    ProbeScript script(&host, "");
    for (const auto& c : cases) {
        RecordingHost caseHost;
        ProbeScript s(&caseHost, "");
        if (c.reply != nullptr)
            caseHost.replyTo("SD 'dev'", c.reply);
        int first = -9, second = -9;
        EXPECT_EQ(s.getDev("dev", &first, &second), c.result) << (c.reply ? c.reply : "null");
        EXPECT_EQ(first, c.first) << (c.reply ? c.reply : "null");
        EXPECT_EQ(second, c.second) << (c.reply ? c.reply : "null");
        EXPECT_EQ(caseHost.repliesOutstanding(), 0u);
        EXPECT_TRUE(caseHost.breaches().empty());
    }
    host.replyTo("SD 'dev'", "1 2");
    EXPECT_TRUE(script.getDev("dev", nullptr, nullptr));
}

TEST_F(CommandTest, GetIdListSplitsTheReply) {
    ProbeScript script(&host, "");
    host.replyTo("XI '1' 'alm_'", "alm_1,alm_2,,alm_4");
    vesk_stringlist ids = script.getIdList("1", "alm_");
    std::vector<std::string> got;
    for (vesk_stringlistIterator it = ids.begin(); it != ids.end(); ++it)
        got.push_back(static_cast<const char*>(*it));
    EXPECT_EQ(got, (std::vector<std::string>{"alm_1", "alm_2", "", "alm_4"}));
    EXPECT_EQ(host.repliesGiven(), 1u);
}

class TextGetTest : public CommandTest {
  protected:
    void SetUp() override { setDebugOutputSink(&TextGetTest::capture, &debugLines); }
    void TearDown() override {
        setDebugOutputSink(nullptr, nullptr);
        CommandTest::TearDown();
    }
    static void capture(const char* text, void* lines) {
        static_cast<std::vector<std::string>*>(lines)->push_back(text);
    }
    std::string get(const char* property, const char* reply) {
        RecordingHost* h = &host;
        ProbeScript script(h, "");
        std::string command = std::string("TG '1' 'ctl' '") + property + "'";
        host.forgetReplies();
        if (reply != nullptr)
            host.replyTo(command, reply);
        vesk_string result("stale");
        script.textGet(property, "1", "ctl", result);
        return static_cast<const char*>(result);
    }
    std::vector<std::string> debugLines;
};

TEST_F(TextGetTest, ReadsTheValueOfTheRequestedProperty) {
    EXPECT_EQ(get("value", "value=6"), "6");
    EXPECT_EQ(get("value", "value=a=b"), "a=b");
    EXPECT_EQ(get("all", "value=6 colour=red"), "value=6 colour=red");
    EXPECT_EQ(get("value", nullptr), "");
    EXPECT_TRUE(debugLines.empty());
}

TEST_F(TextGetTest, AMismatchWritesTheDiagnosticAndYieldsEmpty) {
    EXPECT_EQ(get("value", "Value=6"), "");
    ASSERT_EQ(debugLines.size(), 1u);
    EXPECT_EQ(debugLines[0],
              "textGet: value returned \"Value\" was not the value requested \"value\" (value "
              "returned was \"Value=6\" from control \"ctl\", on panel \"1\")");
    EXPECT_EQ(get("value", "novalue"), "");
    ASSERT_EQ(debugLines.size(), 2u);
    EXPECT_EQ(debugLines[1],
              "textGet: value returned \"novalue\" was not the value requested \"value\" (value "
              "returned was \"novalue\" from control \"ctl\", on panel \"1\")");
}

TEST(Debug, FillsNinePlaceholdersInOrder) {
    std::vector<std::string> lines;
    setDebugOutputSink(
        [](const char* t, void* l) { static_cast<std::vector<std::string>*>(l)->push_back(t); },
        &lines);
    ProbeScript script(nullptr, "");
    script.debug("%9%8%7%6%5%4%3%2%1", "a", "b", "c", "d", "e", "f", "g", "h", "i");
    setDebugOutputSink(nullptr, nullptr);
    EXPECT_EQ(lines, (std::vector<std::string>{"ihgfedcba"}));
}

} // namespace
