// The simulated studio around a panel: controls, instruments, the packager's
// crosspoints, the audio router with its registrations, and virtual timers.
// It executes host commands and keeps the notifications they cause (router
// revertives) until the host can deliver them.
#ifndef STUDIO_H
#define STUDIO_H

#include "host_command.h"
#include "panel_layout.h"

#include <deque>
#include <map>
#include <optional>
#include <string>
#include <vector>

struct ControlState {
    std::string kind = "button";
    bool enabled = true;
    std::map<std::string, std::string> properties; // in name order
    // The value an operator picked, until the script puts the control's index itself.
    std::string operatorPick;
};

struct PendingRevertive {
    int device;
    int index;
    std::string text;
};

struct CommandOutcome {
    std::optional<std::string> reply;   // the host's reply text; none for a null reply
    bool replyReturned = true;          // false for "PS": tested for null only, never handed back
    std::vector<std::string> notes;     // what the studio did, for the transcript
    std::optional<std::string> failure; // what the host could not do and the run fails on
};

class Studio {
  public:
    Studio(); // the embedded default studio

    // Reads a studio file over the defaults (docs/studio-format.md).
    bool loadStudioFile(const std::string& path, std::string& error);
    // Errors read "FILE:N: why", or "line N: why" without a file name.
    bool parseStudio(const std::string& text, std::string& error, const std::string& file = "");

    CommandOutcome execute(const HostCommand& command);

    // Audio router: set a destination's source (by number); revertive when registered.
    bool routeAudio(int destination, int source, std::string& note);
    int sourceByName(const std::string& name) const; // 0 when unknown
    std::string audioSourceName(int source) const;
    int audioSourceOf(int destination) const;

    // Virtual time: the next tick at or before `until`, advancing the clock to it.
    std::optional<int> nextTick(long long until);
    long long now() const { return now_; }
    void advanceTo(long long time) { now_ = time > now_ ? time : now_; }
    bool timerRunning(int id) const { return timers_.count(id) != 0; }

    std::deque<PendingRevertive>& pendingRevertives() { return pending_; }
    const std::map<std::string, ControlState>& controls() const { return controls_; }
    ControlState& control(const std::string& id);
    const PanelLayout& layout() const { return layout_; }
    const std::map<int, int>& crosspoints() const { return crosspoints_; }
    const std::map<int, std::string>& audioSources() const { return sourceNames_; }
    int audioRouterDevice() const { return audioRouterDevice_; }
    int packagerDevice() const { return packagerDevice_; }
    const std::vector<std::pair<int, int>>& registrations() const { return registered_; }

    // Start-up variations a strict host may give: every "SD" answered with
    // this text (nothing: null), and "PS" answered with null.
    void answerEverySd(const std::optional<std::string>& reply) { sdReply_ = reply; }
    void answerPsWithNull() { psReplyNull_ = true; }
    // Where the host keeps panel layouts: a layout that "PS" names by a path
    // that does not exist is looked up there by its file name.
    void setPanelFolder(const std::string& folder) { panelFolder_ = folder; }

    // Applies a panel layout as if "PS" had named it.
    void applyLayout(const PanelLayout& layout);
    // The layout file the last "PS" was shown from; empty when none was.
    const std::string& shownLayoutFile() const { return shownLayoutFile_; }

  private:
    // One content line of a studio file; false with why it is refused.
    bool parseStudioLine(const std::string& line, std::string& why);
    struct Timer {
        int period;
        long long due;
    };
    CommandOutcome showPanel(const HostCommand& c);
    CommandOutcome putText(const HostCommand& c);
    CommandOutcome getText(const HostCommand& c);
    CommandOutcome listIds(const HostCommand& c);
    CommandOutcome crosspoint(const HostCommand& c);
    CommandOutcome registerRange(const HostCommand& c);
    CommandOutcome pollRange(const HostCommand& c);
    CommandOutcome timer(const HostCommand& c);
    bool registeredDestination(int destination) const;

    std::map<std::string, int> instruments_;
    int packagerDevice_ = 5;
    int audioRouterDevice_ = 7;
    std::map<int, std::string> sourceNames_; // audio router sources
    std::map<int, int> audioRoutes_;         // destination -> source
    std::vector<std::pair<int, int>> registered_;
    std::map<int, int> crosspoints_; // packager destination -> source
    PanelLayout layout_;
    std::vector<std::string> controlOrder_;
    std::map<std::string, ControlState> controls_;
    std::map<int, Timer> timers_;
    long long now_ = 0;
    std::deque<PendingRevertive> pending_;
    std::optional<std::optional<std::string>> sdReply_;
    bool psReplyNull_ = false;
    std::string panelFolder_;
    std::string shownLayoutFile_;
};

#endif
