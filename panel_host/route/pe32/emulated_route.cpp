#include "emulated_route.h"

#include "string_compares.h"

#include "dotted_message.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace {

// Longest command text the host reads: well past any command a script builds
// around the longest text the host hands it (64 KiB), so that such a command
// passes here as it does natively.
constexpr std::size_t maxCommand = 1u << 20;
constexpr std::size_t maxReply = 1u << 20; // longest parameter reply the host reads
constexpr std::size_t maxLeaksListed = 20;

// The host's callback object: a vtable pointer, then the two-slot vtable.
constexpr std::uint32_t hostObjectAt = EmulatedProcess::hostBase;
constexpr std::uint32_t hostVtableAt = EmulatedProcess::hostBase + 0x10;
constexpr std::uint32_t emptyTextAt = EmulatedProcess::hostBase + 0x40;
constexpr std::uint32_t pathTextAt = EmulatedProcess::hostBase + 0x100;
constexpr std::size_t maxPath = 0x10000;

// The 32-bit layout of a dottedMessage: 148 bytes.
constexpr std::size_t messageSize = 148;
constexpr std::size_t messagePartsAt = 4, messageValueAt = 132, messagePartCountAt = 136,
                      messageHasValueAt = 140, messageBufferAt = 144;
// The 32-bit layouts of the host's records.
constexpr std::size_t revertiveTextAt = 16;
constexpr std::size_t controlEventSize = 20;

void put32(std::uint8_t* at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i)
        at[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

std::string tooLarge(const char* what) {
    return std::string("the ") + what + " does not fit the host's record area";
}

} // namespace

std::uint32_t EmulatedRoute::RecordArea::put(const void* bytes, std::size_t size) {
    std::uint32_t end = EmulatedProcess::hostBase + EmulatedProcess::hostSize;
    std::size_t aligned = (size + 3) / 4 * 4;
    if (aligned > end - next_)
        return 0;
    std::uint32_t at = next_;
    machine_.write(at, bytes, size);
    next_ += static_cast<std::uint32_t>(aligned);
    return at;
}

EmulatedRoute::EmulatedRoute(RuntimeDlls runtime)
    : process_(std::move(runtime)),
      replies_(process_.machine(), EmulatedProcess::replyBase, EmulatedProcess::replySize),
      records_(process_.machine()) {}

bool EmulatedRoute::open(const std::string& path, std::string& error) {
    std::size_t slash = path.find_last_of('/');
    folder_ = slash == std::string::npos ? "." : path.substr(0, slash);
    if (char* full = realpath(folder_.c_str(), nullptr)) {
        folder_ = full;
        std::free(full);
    }
    if (folder_.size() >= maxPath) {
        error = "cannot load " + path + ": its folder's path is too long";
        return false;
    }
    process_.onBreach = [this](const std::string& what) {
        if (host_ != nullptr)
            host_->onRouteBreach(what);
    };
    process_.onDebugOutput = [this](const std::string& text) {
        if (host_ != nullptr)
            host_->onDebugOutput(text);
    };
    if (!process_.loadLibrary(path, error)) {
        error = "cannot load " + path + ": " + error;
        return false;
    }
    const EmulatedProcess::Module* module = process_.mainModule();
    auto found = module->exports.find("load_vesk_client_script");
    if (found == module->exports.end()) {
        error = path + " has no export load_vesk_client_script";
        return false;
    }
    export_ = found->second;
    X86Machine& machine = process_.machine();
    std::uint32_t destroySlot =
        process_.addStub("host object destructor", 4, [this](const StubCall&) {
            process_.breach("the script called the destructor of the host's callback object");
            return hostObject_;
        });
    std::uint32_t callbackSlot = process_.addStub(
        "host callback", 8, [this](const StubCall& call) { return onHostCallback(call); });
    machine.write32(hostObjectAt, hostVtableAt);
    machine.write32(hostVtableAt, destroySlot);
    machine.write32(hostVtableAt + 4, callbackSlot);
    machine.write(pathTextAt, folder_.c_str(), folder_.size() + 1);
    hostObject_ = hostObjectAt;
    pathText_ = pathTextAt;
    emptyText_ = emptyTextAt;
    savedReplies_ = replies_.books();
    // Not being able to rewind costs speed only: each session then loads anew.
    process_.snapshot();
    return true;
}

std::optional<CodeCoverage> EmulatedRoute::coverage() const {
    CodeCoverage coverage;
    const std::vector<EmulatedProcess::Module>& modules = process_.modules();
    for (const EmulatedProcess::Module& module : modules) {
        for (const auto& [rva, size] : module.code)
            coverage.code.push_back({module.name, rva, size});
        for (const auto& [name, address] : module.exports)
            coverage.exports.push_back({{module.name, address - module.base, 0}, name});
    }
    for (std::size_t i = 0; i < modules.size(); ++i)
        if (process_.symbolsOf(i) != nullptr)
            coverage.symbols.push_back({modules[i].name, modules[i].path, {}});
    for (const auto& [address, size] : process_.machine().blocksRun())
        for (const EmulatedProcess::Module& module : modules)
            if (address >= module.base && address - module.base < module.size)
                coverage.reached.push_back({module.name, address - module.base, size});
    return coverage;
}

bool EmulatedRoute::rewind() {
    if (script_ != 0 || !process_.rewind())
        return false;
    replies_.restore(savedReplies_);
    records_.reset();
    emptyPath_ = false;
    host_ = nullptr;
    return true;
}

std::uint32_t EmulatedRoute::lendReply(const HostReply& reply, std::uint32_t site) {
    std::uint32_t at = replies_.allocate(static_cast<std::uint32_t>(reply.text.size() + 1), site);
    if (at == 0)
        return 0;
    process_.machine().write(at, reply.text.c_str(), reply.text.size() + 1);
    if (reply.handedBack)
        host_->onReplyLent(at, reply.text);
    return at;
}

// The script calling the host's callback(data, type), thiscall.
std::uint32_t EmulatedRoute::onHostCallback(const StubCall& call) {
    std::uint32_t data = call.arg(0);
    auto type = static_cast<std::int32_t>(call.arg(1));
    if (type == 0) {
        std::optional<std::string> text;
        if (data != 0) {
            std::string command;
            if (!process_.readText(data, maxCommand, command)) {
                process_.fault("the command text at " + process_.where(data) +
                               " cannot be read or is longer than 1 MiB");
                return 0;
            }
            text = command;
        }
        std::optional<HostReply> reply = host_->onCommand(text);
        return reply ? lendReply(*reply, call.caller()) : 0;
    }
    if (type == 5) {
        EmulatedHeap::Block block;
        if (host_->onHandBack(data))
            replies_.release(data, block);
        return 0;
    }
    host_->onOtherType(type);
    return 0;
}

CallOutcome EmulatedRoute::outcomeOf(const EmulatedProcess::CallResult& result) {
    CallOutcome outcome;
    outcome.fault = result.fault;
    return outcome;
}

bool EmulatedRoute::limitInstructionsPerCall(std::uint64_t budget) {
    process_.setInstructionBudget(budget);
    return true;
}

CallOutcome EmulatedRoute::load(ScriptHostSide& host, bool& created) {
    host_ = &host;
    records_.reset();
    EmulatedProcess::CallResult result =
        process_.call(export_, {hostObject_, emptyPath_ ? emptyText_ : pathText_}, 0);
    script_ = result.fault ? 0 : result.eax;
    created = script_ != 0;
    return outcomeOf(result);
}

CallOutcome EmulatedRoute::callScript(std::uint32_t data, std::int32_t type,
                                      std::uint32_t* answer) {
    std::uint32_t vtable = 0, slot = 0;
    if (!process_.machine().read32(script_, vtable) || !process_.machine().read32(vtable + 4, slot))
        return {"the script object at " + process_.where(script_) + " has no readable vtable"};
    EmulatedProcess::CallResult result =
        process_.call(slot, {data, static_cast<std::uint32_t>(type)}, 8, script_);
    if (answer != nullptr)
        *answer = result.eax;
    return outcomeOf(result);
}

CallOutcome EmulatedRoute::revertive(int device, int index, const std::string& text) {
    records_.reset();
    std::string record(revertiveTextAt, '\0');
    put32(reinterpret_cast<std::uint8_t*>(record.data()), static_cast<std::uint32_t>(device));
    put32(reinterpret_cast<std::uint8_t*>(record.data()) + 8, static_cast<std::uint32_t>(index));
    record += text;
    std::uint32_t at = records_.putText(record);
    if (at == 0)
        return {tooLarge("revertive text")};
    return callScript(at, 1);
}

// A dottedMessage in emulated memory, parsed by the host's own parser.
std::uint32_t EmulatedRoute::putMessage(const std::string& message) {
    dottedMessage parsed(message.c_str());
    std::uint32_t buffer = 0;
    if (parsed.buffer != nullptr) {
        buffer = records_.put(parsed.buffer, message.size() + 1);
        if (buffer == 0)
            return 0;
    }
    auto address = [&](const char* text) {
        return text == dottedEmptyText || parsed.buffer == nullptr
                   ? emptyText_
                   : buffer + static_cast<std::uint32_t>(text - parsed.buffer);
    };
    std::uint8_t record[messageSize] = {};
    put32(record, address(parsed.name));
    for (int i = 0; i < dottedMessageMaxParts; ++i)
        put32(record + messagePartsAt + 4 * i, address(parsed.parts[i]));
    put32(record + messageValueAt, address(parsed.value));
    put32(record + messagePartCountAt, static_cast<std::uint32_t>(parsed.partCount));
    record[messageHasValueAt] = parsed.hasValue ? 1 : 0;
    put32(record + messageBufferAt, buffer);
    return records_.put(record, messageSize);
}

CallOutcome EmulatedRoute::controlEvent(const std::string& panel, const std::string& control,
                                        const std::string& message) {
    records_.reset();
    std::uint32_t panelText = records_.putText(panel);
    std::uint32_t controlText = records_.putText(control);
    std::uint32_t parsed = putMessage(message);
    std::uint8_t record[controlEventSize] = {};
    put32(record + 8, panelText);
    put32(record + 12, controlText);
    put32(record + 16, parsed);
    std::uint32_t at = records_.put(record, controlEventSize);
    if (panelText == 0 || controlText == 0 || parsed == 0 || at == 0)
        return {tooLarge("control event")};
    return callScript(at, 2);
}

CallOutcome EmulatedRoute::parameter(const std::optional<std::string>& message,
                                     std::optional<ScriptReply>& reply) {
    records_.reset();
    reply.reset();
    std::uint32_t text = 0;
    if (message && (text = records_.putText(*message)) == 0)
        return {tooLarge("parameter message")};
    std::uint32_t answer = 0;
    CallOutcome outcome = callScript(text, 3, &answer);
    if (!outcome.ok() || answer == 0)
        return outcome;
    std::string replyText;
    if (!process_.readText(answer, maxReply, replyText))
        return {"the reply at " + process_.where(answer) +
                " cannot be read or is longer than 1 MiB"};
    reply = ScriptReply{answer, replyText};
    return outcome;
}

CallOutcome EmulatedRoute::tick(int timer) {
    return callScript(static_cast<std::uint32_t>(timer), 4);
}

CallOutcome EmulatedRoute::handBack(ScriptAddress buffer) {
    if (buffer > UINT32_MAX)
        return {"a hand-back of an address outside 32 bits"};
    return callScript(static_cast<std::uint32_t>(buffer), 5);
}

CallOutcome EmulatedRoute::notify(int type) {
    return callScript(0, type);
}

CallOutcome EmulatedRoute::destroy() {
    std::uint32_t vtable = 0, slot = 0;
    if (!process_.machine().read32(script_, vtable) || !process_.machine().read32(vtable, slot))
        return {"the script object at " + process_.where(script_) + " has no readable vtable"};
    // The scalar deleting destructor, thiscall, with flags 1: delete the object.
    CallOutcome outcome = outcomeOf(process_.call(slot, {1}, 4, script_));
    script_ = 0;
    if (outcome.ok())
        reportLiveBlocks();
    return outcome;
}

void EmulatedRoute::reportLiveBlocks() {
    std::vector<EmulatedHeap::Block> live = process_.heap().live();
    for (std::size_t i = 0; i < live.size() && i < maxLeaksListed; ++i) {
        const EmulatedHeap::Block& block = live[i];
        std::string broken =
            process_.heap().guardIntact(block) ? "" : ", and something wrote past its end";
        host_->onRouteBreach("block of " + std::to_string(block.size) + " bytes allocated at " +
                             process_.where(block.site) + " is still live after delete" + broken);
    }
    if (live.size() > maxLeaksListed)
        host_->onRouteBreach(std::to_string(live.size() - maxLeaksListed) +
                             " more blocks are still live after delete");
}

// The values of every module's `cmp`s for the dictionary; their pairs only in
// the script's own code (the string library's loops would crowd them out: its
// comparisons are read at its exports instead, and the runtime's by its rows).
bool EmulatedRoute::logCompares() {
    if (process_.comparisons().on())
        return true;
    process_.comparisons().start();
    if (const EmulatedProcess::Module* main = process_.mainModule())
        process_.machine().pairCompares(main->base, main->base + main->size);
    watchStringCompares(process_);
    process_.machine().logCompares(EmulatedProcess::firstImageBase, 0xFFFFFFFFu);
    return true;
}

void EmulatedRoute::forgetComparisons() {
    process_.comparisons().forget();
    process_.machine().forgetComparedPairs();
}

std::vector<Comparison> EmulatedRoute::takeComparisons() {
    std::vector<Comparison> taken = process_.comparisons().take();
    for (const auto& [left, right] : process_.machine().takeComparedPairs())
        if (taken.size() < ComparisonLog::maxEntries)
            taken.push_back({Comparison::number, std::to_string(static_cast<std::int32_t>(left)),
                             std::to_string(static_cast<std::int32_t>(right))});
    return taken;
}

std::vector<std::uint32_t> EmulatedRoute::comparedValues() const {
    return process_.machine().comparedValues();
}

void EmulatedRoute::startCountingHits() {
    process_.machine().startCountingHits();
}

std::vector<std::pair<std::uint32_t, std::uint8_t>> EmulatedRoute::hitCounts() const {
    return process_.machine().hitCounts();
}
