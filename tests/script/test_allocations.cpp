// What each path allocates, counted in front of the C runtime's malloc.
#include "counting_allocator.h"
#include "host_events.h"
#include "script_fixture.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace {

// Takes commands without keeping or allocating anything.
class SilentHost : public vesk_client_callback {
  public:
    void* callback(void*, int) override {
        ++calls;
        return nullptr;
    }
    int calls = 0;
};

struct Path {
    const char* name;
    std::function<void(ProbeScript&)> run;
};

TEST(Allocations, NumericCommandsAllocateNothing) {
    SilentHost host;
    ProbeScript script(&host, "");
    const std::vector<Path> paths = {
        {"routerRegister", [](ProbeScript& s) { s.routerRegister(7, 12, 21, false); }},
        {"routerRegister add",
         [](ProbeScript& s) {
             s.routerRegister(-2147483647 - 1, -2147483647 - 1, 2147483647, true);
         }},
        {"routerPoll", [](ProbeScript& s) { s.routerPoll(7, 12, 21); }},
        {"routerUnregister", [](ProbeScript& s) { s.routerUnregister(7); }},
        {"timerStart", [](ProbeScript& s) { s.timerStart(1, 1000); }},
        {"timerStop", [](ProbeScript& s) { s.timerStop(1); }},
    };
    for (const Path& path : paths) {
        int callsBefore = host.calls;
        size_t before = allocationCount();
        path.run(script);
        EXPECT_EQ(allocationCount() - before, 0u) << path.name;
        EXPECT_EQ(host.calls - callsBefore, 1) << path.name;
    }
}

TEST(Allocations, TheCounterSeesTheStringLayer) {
    size_t before = allocationCount();
    vesk_string longText("a text longer than what a string keeps inside itself");
    EXPECT_GE(allocationCount() - before, 1u);
    size_t afterLong = allocationCount();
    vesk_string shortText("kept inside");
    EXPECT_EQ(allocationCount() - afterLong, 0u);
}

} // namespace
