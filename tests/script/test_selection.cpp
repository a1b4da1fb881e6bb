// Feed and source selection, the flashing Take, and the route to the feed.
#include "PELDAN.h"
#include "panel_fixture.h"

#include <algorithm>

// Test-only read access to the selection state.
class PeldanProbe {
  public:
    static std::string state(vesk_client_callback* script) {
        const PELDAN& p = *static_cast<PELDAN*>(script);
        if (!p.sourceChosen && !p.osChosen && !p.takeEnabled)
            return "Idle";
        if (p.sourceChosen && !p.osChosen && !p.takeEnabled)
            return "Source chosen";
        if (!p.sourceChosen && p.osChosen && !p.takeEnabled)
            return "Feed chosen";
        if (p.sourceChosen && p.osChosen)
            return p.takeEnabled ? "Armed" : "Expired";
        return "inconsistent";
    }
    static int flashCount(vesk_client_callback* script) {
        return static_cast<PELDAN*>(script)->flashCount;
    }
    static int destination(vesk_client_callback* script) {
        return static_cast<PELDAN*>(script)->destinationIndex;
    }
};

namespace {

const std::string High = "TP 'statesheet=KT_TakeHigh' '1' 'Take'";
const std::string Low = "TP 'statesheet=KT_TakeLow' '1' 'Take'";
const std::string Start = "ET 1 1000";
const std::string Stop = "ET 1";
const std::string Enable = "CE '1' 'Take'";
const std::string Disable = "CD '1' 'Take'";
const std::string ListReset = "TP 'index=0' '1' 'SourceSel'";
const std::string Page2 = "TP 'page=2' '1' 'SourceSel'";
const std::string Route = "RC 5 17 193 ',2' 0";
std::string select(int feed) {
    return "TP 'statesheet=KTSourceSelected' '1' 'OS_" + std::to_string(feed) + "'";
}
std::string deselect(int feed) {
    return "TP 'statesheet=KTSourceDeselected' '1' 'OS_" + std::to_string(feed) + "'";
}

class SelectionTest : public PanelTest {
  protected:
    // Brings a fresh panel into a state; the held feed is 3 and the source 17.
    void enter(const std::string& state) {
        if (state == "Source chosen" || state == "Armed" || state == "Expired")
            pickSource("17");
        if (state == "Feed chosen" || state == "Armed" || state == "Expired")
            press("OS_3");
        if (state == "Expired")
            for (int i = 0; i < 15; ++i)
                tick();
        ASSERT_EQ(PeldanProbe::state(panel), state);
    }
    std::string state() { return PeldanProbe::state(panel); }
};

struct Transition {
    std::string from;
    std::string event;
    Commands commands;
    std::string to;
};

class TransitionTable : public SelectionTest {
  protected:
    Commands deliver(const std::string& event) {
        if (event == "feed 5")
            return press("OS_5");
        if (event == "source 9")
            return pickSource("9");
        if (event == "source -1")
            return pickSource("-1");
        if (event == "page 2")
            return pickPage("2");
        if (event == "tick 1")
            return tick(1);
        return press(event);
    }
};

TEST_F(TransitionTable, EveryStateAndEventSendsItsCommandsAndMovesOn) {
    const std::vector<Transition> table = {
        {"Idle", "feed 5", {select(5)}, "Feed chosen"},
        {"Idle", "source 9", {}, "Source chosen"},
        {"Idle", "source -1", {}, "Idle"},
        {"Idle", "page 2", {Page2}, "Idle"},
        {"Idle", "Clear", {}, "Idle"},
        {"Idle", "Take", {}, "Idle"},
        {"Idle", "tick 1", {High}, "Idle"},
        {"Source chosen", "feed 5", {select(5), High, Start, Enable}, "Armed"},
        {"Source chosen", "source 9", {}, "Source chosen"},
        {"Source chosen", "source -1", {}, "Idle"},
        {"Source chosen", "page 2", {Page2}, "Idle"},
        {"Source chosen", "Clear", {ListReset}, "Idle"},
        {"Source chosen", "Take", {}, "Source chosen"},
        {"Feed chosen", "feed 5", {deselect(3), select(5)}, "Feed chosen"},
        {"Feed chosen", "source 9", {High, Start, Enable}, "Armed"},
        {"Feed chosen", "source -1", {}, "Feed chosen"},
        {"Feed chosen", "page 2", {Page2}, "Feed chosen"},
        {"Feed chosen", "Clear", {deselect(3)}, "Idle"},
        {"Feed chosen", "Take", {}, "Feed chosen"},
        {"Armed", "feed 5", {deselect(3), select(5), High, Start}, "Armed"},
        {"Armed", "source 9", {High, Start}, "Armed"},
        {"Armed", "source -1", {Stop, Disable}, "Feed chosen"},
        {"Armed", "page 2", {Page2, Stop, Disable}, "Feed chosen"},
        {"Armed", "Take", {Route, ListReset, deselect(3), Stop, Disable}, "Idle"},
        {"Armed", "Clear", {ListReset, deselect(3), Stop, Disable}, "Idle"},
        {"Armed", "tick 1", {Low}, "Armed"},
        {"Expired", "feed 5", {deselect(3), select(5), High, Start, Enable}, "Armed"},
        {"Expired", "source 9", {High, Start, Enable}, "Armed"},
        {"Expired", "source -1", {}, "Feed chosen"},
        {"Expired", "page 2", {Page2}, "Feed chosen"},
        {"Expired", "Clear", {ListReset, deselect(3)}, "Idle"},
        {"Expired", "Take", {Route, ListReset, deselect(3)}, "Idle"},
        {"Expired", "tick 1", {High}, "Expired"},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(row.from + " + " + row.event);
        delete panel;
        host.takeCommands();
        panel = load_vesk_client_script(&host, "");
        host.takeCommands();
        enter(row.from);
        host.takeCommands();
        EXPECT_EQ(deliver(row.event), row.commands);
        EXPECT_EQ(state(), row.to);
        // Every state answers a tick of another timer by stopping it, and stays.
        EXPECT_EQ(tick(4), Commands{"ET 4"});
        EXPECT_EQ(state(), row.to);
    }
}

TEST_F(SelectionTest, TheTypicalTakeEndToEnd) {
    EXPECT_EQ(press("OS_3"), Commands{select(3)});
    EXPECT_EQ(pickSource("17"), (Commands{High, Start, Enable}));
    EXPECT_EQ(PeldanProbe::destination(panel), 193);
    EXPECT_EQ(tick(), Commands{Low});
    EXPECT_EQ(tick(), Commands{High});
    EXPECT_EQ(press("Take"), (Commands{Route, ListReset, deselect(3), Stop, Disable}));
    EXPECT_EQ(state(), "Idle");
}

TEST_F(SelectionTest, TheFlashRunsFifteenTicksThenExpires) {
    enter("Armed");
    host.takeCommands();
    for (int t = 1; t <= 14; ++t) {
        int left = 15 - t;
        EXPECT_EQ(tick(), Commands{left % 2 == 0 ? Low : High}) << "tick " << t;
        EXPECT_EQ(PeldanProbe::flashCount(panel), left);
        EXPECT_EQ(state(), "Armed");
    }
    EXPECT_EQ(tick(), (Commands{High, Stop, Disable}));
    EXPECT_EQ(state(), "Expired");
    EXPECT_EQ(pickSource("17"), (Commands{High, Start, Enable}));
    EXPECT_EQ(PeldanProbe::flashCount(panel), 15);
}

TEST_F(SelectionTest, ReArmingRestartsTheFlashWithoutStopOrEnable) {
    enter("Armed");
    for (int i = 0; i < 6; ++i)
        tick();
    EXPECT_EQ(PeldanProbe::flashCount(panel), 9);
    EXPECT_EQ(press("OS_3"), (Commands{deselect(3), select(3), High, Start}));
    EXPECT_EQ(PeldanProbe::flashCount(panel), 15);
}

TEST_F(SelectionTest, TakeHalfwayLeavesTakeInItsLastLook) {
    enter("Armed");
    host.takeCommands();
    EXPECT_EQ(tick(), Commands{Low});
    Commands sent = press("Take");
    EXPECT_EQ(std::count(sent.begin(), sent.end(), High), 0);
    EXPECT_EQ(sent.back(), Disable);
}

TEST_F(SelectionTest, StrayTicksOutsideArmedCountDownAndStopAtZero) {
    enter("Armed");
    press("Take"); // flash count stays at 15
    for (int i = 1; i < 15; ++i)
        EXPECT_EQ(tick(), Commands{(15 - i) % 2 == 0 ? Low : High});
    EXPECT_EQ(tick(), (Commands{High, Stop, Disable}));
    EXPECT_EQ(tick(), Commands{High}); // -1 counts as odd
    EXPECT_EQ(state(), "Idle");
}

TEST_F(SelectionTest, FeedButtonsAreMarkedUnderTheRebuiltName) {
    EXPECT_EQ(press("OS_03"), Commands{select(3)});
    EXPECT_EQ(PeldanProbe::destination(panel), 193);
    EXPECT_EQ(press("OS_12x"), (Commands{deselect(3), select(12)}));
    EXPECT_EQ(PeldanProbe::destination(panel), 202);
    EXPECT_EQ(press("OS_"), (Commands{deselect(12), select(0)}));
    EXPECT_EQ(PeldanProbe::destination(panel), 190);
    // The feed number saturates at the 32-bit limit; its destination wraps.
    EXPECT_EQ(press("OS_99999999999"), (Commands{deselect(0), select(2147483647)}));
    EXPECT_EQ(PeldanProbe::destination(panel), -2147483647 - 1 + 189);
}

TEST_F(SelectionTest, SourceZeroIsAChoiceAndNegativeDropsIt) {
    press("OS_1");
    EXPECT_EQ(pickSource("0"), (Commands{High, Start, Enable}));
    EXPECT_EQ(press("Take"),
              (Commands{"RC 5 0 191 ',2' 0", ListReset, deselect(1), Stop, Disable}));
    pickSource("0");
    EXPECT_EQ(state(), "Source chosen");
    pickSource("-1");
    EXPECT_EQ(state(), "Idle");
    pickSource("abc"); // reads as 0: a choice
    EXPECT_EQ(state(), "Source chosen");
}

TEST_F(SelectionTest, PageTextPassesThroughUnchanged) {
    enter("Source chosen");
    EXPECT_EQ(pickPage("2 o'clock=x"), Commands{"TP 'page=2 o'clock=x' '1' 'SourceSel'"});
    EXPECT_EQ(state(), "Idle");
}

TEST_F(SelectionTest, OtherPanelsAndUnknownControlsChangeNothing) {
    enter("Armed");
    host.takeCommands();
    for (const char* otherPanel : {"2", "01", "", "1 "})
        for (const char* id : {"Take", "Clear", "OS_4", "SourceSel", "GrpSelect"})
            EXPECT_TRUE(control(id, "index=-1", otherPanel).empty()) << otherPanel << " " << id;
    for (const char* id : {"take", "UMD_1", "os_3", "", "Clear2"})
        EXPECT_TRUE(press(id).empty()) << id;
    EXPECT_EQ(state(), "Armed");
    EXPECT_EQ(PeldanProbe::flashCount(panel), 15);
}

TEST_F(SelectionTest, WithoutAPackagerReplyTheRouteGoesToDeviceZero) {
    delete panel;
    RecordingHost quiet;
    panel = load_vesk_client_script(&quiet, "");
    quiet.takeCommands();
    ControlEvent feed("1", "OS_2", "button=pressed");
    ControlEvent source("1", "SourceSel", "index=4");
    ControlEvent take("1", "Take", "button=pressed");
    panel->callback(feed.data(), 2);
    panel->callback(source.data(), 2);
    quiet.takeCommands();
    panel->callback(take.data(), 2);
    EXPECT_EQ(quiet.takeCommands().front(), "RC 0 4 192 ',2' 0");
    delete panel;
    panel = load_vesk_client_script(&host, "");
}

} // namespace
