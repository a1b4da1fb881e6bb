#include "native_route.h"

#include "coverage_guards.h"

#include "dotted_message.h"
#include "host_records.h"
#include "script_allocations.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

namespace {
#if defined(_WIN32)
constexpr const char* stringLibrary = "vesk_string.dll";
#else
constexpr const char* stringLibrary = "libvesk_string.so";
#endif
// The log the string library's reports go to: the route that asked last.
ComparisonLog* watchingLog = nullptr;
} // namespace

NativeRoute::NativeRoute(std::unique_ptr<ScriptLibrary> library)
    : library_(std::move(library)), endpoint_(*this) {}

NativeRoute::~NativeRoute() {
    if (watchingLog == &comparisons_) {
        watchStrings_(nullptr);
        watchingLog = nullptr;
    }
    for (void* buffer : lent_)
        std::free(buffer);
}

std::optional<std::pair<long long, long long>> NativeRoute::heldBlocks() const {
    if (!scriptAllocationsCounted())
        return std::nullopt;
    ScriptAllocations held = scriptAllocations();
    return std::make_pair(held.blocks, held.bytes);
}

CallOutcome NativeRoute::load(ScriptHostSide& host, bool& created) {
    host_ = &host;
    enterScriptCode();
    script_ = library_->loadFunction()(&endpoint_, emptyPath_ ? "" : library_->folder().c_str());
    leaveScriptCode();
    created = script_ != nullptr;
    return {};
}

CallOutcome NativeRoute::deliver(void* data, int type, void** result) {
    enterScriptCode();
    void* answer = script_->callback(data, type);
    leaveScriptCode();
    if (result != nullptr)
        *result = answer;
    return {};
}

void NativeRoute::checkUnchanged(const void* record, const std::vector<char>& before,
                                 const char* what) {
    if (std::memcmp(record, before.data(), before.size()) != 0)
        host_->onRouteBreach(std::string("the script wrote into the host's ") + what);
}

CallOutcome NativeRoute::revertive(int device, int index, const std::string& text) {
    std::vector<char> bytes(sizeof(revertiveRecord) + text.size() + 1, 0);
    auto* record = reinterpret_cast<revertiveRecord*>(bytes.data());
    record->device = device;
    record->index = index;
    std::memcpy(record->text, text.c_str(), text.size() + 1);
    std::vector<char> before = bytes;
    CallOutcome outcome = deliver(record, 1);
    if (outcome.ok())
        checkUnchanged(bytes.data(), before, "revertive record");
    return outcome;
}

CallOutcome NativeRoute::controlEvent(const std::string& panel, const std::string& control,
                                      const std::string& message) {
    // Own copies of the texts: the host's records are read-only to the script,
    // and a write into them is seen by comparing after the call.
    std::vector<char> panelText(panel.c_str(), panel.c_str() + panel.size() + 1);
    std::vector<char> controlText(control.c_str(), control.c_str() + control.size() + 1);
    // The message is built in zeroed storage, so that every byte compared
    // after the call (its padding and unused parts too) has a known value.
    alignas(dottedMessage) unsigned char storage[sizeof(dottedMessage)] = {};
    dottedMessage& parsed = *new (storage) dottedMessage(message.c_str());
    controlEventRecord record{};
    record.panel = panelText.data();
    record.controlId = controlText.data();
    record.message = &parsed;
    auto bytesOf = [](const void* at, size_t size) {
        const char* from = static_cast<const char*>(at);
        return std::vector<char>(from, from + size);
    };
    std::vector<char> recordBefore = bytesOf(&record, sizeof record);
    std::vector<char> messageBefore = bytesOf(&parsed, sizeof parsed);
    std::vector<char> panelBefore = panelText, controlBefore = controlText;
    CallOutcome outcome = deliver(&record, 2);
    if (outcome.ok()) {
        checkUnchanged(&record, recordBefore, "control event record");
        checkUnchanged(&parsed, messageBefore, "control event's message");
        checkUnchanged(panelText.data(), panelBefore, "panel name");
        checkUnchanged(controlText.data(), controlBefore, "control id");
    }
    parsed.~dottedMessage();
    return outcome;
}

CallOutcome NativeRoute::parameter(const std::optional<std::string>& message,
                                   std::optional<ScriptReply>& reply) {
    void* result = nullptr;
    CallOutcome outcome =
        deliver(message ? const_cast<char*>(message->c_str()) : nullptr, 3, &result);
    reply.reset();
    if (result != nullptr)
        reply =
            ScriptReply{reinterpret_cast<std::uintptr_t>(result), static_cast<const char*>(result)};
    return outcome;
}

CallOutcome NativeRoute::tick(int timer) {
    return deliver(reinterpret_cast<void*>(static_cast<std::intptr_t>(timer)), 4);
}

CallOutcome NativeRoute::handBack(ScriptAddress buffer) {
    return deliver(reinterpret_cast<void*>(static_cast<std::uintptr_t>(buffer)), 5);
}

CallOutcome NativeRoute::notify(int type) {
    return deliver(nullptr, type);
}

CallOutcome NativeRoute::destroy() {
    enterScriptCode();
    deleteScript(script_);
    leaveScriptCode();
    script_ = nullptr;
    return {};
}

void* NativeRoute::replyBuffer(const HostReply& reply) {
    if (!reply.handedBack) {
        keptReplies_.push_back(reply.text);
        return const_cast<char*>(keptReplies_.back().c_str());
    }
    char* buffer = static_cast<char*>(std::malloc(reply.text.size() + 1));
    if (buffer == nullptr)
        return nullptr;
    std::memcpy(buffer, reply.text.c_str(), reply.text.size() + 1);
    lent_.insert(buffer);
    host_->onReplyLent(reinterpret_cast<std::uintptr_t>(buffer), reply.text);
    return buffer;
}

void* NativeRoute::fromScript(void* data, int type) {
    // The host's own allocations while it serves the script are not the script's.
    leaveScriptCode();
    void* answer = serveScript(data, type);
    enterScriptCode();
    return answer;
}

void* NativeRoute::serveScript(void* data, int type) {
    if (type == 0) {
        std::optional<std::string> text;
        if (data != nullptr)
            text = static_cast<const char*>(data);
        std::optional<HostReply> reply = host_->onCommand(text);
        return reply ? replyBuffer(*reply) : nullptr;
    }
    if (type == 5) {
        if (host_->onHandBack(reinterpret_cast<std::uintptr_t>(data))) {
            lent_.erase(data);
            std::free(data);
        }
        return nullptr;
    }
    host_->onOtherType(type);
    return nullptr;
}

std::optional<CodeCoverage> NativeRoute::coverage() const {
    return guardCoverage(library_->path());
}

// A library built with compare tracing reports its compares from the first
// call on; one built without has nothing to report. Our string library tells
// of its comparisons once asked.
bool NativeRoute::logCompares() {
    if (comparisons_.on())
        return true;
    comparisons_.start();
    startPairingTracedCompares();
    watchStrings_ = reinterpret_cast<WatchFunction>(
        library_->symbol("vesk_string_watch_compares", stringLibrary));
    if (watchStrings_ != nullptr) {
        watchingLog = &comparisons_;
        watchStrings_(&NativeRoute::onStringCompare);
    }
    return true;
}

// Runs inside the script's call; what the log allocates is the host's, not the script's.
void NativeRoute::onStringCompare(int kind, const char* left, const char* right) {
    if (watchingLog == nullptr || kind < Comparison::equal || kind > Comparison::conversion ||
        watchingLog->full())
        return;
    leaveScriptCode();
    watchingLog->add(static_cast<Comparison::Kind>(kind), left ? left : "", right ? right : "");
    enterScriptCode();
}

void NativeRoute::forgetComparisons() {
    comparisons_.forget();
    forgetTracedComparePairs();
}

std::vector<Comparison> NativeRoute::takeComparisons() {
    std::vector<Comparison> taken = comparisons_.take();
    for (const auto& [left, right] : takeTracedComparePairs())
        if (taken.size() < ComparisonLog::maxEntries)
            taken.push_back({Comparison::number, std::to_string(left), std::to_string(right)});
    return taken;
}

std::vector<std::uint32_t> NativeRoute::comparedValues() const {
    return tracedCompares();
}

void NativeRoute::startCountingHits() {
    startCountingGuardHits();
}

std::vector<std::pair<std::uint32_t, std::uint8_t>> NativeRoute::hitCounts() const {
    return guardHitCounts();
}
