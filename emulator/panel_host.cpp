#include "panel_host.h"

#include "dotted_message.h"
#include "host_command.h"
#include "host_records.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

std::string quote(const std::string& text) { return "\"" + text + "\""; }

} // namespace

PanelHost::PanelHost(Studio& studio, Sink transcript)
    : studio_(studio), transcript_(std::move(transcript)), endpoint_(*this) {}

PanelHost::~PanelHost() {
    if (isOpen())
        close();
    for (auto& [buffer, text] : repliesOut_)
        std::free(buffer);
}

std::string PanelHost::shown(const std::string& text) const {
    if (folder_.empty())
        return text;
    std::string out = text;
    for (size_t at; (at = out.find(folder_)) != std::string::npos;)
        out.replace(at, folder_.size(), "$SCRIPT_DIR");
    return out;
}

bool PanelHost::open(const ScriptLibrary& library) {
    folder_ = library.folder();
    note("host: load_vesk_client_script(host, $SCRIPT_DIR)");
    delivering_ = true;
    script_ = library.loadFunction()(&endpoint_, folder_.c_str());
    delivering_ = false;
    if (script_ == nullptr) {
        note("host: the export returned no script");
        return false;
    }
    deliverPending();
    return true;
}

void PanelHost::close() {
    if (!isOpen())
        return;
    note("host: delete script");
    delivering_ = true;
    deleteScript(script_);
    delivering_ = false;
    script_ = nullptr;
    studio_.pendingRevertives().clear();
    for (const auto& [buffer, text] : repliesOut_)
        breach("reply " + quote(shown(text)) + " was never handed back");
}

void PanelHost::breach(const std::string& what) {
    breaches_.push_back(what);
    note("BREACH: " + what);
}

void* PanelHost::onScriptCall(void* data, int type) {
    if (saidGoodbye_)
        breach("call of type " + std::to_string(type) + " after the script said AS");
    if (!delivering_)
        breach("call of type " + std::to_string(type) + " outside a call from the host");
    if (type == 0)
        return data == nullptr ? (breach("null command text"), nullptr)
                               : onCommand(static_cast<const char*>(data));
    if (type == 5) {
        onHandBack(data);
        return nullptr;
    }
    breach("script sent type " + std::to_string(type) + ", which only the host sends");
    return nullptr;
}

void* PanelHost::onCommand(const char* text) {
    std::string command(text);
    commands_.push_back(command);
    note("script> " + shown(command));
    std::string why;
    std::optional<HostCommand> parsed = parseHostCommand(command, why);
    if (!parsed) {
        breach("command does not parse (" + why + "): " + shown(command));
        return nullptr;
    }
    if (parsed->keyword == "AS") {
        saidGoodbye_ = true;
        return nullptr;
    }
    CommandOutcome outcome = studio_.execute(*parsed);
    for (const std::string& line : outcome.notes)
        note("  studio: " + shown(line));
    if (!outcome.reply)
        return nullptr;
    note("  reply " + quote(*outcome.reply));
    if (!outcome.replyReturned) {
        keptReplies_.push_back(*outcome.reply);
        return const_cast<char*>(keptReplies_.back().c_str());
    }
    char* buffer = static_cast<char*>(std::malloc(outcome.reply->size() + 1));
    std::memcpy(buffer, outcome.reply->c_str(), outcome.reply->size() + 1);
    repliesOut_[buffer] = *outcome.reply;
    return buffer;
}

void PanelHost::onHandBack(void* buffer) {
    auto found = repliesOut_.find(buffer);
    if (found == repliesOut_.end()) {
        breach("hand-back of a buffer the host did not give out, or gave back already");
        return;
    }
    note("  back " + quote(found->second));
    std::free(buffer);
    repliesOut_.erase(found);
}

void* PanelHost::deliver(void* data, int type) {
    delivering_ = true;
    void* result = script_->callback(data, type);
    delivering_ = false;
    return result;
}

void PanelHost::deliverPending() {
    auto& pending = studio_.pendingRevertives();
    while (isOpen() && !pending.empty()) {
        PendingRevertive next = pending.front();
        pending.pop_front();
        revertive(next.device, next.index, next.text);
    }
}

void PanelHost::controlEvent(const std::string& panel, const std::string& control,
                             const std::string& message) {
    note("host> control " + panel + " " + control + " " + message);
    dottedMessage parsed(message.c_str());
    controlEventRecord record{};
    record.panel = panel.c_str();
    record.controlId = control.c_str();
    record.message = &parsed;
    deliver(&record, 2);
    deliverPending();
}

void PanelHost::pick(const std::string& panel, const std::string& control,
                     const std::string& value) {
    ControlState& state = studio_.control(control);
    std::string property = state.kind == "selector" ? "page" : "index";
    state.properties[property] = value;
    controlEvent(panel, control, property + "=" + value);
}

void PanelHost::revertive(int device, int index, const std::string& text) {
    note("host> revertive " + std::to_string(device) + " " + std::to_string(index) + " " +
         quote(text));
    std::vector<char> bytes(sizeof(revertiveRecord) + text.size() + 1, 0);
    auto* record = reinterpret_cast<revertiveRecord*>(bytes.data());
    record->device = device;
    record->index = index;
    std::memcpy(record->text, text.c_str(), text.size() + 1);
    deliver(record, 1);
    deliverPending();
}

std::optional<std::string> PanelHost::parameter(const std::optional<std::string>& message) {
    note("host> parameter " + (message ? quote(*message) : std::string("(null)")));
    void* result = deliver(message ? const_cast<char*>(message->c_str()) : nullptr, 3);
    std::optional<std::string> reply;
    if (result != nullptr) {
        reply = static_cast<const char*>(result);
        note("  reply " + quote(*reply));
        deliver(result, 5);
        note("host> hand back " + quote(*reply));
    }
    deliverPending();
    return reply;
}

void PanelHost::timerTick(int id) {
    note("host> tick " + std::to_string(id) + " at " + std::to_string(studio_.now()) + " ms");
    deliver(reinterpret_cast<void*>(static_cast<std::intptr_t>(id)), 4);
    deliverPending();
}

void PanelHost::wait(long long milliseconds) {
    long long until = studio_.now() + milliseconds;
    for (std::optional<int> id; isOpen() && (id = studio_.nextTick(until));)
        timerTick(*id);
    studio_.advanceTo(until);
}

void PanelHost::routeAudio(int destination, int source) {
    std::string line;
    studio_.routeAudio(destination, source, line);
    note("studio: " + line);
    deliverPending();
}

std::vector<std::string> PanelHost::takeCommands() {
    std::vector<std::string> taken;
    taken.swap(commands_);
    return taken;
}
