// The real 32-bit DLLs on the emulated route: PELDAN.dll checked as a strict
// Windows host checks it, and misbehaving DLLs reported without harm to the host.
#include "emulated_route.h"
#include "open_script_route.h"
#include "panel_host.h"
#include "pe_image.h"
#include "runtime_dlls.h"
#include "scenario.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <map>

namespace {

const std::string dlls = PELDAN_DLL_FOLDER;

// A host side that records what the script sends and gives fixed replies.
class RecordingHostSide : public ScriptHostSide {
  public:
    std::map<std::string, std::string> replies;
    std::vector<std::string> commands;
    std::vector<std::string> debugLines;
    std::vector<std::string> breaches;
    std::map<ScriptAddress, std::string> lent;
    int givenBack = 0;

    std::optional<HostReply> onCommand(const std::optional<std::string>& text) override {
        commands.push_back(text.value_or("(null)"));
        auto found = text ? replies.find(*text) : replies.end();
        if (found == replies.end())
            return std::nullopt;
        return HostReply{found->second, true};
    }
    void onReplyLent(ScriptAddress at, const std::string& text) override { lent[at] = text; }
    bool onHandBack(ScriptAddress at) override {
        if (lent.erase(at) == 0) {
            breaches.push_back("unknown hand-back");
            return false;
        }
        ++givenBack;
        return true;
    }
    void onOtherType(int type) override { breaches.push_back("type " + std::to_string(type)); }
    void onDebugOutput(const std::string& text) override { debugLines.push_back(text); }
    void onRouteBreach(const std::string& what) override { breaches.push_back(what); }

    std::vector<std::string> take() {
        std::vector<std::string> taken;
        taken.swap(commands);
        return taken;
    }
};

using Lines = std::vector<std::string>;

class PeldanDll : public ::testing::Test {
  protected:
    EmulatedRoute route{servedRuntimeDlls()};
    RecordingHostSide host;

    void SetUp() override {
        std::string error;
        ASSERT_TRUE(route.open(dlls + "/PELDAN.dll", error)) << error;
        host.replies["SD 'DUD VESK Packager'"] = "5";
        host.replies["SD 'DUD Audio Router'"] = "7";
        bool created = false;
        ASSERT_TRUE(route.load(host, created).ok());
        ASSERT_TRUE(created);
    }
    void ok(const CallOutcome& outcome) { EXPECT_TRUE(outcome.ok()) << *outcome.fault; }
};

TEST_F(PeldanDll, StartsUpInOrderAndHandsBackEveryReply) {
    EXPECT_EQ(host.take(),
              (Lines{"PS '1' '" + route.folder() + "/PELDAN.vesk_ui'", "CD '1' 'Take'",
                     "TP 'button.001=released' '1' 'GrpSelect'", "SD 'DUD VESK Packager'",
                     "SD 'DUD Audio Router'", "RR 7 12 21", "RP 7 12 21"}));
    EXPECT_EQ(host.givenBack, 2);
    EXPECT_TRUE(host.lent.empty());
}

TEST_F(PeldanDll, ReadsRecordsAtTheirFourByteOffsets) {
    host.take();
    ok(route.revertive(7, 12, "MIC 1"));
    ok(route.revertive(7, 21, "DESK 4"));
    ok(route.revertive(5, 12, "not the router"));
    EXPECT_EQ(host.take(), (Lines{"TP 'text=MIC 1' '1' 'UMD_1'", "TP 'text=DESK 4' '1' 'UMD_10'"}));
    ok(route.controlEvent("1", "OS_3", "button=pressed"));
    ok(route.controlEvent("1", "SourceSel", "index=17"));
    ok(route.tick(1));
    ok(route.tick(4));
    ok(route.controlEvent("1", "Take", "button=pressed"));
    EXPECT_EQ(host.take(),
              (Lines{"TP 'statesheet=KTSourceSelected' '1' 'OS_3'",
                     "TP 'statesheet=KT_TakeHigh' '1' 'Take'", "ET 1 1000", "CE '1' 'Take'",
                     "TP 'statesheet=KT_TakeLow' '1' 'Take'", "ET 4", "RC 5 17 193 ',2' 0",
                     "TP 'index=0' '1' 'SourceSel'",
                     "TP 'statesheet=KTSourceDeselected' '1' 'OS_3'", "ET 1", "CD '1' 'Take'"}));
}

TEST_F(PeldanDll, ParameterRepliesAreNewBuffersReleasedByHandBack) {
    std::optional<ScriptReply> reply;
    ok(route.parameter(std::string("myParam=abc"), reply));
    EXPECT_FALSE(reply);
    ok(route.parameter(std::string("return=all"), reply));
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->text, "myParam=abc");
    EXPECT_EQ(route.process().heap().find(static_cast<std::uint32_t>(reply->at))->size,
              reply->text.size() + 1);
    std::size_t live = route.process().heap().liveCount();
    ok(route.handBack(reply->at));
    EXPECT_EQ(route.process().heap().liveCount(), live - 1);
    ok(route.parameter(std::nullopt, reply));
    EXPECT_FALSE(reply);
}

TEST_F(PeldanDll, IgnoresOtherTypesAndDeletesCleanly) {
    host.take();
    for (int type : {6, 7, 0, 8, -1, 5})
        ok(route.notify(type));
    EXPECT_TRUE(host.take().empty());
    ok(route.destroy());
    EXPECT_EQ(host.take(), (Lines{"RU 7", "AS"}));
    EXPECT_TRUE(host.breaches.empty()) << host.breaches.front();
    EXPECT_EQ(route.process().heap().liveCount(), 0u);
}

TEST(AlarmProbeDll, TextGetMismatchReachesTheDebugOutput) {
    EmulatedRoute route(servedRuntimeDlls());
    RecordingHostSide host;
    std::string error;
    ASSERT_TRUE(route.open(dlls + "/alarm_probe.dll", error)) << error;
    host.replies["XI '1' 'alm_'"] = "alm_1";
    host.replies["TG '1' 'alm_1' 'value'"] = "colour=red";
    bool created = false;
    ASSERT_TRUE(route.load(host, created).ok());
    EXPECT_TRUE(route.controlEvent("1", "AckAll", "button=pressed").ok());
    EXPECT_EQ(host.take(),
              (Lines{"XI '1' 'alm_'", "TP 'alarm=4' '1' 'alm_1'", "TG '1' 'alm_1' 'value'"}));
    EXPECT_EQ(host.debugLines,
              Lines{"textGet: value returned \"colour\" was not the value requested \"value\" "
                    "(value returned was \"colour=red\" from control \"alm_1\", on panel \"1\")"});
    EXPECT_TRUE(route.destroy().ok());
    EXPECT_EQ(host.givenBack, 2);
}

// What panel-host reports for each way the faulty script misbehaves.
struct Misbehaviour {
    std::string name;
    std::string library;
    std::string scenario;
    std::string breach; // the start of the one breach expected
    std::string source; // where, in the fixture's source, the breach says it happened
};

class MisbehavingDll : public ::testing::TestWithParam<Misbehaviour> {};

TEST_P(MisbehavingDll, IsReportedAndEndsTheRunWithoutHarm) {
    const Misbehaviour& m = GetParam();
    std::string error;
    auto route = std::make_unique<EmulatedRoute>(servedRuntimeDlls());
    ASSERT_TRUE(route->open(dlls + "/" + m.library, error)) << error;
    route->process().setInstructionBudget(2000000);
    Studio studio;
    std::vector<std::string> lines;
    PanelHost host(studio, [&](const std::string& line) { lines.push_back(line); });
    ASSERT_TRUE(host.open(*route));
    std::vector<ScenarioStep> steps;
    ASSERT_TRUE(parseScenario("m.scenario", m.scenario, steps, error)) << error;
    playScenario(host, steps);
    host.close();
    ASSERT_EQ(host.breaches().size(), 1u) << (host.breaches().empty() ? "" : host.breaches()[0]);
    EXPECT_EQ(host.breaches()[0].substr(0, m.breach.size()), m.breach);
    EXPECT_NE(host.breaches()[0].find(m.source), std::string::npos) << host.breaches()[0];
}

// The fixture's functions and lines, as its PDB gives them (the compiler's
// optimiser decides which line a merged instruction belongs to).
const std::string fixture = "(tests/win32/fixtures/faulty_script.cpp:";
const std::string misbehave = "`anonymous namespace'::FaultyScript::misbehave " + fixture;
const std::string fromCallback =
    ", called from `anonymous namespace'::FaultyScript::callback " + fixture;

INSTANTIATE_TEST_SUITE_P(
    Each, MisbehavingDll,
    ::testing::Values(
        Misbehaviour{"NullRead", "faulty_script.dll", "param null\n",
                     "script fault in parameter \"null\": read of unmapped memory at 0x00000000, "
                     "at faulty_script.dll+0x",
                     misbehave + "66)" + fromCallback},
        Misbehaviour{"Hang", "faulty_script.dll", "param hang\n",
                     "script fault in parameter \"hang\": ran past its budget of 2000000 "
                     "instructions, at faulty_script.dll+0x",
                     misbehave + "69)" + fromCallback},
        Misbehaviour{"WriteToHostRecord", "faulty_script.dll", "event 1 Take button=pressed\n",
                     "script fault in control event 1 Take button=pressed: write to read-only "
                     "memory at 0x004",
                     "FaultyScript::callback " + fixture + "55)"},
        Misbehaviour{"Leak", "faulty_script.dll", "param leak\n",
                     "block of 24 bytes allocated at faulty_script.dll+0x", misbehave + "74)"},
        Misbehaviour{"DoubleFree", "faulty_script.dll", "param double-free\n",
                     "double free of the block at 0x", misbehave + "79)" + fromCallback},
        Misbehaviour{"Overrun", "faulty_script.dll", "param overrun\n",
                     "write past the end of the 8-byte block allocated at faulty_script.dll+0x",
                     "found when it was freed at faulty_script.dll+0x"},
        Misbehaviour{"ForeignFree", "faulty_script.dll", "param foreign-free\n",
                     "free of 0x00001234, which malloc did not give out, at faulty_script.dll+0x",
                     fromCallback},
        Misbehaviour{"WrongConvention", "cdecl_script.dll", "tick 1\n",
                     "script fault in tick 1 at 0 ms: cdecl_script.dll+0x",
                     "FaultyScript::callback " + fixture + "52) returned popping 0 bytes"}),
    [](const ::testing::TestParamInfo<Misbehaviour>& info) { return info.param.name; });

// The runtime's compares are the host's own rows: both operands are seen,
// and strncmp reads a short text no further than its end.
TEST(EmulatedRuntime, ComparesThroughTheRuntimeAreLoggedOnceAsked) {
    EmulatedRoute route{servedRuntimeDlls()};
    std::string error;
    ASSERT_TRUE(route.open(dlls + "/faulty_script.dll", error)) << error;
    RecordingHostSide host;
    bool created = false;
    ASSERT_TRUE(route.load(host, created).ok());
    ASSERT_TRUE(route.logCompares());
    std::optional<ScriptReply> reply;
    CallOutcome outcome = route.parameter(std::string("quie"), reply);
    ASSERT_TRUE(outcome.ok()) << *outcome.fault;
    std::vector<Comparison> seen = route.takeComparisons();
    for (const char* other : {"null", "quiet:"})
        EXPECT_TRUE(std::any_of(seen.begin(), seen.end(), [&](const Comparison& c) {
            return c.kind == Comparison::equal && c.left == "quie" && c.right == other;
        })) << other;
}

TEST(EmulatedLoad, NamesEveryImportNoHostProvides) {
    std::string error;
    EXPECT_EQ(openEmulatedRoute(dlls + "/extra_imports_script.dll", error), nullptr);
    EXPECT_EQ(error, "cannot load " + dlls +
                         "/extra_imports_script.dll: extra_imports_script.dll imports what this "
                         "host does not provide: KERNEL32.dll!GetTickCount, ucrtbase.dll!srand");
}

TEST(EmulatedLoad, MovesTheSecondImageThatWantsTheSameBase) {
    EmulatedRoute route(servedRuntimeDlls());
    std::string error;
    ASSERT_TRUE(route.open(dlls + "/PELDAN.dll", error)) << error;
    // With PELDAN.pdb beside it, an address in code names its function and line.
    EXPECT_EQ(route.process().where(0x10001000).substr(0, 36),
              "PELDAN.dll+0x1000 in PELDAN::PELDAN(");
    EXPECT_NE(route.process().where(0x10001000).find("(panels/Studio_A/PELDAN/PELDAN.cpp:"),
              std::string::npos);
    EXPECT_EQ(route.process().where(0x10011000).substr(0, 16), "vesk_string.dll+");
}

std::vector<std::uint8_t> fileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void put32(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i)
        bytes[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

// The file offset of an rva, through the section table at `sections`.
std::uint32_t fileOffset(const std::vector<std::uint8_t>& b, std::uint32_t sections, int count,
                         std::uint32_t rva) {
    auto at = [&](std::uint32_t o) {
        return b[o] | b[o + 1] << 8 | b[o + 2] << 16 | b[o + 3] << 24;
    };
    for (int i = 0; i < count; ++i) {
        std::uint32_t s = sections + 40 * static_cast<std::uint32_t>(i);
        if (rva >= at(s + 12) && rva < at(s + 12) + at(s + 8))
            return rva - at(s + 12) + at(s + 20);
    }
    return 0;
}

TEST(PeImageReader, RefusesDamagedImagesWithAReason) {
    const std::vector<std::uint8_t> good = fileBytes(dlls + "/PELDAN.dll");
    ASSERT_GT(good.size(), 1024u);
    PeImage image;
    std::string error;
    ASSERT_TRUE(readPeImage("PELDAN.dll", good, image, error)) << error;
    EXPECT_TRUE(image.exports.count("load_vesk_client_script"));
    std::uint32_t pe = good[0x3c] | good[0x3d] << 8;
    std::uint32_t optional = pe + 24, sections = optional + 224;
    int sectionCount = good[pe + 6];
    auto table = [&](int index) {
        std::uint32_t o = optional + 96 + 8 * static_cast<std::uint32_t>(index);
        return fileOffset(good, sections, sectionCount,
                          good[o] | good[o + 1] << 8 | good[o + 2] << 16 | good[o + 3] << 24);
    };
    ASSERT_NE(table(1), 0u);
    ASSERT_NE(table(5), 0u);
    struct Damage {
        const char* what;
        std::function<void(std::vector<std::uint8_t>&)> apply;
    };
    const std::vector<Damage> damages = {
        {"not a PE file", [](auto& b) { b.resize(100); }},
        {"not a DLL", [&](auto& b) { b[pe + 23] &= 0xdf; }},
        {"image size is 0 or larger than 64 MiB",
         [&](auto& b) { put32(b, optional + 56, 0x7fffffff); }},
        {"entry point lies outside the image",
         [&](auto& b) { put32(b, optional + 16, 0x7ffffff0); }},
        {"lies outside the image", [&](auto& b) { put32(b, sections + 12, 0x7ffff000); }},
        {"runs past the end of the file", [&](auto& b) { put32(b, sections + 20, 0x7ffff000); }},
        {"not a PE file", [&](auto& b) { put32(b, 0x3c, 0x7ffff000); }},
        {"not a 32-bit PE image",
         [&](auto& b) {
             b[optional] = 0x0b;
             b[optional + 1] = 0x02;
         }},
        {"section table runs past the end of the file",
         [&](auto& b) {
             b[pe + 6] = 0xff;
             b.resize(sections + 400);
         }},
        {"import table runs outside the image",
         [&](auto& b) { put32(b, optional + 104, 0x7ffff000); }},
        {"export table runs outside the image",
         [&](auto& b) { put32(b, optional + 96, 0x7ffff000); }},
        {"an imported DLL's name is malformed",
         [&](auto& b) { put32(b, table(1) + 12, 0x7ffff000); }},
        {"imports from KERNEL32.dll run outside the image",
         [&](auto& b) {
             put32(b, table(1) + 16, 0x7ffff000);
             put32(b, table(1), 0x7ffff000);
         }},
        {"a relocation block is malformed", [&](auto& b) { put32(b, table(5) + 4, 3); }},
    };
    for (const Damage& d : damages) {
        std::vector<std::uint8_t> bytes = good;
        d.apply(bytes);
        EXPECT_FALSE(readPeImage("PELDAN.dll", bytes, image, error)) << d.what;
        EXPECT_NE(error.find(d.what), std::string::npos) << d.what << ": " << error;
    }
}

} // namespace
