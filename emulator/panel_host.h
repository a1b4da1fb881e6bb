// The emulated panel host: loads a script through its export, executes its
// commands against the studio, delivers notifications one call at a time, and
// checks the script's conduct as a strict host would.
#ifndef PANEL_HOST_H
#define PANEL_HOST_H

#include "script_abi.h"
#include "script_library.h"
#include "studio.h"

#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

class PanelHost {
  public:
    using Sink = std::function<void(const std::string& line)>;

    PanelHost(Studio& studio, Sink transcript);
    ~PanelHost();
    PanelHost(const PanelHost&) = delete;
    PanelHost& operator=(const PanelHost&) = delete;

    // Creates the script through the library's export; false when it returns null.
    bool open(const ScriptLibrary& library);
    // Deletes the script, then checks that every reply came back.
    void close();
    bool isOpen() const { return script_ != nullptr; }

    void controlEvent(const std::string& panel, const std::string& control,
                      const std::string& message);
    // An operator's pick in a list or selector: the control keeps the value, and the
    // event carries "page=VALUE" for a selector, "index=VALUE" otherwise.
    void pick(const std::string& panel, const std::string& control, const std::string& value);
    void revertive(int device, int index, const std::string& text);
    // Sends a parameter message (none: a null text); returns the reply, if any.
    std::optional<std::string> parameter(const std::optional<std::string>& message);
    void timerTick(int id);
    // Advances virtual time; every timer that falls due ticks, in time order.
    void wait(long long milliseconds);
    void routeAudio(int destination, int source);

    // The commands the script sent since the last call, as sent.
    std::vector<std::string> takeCommands();
    const std::vector<std::string>& breaches() const { return breaches_; }
    Studio& studio() { return studio_; }
    // Writes one line to the transcript.
    void note(const std::string& line) { transcript_(line); }
    // A command text as the transcript shows it: the script folder as $SCRIPT_DIR.
    std::string shown(const std::string& text) const;

  private:
    class Endpoint : public HostCallbackBase {
      public:
        explicit Endpoint(PanelHost& host) : host_(host) {}
        void* callback(void* data, int type) override { return host_.onScriptCall(data, type); }

      private:
        PanelHost& host_;
    };

    void* onScriptCall(void* data, int type);
    void* onCommand(const char* text);
    void onHandBack(void* buffer);
    void* deliver(void* data, int type);
    void deliverPending();
    void breach(const std::string& what);

    Studio& studio_;
    Sink transcript_;
    Endpoint endpoint_;
    ScriptObject* script_ = nullptr;
    std::string folder_;
    bool saidGoodbye_ = false;
    bool delivering_ = false;
    std::map<void*, std::string> repliesOut_; // given to the script, not yet back
    std::deque<std::string> keptReplies_;     // "PS" replies: the host's, never handed back; a deque keeps them in place
    std::vector<std::string> commands_;
    std::vector<std::string> breaches_;
};

#endif
