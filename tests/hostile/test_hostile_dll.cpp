// The emulated route given what a hostile user would: a DLL patched so that
// its export never returns, and texts at the limit the host hands a script.
// The DLLs are patched here from the real one; nothing large is kept in the tree.
#include "validate_fixture.h"

#include <chrono>
#include <cstdint>
#include <cstring>
#include <sstream>

namespace {

const std::string dllFolder = PELDAN_DLL_FOLDER;

std::string readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

std::uint32_t read32(const std::string& bytes, std::size_t at) {
    std::uint32_t value = 0;
    if (at + 4 <= bytes.size())
        std::memcpy(&value, bytes.data() + at, 4);
    return value;
}

std::uint16_t read16(const std::string& bytes, std::size_t at) {
    std::uint16_t value = 0;
    if (at + 2 <= bytes.size())
        std::memcpy(&value, bytes.data() + at, 2);
    return value;
}

// The file offset of an address in the image, through the section table; 0 when none holds it.
std::size_t fileOffsetOf(const std::string& dll, std::uint32_t rva) {
    std::size_t pe = read32(dll, 0x3c);
    std::size_t sections = pe + 24 + read16(dll, pe + 20);
    for (std::size_t i = 0; i < read16(dll, pe + 6); ++i) {
        std::size_t at = sections + 40 * i;
        std::uint32_t start = read32(dll, at + 12), rawSize = read32(dll, at + 16);
        if (rva >= start && rva < start + rawSize)
            return read32(dll, at + 20) + (rva - start);
    }
    return 0;
}

// The file offset of the code of the DLL's first named export.
std::size_t firstExportCode(const std::string& dll) {
    std::size_t pe = read32(dll, 0x3c);
    std::size_t directory = fileOffsetOf(dll, read32(dll, pe + 24 + 96));
    std::size_t functions = fileOffsetOf(dll, read32(dll, directory + 28));
    std::size_t ordinals = fileOffsetOf(dll, read32(dll, directory + 36));
    return fileOffsetOf(dll, read32(dll, functions + 4 * read16(dll, ordinals)));
}

double secondsOf(const std::function<void()>& work) {
    auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

} // namespace

class HostileDll : public Validate {
  protected:
    // A copy of PELDAN.dll, with its string library and layout beside it, under `name`.
    std::string copyOfPeldan(const std::string& name, const std::string& bytes) {
        std::ofstream(folder + "/" + name + ".dll", std::ios::binary) << bytes;
        std::ofstream(folder + "/vesk_string.dll", std::ios::binary)
            << readBytes(dllFolder + "/vesk_string.dll");
        std::ofstream(folder + "/" + name + ".vesk_ui", std::ios::binary)
            << readBytes(dllFolder + "/PELDAN.vesk_ui");
        return folder + "/" + name + ".dll";
    }
};

// `jmp $` over the export's first bytes: every load runs until stopped.
TEST_F(HostileDll, ValidateOnALoopingExportEndsWithinItsTime) {
    std::string dll = readBytes(dllFolder + "/PELDAN.dll");
    std::size_t code = firstExportCode(dll);
    ASSERT_GT(code, 0u);
    ASSERT_LT(code + 2, dll.size());
    dll[code] = '\xeb';
    dll[code + 1] = '\xfe';
    std::string looping = copyOfPeldan("looping", dll);
    for (const char* time : {"1", "4"}) {
        ShellResult result;
        double took = secondsOf([&] { result = validate(looping + " --jobs 1 --time " + time); });
        EXPECT_LT(took, std::stod(time) + 5) << "--time " << time << "\n" << result.output;
        EXPECT_NE(result.status, 0) << result.output;
        // The load spends its instruction budget in about a second (more under a
        // sanitizer): one second may end first, with nothing tested; four may not.
        bool budgetSpent = result.output.find("failed in the load") != std::string::npos;
        bool timeFirst = result.output.find("no session was played") != std::string::npos;
        EXPECT_TRUE(budgetSpent || (timeFirst && std::string(time) == "1")) << result.output;
    }
}

// The same text at the limit plays alike on both routes; one byte more is
// refused alike, before the library is even loaded.
TEST_F(HostileDll, BothRoutesTakeTheSameLongestText) {
    const std::string atLimit(64 * 1024, 'x');
    std::ofstream(folder + "/at.scenario")
        << "press OS_1\nparam " << atLimit << "\nrevertive 7 12 " << atLimit << "\n";
    std::ofstream(folder + "/past.scenario") << "param " << atLimit << "x\n";
    std::ofstream(folder + "/studio.txt") << "source 3 " << atLimit << "\n";
    const std::string studio = " --studio " + folder + "/studio.txt";
    ShellResult native = panelHost("run " + std::string(PELDAN_LIBRARY_PATH) + " " + folder +
                                   "/at.scenario" + studio);
    ShellResult emulated =
        panelHost("run " + dllFolder + "/PELDAN.dll " + folder + "/at.scenario" + studio);
    EXPECT_EQ(native.status, 0) << native.output;
    EXPECT_EQ(emulated.status, 0) << emulated.output;
    EXPECT_EQ(native.output, emulated.output);
    ShellResult nativePast =
        panelHost("run " + std::string(PELDAN_LIBRARY_PATH) + " " + folder + "/past.scenario");
    ShellResult emulatedPast =
        panelHost("run " + dllFolder + "/PELDAN.dll " + folder + "/past.scenario");
    EXPECT_EQ(nativePast.status, 2);
    EXPECT_EQ(emulatedPast.status, 2);
    EXPECT_EQ(nativePast.output, emulatedPast.output);
}
