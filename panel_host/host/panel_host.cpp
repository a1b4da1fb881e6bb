#include "panel_host.h"

#include "host_command.h"

namespace {

std::string quote(const std::string& text) {
    return "\"" + text + "\"";
}

} // namespace

PanelHost::PanelHost(Studio& studio, Sink transcript)
    : studio_(studio), transcript_(std::move(transcript)) {}

PanelHost::~PanelHost() {
    if (isOpen())
        close();
}

std::string PanelHost::shown(const std::string& text) const {
    // Only an absolute folder is hidden: a relative one (left so when the
    // working folder is too deep to name) such as "S" is part of any text.
    bool absolute = !folder_.empty() &&
                    (folder_[0] == '/' || folder_[0] == '\\' ||
                     (folder_.size() > 2 && folder_[1] == ':')); // a drive letter on Windows
    if (!absolute)
        return text;
    std::string out = text;
    // Searching on after each replacement, so nothing is found in the marker.
    const std::string marker = "$SCRIPT_DIR";
    for (size_t at = 0; (at = out.find(folder_, at)) != std::string::npos; at += marker.size())
        out.replace(at, folder_.size(), marker);
    return out;
}

bool PanelHost::open(ScriptRoute& route) {
    folder_ = route.folder();
    studio_.setPanelFolder(folder_);
    note("host: load_vesk_client_script(host, $SCRIPT_DIR)");
    route_ = &route;
    heldAtOpen_ = route.heldBlocks();
    bool created = false;
    if (!deliver("load_vesk_client_script", [&] { return route.load(*this, created); }))
        return false;
    if (!created) {
        route_ = nullptr;
        note("host: the export returned no script");
        return false;
    }
    deliverPending();
    return isOpen();
}

void PanelHost::close() {
    if (!isOpen())
        return;
    note("host: delete script");
    ScriptRoute* route = route_;
    deleting_ = true;
    bool deleted = deliver("delete", [route] { return route->destroy(); });
    deleting_ = false;
    route_ = nullptr;
    studio_.pendingRevertives().clear();
    for (const auto& [buffer, text] : repliesOut_)
        if (!keptReported_.count(buffer))
            breach("reply " + quote(shown(text)) + " was never handed back");
    repliesOut_.clear();
    if (deleted) {
        checkGoodbye();
        checkNothingHeld(*route);
    }
}

void PanelHost::checkNothingHeld(const ScriptRoute& route) {
    std::optional<std::pair<long long, long long>> held = route.heldBlocks();
    if (!strict_ || !held || !heldAtOpen_ || held->first == heldAtOpen_->first)
        return;
    long long blocks = held->first - heldAtOpen_->first;
    breach("the script still holds " + std::to_string(blocks) +
           (blocks == 1 ? " block (" : " blocks (") +
           std::to_string(held->second - heldAtOpen_->second) + " bytes) after its delete");
}

void PanelHost::checkGoodbye() {
    if (strict_ && goodbyes_ == 0)
        breach("the script did not say AS at delete");
    if (strict_ && goodbyes_ > 1)
        breach("the script said AS " + std::to_string(goodbyes_) + " times");
}

void PanelHost::checkRepliesBack() {
    if (!strict_)
        return;
    for (const auto& [buffer, text] : repliesOut_)
        if (keptReported_.emplace(buffer, true).second)
            breach("reply " + quote(shown(text)) + " was kept past the call that received it");
}

void PanelHost::breach(const std::string& what) {
    if (++breachCount_ <= keptBreaches)
        breaches_.push_back(what);
    note("BREACH: " + what);
}

template <class Call> bool PanelHost::deliver(const std::string& step, Call call) {
    delivering_ = true;
    CallOutcome outcome = call();
    delivering_ = false;
    if (outcome.ok()) {
        checkRepliesBack();
        return true;
    }
    breach("script fault in " + step + ": " + *outcome.fault);
    route_ = nullptr; // the script's state is unknown: nothing more is delivered
    return false;
}

void PanelHost::checkCallAllowed(int type) {
    if (saidGoodbye_)
        breach("call of type " + std::to_string(type) + " after the script said AS");
    if (!delivering_)
        breach("call of type " + std::to_string(type) + " outside a call from the host");
}

std::optional<HostReply> PanelHost::onCommand(const std::optional<std::string>& text) {
    checkCallAllowed(0);
    if (!text) {
        breach("null command text");
        return std::nullopt;
    }
    const std::string& command = *text;
    commands_.push_back(command);
    note("script> " + shown(command));
    std::string why;
    std::optional<HostCommand> parsed = parseHostCommand(command, why);
    if (!parsed) {
        breach("command does not parse (" + why + "): " + shown(command));
        return std::nullopt;
    }
    if (parsed->keyword == "AS") {
        ++goodbyes_;
        if (strict_ && !deleting_ && !saidGoodbye_)
            breach("the script said AS before it was deleted");
        saidGoodbye_ = true;
        return std::nullopt;
    }
    CommandOutcome outcome = studio_.execute(*parsed);
    for (const std::string& line : outcome.notes)
        note("  studio: " + shown(line));
    if (outcome.failure)
        breach(shown(*outcome.failure));
    if (!outcome.reply)
        return std::nullopt;
    note("  reply " + quote(*outcome.reply));
    return HostReply{*outcome.reply, outcome.replyReturned};
}

void PanelHost::onReplyLent(ScriptAddress at, const std::string& text) {
    repliesOut_[at] = text;
}

bool PanelHost::onHandBack(ScriptAddress at) {
    checkCallAllowed(5);
    auto found = repliesOut_.find(at);
    if (found == repliesOut_.end()) {
        breach("hand-back of a buffer the host did not give out, or gave back already");
        return false;
    }
    note("  back " + quote(found->second));
    keptReported_.erase(at);
    repliesOut_.erase(found);
    return true;
}

void PanelHost::onOtherType(int type) {
    checkCallAllowed(type);
    breach("script sent type " + std::to_string(type) + ", which only the host sends");
}

void PanelHost::onDebugOutput(const std::string& text) {
    note("  debug: " + quote(text));
}

void PanelHost::onRouteBreach(const std::string& what) {
    breach(what);
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
    if (!isOpen())
        return;
    note("host> control " + panel + " " + control + " " + message);
    ScriptRoute* route = route_;
    if (deliver("control event " + panel + " " + control + " " + message,
                [&] { return route->controlEvent(panel, control, message); }))
        deliverPending();
}

void PanelHost::pick(const std::string& panel, const std::string& control,
                     const std::string& value) {
    ControlState& state = studio_.control(control);
    std::string property = state.kind == "selector" ? "page" : "index";
    state.properties[property] = value;
    if (property == "index")
        state.operatorPick = value;
    controlEvent(panel, control, property + "=" + value);
}

void PanelHost::revertive(int device, int index, const std::string& text) {
    if (!isOpen())
        return;
    std::string step =
        "revertive " + std::to_string(device) + " " + std::to_string(index) + " " + quote(text);
    note("host> " + step);
    ScriptRoute* route = route_;
    if (deliver(step, [&] { return route->revertive(device, index, text); }))
        deliverPending();
}

std::optional<std::string> PanelHost::parameter(const std::optional<std::string>& message) {
    if (!isOpen())
        return std::nullopt;
    std::string step = "parameter " + (message ? quote(*message) : std::string("(null)"));
    note("host> " + step);
    ScriptRoute* route = route_;
    std::optional<ScriptReply> reply;
    if (!deliver(step, [&] { return route->parameter(message, reply); }))
        return std::nullopt;
    if (!reply) {
        deliverPending();
        return std::nullopt;
    }
    note("  reply " + quote(reply->text));
    if (!deliver("hand-back of the reply " + quote(reply->text),
                 [&] { return route->handBack(reply->at); }))
        return reply->text;
    note("host> hand back " + quote(reply->text));
    deliverPending();
    return reply->text;
}

void PanelHost::timerTick(int id) {
    if (!isOpen())
        return;
    std::string step =
        "tick " + std::to_string(id) + " at " + std::to_string(studio_.now()) + " ms";
    note("host> " + step);
    ScriptRoute* route = route_;
    if (deliver(step, [&] { return route->tick(id); }))
        deliverPending();
}

void PanelHost::notify(int type) {
    if (!isOpen())
        return;
    std::string step = "notification type " + std::to_string(type);
    note("host> " + step);
    ScriptRoute* route = route_;
    if (deliver(step, [&] { return route->notify(type); }))
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
