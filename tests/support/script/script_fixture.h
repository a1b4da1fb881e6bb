// A minimal script over the base class, for testing the base on its own: it
// records which handler each notification reached.
#ifndef SCRIPT_FIXTURE_H
#define SCRIPT_FIXTURE_H

#include "vesk_script_helper.h"

#include <string>
#include <vector>

class ProbeScript : public vesk_script_helper {
  public:
    ProbeScript(vesk_client_callback* host, const char* path) : vesk_script_helper(host, path) {}
    void controlCallback(controlEventView& event) override {
        calls.push_back("control " + std::string(event.controlId()) + " " +
                        std::string(event.messageName()) + "=" + std::string(event.value()));
    }
    int revertiveCallback(revertiveView& revertive) override {
        calls.push_back("revertive " + std::to_string(revertive.device()) + " " +
                        std::to_string(revertive.index()) + " " + std::string(revertive.text()));
        return 99;
    }
    vesk_string parameterCallback(messageView& message) override {
        calls.push_back("parameter " + std::string(message.name()) + "=" +
                        std::string(message.value()));
        return vesk_string(reply.c_str());
    }
    void timerCallback(int timerId) override {
        calls.push_back("timer " + std::to_string(timerId));
    }
    void notify6Callback(notificationView& n) override {
        calls.push_back(n.data() == nullptr ? "notify6 null" : "notify6");
    }
    void notify7Callback(notificationView& n) override {
        calls.push_back(n.data() == nullptr ? "notify7 null" : "notify7");
    }

    void switchAlarmHandling(bool on) { alarmHandling = on; }
    const vesk_string& path() const { return scriptPath; }

    std::vector<std::string> calls;
    std::string reply;
};

#endif
