// The HTTP server's decisions that need no socket: each phase's deadline,
// what counts against an address, and which files of the page may be read.
#include "connection_watch.h"
#include "static_files.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using Clock = ConnectionWatch::Clock;
using std::chrono::milliseconds;
using std::chrono::seconds;

struct DeadlineCase {
    ConnectionPhase phase;
    long long cutAfterMs; // -1: never
    bool answered;        // a 408 goes out first
};

TEST(ConnectionWatch, EachPhaseHasItsOwnDeadlineAndIsCutOnce) {
    ServerLimits limits; // the defaults: 5 s headers, 10 s body, 5 s keep-alive
    const DeadlineCase cases[] = {
        {ConnectionPhase::idle, 5000, false},    {ConnectionPhase::headers, 5000, true},
        {ConnectionPhase::request, 10000, true}, {ConnectionPhase::stream, -1, false},
        {ConnectionPhase::closing, -1, false},
    };
    for (const DeadlineCase& c : cases) {
        ConnectionWatch watch(limits);
        Clock::time_point start = Clock::now();
        int token = 0;
        watch.opened(&token, 42, "10.0.0.1", start);
        watch.entered(&token, c.phase, start);
        std::vector<std::pair<int, bool>> cuts;
        auto cut = [&](int fd, bool answer) { cuts.push_back({fd, answer}); };
        long long at = c.cutAfterMs < 0 ? 3600 * 1000 : c.cutAfterMs;
        EXPECT_EQ(watch.cutOverdue(start + milliseconds(at - 1), cut), 0) << int(c.phase);
        int expected = c.cutAfterMs < 0 ? 0 : 1;
        EXPECT_EQ(watch.cutOverdue(start + milliseconds(at), cut), expected) << int(c.phase);
        EXPECT_EQ(watch.cutOverdue(start + milliseconds(at + 5000), cut), 0) << "cut only once";
        ASSERT_EQ(cuts.size(), static_cast<size_t>(expected));
        if (expected == 1) {
            EXPECT_EQ(cuts[0].first, 42);
            EXPECT_EQ(cuts[0].second, c.answered) << int(c.phase);
        }
    }
}

TEST(ConnectionWatch, AByteATimeDoesNotMoveTheDeadline) {
    ConnectionWatch watch(ServerLimits{});
    Clock::time_point start = Clock::now();
    int token = 0;
    watch.opened(&token, 7, "10.0.0.1", start);
    watch.entered(&token, ConnectionPhase::headers, start);
    int cuts = 0;
    // Nothing a client sends within a phase reaches the watch: only a new
    // phase does, so a trickle of header bytes is cut at five seconds.
    for (int tenth = 1; tenth <= 60; ++tenth)
        cuts += watch.cutOverdue(start + milliseconds(100 * tenth), [](int, bool) {});
    EXPECT_EQ(cuts, 1);
}

TEST(ConnectionWatch, CountsAnAddressesConnectionsButNotItsStreams) {
    ConnectionWatch watch(ServerLimits{});
    Clock::time_point now = Clock::now();
    int tokens[6];
    for (int i = 0; i < 6; ++i)
        watch.opened(&tokens[i], i, i < 5 ? "10.0.0.1" : "10.0.0.2", now);
    watch.entered(&tokens[0], ConnectionPhase::stream, now);
    watch.entered(&tokens[1], ConnectionPhase::closing, now);
    watch.entered(&tokens[2], ConnectionPhase::request, now);
    EXPECT_EQ(watch.openFrom("10.0.0.1"), 3);
    EXPECT_EQ(watch.openFrom("10.0.0.2"), 1);
    EXPECT_EQ(watch.openFrom("10.0.0.3"), 0);
    watch.closed(&tokens[2]);
    watch.closed(&tokens[2]); // told twice: no harm
    EXPECT_EQ(watch.openFrom("10.0.0.1"), 2);
    EXPECT_EQ(watch.open(), 5);
    watch.entered(&tokens[2], ConnectionPhase::request, now); // closed: ignored
    EXPECT_EQ(watch.open(), 5);
}

TEST(StaticFiles, ServesOnlyPlainNamesInsideTheFolder) {
    const std::pair<const char*, const char*> cases[] = {
        {"/", "index.html"},
        {"/app.js", "app.js"},
        {"/docs/", "docs/index.html"},
        {"/a/b.css", "a/b.css"},
        {"/../etc/passwd", ""},
        {"/a/../../x", ""},
        {"/.git/config", ""},
        {"/a//b", ""},
        {"relative", ""},
        {"", ""},
    };
    for (const auto& [path, file] : cases)
        EXPECT_EQ(StaticFiles::relativeFile(path), file) << path;
    EXPECT_EQ(StaticFiles::relativeFile(std::string("/a\0b", 4)), "");
    EXPECT_EQ(StaticFiles::contentType("index.html"), "text/html");
    EXPECT_EQ(StaticFiles::contentType("app.js"), "text/javascript");
    EXPECT_EQ(StaticFiles::contentType("blob"), "application/octet-stream");
}

TEST(StaticFiles, AFolderOrAMissingFileIsNotServed) {
    StaticFiles files(PANEL_HOST_PAGE);
    HttpResponse response;
    ASSERT_TRUE(files.serve("/index.html", response));
    EXPECT_EQ(response.status, 200);
    EXPECT_NE(response.body.find("<html"), std::string::npos);
    HttpResponse missing;
    EXPECT_FALSE(files.serve("/no-such-file.js", missing));
    EXPECT_FALSE(StaticFiles("").serve("/index.html", missing));
}

} // namespace
