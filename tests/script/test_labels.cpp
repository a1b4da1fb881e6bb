// The destination labels fed by the audio router's revertives.
#include "panel_fixture.h"

namespace {

struct LabelCase {
    int device;
    int index;
    std::string text;
    Commands expected;
};

TEST_F(PanelTest, EachAudioRouterRevertiveWritesOneLabel) {
    const std::vector<LabelCase> cases = {
        {7, 12, "ABC", {"TP 'text=ABC' '1' 'UMD_1'"}},
        {7, 15, "MIC 4", {"TP 'text=MIC 4' '1' 'UMD_4'"}},
        {7, 21, "OS 9", {"TP 'text=OS 9' '1' 'UMD_10'"}},
        {7, 22, "x", {"TP 'text=x' '1' 'UMD_11'"}},
        {7, 11, "x", {"TP 'text=x' '1' 'UMD_0'"}},
        {7, 2, "x", {"TP 'text=x' '1' 'UMD_-9'"}},
        {7, -2147483647 - 1, "x", {"TP 'text=x' '1' 'UMD_2147483637'"}},
        {7, 12, "", {"TP 'text=' '1' 'UMD_1'"}},
        {7, 13, "it's a=b", {"TP 'text=it's a=b' '1' 'UMD_2'"}},
        {5, 12, "packager", {}},
        {0, 12, "device zero", {}},
        {-7, 12, "negative", {}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(revertive(c.device, c.index, c.text), c.expected) << c.device << "/" << c.index;
}

TEST_F(PanelTest, TwoRevertivesForOneDestinationKeepTheirOrder) {
    EXPECT_EQ(revertive(7, 14, "first"), Commands{"TP 'text=first' '1' 'UMD_3'"});
    EXPECT_EQ(revertive(7, 14, "second"), Commands{"TP 'text=second' '1' 'UMD_3'"});
}

TEST(Labels, WithoutARouterReplyDeviceZeroIsShown) {
    RecordingHost host;
    vesk_client_callback* panel = load_vesk_client_script(&host, "");
    host.takeCommands();
    Revertive zero(0, 20, "shown");
    Revertive seven(7, 20, "ignored");
    panel->callback(zero.data(), 1);
    panel->callback(seven.data(), 1);
    EXPECT_EQ(host.takeCommands(), Commands{"TP 'text=shown' '1' 'UMD_9'"});
    delete panel;
}

} // namespace
