// Alarm actions, in a script that switches alarm handling on.
#include "debug_output.h"
#include "host_events.h"
#include "recording_host.h"
#include "script_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

using Commands = std::vector<std::string>;

class AlarmTest : public ::testing::Test {
  protected:
    void SetUp() override {
        setDebugOutputSink([](const char* t, void* l) { static_cast<Commands*>(l)->push_back(t); },
                           &debugLines);
        script.switchAlarmHandling(true);
        host.replyTo("XI '1' 'alm_'", "alm_1,alm_2");
    }
    void TearDown() override {
        setDebugOutputSink(nullptr, nullptr);
        EXPECT_EQ(host.repliesOutstanding(), 0u);
        EXPECT_TRUE(host.breaches().empty());
    }
    Commands event(const char* control, const char* message) {
        ControlEvent e("1", control, message);
        EXPECT_EQ(script.callback(e.data(), 2), nullptr);
        return host.takeCommands();
    }
    void values(const char* first, const char* second) {
        host.replyTo("TG '1' 'alm_1' 'value'", first);
        host.replyTo("TG '1' 'alm_2' 'value'", second);
    }
    RecordingHost host;
    ProbeScript script{&host, ""};
    Commands debugLines;
};

TEST_F(AlarmTest, AckAndFourReadValuesAndResetTheOnesOutOfRange) {
    values("value=1", "value=3");
    const Commands ackExpected = {"XI '1' 'alm_'",
                                  "TP 'alarm=ack' '1' 'alm_1'",
                                  "TG '1' 'alm_1' 'value'",
                                  "TP 'value=4' '1' 'alm_1'",
                                  "TP 'alarm=ack' '1' 'alm_2'",
                                  "TG '1' 'alm_2' 'value'"};
    EXPECT_EQ(event("ActionAll", "alarm=ack"), ackExpected);
    Commands fourExpected = ackExpected;
    fourExpected[1] = "TP 'alarm=4' '1' 'alm_1'";
    fourExpected[4] = "TP 'alarm=4' '1' 'alm_2'";
    EXPECT_EQ(event("ActionAll", "alarm=4"), fourExpected);
    EXPECT_EQ(event("AckAll", "anything.at.all=x"), fourExpected);
    EXPECT_TRUE(script.calls.empty());
}

TEST_F(AlarmTest, UnderLevelFourOnlyValuesOutsideZeroAndTwoToFiveAreReset) {
    const std::vector<std::pair<const char*, bool>> cases = {
        {"1", true},  {"6", true},  {"-1", true}, {"100", true}, {"0", false},
        {"2", false}, {"3", false}, {"4", false}, {"5", false}};
    for (const auto& [value, reset] : cases) {
        values((std::string("value=") + value).c_str(), "value=0");
        Commands sent = event("AckAll", "button=pressed");
        bool wrote = std::find(sent.begin(), sent.end(), "TP 'value=4' '1' 'alm_1'") != sent.end();
        EXPECT_EQ(wrote, reset) << value;
    }
}

TEST_F(AlarmTest, OtherLevelsWriteWithoutReading) {
    EXPECT_EQ(event("ActionAll", "alarm=7"),
              (Commands{"XI '1' 'alm_'", "TP 'alarm=7' '1' 'alm_1'", "TP 'value=7' '1' 'alm_1'",
                        "TP 'alarm=7' '1' 'alm_2'", "TP 'value=7' '1' 'alm_2'"}));
    EXPECT_EQ(
        event("ActionAll", "alarm=12"),
        (Commands{"XI '1' 'alm_'", "TP 'alarm=12' '1' 'alm_1'", "TP 'alarm=12' '1' 'alm_2'"}));
    EXPECT_EQ(event("ActionAll", "alarm="),
              (Commands{"XI '1' 'alm_'", "TP 'alarm=' '1' 'alm_1'", "TP 'alarm=' '1' 'alm_2'"}));
    EXPECT_EQ(event("ActionAll", "alarm=x"),
              (Commands{"XI '1' 'alm_'", "TP 'alarm=x' '1' 'alm_1'", "TP 'value=0' '1' 'alm_1'",
                        "TP 'alarm=x' '1' 'alm_2'", "TP 'value=0' '1' 'alm_2'"}));
}

TEST_F(AlarmTest, AReplyForAnotherPropertyReadsAsZeroAndIsReported) {
    values("colour=red", "");
    Commands sent = event("ActionAll", "alarm=ack");
    // Both read as 0 (the empty text), which is left alone.
    EXPECT_EQ(std::count(sent.begin(), sent.end(), "TP 'value=4' '1' 'alm_1'"), 0);
    ASSERT_EQ(debugLines.size(), 2u);
    EXPECT_NE(debugLines[0].find("value returned \"colour\""), std::string::npos);
    EXPECT_EQ(host.repliesGiven(), 3u); // XI and both TG, all handed back
}

TEST_F(AlarmTest, NoIdListSendsOnlyTheRequest) {
    host.forgetReplies();
    EXPECT_EQ(event("ActionAll", "alarm=ack"), Commands{"XI '1' 'alm_'"});
    host.replyTo("XI '1' 'alm_'", "");
    EXPECT_EQ(event("AckAll", "x=y"), Commands{"XI '1' 'alm_'"});
}

TEST_F(AlarmTest, OtherEventsStillReachTheScript) {
    EXPECT_TRUE(event("ActionAll", "press=1").empty());
    EXPECT_TRUE(event("Take", "alarm=ack").empty());
    EXPECT_EQ(script.calls, (Commands{"control ActionAll press=1", "control Take alarm=ack"}));
}

TEST(AlarmWithoutHost, SendsNothing) {
    ProbeScript script(nullptr, "");
    script.switchAlarmHandling(true);
    ControlEvent e("1", "AckAll", "x=y");
    EXPECT_EQ(script.callback(e.data(), 2), nullptr);
    EXPECT_TRUE(script.calls.empty());
}

} // namespace
