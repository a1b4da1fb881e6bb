// The dispatcher: every type number, the type-3 reply buffer and hand-backs.
#include "host_events.h"
#include "recording_host.h"
#include "script_fixture.h"
#include "script_memory.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

using Calls = std::vector<std::string>;

TEST(Dispatcher, RoutesEveryHostTypeToItsHandler) {
    RecordingHost host;
    ProbeScript script(&host, "");
    Revertive revertive(7, 12, "MIC 1");
    ControlEvent event("1", "OS_3", "button.001=pressed");
    int opaque = 0;
    EXPECT_EQ(script.callback(revertive.data(), 1), nullptr);
    EXPECT_EQ(script.callback(event.data(), 2), nullptr);
    EXPECT_EQ(script.callback(timerData(1), 4), nullptr);
    EXPECT_EQ(script.callback(&opaque, 6), nullptr);
    EXPECT_EQ(script.callback(nullptr, 7), nullptr);
    EXPECT_EQ(script.calls, (Calls{"revertive 7 12 MIC 1", "control OS_3 button=pressed", "timer 1",
                                   "notify6", "notify7 null"}));
    EXPECT_TRUE(host.commands().empty());
}

TEST(Dispatcher, IgnoresTypesOutsideOneToSeven) {
    RecordingHost host;
    ProbeScript script(&host, "");
    char text[] = "PS '1' 'x'";
    for (int type : {0, 8, -1, 1000, -2147483647 - 1})
        EXPECT_EQ(script.callback(text, type), nullptr) << type;
    EXPECT_TRUE(script.calls.empty());
    EXPECT_TRUE(host.commands().empty());
    EXPECT_EQ(script.callback(nullptr, 5), nullptr);
}

TEST(Dispatcher, TimerIdIsTheIntegerValueOfData) {
    ProbeScript script(nullptr, "");
    script.callback(timerData(-3), 4);
    script.callback(timerData(2147483647), 4);
    EXPECT_EQ(script.calls, (Calls{"timer -3", "timer 2147483647"}));
}

TEST(Dispatcher, ParameterReplyIsABufferOfLengthPlusOne) {
    ProbeScript script(nullptr, "");
    script.reply = "myParam=abc";
    char* result = static_cast<char*>(script.callback(const_cast<char*>("return=all"), 3));
    ASSERT_NE(result, nullptr);
    EXPECT_EQ(std::strlen(result), script.reply.size());
    EXPECT_STREQ(result, "myParam=abc");
    EXPECT_EQ(script.callback(result, 5), nullptr);
    script.reply = "";
    EXPECT_EQ(script.callback(const_cast<char*>("x"), 3), nullptr);
    EXPECT_EQ(script.calls, (Calls{"parameter return=all", "parameter x="}));
}

TEST(Dispatcher, NullAndEmptyParameterTextsStillReachTheHandler) {
    ProbeScript script(nullptr, "");
    EXPECT_EQ(script.callback(nullptr, 3), nullptr);
    EXPECT_EQ(script.callback(const_cast<char*>(""), 3), nullptr);
    EXPECT_EQ(script.calls, (Calls{"parameter =", "parameter ="}));
}

TEST(Dispatcher, ControlEventsReachTheHandlerWhileAlarmHandlingIsOff) {
    ProbeScript script(nullptr, "");
    ControlEvent actionAll("1", "ActionAll", "alarm=ack");
    ControlEvent ackAll("1", "AckAll", "button=pressed");
    script.callback(actionAll.data(), 2);
    script.callback(ackAll.data(), 2);
    EXPECT_EQ(script.calls,
              (Calls{"control ActionAll alarm=ack", "control AckAll button=pressed"}));
}

TEST(Lifecycle, ConstructorStoresThePathAndSendsNothing) {
    RecordingHost host;
    {
        ProbeScript script(&host, "/panels/Studio_A");
        EXPECT_STREQ(script.path(), "/panels/Studio_A");
        EXPECT_TRUE(host.commands().empty());
    }
    EXPECT_EQ(host.commands(), (std::vector<std::string>{"AS"}));
}

class AllocationFailure : public ::testing::Test {
  protected:
    void TearDown() override { scriptFailAllocationsAfter(-1); }
};

TEST_F(AllocationFailure, AReplyBufferThatCannotBeMadeGivesNull) {
    ProbeScript script(nullptr, "");
    script.reply = "notify=*";
    scriptFailAllocationsAfter(1); // the message copy succeeds, the reply copy fails
    EXPECT_EQ(script.callback(const_cast<char*>("_events"), 3), nullptr);
    EXPECT_EQ(script.calls, (Calls{"parameter _events="}));
}

TEST_F(AllocationFailure, AMessageThatCannotBeCopiedIsDroppedNotMisread) {
    ProbeScript script(nullptr, "");
    script.reply = "ignored";
    scriptFailAllocationsAfter(0);
    EXPECT_EQ(script.callback(const_cast<char*>("myParam=abc"), 3), nullptr);
    EXPECT_TRUE(script.calls.empty());
}

} // namespace
