// Opening a script library: the route is chosen from what the file is.
#include "open_script_route.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace {

TEST(ScriptRouteOpen, RefusesWhatIsNotALibrary) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"/nonexistent/PELDAN.so", "cannot load /nonexistent/PELDAN.so: no such file"},
        {"/tmp", "cannot load /tmp: not a regular file"},
        {PELDAN_LAYOUT_PATH, "cannot load " PELDAN_LAYOUT_PATH
                             ": not a panel script library of a kind this host runs"}};
    for (const auto& [path, message] : cases) {
        std::string error;
        EXPECT_EQ(openScriptRoute(path, error), nullptr) << path;
        EXPECT_EQ(error, message);
    }
}

} // namespace
