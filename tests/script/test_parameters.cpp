// The component parameters: set, read back, and the component's description.
#include "panel_fixture.h"

namespace {

class ParameterTest : public PanelTest {
  protected:
    std::string send(const char* text) { return host.sendParameter(*panel, text); }
    void TearDown() override {
        EXPECT_TRUE(host.commands().empty()) << "parameters send no commands";
        PanelTest::TearDown();
    }
};

TEST_F(ParameterTest, EveryKeyAnswersAsItsRowSays) {
    const std::vector<std::pair<const char*, std::string>> steps = {
        {"return=all", "myParam="},
        {"return=myParam", "myParam="},
        {"myParam=abc", "<null>"},
        {"return=all", "myParam=abc"},
        {"return=myParam", "myParam=abc"},
        {"return", "<null>"},
        {"return=", "<null>"},
        {"return=other", "<null>"},
        {"return=ALL", "<null>"},
        {"_events", "notify=*"},
        {"_events=anything", "notify=*"},
        {"_commands=x.y", "myParam=[value]"},
        {"instance=A", "<null>"},
        {"instance=A", "<null>"},
        {"unknown=1", "<null>"},
        {"", "<null>"},
        {"return.all", "<null>"},
        {"myParam.sub.parts=dotted", "<null>"},
        {"return=all", "myParam=dotted"},
        {"myParam=v=1.2", "<null>"},
        {"return=myParam", "myParam=v=1.2"},
        {"myParam", "<null>"},
        {"return=all", "myParam="},
    };
    for (const auto& [message, reply] : steps)
        EXPECT_EQ(send(message), reply) << message;
}

TEST_F(ParameterTest, ANullMessageGetsNoReply) {
    void* reply = panel->callback(nullptr, 3);
    EXPECT_EQ(reply, nullptr);
}

} // namespace
