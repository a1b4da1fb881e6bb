// A host that records every command a script sends, answers from scripted
// replies, and checks the buffer rules: each reply it gives out must come back
// by type 5 exactly once, and each type-3 result it receives it hands back.
#ifndef RECORDING_HOST_H
#define RECORDING_HOST_H

#include "vesk_client_callback.h"

#include <map>
#include <set>
#include <string>
#include <vector>

class RecordingHost : public vesk_client_callback {
  public:
    ~RecordingHost() override;
    void* callback(void* data, int type) override;

    // Answers every later command equal to `command` with `reply`.
    void replyTo(const std::string& command, const std::string& reply);
    void forgetReplies() { replies_.clear(); }
    // The replies the panel's start-up looks for: packager 5, audio router 7.
    void replyWithStudioDevices();

    // Sends a parameter message to the script; returns the reply text, or
    // "<null>" for a null result. A non-null result is handed back at once.
    std::string sendParameter(vesk_client_callback& script, const char* text);

    // The commands recorded since the last call, which forgets them.
    std::vector<std::string> takeCommands();
    const std::vector<std::string>& commands() const { return commands_; }

    size_t repliesOutstanding() const { return liveReplies_.size(); }
    size_t repliesGiven() const { return repliesGiven_; }
    const std::vector<std::string>& breaches() const { return breaches_; }
    int callsAfterClose() const { return callsAfterClose_; }

  private:
    std::vector<std::string> commands_;
    std::map<std::string, std::string> replies_;
    std::set<void*> liveReplies_;
    size_t repliesGiven_ = 0;
    std::vector<std::string> breaches_;
    bool closed_ = false;
    int callsAfterClose_ = 0;
};

#endif
