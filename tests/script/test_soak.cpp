// A million mixed notifications through one panel: no reply left out, and the
// memory in use at the end is what it was after the first round.
#include "host_events.h"
#include "vesk_client_callback.h"

#include <gtest/gtest.h>

#include <malloc.h>

#include <cstring>
#include <set>
#include <string>

extern "C" vesk_client_callback* load_vesk_client_script(vesk_client_callback* host,
                                                         const char* path);

namespace {

class CountingHost : public vesk_client_callback {
  public:
    void* callback(void* data, int type) override {
        if (type == 5) {
            ++handBacks;
            return nullptr;
        }
        ++commands;
        const char* text = static_cast<const char*>(data);
        if (std::strncmp(text, "SD ", 3) == 0)
            return const_cast<char*>(std::strstr(text, "Packager") ? "5" : "7");
        return nullptr;
    }
    long commands = 0;
    long handBacks = 0;
};

size_t bytesInUse() {
    return mallinfo2().uordblks;
}

// One round of the operator's and the studio's work: fifteen notifications.
void oneRound(vesk_client_callback* panel, int round) {
    ControlEvent feed("1", "OS_" + std::to_string(round % 8 + 1), "button=pressed");
    ControlEvent source("1", "SourceSel", "index=" + std::to_string(round % 48));
    ControlEvent page("1", "GrpSelect", "page=2");
    ControlEvent take("1", "Take", "button=pressed");
    ControlEvent clear("1", "Clear", "button=pressed");
    Revertive label(7, 12 + round % 10, "OS " + std::to_string(round % 8));
    panel->callback(feed.data(), 2);
    panel->callback(source.data(), 2);
    panel->callback(timerData(1), 4);
    panel->callback(timerData(1), 4);
    panel->callback(label.data(), 1);
    panel->callback(round % 2 ? take.data() : clear.data(), 2);
    panel->callback(page.data(), 2);
    panel->callback(timerData(3), 4);
    void* reply = panel->callback(const_cast<char*>("return=all"), 3);
    panel->callback(reply, 5);
    panel->callback(const_cast<char*>("myParam=soak"), 3);
    panel->callback(nullptr, 5);
    panel->callback(nullptr, 6);
    panel->callback(nullptr, 7);
    panel->callback(nullptr, 8);
    panel->callback(label.data(), 1);
}

TEST(Soak, AMillionNotificationsLeaveMemoryFlat) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the sanitizer's allocator keeps its own books";
#endif
    CountingHost host;
    vesk_client_callback* panel = load_vesk_client_script(&host, "");
    const int notificationsPerRound = 16;
    const int rounds = 1000000 / notificationsPerRound;
    oneRound(panel, 0);
    size_t settled = bytesInUse();
    for (int round = 1; round < rounds; ++round)
        oneRound(panel, round);
    size_t after = bytesInUse();
    delete panel;
    EXPECT_EQ(after, settled);
    EXPECT_GE(host.commands, 12L * rounds); // every round reached the panel and was answered
}

} // namespace
