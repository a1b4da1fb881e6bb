// The panel's start-up and teardown, through the export as a host calls it.
#include "panel_fixture.h"
#include "script_memory.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

namespace {

const Commands startupWithDevices = {"PS '1' 'PELDAN.vesk_ui'",
                                     "CD '1' 'Take'",
                                     "TP 'button.001=released' '1' 'GrpSelect'",
                                     "SD 'DUD VESK Packager'",
                                     "SD 'DUD Audio Router'",
                                     "RR 7 12 21",
                                     "RP 7 12 21"};

TEST(Startup, SendsTheSevenCommandsInOrderThenTearsDown) {
    RecordingHost host;
    host.replyWithStudioDevices();
    vesk_client_callback* panel = load_vesk_client_script(&host, "");
    ASSERT_NE(panel, nullptr);
    EXPECT_EQ(host.takeCommands(), startupWithDevices);
    EXPECT_EQ(host.repliesGiven(), 2u);
    EXPECT_EQ(host.repliesOutstanding(), 0u);
    delete panel;
    EXPECT_EQ(host.takeCommands(), (Commands{"RU 7", "AS"}));
    EXPECT_TRUE(host.breaches().empty());
}

TEST(Startup, APathGoesInFrontOfTheLayoutFile) {
    RecordingHost host;
    vesk_client_callback* panel = load_vesk_client_script(&host, "/opt/panels/Studio_A");
    EXPECT_EQ(host.commands().front(), "PS '1' '/opt/panels/Studio_A/PELDAN.vesk_ui'");
    delete panel;
}

TEST(Startup, WithoutDeviceRepliesTheRouterIsDeviceZero) {
    RecordingHost host;
    vesk_client_callback* panel = load_vesk_client_script(&host, "");
    Commands sent = host.takeCommands();
    ASSERT_EQ(sent.size(), 7u);
    EXPECT_EQ(sent[5], "RR 0 12 21");
    EXPECT_EQ(sent[6], "RP 0 12 21");
    delete panel;
    EXPECT_EQ(host.takeCommands(), (Commands{"RU 0", "AS"}));
}

TEST(Startup, ANonNumericDeviceReplyGivesZero) {
    RecordingHost host;
    host.replyTo("SD 'DUD Audio Router'", "'router' 9");
    vesk_client_callback* panel = load_vesk_client_script(&host, "");
    EXPECT_EQ(host.takeCommands().back(), "RP 0 12 21");
    delete panel;
    EXPECT_EQ(host.repliesOutstanding(), 0u);
}

TEST(Startup, ANullHostSendsNothingAndNothingBreaks) {
    vesk_client_callback* panel = load_vesk_client_script(nullptr, "path");
    ASSERT_NE(panel, nullptr);
    ControlEvent press("1", "OS_3", "button=pressed");
    ControlEvent pick("1", "SourceSel", "index=4");
    Revertive label(0, 12, "X");
    panel->callback(press.data(), 2);
    panel->callback(pick.data(), 2);
    panel->callback(label.data(), 1);
    panel->callback(timerData(1), 4);
    void* reply = panel->callback(const_cast<char*>("_events"), 3);
    ASSERT_NE(reply, nullptr);
    panel->callback(reply, 5);
    delete panel;
}

TEST(Startup, NoMemoryForThePanelReturnsNullAndSendsNothing) {
    RecordingHost host;
    scriptFailAllocationsAfter(0);
    vesk_client_callback* panel = load_vesk_client_script(&host, "");
    scriptFailAllocationsAfter(-1);
    EXPECT_EQ(panel, nullptr);
    EXPECT_TRUE(host.commands().empty());
}

// The built library as a host loads it: by file name, through its one export.
TEST(Library, LoadsByFileNameAndRunsThroughTheExport) {
    void* library = dlopen(PELDAN_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr) << dlerror();
    using Load = vesk_client_callback* (*)(vesk_client_callback*, const char*);
    auto load = reinterpret_cast<Load>(dlsym(library, "load_vesk_client_script"));
    ASSERT_NE(load, nullptr);
    RecordingHost host;
    host.replyWithStudioDevices();
    vesk_client_callback* panel = load(&host, "");
    EXPECT_EQ(host.takeCommands(), startupWithDevices);
    delete panel;
    EXPECT_EQ(host.takeCommands(), (Commands{"RU 7", "AS"}));
    EXPECT_EQ(host.repliesOutstanding(), 0u);
    dlclose(library);
}

} // namespace
