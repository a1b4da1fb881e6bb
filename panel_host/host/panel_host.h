// The emulated panel host: loads a script through its export, executes its
// commands against the studio, delivers notifications one call at a time, and
// checks the script's conduct as a strict host would. It reaches the script
// only through a ScriptRoute, so it does not know how the script runs.
#ifndef PANEL_HOST_H
#define PANEL_HOST_H

#include "script_route.h"
#include "studio.h"

#include <cstddef>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

class PanelHost : private ScriptHostSide {
  public:
    using Sink = std::function<void(const std::string& line)>;

    PanelHost(Studio& studio, Sink transcript);
    ~PanelHost() override;
    PanelHost(const PanelHost&) = delete;
    PanelHost& operator=(const PanelHost&) = delete;

    // Creates the script through the route's export; false when it returns null
    // or faults. The route must outlive the host's use of it.
    bool open(ScriptRoute& route);
    // Deletes the script, then checks that every reply came back.
    void close();
    // Strict checks, on top of the host rules: every reply handed back within
    // the call that received it, and "AS" said once, at delete, and not before.
    void setStrict(bool strict) { strict_ = strict; }

    // False before open, after close, and after a fault in the script.
    bool isOpen() const { return route_ != nullptr; }

    void controlEvent(const std::string& panel, const std::string& control,
                      const std::string& message);
    // An operator's pick in a list or selector: the control keeps the value, and the
    // event carries "page=VALUE" for a selector, "index=VALUE" otherwise.
    void pick(const std::string& panel, const std::string& control, const std::string& value);
    void revertive(int device, int index, const std::string& text);
    // Sends a parameter message (none: a null text); returns the reply, if any.
    std::optional<std::string> parameter(const std::optional<std::string>& message);
    void timerTick(int id);
    // A notification with null data that the script must ignore or merely accept.
    void notify(int type);
    // Advances virtual time; every timer that falls due ticks, in time order.
    void wait(long long milliseconds);
    void routeAudio(int destination, int source);

    // The commands the script sent since the last call, as sent.
    std::vector<std::string> takeCommands();
    // The first breaches (up to keptBreaches); breachCount() counts them all.
    const std::vector<std::string>& breaches() const { return breaches_; }
    std::size_t breachCount() const { return breachCount_; }
    static constexpr std::size_t keptBreaches = 1000;
    Studio& studio() { return studio_; }
    // Writes one line to the transcript.
    void note(const std::string& line) { transcript_(line); }
    // A command text as the transcript shows it: the script folder as $SCRIPT_DIR.
    std::string shown(const std::string& text) const;

  private:
    std::optional<HostReply> onCommand(const std::optional<std::string>& text) override;
    void onReplyLent(ScriptAddress at, const std::string& text) override;
    bool onHandBack(ScriptAddress at) override;
    void onOtherType(int type) override;
    void onDebugOutput(const std::string& text) override;
    void onRouteBreach(const std::string& what) override;

    void checkCallAllowed(int type);
    // Runs one call into the script; a fault ends the session. False on a fault.
    template <class Call> bool deliver(const std::string& step, Call call);
    void deliverPending();
    void breach(const std::string& what);

    Studio& studio_;
    Sink transcript_;
    ScriptRoute* route_ = nullptr;
    std::string folder_;
    void checkRepliesBack();
    void checkGoodbye();
    void checkNothingHeld(const ScriptRoute& route);

    bool saidGoodbye_ = false;
    bool delivering_ = false;
    bool deleting_ = false;
    bool strict_ = false;
    int goodbyes_ = 0;
    std::map<ScriptAddress, bool> keptReported_; // lent replies already reported as kept
    std::optional<std::pair<long long, long long>> heldAtOpen_;
    std::map<ScriptAddress, std::string> repliesOut_; // given to the script, not yet back
    std::vector<std::string> commands_;
    std::vector<std::string> breaches_;
    std::size_t breachCount_ = 0;
};

#endif
