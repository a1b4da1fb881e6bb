#include "recording_host.h"

#include <cstdlib>
#include <cstring>

RecordingHost::~RecordingHost() {
    for (void* reply : liveReplies_)
        std::free(reply);
}

void* RecordingHost::callback(void* data, int type) {
    if (closed_)
        ++callsAfterClose_;
    if (type == vesk_hand_back) {
        if (liveReplies_.erase(data) == 0) {
            breaches_.push_back("hand-back of a buffer not given out or already returned");
            return nullptr;
        }
        std::free(data);
        return nullptr;
    }
    if (type != vesk_command) {
        breaches_.push_back("script sent type " + std::to_string(type));
        return nullptr;
    }
    std::string command(static_cast<const char*>(data));
    commands_.push_back(command);
    if (command == "AS")
        closed_ = true;
    auto reply = replies_.find(command);
    if (reply == replies_.end())
        return nullptr;
    // A "PS" reply is only tested for null: it stays the host's and is not handed back.
    if (command.rfind("PS ", 0) == 0)
        return const_cast<char*>(reply->second.c_str());
    char* buffer = static_cast<char*>(std::malloc(reply->second.size() + 1));
    std::memcpy(buffer, reply->second.c_str(), reply->second.size() + 1);
    liveReplies_.insert(buffer);
    ++repliesGiven_;
    return buffer;
}

void RecordingHost::replyTo(const std::string& command, const std::string& reply) {
    replies_[command] = reply;
}

void RecordingHost::replyWithStudioDevices() {
    replyTo("SD 'DUD VESK Packager'", "5");
    replyTo("SD 'DUD Audio Router'", "7");
}

std::string RecordingHost::sendParameter(vesk_client_callback& script, const char* text) {
    void* result = script.callback(const_cast<char*>(text), vesk_parameter);
    if (result == nullptr)
        return "<null>";
    std::string reply(static_cast<const char*>(result));
    script.callback(result, vesk_hand_back);
    return reply;
}

std::vector<std::string> RecordingHost::takeCommands() {
    std::vector<std::string> taken;
    taken.swap(commands_);
    return taken;
}
