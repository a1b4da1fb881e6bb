// A panel loaded through its export, with a recording host that knows the
// studio's two devices, and helpers to deliver what an operator does.
#ifndef PANEL_FIXTURE_H
#define PANEL_FIXTURE_H

#include "host_events.h"
#include "recording_host.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

extern "C" vesk_client_callback* load_vesk_client_script(vesk_client_callback* host,
                                                         const char* path);

using Commands = std::vector<std::string>;

class PanelTest : public ::testing::Test {
  protected:
    void SetUp() override {
        host.replyWithStudioDevices();
        panel = load_vesk_client_script(&host, "");
        ASSERT_NE(panel, nullptr);
        host.takeCommands();
    }
    void TearDown() override {
        delete panel;
        EXPECT_EQ(host.repliesOutstanding(), 0u);
        EXPECT_TRUE(host.breaches().empty());
    }

    Commands control(const std::string& id, const std::string& message,
                     const std::string& panelText = "1") {
        ControlEvent event(panelText, id, message);
        EXPECT_EQ(panel->callback(event.data(), 2), nullptr);
        return host.takeCommands();
    }
    Commands press(const std::string& id) { return control(id, "button=pressed"); }
    Commands pickSource(const std::string& value) { return control("SourceSel", "index=" + value); }
    Commands pickPage(const std::string& value) { return control("GrpSelect", "page=" + value); }
    Commands tick(int timerId = 1) {
        EXPECT_EQ(panel->callback(timerData(timerId), 4), nullptr);
        return host.takeCommands();
    }
    Commands revertive(int device, int index, const std::string& text) {
        Revertive record(device, index, text);
        EXPECT_EQ(panel->callback(record.data(), 1), nullptr);
        return host.takeCommands();
    }

    RecordingHost host;
    vesk_client_callback* panel = nullptr;
};

#endif
