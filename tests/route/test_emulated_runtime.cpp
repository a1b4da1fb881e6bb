// The emulated route's own parts, without a DLL: the runtime's formatter and
// the heap that keeps the books of the script's blocks.
#include "emulated_heap.h"
#include "pe_image.h"
#include "runtime_format.h"
#include "x86_machine.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

std::optional<std::string> format(const std::string& text, const std::vector<std::uint32_t>& args,
                                  std::string& why) {
    return formatWithArguments(
        text,
        [&](std::uint32_t n, std::uint32_t& value) {
            if (n >= args.size())
                return false;
            value = args[n];
            return true;
        },
        [](std::uint32_t address, std::string& out) {
            out = "text@" + std::to_string(address);
            return address != 13;
        },
        why);
}

TEST(RuntimeFormat, FormatsWhatA32BitScriptPasses) {
    const std::vector<std::tuple<std::string, std::vector<std::uint32_t>, std::string>> cases = {
        {"RR %d %d %d", {7, 12, 21}, "RR 7 12 21"},
        {"ET %d %d", {1, 1000}, "ET 1 1000"},
        {"%d", {0x80000000u}, "-2147483648"},
        {"%u %x %X %o", {0xffffffffu, 255, 255, 8}, "4294967295 ff FF 10"},
        {"[%5d|%-5d|%05d|%+d]", {42, 42, 42, 42}, "[   42|42   |00042|+42]"},
        {"%ld %hd", {5, 6}, "5 6"},
        {"%c%c %% %s", {'o', 'k', 9}, "ok % text@9"},
        {"%.3s|%s", {9, 0}, "tex|(null)"},
        {"%*d", {4, 7}, "   7"},
    };
    for (const auto& [text, args, expected] : cases) {
        std::string why;
        std::optional<std::string> out = format(text, args, why);
        ASSERT_TRUE(out) << text << ": " << why;
        EXPECT_EQ(*out, expected) << text;
    }
}

TEST(RuntimeFormat, RefusesWhatItCannotFormatSafely) {
    const std::vector<std::tuple<std::string, std::vector<std::uint32_t>, std::string>> cases = {
        {"%lld", {1, 2}, "the conversion %l is not supported"},
        {"%f", {1, 2}, "the conversion %f is not supported"},
        {"%n", {1}, "the conversion %n is not supported"},
        {"%d %d", {1}, "argument 2 cannot be read"},
        {"%s", {13}, "a %s argument runs into memory the script may not read"},
        {"%99999d", {1}, "a width or precision over 4096"},
        {"%*d", {100000, 1}, "a width or precision over 4096"},
        {"100%", {}, "the format ends inside a conversion"},
    };
    for (const auto& [text, args, expected] : cases) {
        std::string why;
        EXPECT_FALSE(format(text, args, why)) << text;
        EXPECT_EQ(why, expected) << text;
    }
}

class HeapBooks : public ::testing::Test {
  protected:
    X86Machine machine;
    std::unique_ptr<EmulatedHeap> heap;
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(machine.map(0x100000, 0x10000, pageRead | pageWrite, error)) << error;
        heap = std::make_unique<EmulatedHeap>(machine, 0x100000, 0x10000);
    }
};

TEST_F(HeapBooks, FindsDoubleForeignAndOverrunningFrees) {
    EmulatedHeap::Block block;
    std::uint32_t a = heap->allocate(8, 0x1111);
    std::uint32_t b = heap->allocate(20, 0x2222);
    ASSERT_NE(a, 0u);
    EXPECT_EQ(heap->find(b + 19)->site, 0x2222u);
    EXPECT_EQ(heap->find(b + 20), nullptr);
    EXPECT_EQ(heap->release(a, block), EmulatedHeap::FreeResult::freed);
    EXPECT_EQ(heap->release(a, block), EmulatedHeap::FreeResult::freedBefore);
    EXPECT_EQ(block.site, 0x1111u);
    EXPECT_EQ(heap->release(0x100004, block), EmulatedHeap::FreeResult::neverGiven);
    machine.write(b + 20, "x", 1);
    EXPECT_FALSE(heap->guardIntact(*heap->find(b)));
    EXPECT_EQ(heap->release(b, block), EmulatedHeap::FreeResult::guardBroken);
    EXPECT_EQ(heap->liveCount(), 0u);
}

TEST_F(HeapBooks, ReusesFreedBlocksAndRefusesWhatDoesNotFit) {
    EmulatedHeap::Block block;
    std::uint32_t a = heap->allocate(40, 1);
    heap->release(a, block);
    EXPECT_EQ(heap->allocate(40, 2), a);
    EXPECT_EQ(heap->allocate(0x20000, 3), 0u);
    EXPECT_EQ(heap->allocate(EmulatedHeap::largestBlock + 1, 4), 0u);
    std::uint32_t last = 0;
    for (std::uint32_t next; (next = heap->allocate(1000, 5)) != 0;)
        last = next;
    EXPECT_LT(last, 0x110000u);
}

TEST(X86MachineMemory, KeepsTheScriptsPermissionsApartFromTheHosts) {
    X86Machine machine;
    std::string error;
    ASSERT_TRUE(machine.map(0x10000, 0x1000, pageRead, error));
    ASSERT_TRUE(machine.map(0x11000, 0x1000, pageRead | pageWrite, error));
    EXPECT_TRUE(machine.allows(0x10ff0, 0x20, pageRead));
    EXPECT_FALSE(machine.allows(0x10ff0, 0x20, pageWrite));
    EXPECT_FALSE(machine.allows(0x11ff0, 0x20, pageRead));
    EXPECT_TRUE(machine.write32(0x10000, 7)); // the host writes where the script may not
    std::uint32_t value = 0;
    EXPECT_TRUE(machine.read32(0x10000, value));
    EXPECT_EQ(value, 7u);
    EXPECT_FALSE(machine.read32(0x11ffe, value));
    EXPECT_FALSE(machine.map(0x10000, 0x1000, pageRead, error));
}

} // namespace
