// The DLLs as they ship, read by their PDBs: a fault names the function, the
// source line and the callers; a DLL without its own PDB reads as before; a
// damaged PDB or a missing symbolizer costs the names and nothing else.
#include "debug_id.h"
#include "emulated_route.h"
#include "panel_host.h"
#include "pe_image.h"
#include "runtime_dlls.h"
#include "scenario.h"
#include "symbolizer_process.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>

namespace {

namespace fs = std::filesystem;
const std::string dlls = PELDAN_DLL_FOLDER;

std::vector<std::uint8_t> bytesOf(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

// The breaches a scenario brings from a DLL on the emulated route.
std::vector<std::string> breachesOf(const std::string& dll, const std::string& scenario) {
    std::string error;
    EmulatedRoute route(servedRuntimeDlls());
    EXPECT_TRUE(route.open(dll, error)) << error;
    route.process().setInstructionBudget(2000000);
    Studio studio;
    PanelHost host(studio, [](const std::string&) {});
    EXPECT_TRUE(host.open(route));
    std::vector<ScenarioStep> steps;
    EXPECT_TRUE(parseScenario("s.scenario", scenario, steps, error)) << error;
    playScenario(host, steps);
    host.close();
    return host.breaches();
}

// The line of the planted store in the copy of the panel's file the planted DLL was built from.
int plantedLine(const std::string& file) {
    std::ifstream in(file);
    std::string line;
    for (int number = 1; std::getline(in, line); ++number)
        if (line.find("the planted fault") != std::string::npos)
            return number;
    return 0;
}

TEST(DllSymbols, AFaultInTakeNamesTheStoreAndItsCallersUpToTheCallback) {
    std::string copy = dlls + "/../tests/win32/planted_take_dll/selection.cpp";
    int line = plantedLine(copy);
    ASSERT_GT(line, 0) << copy;
    std::ifstream scenario(std::string(PELDAN_EXAMPLES) + "/typical_take.scenario");
    std::string text((std::istreambuf_iterator<char>(scenario)), std::istreambuf_iterator<char>());
    std::vector<std::string> breaches = breachesOf(dlls + "/planted_take_dll.dll", text);
    ASSERT_EQ(breaches.size(), 1u);
    const std::string& fault = breaches[0];
    EXPECT_TRUE(std::regex_search(
        fault, std::regex("^script fault in control event 1 Take button=pressed: write to "
                          "unmapped memory at 0x00000000, at planted_take_dll\\.dll\\+0x[0-9a-f]+ "
                          "in PELDAN::take\\(void\\) \\([^ ]*planted_take_dll/selection\\.cpp:" +
                          std::to_string(line) + "\\), ")))
        << fault;
    // Every caller, in order, and the callback the host called last; nothing stale between.
    EXPECT_TRUE(std::regex_search(
        fault, std::regex(", called from PELDAN::controlCallback\\(class controlEventView &\\) "
                          "\\([^)]*selection\\.cpp:[0-9]+\\), from "
                          "vesk_script_helper::dispatchControlEvent \\(script_helper/"
                          "vesk_script_helper\\.cpp:[0-9]+\\), from "
                          "vesk_script_helper::callback\\(void \\*, int\\) \\(script_helper/"
                          "vesk_script_helper\\.cpp:[0-9]+\\)$")))
        << fault;
}

// A fault in a DLL whose PDB is missing or not its own reads exactly as without symbols.
struct WithoutOwnPdb {
    std::string name;
    std::function<void(const std::string& pdbPath)> lay; // what lies where the PDB belongs
};

class DllWithoutItsPdb : public ::testing::TestWithParam<WithoutOwnPdb> {};

TEST_P(DllWithoutItsPdb, ReportsTheModuleAndOffsetAlone) {
    fs::path folder = fs::temp_directory_path() / ("peldan-symbols-" + GetParam().name);
    fs::remove_all(folder);
    fs::create_directories(folder);
    fs::copy_file(dlls + "/faulty_script.dll", folder / "faulty_script.dll");
    GetParam().lay((folder / "faulty_script.pdb").string());
    std::vector<std::string> breaches =
        breachesOf((folder / "faulty_script.dll").string(), "param null\n");
    fs::remove_all(folder);
    ASSERT_EQ(breaches.size(), 1u);
    EXPECT_TRUE(std::regex_match(breaches[0],
                                 std::regex("script fault in parameter \"null\": read of unmapped "
                                            "memory at 0x00000000, at faulty_script\\.dll\\+0x["
                                            "0-9a-f]+")))
        << breaches[0];
}

INSTANTIATE_TEST_SUITE_P(
    Each, DllWithoutItsPdb,
    ::testing::Values(WithoutOwnPdb{"Missing", [](const std::string&) {}},
                      WithoutOwnPdb{"AnotherBuilds",
                                    [](const std::string& pdb) {
                                        fs::copy_file(dlls + "/cdecl_script.pdb", pdb);
                                    }},
                      WithoutOwnPdb{"CutShort",
                                    [](const std::string& pdb) {
                                        std::vector<std::uint8_t> bytes =
                                            bytesOf(dlls + "/faulty_script.pdb");
                                        bytes.resize(100);
                                        writeBytes(pdb, bytes);
                                    }},
                      WithoutOwnPdb{"NotAPdb",
                                    [](const std::string& pdb) {
                                        writeBytes(pdb, std::vector<std::uint8_t>(8192, 0x5a));
                                    }},
                      WithoutOwnPdb{"AFolder",
                                    [](const std::string& pdb) { fs::create_directory(pdb); }}),
    [](const ::testing::TestParamInfo<WithoutOwnPdb>& info) { return info.param.name; });

TEST(PdbDebugId, TheDllAndItsPdbAgreeAndOtherBuildsDoNot) {
    PeImage image;
    std::string error;
    ASSERT_TRUE(readPeImage("PELDAN.dll", bytesOf(dlls + "/PELDAN.dll"), image, error)) << error;
    ASSERT_TRUE(image.hasDebugId);
    EXPECT_EQ(image.debugId.pdbName, "PELDAN.pdb");
    std::optional<DebugId> own = readPdbDebugId(dlls + "/PELDAN.pdb", error);
    ASSERT_TRUE(own) << error;
    EXPECT_TRUE(own->sameBuild(image.debugId));
    std::optional<DebugId> other = readPdbDebugId(dlls + "/ALARMS.pdb", error);
    ASSERT_TRUE(other) << error;
    EXPECT_FALSE(other->sameBuild(image.debugId));
}

void put32(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i)
        bytes[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

// Damaged containers are refused with a reason, never read out of bounds.
TEST(PdbDebugId, RefusesDamagedContainersWithAReason) {
    const std::vector<std::uint8_t> good = bytesOf(dlls + "/PELDAN.pdb");
    ASSERT_GT(good.size(), 4096u);
    struct Damage {
        std::function<void(std::vector<std::uint8_t>&)> apply;
        std::string reason;
    };
    const std::vector<Damage> damages = {
        {[](auto& b) { b[0] = 'X'; }, "is not a PDB (no MSF 7.00 header)"},
        {[](auto& b) { put32(b, 32, 3000); }, "has a block size of 3000"},
        {[](auto& b) { put32(b, 44, 0xfffffff0u); }, "has a stream directory of 4294967280 bytes"},
        {[](auto& b) { put32(b, 52, 0x7fffffffu); }, "has a stream directory outside the file"},
        {[](auto& b) { b.resize(60); }, "has a stream directory outside the file"},
        {[](auto& b) { b.resize(20); }, "cannot be read"},
    };
    std::string path = (fs::temp_directory_path() / "peldan-damaged.pdb").string();
    for (const Damage& damage : damages) {
        std::vector<std::uint8_t> bytes = good;
        damage.apply(bytes);
        writeBytes(path, bytes);
        std::string why;
        EXPECT_FALSE(readPdbDebugId(path, why));
        EXPECT_EQ(why, damage.reason);
    }
    fs::remove(path);
}

TEST(SymbolizerProcess, AnswersEveryQueryInOrderAndNothingWithoutTheProgram) {
    std::string dll = dlls + "/PELDAN.dll";
    SymbolizerProcess symbolizer;
    std::vector<SymbolizerProcess::Query> queries;
    for (std::uint32_t offset = 0x1000; offset < 0x1000 + 300; ++offset)
        queries.push_back({&dll, offset});
    auto answers = symbolizer.lookup(queries);
    ASSERT_TRUE(answers);
    ASSERT_EQ(answers->size(), queries.size());
    EXPECT_FALSE(answers->front().empty());
    EXPECT_EQ(answers->front().back().file, "panels/Studio_A/PELDAN/PELDAN.cpp");

    std::string bad = "a \"quoted\" path";
    EXPECT_FALSE(symbolizer.lookup({{&bad, 0x1000}}));

    setenv("PANEL_HOST_SYMBOLIZER", "/nonexistent/llvm-symbolizer", 1);
    SymbolizerProcess missing;
    EXPECT_FALSE(missing.lookup({{&dll, 0x1000}}));
    unsetenv("PANEL_HOST_SYMBOLIZER");
}

} // namespace
