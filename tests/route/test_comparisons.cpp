// The comparisons a script makes, as its route sees them once asked: both
// operands of the string library's comparisons and number readings on either
// route, and on the DLL the panel's own `cmp`s too. Built twice: on PELDAN.so
// (route_tests) and on PELDAN.dll (emulated_dll_tests).
#include "open_script_route.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

namespace {

// Answers the start-up's device look-ups; the rest is of no interest here.
class DeviceHost : public ScriptHostSide {
  public:
    std::optional<HostReply> onCommand(const std::optional<std::string>& text) override {
        if (text && text->rfind("SD ", 0) == 0)
            return HostReply{text->find("Router") != std::string::npos ? "7" : "5", true};
        return std::nullopt;
    }
    void onReplyLent(ScriptAddress, const std::string&) override {}
    bool onHandBack(ScriptAddress) override { return true; }
    void onOtherType(int) override {}
    void onDebugOutput(const std::string&) override {}
    void onRouteBreach(const std::string&) override {}
};

bool holds(const std::vector<Comparison>& seen, Comparison::Kind kind, const std::string& left,
           const std::string& right) {
    return std::any_of(seen.begin(), seen.end(), [&](const Comparison& c) {
        return c.kind == kind && c.left == left && c.right == right;
    });
}

TEST(RouteComparisons, BothOperandsOnceAskedEachOperandBoundedNoneAlreadySatisfied) {
    const std::string library = LIBRARY_UNDER_TEST;
    const bool emulated = library.size() > 4 && library.substr(library.size() - 4) == ".dll";
    std::string error;
    std::unique_ptr<ScriptRoute> route = openScriptRoute(library, error);
    ASSERT_TRUE(route) << error;
    DeviceHost host;
    bool created = false;
    ASSERT_TRUE(route->load(host, created).ok());
    ASSERT_TRUE(created);
    ASSERT_TRUE(route->controlEvent("1", "OS_3", "button=pressed").ok());
    EXPECT_TRUE(route->takeComparisons().empty()) << "logged before anyone asked";

    ASSERT_TRUE(route->logCompares());
    std::optional<ScriptReply> reply;
    ASSERT_TRUE(route->controlEvent("1", "OS_3", "button=pressed").ok());
    ASSERT_TRUE(route->controlEvent("1", "Take", "button=pressed").ok());
    ASSERT_TRUE(route->parameter(std::string(200, 'k') + "=v", reply).ok());
    ASSERT_TRUE(route->revertive(5, 12, "not the router").ok());
    std::vector<Comparison> seen = route->takeComparisons();

    EXPECT_TRUE(holds(seen, Comparison::prefix, "Take", "OS_"));
    // "OS_3" has the prefix already: nothing to learn, not kept; nor the
    // panel number "1", which equals the panel's 1.
    EXPECT_FALSE(holds(seen, Comparison::prefix, "OS_3", "OS_"));
    EXPECT_TRUE(holds(seen, Comparison::conversion, "OS_3", "3"));
    EXPECT_TRUE(holds(seen, Comparison::equal, "OS_3", "GrpSelect"));
    EXPECT_TRUE(holds(seen, Comparison::equal, std::string(Comparison::maxOperand, 'k'), "return"));
    EXPECT_FALSE(holds(seen, Comparison::equal, "1", "1"));
    for (const Comparison& c : seen)
        EXPECT_TRUE(c.left.size() <= Comparison::maxOperand &&
                    c.right.size() <= Comparison::maxOperand);
    if (emulated) // the panel's own compare of the device with the router's
        EXPECT_TRUE(holds(seen, Comparison::number, "5", "7"));
    EXPECT_TRUE(route->takeComparisons().empty()) << "a take empties the log";
    EXPECT_TRUE(route->destroy().ok());
}

} // namespace
