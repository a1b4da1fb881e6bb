// The CPU itself: instructions counted exactly, the budget exact, blocks
// remembered once, and the host's in-place view of memory bounded by region
// and permission.
#include "emulated_process.h"
#include "pe_image.h"
#include "x86_machine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

namespace {

constexpr std::uint32_t code = 0x10000000;
constexpr std::uint32_t data = 0x20000000;

// mov ecx, N ; again: dec ecx ; jnz again ; hlt
std::vector<std::uint8_t> countdown(std::uint32_t n) {
    return {0xb9,
            static_cast<std::uint8_t>(n),
            static_cast<std::uint8_t>(n >> 8),
            0,
            0,
            0x49,
            0x75,
            0xfd,
            0xf4};
}

class Machine : public ::testing::Test {
  protected:
    X86Machine machine;
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(machine.map(code, 0x1000, pageRead | pageExecute, error)) << error;
        ASSERT_TRUE(machine.map(data, 0x2000, pageRead | pageWrite, error)) << error;
        ASSERT_TRUE(machine.map(data + 0x2000, 0x1000, pageRead, error)) << error;
        machine.setReg(X86Machine::esp, data + 0x1000);
    }
    void load(const std::vector<std::uint8_t>& bytes) {
        ASSERT_TRUE(machine.write(code, bytes.data(), bytes.size()));
    }
};

// Code translated before counting began must count too.
TEST_F(Machine, AKnownLoopReportsItsInstructionCount) {
    load(countdown(1000));
    const std::uint32_t halt = code + 8;
    ASSERT_EQ(machine.run(code, halt, 1u << 20).kind, X86Machine::Stop::returned);
    machine.countInstructions(true);
    ASSERT_EQ(machine.run(code, halt, 1u << 20).kind, X86Machine::Stop::returned);
    EXPECT_EQ(machine.instructionsCounted(), 1u + 2u * 1000u);
    machine.countInstructions(false);
    ASSERT_EQ(machine.run(code, halt, 1u << 20).kind, X86Machine::Stop::returned);
    EXPECT_EQ(machine.instructionsCounted(), 1u + 2u * 1000u);
}

// A loop's block counts how often it ran in each stretch, up to 255.
TEST_F(Machine, BlocksCountTheirHitsFromEachStart) {
    machine.watchBlocks(code, 0xFFFFFFFFu);
    for (std::uint32_t rounds : {3u, 1000u}) {
        load(countdown(rounds));
        machine.startCountingHits();
        ASSERT_EQ(machine.run(code, code + 8, 1u << 20).kind, X86Machine::Stop::returned);
        std::uint8_t loop = 0;
        for (const auto& [address, count] : machine.hitCounts())
            if (address == code + 5)
                loop = count;
        EXPECT_EQ(loop, rounds < 255 ? rounds - 1 : 255) << rounds << " rounds";
    }
    machine.startCountingHits();
    EXPECT_TRUE(machine.hitCounts().empty());
}

TEST_F(Machine, TheBudgetIsExact) {
    load(countdown(1000));
    const std::uint32_t halt = code + 8;
    EXPECT_EQ(machine.run(code, halt, 2001).kind, X86Machine::Stop::returned);
    X86Machine::Stop short_ = machine.run(code, halt, 2000);
    EXPECT_EQ(short_.kind, X86Machine::Stop::budgetSpent);
    EXPECT_EQ(short_.what, "ran past its budget of 2000 instructions");
}

// The budget is charged a block at a time, then one instruction at a time at
// its end: every budget stops after exactly that many instructions, at the
// next one, whether it ends at a block's start or inside one.
TEST_F(Machine, EveryBudgetStopsAtItsOwnInstruction) {
    load(countdown(1000));
    const std::uint32_t halt = code + 8;
    for (std::uint64_t budget : {1u, 2u, 3u, 4u, 5u, 99u, 100u, 1998u, 1999u, 2000u}) {
        X86Machine::Stop stop = machine.run(code, halt, budget);
        ASSERT_EQ(stop.kind, X86Machine::Stop::budgetSpent) << budget;
        // mov ecx first, then dec and jnz in turn
        std::uint32_t next = budget % 2 == 1 ? code + 5 : code + 6;
        EXPECT_EQ(stop.at, next) << budget;
        EXPECT_EQ(machine.reg(X86Machine::ecx), 1000 - budget / 2) << budget;
    }
    // Runs after one that ran out are charged in full again.
    EXPECT_EQ(machine.run(code, halt, 2001).kind, X86Machine::Stop::returned);
    EXPECT_EQ(machine.run(code, halt, 0).kind, X86Machine::Stop::returned); // 0: no limit
}

// Code the host writes anew is counted anew: four one-byte nops give way to
// two two-byte ones of the same size.
TEST_F(Machine, RewrittenCodeIsChargedByItsNewInstructions) {
    load({0x90, 0x90, 0x90, 0x90, 0xf4});
    const std::uint32_t halt = code + 4;
    EXPECT_EQ(machine.run(code, halt, 4).kind, X86Machine::Stop::returned);
    EXPECT_EQ(machine.run(code, halt, 3).kind, X86Machine::Stop::budgetSpent);
    load({0x66, 0x90, 0x66, 0x90, 0xf4});
    EXPECT_EQ(machine.run(code, halt, 2).kind, X86Machine::Stop::returned);
    EXPECT_EQ(machine.run(code, halt, 1).kind, X86Machine::Stop::budgetSpent);
}

// Code that rewrites itself on a writable, executable page is counted one
// instruction at a time, as the instruction counter counts it.
TEST(MachineBudget, SelfRewritingCodeIsChargedAsTheCounterCountsIt) {
    X86Machine machine;
    std::string error;
    ASSERT_TRUE(machine.map(code, 0x1000, pageRead | pageWrite | pageExecute, error)) << error;
    // again: nop x4 ; mov dword [again], 0x90669066 ; dec ecx ; jnz again ; hlt
    const std::vector<std::uint8_t> bytes = {0x90, 0x90, 0x90, 0x90, 0xc7, 0x05, 0x00, 0x00, 0x00,
                                             0x10, 0x66, 0x90, 0x66, 0x90, 0x49, 0x75, 0xef, 0xf4};
    const std::uint32_t halt = code + 17;
    auto runFresh = [&](std::uint64_t budget) {
        EXPECT_TRUE(machine.write(code, bytes.data(), bytes.size()));
        machine.setReg(X86Machine::ecx, 2);
        return machine.run(code, halt, budget);
    };
    machine.countInstructions(true);
    ASSERT_EQ(runFresh(1000).kind, X86Machine::Stop::returned);
    machine.countInstructions(false);
    const std::uint64_t counted = machine.instructionsCounted();
    ASSERT_GE(counted, 12u); // 7 on the first pass, 5 on the second
    EXPECT_EQ(runFresh(counted).kind, X86Machine::Stop::returned);
    X86Machine::Stop stop = runFresh(counted - 1);
    EXPECT_EQ(stop.kind, X86Machine::Stop::budgetSpent);
    EXPECT_EQ(stop.at, code + 15); // the second pass's jnz

    // From then on every instruction is counted, on read-only code too.
    const std::uint32_t other = code + 0x1000;
    ASSERT_TRUE(machine.map(other, 0x1000, pageRead | pageExecute, error)) << error;
    const std::vector<std::uint8_t> loop = countdown(1000);
    ASSERT_TRUE(machine.write(other, loop.data(), loop.size()));
    for (std::uint64_t budget : {1u, 2u, 1999u, 2000u}) {
        stop = machine.run(other, other + 8, budget);
        EXPECT_EQ(stop.kind, X86Machine::Stop::budgetSpent) << budget;
        EXPECT_EQ(stop.at, budget % 2 == 1 ? other + 5 : other + 6) << budget;
    }
    EXPECT_EQ(machine.run(other, other + 8, 2001).kind, X86Machine::Stop::returned);
    EXPECT_EQ(machine.run(other, other + 8, 0).kind, X86Machine::Stop::returned);
}

// call stub ; hlt, with the stub `xchg ax, ax ; ret` in the stub area: the
// handler sees each stub instruction before it runs and sets EAX.
class StubMachine : public Machine {
  protected:
    static constexpr std::uint32_t stubs = 0x30000000;
    std::vector<std::uint32_t> handed;
    void SetUp() override {
        Machine::SetUp();
        std::string error;
        ASSERT_TRUE(machine.map(stubs, 0x1000, pageRead | pageExecute, error)) << error;
        ASSERT_TRUE(machine.stubArea(stubs, stubs + 0x1000, [this](std::uint32_t at) {
            handed.push_back(at);
            if (at == stubs)
                machine.setReg(X86Machine::eax, 42);
        }));
        const std::uint8_t stub[] = {0x66, 0x90, 0xc3};
        ASSERT_TRUE(machine.write(stubs, stub, sizeof stub));
        std::uint32_t relative = stubs - (code + 5);
        load({0xe8, static_cast<std::uint8_t>(relative), static_cast<std::uint8_t>(relative >> 8),
              static_cast<std::uint8_t>(relative >> 16), static_cast<std::uint8_t>(relative >> 24),
              0xf4});
    }
};

TEST_F(StubMachine, TheHandlerRunsBeforeTheStubAndSetsItsAnswer) {
    ASSERT_EQ(machine.run(code, code + 5, 100).kind, X86Machine::Stop::returned);
    EXPECT_EQ(machine.reg(X86Machine::eax), 42u);
    EXPECT_EQ(handed, (std::vector<std::uint32_t>{stubs, stubs + 2}));
    EXPECT_EQ(machine.reg(X86Machine::esp), data + 0x1000);
}

// A budget that ends just before the stub ends the run there without the
// host's handler; one more instruction lets the handler run once.
TEST_F(StubMachine, ABudgetEndingAtTheStubDoesNotCallTheHost) {
    X86Machine::Stop stop = machine.run(code, code + 5, 1);
    EXPECT_EQ(stop.kind, X86Machine::Stop::budgetSpent);
    EXPECT_EQ(stop.at, stubs);
    EXPECT_TRUE(handed.empty());
    machine.setReg(X86Machine::esp, data + 0x1000);
    stop = machine.run(code, code + 5, 2);
    EXPECT_EQ(stop.kind, X86Machine::Stop::budgetSpent);
    EXPECT_EQ(stop.at, stubs + 2);
    EXPECT_EQ(handed, (std::vector<std::uint32_t>{stubs}));
}

// A handler that ends the run as a fault stops it before the stub's `ret`.
TEST_F(StubMachine, AHandlerFaultEndsTheRunAtTheStub) {
    ASSERT_TRUE(machine.stubArea(stubs, stubs + 0x1000, [this](std::uint32_t at) {
        handed.push_back(at);
        machine.fault("refused");
    }));
    X86Machine::Stop stop = machine.run(code, code + 5, 100);
    EXPECT_EQ(stop.kind, X86Machine::Stop::fault);
    EXPECT_EQ(stop.what, "refused");
    EXPECT_EQ(stop.at, stubs);
    EXPECT_EQ(handed, (std::vector<std::uint32_t>{stubs}));
}

// An interrupt in the script's own code goes to the trap handler, any other
// CPU exception ends the run as a fault.
TEST_F(Machine, InterruptsOutsideTheStubsAreTheScriptsOwn) {
    std::vector<std::uint32_t> trapped;
    machine.onTrap([&](std::uint32_t next) {
        trapped.push_back(next);
        machine.fault("trapped");
    });
    load({0x90, 0xcd, 0x80, 0xf4});
    X86Machine::Stop stop = machine.run(code, code + 3, 100);
    EXPECT_EQ(stop.what, "trapped");
    EXPECT_EQ(trapped, (std::vector<std::uint32_t>{code + 3}));
    load({0x90, 0xcd, 0x03, 0xf4});
    EXPECT_EQ(machine.run(code, code + 3, 100).what, "CPU exception 3");
}

TEST_F(Machine, BlocksAreRememberedOnceWithTheirSize) {
    machine.watchBlocks(code, 0xFFFFFFFFu);
    load(countdown(50));
    for (int i = 0; i < 3; ++i)
        ASSERT_EQ(machine.run(code, code + 8, 1u << 20).kind, X86Machine::Stop::returned);
    const auto& blocks = machine.blocksRun();
    ASSERT_EQ(blocks.count(code), 1u);
    EXPECT_EQ(blocks.at(code), 8u); // mov, dec, jnz: the loop's entry runs on through it
    EXPECT_EQ(blocks.count(code + 5), 1u);
    EXPECT_EQ(blocks.at(code + 5), 3u);
}

TEST_F(Machine, InPlaceBytesStayInsideOneRegionWithItsPermissions) {
    struct Case {
        std::uint32_t address;
        std::uint64_t size;
        std::uint32_t permissions;
        bool inPlace;
    };
    const Case cases[] = {
        {data, 0x2000, pageRead | pageWrite, true},
        {data + 0x1ff0, 0x10, pageWrite, true},
        {data + 0x1ff0, 0x11, pageRead, false}, // runs into the next region
        {data + 0x2000, 4, pageRead, true},     // read-only memory, read
        {data + 0x2000, 4, pageWrite, false},   // read-only memory, written
        {code, 4, pageRead, false},             // code goes through the emulator
        {data - 4, 4, pageRead, false},         // unmapped
        {0xfffffffc, 8, pageRead, false},       // wraps
    };
    for (const Case& c : cases)
        EXPECT_EQ(machine.ownedBytes(c.address, c.size, c.permissions) != nullptr, c.inPlace)
            << std::hex << c.address << " +" << c.size;
    std::uint8_t* bytes = machine.ownedBytes(data + 16, 4, pageWrite);
    ASSERT_NE(bytes, nullptr);
    std::memcpy(bytes, "abc", 4);
    char back[4] = {};
    ASSERT_TRUE(machine.read(data + 16, back, 4));
    EXPECT_STREQ(back, "abc");
}

// The values code compares against are remembered, the constant among them,
// each once, and code translated before the log began is seen too.
TEST_F(Machine, ComparesAreLoggedWithTheirOperands) {
    // mov eax, 5 ; cmp eax, 37 ; cmp eax, 37 ; cmp al, 200 ; hlt
    load({0xb8, 5, 0, 0, 0, 0x83, 0xf8, 37, 0x83, 0xf8, 37, 0x3c, 200, 0xf4});
    const std::uint32_t halt = code + 13;
    ASSERT_EQ(machine.run(code, halt, 100).kind, X86Machine::Stop::returned);
    EXPECT_TRUE(machine.comparedValues().empty());
    machine.logCompares(code, code + 0x1000);
    ASSERT_EQ(machine.run(code, halt, 100).kind, X86Machine::Stop::returned);
    const std::vector<std::uint32_t>& values = machine.comparedValues();
    for (std::uint32_t expected : {5u, 37u, 200u})
        EXPECT_EQ(std::count(values.begin(), values.end(), expected), 1) << expected;
}

// A text of exactly the limit is read, one byte more is not, whether the text
// lies in one region (read in place) or runs across two (read in chunks).
TEST(EmulatedProcessText, TheLimitIsExactOnEveryPath) {
    EmulatedProcess process(RuntimeDlls{});
    X86Machine& machine = process.machine();
    std::string error;
    ASSERT_TRUE(machine.map(data, 0x1000, pageRead | pageWrite, error)) << error;
    ASSERT_TRUE(machine.map(data + 0x1000, 0x1000, pageRead | pageWrite, error)) << error;
    constexpr std::size_t limit = 300;
    for (std::uint32_t start : {data + 0x10, data + 0x1000 - 100}) { // one region, then two
        for (std::size_t length : {limit - 1, limit, limit + 1, limit + 200}) {
            std::string text(length, 'T');
            ASSERT_TRUE(machine.write(start, text.c_str(), text.size() + 1));
            std::string out;
            bool read = process.readText(start, limit, out);
            EXPECT_EQ(read, length <= limit) << "start " << start << ", length " << length;
            if (read)
                EXPECT_EQ(out, text);
        }
    }
}

} // namespace
