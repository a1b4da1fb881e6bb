#include "native_route.h"

#include "dotted_message.h"
#include "host_records.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

NativeRoute::NativeRoute(std::unique_ptr<ScriptLibrary> library)
    : library_(std::move(library)), endpoint_(*this) {}

NativeRoute::~NativeRoute() {
    for (void* buffer : lent_)
        std::free(buffer);
}

CallOutcome NativeRoute::load(ScriptHostSide& host, bool& created) {
    host_ = &host;
    script_ = library_->loadFunction()(&endpoint_, library_->folder().c_str());
    created = script_ != nullptr;
    return {};
}

CallOutcome NativeRoute::deliver(void* data, int type, void** result) {
    void* answer = script_->callback(data, type);
    if (result != nullptr)
        *result = answer;
    return {};
}

CallOutcome NativeRoute::revertive(int device, int index, const std::string& text) {
    std::vector<char> bytes(sizeof(revertiveRecord) + text.size() + 1, 0);
    auto* record = reinterpret_cast<revertiveRecord*>(bytes.data());
    record->device = device;
    record->index = index;
    std::memcpy(record->text, text.c_str(), text.size() + 1);
    return deliver(record, 1);
}

CallOutcome NativeRoute::controlEvent(const std::string& panel, const std::string& control,
                                      const std::string& message) {
    dottedMessage parsed(message.c_str());
    controlEventRecord record{};
    record.panel = panel.c_str();
    record.controlId = control.c_str();
    record.message = &parsed;
    return deliver(&record, 2);
}

CallOutcome NativeRoute::parameter(const std::optional<std::string>& message,
                                   std::optional<ScriptReply>& reply) {
    void* result = nullptr;
    CallOutcome outcome =
        deliver(message ? const_cast<char*>(message->c_str()) : nullptr, 3, &result);
    reply.reset();
    if (result != nullptr)
        reply = ScriptReply{reinterpret_cast<std::uintptr_t>(result),
                            static_cast<const char*>(result)};
    return outcome;
}

CallOutcome NativeRoute::tick(int timer) {
    return deliver(reinterpret_cast<void*>(static_cast<std::intptr_t>(timer)), 4);
}

CallOutcome NativeRoute::handBack(ScriptAddress buffer) {
    return deliver(reinterpret_cast<void*>(static_cast<std::uintptr_t>(buffer)), 5);
}

CallOutcome NativeRoute::notify(int type) { return deliver(nullptr, type); }

CallOutcome NativeRoute::destroy() {
    deleteScript(script_);
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
